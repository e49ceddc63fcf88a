// The texture table on a real context: shrinking to the size limit, upload
// formats read back, filters and wrapping, reuse by name, overflow and slot
// reuse, binding, and framebuffers whose renderbuffers are drawn into and
// read back.
#include "glcontext.h"
#include "img/image.h"
#include "render/draw.h"
#include "render/texture.h"
#include "sys/main.h"
#include "testlog.h"

#include <cstring>
#include <string>
#include <vector>

class Textures : public GlTest {
protected:
    int savedlimit = 0;
    std::vector<image *> images;

    void SetUp() override
    {
        GlTest::SetUp();
        r_defaultstate();
        r_cleartextures();
        savedlimit = gl_maxtexturesize;
        gl_maxtexturesize = 16384;
    }
    void TearDown() override
    {
        r_bindtexture(-1, 0);
        for (int slot = 0; slot < r_maxtextures; slot++)
            r_freetexture(slot);
        for (image *img : images)
            img_free(img);
        gl_maxtexturesize = savedlimit;
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
    image *field(const char *name, int w, int h, const std::vector<float> &values)
    {
        images.push_back(img_alloc(name, w, h, 4, values.data()));
        return images.back();
    }
    image *colour(const char *name, int w, int h, int bpp, const std::vector<uint8_t> &bytes)
    {
        images.push_back(img_alloc(name, w, h, bpp, bytes.data()));
        return images.back();
    }
    static int inuse()
    {
        int n = 0;
        for (const r_textureslot &t : r_textures)
            n += t.width != 0;
        return n;
    }
};

static GLint texture_level0(int slot, GLenum what)
{
    glBindTexture(GL_TEXTURE_2D, r_textures[slot].gltexture);
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, what, &value);
    return value;
}

static GLint texture_parameter(int slot, GLenum what)
{
    glBindTexture(GL_TEXTURE_2D, r_textures[slot].gltexture);
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, what, &value);
    return value;
}

TEST_F(Textures, ImagesOverTheLimitAreHalvedUntilBothSidesFit)
{
    struct Case {
        int width, height, limit;
        int expectwidth, expectheight;
    };
    const Case cases[] = {
        {5000, 3000, 4096, 2500, 1500},
        {64, 64, 64, 64, 64},
        {130, 20, 64, 32, 5}, // halved twice: 65 is still over
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        gl_maxtexturesize = c.limit;
        image *img = field("big", c.width, c.height, std::vector<float>((size_t)c.width * c.height, 0.25f));
        ASSERT_NE(img, nullptr);
        int live = img_count;
        testlog_capture log;
        int slot = img_texture(nullptr, img, 1, 0, 1);
        ASSERT_GE(slot, 0);
        EXPECT_EQ(r_textures[slot].width, (uint32_t)c.expectwidth);
        EXPECT_EQ(r_textures[slot].height, (uint32_t)c.expectheight);
        EXPECT_EQ(texture_level0(slot, GL_TEXTURE_WIDTH), c.expectwidth);
        EXPECT_EQ(texture_level0(slot, GL_TEXTURE_HEIGHT), c.expectheight);
        std::string line = "img_texture: downscaled " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                           " to " + std::to_string(c.expectwidth) + "x" + std::to_string(c.expectheight) +
                           " (maxtexsize:" + std::to_string(c.limit) + ")";
        EXPECT_EQ(log.contains(line), c.width > c.limit);
        EXPECT_EQ(img_count, live); // the shrunk copy is gone again
        std::vector<float> back((size_t)c.expectwidth * c.expectheight);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_FLOAT, back.data());
        EXPECT_EQ(back.front(), 0.25f);
        EXPECT_EQ(back.back(), 0.25f);
        r_freetexture(slot);
        img_free(img);
        images.pop_back();
    }
}

TEST_F(Textures, ScalarFieldUploadsAsOneFloatChannelThatReadsBackEqual)
{
    const std::vector<float> values = {-3.5f, 0.0f, 1e-7f, 0.333333f, 1.0f, 2.75f, 1e6f,
                                       0.5f,  -0.0f, 7.125f, 0.1f, 0.9f,  123.456f, -1e-3f,
                                       4.0f,  5.0f, 6.0f,   7.0f, 8.0f,  9.0f,     10.0f};
    image *img = field("heights", 7, 3, values);
    int slot = img_texture("heights", img, 1);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(r_textures[slot].format, 1u);
    EXPECT_EQ(r_textures[slot].clamp, 1u);
    EXPECT_STREQ(r_textures[slot].name, "heights");
    EXPECT_EQ(texture_level0(slot, GL_TEXTURE_INTERNAL_FORMAT), GL_R32F);
    std::vector<float> back(values.size());
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_FLOAT, back.data());
    EXPECT_EQ(back, values);
}

TEST_F(Textures, ColourImagesUploadByTheirBytesPerPixel)
{
    struct Case {
        int bpp;
        GLint internal;
        GLenum data;
    };
    const Case cases[] = {
        {1, GL_R8, GL_RED},
        {2, GL_RG8, GL_RG},
        {3, GL_RGB8, GL_RGB},
        {4, GL_RGBA8, GL_RGBA},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bpp);
        // 3 x 2 pixels: rows of odd byte length need the alignment of 1.
        std::vector<uint8_t> bytes((size_t)3 * 2 * c.bpp);
        for (size_t i = 0; i < bytes.size(); i++)
            bytes[i] = (uint8_t)(i * 37 + 11);
        image *img = colour("rgb", 3, 2, c.bpp, bytes);
        int slot = img_texture(nullptr, img, 0, 1, 0);
        ASSERT_GE(slot, 0);
        EXPECT_EQ(r_textures[slot].format, (uint32_t)c.bpp);
        EXPECT_EQ(texture_level0(slot, GL_TEXTURE_INTERNAL_FORMAT), c.internal);
        std::vector<uint8_t> back(bytes.size());
        glGetTexImage(GL_TEXTURE_2D, 0, c.data, GL_UNSIGNED_BYTE, back.data());
        EXPECT_EQ(back, bytes);
    }
}

TEST_F(Textures, RefusesImagesThatCannotBeTextures)
{
    image *normals = colour("normals", 2, 2, 12, std::vector<uint8_t>(48));
    image *bytes = colour("bytes", 2, 2, 3, std::vector<uint8_t>(12));
    testlog_capture log;
    EXPECT_EQ(img_texture("n", normals, 0, 0, 0), -1);
    EXPECT_TRUE(log.contains("img_texture: \"normals\" has 12 bytes per pixel, no texture format"));
    EXPECT_EQ(img_texture("b", bytes, 1), -1); // not a scalar field
    EXPECT_EQ(img_texture("none", nullptr, 0, 0, 0), -1);
    EXPECT_EQ(r_texture(0, 4, nullptr), -1);
    EXPECT_EQ(inuse(), 0);
}

TEST_F(Textures, FiltersAndWrappingFollowTheFlags)
{
    struct Case {
        int linear, clamp;
        GLint mag, min, wrap;
    };
    const Case cases[] = {
        {1, 1, GL_LINEAR, GL_LINEAR_MIPMAP_LINEAR, GL_CLAMP_TO_EDGE},
        {0, 0, GL_NEAREST, GL_NEAREST_MIPMAP_LINEAR, GL_REPEAT},
    };
    image *img = colour("px", 4, 4, 4, std::vector<uint8_t>(64, 200));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.linear);
        int slot = img_texture(nullptr, img, 0, c.linear, c.clamp);
        ASSERT_GE(slot, 0);
        EXPECT_EQ(r_textures[slot].clamp, (uint32_t)c.clamp);
        EXPECT_EQ(texture_parameter(slot, GL_TEXTURE_MAG_FILTER), c.mag);
        EXPECT_EQ(texture_parameter(slot, GL_TEXTURE_MIN_FILTER), c.min);
        EXPECT_EQ(texture_parameter(slot, GL_TEXTURE_WRAP_S), c.wrap);
        EXPECT_EQ(texture_parameter(slot, GL_TEXTURE_WRAP_T), c.wrap);
    }
    // The raw RGB form is linear and clamped.
    const uint8_t rgb[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    int slot = r_texture(2, 2, rgb);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(r_textures[slot].format, 3u);
    EXPECT_EQ(texture_parameter(slot, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
    EXPECT_EQ(texture_parameter(slot, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    uint8_t back[12];
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, back);
    EXPECT_EQ(memcmp(back, rgb, sizeof(rgb)), 0);
}

TEST_F(Textures, NamedTexturesAreReusedUntilFreed)
{
    image *a = colour("a", 2, 2, 1, {1, 2, 3, 4});
    image *b = colour("b", 2, 2, 1, {9, 9, 9, 9});
    int first = img_texture("shared", a, 0, 0, 0);
    ASSERT_GE(first, 0);
    {
        testlog_capture log;
        EXPECT_EQ(img_texture("shared", b, 0, 0, 0), first);
        EXPECT_TRUE(log.contains("returning existing texture[" + std::to_string(first) + "] = \"shared\""));
    }
    EXPECT_EQ(inuse(), 1);
    uint8_t back[4];
    glBindTexture(GL_TEXTURE_2D, r_textures[first].gltexture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, back);
    EXPECT_EQ(back[0], 1); // nothing was uploaded over it

    // Unnamed textures never match one another.
    int u1 = img_texture(nullptr, a, 0, 0, 0);
    int u2 = img_texture(nullptr, a, 0, 0, 0);
    EXPECT_NE(u1, u2);
    EXPECT_STREQ(r_textures[u1].name, "");

    // A freed slot keeps its name but no longer answers to it.
    r_freetexture(first);
    EXPECT_STREQ(r_textures[first].name, "shared");
    EXPECT_EQ(r_textures[first].width, 0u);
    testlog_capture log;
    int again = img_texture("shared", b, 0, 0, 0);
    ASSERT_GE(again, 0);
    EXPECT_FALSE(log.contains("returning existing texture"));
    glBindTexture(GL_TEXTURE_2D, r_textures[again].gltexture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, back);
    EXPECT_EQ(back[0], 9);
}

TEST_F(Textures, FullTableOverflowsAndAFreedSlotIsTakenAgain)
{
    const uint8_t rgb[3] = {10, 20, 30};
    for (int i = 0; i < r_maxtextures; i++)
        ASSERT_EQ(r_texture(1, 1, rgb), i);
    {
        testlog_capture log;
        EXPECT_EQ(r_texture(1, 1, rgb), -1);
        EXPECT_TRUE(log.contains("textures overflow!!!! \"\""));
        image *img = colour("late", 1, 1, 3, {1, 2, 3});
        EXPECT_EQ(img_texture("late", img, 0, 1, 1), -1);
        EXPECT_TRUE(log.contains("textures overflow!!!! \"late\""));
    }
    r_freetexture(500);
    EXPECT_EQ(r_texture(1, 1, rgb), 500);

    r_freetexture(-1); // outside the table: nothing
    r_freetexture(r_maxtextures);
    EXPECT_EQ(inuse(), r_maxtextures);

    // A freed slot's GL name may be handed on to a newer texture; freeing
    // the free slot again must leave that texture alone.
    r_freetexture(600);
    r_textures[600].gltexture = r_textures[601].gltexture;
    r_freetexture(600);
    EXPECT_TRUE(glIsTexture(r_textures[601].gltexture));
}

TEST_F(Textures, BindingSetsTheUnitAndTheBoundSlot)
{
    const uint8_t rgb[3] = {10, 20, 30};
    int slot = r_texture(1, 1, rgb);
    ASSERT_GE(slot, 0);
    r_bindtexture(slot, 1);
    GLint active = 0, bound = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(active, GL_TEXTURE1);
    EXPECT_EQ((GLuint)bound, r_textures[slot].gltexture);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(r_boundtexture, slot);

    r_unbindtexture(1);
    EXPECT_EQ(r_boundtexture, -1);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

    r_bindtexture(slot);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(active, GL_TEXTURE0);
    r_bindtexture(-1);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(r_boundtexture, -1);

    // Another context's bindings are not this one's.
    r_bindtexture(slot);
    r_resetbindings();
    EXPECT_EQ(r_boundtexture, -1);
}

// A framebuffer of one colour renderbuffer and a 24-bit depth buffer.
struct Framebuffer {
    GLuint fbo = 0, colour = 0, depth = 0;
    Framebuffer(int size, int channels, int type)
    {
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        colour = r_newframebufferrenderbuffer(2, size, size, channels, type);
        depth = r_newframebufferrenderbuffer(1, size, size, 1, 1);
    }
    ~Framebuffer()
    {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteRenderbuffers(1, &colour);
        glDeleteRenderbuffers(1, &depth);
        glDeleteFramebuffers(1, &fbo);
    }
};

TEST_F(Textures, FramebufferRendersATriangleThatReadsBack)
{
    ASSERT_TRUE(gl_framebuffers);
    struct Case {
        const char *what;
        int channels, type;
    };
    const Case cases[] = {
        {"R32F", 1, 3},   // the image operations' colour buffer
        {"RGBA8", 4, 0},
        {"RGB32F", 3, 3}, // the model depth render's
    };
    r_initdraw();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Framebuffer fb(16, c.channels, c.type);
        ASSERT_NE(fb.colour, 0u);
        ASSERT_EQ(r_checkframebuffer(), 1);
        r_fbo = fb.fbo;
        r_fbosize[0] = 16;
        r_fbosize[1] = 8;
        r_bindframebuffer();
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], 16);
        EXPECT_EQ(viewport[3], 8);
        EXPECT_EQ(r_viewport[0], 16);
        EXPECT_FLOAT_EQ(r_aspect, 2.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        // The lower-left half of the viewport.
        r_color(1.0f, 0.0f, 0.0f, 1.0f);
        r_begin(r_triangles);
        r_vertex(-1.0f, -1.0f, 0.0f);
        r_vertex(1.0f, -1.0f, 0.0f);
        r_vertex(-1.0f, 1.0f, 0.0f);
        r_end();
        float inside = -1.0f, outside = -1.0f;
        glReadPixels(2, 2, 1, 1, GL_RED, GL_FLOAT, &inside);
        glReadPixels(14, 6, 1, 1, GL_RED, GL_FLOAT, &outside);
        EXPECT_EQ(inside, 1.0f);
        EXPECT_EQ(outside, 0.0f);

        r_unbindframebuffer();
        GLint framebuffer = -1;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
        EXPECT_EQ(framebuffer, 0);
        EXPECT_EQ(r_viewport[0], sys_drawable[0]);
        EXPECT_EQ(r_viewport[1], sys_drawable[1]);
    }
    r_fbo = 0;
}

TEST_F(Textures, IncompleteFramebuffersAndUnknownFormatsAreReported)
{
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    testlog_capture log;
    EXPECT_EQ(r_checkframebuffer(), 0);
    EXPECT_TRUE(log.contains("framebuffer incomplete missing attachment!"));
    struct Case {
        int attachment, channels, type;
    };
    const Case bad[] = {{0, 1, 2}, {1, 1, 4}, {2, 5, 0}, {2, 1, 6}, {10, 1, 0}, {-1, 1, 0}};
    for (const Case &c : bad)
        EXPECT_EQ(r_newframebufferrenderbuffer(c.attachment, 4, 4, c.channels, c.type), 0u);
    EXPECT_EQ(log.count("r_newframebufferrenderbuffer: no storage format"), 6);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fbo);
}
