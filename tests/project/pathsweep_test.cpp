// Sweep Paths: straight rails swept with a parabolic profile against the
// height each pixel must have from its offset across the rail (brute force
// through the profile polyline), the edge cases as a table, and the exits
// that must leave the generator free or report a null result.
#include "project/pathsweep.h"

#include "geom/path.h"
#include "geom/pathedit.h"
#include "img/image.h"
#include "project/genraster.h"
#include "project/project.h"
#include "project/transform.h"
#include "sys/mem.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int ps_segments = 16;

// Height of the parabolic profile (peak 1 at the middle) at u across it,
// through the same 17-point polyline the profile curve is made of.
double ps_profile(double u)
{
    if (u <= 0 || u >= 1)
        return 0;
    double x = u * ps_segments;
    int i = (int)x;
    auto h = [](int k) { double t = (double)k / ps_segments; return 4 * t * (1 - t); };
    return h(i) + (h(i + 1) - h(i)) * (x - i);
}

class PathSweep : public ::testing::Test {
protected:
    path *p = nullptr;
    void SetUp() override
    {
        memset(project.layers, 0, sizeof(project.layers));
        p = path_new();
        project_layer &l = project.layers[1];
        l.type = layer_paths;
        l.data.pth = p;
        l.pos[0] = 4.0f, l.pos[1] = 4.0f, l.pos[2] = 0.0f;
        l.size[0] = 8.0f, l.size[1] = 8.0f, l.size[2] = 1.0f;
        l.crop[2] = l.crop[3] = 1.0f;
        layer_genkind = 0;
        layer_gendone = 0;
        pathsweep_smooth = 1;
        pathsweep_numrails = -1;
        memset(pathsweep_railreversed, 0, sizeof(pathsweep_railreversed));
    }
    void TearDown() override
    {
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
        memset(project.layers, 0, sizeof(project.layers));
        path_free(p);
        layer_genkind = 0;
        layer_gendone = 0;
        pathsweep_numrails = -1;
        pathsweep_numprofiles = 0;
    }
    // A straight curve between two local points.
    int line(float x0, float y0, float x1, float y1)
    {
        const float v[6] = {x0, y0, 0, x1, y1, 0};
        return addcurvepoly(p, 2, v, 0, 0.0f);
    }
    // The parabola of peak height (local units) over a chord along x.
    int profile(float x0, float x1, float y, float peak)
    {
        std::vector<float> v;
        for (int k = 0; k <= ps_segments; k++) {
            float t = (float)k / ps_segments;
            v.insert(v.end(), {x0 + (x1 - x0) * t, y + peak * 4 * t * (1 - t), 0});
        }
        return addcurvepoly(p, ps_segments + 1, v.data(), 0, 0.0f);
    }
    void request(float zorigin = 0.0f)
    {
        layer_genrequest = {};
        layer_genrequest.layer = 1;
        layer_genrequest.centre[0] = 4.0f, layer_genrequest.centre[1] = 4.0f;
        layer_genrequest.zorigin = zorigin;
        layer_genrequest.size[0] = 8.0f, layer_genrequest.size[1] = 8.0f, layer_genrequest.size[2] = 1.0f;
        layer_genrequest.width = 64, layer_genrequest.height = 64;
        layer_genrequest.samples = 2.0f;
        layer_genkind = 6;
        layer_gendone = 0;
    }
    // Pixel centre of the result in world units.
    void world(const image *r, int x, int y, double *wx, double *wy)
    {
        const layer_genrequestrecord &q = layer_genrequest;
        *wx = q.centre[0] - q.size[0] / 2 + (x + 0.5) * q.size[0] / r->width;
        *wy = q.centre[1] + q.size[1] / 2 - (y + 0.5) * q.size[1] / r->height;
    }
};

// Heights against the brute force's band [lo, hi] around each pixel: how
// many were compared, how many lay more than 0.01 outside, and the worst.
struct ps_tally {
    int compared = 0, far = 0;
    double worst = 0;
    void add(double got, double lo, double hi)
    {
        compared++;
        double off = std::fmax(0.0, std::fmax(lo - got, got - hi));
        worst = std::fmax(worst, off);
        if (off > 0.01)
            far++;
    }
    void check() const
    {
        EXPECT_GT(compared, 200);
        EXPECT_EQ(far, 0) << "worst " << worst;
    }
};

// The rail's world line: the test reads where the layer puts local points.
double ps_railworldy()
{
    float local[3] = {0, 0, 0}, out[3];
    layer_localtoworld(out, local, 1);
    return out[1];
}

TEST_F(PathSweep, StraightRailsAgainstTheProfileAcross)
{
    struct {
        const char *what;
        int rails;
        int smooth;
        bool reversed;
    } cases[] = {
        {"one rail, smooth", 1, 1, false},
        {"one rail, linear", 1, 0, false},
        {"one rail reversed", 1, 1, true},
        {"two rails, smooth", 2, 1, false},
        {"two rails, linear", 2, 0, false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        // Rail along x through the middle; two rails 2 units apart for two.
        // Profiles of chord 2 (0.25 local), peak 1 unit (0.125 local).
        if (c.rails == 1) {
            pathsweep_rails[0] = line(-0.375f, 0.0f, 0.375f, 0.0f);
        } else {
            pathsweep_rails[0] = line(-0.375f, -0.125f, 0.375f, -0.125f);
            pathsweep_rails[1] = line(-0.375f, 0.125f, 0.375f, 0.125f);
        }
        pathsweep_railreversed[0] = c.reversed;
        pathsweep_numrails = c.rails;
        pathsweep_profiles[0] = profile(-0.125f, 0.125f, 0.3f, 0.125f);
        pathsweep_profiles[1] = profile(-0.125f, 0.125f, 0.42f, 0.125f);
        pathsweep_numprofiles = 2;
        for (int r = 0; r < 2; r++)
            pathsweep_positions[r][0] = 0.0f, pathsweep_positions[r][1] = 1.0f;
        pathsweep_smooth = c.smooth;
        request();
        job_genpathsweep(nullptr);
        ASSERT_EQ(layer_gendone.load(), 1);
        image *r = layer_genrequest.result;
        ASSERT_NE(r, nullptr);
        EXPECT_FLOAT_EQ(pathsweep_positions[0][1], 0.9999f);
        const double y0 = ps_railworldy();
        ps_tally tally;
        for (int y = 0; y < r->height; y++)
            for (int x = 0; x < r->width; x++) {
                double wx, wy;
                world(r, x, y, &wx, &wy);
                // Away from the rail ends and the outline's edge pixels.
                double u = 0.5 + (wy - y0) / 2.0;
                if (wx < 1.5 || wx > 6.5 || u < 0.1 || u > 0.9)
                    continue;
                // The raster may place the sweep up to one working pixel
                // (1/16 unit) off: the height anywhere in that reach counts.
                double lo = 2, hi = -1;
                for (int k = -8; k <= 8; k++) {
                    double h = ps_profile(u + k / 128.0 / 2.0) * 0.99999;
                    lo = std::fmin(lo, h), hi = std::fmax(hi, h);
                }
                tally.add(((const float *)r->pixels)[y * r->width + x], lo, hi);
            }
        tally.check();
        EXPECT_NEAR(layer_genrequest.size[2], 1.0, 0.01) << "heights in project units";
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
    }
}

TEST_F(PathSweep, EdgeCases)
{
    pathsweep_rails[0] = line(-0.375f, 0.0f, 0.375f, 0.0f);
    pathsweep_numrails = 1;
    pathsweep_profiles[0] = profile(-0.125f, 0.125f, 0.3f, 0.125f);
    pathsweep_profiles[1] = profile(-0.125f, 0.125f, 0.42f, 0.125f);
    struct {
        const char *what;
        int profiles;
        float a, b;
        float zorigin;
        bool drawn;
    } cases[] = {
        {"one profile draws nothing", 1, 0.0f, 1.0f, 0.0f, false},
        {"equal positions draw nothing", 2, 0.5f, 0.5f, 0.0f, false},
        {"Z origin 0.5 under a sweep of height 1", 2, 0.0f, 1.0f, 0.5f, true},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        pathsweep_numprofiles = c.profiles;
        pathsweep_positions[0][0] = c.a, pathsweep_positions[0][1] = c.b;
        request(c.zorigin);
        job_genpathsweep(nullptr);
        EXPECT_EQ(layer_gendone.load(), 1);
        EXPECT_EQ(layer_genkind.load(), 6);
        EXPECT_EQ(project.generating[0].load(), 0);
        image *r = layer_genrequest.result;
        if (!c.drawn) {
            EXPECT_EQ(r, nullptr);
            continue;
        }
        ASSERT_NE(r, nullptr);
        const float *px = (const float *)r->pixels;
        float lo = 9, hi = -9;
        for (int i = 0; i < r->width * r->height; i++)
            lo = std::fmin(lo, px[i]), hi = std::fmax(hi, px[i]);
        // The band's edge pixels are low but covered: nothing lies below the
        // Z origin's share of the new depth.
        EXPECT_GE(lo, 0.5f / 1.5f - 1e-5f);
        EXPECT_LT(lo, 0.5f);
        EXPECT_NEAR(hi, 1.0f, 1e-4f);
        EXPECT_NEAR(layer_genrequest.size[2], 1.5f, 0.01f);
        EXPECT_FLOAT_EQ(layer_genrequest.zorigin, 0.0f);
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
    }
}

// Two straight rails and two profiles of peaks 0.5 and 1: along the centre
// line the height blends the peaks by the row weight, (3 - 2t) t t when
// smooth and t when linear; the rails' constant distance keeps the width.
TEST_F(PathSweep, SmoothAgainstLinearRowWeights)
{
    struct {
        const char *what;
        int smooth;
        double (*weight)(double t);
    } cases[] = {
        {"smooth", 1, [](double t) { return (3 - 2 * t) * t * t; }},
        {"linear", 0, [](double t) { return t; }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        pathsweep_rails[0] = line(-0.375f, -0.125f, 0.375f, -0.125f);
        pathsweep_rails[1] = line(-0.375f, 0.125f, 0.375f, 0.125f);
        pathsweep_numrails = 2;
        pathsweep_profiles[0] = profile(-0.125f, 0.125f, 0.3f, 0.0625f);
        pathsweep_profiles[1] = profile(-0.125f, 0.125f, 0.42f, 0.125f);
        pathsweep_numprofiles = 2;
        for (int r = 0; r < 2; r++)
            pathsweep_positions[r][0] = 0.0f, pathsweep_positions[r][1] = 1.0f;
        pathsweep_smooth = c.smooth;
        // Where the rails start, in world x: the low peak stands there.
        int n = 0;
        float *v = path_curveverts(p, pathsweep_rails[0], 0.5f, &n);
        ASSERT_NE(v, nullptr);
        float start[3];
        layer_localtoworld(start, v, 1);
        sys_free(v);
        request();
        job_genpathsweep(nullptr);
        image *r = layer_genrequest.result;
        ASSERT_NE(r, nullptr);
        const double y0 = ps_railworldy();
        ps_tally tally;
        for (int y = 0; y < r->height; y++)
            for (int x = 0; x < r->width; x++) {
                double wx, wy;
                world(r, x, y, &wx, &wy);
                double u = 0.5 + (wy - y0) / 2.0, t = std::fabs(wx - start[0]) / 6.0;
                if (u < 0.3 || u > 0.7 || t < 0.05 || t > 0.95)
                    continue;
                // Heights within a working pixel (1/16 unit) either way.
                double lo = 2, hi = -1;
                for (int i = -4; i <= 4; i++)
                    for (int j = -4; j <= 4; j++) {
                        double tt = t + i / 64.0 / 6.0, uu = u + j / 64.0 / 2.0;
                        double h = ps_profile(uu) * (0.5 + 0.5 * c.weight(tt)) * 0.99999;
                        lo = std::fmin(lo, h), hi = std::fmax(hi, h);
                    }
                tally.add(((const float *)r->pixels)[y * r->width + x], lo, hi);
            }
        tally.check();
    }
}

// A closed square rail: the cross-sections meet across its seam as at its
// other corners, and with Z origin 0.5 under a sweep of height 1 the hole
// it leaves in the middle reads 0.5 / 1.5.
TEST_F(PathSweep, ClosedRailHasNoSeamGap)
{
    const float sq[15] = {-0.25f, -0.25f, 0, 0.25f, -0.25f, 0, 0.25f, 0.25f, 0, -0.25f, 0.25f, 0, -0.25f, -0.25f, 0};
    pathsweep_rails[0] = addcurvepoly(p, 5, sq, 1, 0.0f);
    pathsweep_numrails = 1;
    pathsweep_profiles[0] = profile(-0.125f, 0.125f, 0.3f, 0.125f);
    pathsweep_profiles[1] = profile(-0.125f, 0.125f, 0.42f, 0.125f);
    pathsweep_numprofiles = 2;
    pathsweep_positions[0][0] = 0.0f, pathsweep_positions[0][1] = 1.0f;
    request(0.5f);
    job_genpathsweep(nullptr);
    const image *r = layer_genrequest.result;
    ASSERT_NE(r, nullptr);
    const layer_genrequestrecord &q = layer_genrequest;
    EXPECT_NEAR(q.size[2], 1.5f, 0.02f);
    auto at = [&](double wx, double wy) {
        int px = (int)std::floor((wx - (q.centre[0] - q.size[0] / 2)) / q.size[0] * r->width);
        int py = (int)std::floor(((q.centre[1] + q.size[1] / 2) - wy) / q.size[1] * r->height);
        EXPECT_TRUE(px >= 0 && py >= 0 && px < r->width && py < r->height) << wx << "," << wy;
        return px >= 0 && py >= 0 && px < r->width && py < r->height ? ((const float *)r->pixels)[py * r->width + px]
                                                                     : -1.0f;
    };
    // 0.6 units out along each corner's diagonal, inside the mitre of the
    // 2-unit ribbon: 0.2 across the profile, (0.64 + 0.5) / 1.5 high.
    float centre[3];
    const float middle[3] = {0, 0, 0};
    layer_localtoworld(centre, middle, 1);
    for (int k = 0; k < 4; k++) {
        float corner[3];
        layer_localtoworld(corner, sq + k * 3, 1);
        const double dx = corner[0] - centre[0], dy = corner[1] - centre[1], l = std::hypot(dx, dy);
        EXPECT_NEAR(at(corner[0] + 0.6 * dx / l, corner[1] + 0.6 * dy / l), (0.64 + 0.5) / 1.5, 0.05)
            << "corner " << k << (k == 0 ? ", the seam" : "");
    }
    EXPECT_NEAR(at(centre[0], centre[1]), 0.5f / q.size[2], 1e-5f) << "the hole";
}

// A straight profile rising in z as far as it runs in x: its chord's
// perpendicular direction lies along the profile itself, so no sample's
// perpendicular meets a segment. Those samples lie on the chord (height 0),
// not far out along the normal, tens of millions of units below it; the
// sweep from the parabola at the rail's start keeps its heights.
TEST_F(PathSweep, AProfileWhosePerpendicularsMeetNothingLiesFlat)
{
    pathsweep_rails[0] = line(-0.375f, 0.0f, 0.375f, 0.0f);
    pathsweep_numrails = 1;
    pathsweep_profiles[0] = profile(-0.125f, 0.125f, 0.3f, 0.125f);
    const float rising[6] = {-0.05f, 0.42f, 0.0f, 0.05f, 0.42f, 0.1f};
    pathsweep_profiles[1] = addcurvepoly(p, 2, rising, 0, 0.0f);
    pathsweep_numprofiles = 2;
    pathsweep_positions[0][0] = 0.0f, pathsweep_positions[0][1] = 1.0f;
    int n = 0;
    float *v = path_curveverts(p, pathsweep_rails[0], 0.5f, &n);
    ASSERT_NE(v, nullptr);
    float start[3], end[3];
    layer_localtoworld(start, v, 1);
    layer_localtoworld(end, v + (n - 1) * 3, 1);
    sys_free(v);
    request();
    job_genpathsweep(nullptr);
    const image *r = layer_genrequest.result;
    ASSERT_NE(r, nullptr);
    const layer_genrequestrecord &q = layer_genrequest;
    const double wx = start[0] + (end[0] - start[0]) * 0.1, wy = start[1];
    const int px = (int)std::floor((wx - (q.centre[0] - q.size[0] / 2)) / q.size[0] * r->width);
    const int py = (int)std::floor(((q.centre[1] + q.size[1] / 2) - wy) / q.size[1] * r->height);
    ASSERT_TRUE(px >= 0 && py >= 0 && px < r->width && py < r->height) << "the parabola's end is cropped away";
    EXPECT_GT(((const float *)r->pixels)[py * r->width + px], 0.8f) << "the parabola's end keeps its height";
    const float *h = (const float *)r->pixels;
    EXPECT_GT(*std::min_element(h, h + (size_t)r->width * r->height), -0.01f) << "nothing far below the chord";
    EXPECT_NEAR(q.size[2], 1.0f, 0.02f) << "the parabola's peak is the layer's height";
}

TEST_F(PathSweep, BadInputFreesTheGenerator)
{
    struct {
        const char *what;
        int layer;
        int rail; // 0 a real rail, 1 a removed curve
    } cases[] = {{"not a paths-layer", 2, 0}, {"a rail that is gone", 1, 1}};
    int rail = line(-0.375f, 0.0f, 0.375f, 0.0f);
    pathsweep_profiles[0] = profile(-0.125f, 0.125f, 0.3f, 0.125f);
    pathsweep_profiles[1] = profile(-0.125f, 0.125f, 0.42f, 0.125f);
    pathsweep_numprofiles = 2;
    pathsweep_positions[0][0] = 0.0f, pathsweep_positions[0][1] = 1.0f;
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        pathsweep_numrails = 1;
        pathsweep_rails[0] = c.rail ? 77 : rail;
        request();
        layer_genrequest.layer = c.layer;
        job_genpathsweep(nullptr);
        EXPECT_EQ(layer_genkind.load(), 0);
        EXPECT_EQ(layer_gendone.load(), 0);
        EXPECT_EQ(layer_genrequest.result, nullptr);
        EXPECT_TRUE(log.contains("job_genpathsweep: "));
    }
}

TEST_F(PathSweep, RemovingACurveShiftsTheSettings)
{
    int c[5];
    for (int i = 0; i < 5; i++)
        c[i] = line(0, 0.1f * i, 0.1f, 0.1f * i);
    pathsweep_numrails = 2;
    pathsweep_rails[0] = c[0], pathsweep_rails[1] = c[1];
    pathsweep_numprofiles = 3;
    pathsweep_profiles[0] = c[2], pathsweep_profiles[1] = c[3], pathsweep_profiles[2] = c[4];
    const float pos[2][3] = {{0.1f, 0.2f, 0.3f}, {0.4f, 0.5f, 0.6f}};
    for (int r = 0; r < 2; r++)
        for (int k = 0; k < 3; k++)
            pathsweep_positions[r][k] = pos[r][k];
    pathsweep_changed = 0;
    pathsweep_removecurve(p, c[0]); // rail 0 goes: rail 1 and its positions move up
    EXPECT_EQ(pathsweep_numrails, 1);
    EXPECT_EQ(pathsweep_rails[0], c[1]);
    EXPECT_FLOAT_EQ(pathsweep_positions[0][2], 0.6f);
    EXPECT_EQ(pathsweep_changed, 1u);
    pathsweep_removecurve(p, c[3]); // the middle profile goes
    EXPECT_EQ(pathsweep_numprofiles, 2);
    EXPECT_EQ(pathsweep_profiles[1], c[4]);
    EXPECT_FLOAT_EQ(pathsweep_positions[0][1], 0.6f);
    EXPECT_EQ(p->cnum, 3);
}

} // namespace
