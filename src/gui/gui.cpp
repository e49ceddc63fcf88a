// The GUI frame pass: per-frame reset, the style and its shades, the 2D
// projection, the viewport's read-outs, the main window, and what is drawn
// above every window (guide line, tooltip, presentation aids, console). It
// also starts a finished content-library upload. GL and SDL are reached only
// through the call table.
#include "gui/gui.h"

#include "gui/calls.h"
#include "gui/drawlist.h"
#include "gui/drawstate.h"
#include "gui/element.h"
#include "gui/sector.h"
#include "gui/tutorial.h"
#include "gui/widgets/textfield.h"
#include "img/levels.h"
#include "online/upload.h"
#include "project/gizmo.h"
#include "render/font.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "sys/var.h"
#include "view/readout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

int32_t gui_hotid = -1;
int32_t gui_activeid = -1;
int32_t gui_wheelclaimed = 0;
int32_t gui_fileextensionvar = -1;
char gui_zeros[gui_zeroslength + 1];
float gui_dialogsize[2];
float gui_panelwidths[2];

float gui_textcolour[3];
float gui_hitextcolour[3];
float gui_widgetcolour[3];
float gui_panelcolour[3];
float gui_hotcolour[3];
float gui_presscolour[3];
float gui_accentcolour[3];
float gui_panelalpha;
float gui_shadestep;
int32_t gui_spacing;
int32_t gui_padding;
int32_t gui_borderwidth;

int32_t gui_fps = 0;
int32_t gui_dropdownwindow = -1;
int32_t gui_pressposition[2];
int32_t gui_consoleopen = 0;
int32_t gui_consolescroll = 0;
void (*gui_mainwindowpass)(int fps) = nullptr;

static int32_t gui_framecount = 0;
static double gui_framemark = 0.0;
static int32_t gui_cursorshown = 1;
static char gui_keyoverlay[256];
static int32_t gui_keyoverlaycount = 0;
static double gui_keyoverlaytime = 0.0;

constexpr int gui_consolefont = 14;
constexpr int gui_keysfont = 20;
constexpr int gui_ringfont = 26;
constexpr int gui_passline = 1, gui_passstrip = 3, gui_passfan = 6;

void gui_init()
{
    gui_hotid = gui_activeid = gui_openid = -1;
    gui_wheelclaimed = 0;
    text_editstate.string = nullptr;
    gui_resetfocus();
    gui_fileextensionvar = var_find("FileExtension");
    memset(gui_zeros, '0', gui_zeroslength);
    gui_zeros[gui_zeroslength] = 0;
    gui_dialogsize[0] = 0.2f * (float)sys_drawable[0];
    gui_dialogsize[1] = 0.2f * (float)sys_drawable[1];
    gui_panelwidths[0] = (float)cfg_geti(cfg_leftpanelwidth);
    gui_panelwidths[1] = (float)cfg_geti(cfg_rightpanelwidth);
}

static float gui_clamp01(float v)
{
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

static void gui_readcolour(int offset, float out[3])
{
    for (int i = 0; i < 3; i++)
        out[i] = cfg_getf(offset + 4 * i);
}

void gui_readstyle()
{
    gui_readcolour(cfg_guitextcolour, gui_textcolour);
    gui_readcolour(cfg_guihitextcolour, gui_hitextcolour);
    gui_readcolour(cfg_guiwidgetcolour, gui_widgetcolour);
    gui_readcolour(cfg_guipanelcolour, gui_panelcolour);
    gui_panelalpha = cfg_getf(cfg_guipanelalpha);
    gui_shadestep = cfg_getf(cfg_guishadestep);
    gui_spacing = cfg_geti(cfg_guispacing);
    gui_padding = cfg_geti(cfg_guipadding);
    gui_borderwidth = cfg_geti(cfg_guiborderwidth);
    int font = cfg_geti(cfg_guifont);
    gui_interfacefont = font >= 0 && font < font_maxslots ? font : 0;
    float hsv[3], t = gui_shadestep;
    img_rgbtohsv(hsv, gui_widgetcolour);
    float hot[3] = {hsv[0], gui_clamp01(hsv[1] - t), gui_clamp01(hsv[2] + t)};
    float press[3] = {hsv[0], gui_clamp01(hsv[1] + t / 2.0f), gui_clamp01(hsv[2] - t / 2.0f)};
    img_hsvtorgb(gui_hotcolour, hot);
    img_hsvtorgb(gui_presscolour, press);
    img_rgbtohsv(hsv, gui_hitextcolour);
    hsv[1] = 0.75f;
    hsv[2] = 1.0f;
    img_hsvtorgb(gui_accentcolour, hsv);
}

static void gui_countframe()
{
    double now = sys_time;
    if (now - gui_framemark >= 1.0) {
        gui_fps = gui_framecount;
        gui_framemark = now;
        gui_framecount = 1;
    } else {
        gui_framecount++;
    }
}

static void gui_resetframe()
{
    if (!gui_mouseovergui)
        gui_mousewindow = -1;
    gui_mouseovergui = 0;
    gui_curwindow = 0;
    gui_depth = 0;
    gui_refusedwindows = 0;
    gui_wheelclaimed = 0;
    gui_resetlists();
    gui_elementbeginframe();
}

static int gui_wentup(int key)
{
    return !input_keyframe[key] && input_keyprev[key];
}

// A dragged widget put the pointer in relative mode; any release ends it,
// over an element or not.
static void gui_endcapture()
{
    if (!(gui_wentup(key_mouseleft) || gui_wentup(key_mouseright)) || !input_freezemouse)
        return;
    gui_calls->relativemode(0);
    gui_calls->capture(0);
    input_freezemouse = 0;
}

static void gui_text(int font, float x, float y, float depth, const float rgb[3], float alpha, const char *text,
                     float angle = 0.0f)
{
    float colour[4] = {rgb[0], rgb[1], rgb[2], alpha};
    gui_calls->text(font, (int)x, (int)y, depth, angle, colour, text);
}

static void gui_axislabels()
{
    static const char *const names[3] = {"X", "Y", "Z"};
    static const float colours[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0.75f, 1}};
    float w = (float)sys_drawable[0], h = (float)sys_drawable[1];
    for (int i = 0; i < 3; i++) {
        const view_axisend &a = view_axisends[i];
        if (a.depth > 1.0f)
            continue;
        gui_text(gui_interfacefont, w * a.x - 4.0f, h * a.y - 6.0f, -0.01f * a.depth, colours[i], 1.0f, names[i]);
    }
}

static void gui_measurereadouts()
{
    if (!view_measuretool.on || !view_measuretool.present)
        return;
    static const char *const labels[7] = {"3D", "X", "YZ", "Y", "XZ", "Z", "XY"};
    static const float green[3] = {0.4f, 1.0f, 0.0f};
    int units = cfg_geti(cfg_units);
    int decimals = units == 1 ? 3 : (units == 2 ? 2 : 0);
    const char *suffix = units == 1 ? "\"" : (units == 2 ? "mm" : " ");
    float w = (float)sys_drawable[0], h = (float)sys_drawable[1];
    for (int i = 0; i < 7; i++) {
        float v = view_measuretool.values[i];
        if (v == 0.0f)
            continue;
        char text[96];
        snprintf(text, sizeof(text), "%s %.*f%s", labels[i], decimals, v, suffix);
        gui_text(1, w * view_measuretool.points[i][0] - 40.0f, h * view_measuretool.points[i][1], gui_textstate.depth,
                 green, 1.0f, text);
    }
}

static uint8_t gui_byte(float c)
{
    return (uint8_t)(gui_clamp01(c) * 255.0f);
}

// The line fades in between 300 and 600 px from the element; a wave runs
// along it, shifting each point between the panel and the step colour.
static void gui_guideline()
{
    if (gui_highlightcentre[2] <= 0.0f)
        return;
    float cx = gui_highlightcentre[0], cy = gui_highlightcentre[1];
    gui_highlightcentre[0] = gui_highlightcentre[1] = gui_highlightcentre[2] = 0.0f;
    if (view_gizmodrag[0] || view_gizmodrag[1] || gui_activeid != -1)
        return;
    float mx = (float)input_mouse[0], my = (float)input_mouse[1];
    float length = hypotf(cx - mx, cy - my);
    float fade = gui_clamp01((length - 300.0f) / 300.0f);
    gui_drawvertex v[64];
    for (int i = 0; i < 64; i++) {
        float f = (float)i / 63.0f;
        float phase = 1.5f * (float)sys_time + f * length / 200.0f;
        float m = 0.5f + 0.5f * sinf(2.0f * (float)M_PI * phase);
        float c[3];
        for (int k = 0; k < 3; k++)
            c[k] = gui_panelcolour[k] * (1.0f - m) + gui_hitextcolour[k] * m;
        v[i] = {mx + f * (cx - mx), my + f * (cy - my), 0.0f,
                gui_byte(c[0]), gui_byte(c[1]), gui_byte(c[2]), gui_byte(fade * (0.5f + 0.5f * m))};
    }
    gui_calls->depth(0, 0);
    gui_calls->blend(gui_blendalpha);
    gui_calls->primitive(gui_passstrip, v, 64, 3.5f);
    gui_calls->depth(1, 1);
}

static void gui_setcursor()
{
    if (gui_cursor == gui_cursorshown)
        return;
    gui_calls->cursor(gui_cursor);
    gui_cursorshown = gui_cursor;
}

static void gui_quad(float x0, float y0, float x1, float y1, const float rgb[3], float a)
{
    uint8_t r = gui_byte(rgb[0]), g = gui_byte(rgb[1]), b = gui_byte(rgb[2]), al = gui_byte(a);
    gui_drawvertex v[4] = {{x0, y0, 0, r, g, b, al}, {x1, y0, 0, r, g, b, al}, {x1, y1, 0, r, g, b, al},
                           {x0, y1, 0, r, g, b, al}};
    gui_calls->primitive(gui_passfan, v, 4, 1.0f);
}

// The tooltip text goes to the drawer as text, never as a format: a "%" in
// it is shown, not read as an argument.
static void gui_drawtooltip()
{
    const gui_tooltiprecord &t = gui_tooltipstate;
    if (!t.text[0] || (input_keyframe[key_ctrl] && input_keyframe[key_shift]))
        return;
    float a = 229.0f / 255.0f;
    gui_quad(t.box[0], t.box[1], t.box[2], t.box[3], gui_widgetcolour, a);
    gui_quad(t.box[0] + 1.0f, t.box[1] + 1.0f, t.box[2] - 1.0f, t.box[3] - 1.0f, gui_panelcolour, a);
    gui_text(gui_interfacefont, (float)t.position[0], (float)t.position[1] + 1.0f, 1.0f, gui_hitextcolour, 1.0f,
             t.text);
}

static int gui_heldcount()
{
    int n = 0;
    for (int32_t k : input_held)
        n += k != -1;
    return n;
}

static void gui_buildkeyoverlay()
{
    gui_keyoverlay[0] = 0;
    gui_keyoverlaycount = 0;
    size_t used = 0;
    for (int32_t k : input_held) {
        if (k < 0 || k >= input_keycount)
            continue;
        used += (size_t)snprintf(gui_keyoverlay + used, sizeof(gui_keyoverlay) - used, gui_keyoverlaycount ? " + %s" : "%s",
                                 input_keynames[k]);
        gui_keyoverlaycount++;
        if (used >= sizeof(gui_keyoverlay))
            break;
    }
    gui_keyoverlaytime = sys_time;
}

static void gui_presentation()
{
    if (!cfg_geti(cfg_guishowinputs))
        return;
    int held = gui_heldcount();
    if (held > gui_keyoverlaycount || (held < gui_keyoverlaycount && sys_time - gui_keyoverlaytime >= 0.35))
        gui_buildkeyoverlay();
    if (gui_keyoverlaycount > 0) {
        float tw = (float)(uint32_t)font_textsize(gui_keysfont, "%s", gui_keyoverlay);
        float x = truncf(((float)sys_drawable[0] - tw - 24.0f) / 2.0f), y = (float)sys_drawable[1] - 120.0f;
        static const float black[3] = {0, 0, 0}, blue[3] = {0.5f, 0.9f, 1.0f};
        gui_quad(x, y, x + tw + 24.0f, y + 56.0f, black, 127.0f / 255.0f);
        gui_text(gui_keysfont, x + 12.0f, y + 12.0f, 1.0f, blue, 1.0f, gui_keyoverlay);
    }
    if (gui_cursorshown == 0 || view_gizmodrag[0] || view_gizmodrag[1])
        return;
    float t = (float)sys_time;
    float w1 = fabsf(1.75f * t + 0.5f - roundf(1.75f * t + 0.5f));
    float w2 = fabsf(1.75f * t + 0.25f - roundf(1.75f * t + 0.25f));
    float cell = (float)font_slots[gui_ringfont].metrics.cellheight;
    float x = (float)input_mouse[0] - cell / 2.0f, y = (float)input_mouse[1] - cell / 2.0f;
    float half[3] = {gui_hitextcolour[0] / 2, gui_hitextcolour[1] / 2, gui_hitextcolour[2] / 2};
    float angle = fmodf(100.0f * t, 360.0f);
    char ring[2] = {'*', 0}, ring2[2] = {(char)('*' + 6), 0};
    gui_text(gui_ringfont, x, y, 1.0f, half, w1 + 0.125f, ring, angle);
    gui_text(gui_ringfont, x, y, 1.0f, gui_hitextcolour, w2, ring2, angle);
}

// The console: F1 toggles it; the keys and the wheel scroll it within the
// lines the ring holds. The ring is read under the log's lock, since any
// thread may log while it is drawn.
struct gui_consolelayout {
    int pitch, fit, page, present;
};

static gui_consolelayout gui_consolemeasure()
{
    int cell = font_slots[gui_consolefont].metrics.cellheight;
    int pitch = cell > 1 ? cell - 1 : 12;
    int fit = std::max(1, sys_drawable[1] / pitch);
    int present = (int)std::min<uint32_t>(sys_consolecount, sys_consolelines);
    return {pitch, fit, std::max(1, fit - 1), present};
}

static void gui_consolescrollkeys(const gui_consolelayout &c)
{
    int s = gui_consolescroll;
    if (input_keyframe[key_wheelup] || input_keyframe[key_wheeldown]) {
        int notch = input_keyframe[key_shift] ? c.fit - 3 : 16;
        s += (int)(input_wheel * (float)notch);
    }
    if (input_pressed(85))
        s += 1;
    if (input_pressed(87))
        s -= 1;
    if (input_pressed(81))
        s += c.page;
    if (input_pressed(82))
        s -= c.page;
    if (input_pressed(79))
        s = c.present;
    if (input_pressed(80))
        s = 0;
    gui_consolescroll = std::max(0, std::min(s, c.present - c.page));
}

static void gui_console()
{
    if (input_pressed(57)) {
        gui_consoleopen = !gui_consoleopen;
        gui_consolescroll = 0;
    }
    if (!gui_consoleopen)
        return;
    gui_consolelayout c = gui_consolemeasure();
    gui_consolescrollkeys(c);
    float w = (float)sys_drawable[0], h = (float)sys_drawable[1];
    gui_drawvertex back[4] = {{0, 0, 0, 0, 0, 0, 255}, {w, 0, 0, 0, 0, 0, 127}, {w, h, 0, 0, 0, 0, 127},
                              {0, h, 0, 0, 0, 0, 255}};
    gui_calls->primitive(gui_passfan, back, 4, 1.0f);
    static const float cyan[3] = {0, 1, 1};
    const int f = gui_consolefont;
    float tw = (float)(uint32_t)font_textsize(f, "%s", SYS_TITLE);
    gui_text(f, w - tw, 0.0f, 1.0f, cyan, 1.0f, SYS_TITLE);
    gui_text(f, w - 220.0f, h - 3.0f * c.pitch, 1.0f, cyan, 1.0f, "          PGUP/PGDN, HOME/END");
    gui_text(f, w - 220.0f, h - 2.0f * c.pitch, 1.0f, cyan, 1.0f, "     Scroll = MWHEEL (+SHIFT)");
    gui_text(f, w - 220.0f, h - 1.0f * c.pitch, 1.0f, cyan, 1.0f, "( press F1 to close console )");
    int shown = 0;
    sys_lockmutex(sys_logmutex);
    uint32_t count = sys_consolecount;
    for (int row = 0; row < c.fit && sys_console; row++) {
        int back_ = gui_consolescroll + row;
        if (back_ >= c.present)
            break;
        const char *line = sys_console[(count - 1 - (uint32_t)back_) % sys_consolelines];
        if (line)
            gui_text(f, 5.0f, h - (float)(row + 1) * c.pitch, 1.0f, cyan, 1.0f, line);
        shown = row + 1;
    }
    sys_unlockmutex(sys_logmutex);
    int oldestshown = gui_consolescroll + shown >= c.present;
    gui_text(f, 5.0f, 0.0f, 1.0f, cyan, 1.0f,
             oldestshown ? " * * * * * * * * * * * * * * * * * * [ end ] * * * * * * * * * * * * * * * * * *"
                         : " ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ [ more ] ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^ ^");
    if (gui_consolescroll > 0)
        gui_text(f, 5.0f, h - c.pitch, 1.0f, cyan, 1.0f,
                 " v v v v v v v v v v v v v v v v v v [ more ] v v v v v v v v v v v v v v v v v v");
}

void gui_refresh()
{
    gui_copylatch = 0;
    if (conlib_uploadpending())
        sys_upload();
    gui_countframe();
    gui_readstyle();
    gui_resetframe();
    gui_calls->projection(sys_drawable[0], sys_drawable[1]);
    gui_tooltipstate.text[0] = 0;
    gui_endcapture();
    layer_gizmo();
    gui_axislabels();
    gui_measurereadouts();
    tut_highlightseen = 0;
    gui_dropdownwindow = -1;
    if (gui_mainwindowpass)
        gui_mainwindowpass(gui_fps);
    gui_popupwindow = gui_dropdownwindow;
    if (input_pressed(key_mouseleft)) {
        gui_pressposition[0] = input_mouse[0];
        gui_pressposition[1] = input_mouse[1];
    }
    gui_guideline();
    gui_textstate.depth = 1.0f;
    gui_setcursor();
    gui_calls->blend(gui_blendalpha);
    gui_calls->depth(0, 0);
    gui_drawtooltip();
    gui_presentation();
    gui_cursor = 1;
    gui_console();
    gui_elementendframe();
}

