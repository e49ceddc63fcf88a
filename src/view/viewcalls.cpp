// The real viewport call table: GL state and matrices straight to the GL,
// shaders, textures, immediate primitives and models through the renderer.
#include "view/viewcalls.h"

#include "geom/pathedit.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/log.h"
#include "sys/main.h"
#include "view/view.h"

static void calls_enable(int cap, int on)
{
    static const GLenum caps[vcap_count] = {GL_DEPTH_TEST, GL_BLEND, GL_CULL_FACE, GL_FOG, GL_STENCIL_TEST,
                                            GL_ALPHA_TEST};
    if (cap < 0 || cap >= vcap_count)
        return;
    if (on)
        glEnable(caps[cap]);
    else
        glDisable(caps[cap]);
}

static void calls_depthfunc(int func) { glDepthFunc((GLenum)func); }
static void calls_depthmask(int on) { glDepthMask(on ? GL_TRUE : GL_FALSE); }
static void calls_blendfunc(int src, int dst) { glBlendFunc((GLenum)src, (GLenum)dst); }
static void calls_cullface(int face) { glCullFace((GLenum)face); }
static void calls_polygonmode(int face, int mode) { glPolygonMode((GLenum)face, (GLenum)mode); }
static void calls_linewidth(float width) { glLineWidth(width); }
static void calls_pointsize(float size) { glPointSize(size); }
static void calls_pushmatrix() { glPushMatrix(); }
static void calls_popmatrix() { glPopMatrix(); }
static void calls_translate(float x, float y, float z) { glTranslatef(x, y, z); }
static void calls_rotate(float degrees, float x, float y, float z) { glRotatef(degrees, x, y, z); }
static void calls_scale(float x, float y, float z) { glScalef(x, y, z); }
static void calls_bindshader(int slot) { r_bindshader(slot); }

// The bound program's slot name, or "NULL" when none or not one of ours.
static const char *calls_boundname(GLint program)
{
    for (const r_shader &s : r_shaders)
        if (program && s.name[0] && (GLint)s.program == program)
            return s.name;
    return "NULL";
}

static int calls_uniformfloat(const char *name, int count, const float *values)
{
    if (gl_version < 20 || !glGetUniformLocation)
        return 0;
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    GLint location = program ? glGetUniformLocation((GLuint)program, name) : -1;
    if (location < 0) {
        sys_log("* %s:%d = %f", calls_boundname(program), (int)location, count > 0 ? values[0] : 0.0f);
        return 0;
    }
    glUniform1fv(location, count, values);
    return 1;
}

// The bound program's location of name, or -1 (logged with the value).
static GLint calls_location(const char *name, float shown)
{
    if (gl_version < 20 || !glGetUniformLocation)
        return -1;
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    GLint location = program ? glGetUniformLocation((GLuint)program, name) : -1;
    if (location < 0)
        sys_log("* %s:%d = %f", calls_boundname(program), (int)location, shown);
    return location;
}

static int calls_uniformvec(const char *name, int components, int count, const float *values)
{
    GLint location = calls_location(name, count > 0 ? values[0] : 0.0f);
    if (location < 0)
        return 0;
    switch (components) {
    case 3: glUniform3fv(location, count, values); break;
    case 4: glUniform4fv(location, count, values); break;
    default: glUniform1fv(location, count, values); break;
    }
    return 1;
}

static int calls_uniformint(const char *name, int value)
{
    GLint location = calls_location(name, (float)value);
    if (location < 0)
        return 0;
    glUniform1i(location, value);
    return 1;
}

static void calls_alphafunc(int func, float ref) { glAlphaFunc((GLenum)func, ref); }

static void calls_bindtexture(int slot, int unit)
{
    if (slot < 0)
        r_unbindtexture(unit);
    else
        r_bindtexture(slot, unit);
}

static void calls_bindview()
{
    if (view_direct || !view_fbo)
        return;
    r_bindframebufferobject(view_fbo, view_buffersize[0], view_buffersize[1]);
}

static void calls_unbindview()
{
    if (view_direct || !view_fbo)
        return;
    r_bindframebufferobject(0, sys_drawable[0], sys_drawable[1]);
}

static void calls_primitive(int kind, const view_vertex *verts, int count)
{
    r_begin(kind);
    for (int i = 0; i < count; i++) {
        const view_vertex &v = verts[i];
        r_currentvertex.r = v.r;
        r_currentvertex.g = v.g;
        r_currentvertex.b = v.b;
        r_currentvertex.a = v.a;
        r_texcoord(v.u, v.v);
        r_vertex(v.x, v.y, v.z);
    }
    r_end();
}

static void calls_drawpath(const path *p, float stepfactor, const float colour[4], const float selcolour[4])
{
    path_draw(p, stepfactor, colour, selcolour);
}

static void calls_fog(float density, const float colour[4])
{
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, density);
    glFogfv(GL_FOG_COLOR, colour);
}

static void calls_project(float *out, const float *in) { r_project(out, in); }
static void calls_unproject(float *out, const float *in) { r_unproject(out, in); }

const view_calltable view_realcalls = {
    calls_enable,      calls_depthfunc,    calls_depthmask,   calls_blendfunc,    calls_cullface,
    calls_polygonmode, calls_linewidth,    calls_pointsize,   calls_pushmatrix,   calls_popmatrix,
    calls_translate,   calls_rotate,       calls_scale,       calls_bindshader,   calls_uniformfloat,
    calls_bindtexture, calls_bindview,     calls_unbindview,  calls_primitive,    r_modelnew,
    r_modelend,        r_modelfree,        r_modeldraw,       calls_drawpath,     calls_project,
    calls_unproject,   calls_uniformvec,   calls_uniformint,  calls_alphafunc,
    calls_fog,
};
const view_calltable *view_calls = &view_realcalls;

void view_lineloop(const float (*points)[3], int n, const float colour[4])
{
    view_vertex verts[16];
    if (n > 16)
        n = 16;
    for (int i = 0; i < n; i++)
        verts[i] = {points[i][0], points[i][1], points[i][2], (uint8_t)(colour[0] * 255.0f + 0.5f),
                    (uint8_t)(colour[1] * 255.0f + 0.5f), (uint8_t)(colour[2] * 255.0f + 0.5f),
                    (uint8_t)(colour[3] * 255.0f + 0.5f), 0.0f, 0.0f};
    view_calls->primitive(r_lineloop, verts, n);
}
