// The supershape and brush-profile previews. Both fit their shape into the
// sector inset by the padding and 10 px, and both refuse to divide by an
// extent of zero: a shape without extent draws only its box.
#include "gui/widgets/preview.h"

#include "geom/vec.h"
#include "gui/drawlist.h"
#include "gui/gui.h"
#include "gui/widgets/widget.h"
#include "sys/log.h"

#include <cmath>

constexpr int preview_maxsegments = 510;
constexpr int preview_samples = 99;
constexpr int preview_linestrip = 3, preview_trianglestrip = 5, preview_trianglefan = 6;

static gui_rect preview_inner(const gui_rect &s)
{
    float in = (float)gui_padding + 10.0f;
    return {s.x + in, s.y + in, s.w - 2.0f * in, s.h - 2.0f * in};
}

static void preview_box(const gui_rect &s)
{
    gui_addbox(s, gui_panelcolour[0], gui_panelcolour[1], gui_panelcolour[2], gui_panelalpha, 0);
}

static float preview_superformula(float phi, const float q[6])
{
    float c = fabsf(cosf(q[2] * phi / 4.0f) / q[0]), s = fabsf(sinf(q[2] * phi / 4.0f) / q[1]);
    return powf(powf(c, q[4]) + powf(s, q[5]), -1.0f / q[3]);
}

// Outline points before fitting, turned by the angle and squashed; 0 when a
// point or the extent is not a finite, non-zero number. With a, b or n1 at 0
// the formula divides by zero: what remains of the outline is a spike or a
// point, no shape to preview.
static int preview_outline(int n, float angle, float squash, const float q[6], float (*pts)[2], float bounds[4])
{
    if (q[0] == 0.0f || q[1] == 0.0f || q[3] == 0.0f)
        return 0;
    float kx = squash < 0.5f ? 0.5f / squash : 1.0f;
    float ky = squash > 0.5f ? 0.5f / (1.0f - squash) : 1.0f;
    float rows[3][3];
    view_rotationrows(-angle, rows);
    bounds[0] = bounds[1] = INFINITY;
    bounds[2] = bounds[3] = -INFINITY;
    for (int i = 0; i <= n; i++) {
        float phi = fmodf((float)i * 360.0f / (float)n, 360.0f) * (float)M_PI / 180.0f;
        float r = preview_superformula(phi, q);
        float sx = kx * r * sinf(phi), sy = ky * r * cosf(phi);
        float x = rows[2][0] * sx + rows[1][0] * sy, y = rows[2][1] * sx + rows[1][1] * sy;
        if (!std::isfinite(x) || !std::isfinite(y))
            return 0;
        pts[i][0] = x;
        pts[i][1] = y;
        bounds[0] = fminf(bounds[0], x);
        bounds[1] = fminf(bounds[1], y);
        bounds[2] = fmaxf(bounds[2], x);
        bounds[3] = fmaxf(bounds[3], y);
    }
    float extent = fmaxf(bounds[2] - bounds[0], bounds[3] - bounds[1]);
    return extent > 0.0f && std::isfinite(extent);
}

void gui_supershape(int count, float angle, float squash, const float params[6])
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return;
    preview_box(sector);
    int n = count < preview_maxsegments ? count : preview_maxsegments;
    float pts[preview_maxsegments + 1][2], b[4];
    if (n < 1 || !preview_outline(n, angle, squash, params, pts, b))
        return;
    gui_rect in = preview_inner(sector);
    float side = fminf(in.w, in.h);
    float cx = in.x + in.w / 2.0f, cy = in.y + in.h / 2.0f;
    float scale = side / fmaxf(b[2] - b[0], b[3] - b[1]);
    float bx = (b[0] + b[2]) / 2.0f, by = (b[1] + b[3]) / 2.0f;
    float z = gui_itemz();
    const float *hi = gui_hitextcolour, *t = gui_textcolour;
    gui_vertex line[preview_maxsegments + 1], fan[preview_maxsegments + 2];
    fan[0] = {cx, cy, z, t[0], t[1], t[2], 0.0f};
    for (int i = 0; i <= n; i++) {
        float x = cx + (pts[i][0] - bx) * scale, y = cy - (pts[i][1] - by) * scale;
        line[i] = {x, y, z, hi[0], hi[1], hi[2], 0.75f};
        fan[i + 1] = {x, y, z, t[0], t[1], t[2], 0.75f};
    }
    gui_addverts(preview_linestrip, n + 1, line, 1);
    gui_addverts(preview_trianglefan, n + 2, fan, 1);
}

struct preview_arc {
    float cx, cy, r; // r as given: its sign says convex (+) or concave (-)
    float half;      // +1 the upper half of the circle, -1 the lower
};

static float preview_archeight(const preview_arc &a, float t)
{
    float d = a.r * a.r - (t - a.cx) * (t - a.cx);
    return a.cy + a.half * (d > 0.0f ? sqrtf(d) : 0.0f);
}

// The sloped band in units of the depth: a rim arc, a straight part tangent
// to both arcs, and a top arc meeting the flat. With signed radii the one
// tangent construction serves every sign combination: the normal of the
// line is (cos theta, -sin theta) and each centre lies at its signed radius
// from the line.
static float preview_band(float t, float w, float r1, float r2)
{
    const preview_arc rim = r2 >= 0.0f ? preview_arc{r2, 0.0f, r2, 1.0f} : preview_arc{0.0f, -r2, r2, -1.0f};
    const preview_arc top = r1 >= 0.0f ? preview_arc{w, 1.0f - r1, r1, 1.0f} : preview_arc{w + r1, 1.0f, r1, -1.0f};
    float dx = top.cx - rim.cx, dy = top.cy - rim.cy, d = hypotf(dx, dy);
    float ratio = d > 0.0f ? (r2 - r1) / d : 0.0f;
    ratio = fmaxf(-0.9999f, fminf(0.9999f, ratio));
    float a1 = asinf(ratio);
    float a2 = dy != 0.0f ? atanf(dx / dy) + (dy < 0.0f ? (float)M_PI : 0.0f) : (float)M_PI / 2.0f;
    static float previousa1 = NAN;
    if (a1 != previousa1) {
        previousa1 = a1;
        sys_debuglog("r:%f a1:%f a2:%f", ratio, a1 * 180.0 / M_PI, a2 * 180.0 / M_PI);
    }
    float theta = a1 + a2;
    float x1 = rim.cx - r2 * cosf(theta), y1 = rim.cy + r2 * sinf(theta);
    float x2 = top.cx - r1 * cosf(theta);
    if (t < x1)
        return preview_archeight(rim, t);
    if (t < x2) {
        float tangent = tanf(theta);
        return tangent != 0.0f ? y1 + (t - x1) / tangent : y1;
    }
    return preview_archeight(top, t);
}

float gui_brushheight(float u, float k, float flat, float r1, float r2)
{
    if (!(k > 0.0f) || !std::isfinite(k))
        return 1.0f;
    float band = 1.0f - flat;
    if (u < 0.0f)
        return 0.0f;
    if (u >= band)
        return 1.0f;
    float t = u / (2.0f * k), w = band / (2.0f * k);
    float sum = fabsf(r1) + fabsf(r2), limit = fminf(w, 1.0f);
    if (sum > limit) {
        float s = limit / (sum + 0.0001f);
        r1 *= s;
        r2 *= s;
    }
    float p = preview_band(t, w, r1, r2);
    return fmaxf(0.0f, fminf(1.0f, p));
}

// The area at the brush's proportion: a brush without depth or diameter
// has none and draws flat.
static gui_rect preview_profilearea(const gui_rect &in, float k)
{
    if (!(in.w > 0.0f) || !(in.h > 0.0f))
        return in;
    float aspect = in.h / in.w;
    if (k < aspect) {
        float h = in.w * k;
        return {in.x, in.y + (in.h - h) / 2.0f, in.w, h};
    }
    if (k > aspect) {
        float w = in.h / k;
        return {in.x + (in.w - w) / 2.0f, in.y, w, in.h};
    }
    return {in.x, in.y, in.w, fminf(in.h, in.w)};
}

void gui_brushprofile(float diameter, float depth, float radius1, float radius2, float flat)
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return;
    preview_box(sector);
    float k = diameter > 0.0f && depth > 0.0f ? depth / diameter : 0.0f;
    if (!std::isfinite(k))
        k = 0.0f;
    gui_rect a = preview_profilearea(preview_inner(sector), k);
    float z = gui_itemz(), bottom = a.y + a.h;
    const float *hi = gui_hitextcolour, *t = gui_textcolour;
    gui_vertex line[preview_samples + 2], fill[2 * preview_samples];
    line[0] = {a.x, bottom, z, hi[0], hi[1], hi[2], 0.75f};
    for (int i = 0; i < preview_samples; i++) {
        float u = 1.0f - fabsf(2.0f * (float)i / 98.0f - 1.0f);
        float p = gui_brushheight(u, k, flat, radius1, radius2);
        float x = a.x + (float)i * a.w / 98.0f, y = a.y + (1.0f - p) * a.h;
        line[i + 1] = {x, y, z, hi[0], hi[1], hi[2], 0.75f};
        fill[2 * i] = line[i + 1];
        fill[2 * i + 1] = {x, bottom, z, t[0], t[1], t[2], 0.0f};
    }
    line[preview_samples + 1] = {a.x + a.w, bottom, z, hi[0], hi[1], hi[2], 0.75f};
    gui_addverts(preview_linestrip, preview_samples + 2, line, 1);
    gui_addverts(preview_trianglestrip, 2 * preview_samples, fill, 1);
}
