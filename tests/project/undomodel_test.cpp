// Random edits against brute-force models: the 64 layer slots as a list of
// uids, and the selection as sets of curves and knots over plain knot lists
// per curve. Every edit is recorded with its blobs the way the program
// records it, and random undo and redo walks replay them; after every step
// the slot table, the counts, the selection tables and the bit sets must
// agree with the model's state for that step.
#include "undofixture.h"

#include <algorithm>
#include <map>
#include <random>
#include <set>

namespace {

struct recorded {
    int type, aux;
    UndoProject::blob old, now;
};

// A history of edits with the model state after each, walked by undo and
// redo as the viewport walks the event ring.
template <typename State> struct history {
    std::vector<recorded> edits;
    std::vector<State> states; // states[i]: after i edits
    size_t at = 0;

    void record(recorded r, const State &s)
    {
        edits.resize(at);
        states.resize(at + 1);
        edits.push_back(std::move(r));
        states.push_back(s);
        at++;
    }
    // Undo (dir -1) or redo (+1); false when there is nothing to walk.
    bool walk(int dir)
    {
        if (dir < 0 ? at == 0 : at == edits.size())
            return false;
        const recorded &r = dir < 0 ? edits[at - 1] : edits[at];
        const UndoProject::blob &b = dir < 0 ? r.old : r.now;
        EXPECT_EQ(project_applystate(dir < 0, r.type, r.aux, b.size(), b.data()), 1);
        at += dir;
        return true;
    }
};

class UndoModel : public UndoProject {};

// ------------------------------------------------------------------ layers

void checklayers(const std::vector<uint32_t> &model, int step)
{
    int n = (int)model.size();
    ASSERT_EQ(numlayers, n) << "step " << step;
    int bytype = 0;
    for (int t = 1; t < layer_types; t++)
        bytype += numlayertypes[t];
    ASSERT_EQ(bytype, n) << "step " << step;
    for (int i = 0; i < project_maxlayers; i++) {
        if (i < n)
            ASSERT_EQ(project.layers[i].uid, model[i]) << "slot " << i << " step " << step;
        else
            ASSERT_EQ(project.layers[i].type, layer_free) << "slot " << i << " step " << step;
    }
}

TEST_F(UndoModel, LayerSlotsFollowRandomEditsUndoAndRedo)
{
    std::mt19937 rng(33);
    auto pick = [&](int n) { return (int)(rng() % (uint32_t)n); };
    std::vector<uint32_t> model;
    history<std::vector<uint32_t>> h;
    h.states.push_back(model);
    // A layer of a random type inserted at slot i (1..n; 0 when empty).
    auto insert = [&](int i) {
        project_selectedlayer = i - 1;
        int s = anylayer(1 + pick(4), 0.1f * (float)pick(10));
        project_selectedlayer = -1;
        EXPECT_EQ(s, i);
        model.insert(model.begin() + i, project.layers[s].uid);
        return s;
    };
    for (int step = 0; step < 2500; step++) {
        sys_time = sys_time.load() + 1.0; // every layer a uid of its own
        int n = (int)model.size(), what = pick(10);
        if (what < 3 && h.walk(what == 0 ? 1 : -1)) {
            model = h.states[h.at];
        } else if (what < 5 && n < 60) {
            int s = insert(n ? 1 + pick(n) : 0);
            layer_event(s);
            recorded r{5, s, {}, {}};
            r.now.bytes.assign((uint8_t *)lastevent().newdata, (uint8_t *)lastevent().newdata + lastevent().newsize);
            h.record(r, model);
        } else if (what == 5 && n > 0) {
            int s = pick(n);
            blob old = writeblob([&](msg_stream *m) { return layer_write(m, s); });
            project_layerfree(s);
            std::rotate(project.layers + s, project.layers + s + 1, project.layers + project_maxlayers);
            model.erase(model.begin() + s);
            h.record({5, s, old, {}}, model);
        } else if (what == 6 && n >= 2) {
            int s = pick(n - 1);
            project_swaplayers(s);
            std::swap(model[s], model[s + 1]);
            h.record({4, s, {}, {}}, model);
        } else if (what == 7 && n < 58) {
            // Each layer's uid is taken at its insert: the second insert may
            // move the first.
            int32_t slots[2];
            uint32_t uids[2];
            slots[0] = insert(n ? 1 + pick(n) : 0);
            uids[0] = model[slots[0]];
            sys_time = sys_time.load() + 0.5;
            slots[1] = insert(1 + pick(n + 1));
            uids[1] = model[slots[1]];
            blob old = writeblob([&](msg_stream *m) { return layer_writemulti(m, slots, 2, 0); });
            blob now = writeblob([&](msg_stream *m) {
                for (int i = 0; i < 2; i++) {
                    msg_writeint(m, slots[i]);
                    layer_write(m, project_findlayeruid(uids[i]));
                }
                return !m->failed;
            });
            h.record({6, 2, old, now}, model);
        } else if (what >= 8 && n >= 2) {
            int aux = 1 + pick(n - 1);
            blob old = writeblob([&](msg_stream *m) { return layer_writemerge(m, 0, aux); });
            project_layerfree(aux);
            project_layerfree(aux - 1);
            std::rotate(project.layers + aux, project.layers + aux + 1, project.layers + project_maxlayers);
            EXPECT_EQ(rasterlayer(0.2f), aux - 1);
            model.erase(model.begin() + aux);
            model[aux - 1] = project.layers[aux - 1].uid;
            blob now = writeblob([&](msg_stream *m) { return layer_writemerge(m, 1, aux); });
            h.record({7, aux, old, now}, model);
        }
        checklayers(model, step);
        if (HasFatalFailure())
            return;
    }
}

// --------------------------------------------------------------- selection

// Open curves only, each at least two knots long, so that every state can
// be stored and read back whole.
struct selmodel {
    std::map<int, std::vector<int>> curves;
    std::set<int> selected;
    std::vector<std::pair<int, int>> knots; // in selection order
};

selmodel readcurves(const path *p)
{
    selmodel m;
    for (int c = p->ctail, n = 0; c != -1 && n < p->csz; c = p->curves[c].next, n++) {
        std::vector<int> &ks = m.curves[c];
        for (int k = p->curves[c].tail; k != -1 && (int)ks.size() <= p->ksz; k = p->knots[k].next)
            ks.push_back(k);
    }
    return m;
}

void checkselection(const path *p, const selmodel &m, int step)
{
    selmodel actual = readcurves(p);
    ASSERT_EQ(actual.curves, m.curves) << "step " << step;
    std::set<int> table, bits;
    for (int32_t c : p_selcurves.curves)
        if (c != -1)
            table.insert(c);
    for (int c = 0; c < p->csz; c++)
        if (path_curveselected(p, c))
            bits.insert(c);
    ASSERT_EQ(table, m.selected) << "step " << step;
    ASSERT_EQ(bits, m.selected) << "step " << step;
    ASSERT_EQ(p_selcurves.count, (int)m.selected.size()) << "step " << step;
    std::set<std::pair<int, int>> ring, expect;
    for (int x = p_curveknots.last, n = 0; x != -1 && n < p_maxcurveknots; x = p_curveknots.entries[x].prev, n++)
        ring.insert({p_curveknots.entries[x].curve, p_curveknots.entries[x].knot});
    for (int c : m.selected)
        for (int k : m.curves.at(c))
            expect.insert({c, k});
    ASSERT_EQ(ring, expect) << "step " << step;
    std::vector<std::pair<int, int>> order;
    for (int x = p_selknots.last, n = 0; x != -1 && n < p_maxselknots; x = p_selknots.entries[x].prev, n++)
        order.insert(order.begin(), {p_selknots.entries[x].curve, p_selknots.entries[x].knot});
    ASSERT_EQ(order, m.knots) << "step " << step;
    ASSERT_EQ(p_selknots.count, (int)m.knots.size()) << "step " << step;
    std::set<int> kbits, kexpect;
    for (int k = 0; k < p->ksz; k++)
        if (path_knotselected(p, k))
            kbits.insert(k);
    for (auto &ck : m.knots)
        kexpect.insert(ck.second);
    ASSERT_EQ(kbits, kexpect) << "step " << step;
}

int findentry(int c, int k)
{
    for (int x = p_selknots.last, n = 0; x != -1 && n < p_maxselknots; x = p_selknots.entries[x].prev, n++)
        if (p_selknots.entries[x].curve == c && p_selknots.entries[x].knot == k)
            return x;
    return -1;
}

void deselectmodel(selmodel &m, int c)
{
    m.selected.erase(c);
    std::erase_if(m.knots, [c](const std::pair<int, int> &ck) { return ck.first == c; });
}

TEST_F(UndoModel, SelectionsFollowRandomEditsUndoAndRedo)
{
    std::mt19937 rng(34);
    auto pick = [&](int n) { return (int)(rng() % (uint32_t)n); };
    int slot = pathslayer(0, 0.0f);
    path *p0 = project.layers[slot].data.pth;
    path_removecurve(p0, p0->ctail);
    p_clearselection(p0);
    selmodel m;
    history<selmodel> h;
    h.states.push_back(m);
    auto pathnow = [&] { return project.layers[slot].data.pth; };
    for (int step = 0; step < 2500; step++) {
        path *p = pathnow();
        blob before = writeblob([&](msg_stream *s) { return layer_writepathedit(s, slot); });
        int what = pick(12);
        std::vector<int> live;
        for (auto &c : m.curves)
            live.push_back(c.first);
        bool edited = true;
        if (what < 2 && h.walk(what == 0 ? 1 : -1)) {
            m = h.states[h.at];
            edited = false;
        } else if (what == 2 && live.size() < 40) {
            int c = path_newcurve(p);
            int len = 3 + pick(4);
            for (int i = 0; i < len; i++) {
                const float pt[3] = {0.01f * (float)step, 0.1f * (float)i, 0};
                path_prependknot(p, c, pt);
            }
            m.curves[c] = readcurves(p).curves[c];
        } else if (what == 3 && !live.empty()) {
            int c = live[pick((int)live.size())];
            EXPECT_EQ(path_selectcurve(p, c), m.selected.count(c) ? 0 : 1);
            m.selected.insert(c);
        } else if (what == 4 && !m.selected.empty()) {
            int c = *std::next(m.selected.begin(), pick((int)m.selected.size()));
            EXPECT_EQ(path_deselectcurve(p, c), 1);
            deselectmodel(m, c);
        } else if (what <= 6 && !m.selected.empty()) {
            int c = *std::next(m.selected.begin(), pick((int)m.selected.size()));
            int k = m.curves[c][pick((int)m.curves[c].size())];
            if (path_knotselected(p, k))
                continue;
            EXPECT_GE(p_selectknot(p, c, k), 0);
            m.knots.push_back({c, k});
        } else if (what == 7 && !m.knots.empty()) {
            auto ck = m.knots[pick((int)m.knots.size())];
            p_deselectknot(p, findentry(ck.first, ck.second));
            m.knots.erase(std::find(m.knots.begin(), m.knots.end(), ck));
        } else if (what >= 8 && !m.knots.empty()) {
            auto ck = m.knots[pick((int)m.knots.size())];
            std::vector<int> &ks = m.curves[ck.first];
            int at = (int)(std::find(ks.begin(), ks.end(), ck.second) - ks.begin()), len = (int)ks.size();
            bool split = what >= 10 && at >= 2 && at <= len - 3;
            if (!split && len < 3)
                continue;
            std::set<int> old;
            for (auto &c : m.curves)
                old.insert(c.first);
            p_removeselectedknot(p, findentry(ck.first, ck.second), split);
            m.knots.erase(std::find(m.knots.begin(), m.knots.end(), ck));
            selmodel now = readcurves(p);
            if (split) {
                int n = -1;
                for (auto &c : now.curves)
                    if (!old.count(c.first))
                        n = c.first;
                // The far part becomes a curve of its own; both are selected
                // again from scratch.
                m.curves[n] = std::vector<int>(ks.begin() + at + 1, ks.end());
                ks.resize(at);
                deselectmodel(m, ck.first);
                m.selected.insert(ck.first);
                m.selected.insert(n);
            } else {
                ks.erase(ks.begin() + at);
            }
        } else {
            edited = false;
        }
        if (edited) {
            blob after = writeblob([&](msg_stream *s) { return layer_writepathedit(s, slot); });
            h.record({8, slot, before, after}, m);
        }
        checkselection(pathnow(), m, step);
        if (HasFatalFailure())
            return;
    }
}

} // namespace
