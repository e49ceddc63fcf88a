// The canvas and simulation surfaces on the real renderer, seen straight
// down orthographically so that window pixels fall on texel centres: the
// read-back colours of a tilted plane, a dome and a groove cut into a
// depth-map against tests/view/surface_shading.py, which works out the
// lighting from the same heights with numpy; and direct mode's read-back of
// the window at a new size.
#include "render/glcontext.h"
#include "view/surfacescene.h"

#include "cam/simulate.h"
#include "img/image.h"
#include "project/canvas.h"
#include "project/project.h"
#include "project/surfaceshaders.h"
#include "render/draw.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/main.h"
#include "testchild.h"
#include "testtemp.h"
#include "view/backup.h"
#include "view/canvasinstall.h"
#include "view/modes.h"
#include "view/surface.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

namespace {

constexpr int surfw = 64, surfh = 48; // canvas pixels = window pixels
const float surfsize[3] = {4.0f, 3.0f, 1.0f};

class SurfaceGl : public GlTest {
protected:
    gltest_target target;
    void SetUp() override
    {
        GlTest::SetUp();
        startdraw();
        ASSERT_EQ(target.make(surfw, surfh, 4, 0, true), 1);
        target.bindasrenderer(surfw, surfh);
        memcpy(cfg, cfg_defaults, cfg_size);
        cfg_seti(cfg_highquality, 0);
        ASSERT_EQ(project_loadshaders(), 1);
        ASSERT_GE(surfacescene_set(surfsize, surfw, surfh), 0);
    }
    void TearDown() override
    {
        for (int32_t &m : project_canvas.models)
            if (m != -1) {
                r_modelfree(m);
                m = -1;
            }
        if (project_canvas.img) {
            img_free(project_canvas.img);
            project_canvas.img = nullptr;
        }
        project_canvas.depthtexture = project_canvas.simtexture = project_canvas.selectiontexture = -1;
        freetextures();
        project_freeshaders();
        target.free();
    }
    // The heights through the install, as a finished composition is taken.
    static void install(image *img)
    {
        project_canvasjob.pendingcanvas.store(img);
        jobmode.store(canvas_view);
        jobrebuild.store(1);
        project_setcanvasdepth();
        view_canvasmodels();
    }
    // One surface pass seen from above into the window-sized target.
    static std::vector<uint8_t> draw()
    {
        glViewport(0, 0, surfw, surfh);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0.0, surfsize[0], 0.0, surfsize[1], -10.0, 10.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        view_drawsurface();
        std::vector<uint8_t> rgb((size_t)surfw * surfh * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, surfw, surfh, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        return rgb;
    }
};

image *surface_field(const std::function<float(double, double)> &f)
{
    image *img = img_allocfloat("field", surfw, surfh);
    for (int r = 0; r < surfh; r++)
        for (int c = 0; c < surfw; c++)
            ((float *)img->pixels)[r * surfw + c] = f((c + 0.5) / surfw, (r + 0.5) / surfh);
    return img;
}

struct surface_sample {
    int col, row; // image
    int x, y;     // window, from the bottom
};

// The numpy evaluation of the samples: r, g, b (0..255) each, empty when the
// script could not run.
std::vector<float> surface_expected(const std::vector<float> &heights, int slices, float sign, float isizez,
                                    const float *rgb1, const float *rgb2, float curve,
                                    const std::vector<surface_sample> &samples)
{
    const std::string in = testtemp_file("surfin"), out = testtemp_file("surfout");
    {
        std::ofstream f(in, std::ios::binary);
        const int32_t head[4] = {surfw, surfh, slices, (int32_t)samples.size()};
        f.write((const char *)head, sizeof(head));
        f.write((const char *)heights.data(), (std::streamsize)(heights.size() * 4));
        const view_framesetuprecord &v = view_setup;
        const float spec[3] = {v.glossexponent, v.glossstrength, v.gloss};
        std::vector<float> vals(v.light, v.light + 3);
        vals.insert(vals.end(), spec, spec + 3);
        vals.insert(vals.end(), rgb1, rgb1 + 3);
        vals.insert(vals.end(), rgb2, rgb2 + 3);
        vals.push_back(view_bendcolor(curve));
        vals.push_back(cfg_getf(cfg_shadecontrast));
        vals.push_back(sign);
        vals.push_back(isizez);
        vals.insert(vals.end(), v.camvec, v.camvec + 3);
        f.write((const char *)vals.data(), (std::streamsize)(vals.size() * 4));
        for (const surface_sample &s : samples) {
            const int32_t q[4] = {s.col, s.row, s.x, s.y};
            f.write((const char *)q, sizeof(q));
        }
    }
    std::vector<float> result;
    if (testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/view/surface_shading.py", in, out}, 120) == 0) {
        result.resize(samples.size() * 3);
        std::ifstream f(out, std::ios::binary);
        f.read((char *)result.data(), (std::streamsize)(result.size() * 4));
        if (!f)
            result.clear();
    }
    remove(in.c_str());
    remove(out.c_str());
    return result;
}

// Samples away from the edges, where the normal reads its own neighbours.
std::vector<surface_sample> surface_samples()
{
    std::vector<surface_sample> out;
    for (int y = 6; y < surfh - 6; y += 7)
        for (int x = 6; x < surfw - 6; x += 9)
            out.push_back({x, surfh - 1 - y, x, y});
    return out;
}

void surface_check(const std::vector<uint8_t> &rgb, const std::vector<float> &expected,
                   const std::vector<surface_sample> &samples)
{
    ASSERT_EQ(expected.size(), samples.size() * 3) << "/usr/bin/python3 tests/view/surface_shading.py failed";
    for (size_t i = 0; i < samples.size(); i++) {
        const surface_sample &s = samples[i];
        const uint8_t *px = &rgb[3 * ((size_t)s.y * surfw + s.x)];
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(px[k], expected[3 * i + k], 3.0) << "pixel " << s.x << "," << s.y << " channel " << k;
    }
}

} // namespace

TEST_F(SurfaceGl, LitCanvasMatchesTheShading)
{
    struct Case {
        const char *name;
        std::function<float(double, double)> f;
    };
    const Case cases[] = {
        {"tilted plane", [](double u, double v) { return (float)(0.15 + 0.5 * u + 0.2 * v); }},
        {"dome", [](double u, double v) {
             double du = (u - 0.5) * 4.0 / 3.0, dv = v - 0.5;
             return (float)std::sqrt(std::max(0.0, 0.36 - du * du - dv * dv)) + 0.1f;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        image *img = surface_field(c.f);
        std::vector<float> heights((float *)img->pixels, (float *)img->pixels + surfw * surfh);
        install(img);
        ASSERT_GE(project_canvas.depthtexture, 0);
        std::vector<uint8_t> rgb = draw();
        const std::vector<surface_sample> samples = surface_samples();
        float isizez = 1.0f / (surfw * surfsize[2] / surfsize[0]);
        surface_check(rgb,
                      surface_expected(heights, project_canvas.slices[2], 1.0f, isizez, project.canvascolor[0],
                                       project.canvascolor[1], project.colorcurve[0], samples),
                      samples);
    }
}

// The simulation pass on a hand-made depth-map: a groove 0.6 deep with
// sloped walls across the stock. Seen from above, the floor must show at its
// depth and the uncut stock at the top, each lit and coloured as a depth-map
// (a negative isize.z) is.
TEST_F(SurfaceGl, SimulatedGrooveMatchesTheShading)
{
    image *depth = surface_field([](double u, double) {
        double off = std::fabs(u - 0.5);
        return (float)(off < 0.15 ? 0.6 : off < 0.3 ? 0.6 * (0.3 - off) / 0.15 : 0.0);
    });
    std::vector<float> depths((float *)depth->pixels, (float *)depth->pixels + surfw * surfh);
    project_canvas.simtexture = img_texture("simdepth", depth, 1);
    img_free(depth);
    ASSERT_GE(project_canvas.simtexture, 0);
    const int saved[3] = {sim_width, sim_height, project_canvas.simslices[2]};
    sim_width = surfw;
    sim_height = surfh;
    project_canvas.simslices[2] = 64;
    projectmode = 4;
    std::vector<uint8_t> rgb = draw();
    projectmode = 1;
    sim_width = saved[0];
    sim_height = saved[1];
    project_canvas.simslices[2] = saved[2];
    // The floor and the uncut stock, where the normal's neighbours two texels
    // away lie on the same flat; the walls' slopes are the canvas test's.
    std::vector<surface_sample> samples = surface_samples();
    std::erase_if(samples, [](const surface_sample &s) {
        double off = std::fabs((s.col + 0.5) / surfw - 0.5);
        return off > 0.15 - 3.0 / surfw && off < 0.3 + 3.0 / surfw;
    });
    ASSERT_GE(samples.size(), 12u);
    float isizez = 1.0f / (surfw * -surfsize[2] / surfsize[0]);
    std::vector<float> expected = surface_expected(depths, 64, -1.0f, isizez, project.simcolor[0],
                                                   project.simcolor[1], project.colorcurve[1], samples);
    surface_check(rgb, expected, samples);
    // The samples hold both the floor and the stock, and they differ.
    const uint8_t *floor = &rgb[3 * ((size_t)(surfh / 2) * surfw + surfw / 2)];
    const uint8_t *stock = &rgb[3 * ((size_t)(surfh / 2) * surfw + 4)];
    EXPECT_GT(std::abs((int)floor[0] - (int)stock[0]) + std::abs((int)floor[2] - (int)stock[2]), 30)
        << "floor and stock coloured alike";
}

// Direct mode's read-back follows the window: a new size makes both
// textures anew at that size, holding what the window shows.
TEST_F(SurfaceGl, DirectReadBackFollowsTheWindowSize)
{
    const int saved[2] = {sys_drawable[0], sys_drawable[1]};
    struct Case {
        int w, h;
        float grey;
    };
    const Case cases[] = {{surfw, surfh, 0.25f}, {surfw / 2, surfh / 2, 0.75f}, {surfw / 2, surfh / 2, 0.5f}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        sys_drawable[0] = c.w;
        sys_drawable[1] = c.h;
        glClearColor(c.grey, c.grey, c.grey, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        view_readback();
        ASSERT_GE(view_rgbtexture, 0);
        ASSERT_GE(view_readdepthtexture, 0);
        for (int slot : {view_rgbtexture, view_readdepthtexture}) {
            EXPECT_EQ(r_textures[slot].width, (uint32_t)c.w);
            EXPECT_EQ(r_textures[slot].height, (uint32_t)c.h);
        }
        std::vector<uint8_t> rgb((size_t)c.w * c.h * 3);
        r_bindtexture(view_rgbtexture, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        r_unbindtexture(0);
        EXPECT_NEAR(rgb[0], c.grey * 255.0f, 1.0f);
        EXPECT_NEAR(rgb[rgb.size() - 1], c.grey * 255.0f, 1.0f);
    }
    sys_drawable[0] = saved[0];
    sys_drawable[1] = saved[1];
}
