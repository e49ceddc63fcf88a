// Drilling written through a shipped post and read back by LinuxCNC's
// rs274: the program is accepted, and its feed moves at each hole are the
// pecks, straight down to the depth-of-cut steps and back up to the
// retract height between them.
#include "cam/cnc.h"
#include "cam/drillholes.h"
#include "gcodetest.h"
#include "gentest.h"

using DrillGcode = GcodeTest<GenTest>;

TEST_F(DrillGcode, PecksReachRs274AsStraightFeeds)
{
    // Two holes of the bit's size in a 2 x 2 inch canvas whose top is z = 0.
    const int w = 128;
    const float p = 2.0f / w, r = 0.125f, holes[2][2] = {{0.5f, 0.5f}, {1.5f, 1.25f}};
    std::vector<float> field((size_t)w * w, 1.0f);
    for (int j = 0; j < w; j++)
        for (int i = 0; i < w; i++)
            for (const auto &h : holes) {
                const float d = std::hypot((i + 0.5f) * p - h[0], (w - j - 0.5f) * p - h[1]) - r;
                field[(size_t)j * w + i] = std::fmin(field[(size_t)j * w + i], std::clamp(d / p + 0.5f, 0.0f, 1.0f));
            }
    const float size[3] = {2, 2, 1}, frac[3] = {0, 0, 1};
    setcanvas(field, w, w, size, frac);
    cam_settool(1, "drill 1/4", tool_cylinder, 1, 2, 2 * r, 1.0f, 0.0f, 1.5f, 20.0f);
    op.type = 16, op.aux[0] = 0.5f, op.aux[1] = 0.05f;
    op.z_max = 0.35f, op.z_doc = 0.1f, op.stock = 0.02f;
    ASSERT_TRUE(rungenerator());
    ASSERT_EQ(drill_numholes, 2);
    ASSERT_GE(op.toolpath, 0);
    gcodetest_publish(op);
    const std::string program = (dir / "drill.ngc").string();
    ASSERT_NO_FATAL_FAILURE(gcodetest_write(program, "drill"));
    rs274_result run = rs274_run(program);
    ASSERT_EQ(run.status, 0) << run.canon;
    EXPECT_EQ(run.metric, 1);

    // In millimetres: down to each step, up the stock height, down again.
    const double mm = 25.4, stock = 0.02 * mm;
    const double bottoms[] = {-0.1 * mm, -0.2 * mm, -0.3 * mm, -0.35 * mm};
    for (const auto &h : holes) {
        SCOPED_TRACE("hole at " + std::to_string(h[0]) + ", " + std::to_string(h[1]));
        std::vector<double> z;
        double prev[3] = {0, 0, 0};
        for (const rs274_move &m : run.moves) {
            const bool here = std::hypot(m.end[0] - h[0] * mm, m.end[1] - h[1] * mm) < 0.03 * mm;
            if (m.feed && here) {
                EXPECT_NEAR(prev[0], m.end[0], 1e-3) << "feed moves at a hole are vertical";
                EXPECT_NEAR(prev[1], m.end[1], 1e-3) << "feed moves at a hole are vertical";
                z.push_back(m.end[2]);
            }
            std::copy(m.end, m.end + 3, prev);
        }
        std::vector<double> want;
        for (int k = 0; k < 4; k++) {
            want.push_back(bottoms[k]);
            if (k < 3)
                want.push_back(bottoms[k] + stock);
        }
        // The first feed may lower the bit from the entry height onto the top.
        if (!z.empty() && z.size() == want.size() + 1)
            z.erase(z.begin());
        ASSERT_EQ(z.size(), want.size()) << run.canon;
        for (size_t k = 0; k < z.size(); k++)
            EXPECT_NEAR(z[k], want[k], 0.002) << "feed " << k;
    }
}
