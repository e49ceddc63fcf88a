// Trochoidal milling: the edge cases of the start cuts and of the 2D
// generator on small canvases, the inputs it must refuse, and a replay of
// its cuts by a disc rasteriser of its own checked against scipy's exact
// distance transform: no cut near the walls, engagement held to the
// stepover, the reachable area cleared.
#include "cam/startcuts.h"
#include "cam/trochoidal.h"
#include "pocketingfixture.h"
#include "sys/config.h"

#include <cmath>
#include <set>

namespace {

constexpr int canvas_n = 80;

// The cut paths of one level (every vertex at z), in order, each with the
// link from the path before it when it is fed into at depth.
struct troch_level {
    float z;
    std::vector<pocket_cut> cuts;
};

std::vector<troch_level> levels(const std::vector<pocket_cut> &cuts)
{
    std::vector<troch_level> out;
    for (const pocket_cut &c : cuts) {
        const float z = c.verts.back();
        if (out.empty() || std::fabs(out.back().z - z) > 1e-5f)
            out.push_back({z, {}});
        out.back().cuts.push_back(c);
    }
    return out;
}

// Pixels (row 0 at the far y edge) of an n x n canvas of 1 x 1.
struct troch_raster {
    int n;
    std::vector<uint8_t> cut;
    explicit troch_raster(int size) : n(size), cut((size_t)size * size, 0) {}
    // Marks every pixel whose centre lies within rad of the segment a-b;
    // returns the pixels newly marked.
    std::vector<int> sweep(const float *a, const float *b, float rad)
    {
        std::vector<int> fresh;
        const float p = 1.0f / n;
        const float x0 = std::fmin(a[0], b[0]) - rad, x1 = std::fmax(a[0], b[0]) + rad;
        const float y0 = std::fmin(a[1], b[1]) - rad, y1 = std::fmax(a[1], b[1]) + rad;
        for (int j = std::max(0, (int)((1.0f - y1) / p) - 1); j <= std::min(n - 1, (int)((1.0f - y0) / p) + 1); j++)
            for (int i = std::max(0, (int)(x0 / p) - 1); i <= std::min(n - 1, (int)(x1 / p) + 1); i++) {
                const float x = (i + 0.5f) * p, y = 1.0f - (j + 0.5f) * p;
                const float dx = b[0] - a[0], dy = b[1] - a[1];
                const float l2 = dx * dx + dy * dy;
                float t = l2 > 0 ? ((x - a[0]) * dx + (y - a[1]) * dy) / l2 : 0.0f;
                t = std::fmin(1.0f, std::fmax(0.0f, t));
                const float ex = a[0] + t * dx - x, ey = a[1] + t * dy - y;
                if (ex * ex + ey * ey <= rad * rad && !cut[(size_t)j * n + i]) {
                    cut[(size_t)j * n + i] = 1;
                    fresh.push_back(j * n + i);
                }
            }
        return fresh;
    }
    // Chamfer distance (pixels) of every pixel from the marked ones.
    std::vector<float> distances() const
    {
        std::vector<float> d((size_t)n * n);
        for (size_t i = 0; i < d.size(); i++)
            d[i] = cut[i] ? 0.0f : 1e9f;
        const float o = 1.0f, g = 1.41421356f;
        for (int j = 0; j < n; j++)
            for (int i = 0; i < n; i++) {
                float &v = d[(size_t)j * n + i];
                if (i > 0) v = std::fmin(v, d[(size_t)j * n + i - 1] + o);
                if (j > 0) v = std::fmin(v, d[(size_t)(j - 1) * n + i] + o);
                if (i > 0 && j > 0) v = std::fmin(v, d[(size_t)(j - 1) * n + i - 1] + g);
                if (i + 1 < n && j > 0) v = std::fmin(v, d[(size_t)(j - 1) * n + i + 1] + g);
            }
        for (int j = n - 1; j >= 0; j--)
            for (int i = n - 1; i >= 0; i--) {
                float &v = d[(size_t)j * n + i];
                if (i + 1 < n) v = std::fmin(v, d[(size_t)j * n + i + 1] + o);
                if (j + 1 < n) v = std::fmin(v, d[(size_t)(j + 1) * n + i] + o);
                if (i + 1 < n && j + 1 < n) v = std::fmin(v, d[(size_t)(j + 1) * n + i + 1] + g);
                if (i > 0 && j + 1 < n) v = std::fmin(v, d[(size_t)(j + 1) * n + i - 1] + g);
            }
        return d;
    }
};

struct troch_oracle {
    std::vector<double> edt, reach;
};

troch_oracle scipy_reference(const std::vector<float> &mask, int n, float r, float stock, float step)
{
    char in[] = "/tmp/kerfmill-trq-XXXXXX", out[] = "/tmp/kerfmill-tra-XXXXXX";
    close(mkstemp(in));
    close(mkstemp(out));
    {
        std::ofstream f(in);
        f << n << " " << r << " " << stock << " " << step << "\n";
        for (float v : mask)
            f << (v > 0.5f ? 1 : 0) << " ";
        f << "\n";
    }
    troch_oracle o;
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/cam/trochoid_scipy.py", in, out}, 120) == 0) {
        std::ifstream f(out);
        std::string key;
        double v;
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream s(line);
            s >> key;
            auto &dst = key == "edt" ? o.edt : o.reach;
            while (s >> v)
                dst.push_back(v);
        }
    }
    remove(in);
    remove(out);
    return o;
}

// scipy's distance at a point between pixel centres (bilinear), less the
// half pixel from a material pixel's centre to its edge.
float walldistance(const std::vector<double> &edt, float x, float y)
{
    const int n = canvas_n;
    x = std::fmin(n - 1.001f, std::fmax(0.0f, x));
    y = std::fmin(n - 1.001f, std::fmax(0.0f, y));
    const int i = (int)x, j = (int)y;
    const float fx = x - i, fy = y - j;
    auto at = [&](int a, int b) { return (float)edt[(size_t)b * n + a]; };
    const float top = at(i, j) * (1 - fx) + at(i + 1, j) * fx;
    const float bottom = at(i, j + 1) * (1 - fx) + at(i + 1, j + 1) * fx;
    return top * (1 - fy) + bottom * fy - 0.5f;
}

class Trochoid : public PocketTest {
protected:
    float savedstep = 10.0f;
    void SetUp() override
    {
        PocketTest::SetUp();
        savedstep = cfg_getf(cfg_trochoidstep);
        cfg_setf(cfg_trochoidstep, 10.0f);
        op.type = 15;
        startcut_heading = 0.0f;
    }
    void TearDown() override
    {
        cfg_setf(cfg_trochoidstep, savedstep);
        PocketTest::TearDown();
    }
    // Mask of formulacanvas: 1 material, 0 pocket.
    static std::vector<float> maskof(int n, const std::function<bool(float, float)> &inside)
    {
        std::vector<float> m((size_t)n * n);
        for (int j = 0; j < n; j++)
            for (int i = 0; i < n; i++)
                m[(size_t)j * n + i] = inside((i + 0.5f) / n, 1.0f - (j + 0.5f) / n) ? 0.0f : 1.0f;
        return m;
    }
    float pixelstep() const { return std::fmax(step(), 3.0f / canvas_n); }
};

// A rectangle with a round island off its centre.
bool islandpocket(float x, float y)
{
    const bool rect = x > 0.1f && x < 0.9f && y > 0.15f && y < 0.85f;
    const float dx = x - 0.62f, dy = y - 0.5f;
    return rect && dx * dx + dy * dy > 0.1f * 0.1f;
}

TEST_F(Trochoid, ReplayKeepsWallsEngagementAndCoverage)
{
    formulacanvas(canvas_n, islandpocket);
    ASSERT_TRUE(rungenerator());
    ASSERT_GE(op.toolpath, 0);
    EXPECT_GT(toolpaths[op.toolpath].num_moves, 0u);
    const std::vector<float> mask = maskof(canvas_n, islandpocket);
    const float px = 1.0f / canvas_n, r = 0.5f * tooldiameter, S = pixelstep();
    troch_oracle o = scipy_reference(mask, canvas_n, r / px, 0.0f, S / px);
    ASSERT_EQ(o.edt.size(), mask.size()) << "scipy (python3-scipy) did not answer";
    std::vector<troch_level> lv = levels(pocket_cuts(op.toolpath));
    ASSERT_EQ(lv.size(), 3u); // 0.1, 0.2 and 0.25 deep
    for (const troch_level &l : lv) {
        troch_raster ras(canvas_n);
        float worstwall = 1e9f, worstdepth = 0.0f;
        const float *prev = nullptr;
        bool opening = true;
        for (const pocket_cut &c : l.cuts) {
            const size_t nv = c.verts.size() / 3;
            for (size_t i = 0; i < nv; i++) {
                const float *v = &c.verts[i * 3];
                worstwall = std::fmin(worstwall, walldistance(o.edt, v[0] / px - 0.5f, (1.0f - v[1]) / px - 0.5f));
            }
            // The material each cut meets: how far its new pixels lie from
            // what was cut before it.
            const std::vector<float> before = ras.distances();
            std::vector<int> fresh;
            auto add = [&](const float *a, const float *b) {
                std::vector<int> f = ras.sweep(a, b, r);
                fresh.insert(fresh.end(), f.begin(), f.end());
            };
            if ((c.flags & PATH_LINK) && prev)
                add(prev, &c.verts[0]);
            for (size_t i = 0; i + 1 < nv; i++)
                add(&c.verts[i * 3], &c.verts[i * 3 + 3]);
            if (!opening)
                for (int k : fresh)
                    if (mask[k] < 0.5f)
                        worstdepth = std::fmax(worstdepth, before[k]);
            opening = false; // the opening spiral cuts full width on its first turn
            prev = &c.verts[(nv - 1) * 3];
        }
        EXPECT_GE(worstwall, r / px - 1.0f) << "level " << l.z;
        EXPECT_LE(worstdepth, S / px + 1.0f) << "level " << l.z;
        int reach = 0, cleared = 0;
        troch_raster uncut(canvas_n);
        for (size_t k = 0; k < mask.size(); k++)
            if (o.reach[k] > 0.5) {
                reach++;
                cleared += ras.cut[k];
                uncut.cut[k] = ras.cut[k] || o.reach[k] < 0.5;
            } else {
                uncut.cut[k] = 1;
            }
        EXPECT_GE(cleared, 0.97 * reach) << "level " << l.z << ": " << cleared << " of " << reach;
        // No uncut patch wider than the stepover.
        const std::vector<float> inside = uncut.distances();
        float widest = 0.0f;
        for (float d : inside)
            widest = std::fmax(widest, d);
        EXPECT_LE(2.0f * widest, S / px + 2.0f) << "level " << l.z;
    }
}

} // namespace
