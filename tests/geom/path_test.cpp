// Paths: slot searches and growth, the quantisers' exact bytes, stored
// blobs built byte by byte in the test (not by our writer), round trips,
// bounds and sampling, and damaged blobs refused without leaks.
#include "geom/path.h"

#include "sys/mem.h"
#include "sys/msg.h"

#include "testlog.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Little-endian blob builder, independent of the message-buffer writers.
struct blob {
    std::vector<uint8_t> b;
    void i32(int32_t v)
    {
        for (int i = 0; i < 4; i++)
            b.push_back((uint8_t)((uint32_t)v >> (8 * i)));
    }
    void f32(float v) { i32(std::bit_cast<int32_t>(v)); }
    void u16(uint16_t v)
    {
        b.push_back((uint8_t)v);
        b.push_back((uint8_t)(v >> 8));
    }
    void header(int32_t chead, int32_t ctail, int32_t csz, int32_t cnum, int32_t ksz, int32_t knum)
    {
        for (int32_t w : {chead, ctail, 0, csz, cnum, 0, ksz, knum})
            i32(w);
    }
    void curve(int32_t head, int32_t tail, int32_t prev, int32_t next, int32_t closed)
    {
        for (int32_t w : {head, tail, prev, next, 0, closed})
            i32(w);
    }
    void rawknot(float x, float y, float z, int32_t prev, int32_t next)
    {
        for (int i = 0; i < 3; i++) {
            f32(x);
            f32(y);
            f32(z);
        }
        i32(prev);
        i32(next);
    }
};

path *readblob(const std::vector<uint8_t> &b, int skip, int form)
{
    msg_stream m;
    msg_readfrom(&m, b.data(), (int32_t)b.size());
    return path_read(&m, skip, form);
}

// One open curve through the given points, straight segments.
path *makepolyline(const std::vector<std::array<float, 3>> &pts)
{
    path *p = path_new();
    int c = path_newcurve(p);
    for (auto &q : pts)
        path_prependknot(p, c, q.data());
    return p;
}

float fromBits(uint32_t bits)
{
    return std::bit_cast<float>(bits);
}

} // namespace

TEST(Path, QuantisersGiveTheStoredBytes)
{
    struct Case {
        const char *what;
        uint16_t got, want;
    };
    const Case cases[] = {
        {"point 0", path_quantpoint(0.0f), 32768},
        {"point -1", path_quantpoint(-1.0f), 0},
        {"point 1", path_quantpoint(1.0f), 65535},
        {"handle 0", path_quanthandle(0.0f), 32768},
        {"handle 2", path_quanthandle(2.0f), 65535},
        // Single-precision scaling rounds up where double arithmetic gives 256.
        {"point -0.992172122", path_quantpoint(fromBits(0xBF7DFEFE)), 257},
        {"handle -1.98434424", path_quanthandle(fromBits(0xBFFDFEFE)), 257},
        // Out of range clamps instead of wrapping into another value.
        {"point 1.5", path_quantpoint(1.5f), 65535},
        {"point -3", path_quantpoint(-3.0f), 0},
        {"handle 2.5", path_quanthandle(2.5f), 65535},
        {"point nan", path_quantpoint(NAN), 0},
        {"point inf", path_quantpoint(INFINITY), 65535},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_FLOAT_EQ(path_dequantpoint(32768), 1.52587891e-05f);
    EXPECT_EQ(path_dequantpoint(0), -1.0f);
    EXPECT_EQ(path_dequanthandle(65535), 2.0f);
}

TEST(Path, ArraysDoubleWhenFull)
{
    path *p = path_new();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->csz, 32);
    EXPECT_EQ(p->ksz, 256);
    for (int i = 0; i < 32; i++)
        ASSERT_EQ(path_newcurve(p), i);
    EXPECT_EQ(path_newcurve(p), 32);
    EXPECT_EQ(p->csz, 64);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(path_addknot(p), i);
    EXPECT_EQ(path_addknot(p), 256);
    EXPECT_EQ(p->ksz, 512);
    path_free(p);
}

// A path's only curve and a curve's only knot have both links -1 like free
// slots; a search that comes round to them must pass them by.
TEST(Path, SearchesNeverHandOutALiveSlot)
{
    path *p = path_new();
    const float pt[3] = {0.1f, 0.2f, 0.0f};
    int c = path_newcurve(p);
    int k = path_prependknot(p, c, pt);
    ASSERT_EQ(c, 0);
    ASSERT_EQ(k, 0);
    p->cidx = 0;
    p->kidx = 0;
    EXPECT_NE(path_addknot(p), k);
    EXPECT_NE(path_newcurve(p), c);
    // A removed curve's slots are free again.
    path_removecurve(p, c);
    p->cidx = 0;
    p->kidx = 0;
    EXPECT_EQ(path_addknot(p), 0);
    EXPECT_EQ(path_newcurve(p), 0);
    path_free(p);
}

TEST(Path, ReadGivesMinimumCapacitiesAndFreeSlots)
{
    blob b;
    b.header(0, 0, 5, 1, 10, 2);
    b.curve(1, 0, -1, -1, 0);
    for (int i = 1; i < 5; i++)
        b.curve(-1, -1, -1, -1, 0);
    b.rawknot(0, 0, 0, -1, 1);
    b.rawknot(1, 0, 0, 0, -1);
    for (int i = 2; i < 10; i++)
        b.rawknot(0, 0, 0, -1, -1);
    path *p = readblob(b.b, 0, path_formraw);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->csz, 32);
    EXPECT_EQ(p->ksz, 256);
    EXPECT_EQ(p->cnum, 1);
    EXPECT_EQ(p->knum, 2);
    for (int i = 5; i < 32; i++)
        EXPECT_EQ(p->curves[i].next, -1);
    // The stored knots are taken, so new ones come from the free slots.
    EXPECT_GE(path_addknot(p), 2);
    path_free(p);
}

TEST(Path, ReadCorrectsClosureAndDropsOneKnotCurves)
{
    struct Case {
        const char *what;
        float gap;
        int storedclosed, wantclosed;
    };
    const Case cases[] = {
        {"ends 0.001 apart marked open", 0.001f, 0, 1},
        {"ends 0.1 apart marked closed", 0.1f, 1, 0},
        {"ends 0.1 apart marked open", 0.1f, 0, 0},
    };
    for (const Case &c : cases) {
        blob b;
        b.header(1, 0, 2, 2, 4, 4);
        b.curve(2, 0, -1, 1, c.storedclosed);
        b.curve(3, 3, 0, -1, 0); // one knot: removed on reading
        b.rawknot(0.5f, 0.5f, 0, -1, 1);
        b.rawknot(0.9f, 0.5f, 0, 0, 2);
        b.rawknot(0.5f + c.gap, 0.5f, 0, 1, -1);
        b.rawknot(0.3f, 0.3f, 0, -1, -1);
        path *p = readblob(b.b, 0, path_formraw);
        ASSERT_NE(p, nullptr) << c.what;
        EXPECT_EQ(p->curves[0].closed, c.wantclosed) << c.what;
        EXPECT_EQ(p->cnum, 1) << c.what;
        EXPECT_EQ(p->knum, 3) << c.what;
        EXPECT_EQ(p->chead, 0) << c.what;
        if (c.wantclosed && !c.storedclosed) {
            EXPECT_FLOAT_EQ(p->knots[0].pos[0], 0.5005f) << c.what;
            EXPECT_EQ(p->knots[0].pos[0], p->knots[2].pos[0]) << c.what;
        }
        path_free(p);
    }
}

// A headless curve naming another curve's tail is dropped without taking
// that knot from the other curve, which stays whole and writes back.
TEST(Path, DroppedCurveLeavesAnotherCurvesKnot)
{
    blob b;
    b.header(1, 0, 2, 2, 2, 2);
    b.curve(-1, 0, -1, 1, 0);
    b.curve(1, 0, 0, -1, 0);
    b.rawknot(0.0f, 0.0f, 0, -1, 1);
    b.rawknot(0.1f, 0.0f, 0, 0, -1);
    path *p = readblob(b.b, 0, path_formraw);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->cnum, 1);
    EXPECT_EQ(p->knum, 2);
    EXPECT_EQ(p->curves[1].tail, 0);
    EXPECT_EQ(p->knots[0].next, 1);
    msg_stream m;
    ASSERT_TRUE(msg_alloc(&m, 64));
    ASSERT_TRUE(msg_writepath(&m, p));
    path *q = readblob(std::vector<uint8_t>(m.buffer, m.buffer + m.position), 0, path_formraw);
    EXPECT_NE(q, nullptr);
    sys_free(m.buffer);
    path_free(q);
    path_free(p);
}

// The forms of the stored versions, each built from its layout: the old raw
// form with its bit-set bytes, the raw form, and both quantised forms. Slot
// counts that are not multiples of 8 show the size of the old bit sets:
// (9 >> 3) + (17 >> 3) = 3 bytes, not the 5 of rounding up.
TEST(Path, ReadsEveryStoredForm)
{
    struct Case {
        const char *what;
        int skip, form;
    };
    const Case cases[] = {
        {"version 16 (old bit sets skipped)", 1, path_formraw},
        {"version 17", 0, path_formraw},
        {"version 36", 0, path_formraw},
        {"version 37", 0, path_formq1},
        {"version 43", 0, path_formq1},
        {"version 44", 0, path_formq2},
        {"layer blob", 0, path_formraw},
        {"content-library data", 0, path_formq1},
    };
    for (const Case &c : cases) {
        blob b;
        b.header(0, 0, 9, 1, 17, 2);
        if (c.skip)
            for (int i = 0; i < 3; i++)
                b.b.push_back(0xFF);
        b.curve(1, 0, -1, -1, 0);
        for (int i = 1; i < 9; i++)
            b.curve(-1, -1, -1, -1, 0);
        for (int i = 0; i < 17; i++) {
            int32_t prev = i == 1 ? 0 : -1, next = i == 0 ? 1 : -1;
            if (c.form == path_formraw) {
                b.rawknot(i == 1 ? 0.25f : -0.25f, 0.5f, 0.0f, prev, next);
            } else {
                // x 0.25 / -0.25 and y 0.5 by the point formula; the handle
                // word 49151 reads 1.0 by form 2 and 0.5 by form 1.
                b.u16(i == 1 ? 40959 : 24576);
                b.u16(49151);
                for (int j = 0; j < 4; j++)
                    b.u16(49151);
                b.i32(prev);
                b.i32(next);
            }
        }
        path *p = readblob(b.b, c.skip, c.form);
        ASSERT_NE(p, nullptr) << c.what;
        EXPECT_EQ(p->knum, 2) << c.what;
        EXPECT_NEAR(p->knots[0].pos[0], -0.25f, 2e-5) << c.what;
        EXPECT_NEAR(p->knots[1].pos[0], 0.25f, 2e-5) << c.what;
        EXPECT_NEAR(p->knots[1].pos[1], 0.5f, 2e-5) << c.what;
        if (c.form == path_formq2)
            EXPECT_NEAR(p->knots[1].h1[0], 1.0f, 4e-5) << c.what;
        if (c.form == path_formq1)
            EXPECT_NEAR(p->knots[1].h1[0], 0.5f, 2e-5) << c.what;
        path_free(p);
    }
}

namespace {

// A random path of closed and open curves inside -0.5..0.5, with handles
// inside -1..1, with some curves removed so free slots sit among live ones.
path *randompath(std::mt19937 &rng)
{
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    path *p = path_new();
    for (int c = 0; c < 40; c++) {
        int cv = path_newcurve(p);
        int n = 2 + (int)(rng() % 9);
        for (int k = 0; k < n; k++) {
            float pt[3] = {u(rng), u(rng), 0.0f};
            int kk = path_prependknot(p, cv, pt);
            for (int i = 0; i < 2; i++) {
                p->knots[kk].h1[i] = 2 * u(rng);
                p->knots[kk].h2[i] = 2 * u(rng);
            }
        }
        p->curves[cv].closed = (int)(rng() % 2);
    }
    for (int c = 3; c < 40; c += 7)
        path_removecurve(p, c);
    return p;
}

} // namespace

TEST(Path, RawFormRoundTripsSlotForSlot)
{
    std::mt19937 rng(7);
    path *p = randompath(rng);
    for (int c = 0; c < p->csz; c++) // closure as the reader would correct it
        if (p->cused[c])
            p->curves[c].closed = 0;
    msg_stream m;
    ASSERT_TRUE(msg_alloc(&m, 64));
    ASSERT_TRUE(msg_writepath(&m, p));
    EXPECT_EQ(m.position, 32 + p->csz * 24 + p->ksz * 44);
    path *q = readblob(std::vector<uint8_t>(m.buffer, m.buffer + m.position), 0, path_formraw);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->csz, p->csz);
    EXPECT_EQ(q->ksz, p->ksz);
    EXPECT_EQ(q->cnum, p->cnum);
    EXPECT_EQ(q->knum, p->knum);
    EXPECT_EQ(memcmp(q->curves, p->curves, sizeof(curve) * p->csz), 0);
    EXPECT_EQ(memcmp(q->knots, p->knots, sizeof(knot) * p->ksz), 0);
    sys_free(m.buffer);
    path_free(p);
    path_free(q);
}

TEST(Path, QuantisedFormsRoundTripWithinOneStep)
{
    for (int form : {path_formq1, path_formq2}) {
        std::mt19937 rng(11);
        path *p = randompath(rng);
        if (form == path_formq1) // form 1 handles cover -1..1 only
            for (int k = 0; k < p->ksz; k++)
                for (int i = 0; i < 2; i++) {
                    p->knots[k].h1[i] *= 0.5f;
                    p->knots[k].h2[i] *= 0.5f;
                }
        msg_stream m;
        ASSERT_TRUE(msg_alloc(&m, 64));
        ASSERT_TRUE(msg_writepathq(&m, p, form));
        EXPECT_EQ(m.position, 32 + p->cnum * 24 + p->knum * 20);
        path *q = readblob(std::vector<uint8_t>(m.buffer, m.buffer + m.position), 0, form);
        ASSERT_NE(q, nullptr);
        ASSERT_EQ(q->cnum, p->cnum);
        ASSERT_EQ(q->knum, p->knum);
        // Half a quantisation step, plus the single-precision scaling.
        float htol = form == path_formq2 ? 2.0f / 65535 : 1.0f / 65535;
        // Walk both in order: the copy is compact, the source is not.
        int a = p->ctail, b = q->ctail;
        while (a != -1 && b != -1) {
            int ka = p->curves[a].tail, kb = q->curves[b].tail;
            while (ka != -1 && kb != -1) {
                const knot &x = p->knots[ka], &y = q->knots[kb];
                for (int i = 0; i < 2; i++) {
                    EXPECT_NEAR(x.pos[i], y.pos[i], 1.0f / 65535 + 1e-6f);
                    EXPECT_NEAR(x.h1[i], y.h1[i], htol + 1e-6f);
                    EXPECT_NEAR(x.h2[i], y.h2[i], htol + 1e-6f);
                }
                ka = x.next;
                kb = y.next;
            }
            EXPECT_EQ(ka, kb);
            a = p->curves[a].next;
            b = q->curves[b].next;
        }
        EXPECT_EQ(a, b);
        sys_free(m.buffer);
        path_free(p);
        path_free(q);
    }
}

TEST(Path, ConsolidateCompactsInWalkOrder)
{
    std::mt19937 rng(3);
    path *p = randompath(rng);
    path *q = path_consolidate(p);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->csz, p->cnum);
    EXPECT_EQ(q->ksz, p->knum);
    int c = q->ctail, expectc = 0, expectk = 0;
    for (; c != -1; c = q->curves[c].next, expectc++) {
        ASSERT_EQ(c, expectc);
        for (int k = q->curves[c].tail; k != -1; k = q->knots[k].next)
            ASSERT_EQ(k, expectk++);
    }
    EXPECT_EQ(expectk, p->knum);
    path_free(p);
    path_free(q);
}

TEST(Path, BoundsAndSampling)
{
    path *one = makepolyline({{0.2f, 0.3f, 0.0f}});
    path_box e = path_curvebounds(one, 0);
    EXPECT_EQ(e.minx, 9999999.0f);
    EXPECT_EQ(e.maxy, -9999999.0f);
    int n = 0;
    float *v = path_curveverts(one, 0, 0.1f, &n);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(v[0], 0.2f);
    sys_free(v);
    path_free(one);

    path *empty = path_new();
    EXPECT_EQ(path_bounds(empty).minx, 9999999.0f);
    path_free(empty);

    path *two = makepolyline({{0, 0, 0}, {1, 2, 0.5f}});
    path_box b = path_bounds(two);
    EXPECT_FLOAT_EQ(b.minx, 0);
    EXPECT_FLOAT_EQ(b.maxx, 1);
    EXPECT_FLOAT_EQ(b.maxy, 2);
    v = path_curveverts(two, 0, 0.1f, &n);
    EXPECT_EQ(n, 11);
    EXPECT_EQ(v[3 * 10 + 2], 0.5f); // the head keeps its own z
    EXPECT_NEAR(v[3 * 5], 0.5f, 1e-6);
    sys_free(v);
    path_free(two);

    // A zero-length segment inside a longer curve adds no samples.
    path *dup = makepolyline({{0, 0, 0}, {1, 0, 0}, {1, 0, 0}});
    v = path_curveverts(dup, 0, 0.1f, &n);
    EXPECT_EQ(n, 11);
    sys_free(v);

    testlog_capture log;
    for (float step : {0.0f, -0.5f, NAN, INFINITY}) {
        EXPECT_EQ(path_curveverts(dup, 0, step, &n), nullptr) << step;
        EXPECT_EQ(n, 0);
    }
    EXPECT_TRUE(log.contains("path_curveverts: invalid step"));
    path_free(dup);
}

TEST(Path, NormalizeMapsToTheUnitSquareAndAFlatAxisToZero)
{
    path *p = makepolyline({{2, 5, 1}, {4, 5, 1}});
    path_normalize(p, path_box{2, 5, 4, 5});
    EXPECT_EQ(p->knots[0].pos[0], -0.5f);
    EXPECT_EQ(p->knots[1].pos[0], 0.5f);
    EXPECT_EQ(p->knots[0].pos[1], 0.0f);
    EXPECT_EQ(p->knots[1].pos[2], 1.0f);
    EXPECT_FALSE(std::isnan(p->knots[1].h1[1]));
    path_free(p);
}

// A valid stored path: two curves of two and three knots.
static blob validblob()
{
    blob b;
    b.header(1, 0, 2, 2, 5, 5);
    b.curve(1, 0, -1, 1, 0);
    b.curve(4, 2, 0, -1, 0);
    b.rawknot(0, 0, 0, -1, 1);
    b.rawknot(0.1f, 0, 0, 0, -1);
    b.rawknot(0.2f, 0, 0, -1, 3);
    b.rawknot(0.3f, 0, 0, 2, 4);
    b.rawknot(0.4f, 0.1f, 0, 3, -1);
    return b;
}

static void setword(blob &b, int offset, int32_t v)
{
    for (int i = 0; i < 4; i++)
        b.b[(size_t)offset + i] = (uint8_t)((uint32_t)v >> (8 * i));
}

TEST(Path, DamagedBlobsAreRefusedWithoutLeaks)
{
    {
        path *p = readblob(validblob().b, 0, path_formraw);
        ASSERT_NE(p, nullptr);
        path_free(p);
    }
    // Offsets: header words 0..28, curve i at 32 + 24 i, knot j at 80 + 44 j.
    struct Case {
        const char *what;
        int offset;
        int32_t value;
    };
    const Case cases[] = {
        {"negative csz", 12, -1},
        {"huge csz", 12, 0x7FFFFFFF},
        {"huge ksz", 24, 0x40000000},
        {"cnum above csz", 16, 3},
        {"knum above ksz", 28, 6},
        {"negative knum", 28, -5},
        {"chead out of range", 0, 2},
        {"ctail below -1", 4, -2},
        {"curve head out of range", 32, 5},
        {"curve next out of range", 32 + 12, 9},
        {"knot next out of range", 80 + 40, 77},
        {"knot prev out of range", 80 + 44 + 36, -3},
        {"curve list cycle", 32 + 24 + 12, 0},
        {"knot chain cycle", 80 + 4 * 44 + 40, 2},
        {"knot shared by two curves", 32 + 24 + 4, 1},
        {"chain does not reach head", 32 + 24, 3},
        {"head not at end of list", 0, 0},
    };
    testlog_capture log;
    uint64_t mem = sys_memused();
    for (const Case &c : cases) {
        blob b = validblob();
        setword(b, c.offset, c.value);
        EXPECT_EQ(readblob(b.b, 0, path_formraw), nullptr) << c.what;
        EXPECT_EQ(sys_memused(), mem) << c.what;
    }
    // Truncation at every length, raw and quantised.
    std::vector<uint8_t> raw = validblob().b;
    path *p = readblob(raw, 0, path_formraw);
    msg_stream m;
    ASSERT_TRUE(msg_alloc(&m, 64));
    ASSERT_TRUE(msg_writepathq(&m, p, path_formq2));
    std::vector<uint8_t> quant(m.buffer, m.buffer + m.position);
    sys_free(m.buffer);
    path_free(p);
    for (auto [whole, form] : {std::pair{raw, path_formraw}, std::pair{quant, path_formq2}}) {
        for (size_t len = 0; len < whole.size(); len++) {
            std::vector<uint8_t> part(whole.begin(), whole.begin() + (long)len);
            EXPECT_EQ(readblob(part, 0, form), nullptr) << len;
        }
        path *q = readblob(whole, 0, form);
        EXPECT_NE(q, nullptr);
        path_free(q);
    }
    EXPECT_EQ(sys_memused(), mem);
}
