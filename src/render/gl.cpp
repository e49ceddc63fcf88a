// GL state, the error check, projection and extension look-ups. Start-up
// fills the gl_ values from the probe and window contexts; everything here
// runs on the thread that holds a GL context and takes no locks.
#include "render/gl.h"

#include "sys/config.h"
#include "sys/log.h"

#include <SDL.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

int gl_version = -1;
char *gl_renderer = nullptr;
char *gl_versionstring = nullptr;
char *gl_vendor = nullptr;
char *gl_extensions = nullptr;
int gl_numextensions = 0;
int gl_multisample = 0;
int gl_texturefloat = 0;
float gl_maxanisotropy = 0.0f;
int gl_maxtexturesize = 0;
int gl_maxrenderbuffersize = 0;
int gl_framebuffers = 0;

const char *r_errorinfo = nullptr;

static int gl_entrycount = 0; // entry points found so far, numbers the log lines

int gl_softwarerenderer(const char *renderer)
{
    if (!renderer)
        return 0;
    const char *names[] = {"llvmpipe", "softpipe", "Software Rasterizer"};
    for (const char *n : names)
        if (strstr(renderer, n))
            return 1;
    return 0;
}

int gl_versionnumber(const char *versionstring)
{
    if (!versionstring)
        return -1;
    const unsigned char *v = (const unsigned char *)versionstring;
    if (!isdigit(v[0]) || v[1] != '.' || !isdigit(v[2]))
        return -1;
    return (v[0] - '0') * 10 + (v[2] - '0');
}

void r_defaultstate()
{
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glFrontFace(GL_CW);
    glDepthFunc(GL_LEQUAL);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearStencil(0);
    glStencilMask(255);
    glDepthMask(GL_TRUE);
    const GLenum off[] = {GL_MULTISAMPLE, GL_STENCIL_TEST, GL_DEPTH_TEST, GL_SCISSOR_TEST,
                          GL_FOG,         GL_BLEND,        GL_CULL_FACE};
    for (GLenum cap : off)
        glDisable(cap);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
}

int r_checkerror(const char *format, ...)
{
    GLenum code = glGetError();
    if (code == GL_NO_ERROR)
        return 0;
    char label[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(label, sizeof(label), format, args);
    va_end(args);
    r_reporterror((int)code, label);
    return (int)code;
}

void r_reporterror(int code, const char *label)
{
    // The stage text goes to the log only, so the error box (shown at most
    // once a second) carries the error itself.
    if (r_errorinfo)
        sys_log("render error info: %s", r_errorinfo);
    struct errorname {
        int code;
        const char *text;
    };
    static const errorname names[] = {
        {GL_INVALID_ENUM, "INVALID ENUM"},
        {GL_INVALID_VALUE, "INVALID VALUE"},
        {GL_INVALID_OPERATION, "INVALID OPERATION"},
        {GL_STACK_OVERFLOW, "STACK OVERFLOW"},
        {GL_STACK_UNDERFLOW, "STACK UNDERFLOW"},
        {GL_OUT_OF_MEMORY, "OUT OF MEMORY"},
        {GL_INVALID_FRAMEBUFFER_OPERATION, "INVALID FRAMEBUFFER OPERATION"},
    };
    const char *name = nullptr;
    for (const errorname &n : names)
        if (n.code == code)
            name = n.text;
    if (name)
        sys_error("%s: %s", label, name);
    else
        sys_error("%s: ERROR (0x%0X/%d))", label, (unsigned)code, code);
    r_errorinfo = nullptr;
}

// projection x modelview of the current GL matrices, column-major.
static void r_mvp(double *out)
{
    float model[16], proj[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, model);
    glGetFloatv(GL_PROJECTION_MATRIX, proj);
    for (int c = 0; c < 4; c++)
        for (int r = 0; r < 4; r++) {
            double sum = 0.0;
            for (int k = 0; k < 4; k++)
                sum += (double)proj[k * 4 + r] * model[c * 4 + k];
            out[c * 4 + r] = sum;
        }
}

// out = m x (x, y, z, 1), divided by w when the perspective setting is on
// and w is not 0.
static float *r_transform(float *out, const double *m, const float *in)
{
    double v[4];
    for (int r = 0; r < 4; r++)
        v[r] = m[r] * in[0] + m[4 + r] * in[1] + m[8 + r] * in[2] + m[12 + r];
    if (cfg_geti(cfg_perspective) && v[3] != 0.0)
        for (int r = 0; r < 3; r++)
            v[r] /= v[3];
    for (int r = 0; r < 3; r++)
        out[r] = (float)v[r];
    return out;
}

float *r_project(float *out, const float *in)
{
    double m[16];
    r_mvp(m);
    return r_transform(out, m, in);
}

// Inverse of a column-major 4x4 matrix by cofactors; 0 when it is singular.
static int r_invert(double *inv, const double *m)
{
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] +
             m[9] * m[7] * m[14] + m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] -
             m[8] * m[7] * m[14] - m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] +
             m[8] * m[7] * m[13] + m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] -
              m[8] * m[6] * m[13] - m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] -
             m[9] * m[3] * m[14] - m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] +
             m[8] * m[3] * m[14] + m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] -
             m[8] * m[3] * m[13] - m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] +
              m[8] * m[2] * m[13] + m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] +
             m[5] * m[3] * m[14] + m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] -
             m[4] * m[3] * m[14] - m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] +
              m[4] * m[3] * m[13] + m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] -
              m[4] * m[2] * m[13] - m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] -
             m[5] * m[3] * m[10] - m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] +
             m[4] * m[3] * m[10] + m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] -
              m[4] * m[3] * m[9] - m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] +
              m[4] * m[2] * m[9] + m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (det == 0.0)
        return 0;
    double scale = 1.0 / det;
    for (int i = 0; i < 16; i++)
        inv[i] *= scale;
    return 1;
}

float *r_unproject(float *out, const float *in)
{
    double m[16], inv[16];
    r_mvp(m);
    if (!r_invert(inv, m)) {
        // A collapsed transform maps everything to one plane; no point comes back.
        sys_log("r_unproject: singular transform");
        out[0] = out[1] = out[2] = 0.0f;
        return out;
    }
    return r_transform(out, inv, in);
}

void *gl_findextension(const char *name)
{
    void *address = SDL_GL_GetProcAddress(name);
    if (address)
        sys_log("...found '%s' (#%d)", name, gl_entrycount++);
    else
        sys_log("...'%s' not found", name);
    return address;
}

// The indexed extension query of GL 3.0 and later, fetched on first use.
static int gl_indexedready()
{
    if (!gl_getstringi)
        gl_getstringi = (PFNGLGETSTRINGIPROC)gl_findextension("glGetStringi");
    return gl_getstringi != nullptr;
}

int gl_listhas(const char *list, const char *name)
{
    if (!list || !name || !*name)
        return 0;
    return strstr(list, name) != nullptr;
}

int gl_loadextensions(const char *name)
{
    if (gl_version < 30)
        return gl_listhas(gl_extensions, name);
    if (!name || !gl_indexedready() || gl_numextensions < 1)
        return 0;
    for (int i = 0; i < gl_numextensions; i++) {
        const char *ext = (const char *)glGetStringi(GL_EXTENSIONS, (GLuint)i);
        if (ext && strcmp(ext, name) == 0)
            return 1;
    }
    return 0;
}

void gl_logextensions()
{
    if (gl_version >= 30) {
        if (!gl_indexedready())
            return;
        for (int i = 0; i < gl_numextensions; i++) {
            const char *ext = (const char *)glGetStringi(GL_EXTENSIONS, (GLuint)i);
            sys_log("%d = [%s]", i, ext ? ext : "");
        }
        return;
    }
    if (!gl_extensions)
        return;
    int index = 0;
    for (const char *p = gl_extensions; *p;) {
        size_t len = strcspn(p, " ");
        if (len)
            sys_log("%d = [%.*s]", index++, (int)len, p);
        p += len;
        p += strspn(p, " ");
    }
}
