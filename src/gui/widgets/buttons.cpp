// The clickable members of the widget family. gui_button is the pattern:
// pop, colour by state, box, text, element check, log the click. The glyph
// members share the placement of widget_glyphtext.
#include "gui/widgets/buttons.h"

#include "gui/calls.h"
#include "gui/drawlist.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/widgets/widget.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"

#include <cmath>

static const float buttons_white[3] = {1.0f, 1.0f, 1.0f};

static void buttons_logclick(const char *kind, int32_t id, const gui_rect &b)
{
    sys_log("%s[%d] rect:@%.1f,%.1f %.1fx%.1f", kind, id, b.x, b.y, b.w, b.h);
}

static int buttons_text(int32_t id, int font, int centred, const char *fmt, va_list args)
{
    gui_rect sector;
    char text[widget_textmax];
    if (!widget_poptext(&sector, text, fmt, args))
        return 0;
    widget_colours c = widget_statecolours(id);
    gui_rect box = widget_box(sector), area = widget_area(box);
    gui_addbox(box, c.box[0], c.box[1], c.box[2], gui_panelalpha, 1);
    widget_text(area, font, centred, text, c.text);
    if (!gui_element(id, box, 0))
        return 0;
    buttons_logclick("button", id, box);
    return 1;
}

int gui_button(int32_t id, int font, int centred, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int clicked = buttons_text(id, font, centred, fmt, args);
    va_end(args);
    return clicked;
}

// Icon button, icon button with a white glyph and radio button: a glyph, an
// optional text, a click with its log line.
static int buttons_glyphclick(const char *kind, int32_t id, const gui_rect &sector, int iconfont, char glyph,
                              int white, int font, const char *text)
{
    widget_colours c = widget_statecolours(id);
    gui_rect box = widget_box(sector), area = widget_area(box);
    gui_addbox(box, c.box[0], c.box[1], c.box[2], gui_panelalpha, 1);
    widget_glyphtext(box, area, iconfont, glyph, white ? buttons_white : c.text, font, text, c.text);
    if (!gui_element(id, box, 0))
        return 0;
    if (kind)
        buttons_logclick(kind, id, box);
    return 1;
}

// The glyph of an icon code (its font chosen by the code and the sector's
// height) beside a formatted text.
static int buttons_glyph(const char *kind, int32_t id, int iconcode, char glyph, int white, int font, const char *fmt,
                         va_list args)
{
    gui_rect sector;
    char text[widget_textmax];
    if (!widget_poptext(&sector, text, fmt, args))
        return 0;
    return buttons_glyphclick(kind, id, sector, widget_iconfont(iconcode, sector.h), glyph, white, font, text);
}

int gui_iconbutton(int32_t id, int icon, int ignored, int font, const char *fmt, ...)
{
    (void)ignored;
    va_list args;
    va_start(args, fmt);
    int clicked = buttons_glyph("iconbutton", id, icon, (char)(icon & 255), 0, font, fmt, args);
    va_end(args);
    return clicked;
}

int gui_iconbuttonrect(int32_t id, int icon, int whiteglyph, int font, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int clicked = buttons_glyph("iconbutton", id, icon, (char)(icon & 255), whiteglyph, font, fmt, args);
    va_end(args);
    return clicked;
}

int gui_radiobutton(int32_t id, int selected, int font, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int clicked = buttons_glyph("radiobutton", id, 0, selected ? '|' : '}', 0, font, fmt, args);
    va_end(args);
    return clicked;
}

int gui_checkbox(int32_t id, int value, const char *label)
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return value;
    if (buttons_glyphclick(nullptr, id, sector, font_firsticon, value ? 'z' : '{', 0, gui_interfacefont, label))
        return value ? 0 : 1;
    return value;
}

int gui_rgbbutton(int32_t id, const float rgb[3])
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return 0;
    widget_colours c = widget_statecolours(id);
    gui_rect box = widget_box(sector);
    gui_addbox(box, c.box[0], c.box[1], c.box[2], gui_panelalpha, 1);
    float inset = (float)gui_padding + 2.0f;
    gui_addbox({box.x + inset, box.y + inset, box.w - 2.0f * inset, box.h - 2.0f * inset}, rgb[0], rgb[1], rgb[2],
               1.0f, 0);
    if (!gui_element(id, box, 0))
        return 0;
    buttons_logclick("rgbbutton", id, box);
    return 1;
}

// The tooltip is set only when a cell is there to take it: a tooltip left
// over would show on the next element.
static int buttons_messagebutton(int32_t id, int icon, int white, const char *tip, const char *caption,
                                 int boxicon, const char *text)
{
    if (!gui_topsector())
        return 0;
    gui_tooltip("%s", tip);
    if (!gui_iconbuttonrect(id, icon, white, gui_interfacefont, nullptr))
        return 0;
    return gui_calls->messagebox(caption, text ? text : "", 0, boxicon, 0);
}

int gui_infobutton(int32_t id, const char *text)
{
    return buttons_messagebutton(id, 96, 0, "Info: Click me for usage information, tips, and tricks!",
                                 "Usage Information", 3, text);
}

int gui_alertbutton(int32_t id, const char *text)
{
    return buttons_messagebutton(id, 386, 1, "Alert! Click for more information.", "Alert", 4, text);
}

// The dialog follows the pointer at the offset of the press. The lower
// bounds are applied last: a window smaller than the dialog keeps the
// dialog's left and top edges on screen.
static void buttons_dragdialog(int32_t id, const gui_rect &sector)
{
    static float grab[2];
    float mx = (float)input_mouse[0], my = (float)input_mouse[1];
    if (gui_activeid == id) {
        float x = fminf(mx + grab[0], (float)sys_drawable[0] - gui_dialogsize[0] - 2.0f);
        float y = fminf(my + grab[1], (float)sys_drawable[1] - sector.h);
        gui_dialogpos[0] = fmaxf(x, 2.0f);
        gui_dialogpos[1] = fmaxf(y, 2.0f);
    } else if (gui_hotid == id && input_keyframe[key_mouseleft]) {
        grab[0] = gui_dialogpos[0] - mx;
        grab[1] = gui_dialogpos[1] - my;
    }
}

static int buttons_dialoghead(int32_t id, int icon, int font, const char *fmt, va_list args)
{
    gui_rect sector;
    char text[widget_textmax];
    if (!widget_poptext(&sector, text, fmt, args))
        return 0;
    buttons_dragdialog(id, sector);
    widget_colours c = widget_statecolours(id);
    gui_rect box = widget_box(sector), area = widget_area(box);
    gui_addbox(box, c.box[0], c.box[1], c.box[2], gui_panelalpha, 1);
    int iconfont = icon >= 768 ? font_firsticon : widget_iconfont(icon, sector.h);
    const char glyph[2] = {(char)(icon & 255), 0};
    float gh = (float)widget_cellheight(iconfont), th = (float)widget_cellheight(font);
    gui_addtext((int)(area.x + 2.0f), (int)(area.y + (area.h - gh) / 2.0f), iconfont, 0.0f, c.text[0], c.text[1],
                c.text[2], glyph, area);
    float tx = box.x + (float)gui_padding + sector.h + 3.0f;
    float ty = area.y + fmaxf(0.0f, truncf((box.h - th) / 2.0f));
    gui_addtext((int)tx, (int)ty, font, 0.0f, c.text[0], c.text[1], c.text[2], text, area);
    return gui_element(id, box, 0);
}

int gui_glyphbutton(int32_t id, int icon, int ignored, int font, const char *fmt, ...)
{
    (void)ignored;
    va_list args;
    va_start(args, fmt);
    int pressed = buttons_dialoghead(id, icon, font, fmt, args);
    va_end(args);
    return pressed;
}
