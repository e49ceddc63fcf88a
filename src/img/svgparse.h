// Internal to the SVG reader (svg.cpp, svgparse.cpp, svgshape.cpp): the
// document as read, before it becomes shapes, and the parsing steps around
// SVG++'s traversals. svgparse.cpp reads the XML once libxml2 is set up,
// checks and prepares the tree and reads gradients; svgshape.cpp traverses
// the shapes.
#pragma once
// SVG++ takes its policies as named template parameters; the shape traversal
// names more of them than Boost.Parameter allows by default. The limit must
// be the same in every unit, before any Boost header.
#define BOOST_PARAMETER_MAX_ARITY 12
#include "img/svg.h"

#include <libxml/tree.h>
#include <svgpp/definitions.hpp>
#include <svgpp/factory/unitless_length.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace svgtag = svgpp::tag;

// x' = a x + c y + e, y' = b x + d y + f, stored a, b, c, d, e, f.
using svg_matrix = std::array<double, 6>;
constexpr svg_matrix svg_identity = {1, 0, 0, 1, 0, 0};

// m after n: n is applied first.
inline svg_matrix svg_multiply(const svg_matrix &m, const svg_matrix &n)
{
    return {m[0] * n[0] + m[2] * n[1], m[1] * n[0] + m[3] * n[1], m[0] * n[2] + m[2] * n[3],
            m[1] * n[2] + m[3] * n[3], m[0] * n[4] + m[2] * n[5] + m[4], m[1] * n[4] + m[3] * n[5] + m[5]};
}

// 0xRRGGBB and an opacity as the stored colour: red in the low byte.
inline uint32_t svg_rgba(uint32_t rgb, double alpha)
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

// What every traversal context shares, so one error policy serves them all.
struct svg_context {};

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

// The XML tree of the text, libxml2 set up by svg_init first; null with the
// parser's reason logged.
xmlDoc *svg_readxml(const char *text, int32_t size);
// Refuses documents nested too deep or with too many elements, gives
// elements written without a namespace the SVG one and notes the gradients
// by id. Returns why the document is refused, or null.
const char *svg_prepare(xmlDoc *xml, svg_doc &doc);
// The gradient with that id, what it leaves unset taken along its chain of
// hrefs; nothing when the document has none.
std::optional<svg_rawgradient> svg_resolvegradient(svg_doc &doc, const std::string &id);
