// Cutter profiles and working-image margins: the blank profile, the depth
// limit of the flutes, the width of a tapered ball at its flute length, and
// margins that round up to whole pixels and come off again exactly.
#include "cam/profile.h"

#include "cam/tool.h"
#include "dilateref.h"
#include "gentest.h"
#include "img/blur.h"
#include "img/convolve.h"
#include "img/maxplus.h"
#include "img/image.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

class CutterProfile : public GenTest {
protected:
    std::vector<image *> held;
    image *keep(image *img)
    {
        held.push_back(img);
        return img;
    }
    void TearDown() override
    {
        for (image *img : held)
            img_free(img);
        GenTest::TearDown();
    }
    image *random(const char *name, int w, int h, std::mt19937 &rng, float lo, float hi)
    {
        std::uniform_real_distribution<float> d(lo, hi);
        image *img = keep(img_allocfloat(name, w, h));
        for (int i = 0; i < w * h; i++)
            ((float *)img->pixels)[i] = d(rng);
        return img;
    }
    static float at(const image *img, int x, int y) { return ((const float *)img->pixels)[(size_t)y * img->width + x]; }
    static bool same(const image *a, const image *b)
    {
        return a && b && a->width == b->width && a->height == b->height &&
               memcmp(a->pixels, b->pixels, (size_t)a->width * a->height * a->bytesperpixel) == 0;
    }
};

TEST_F(CutterProfile, ToolTypeNoneIsABlankKernelThatChangesNothing)
{
    const float size[3] = {2, 2, 1};
    image *k = keep(cam_gentoolprofile(0, size, 32, 0.5f));
    ASSERT_NE(k, nullptr);
    EXPECT_STREQ(k->name, "blanktool");
    EXPECT_EQ(k->width, 1);
    EXPECT_EQ(k->height, 1);
    EXPECT_EQ(at(k, 0, 0), 0.0f);
    image *field = keep(img_allocfloat("field", 8, 8));
    for (int i = 0; i < 64; i++)
        ((float *)field->pixels)[i] = (float)((i * 37) % 11) / 11.0f;
    image *out = keep(img_scalarconvo(field, k, 0, -99999.0f, 0.0f));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(memcmp(out->pixels, field->pixels, 64 * 4), 0);
}

TEST_F(CutterProfile, UnknownTypesAndIndexesGiveNoProfile)
{
    const float size[3] = {2, 2, 1};
    cam_tools[0].type = 5;
    EXPECT_EQ(cam_gentoolprofile(0, size, 32, 0.5f), nullptr);
    EXPECT_EQ(cam_gentoolprofile(-1, size, 32, 0.5f), nullptr);
    EXPECT_EQ(cam_gentoolprofile(cam_maxtools, size, 32, 0.5f), nullptr);
}

// The deepest a kernel cuts (project units): minus its lowest value above
// the far-below level of the pixels beyond the cutter, and the largest
// depth step between two cutting pixels side by side, which is as close as
// the pixel grid comes to any depth.
static std::pair<float, float> cutdepth(const image *k, float sizez)
{
    const float beyond = ((const float *)k->pixels)[0]; // a corner, outside the cutter
    float deepest = 0.0f, step = 0.0f;
    for (int y = 0; y < k->height; y++)
        for (int x = 0; x < k->width; x++) {
            const float v = ((const float *)k->pixels)[(size_t)y * k->width + x];
            if (v <= beyond)
                continue;
            deepest = std::max(deepest, -v * sizez);
            if (x > 0) {
                const float w = ((const float *)k->pixels)[(size_t)y * k->width + x - 1];
                if (w > beyond)
                    step = std::max(step, std::fabs(v - w) * sizez);
            }
        }
    return {deepest, step};
}

// The kernel reaches the depth asked for, and no deeper than the flutes
// whatever is asked.
TEST_F(CutterProfile, DepthIsCutToTheFluteLength)
{
    const float size[3] = {4, 4, 2};
    struct Case {
        int type;
        float d, aux;
    };
    const Case cases[] = {{tool_tapered, 0.0625f, 10.0f}, {tool_vbit, 0.5f, 60.0f}, {tool_taperball, 0.0625f, 5.0f}};
    for (const Case &c : cases) {
        cam_settool(1, "t", c.type, 1, 2, c.d, 0.3f, c.aux, 1.5f, 20.0f);
        const float flutes = cam_tools[0].flutelength * cam_toolunitsfactor(1);
        ASSERT_GT(flutes, 0.0f);
        for (float asked : {5.0f, flutes, flutes * 0.5f}) {
            SCOPED_TRACE("type " + std::to_string(c.type) + " asked " + std::to_string(asked));
            // 512 pixels a unit: a pixel's depth step stays under a tenth of
            // the flutes even on the steepest of these tapers, so a depth cut
            // short by a fifth cannot pass.
            image *k = keep(cam_gentoolprofile(0, size, 2048, asked));
            ASSERT_NE(k, nullptr);
            const auto [deepest, step] = cutdepth(k, size[2]);
            const float want = std::min(asked, flutes);
            ASSERT_LT(step, 0.1f * flutes);
            EXPECT_LE(deepest, want + 1e-4f);
            EXPECT_GE(deepest, want - step - 1e-4f);
        }
    }
}

// The ball and the cone meet so that the edge at the flute length is the
// cutting diameter the tool record derives (its own geometry, not ours).
TEST_F(CutterProfile, TaperedBallIsItsCuttingDiameterWideAtTheFluteLength)
{
    const float size[3] = {2, 2, 1};
    const int width = 256; // 128 pixels per unit
    for (float degrees : {2.0f, 10.0f, 20.0f}) {
        cam_settool(1, "tb", tool_taperball, 1, 2, 0.03125f, 0.25f, degrees, 1.5f, 20.0f);
        image *k = keep(cam_gentoolprofile(0, size, width, 0.25f));
        ASSERT_NE(k, nullptr);
        const int mid = k->width / 2;
        const float floor = -0.25f / size[2] - 1e-4f;
        int reach = 0;
        for (int x = mid; x < k->width; x++)
            if (at(k, x, mid) >= floor)
                reach = x - mid;
        const float expected = cam_tools[0].diameter * 0.5f * width / size[0];
        EXPECT_NEAR(reach, expected, 1.0f) << degrees;
        EXPECT_NEAR(at(k, mid, mid), 0.0f, 1e-4) << "the tip";
    }
}

TEST_F(CutterProfile, PadRoundsUpToWholePixelsAndCropTakesItOff)
{
    struct Case {
        float pad; // in pixels of 0.125 units
        int added;
    };
    const Case cases[] = {{2.0f, 2}, {2.01f, 3}, {0.0f, 0}, {0.5f, 1}};
    image *img = keep(img_allocfloat("work", 16, 8));
    for (int i = 0; i < 16 * 8; i++)
        ((float *)img->pixels)[i] = (float)i;
    for (const Case &c : cases) {
        float size[2] = {2.0f, 1.0f}, origin[2] = {0.5f, 0.25f}, frac[2];
        image *padded = keep(cam_padimage(img, size, origin, frac, c.pad * 0.125f, 1));
        ASSERT_NE(padded, nullptr);
        EXPECT_EQ(padded->width, 16 + 2 * c.added) << c.pad;
        EXPECT_EQ(padded->height, 8 + 2 * c.added) << c.pad;
        EXPECT_NEAR(size[0], 2.0f + 0.25f * c.added, 1e-5);
        EXPECT_NEAR(origin[1], 0.25f + 0.125f * c.added, 1e-5);
        EXPECT_NEAR(frac[0], origin[0] / size[0], 1e-6);
        if (c.added)
            EXPECT_EQ(at(padded, 0, 0), 256.0f);
        image *back = keep(cam_cropborder(padded, size, origin, frac, c.pad * 0.125f));
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(same(img, back)) << c.pad;
        EXPECT_NEAR(size[0], 2.0f, 1e-5);
        EXPECT_NEAR(size[1], 1.0f, 1e-5);
        EXPECT_NEAR(origin[0], 0.5f, 1e-5);
        EXPECT_NEAR(origin[1], 0.25f, 1e-5);
    }
}

TEST_F(CutterProfile, PadModesFillTheMargin)
{
    image *img = keep(img_allocfloat("work", 3, 2));
    const float v[6] = {1, 2, 3, 4, 5, 6};
    memcpy(img->pixels, v, sizeof(v));
    float size[2] = {3, 2}, origin[2] = {0, 0}, frac[2];
    image *zero = keep(cam_padimage(img, size, origin, frac, 1.0f, 0));
    float size2[2] = {3, 2}, origin2[2] = {0, 0};
    image *edge = keep(cam_padimage(img, size2, origin2, frac, 1.0f, 2));
    ASSERT_NE(zero, nullptr);
    ASSERT_NE(edge, nullptr);
    EXPECT_EQ(at(zero, 0, 0), 0.0f);
    const float expected[4][5] = {{1, 1, 2, 3, 3}, {1, 1, 2, 3, 3}, {4, 4, 5, 6, 6}, {4, 4, 5, 6, 6}};
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 5; x++)
            EXPECT_EQ(at(edge, x, y), expected[y][x]) << x << "," << y;
}

TEST_F(CutterProfile, BorderAddsOnePixelAndCropOfEverythingGivesNothing)
{
    image *img = keep(img_allocfloat("work", 4, 4));
    float size[2] = {2, 2}, origin[2] = {1, 1}, frac[2];
    image *b = keep(cam_borderimage(img, size, origin, frac, 1));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 6);
    EXPECT_EQ(at(b, 0, 3), 256.0f);
    EXPECT_EQ(at(b, 1, 1), 0.0f);
    EXPECT_NEAR(size[0], 3.0f, 1e-6);
    EXPECT_NEAR(origin[0], 1.5f, 1e-6);
    EXPECT_NEAR(frac[1], 0.5f, 1e-6);
    float before[2] = {size[0], size[1]};
    EXPECT_EQ(cam_cropborder(b, size, origin, frac, 1.5f), nullptr);
    EXPECT_EQ(size[0], before[0]) << "geometry untouched";
    EXPECT_EQ(size[1], before[1]);
}

// The dilation by every kind of cutter profile, by the leave-stock sphere, by
// a ball made a little asymmetric and by a random kernel, taken apart by
// rows, gives the plain taps' values on fields with and without pixels below
// minval, smaller than the kernel, and one pixel wide or high.
TEST_F(CutterProfile, DilationByProfilesMatchesThePlainTaps)
{
    const float size[3] = {4, 4, 2}; // 16 pixels per unit at width 64
    struct Tool {
        const char *what;
        int type;
        float d, aux, maxdepth;
    };
    const Tool tools[] = {
        {"flat 0.5", tool_cylinder, 0.5f, 0.0f, 0.5f},      {"flat 1.25", tool_cylinder, 1.25f, 0.0f, 0.5f},
        {"ball 0.5", tool_cylinder, 0.5f, 0.25f, 0.5f},     {"ball 1.25", tool_cylinder, 1.25f, 0.625f, 0.5f},
        {"bull nose", tool_cylinder, 1.0f, 0.125f, 0.5f},   {"tapered 10", tool_tapered, 0.125f, 10.0f, 0.5f},
        {"tapered 30", tool_tapered, 0.125f, 30.0f, 0.4f},  {"V 60", tool_vbit, 0.5f, 60.0f, 0.5f},
        {"V 90", tool_vbit, 0.5f, 90.0f, 0.3f},             {"V 120", tool_vbit, 0.5f, 120.0f, 0.2f},
        {"tapered ball 5", tool_taperball, 0.125f, 5.0f, 0.6f},
        {"tapered ball 15", tool_taperball, 0.25f, 15.0f, 0.5f},
    };
    std::vector<std::pair<std::string, image *>> kernels;
    const float refscale = img_refscale;
    img_refscale = 1.0f; // tool lengths in the canvas units
    for (const Tool &t : tools) {
        cam_settool(1, "t", t.type, 1, 2, t.d, 1.0f, t.aux, 1.5f, 20.0f);
        kernels.push_back({t.what, keep(cam_gentoolprofile(0, size, 64, t.maxdepth))});
    }
    // Cutters wide enough that their rows are bounded by groups of
    // stretches, run on the smooth fields only, where the bounds skip most.
    std::vector<std::pair<std::string, image *>> wide;
    for (const Tool &t : {Tool{"ball 6.5", tool_cylinder, 6.5f, 3.25f, 2.0f}, Tool{"V 90 6", tool_vbit, 6.0f, 90.0f, 2.0f}}) {
        cam_settool(1, "t", t.type, 1, 2, t.d, 1.0f, t.aux, 1.5f, 20.0f);
        wide.push_back({t.what, keep(cam_gentoolprofile(0, size, 64, t.maxdepth))});
    }
    img_refscale = refscale;
    // The leave-stock sphere as cam_leavestock makes it: radius 5 pixels,
    // lifted by its height.
    image *stock = keep(img_scalarparametric(1, 1.0f, 10.0f, 5.0f, 5.0f, 0.1f, -6.4f));
    for (int i = 0; i < stock->width * stock->height; i++)
        ((float *)stock->pixels)[i] += 0.1f;
    kernels.push_back({"leave stock", stock});
    // A ball whose rows two above and two below the peak differ in one
    // sample: they are no mirror images of each other.
    const image *ball = kernels[3].second;
    image *nudged = keep(img_allocfloat("nudged", ball->width, ball->height));
    std::memcpy(nudged->pixels, ball->pixels, sizeof(float) * ball->width * ball->height);
    ((float *)nudged->pixels)[(ball->height / 2 - 2) * ball->width + ball->width / 2 + 1] -= 0.05f;
    kernels.push_back({"ball 1.25 nudged", nudged});
    std::mt19937 rng(46);
    kernels.push_back({"random", random("random", 11, 9, rng, -0.5f, 0.0f)});
    // Random fields, and smooth ones wide enough for several blocks of the
    // vector taps, where most stretches of a row are skipped by their bound.
    struct Field {
        int w, h;
        float minval;
        bool smooth;
    };
    const Field fields[] = {{64, 48, -99999.0f, false}, {45, 38, 0.35f, false}, {1, 50, -99999.0f, false},
                            {50, 1, 0.2f, false},       {6, 7, -9999.0f, false},  {150, 40, -99999.0f, true},
                            {139, 33, 0.3f, true}};
    const int saved = img_maxplusmin, envelope = img_maxplusenvelope;
    img_maxplusmin = 1;
    int ties = 0;
    // Concave rows by the envelope of translates, then by their taps.
    for (int concave : {1, INT_MAX}) {
        img_maxplusenvelope = concave;
        for (const Field &f : fields) {
            image *img = random("field", f.w, f.h, rng, 0.0f, 1.0f);
            if (f.smooth)
                for (int y = 0; y < f.h; y++)
                    for (int x = 0; x < f.w; x++)
                        ((float *)img->pixels)[y * f.w + x] =
                            0.5f + 0.3f * std::sin(x * 0.07f) * std::cos(y * 0.05f) + 0.01f * ((x * 7 + y * 3) % 5);
            image *out = keep(img_allocfloat("out", f.w, f.h));
            std::vector<std::pair<std::string, image *>> run = kernels;
            if (f.smooth)
                run.insert(run.end(), wide.begin(), wide.end());
            for (const auto &[what, k] : run) {
                ASSERT_NE(k, nullptr) << what;
                SCOPED_TRACE(testing::Message() << what << " " << k->width << "x" << k->height << " on " << f.w
                                                << "x" << f.h << " minval " << f.minval << " envelope from "
                                                << concave);
                ASSERT_EQ(img_scalarconvocpu(out, img, k, 0, 1.0f, f.minval, 0.0f), 0);
                dilateref_diff d = dilateref_compare(out, dilateref_taps(img, k, 1.0f, f.minval, 0.0f));
                EXPECT_EQ(d.wrong, 0);
                ties += d.ties;
            }
        }
    }
    img_maxplusmin = saved;
    img_maxplusenvelope = envelope;
    RecordProperty("ties", ties);
}
