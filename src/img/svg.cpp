// SVG documents for the rest of the program. libxml2 reads the document and a
// first walk bounds and prepares it (svgparse.cpp); SVG++ then traverses its
// shapes into absolute cubic Beziers in document space, which are packed
// into one block moved to start at (0, 0) (svgshape.cpp); cairo draws them
// into the picture the image loader takes (svgraster.cpp). Only
// svgparse.cpp and svgshape.cpp instantiate SVG++'s templates.
#include "img/svg.h"

#include "img/imagefile.h"
#include "img/svgparse.h"
#include "img/svgraster.h"
#include "img/svgshape.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <climits>
#include <cstring>

// ------------------------------------------------------------------ parsing

static svg_image *svg_parse(const char *text, int32_t size, float dpi)
{
    xmlDoc *xml = svg_readxml(text, size);
    if (!xml)
        return nullptr;
    svg_doc doc;
    doc.lengths.set_absolute_units_coefficient(dpi, svgtag::length_units::in());
    std::string why;
    svg_image *svg = nullptr;
    if (const char *refused = svg_prepare(xml, doc))
        why = refused;
    else
        svg = svg_buildshapes(xml, doc, why);
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
