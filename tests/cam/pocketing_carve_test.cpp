// Offset pockets judged independently: shapely measures the cuts against
// the pocket's own shape (walls kept r + stock away, everything the cutter
// can reach swept), the levels are the frame's, and the carve simulator
// shows the floors cut no deeper than the final depth and the walls and
// islands left standing. A representative set of shapes, inputs, stocks
// and entries keeps the run short; each of them appears at least once.
#include "carvetest.h"
#include "pocketingfixture.h"

#include <cmath>
#include <set>

namespace {

constexpr int canvas_px = 80;
constexpr double pixel = 1.0 / canvas_px;

struct Case {
    const char *shape;
    int paths; // 1: the shape's rings as a paths-layer, 0: the canvas
    float stock;
    int entry;
    int dir; // 0 conventional, 1 climb
};

std::string cutsjson(const std::vector<pocket_cut> &cuts)
{
    std::ostringstream q;
    q << "[";
    for (size_t c = 0; c < cuts.size(); c++) {
        q << (c ? "," : "") << "[";
        for (size_t i = 0; i < cuts[c].verts.size(); i += 3)
            q << (i ? "," : "") << "[" << cuts[c].verts[i] << "," << cuts[c].verts[i + 1] << ","
              << cuts[c].verts[i + 2] << "]";
        q << "]";
    }
    q << "]";
    return q.str();
}

class PocketingCarve : public PocketTest {
protected:
    // One run of the generator on a shape, judged every way.
    void judge(const Case &c)
    {
        std::vector<float> heights;
        std::vector<std::vector<double>> rings = shapecanvas(c.shape, canvas_px, &heights);
        ASSERT_FALSE(rings.empty());
        if (c.paths) {
            pathslayer(rings);
            // The paths alone say what to clear: a canvas flat at the top.
            const float size[3] = {1, 1, 1}, frac[3] = {0, 0, 0};
            setcanvas(std::vector<float>((size_t)canvas_px * canvas_px, 1.0f), canvas_px, canvas_px, size, frac);
        }
        op.stock = c.stock;
        op.entry = c.entry;
        op.dir = c.dir;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0) << "the job failed";
        const std::vector<pocket_cut> cuts = pocket_cuts(op.toolpath);
        ASSERT_FALSE(cuts.empty());

        // Levels: the cuts (entries aside) lie on max(Z1, Z0 - kD) = 0.9, 0.8
        // and 0.75, each level cut.
        const double want[] = {0.9, 0.8, 0.75};
        std::set<int> seen;
        for (const pocket_cut &p : cuts)
            if (!p.entry())
                for (size_t i = 2; i < p.verts.size(); i += 3) {
                    int k = 0;
                    while (k < 3 && std::fabs(p.verts[i] - want[k]) > 1e-5)
                        k++;
                    ASSERT_LT(k, 3) << "a cut at z " << p.verts[i];
                    seen.insert(k);
                }
        EXPECT_EQ(seen.size(), 3u);

        // Walls and coverage at the final level, measured by shapely.
        std::vector<pocket_cut> last;
        for (const pocket_cut &p : cuts)
            if (p.entry() || std::fabs(p.verts[2] - 0.75f) < 1e-5)
                last.push_back(p);
        const double r = tooldiameter / 2;
        std::ostringstream q;
        q << "{\"op\":\"check\",\"shape\":\"" << c.shape << "\",\"r\":" << r << ",\"stock\":" << c.stock
          << ",\"px\":" << pixel << ",\"step\":" << step() << ",\"top\":1,\"cuts\":" << cutsjson(last) << "}";
        pocket_answer a = pocket_shapely(q.str());
        ASSERT_EQ(a["wall"].size(), 1u) << "shapely (python3-shapely) did not answer";
        const double wall = a["wall"][0][0];
        const std::vector<double> &at = a["at"][0];
        // Entries included: a helix turns about a centre beside its start,
        // on the side of the area being cleared.
        EXPECT_GE(wall, r + c.stock - pixel)
            << "a cut comes too near a wall at " << at[0] << "," << at[1] << "," << at[2] << " (flags "
            << (int)last[(size_t)at[3]].flags << ")";
        EXPECT_LE(wall, r + c.stock + 1.5 * pixel) << "the rings keep further from the walls than the stock asks";
        EXPECT_LT(a["uncovered"][0][0], 1e-6) << "the cuts leave part of the pocket standing";

        // Carved: floors no deeper than the final depth; outside the pocket
        // (beyond what a negative stock takes) nothing is touched.
        carve_canvas canvas{canvas_px, canvas_px, {1, 1, 1}, {0, 0, 0}, heights};
        const carve_grid target = canvas.world();
        carve_grid g = canvas.grid(canvas.top());
        carve_run(g, carve_toolof(1, 1.0), carve_frommoves(op.toolpath));
        const double reach = std::max(0.0f, -c.stock) + 1.5 * pixel;
        const int window = (int)std::ceil(reach / pixel);
        int below = 0, bitten = 0;
        for (int j = 0; j < g.h; j++)
            for (int i = 0; i < g.w; i++) {
                if (g.at(i, j) < 0.75 - 1e-4)
                    below++;
                if (target.at(i, j) < 1.0 || g.at(i, j) > 1.0 - 1e-4)
                    continue;
                // A cut pixel of the wall must lie within reach of the pocket.
                bool near = false;
                for (int y = std::max(0, j - window); y <= std::min(g.h - 1, j + window) && !near; y++)
                    for (int x = std::max(0, i - window); x <= std::min(g.w - 1, i + window) && !near; x++)
                        near = target.at(x, y) < 1.0 && std::hypot(x - i, y - j) * pixel <= reach;
                bitten += !near;
            }
        EXPECT_EQ(below, 0) << "pixels cut below the final depth";
        EXPECT_EQ(bitten, 0) << "wall or island pixels cut away";
    }
};

} // namespace

// Each shape once, each input twice, each stock and each entry at least once;
// helixes turning both ways.
TEST_F(PocketingCarve, WallsCoverageLevelsAndIslands)
{
    const Case cases[] = {{"rect2", 0, 0.0f, 2, 0},    {"ell", 1, 0.02f, 1, 0},  {"ring", 1, -0.02f, 0, 0},
                          {"letter", 0, -0.02f, 1, 0}, {"rect2", 0, 0.0f, 2, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.shape) + (c.paths ? " paths" : " canvas") + (c.dir ? " climb" : ""));
        TearDown();
        SetUp();
        judge(c);
    }
}
