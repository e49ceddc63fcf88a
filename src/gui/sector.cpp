// Sector layout and windows. Splits replace the top sector by its cells,
// pushed in reverse so widgets pop them in reading order; a window records
// the stack and list counts of its begin for its end to restore.
#include "gui/sector.h"

#include "gui/drawlist.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/tutorial.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

gui_rect gui_sectors[gui_maxsectors];
int32_t gui_sectorcount = 0;
int32_t gui_depth = 0;
gui_windowrecord gui_window[gui_maxwindows];
int32_t gui_curwindow = 0;
int32_t gui_mousewindow = -1;
int32_t gui_mouseovergui = 0;
int32_t gui_popupwindow = -1;
float gui_dialogpos[2];
int32_t gui_refusedwindows = 0;

const gui_rect *gui_topsector()
{
    return gui_sectorcount > 0 ? &gui_sectors[gui_sectorcount - 1] : nullptr;
}

struct sector_sizes {
    float size[gui_maxsectors];
    int n;
    float pixels, weights;
};

// Sizes above 1 and exactly 0 are pixels, the rest weights. The pixel total
// drops its fraction at every step.
static void sector_readsizes(sector_sizes &s, int n, va_list args)
{
    s.n = n;
    s.pixels = s.weights = 0.0f;
    for (int i = 0; i < n; i++) {
        float v = (float)va_arg(args, double);
        if (i < gui_maxsectors)
            s.size[i] = v;
        if (v > 1.0f || v == 0.0f)
            s.pixels = truncf(s.pixels + v);
        else
            s.weights += v;
    }
}

static int sector_ispixels(float v)
{
    return v > 1.0f || v == 0.0f;
}

// The count a split leaves; past the stack's capacity nothing is stored.
static int sector_room(int n, const char *message)
{
    int after = gui_sectorcount - 1 + n;
    if (after >= gui_maxsectors)
        printf(message, after);
    return after <= gui_maxsectors;
}

// Replaces the top sector by n cells: side by side across it (a row) or
// stacked down it (a column). A row's cells share its width and none is
// wider than the whole; a column grows to hold its pixel sizes.
static void sector_split(int n, va_list args, int across)
{
    if (gui_sectorcount <= 0 || n < 1)
        return;
    if (!sector_room(n, across ? "!!! gui rowsectors overflow (%d) !!!\n" : "!!! gui colsectors overflow (%d) !!!\n"))
        return;
    sector_sizes s;
    sector_readsizes(s, n, args);
    int base = gui_sectorcount - 1;
    gui_rect r = gui_sectors[base];
    float extent = across ? r.w : fmaxf(s.pixels, r.h);
    float end = (across ? r.x : r.y) + extent;
    for (int i = n - 1; i >= 0; i--) {
        float v = s.size[i];
        float len = sector_ispixels(v) ? v : v * (extent - s.pixels) / s.weights;
        if (across && len > extent)
            len = extent;
        end -= len;
        gui_sectors[base + (n - 1 - i)] = across ? gui_rect{end, r.y, len, r.h} : gui_rect{r.x, end, r.w, len};
    }
    gui_sectorcount = base + n;
}

void gui_rowsector(int n, ...)
{
    va_list args;
    va_start(args, n);
    sector_split(n, args, 1);
    va_end(args);
}

void gui_colsector(int n, ...)
{
    va_list args;
    va_start(args, n);
    sector_split(n, args, 0);
    va_end(args);
}

void gui_popframe(int flag)
{
    if (gui_sectorcount <= 0)
        return;
    const gui_rect r = gui_sectors[--gui_sectorcount];
    if (!flag)
        return;
    float b = (float)gui_spacing;
    gui_addbox({r.x + b, r.y + b, r.w - b, r.h - b}, gui_panelcolour[0], gui_panelcolour[1], gui_panelcolour[2],
               gui_panelalpha, 0);
}

void gui_popsector()
{
    gui_popframe(1);
}

// Screen rectangles take values up to 1 as fractions of the window; others
// sit relative to the cell just popped (the widget that opens the window).
static gui_rect sector_windowrect(float x, float y, float w, float h, int screen)
{
    float sw = (float)sys_drawable[0], sh = (float)sys_drawable[1];
    if (screen) {
        return {truncf(x <= 1.0f ? x * sw : x), truncf(y <= 1.0f ? y * sh : y), truncf(w <= 1.0f ? w * sw : w),
                truncf(h <= 1.0f ? h * sh : h)};
    }
    gui_rect below = gui_sectorcount < gui_maxsectors ? gui_sectors[gui_sectorcount] : gui_rect{};
    float rx = (x > 0.0f && x <= 1.0f ? x * sw : x) + below.x;
    float ry = (y <= 1.0f ? y * sh : y) + below.y;
    float rw = w <= 1.0f ? w * below.w : w;
    float rh = h <= 1.0f ? h * below.h : h;
    return {truncf(rx), truncf(ry), truncf(rw), truncf(rh)};
}

static void sector_pointertest(int32_t id, const gui_rect &r)
{
    float mx = (float)input_mouse[0], my = (float)input_mouse[1];
    if (mx >= r.x && mx <= r.x + r.w && my >= r.y && my <= r.y + r.h) {
        gui_mousewindow = id;
        gui_mouseovergui = 1;
        return;
    }
    if (input_pressed(key_mouseleft) && gui_popupwindow == id && gui_activeid != id)
        gui_openid = -1;
    if (gui_mousewindow == id)
        gui_mousewindow = -1;
}

void gui_beginwindow(int32_t id, float x, float y, float w, float h, int screen, const float *backdrop)
{
    if (gui_depth >= gui_maxwindows || gui_refusedwindows > 0 || gui_sectorcount >= gui_maxsectors) {
        sys_log("gui_beginwindow: window %d refused, %d levels in use", id, gui_depth);
        gui_refusedwindows++;
        return;
    }
    gui_rect r = sector_windowrect(x, y, w, h, screen);
    sector_pointertest(id, r);
    gui_windowrecord &rec = gui_window[gui_depth];
    rec = {gui_curwindow, gui_sectorcount, gui_counts.verts, gui_counts.draws, gui_counts.images, gui_counts.texts,
           gui_counts.chars, r};
    gui_depth++;
    gui_curwindow = id;
    gui_sectors[gui_sectorcount++] = r;
    if (backdrop) {
        gui_zbase -= 0.005f;
        gui_addbox({0.0f, 0.0f, (float)sys_drawable[0], (float)sys_drawable[1]}, backdrop[0], backdrop[1], backdrop[2],
                   0.2f, 0);
        gui_zbase += 0.005f;
    }
    tut_hit = 0;
}

void gui_endwindow()
{
    if (gui_refusedwindows > 0) {
        gui_refusedwindows--;
        return;
    }
    if (gui_depth <= 0)
        return;
    if (const gui_rect *top = gui_topsector())
        gui_dialogsize[1] = top->y + top->h - gui_dialogpos[1];
    gui_end();
}
