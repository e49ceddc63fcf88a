// Medial-axis carving judged by the independent carve simulator: a star and
// a bar carved with a V-bit over several levels open exactly the shapes at
// the stock top (within a pixel) and gouge nothing outside them.
#include "carvetest.h"
#include "gentest.h"

#include <cmath>

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
