// The eight start-up programs of the mesh models and of the project on a
// real context: each links with every uniform it is looked up by, and the
// ones with simply predicted output draw what they should into a small
// float framebuffer: the depth colour of mdl_origin under every axis swap,
// mdl_shaded's modes, the brush alpha, the overlap diamonds, the cut part
// of a toolpath, and a sanity check of the two surface programs.
#include "geom/meshshader.h"
#include "glcontext.h"
#include "img/image.h"
#include "project/surfaceshaders.h"
#include "render/draw.h"
#include "render/texture.h"
#include "testlog.h"

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

constexpr int ss_side = 16; // framebuffer side in pixels

struct ss_rgba {
    float r, g, b, a;
};

class StartShaders : public GlTest {
protected:
    gltest_target target;
    std::vector<int> textures;

    void SetUp() override
    {
        GlTest::SetUp();
        startdraw();
        ASSERT_EQ(target.make(ss_side, ss_side, 4, 3, true), 1); // RGBA32F and DEPTH24
        glViewport(0, 0, ss_side, ss_side);
        clear();
    }
    void TearDown() override
    {
        r_bindshader(-1);
        r_unbindtexture(1);
        r_bindtexture(-1);
        for (int slot : textures)
            r_freetexture(slot);
        model_quit();
        project_freeshaders();
        target.free();
        glDisable(GL_DEPTH_TEST);
        r_quitdraw();
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
    void clear()
    {
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    // A w x h scalar texture of one value.
    int flattexture(int w, int h, float value)
    {
        std::vector<float> v((size_t)w * h, value);
        image *img = img_alloc("flat", w, h, 4, v.data());
        int slot = img_texture(nullptr, img, 1, 0, 1);
        img_free(img);
        textures.push_back(slot);
        return slot;
    }
};

static ss_rgba ss_pixel(int x, int y)
{
    ss_rgba p{};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_FLOAT, &p);
    return p;
}

static float ss_depth(int x, int y)
{
    float d = -1.0f;
    glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &d);
    return d;
}

static void ss_expectpixel(const ss_rgba &got, const ss_rgba &want, float tolerance, const std::string &what)
{
    EXPECT_NEAR(got.r, want.r, tolerance) << what;
    EXPECT_NEAR(got.g, want.g, tolerance) << what;
    EXPECT_NEAR(got.b, want.b, tolerance) << what;
    EXPECT_NEAR(got.a, want.a, tolerance) << what;
}

// The whole framebuffer as one quad at height z, texture coordinates 0..1.
static void ss_fullquad(float z = 0.0f)
{
    const float corners[4][2] = {{-1.0f, -1.0f}, {1.0f, -1.0f}, {1.0f, 1.0f}, {-1.0f, 1.0f}};
    r_begin(r_trianglefan);
    for (const auto &c : corners) {
        r_texcoord((c[0] + 1.0f) * 0.5f, (c[1] + 1.0f) * 0.5f);
        r_vertex(c[0], c[1], z);
    }
    r_end();
}

// Channel value whose stored byte is exactly b.
static float ss_byte(int b)
{
    return ((float)b + 0.5f) / 255.0f;
}

TEST_F(StartShaders, AllEightLinkWithEveryUniform)
{
    testlog_capture log;
    ASSERT_EQ(model_init(), 1);
    ASSERT_EQ(project_loadshaders(), 1);
    struct Case {
        const char *name;
        int slot;
        std::vector<std::pair<const char *, int>> uniforms;
    };
    const project_slicesprogram &s = project_slices;
    const project_simulationprogram &m = project_simulation;
    const Case cases[] = {
        {"mdl_origin", mdl_originshader, {{"swaps", mdl_originswaps}, {"scale", mdl_originscale}}},
        {"mdl_shaded",
         mdl_shadedshader,
         {{"itmv", mdl_shadeditmv}, {"swaps", mdl_shadedswaps}, {"mode", mdl_shadedmode}}},
        {"canvas_slices",
         s.slot,
         {{"texdepth", s.texdepth},
          {"texselect", s.texselect},
          {"isize", s.isize},
          {"light", s.light},
          {"specular", s.specular},
          {"rgb1", s.rgb1},
          {"rgb2", s.rgb2},
          {"camvec", s.camvec},
          {"stepsize", s.stepsize},
          {"bendcolor", s.bendcolor},
          {"psize", s.psize},
          {"grain_scale", s.grain_scale},
          {"grain_vector", s.grain_vector},
          {"grain_offset", s.grain_offset},
          {"grain_freq", s.grain_freq},
          {"grain_amp", s.grain_amp},
          {"grain_rad", s.grain_rad},
          {"grain_tubes", s.grain_tubes}}},
        {"canvas_mesh",
         project_mesh.slot,
         {{"texdepth", project_mesh.texdepth},
          {"light", project_mesh.light},
          {"specular", project_mesh.specular},
          {"rgb1", project_mesh.rgb1},
          {"rgb2", project_mesh.rgb2},
          {"isize", project_mesh.isize},
          {"camvec", project_mesh.camvec}}},
        {"toolpath",
         project_toolpath.slot,
         {{"stipple", project_toolpath.stipple}, {"progress", project_toolpath.progress}}},
        {"simulation",
         m.slot,
         {{"depth", m.depth},
          {"proxy", m.proxy},
          {"scale", m.scale},
          {"offs", m.offs},
          {"proxysize", m.proxysize},
          {"step", m.step},
          {"rgb1", m.rgb1},
          {"rgb2", m.rgb2},
          {"light", m.light},
          {"specular", m.specular},
          {"cam_vec", m.cam_vec},
          {"isize", m.isize},
          {"bendcolor", m.bendcolor}}},
        {"rasterbrush", project_rasterbrush.slot, {{"alpha", project_rasterbrush.alpha}}},
        {"pathoverlap", project_pathoverlap.slot, {}},
    };
    std::set<int> slots;
    for (const Case &c : cases) {
        ASSERT_GE(c.slot, 0) << c.name;
        EXPECT_STREQ(r_shaders[c.slot].name, c.name);
        slots.insert(c.slot);
        for (const auto &[uniform, location] : c.uniforms)
            EXPECT_GE(location, 0) << c.name << ":" << uniform;
    }
    EXPECT_EQ(slots.size(), 8u);
    EXPECT_EQ(log.count(" !!! "), 0) << log.text();

    project_freeshaders();
    model_quit();
    EXPECT_EQ(project_slices.slot, -1);
    EXPECT_EQ(project_slices.grain_tubes, -1);
    EXPECT_EQ(mdl_shadedmode, -1);
    for (int slot : slots)
        EXPECT_EQ(r_shaders[slot].name[0], 0) << "slot " << slot << " is free again";
}

// The shader table is filled up to the first free slot so that the loads
// overflow; both loads are tried even when the first fails.
TEST_F(StartShaders, ModelInitReportsEachFailedLoad)
{
    struct Case {
        int taken; // slots named before model_init
        int result;
        bool originfailed, shadedfailed;
    };
    const Case cases[] = {
        {0, 1, false, false},
        {r_maxshaders - 1, 0, false, true},
        {r_maxshaders, 0, true, true},
    };
    for (const Case &c : cases) {
        r_clearshaders();
        for (int i = 0; i < c.taken; i++)
            strcpy(r_shaders[i].name, "taken");
        testlog_capture log;
        EXPECT_EQ(model_init(), c.result) << c.taken;
        EXPECT_EQ(log.contains("[ ERROR ] model_init: failed to create shader"), c.originfailed) << c.taken;
        EXPECT_EQ(log.contains("[ ERROR ] model_init: failed to create mdl_faces shader"), c.shadedfailed) << c.taken;
        EXPECT_EQ(mdl_originshader >= 0, !c.originfailed) << c.taken;
        EXPECT_EQ(mdl_shadedshader >= 0, !c.shadedfailed) << c.taken;
        model_quit();
    }
    r_clearshaders();
}

// One point per case at a pixel centre: the axes the swap puts first must
// land it there, coloured by its clip position.
TEST_F(StartShaders, MdlOriginColoursByClipPositionUnderEverySwap)
{
    ASSERT_EQ(model_init(), 1);
    struct Case {
        int swaps;
        float scale;
        float vertex[3];
        float placed[3]; // the swapped, scaled vertex
    };
    const Case cases[] = {
        {0, 1.0f, {-0.4375f, 0.5625f, 0.5f}, {-0.4375f, 0.5625f, 0.5f}},
        {1, 1.0f, {0.5625f, -0.4375f, 0.5f}, {-0.4375f, 0.5625f, 0.5f}},
        {2, 1.0f, {-0.25f, 0.0625f, 0.6875f}, {0.6875f, 0.0625f, -0.25f}},
        {3, 1.0f, {0.1875f, 0.75f, -0.3125f}, {0.1875f, -0.3125f, 0.75f}},
        {4, 1.0f, {-0.5f, 0.3125f, -0.5625f}, {-0.5625f, 0.3125f, 0.5f}},
        {5, 1.0f, {0.4375f, 0.25f, -0.6875f}, {0.4375f, -0.6875f, -0.25f}},
        {6, 1.0f, {-0.8125f, 0.5f, -0.1875f}, {-0.8125f, 0.1875f, 0.5f}},
        {0, 2.0f, {-0.21875f, 0.28125f, 0.25f}, {-0.4375f, 0.5625f, 0.5f}},
    };
    r_bindshader(mdl_originshader);
    for (const Case &c : cases) {
        clear();
        r_shaderuniformint(mdl_originswaps, c.swaps);
        r_shaderuniformfloat(mdl_originscale, c.scale);
        r_begin(r_points);
        r_vertex(c.vertex[0], c.vertex[1], c.vertex[2]);
        r_end();
        int px = (int)std::lround((c.placed[0] + 1.0f) * ss_side / 2 - 0.5f);
        int py = (int)std::lround((c.placed[1] + 1.0f) * ss_side / 2 - 0.5f);
        ss_rgba want{c.placed[0] * 0.5f + 0.5f, c.placed[1] * 0.5f + 0.5f, c.placed[2] * -0.5f + 0.5f, 1.0f};
        ss_expectpixel(ss_pixel(px, py), want, 1e-4f, "swaps " + std::to_string(c.swaps));
    }
}

TEST_F(StartShaders, MdlShadedModes)
{
    ASSERT_EQ(model_init(), 1);
    struct Case {
        int mode, swaps;
        float normal[3]; // vertex colour
        ss_rgba want;
    };
    const Case cases[] = {
        {0, 0, {0.0f, 0.0f, 1.0f}, {0.25f, 0.25f, 1.0f, 1.0f}},
        {0, 1, {1.0f, 0.0f, 0.0f}, {0.25f, 1.0f, 0.25f, 1.0f}}, // x becomes y
        {1, 0, {0.0f, 0.0f, 1.0f}, {0.5f, 0.0f, 0.0f, 0.1f}},
        {2, 0, {0.0f, 0.0f, 1.0f}, {0.0f, 0.5f, 0.0f, 0.1f}},
        {3, 0, {0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.5f, 0.1f}},
    };
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    r_bindshader(mdl_shadedshader);
    glUniformMatrix4fv(mdl_shadeditmv, 1, GL_FALSE, identity);
    for (const Case &c : cases) {
        clear();
        r_shaderuniformint(mdl_shadedmode, c.mode);
        r_shaderuniformint(mdl_shadedswaps, c.swaps);
        r_color(c.normal[0], c.normal[1], c.normal[2], 1.0f);
        ss_fullquad();
        ss_expectpixel(ss_pixel(8, 8), c.want, 1e-4f, "mode " + std::to_string(c.mode));
    }
}

TEST_F(StartShaders, RasterbrushScalesTheVertexAlpha)
{
    ASSERT_EQ(project_loadshaders(), 1);
    struct Case {
        int alphabyte; // vertex alpha as stored
        float alpha;   // uniform
    };
    const Case cases[] = {{204, 0.5f}, {255, 0.0f}, {128, 1.0f}};
    r_bindshader(project_rasterbrush.slot);
    for (const Case &c : cases) {
        clear();
        r_shaderuniformfloat(project_rasterbrush.alpha, c.alpha);
        r_color(ss_byte(51), ss_byte(102), ss_byte(153), ss_byte(c.alphabyte));
        ss_fullquad();
        ss_rgba want{51 / 255.0f, 102 / 255.0f, 153 / 255.0f, c.alphabyte / 255.0f * c.alpha};
        ss_expectpixel(ss_pixel(5, 9), want, 1e-5f, "alpha " + std::to_string(c.alpha));
    }
}

TEST_F(StartShaders, PathoverlapDrawsEightPixelDiamonds)
{
    ASSERT_EQ(project_loadshaders(), 1);
    r_bindshader(project_pathoverlap.slot);
    r_color(1.0f, 0.0f, ss_byte(191), ss_byte(229));
    ss_fullquad();
    std::vector<ss_rgba> px((size_t)ss_side * ss_side);
    glReadPixels(0, 0, ss_side, ss_side, GL_RGBA, GL_FLOAT, px.data());
    auto at = [&](int x, int y) { return px[(size_t)y * ss_side + x]; };
    int opaque = 0;
    for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) {
            const ss_rgba p = at(x, y);
            EXPECT_NEAR(p.r, 1.0f, 1e-5f);
            EXPECT_NEAR(p.b, 191 / 255.0f, 1e-5f);
            EXPECT_TRUE(p.a == 0.0f || std::fabs(p.a - 229 / 255.0f) < 1e-5f) << x << "," << y << " " << p.a;
            EXPECT_EQ(p.a, at(x + 8, y).a) << x << "," << y;
            EXPECT_EQ(p.a, at(x, y + 8).a) << x << "," << y;
            opaque += p.a > 0.0f;
        }
    }
    EXPECT_GT(at(3, 4).a, 0.0f) << "the middle of a diamond shows";
    EXPECT_EQ(at(0, 0).a, 0.0f) << "the corners between diamonds are clear";
    EXPECT_EQ(at(7, 0).a, 0.0f);
    EXPECT_GT(opaque, 8);
    EXPECT_LT(opaque, 56);
}

// Position along the path rides in the texture coordinates: the coarse part
// in s, the fine part in t.
TEST_F(StartShaders, ToolpathInvertsTheCutPartAndStipples)
{
    ASSERT_EQ(project_loadshaders(), 1);
    const ss_rgba plain{51 / 255.0f, 102 / 255.0f, 153 / 255.0f, 1.0f};
    const ss_rgba cut{1.0f - plain.g, 1.0f - plain.b, 1.0f - plain.r, 0.15f};
    const ss_rgba faint{plain.r * 0.8f + 0.1f, plain.g * 0.8f + 0.1f, plain.b * 0.8f + 0.1f, 1.0f};
    struct Case {
        float s, t; // as given to r_texcoord
        float progress;
        int stipple;
        int x, y;
        ss_rgba want;
    };
    const Case cases[] = {
        {0.25f, 0.0f, 0.5f, 0, 8, 8, cut},
        {0.75f, 0.0f, 0.5f, 0, 8, 8, plain},
        {0.5f, 0.5f, 0.5001f, 0, 8, 8, plain}, // 0.5 + 2048 / 4096^2 is past it
        {0.5f, 0.5f, 0.5002f, 0, 8, 8, cut},
        {0.75f, 0.0f, 0.5f, 1, 0, 0, {faint.r, faint.g, faint.b, 0.3f}},
        {0.75f, 0.0f, 0.5f, 1, 2, 0, {faint.r, faint.g, faint.b, 0.1f}},
        {0.75f, 0.0f, 0.5f, 1, 2, 2, {faint.r, faint.g, faint.b, 0.3f}},
    };
    r_bindshader(project_toolpath.slot);
    for (const Case &c : cases) {
        clear();
        r_shaderuniformfloat(project_toolpath.progress, c.progress);
        r_shaderuniformint(project_toolpath.stipple, c.stipple);
        r_color(ss_byte(51), ss_byte(102), ss_byte(153), 1.0f);
        r_texcoord(c.s, c.t);
        r_begin(r_trianglefan);
        r_vertex(-1.0f, -1.0f, 0.0f);
        r_vertex(1.0f, -1.0f, 0.0f);
        r_vertex(1.0f, 1.0f, 0.0f);
        r_vertex(-1.0f, 1.0f, 0.0f);
        r_end();
        ss_expectpixel(ss_pixel(c.x, c.y), c.want, 1e-5f,
                       "s " + std::to_string(c.s) + " progress " + std::to_string(c.progress));
    }
}

// A flat field at 0.5 under one slice: below the surface the slice is lit
// and coloured by its height, above it nothing is drawn; where nothing is
// selected the red diamonds cover it.
TEST_F(StartShaders, CanvasSlicesSanity)
{
    ASSERT_EQ(project_loadshaders(), 1);
    const project_slicesprogram &u = project_slices;
    const float rgb1[3] = {0.2f, 0.4f, 0.6f}, rgb2[3] = {0.8f, 0.6f, 0.4f};
    const float light[3] = {0.0f, 0.0f, 1.0f}, specular[3] = {2.0f, 0.0f, 0.5f};
    const float camvec[3] = {0.0f, 0.0f, -1.0f}, psize[3] = {1.0f, 1.0f, 0.1f};
    const float isize[4] = {1.0f / ss_side, 1.0f / ss_side, 0.625f, 1.0f};
    const int heights = flattexture(ss_side, ss_side, 0.5f);
    const int selected = flattexture(2, 2, 1.0f);
    const int unselected = flattexture(2, 2, 0.0f);
    // Flat and lit from straight above: shade = mix(1, 1.05, 0.5); the
    // colour curve 0.5 leaves the height as the gradient parameter.
    const float shade = 1.025f;
    const ss_rgba lit{(0.2f + 0.6f * 0.3f) * shade, (0.4f + 0.2f * 0.3f) * shade, (0.6f - 0.2f * 0.3f) * shade, 1.0f};
    const ss_rgba red{shade * 0.6f + 0.4f, 0.0f, 0.0f, 1.0f};
    const ss_rgba none{0.0f, 0.0f, 0.0f, 0.0f};
    struct Case {
        int coarse, fine; // slice height bytes: (fine / 255 + coarse) / 256
        int selection;
        ss_rgba want; // at pixel (10, 8), inside a diamond band
    };
    const Case cases[] = {
        {76, 204, selected, lit},    // 0.3
        {179, 51, selected, none},   // 0.7: above the surface
        {76, 204, unselected, red},
    };
    for (const Case &c : cases) {
        clear();
        r_bindtexture(heights, 0);
        r_bindtexture(c.selection, 1);
        r_bindshader(u.slot);
        r_shaderuniformint(u.texdepth, 0);
        r_shaderuniformint(u.texselect, 1);
        glUniform4fv(u.isize, 1, isize);
        r_shaderuniformvec3(u.light, 1, light);
        r_shaderuniformvec3(u.specular, 1, specular);
        r_shaderuniformvec3(u.rgb1, 1, rgb1);
        r_shaderuniformvec3(u.rgb2, 1, rgb2);
        r_shaderuniformvec3(u.camvec, 1, camvec);
        r_shaderuniformvec3(u.psize, 1, psize);
        r_shaderuniformfloat(u.stepsize, 0.0f);
        r_shaderuniformfloat(u.bendcolor, 0.5f);
        r_shaderuniformfloat(u.grain_scale, 0.0f);
        r_color(ss_byte(c.fine), ss_byte(c.coarse), 0.0f, 1.0f);
        ss_fullquad();
        ss_expectpixel(ss_pixel(10, 8), c.want, 1e-4f, "slice byte " + std::to_string(c.coarse));
    }
}

// The top face of the stock's box over a flat cut: the ray finds the
// surface, by marching or from the proxy's start, and the fragment takes
// the surface's depth, not the box face's.
TEST_F(StartShaders, SimulationFindsTheSurfaceAndWritesItsDepth)
{
    ASSERT_EQ(project_loadshaders(), 1);
    const project_simulationprogram &u = project_simulation;
    // World x, y -1..1 over the map, world z -0.5..0.5 over the stock.
    const float scale[3] = {0.5f, 0.5f, 1.0f}, offs[3] = {0.5f, 0.5f, 0.5f};
    const float rgb1[3] = {0.9f, 0.7f, 0.5f}, rgb2[3] = {0.3f, 0.2f, 0.1f};
    const float light[3] = {0.0f, 0.0f, 1.0f}, specular[3] = {2.0f, 0.0f, 0.5f};
    const float camvec[3] = {0.0f, 0.0f, -1.0f};
    const float isize[4] = {1.0f / ss_side, 1.0f / ss_side, -0.625f, 1.0f};
    struct Case {
        float cut, proxy;
        float depth; // of the surface's world height, under identity matrices
    };
    const Case cases[] = {
        {0.5f, 0.0f, 0.5f},
        {0.3f, 0.0f, 0.6f},
        {0.3f, 0.3f, 0.6f},
        {0.3f, 0.5f, 0.5f},  // a proxy deeper than the map shows where the ray starts
        {1.0f, 0.0f, 0.25f}, // cut through to the bottom of the stock
    };
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_ALWAYS);
    for (const Case &c : cases) {
        clear();
        // Both made before either is bound: an upload binds its texture.
        const int cut = flattexture(ss_side, ss_side, c.cut);
        const int proxy = flattexture(2, 2, c.proxy);
        r_bindtexture(cut, 0);
        r_bindtexture(proxy, 1);
        r_bindshader(u.slot);
        r_shaderuniformint(u.depth, 0);
        r_shaderuniformint(u.proxy, 1);
        r_shaderuniformvec3(u.scale, 1, scale);
        r_shaderuniformvec3(u.offs, 1, offs);
        r_shaderuniformfloat(u.proxysize, 8.0f);
        r_shaderuniformfloat(u.step, 1.0f);
        r_shaderuniformvec3(u.rgb1, 1, rgb1);
        r_shaderuniformvec3(u.rgb2, 1, rgb2);
        r_shaderuniformvec3(u.light, 1, light);
        r_shaderuniformvec3(u.specular, 1, specular);
        r_shaderuniformvec3(u.cam_vec, 1, camvec);
        glUniform4fv(u.isize, 1, isize);
        r_shaderuniformfloat(u.bendcolor, 0.5f);
        r_color(1.0f, 1.0f, 1.0f, 1.0f);
        ss_fullquad(0.5f); // the top of the stock
        EXPECT_NEAR(ss_depth(8, 8), c.depth, 2e-3f) << "cut " << c.cut << " proxy " << c.proxy;
        // Lit, and coloured along the gradient by the cut depth where the
        // ray stopped: map height = world z + 0.5 = 2 x depth - 0.5.
        const float stop = 1.5f - 2.0f * c.depth;
        const ss_rgba p = ss_pixel(8, 8);
        EXPECT_NEAR(p.r, (rgb1[0] + (rgb2[0] - rgb1[0]) * stop) * 1.025f, 3e-3f) << c.cut;
        EXPECT_EQ(p.a, 1.0f);
    }
    glDepthFunc(GL_LEQUAL);
}
