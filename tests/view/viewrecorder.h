// Recording viewport call table: every primitive with the state it was drawn
// in, model contents by slot, uniforms by name and path draws; its own
// projection matrix and modelview stack, so project and unproject work
// without GL and a test can compute the same projection independently.
// Free of the test framework, so the benchmark drives it too.
#pragma once
#include "view/viewcalls.h"

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

struct vrec_state {
    int caps[vcap_count] = {};
    int depthmask = 1;
    int depthfunc = vgl_less;
    int blendsrc = vgl_one, blenddst = vgl_zero;
    int cullface = vgl_back;
    int polygonmode = vgl_fill;
    float linewidth = 1.0f;
    float pointsize = 1.0f;
    int shader = -1;
    int textures[4] = {-1, -1, -1, -1};
    int viewbound = 0; // the view framebuffer is bound
    int alphafunc = 0x0207; // GL_ALWAYS
    float alpharef = 0.0f;
    float fogdensity = 0.0f;
    float fogcolour[4] = {};
};

struct vrec_prim {
    int kind;
    std::vector<view_vertex> verts;
    vrec_state state;
    double modelview[16];
};
struct vrec_pathdraw {
    const path *p;
    float stepfactor;
    float colour[4];
    vrec_state state;
    double modelview[16];
};
// A model drawn, with the state and matrix it was drawn in.
struct vrec_drawnmodel {
    int slot;
    vrec_state state;
    double modelview[16];
};
struct vrec_model {
    bool used = false, ended = false;
    std::vector<vrec_prim> prims;
};

// Column-major 4x4 helpers, the GL's layout.
inline void vrec_identity(double *m)
{
    memset(m, 0, 16 * sizeof(double));
    m[0] = m[5] = m[10] = m[15] = 1.0;
}
inline void vrec_multiply(double *out, const double *a, const double *b)
{
    double r[16];
    for (int c = 0; c < 4; c++)
        for (int row = 0; row < 4; row++) {
            double s = 0.0;
            for (int k = 0; k < 4; k++)
                s += a[k * 4 + row] * b[c * 4 + k];
            r[c * 4 + row] = s;
        }
    memcpy(out, r, sizeof(r));
}
inline void vrec_apply(double *out, const double *m, const double *in4)
{
    for (int row = 0; row < 4; row++)
        out[row] = m[row] * in4[0] + m[4 + row] * in4[1] + m[8 + row] * in4[2] + m[12 + row] * in4[3];
}
// Gauss-Jordan inverse; false when singular.
inline bool vrec_invert(double *inv, const double *m)
{
    double a[4][8];
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) {
            a[r][c] = m[c * 4 + r];
            a[r][c + 4] = r == c ? 1.0 : 0.0;
        }
    for (int c = 0; c < 4; c++) {
        int p = c;
        for (int r = c + 1; r < 4; r++)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c]))
                p = r;
        if (std::fabs(a[p][c]) < 1e-300)
            return false;
        for (int k = 0; k < 8; k++)
            std::swap(a[c][k], a[p][k]);
        double d = a[c][c];
        for (int k = 0; k < 8; k++)
            a[c][k] /= d;
        for (int r = 0; r < 4; r++)
            if (r != c) {
                double f = a[r][c];
                for (int k = 0; k < 8; k++)
                    a[r][k] -= f * a[c][k];
            }
    }
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++)
            inv[c * 4 + r] = a[r][c + 4];
    return true;
}

struct view_recorder {
    bool counting = false; // count calls only, keep nothing (benchmark)
    long primitivecalls = 0, vertices = 0, modeldraws = 0, pathdraws = 0;
    vrec_state state;
    double projection[16];
    std::vector<std::array<double, 16>> stack{std::array<double, 16>{}};
    std::vector<vrec_prim> primitives;
    std::vector<vrec_pathdraw> paths;
    std::vector<int> drawnmodels;
    std::vector<vrec_drawnmodel> modeldrawrecs;
    std::map<std::string, std::vector<float>> uniforms;
    std::vector<std::string> uniformfails;
    vrec_model models[256];
    int recording = -1; // model being recorded
    int nextmodel = 0;

    view_recorder() { reset(); }
    void reset()
    {
        state = vrec_state{};
        vrec_identity(projection);
        stack.assign(1, std::array<double, 16>{});
        vrec_identity(stack[0].data());
        clear();
        for (auto &m : models)
            m = vrec_model{};
        recording = -1;
        nextmodel = 0;
    }
    void clear()
    {
        primitives.clear();
        paths.clear();
        drawnmodels.clear();
        modeldrawrecs.clear();
        uniforms.clear();
        uniformfails.clear();
        primitivecalls = vertices = modeldraws = pathdraws = 0;
    }
    double *top() { return stack.back().data(); }
    void multiply(const double *m) { vrec_multiply(top(), top(), m); }
    // projection x modelview
    void mvp(double *out) { vrec_multiply(out, projection, top()); }
    // Primitives of one kind drawn outside models.
    std::vector<const vrec_prim *> of(int kind) const
    {
        std::vector<const vrec_prim *> out;
        for (const auto &p : primitives)
            if (p.kind == kind)
                out.push_back(&p);
        return out;
    }
};

inline view_recorder vrec;

inline void vrec_enable(int cap, int on)
{
    if (cap >= 0 && cap < vcap_count)
        vrec.state.caps[cap] = on ? 1 : 0;
}
inline void vrec_depthfunc(int f) { vrec.state.depthfunc = f; }
inline void vrec_depthmask(int on) { vrec.state.depthmask = on ? 1 : 0; }
inline void vrec_blendfunc(int s, int d)
{
    vrec.state.blendsrc = s;
    vrec.state.blenddst = d;
}
inline void vrec_cullface(int f) { vrec.state.cullface = f; }
inline void vrec_polygonmode(int, int mode) { vrec.state.polygonmode = mode; }
inline void vrec_linewidth(float w) { vrec.state.linewidth = w; }
inline void vrec_pointsize(float s) { vrec.state.pointsize = s; }
inline void vrec_pushmatrix() { vrec.stack.push_back(vrec.stack.back()); }
inline void vrec_popmatrix()
{
    if (vrec.stack.size() > 1)
        vrec.stack.pop_back();
}
inline void vrec_translate(float x, float y, float z)
{
    double m[16];
    vrec_identity(m);
    m[12] = x;
    m[13] = y;
    m[14] = z;
    vrec.multiply(m);
}
inline void vrec_rotate(float degrees, float x, float y, float z)
{
    double len = std::sqrt((double)x * x + (double)y * y + (double)z * z);
    if (len == 0.0)
        return;
    double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    double ux = x / len, uy = y / len, uz = z / len;
    double m[16] = {ux * ux * (1 - c) + c,      uy * ux * (1 - c) + uz * s, ux * uz * (1 - c) - uy * s, 0,
                    ux * uy * (1 - c) - uz * s, uy * uy * (1 - c) + c,      uy * uz * (1 - c) + ux * s, 0,
                    ux * uz * (1 - c) + uy * s, uy * uz * (1 - c) - ux * s, uz * uz * (1 - c) + c,      0,
                    0,                          0,                          0,                          1};
    vrec.multiply(m);
}
inline void vrec_scale(float x, float y, float z)
{
    double m[16];
    vrec_identity(m);
    m[0] = x;
    m[5] = y;
    m[10] = z;
    vrec.multiply(m);
}
inline void vrec_bindshader(int slot) { vrec.state.shader = slot; }
inline int vrec_uniformfloat(const char *name, int count, const float *values)
{
    if (vrec.state.shader < 0) {
        vrec.uniformfails.push_back(name);
        return 0;
    }
    vrec.uniforms[name].assign(values, values + count);
    return 1;
}
inline void vrec_bindtexture(int slot, int unit)
{
    if (unit >= 0 && unit < 4)
        vrec.state.textures[unit] = slot;
}
inline void vrec_bindview() { vrec.state.viewbound = 1; }
inline void vrec_unbindview() { vrec.state.viewbound = 0; }
inline void vrec_primitive(int kind, const view_vertex *verts, int count)
{
    vrec.primitivecalls++;
    vrec.vertices += count;
    if (vrec.counting)
        return;
    vrec_prim p{kind, std::vector<view_vertex>(verts, verts + count), vrec.state, {}};
    memcpy(p.modelview, vrec.top(), sizeof(p.modelview));
    if (vrec.recording >= 0)
        vrec.models[vrec.recording].prims.push_back(std::move(p));
    else
        vrec.primitives.push_back(std::move(p));
}
inline int vrec_modelnew()
{
    for (int i = 0; i < 256; i++) {
        int s = (vrec.nextmodel + i) % 256;
        if (!vrec.models[s].used) {
            vrec.models[s] = vrec_model{};
            vrec.models[s].used = true;
            vrec.recording = s;
            vrec.nextmodel = s + 1;
            return s;
        }
    }
    return -1;
}
inline void vrec_modelend()
{
    if (vrec.recording >= 0)
        vrec.models[vrec.recording].ended = true;
    vrec.recording = -1;
}
inline void vrec_modelfree(int slot)
{
    if (slot >= 0 && slot < 256)
        vrec.models[slot] = vrec_model{};
}
inline void vrec_modeldraw(int slot)
{
    vrec.modeldraws++;
    if (vrec.counting)
        return;
    vrec.drawnmodels.push_back(slot);
    vrec_drawnmodel d{slot, vrec.state, {}};
    memcpy(d.modelview, vrec.top(), sizeof(d.modelview));
    vrec.modeldrawrecs.push_back(d);
}
inline void vrec_drawpath(const path *p, float stepfactor, const float colour[4], const float *)
{
    vrec.pathdraws++;
    if (vrec.counting)
        return;
    vrec_pathdraw d{p, stepfactor, {colour[0], colour[1], colour[2], colour[3]}, vrec.state, {}};
    memcpy(d.modelview, vrec.top(), sizeof(d.modelview));
    vrec.paths.push_back(d);
}
// Device coordinates with the divide by w, as the GL would.
inline void vrec_project(float *out, const float *in)
{
    double m[16], p[4] = {in[0], in[1], in[2], 1.0}, r[4];
    vrec.mvp(m);
    vrec_apply(r, m, p);
    double w = r[3] != 0.0 ? r[3] : 1.0;
    for (int i = 0; i < 3; i++)
        out[i] = (float)(r[i] / w);
}
inline void vrec_unproject(float *out, const float *in)
{
    double m[16], inv[16], p[4] = {in[0], in[1], in[2], 1.0}, r[4];
    vrec.mvp(m);
    if (!vrec_invert(inv, m)) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    vrec_apply(r, inv, p);
    double w = r[3] != 0.0 ? r[3] : 1.0;
    for (int i = 0; i < 3; i++)
        out[i] = (float)(r[i] / w);
}

inline int vrec_uniformvec(const char *name, int components, int count, const float *values)
{
    return vrec_uniformfloat(name, components * count, values);
}
inline int vrec_uniformint(const char *name, int value)
{
    float v = (float)value;
    return vrec_uniformfloat(name, 1, &v);
}
inline void vrec_alphafunc(int func, float ref)
{
    vrec.state.alphafunc = func;
    vrec.state.alpharef = ref;
}
inline void vrec_fog(float density, const float colour[4])
{
    vrec.state.fogdensity = density;
    memcpy(vrec.state.fogcolour, colour, sizeof(vrec.state.fogcolour));
}

inline const view_calltable vrec_calls = {
    vrec_enable,      vrec_depthfunc,    vrec_depthmask,  vrec_blendfunc,    vrec_cullface,
    vrec_polygonmode, vrec_linewidth,    vrec_pointsize,  vrec_pushmatrix,   vrec_popmatrix,
    vrec_translate,   vrec_rotate,       vrec_scale,      vrec_bindshader,   vrec_uniformfloat,
    vrec_bindtexture, vrec_bindview,     vrec_unbindview, vrec_primitive,    vrec_modelnew,
    vrec_modelend,    vrec_modelfree,    vrec_modeldraw,  vrec_drawpath,     vrec_project,
    vrec_unproject,   vrec_uniformvec,   vrec_uniformint, vrec_alphafunc,
    vrec_fog,
};

// An orthographic projection like the frame loop's: half height d, aspect a,
// centred on (cx, cy), looking straight down.
inline void vrec_ortho(double *m, double a, double d, double cx, double cy)
{
    vrec_identity(m);
    m[0] = 1.0 / (a * d);
    m[5] = 1.0 / d;
    m[10] = -0.01;
    m[12] = -cx / (a * d);
    m[13] = -cy / d;
}
// A perspective projection looking straight down from height h above (cx,
// cy) with half-angle tangent t and aspect a (near 0.01 h, far 100 h).
inline void vrec_perspective(double *m, double a, double t, double cx, double cy, double h)
{
    double n = 0.01 * h, f = 100.0 * h;
    double p[16] = {1.0 / (a * t), 0, 0, 0, 0, 1.0 / t, 0, 0, 0, 0, -(f + n) / (f - n), -1,
                    0, 0, -2.0 * f * n / (f - n), 0};
    double v[16];
    vrec_identity(v);
    v[12] = -cx;
    v[13] = -cy;
    v[14] = -h;
    vrec_multiply(m, p, v);
}
