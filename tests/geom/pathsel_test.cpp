// Path and knot selections: the edge cases of selecting, deselecting,
// deleting and splitting, the overflow of the selected-curve table, and the
// selection lists' byte form read back in step.
#include "geom/pathsel.h"

#include "geom/path.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A curve through the given x positions (y 0); closed repeats the first.
int addcurve(path *p, std::vector<float> xs, bool closed)
{
    int c = path_newcurve(p);
    if (closed)
        xs.push_back(xs.front());
    for (float x : xs) {
        const float pt[3] = {x, 0.0f, 0.0f};
        path_prependknot(p, c, pt);
    }
    p->curves[c].closed = closed;
    return c;
}

int chainlength(const path *p, int c)
{
    int n = 0;
    for (int k = p->curves[c].tail; k != -1 && n <= p->ksz; k = p->knots[k].next)
        n++;
    return n;
}

int ringentries(int c)
{
    int n = 0;
    for (int x = p_curveknots.last; x != -1 && n <= p_maxcurveknots; x = p_curveknots.entries[x].prev)
        n += p_curveknots.entries[x].curve == c;
    return n;
}

class PathSelection : public testing::Test {
protected:
    testlog_capture log;
    path *p = nullptr;
    void SetUp() override
    {
        TearDown();
        p = path_new();
        ASSERT_TRUE(p);
        p_clearselection(p);
    }
    void TearDown() override
    {
        p_clearselection(nullptr);
        path_free(p);
        p = nullptr;
    }
};

TEST_F(PathSelection, AClosedCurvePutsAllButItsHeadInTheRing)
{
    int c = addcurve(p, {0, 1, 2, 3}, true); // five knots
    ASSERT_EQ(chainlength(p, c), 5);
    EXPECT_EQ(path_selectcurve(p, c), 1);
    EXPECT_EQ(ringentries(c), 4);
    EXPECT_EQ(p_selcurves.count, 1);
    EXPECT_TRUE(path_curveselected(p, c));
    // A second select is refused and changes nothing.
    EXPECT_EQ(path_selectcurve(p, c), 0);
    EXPECT_EQ(ringentries(c), 4);
    EXPECT_EQ(p_selcurves.count, 1);
    EXPECT_EQ(path_deselectcurve(p, c), 1);
    EXPECT_EQ(ringentries(c), 0);
    EXPECT_EQ(p_selcurves.count, 0);
    EXPECT_EQ(path_deselectcurve(p, c), 0);
}

TEST_F(PathSelection, TheTailOfAClosedCurveCarriesItsHeadsBit)
{
    int c = addcurve(p, {0, 1, 2}, true);
    const curve &s = p->curves[c];
    int e = p_selectknot(p, c, s.tail);
    ASSERT_GE(e, 0);
    EXPECT_TRUE(path_knotselected(p, s.tail));
    EXPECT_TRUE(path_knotselected(p, s.head));
    EXPECT_FALSE(path_knotselected(p, p->knots[s.tail].next));
    EXPECT_EQ(p_selknots.count, 1);
    p_deselectknot(p, e);
    EXPECT_FALSE(path_knotselected(p, s.tail));
    EXPECT_FALSE(path_knotselected(p, s.head));
    EXPECT_EQ(p_selknots.count, 0);
    EXPECT_EQ(p_selknots.last, -1);
}

// Deleting and splitting, each from a freshly selected curve.
TEST_F(PathSelection, RemovingAndSplittingKnots)
{
    struct Case {
        const char *name;
        std::vector<float> xs;
        bool closed;
        int at; // knot along the chain from the tail
        int split;
        std::vector<int> lengths; // knots of each curve left, oldest first
        int closedafter;
    };
    const Case cases[] = {
        {"closed three, delete interior", {0, 1}, true, 1, 0, {1}, 0},
        {"open five, split middle", {0, 1, 2, 3, 4}, false, 2, 1, {2, 2}, 0},
        {"open one, delete it", {5}, false, 0, 0, {}, 0},
        {"open three, delete tail", {0, 1, 2}, false, 0, 0, {2}, 0},
        {"open three, delete head", {0, 1, 2}, false, 2, 0, {2}, 0},
        {"closed five, delete tail", {0, 1, 2, 3}, true, 0, 0, {4}, 1},
        {"closed five, split interior", {0, 1, 2, 3}, true, 2, 1, {3}, 0},
        {"closed five, split at tail", {0, 1, 2, 3}, true, 0, 1, {3}, 0},
        {"open three, split at tail", {0, 1, 2}, false, 0, 1, {2}, 0},
    };
    for (const Case &t : cases) {
        SetUp();
        int c = addcurve(p, t.xs, t.closed);
        ASSERT_EQ(path_selectcurve(p, c), 1) << t.name;
        int k = p->curves[c].tail;
        for (int i = 0; i < t.at; i++)
            k = p->knots[k].next;
        int e = p_selectknot(p, c, k);
        ASSERT_GE(e, 0);
        int knots = p->knum;
        p_removeselectedknot(p, e, t.split);
        std::vector<int> lengths;
        int closedafter = 0;
        for (int d = p->ctail, n = 0; d != -1 && n < 8; d = p->curves[d].next, n++) {
            lengths.push_back(chainlength(p, d));
            closedafter |= p->curves[d].closed;
            if (!t.lengths.empty())
                EXPECT_TRUE(path_curveselected(p, d)) << t.name;
            EXPECT_EQ(ringentries(d), chainlength(p, d) - p->curves[d].closed) << t.name;
        }
        EXPECT_EQ(lengths, t.lengths) << t.name;
        EXPECT_EQ(closedafter, t.closedafter) << t.name;
        EXPECT_EQ(p->cnum, (int)t.lengths.size()) << t.name;
        int left = 0;
        for (int n : t.lengths)
            left += n;
        EXPECT_EQ(p->knum, left) << t.name;
        EXPECT_LT(p->knum, knots) << t.name;
        EXPECT_EQ(p_selcurves.count, (int)t.lengths.size()) << t.name;
        EXPECT_EQ(p_selknots.count, 0) << t.name;
        TearDown();
    }
}

TEST_F(PathSelection, AnUnselectedEntryIsNotRemoved)
{
    int c = addcurve(p, {0, 1, 2}, false);
    EXPECT_EQ(path_selectcurve(p, c), 1);
    p_removeselectedknot(p, 7, 0);
    EXPECT_TRUE(log.contains("p_removeselectedknot: node[7] is not selected!"));
    // A selected knot of a curve that is not in the ring.
    int d = addcurve(p, {4, 5}, false);
    int e = p_selectknot(p, d, p->curves[d].tail);
    p_removeselectedknot(p, e, 0);
    EXPECT_TRUE(log.contains("p_removeselectedknot: failed to find path node for selected:"));
    EXPECT_EQ(p->knum, 5);
    EXPECT_EQ(p_selknots.count, 1);
}

TEST_F(PathSelection, The8193rdCurveOverflows)
{
    for (int i = 0; i < p_maxselcurves + 1; i++)
        ASSERT_GE(addcurve(p, {0, 1}, false), 0);
    for (int i = 0; i < p_maxselcurves; i++)
        ASSERT_EQ(path_selectcurve(p, i), 1) << i;
    EXPECT_EQ(path_selectcurve(p, p_maxselcurves), 0);
    EXPECT_TRUE(log.contains("[ STATUS ] selected curves overflow!"));
    EXPECT_FALSE(path_curveselected(p, p_maxselcurves));
    EXPECT_EQ(p_selcurves.count, p_maxselcurves);
    EXPECT_EQ(p_selcurves.last, p_maxselcurves - 1);
    // Room made again is found again.
    EXPECT_EQ(path_deselectcurve(p, 17), 1);
    EXPECT_EQ(path_selectcurve(p, p_maxselcurves), 1);
    EXPECT_EQ(p_selcurves.count, p_maxselcurves);
}

// One curve longer than the ring: its selection stops where the ring is
// full and still counts; the knot table refuses its 131,073rd knot. Both
// report on the status line.
TEST_F(PathSelection, TheRingAndTheKnotTableReportTheirOverflow)
{
    int c = path_newcurve(p);
    for (int i = 0; i < p_maxcurveknots + 1; i++) {
        const float pt[3] = {(float)i, 0, 0};
        ASSERT_GE(path_prependknot(p, c, pt), 0);
    }
    EXPECT_EQ(path_selectcurve(p, c), 1);
    EXPECT_TRUE(log.contains("[ STATUS ] curve knots overflow!"));
    EXPECT_EQ(ringentries(c), p_maxcurveknots);
    EXPECT_EQ(p_selectcurveknots(p, c), p_maxcurveknots + 1);
    EXPECT_TRUE(log.contains("[ STATUS ] selected knots overflow!"));
    EXPECT_EQ(p_selknots.count, p_maxselknots);
    int k = p->curves[c].head;
    EXPECT_EQ(p_selectknot(p, c, k), -1);
    EXPECT_EQ(p_selknots.count, p_maxselknots);
    p_clearselection(p);
    EXPECT_EQ(ringentries(c), 0);
    EXPECT_EQ(p_selknots.last, -1);
    EXPECT_FALSE(path_knotselected(p, k));
}

// The lists read back in step with what was written: the counts are the
// counts of the entries that follow, and the knot count follows a curve
// count of 0.
TEST_F(PathSelection, SelectionListsReadBackInStep)
{
    int a = addcurve(p, {0, 1, 2}, false);
    int b = addcurve(p, {3, 4, 5}, true);
    struct Case {
        std::vector<int> curves;
        std::vector<int> knotcurves; // one knot, the tail's next, of each
        bool off;
    };
    const Case cases[] = {
        {{}, {}, true}, {{}, {}, false}, {{}, {a}, false}, {{b}, {b}, false}, {{a, b}, {a, b}, false}};
    for (const Case &t : cases) {
        p_clearselection(p);
        for (int c : t.curves)
            path_selectcurve(p, c);
        for (int c : t.knotcurves)
            p_selectknot(p, c, p->knots[p->curves[c].tail].next);
        if (t.off)
            p_selcurves.count = p_selknots.count = -1;
        msg_stream m;
        ASSERT_TRUE(msg_alloc(&m, 64));
        writepathselections(&m);
        msg_writeint(&m, 0x5EA1ED); // what the blob carries after the lists
        int32_t size = m.position;
        EXPECT_EQ(size, t.off ? 8 : 4 * (3 + (int)t.curves.size() + 2 * (int)t.knotcurves.size()));
        msg_stream r;
        msg_readfrom(&r, m.buffer, size);
        p_selectionlists s;
        ASSERT_EQ(p_readselections(&r, p, &s), 1);
        EXPECT_EQ(msg_readint(&r), 0x5EA1ED);
        p_applyselections(p, &s);
        p_freeselections(&s);
        EXPECT_EQ(p_selcurves.count, t.off ? -1 : (int)t.curves.size());
        EXPECT_EQ(p_selknots.count, t.off ? -1 : (int)t.knotcurves.size());
        for (int c : t.curves)
            EXPECT_TRUE(path_curveselected(p, c));
        for (int c : t.knotcurves)
            EXPECT_TRUE(path_knotselected(p, p->knots[p->curves[c].tail].next));
        // Cut short anywhere, the lists are refused.
        for (int32_t cut = 0; cut < size - 4; cut++) {
            msg_readfrom(&r, m.buffer, cut);
            EXPECT_EQ(p_readselections(&r, p, &s), 0) << cut;
        }
        sys_free(m.buffer);
    }
}

// The path reader drops curves of one knot, so a selection written with
// one names a curve that is gone when read back: the entry is dropped, the
// rest of the lists kept.
TEST_F(PathSelection, EntriesOfCurvesNoLongerInThePathAreDropped)
{
    int a = addcurve(p, {0, 1, 2}, false);
    int b = addcurve(p, {0, 1}, true); // a closed three-knot curve
    path_selectcurve(p, a);
    path_selectcurve(p, b);
    p_selectknot(p, a, p->curves[a].tail);
    int e = p_selectknot(p, b, p->knots[p->curves[b].tail].next);
    p_removeselectedknot(p, e, 0); // leaves b an open one-knot curve
    p_selectknot(p, b, p->curves[b].tail);
    msg_stream m;
    ASSERT_TRUE(msg_alloc(&m, 64));
    writepathselections(&m);
    path_removecurve(p, b);
    msg_stream r;
    msg_readfrom(&r, m.buffer, m.position);
    p_selectionlists s;
    ASSERT_EQ(p_readselections(&r, p, &s), 1);
    EXPECT_EQ(s.count, 2);
    ASSERT_EQ(s.ncurves, 1);
    EXPECT_EQ(s.curves[0], a);
    ASSERT_EQ(s.nknots, 1);
    EXPECT_EQ(s.knots[0], a);
    EXPECT_TRUE(log.contains("p_readselections: selected curve " + std::to_string(b) + " is not in the path"));
    p_applyselections(p, &s);
    EXPECT_EQ(p_selcurves.count, 1);
    EXPECT_EQ(p_selknots.count, 1);
    p_freeselections(&s);
    sys_free(m.buffer);
}

} // namespace
