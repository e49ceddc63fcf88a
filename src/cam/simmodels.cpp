// The simulated tool and the grid tile as render models. The tool's profile
// is turned about its axis in 24 strips that wind 15 degrees per profile
// point, so light and shade run round it in a helix without any lighting at
// draw time. The grid tile is rebuilt whenever the step or the units change
// (the viewport asks); both are built on the main thread.
#include "cam/simmodels.h"

#include "cam/tool.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/log.h"

#include <cmath>
#include <cstring>

int sim_gridmodel = -1;

static constexpr float simmodel_degrees = (float)(M_PI / 180.0);

static uint8_t simmodel_byte(float v)
{
    if (v >= 1.0f)
        return 255;
    if (v > 0.0f)
        return (uint8_t)(v * 255.0f);
    return 0; // also a NaN
}

static void simmodel_vertex(r_vertexdata &v, float x, float y, float z, const uint8_t rgb[3], float alpha)
{
    v = {x, y, z, rgb[0], rgb[1], rgb[2], simmodel_byte(alpha), 0, 0};
}

// Records one primitive of ready vertices into the current model.
static void simmodel_emit(int kind, const r_vertexdata *verts, int count)
{
    r_emitcoloured(kind, verts, count);
}

// A rounded corner: a quarter circle of radius c whose centre is (x0, c),
// from its bottom to its side, points bunched towards the side.
static int simmodel_corner(float (*p)[2], int n, float x0, float c, double tmax)
{
    for (double t = 0.315; t < tmax && n < sim_maxprofile - 3; t = (1.05 - t) * 0.3 + t) {
        float tf = (float)t;
        p[n][0] = x0 + c * tf;
        p[n][1] = (1.0f - std::sqrt(1.0f - tf * tf)) * c;
        n++;
    }
    return n;
}

static int simmodel_cylinder(float (*p)[2], float d, float c, float fl, float l)
{
    float r = d * 0.5f;
    int n = 0;
    auto add = [&](float x, float z) {
        if (n < sim_maxprofile) {
            p[n][0] = x;
            p[n][1] = z;
            n++;
        }
    };
    if (r > c)
        add(0.0f, 0.0f);
    float a = std::fabs(c);
    if (a < 0.0001f) {
        add(r, 0.0f);
    } else if (c > 0.0f) {
        add(r - c, 0.0f);
        n = simmodel_corner(p, n, r - c, c, 1.0);
        add(r, c);
    } else {
        // A cove: the quarter circle is hollow, centred on the cutter's rim.
        add(r - a, 0.0f);
        for (double t = 0.015; t < 1.0 && n < sim_maxprofile - 3; t = (t + 0.05) * 0.3 + t) {
            float tf = (float)t;
            add(r - a + a * tf, a * std::sqrt(1.0f - (1.0f - tf) * (1.0f - tf)));
        }
        add(r, a);
    }
    if (a < fl)
        add(r, fl);
    add(r, l);
    return n;
}

static int simmodel_taperball(float (*p)[2], float ball, float degrees, float d, float fl, float l)
{
    float a = degrees * simmodel_degrees, ca = std::cos(a);
    int n = 0;
    if (ca > 0.0f) {
        p[n][0] = p[n][1] = 0.0f;
        n++;
        if (ca > 0.315f)
            n = simmodel_corner(p, n, 0.0f, ball, ca);
    }
    const float tail[3][2] = {{ball * ca, ball * (1.0f - std::sin(a))}, {d * 0.5f, fl}, {d * 0.5f, l}};
    for (const auto &q : tail) {
        p[n][0] = q[0];
        p[n][1] = q[1];
        n++;
    }
    return n;
}

int sim_toolprofile(const tool &t, uint32_t projunits, float (*p)[2])
{
    float f = 1.0f;
    if ((uint32_t)t.units < projunits)
        f = 25.4f;
    else if ((uint32_t)t.units > projunits)
        f = 0.03937008f;
    float d = t.flutediameter * f, fl = t.flutelength * f, l = t.length * f, big = t.diameter * f;
    switch (t.type) {
    case tool_cylinder:
        return simmodel_cylinder(p, d, t.aux * f, fl, l);
    case tool_tapered: {
        const float q[4][2] = {{0.0f, 0.0f}, {d * 0.5f, 0.0f}, {big * 0.5f, fl}, {big * 0.5f, l}};
        memcpy(p, q, sizeof(q));
        return 4;
    }
    case tool_vbit: {
        const float q[3][2] = {{0.0f, 0.0f}, {d * 0.5f, fl}, {d * 0.5f, l}};
        memcpy(p, q, sizeof(q));
        return 3;
    }
    case tool_taperball:
        return simmodel_taperball(p, d, t.aux, big, fl, l);
    default:
        return 0;
    }
}

float sim_toolshade(float degrees)
{
    float a = degrees * simmodel_degrees;
    float c = std::cos(a), s = std::sin(a);
    float len = std::sqrt(c * c + s * s + 0.25f);
    float dot = std::fabs(0.99227786f * c / len - 0.12403473f * s / len);
    return std::pow(dot, 6.0f) * 1.1f + 0.2f;
}

int sim_toolstrip(const float (*p)[2], int n, float length, const float colour[4], int strip, r_vertexdata *out)
{
    float angle = 15.0f * (float)strip;
    uint8_t c1[3], c2[3];
    const uint8_t black[3] = {0, 0, 0};
    float s1 = sim_toolshade(angle), s2 = sim_toolshade(angle + 15.0f);
    for (int i = 0; i < 3; i++) {
        c1[i] = simmodel_byte(colour[i] * s1);
        c2[i] = simmodel_byte(colour[i] * s2);
    }
    int count = 0;
    simmodel_vertex(out[count++], 0.0f, 0.0f, 0.0f, c2, colour[3]);
    for (int i = 1; i < n && i < sim_maxprofile; i++) {
        // A tool without length has no fade along it: the caller's alpha.
        float h = length != 0.0f ? (1.0f - p[i][1] / length) * colour[3] : colour[3];
        bool top = i == n - 1;
        for (int k = 0; k < 2; k++) {
            float a = (angle - 15.0f * (float)(i + k)) * simmodel_degrees;
            float x = p[i][0] * std::cos(a), y = p[i][0] * std::sin(a);
            if (top)
                simmodel_vertex(out[count], x, y, p[i][1], black, 0.0f);
            else
                simmodel_vertex(out[count], x, y, p[i][1], k == 0 ? c2 : c1, h);
            count++;
        }
    }
    return count;
}

int sim_gentoolmodel(const tool &t, const float colour[4])
{
    float profile[sim_maxprofile][2];
    int n = sim_toolprofile(t, project.units, profile);
    int slot = r_modelnew();
    sys_debuglog("simtool profile = %d verts", n);
    // The fade runs over the tool's length in project units: the shank top.
    float length = n ? profile[n - 1][1] : 0.0f;
    r_vertexdata verts[sim_maxstripverts];
    for (int s = 0; s < sim_toolstrips; s++) {
        int count = sim_toolstrip(profile, n, length, colour, s, verts);
        simmodel_emit(r_trianglestrip, verts, count);
    }
    if (n > 0) {
        const uint8_t green[3] = {0, 255, 0};
        r_vertexdata ring[sim_toolstrips];
        for (int i = 0; i < sim_toolstrips; i++) {
            float a = 15.0f * (float)i * simmodel_degrees;
            simmodel_vertex(ring[i], profile[n - 1][0] * std::cos(a), profile[n - 1][0] * std::sin(a),
                            profile[n - 1][1], green, 0.7f);
        }
        simmodel_emit(r_lineloop, ring, sim_toolstrips);
    }
    if (slot >= 0)
        r_modelend();
    return slot;
}

sim_gridplan sim_plangrid(uint32_t units, float step)
{
    static const float sizes[3] = {1.0f, 12.0f, 100.0f};
    if (units > 2) {
        sys_log("sim_plangrid: unknown project units %u, taken as none", units);
        units = 0;
    }
    sim_gridplan g = {units, (int)sizes[units], step, units == 2 ? 0.1f : 1.0f};
    if (units == 0) {
        g.units = 1;
        g.step = 0.25f;
        return g;
    }
    float fallback = units == 2 ? 2.5f : 0.25f;
    // An edited configuration may hold any step: none would end the loop,
    // a tiny one would build millions of lines.
    if (!(step > 0.0f) || (float)g.size / step >= (float)(sim_maxgridlines - 1)) {
        sys_log("sim_plangrid: grid step %f unusable, using %f", step, fallback);
        g.step = fallback;
    }
    return g;
}

void sim_gridvertices(const sim_gridplan &g, const float rgb[3], float major, float minor,
                      std::vector<r_vertexdata> &out)
{
    out.clear();
    uint8_t c[3] = {simmodel_byte(rgb[0]), simmodel_byte(rgb[1]), simmodel_byte(rgb[2])};
    float size = (float)g.size;
    for (float t = 0.0f; t <= size + 0.0001f; t += g.step) {
        float u = t * g.factor;
        float alpha = u - std::floor(u) > 0.0001f ? minor : major;
        r_vertexdata v[4];
        simmodel_vertex(v[0], t, 0.0f, 0.0f, c, alpha);
        simmodel_vertex(v[1], t, size, 0.0f, c, alpha);
        simmodel_vertex(v[2], 0.0f, t, 0.0f, c, alpha);
        simmodel_vertex(v[3], size, t, 0.0f, c, alpha);
        out.insert(out.end(), v, v + 4);
    }
}

void regengridmodel()
{
    if (sim_gridmodel >= 0) {
        r_modelfree(sim_gridmodel);
        sim_gridmodel = -1;
    }
    uint32_t was = project.units;
    sim_gridplan g = sim_plangrid(was, cfg_getf(cfg_gridsubdiv));
    if (was != g.units) {
        sys_log("defaulting project units to inches (was %d)", (int)was);
        project_setunits(1);
    }
    // The step in use is kept, so the configuration holds what is drawn.
    cfg_setf(cfg_gridsubdiv, g.step);
    sys_log("regengridmodel: units=%d size=%d scale=%f,%f subdiv=%f", (int)project.units, g.size, project.scale,
            g.step, g.factor);
    const float rgb[3] = {cfg_getf(cfg_viewcolor8), cfg_getf(cfg_viewcolor8 + 4), cfg_getf(cfg_viewcolor8 + 8)};
    std::vector<r_vertexdata> verts;
    sim_gridvertices(g, rgb, cfg_getf(cfg_gridmajoralpha), cfg_getf(cfg_gridminoralpha), verts);
    sim_gridmodel = r_modelnew();
    simmodel_emit(r_lines, verts.data(), (int)verts.size());
    if (sim_gridmodel >= 0)
        r_modelend();
    view_redraw = 1;
}
