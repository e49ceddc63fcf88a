// Raster Along Path(s): a ramp layer (a raster or a text-layer's image)
// mapped along straight paths against its analytic texture coordinates
// (v = (s + s0) / (A + S), reversed or not),
// the edge cases (position, repetition and spacing, Reverse's gaps on both
// axes, a closed path, double-path by repetitions, fixed angle, nothing
// covered, an odd path in double-path mode), and the exits that must leave
// the generator free.
#include "project/alongpaths.h"

#include "geom/contour.h"
#include "img/image.h"
#include "project/genraster.h"
#include "project/project.h"
#include "render/text.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int ap_w = 16, ap_h = 8; // the ramp layer's image

// The ramp: 0.2 at the layer's left column to 0.8 at its right.
float ap_ramp(int x) { return 0.2f + 0.6f * (float)x / (ap_w - 1); }

class AlongPaths : public ::testing::Test {
protected:
    image *ramp = nullptr;
    void SetUp() override
    {
        memset(project.layers, 0, sizeof(project.layers));
        ramp = img_allocfloat("ramp", ap_w, ap_h);
        for (int y = 0; y < ap_h; y++)
            for (int x = 0; x < ap_w; x++)
                ((float *)ramp->pixels)[y * ap_w + x] = ap_ramp(x);
        project_layer &l = project.layers[3];
        l.type = layer_raster;
        l.data.img = ramp;
        l.size[0] = 2.0f, l.size[1] = 1.0f, l.size[2] = 1.0f;
        l.crop[2] = l.crop[3] = 1.0f;
        alongpath_layer = 3;
        alongpath_mode = 1, alongpath_axis = 0, alongpath_reverse = 0;
        alongpath_lateral = 0.5f, alongpath_position = 0.5f;
        alongpath_byreps = 0, alongpath_reps = 1, alongpath_scale = 1;
        alongpath_repeat = 0, alongpath_spacing = 0;
        alongpath_fixed = 0, alongpath_angle = 0, alongpath_swap = 0;
        layer_genkind = 0, layer_gendone = 0;
    }
    void TearDown() override
    {
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
        cont_free(layer_genrequest.polylines);
        layer_genrequest.polylines = nullptr;
        memset(project.layers, 0, sizeof(project.layers));
        img_free(ramp);
        layer_genkind = 0, layer_gendone = 0;
    }
    // The request over the 8 x 8 canvas area at 8 pixels a unit with the
    // given polylines (x, y pairs; closed ones repeat their first point).
    void request(const std::vector<std::vector<float>> &polys, const std::vector<int> &closed = {})
    {
        layer_genrequest = {};
        contour *c = cont_new();
        for (size_t i = 0; i < polys.size(); i++) {
            int n = (int)polys[i].size() / 2;
            c->vertcount[i] = n;
            c->closed[i] = i < closed.size() ? closed[i] : 0;
            for (int k = 0; k < n; k++) {
                float *v = c->verts + (c->numverts + k) * 3;
                v[0] = polys[i][k * 2], v[1] = polys[i][k * 2 + 1], v[2] = 0.0f;
            }
            c->numverts += n;
            c->numpolys++;
        }
        layer_genrequest.polylines = c;
        layer_genrequest.centre[0] = 4.0f, layer_genrequest.centre[1] = 4.0f;
        layer_genrequest.size[0] = 8.0f, layer_genrequest.size[1] = 8.0f, layer_genrequest.size[2] = 1.0f;
        layer_genrequest.width = 64, layer_genrequest.height = 64;
        layer_genrequest.samples = 1.0f;
        layer_genkind = 6;
        layer_gendone = 0;
    }
    image *run()
    {
        layer_rasteralongpaths(nullptr);
        EXPECT_EQ(layer_gendone.load(), 1);
        EXPECT_EQ(project.generating[0].load(), 0);
        EXPECT_EQ(layer_genrequest.polylines, nullptr) << "the job frees the polylines";
        return layer_genrequest.result;
    }
    // The result's value at world (x, y); -1 outside it.
    float at(double x, double y)
    {
        const layer_genrequestrecord &q = layer_genrequest;
        const image *r = q.result;
        int px = (int)std::floor((x - (q.centre[0] - q.size[0] / 2)) / q.size[0] * r->width);
        int py = (int)std::floor(((q.centre[1] + q.size[1] / 2) - y) / q.size[1] * r->height);
        if (px < 0 || py < 0 || px >= r->width || py >= r->height)
            return -1;
        return ((const float *)r->pixels)[py * r->width + px];
    }
};

// Ramp value at along fraction v of one copy: v spans the layer's image with
// its one-pixel border of zeros. Within the reach of a texture pixel either
// side (the lookup's pixel-centre convention is the image code's own).
void ap_expect(double v, float *lo, float *hi)
{
    // The bordered ramp: zero, the layer's 16 columns, zero.
    auto bordered = [](int i) { return i <= 0 || i >= ap_w + 1 ? 0.0f : ap_ramp(i - 1); };
    *lo = 2, *hi = -1;
    for (int k = -4; k <= 4; k++) {
        double x = std::fmin(std::fmax((v + k / 4.0 / (ap_w + 2)) * (ap_w + 2), 0.0), ap_w + 1.0);
        int i = (int)x;
        float f = (float)(x - i), val = bordered(i) * (1 - f) + bordered(i + 1) * f;
        *lo = std::fmin(*lo, val), *hi = std::fmax(*hi, val);
    }
}

TEST_F(AlongPaths, StraightPathAgainstItsAnalyticMapping)
{
    struct {
        const char *what;
        float position;
        int reverse;
        double start; // world x where the copy starts along the path
        bool text;    // the ramp as a text-layer's rendered grey image
    } cases[] = {
        {"centred", 0.5f, 0, 3.0, false},
        {"at the path's start", 0.0f, 0, 1.0, false},
        {"reversed", 0.5f, 1, 3.0, false},
        {"a text-layer's image", 0.5f, 0, 3.0, true},
    };
    // The text object holds the ramp rendered in grey, as the font cache
    // leaves it: three equal bytes a pixel.
    text_object texts[text_maxobjects] = {};
    text_object *savedtexts = text_objects;
    for (text_object &t : texts)
        t.font = -1;
    texts[5].font = 0;
    texts[5].img = img_alloc("txtimg", ap_w, ap_h, 3);
    for (int y = 0; y < ap_h; y++)
        for (int x = 0; x < ap_w; x++)
            memset(texts[5].img->pixels + (y * ap_w + x) * 3, (int)std::lround(ap_ramp(x) * 255), 3);
    text_objects = texts;
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        alongpath_position = c.position;
        alongpath_reverse = c.reverse;
        project_layer &l = project.layers[3];
        l.type = c.text ? layer_text : layer_raster;
        if (c.text)
            l.data.text = 5;
        else
            l.data.img = ramp;
        request({{1, 4, 7, 4}});
        image *r = run();
        ASSERT_NE(r, nullptr);
        // One copy 2 long and 1 wide, centred on the path.
        EXPECT_NEAR(layer_genrequest.centre[0], c.start + 1.0, 0.13);
        EXPECT_NEAR(layer_genrequest.size[0], 2.0, 0.26);
        EXPECT_NEAR(layer_genrequest.size[1], 1.0, 0.26);
        int far = 0, compared = 0;
        for (double x = c.start + 0.2; x <= c.start + 1.8; x += 0.125)
            for (double y = 3.7; y <= 4.3; y += 0.125) {
                double v = (x - c.start) / 2.0;
                if (c.reverse)
                    v = 1.0 - v;
                float lo, hi, got = at(x, y);
                ap_expect(v, &lo, &hi);
                compared++;
                if (got < lo - 0.01f || got > hi + 0.01f)
                    far++;
            }
        EXPECT_GT(compared, 50);
        EXPECT_EQ(far, 0);
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
    }
    project.layers[3].type = layer_raster;
    project.layers[3].data.img = ramp;
    text_objects = savedtexts;
    img_free(texts[5].img);
}

TEST_F(AlongPaths, RepetitionsSpacingAndFixedAngle)
{
    // Repeat with spacing 0.25: a copy every 2.5 units, zeros in the gaps.
    alongpath_repeat = 1, alongpath_spacing = 0.25f, alongpath_position = 0.0f;
    request({{0.5, 4, 7.5, 4}});
    ASSERT_NE(run(), nullptr);
    for (double x = 0.7; x + 2.5 < 7.3; x += 0.25)
        if (std::fmod(x - 0.5, 2.5) < 1.8)
            EXPECT_NEAR(at(x, 4.0), at(x + 2.5, 4.0), 0.02) << x;
    EXPECT_NEAR(at(0.5 + 2.25, 4.0), 0.0f, 1e-6) << "the gap";
    img_free(layer_genrequest.result);
    layer_genrequest.result = nullptr;

    // Three repetitions fit the path exactly: a copy every third of it.
    alongpath_spacing = 0.0f, alongpath_byreps = 1, alongpath_reps = 3.4f;
    request({{1, 4, 7, 4}});
    ASSERT_NE(run(), nullptr);
    for (double x = 1.2; x + 2.0 < 6.9; x += 0.25)
        EXPECT_NEAR(at(x, 4.0), at(x + 2.0, 4.0), 0.02) << x;
    EXPECT_NEAR(layer_genrequest.size[1], 1.0, 0.26) << "the aspect is kept";
    img_free(layer_genrequest.result);
    layer_genrequest.result = nullptr;
    alongpath_byreps = 0, alongpath_repeat = 0;

    // Fixed angle 0 displaces along (0, -1): a diagonal path gets a ribbon
    // whose cross direction is vertical, so it spans its height plus 1.
    // A copy 4 long and 2 wide centred on the diagonal spans 2.83 in x and
    // 2.83 + 2 in y, less the image's zero border (4.24 in both if the cross
    // direction followed the path).
    alongpath_fixed = 1, alongpath_position = 0.5f, alongpath_scale = 2.0f;
    request({{2, 2, 6, 6}});
    ASSERT_NE(run(), nullptr);
    EXPECT_NEAR(layer_genrequest.size[0], 2.83, 0.3);
    EXPECT_GT(layer_genrequest.size[1], 4.2);
    EXPECT_LT(layer_genrequest.size[1], 4.9);
    img_free(layer_genrequest.result);
    layer_genrequest.result = nullptr;
    alongpath_fixed = 0, alongpath_scale = 1.0f;

}

// Repeat with spacing 0.25 and Reverse: the spacing copy is offset along
// the axis the texture grew in, so reversing shifts the gaps along the path
// by as many texture pixels on the Y axis as on the X axis (an offset in x
// on the Y axis would shift them one more). Measured at the centroid of the
// first gap, at scale 2.
TEST_F(AlongPaths, ReverseShiftsTheGapsAlikeOnBothAxes)
{
    alongpath_repeat = 1, alongpath_spacing = 0.25f;
    alongpath_position = 0.0f, alongpath_scale = 2.0f;
    double shift[2];
    for (int axis = 0; axis < 2; axis++) {
        // Period along the path and the spacing texture's length in pixels
        // along it: the bordered layer enlarged by the spacing.
        const double period = (axis ? 1.0 : 2.0) * 2.0 * 1.25;
        const int texels = (int)((axis ? ap_h + 2 : ap_w + 2) * 1.25);
        double centroid[2];
        for (int reverse = 0; reverse < 2; reverse++) {
            SCOPED_TRACE(testing::Message() << "axis " << axis << " reverse " << reverse);
            alongpath_axis = axis, alongpath_reverse = reverse;
            request({{0.5, 4, 7.5, 4}});
            layer_genrequest.width = layer_genrequest.height = 128;
            ASSERT_NE(run(), nullptr);
            double sum = 0;
            int n = 0;
            for (double t = 0.5 * period; t < 1.3 * period; t += 1.0 / 64)
                if (at(0.5 + t, 4.0) < 0.01f)
                    sum += t, n++;
            ASSERT_GT(n, 5);
            centroid[reverse] = sum / n;
            img_free(layer_genrequest.result);
            layer_genrequest.result = nullptr;
        }
        shift[axis] = (centroid[1] - centroid[0]) / (period / texels);
    }
    EXPECT_NEAR(shift[1], shift[0], 0.5) << "texture pixels";
}

// A closed square path with the layer repeated around it: the ribbon runs
// on across the start vertex as across the other corners. The same square
// left open shows the wedge its start leaves.
TEST_F(AlongPaths, ClosedPathContinuesAcrossItsStart)
{
    struct {
        const char *what;
        int closed;
    } cases[] = {{"closed", 1}, {"open", 0}};
    alongpath_repeat = 1, alongpath_scale = 1.5f;
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        request({{2, 2, 6, 2, 6, 6, 2, 6, 2, 2}}, {c.closed});
        ASSERT_NE(run(), nullptr);
        // 0.45 out along each corner's diagonal, within the mitre of the
        // 1.5-wide ribbon; the copy boundaries fall away from the corners.
        const double d = 0.45 / std::sqrt(2.0);
        const double corners[4][2] = {{2, 2}, {6, 2}, {6, 6}, {2, 6}};
        for (int k = 0; k < 4; k++) {
            const double ox = corners[k][0] < 4 ? -d : d, oy = corners[k][1] < 4 ? -d : d;
            const float got = at(corners[k][0] + ox, corners[k][1] + oy);
            if (k == 0 && !c.closed)
                EXPECT_LT(got, 0.02f) << "open start";
            else
                EXPECT_GT(got, 0.15f) << "corner " << k;
        }
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
    }
}

// Double-path mode scaled by repetitions: two copies fill each 6-long rail
// from its start, so along the middle v = s / 3 of each copy, not s / 2 as
// the layer's own length would give.
TEST_F(AlongPaths, DoublePathByRepetitions)
{
    alongpath_mode = 2, alongpath_repeat = 1, alongpath_byreps = 1, alongpath_reps = 2.0f;
    alongpath_position = 0.0f;
    request({{1, 3.5, 7, 3.5}, {1, 4.5, 7, 4.5}});
    ASSERT_NE(run(), nullptr);
    int compared = 0;
    for (double x = 1.1; x < 6.9; x += 0.125) {
        const double v = std::fmod((x - 1.0) / 3.0, 1.0);
        if (v < 0.05 || v > 0.95)
            continue;
        float lo, hi;
        ap_expect(v, &lo, &hi);
        const float got = at(x, 4.0);
        EXPECT_TRUE(got >= lo - 0.02f && got <= hi + 0.02f) << "x " << x << ": " << got << " not in " << lo << ".."
                                                             << hi;
        compared++;
    }
    EXPECT_GT(compared, 30);
}

TEST_F(AlongPaths, NothingCoveredAndBadInput)
{
    // A path outside the request's area: a null result, the job done.
    request({{20, 20, 30, 20}});
    EXPECT_EQ(run(), nullptr);
    EXPECT_EQ(layer_genkind.load(), 6);

    // Double-path mode skips an odd last polyline: a single path draws nothing.
    alongpath_mode = 2;
    request({{1, 4, 7, 4}});
    EXPECT_EQ(run(), nullptr);
    // A pair spans the layer between its rails.
    request({{1, 3.5, 7, 3.5}, {1, 4.5, 7, 4.5}, {1, 1, 7, 1}});
    ASSERT_NE(run(), nullptr);
    EXPECT_NEAR(layer_genrequest.size[1], 1.0, 0.26);
    EXPECT_LT(layer_genrequest.centre[1] - layer_genrequest.size[1] / 2, 3.6) << "the odd one is not drawn";
    EXPECT_GT(layer_genrequest.centre[1] - layer_genrequest.size[1] / 2, 3.3);
    img_free(layer_genrequest.result);
    layer_genrequest.result = nullptr;
    alongpath_mode = 1;

    struct {
        const char *what;
        int layer;
        int width;
    } cases[] = {{"no layer", -1, 64}, {"a free slot", 5, 64}, {"zero-sized request", 3, 0}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        alongpath_layer = c.layer;
        request({{1, 4, 7, 4}});
        layer_genrequest.width = c.width;
        layer_rasteralongpaths(nullptr);
        EXPECT_EQ(layer_genkind.load(), 0);
        EXPECT_EQ(layer_gendone.load(), 0);
        EXPECT_EQ(layer_genrequest.result, nullptr);
        EXPECT_EQ(layer_genrequest.polylines, nullptr);
        EXPECT_TRUE(log.contains("layer_rasteralongpaths: "));
    }
}

} // namespace
