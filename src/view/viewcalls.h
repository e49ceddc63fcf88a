// The viewport's one door to OpenGL and the renderer: GL state, the matrix
// stack, shaders and their uniforms, textures, the view framebuffer, one
// immediate primitive, render models, path drawing and world/screen
// projection. The real table is the default; the view tests aim view_calls
// at a recording table, so whole frames run and are checked without GL.
#pragma once
#include <cstdint>

struct path;

// Switchable GL capabilities the viewport touches.
enum view_cap {
    vcap_depthtest,
    vcap_blend,
    vcap_cullface,
    vcap_fog,
    vcap_stencil,
    vcap_alphatest,
    vcap_count
};

// Depth functions, blend factors, faces and polygon modes, by the GL's own
// numbers so the real table passes them straight on.
constexpr int vgl_less = 0x0201, vgl_greater = 0x0204, vgl_lequal = 0x0203, vgl_always = 0x0207;
constexpr int vgl_srcalpha = 0x0302, vgl_oneminussrcalpha = 0x0303, vgl_one = 1, vgl_zero = 0;
constexpr int vgl_front = 0x0404, vgl_back = 0x0405, vgl_frontandback = 0x0408;
constexpr int vgl_point = 0x1B00, vgl_line = 0x1B01, vgl_fill = 0x1B02;

// One vertex of an immediate primitive: colour as bytes, texture
// coordinates as given.
struct view_vertex {
    float x, y, z;
    uint8_t r, g, b, a;
    float u, v;
};

struct view_calltable {
    void (*enable)(int cap, int on);
    void (*depthfunc)(int func);
    void (*depthmask)(int on);
    void (*blendfunc)(int src, int dst);
    void (*cullface)(int face);
    void (*polygonmode)(int face, int mode);
    void (*linewidth)(float width);
    void (*pointsize)(float size);
    // The modelview stack.
    void (*pushmatrix)();
    void (*popmatrix)();
    void (*translate)(float x, float y, float z);
    void (*rotate)(float degrees, float x, float y, float z);
    void (*scale)(float x, float y, float z);
    // Shader slot (-1 none); a uniform of the bound program by name; 0 when
    // no program is bound or it has no such uniform.
    void (*bindshader)(int slot);
    int (*uniformfloat)(const char *name, int count, const float *values);
    void (*bindtexture)(int slot, int unit);
    // The view framebuffer (viewport and aspect to the view buffer's size;
    // nothing while the view is drawn straight into the window), and back
    // to the window.
    void (*bindview)();
    void (*unbindview)();
    // One immediate primitive (r_primitivekind numbering).
    void (*primitive)(int kind, const view_vertex *verts, int count);
    // Render models: a new recording model (slot or -1), its end, free, draw.
    int (*modelnew)();
    void (*modelend)();
    void (*modelfree)(int slot);
    void (*modeldraw)(int slot);
    // A path's curves in immediate mode (path_draw).
    void (*drawpath)(const path *p, float stepfactor, const float colour[4], const float selcolour[4]);
    // World point to device coordinates through the current matrices, and back.
    void (*project)(float *out, const float *in);
    void (*unproject)(float *out, const float *in);
    // Vector uniforms (components 3 or 4 each, count of them) and sampler or
    // integer uniforms of the bound program by name; 0 as uniformfloat.
    int (*uniformvec)(const char *name, int components, int count, const float *values);
    int (*uniformint)(const char *name, int value);
    // The alpha test's function and reference (with vcap_alphatest).
    void (*alphafunc)(int func, float ref);
    // Exponential fog of the density and colour (rgba) for what is drawn
    // while vcap_fog is on.
    void (*fog)(float density, const float colour[4]);
};

extern const view_calltable view_realcalls;
extern const view_calltable *view_calls;

// A line loop of n points of one colour, through view_calls.
void view_lineloop(const float (*points)[3], int n, const float colour[4]);
