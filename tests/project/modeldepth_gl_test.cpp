// The model-layer depth render against a ray cast of the same triangles
// written here: each pixel centre is taken back through the layer's frame
// into the normalised model and the highest triangle above it is found.
#include "geom/meshshader.h"
#include "geom/model.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/modeldepth.h"
#include "project/genraster.h"
#include "project/project.h"
#include "project/textmodeldepth.h"
#include "render/glcontext.h"
#include "sys/frame.h"
#include "sys/thread.h"
#include "testlog.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct md_tri {
    float p[3][3];
};

// The model's triangles with the orientation's axis permutation applied.
void md_permute(int swaps, const float *v, float *o)
{
    switch (swaps) {
    case 1: o[0] = v[1], o[1] = v[0], o[2] = v[2]; break;
    case 2: o[0] = v[2], o[1] = v[1], o[2] = v[0]; break;
    case 3: o[0] = v[0], o[1] = v[2], o[2] = v[1]; break;
    case 4: o[0] = v[2], o[1] = v[1], o[2] = -v[0]; break;
    case 5: o[0] = v[0], o[1] = v[2], o[2] = -v[1]; break;
    case 6: o[0] = v[0], o[1] = -v[2], o[2] = v[1]; break;
    default: o[0] = v[0], o[1] = v[1], o[2] = v[2];
    }
}

int md_swaps(uint32_t flags)
{
    const uint32_t order[6] = {32, 64, 128, 256, 512, 2048};
    for (int i = 0; i < 6; i++)
        if (flags & order[i])
            return i + 1;
    return 0;
}

// The expected map: for each pixel centre the highest model point in the
// layer's range mapped to a height, or the Z fill; cover marks pixels hit.
struct md_reference {
    std::vector<float> z;
    std::vector<int> cover;
};

md_reference md_raycast(const std::vector<md_tri> &tris, const project_layer &l, int w, int h)
{
    int swaps = md_swaps(l.flags);
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    std::vector<md_tri> t = tris;
    for (md_tri &tr : t)
        for (auto &p : tr.p) {
            float o[3];
            md_permute(swaps, p, o);
            memcpy(p, o, sizeof(o));
            for (int i = 0; i < 3; i++)
                lo[i] = std::fmin(lo[i], p[i]), hi[i] = std::fmax(hi[i], p[i]);
        }
    double s[3];
    for (int i = 0; i < 3; i++)
        s[i] = hi[i] > lo[i] ? 1.0 / (hi[i] - lo[i]) : 1.0;
    if (l.flags & layer_mirrorx)
        s[0] = -s[0];
    if (l.flags & layer_mirrory)
        s[1] = -s[1];
    if (l.flags & layer_invert)
        s[2] = -s[2];
    // Model points in the layer's frame: u, v across, h 0..1 through the range.
    for (md_tri &tr : t)
        for (auto &p : tr.p)
            for (int i = 0; i < 3; i++)
                p[i] = (float)((p[i] - 0.5 * (lo[i] + hi[i])) * s[i] + (i == 2 ? 0.5 : 0.0));
    double cr[4] = {l.crop[0], l.crop[1], l.crop[2], l.crop[3]};
    if (l.flags & layer_mirrorx)
        cr[0] = 1.0 - l.crop[2], cr[2] = 1.0 - l.crop[0];
    if (l.flags & layer_mirrory)
        cr[1] = 1.0 - l.crop[3], cr[3] = 1.0 - l.crop[1];
    bool cropped = cr[2] - cr[0] < 1.0 || cr[3] - cr[1] < 1.0;
    double a = l.rotation * M_PI / 180.0, c = std::cos(a), sn = std::sin(a);
    double z0 = l.pos[2] / project.size[2], dz = l.size[2] / project.size[2];
    md_reference r{std::vector<float>((size_t)w * h, l.zfill), std::vector<int>((size_t)w * h, 0)};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double X = (x + 0.5) / w * project.size[0] - l.pos[0];
            double Y = (1.0 - (y + 0.5) / h) * project.size[1] - l.pos[1];
            double ud = (X * c - Y * sn) / l.size[0], vd = (X * sn + Y * c) / l.size[1];
            if (cropped && (std::fabs(ud) > 0.5 || std::fabs(vd) > 0.5))
                continue;
            double u = ud * (cr[2] - cr[0]) + 0.5 * (cr[0] + cr[2]) - 0.5;
            double v = vd * (cr[3] - cr[1]) + 0.5 * (cr[1] + cr[3]) - 0.5;
            double best = -1.0;
            for (const md_tri &tr : t) {
                const float *A = tr.p[0], *B = tr.p[1], *C = tr.p[2];
                double d = (B[0] - A[0]) * (C[1] - A[1]) - (C[0] - A[0]) * (B[1] - A[1]);
                if (std::fabs(d) < 1e-12)
                    continue;
                double b1 = ((u - A[0]) * (C[1] - A[1]) - (C[0] - A[0]) * (v - A[1])) / d;
                double b2 = ((B[0] - A[0]) * (v - A[1]) - (u - A[0]) * (B[1] - A[1])) / d;
                double b0 = 1.0 - b1 - b2;
                if (b0 < 0 || b1 < 0 || b2 < 0)
                    continue;
                best = std::fmax(best, b0 * A[2] + b1 * B[2] + b2 * C[2]);
            }
            if (best > 0.0) {
                r.z[(size_t)y * w + x] = (float)(z0 + best * dz);
                r.cover[(size_t)y * w + x] = 1;
            }
        }
    return r;
}

// Largest difference away from silhouettes (pixels whose 3 x 3 neighbourhood
// mixes covered and uncovered ones), and how many pixels were compared.
float md_maxdiff(const md_reference &r, const image *map, int &compared)
{
    int w = map->width, h = map->height;
    const float *m = (const float *)map->pixels;
    float worst = 0.0f;
    compared = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int c = r.cover[(size_t)y * w + x];
            bool edge = false;
            for (int j = -1; j <= 1; j++)
                for (int i = -1; i <= 1; i++) {
                    int xx = x + i, yy = y + j;
                    if (xx >= 0 && yy >= 0 && xx < w && yy < h && r.cover[(size_t)yy * w + xx] != c)
                        edge = true;
                }
            if (edge)
                continue;
            compared++;
            worst = std::fmax(worst, std::fabs(m[(size_t)y * w + x] - r.z[(size_t)y * w + x]));
        }
    return worst;
}

std::vector<md_tri> md_box(float ex, float ey, float ez)
{
    float v[8][3];
    for (int i = 0; i < 8; i++)
        v[i][0] = i & 1 ? ex : 0.0f, v[i][1] = i & 2 ? ey : 0.0f, v[i][2] = i & 4 ? ez : 0.0f;
    const int f[12][3] = {{0, 1, 3}, {0, 3, 2}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                          {2, 3, 7}, {2, 7, 6}, {0, 2, 6}, {0, 6, 4}, {1, 3, 7}, {1, 7, 5}};
    std::vector<md_tri> t;
    for (auto &k : f) {
        md_tri tr;
        for (int i = 0; i < 3; i++)
            memcpy(tr.p[i], v[k[i]], sizeof(tr.p[i]));
        t.push_back(tr);
    }
    return t;
}

std::vector<md_tri> md_sphere(int rings, int segs)
{
    auto pt = [&](int i, int j, float *p) {
        double th = M_PI * i / rings, ph = 2.0 * M_PI * j / segs;
        p[0] = (float)(std::sin(th) * std::cos(ph));
        p[1] = (float)(std::sin(th) * std::sin(ph));
        p[2] = (float)std::cos(th);
    };
    std::vector<md_tri> t;
    for (int i = 0; i < rings; i++)
        for (int j = 0; j < segs; j++) {
            md_tri a, b;
            pt(i, j, a.p[0]), pt(i + 1, j, a.p[1]), pt(i + 1, j + 1, a.p[2]);
            pt(i, j, b.p[0]), pt(i + 1, j + 1, b.p[1]), pt(i, j + 1, b.p[2]);
            t.push_back(a), t.push_back(b);
        }
    return t;
}

// A plane rising along x, under a thin floor so the bounds span 0..1 in z.
std::vector<md_tri> md_tiltedplane()
{
    return {{{{0, 0, 0.1f}, {1, 0, 0.9f}, {1, 1, 0.9f}}}, {{{0, 0, 0.1f}, {1, 1, 0.9f}, {0, 1, 0.1f}}},
            {{{0, 0, 0}, {0.001f, 0, 0}, {0, 0.001f, 0}}}, {{{1, 1, 1}, {0.999f, 1, 1}, {1, 0.999f, 1}}}};
}

// A wedge that is high at small x and low at large x, narrower in y.
std::vector<md_tri> md_wedge()
{
    return {{{{0, 0, 1}, {2, 0, 0.2f}, {2, 1, 0.2f}}}, {{{0, 0, 1}, {2, 1, 0.2f}, {0, 1, 1}}},
            {{{0, 0, 0}, {0.01f, 0, 0}, {0, 0.01f, 0}}}};
}

int md_makemodel(const std::vector<md_tri> &t)
{
    int slot = mdl_alloc();
    if (slot < 0 || !mdl_reserve((uint32_t)t.size() * 3, (uint32_t)t.size()))
        return -1;
    for (const md_tri &tr : t) {
        int a = mdl_vert(tr.p[0]), b = mdl_vert(tr.p[1]), c = mdl_vert(tr.p[2]);
        mdl_face((uint32_t)a, (uint32_t)b, (uint32_t)c);
    }
    return slot;
}

struct md_job {
    int slot;
    image *map;
    std::atomic<int> done{0};
};

void job_mdgendepth(void *arg)
{
    md_job *j = (md_job *)arg;
    mdl_gendepth(j->slot, j->map);
    j->done = 1;
}

void job_mdframemutex(void *arg)
{
    sys_lockmutex(sys_framemutex);
    sys_unlockmutex(sys_framemutex);
    ((std::atomic<int> *)arg)->store(1);
}

bool md_waitfor(const std::atomic<int> &flag)
{
    for (int i = 0; i < 20000 && !flag; i++)
        SDL_Delay(1);
    return flag != 0;
}

} // namespace

class ModelDepthGl : public GlTest {
protected:
    std::vector<image *> images;
    std::vector<int> meshes;

    static void SetUpTestSuite()
    {
        GlTest::SetUpTestSuite();
        sys_threadsinit();
        img_mutex = sys_createmutex();
        sys_framemutex = sys_createmutex();
        sys_threadsstart(2);
        r_initdraw();
    }
    static void TearDownTestSuite()
    {
        sys_threadsquit();
        sys_threadsdone();
        sys_destroymutex(img_mutex);
        sys_destroymutex(sys_framemutex);
        img_mutex = sys_framemutex = -1;
        r_quitdraw();
        GlTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        GlTest::SetUp();
        r_defaultstate();
        r_cleartextures();
        readlimits();
        ASSERT_TRUE(gl_framebuffers);
        ASSERT_EQ(model_init(), 1);
        project.size[0] = 8.0f, project.size[1] = 6.0f, project.size[2] = 2.0f;
        mdl_samplecount = 0;
    }
    void TearDown() override
    {
        for (image *img : images)
            img_free(img);
        for (int m : meshes)
            mdl_free(m);
        model_quit();
        for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; i++) {
        }
        memset(&project.layers[0], 0, sizeof(project_layer));
        mdl_samplecount = 0;
    }
    // Layer 0 as a model-layer over the given footprint.
    project_layer &layer(int mesh, float px, float py, float sx, float sy)
    {
        project_layer &l = project.layers[0];
        memset(&l, 0, sizeof(l));
        l.type = layer_model;
        l.data.mesh = mesh;
        l.zfill = -0.25f;
        l.pos[0] = px, l.pos[1] = py, l.pos[2] = 0.25f;
        l.size[0] = sx, l.size[1] = sy, l.size[2] = 1.0f;
        l.crop[2] = l.crop[3] = 1.0f;
        return l;
    }
    int mesh(const std::vector<md_tri> &t)
    {
        int m = md_makemodel(t);
        if (m >= 0)
            meshes.push_back(m);
        return m;
    }
    image *filled(int w, int h, float z)
    {
        image *img = img_allocfloat("laydepth00", w, h);
        images.push_back(img);
        float *p = (float *)img->pixels;
        for (int i = 0; i < w * h; i++)
            p[i] = z;
        return img;
    }
    bool glclean()
    {
        return glGetError() == GL_NO_ERROR;
    }
};

// Each shape, placement and flag set against the ray cast of its triangles.
TEST_F(ModelDepthGl, MatchesRayCastOfTheTriangles)
{
    struct md_case {
        const char *what;
        std::function<std::vector<md_tri>()> shape;
        uint32_t flags;
        float rotation;
        float crop[4];
    };
    const md_case cases[] = {
        {"sphere", [] { return md_sphere(24, 48); }, 0, 0.0f, {0, 0, 1, 1}},
        {"box", [] { return md_box(2, 1, 0.5f); }, 0, 0.0f, {0, 0, 1, 1}},
        {"tilted plane", md_tiltedplane, 0, 0.0f, {0, 0, 1, 1}},
        {"wedge, X as height reversed", md_wedge, 256, 0.0f, {0, 0, 1, 1}},
        {"wedge mirrored in x", md_wedge, layer_mirrorx, 0.0f, {0, 0, 1, 1}},
        {"wedge mirrored in y", md_wedge, layer_mirrory, 0.0f, {0, 0, 1, 1}},
        {"wedge inverted", md_wedge, layer_invert, 0.0f, {0, 0, 1, 1}},
        {"wedge turned 90", md_wedge, 0, 90.0f, {0, 0, 1, 1}},
        {"wedge turned 30", md_wedge, 0, 30.0f, {0, 0, 1, 1}},
        {"wedge cropped to its left half", md_wedge, 0, 0.0f, {0, 0, 0.5f, 1}},
        {"wedge mirrored and cropped", md_wedge, layer_mirrorx, 0.0f, {0, 0, 0.5f, 1}},
        {"sphere cropped and turned", [] { return md_sphere(16, 32); }, 0, 20.0f, {0.2f, 0.1f, 0.7f, 0.8f}},
    };
    for (const md_case &c : cases) {
        std::vector<md_tri> t = c.shape();
        int m = mesh(t);
        ASSERT_GE(m, 0) << c.what;
        project_layer &l = layer(m, 3.7f, 3.2f, 4.0f, 3.0f);
        l.flags = c.flags;
        l.rotation = c.rotation;
        memcpy(l.crop, c.crop, sizeof(l.crop));
        image *map = filled(96, 72, l.zfill);
        mdl_gendepth(0, map);
        md_reference r = md_raycast(t, l, 96, 72);
        int compared = 0;
        EXPECT_LE(md_maxdiff(r, map, compared), 1e-4f * 0.5f) << c.what;
        EXPECT_GT(compared, 96 * 72 / 2) << c.what;
        int covered = 0;
        for (int v : r.cover)
            covered += v;
        EXPECT_GT(covered, 200) << c.what;
        EXPECT_TRUE(glclean()) << c.what;
    }
}

// A 2:1 box fitted to a 2:1 footprint covers exactly the footprint's pixels,
// and its layer's aspect is height over width.
TEST_F(ModelDepthGl, WideBoxFillsItsFittedFootprint)
{
    int m = mesh(md_box(2.0f, 1.0f, 1.0f));
    // Footprint 4 x 2 units = 48 x 24 pixels centred at (4, 3) on 96 x 72.
    project_layer &l = layer(m, 4.0f, 3.0f, 4.0f, 2.0f);
    image *map = filled(96, 72, l.zfill);
    mdl_gendepth(0, map);
    EXPECT_FLOAT_EQ(l.aspect, 0.5f);
    const float *p = (const float *)map->pixels;
    float top = 0.25f / 2.0f + 1.0f / 2.0f;
    for (int y = 0; y < 72; y++)
        for (int x = 0; x < 96; x++) {
            bool inside = x >= 24 && x < 72 && y >= 24 && y < 48;
            ASSERT_NEAR(p[y * 96 + x], inside ? top : l.zfill, 1e-5f) << x << "," << y;
        }
}

// Copy to Raster-Layer of a model-layer: a box whose top is at half the
// canvas's Z size becomes a layer normalised to 1 with half the Z size, over
// the box's footprint; smoothed, the footprint's edge spreads outward and
// the layer grows about the same centre; a model off the canvas gives no
// layer.
TEST_F(ModelDepthGl, CopiedToARasterLayer)
{
    int m = mesh(md_box(2.0f, 1.0f, 1.0f));
    project.ppi = 12, project.scale = 1.0f; // the 8 x 6 canvas as 96 x 72 pixels
    struct {
        const char *what;
        float px;
        bool covered;
        float smooth;
    } cases[] = {{"on the canvas", 4.0f, true, 0.0f},
                 {"smooth 0.9 is none", 4.0f, true, 0.9f},
                 {"smooth 3", 4.0f, true, 3.0f},
                 {"off the canvas", 20.0f, false, 0.0f}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        project_layer &l = layer(m, c.px, 3.0f, 4.0f, 2.0f);
        l.pos[2] = 0.0f;
        layer_genrequest = {};
        layer_genrequest.layer = 0;
        layer_genrequest.zorigin = 0.7f;
        layer_genrequest.chamfer = c.smooth;
        layer_genkind = 6;
        layer_gendone = 0;
        layer_modeldepth(nullptr);
        EXPECT_EQ(layer_gendone.load(), 1);
        EXPECT_EQ(project.generating[0].load(), 0);
        image *r = layer_genrequest.result;
        if (!c.covered) {
            EXPECT_EQ(r, nullptr);
            continue;
        }
        ASSERT_NE(r, nullptr);
        images.push_back(r);
        layer_genrequest.result = nullptr;
        EXPECT_NEAR(layer_genrequest.size[2], 1.0f, 1e-4f);
        EXPECT_FLOAT_EQ(layer_genrequest.zorigin, 0.0f);
        EXPECT_NEAR(layer_genrequest.centre[0], 4.0f, 1e-5f);
        EXPECT_NEAR(layer_genrequest.centre[1], 3.0f, 1e-5f);
        const float *p = (const float *)r->pixels;
        if (c.smooth >= 1.0f) {
            // Beyond the 48 x 24 footprint by at least a pixel and at most
            // three radii each side; the middle stays at the top, the edge
            // falls below it.
            EXPECT_GE(r->width, 50);
            EXPECT_LE(r->width, 48 + 6 * (int)c.smooth);
            EXPECT_EQ(r->width - 48, r->height - 24) << "the same spread both ways";
            EXPECT_NEAR(layer_genrequest.size[0], r->width / 12.0f, 1e-5f);
            EXPECT_NEAR(layer_genrequest.size[1], r->height / 12.0f, 1e-5f);
            EXPECT_NEAR(p[(r->height / 2) * r->width + r->width / 2], 1.0f, 1e-4f);
            EXPECT_LT(p[(r->height / 2) * r->width], 0.5f);
            continue;
        }
        EXPECT_EQ(r->width, 48);
        EXPECT_EQ(r->height, 24);
        for (int i = 0; i < 48 * 24; i++)
            ASSERT_NEAR(p[i], 1.0f, 1e-5f) << i;
        EXPECT_NEAR(layer_genrequest.size[0], 4.0f, 1e-5f);
        EXPECT_NEAR(layer_genrequest.size[1], 2.0f, 1e-5f);
    }
    layer_genkind = 0;
    layer_gendone = 0;
}

// Run on a worker through the shared context: the same map as on the main
// thread, the context switch worked, and the frame mutex is free afterwards.
TEST_F(ModelDepthGl, RunsOnAWorkerAndReleasesTheFrameMutex)
{
    ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();
    std::vector<md_tri> t = md_sphere(16, 32);
    int m = mesh(t);
    project_layer &l = layer(m, 4.0f, 3.0f, 5.0f, 4.0f);
    image *main = filled(64, 48, l.zfill);
    mdl_gendepth(0, main);
    md_job j;
    j.slot = 0;
    j.map = filled(64, 48, l.zfill);
    testlog_capture log;
    ASSERT_GE(sys_threadjob("mdgendepth", job_mdgendepth, &j), 0);
    ASSERT_TRUE(md_waitfor(j.done));
    EXPECT_FALSE(log.contains("sys_makecurrent:")) << log.text();
    int differ = 0;
    for (int i = 0; i < 64 * 48; i++)
        if (((float *)main->pixels)[i] != ((float *)j.map->pixels)[i] && differ++ < 5)
            ADD_FAILURE() << i % 64 << "," << i / 64 << ": " << ((float *)main->pixels)[i] << " "
                          << ((float *)j.map->pixels)[i];
    md_reference r = md_raycast(t, l, 64, 48);
    int compared = 0;
    EXPECT_LE(md_maxdiff(r, j.map, compared), 0.5e-4f);
    std::atomic<int> taken{0};
    ASSERT_GE(sys_threadjob("mdframemutex", job_mdframemutex, &taken), 0);
    EXPECT_TRUE(md_waitfor(taken));
    stopworkercontext();
}

// Without a usable worker context nothing is drawn in whatever context is
// current: the map keeps its Z fill and the mutexes are released.
TEST_F(ModelDepthGl, RefusedContextLeavesTheZFill)
{
    int m = mesh(md_box(1, 1, 1));
    project_layer &l = layer(m, 4.0f, 3.0f, 4.0f, 3.0f);
    ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();
    SDL_Window *saved = sys_window;
    sys_window = nullptr; // SDL refuses a context without a window
    md_job j;
    j.slot = 0;
    j.map = filled(32, 24, l.zfill);
    testlog_capture log;
    ASSERT_GE(sys_threadjob("mdgendepth", job_mdgendepth, &j), 0);
    ASSERT_TRUE(md_waitfor(j.done));
    sys_window = saved;
    stopworkercontext();
    EXPECT_TRUE(log.contains("sys_makecurrent:")) << log.text();
    const float *p = (const float *)j.map->pixels;
    for (int i = 0; i < 32 * 24; i++)
        ASSERT_EQ(p[i], l.zfill) << i;
    std::atomic<int> taken{0};
    ASSERT_GE(sys_threadjob("mdframemutex", job_mdframemutex, &taken), 0);
    EXPECT_TRUE(md_waitfor(taken));
}

// Four samples render at twice the size and scale down: away from the
// silhouette the heights are the single-sample ones.
TEST_F(ModelDepthGl, SupersamplingScalesDown)
{
    std::vector<md_tri> t = md_sphere(16, 32);
    int m = mesh(t);
    project_layer &l = layer(m, 4.0f, 3.0f, 5.0f, 4.0f);
    mdl_samplecount = 4;
    image *map = filled(64, 48, l.zfill);
    testlog_capture log;
    mdl_gendepth(0, map);
    EXPECT_TRUE(log.contains("mdl_gendepth:64x48 rendersize:128x96")) << log.text();
    md_reference r = md_raycast(t, l, 64, 48);
    int compared = 0;
    // A downscaled pixel averages four samples of a curved surface.
    EXPECT_LE(md_maxdiff(r, map, compared), 5e-3f);
    EXPECT_GT(compared, 1000);
}

// A point at the exact bottom of the layer's range reads as the Z fill,
// while the rest of the model keeps its height.
TEST_F(ModelDepthGl, ExactBottomReadsAsZFill)
{
    // A plane at z 0 and one corner post reaching z 1: the plane lies on the bottom.
    std::vector<md_tri> t = {{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}}, {{{0, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
                             {{{0.9f, 0.9f, 1}, {1, 0.9f, 1}, {1, 1, 1}}}};
    int m = mesh(t);
    project_layer &l = layer(m, 4.0f, 3.0f, 4.0f, 3.0f);
    l.pos[2] = 0.0f;
    image *map = filled(32, 24, l.zfill);
    mdl_gendepth(0, map);
    const float *p = (const float *)map->pixels;
    EXPECT_EQ(p[12 * 32 + 12], l.zfill); // on the plane, inside the footprint
    EXPECT_NEAR(p[6 * 32 + 23], 0.5f, 1e-5f); // on the post's top, height 1 of range 0.5
}

// Broken models and slots: the map comes back, nothing is drawn from
// missing vertices, no GL error is left.
TEST_F(ModelDepthGl, BadInputLeavesAMap)
{
    int empty = mdl_alloc();
    ASSERT_GE(empty, 0);
    meshes.push_back(empty);
    ASSERT_TRUE(mdl_reserve(4, 4));
    int broken = md_makemodel({{{{0, 0, 0}, {1, 0, 1}, {1, 1, 1}}}});
    ASSERT_GE(broken, 0);
    meshes.push_back(broken);
    models[broken].faces[0].c = 77; // names a vertex the model does not have
    for (int slot : {empty, broken, -1, 40}) {
        project_layer &l = layer(slot, 4.0f, 3.0f, 4.0f, 3.0f);
        image *map = filled(16, 12, l.zfill);
        mdl_gendepth(0, map);
        const float *p = (const float *)map->pixels;
        for (int i = 0; i < 16 * 12; i++)
            ASSERT_EQ(p[i], l.zfill) << slot;
        EXPECT_TRUE(glclean()) << slot;
    }
    project_layer &l = layer(broken, 4.0f, 3.0f, 4.0f, 3.0f);
    mdl_gendepth(-1, filled(4, 4, 0.0f));
    mdl_gendepth(64, filled(4, 4, 0.0f));
    mdl_gendepth(0, nullptr);
    l.crop[2] = 0.0f; // a crop of no width
    mdl_gendepth(0, filled(4, 4, 0.0f));
    EXPECT_TRUE(glclean());
}
