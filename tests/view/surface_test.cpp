// The canvas install and the surface passes on the recording table: the
// slice counts by detail and quality (bad settings held, a canvas without
// depth sliced not at all), what an install changes in the project, the
// simulation and the operations, the canvas-to-layer copy, an install
// deferred by a save, and the uniforms and draws of both surface passes.
#include "viewfixture.h"

#include "project/canvas.h"
#include "geom/path.h"
#include "img/image.h"
#include "project/layertex.h"
#include "project/tracepaths.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "sys/waits.h"
#include "project/surfaceshaders.h"
#include "render/gl.h"
#include "view/backup.h"
#include "view/canvasinstall.h"
#include "view/simview.h"
#include "view/surface.h"

#include <cmath>

namespace {

struct surface_slicecall {
    int n, flip, direction;
};
std::vector<surface_slicecall> slicecalls;
int uploads = 0;

class SurfaceRec : public ViewProject {
public:
    void SetUp() override
    {
        ViewProject::SetUp();
        slicecalls.clear();
        uploads = 0;
        view_slices = [](int n, int flip, int direction) { slicecalls.push_back({n, flip, direction}); };
        view_uploaddepth = [](const image *) { return 100 + uploads++; };
        view_freetexture = [](int) {};
        project.generating[0] = project.generating[1] = 0;
        project_savebusy = 0;
        cam_simgenerating = 0;
        project_canvasjob.installs = 0;
        project_canvasjob.inprogress = 1;
        project_canvas.depthtexture = project_canvas.simtexture = project_canvas.selectiontexture = -1;
        view_fastview = 0;
        view_dirclass = 5;
        gl_version = 21;
        project_slices.slot = 7;
    }
    void TearDown() override
    {
        if (image *img = project_canvasjob.pendingcanvas.exchange(nullptr))
            img_free(img);
        if (project_canvas.img) {
            img_free(project_canvas.img);
            project_canvas.img = nullptr;
        }
        project_canvas.depthtexture = project_canvas.simtexture = -1;
        view_slices = project_canvasslices;
        project_slices.slot = -1;
        gl_version = -1;
        ViewProject::TearDown();
    }
    // A composition of mode handed over, as the job leaves it.
    static void hand(uint32_t mode, float value, uint32_t rebuild = 1, int w = 8, int h = 4)
    {
        image *img = img_allocfloat("newcanvas", w, h);
        for (int i = 0; i < w * h; i++)
            ((float *)img->pixels)[i] = value * (float)(i % 3) / 2.0f;
        project_canvasjob.pendingcanvas.store(img);
        jobmode.store(mode);
        jobrebuild.store(rebuild);
        project_canvasjob.inprogress = 1;
    }
};

} // namespace

TEST_F(SurfaceRec, SliceCountsByDetailAndQuality)
{
    struct Case {
        float detail;
        int quality;
        int z;
    };
    // 32 (1 - p) + 256 p with p = detail, squared under high quality; a
    // factor outside 0..1 (an edited file) is held to it.
    const Case cases[] = {{0.0f, 0, 32}, {0.5f, 0, 144}, {1.0f, 0, 256}, {0.0f, 1, 32},
                          {0.5f, 1, 88}, {1.0f, 1, 256}, {7.0f, 0, 256}, {-1.0f, 0, 32}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.detail << " quality " << c.quality);
        cfg_setf(cfg_canvasgeometry, c.detail);
        cfg_seti(cfg_highquality, c.quality);
        float size[3] = {12.0f, 6.0f, 1.5f};
        int counts[3];
        view_slicecounts(size, counts);
        EXPECT_EQ(counts[2], c.z);
        double k = c.z / 3.0 / 1.5;
        EXPECT_EQ(counts[0], std::min(1024, (int)(12.0 * k)));
        EXPECT_EQ(counts[1], std::min(1024, (int)(6.0 * k)));
    }
    // A thin, wide canvas keeps X and Y within 1..1024.
    cfg_setf(cfg_canvasgeometry, 1.0f);
    float thin[3] = {1000.0f, 0.00001f, 0.001f};
    int counts[3];
    view_slicecounts(thin, counts);
    EXPECT_EQ(counts[0], 1024);
    EXPECT_EQ(counts[1], 1);
}

TEST_F(SurfaceRec, InstallOfTheViewCanvas)
{
    project_changetime = 0.0f;
    project_saved = 1;
    // A first install after a load: stacks counted, texture made, the
    // project unchanged.
    hand(canvas_view, 1.0f);
    project_setcanvasdepth();
    view_canvasmodels();
    EXPECT_EQ(project_canvas.depthtexture, 100);
    EXPECT_GT(project_canvas.slices[2], 0);
    EXPECT_EQ(project_saved, 1u);
    EXPECT_EQ(project_canvasjob.inprogress, 0);
    EXPECT_FLOAT_EQ(cfg_getf(cfg_canvassize + 8), project.size[2]);
    EXPECT_FLOAT_EQ(view_camera.centre[2], project.size[2] * 0.5f);
    EXPECT_NE(log.text().find("slicestacks: X#"), std::string::npos);
    EXPECT_NE(log.text().find("...updated canvas ("), std::string::npos);

    // The second at an unchanged size (squared difference at most 0.0001) keeps the
    // simulation but clamps the operations' depths, and marks the project.
    project_canvas.simtexture = 55;
    sim_simop = 3;
    int op = 0;
    project.ops[0].camop = op;
    cam_ops[op].z_max = 9.0f;
    project.size[0] += 0.009f; // squared difference under 0.0001
    hand(canvas_view, 1.0f);
    project_setcanvasdepth();
    EXPECT_EQ(project_canvas.simtexture, 55);
    EXPECT_EQ(sim_simop, 3);
    EXPECT_FLOAT_EQ(cam_ops[op].z_max, project.size[2]);
    EXPECT_EQ(project_saved, 0u);

    // A changed size starts the simulation again and dates its images.
    project.ops[0].simulation = img_allocfloat("sim", 2, 2);
    project.ops[0].created = project.ops[0].simtime = 5.0f;
    project.size[0] += 1.0f;
    hand(canvas_view, 1.0f);
    project_setcanvasdepth();
    EXPECT_EQ(project_canvas.simtexture, -1);
    EXPECT_EQ(sim_simop, -2);
    EXPECT_EQ(sim_regenerate, 1);
    EXPECT_NE(project.ops[0].simtime, project.ops[0].created);
    img_free(project.ops[0].simulation);
    project.ops[0].simulation = nullptr;
    project.ops[0].camop = -1;
}

TEST_F(SurfaceRec, ABusyJobDefersTheInstall)
{
    hand(canvas_view, 1.0f);
    project_savebusy = 1;
    project_setcanvasdepth();
    EXPECT_NE(project_canvasjob.pendingcanvas.load(), nullptr) << "installed during a save";
    project_savebusy = 0;
    project_setcanvasdepth();
    EXPECT_EQ(project_canvasjob.pendingcanvas.load(), nullptr);
}

// A composition asked for while the last result still waits for its
// install starts only once that result is installed, in a later frame.
TEST_F(SurfaceRec, ARequestWaitsForTheInstall)
{
    hand(canvas_view, 1.0f);
    project_savebusy = 1;
    project_updatecanvas(1, canvas_view, 0);
    // The quit flag keeps the job from being queued: the log tells where
    // the start was tried.
    sys_quit = 1;
    view_canvasframe();
    EXPECT_EQ(log.text().find("updating canvas..."), std::string::npos) << "started over a waiting result";
    EXPECT_EQ(project_canvasjob.requested.load(), 1u);
    project_savebusy = 0;
    view_canvasframe();
    sys_quit = 0;
    size_t installed = log.text().find("...project_setcanvasdepth done"), started = log.text().find("updating canvas...");
    ASSERT_NE(installed, std::string::npos);
    ASSERT_NE(started, std::string::npos);
    EXPECT_LT(installed, started);
    project_canvasjob.requested.store(0);
    project_canvasjob.updating.store(0);
}

TEST_F(SurfaceRec, ACanvasWithoutDepthHasNoStacks)
{
    project.size[2] = 0.0f;
    hand(canvas_view, 1.0f);
    project_setcanvasdepth();
    view_canvasmodels();
    EXPECT_EQ(project_canvas.slices[2], 0);
    EXPECT_NE(log.text().find("has no volume, no slice stacks"), std::string::npos);
    view_drawsurface();
    EXPECT_TRUE(slicecalls.empty());
}

TEST_F(SurfaceRec, CanvasToLayer)
{
    struct Case {
        float peak;
        bool normalised;
    };
    const Case cases[] = {{2.0f, true}, {0.0001f, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.peak);
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                project_layerfree(i);
        project_layergroup = 3;
        hand(canvas_tolayer, c.peak);
        project_setcanvasdepth();
        int slot = -1;
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type == layer_raster)
                slot = i;
        ASSERT_GE(slot, 0);
        const project_layer &l = project.layers[slot];
        EXPECT_EQ(l.groups, 1u << 3);
        float m = 0.0f;
        for (int i = 0; i < 32; i++)
            m = std::max(m, ((float *)l.data.img->pixels)[i]);
        EXPECT_FLOAT_EQ(m, c.normalised ? 1.0f : c.peak);
    }

    // With every slot taken the copy has nowhere to go: it is dropped and
    // freed (the sanitizer's leak check sees it otherwise), nothing else
    // changes, and the install is done.
    while (project_layeralloc(layer_raster) >= 0) {
    }
    hand(canvas_tolayer, 2.0f);
    project_setcanvasdepth();
    EXPECT_EQ(project_canvasjob.pendingcanvas.load(), nullptr);
    EXPECT_EQ(jobmode.load(), 0u);
    EXPECT_NE(log.text().find("no free layer slot, the canvas copy is dropped"), std::string::npos);
    for (int i = 0; i < project_maxlayers; i++)
        if (project.layers[i].type != layer_free)
            project_layerfree(i);
}

// The other two ends of a composition: for an operation's generator it
// becomes the reference image of its group; for tracing, the job gets a copy
// of its own while the handed image goes (the sanitizer sees a job reading
// the freed original).
TEST_F(SurfaceRec, OperationAndTraceCompositions)
{
    project_canvasjob.composedgroup = 2;
    project_canvasjob.composed = 12.5;
    hand(canvas_operation, 1.0f);
    project_setcanvasdepth();
    EXPECT_EQ(project_canvasjob.pendingcanvas.load(), nullptr);
    const img_reference *ref = img_holdref(2, 12.0);
    ASSERT_NE(ref, nullptr) << "no reference for the operation's group";
    img_releaseref(ref);
    image *refimg = img_refimage.load();
    ASSERT_NE(refimg, nullptr);
    EXPECT_EQ(refimg->width, 8);
    EXPECT_EQ(refimg->height, 4);
    EXPECT_EQ(project_canvasjob.inprogress, 0);
    img_setrefimage(nullptr, project.size, project.originfrac, project.scale, 0, 0.0);

    // One worker, as the program's start-up makes them, for the tracing job.
    sys_threadsinit();
    sys_threadsstart(1);
    hand(canvas_trace, 1.0f, 0, 64, 64);
    project_setcanvasdepth();
    EXPECT_EQ(project_canvasjob.pendingcanvas.load(), nullptr);
    EXPECT_EQ(jobmode.load(), 0u);
    EXPECT_EQ(sys_waituntil([&] { return log.text().find("contoured ") != std::string::npos; }, 60,
                            "OperationAndTraceCompositions"),
              1)
        << log.text();
    sys_waituntil([] { return trace_busy.load() == 0; }, 60, "OperationAndTraceCompositions");
    sys_threadsquit();
    sys_threadsdone();
    if (path *p = trace_result.exchange(nullptr))
        path_free(p);
}

TEST_F(SurfaceRec, CanvasPassUniformsAndDraws)
{
    image *img = img_allocfloat("canvas", 8, 4);
    project_canvas.img = img;
    project_canvas.depthtexture = 9;
    project_canvas.slices[0] = 10, project_canvas.slices[1] = 11, project_canvas.slices[2] = 12;
    struct Case {
        int gl, fast, quality;
        bool shader;
        int n;
        float step;
    };
    const Case cases[] = {{21, 0, 0, true, 12, 0.0f},          {21, 0, 1, true, 12, 1.0f / 12.0f},
                          {21, 1, 1, true, 32, 0.0f},          {19, 0, 0, false, 12, 0.0f}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "gl " << c.gl << " fast " << c.fast << " quality " << c.quality);
        vrec.clear();
        vrec.state = vrec_state{};
        slicecalls.clear();
        gl_version = c.gl;
        view_fastview = (uint32_t)c.fast;
        cfg_seti(cfg_highquality, c.quality);
        project.colorcurve[0] = 0.0f;
        view_drawsurface();
        ASSERT_EQ(slicecalls.size(), 1u);
        EXPECT_EQ(slicecalls[0].n, c.n);
        EXPECT_EQ(vrec.uniforms.count("isize"), c.shader ? 1u : 0u);
        if (!c.shader)
            continue;
        EXPECT_FLOAT_EQ(vrec.uniforms["stepsize"][0], c.step);
        EXPECT_FLOAT_EQ(vrec.uniforms["bendcolor"][0], 0.02f) << "never 0";
        EXPECT_GT(vrec.uniforms["isize"][2], 0.0f);
        EXPECT_FLOAT_EQ(vrec.uniforms["grain_scale"][0], 0.0f);
        EXPECT_EQ(vrec.uniforms.count("grain_vector"), 0u);
        EXPECT_EQ(vrec.state.viewbound, 0) << "the view buffer is let go";
    }
    EXPECT_FLOAT_EQ(view_bendcolor(1.0f), 0.98f);
    project_canvas.img = nullptr;
    img_free(img);
}

TEST_F(SurfaceRec, SimulationPass)
{
    projectmode = 4;
    // Without a simulation texture nothing of the surface is drawn.
    view_drawsurface();
    EXPECT_TRUE(slicecalls.empty());
    project_canvas.simtexture = 4;
    project_canvas.simslices[2] = 20;
    sim_width = 16;
    sim_height = 8;
    for (int style : {0, 1}) {
        SCOPED_TRACE(style);
        vrec.clear();
        slicecalls.clear();
        project.renderstyle = (uint32_t)style;
        view_drawsurface();
        ASSERT_EQ(slicecalls.size(), 1u);
        EXPECT_EQ(slicecalls[0].flip, 1);
        EXPECT_LT(vrec.uniforms["isize"][2], 0.0f) << "a depth-map is told by its negative z";
        EXPECT_EQ(vrec.uniforms.count("grain_vector"), style ? 1u : 0u);
        EXPECT_EQ(vrec.uniforms["grain_scale"][0] != 0.0f, style == 1);
    }
    project_canvas.simtexture = -1;
    projectmode = 1;
}
