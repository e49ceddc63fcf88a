// SVG documents: the cubic points of paths, arcs, basic shapes and
// transformed groups; units at a resolution; paints; the picture the image
// loader makes (size, offsets, fill rules, strokes, gradients); real icons
// from Debian packages, documents as drawing programs write them, and
// documents that are damaged or hostile.
#include "img/svg.h"

#include "img/image.h"
#include "img/imagefile.h"

#include "testfolder.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct svgtest_point {
    double x, y;
};

class Svg : public testing::Test {
protected:
    testfolder dir{"svg"};

    std::string write(const std::string &name, const std::string &text)
    {
        std::string path = dir.at(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    svg_image *parse(const std::string &body, float dpi = 96, const std::string &attributes = "")
    {
        return sys_loadSVG(
            write("doc.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" " + attributes + ">" + body + "</svg>").c_str(),
            dpi);
    }
};

svgtest_point svgtest_at(const svg_path &p, int i)
{
    return {p.points[2 * i], p.points[2 * i + 1]};
}

void svgtest_near(svgtest_point got, svgtest_point want, const std::string &what)
{
    EXPECT_NEAR(got.x, want.x, 1e-3) << what;
    EXPECT_NEAR(got.y, want.y, 1e-3) << what;
}

// The segment starting at point i is the straight line from a to b.
void svgtest_line(const svg_path &p, int i, svgtest_point a, svgtest_point b, const std::string &what)
{
    svgtest_near(svgtest_at(p, i), a, what + " start");
    double dx = (b.x - a.x) / 3, dy = (b.y - a.y) / 3;
    svgtest_near(svgtest_at(p, i + 1), {a.x + dx, a.y + dy}, what + " first control");
    svgtest_near(svgtest_at(p, i + 2), {b.x - dx, b.y - dy}, what + " second control");
    svgtest_near(svgtest_at(p, i + 3), b, what + " end");
}

// The segments from point i to point end follow the circle (c, r) from
// angle a0: their ends lie on it, their handles along its tangents, and the
// curves themselves within 2e-4 r of it. Returns the sweep covered
// (positive: towards +y).
double svgtest_arc(const svg_path &p, int i, int end, svgtest_point c, double r, double a0, const std::string &what)
{
    svgtest_near(svgtest_at(p, i), {c.x + r * std::cos(a0), c.y + r * std::sin(a0)}, what + " start");
    double covered = 0;
    for (; i < end; i += 3) {
        svgtest_point q[4];
        for (int k = 0; k < 4; k++)
            q[k] = svgtest_at(p, i + k);
        for (int k : {0, 3}) {
            EXPECT_NEAR(std::hypot(q[k].x - c.x, q[k].y - c.y), r, 1e-3) << what << " end " << i + k;
            svgtest_point handle = k ? svgtest_point{q[2].x - q[3].x, q[2].y - q[3].y}
                                     : svgtest_point{q[1].x - q[0].x, q[1].y - q[0].y};
            double radial = (handle.x * (q[k].x - c.x) + handle.y * (q[k].y - c.y)) / r;
            EXPECT_NEAR(radial, 0, 1e-3) << what << " handle " << i + k;
        }
        for (double t : {0.25, 0.5, 0.75}) {
            double u = 1 - t, w[4] = {u * u * u, 3 * u * u * t, 3 * u * t * t, t * t * t};
            svgtest_point b = {0, 0};
            for (int k = 0; k < 4; k++) {
                b.x += w[k] * q[k].x;
                b.y += w[k] * q[k].y;
            }
            EXPECT_NEAR(std::hypot(b.x - c.x, b.y - c.y), r, 2e-4 * r) << what << " curve " << i << " at " << t;
        }
        double t0 = std::atan2(q[0].y - c.y, q[0].x - c.x), t1 = std::atan2(q[3].y - c.y, q[3].x - c.x);
        covered += std::remainder(t1 - t0, 2 * M_PI);
    }
    return covered;
}

// The RGBA byte at pixel (x, y), channel k.
int svgtest_pixel(const image *img, int x, int y, int k = 0)
{
    return img->pixels[((size_t)y * img->width + x) * 4 + k];
}

} // namespace

TEST_F(Svg, PathsArcsShapesAndGroupsBecomeCubics)
{
    svg_image *svg = parse("<path d='M 10 10 L 30 10 A 10 10 0 0 1 30 30 Z'/>"
                           "<rect x='50' y='5' width='20' height='10'/>"
                           "<circle cx='100' cy='20' r='5'/>"
                           "<g transform='translate(200 0) scale(2)'><path d='M 0 0 h 10 v 5'/></g>");
    ASSERT_NE(svg, nullptr);
    // The drawing is moved so that its extent, (10, 0) to (220, 30), starts at 0.
    EXPECT_FLOAT_EQ(svg->width, 210);
    EXPECT_FLOAT_EQ(svg->height, 30);
    ASSERT_EQ(svg->shapecount, 4);
    const double ox = 10, oy = 0;
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(svg->shapes[i].pathcount, 1) << i;

    const svg_path &arc = svg->shapes[0].paths[0];
    EXPECT_TRUE(arc.closed);
    ASSERT_EQ((arc.count - 1) % 3, 0);
    svgtest_line(arc, 0, {10 - ox, 10 - oy}, {30 - ox, 10 - oy}, "line");
    EXPECT_NEAR(svgtest_arc(arc, 3, arc.count - 4, {30 - ox, 20 - oy}, 10, -M_PI / 2, "arc"), M_PI, 1e-6);
    svgtest_line(arc, arc.count - 4, {30 - ox, 30 - oy}, {10 - ox, 10 - oy}, "closing line");
    // Bounds are those of the curves, which stay within 2e-4 r of the arc.
    const float arcbounds[4] = {0, 10, 30, 30};
    for (int k = 0; k < 4; k++)
        EXPECT_NEAR(svg->shapes[0].bounds[k], arcbounds[k], 2e-3) << k;

    const svg_path &rect = svg->shapes[1].paths[0];
    EXPECT_TRUE(rect.closed);
    ASSERT_EQ(rect.count, 13);
    const svgtest_point corners[5] = {{50, 5}, {70, 5}, {70, 15}, {50, 15}, {50, 5}};
    for (int i = 0; i < 4; i++)
        svgtest_line(rect, 3 * i, {corners[i].x - ox, corners[i].y - oy},
                     {corners[i + 1].x - ox, corners[i + 1].y - oy}, "rect side " + std::to_string(i));

    const svg_path &circle = svg->shapes[2].paths[0];
    EXPECT_TRUE(circle.closed);
    EXPECT_NEAR(svgtest_arc(circle, 0, circle.count - 1, {100 - ox, 20 - oy}, 5, 0, "circle"), 2 * M_PI, 1e-6);

    const svg_path &group = svg->shapes[3].paths[0];
    EXPECT_FALSE(group.closed);
    ASSERT_EQ(group.count, 7);
    svgtest_line(group, 0, {200 - ox, 0 - oy}, {220 - ox, 0 - oy}, "group first");
    svgtest_line(group, 3, {220 - ox, 0 - oy}, {220 - ox, 10 - oy}, "group second");
    nsvg_delete(svg);
}

TEST_F(Svg, PhysicalUnitsFollowTheResolution)
{
    struct Case {
        const char *attributes, *body;
        float dpi, width, height;
    };
    const Case cases[] = {
        {"", "<rect width='40' height='20'/>", 300, 40, 20},
        {"", "<rect width='40px' height='20px'/>", 300, 40, 20},
        {"", "<rect width='1in' height='0.5in'/>", 100, 100, 50},
        {"", "<rect width='25.4mm' height='2.54cm'/>", 50, 50, 50},
        // A view box maps onto the document's physical size.
        {"width='100mm' height='50mm' viewBox='0 0 100 50'", "<rect width='100' height='50'/>", 25.4f, 100, 50},
        {"width='100mm' height='50mm' viewBox='0 0 100 50'", "<rect width='100' height='50'/>", 1, 100 / 25.4f,
         50 / 25.4f},
        {"width='200' height='200' viewBox='0 0 100 50'", "<rect width='100' height='50'/>", 96, 200, 100},
        // Without a size the view box keeps user units.
        {"viewBox='0 0 100 50'", "<rect width='100' height='50'/>", 96, 100, 50},
    };
    testlog_capture log;
    EXPECT_EQ(parse("<rect width='1' height='1'/>", 0), nullptr);
    EXPECT_TRUE(log.contains("sys_loadSVG: resolution 0 out of range"));
    for (const Case &c : cases) {
        svg_image *svg = parse(c.body, c.dpi, c.attributes);
        ASSERT_NE(svg, nullptr) << c.attributes << c.body;
        EXPECT_NEAR(svg->width, c.width, 1e-3) << c.attributes << c.body << " at " << c.dpi;
        EXPECT_NEAR(svg->height, c.height, 1e-3) << c.attributes << c.body << " at " << c.dpi;
        nsvg_delete(svg);
    }
}

TEST_F(Svg, PaintsRulesAndVisibility)
{
    svg_image *svg = parse(
        "<defs><linearGradient id='g'><stop offset='0' stop-color='#000'/>"
        "<stop offset='1' style='stop-color:#fff;stop-opacity:0.5'/></linearGradient>"
        "<rect id='unused' width='5' height='5'/></defs>"
        "<rect width='10' height='10' fill='#ff0000' stroke='blue' stroke-width='3' fill-rule='evenodd'"
        " stroke-linejoin='round' stroke-linecap='square'/>"
        "<rect width='10' height='10' style='fill:none;stroke:#00ff00;stroke-opacity:0.5' "
        "unknown-attribute='x' fill-opacity='nonsense'/>"
        "<g opacity='0.5' fill='url(#g)'><rect width='10' height='10'/></g>"
        "<rect width='10' height='10' fill='url(#missing) #0000ff' color='#123456' stroke='currentColor'/>"
        "<g display='none'><rect width='10' height='10'/></g>"
        "<rect width='10' height='10' visibility='hidden'/>");
    ASSERT_NE(svg, nullptr);
    ASSERT_EQ(svg->shapecount, 4);
    const svg_shape &a = svg->shapes[0];
    EXPECT_EQ(a.fill.kind, svg_paintcolor);
    EXPECT_EQ(a.fill.color, 0xFF0000FFu);
    EXPECT_EQ(a.stroke.kind, svg_paintcolor);
    EXPECT_EQ(a.stroke.color, 0xFFFF0000u);
    EXPECT_FLOAT_EQ(a.strokewidth, 3);
    EXPECT_EQ(a.fillrule, svg_evenodd);
    EXPECT_EQ(a.linejoin, svg_joinround);
    EXPECT_EQ(a.linecap, svg_capsquare);

    const svg_shape &b = svg->shapes[1];
    EXPECT_EQ(b.fill.kind, svg_paintnone);
    EXPECT_EQ(b.stroke.color, 0x8000FF00u);

    const svg_shape &c = svg->shapes[2];
    ASSERT_EQ(c.fill.kind, svg_paintlinear);
    const svg_gradient &g = *c.fill.gradient;
    ASSERT_EQ(g.stopcount, 2);
    EXPECT_EQ(g.stops[0].color, 0x80000000u); // the group's opacity
    EXPECT_EQ(g.stops[1].color, 0x40FFFFFFu);
    EXPECT_FLOAT_EQ(g.stops[1].offset, 1);
    // Bounding-box units: (0, 0)-(1, 0) spans the rectangle.
    EXPECT_FLOAT_EQ(g.coords[2], 1);
    EXPECT_FLOAT_EQ(g.xform[0], 10);
    EXPECT_FLOAT_EQ(g.xform[3], 10);

    const svg_shape &d = svg->shapes[3];
    EXPECT_EQ(d.fill.kind, svg_paintcolor);
    EXPECT_EQ(d.fill.color, 0xFFFF0000u); // the fallback after the missing gradient
    EXPECT_EQ(d.stroke.color, 0xFF563412u);
    nsvg_delete(svg);
}

TEST_F(Svg, PictureIsSizedByTheDrawingWithMargins)
{
    // The content spans 100 x 50 whatever the document's own size says.
    std::string path = write("wide.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='400'>"
                                         "<rect x='10' y='20' width='100' height='50'/></svg>");
    testlog_capture log;
    image *img = img_load(path.c_str(), 0);
    ASSERT_NE(img, nullptr);
    EXPECT_STREQ(img->name, "wide");
    EXPECT_EQ(img->width, 1708);
    EXPECT_EQ(img->height, 854);
    EXPECT_EQ(img->bytesperpixel, 4);
    EXPECT_TRUE(log.contains("svg image detected..."));
    EXPECT_TRUE(log.contains("sys_loadSVG: loaded SVG file, parsing..."));
    EXPECT_TRUE(log.contains("sys_loadSVGimage: size=1708x854"));
    EXPECT_TRUE(log.contains("rasterizing 1708x854 SVG @8,16 x16.45"));
    // Drawn from (8, 16) at 17.0859375 x 822 / 854 per unit, over white.
    double s = 17.0859375 * 822 / 854, right = 8 + 100 * s, bottom = 16 + 50 * s;
    struct Case {
        int x, y, grey;
    };
    const Case cases[] = {
        {5, 400, 255},   {12, 400, 0},   {(int)right - 3, 400, 0}, {(int)right + 3, 400, 255},
        {800, 13, 255},  {800, 20, 0},   {800, (int)bottom - 3, 0}, {800, (int)bottom + 3, 255},
        {1700, 850, 255},
    };
    for (const Case &c : cases) {
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(svgtest_pixel(img, c.x, c.y, k), c.grey) << c.x << "," << c.y;
        EXPECT_EQ(svgtest_pixel(img, c.x, c.y, 3), 255) << c.x << "," << c.y;
    }
    img_free(img);
}

TEST_F(Svg, RulesStrokesAndGradientsReachThePicture)
{
    struct Case {
        const char *body;
        double x, y; // a point of the drawing, in fractions of its extent
        int red, green, blue, tolerance;
    };
    const char *rings = "<path d='M0 0 H100 V100 H0 Z M25 25 H75 V75 H25 Z' fill-rule='%s'/>";
    char evenodd[256], nonzero[256];
    snprintf(evenodd, sizeof(evenodd), rings, "evenodd");
    snprintf(nonzero, sizeof(nonzero), rings, "nonzero");
    const Case cases[] = {
        {evenodd, 0.5, 0.5, 255, 255, 255, 0},
        {evenodd, 0.1, 0.5, 0, 0, 0, 0},
        {nonzero, 0.5, 0.5, 0, 0, 0, 0},
        {"<rect width='100' height='100' fill='none' stroke='#ff0000' stroke-width='10'/>", 0.5, 0.5, 255, 255,
         255, 0},
        {"<rect width='100' height='100' fill='none' stroke='#ff0000' stroke-width='10'/>", 0.0, 0.5, 255, 0, 0, 0},
        {"<rect width='100' height='100' fill='#00f' fill-opacity='0.5'/>", 0.5, 0.5, 128, 128, 255, 1},
        {"<defs><linearGradient id='g'><stop offset='0'/><stop offset='1' stop-color='#fff'/></linearGradient>"
         "</defs><rect width='100' height='100' fill='url(#g)'/>",
         0.5, 0.5, 128, 128, 128, 3},
        {"<defs><linearGradient id='g'><stop offset='0'/><stop offset='1' stop-color='#fff'/></linearGradient>"
         "</defs><rect width='100' height='100' fill='url(#g)'/>",
         0.05, 0.5, 13, 13, 13, 3},
    };
    for (const Case &c : cases) {
        std::string path = write("case.svg", std::string("<svg xmlns='http://www.w3.org/2000/svg'>") + c.body +
                                                 "</svg>");
        image *img = img_load(path.c_str(), 0);
        ASSERT_NE(img, nullptr) << c.body;
        // A square drawing fills the picture inside its 16-pixel margins.
        ASSERT_EQ(img->width, img->height) << c.body;
        int x = (int)(16 + c.x * (img->width - 32)), y = (int)(16 + c.y * (img->height - 32));
        EXPECT_NEAR(svgtest_pixel(img, x, y, 0), c.red, c.tolerance) << c.body << " at " << c.x << "," << c.y;
        EXPECT_NEAR(svgtest_pixel(img, x, y, 1), c.green, c.tolerance) << c.body << " at " << c.x << "," << c.y;
        EXPECT_NEAR(svgtest_pixel(img, x, y, 2), c.blue, c.tolerance) << c.body << " at " << c.x << "," << c.y;
        img_free(img);
    }
}

TEST_F(Svg, IconsFromDebianPackagesLoad)
{
    std::vector<std::string> found;
    for (const char *root : {"/usr/share/icons", "/usr/share/pixmaps"}) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it) && found.size() < 24;
             it.increment(ec))
            if (it->path().extension() == ".svg" && it->is_regular_file())
                found.push_back(it->path().string());
    }
    ASSERT_FALSE(found.empty()) << "no SVG icons: scripts/deps.sh installs zenity, whose GTK brings its icon theme";
    for (const std::string &path : found) {
        testlog_capture log;
        image *img = img_load(path.c_str(), 1);
        ASSERT_NE(img, nullptr) << path << "\n" << log.text();
        int64_t area = (int64_t)img->width * img->height;
        EXPECT_GE(area, 1 << 20) << path;
        EXPECT_LE(area, 1 << 22) << path;
        // Something was drawn: not every pixel is white.
        float lowest = 1;
        for (int64_t i = 0; i < area; i++)
            lowest = std::min(lowest, ((float *)img->pixels)[i]);
        EXPECT_LT(lowest, 0.99f) << path;
        img_free(img);
    }
}

TEST_F(Svg, DocumentsAsDrawingProgramsWriteThemLoad)
{
    struct Case {
        const char *text;
        int shapes;
        float width, height;
        uint32_t fill;
    };
    const Case cases[] = {
        // No namespace, foreign elements, text that is not drawn.
        {"<?xml version='1.0'?>\n<svg width='10' height='10'><metadata><foo:bar xmlns:foo='urn:x'/></metadata>"
         "<g><rect width='4' height='3'/></g><text>skipped</text></svg>",
         1, 4, 3, 0xFF000000u},
        // Namespaces and styles declared as entities of the document.
        {"<?xml version='1.0'?>\n<!DOCTYPE svg PUBLIC '-//W3C//DTD SVG 1.1//EN' "
         "'http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd' [\n<!ENTITY ns_svg 'http://www.w3.org/2000/svg'>\n"
         "<!ENTITY st0 'fill:#FF0000;'>\n]>\n<svg xmlns='&ns_svg;' width='100' height='50' viewBox='0 0 100 50'>"
         "<rect width='100' height='50' style='&st0;'/></svg>",
         1, 100, 50, 0xFF0000FFu},
    };
    for (const Case &c : cases) {
        svg_image *svg = sys_loadSVG(write("program.svg", c.text).c_str(), 96);
        ASSERT_NE(svg, nullptr) << c.text;
        ASSERT_EQ(svg->shapecount, c.shapes) << c.text;
        EXPECT_FLOAT_EQ(svg->width, c.width) << c.text;
        EXPECT_FLOAT_EQ(svg->height, c.height) << c.text;
        EXPECT_EQ(svg->shapes[0].fill.color, c.fill) << c.text;
        nsvg_delete(svg);
    }
}

TEST_F(Svg, DamagedAndHostileDocumentsAreRefused)
{
    std::string deep, deeper, many, points = "<path d='M0 0";
    for (int i = 0; i < 100; i++)
        deep += "<g>";
    deep += "<rect width='1' height='1'/>";
    for (int i = 0; i < 100; i++)
        deep += "</g>";
    for (int i = 0; i < 5000; i++)
        deeper += "<g>";
    for (int i = 0; i < 300000; i++)
        many += "<rect/>";
    for (int i = 0; i < 1400000; i++)
        points += i % 2 ? " L1 1" : " L0 2";
    points += "'/>";
    std::string laughs = "<?xml version='1.0'?><!DOCTYPE svg [<!ENTITY a0 'lol'>";
    for (int i = 1; i < 10; i++) {
        laughs += "<!ENTITY a" + std::to_string(i) + " '";
        for (int k = 0; k < 10; k++)
            laughs += "&a" + std::to_string(i - 1) + ";";
        laughs += "'>";
    }
    laughs += "]><svg xmlns='http://www.w3.org/2000/svg'><rect width='1' height='1' id='&a9;'/></svg>";
    // Every shape keeps its own copy of a gradient's stops.
    std::string stops = "<linearGradient id='g'>";
    for (int i = 0; i < 100; i++)
        stops += "<stop offset='" + std::to_string(i / 100.0) + "'/>";
    stops += "</linearGradient>";
    for (int i = 0; i < 10500; i++)
        stops += "<rect width='1' height='1' fill='url(#g)'/>";
    const std::string open = "<svg xmlns='http://www.w3.org/2000/svg'>", close = "</svg>";
    struct Case {
        std::string text, line;
    };
    const Case cases[] = {
        {"", "sys_loadSVG: failed to load SVG file"},
        {"not xml at all", "sys_loadSVG: Start tag expected"},
        {open + "<path d='M0 0 L10", "sys_loadSVG: "},
        {"<html><body/></html>", "sys_loadSVG: the document is not SVG"},
        {open + deep + close, "sys_loadSVG: elements nested too deep"},
        {open + deeper + close, "sys_loadSVG: "},
        {open + many + close, "sys_loadSVG: too many elements"},
        {open + points + close, "sys_loadSVG: more than 4194304 path points"},
        {open + stops + close, "sys_loadSVG: more than 1048576 gradient stops"},
        {laughs, "sys_loadSVG: Detected an entity reference loop"},
        // Nothing outside the file is read.
        {"<?xml version='1.0'?><!DOCTYPE svg [<!ENTITY p SYSTEM '/etc/passwd'>]>"
         "<svg xmlns='http://www.w3.org/2000/svg'><rect width='1' height='1' id='&p;'/></svg>",
         "sys_loadSVG: Attribute references external entity 'p'"},
        {"<svg xmlns='http://www.w3.org/2000/svg' width='1e40' height='1e40'><rect width='1e38' height='1e38'/>" +
             close,
         "sys_loadSVG: coordinates or widths out of range"},
        {open + "<path d='M0 0 L1e300 1e300'/>" + close, "sys_loadSVG: coordinates or widths out of range"},
        {open + "<rect width='10' height='10' stroke='#000' stroke-width='1e30'/>" + close,
         "sys_loadSVG: coordinates or widths out of range"},
    };
    for (const Case &c : cases) {
        std::string path = write("bad.svg", c.text);
        testlog_capture log;
        EXPECT_EQ(sys_loadSVG(path.c_str(), 96), nullptr) << c.text.substr(0, 80);
        EXPECT_TRUE(log.contains(c.line)) << c.text.substr(0, 80) << "\n" << log.text();
        EXPECT_TRUE(log.contains("[ ERROR ] sys_loadSVG: failed to")) << c.text.substr(0, 80);
    }
    // The image loader gives no picture for them either.
    EXPECT_EQ(img_load(write("deep.svg", open + deep + close).c_str(), 0), nullptr);
}

TEST_F(Svg, DrawingsWithoutAnAreaMakeNoPicture)
{
    struct Case {
        const char *body;
    };
    const Case cases[] = {
        {""},
        {"<path d='M0 0 H100' stroke='#000'/>"},
        {"<rect width='1000' height='0.5'/>"},
    };
    for (const Case &c : cases) {
        std::string path =
            write("flat.svg", std::string("<svg xmlns='http://www.w3.org/2000/svg'>") + c.body + "</svg>");
        svg_image *svg = sys_loadSVG(path.c_str(), 96);
        ASSERT_NE(svg, nullptr) << c.body; // the paths themselves are fine
        nsvg_delete(svg);
        testlog_capture log;
        EXPECT_EQ(img_load(path.c_str(), 0), nullptr) << c.body;
        EXPECT_TRUE(log.contains("sys_loadSVGimage: \"" + path + "\" has no drawable extent")) << c.body;
    }
}
