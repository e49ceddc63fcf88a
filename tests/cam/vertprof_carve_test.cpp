// Fillet carving on a square, a star and a square with a notch, judged from
// the drawn region: strokes across the traced outline (perpendicular along
// edges, fanned round convex corners only, spaced by the stepover), cut
// heights on an independent fillet (a quarter circle over scipy's exact
// distance transform of the region, dilated by the analytic cutter), the
// order and direction rules for the conformed pieces, and the refusals.
#include "cam/vertprof.h"
#include "carvetest.h"
#include "geom/path.h"
#include "gentest.h"
#include "project/layer.h"
#include "testchild.h"
#include "testtemp.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

const int res = 128;
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0
const double px = 2.0 / res;

using ring = std::vector<std::array<double, 2>>;

bool inside(const ring &r, double x, double y)
{
    bool in = false;
    for (size_t i = 0, j = r.size() - 1; i < r.size(); j = i++)
        if ((r[i][1] > y) != (r[j][1] > y) &&
            x < (r[j][0] - r[i][0]) * (y - r[i][1]) / (r[j][1] - r[i][1]) + r[i][0])
            in = !in;
    return in;
}

double edgedist(const ring &r, double x, double y)
{
    double best = 1e9;
    for (size_t i = 0, j = r.size() - 1; i < r.size(); j = i++) {
        const double ex = r[i][0] - r[j][0], ey = r[i][1] - r[j][1];
        double t = ((x - r[j][0]) * ex + (y - r[j][1]) * ey) / (ex * ex + ey * ey);
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, std::hypot(x - r[j][0] - t * ex, y - r[j][1] - t * ey));
    }
    return best;
}

ring star()
{
    ring r;
    for (int k = 0; k < 10; k++) {
        const double a = M_PI / 2 + k * M_PI / 5, rad = k % 2 ? 0.45 : 0.75;
        r.push_back({1 + rad * std::cos(a), 1 + rad * std::sin(a)});
    }
    return r;
}

struct region {
    const char *name;
    ring outline;
    int reach; // pixels of placement the height check allows
};
const region regions[] = {
    {"square", {{0.5, 0.5}, {1.5, 0.5}, {1.5, 1.5}, {0.5, 1.5}}, 1},
    // The traced region loses up to a pixel in the star's sharp corners,
    // where the fillet is steepest.
    {"star", star(), 2},
    {"square with a notch",
     {{0.5, 0.5}, {1.5, 0.5}, {1.5, 1.5}, {1.2, 1.5}, {1.2, 1.15}, {0.8, 1.15}, {0.8, 1.5}, {0.5, 1.5}},
     1},
};

// scipy's exact distance (world units) from each inside pixel centre to
// the edge of the region's pixels; empty when scipy did not answer.
std::vector<double> scipydistance(const std::vector<char> &mask)
{
    const std::string in = testtemp_file("vprof-in"), out = testtemp_file("vprof-out");
    {
        std::ofstream f(in);
        f << res << ' ' << res << '\n';
        for (int j = 0; j < res; j++) {
            for (int i = 0; i < res; i++)
                f << (mask[(size_t)j * res + i] ? '1' : '0');
            f << '\n';
        }
    }
    std::vector<double> d;
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/cam/vertprof_scipy.py", in, out}, 120) == 0) {
        std::ifstream f(out);
        double v;
        while (f >> v)
            d.push_back(v > 0 ? (v - 0.5) * px : 0.0); // to the edge half way between pixel centres
    }
    remove(in.c_str());
    remove(out.c_str());
    return d;
}

double angle(double ax, double ay, double bx, double by)
{
    return std::fabs(std::atan2(ax * by - ay * bx, ax * bx + ay * by));
}

} // namespace

class Fillet : public GenTest {
protected:
    carve_canvas canvas{};
    void SetUp() override
    {
        GenTest::SetUp();
        cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0625f, 1.5f, 20.0f);
    }
    // The region raised to the canvas top, the rest at the bottom; edges
    // anti-aliased over a pixel. The contour level lies half way.
    void draw(const ring &r)
    {
        canvas = carve_makecanvas(res, res, canvas_size, canvas_frac, [&](double u, double v) {
            const double x = u * 2, y = 2 - v * 2, d = edgedist(r, x, y) / px;
            return std::clamp(inside(r, x, y) ? 0.5 + d : 0.5 - d, 0.0, 1.0);
        });
        setcanvas(canvas.field, canvas.w, canvas.h, canvas.size, canvas.frac);
    }
    void setop()
    {
        resetop();
        op.type = 17, op.aux[0] = 0.25f, op.z_min = 0.0f, op.z_max = 0.1f, op.step = 0.05f;
        op.cont = cont_new();
    }
    // The working contour: the traced outlines first, then the strokes.
    void split(std::vector<std::vector<std::array<float, 3>>> &outlines,
               std::vector<std::array<float, 4>> &strokes, std::vector<int> &source) const
    {
        uint32_t at = 0;
        for (uint32_t p = 0; p < op.cont->numpolys; at += op.cont->vertcount[p], p++) {
            const float *v = op.cont->verts + 3 * (size_t)at;
            if (op.cont->vertcount[p] == 2 && !op.cont->closed[p]) {
                strokes.push_back({v[0], v[1], v[3], v[4]});
                source.push_back(op.cont->link[p]);
            } else {
                outlines.emplace_back();
                for (uint32_t k = 0; k < op.cont->vertcount[p]; k++)
                    outlines.back().push_back({v[3 * k], v[3 * k + 1], v[3 * k + 2]});
            }
        }
    }
};

TEST_F(Fillet, StrokesCrossTheOutlineAtTheStepover)
{
    const double r = 0.0625, H = 0.1, R = r + H, step = 0.05;
    for (const region &g : regions) {
        SCOPED_TRACE(g.name);
        draw(g.outline);
        setop();
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        EXPECT_TRUE(notices().empty());
        std::vector<std::vector<std::array<float, 3>>> outlines;
        std::vector<std::array<float, 4>> strokes;
        std::vector<int> source;
        split(outlines, strokes, source);
        ASSERT_EQ(outlines.size(), 1u);
        const auto &o = outlines[0];
        ASSERT_GT(strokes.size(), 20u);
        int fans = 0, concavefans = 0;
        for (size_t k = 0; k < strokes.size(); k++) {
            const auto &s = strokes[k];
            const double nx = s[2] - s[0], ny = s[3] - s[1]; // inner end to outer end
            EXPECT_NEAR(std::hypot(nx, ny), R, 1e-4);
            // It heads for the region: a pixel in from its outer end is nearer.
            const double hx = s[2] - nx / R * px, hy = s[3] - ny / R * px;
            EXPECT_TRUE(inside(g.outline, hx, hy) || edgedist(g.outline, hx, hy) < edgedist(g.outline, s[2], s[3]))
                << "stroke " << k << " points away from the region";
            // Where the outer end lies on the outline: inside an edge, or on a corner.
            int seg = -1, corner = -1;
            for (size_t i = 0; i + 1 < o.size(); i++) {
                const double ex = o[i + 1][0] - o[i][0], ey = o[i + 1][1] - o[i][1], l2 = ex * ex + ey * ey;
                const double t = ((s[2] - o[i][0]) * ex + (s[3] - o[i][1]) * ey) / l2;
                const double off = std::fabs((s[2] - o[i][0]) * ey - (s[3] - o[i][1]) * ex) / std::sqrt(l2);
                if (off < 1e-4 && t > -1e-4 && t < 1 + 1e-4) {
                    if (std::hypot(s[2] - o[i][0], s[3] - o[i][1]) < 1e-4)
                        corner = (int)i;
                    else if (std::hypot(s[2] - o[i + 1][0], s[3] - o[i + 1][1]) < 1e-4)
                        corner = (int)(i + 1) % (int)(o.size() - 1);
                    else
                        seg = (int)i;
                }
            }
            ASSERT_TRUE(seg >= 0 || corner >= 0) << "stroke " << k << " does not end on the outline";
            const size_t n = o.size() - 1;
            if (seg >= 0) {
                const double ex = o[seg + 1][0] - o[seg][0], ey = o[seg + 1][1] - o[seg][1];
                EXPECT_NEAR(angle(ex, ey, nx, ny), M_PI / 2, 2 * M_PI / 180) << "stroke " << k;
                continue;
            }
            // On a corner: between the normals of the edges on either side.
            const auto &a = o[(corner + n - 1) % n], &b = o[corner], &c = o[(corner + 1) % n];
            const double in1 = angle(b[1] - a[1], a[0] - b[0], nx, ny), in2 = angle(b[1] - a[1], a[0] - b[0], -nx, -ny);
            const double n1x = (in1 < in2 ? 1 : -1) * (b[1] - a[1]), n1y = (in1 < in2 ? 1 : -1) * (a[0] - b[0]);
            const double n2x = (in1 < in2 ? 1 : -1) * (c[1] - b[1]), n2y = (in1 < in2 ? 1 : -1) * (b[0] - c[0]);
            const double span = angle(n1x, n1y, n2x, n2y);
            EXPECT_LE(angle(n1x, n1y, nx, ny) + angle(nx, ny, n2x, n2y), span + 2 * M_PI / 180) << "stroke " << k;
            // Convex: the outline turns toward the region (the strokes' inner side).
            const double turn = (b[0] - a[0]) * (c[1] - b[1]) - (b[1] - a[1]) * (c[0] - b[0]);
            const double side = (b[0] - a[0]) * (-ny) - (b[1] - a[1]) * (-nx);
            const bool convex = turn * side > 0;
            // Strokes along the next edge start on the corner with its normal.
            const bool fanned = angle(nx, ny, n2x, n2y) > 2 * M_PI / 180;
            fans += fanned;
            concavefans += fanned && !convex;
        }
        EXPECT_GT(fans, 0);
        EXPECT_EQ(concavefans, 0) << "concave corners get no fan";
        // Spacing between neighbours along one edge, and within one corner's fan.
        int measured = 0;
        for (size_t k = 0; k + 1 < strokes.size(); k++) {
            const auto &s = strokes[k], &t = strokes[k + 1];
            const double moved = std::hypot(t[2] - s[2], t[3] - s[3]);
            const double turned = angle(s[2] - s[0], s[3] - s[1], t[2] - t[0], t[3] - t[1]);
            if (turned < 0.01) {
                EXPECT_NEAR(moved, step, px) << "strokes " << k << " and " << k + 1 << " along an edge";
                measured++;
            } else if (moved < 1e-5) {
                EXPECT_NEAR(turned * R, step, px) << "strokes " << k << " and " << k + 1 << " in a fan";
                measured++;
            }
        }
        EXPECT_GT(measured, (int)strokes.size() / 2);
        toolpath_free(op.toolpath);
    }
}

// Every cut point's height against the fillet built here: scipy's exact
// distance d of the pixel centres inside the region, the quarter circle
// bottom + H sqrt(1 - (1 - min(d / H, 1))^2) inside, nothing outside,
// dilated by the analytic ball and kept at or above the bottom.
TEST_F(Fillet, CutHeightsFollowAnIndependentFillet)
{
    const double H = 0.1, bottom = -0.1;
    for (const region &g : regions) {
        SCOPED_TRACE(g.name);
        draw(g.outline);
        std::vector<char> mask((size_t)res * res);
        for (int j = 0; j < res; j++)
            for (int i = 0; i < res; i++)
                mask[(size_t)j * res + i] = inside(g.outline, (i + 0.5) * px, 2 - (j + 0.5) * px);
        const std::vector<double> d = scipydistance(mask);
        ASSERT_EQ(d.size(), mask.size()) << "/usr/bin/python3 tests/cam/vertprof_scipy.py failed (needs python3-scipy)";
        carve_grid fillet = canvas.grid(-1e3);
        for (size_t k = 0; k < d.size(); k++)
            if (mask[k]) {
                const double t = std::min(d[k] / H, 1.0);
                fillet.z[k] = bottom + H * std::sqrt(1 - (1 - t) * (1 - t));
            }
        carve_grid tip = carve_dilate(fillet, carve_toolof(1, 0.1));
        for (double &z : tip.z)
            z = std::max(z, bottom);
        setop();
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        const toolpath &tp = toolpaths[op.toolpath];
        ASSERT_GT(tp.num_paths, 20u);
        int checked = 0;
        for (uint32_t p = 0; p < tp.num_paths; p++)
            for (uint32_t k = 0; k < tp.paths[p].count; k++) {
                const float *v = tp.verts + 3 * (size_t)(tp.paths[p].first + k);
                // Bilinear between the four pixel centres round the point.
                const double fx = v[0] / px - 0.5, fy = (2 - v[1]) / px - 0.5;
                const int i = (int)std::floor(fx), j = (int)std::floor(fy);
                const int reach = g.reach;
                if (i < reach || j < reach || i + 1 >= res - reach || j + 1 >= res - reach)
                    continue;
                const double ax = fx - i, ay = fy - j;
                const double want = (1 - ay) * ((1 - ax) * tip.at(i, j) + ax * tip.at(i + 1, j)) +
                                    ay * ((1 - ax) * tip.at(i, j + 1) + ax * tip.at(i + 1, j + 1));
                double change = 0;
                for (int dj = -reach; dj <= reach; dj++)
                    for (int di = -reach; di <= reach; di++)
                        change = std::max(change, std::fabs(tip.at(i + di, j + dj) - tip.at(i, j)));
                EXPECT_NEAR(v[2], want, change + 1e-3) << "path " << p << " point " << k << " at " << v[0] << ", "
                                                      << v[1];
                checked++;
            }
        EXPECT_GT(checked, 200);
        toolpath_free(op.toolpath);
    }
}

// Conformed pieces to cuts: which end each starts from, the sign change per
// stroke (a stroke's later pieces carry it already) and the links.
TEST(FilletCuts, DirectionAndLinks)
{
    // Four pieces: stroke 0 in two pieces, then strokes 1 and 2; each runs
    // from x = 0 (inner end) to x = 0.3 at its own y, 0.05 apart.
    contour *k = cont_new();
    ASSERT_NE(k, nullptr);
    const int strokeof[] = {0, 0, 1, 2};
    for (int p = 0; p < 4; p++) {
        float v[12];
        for (int i = 0; i < 4; i++)
            v[3 * i] = 0.1f * i, v[3 * i + 1] = 0.05f * p, v[3 * i + 2] = -0.01f * i;
        cont_addpoly(k, v, 4, 0, strokeof[p], "test");
    }
    const float three[9] = {0, 1, 0, 0.1f, 1, 0, 0.2f, 1, 0};
    cont_addpoly(k, three, 3, 0, 3, "test"); // under 4 points: skipped
    struct Case {
        const char *what;
        int dir;
        uint32_t flags;
        bool fromfirst[4];
        bool linked[4];
    };
    const Case cases[] = {
        {"forward: from the inner end", 0, 0, {true, true, true, true}, {false, false, false, false}},
        {"reversed: from the outer end", 1, 0, {false, false, false, false}, {false, false, false, false}},
        {"alternating per stroke", 2, 0, {true, false, false, true}, {false, false, false, false}},
        {"alternating with links within 1.5 stepovers", 2, 0x4, {true, false, false, true}, {false, true, false, true}},
        {"links only with alternating", 0, 0x4, {true, true, true, true}, {false, false, false, false}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        camop op{};
        op.dir = c.dir, op.flags = c.flags;
        const int slot = toolpath_new();
        ASSERT_GE(slot, 0);
        EXPECT_EQ(vertprof_addcuts(slot, &op, 0.05f, k), 4);
        const toolpath &tp = toolpaths[slot];
        ASSERT_EQ(tp.num_paths, 4u);
        for (int p = 0; p < 4; p++) {
            const float *first = tp.verts + 3 * (size_t)tp.paths[p].first;
            EXPECT_EQ(first[0], c.fromfirst[p] ? 0.0f : 0.3f) << "piece " << p;
            EXPECT_EQ((tp.paths[p].flags & PATH_LINK) != 0, c.linked[p]) << "piece " << p;
        }
        toolpath_free(slot);
    }
    cont_free(k);
}

TEST_F(Fillet, RefusedOrFailed)
{
    struct Case {
        const char *what;
        float step;
        const char *line; // logged
    };
    const Case cases[] = {
        {"no stepover", 0.0f, "stepover 0.000000 must be above 0"},
        {"a negative stepover", -0.05f, "must be above 0"},
        {"strokes beyond the stroke contour", 0.00005f, "more than 65536 strokes"},
    };
    draw(regions[0].outline);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setop();
        op.step = c.step;
        ASSERT_TRUE(rungenerator(nullptr, 60.0));
        EXPECT_EQ(op.toolpath, -1);
        const auto n = notices();
        ASSERT_EQ(n.size(), 1u);
        EXPECT_EQ(n[0], "Operation Toolpath Failure");
        EXPECT_TRUE(quiet.contains(c.line));
    }
}

// With no fillet height every distance saturates: a flat step, every cut
// at the bottom.
TEST_F(Fillet, NoHeightCutsFlatAtTheBottom)
{
    draw(regions[0].outline);
    setop();
    op.z_min = op.z_max = 0.1f;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    const toolpath &tp = toolpaths[op.toolpath];
    ASSERT_GT(tp.num_paths, 20u);
    for (uint32_t k = 0; k < tp.num_verts; k++)
        ASSERT_NEAR(tp.verts[3 * k + 2], -0.1f, 1e-5) << "point " << k;
}

// A paths-layer square as the region: with 0x800 its inside is rounded, as
// the canvas square is; without, the material round it (a pocket's rim),
// so the traced outline lies inside the square.
TEST_F(Fillet, PathsInputRoundsInsideOrOutside)
{
    draw(ring{}); // a flat canvas: the region comes from the paths alone
    const int slot = project_layeralloc(layer_paths);
    ASSERT_GE(slot, 0);
    project_layer &l = project.layers[slot];
    project.size[0] = project.size[1] = 2, project.size[2] = 0.5f;
    project.scale = 1.0f;
    l.pos[0] = l.pos[1] = 1;
    l.size[0] = l.size[1] = 2, l.size[2] = 1;
    l.data.pth = path_new();
    const int c = path_newcurve(l.data.pth);
    const float sq[5][3] = {
        {-0.25f, -0.25f, 0}, {0.25f, -0.25f, 0}, {0.25f, 0.25f, 0}, {-0.25f, 0.25f, 0}, {-0.25f, -0.25f, 0}};
    for (const auto &q : sq)
        path_prependknot(l.data.pth, c, q);
    l.data.pth->curves[c].closed = 1;
    const uint32_t uid = l.uid;
    struct Case {
        const char *what;
        uint32_t flags;
        double outline; // half side of the traced outline's box
    };
    const double r = 0.0625;
    const Case cases[] = {{"inside rounded", 0x200 | 0x800, 0.5 + 1.05 * r},
                          {"outside rounded", 0x200, 0.5 - 1.05 * r}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        setop();
        op.flags = k.flags;
        std::memcpy(&op.aux[2], &uid, sizeof(uid));
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        EXPECT_TRUE(notices().empty());
        std::vector<std::vector<std::array<float, 3>>> outlines;
        std::vector<std::array<float, 4>> strokes;
        std::vector<int> source;
        split(outlines, strokes, source);
        // The square's outline; the rim case also traces bits at the canvas
        // corners, where the region meets the canvas edge.
        ASSERT_GE(outlines.size(), 1u);
        size_t square = 0;
        for (size_t i = 0; i < outlines.size(); i++)
            if (outlines[i].size() > outlines[square].size())
                square = i;
        double lo = 1e9, hi = -1e9;
        for (const auto &p : outlines[square])
            lo = std::min(lo, (double)p[0]), hi = std::max(hi, (double)p[0]);
        EXPECT_NEAR(lo, 1 - k.outline, px);
        EXPECT_NEAR(hi, 1 + k.outline, px);
        ASSERT_FALSE(strokes.empty());
        for (size_t i = 0; i < strokes.size(); i++) // inner ends lie toward the rounded side
            if (const auto &s = strokes[i]; source[i] == (int)square)
                EXPECT_EQ(std::max(std::fabs(s[0] - 1), std::fabs(s[1] - 1)) <
                              std::max(std::fabs(s[2] - 1), std::fabs(s[3] - 1)),
                          k.outline > 0.5);
        toolpath_free(op.toolpath);
    }
    project_layerfree(slot);
}
