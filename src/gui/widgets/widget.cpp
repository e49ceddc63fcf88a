// Shared pieces of the widget family; see widget.h.
#include "gui/widgets/widget.h"

#include "gui/drawlist.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "render/font.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <locale.h>

int widget_popsector(gui_rect *sector)
{
    const gui_rect *top = gui_topsector();
    if (!top)
        return 0;
    *sector = *top;
    gui_popframe(0);
    return 1;
}

gui_rect widget_box(const gui_rect &s)
{
    float sp = (float)gui_spacing;
    return {s.x + sp, s.y + sp, s.w - sp, s.h - sp};
}

gui_rect widget_area(const gui_rect &b)
{
    float p = (float)gui_padding;
    return {b.x + p, b.y + p, b.w - 2.0f * p, b.h - 2.0f * p};
}

widget_colours widget_statecolours(int32_t id)
{
    if (id > 0 && gui_activeid == id) {
        gui_cursor = 9;
        return {gui_presscolour, gui_hitextcolour};
    }
    if (id > 0 && gui_hotid == id) {
        gui_cursor = 9;
        return {gui_hotcolour, gui_hitextcolour};
    }
    return {gui_widgetcolour, gui_textcolour};
}

int widget_iconfont(int icon, float h)
{
    int family = icon < 256 ? 0 : (icon < 512 ? 1 : 2);
    int size = h > 64.0f ? 2 : (h > 32.0f ? 1 : 0);
    return font_firsticon + 3 * family + size;
}

int widget_cellheight(int font)
{
    if (font < 0 || font >= font_loaded)
        return 0;
    return font_slots[font].metrics.cellheight;
}

// The desktop's locale may write a decimal comma; values shown to the user
// and read back by the expression input use the point.
const char *widget_vformat(char *out, const char *fmt, va_list args)
{
    out[0] = 0;
    if (!fmt)
        return nullptr;
    static locale_t clocale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    locale_t previous = clocale ? uselocale(clocale) : (locale_t)0;
    vsnprintf(out, widget_textmax, fmt, args);
    if (previous)
        uselocale(previous);
    return out;
}

const char *widget_format(char *out, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const char *r = widget_vformat(out, fmt, args);
    va_end(args);
    return r;
}

int widget_poptext(gui_rect *sector, char *text, const char *fmt, va_list args)
{
    if (!widget_popsector(sector))
        return 0;
    widget_vformat(text, fmt, args);
    return 1;
}

void widget_text(const gui_rect &area, int font, int centred, const char *text, const float rgb[3])
{
    if (!text[0])
        return;
    uint64_t size = font_textsize(font, "%s", text);
    float w = (float)(uint32_t)size, h = (float)(size >> 32);
    float x = area.x + (centred ? truncf((area.w - w) / 2.0f) : 4.0f);
    float y = area.y + truncf((area.h - h) / 2.0f + 1.0f);
    gui_addtext((int)x, (int)y, font, 0.0f, rgb[0], rgb[1], rgb[2], text, area);
}

void widget_glyphtext(const gui_rect &box, const gui_rect &area, int iconfont, char glyph, const float g[3], int font,
                      const char *text, const float t[3])
{
    const char glyphtext[2] = {glyph, 0};
    float gh = (float)widget_cellheight(iconfont);
    if (!text || !text[0]) {
        gui_addtext((int)(box.x + (box.w - gh) / 2.0f), (int)(box.y + (box.h - gh) / 2.0f), iconfont, 0.0f, g[0], g[1],
                    g[2], glyphtext, area);
        return;
    }
    float gx = area.x + 4.0f;
    float gy = area.y + truncf((area.h - gh + 1.0f) / 2.0f);
    gui_addtext((int)gx, (int)gy, iconfont, 0.0f, g[0], g[1], g[2], glyphtext, area);
    float th = (float)widget_cellheight(font);
    float tx = gx + gh + 2.0f * (float)gui_padding + 3.0f;
    float ty = area.y + truncf((area.h - th) / 2.0f + 2.0f);
    gui_addtext((int)tx, (int)ty, font, 0.0f, t[0], t[1], t[2], text, area);
}
