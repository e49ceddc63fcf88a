// Immediate drawing and render models on a real context, drawn into a small
// offscreen framebuffer and read back: colour and texture-coordinate
// storage, primitives, the immediate arrays' growth and shrink, model
// growth, draw offsets, the model table and the GUI's 2D draw state.
#include "geom/model.h"
#include "glcontext.h"
#include "img/image.h"
#include "render/draw.h"
#include "render/drawstate.h"
#include "render/texture.h"
#include "testlog.h"

#include <cmath>
#include <string>
#include <vector>

constexpr int draw_size = 32; // framebuffer side in pixels

class Draw : public GlTest {
protected:
    gltest_target target;

    void SetUp() override
    {
        GlTest::SetUp();
        startdraw();
        ASSERT_EQ(target.make(draw_size, draw_size, 4, 0), 1);
        target.bindasrenderer(draw_size, draw_size);
        glClear(GL_COLOR_BUFFER_BIT);
        r_color(1.0f, 1.0f, 1.0f, 1.0f);
        r_texcoord(0.0f, 0.0f);
    }
    void TearDown() override
    {
        for (int slot = 0; slot < r_maxmodels; slot++)
            r_modelfree(slot);
        freetextures();
        r_bindtexture(-1);
        r_blendmode(0);
        gui_defaultdrawstate = {-1, 0};
        target.free();
        EXPECT_EQ(r_primitive, -1);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
};

// Device coordinate of the centre of pixel p.
static float draw_ndc(int p)
{
    return ((float)p + 0.5f) * 2.0f / draw_size - 1.0f;
}

struct rgba {
    uint8_t r, g, b, a;
    bool operator==(const rgba &o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

static rgba draw_pixel(int x, int y)
{
    rgba p{};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}

static void draw_quad(int primitive, float x0, float y0, float x1, float y1)
{
    r_begin(primitive);
    r_vertex(x0, y0, 0.0f);
    r_vertex(x1, y0, 0.0f);
    r_vertex(x1, y1, 0.0f);
    r_vertex(x0, y1, 0.0f);
    r_end();
}

TEST_F(Draw, ColourChannelsBecomeClampedBytes)
{
    struct Case {
        float r, g, b, a;
        rgba expect;
    };
    const Case cases[] = {
        {-1.0f, 0.5f, 2.0f, 1.0f, {0, 127, 255, 255}},
        {0.0f, 0.999f, 1.0f, 0.1f, {0, 254, 255, 25}},
        {NAN, -INFINITY, INFINITY, 0.004f, {0, 0, 255, 1}},
    };
    for (const Case &c : cases) {
        r_color(c.r, c.g, c.b, c.a);
        rgba got{r_currentvertex.r, r_currentvertex.g, r_currentvertex.b, r_currentvertex.a};
        EXPECT_TRUE(got == c.expect) << c.r << " " << c.g << " " << c.b << " " << c.a;
    }
}

TEST_F(Draw, TextureCoordinatesClampForClampingTexturesAndHoldToSixteenBits)
{
    const uint8_t rgb[3] = {1, 2, 3};
    int clamped = r_texture(1, 1, rgb);
    image *img = img_alloc("repeat", 1, 1, 3, rgb);
    int repeating = img_texture(nullptr, img, 0, 1, 0);
    img_free(img);
    ASSERT_GE(clamped, 0);
    ASSERT_GE(repeating, 0);
    struct Case {
        int bound;
        float t;
        int16_t expect;
    };
    const Case cases[] = {
        {clamped, 1.5f, 4505},
        {clamped, -3.0f, -409},
        {clamped, 0.5f, 2048},
        {clamped, -0.05f, -204},
        {repeating, 1.5f, 6144},
        {repeating, -0.25f, -1024},
        {repeating, 100.0f, 32767}, // clamped, not wrapped
        {repeating, -100.0f, -32768},
        {repeating, 7.99f, 32727},
        {repeating, NAN, 0},
        {-1, 1.5f, 6144},
        {-1, 1e30f, 32767},
    };
    for (const Case &c : cases) {
        r_bindtexture(c.bound);
        r_texcoord(c.t, 0.25f);
        EXPECT_EQ(r_currentvertex.u, c.expect) << "slot " << c.bound << " t " << c.t;
        EXPECT_EQ(r_currentvertex.v, 1024);
    }
}

TEST_F(Draw, TexturedQuadSamplesThroughTheScaledTextureMatrix)
{
    // Left texel red, right texel blue; nearest filtering.
    const uint8_t texels[6] = {255, 0, 0, 0, 0, 255};
    image *img = img_alloc("two", 2, 1, 3, texels);
    int slot = img_texture(nullptr, img, 0, 0, 1);
    img_free(img);
    r_bindtexture(slot);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    r_begin(r_trianglefan);
    r_texcoord(0.0f, 0.0f);
    r_vertex(-1.0f, -1.0f, 0.0f);
    r_texcoord(1.0f, 0.0f);
    r_vertex(1.0f, -1.0f, 0.0f);
    r_texcoord(1.0f, 1.0f);
    r_vertex(1.0f, 1.0f, 0.0f);
    r_texcoord(0.0f, 1.0f);
    r_vertex(-1.0f, 1.0f, 0.0f);
    r_end();
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    EXPECT_TRUE(draw_pixel(4, 16) == (rgba{255, 0, 0, 255}));
    EXPECT_TRUE(draw_pixel(28, 16) == (rgba{0, 0, 255, 255}));
}

TEST_F(Draw, BeginWhileOpenReportsAndKeepsTheFirstPrimitive)
{
    testlog_capture log;
    r_begin(r_triangles);
    r_begin(r_lines);
    EXPECT_TRUE(log.contains("[ ERROR ] r_begin: already drawing primitives!"));
    EXPECT_EQ(r_primitive, (int)r_triangles);
    r_color(0.0f, 1.0f, 0.0f, 1.0f);
    r_vertex(-1.0f, -1.0f, 0.0f);
    r_vertex(1.0f, -1.0f, 0.0f);
    r_vertex(-1.0f, 1.0f, 0.0f);
    r_end();
    EXPECT_TRUE(draw_pixel(2, 2) == (rgba{0, 255, 0, 255}));

    r_begin(9);
    EXPECT_EQ(r_primitive, -1);
    r_end();
    EXPECT_TRUE(log.contains("r_begin: no primitive 9"));
    EXPECT_TRUE(log.contains("r_end: no primitive open"));
}

TEST_F(Draw, LargeImmediatePrimitiveIsDrawnWholeAndTheArraysShrinkBack)
{
    uint32_t drawn = r_vertsdrawn;
    r_begin(r_points);
    r_color(1.0f, 0.0f, 0.0f, 1.0f);
    for (int i = 0; i < 99999; i++)
        r_vertex(draw_ndc(1), draw_ndc(1), 0.0f);
    EXPECT_EQ(r_immcapacity, 131072);
    r_color(0.0f, 1.0f, 0.0f, 1.0f);
    r_vertex(draw_ndc(20), draw_ndc(20), 0.0f);
    r_end();
    EXPECT_EQ(r_vertsdrawn - drawn, 100000u);
    EXPECT_EQ(r_immcapacity, r_immediateverts);
    EXPECT_TRUE(draw_pixel(1, 1) == (rgba{255, 0, 0, 255}));
    EXPECT_TRUE(draw_pixel(20, 20) == (rgba{0, 255, 0, 255}));
}

TEST_F(Draw, ModelVertexCapacityGrowsToThePowerOnePointOne)
{
    struct Case {
        int count;
        uint32_t maxverts;
    };
    const Case cases[] = {
        {65535, 65536},
        {65536, 198668},
        {70000, 198668},
        {700000, 2574750}, // 198668, 672885, then past it
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count);
        int slot = r_modelnew();
        ASSERT_GE(slot, 0);
        r_begin(r_points);
        for (int i = 0; i < c.count; i++)
            r_vertex((float)i, 0.0f, 0.0f);
        r_end();
        const r_model &m = r_models[slot];
        EXPECT_EQ(m.numverts, (uint32_t)c.count);
        EXPECT_EQ(m.maxverts, c.maxverts);
        EXPECT_EQ(m.positions[(size_t)(c.count - 1) * 3], (float)(c.count - 1));
        EXPECT_EQ(r_immcapacity, r_immediateverts);
        r_modelend();
        EXPECT_EQ(m.maxverts, 0u);
        EXPECT_EQ(m.positions, nullptr);
        EXPECT_EQ(m.colors, nullptr);
        EXPECT_EQ(m.texcoords, nullptr);
        EXPECT_EQ(m.numverts, (uint32_t)c.count);
        EXPECT_EQ(r_currentmodel, -1);
        r_modelfree(slot);
    }
}

TEST_F(Draw, ModelDrawCallsTripleWhenFull)
{
    int slot = r_modelnew();
    ASSERT_GE(slot, 0);
    for (int i = 1; i <= 300; i++) {
        r_begin(r_points);
        r_vertex(0.0f, 0.0f, 0.0f);
        r_end();
        if (i == 255)
            EXPECT_EQ(r_models[slot].maxcalls, 256u);
        if (i == 256)
            EXPECT_EQ(r_models[slot].maxcalls, 768u);
    }
    EXPECT_EQ(r_models[slot].numcalls, 300u);
    EXPECT_EQ(r_models[slot].calls[299].primitive, (uint32_t)GL_POINTS);
    r_modelend();
}

TEST_F(Draw, ModelDrawsItsCallsAtRunningOffsets)
{
    // Three calls of 3, 4 and 5 vertices, each filling its own band of the
    // framebuffer in its own colour: a wrong offset draws the wrong band.
    int slot = r_modelnew();
    ASSERT_GE(slot, 0);
    r_color(1.0f, 0.0f, 0.0f, 1.0f);
    r_begin(r_triangles);
    r_vertex(-1.0f, -1.0f, 0.0f);
    r_vertex(-0.5f, -1.0f, 0.0f);
    r_vertex(-1.0f, 1.0f, 0.0f);
    r_end();
    r_color(0.0f, 1.0f, 0.0f, 1.0f);
    draw_quad(r_trianglefan, -0.25f, -1.0f, 0.25f, 1.0f);
    r_color(0.0f, 0.0f, 1.0f, 1.0f);
    r_begin(r_trianglestrip);
    r_vertex(0.5f, -1.0f, 0.0f);
    r_vertex(0.5f, 1.0f, 0.0f);
    r_vertex(0.75f, -1.0f, 0.0f);
    r_vertex(0.75f, 1.0f, 0.0f);
    r_vertex(1.0f, -1.0f, 0.0f);
    r_end();
    r_modelend();
    glClear(GL_COLOR_BUFFER_BIT); // nothing was drawn while recording
    uint32_t drawn = r_vertsdrawn;
    testlog_capture log;
    r_modeldraw(slot);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(r_vertsdrawn - drawn, 12u);
    EXPECT_TRUE(draw_pixel(1, 4) == (rgba{255, 0, 0, 255}));
    EXPECT_TRUE(draw_pixel(16, 16) == (rgba{0, 255, 0, 255}));
    EXPECT_TRUE(draw_pixel(26, 4) == (rgba{0, 0, 255, 255}));
    EXPECT_TRUE(draw_pixel(8, 16) == (rgba{0, 0, 0, 255}));
    GLint buffer = -1;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &buffer);
    EXPECT_EQ(buffer, 0);
    r_modeldraw(-1);
}

TEST_F(Draw, ModelTableOverflowsAt256AndTakesAFreedSlotAgain)
{
    for (int i = 0; i < r_maxmodels; i++) {
        int slot = r_modelnew();
        ASSERT_EQ(slot, i);
        r_modelend();
    }
    testlog_capture log;
    EXPECT_EQ(r_modelnew(), -1);
    EXPECT_TRUE(log.contains("[ ERROR ] r_modelnew: overflow!"));
    EXPECT_EQ(r_currentmodel, -1);
    r_modelfree(17);
    EXPECT_EQ(r_models[17].maxcalls, 0u);
    EXPECT_EQ(r_modelnew(), 17);
    EXPECT_EQ(r_currentmodel, 17);
    r_modelend();
}

TEST_F(Draw, FreeingARecordingModelReleasesEverything)
{
    uint64_t before = sys_memused();
    int slot = r_modelnew();
    ASSERT_GE(slot, 0);
    r_begin(r_points);
    for (int i = 0; i < 70000; i++) // grown past its first capacity
        r_vertex(0.0f, 0.0f, 0.0f);
    r_end();
    r_modelfree(slot);
    EXPECT_EQ(sys_memused(), before);
    EXPECT_EQ(r_currentmodel, -1);
    EXPECT_EQ(r_models[slot].maxcalls, 0u);

    // A primitive after the free is drawn at once again.
    r_color(1.0f, 0.0f, 1.0f, 1.0f);
    draw_quad(r_trianglefan, -1.0f, -1.0f, 1.0f, 1.0f);
    EXPECT_TRUE(draw_pixel(16, 16) == (rgba{255, 0, 255, 255}));
}

TEST_F(Draw, DrawingAModelStillRecordingIsRefused)
{
    int slot = r_modelnew();
    ASSERT_GE(slot, 0);
    draw_quad(r_trianglefan, -1.0f, -1.0f, 1.0f, 1.0f);
    testlog_capture log;
    r_modeldraw(slot);
    EXPECT_TRUE(log.contains("r_modeldraw: model " + std::to_string(slot) + " is not uploaded"));
    EXPECT_TRUE(draw_pixel(16, 16) == (rgba{0, 0, 0, 255}));
    r_modelfree(slot);
}

TEST_F(Draw, BeginTrianglesTakesTheGuiDefaultDrawState)
{
    struct Case {
        int blend;
        GLint source, destination;
    };
    const Case cases[] = {
        {1, GL_ONE, GL_ONE},
        {2, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA},
        {3, GL_DST_COLOR, GL_SRC_COLOR},
        {4, GL_ONE, GL_ONE_MINUS_SRC_COLOR},
        {5, GL_SRC_COLOR, GL_DST_COLOR},
        {6, GL_SRC_ALPHA, GL_ONE},
        {7, GL_SRC_ALPHA, GL_SRC_COLOR},
    };
    const uint8_t rgb[3] = {1, 2, 3};
    int slot = r_texture(1, 1, rgb);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.blend);
        gui_defaultdrawstate = {slot, c.blend};
        r_begintriangles();
        EXPECT_EQ(r_primitive, (int)r_triangles);
        r_end();
        EXPECT_EQ(gui_currentdrawstate, &gui_defaultdrawstate);
        EXPECT_TRUE(glIsEnabled(GL_BLEND));
        GLint source = 0, destination = 0;
        glGetIntegerv(GL_BLEND_SRC_RGB, &source);
        glGetIntegerv(GL_BLEND_DST_RGB, &destination);
        EXPECT_EQ(source, c.source);
        EXPECT_EQ(destination, c.destination);
        EXPECT_EQ(r_boundtexture, slot);
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    }
    gui_defaultdrawstate = {-1, 0};
    r_begintriangles();
    r_end();
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(Draw, MeshTrianglesAreColouredByTheirFaceNormals)
{
    // Two triangles splitting the framebuffer along its diagonal, and one
    // face naming a vertex the mesh does not have.
    float verts[] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    model_face faces[] = {
        {0, 1, 2, {1.0f, 0.0f, 0.5f}},
        {0, 2, 3, {0.0f, -1.0f, 2.0f}},
        {0, 2, 7, {1.0f, 1.0f, 1.0f}},
    };
    model mesh{};
    mesh.sz_verts = mesh.num_verts = 4;
    mesh.sz_faces = mesh.num_faces = 3;
    mesh.verts = verts;
    mesh.faces = faces;
    testlog_capture log;
    uint32_t drawn = r_vertsdrawn;
    mesh_drawtris(&mesh);
    EXPECT_EQ(r_vertsdrawn - drawn, 6u);
    EXPECT_TRUE(draw_pixel(28, 4) == (rgba{255, 0, 127, 0}));
    EXPECT_TRUE(draw_pixel(4, 28) == (rgba{0, 0, 255, 0}));
    EXPECT_TRUE(log.contains("mesh_drawtris: skipped 1 faces naming vertices beyond 4"));
    mesh_drawtris(nullptr);
}
