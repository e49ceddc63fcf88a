// The error heap against std::priority_queue and its own sift rules, and the
// heightmap triangulator judged by a rasteriser written here (plane through
// each triangle's corners, barycentric coverage in doubles) that shares no
// code with the triangulator's scan; plus the first insertions of small
// fixtures, the heap slots kept by the callback, and clean stops.
#include "geom/heap.h"
#include "geom/trimesh.h"

#include "img/image.h"
#include "testlog.h"
#include "trimeshfields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace {

struct heap_guard {
    heap h{};
    ~heap_guard() { heap_free(&h); }
};

// Where the callback last placed each payload.
struct slot_record {
    std::vector<int64_t> at;
    static void note(void *user, uint64_t payload, int64_t index)
    {
        slot_record *r = (slot_record *)user;
        if (payload >= r->at.size())
            r->at.resize(payload + 1, -1);
        r->at[payload] = index;
    }
};

TEST(Heap, PopsLikeStdPriorityQueueAndKeepsEverySlot)
{
    heap_guard g;
    slot_record slots;
    ASSERT_TRUE(heap_reset(&g.h, 1, slot_record::note, &slots)); // grows from one entry
    std::priority_queue<float> ref;
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> coin(0, 2), key(0, 40); // few keys: many ties
    uint64_t payload = 1;
    for (int step = 0; step < 3000; step++) {
        if (coin(gen) || ref.empty()) {
            const float k = (float)key(gen);
            ASSERT_TRUE(heap_push(&g.h, k, payload));
            slots.at.resize(payload + 1, -1);
            ref.push(k);
            payload++;
        } else {
            heap_entry e;
            ASSERT_TRUE(heap_take(&g.h, &e));
            ASSERT_EQ(e.key, ref.top()) << "step " << step;
            ref.pop();
            slots.at[e.payload] = -1;
        }
        ASSERT_EQ(g.h.count, (int64_t)ref.size());
        for (int64_t i = 0; i < g.h.count; i++)
            ASSERT_EQ(slots.at[g.h.entries[i].payload], i) << "step " << step;
    }
    heap_entry e;
    while (!ref.empty()) {
        ASSERT_TRUE(heap_take(&g.h, &e));
        EXPECT_EQ(e.key, ref.top());
        ref.pop();
    }
    EXPECT_FALSE(heap_take(&g.h, &e));
}

TEST(Heap, EqualKeysFollowTheSiftRules)
{
    struct Case {
        const char *name;
        std::vector<float> keys; // pushed with payloads 1, 2, ...
        std::vector<uint64_t> order;
    };
    const Case cases[] = {
        // An equal key never rises past its parent; the last entry moved to
        // the root stays there against an equal child.
        {"three equal", {5, 5, 5}, {1, 3, 2}},
        // Equal children: the left one rises.
        {"equal children", {9, 5, 5, 1}, {1, 2, 3, 4}},
        {"strictly greater right child", {9, 5, 6, 1}, {1, 3, 2, 4}},
        {"equal to a risen parent", {1, 3, 3}, {2, 3, 1}},
    };
    for (const Case &c : cases) {
        heap_guard g;
        ASSERT_TRUE(heap_reset(&g.h, 2, nullptr, nullptr));
        for (size_t i = 0; i < c.keys.size(); i++)
            ASSERT_TRUE(heap_push(&g.h, c.keys[i], i + 1));
        std::vector<uint64_t> got;
        heap_entry e;
        while (heap_take(&g.h, &e))
            got.push_back(e.payload);
        EXPECT_EQ(got, c.order) << c.name;
    }
}

TEST(Heap, RemoveTakesTheEntryAtItsSlot)
{
    struct Case {
        const char *name;
        std::vector<float> keys; // pushed with payloads 1, 2, ...
        int64_t index;           // removed
        std::vector<uint64_t> order;
    };
    const Case cases[] = {
        // Its path moves down one place and the last entry sifts from the
        // root: not the same as dropping the last entry into the gap, which
        // would pop 1, 3, 2.
        {"equal keys, the last removed", {5, 5, 5, 5}, 3, {2, 3, 1}},
        {"the root", {9, 5, 6, 1}, 0, {3, 2, 4}},
        {"a leaf under the root", {9, 5, 6, 1}, 2, {1, 2, 4}},
        // Keys above any bound a raise might use: the entry asked for leaves.
        {"keys beyond ten million", {2e7f, 3e7f, 1}, 1, {2, 3}},
    };
    for (const Case &c : cases) {
        heap_guard g;
        slot_record slots;
        ASSERT_TRUE(heap_reset(&g.h, 2, slot_record::note, &slots));
        for (size_t i = 0; i < c.keys.size(); i++)
            ASSERT_TRUE(heap_push(&g.h, c.keys[i], i + 1));
        heap_remove(&g.h, c.index);
        for (int64_t i = 0; i < g.h.count; i++)
            EXPECT_EQ(slots.at[g.h.entries[i].payload], i) << c.name;
        std::vector<uint64_t> got;
        heap_entry e;
        while (heap_take(&g.h, &e))
            got.push_back(e.payload);
        EXPECT_EQ(got, c.order) << c.name;
    }
}

// Removal from the middle, written the plain way with swaps: the entry's key
// raised above every other rises to the root, which is then taken.
void reference_remove(std::vector<heap_entry> *v, size_t index)
{
    std::vector<heap_entry> &a = *v;
    a[index].key = INFINITY;
    for (size_t i = index; i > 0 && a[i].key > a[(i - 1) / 2].key; i = (i - 1) / 2)
        std::swap(a[i], a[(i - 1) / 2]);
    a[0] = a.back();
    a.pop_back();
    for (size_t i = 0;;) {
        const size_t l = 2 * i + 1, r = l + 1;
        if (l >= a.size())
            break;
        const size_t big = r < a.size() && a[r].key > a[l].key ? r : l;
        if (!(a[big].key > a[i].key))
            break;
        std::swap(a[i], a[big]);
        i = big;
    }
}

TEST(Heap, RemoveLeavesEveryEntryWhereRaisingToTheRootWould)
{
    std::mt19937 gen(11);
    for (int trial = 0; trial < 200; trial++) {
        heap_guard g;
        slot_record slots;
        ASSERT_TRUE(heap_reset(&g.h, 1, slot_record::note, &slots));
        // Few distinct keys, so that ties decide many of the sift's turns.
        std::uniform_int_distribution<int> key(0, trial % 2 ? 3 : 60), size(1, 300);
        const int n = size(gen);
        for (int i = 0; i < n; i++)
            ASSERT_TRUE(heap_push(&g.h, (float)key(gen), (uint64_t)i + 1));
        std::vector<heap_entry> ref(g.h.entries, g.h.entries + g.h.count);
        while (g.h.count > 0) {
            const int64_t index = std::uniform_int_distribution<int64_t>(0, g.h.count - 1)(gen);
            heap_remove(&g.h, index);
            reference_remove(&ref, (size_t)index);
            ASSERT_EQ(g.h.count, (int64_t)ref.size());
            for (int64_t i = 0; i < g.h.count; i++) {
                ASSERT_EQ(g.h.entries[i].payload, ref[i].payload) << "trial " << trial << " at " << i;
                ASSERT_EQ(slots.at[g.h.entries[i].payload], i) << "trial " << trial;
            }
        }
    }
}

int refuse_after = 0;
void *refusing_realloc(void *p, size_t n)
{
    return refuse_after-- > 0 ? realloc(p, n) : nullptr;
}
struct refusal {
    explicit refusal(int allowed)
    {
        refuse_after = allowed;
        heap_realloc = refusing_realloc;
    }
    ~refusal() { heap_realloc = realloc; }
};

TEST(Heap, RefusedGrowthLeavesTheHeapAsItWas)
{
    testlog_capture log;
    heap_guard g;
    ASSERT_TRUE(heap_reset(&g.h, 2, nullptr, nullptr));
    ASSERT_TRUE(heap_push(&g.h, 1, 1));
    ASSERT_TRUE(heap_push(&g.h, 2, 2));
    {
        refusal r(0);
        EXPECT_FALSE(heap_push(&g.h, 3, 3));
    }
    EXPECT_EQ(g.h.count, 2);
    EXPECT_TRUE(log.contains("heap_push: growth to 4 entries"));
    heap_entry e;
    ASSERT_TRUE(heap_take(&g.h, &e));
    EXPECT_EQ(e.payload, 2u);
}

// ---------------------------------------------------------------- triangulator

struct mesh_guard {
    std::unique_ptr<trimesh> m{new trimesh{}};
    ~mesh_guard() { trimesh_free(m.get()); }
};

// The test's own rasteriser: every grid point must lie under at least one
// triangle; the worst |mesh - grid| over all points.
double raster_worst(const trimesh &m, const std::vector<float> &z)
{
    std::vector<double> err((size_t)m.w * m.h, -1.0);
    for (int64_t t = 0; t < m.numtris; t++) {
        const trimesh_vert *p[3] = {&m.verts[m.tris[t].v[0]], &m.verts[m.tris[t].v[1]], &m.verts[m.tris[t].v[2]]};
        // Plane z = ax + by + c from the normal of two edge vectors.
        const double ux = p[1]->x - p[0]->x, uy = p[1]->y - p[0]->y, uz = p[1]->z - p[0]->z;
        const double vx = p[2]->x - p[0]->x, vy = p[2]->y - p[0]->y, vz = p[2]->z - p[0]->z;
        const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const double det = nz;
        int x0 = m.w, x1 = 0, y0 = m.h, y1 = 0;
        for (auto *q : p) {
            x0 = std::min(x0, (int)std::floor(q->x)), x1 = std::max(x1, (int)std::ceil(q->x));
            y0 = std::min(y0, (int)std::floor(q->y)), y1 = std::max(y1, (int)std::ceil(q->y));
        }
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) {
                const double px = x - p[0]->x, py = y - p[0]->y;
                const double s = (px * vy - py * vx) / det, r = (ux * py - uy * px) / det;
                if (s < -1e-9 || r < -1e-9 || s + r > 1 + 1e-9)
                    continue;
                const double h = p[0]->z - (nx * px + ny * py) / nz;
                double &e = err[(size_t)y * m.w + x];
                e = std::max(e, std::fabs(h - z[(size_t)y * m.w + x]));
            }
    }
    double worst = 0;
    for (size_t i = 0; i < err.size(); i++) {
        EXPECT_GE(err[i], 0.0) << "grid point " << i % m.w << "," << i / m.w << " under no triangle";
        worst = std::max(worst, err[i]);
    }
    return worst;
}

// After every heap step the triangles' slots and the heap's entries agree.
void expect_slotsagree(const trimesh &m, int step)
{
    for (int64_t i = 0; i < m.errors.count; i++)
        ASSERT_EQ(m.tris[m.errors.entries[i].payload - 1].slot, i) << "step " << step;
    for (int64_t t = 0; t < m.numtris; t++)
        if (m.tris[t].slot >= 0)
            ASSERT_EQ(m.errors.entries[m.tris[t].slot].payload, (uint64_t)t + 1) << "step " << step;
}

TEST(Trimesh, StaysWithinTauEverywhereBordersIncluded)
{
    testlog_capture log;
    for (const trimesh_field &f : trimesh_fields()) {
        mesh_guard g;
        trimesh &m = *g.m;
        ASSERT_TRUE(trimesh_start(&m, f.z.data(), f.w, f.h)) << f.name;
        int step = 0;
        while (m.next >= 0 && m.maxerror > f.tau) {
            ASSERT_TRUE(trimesh_insertnext(&m) || m.next < 0) << f.name;
            expect_slotsagree(m, step++);
        }
        EXPECT_FALSE(m.failed) << f.name;
        EXPECT_LE(raster_worst(m, f.z), f.tau + 1e-6) << f.name;
        EXPECT_LT(m.numverts, (int64_t)f.w * f.h) << f.name << ": the mesh should be smaller than the grid";
        trimesh_expectsound(m, f.name);
    }
}

TEST(Trimesh, FirstInsertions)
{
    testlog_capture log;
    struct Case {
        const char *name;
        int bx, by;   // the one raised grid point of a 5 x 5 flat field (-1: none)
        int64_t tris; // after the first insertion
        int around;   // triangles meeting at the inserted vertex, after the flips
    };
    // Inside: the circle through (0,0), (4,4) and (1,3) (centre (3.5, 0.5))
    // holds the corner (4,0), so the diagonal flips to the new vertex. On the
    // border: the circle through (0,0), (2,0), (4,4) (centre (1, 3)) holds
    // (0,4): one flip. On the diagonal the four corners are cocircular: none.
    const Case cases[] = {
        {"flat", -1, -1, 2, 0},
        {"inside a triangle", 1, 3, 4, 4},
        {"on the diagonal", 2, 2, 4, 4},
        {"on the border", 2, 0, 3, 3},
    };
    for (const Case &c : cases) {
        std::vector<float> z(25, 0.25f);
        if (c.bx >= 0)
            z[(size_t)c.by * 5 + c.bx] = 1.0f;
        mesh_guard g;
        trimesh &m = *g.m;
        ASSERT_TRUE(trimesh_start(&m, z.data(), 5, 5)) << c.name;
        if (c.bx < 0) {
            EXPECT_EQ(m.next, -1);
            EXPECT_EQ(m.maxerror, 0.0f);
        } else {
            EXPECT_EQ(m.maxerror, 0.75f) << c.name;
            trimesh_insertnext(&m);
        }
        EXPECT_EQ(m.numtris, c.tris) << c.name;
        if (c.bx >= 0) {
            ASSERT_EQ(m.numverts, 5) << c.name;
            EXPECT_EQ(m.verts[4].x, (float)c.bx) << c.name;
            EXPECT_EQ(m.verts[4].y, (float)c.by) << c.name;
            int around = 0;
            for (int64_t t = 0; t < m.numtris; t++)
                for (uint32_t v : m.tris[t].v)
                    around += v == 4;
            EXPECT_EQ(around, c.around) << c.name;
        }
        trimesh_expectsound(m, c.name);
    }
}

TEST(Trimesh, SpikeGoesInFirst)
{
    testlog_capture log;
    std::vector<float> z(33 * 33);
    for (int y = 0; y < 33; y++)
        for (int x = 0; x < 33; x++)
            z[(size_t)y * 33 + x] = 0.02f * std::sin(x * 0.4f) * std::cos(y * 0.3f) + 0.5f;
    z[(size_t)14 * 33 + 19] = 1.0f;
    mesh_guard g;
    ASSERT_TRUE(trimesh_mesh(g.m.get(), z.data(), 33, 33, 0.005f));
    ASSERT_GT(g.m->numverts, 4);
    EXPECT_EQ(g.m->verts[4].x, 19.0f);
    EXPECT_EQ(g.m->verts[4].y, 14.0f);
    EXPECT_LE(raster_worst(*g.m, z), 0.005 + 1e-6);
}

TEST(Trimesh, DegenerateTriangleEndsTheScan)
{
    testlog_capture log;
    const std::vector<float> z(16, 0.0f);
    mesh_guard g;
    trimesh &m = *g.m;
    ASSERT_TRUE(trimesh_start(&m, z.data(), 4, 4));
    const int a = trimesh_addvert(&m, 1, 1, 0), b = trimesh_addvert(&m, 2, 2, 0);
    ASSERT_GE(trimesh_addtri(&m, 0, (uint32_t)a, (uint32_t)b, -1, -1, -1, -1), 0);
    EXPECT_EQ(trimesh_scantri(&m), -1);
    EXPECT_TRUE(log.contains("!!! tri[2]: v[0]=X:0,Y:0 v[4]=X:1,Y:1 v[5]=X:2,Y:2"));
    EXPECT_TRUE(log.contains("delta00:8.000000 delta01:4.000000 delta11:2.000000"));
    EXPECT_EQ(m.numpending, 0);
}

TEST(Trimesh, RefusedGrowthStopsRefiningWithASoundMesh)
{
    testlog_capture log;
    std::vector<float> z(100 * 100);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (float &v : z)
        v = unit(gen);
    mesh_guard g;
    trimesh &m = *g.m;
    {
        refusal r(3); // the start's three arrays, then nothing more
        ASSERT_TRUE(trimesh_mesh(&m, z.data(), 100, 100, 0.0f));
    }
    EXPECT_TRUE(m.failed);
    EXPECT_TRUE(log.contains("growth to"));
    EXPECT_GT(m.numtris, 1000);
    EXPECT_LE(m.numtris, 4096);
    trimesh_expectsound(m, "refused");
}

TEST(Trimesh, RefusesAGridWithoutAreaOrAnImageNotScalar)
{
    testlog_capture log;
    const float z[3] = {0, 0, 0};
    mesh_guard g;
    EXPECT_FALSE(trimesh_mesh(g.m.get(), z, 3, 1, 0.1f));
    EXPECT_FALSE(trimesh_mesh(g.m.get(), nullptr, 3, 3, 0.1f));
    EXPECT_TRUE(log.contains("trimesh_start: no grid to mesh (3 x 1)"));
    image *rgba = img_alloc("colour", 4, 4, 3);
    ASSERT_NE(rgba, nullptr);
    EXPECT_FALSE(trimesh_meshimage(g.m.get(), rgba, 0.1f));
    EXPECT_TRUE(log.contains("trimesh_meshimage: colour is not a scalar field"));
    img_free(rgba);
    image *flat = img_allocfloat("flat", 6, 5);
    ASSERT_NE(flat, nullptr);
    EXPECT_TRUE(trimesh_meshimage(g.m.get(), flat, 0.1f));
    EXPECT_EQ(g.m->numtris, 2);
    img_free(flat);
}

} // namespace
