// The shader table: compiling, linking, binding and freeing GLSL programs by
// slot, and the uniform setters. The bound-slot cache skips redundant binds;
// it is forgotten whenever a context changes hands, since each GL context has
// its own program in use.
#include "render/shader.h"

#include "render/gl.h"
#include "render/texture.h"
#include "sys/log.h"

#include <cstdio>
#include <cstring>

r_shader r_shaders[r_maxshaders];
int r_shaderbinds = 0;

// Bound slot: -1 none, or unknown after a context change (no bind skipped).
constexpr int shader_unknown = -2;
static int shader_bound = -1;

// Shader work needs GL 2.0 and the fetched shader entry points.
static bool shader_ready()
{
    return gl_version >= 20 && glUseProgram != nullptr;
}

static const char *shader_boundname()
{
    if (shader_bound < 0)
        return "NULL";
    return r_shaders[shader_bound].name;
}

void r_clearshaders()
{
    memset(r_shaders, 0, sizeof(r_shaders));
    shader_bound = -1;
}

void r_resetbindings()
{
    shader_bound = shader_unknown;
    r_boundtexture = -1;
}

int shader_checkcompile(const char *label, uint32_t shader)
{
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    sys_log("(%s) compilation %s", label, status ? "SUCCESS" : "FAILED");
    char info[1024] = "";
    glGetShaderInfoLog(shader, sizeof(info), nullptr, info);
    info[sizeof(info) - 1] = 0;
    if (!status) {
        sys_log(" !!! %s: %s", label, info);
        return 1;
    }
    if (info[0])
        sys_log(" $$$ %s: %s", label, info);
    return 0;
}

uint32_t shader_compile(const char *label, const char *source, uint32_t stage)
{
    if (!source) {
        sys_log("shader_compile: no source for \"%s\"", label);
        return 0;
    }
    GLuint shader = glCreateShader(stage);
    r_checkerror("shader_compile.createshader (%s)", label);
    if (!shader) {
        sys_log("...\"%s\" shader compilation failed", label);
        return 0;
    }
    glShaderSource(shader, 1, &source, nullptr);
    r_checkerror("shader_compile.shadersource (%s)", label);
    glCompileShader(shader);
    r_checkerror("shader_compile.compileshader (%s)", label);
    if (shader_checkcompile(label, shader)) {
        glDeleteShader(shader);
        sys_log("...\"%s\" shader compilation failed", label);
        return 0;
    }
    sys_log("...compiled shader \"%s\"", label);
    return shader;
}

// First free slot from 0 upward, or -1 with the overflow line.
static int shader_freeslot()
{
    for (int i = 0; i < r_maxshaders; i++)
        if (!r_shaders[i].name[0])
            return i;
    sys_log("r_loadshader: shaders overflow");
    return -1;
}

// Links the two stages into a program in the slot; the slot is named only
// when linking succeeds. The stages are released either way.
static int shader_link(int slot, const char *name, GLuint vert, GLuint frag)
{
    r_shader &s = r_shaders[slot];
    s.program = glCreateProgram();
    r_checkerror("r_newshader.createprogram (%s)", name);
    glAttachShader(s.program, vert);
    r_checkerror("r_newshader.attachshader (%s_vert)", name);
    glAttachShader(s.program, frag);
    r_checkerror("r_newshader.attachshader (%s_frag)", name);
    glLinkProgram(s.program);
    r_checkerror("r_newshader.linkprogram (%s)", name);

    GLint linked = GL_FALSE;
    glGetProgramiv(s.program, GL_LINK_STATUS, &linked);
    sys_log("(%s) linking = %s", name, linked ? "SUCCESS" : "FAILED");
    char info[1024] = "";
    glGetProgramInfoLog(s.program, sizeof(info), nullptr, info);
    info[sizeof(info) - 1] = 0;
    glDetachShader(s.program, vert);
    glDetachShader(s.program, frag);
    glDeleteShader(vert);
    glDeleteShader(frag);

    if (!linked) {
        sys_log(" !!! %s: %s", name, info);
        glDeleteProgram(s.program);
        s.program = 0;
        return -1;
    }
    if (info[0])
        sys_log(" $$$ %s: %s", name, info);
    snprintf(s.name, sizeof(s.name), "%s", name);
    sys_log("...linked shader[%d].program:%d = \"%s\"", slot, (int)s.program, name);
    return slot;
}

int r_loadshader(const char *name, const char *vertexsource, const char *fragmentsource)
{
    if (!shader_ready()) {
        sys_log("r_loadshader: shader objects not available (GL=%d)", gl_version);
        return -1;
    }
    if (!name || !name[0] || strlen(name) >= sizeof(r_shaders[0].name)) {
        sys_log("r_loadshader: bad shader name \"%s\"", name ? name : "");
        return -1;
    }
    int slot = shader_freeslot();
    if (slot < 0)
        return -1;
    char label[64];
    snprintf(label, sizeof(label), "%s_vert", name);
    GLuint vert = shader_compile(label, vertexsource, GL_VERTEX_SHADER);
    if (!vert)
        return -1;
    snprintf(label, sizeof(label), "%s_frag", name);
    GLuint frag = shader_compile(label, fragmentsource, GL_FRAGMENT_SHADER);
    if (!frag) {
        glDeleteShader(vert);
        return -1;
    }
    return shader_link(slot, name, vert, frag);
}

int r_loadshaderuniforms(const char *name, const char *vertexsource, const char *fragmentsource,
                         std::span<const r_uniformref> uniforms)
{
    int slot = r_loadshader(name, vertexsource, fragmentsource);
    for (const r_uniformref &u : uniforms)
        *u.location = slot < 0 ? -1 : r_shaderuniformlocation(slot, u.name);
    return slot;
}

void r_bindshader(int slot)
{
    if (!shader_ready() || slot == shader_bound)
        return;
    if (slot < -1 || slot >= r_maxshaders) {
        sys_log("r_bindshader: no shader slot %d", slot);
        return;
    }
    GLuint program = slot < 0 ? 0 : r_shaders[slot].program;
    shader_bound = slot;
    glUseProgram(program);
    r_shaderbinds++;
    r_checkerror("r_bindshader(%d).useprogram:%d", slot, (int)program);
}

void r_freeshader(int slot)
{
    if (!shader_ready() || slot == -1)
        return;
    if (slot < 0 || slot >= r_maxshaders) {
        sys_log("r_freeshader: no shader slot %d", slot);
        return;
    }
    r_shader &s = r_shaders[slot];
    s.name[0] = 0;
    glDeleteProgram(s.program);
    s.program = 0;
    // The deleted program stays in use until another is bound, and a new
    // load may reuse this slot: the next bind must reach the GL.
    if (slot == shader_bound)
        shader_bound = shader_unknown;
}

int r_shaderuniformlocation(int slot, const char *name)
{
    if (slot == -1 || !shader_ready())
        return -1;
    if (slot < 0 || slot >= r_maxshaders || !r_shaders[slot].name[0] || !name) {
        sys_log("r_shaderuniformlocation: no shader in slot %d", slot);
        return -1;
    }
    const r_shader &s = r_shaders[slot];
    int location = glGetUniformLocation(s.program, name);
    r_checkerror("r_shaderuniformlocation (shader[%d]:%s \"%s\")", slot, s.name, name);
    sys_log("uniform %s:%s = %d", s.name, name, location);
    return location;
}

void r_shaderuniformint(int location, int value)
{
    if (!shader_ready())
        return;
    glUniform1i(location, value);
    if (r_checkerror("r_shaderuniformint"))
        sys_log("* %s:%d = %d", shader_boundname(), location, value);
}

void r_shaderuniformfloat(int location, float value)
{
    if (!shader_ready())
        return;
    glUniform1f(location, value);
    if (r_checkerror("r_shaderuniformfloat"))
        sys_log("* %s:%d = %f", shader_boundname(), location, value);
}

void r_shaderuniformvec3(int location, int count, const float *values)
{
    if (!shader_ready())
        return;
    if (!values || count < 1) {
        sys_log("r_shaderuniformvec3: no values for location %d", location);
        return;
    }
    glUniform3fv(location, count, values);
    if (r_checkerror("r_shaderuniformvec3"))
        sys_log("* %s:%d = %dx (%.5f,%.5f,%.5f)", shader_boundname(), location, count,
                values[0], values[1], values[2]);
}
