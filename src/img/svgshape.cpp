// The shape traversal of an SVG document and the packed result. Contexts for
// the svg, g, a and switch elements carry the inherited style and transform;
// shape elements collect their subpaths and leave them in document space.
// Building then resolves paints (reading gradients through svgparse.cpp),
// measures every curve's bounds and packs everything into one block.
#include "img/svgshape.h"

#include "sys/mem.h"

#include <svgpp/policy/xml/libxml2.hpp>
#include <svgpp/svgpp.hpp>

#include <climits>
#include <cstdio>

// ----------------------------------------------------------------- contexts

template <class Attribute>
concept svg_paintattribute =
    std::is_same_v<Attribute, svgtag::attribute::fill> || std::is_same_v<Attribute, svgtag::attribute::stroke>;

// Context of the svg, g, a and switch elements: the style and transform that
// children inherit. Shapes extend it.
class svg_group : public svg_context {
public:
    explicit svg_group(svg_doc &d) : doc(d), ctm(svg_identity) {}
    svg_group(svg_group &parent)
        : doc(parent.doc), style(parent.style), ctm(parent.ctm), depth(parent.depth + 1),
          parentopacity(parent.style.opacity)
    {
    }

    void on_exit_element() {}
    const svg_lengths &length_factory() const { return doc.lengths; }
    void transform_matrix(const boost::array<double, 6> &m)
    {
        ctm = svg_multiply(ctm, {m[0], m[1], m[2], m[3], m[4], m[5]});
    }

    // The outermost viewport maps its view box onto the document's size (a
    // missing width or height is the view box's own); its position does not
    // matter because the result is moved to its content. Inner viewports
    // place their content like a transform.
    void set_viewport(double x, double y, double w, double h)
    {
        viewport[0] = w;
        viewport[1] = h;
        if (depth) {
            ctm = svg_multiply(ctm, {1, 0, 0, 1, x, y});
        } else {
            doc.viewport[0] = w;
            doc.viewport[1] = h;
            doc.lengths.set_viewport_size(w, h);
        }
    }
    void set_viewbox_transform(double tx, double ty, double sx, double sy, bool)
    {
        viewbox = {sx, 0, 0, sy, tx, ty};
    }
    void set_viewbox_size(double w, double h)
    {
        if (depth) {
            ctm = svg_multiply(ctm, viewbox);
            return;
        }
        if (!doc.rootwidth || !doc.rootheight) {
            double sx = doc.rootwidth ? viewport[0] / w : 1.0, sy = doc.rootheight ? viewport[1] / h : 1.0;
            viewbox[0] = viewbox[3] = std::min(sx, sy);
        }
        ctm = svg_multiply(ctm, {viewbox[0], 0, 0, viewbox[3], 0, 0});
        doc.viewport[0] = w;
        doc.viewport[1] = h;
        doc.lengths.set_viewport_size(w, h);
    }
    void disable_rendering() { hidden = true; }

    void set(svgtag::attribute::display, svgtag::value::none) { hidden = true; }
    void set(svgtag::attribute::display, svgtag::value::inherit) {}
    template <class Value> void set(svgtag::attribute::display, Value) {}
    void set(svgtag::attribute::visibility, svgtag::value::visible) { style.visible = true; }
    template <class Value> void set(svgtag::attribute::visibility, Value) { style.visible = false; }
    void set(svgtag::attribute::visibility, svgtag::value::inherit) {}

    void set(svgtag::attribute::color, int rgb) { style.color = (uint32_t)rgb; }
    void set(svgtag::attribute::fill_opacity, double v) { style.fillopacity = std::clamp(v, 0.0, 1.0); }
    void set(svgtag::attribute::stroke_opacity, double v) { style.strokeopacity = std::clamp(v, 0.0, 1.0); }
    void set(svgtag::attribute::opacity, double v) { style.opacity = parentopacity * std::clamp(v, 0.0, 1.0); }
    void set(svgtag::attribute::stroke_width, double v) { style.strokewidth = v; }
    void set(svgtag::attribute::stroke_miterlimit, double v) { style.miterlimit = v; }
    void set(svgtag::attribute::fill_rule, svgtag::value::nonzero) { style.fillrule = svg_nonzero; }
    void set(svgtag::attribute::fill_rule, svgtag::value::evenodd) { style.fillrule = svg_evenodd; }
    void set(svgtag::attribute::stroke_linejoin, svgtag::value::miter) { style.linejoin = svg_joinmiter; }
    void set(svgtag::attribute::stroke_linejoin, svgtag::value::round) { style.linejoin = svg_joinround; }
    void set(svgtag::attribute::stroke_linejoin, svgtag::value::bevel) { style.linejoin = svg_joinbevel; }
    void set(svgtag::attribute::stroke_linecap, svgtag::value::butt) { style.linecap = svg_capbutt; }
    void set(svgtag::attribute::stroke_linecap, svgtag::value::round) { style.linecap = svg_capround; }
    void set(svgtag::attribute::stroke_linecap, svgtag::value::square) { style.linecap = svg_capsquare; }
    // Every state is copied from the parent, so "inherit" keeps what is there.
    template <class Attribute> void set(Attribute, svgtag::value::inherit) {}

    void set(svgtag::attribute::fill, svgtag::value::none) { style.fill = svg_rawpaint{}; }
    void set(svgtag::attribute::stroke, svgtag::value::none) { style.stroke = svg_rawpaint{}; }
    void set(svgtag::attribute::fill, svgtag::value::currentColor) { svg_setcurrent(style.fill); }
    void set(svgtag::attribute::stroke, svgtag::value::currentColor) { svg_setcurrent(style.stroke); }
    void set(svgtag::attribute::fill, int rgb, svgtag::skip_icc_color = {}) { svg_setcolor(style.fill, rgb); }
    void set(svgtag::attribute::stroke, int rgb, svgtag::skip_icc_color = {}) { svg_setcolor(style.stroke, rgb); }
    // References: only those inside the document can be followed; a paint
    // written after one is what is drawn when it cannot be.
    template <svg_paintattribute Attribute, class IRI> void set(Attribute, IRI const &)
    {
        svg_paintof(Attribute()) = svg_rawpaint{};
    }
    template <svg_paintattribute Attribute, class IRI>
    void set(Attribute, svgtag::iri_fragment, IRI const &fragment)
    {
        svg_rawpaint &p = svg_paintof(Attribute());
        p = svg_rawpaint{};
        p.iri.assign(boost::begin(fragment), boost::end(fragment));
    }
    template <svg_paintattribute Attribute, class IRI, class Fallback>
    void set(Attribute t, IRI const &, Fallback fallback)
    {
        set(t, fallback);
    }
    template <svg_paintattribute Attribute, class IRI, class Fallback>
    void set(Attribute t, svgtag::iri_fragment, IRI const &fragment, Fallback fallback)
    {
        set(t, fallback);
        svg_paintof(Attribute()).iri.assign(boost::begin(fragment), boost::end(fragment));
    }
    template <svg_paintattribute Attribute, class IRI>
    void set(Attribute t, svgtag::iri_fragment, IRI const &fragment, int rgb, svgtag::skip_icc_color)
    {
        set(t, svgtag::iri_fragment(), fragment, rgb);
    }
    template <svg_paintattribute Attribute, class IRI>
    void set(Attribute t, IRI const &, int rgb, svgtag::skip_icc_color)
    {
        set(t, rgb);
    }

    svg_doc &doc;
    svg_style style;
    svg_matrix ctm;
    int depth = 0;
    bool hidden = false; // display none, or an empty viewport

private:
    double parentopacity = 1;
    double viewport[2] = {0, 0};
    svg_matrix viewbox = svg_identity;

    svg_rawpaint &svg_paintof(svgtag::attribute::fill) { return style.fill; }
    svg_rawpaint &svg_paintof(svgtag::attribute::stroke) { return style.stroke; }
    static void svg_setcurrent(svg_rawpaint &p)
    {
        p = svg_rawpaint{svg_paintcolor, 0, false, {}};
        p.current = true;
    }
    static void svg_setcolor(svg_rawpaint &p, int rgb)
    {
        p = svg_rawpaint{svg_paintcolor, 0, false, {}};
        p.rgb = (uint32_t)rgb & 0xFFFFFF;
    }
};

// Context of a shape element: collects its subpaths in user space and, at
// the element's end, adds the shape to the document in document space.
class svg_shapectx : public svg_group {
public:
    explicit svg_shapectx(svg_group &parent) : svg_group(parent) {}

    void path_move_to(double x, double y, svgtag::coordinate::absolute)
    {
        svg_endsubpath();
        svg_beginsubpath(x, y);
    }
    void path_line_to(double x, double y, svgtag::coordinate::absolute)
    {
        if (!svg_continuesubpath())
            return;
        double px = current->points[current->points.size() - 2], py = current->points.back();
        double dx = (x - px) / 3, dy = (y - py) / 3;
        svg_addcubic(px + dx, py + dy, x - dx, y - dy, x, y);
    }
    void path_cubic_bezier_to(double x1, double y1, double x2, double y2, double x, double y,
                              svgtag::coordinate::absolute)
    {
        if (svg_continuesubpath())
            svg_addcubic(x1, y1, x2, y2, x, y);
    }
    // A closed subpath ends on its start point; drawing that goes on without
    // a move starts a new subpath there.
    void path_close_subpath()
    {
        if (!current)
            return;
        const std::vector<double> &p = current->points;
        double sx = p[0], sy = p[1];
        if (p[p.size() - 2] != sx || p.back() != sy)
            path_line_to(sx, sy, svgtag::coordinate::absolute());
        current->closed = true;
        svg_endsubpath();
        restart = true;
        restartpoint[0] = sx;
        restartpoint[1] = sy;
    }
    void path_exit() { svg_endsubpath(); }

    void on_exit_element();

private:
    std::vector<svg_rawpath> paths;
    svg_rawpath *current = nullptr;
    bool restart = false;
    double restartpoint[2] = {0, 0};

    void svg_beginsubpath(double x, double y)
    {
        restart = false;
        paths.emplace_back();
        current = &paths.back();
        current->points = {x, y};
    }
    bool svg_continuesubpath()
    {
        if (!current && restart)
            svg_beginsubpath(restartpoint[0], restartpoint[1]);
        return current != nullptr;
    }
    // Subpaths without a segment draw nothing and are dropped.
    void svg_endsubpath()
    {
        if (current && current->points.size() < 8)
            paths.pop_back();
        current = nullptr;
    }
    void svg_addcubic(double x1, double y1, double x2, double y2, double x, double y)
    {
        if (doc.points + 3 > svg_maxpoints) {
            doc.overflow = true;
            return;
        }
        doc.points += 3;
        current->points.insert(current->points.end(), {x1, y1, x2, y2, x, y});
    }
};

// ------------------------------------------------------------ curve bounds

// Grows lo..hi by the cubic p0..p3 along one axis, extrema included.
static void svg_cubicrange(double p0, double p1, double p2, double p3, double &lo, double &hi)
{
    auto grow = [&](double v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    };
    grow(p0);
    grow(p3);
    // Roots of the derivative a t^2 + b t + c inside (0, 1).
    double d0 = p1 - p0, d1 = p2 - p1, d2 = p3 - p2;
    double a = d0 - 2 * d1 + d2, b = 2 * (d1 - d0), c = d0;
    double roots[2];
    int n = 0;
    if (std::fabs(a) < 1e-12) {
        if (std::fabs(b) > 1e-12)
            roots[n++] = -c / b;
    } else {
        double disc = b * b - 4 * a * c;
        if (disc >= 0) {
            double s = std::sqrt(disc);
            roots[n++] = (-b + s) / (2 * a);
            roots[n++] = (-b - s) / (2 * a);
        }
    }
    for (int i = 0; i < n; i++) {
        double t = roots[i];
        if (t > 0 && t < 1) {
            double u = 1 - t;
            grow(u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3);
        }
    }
}

// Bounds (min x, min y, max x, max y) of a chain of cubics.
static void svg_pathbounds(const std::vector<double> &p, double *b)
{
    b[0] = b[2] = p[0];
    b[1] = b[3] = p[1];
    for (size_t i = 0; i + 7 < p.size(); i += 6) {
        svg_cubicrange(p[i], p[i + 2], p[i + 4], p[i + 6], b[0], b[2]);
        svg_cubicrange(p[i + 1], p[i + 3], p[i + 5], p[i + 7], b[1], b[3]);
    }
}

static void svg_unionbounds(double *into, const double *b)
{
    into[0] = std::min(into[0], b[0]);
    into[1] = std::min(into[1], b[1]);
    into[2] = std::max(into[2], b[2]);
    into[3] = std::max(into[3], b[3]);
}

void svg_shapectx::on_exit_element()
{
    svg_endsubpath();
    if (hidden || !style.visible || paths.empty())
        return;
    svg_rawshape s;
    s.style = style;
    s.ctm = ctm;
    s.userbox[0] = s.userbox[1] = HUGE_VAL;
    s.userbox[2] = s.userbox[3] = -HUGE_VAL;
    for (svg_rawpath &path : paths) {
        double b[4];
        svg_pathbounds(path.points, b);
        svg_unionbounds(s.userbox, b);
        for (size_t i = 0; i < path.points.size(); i += 2) {
            double x = path.points[i], y = path.points[i + 1];
            path.points[i] = ctm[0] * x + ctm[2] * y + ctm[4];
            path.points[i + 1] = ctm[1] * x + ctm[3] * y + ctm[5];
            if (!(std::fabs(path.points[i]) <= svg_maxcoord && std::fabs(path.points[i + 1]) <= svg_maxcoord))
                doc.absurd = true;
        }
    }
    // Widths scale with the transform's mean scale.
    s.style.strokewidth *= std::sqrt(std::fabs(ctm[0] * ctm[3] - ctm[1] * ctm[2]));
    if (!(s.style.strokewidth >= 0))
        s.style.strokewidth = 0;
    if (s.style.strokewidth > svg_maxcoord)
        doc.absurd = true;
    s.paths = std::move(paths);
    doc.shapes.push_back(std::move(s));
}

// ------------------------------------------------------------- traversal

struct svg_control {
    static bool proceed_to_element_content(svg_group const &c) { return !c.hidden && !c.doc.overflow; }
    static bool proceed_to_next_child(svg_group const &c) { return !c.doc.overflow; }
    template <class XMLElement> static bool process_child(svg_group const &, XMLElement const &) { return true; }
};

struct svg_factories {
    template <class Parent, class Element, class Enable = void> struct apply {
        typedef svgpp::factory::context::on_stack<svg_group> type;
    };
};

template <class Parent, class Element>
struct svg_factories::apply<
    Parent, Element, typename boost::enable_if<boost::mpl::has_key<svgpp::traits::shape_elements, Element>>::type> {
    typedef svgpp::factory::context::on_stack<svg_shapectx> type;
};

typedef boost::mpl::fold<svgpp::traits::shape_elements,
                         boost::mpl::set<svgtag::element::svg, svgtag::element::g, svgtag::element::a,
                                         svgtag::element::switch_>::type,
                         boost::mpl::insert<boost::mpl::_1, boost::mpl::_2>>::type svg_elements;

typedef boost::mpl::set<svgtag::attribute::transform, svgtag::attribute::display, svgtag::attribute::visibility,
                        svgtag::attribute::color, svgtag::attribute::fill, svgtag::attribute::fill_opacity,
                        svgtag::attribute::fill_rule, svgtag::attribute::stroke, svgtag::attribute::stroke_width,
                        svgtag::attribute::stroke_opacity, svgtag::attribute::stroke_linecap,
                        svgtag::attribute::stroke_linejoin, svgtag::attribute::stroke_miterlimit,
                        svgtag::attribute::opacity>::type svg_styleattributes;

typedef boost::mpl::fold<
    boost::mpl::protect<
        boost::mpl::joint_view<svgpp::traits::shapes_attributes_by_element, svgpp::traits::viewport_attributes>>,
    svg_styleattributes, boost::mpl::insert<boost::mpl::_1, boost::mpl::_2>>::type svg_attributes;

typedef svgpp::document_traversal<
    svgpp::context_factories<svg_factories>,
    svgpp::length_policy<svgpp::policy::length::forward_to_method<svg_group, const svg_lengths>>,
    svgpp::processed_elements<svg_elements>, svgpp::processed_attributes<svg_attributes>,
    svgpp::path_policy<svgpp::policy::path::minimal>, svgpp::document_traversal_control_policy<svg_control>,
    svgpp::viewport_policy<svgpp::policy::viewport::calculate>, svgpp::error_policy<svg_errors>>
    svg_traversal;

// ----------------------------------------------------------------- building

// A shape's gradient as it will be stored.
struct svg_gradientbuild {
    svg_matrix xform;
    double coords[5];
    int spread;
    std::vector<svg_stop> stops;
};

struct svg_paintbuild {
    int kind = svg_paintnone;
    uint32_t color = 0;
    int gradient = -1; // index into the built gradients
};

static uint32_t svg_fadestop(uint32_t color, double alpha)
{
    return (color & 0xFFFFFF) | (uint32_t)std::lround((color >> 24) * alpha) << 24;
}

// Geometry, in gradient space, with the defaults of the units.
static void svg_gradientcoords(const svg_doc &doc, const svg_rawgradient &g, bool userspace, double *c)
{
    double w = userspace ? doc.viewport[0] : 1.0, h = userspace ? doc.viewport[1] : 1.0;
    if (!g.radial) {
        c[0] = g.x1.value_or(0);
        c[1] = g.y1.value_or(0);
        c[2] = g.x2.value_or(w);
        c[3] = g.y2.value_or(0);
        c[4] = 0;
        return;
    }
    c[0] = g.cx.value_or(0.5 * w);
    c[1] = g.cy.value_or(0.5 * h);
    c[2] = g.r.value_or(0.5 * std::sqrt((w * w + h * h) / 2));
    c[3] = g.fx.value_or(c[0]);
    c[4] = g.fy.value_or(c[1]);
    // A focal point outside the circle is drawn from the circle's edge.
    double dx = c[3] - c[0], dy = c[4] - c[1], d = std::hypot(dx, dy), limit = c[2] * 0.999;
    if (d > limit) {
        c[3] = c[0] + dx * limit / d;
        c[4] = c[1] + dy * limit / d;
    }
}

// Turns a written paint into what is stored: a gradient that cannot be
// found, has no stops, or spans an empty bounding box, falls back to the
// paint's colour (or none); a single stop paints its colour.
static svg_paintbuild svg_finishpaint(svg_doc &doc, const svg_rawshape &s, const svg_rawpaint &p, double alpha,
                                      std::vector<svg_gradientbuild> &gradients)
{
    svg_paintbuild out;
    if (!p.iri.empty()) {
        std::optional<svg_rawgradient> g = svg_resolvegradient(doc, p.iri);
        bool userspace = g && g->userspace.value_or(false);
        double bw = s.userbox[2] - s.userbox[0], bh = s.userbox[3] - s.userbox[1];
        if (g && g->stops.size() == 1) {
            out.kind = svg_paintcolor;
            out.color = svg_fadestop(g->stops[0].color, alpha);
            return out;
        }
        // Each shape keeps its own copy of the stops; their total is bounded.
        if (g && doc.stops + (int64_t)g->stops.size() > svg_maxstops) {
            doc.manystops = true;
            return out;
        }
        if (g && !g->stops.empty() && (userspace || (bw > 0 && bh > 0))) {
            doc.stops += (int64_t)g->stops.size();
            svg_gradientbuild b;
            svg_matrix box = userspace ? svg_identity : svg_matrix{bw, 0, 0, bh, s.userbox[0], s.userbox[1]};
            b.xform = svg_multiply(svg_multiply(s.ctm, box), g->xform.value_or(svg_identity));
            svg_gradientcoords(doc, *g, userspace, b.coords);
            b.spread = g->spread.value_or(svg_spreadpad);
            for (svg_stop stop : g->stops)
                b.stops.push_back({stop.offset, svg_fadestop(stop.color, alpha)});
            out.kind = g->radial ? svg_paintradial : svg_paintlinear;
            out.gradient = (int)gradients.size();
            gradients.push_back(std::move(b));
            return out;
        }
    }
    if (p.kind == svg_paintcolor) {
        out.kind = svg_paintcolor;
        out.color = svg_rgba(p.current ? s.style.color : p.rgb, alpha);
    }
    return out;
}

// Everything the packed image holds, before packing.
struct svg_build {
    std::vector<svg_paintbuild> fills, strokes;
    std::vector<svg_gradientbuild> gradients;
    std::vector<std::array<double, 4>> shapebounds;
    std::vector<std::array<double, 4>> pathbounds;
    double bounds[4] = {0, 0, 0, 0};
    int64_t paths = 0, stops = 0, points = 0;
};

static void svg_measure(svg_doc &doc, svg_build &b)
{
    bool first = true;
    for (const svg_rawshape &s : doc.shapes) {
        const svg_style &st = s.style;
        b.fills.push_back(svg_finishpaint(doc, s, st.fill, st.fillopacity * st.opacity, b.gradients));
        b.strokes.push_back(svg_finishpaint(doc, s, st.stroke, st.strokeopacity * st.opacity, b.gradients));
        std::array<double, 4> sb;
        for (size_t i = 0; i < s.paths.size(); i++) {
            std::array<double, 4> pb;
            svg_pathbounds(s.paths[i].points, pb.data());
            if (i == 0)
                sb = pb;
            else
                svg_unionbounds(sb.data(), pb.data());
            b.pathbounds.push_back(pb);
        }
        if (first)
            std::copy(sb.begin(), sb.end(), b.bounds);
        else
            svg_unionbounds(b.bounds, sb.data());
        first = false;
        b.shapebounds.push_back(sb);
        b.paths += (int64_t)s.paths.size();
        for (const svg_rawpath &p : s.paths)
            b.points += (int64_t)p.points.size() / 2;
    }
    for (const svg_gradientbuild &g : b.gradients)
        b.stops += (int64_t)g.stops.size();
}

static void svg_copypaint(svg_paint &to, const svg_paintbuild &from, svg_gradient *gradients)
{
    to.kind = from.kind;
    to.color = from.color;
    to.gradient = from.gradient >= 0 ? &gradients[from.gradient] : nullptr;
}

// One block: the image, its shapes, paths, gradients, stops and points, all
// moved by (-ox, -oy).
static svg_image *svg_pack(const svg_doc &doc, const svg_build &b, double ox, double oy)
{
    size_t nshapes = doc.shapes.size(), ngrads = b.gradients.size();
    int64_t bytes = (int64_t)sizeof(svg_image) + (int64_t)(nshapes * sizeof(svg_shape)) +
                    b.paths * (int64_t)sizeof(svg_path) + (int64_t)(ngrads * sizeof(svg_gradient)) +
                    b.stops * (int64_t)sizeof(svg_stop) + b.points * 2 * (int64_t)sizeof(float);
    if (bytes > INT32_MAX)
        return nullptr;
    uint8_t *block = (uint8_t *)sys_calloc(1, (int32_t)bytes);
    if (!block)
        return nullptr;
    svg_image *svg = (svg_image *)block;
    svg->shapes = (svg_shape *)(svg + 1);
    svg_path *paths = (svg_path *)(svg->shapes + nshapes);
    svg_gradient *grads = (svg_gradient *)(paths + b.paths);
    svg_stop *stops = (svg_stop *)(grads + ngrads);
    float *points = (float *)(stops + b.stops);
    svg->shapecount = (int32_t)nshapes;
    svg->width = (float)(b.bounds[2] - b.bounds[0]);
    svg->height = (float)(b.bounds[3] - b.bounds[1]);
    const svg_matrix shift = {1, 0, 0, 1, -ox, -oy};
    for (size_t i = 0; i < ngrads; i++) {
        const svg_gradientbuild &g = b.gradients[i];
        svg_matrix m = svg_multiply(shift, g.xform);
        std::copy(m.begin(), m.end(), grads[i].xform);
        std::copy(g.coords, g.coords + 5, grads[i].coords);
        grads[i].spread = g.spread;
        grads[i].stopcount = (int32_t)g.stops.size();
        grads[i].stops = stops;
        stops = std::copy(g.stops.begin(), g.stops.end(), stops);
    }
    size_t pathindex = 0;
    for (size_t i = 0; i < nshapes; i++) {
        const svg_rawshape &raw = doc.shapes[i];
        svg_shape &s = svg->shapes[i];
        svg_copypaint(s.fill, b.fills[i], grads);
        svg_copypaint(s.stroke, b.strokes[i], grads);
        s.opacity = (float)raw.style.opacity;
        s.strokewidth = (float)raw.style.strokewidth;
        s.miterlimit = (float)raw.style.miterlimit;
        s.fillrule = raw.style.fillrule;
        s.linejoin = raw.style.linejoin;
        s.linecap = raw.style.linecap;
        const double *sb = b.shapebounds[i].data();
        float box[4] = {(float)(sb[0] - ox), (float)(sb[1] - oy), (float)(sb[2] - ox), (float)(sb[3] - oy)};
        std::copy(box, box + 4, s.bounds);
        s.paths = paths;
        s.pathcount = (int32_t)raw.paths.size();
        for (const svg_rawpath &rp : raw.paths) {
            svg_path &p = *paths++;
            const double *pb = b.pathbounds[pathindex++].data();
            float pbox[4] = {(float)(pb[0] - ox), (float)(pb[1] - oy), (float)(pb[2] - ox), (float)(pb[3] - oy)};
            std::copy(pbox, pbox + 4, p.bounds);
            p.points = points;
            p.count = (int32_t)(rp.points.size() / 2);
            p.closed = rp.closed;
            for (size_t k = 0; k < rp.points.size(); k += 2) {
                *points++ = (float)(rp.points[k] - ox);
                *points++ = (float)(rp.points[k + 1] - oy);
            }
        }
    }
    return svg;
}

// ---------------------------------------------------------------- result

// Why a traversed document is refused, or nothing.
static std::string svg_refusal(const svg_doc &doc)
{
    char text[64] = "";
    if (doc.absurd)
        snprintf(text, sizeof(text), "coordinates or widths out of range");
    else if (doc.overflow)
        snprintf(text, sizeof(text), "more than %lld path points", (long long)svg_maxpoints);
    else if (doc.manystops)
        snprintf(text, sizeof(text), "more than %lld gradient stops", (long long)svg_maxstops);
    return text;
}

svg_image *svg_buildshapes(xmlDoc *xml, svg_doc &doc, std::string &why)
{
    svg_build b;
    try {
        svg_group root(doc);
        svg_traversal::load_document(xmlDocGetRootElement(xml), root);
        if (!doc.overflow && !doc.absurd)
            svg_measure(doc, b);
        why = svg_refusal(doc);
        if (!why.empty())
            return nullptr;
    } catch (const std::exception &e) {
        why = e.what();
        return nullptr;
    }
    svg_image *svg = svg_pack(doc, b, b.bounds[0], b.bounds[1]);
    if (!svg)
        why = "no memory for the shapes";
    return svg;
}
