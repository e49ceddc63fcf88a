// SVG parsing and rasterisation. libxml2 reads the document; a first walk
// bounds its depth and element count, gives elements written without a
// namespace the SVG one and notes the gradients by id. SVG++ then traverses
// it and hands every path, basic shape and arc to us as absolute cubic
// Beziers in the element's user space, which the transforms of the element
// chain carry into document space. Gradients that shapes name are read by a
// second, smaller traversal. The result is packed into one block, moved to
// start at (0, 0); cairo draws it.

// SVG++ takes its policies as named template parameters; the traversal
// below names more of them than Boost.Parameter allows by default.
#define BOOST_PARAMETER_MAX_ARITY 12
#include "img/svg.h"

#include "img/imagefile.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cairo.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <svgpp/policy/xml/libxml2.hpp>
#include <svgpp/svgpp.hpp>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace svgtag = svgpp::tag;

constexpr char svg_namespace[] = "http://www.w3.org/2000/svg";
// Rasterisation: curve flattening tolerance and the shortest segment kept,
// both in picture pixels.
constexpr double svg_tesstolerance = 0.025;
constexpr double svg_disttolerance = 0.01;
constexpr int svg_maxhrefs = 8; // gradient href chain followed at most this far

// x' = a x + c y + e, y' = b x + d y + f, stored a, b, c, d, e, f.
using svg_matrix = std::array<double, 6>;
constexpr svg_matrix svg_identity = {1, 0, 0, 1, 0, 0};

// m after n: n is applied first.
static svg_matrix svg_multiply(const svg_matrix &m, const svg_matrix &n)
{
    return {m[0] * n[0] + m[2] * n[1], m[1] * n[0] + m[3] * n[1], m[0] * n[2] + m[2] * n[3],
            m[1] * n[2] + m[3] * n[3], m[0] * n[4] + m[2] * n[5] + m[4], m[1] * n[4] + m[3] * n[5] + m[5]};
}

// 0xRRGGBB and an opacity as the stored colour: red in the low byte.
static uint32_t svg_rgba(uint32_t rgb, double alpha)
{
    uint32_t a = (uint32_t)std::lround(std::clamp(alpha, 0.0, 1.0) * 255);
    return (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16 | a << 24;
}

// ---------------------------------------------------------------- document

// A paint as written: none, a colour or currentColor, and the id of the
// gradient it names, if any; the colour is drawn when that cannot be found.
struct svg_rawpaint {
    int kind = svg_paintnone; // svg_paintnone or svg_paintcolor
    uint32_t rgb = 0;         // 0xRRGGBB
    bool current = false;
    std::string iri;
};

// Inherited presentation state of an element.
struct svg_style {
    svg_rawpaint fill{svg_paintcolor, 0, false, {}}, stroke{};
    double fillopacity = 1, strokeopacity = 1, opacity = 1;
    double strokewidth = 1, miterlimit = 4;
    int fillrule = svg_nonzero, linejoin = svg_joinmiter, linecap = svg_capbutt;
    uint32_t color = 0; // what currentColor means
    bool visible = true;
};

struct svg_rawpath {
    std::vector<double> points; // x, y pairs: user space while read, then document space
    bool closed = false;
};

struct svg_rawshape {
    svg_style style;
    svg_matrix ctm;       // user space to document space
    double userbox[4];    // bounds in user space, for bounding-box gradients
    std::vector<svg_rawpath> paths;
};

// A gradient element as written; unset fields come from the element its
// href names, then from the defaults.
struct svg_rawgradient {
    bool radial = false;
    std::optional<double> x1, y1, x2, y2, cx, cy, r, fx, fy;
    std::optional<bool> userspace;
    std::optional<svg_matrix> xform;
    std::optional<int> spread;
    std::vector<svg_stop> stops;
    std::string href;
};

using svg_lengths = svgpp::factory::length::unitless<>;

struct svg_doc {
    svg_lengths lengths;
    bool rootwidth = false, rootheight = false; // the root svg gave its size
    double viewport[2] = {0, 0};
    std::vector<svg_rawshape> shapes;
    int64_t points = 0;
    bool overflow = false;  // more points than svg_maxpoints
    bool absurd = false;    // a coordinate or width out of range
    int64_t stops = 0;      // gradient stops given to shapes so far
    bool manystops = false; // more than svg_maxstops
    std::map<std::string, xmlNode *> gradientnodes;
    std::map<std::string, std::optional<svg_rawgradient>> gradients; // read on first use
};

// ----------------------------------------------------------------- contexts

// What every context shares, so one error policy serves them all.
struct svg_context {};

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

// Lenient like a browser: unknown elements, attributes and properties are
// skipped, a value that cannot be parsed is ignored, a shape without its
// required attributes draws nothing.
struct svg_errors {
    typedef svg_context context_type;
    template <class Context, class XMLElement, class Name>
    static bool unknown_element(Context const &, XMLElement const &, Name const &)
    {
        return true;
    }
    template <class Context, class XMLAttribute, class Name, class Namespace>
    static bool unknown_attribute(Context const &, XMLAttribute const &, Name const &, Namespace,
                                  svgtag::source::attribute)
    {
        return true;
    }
    template <class Context, class XMLAttribute, class Name>
    static bool unknown_attribute(Context const &, XMLAttribute const &, Name const &, svgtag::source::css)
    {
        return true;
    }
    template <class Context, class Id, class Source>
    static bool unexpected_attribute(Context const &, Id, Source)
    {
        return true;
    }
    template <class Context, class Attribute> static bool required_attribute_not_found(Context const &, Attribute)
    {
        return true;
    }
    template <class Context, class Attribute, class Value>
    static bool parse_failed(Context const &, Attribute, Value const &)
    {
        return true;
    }
    template <class Context, class XMLElement> static bool unexpected_element(Context const &, XMLElement const &)
    {
        return true;
    }
    template <class Context, class Attribute> static bool negative_value(Context const &, Attribute)
    {
        return true;
    }
};

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

// ---------------------------------------------------------------- gradients

struct svg_afterunits {};

// The gradient element being read; stops add themselves to it.
class svg_gradientctx : public svg_context {
public:
    svg_gradientctx(svg_doc &d, svg_rawgradient &g) : doc(d), grad(g) { lengths.set_viewport_size(1.0, 1.0); }

    void on_exit_element() {}
    const svg_lengths &length_factory() const { return lengths; }
    void transform_matrix(const boost::array<double, 6> &m)
    {
        grad.xform = svg_matrix{m[0], m[1], m[2], m[3], m[4], m[5]};
    }

    void set(svgtag::attribute::gradientUnits, svgtag::value::userSpaceOnUse) { grad.userspace = true; }
    void set(svgtag::attribute::gradientUnits, svgtag::value::objectBoundingBox) { grad.userspace = false; }
    // Percentages are of the bounding box in its units, else of the viewport.
    bool notify(svg_afterunits)
    {
        if (grad.userspace.value_or(false))
            lengths.set_viewport_size(doc.viewport[0], doc.viewport[1]);
        else
            lengths.set_viewport_size(1.0, 1.0);
        return true;
    }
    void set(svgtag::attribute::spreadMethod, svgtag::value::pad) { grad.spread = svg_spreadpad; }
    void set(svgtag::attribute::spreadMethod, svgtag::value::reflect) { grad.spread = svg_spreadreflect; }
    void set(svgtag::attribute::spreadMethod, svgtag::value::repeat) { grad.spread = svg_spreadrepeat; }
    void set(svgtag::attribute::x1, double v) { grad.x1 = v; }
    void set(svgtag::attribute::y1, double v) { grad.y1 = v; }
    void set(svgtag::attribute::x2, double v) { grad.x2 = v; }
    void set(svgtag::attribute::y2, double v) { grad.y2 = v; }
    void set(svgtag::attribute::cx, double v) { grad.cx = v; }
    void set(svgtag::attribute::cy, double v) { grad.cy = v; }
    void set(svgtag::attribute::r, double v) { grad.r = v; }
    void set(svgtag::attribute::fx, double v) { grad.fx = v; }
    void set(svgtag::attribute::fy, double v) { grad.fy = v; }
    template <class IRI> void set(svgtag::attribute::xlink::href, svgtag::iri_fragment, IRI const &fragment)
    {
        grad.href.assign(boost::begin(fragment), boost::end(fragment));
    }
    template <class IRI> void set(svgtag::attribute::xlink::href, IRI const &) {}

    void on_enter_element(svgtag::element::linearGradient) { grad.radial = false; }
    void on_enter_element(svgtag::element::radialGradient) { grad.radial = true; }

    svg_doc &doc;
    svg_rawgradient &grad;

private:
    svg_lengths lengths;
};

class svg_stopctx : public svg_context {
public:
    explicit svg_stopctx(svg_gradientctx &parent) : grad(parent.grad) {}

    void set(svgtag::attribute::offset, double v) { offset = std::clamp(v, 0.0, 1.0); }
    void set(svgtag::attribute::stop_color, int v, svgtag::skip_icc_color = {}) { rgb = (uint32_t)v & 0xFFFFFF; }
    void set(svgtag::attribute::stop_color, svgtag::value::currentColor) {}
    void set(svgtag::attribute::stop_opacity, double v) { opacity = std::clamp(v, 0.0, 1.0); }
    template <class Attribute> void set(Attribute, svgtag::value::inherit) {}

    // Offsets never decrease along the list.
    void on_exit_element()
    {
        if (!grad.stops.empty())
            offset = std::max(offset, (double)grad.stops.back().offset);
        grad.stops.push_back({(float)offset, svg_rgba(rgb, opacity)});
    }

private:
    svg_rawgradient &grad;
    double offset = 0, opacity = 1;
    uint32_t rgb = 0;
};

// The gradient element itself is read into the traversal's own context;
// its stops get one each.
struct svg_gradientfactories {
    template <class Parent, class Element> struct apply {
        typedef svgpp::factory::context::same<svg_gradientctx, Element> type;
    };
};
template <> struct svg_gradientfactories::apply<svg_gradientctx, svgtag::element::stop> {
    typedef svgpp::factory::context::on_stack<svg_stopctx> type;
};

struct svg_gradientorder : svgpp::policy::attribute_traversal::default_policy {
    typedef boost::mpl::if_<
        boost::mpl::has_key<svgpp::traits::gradient_elements, boost::mpl::_1>,
        boost::mpl::vector<svgtag::attribute::gradientUnits, svgpp::notify_context<svg_afterunits>>,
        boost::mpl::empty_sequence>
        get_priority_attributes_by_element;
};

typedef svgpp::document_traversal<
    svgpp::context_factories<svg_gradientfactories>, svgpp::attribute_traversal_policy<svg_gradientorder>,
    svgpp::length_policy<svgpp::policy::length::forward_to_method<svg_gradientctx, const svg_lengths>>,
    svgpp::processed_elements<boost::mpl::set<svgtag::element::linearGradient, svgtag::element::radialGradient,
                                              svgtag::element::stop>::type>,
    svgpp::processed_attributes<boost::mpl::set<
        svgtag::attribute::x1, svgtag::attribute::y1, svgtag::attribute::x2, svgtag::attribute::y2,
        svgtag::attribute::cx, svgtag::attribute::cy, svgtag::attribute::r, svgtag::attribute::fx,
        svgtag::attribute::fy, svgtag::attribute::gradientUnits, svgtag::attribute::gradientTransform,
        svgtag::attribute::spreadMethod, svgtag::attribute::offset, svgtag::attribute::xlink::href,
        boost::mpl::pair<svgtag::element::stop, svgtag::attribute::stop_color>,
        boost::mpl::pair<svgtag::element::stop, svgtag::attribute::stop_opacity>>::type>,
    svgpp::error_policy<svg_errors>>
    svg_gradienttraversal;

// The gradient element with that id as written, read on first use; null
// when the document has none.
static const svg_rawgradient *svg_readgradient(svg_doc &doc, const std::string &id)
{
    auto known = doc.gradients.find(id);
    if (known != doc.gradients.end())
        return known->second ? &*known->second : nullptr;
    std::optional<svg_rawgradient> &slot = doc.gradients[id];
    auto node = doc.gradientnodes.find(id);
    if (node == doc.gradientnodes.end())
        return nullptr;
    svg_rawgradient g;
    svg_gradientctx ctx(doc, g);
    svg_gradienttraversal::load_referenced_element<svgpp::expected_elements<svgpp::traits::gradient_elements>>::load(
        node->second, ctx);
    slot = std::move(g);
    return &*slot;
}

template <class T> static void svg_inherit(std::optional<T> &field, const std::optional<T> &from)
{
    if (!field)
        field = from;
}

// The gradient with what it leaves unset taken along its chain of hrefs
// (cycles end at the chain's length limit).
static std::optional<svg_rawgradient> svg_resolvegradient(svg_doc &doc, const std::string &id)
{
    const svg_rawgradient *link = svg_readgradient(doc, id);
    if (!link)
        return std::nullopt;
    svg_rawgradient g = *link;
    for (int i = 0; i < svg_maxhrefs && !link->href.empty(); i++) {
        link = svg_readgradient(doc, link->href);
        if (!link)
            break;
        for (auto field : {&svg_rawgradient::x1, &svg_rawgradient::y1, &svg_rawgradient::x2, &svg_rawgradient::y2,
                           &svg_rawgradient::cx, &svg_rawgradient::cy, &svg_rawgradient::r, &svg_rawgradient::fx,
                           &svg_rawgradient::fy})
            svg_inherit(g.*field, link->*field);
        svg_inherit(g.userspace, link->userspace);
        svg_inherit(g.xform, link->xform);
        svg_inherit(g.spread, link->spread);
        if (g.stops.empty())
            g.stops = link->stops;
    }
    return g;
}

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

// ------------------------------------------------------------------ parsing

// Walks the element tree before the traversal: refuses documents nested too
// deep or with too many elements, puts elements written without a namespace
// into the SVG one (as other readers do) and notes the gradients by id.
// Returns why the document is refused, or null.
static const char *svg_checktree(xmlNode *node, xmlNs *ns, int depth, int &count, svg_doc &doc)
{
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (++count > svg_maxelements)
            return "too many elements";
        if (depth > svg_maxdepth)
            return "elements nested too deep";
        if (!node->ns)
            xmlSetNs(node, ns);
        const char *name = (const char *)node->name;
        if (!strcmp(name, "linearGradient") || !strcmp(name, "radialGradient")) {
            if (xmlChar *id = xmlGetProp(node, BAD_CAST "id")) {
                doc.gradientnodes.emplace((const char *)id, node);
                xmlFree(id);
            }
        }
        if (const char *why = svg_checktree(node->children, ns, depth + 1, count, doc))
            return why;
    }
    return nullptr;
}

static const char *svg_prepare(xmlDoc *xml, svg_doc &doc)
{
    xmlNode *root = xmlDocGetRootElement(xml);
    if (!root || strcmp((const char *)root->name, "svg") != 0)
        return "the document is not SVG";
    xmlNs *ns = xmlSearchNsByHref(xml, root, BAD_CAST svg_namespace);
    if (!ns)
        ns = xmlNewNs(root, BAD_CAST svg_namespace, nullptr);
    if (!ns)
        return "the document's namespaces cannot be read";
    doc.rootwidth = xmlHasProp(root, BAD_CAST "width") != nullptr;
    doc.rootheight = xmlHasProp(root, BAD_CAST "height") != nullptr;
    int count = 0;
    return svg_checktree(root, ns, 1, count, doc);
}

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

// Traverses the prepared document and packs the result; why it failed goes
// to why.
static svg_image *svg_traverse(xmlDoc *xml, svg_doc &doc, std::string &why)
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
    printf("SVGPARSE: bounds = %f,%f-%f,%f\n", b.bounds[0], b.bounds[1], b.bounds[2], b.bounds[3]);
    svg_image *svg = svg_pack(doc, b, b.bounds[0], b.bounds[1]);
    if (!svg)
        why = "no memory for the shapes";
    return svg;
}

// Entities the document declares itself are expanded (drawing programs
// declare their namespaces that way); nothing outside the file is read.
static xmlParserInputPtr svg_noexternal(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

static svg_image *svg_parse(const char *text, int32_t size, float dpi)
{
    xmlInitParser();
    xmlSetExternalEntityLoader(svg_noexternal);
    xmlDoc *xml = xmlReadMemory(text, size, nullptr, nullptr,
                                XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!xml) {
        const xmlError *e = xmlGetLastError();
        std::string message = e && e->message ? e->message : "not an XML document";
        while (!message.empty() && message.back() == '\n')
            message.pop_back();
        sys_log("sys_loadSVG: %s", message.c_str());
        return nullptr;
    }
    svg_doc doc;
    doc.lengths.set_absolute_units_coefficient(dpi, svgtag::length_units::in());
    std::string why;
    svg_image *svg = nullptr;
    if (const char *refused = svg_prepare(xml, doc))
        why = refused;
    else
        svg = svg_traverse(xml, doc, why);
    xmlFreeDoc(xml);
    if (!svg)
        sys_log("sys_loadSVG: %s", why.c_str());
    return svg;
}

svg_image *sys_loadSVG(const char *path, float dpi)
{
    if (!(dpi > 0 && dpi < 1e6f)) {
        sys_error("sys_loadSVG: resolution %g out of range", dpi);
        return nullptr;
    }
    int32_t size = 0;
    char *text = (char *)file_load(path, &size, 1, img_maxfilebytes);
    if (!text) {
        sys_error("sys_loadSVG: failed to load SVG file");
        return nullptr;
    }
    sys_log("sys_loadSVG: loaded SVG file, parsing...");
    svg_image *svg = svg_parse(text, size - 1, dpi);
    sys_free(text);
    if (!svg)
        sys_error("sys_loadSVG: failed to parse SVG file");
    return svg;
}

void nsvg_delete(svg_image *svg)
{
    sys_free(svg);
}

// -------------------------------------------------------------- rasterising

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

// Draws the shapes at (x, y) scaled by scale over the RGBA pixels (width x
// height, rows packed), which must be opaque. 1 on success.
static int svg_rasterize(const svg_image *svg, float x, float y, float scale, uint8_t *pixels, int width,
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

// ---------------------------------------------------------------- pictures

// The scale k that brings the drawing's area between 2^20 and 2^22 pixels,
// compared as a true number so a huge drawing shrinks instead of wrapping.
// Each step moves the area by at most the window's factor of 4, so the
// search cannot step over it. 0 when no picture of cairo's sizes results.
static int svg_fitarea(double w, double h, double *k, int *pw, int *ph)
{
    if (!(w > 0 && h > 0 && std::isfinite(w * h))) {
        sys_log("sys_loadSVGimage: drawing of %gx%g has no area", w, h);
        return 0;
    }
    double s = 1.0;
    for (;;) {
        double area = std::floor(w * s * h * s);
        sys_debuglog("candidate area = %d, scale = %f", (int)std::min(area, (double)INT_MAX), s);
        if (area >= 1048576.0 && area <= 4194304.0)
            break;
        s *= area > 4194304.0 ? 0.5 : 1.5;
    }
    double fw = w * s, fh = h * s;
    // The margin takes 32 pixels of the shorter side.
    if (std::min(fw, fh) < 33 || std::max(fw, fh) >= 32768) {
        sys_log("sys_loadSVGimage: drawing of %gx%g is too narrow for a picture", w, h);
        return 0;
    }
    *k = s;
    *pw = (int)fw;
    *ph = (int)fh;
    return 1;
}

uint8_t *sys_loadSVGimage(const char *path, float dpi, int *width, int *height)
{
    *width = *height = 0;
    svg_image *svg = sys_loadSVG(path, dpi);
    if (!svg)
        return nullptr;
    double k;
    int w, h;
    if (!svg_fitarea(svg->width, svg->height, &k, &w, &h)) {
        sys_error("sys_loadSVGimage: \"%s\" has no drawable extent", path);
        nsvg_delete(svg);
        return nullptr;
    }
    sys_log("sys_loadSVGimage: size=%dx%d", w, h);
    int32_t bytes = w * h * 4;
    uint8_t *pixels = (uint8_t *)sys_malloc(bytes);
    if (!pixels) {
        sys_error("sys_loadSVGimage: failed to allocate %d byte buffer", bytes);
        nsvg_delete(svg);
        return nullptr;
    }
    memset(pixels, 255, (size_t)bytes);
    // A 16-pixel margin on the shorter side; along the longer side the offset
    // is 16 x shorter / longer.
    double m;
    int xo, yo;
    if (w >= h) {
        m = (h - 32.0) / h;
        xo = (int)((double)h / w * 16);
        yo = 16;
    } else {
        m = (w - 32.0) / w;
        xo = 16;
        yo = (int)((double)w / h * 16);
    }
    double scale = k * m;
    sys_log("rasterizing %dx%d SVG @%d,%d x%2.2f", w, h, xo, yo, scale);
    int ok = svg_rasterize(svg, (float)xo, (float)yo, (float)scale, pixels, w, h);
    nsvg_delete(svg);
    if (!ok) {
        sys_error("sys_loadSVGimage: failed to create rasterizer");
        sys_free(pixels);
        return nullptr;
    }
    *width = w;
    *height = h;
    return pixels;
}
