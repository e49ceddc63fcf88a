// Canvas composition: the blend modes and modes against a scalar reference
// written here, the size rule, the per-layer caches through a counting depth
// hook, the rectangle job against the full composition, and the whole round
// trip through the viewport's start and install with bounded waits.
#include "project/canvas.h"

#include "cam/genflags.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/layerdepth.h"
#include "project/project.h"
#include "project/transform.h"
#include "sys/config.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "testlog.h"
#include "view/canvasinstall.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int cv_w = 80, cv_h = 60; // the 8 x 6 x 2 canvas at 10 ppi

// The counting hook: each slot's map repeats its value list over the pixels.
std::vector<float> cv_values[project_maxlayers];
std::atomic<int> cv_calls[project_maxlayers];

image *cv_hook(int slot, int w, int h)
{
    cv_calls[slot]++;
    const std::vector<float> &v = cv_values[slot];
    if (v.empty())
        return nullptr;
    image *img = img_allocfloat("hooked", w, h);
    float *p = (float *)img->pixels;
    for (size_t k = 0; k < (size_t)w * h; k++)
        p[k] = v[k % v.size()];
    return img;
}

float cv_ref(float d, float s, int mode)
{
    switch (mode) {
    case 0: return d + s;
    case 1: return d - s;
    case 2: return d * s;
    case 3: return d > s ? d : s;
    case 4: return d < s ? d : s;
    case 5: return std::fabs(d - s);
    default: return s;
    }
}

float cv_clamp(float v)
{
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

// Polls the viewport's pass until done() holds, for at most 20 s.
template <class F> bool cv_until(F done)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        view_canvasframe();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

bool cv_idle()
{
    const project_canvasjobrecord &c = project_canvasjob;
    int count;
    {
        sys_mutexguard g(project_mutex);
        count = c.inprogress;
    }
    // No job queued or running: a rectangle job not yet at its claim is not idle.
    return sys_jobspending.load() == 0 && !c.requested && !c.refused && !c.updating && !c.pendingcanvas && !c.pendingrect && count == 0 && !jobmode &&
           !jobrebuild;
}

class Canvas : public WorkerPoolTest<2> {
protected:
    std::vector<image *> images;
    void SetUp() override
    {
        if (project_mutex < 0)
            project_mutex = sys_createmutex();
        memset(project.layers, 0, sizeof(project.layers));
        for (int i = 0; i < project_maxlayers; i++) {
            cv_values[i].clear();
            cv_calls[i] = 0;
        }
        project.size[0] = 8.0f, project.size[1] = 6.0f, project.size[2] = 2.0f;
        project.ppi = 10;
        project.scale = 1.0f;
        project.zfill = 0.0f;
        project.pixelwidth = cv_w, project.pixelheight = cv_h;
        cfg_setf(cfg_canvasquality, 1.0f);
        project_selectedlayer = -1;
        project_rastertool = -1;
        project_layergroup = 0;
        project_changetime = 0.0f;
        canvas_gendepth = cv_hook;
        project_canvasjob.lastzsize = project.size[2];
        cam_canvasfailed = 0;
    }
    void TearDown() override
    {
        EXPECT_TRUE(cv_until(cv_idle));
        for (image *img : images)
            img_free(img);
        for (project_layer &l : project.layers)
            img_free(l.depth);
        memset(project.layers, 0, sizeof(project.layers));
        img_free(selectionmap);
        selectionmap = nullptr;
        project_freecanvas(1, 0, 0, 0);
        canvas_gendepth = layer_gendepth;
        project_rastertool = -1;
        project_selectedlayer = -1;
        sys_destroymutex(project_mutex);
        project_mutex = -1;
    }
    project_layer &layer(int slot, int blend, std::vector<float> values, uint32_t groups = 1)
    {
        project_layer &l = project.layers[slot];
        l.type = layer_raster;
        l.blend = blend;
        l.groups = groups;
        l.stale = 1;
        cv_values[slot] = std::move(values);
        return l;
    }
    // One full composition through the viewport, installed; the canvas.
    const image *compose(uint32_t mode, uint32_t group = 0)
    {
        project_updatecanvas(0, mode, group);
        EXPECT_TRUE(cv_until([] { return cv_idle(); }));
        return project_canvas.img;
    }
    float at(const image *img, size_t k) { return ((const float *)img->pixels)[k]; }
};

// Blend modes 0 to 5 in mode 1, and replace in mode 5, against the scalar
// reference: intermediates outside 0..1 carry, only the end is clamped.
TEST_F(Canvas, BlendModesMatchTheScalarReference)
{
    const float nan = std::nanf("");
    const std::vector<float> a = {0.25f, 0.9f, -0.5f, 1.5f, 0.0f, 0.6f, 0.3f};
    const std::vector<float> b = {0.5f, 0.4f, 0.75f, 0.2f, 0.8f, 0.1f, 0.3f};
    struct Case {
        const char *what;
        float fill;
        std::vector<std::pair<int, std::vector<float>>> layers;
    } cases[] = {
        {"additive", 0.1f, {{0, a}, {0, b}}},
        {"subtractive then additive over 0", 0.0f, {{1, b}, {0, a}}},
        {"multiply", 0.5f, {{0, a}, {2, b}}},
        {"maximum", 0.2f, {{3, a}, {3, b}}},
        {"minimum", 0.9f, {{4, a}, {4, b}}},
        {"difference", 0.3f, {{5, a}, {5, b}}},
        {"NaN to 0, above 1 to 1", 0.0f, {{0, {nan, 3.0f, -2.0f, 1.0f}}}},
        {"all six in a row", 0.4f, {{0, a}, {1, b}, {2, a}, {3, b}, {4, a}, {5, b}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        memset(project.layers, 0, sizeof(project.layers));
        project.zfill = c.fill;
        for (size_t i = 0; i < c.layers.size(); i++)
            layer((int)i, c.layers[i].first, c.layers[i].second);
        const image *img = compose(1);
        ASSERT_NE(img, nullptr);
        ASSERT_EQ(img->width, cv_w);
        for (size_t k = 0; k < (size_t)cv_w * cv_h; k++) {
            float d = c.fill;
            for (const auto &[mode, v] : c.layers)
                d = cv_ref(d, v[k % v.size()], mode);
            ASSERT_EQ(at(img, k), cv_clamp(d)) << "pixel " << k;
        }
        for (project_layer &l : project.layers)
            img_free(l.depth), l.depth = nullptr;
    }
    // Mode 5: the selected layer alone, replacing the fill, hidden or not.
    memset(project.layers, 0, sizeof(project.layers));
    project.zfill = 0.7f;
    layer(0, 0, {0.9f});
    layer(1, 2, {0.2f, 0.4f}).flags = layer_hidden;
    project_selectedlayer = 1;
    const image *img = compose(5);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(at(img, 0), 0.2f);
    EXPECT_EQ(at(img, 1), 0.4f);
}

// Paths-layers, hidden layers and layers of another group add nothing.
TEST_F(Canvas, LayersThatContributeNothing)
{
    project.zfill = 0.35f;
    project.layers[0].type = layer_paths;
    project.layers[0].groups = 1;
    cv_values[0] = {0.9f};
    layer(1, 0, {0.5f}).flags = layer_hidden;
    layer(2, 0, {0.5f}, 2);
    const image *img = compose(1, 0);
    ASSERT_NE(img, nullptr);
    for (size_t k = 0; k < (size_t)cv_w * cv_h; k++)
        ASSERT_EQ(at(img, k), 0.35f);
    EXPECT_EQ(cv_calls[0] + cv_calls[1] + cv_calls[2], 0);
}

// The size rule without allocating: resolution clamps stored in modes 1 and
// 5 only, the quality factor, and the 2^27-pixel limit in both directions.
TEST_F(Canvas, SizeRule)
{
    struct Case {
        uint32_t mode;
        int ppi;
        float quality;
        float sx, sy;
        int accepted, w, h, ppiafter;
    } cases[] = {
        {1, 3, 1.0f, 8, 6, 1, 40, 30, 5},        {5, 3, 1.0f, 8, 6, 1, 40, 30, 5},
        {1, 2000, 1.0f, 8, 6, 1, 8000, 6000, 1000}, {5, 2000, 1.0f, 8, 6, 1, 8000, 6000, 1000},
        {2, 3, 1.0f, 8, 6, 1, 24, 18, 3},        {3, 2000, 1.0f, 4, 3, 1, 8000, 6000, 2000},
        {4, 3, 0.0f, 8, 6, 1, 24, 18, 3},        {1, 100, 0.0f, 8, 6, 1, 80, 60, 100},
        {2, 1, 1.0f, 8192, 16384, 1, 8192, 16384, 1},
        {2, 1, 1.0f, 8193, 16384, 0, 0, 0, 1},   {2, 1, 1.0f, 8192, 16385, 0, 0, 0, 1},
        {1, 0, 1.0f, 0, 6, 0, 0, 0, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " ppi " << c.ppi << " size " << c.sx << "x" << c.sy);
        project.ppi = c.ppi;
        project.size[0] = c.sx, project.size[1] = c.sy;
        project.pixelwidth = project.pixelheight = 7;
        cfg_setf(cfg_canvasquality, c.quality);
        int32_t w = 0, h = 0;
        ASSERT_EQ(project_canvassize(c.mode, &w, &h), c.accepted);
        EXPECT_EQ(project.ppi, c.ppiafter);
        if (!c.accepted)
            continue;
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
        bool stores = c.mode == 1 || c.mode == 5;
        EXPECT_EQ(project.pixelwidth, stores ? c.w : 7);
        if (stores)
            EXPECT_EQ(cfg_geti(cfg_ppi), c.ppiafter);
    }
}

// A refused canvas: logged, the box answered "no", nothing pending, the
// installed canvas kept, and in mode 2 the generators told to give up.
TEST_F(Canvas, RefusedCanvasKeepsTheInstalledOne)
{
    layer(0, 0, {0.5f});
    const image *before = compose(1);
    ASSERT_NE(before, nullptr);
    const char *was = getenv("KERFMILL_MSGBOX_ANSWERS");
    std::string saved = was ? was : "";
    setenv("KERFMILL_MSGBOX_ANSWERS", "no,no", 1);
    project.size[0] = 8193.0f, project.size[1] = 16384.0f, project.ppi = 1;
    for (uint32_t mode : {2u, 4u}) {
        testlog_capture log;
        cam_canvasfailed = 0;
        EXPECT_EQ(compose(mode), before);
        EXPECT_TRUE(cv_idle());
        EXPECT_EQ(project_canvasjob.refused.load(), 0u); // reported
        std::string text = log.text();
        EXPECT_NE(text.find("oversized canvas heightmap = 8193x16384"), std::string::npos);
        EXPECT_NE(text.find("sys_messagebox \"Kerfmill\""), std::string::npos);
        EXPECT_EQ(cam_canvasfailed.load(), mode == 2 ? 1u : 0u);
    }
    EXPECT_EQ(sys_quit.load(), 0);
    if (was)
        setenv("KERFMILL_MSGBOX_ANSWERS", saved.c_str(), 1);
    else
        unsetenv("KERFMILL_MSGBOX_ANSWERS");
}

// The caches: an edit regenerates its layer only, a Z-size change all of
// them; modes 2 to 5 neither cache nor clear the stale flag.
TEST_F(Canvas, CachedDepthMaps)
{
    layer(0, 0, {0.2f});
    layer(1, 3, {0.4f});
    layer(2, 0, {0.1f});
    compose(1);
    EXPECT_EQ(cv_calls[0] + cv_calls[1] + cv_calls[2], 3);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(project.layers[i].stale, 0u);
    compose(1);
    EXPECT_EQ(cv_calls[0] + cv_calls[1] + cv_calls[2], 3);
    project.layers[1].stale = 1;
    cv_values[1] = {0.6f};
    const image *img = compose(1);
    EXPECT_EQ(cv_calls[0].load(), 1);
    EXPECT_EQ(cv_calls[1].load(), 2);
    EXPECT_EQ(cv_calls[2].load(), 1);
    EXPECT_FLOAT_EQ(at(img, 0), 0.7f);
    project.size[2] = 3.0f;
    compose(1);
    EXPECT_EQ(cv_calls[0] + cv_calls[1] + cv_calls[2], 7);
    for (uint32_t mode : {2u, 3u, 4u, 5u}) {
        SCOPED_TRACE(mode);
        project_selectedlayer = 0;
        project.layers[0].stale = 1;
        const image *cache = project.layers[0].depth;
        cv_values[0] = {0.9f};
        compose(mode);
        EXPECT_EQ(project.layers[0].stale, 1u);
        EXPECT_EQ(project.layers[0].depth, cache);
        EXPECT_EQ(at(cache, 0), 0.2f);
        cv_values[0] = {0.2f};
    }
}

// Mode 1 with a selection and the brush: the composition shows the mix, the
// cache keeps the depth from before the edit and the layer stays stale.
TEST_F(Canvas, SelectionMixLeavesTheCache)
{
    layer(0, 0, {0.2f});
    compose(1);
    selectionmap = img_allocfloat("selection", cv_w, cv_h);
    float *s = (float *)selectionmap->pixels;
    for (int k = 0; k < cv_w * cv_h; k++)
        s[k] = (float)(k % 5) / 4.0f;
    project_rastertool = 2;
    project.layers[0].stale = 1;
    cv_values[0] = {0.6f};
    const image *img = compose(1);
    for (int k = 0; k < cv_w * cv_h; k++) {
        float w = (float)(k % 5) / 4.0f;
        ASSERT_EQ(at(img, k), cv_clamp(w * 0.6f + (1.0f - w) * 0.2f)) << k;
        ASSERT_EQ(at(project.layers[0].depth, k), 0.2f);
    }
    EXPECT_EQ(project.layers[0].stale, 1u);
}

// End to end: requests collapse into the last, a request during a run is
// served after the install, mode 2 installs the reference image.
TEST_F(Canvas, RequestsThroughTheViewport)
{
    layer(0, 0, {0.25f}, 1);
    layer(1, 0, {0.5f}, 2);
    project_updatecanvas(0, 2, 0);
    project_updatecanvas(1, 1, 1);
    ASSERT_TRUE(cv_until(cv_idle));
    ASSERT_NE(project_canvas.img, nullptr);
    EXPECT_EQ(at(project_canvas.img, 0), 0.5f);
    EXPECT_EQ(cv_calls[0].load(), 0);

    testlog_capture log;
    project_savebusy = 1; // holds the job in its wait, the run still claimed
    project_updatecanvas(0, 1, 0);
    ASSERT_EQ(view_startcanvas(), 1);
    project_updatecanvas(0, 2, 0);
    EXPECT_EQ(view_startcanvas(), 0);
    project_savebusy = 0;
    ASSERT_TRUE(cv_until(cv_idle));
    std::string text = log.text();
    EXPECT_NE(text.find("!!! project_updatecanvas() while already updating !!!"), std::string::npos);
    EXPECT_EQ(at(project_canvas.img, 0), 0.25f);
    image *ref = img_refimage.load();
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->width, cv_w);
    EXPECT_EQ(((float *)ref->pixels)[0], 0.25f);
}

// The busy flag is claimed once: while a composition holds it, neither the
// viewport's start nor a rectangle job gets through.
TEST_F(Canvas, BusyFlagIsClaimedOnce)
{
    layer(0, 0, {0.25f});
    compose(1);
    project_canvasjob.updating = 1; // a composition in flight
    project_updatecanvas(0, 1, 0);
    EXPECT_EQ(view_startcanvas(), 0);
    const float area[4] = {0.0f, 0.0f, 0.5f, 0.5f};
    ASSERT_EQ(view_startcanvasrect(area), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(project_canvasjob.pendingrect.load(), nullptr);
    project_canvasjob.updating = 0;
    EXPECT_TRUE(cv_until([] { return cv_idle(); }));
}

// Each rectangle job pastes its own result at its own rectangle: a second
// request made while the first result waits for its install moves nothing.
TEST_F(Canvas, ARectangleIsPastedWhereItWasComposed)
{
    layer(0, 0, {0.1f, 0.2f, 0.3f, 0.7f, 0.9f, 0.4f, 0.6f});
    const image *full = compose(1);
    ASSERT_NE(full, nullptr);
    std::vector<float> whole((const float *)full->pixels, (const float *)full->pixels + cv_w * cv_h);
    std::fill((float *)full->pixels, (float *)full->pixels + cv_w * cv_h, -1.0f);
    // Areas on whole pixels of the 80 x 60 canvas: x0, y0, x1, y1 with y up,
    // and the pixel rectangles they cover (rows from the top).
    const float areas[2][4] = {{0.125f, 0.25f, 0.375f, 0.5f}, {0.5f, 0.5f, 0.875f, 0.75f}};
    const int rects[2][4] = {{10, 30, 30, 45}, {40, 15, 70, 30}};
    ASSERT_EQ(view_startcanvasrect(areas[0]), 1);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!project_canvasjob.pendingrect.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_NE(project_canvasjob.pendingrect.load(), nullptr);
    ASSERT_EQ(view_startcanvasrect(areas[1]), 1);
    ASSERT_TRUE(cv_until(cv_idle));
    for (int y = 0; y < cv_h; y++)
        for (int x = 0; x < cv_w; x++) {
            bool in = false;
            for (const int *r : rects)
                in = in || (x >= r[0] && x < r[2] && y >= r[1] && y < r[3]);
            ASSERT_EQ(at(full, (size_t)y * cv_w + x), in ? whole[(size_t)y * cv_w + x] : -1.0f) << x << "," << y;
        }
}

// The rectangle job over random rectangles equals the full composition there
// bit for bit; a stale raster layer rebuilt in the rectangle within 1e-5; an
// empty rectangle touches nothing.
TEST_F(Canvas, RectangleEqualsFullComposition)
{
    canvas_gendepth = layer_gendepth;
    std::mt19937 rng(25);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int slot = 0; slot < 6; slot++) {
        project_layer &l = project.layers[slot];
        l.type = layer_raster;
        l.blend = slot % 6;
        l.groups = 1;
        l.stale = 1;
        l.zfill = slot % 2 ? 0.0f : 0.1f;
        l.pos[0] = 2.0f + 4.0f * u(rng), l.pos[1] = 1.5f + 3.0f * u(rng), l.pos[2] = 0.2f * u(rng);
        l.size[0] = 2.0f + 4.0f * u(rng), l.size[1] = 2.0f + 3.0f * u(rng), l.size[2] = 0.5f + u(rng);
        l.rotation = 360.0f * u(rng);
        l.crop[0] = 0.2f * u(rng), l.crop[1] = 0.2f * u(rng);
        l.crop[2] = 1.0f - 0.2f * u(rng), l.crop[3] = 1.0f - 0.2f * u(rng);
        int w = 30 + slot * 7, h = 20 + slot * 5;
        image *img = img_allocfloat("raster", w, h);
        images.push_back(img);
        for (int k = 0; k < w * h; k++)
            ((float *)img->pixels)[k] = u(rng);
        l.data.img = img;
    }
    const image *full = compose(1);
    ASSERT_NE(full, nullptr);
    std::vector<float> whole((const float *)full->pixels, (const float *)full->pixels + cv_w * cv_h);
    auto rectjob = [&](const float *area) {
        if (!view_startcanvasrect(area))
            return false;
        return cv_until(cv_idle);
    };
    for (int round = 0; round < 12; round++) {
        float a = u(rng), b = u(rng), c = u(rng), d = u(rng);
        const float area[4] = {std::min(a, b), std::min(c, d), std::max(a, b), std::max(c, d)};
        image *canvas = project_canvas.img;
        std::fill((float *)canvas->pixels, (float *)canvas->pixels + cv_w * cv_h, -1.0f);
        if (!rectjob(area))
            continue;
        const int32_t *r = project_canvasjob.rect;
        for (int y = 0; y < cv_h; y++)
            for (int x = 0; x < cv_w; x++) {
                bool in = x >= r[0] && x < r[2] && y >= r[1] && y < r[3];
                ASSERT_EQ(at(canvas, (size_t)y * cv_w + x), in ? whole[(size_t)y * cv_w + x] : -1.0f)
                    << "round " << round << " at " << x << "," << y;
            }
    }
    // A stale raster layer, its raster changed, rebuilt inside the rectangle.
    project_layer &l = project.layers[2];
    float *p = (float *)l.data.img->pixels;
    for (int k = 0; k < l.data.img->width * l.data.img->height; k++)
        p[k] = 1.0f - p[k];
    l.stale = 1;
    const float area[4] = {0.1f, 0.2f, 0.7f, 0.9f};
    ASSERT_TRUE(rectjob(area));
    std::vector<float> partial((const float *)project_canvas.img->pixels,
                               (const float *)project_canvas.img->pixels + cv_w * cv_h);
    std::vector<int32_t> r(project_canvasjob.rect, project_canvasjob.rect + 4);
    l.stale = 1;
    const image *again = compose(1);
    for (int y = r[1]; y < r[3]; y++)
        for (int x = r[0]; x < r[2]; x++)
            ASSERT_NEAR(partial[(size_t)y * cv_w + x], at(again, (size_t)y * cv_w + x), 1e-5) << x << "," << y;
    // A zero-width rectangle: no job state changes at all.
    const float empty[4] = {0.5f, 0.2f, 0.5f, 0.9f};
    EXPECT_EQ(view_startcanvasrect(empty), 0);
    job_updatecanvasrect(new canvas_rectrequest{{10, 0, 10, 10}, 0});
    EXPECT_TRUE(cv_idle());
}

} // namespace
