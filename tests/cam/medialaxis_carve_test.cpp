// Medial-axis carving judged by the independent carve simulator: a star and
// a bar carved with a V-bit over several levels open exactly the shapes at
// the stock top (within a pixel) and gouge nothing outside them.
#include "carvetest.h"
#include "gentest.h"
#include "shapestest.h"

#include <cmath>
#include <sstream>

namespace {
const float canvas_size[3] = {1, 1, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0
constexpr int canvas_px = 96;
const double pixel = 1.0 / canvas_px;

// A five-pointed star round (0.3, 0.35) and a bar, in canvas units (v down).
bool inshape(double u, double v)
{
    if (u > 0.62 && u < 0.86 && v > 0.15 && v < 0.85)
        return std::fabs(u - 0.74) < 0.06 || (v > 0.7 && v < 0.8);
    const double x = u - 0.3, y = v - 0.35, a = std::atan2(y, x), r = std::hypot(x, y);
    const double k = std::fmod(a + 10 * M_PI, 2 * M_PI / 5) - M_PI / 5; // angle from a tip's bisector
    const double outer = 0.22, inner = 0.09;
    // Distance to the star's edge along the ray, between tip and notch.
    const double edge = inner + (outer - inner) * (1 - std::fabs(k) / (M_PI / 5));
    return r < edge;
}
} // namespace

class MedialCarve : public GenTest {};

TEST_F(MedialCarve, VCarveOpensTheShapesAtTheTop)
{
    carve_canvas canvas = carve_makecanvas(canvas_px, canvas_px, canvas_size, canvas_frac,
                                           [](double u, double v) { return inshape(u, v) ? 1.0 : 0.0; });
    setcanvas(canvas.field, canvas_px, canvas_px, canvas_size, canvas_frac);
    cam_settool(1, "vee", tool_vbit, 1, 2, 0.25f, 0.0f, 60.0f, 1.5f, 20.0f);
    op.type = 6;
    op.aux[0] = 0.25f; // half the canvas height
    op.z_doc = 0.05f;
    op.z_max = 0.15f;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0) << "the job failed";

    carve_grid g = canvas.grid(canvas.top());
    carve_run(g, carve_toolof(1, 1.0), carve_frommoves(op.toolpath));
    int gouges = 0, missed = 0, inside = 0;
    for (int j = 0; j < g.h; j++)
        for (int i = 0; i < g.w; i++) {
            const double u = (i + 0.5) / g.w, v = (j + 0.5) / g.h;
            const bool cut = g.at(i, j) < canvas.top() - 1e-4;
            // Within a pixel of the shape on either side the cut may differ.
            bool near = false, deep = true;
            for (int dj = -1; dj <= 1; dj++)
                for (int di = -1; di <= 1; di++) {
                    const bool s = inshape(u + di * pixel, v + dj * pixel);
                    near = near || s;
                    deep = deep && s;
                }
            inside += deep;
            if (cut && !near)
                gouges++;
            if (!cut && deep)
                missed++;
        }
    EXPECT_EQ(gouges, 0);
    EXPECT_GT(inside, 300);
    EXPECT_EQ(missed, 0) << "of " << inside << " pixels well inside the shapes";
}

// Lettering and stars drawn by shapely, strokes within the V-bit's reach,
// carved from a paths-layer over three levels: at the stock top the outline
// of the carved pixels lies on the shapes' outline (shapely's Hausdorff
// distance) and no pixel is cut more than 1.5 pixels outside them.
TEST_F(MedialCarve, VCarvedLetteringMatchesTheOutlineAtTheTop)
{
    const std::vector<std::vector<double>> rings = shapes_rings("lettering");
    ASSERT_FALSE(rings.empty()) << "/usr/bin/python3 tests/cam/shapes_shapely.py failed (needs python3-shapely)";
    const float savedsize[3] = {project.size[0], project.size[1], project.size[2]};
    project.size[0] = project.size[1] = 1.0f;
    project.size[2] = 0.5f;
    const uint32_t uid = 0x7E77E125;
    const int slot = shapes_pathslayer(rings, uid, 1);
    ASSERT_GE(slot, 0);
    const int w = 128;
    carve_canvas canvas = carve_makecanvas(w, w, canvas_size, canvas_frac, [](double, double) { return 0.0; });
    setcanvas(canvas.field, w, w, canvas_size, canvas_frac);
    cam_settool(1, "vee", tool_vbit, 1, 2, 0.25f, 0.0f, 60.0f, 1.5f, 20.0f);
    op.type = 6;
    op.flags = camop_pathslayer;
    op.aux[2] = shapes_word(uid);
    op.z_doc = 0.05f;
    op.z_max = 0.15f;
    ASSERT_TRUE(rungenerator());
    project_layerfree(slot);
    std::memcpy(project.size, savedsize, sizeof(savedsize));
    ASSERT_GE(op.toolpath, 0) << "the job failed";

    carve_grid g = canvas.grid(canvas.top());
    // The bit never goes below z_max: the cone above that is all it needs.
    carve_run(g, carve_toolof(1, op.z_max), carve_frommoves(op.toolpath));
    std::ostringstream q;
    q << "[{\"op\":\"carved\",\"name\":\"lettering\",\"pixel\":" << 1.0 / w << ",\"cells\":[";
    int cut = 0;
    for (int j = 0; j < g.h; j++)
        for (int i = 0; i < g.w; i++)
            if (g.at(i, j) < canvas.top() - 1e-4)
                q << (cut++ ? "," : "") << "[" << g.cx(i) << "," << g.cy(j) << "]";
    q << "]}]";
    ASSERT_GT(cut, 500);
    const std::vector<std::string> a = shapes_ask(q.str());
    ASSERT_EQ(a.size(), 1u);
    // Hausdorff distance of all the lettering, whether cut outside the
    // shapes, and per glyph: T, O, L and the two stars.
    std::istringstream s(a[0]);
    std::string word;
    double hausdorff = 1e9, outside = -1, glyph[5];
    s >> word >> hausdorff >> word >> outside >> word;
    for (double &d : glyph)
        s >> d;
    ASSERT_FALSE(s.fail()) << a[0];
    EXPECT_EQ(outside, 0) << "pixels cut more than 1.5 pixels outside the shapes";
    // The round glyph is carved to its outline within a pixel; the tracer's
    // smoothing passes round sharp corners and star tips by up to two.
    EXPECT_LE(glyph[1], 1.0 / w) << "the O";
    EXPECT_LE(hausdorff, 2.0 / w);
}
