// The status strip. Workers set the status text too, so it is copied under
// its mutex before it is drawn; the blink runs on the clock the text was
// stamped with.
#include "mainwindow/statusline.h"

#include "gui/drawlist.h"
#include "render/drawstate.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/widget.h"
#include "project/project.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "view/readout.h"

#include <cmath>
#include <cstdio>
#include <cstring>

constexpr uint64_t statusline_gbfrom = 536870912; // 512 MiB
constexpr float statusline_blinktime = 0.8f;

void statusline_memtext(char *out, int cap, uint64_t bytes, int fps)
{
    if (bytes < statusline_gbfrom)
        snprintf(out, (size_t)cap, "%.1fMB / %dFPS", (double)bytes / 1048576.0, fps);
    else
        snprintf(out, (size_t)cap, "%.2fGB / %dFPS", (double)bytes / 1073741824.0, fps);
}

float statusline_blink(float elapsed)
{
    if (!(elapsed >= 0.0f) || elapsed >= statusline_blinktime)
        return 0.0f;
    float t = elapsed / statusline_blinktime;
    int p = (int)(4.0f * t) % 2;
    return (float)(1 - 2 * p) * 0.4f + 0.6f;
}

void statusline_cursortext(char *out, int cap, const float point[3], int units)
{
    static const int decimals[3] = {0, 3, 2};
    static const char *const suffixes[3] = {" ", "\"", "mm"};
    int u = units >= 0 && units <= 2 ? units : 0;
    int d = decimals[u];
    const char *s = suffixes[u];
    snprintf(out, (size_t)cap, "X:%+.*f%s Y:%+.*f%s Z:%+.*f%s", d, (double)point[0], s, d, (double)point[1], s, d,
             (double)point[2], s);
}

// The status text in a mix of the highlight and the normal text colour.
static void statusline_text(const char *text, float share)
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return;
    gui_rect box = widget_box(sector), area = widget_area(box);
    gui_addbox(box, gui_panelcolour[0], gui_panelcolour[1], gui_panelcolour[2], gui_panelalpha, 1);
    float c[3];
    for (int i = 0; i < 3; i++)
        c[i] = gui_textcolour[i] + share * (gui_hitextcolour[i] - gui_textcolour[i]);
    float h = (float)widget_cellheight(gui_interfacefont);
    gui_addtext((int)(area.x + 4.0f), (int)(area.y + truncf((area.h - h) / 2.0f + 1.0f)), gui_interfacefont, 0.0f,
                c[0], c[1], c[2], text, area);
}

void statusline_draw(int fps)
{
    if (!gui_topsector())
        return;
    gui_rowsector(4, 1.0, 330.0, 120.0, 180.0);
    char memory[64];
    statusline_memtext(memory, (int)sizeof(memory), sys_memused(), fps);
    char text[sys_statusmax + 1];
    float stamped;
    {
        sys_mutexguard g(sys_statusmutex);
        snprintf(text, sizeof(text), " %s", sys_statustext);
        stamped = sys_statustime;
    }
    statusline_text(text, statusline_blink((float)sys_seconds() - stamped));
    static const float zero[3] = {0.0f, 0.0f, 0.0f};
    char cursor[160];
    // The viewport marks "no point under the pointer" (nothing simulated
    // yet) with infinity: the read-out shows zeros rather than "+inf".
    const float *point = view_cursorpoint;
    bool onpoint = std::isfinite(point[0]) && std::isfinite(point[1]) && std::isfinite(point[2]);
    statusline_cursortext(cursor, (int)sizeof(cursor), gui_hotid == -1 && onpoint ? point : zero,
                          (int)project.units);
    gui_valuetext(gui_interfacefont, 1, "%s", cursor);
    gui_valuetext(gui_interfacefont, 1, "%s", project_unitname(project.units));
    gui_valuetext(gui_interfacefont, 1, "%s", memory);
}
