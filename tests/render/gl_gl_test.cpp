// GL state, the error check, projection, entry points and extension tests on
// a real context (Mesa's software renderer under Xvfb).
#include "glcontext.h"
#include "sys/config.h"
#include "testlog.h"

#include <cmath>
#include <cstdlib>
#include <string>

// The session bus connection SDL opens at start keeps a block the library
// never frees; the leak check would otherwise fail every test of this program.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n";
}

using GlState = GlTest;

TEST_F(GlState, CheckErrorWithoutErrorReturnsZeroAndLogsNothing)
{
    testlog_capture log;
    r_errorinfo = "unused stage";
    EXPECT_EQ(r_checkerror("quiet.step %d", 1), 0);
    EXPECT_EQ(log.text(), "");
    EXPECT_STREQ(r_errorinfo, "unused stage"); // kept for the next real error
    r_errorinfo = nullptr;
}

TEST_F(GlState, CheckErrorReportsAProvokedErrorWithLabelAndStageOnce)
{
    testlog_capture log;
    r_errorinfo = "view_frame:canvas";
    glEnable(0x9999);
    EXPECT_EQ(r_checkerror("test.enable(%d)", 7), GL_INVALID_ENUM);
    glEnable(0x9999);
    EXPECT_EQ(r_checkerror("test.enable(%d)", 8), GL_INVALID_ENUM);
    EXPECT_EQ(log.count("render error info: view_frame:canvas\n"), 1);
    EXPECT_TRUE(log.contains("[ ERROR ] test.enable(7): INVALID ENUM\n"));
    EXPECT_TRUE(log.contains("[ ERROR ] test.enable(8): INVALID ENUM\n"));
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(GlState, DefaultStateSetsTheRendererBaseline)
{
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glFrontFace(GL_CCW);
    r_defaultstate();
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    const GLenum off[] = {GL_MULTISAMPLE, GL_STENCIL_TEST, GL_DEPTH_TEST, GL_SCISSOR_TEST,
                          GL_FOG,         GL_BLEND,        GL_CULL_FACE};
    for (GLenum cap : off)
        EXPECT_FALSE(glIsEnabled(cap)) << std::hex << cap;
    const GLenum on[] = {GL_VERTEX_ARRAY, GL_COLOR_ARRAY, GL_TEXTURE_COORD_ARRAY};
    for (GLenum cap : on)
        EXPECT_TRUE(glIsEnabled(cap)) << std::hex << cap;
    struct Case {
        GLenum query;
        GLint value;
    };
    const Case cases[] = {
        {GL_PACK_ALIGNMENT, 1}, {GL_UNPACK_ALIGNMENT, 1}, {GL_FRONT_FACE, GL_CW},
        {GL_DEPTH_FUNC, GL_LEQUAL}, {GL_STENCIL_CLEAR_VALUE, 0}, {GL_STENCIL_WRITEMASK, 255},
        {GL_DEPTH_WRITEMASK, GL_TRUE},
    };
    for (const Case &c : cases) {
        GLint value = -1;
        glGetIntegerv(c.query, &value);
        EXPECT_EQ(value, c.value) << std::hex << c.query;
    }
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0] + clear[1] + clear[2], 0.0f);
    EXPECT_EQ(clear[3], 1.0f);
}

// Projection tests set both matrices themselves and the perspective setting.
class GlProjection : public GlTest {
protected:
    void load(bool perspective)
    {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        if (perspective)
            glFrustum(-1, 1, -1, 1, 1, 100);
        else
            glOrtho(-2, 2, -2, 2, -2, 2);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    void TearDown() override { cfg_seti(cfg_perspective, 0); }
};

// Values worked by hand from the frustum and ortho formulas.
TEST_F(GlProjection, ProjectGivesDeviceCoordinates)
{
    struct Case {
        bool matrix, divide;
        float in[3], out[3];
    };
    const Case cases[] = {
        // frustum: clip (0.5, 0.5, 2/99, 2); the divide gives (0.25, 0.25, 1/99)
        {true, true, {0.5f, 0.5f, -2.0f}, {0.25f, 0.25f, 1.0f / 99.0f}},
        {true, false, {0.5f, 0.5f, -2.0f}, {0.5f, 0.5f, 2.0f / 99.0f}},
        // ortho: x / 2, y / 2, -z / 2
        {false, false, {1.0f, -1.0f, 0.5f}, {0.5f, -0.5f, -0.25f}},
        {false, true, {1.0f, -1.0f, 0.5f}, {0.5f, -0.5f, -0.25f}},
    };
    for (const Case &c : cases) {
        load(c.matrix);
        cfg_seti(cfg_perspective, c.divide);
        float out[3];
        EXPECT_EQ(r_project(out, c.in), out);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(out[i], c.out[i], 1e-6) << c.matrix << c.divide << i;
    }
}

TEST_F(GlProjection, UnprojectInvertsProject)
{
    struct Case {
        bool perspective;
        float point[3];
    };
    const Case cases[] = {
        {true, {1.0f, 2.0f, -3.0f}},
        {true, {-0.25f, 0.5f, 4.0f}},
        {false, {0.75f, -0.5f, 0.25f}},
        {false, {0.0f, 0.0f, 0.0f}},
    };
    for (const Case &c : cases) {
        load(c.perspective);
        if (c.perspective)
            glTranslatef(0.0f, 0.0f, -20.0f);
        glRotatef(30.0f, 1.0f, 1.0f, 0.0f);
        glScalef(0.5f, 0.75f, 0.5f);
        cfg_seti(cfg_perspective, c.perspective);
        float device[3], back[3];
        r_project(device, c.point);
        for (float v : device)
            EXPECT_LE(std::fabs(v), 1.0f) << "inside the view volume";
        EXPECT_EQ(r_unproject(back, device), back);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(back[i], c.point[i], 1e-4) << c.perspective << i;
    }
}

TEST_F(GlProjection, UnprojectOfACollapsedTransformIsLoggedAndZero)
{
    load(false);
    glScalef(1.0f, 0.0f, 1.0f);
    testlog_capture log;
    float in[3] = {0.1f, 0.2f, 0.3f}, out[3] = {9, 9, 9};
    r_unproject(out, in);
    EXPECT_TRUE(log.contains("r_unproject: singular transform"));
    for (float v : out)
        EXPECT_EQ(v, 0.0f);
}

using GlEntryPoints = GlTest;

// GLX hands out an address for any name, so only finding is seen here; the
// unit tests see a name not found.
TEST_F(GlEntryPoints, FindExtensionLogsEachFoundNameWithItsNumber)
{
    testlog_capture log;
    EXPECT_NE(gl_findextension("glUseProgram"), nullptr);
    EXPECT_NE(gl_findextension("glBindBuffer"), nullptr);
    std::string text = log.text();
    size_t first = text.find("...found 'glUseProgram' (#");
    size_t second = text.find("...found 'glBindBuffer' (#");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    int a = atoi(text.c_str() + first + 26), b = atoi(text.c_str() + second + 26);
    EXPECT_EQ(b, a + 1);
}

TEST_F(GlEntryPoints, StartUpFetchesWhatTheRendererCalls)
{
    const void *needed[] = {
        (void *)glActiveTexture, (void *)glGenBuffers, (void *)glBufferData,
        (void *)glCreateProgram, (void *)glUniformMatrix4fv, (void *)glVertexAttribPointer,
    };
    for (const void *p : needed)
        EXPECT_NE(p, nullptr);
    if (gl_version >= 30) {
        EXPECT_EQ(gl_framebuffers, 1);
        EXPECT_NE((void *)glGenerateMipmap, nullptr);
        EXPECT_NE((void *)glRenderbufferStorageMultisample, nullptr);
    }
}

// The refusals of start-up, driven by the version number and the listed
// extensions it is given.
TEST_F(GlEntryPoints, RefusesAGlTooOldOrWithoutBuffersOrShaders)
{
    struct Case {
        int version;
        const char *extensions; // null: the context's own list
        int result;
        const char *line;
    };
    const Case cases[] = {
        {13, nullptr, 0, "[ ERROR ] The system's graphics hardware is too old"},
        {19, nullptr, 0, "[ ERROR ] The system's graphics hardware is too old"},
        {21, "GL_ARB_multisample", 0, "[ ERROR ] Vertex-buffer object support not found. (GL=21)"},
        {21, "GL_ARB_vertex_buffer_object", 0,
         "[ ERROR ] Vertex/fragment shader program extension not found (GL=21)"},
        {21, "GL_ARB_vertex_buffer_object GL_ARB_shader_objects", 1,
         "...ARB_shader_objects supported"},
        {21, "GL_ARB_vertex_buffer_object GL_ARB_shader_objects GL_EXT_framebuffer_object", 1,
         "...EXT_framebuffer_object supported"},
    };
    int version = gl_version;
    char *extensions = gl_extensions;
    for (const Case &c : cases) {
        testlog_capture log;
        gl_version = c.version;
        gl_extensions = c.extensions ? (char *)c.extensions : extensions;
        EXPECT_EQ(gl_loadentrypoints(), c.result) << c.version << " " << gl_extensions;
        EXPECT_TRUE(log.contains(c.line)) << log.text();
    }
    gl_version = version;
    gl_extensions = extensions;
    ASSERT_EQ(gl_loadentrypoints(), 1);
}

// From GL 3.0 the context is asked one indexed name at a time and only whole
// names match; below it the extension string is searched.
TEST_F(GlEntryPoints, ExtensionsMatchWholeIndexedNamesFrom30)
{
    if (gl_version < 30)
        GTEST_SKIP() << "the context is older than GL 3.0";
    ASSERT_GT(gl_numextensions, 0);
    EXPECT_EQ(gl_loadextensions("GL_ARB_texture_float"), 1);
    EXPECT_EQ(gl_loadextensions("GL_ARB_texture"), 0);
    EXPECT_EQ(gl_loadextensions("GL_ARB_texture_float "), 0);
    EXPECT_EQ(gl_loadextensions("GL_KERFMILL_none"), 0);
    int version = gl_version;
    gl_version = 21;
    EXPECT_EQ(gl_loadextensions("GL_ARB_texture"), 1);
    gl_version = version;

    int count = gl_numextensions;
    gl_numextensions = 0;
    EXPECT_EQ(gl_loadextensions("GL_ARB_texture_float"), 0);
    gl_numextensions = count;
}

TEST_F(GlEntryPoints, LogsEveryIndexedExtension)
{
    if (gl_version < 30)
        GTEST_SKIP() << "the context is older than GL 3.0";
    testlog_capture log;
    gl_logextensions();
    EXPECT_EQ(log.count(" = ["), gl_numextensions);
    EXPECT_TRUE(log.contains(" = [GL_ARB_texture_float]\n"));
}
