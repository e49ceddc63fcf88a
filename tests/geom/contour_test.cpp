// Contour records: allocation, counting and release.
#include "geom/contour.h"

#include "sys/mem.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Contour, NewIsZeroedCountedAndHoldsFullBuffer)
{
    int count = cont_count;
    uint64_t mem = sys_memused();
    contour *c = cont_new();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(cont_count, count + 1);
    EXPECT_EQ(c->numpolys, 0u);
    EXPECT_EQ(c->numverts, 0u);
    for (int i = 0; i < cont_maxpolys; i++) {
        ASSERT_EQ(c->vertcount[i], 0u);
        ASSERT_EQ(c->link[i], 0);
        ASSERT_EQ(c->closed[i], 0u);
    }
    EXPECT_EQ(sys_memused() - mem, sizeof(contour) + (uint64_t)cont_maxverts * 12);
    // The last point of the buffer is writable (the sanitizer checks bounds).
    c->verts[3 * cont_maxverts - 1] = 1.0f;
    cont_free(c);
    EXPECT_EQ(cont_count, count);
    EXPECT_EQ(sys_memused(), mem);
}

// Each free gives back exactly one contour's record and buffer, and a free
// of null changes neither the count nor the memory total.
TEST(Contour, FreeReleasesOneContourAndIgnoresNull)
{
    const uint64_t each = sizeof(contour) + (uint64_t)cont_maxverts * 12;
    int count = cont_count;
    uint64_t mem = sys_memused();
    contour *a = cont_new(), *b = cont_new();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    cont_free(nullptr);
    EXPECT_EQ(cont_count, count + 2);
    EXPECT_EQ(sys_memused() - mem, 2 * each);
    cont_free(a);
    EXPECT_EQ(cont_count, count + 1);
    EXPECT_EQ(sys_memused() - mem, each);
    cont_free(b);
    EXPECT_EQ(cont_count, count);
    EXPECT_EQ(sys_memused(), mem);
}

// ---------------------------------------------------------------- appending, ordering, bridging

#include <memory>
#include <vector>

namespace {
struct cont_deleter {
    void operator()(contour *c) const { cont_free(c); }
};
using cont_ptr = std::unique_ptr<contour, cont_deleter>;

using pts = std::vector<float>;

// A closed axis-aligned square ring from (x, y) of side s, corners in the
// given turn (clockwise with y up when cw).
pts ct_square(float x, float y, float s, bool cw)
{
    return cw ? pts{x, y, 0, x, y + s, 0, x + s, y + s, 0, x + s, y, 0, x, y, 0}
              : pts{x, y, 0, x + s, y, 0, x + s, y + s, 0, x, y + s, 0, x, y, 0};
}

void ct_add(contour *c, const pts &p, bool closed)
{
    ASSERT_EQ(cont_addpoly(c, p.data(), (uint32_t)(p.size() / 3), closed, 0, "test"), 1);
}

pts ct_poly(const contour *c, uint32_t i)
{
    uint32_t first = 0;
    for (uint32_t k = 0; k < i; k++)
        first += c->vertcount[k];
    return pts(c->verts + 3 * first, c->verts + 3 * (first + c->vertcount[i]));
}
} // namespace

TEST(Contour, AppendRecountsSourceAndRefusesEmpty)
{
    cont_ptr src(cont_new()), dst(cont_new()), empty(cont_new());
    ct_add(src.get(), ct_square(0, 0, 1, true), true);   // 5
    ct_add(src.get(), pts{1, 1, 1, 2, 2, 2}, false);     // 2
    ct_add(src.get(), ct_square(5, 5, 1, false), true);  // 5
    src->numverts = 0;                                  // "not counted"
    ct_add(dst.get(), pts{9, 9, 9}, false);
    EXPECT_EQ(con_append(src.get(), dst.get()), 12u);
    EXPECT_EQ(src->numverts, 12u);
    EXPECT_EQ(dst->numpolys, 4u);
    EXPECT_EQ(dst->numverts, 13u);
    EXPECT_EQ(ct_poly(dst.get(), 2), (pts{1, 1, 1, 2, 2, 2}));
    EXPECT_EQ(dst->closed[3], 1u);
    EXPECT_EQ(con_append(empty.get(), dst.get()), 0u);
    empty->numpolys = 1; // a polyline of no points
    EXPECT_EQ(con_append(empty.get(), dst.get()), 0u);
    EXPECT_EQ(dst->numpolys, 4u);
}

// Both limits refuse rather than write past the fixed arrays, for the
// single append and for whole contours; the destination is left as it was.
TEST(Contour, LimitsRefuseAppends)
{
    cont_ptr c(cont_new()), one(cont_new());
    const pts p = {1, 2, 3};
    ct_add(one.get(), p, false);
    c->numpolys = cont_maxpolys - 1;
    c->numverts = 10;
    EXPECT_EQ(cont_addpoly(c.get(), p.data(), 1, 0, -1, "test"), 1);
    EXPECT_EQ(cont_addpoly(c.get(), p.data(), 1, 0, -1, "test"), 0);
    EXPECT_EQ(con_append(one.get(), c.get()), 0u);
    EXPECT_EQ(c->numpolys, (uint32_t)cont_maxpolys);
    c->numpolys = 0;
    c->numverts = cont_maxverts - 1;
    EXPECT_EQ(cont_addpoly(c.get(), p.data(), 1, 0, -1, "test"), 1);
    EXPECT_EQ(cont_addpoly(c.get(), p.data(), 1, 0, -1, "test"), 0);
    EXPECT_EQ(con_append(one.get(), c.get()), 0u);
    EXPECT_EQ(c->numverts, (uint32_t)cont_maxverts);
    EXPECT_EQ(cont_addpoly(one.get(), p.data(), 0, 0, -1, "test"), 0); // no points
    EXPECT_EQ(one->numpolys, 1u);
}

TEST(Contour, OrderEmptyLeavesPoint)
{
    cont_ptr src(cont_new());
    float point[3] = {1, 2, 3};
    cont_ptr out(cont_newfrompolys(src.get(), point));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->numpolys, 0u);
    EXPECT_EQ(point[0], 1);
    EXPECT_EQ(point[1], 2);
    EXPECT_EQ(point[2], 3);
}

// The square (0,0)-(0,10)-(10,10)-(10,0): its third point (10,10) is nearest
// to (12, 11), so it comes out rotated to start and end there.
TEST(Contour, OrderRotatesClosedAndEntersOpenAtFirst)
{
    cont_ptr src(cont_new());
    ct_add(src.get(), ct_square(0, 0, 10, true), true);
    // Open, last point nearer to the square's exit, first point far away.
    ct_add(src.get(), pts{30, 30, 0, 31, 30, 0, 11, 10, 0}, false);
    ct_add(src.get(), pts{50, 50, 0}, false); // one point, taken once
    float point[3] = {12, 11, 0};
    cont_ptr out(cont_newfrompolys(src.get(), point));
    ASSERT_EQ(out->numpolys, 3u);
    EXPECT_EQ(ct_poly(out.get(), 0), (pts{10, 10, 0, 10, 0, 0, 0, 0, 0, 0, 10, 0, 10, 10, 0}));
    EXPECT_EQ(out->closed[0], 1u);
    EXPECT_EQ(out->link[0], 0);
    EXPECT_EQ(ct_poly(out.get(), 1), (pts{30, 30, 0, 31, 30, 0, 11, 10, 0}));
    EXPECT_EQ(out->closed[1], 0u);
    EXPECT_EQ(out->link[1], 1);
    EXPECT_EQ(ct_poly(out.get(), 2), (pts{50, 50, 0}));
    EXPECT_EQ(point[0], 50);
    EXPECT_EQ(point[1], 50);
    for (uint32_t i = 0; i < 3; i++)
        EXPECT_EQ(src->link[i], 1);
}

TEST(Contour, OrderTiesGoToLowerIndex)
{
    cont_ptr src(cont_new());
    ct_add(src.get(), pts{-5, 0, 0, -6, 0, 0}, false);
    ct_add(src.get(), pts{5, 0, 0, 6, 0, 0}, false);
    float point[3] = {0, 0, 0};
    cont_ptr out(cont_newfrompolys(src.get(), point));
    ASSERT_EQ(out->numpolys, 2u);
    EXPECT_EQ(out->link[0], 0);
    EXPECT_EQ(out->link[1], 1);
}

// A square outline (clockwise, positive area) with a square hole.
TEST(Contour, BridgesOneHoleToItsOutline)
{
    struct Case {
        const char *name;
        pts outer, hole;
        uint32_t bridges;
    };
    const Case cases[] = {
        {"square and hole", ct_square(0, 0, 10, true), ct_square(4, 4, 2, false), 1},
        {"four points each", pts{0, 0, 0, 0, 10, 0, 10, 10, 0, 0, 0, 0}, pts{4, 4, 0, 6, 4, 0, 6, 6, 0, 4, 4, 0}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cont_ptr src(cont_new());
        ct_add(src.get(), c.outer, true);
        ct_add(src.get(), c.hole, true);
        cont_ptr out(con_bridgepolys(src.get()));
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->numpolys, c.bridges);
        EXPECT_EQ(src->link[0], -1);
        EXPECT_EQ(src->link[1], -1);
        if (c.bridges == 1) {
            pts b = ct_poly(out.get(), 0);
            ASSERT_EQ(b.size(), 6u);
            EXPECT_EQ(out->closed[0], 0u);
            // From the middle of a side of the hole straight to the outline.
            bool fromhole = (b[0] == 5 && (b[1] == 4 || b[1] == 6)) || (b[1] == 5 && (b[0] == 4 || b[0] == 6));
            EXPECT_TRUE(fromhole) << b[0] << "," << b[1];
            bool onouter = b[3] == 0 || b[3] == 10 || b[4] == 0 || b[4] == 10;
            EXPECT_TRUE(onouter) << b[3] << "," << b[4];
            EXPECT_NEAR(std::hypot(b[3] - b[0], b[4] - b[1]), 4.0, 1e-5);
        }
    }
}

// Two holes of equal area: only the higher index takes part, so only it is
// bridged to the outline, and nothing is bridged to the other.
TEST(Contour, EqualAreasLeaveOneOut)
{
    cont_ptr src(cont_new());
    ct_add(src.get(), ct_square(0, 0, 30, true), true);
    ct_add(src.get(), ct_square(3, 3, 4, false), true);
    ct_add(src.get(), ct_square(20, 20, 4, false), true);
    cont_ptr out(con_bridgepolys(src.get()));
    ASSERT_EQ(out->numpolys, 1u);
    pts b = ct_poly(out.get(), 0);
    EXPECT_GE(b[0], 20);
    EXPECT_GE(b[1], 20);
}
