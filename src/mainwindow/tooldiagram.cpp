// The tool-shape diagram: the side view of the edited cutter with its
// dimension arrows, angle arc, radius circle and read-outs. The compute step
// works in doubles from the editor's floats and checks its own result: a
// drawing whose scale or angle has no finite value is dropped whole, so no
// NaN or infinite vertex ever reaches the draw lists.
#include "mainwindow/tooldiagram.h"

#include "gui/drawlist.h"
#include "gui/gui.h"
#include "gui/widgets/labels.h"
#include "mainwindow/tools.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "sys/main.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

constexpr float tooldiagram_inkalpha = 0.75f;
constexpr int tooldiagram_font = 1;
constexpr int tooldiagram_linestrip = 3; // GL numbering of the draw lists
constexpr float tooldiagram_headingheight = 38.0f;
// Any coordinate beyond this is no pixel of a window; it also keeps the
// read-outs' integer positions in range.
constexpr double tooldiagram_farthest = 1.0e7;

static double diagram_radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

// The building state of one compute: the record and how read-outs are
// worded and measured.
struct diagram_build {
    tooldiagram_record *r;
    tooldiagram_measurefn measure;
    int digits;
    const char *suffix;
};

static void diagram_point(diagram_build &b, double x, double y)
{
    tooldiagram_record *r = b.r;
    if (r->npoints >= tooldiagram_maxpoints)
        return;
    r->points[r->npoints][0] = (float)x;
    r->points[r->npoints][1] = (float)y;
    r->npoints++;
}

static void diagram_line(diagram_build &b, double x1, double y1, double x2, double y2)
{
    tooldiagram_record *r = b.r;
    if (r->nlines < tooldiagram_maxlines)
        r->lines[r->nlines++] = {{(float)x1, (float)y1}, {(float)x2, (float)y2}};
}

static void diagram_arrow(diagram_build &b, double x1, double y1, double x2, double y2)
{
    tooldiagram_record *r = b.r;
    if (r->narrows < tooldiagram_maxarrows)
        r->arrows[r->narrows++] = {{(float)x1, (float)y1}, {(float)x2, (float)y2}};
}

// Two arrows with their heads on the edges left and right at height y,
// each running len toward the other edge (inward) or away from it.
static void diagram_widtharrows(diagram_build &b, double left, double right, double y, double len, int inward)
{
    double s = inward ? len : -len;
    diagram_arrow(b, left, y, left + s, y);
    diagram_arrow(b, right, y, right - s, y);
}

// The same for a height between top and bottom at x.
static void diagram_heightarrows(diagram_build &b, double x, double top, double bottom, double len, int inward)
{
    double s = inward ? len : -len;
    diagram_arrow(b, x, top, x, top + s);
    diagram_arrow(b, x, bottom, x, bottom - s);
}

static void diagram_arc(diagram_build &b, double cx, double cy, double radius, double start, double end)
{
    tooldiagram_record *r = b.r;
    if (r->narcs < tooldiagram_maxshapes)
        r->arcs[r->narcs++] = {(float)cx, (float)cy, (float)radius, (float)start, (float)end};
}

static void diagram_circle(diagram_build &b, double cx, double cy, double radius, double step)
{
    tooldiagram_record *r = b.r;
    if (r->ncircles < tooldiagram_maxshapes)
        r->circles[r->ncircles++] = {(float)cx, (float)cy, (float)radius, (float)step};
}

// Appends a read-out and returns its width; diagram_place then puts it.
static double diagram_text(diagram_build &b, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
static double diagram_text(diagram_build &b, const char *fmt, ...)
{
    tooldiagram_record *r = b.r;
    if (r->ntexts >= tooldiagram_maxtexts)
        return 0.0;
    tooldiagram_text &t = r->texts[r->ntexts++];
    va_list args;
    va_start(args, fmt);
    vsnprintf(t.text, sizeof(t.text), fmt, args);
    va_end(args);
    t.x = t.y = 0.0f;
    return b.measure ? (double)b.measure(t.text) : 0.0;
}

static double diagram_length(diagram_build &b, double value)
{
    return diagram_text(b, "%2.*f%s", b.digits, value, b.suffix);
}

static double diagram_angle(diagram_build &b, double degrees)
{
    return diagram_text(b, "%2.1f", degrees);
}

// Read-outs sit on whole pixels, cut toward zero.
static void diagram_place(diagram_build &b, double x, double y)
{
    tooldiagram_record *r = b.r;
    if (r->ntexts == 0)
        return;
    r->texts[r->ntexts - 1].x = (float)trunc(x);
    r->texts[r->ntexts - 1].y = (float)trunc(y);
}

static int diagram_goodscale(double k)
{
    return std::isfinite(k) && k > 0.0;
}

// Type 1: a flute diameter d and a corner radius v, convex when positive,
// concave (the tip below the bottom line) when negative.
static int diagram_cylinder(diagram_build &b, double d, double radius, double l)
{
    tooldiagram_record *r = b.r;
    double k = 0.5 * r->w / (d + l);
    if (!diagram_goodscale(k))
        return 0;
    double cx = r->cx, hw = (d / 2.0) * k, rp = radius * k;
    double yb = r->cy + hw / 2.0, c = hw - fmax(rp, 0.0);
    double ccx = cx - c, ccy = yb - rp;
    diagram_circle(b, ccx, ccy, rp, 9.0);
    diagram_line(b, ccx, ccy, ccx + rp, ccy);
    double tw = diagram_length(b, radius);
    double tx = radius < 0.0 ? ccx - tw : (rp > 0.1 * r->w ? ccx + (rp - tw) / 2.0 : ccx + rp + 3.0);
    diagram_place(b, tx, ccy - 14.0);

    double ytop = yb + 4.0, yend = 0.25 * yb + 0.75 * r->bottom, ya = 0.4 * yb + 0.6 * r->bottom;
    diagram_line(b, cx - hw, ytop, cx - hw, yend);
    diagram_line(b, cx + hw, ytop, cx + hw, yend);
    int inward = hw > 0.15 * r->w;
    diagram_widtharrows(b, cx - hw, cx + hw, ya, inward ? hw / 2.0 : 0.75 * hw, inward);
    tw = diagram_length(b, d);
    diagram_place(b, inward ? cx - tw / 2.0 : cx + 2.0 * hw + 5.0, ya - 7.0);

    diagram_point(b, cx - hw, r->y0);
    if (rp > 0.0) {
        for (int i = 0; i <= 10; i++) {
            double a = diagram_radians(180.0 - 9.0 * i);
            diagram_point(b, cx - hw + rp + rp * cos(a), yb - rp + rp * sin(a));
        }
        for (int i = 0; i <= 10; i++) {
            double a = diagram_radians(90.0 - 9.0 * i);
            diagram_point(b, cx + hw - rp + rp * cos(a), yb - rp + rp * sin(a));
        }
    } else if (rp < 0.0) {
        double ar = -rp;
        for (int i = 0; i <= 10; i++) {
            double a = diagram_radians(-90.0 + 9.0 * i);
            diagram_point(b, cx - hw + ar * cos(a), yb + ar + ar * sin(a));
        }
        for (int i = 0; i <= 10; i++) {
            double a = diagram_radians(180.0 + 9.0 * i);
            diagram_point(b, cx + hw + ar * cos(a), yb + ar + ar * sin(a));
        }
    } else {
        diagram_point(b, cx - hw, yb);
        diagram_point(b, cx + hw, yb);
    }
    diagram_point(b, cx + hw, r->y0);
    return 1;
}

// The top diameter of types 2 and 4: inward arrows of share x the width when
// it is over 100 px, else outward ones with the read-out on the right.
static void diagram_topdiameter(diagram_build &b, double halfwidth, double share, double value)
{
    tooldiagram_record *r = b.r;
    double y = r->y0 + 0.1 * r->h, width = 2.0 * halfwidth;
    int inward = width > 100.0;
    double out = (r->w - width) * 0.1;
    diagram_widtharrows(b, r->cx - halfwidth, r->cx + halfwidth, y, inward ? share * width : out, inward);
    double tw = diagram_length(b, value);
    diagram_place(b, inward ? r->cx - tw / 2.0 : r->cx + halfwidth + out + 5.0, y - 7.0);
}

// The taper-angle indicator of types 2 and 4: a vertical from the shifted
// flute corner, a line along the taper edge to (tx, ty), the arc between
// them and the angle's read-out left of the corner.
static void diagram_taperangle(diagram_build &b, double t, double g, double f, double tana, double tx, double ty,
                               double angle, double texty)
{
    tooldiagram_record *r = b.r;
    double xl = r->cx - t - g, yc = r->cy - f + 2.0 / tana;
    diagram_line(b, xl, yc, xl, r->cy);
    diagram_line(b, xl, yc, tx, ty);
    diagram_arc(b, xl, yc, f / 2.0, 90.0 - angle, 90.0);
    double tw = diagram_angle(b, angle);
    diagram_place(b, xl - (tw + 5.0), texty);
}

// Type 2: a tip diameter d, a taper angle and a flute length l.
static int diagram_tapered(diagram_build &b, double d, double angle, double l)
{
    tooldiagram_record *r = b.r;
    double a = diagram_radians(angle), tana = tan(a);
    double k = 0.4 * r->w * cos(a) / (l + d / 2.0);
    if (!diagram_goodscale(k))
        return 0;
    double cx = r->cx, cy = r->cy, w = r->w;
    double dt = 2.0 * (d / 2.0 + l * tana);
    double t = (d / 2.0) * k, g = l * tana * k, f = l * k / 2.0;
    double xl = cx - t - g;
    diagram_taperangle(b, t, g, f, tana, xl + g / 2.0, cy + 2.0 / tana, angle, cy - f - 6.0);

    double tip = cy + f;
    diagram_line(b, cx - t, tip + 4.0, cx - t, 0.5 * tip + 0.5 * r->bottom);
    diagram_line(b, cx + t, tip + 4.0, cx + t, 0.5 * tip + 0.5 * r->bottom);
    double ya = 0.6 * tip + 0.4 * r->bottom;
    int inward = t > 50.0;
    double out = (w - t) * 0.1;
    diagram_widtharrows(b, cx - t, cx + t, ya, inward ? 0.4 * t : out, inward);
    double tw = diagram_length(b, d);
    diagram_place(b, inward ? cx - tw / 2.0 : cx + t + out + 5.0, ya - 7.0);

    double xend = r->right - 0.05 * w, xa = r->right - 0.1 * w;
    diagram_line(b, cx + t + g + 4.0, cy - f, xend, cy - f);
    diagram_line(b, cx + t + 4.0, cy + f, xend, cy + f);
    inward = f > t / 2.0;
    double outf = (w - f) * 0.05;
    diagram_heightarrows(b, xa, cy - f, cy + f, inward ? 0.6 * f : outf, inward);
    tw = diagram_length(b, l);
    diagram_place(b, xa - tw / 2.0, inward ? cy - 7.0 : cy - f - outf - 15.0);

    diagram_topdiameter(b, t + g, 0.2, dt);

    diagram_point(b, cx - t - g, r->y0);
    diagram_point(b, cx - t - g, cy - f);
    diagram_point(b, cx - t, cy + f);
    diagram_point(b, cx + t, cy + f);
    diagram_point(b, cx + t + g, cy - f);
    diagram_point(b, cx + t + g, r->y0);
    return 1;
}

// Type 3: a bit diameter d and a bit angle; the flute length follows from
// them as the editor shows it.
static int diagram_vbit(diagram_build &b, double d, double angle)
{
    tooldiagram_record *r = b.r;
    double a = diagram_radians(angle / 2.0), tana = tan(a);
    double lc = (d / 2.0) / tana;
    double k = 0.5 * r->w * cos(a) / (d / 2.0 + lc);
    if (!diagram_goodscale(k))
        return 0;
    double cx = r->cx, cy = r->cy, w = r->w;
    double hw = (d / 2.0) * k, v = k * lc / 2.0, shift = 4.0 / tana;
    double px = cx, py = cy + v - shift;
    diagram_line(b, px, py, cx - hw / 2.0, cy - shift);
    diagram_line(b, px, py, cx + hw / 2.0, cy - shift);
    double half = angle / 2.0;
    diagram_arc(b, px, py, v / 2.0, -90.0 - half, half - 90.0);
    double tw = diagram_angle(b, angle);
    diagram_place(b, cx - trunc(tw / 2.0), cy - shift - 10.0);

    double y = r->y0 + 0.1 * r->h;
    int inward = 2.0 * hw > 100.0;
    double out = (w - 2.0 * hw) * 0.1;
    diagram_widtharrows(b, cx - hw, cx + hw, y, inward ? 0.3 * 2.0 * hw : out, inward);
    tw = diagram_length(b, d);
    diagram_place(b, inward ? cx - tw / 2.0 : cx + hw + out + 5.0, y - 7.0);

    double xend = r->right - 0.1 * w, xa = r->right - 0.2 * w;
    diagram_line(b, cx + hw + 4.0, cy - v, xend, cy - v);
    diagram_line(b, cx + hw + 4.0, cy + v, xend, cy + v);
    inward = v > 0.05 * w;
    double outv = (w - v) * 0.05;
    diagram_heightarrows(b, xa, cy - v, cy + v, inward ? 0.6 * v : outv, inward);
    tw = diagram_length(b, lc);
    diagram_place(b, xa - tw / 2.0, inward ? cy - 7.0 : cy - v - outv - 15.0);

    diagram_point(b, cx - hw, r->y0);
    diagram_point(b, cx - hw, cy - v);
    diagram_point(b, cx, cy + v);
    diagram_point(b, cx + hw, cy - v);
    diagram_point(b, cx + hw, r->y0);
    return 1;
}

// Type 4: a ball of radius rball with the taper tangent to it.
static int diagram_taperedball(diagram_build &b, double rball, double angle, double l)
{
    tooldiagram_record *r = b.r;
    double a = diagram_radians(angle), tana = tan(a), cosa = cos(a), sina = sin(a);
    double k = 0.4 * r->w * cosa / (l + rball * cosa);
    if (!diagram_goodscale(k))
        return 0;
    double cx = r->cx, cy = r->cy, w = r->w;
    double dt = 2.0 * (rball * cosa + (l - rball * (1.0 - sina)) * tana);
    double t = rball * cosa * k, g = (l - rball * (1.0 - sina)) * tana * k, e = rball * (1.0 - sina) * k;
    double f = l * k / 2.0, rb = rball * k;
    double ty = cy + f - e, bcy = cy + f - rb;
    double xl = cx - t - g;
    diagram_taperangle(b, t, g, f, tana, xl + g / 2.0, cy - e / 2.0 + 2.0 / tana, angle, cy - f - 5.0);

    diagram_line(b, cx - t, ty + 8.0, cx - t, 0.5 * ty + 0.5 * r->bottom);
    diagram_line(b, cx + t, ty + 8.0, cx + t, 0.5 * ty + 0.5 * r->bottom);
    diagram_line(b, cx - t, ty, cx + t, ty);
    double ya = 0.6 * ty + 0.4 * r->bottom;
    int inward = t > 50.0;
    double out = (w - t) * 0.1;
    diagram_widtharrows(b, cx - t, cx + t, ya, inward ? 0.4 * t : out, inward);
    double tw = diagram_length(b, 2.0 * rball * cosa);
    diagram_place(b, inward ? cx - tw / 2.0 : cx + t + out + 10.0, ya - 7.0);

    double xend = r->right - 0.1 * w, xa = r->right - 0.15 * w;
    diagram_line(b, cx + t + g + 4.0, cy - f, xend, cy - f);
    diagram_line(b, cx + t / 2.0, cy + f, xend, cy + f);
    inward = f > 0.1 * w;
    double outf = (w - f) * 0.1;
    diagram_heightarrows(b, xa, cy - f, cy + f, inward ? 0.6 * f : outf, inward);
    tw = diagram_length(b, l);
    diagram_place(b, xa - tw / 2.0, inward ? cy - 7.0 : cy - f - outf - 15.0);

    diagram_topdiameter(b, t + g, 0.3, dt);

    diagram_circle(b, cx, bcy, rb, 10.0);
    diagram_line(b, cx, bcy, cx, bcy - rb);
    tw = diagram_text(b, "%.*f%s", b.digits, rball, b.suffix);
    diagram_place(b, cx - tw / 2.0, bcy - rb - 15.0);

    diagram_point(b, cx - t - g, r->y0);
    diagram_point(b, cx - t - g, cy - f);
    diagram_point(b, cx - t, ty);
    for (int j = 1; angle + 5.0 * j < 180.0 - angle; j++) {
        double th = diagram_radians(angle + 5.0 * j);
        diagram_point(b, cx - rb * cos(th), bcy + rb * sin(th));
    }
    diagram_point(b, cx + t, ty);
    diagram_point(b, cx + t + g, cy - f);
    diagram_point(b, cx + t + g, r->y0);
    return 1;
}

static int diagram_finite(const float *v, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (!std::isfinite(v[i]) || fabs(v[i]) > tooldiagram_farthest)
            return 0;
    return 1;
}

// Every number the drawer will queue is finite and on some window.
static int diagram_allfinite(const tooldiagram_record &r)
{
    if (!diagram_finite(&r.points[0][0], 2 * (size_t)r.npoints) ||
        !diagram_finite(&r.lines[0].a[0], 4 * (size_t)r.nlines) ||
        !diagram_finite(&r.arrows[0].a[0], 4 * (size_t)r.narrows) ||
        !diagram_finite(&r.arcs[0].cx, 5 * (size_t)r.narcs) ||
        !diagram_finite(&r.circles[0].cx, 4 * (size_t)r.ncircles))
        return 0;
    for (int i = 0; i < r.ntexts; i++)
        if (!diagram_finite(&r.texts[i].x, 2))
            return 0;
    return 1;
}

// The angles each type can draw: a taper strictly between 0 and 90, a bit
// angle strictly between 0 and 180; outside them the tangent is 0 or
// unbounded.
static int diagram_anglefits(int type, double v)
{
    if (type == 2 || type == 4)
        return v > 0.0 && v < 90.0;
    if (type == 3)
        return v > 0.0 && v < 180.0;
    return 1;
}

void tooldiagram_compute(const tooldiagram_input &in, const gui_rect &cell, int padding,
                         tooldiagram_measurefn measure, tooldiagram_record *out)
{
    memset(out, 0, sizeof(*out));
    out->cell = cell;
    double p = padding;
    out->x0 = (float)(cell.x + p);
    out->y0 = (float)(cell.y + p);
    out->w = (float)(cell.w - 2.0 * p);
    out->h = (float)(cell.h - 2.0 * p);
    out->cx = out->x0 + out->w / 2.0f;
    out->cy = out->y0 + out->h / 2.0f;
    out->bottom = out->y0 + out->h;
    out->right = out->x0 + out->w;
    int metric = in.units == 2;
    diagram_build b = {out, measure, metric ? 1 : 3, metric ? "mm" : "\""};
    double d = in.d, v = in.v, l = in.l;
    if (!std::isfinite(d) || !std::isfinite(v) || !std::isfinite(l) || !diagram_anglefits(in.type, v))
        return;
    int drawn = 0;
    switch (in.type) {
    case 1: drawn = diagram_cylinder(b, d, v, l); break;
    case 2: drawn = diagram_tapered(b, d, v, l); break;
    case 3: drawn = diagram_vbit(b, d, v); break;
    case 4: drawn = diagram_taperedball(b, d, v, l); break;
    default: break;
    }
    if (!drawn || !diagram_allfinite(*out)) {
        out->npoints = out->nlines = out->narrows = out->narcs = out->ncircles = out->ntexts = 0;
        return;
    }
    out->drawn = 1;
}

void tooldiagram_queue(const tooldiagram_record &r)
{
    gui_addbox(r.cell, gui_panelcolour[0], gui_panelcolour[1], gui_panelcolour[2], gui_panelalpha, 0);
    if (!r.drawn)
        return;
    const float *ink = gui_textcolour, a = tooldiagram_inkalpha;
    for (int i = 0; i < r.nlines; i++)
        gui_addline(r.lines[i].a, r.lines[i].b, ink[0], ink[1], ink[2], a);
    for (int i = 0; i < r.narrows; i++)
        gui_addarrow(r.arrows[i].a, r.arrows[i].b, ink[0], ink[1], ink[2], a);
    for (int i = 0; i < r.narcs; i++) {
        const tooldiagram_arc &c = r.arcs[i];
        gui_drawshape(c.cx, c.cy, c.radius, c.start, c.end, ink[0], ink[1], ink[2], a, r.cell);
    }
    for (int i = 0; i < r.ncircles; i++) {
        const tooldiagram_circle &c = r.circles[i];
        gui_addcircle(c.cx, c.cy, c.radius, c.step, ink[0], ink[1], ink[2], a, r.cell);
    }
    for (int i = 0; i < r.ntexts; i++) {
        const tooldiagram_text &t = r.texts[i];
        gui_textitem *item =
            gui_addtext((int)t.x, (int)t.y, tooldiagram_font, 0.0f, ink[0], ink[1], ink[2], t.text, r.cell);
        if (item)
            item->a = a;
    }
    // The outline goes last so that it lies over its own dimension lines.
    gui_vertex strip[tooldiagram_maxpoints];
    float z = gui_itemz();
    const float *hi = gui_hitextcolour;
    for (int i = 0; i < r.npoints; i++)
        strip[i] = {r.points[i][0], r.points[i][1], z, hi[0], hi[1], hi[2], a};
    gui_addverts(tooldiagram_linestrip, r.npoints, strip, 1);
}

static int diagram_measure(const char *text)
{
    return (int)(uint32_t)(font_textsize(tooldiagram_font, "%s", text) & 0xffffffffu);
}

// The middle cell of the row is as tall as the window is tall for its width,
// up to three quarters, so the diagram keeps its shape on wide windows.
static double diagram_rowweight()
{
    double w = sys_drawable[0], h = sys_drawable[1];
    double r = w > 0.0 ? h / w : 0.75;
    return std::isfinite(r) && r > 0.0 ? fmin(r, 0.75) : 0.75;
}

void tooldiagram_panel()
{
    int type = tools_edit.type;
    if (type < 1 || type > 4) {
        gui_popframe(0);
        return;
    }
    gui_rowsector(3, 0.25, diagram_rowweight(), 0.25);
    gui_popframe(0);
    gui_colsector(4, 0.1, (double)tooldiagram_headingheight, 1.0, 0.9);
    gui_popframe(0);
    gui_label(tools_typeicon(type), 1, gui_interfacefont, "%s", tools_typename(type));
    const gui_rect *top = gui_topsector();
    gui_rect cell = top ? *top : gui_rect{};
    gui_popframe(0);
    tooldiagram_input in = {type, tools_edit.flutediameter, tools_edit.value, tools_edit.flutelength,
                            tools_edit.units};
    tooldiagram_record r;
    tooldiagram_compute(in, cell, gui_padding, diagram_measure, &r);
    tooldiagram_queue(r);
    gui_popframe(0);
    gui_popframe(0);
}
