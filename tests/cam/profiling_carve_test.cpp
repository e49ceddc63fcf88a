// Profile milling judged by the independent carve simulator: a disc cut free
// with a flat cutter keeps tabs of the given height, length and spacing on
// its outline, and nothing else of the outline stands above the bottom.
#include "carvetest.h"
#include "gentest.h"

#include <algorithm>
#include <cmath>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0
constexpr int canvas_px = 128;
const double pixel = 2.0 / canvas_px;

float halves(uint32_t lo, uint32_t hi)
{
    uint32_t u = lo | hi << 16;
    float f;
    std::memcpy(&f, &u, sizeof(f));
    return f;
}
} // namespace

class ProfilingCarve : public GenTest {};

TEST_F(ProfilingCarve, TabsOnTheOutlineBelowTheTabTop)
{
    const double radius = 0.5, cutter = 0.125;
    carve_canvas canvas = carve_makecanvas(canvas_px, canvas_px, canvas_size, canvas_frac, [&](double u, double v) {
        return std::hypot(u * 2 - 1, v * 2 - 1) < radius ? 1.0 : 0.0;
    });
    setcanvas(canvas.field, canvas_px, canvas_px, canvas_size, canvas_frac);
    cam_settool(1, "flat", tool_cylinder, 1, 2, (float)cutter, 0.5f, 0.0f, 1.5f, 20.0f);
    op.type = 8;
    op.aux[0] = 0.25f; // half the canvas height
    op.stock = (float)cutter / 2; // the cutter's edge on the outline
    op.z_doc = 0.1f;
    op.z_max = 0.2f;
    const uint32_t t = 819, l = 6554, h = 6554; // spacing 0.3, length 0.1, height 0.05
    op.aux[1] = halves(0, t);
    op.aux[2] = halves(l, h);
    const double spacing = t / 65535.0 * 24.0, length = l / 65535.0, height = h / 65535.0 * 0.5;
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0) << "the job failed";

    carve_grid g = canvas.grid(canvas.top());
    carve_run(g, carve_toolof(1, 1.0), carve_frommoves(op.toolpath));
    const double bottom = canvas.top() - op.z_max, tabtop = bottom + height;

    // Walk the cutter's track round the disc and find the standing stretches.
    const double track = radius + cutter / 2;
    const int samples = 4000;
    std::vector<double> z(samples);
    for (int k = 0; k < samples; k++) {
        const double a = 2 * M_PI * k / samples;
        const int i = std::clamp((int)((1 + track * std::cos(a)) / pixel), 0, g.w - 1);
        const int j = std::clamp((int)((1 - track * std::sin(a)) / pixel), 0, g.h - 1);
        z[k] = g.at(i, j);
        EXPECT_TRUE(std::fabs(z[k] - bottom) < 1e-3 || std::fabs(z[k] - tabtop) < 1e-3)
            << "at " << a << " the outline stands at " << z[k];
    }
    // Tabs start where the track rises: the walk starts in a cut.
    const auto incut = std::find_if(z.begin(), z.end(), [&](double h) { return std::fabs(h - bottom) < 1e-3; });
    ASSERT_NE(incut, z.end()) << "the outline is cut somewhere";
    std::rotate(z.begin(), incut, z.end());
    std::vector<double> starts, lengths;
    for (int k = 1; k < samples; k++) {
        if (z[k] > z[k - 1] + 1e-3)
            starts.push_back(k);
        if (z[k] < z[k - 1] - 1e-3)
            lengths.push_back(k - starts.back());
    }
    const double step = 2 * M_PI * track / samples;
    ASSERT_GE(starts.size(), 5u);
    // Tabs repeat every spacing + the tab's top (its length and the
    // cutter); only at the loop's seam may the last tab be cut short.
    const double period = spacing + length + cutter;
    int seams = 0;
    for (size_t i = 0; i + 1 < lengths.size(); i++) {
        EXPECT_NEAR(lengths[i] * step, length, pixel) << "tab " << i;
        const double gap = (starts[i + 1] - starts[i]) * step;
        if (std::fabs(gap - period) > pixel) {
            seams++;
            EXPECT_LT(gap, 2 * period) << "tab " << i;
        }
    }
    EXPECT_LE(seams, 1);
}
