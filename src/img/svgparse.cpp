// SVG documents as libxml2 reads them: the process-wide parser set-up, the
// reading itself, a first walk that bounds the tree and prepares it for
// SVG++, and the gradients, which a small traversal of its own reads when a
// shape first names them.
#include "img/svgparse.h"

#include "sys/log.h"

#include <libxml/parser.h>
#include <svgpp/policy/xml/libxml2.hpp>
#include <svgpp/svgpp.hpp>

#include <cstring>
#include <mutex>

constexpr char svg_namespace[] = "http://www.w3.org/2000/svg";
constexpr int svg_maxhrefs = 8; // gradient href chain followed at most this far

// ----------------------------------------------------------------- set-up

// Entities the document declares itself are expanded (drawing programs
// declare their namespaces that way); nothing outside the file is read.
static xmlParserInputPtr svg_noexternal(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

// The loader is one global of the library: set while loads may already run
// on workers, it would race with their parses, so it is set once.
void svg_init()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(svg_noexternal);
    });
}

xmlDoc *svg_readxml(const char *text, int32_t size)
{
    svg_init();
    xmlDoc *xml = xmlReadMemory(text, size, nullptr, nullptr,
                                XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!xml) {
        const xmlError *e = xmlGetLastError();
        std::string message = e && e->message ? e->message : "not an XML document";
        while (!message.empty() && message.back() == '\n')
            message.pop_back();
        sys_log("sys_loadSVG: %s", message.c_str());
    }
    return xml;
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

const char *svg_prepare(xmlDoc *xml, svg_doc &doc)
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

// Cycles end at the chain's length limit.
std::optional<svg_rawgradient> svg_resolvegradient(svg_doc &doc, const std::string &id)
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
