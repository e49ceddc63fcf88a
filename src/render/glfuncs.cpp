// Fetching the GL entry points beyond GL 1.1 at start-up. Each group is a
// table of names and pointer slots; a group the program cannot run without
// ends start-up with its error, the optional ones only leave their flag off.
#include "render/glfuncs.h"

#include "render/gl.h"
#include "sys/log.h"

#include <cstdio>

PFNGLACTIVETEXTUREPROC gl_activetexture;
PFNGLGENBUFFERSPROC gl_genbuffers;
PFNGLDELETEBUFFERSPROC gl_deletebuffers;
PFNGLBINDBUFFERPROC gl_bindbuffer;
PFNGLBUFFERDATAPROC gl_bufferdata;
PFNGLCREATESHADERPROC gl_createshader;
PFNGLSHADERSOURCEPROC gl_shadersource;
PFNGLCOMPILESHADERPROC gl_compileshader;
PFNGLGETSHADERIVPROC gl_getshaderiv;
PFNGLGETSHADERINFOLOGPROC gl_getshaderinfolog;
PFNGLDELETESHADERPROC gl_deleteshader;
PFNGLCREATEPROGRAMPROC gl_createprogram;
PFNGLATTACHSHADERPROC gl_attachshader;
PFNGLDETACHSHADERPROC gl_detachshader;
PFNGLLINKPROGRAMPROC gl_linkprogram;
PFNGLGETPROGRAMIVPROC gl_getprogramiv;
PFNGLGETPROGRAMINFOLOGPROC gl_getprograminfolog;
PFNGLUSEPROGRAMPROC gl_useprogram;
PFNGLDELETEPROGRAMPROC gl_deleteprogram;
PFNGLGETUNIFORMLOCATIONPROC gl_getuniformlocation;
PFNGLUNIFORM1FPROC gl_uniform1f;
PFNGLUNIFORM1FVPROC gl_uniform1fv;
PFNGLUNIFORM1IPROC gl_uniform1i;
PFNGLUNIFORM3FVPROC gl_uniform3fv;
PFNGLUNIFORM4FVPROC gl_uniform4fv;
PFNGLUNIFORMMATRIX4FVPROC gl_uniformmatrix4fv;
PFNGLGETATTRIBLOCATIONPROC gl_getattriblocation;
PFNGLBINDATTRIBLOCATIONPROC gl_bindattriblocation;
PFNGLVERTEXATTRIBPOINTERPROC gl_vertexattribpointer;
PFNGLENABLEVERTEXATTRIBARRAYPROC gl_enablevertexattribarray;
PFNGLDISABLEVERTEXATTRIBARRAYPROC gl_disablevertexattribarray;
PFNGLGENFRAMEBUFFERSPROC gl_genframebuffers;
PFNGLDELETEFRAMEBUFFERSPROC gl_deleteframebuffers;
PFNGLBINDFRAMEBUFFERPROC gl_bindframebuffer;
PFNGLFRAMEBUFFERTEXTURE2DPROC gl_framebuffertexture2d;
PFNGLFRAMEBUFFERRENDERBUFFERPROC gl_framebufferrenderbuffer;
PFNGLCHECKFRAMEBUFFERSTATUSPROC gl_checkframebufferstatus;
PFNGLGENRENDERBUFFERSPROC gl_genrenderbuffers;
PFNGLDELETERENDERBUFFERSPROC gl_deleterenderbuffers;
PFNGLBINDRENDERBUFFERPROC gl_bindrenderbuffer;
PFNGLRENDERBUFFERSTORAGEPROC gl_renderbufferstorage;
PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC gl_renderbufferstoragemultisample;
PFNGLGENERATEMIPMAPPROC gl_generatemipmap;
PFNGLGETSTRINGIPROC gl_getstringi;
PFNGLTEXIMAGE2DMULTISAMPLEPROC gl_teximage2dmultisample;

// One entry point: its core name and the pointer it fills.
struct gl_entry {
    const char *name;
    void **slot;
};
#define GL_ENTRY(fn, pointer) {fn, reinterpret_cast<void **>(&pointer)}

static const gl_entry gl_bufferentries[] = {
    GL_ENTRY("glGenBuffers", gl_genbuffers),
    GL_ENTRY("glDeleteBuffers", gl_deletebuffers),
    GL_ENTRY("glBindBuffer", gl_bindbuffer),
    GL_ENTRY("glBufferData", gl_bufferdata),
};

static const gl_entry gl_shaderentries[] = {
    GL_ENTRY("glCreateShader", gl_createshader),
    GL_ENTRY("glShaderSource", gl_shadersource),
    GL_ENTRY("glCompileShader", gl_compileshader),
    GL_ENTRY("glGetShaderiv", gl_getshaderiv),
    GL_ENTRY("glGetShaderInfoLog", gl_getshaderinfolog),
    GL_ENTRY("glDeleteShader", gl_deleteshader),
    GL_ENTRY("glCreateProgram", gl_createprogram),
    GL_ENTRY("glAttachShader", gl_attachshader),
    GL_ENTRY("glDetachShader", gl_detachshader),
    GL_ENTRY("glLinkProgram", gl_linkprogram),
    GL_ENTRY("glGetProgramiv", gl_getprogramiv),
    GL_ENTRY("glGetProgramInfoLog", gl_getprograminfolog),
    GL_ENTRY("glUseProgram", gl_useprogram),
    GL_ENTRY("glDeleteProgram", gl_deleteprogram),
    GL_ENTRY("glGetUniformLocation", gl_getuniformlocation),
    GL_ENTRY("glUniform1f", gl_uniform1f),
    GL_ENTRY("glUniform1fv", gl_uniform1fv),
    GL_ENTRY("glUniform1i", gl_uniform1i),
    GL_ENTRY("glUniform3fv", gl_uniform3fv),
    GL_ENTRY("glUniform4fv", gl_uniform4fv),
    GL_ENTRY("glUniformMatrix4fv", gl_uniformmatrix4fv),
    GL_ENTRY("glGetAttribLocation", gl_getattriblocation),
    GL_ENTRY("glBindAttribLocation", gl_bindattriblocation),
    GL_ENTRY("glVertexAttribPointer", gl_vertexattribpointer),
    GL_ENTRY("glEnableVertexAttribArray", gl_enablevertexattribarray),
    GL_ENTRY("glDisableVertexAttribArray", gl_disablevertexattribarray),
};

static const gl_entry gl_framebufferentries[] = {
    GL_ENTRY("glGenFramebuffers", gl_genframebuffers),
    GL_ENTRY("glDeleteFramebuffers", gl_deleteframebuffers),
    GL_ENTRY("glBindFramebuffer", gl_bindframebuffer),
    GL_ENTRY("glFramebufferTexture2D", gl_framebuffertexture2d),
    GL_ENTRY("glFramebufferRenderbuffer", gl_framebufferrenderbuffer),
    GL_ENTRY("glCheckFramebufferStatus", gl_checkframebufferstatus),
    GL_ENTRY("glGenRenderbuffers", gl_genrenderbuffers),
    GL_ENTRY("glDeleteRenderbuffers", gl_deleterenderbuffers),
    GL_ENTRY("glBindRenderbuffer", gl_bindrenderbuffer),
    GL_ENTRY("glRenderbufferStorage", gl_renderbufferstorage),
};

static const char *const gl_tooold =
    "The system's graphics hardware is too old to be usable with Kerfmill or is running with "
    "outdated graphics drivers that should be updated to maximize the capabilities of the "
    "graphics hardware present.";

// Fetches one entry point: by its core name when core is set, then by the
// name with suffix appended (suffix may be null); 1 when found.
static int gl_fetch(const gl_entry &entry, bool core, const char *suffix)
{
    *entry.slot = core ? gl_findextension(entry.name) : nullptr;
    if (!*entry.slot && suffix) {
        char name[96];
        snprintf(name, sizeof(name), "%s%s", entry.name, suffix);
        *entry.slot = gl_findextension(name);
    }
    return *entry.slot != nullptr;
}

// Fetches a group; 1 when every entry point of it was found.
template <size_t n>
static int gl_fetchgroup(const gl_entry (&group)[n], bool core, const char *suffix)
{
    int found = 1;
    for (const gl_entry &entry : group)
        found &= gl_fetch(entry, core, suffix);
    return found;
}

static void gl_loadmultitexture()
{
    gl_activetexture = (PFNGLACTIVETEXTUREPROC)gl_findextension("glActiveTexture");
    if (!gl_activetexture)
        gl_activetexture = (PFNGLACTIVETEXTUREPROC)gl_findextension("glActiveTextureARB");
    if (!gl_activetexture)
        sys_error("Multitexturing support not found!");
}

static int gl_loadbuffers()
{
    if (!gl_loadextensions("GL_ARB_vertex_buffer_object")) {
        sys_error("Vertex-buffer object support not found. (GL=%d)", gl_version);
        return 0;
    }
    if (!gl_fetchgroup(gl_bufferentries, true, "ARB")) {
        sys_error("Unable to find GL_ARB_vertex_buffer_object function pointers.");
        return 0;
    }
    return 1;
}

static int gl_loadshaders()
{
    if (gl_version < 20) {
        sys_error("%s", gl_tooold);
        return 0;
    }
    if (!gl_loadextensions("GL_ARB_shader_objects")) {
        sys_error("Vertex/fragment shader program extension not found (GL=%d)", gl_version);
        return 0;
    }
    // Every shader draws through these; running on without one would call
    // through a null pointer, so a GL that lacks any of them is refused.
    if (!gl_fetchgroup(gl_shaderentries, true, nullptr)) {
        sys_error("Unable to find GL_ARB_shader_objects function pointers.");
        return 0;
    }
    sys_log("...ARB_shader_objects supported");
    return 1;
}

// Framebuffer objects are optional: without a complete set the flag stays
// off and the renderer draws straight to the window.
static void gl_loadframebuffers()
{
    gl_framebuffers = 0;
    if (gl_version >= 30) {
        if (gl_loadextensions("GL_ARB_framebuffer_object")) {
            int found = gl_fetchgroup(gl_framebufferentries, true, nullptr);
            found &= gl_fetch(GL_ENTRY("glRenderbufferStorageMultisample",
                                       gl_renderbufferstoragemultisample), true, nullptr);
            if (found) {
                gl_framebuffers = 1;
                sys_log("...ARB_framebuffer_object supported");
            }
        }
        gl_generatemipmap = (PFNGLGENERATEMIPMAPPROC)gl_findextension("glGenerateMipmap");
        if (gl_version > 31)
            gl_teximage2dmultisample =
                (PFNGLTEXIMAGE2DMULTISAMPLEPROC)gl_findextension("glTexImage2DMultisample");
        return;
    }
    if (gl_loadextensions("GL_EXT_framebuffer_object") &&
        gl_fetchgroup(gl_framebufferentries, false, "EXT")) {
        gl_framebuffers = 1;
        sys_log("...EXT_framebuffer_object supported");
    }
}

int gl_loadentrypoints()
{
    gl_loadmultitexture();
    if (gl_version < 14) {
        sys_error("%s", gl_tooold);
        return 0;
    }
    if (!gl_loadbuffers() || !gl_loadshaders())
        return 0;
    gl_loadframebuffers();
    return 1;
}
