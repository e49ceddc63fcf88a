// Trace to Paths: the edge cases as a table run through the tracing job, the
// traces of a disc and of a star with a hole against scikit-image's iso-lines
// and shapely's buffers of them (tests/project/trace_reference.py), the
// settings read from the configuration, and the depth job's hand-over
// through the pending canvas: its map, its turn after a composition, and a
// map dropped when its layer went meanwhile.
#include "project/tracepaths.h"

#include "geom/path.h"
#include "geom/pathedit.h"
#include "img/image.h"
#include "project/canvas.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/log.h"
#include "testchild.h"
#include "testlog.h"
#include "testtemp.h"
#include "view/canvasinstall.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int tp_n = 96;        // fixtures are tp_n x tp_n
constexpr float tp_upp = 1.0f;  // project units per pixel
constexpr float tp_size = tp_n * tp_upp;

// Heights 0..1 from a signed distance in pixels (positive inside), ramped
// over two pixels so the outline at 0.5 lies on the distance's zero.
float tp_ramp(double d) { return (float)std::fmin(1.0, std::fmax(0.0, 0.5 + d / 4.0)); }

float tp_disc(int x, int y)
{
    return tp_ramp(39.0 - std::hypot(x - 47.5, y - 45.0));
}

float tp_star(int x, int y)
{
    double dx = x - 48.0, dy = y - 47.0, r = std::hypot(dx, dy), a = std::atan2(dy, dx);
    return tp_ramp(std::fmin(30.0 + 7.5 * std::cos(5.0 * a) - r, r - 9.0));
}

std::vector<float> tp_field(float (*f)(int, int))
{
    std::vector<float> v(tp_n * tp_n);
    for (int y = 0; y < tp_n; y++)
        for (int x = 0; x < tp_n; x++)
            v[y * tp_n + x] = f(x, y);
    return v;
}

image *tp_image(const std::vector<float> &v)
{
    return img_alloc("tracedepth", tp_n, tp_n, 4, v.data());
}

// Every curve sampled at 101 points along its length (the reference joins
// them into a polyline), in pixel-centre coordinates.
std::vector<std::vector<std::array<float, 2>>> tp_samples(const path *p)
{
    std::vector<std::vector<std::array<float, 2>>> out;
    for (int c = 0; c < p->csz; c++) {
        if (!p->cused[c])
            continue;
        std::vector<std::array<float, 2>> pts;
        for (int i = 0; i <= 100; i++) {
            float q[3], dir[3];
            path_pointatlength(q, p, c, i / 100.0f, 1.0f, dir);
            pts.push_back({q[0] / tp_upp - 0.5f, (tp_size - q[1]) / tp_upp - 0.5f});
        }
        out.push_back(pts);
    }
    return out;
}

struct tp_answer {
    double hausdorff = -1, ours = 0, reference = 0;
};

struct tp_request {
    std::vector<float> field;
    float offsetpx;
    std::vector<std::vector<std::array<float, 2>>> curves;
};

// One run of the reference for all requests; answers with hausdorff -1 when
// it fails (the caller names the packages).
std::vector<tp_answer> tp_reference(const std::vector<tp_request> &requests)
{
    const std::string in = testtemp_file("trq"), out = testtemp_file("tra");
    {
        std::ofstream f(in);
        f.precision(9);
        f << "[";
        for (size_t r = 0; r < requests.size(); r++) {
            const tp_request &q = requests[r];
            f << (r ? "," : "") << "{\"width\":" << tp_n << ",\"height\":" << tp_n << ",\"level\":0.5,\"offset\":"
              << q.offsetpx << ",\"field\":[";
            for (size_t i = 0; i < q.field.size(); i++)
                f << (i ? "," : "") << q.field[i];
            f << "],\"curves\":[";
            for (size_t c = 0; c < q.curves.size(); c++) {
                f << (c ? "," : "") << "[";
                for (size_t i = 0; i < q.curves[c].size(); i++)
                    f << (i ? "," : "") << "[" << q.curves[c][i][0] << "," << q.curves[c][i][1] << "]";
                f << "]";
            }
            f << "]}";
        }
        f << "]";
    }
    std::vector<tp_answer> a(requests.size());
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/project/trace_reference.py", in, out}, 120) == 0) {
        std::ifstream f(out);
        for (tp_answer &x : a)
            f >> x.hausdorff >> x.ours >> x.reference;
    }
    remove(in.c_str());
    remove(out.c_str());
    return a;
}

// The user's trace values live in the configuration; tests set them and a
// tp_settings puts the old ones back when it goes.
void tp_set(float zplane, float offset, float error)
{
    cfg_setf(cfg_tracezplane, zplane);
    cfg_setf(cfg_traceoffset, offset);
    cfg_setf(cfg_traceerror, error);
}

struct tp_settings {
    float zplane = cfg_getf(cfg_tracezplane), offset = cfg_getf(cfg_traceoffset), error = cfg_getf(cfg_traceerror);
    ~tp_settings() { tp_set(zplane, offset, error); }
};

class TracePaths : public ::testing::Test {
protected:
    float saved[3];
    tp_settings settings;
    void SetUp() override
    {
        memcpy(saved, project.size, sizeof(saved));
        project.size[0] = project.size[1] = tp_size;
        project.size[2] = 2.0f;
        trace_result.store(nullptr);
    }
    void TearDown() override
    {
        memcpy(project.size, saved, sizeof(saved));
        if (path *p = trace_result.exchange(nullptr))
            path_free(p);
        sys_notice n;
        while (sys_takenotice(&n)) {
        }
    }
    // Traces field at plane height z (project units) and offset.
    path *trace(const std::vector<float> &field, float z, float offset, float error)
    {
        tp_set(z, offset, error);
        if (path *p = trace_result.exchange(nullptr))
            path_free(p);
        // On a thread of its own, as the program runs it: messages become notices.
        std::thread job(job_tracetopaths, (void *)tp_image(field));
        job.join();
        EXPECT_EQ(trace_busy.load(), 0);
        return trace_result.load();
    }
};

TEST_F(TracePaths, ToleranceOfTheFit)
{
    EXPECT_FLOAT_EQ(trace_tolerance(0.0f, 0.5f), 1.0f);          // 2 pixels
    EXPECT_FLOAT_EQ(trace_tolerance(0.5f, 0.5f), 33.5f * 0.5f); // 2 x (0.75 + 16)
    EXPECT_FLOAT_EQ(trace_tolerance(1.0f, 0.5f), 64.0f);         // 128 pixels
}

// The plane's outline and offsets of it against the references: Hausdorff
// within the fit's tolerance and a pixel, areas within 1%.
TEST_F(TracePaths, OutlinesAgainstScikitImageAndShapely)
{
    struct {
        const char *what;
        float (*shape)(int, int);
        float offset; // project units
        int curves;
        bool distance; // traced through the distance field
    } cases[] = {
        {"disc", tp_disc, 0.0f, 1, false},
        {"disc, offset 0.0005 counts as none", tp_disc, 0.0005f, 1, false},
        {"disc grown by 2", tp_disc, 2.0f, 1, true},
        {"disc shrunk by 2", tp_disc, -2.0f, 1, true},
        {"star with a hole", tp_star, 0.0f, 2, false},
        {"star with a hole grown by 2", tp_star, 2.0f, 2, true},
        {"star with a hole shrunk by 2", tp_star, -2.0f, 2, true},
    };
    std::vector<tp_request> requests;
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        testlog_capture log;
        std::vector<float> field = tp_field(c.shape);
        path *p = trace(field, 1.0f, c.offset, 0.0f); // the plane at half the depth
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->cnum, c.curves);
        EXPECT_EQ(log.contains("distance-transformed"), c.distance);
        float offsetpx = std::fabs(c.offset) > 0.001f ? c.offset / tp_upp : 0.0f;
        requests.push_back({field, offsetpx, tp_samples(p)});
    }
    std::vector<tp_answer> answers = tp_reference(requests);
    const double e = trace_tolerance(0.0f, tp_upp) / tp_upp;
    for (size_t i = 0; i < answers.size(); i++) {
        SCOPED_TRACE(cases[i].what);
        const tp_answer &a = answers[i];
        ASSERT_GE(a.hausdorff, 0) << "/usr/bin/python3 with python3-skimage and python3-shapely is needed";
        EXPECT_LE(a.hausdorff, e + 1.0);
        EXPECT_NEAR(a.ours, a.reference, 0.01 * a.reference);
    }
}

// The error threshold comes from the configuration; a value the file left
// outside 0..1 fits at the default 0.5 instead of an absurd tolerance.
TEST_F(TracePaths, ErrorThresholdFromTheConfiguration)
{
    struct {
        float error;
        const char *logged;
        bool refused;
    } cases[] = {
        {0.0f, "paths error = 2.000000", false},
        {0.5f, "paths error = 33.500000", false},
        {2.0f, "paths error = 33.500000", true},
        {NAN, "paths error = 33.500000", true},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.error);
        testlog_capture log;
        ASSERT_NE(trace(tp_field(tp_disc), 1.0f, 0.0f, c.error), nullptr);
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
        EXPECT_EQ(log.contains("job_tracetopaths: trace setting"), c.refused);
    }
}

TEST_F(TracePaths, NothingOrTooLittleToTrace)
{
    // A plane above every height: no polyline, the message, no result.
    testlog_capture log;
    path *p = trace(tp_field(tp_disc), 2.5f, 0.0f, 0.0f);
    EXPECT_EQ(p, nullptr);
    sys_notice n;
    bool told = false;
    while (sys_takenotice(&n))
        told |= strcmp(n.caption, "Trace to Paths") == 0 &&
                strstr(n.text, "A paths-layer was not created because no paths were generated.") == n.text;
    EXPECT_TRUE(told);
    // Two raised pixels outline tiny polylines of four vertices or fewer:
    // they never become curves, though the disc beside them does.
    std::vector<float> field = tp_field(tp_disc);
    field[3 * tp_n + 3] = 1.0f;
    field[90 * tp_n + 90] = 1.0f;
    p = trace(field, 1.0f, 0.0f, 0.0f);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(log.contains("contoured 3 polylines")) << log.text();
    EXPECT_EQ(p->cnum, 1);
}

TEST_F(TracePaths, DepthJobRefusesAFreeSlot)
{
    testlog_capture log;
    job_genlayerpathingdepth((void *)(intptr_t)3);
    EXPECT_TRUE(log.contains("Failed to produce depthmap for tracing!"));
    EXPECT_EQ(project_canvasjob.pendingcanvas.load(), nullptr);
    EXPECT_EQ(project.generating[1].load(), 0);
    sys_notice n;
    while (sys_takenotice(&n)) {
    }
}

// The install step takes a pending trace map like a composition: the map
// freed, the pending result, mode and count cleared, and the tracing job
// queued on a copy, whose curves arrive in trace_result.
class TraceInstall : public WorkerPoolTest<1> {};

TEST_F(TraceInstall, PendingTraceMapStartsTheTracingJob)
{
    float saved[3];
    memcpy(saved, project.size, sizeof(saved));
    tp_settings settings;
    project.size[0] = project.size[1] = tp_size;
    project.size[2] = 2.0f;
    tp_set(1.0f, 0.0f, 0.0f);
    trace_result.store(nullptr);
    project_canvasjob.inprogress = 1;
    jobmode.store(canvas_trace);
    const int images = img_count;
    project_canvasjob.pendingcanvas.store(tp_image(tp_field(tp_disc)));
    project_setcanvasdepth();
    EXPECT_EQ(project_canvasjob.pendingcanvas.load(), nullptr);
    EXPECT_EQ(jobmode.load(), 0u);
    EXPECT_EQ(project_canvasjob.inprogress, 0);
    path *p = nullptr;
    for (int i = 0; i < 2000 && !(p = trace_result.load()); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_NE(p, nullptr) << "no trace within 10 s";
    EXPECT_EQ(p->cnum, 1);
    path_free(trace_result.exchange(nullptr));
    for (int i = 0; i < 200 && img_count != images; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(img_count, images) << "the map and its copy are freed";
    memcpy(project.size, saved, sizeof(saved));
}

// The depth job over a canvas of tp_n pixels a side: raster-layers in slots
// 2 and 4, each with a cached map and a raster of its own.
class TraceDepthJob : public WorkerPoolTest<1> {
protected:
    float savedsize[3], savedscale, savedquality;
    int32_t savedppi, savedw, savedh, savedselected;
    tp_settings settings;
    const std::vector<float> disc = tp_field(tp_disc), flat = std::vector<float>(tp_n * tp_n, 0.0f);
    void SetUp() override
    {
        memcpy(savedsize, project.size, sizeof(savedsize));
        savedppi = project.ppi, savedw = project.pixelwidth, savedh = project.pixelheight;
        savedscale = project.scale, savedquality = cfg_getf(cfg_canvasquality);
        savedselected = project_selectedlayer;
        tp_set(1.0f, 0.0f, 0.0f);
        project.size[0] = project.size[1] = tp_size;
        project.size[2] = 2.0f;
        project.ppi = 1, project.scale = 1.0f / tp_upp;
        project.pixelwidth = project.pixelheight = tp_n;
        trace_result.store(nullptr);
        project_canvasjob.inprogress = 0;
        jobmode.store(0);
    }
    void TearDown() override
    {
        freelayers();
        memcpy(project.size, savedsize, sizeof(savedsize));
        project.ppi = savedppi, project.scale = savedscale;
        project.pixelwidth = savedw, project.pixelheight = savedh;
        project_selectedlayer = savedselected;
        cfg_setf(cfg_canvasquality, savedquality);
        image *pending = project_canvasjob.pendingcanvas.exchange(nullptr);
        img_free(pending);
        project_canvasjob.updating.store(0);
        project_canvasjob.inprogress = 0;
        jobmode.store(0);
        sys_notice n;
        while (sys_takenotice(&n)) {
        }
    }
    void freelayers()
    {
        for (int slot : {2, 4}) {
            img_free(project.layers[slot].depth);
            img_free(project.layers[slot].data.img);
        }
        memset(project.layers, 0, sizeof(project.layers));
    }
    // The disc in slot 2 as its cached map or as its raster; all else flat.
    void layers(bool cached)
    {
        freelayers();
        for (int slot : {2, 4}) {
            project_layer &l = project.layers[slot];
            l.type = layer_raster;
            l.uid = 100 + slot;
            l.pos[0] = l.pos[1] = tp_size / 2, l.pos[2] = 0.0f;
            l.size[0] = l.size[1] = tp_size, l.size[2] = 2.0f;
            l.crop[2] = l.crop[3] = 1.0f;
            const bool disc2 = slot == 2;
            l.depth = tp_image(disc2 && cached ? disc : flat);
            l.data.img = tp_image(disc2 && !cached ? disc : flat);
        }
    }
    // Polls at most 10 s for cond.
    static bool within10s(const std::function<bool()> &cond)
    {
        for (int i = 0; i < 2000; i++) {
            if (cond())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return cond();
    }
};

// The map goes through the pending canvas and the install step to the
// tracing job. At full canvas quality it is the layer's cached map copied;
// below it the map is generated at the canvas's full resolution. The layer
// is the job's slot, not the selected one; each case's other source is
// flat, so a map taken from the wrong place traces nothing.
TEST_F(TraceDepthJob, HandsALayersMapToTheTracingJob)
{
    struct {
        const char *what;
        float quality;
        bool cached;
    } cases[] = {
        {"full quality copies the cached map", 1.0f, true},
        {"below full quality generates the map", 0.5f, false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        layers(c.cached);
        project_selectedlayer = 4;
        cfg_setf(cfg_canvasquality, c.quality);
        job_genlayerpathingdepth((void *)(intptr_t)2);
        image *pending = project_canvasjob.pendingcanvas.load();
        ASSERT_NE(pending, nullptr);
        EXPECT_NE(pending, project.layers[2].depth) << "the slot keeps its own map";
        EXPECT_EQ(pending->width, tp_n);
        EXPECT_EQ(pending->height, tp_n);
        EXPECT_EQ(jobmode.load(), (uint32_t)canvas_trace);
        EXPECT_EQ(project_canvasjob.inprogress, 1) << "counted as a composition in progress";
        EXPECT_EQ(project_canvasjob.updating.load(), 0u);
        EXPECT_EQ(project.generating[1].load(), 0);
        project_setcanvasdepth();
        EXPECT_EQ(project_canvasjob.inprogress, 0);
        path *p = nullptr;
        sys_notice n;
        bool nothing = false;
        within10s([&] { return (p = trace_result.load()) || (nothing = sys_takenotice(&n)); });
        ASSERT_NE(p, nullptr) << (nothing ? "nothing traced" : "no trace within 10 s");
        EXPECT_EQ(p->cnum, 1);
        path_free(trace_result.exchange(nullptr));
    }
}

// A composition queued or running owns jobmode: the depth job waits for it
// to be done before it marks its map, so neither is taken for the other. A
// layer that goes meanwhile (a project reset) has its map dropped.
TEST_F(TraceDepthJob, WaitsForACompositionAndDropsTheMapOfALayerGone)
{
    struct {
        const char *what;
        bool reset; // the layers go while the job waits
    } cases[] = {{"the composition done", false}, {"a reset meanwhile", true}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        layers(true);
        const int images = img_count;
        testlog_capture log;
        project_canvasjob.updating.store(1);
        jobmode.store(canvas_view);
        std::thread job(job_genlayerpathingdepth, (void *)(intptr_t)2);
        EXPECT_TRUE(within10s([&] { return log.contains("waiting for a pending canvas update"); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(project_canvasjob.pendingcanvas.load(), nullptr) << "stored beside a running composition";
        EXPECT_EQ(jobmode.load(), (uint32_t)canvas_view) << "the composition's mode overwritten";
        if (c.reset)
            freelayers();
        jobmode.store(0);
        project_canvasjob.updating.store(0);
        job.join();
        image *pending = project_canvasjob.pendingcanvas.exchange(nullptr);
        if (c.reset) {
            EXPECT_EQ(pending, nullptr);
            EXPECT_TRUE(log.contains("job_genlayerpathingdepth: layer 2 went while waiting")) << log.text();
            EXPECT_EQ(project_canvasjob.inprogress, 0);
            EXPECT_EQ(jobmode.load(), 0u);
            EXPECT_EQ(img_count, images - 4) << "the layers' four images and nothing else freed";
        } else {
            ASSERT_NE(pending, nullptr);
            EXPECT_EQ(jobmode.load(), (uint32_t)canvas_trace);
            EXPECT_EQ(project_canvasjob.inprogress, 1);
            img_free(pending);
        }
        EXPECT_EQ(project_canvasjob.updating.load(), 0u);
        project_canvasjob.inprogress = 0;
        jobmode.store(0);
    }
}

} // namespace
