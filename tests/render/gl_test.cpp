// The GL rules that need no context: the version number, the pre-3.0
// extension match and the wording of reported GL errors.
#include "render/gl.h"

#include "testlog.h"

#include <gtest/gtest.h>

TEST(GlVersion, NumberFromVersionString)
{
    struct Case {
        const char *text;
        int number;
    };
    const Case cases[] = {
        {"2.0", 20},
        {"2.1 Mesa 10.0", 21},
        {"3.3.0 NVIDIA 535.1", 33},
        {"4.5 (Compatibility Profile) Mesa 22.3.6", 45},
        {nullptr, -1},
        {"", -1},
        {"4", -1},
        {"4.", -1},
        {"OpenGL ES 3.2", -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(gl_versionnumber(c.text), c.number) << (c.text ? c.text : "(null)");
}

TEST(GlRenderer, SoftwareRasterisersAreRecognised)
{
    struct Case {
        const char *renderer;
        int software;
    };
    const Case cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", 1},
        {"softpipe", 1},
        {"Mesa X11 Software Rasterizer", 1},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", 0},
        {"NVIDIA GeForce GTX 1060/PCIe/SSE2", 0},
        {"", 0},
        {nullptr, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(gl_softwarerenderer(c.renderer), c.software) << (c.renderer ? c.renderer : "(null)");
}

// Below GL 3.0 an extension is offered when its name occurs anywhere in the
// extension string, so a prefix of a longer name matches too.
TEST(GlExtensions, OldStyleMatchIsASubstringSearch)
{
    static char list[] = "GL_ARB_multisample GL_ARB_texture_float GL_EXT_framebuffer_object";
    struct Case {
        const char *name;
        int offered;
    };
    const Case cases[] = {
        {"GL_ARB_texture_float", 1},
        {"GL_ARB_texture", 1},
        {"GL_EXT_framebuffer_object", 1},
        {"GL_ARB_multisample", 1},
        {"GL_EXT_texture_filter_anisotropic", 0},
        {"", 0},
        {nullptr, 0},
    };
    int savedversion = gl_version;
    char *savedlist = gl_extensions;
    gl_version = 21;
    gl_extensions = list;
    for (const Case &c : cases)
        EXPECT_EQ(gl_loadextensions(c.name), c.offered) << (c.name ? c.name : "(null)");
    gl_extensions = nullptr;
    EXPECT_EQ(gl_loadextensions("GL_ARB_multisample"), 0);
    gl_version = savedversion;
    gl_extensions = savedlist;
}

TEST(GlExtensions, LogsEachNameOfTheOldStyleList)
{
    static char list[] = "GL_A  GL_B GL_C ";
    int savedversion = gl_version;
    char *savedlist = gl_extensions;
    gl_version = 21;
    gl_extensions = list;
    testlog_capture log;
    gl_logextensions();
    EXPECT_TRUE(log.contains(" 0 = [GL_A]\n"));
    EXPECT_TRUE(log.contains(" 1 = [GL_B]\n"));
    EXPECT_TRUE(log.contains(" 2 = [GL_C]\n"));
    EXPECT_EQ(log.count(" = ["), 3);
    gl_version = savedversion;
    gl_extensions = savedlist;
}

// Without a loaded GL driver no entry point is found.
TEST(GlEntryPoints, MissingEntryPointIsLoggedAndNull)
{
    testlog_capture log;
    EXPECT_EQ(gl_findextension("glCreateProgram"), nullptr);
    EXPECT_TRUE(log.contains("...'glCreateProgram' not found\n"));
}

TEST(GlErrors, ReportNamesEachCodeWithTheLabel)
{
    struct Case {
        int code;
        const char *line;
    };
    const Case cases[] = {
        {0x0500, "[ ERROR ] step.a: INVALID ENUM\n"},
        {0x0501, "[ ERROR ] step.a: INVALID VALUE\n"},
        {0x0502, "[ ERROR ] step.a: INVALID OPERATION\n"},
        {0x0503, "[ ERROR ] step.a: STACK OVERFLOW\n"},
        {0x0504, "[ ERROR ] step.a: STACK UNDERFLOW\n"},
        {0x0505, "[ ERROR ] step.a: OUT OF MEMORY\n"},
        {0x0506, "[ ERROR ] step.a: INVALID FRAMEBUFFER OPERATION\n"},
        {0x9999, "[ ERROR ] step.a: ERROR (0x9999/39321))\n"},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        r_reporterror(c.code, "step.a");
        EXPECT_TRUE(log.contains(c.line)) << log.text();
    }
}

TEST(GlErrors, StageTextIsPrintedWithTheFirstErrorOnly)
{
    testlog_capture log;
    r_errorinfo = "gui_end:font_draw";
    r_reporterror(0x0502, "first");
    r_reporterror(0x0502, "second");
    EXPECT_EQ(log.count("render error info: gui_end:font_draw\n"), 1);
    std::string text = log.text();
    EXPECT_LT(text.find("render error info"), text.find("first: INVALID OPERATION"));
    EXPECT_NE(text.find("second: INVALID OPERATION"), std::string::npos);
    EXPECT_EQ(r_errorinfo, nullptr);
}
