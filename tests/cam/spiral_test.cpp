// Spiral carving: where the spiral stops (the farthest canvas corner or a
// user radius), its gap per turn and turning sense measured from its
// vertices in polar form, pieces never linked, the vertex cap, and the
// refusal of a stepover that would never end the spiral.
#include "cam/spiral.h"

#include "parallelfixture.h"
#include "testlog.h"

#include <cmath>
#include <vector>

namespace {
const float canvas_size[3] = {2, 1, 0.5f}, top_frac[3] = {0, 0, 1};

struct polar {
    double r, theta; // theta unwrapped along the spiral, counter-clockwise positive
};

std::vector<polar> topolar(const contour *c, double cx, double cy)
{
    std::vector<polar> out;
    double last = 0;
    for (uint32_t k = 0; k < c->vertcount[0]; k++) {
        const double dx = c->verts[3 * k] - cx, dy = c->verts[3 * k + 1] - cy;
        const double r = std::hypot(dx, dy);
        double a = r > 0 ? std::atan2(dy, dx) : last;
        while (a - last > M_PI)
            a -= 2 * M_PI;
        while (a - last < -M_PI)
            a += 2 * M_PI;
        out.push_back({r, a});
        last = a;
    }
    return out;
}
} // namespace

class Spiral : public ParallelTest {
protected:
    void SetUp() override
    {
        ParallelTest::SetUp();
        flatcanvas(64, 32, canvas_size);
    }
    // op.cont receives the base spiral.
    void setop(float x, float y, float radius, int dir, float step)
    {
        lineop(3, dir, step);
        op.aux[0] = x, op.aux[1] = y, op.aux[2] = radius;
    }
    bool run() { return runlines(camop_spiral); }
};

TEST_F(Spiral, StopsAtTheFarthestCornerOrTheUserRadius)
{
    struct Case {
        float x, y, radius;
        double cx, cy, limit;
    };
    const double half = std::hypot(1.0, 0.5);
    const Case cases[] = {
        {0, 0, 0, 1, 0.5, half},                                      // centred: half the diagonal
        {0, 0, 5, 1, 0.5, half},                                      // a larger radius changes nothing
        {0, 0, 0.4f, 1, 0.5, 0.4},                                    // a smaller one stops there
        {0.25f, -0.1f, 0, 1.5, 0.4, std::hypot(0.75 * 2, 0.6 * 1)}, // off centre: the farthest corner
    };
    for (const Case &c : cases) {
        testlog_capture log;
        setop(c.x, c.y, c.radius, 0, 0.1f);
        ASSERT_TRUE(run()) << c.radius;
        ASSERT_EQ(op.cont->numpolys, 1u);
        const std::vector<polar> p = topolar(op.cont, c.cx, c.cy);
        ASSERT_GE(p.size(), 3u);
        EXPECT_NEAR(p[0].r, 0.0, 1e-6) << "the first vertex is the centre";
        EXPECT_GE(p.back().r, c.limit - 1e-5) << c.radius;
        EXPECT_LT(p[p.size() - 2].r, c.limit) << c.radius;
        done();
    }
}

TEST_F(Spiral, EachTurnLiesAStepoverOutsideTheLastAndClimbMirrors)
{
    const float step = 0.07f;
    std::vector<float> forward;
    for (int dir : {0, 1}) {
        testlog_capture log;
        setop(0, 0, 0, dir, step);
        ASSERT_TRUE(run());
        const std::vector<polar> p = topolar(op.cont, 1, 0.5);
        // Compare each vertex with the point one turn further in, found by
        // interpolating the radius along the unwrapped angle.
        const double turn = dir == 1 ? 2 * M_PI : -2 * M_PI; // conventional turns clockwise
        size_t j = 0;
        int checked = 0;
        for (size_t i = 1; i < p.size(); i++) {
            const double want = p[i].theta + turn;
            if (dir == 1 ? want > p.back().theta : want < p.back().theta)
                break;
            while (j + 1 < p.size() && (dir == 1 ? p[j + 1].theta < want : p[j + 1].theta > want))
                j++;
            const double f = (want - p[j].theta) / (p[j + 1].theta - p[j].theta);
            const double outer = p[j].r + f * (p[j + 1].r - p[j].r);
            ASSERT_NEAR(outer - p[i].r, step, 1e-4 * step) << "dir " << dir << " vertex " << i;
            checked++;
        }
        EXPECT_GT(checked, 100);
        if (dir == 0) {
            forward.assign(op.cont->verts, op.cont->verts + 3 * op.cont->vertcount[0]);
        } else {
            ASSERT_EQ(forward.size(), 3 * (size_t)op.cont->vertcount[0]);
            for (size_t k = 0; k < forward.size(); k += 3) {
                EXPECT_NEAR(op.cont->verts[k], 2.0f - forward[k], 1e-5f) << "mirrored about the centre's vertical";
                EXPECT_NEAR(op.cont->verts[k + 1], forward[k + 1], 1e-5f);
            }
        }
        done();
    }
}

TEST_F(Spiral, PiecesAreNeverLinked)
{
    // A plateau in the middle above the level cuts every turn into pieces.
    usecanvas(carve_makecanvas(64, 32, canvas_size, top_frac, [](double u, double v) {
        return std::hypot(u - 0.5, (v - 0.5) * 0.5) < 0.15 ? 1.0 : 0.0;
    }));
    testlog_capture log;
    setop(0, 0, 0, 2, 0.1f);
    op.flags = camop_linkcuts; // the nearest-next order links on its own; emission never does
    ASSERT_TRUE(run());
    const toolpath &tp = toolpaths[op.toolpath];
    ASSERT_GT(tp.num_paths, 3u);
    for (uint32_t i = 0; i < tp.num_paths; i++)
        EXPECT_FALSE(tp.paths[i].flags & PATH_LINK) << "path " << i;
    done();
}

TEST(SpiralVerts, StopsAtTheContourCapacity)
{
    std::vector<float> v;
    EXPECT_EQ(camop_spiralverts(v, 0, 0, 0, 10.0, 1e-6, 1, 1.0), 0);
    EXPECT_EQ(v.size(), 3 * (size_t)spiral_maxverts);
    EXPECT_EQ(camop_spiralverts(v, 0, 0, 0, 1.0, 0.5, 1, 1.0), 1);
    EXPECT_LT(v.size(), 3 * (size_t)spiral_maxverts);
}

TEST_F(Spiral, ZeroStepoverEndsThroughTheFailureNotice)
{
    testlog_capture log;
    setop(0, 0, 0, 0, 0.0f);
    ASSERT_TRUE(rungenerator(camop_spiral));
    EXPECT_EQ(op.toolpath, -1);
    EXPECT_TRUE(log.contains("camop_spiral: stepover 0.000000 must be above 0"));
    EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"});
    cont_free(op.cont);
    op.cont = nullptr;
}
