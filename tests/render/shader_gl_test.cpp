// The shader table on a real context: loading, compile and link failures,
// overflow, binding by slot with the bind cache, and uniforms.
#include "glcontext.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "testlog.h"

#include <string>

static const char *const shader_vert = R"(#version 120
uniform float scale;
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * vec4(gl_Vertex.xyz * scale, 1.0);
}
)";

static const char *const shader_frag = R"(#version 120
uniform int mode;
uniform vec3 tint[2];
void main()
{
    gl_FragColor = vec4(mode == 1 ? tint[0] : tint[1], 1.0);
}
)";

static const char *const shader_badfrag = R"(#version 120
void main()
{
    gl_FragColor = vec4(undeclared_colour, 1.0);
}
)";

// Compiles, but a program without a fragment main does not link.
static const char *const shader_nomainfrag = R"(#version 120
vec4 shade() { return vec4(1.0); }
)";

static GLint shader_current()
{
    GLint program = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    return program;
}

class Shaders : public GlTest {
protected:
    void TearDown() override
    {
        r_bindshader(-1);
        for (int i = 0; i < r_maxshaders; i++)
            if (r_shaders[i].name[0])
                r_freeshader(i);
    }
};

TEST_F(Shaders, GoodProgramLinksAndBindsBySlotWithItsUniforms)
{
    testlog_capture log;
    int slot = r_loadshader("test_good", shader_vert, shader_frag);
    ASSERT_EQ(slot, 0);
    EXPECT_STREQ(r_shaders[slot].name, "test_good");
    EXPECT_TRUE(log.contains("...compiled shader \"test_good_vert\""));
    EXPECT_TRUE(log.contains("...compiled shader \"test_good_frag\""));
    EXPECT_TRUE(log.contains("(test_good) linking = SUCCESS"));
    EXPECT_TRUE(log.contains("...linked shader[0].program:" + std::to_string(r_shaders[slot].program) +
                             " = \"test_good\""));

    int scale = r_shaderuniformlocation(slot, "scale");
    int mode = r_shaderuniformlocation(slot, "mode");
    int tint = r_shaderuniformlocation(slot, "tint");
    EXPECT_GE(scale, 0);
    EXPECT_GE(mode, 0);
    EXPECT_GE(tint, 0);
    EXPECT_EQ(r_shaderuniformlocation(slot, "absent"), -1);
    EXPECT_TRUE(log.contains("uniform test_good:mode = " + std::to_string(mode)));
    EXPECT_TRUE(log.contains("uniform test_good:absent = -1"));

    r_bindshader(slot);
    EXPECT_EQ(shader_current(), (GLint)r_shaders[slot].program);
    testlog_capture setters;
    const float colours[6] = {0.25f, 0.5f, 0.75f, 1.0f, 0.0f, 0.5f};
    r_shaderuniformfloat(scale, 2.5f);
    r_shaderuniformint(mode, 1);
    r_shaderuniformvec3(tint, 2, colours);
    EXPECT_EQ(setters.text(), "") << "a uniform set without an error logs nothing";

    // Read the values back through the GL's own query.
    auto getfv = (PFNGLGETUNIFORMFVPROC)SDL_GL_GetProcAddress("glGetUniformfv");
    auto getiv = (PFNGLGETUNIFORMIVPROC)SDL_GL_GetProcAddress("glGetUniformiv");
    ASSERT_TRUE(getfv && getiv);
    GLuint program = r_shaders[slot].program;
    float f[3];
    GLint i = 0;
    getfv(program, scale, f);
    EXPECT_EQ(f[0], 2.5f);
    getiv(program, mode, &i);
    EXPECT_EQ(i, 1);
    getfv(program, glGetUniformLocation(program, "tint[1]"), f);
    EXPECT_EQ(f[0], 1.0f);
    EXPECT_EQ(f[2], 0.5f);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(Shaders, UniformOfTheWrongTypeIsReportedWithTheBoundShader)
{
    int slot = r_loadshader("test_types", shader_vert, shader_frag);
    ASSERT_GE(slot, 0);
    int scale = r_shaderuniformlocation(slot, "scale");
    r_bindshader(slot);
    testlog_capture log;
    r_shaderuniformint(scale, 3); // "scale" is a float
    EXPECT_TRUE(log.contains("[ ERROR ] r_shaderuniformint: INVALID OPERATION"));
    EXPECT_TRUE(log.contains("* test_types:" + std::to_string(scale) + " = 3\n"));
}

TEST_F(Shaders, UniformLocationOfNoShaderAsksNothing)
{
    testlog_capture log;
    EXPECT_EQ(r_shaderuniformlocation(-1, "scale"), -1);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(r_shaderuniformlocation(5, "scale"), -1); // a free slot
    EXPECT_TRUE(log.contains("r_shaderuniformlocation: no shader in slot 5"));
}

TEST_F(Shaders, BadFragmentShaderLogsTheCompilerAndFreesItsSlot)
{
    testlog_capture log;
    EXPECT_EQ(r_loadshader("img_convolve", shader_vert, shader_badfrag), -1);
    EXPECT_TRUE(log.contains("(img_convolve_vert) compilation SUCCESS"));
    EXPECT_TRUE(log.contains("(img_convolve_frag) compilation FAILED"));
    EXPECT_TRUE(log.contains("...\"img_convolve_frag\" shader compilation failed"));
    // The compiler's own text follows the marker and names the culprit.
    std::string text = log.text();
    size_t at = text.find(" !!! img_convolve_frag: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(text.find("undeclared_colour", at), std::string::npos);
    EXPECT_FALSE(log.contains("linking"));
    EXPECT_EQ(r_shaders[0].name[0], 0);
    EXPECT_EQ(r_loadshader("img_convolve", shader_vert, shader_frag), 0) << "the slot is free again";
}

TEST_F(Shaders, FailuresOfEachStageReturnMinusOne)
{
    struct Case {
        const char *vert, *frag;
        const char *line;
    };
    const Case cases[] = {
        {shader_badfrag, shader_frag, "(stage_vert) compilation FAILED"},
        {shader_vert, shader_nomainfrag, "(stage) linking = FAILED"},
        {nullptr, shader_frag, "shader_compile: no source for \"stage_vert\""},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        EXPECT_EQ(r_loadshader("stage", c.vert, c.frag), -1) << c.line;
        EXPECT_TRUE(log.contains(c.line)) << log.text();
        EXPECT_EQ(r_shaders[0].name[0], 0);
        EXPECT_EQ(r_shaders[0].program, 0u);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
}

TEST_F(Shaders, NamesThatDoNotFitTheSlotAreRefused)
{
    testlog_capture log;
    const char *name = "a_shader_name_of_thirty_two_char";
    EXPECT_EQ(r_loadshader(name, shader_vert, shader_frag), -1);
    EXPECT_TRUE(log.contains("r_loadshader: bad shader name"));
    EXPECT_EQ(r_loadshader("a_shader_name_of_thirty_one_chr", shader_vert, shader_frag), 0);
}

TEST_F(Shaders, The65thLoadOverflows)
{
    for (int i = 0; i < r_maxshaders; i++)
        ASSERT_EQ(r_loadshader(("s" + std::to_string(i)).c_str(), shader_vert, shader_frag), i);
    testlog_capture log;
    EXPECT_EQ(r_loadshader("s64", shader_vert, shader_frag), -1);
    EXPECT_TRUE(log.contains("r_loadshader: shaders overflow"));
    EXPECT_FALSE(log.contains("compiled shader"));
}

TEST_F(Shaders, RebindingTheBoundSlotIssuesNoGlCall)
{
    int a = r_loadshader("bind_a", shader_vert, shader_frag);
    int b = r_loadshader("bind_b", shader_vert, shader_frag);
    ASSERT_GE(b, 0);
    struct Case {
        int slot, calls;
    };
    const Case cases[] = {{a, 1}, {a, 0}, {b, 1}, {b, 0}, {-1, 1}, {-1, 0}, {a, 1}};
    for (const Case &c : cases) {
        int before = r_shaderbinds;
        r_bindshader(c.slot);
        EXPECT_EQ(r_shaderbinds - before, c.calls) << c.slot;
        EXPECT_EQ(shader_current(), c.slot < 0 ? 0 : (GLint)r_shaders[c.slot].program);
    }
}

// A freed slot may be reloaded with a new program: binding the slot again
// must reach the GL although the slot number is unchanged.
TEST_F(Shaders, BindAfterFreeingTheBoundSlotReachesTheGl)
{
    int slot = r_loadshader("first", shader_vert, shader_frag);
    r_bindshader(slot);
    r_freeshader(slot);
    EXPECT_EQ(r_shaders[slot].name[0], 0);
    ASSERT_EQ(r_loadshader("second", shader_vert, shader_frag), slot);
    r_bindshader(slot);
    EXPECT_EQ(shader_current(), (GLint)r_shaders[slot].program);
}

// A worker's GPU job binds in the workers' context; each context keeps its
// own program in use, so neither side may skip a bind on the other's word.
TEST_F(Shaders, BindingsAreForgottenWhenTheWorkersContextChangesHands)
{
    ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();

    int slot = r_loadshader("shared", shader_vert, shader_frag);
    ASSERT_GE(slot, 0);
    GLint program = (GLint)r_shaders[slot].program;
    r_bindshader(slot);

    sys_makecurrent(1);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), sys_workercontext);
    r_bindshader(slot); // the workers' context has no program in use yet
    EXPECT_EQ(shader_current(), program);
    r_bindshader(-1);
    sys_makecurrent(0);

    SDL_GL_MakeCurrent(window, context);
    EXPECT_EQ(shader_current(), program);
    r_bindshader(-1); // the main context still uses the program
    EXPECT_EQ(shader_current(), 0);

    stopworkercontext();
}
