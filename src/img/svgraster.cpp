// SVG shapes drawn with cairo: fills and strokes with their colours and
// gradients onto an opaque RGBA picture, at a scale and offset the caller
// chooses.
#include "img/svgraster.h"

#include "sys/log.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

// Curve flattening tolerance and the shortest segment kept, both in picture
// pixels.
constexpr double svg_tesstolerance = 0.025;
constexpr double svg_disttolerance = 0.01;

static void svg_setsource(cairo_t *cr, const svg_paint &p)
{
    auto channel = [](uint32_t c, int shift) { return (c >> shift & 0xFF) / 255.0; };
    if (p.kind == svg_paintcolor) {
        cairo_set_source_rgba(cr, channel(p.color, 0), channel(p.color, 8), channel(p.color, 16),
                              channel(p.color, 24));
        return;
    }
    const svg_gradient &g = *p.gradient;
    const float *c = g.coords;
    cairo_pattern_t *pattern = p.kind == svg_paintradial ? cairo_pattern_create_radial(c[3], c[4], 0, c[0], c[1], c[2])
                                                         : cairo_pattern_create_linear(c[0], c[1], c[2], c[3]);
    for (int i = 0; i < g.stopcount; i++) {
        uint32_t s = g.stops[i].color;
        cairo_pattern_add_color_stop_rgba(pattern, g.stops[i].offset, channel(s, 0), channel(s, 8), channel(s, 16),
                                          channel(s, 24));
    }
    static const cairo_extend_t extends[] = {CAIRO_EXTEND_PAD, CAIRO_EXTEND_REFLECT, CAIRO_EXTEND_REPEAT};
    cairo_pattern_set_extend(pattern, extends[std::clamp(g.spread, 0, 2)]);
    // The pattern's matrix maps drawing space into gradient space.
    cairo_matrix_t m;
    cairo_matrix_init(&m, g.xform[0], g.xform[1], g.xform[2], g.xform[3], g.xform[4], g.xform[5]);
    if (cairo_matrix_invert(&m) == CAIRO_STATUS_SUCCESS) {
        cairo_pattern_set_matrix(pattern, &m);
        cairo_set_source(cr, pattern);
    } else {
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
    }
    cairo_pattern_destroy(pattern);
}

// Segments whose points all lie within mindist of where they start add
// nothing visible and are left out.
static void svg_addpath(cairo_t *cr, const svg_path &path, double mindist)
{
    const float *p = path.points;
    double x = p[0], y = p[1];
    cairo_move_to(cr, x, y);
    for (int i = 1; i + 2 < path.count; i += 3) {
        const float *q = p + 2 * i;
        bool tiny = true;
        for (int k = 0; k < 6; k += 2)
            tiny = tiny && std::fabs(q[k] - x) < mindist && std::fabs(q[k + 1] - y) < mindist;
        if (tiny)
            continue;
        cairo_curve_to(cr, q[0], q[1], q[2], q[3], q[4], q[5]);
        x = q[4];
        y = q[5];
    }
    if (path.closed)
        cairo_close_path(cr);
}

static void svg_drawshape(cairo_t *cr, const svg_shape &s, double mindist)
{
    static const cairo_line_join_t joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_ROUND, CAIRO_LINE_JOIN_BEVEL};
    static const cairo_line_cap_t caps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_ROUND, CAIRO_LINE_CAP_SQUARE};
    cairo_new_path(cr);
    for (int i = 0; i < s.pathcount; i++)
        svg_addpath(cr, s.paths[i], mindist);
    if (s.fill.kind != svg_paintnone) {
        svg_setsource(cr, s.fill);
        cairo_set_fill_rule(cr, s.fillrule == svg_evenodd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_fill_preserve(cr);
    }
    if (s.stroke.kind != svg_paintnone && s.strokewidth > 0) {
        svg_setsource(cr, s.stroke);
        cairo_set_line_width(cr, s.strokewidth);
        cairo_set_line_join(cr, joins[std::clamp(s.linejoin, 0, 2)]);
        cairo_set_line_cap(cr, caps[std::clamp(s.linecap, 0, 2)]);
        cairo_set_miter_limit(cr, std::max(1.0f, s.miterlimit));
        cairo_stroke_preserve(cr);
    }
    cairo_new_path(cr);
}

// Between our RGBA bytes and cairo's native-endian 0xAARRGGBB words. The
// pixels are opaque, so premultiplied and straight colours are the same.
static void svg_toargb(uint8_t *pixels, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        uint8_t *p = pixels + 4 * i;
        uint32_t w = (uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
        memcpy(p, &w, 4);
    }
}

static void svg_fromargb(uint8_t *pixels, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        uint8_t *p = pixels + 4 * i;
        uint32_t w;
        memcpy(&w, p, 4);
        p[0] = (uint8_t)(w >> 16);
        p[1] = (uint8_t)(w >> 8);
        p[2] = (uint8_t)w;
        p[3] = (uint8_t)(w >> 24);
    }
}

int svg_rasterize(const svg_image *svg, float x, float y, float scale, uint8_t *pixels, int width,
                         int height)
{
    // Cairo's image surfaces end at 32767 pixels a side.
    if (!svg || !pixels || width < 1 || height < 1 || width > 32767 || height > 32767 || !(scale > 0)) {
        sys_log("svg_rasterize: %dx%d picture at scale %g out of range", width, height, scale);
        return 0;
    }
    size_t count = (size_t)width * height;
    svg_toargb(pixels, count);
    cairo_surface_t *surface =
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, width * 4);
    cairo_t *cr = cairo_create(surface);
    int ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    if (ok) {
        cairo_set_tolerance(cr, svg_tesstolerance);
        cairo_translate(cr, x, y);
        cairo_scale(cr, scale, scale);
        for (int i = 0; i < svg->shapecount; i++)
            svg_drawshape(cr, svg->shapes[i], svg_disttolerance / scale);
        ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
        if (!ok)
            sys_log("svg_rasterize: %s", cairo_status_to_string(cairo_status(cr)));
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    svg_fromargb(pixels, count);
    return ok;
}
