// Labels, read-outs, images and the drop-down head. The drop-down keeps
// nothing of its own: the element model's open id says which one is open.
#include "gui/widgets/labels.h"

#include "gui/drawlist.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/widgets/widget.h"
#include "render/drawstate.h"
#include "render/font.h"

#include <cmath>

static const float labels_white[3] = {1.0f, 1.0f, 1.0f};

static void labels_panelbox(const gui_rect &box, int framed)
{
    gui_addbox(box, gui_panelcolour[0], gui_panelcolour[1], gui_panelcolour[2], gui_panelalpha, framed);
}

// A glyph and a text: in a framed box that is an element, so it takes a
// tooltip (gui_label), or in a bare one that is not (gui_iconlabel).
static void labels_glyph(int framed, int iconcode, int icon, const float glyphrgb[3], int font, const float textrgb[3],
                         const char *fmt, va_list args)
{
    gui_rect sector;
    char text[widget_textmax];
    if (!widget_poptext(&sector, text, fmt, args))
        return;
    gui_rect box = widget_box(sector), area = widget_area(box);
    labels_panelbox(box, framed);
    widget_glyphtext(box, area, widget_iconfont(iconcode, sector.h), (char)(icon & 255), glyphrgb, font, text,
                     textrgb);
    if (framed)
        gui_element(0, box, 0);
}

int gui_label(int icon, int whiteglyph, int font, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    labels_glyph(1, icon, icon, whiteglyph ? labels_white : gui_textcolour, font, gui_textcolour, fmt, args);
    va_end(args);
    return 0;
}

void gui_iconlabel(int icon, int font, const float colour[3], const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    labels_glyph(0, 256, icon, colour, font, colour, fmt, args);
    va_end(args);
}

// Read-outs: a text left at 4 px or centred across.
static void labels_text(int font, int centred, const char *fmt, va_list args)
{
    gui_rect sector;
    char text[widget_textmax];
    if (!widget_poptext(&sector, text, fmt, args))
        return;
    gui_rect box = widget_box(sector), area = widget_area(box);
    labels_panelbox(box, 1);
    widget_text(area, font, centred, text, gui_textcolour);
    gui_element(0, box, 0);
}

int gui_valuetext(int font, int centred, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    labels_text(font, centred, fmt, args);
    va_end(args);
    return 0;
}

int gui_centerlabel(int font, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    labels_text(font, 1, fmt, args);
    va_end(args);
    return 0;
}

// The rectangle of an image in its box. An image with no extent, or an
// area with none, keeps the area rather than dividing by zero.
static gui_rect labels_imagerect(const gui_rect &box, float w, float h, int keepaspect)
{
    if (!keepaspect)
        return {box.x + (box.w - w) / 2.0f, box.y + (box.h - h) / 2.0f, w, h};
    gui_rect a = widget_area(box);
    if (!(w > 0.0f) || !(h > 0.0f) || !(a.w > 0.0f) || !(a.h > 0.0f))
        return a;
    float aspect = h / w, areaaspect = a.h / a.w;
    if (areaaspect > aspect) {
        float ih = aspect * a.w;
        return {a.x, a.y + (a.h - ih) / 2.0f, a.w, ih};
    }
    if (aspect > areaaspect) {
        float iw = a.h / aspect;
        return {a.x + (a.w - iw) / 2.0f, a.y, iw, a.h};
    }
    return a;
}

int gui_image(int texture, float w, float h, const float rgba[4], int keepaspect)
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return 0;
    gui_rect box = widget_box(sector);
    labels_panelbox(box, 0);
    gui_rect r = labels_imagerect(box, w, h, keepaspect);
    gui_addimage(texture, rgba[0], rgba[1], rgba[2], rgba[3], {truncf(r.x), truncf(r.y), truncf(r.w), truncf(r.h)});
    gui_element(0, box, 0);
    return 0;
}

static void labels_dropdownhead(int32_t id, const gui_rect &box, const char *text)
{
    const float *boxrgb = gui_widgetcolour, *textrgb = gui_textcolour;
    if (gui_activeid == id) {
        boxrgb = gui_panelcolour;
        textrgb = gui_hitextcolour;
        gui_cursor = 9;
    } else if (gui_hotid == id) {
        boxrgb = gui_hotcolour;
        textrgb = gui_hitextcolour;
        gui_cursor = 9;
    }
    gui_addbox(box, boxrgb[0], boxrgb[1], boxrgb[2], gui_panelalpha, 1);
    gui_rect area = widget_area(box);
    const char *arrow = gui_openid == id ? "R" : "Q";
    const int arrowfont = font_firsticon + 3;
    float gh = (float)widget_cellheight(arrowfont), th = (float)widget_cellheight(gui_interfacefont);
    float gx = area.x + 4.0f, gy = area.y + truncf((area.h - gh + 1.0f) / 2.0f);
    gui_addtext((int)gx, (int)gy, arrowfont, 0.0f, textrgb[0], textrgb[1], textrgb[2], arrow, area);
    float gw = (float)(uint32_t)font_textsize(arrowfont, "%s", arrow);
    gui_addtext((int)(gx + gw + 5.0f), (int)(area.y + truncf((area.h - th) / 2.0f + 2.0f)), gui_interfacefont, 0.0f,
                textrgb[0], textrgb[1], textrgb[2], text, area);
}

static int labels_dropdown(int32_t id, float x, float w, float h, const char *fmt, va_list args)
{
    gui_rect sector;
    char text[widget_textmax];
    if (!widget_poptext(&sector, text, fmt, args))
        return 0;
    gui_rect box = widget_box(sector);
    labels_dropdownhead(id, box, text);
    const int wasactive = gui_activeid == id, wasopen = gui_openid == id;
    gui_element(id, box, 1);
    if (gui_openid != id)
        return 0;
    // A click on the head of the open list closes it.
    if (wasactive && gui_activeid != id && wasopen) {
        gui_openid = -1;
        return 0;
    }
    gui_dropdownwindow = id;
    gui_beginwindow(id, x, 20.0f, w, h, 0, nullptr);
    if (const gui_rect *r = gui_topsector())
        gui_addbox({r->x - 2.0f, r->y - 2.0f, r->w + 4.0f, r->h + 4.0f}, gui_panelcolour[0], gui_panelcolour[1],
                   gui_panelcolour[2], 1.0f, 0);
    return 1;
}

int gui_dropdown(int32_t id, float x, float y, float w, float h, const char *fmt, ...)
{
    (void)y; // every list hangs 20 px below its head
    va_list args;
    va_start(args, fmt);
    int open = labels_dropdown(id, x, w, h, fmt, args);
    va_end(args);
    return open;
}
