// The element model: over test, hot and pressed ids, the click on release,
// tooltip timing, the element-name overlay with its copy to the clipboard,
// the wheel of a scroll region and the tutorial's step advance.
#include "gui/element.h"

#include "gui/calls.h"
#include "gui/drawlist.h"
#include "gui/gui.h"
#include "gui/tutorial.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/log.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

int32_t gui_openid = -1;
int32_t gui_cursor = 1;
int32_t view_capture = 0;
int32_t gui_copylatch = 0;
const char *gui_elementname = nullptr;
char gui_elementtext[gui_maxelementtext];
char gui_nexttooltip[gui_maxtooltiptext];
float gui_hoverstart = 0.0f;
int32_t *gui_pressflag = nullptr;
float gui_scrollextent = 0.0f;
float gui_scrolloffset = 0.0f;
gui_elementhookfn gui_elementhook = nullptr;

constexpr float element_tooltipwait = 0.6f;
constexpr float element_restmotion = 2.0f;
constexpr int element_keyc = 3;

static int element_hotseen; // an element under the pointer held the hot id

static int element_held(int key)
{
    return input_keyframe[key];
}

static int element_wentup(int key)
{
    return !input_keyframe[key] && input_keyprev[key];
}

static void element_nameoverlay()
{
    const char *name = gui_elementname;
    float w = (float)(uint32_t)font_textsize(1, "%s", name);
    gui_rect box = {(float)input_mouse[0] - w / 2.0f, (float)input_mouse[1] - 20.0f, w + 16.0f, 20.0f};
    int copying = element_held(element_keyc);
    gui_zbase += 0.001f;
    gui_addbox(box, 0.0f, 0.0f, 0.0f, 1.0f, 0);
    gui_addtext((int)(box.x + 8.0f), (int)(box.y + 2.0f), 1, 0.0f, copying ? 0.3f : 1.0f, copying ? 1.0f : 0.3f,
                copying ? 0.8f : 0.0f, name, box);
    gui_zbase -= 0.001f;
    if (!input_pressed(element_keyc) || gui_copylatch)
        return;
    gui_copylatch = 1;
    if (gui_calls->setclipboard(name))
        sys_status("copied '%s' to clipboard", name);
}

// Tooltip timing: the wait restarts whenever a frame moves the pointer more
// than 2 px; the first element to show a tooltip in a frame wins.
static void element_tooltiptiming(int32_t id)
{
    if (!gui_nexttooltip[0] || gui_tooltipstate.text[0])
        return;
    float now = (float)sys_time;
    if (gui_hotid != id) {
        gui_hoverstart = now;
        return;
    }
    if (hypotf(input_motion[0], input_motion[1]) > element_restmotion)
        gui_hoverstart = now;
    else if (now - gui_hoverstart > element_tooltipwait)
        gui_showtooltip(gui_nexttooltip);
}

static int element_press(int32_t id)
{
    if (input_pressed(key_mouseleft) && id > 0) {
        if (gui_pressflag)
            *gui_pressflag = 1;
        gui_activeid = id;
    }
    return 0;
}

static int element_release(int32_t id, int32_t active, int storeopen)
{
    if (active != id || active == -1)
        return 0;
    gui_activeid = -1;
    gui_hotid = -1;
    gui_openid = storeopen ? id : -1;
    return 1;
}

static void element_wheel()
{
    if (gui_scrollextent <= 0.0f || gui_consoleopen)
        return;
    if (!input_keyframe[key_wheelup] && !input_keyframe[key_wheeldown])
        return;
    gui_scrolloffset -= 8.0f * input_wheel * 20.0f / gui_scrollextent;
    gui_wheelclaimed = 1;
}

static int element_over(int32_t id, int32_t active, int storeopen)
{
    if (gui_elementname && element_held(key_ctrl) && element_held(key_shift))
        element_nameoverlay();
    int held = element_held(key_mouseleft);
    int result;
    if (active == -1 && gui_curwindow == gui_mousewindow) {
        element_tooltiptiming(id);
        gui_hotid = id;
        result = held ? element_press(id) : element_release(id, active, storeopen);
    } else if (held && gui_hotid == id) {
        result = element_press(id);
    } else {
        result = element_release(id, active, storeopen);
    }
    element_wheel();
    if (gui_hotid == id)
        element_hotseen = 1;
    return result;
}

static void element_notover(int32_t id, int32_t active)
{
    if (gui_hotid == id && id >= 1) {
        if (element_held(key_mouseleft))
            return;
        gui_hotid = -1;
        if (active == id && input_keyprev[key_mouseleft])
            gui_activeid = -1;
    } else if (active == id && element_wentup(key_mouseleft)) {
        gui_activeid = -1;
        gui_hotid = -1;
    }
}

int gui_element(int32_t id, const gui_rect &r, int storeopen)
{
    const int32_t active = gui_activeid;
    const int hit = tut_hit;
    float mx = (float)input_mouse[0], my = (float)input_mouse[1];
    int over = gui_calls->mousefocus() && !view_capture && mx >= r.x && mx <= r.x + r.w && my >= r.y &&
               my <= r.y + r.h;
    int result = 0;
    if (over)
        result = element_over(id, active, storeopen);
    else
        element_notover(id, active);
    if (hit && ((active == id && gui_activeid != id) || result == 1)) {
        sys_log("element %d progressing tutorial step %d", id, tut_stepindex);
        gui_tutorialstep(tut_stepindex + 1);
    }
    if (gui_elementhook)
        gui_elementhook(gui_elementname ? gui_elementtext : "", id, r, gui_curwindow, result);
    tut_hit = 0;
    gui_elementname = nullptr;
    if (gui_activeid == id)
        gui_hoverstart = 9999999.0f;
    gui_nexttooltip[0] = 0;
    return result;
}

// The format is the name (the overlay shows and copies the pattern); the
// formatted text is made only when a tutorial step or the test registry
// reads it.
void gui_elementid(const char *format, ...)
{
    gui_elementname = format;
    gui_elementtext[0] = 0;
    if (!format || (!gui_elementhook && tut_current < 0))
        return;
    va_list args;
    va_start(args, format);
    vsnprintf(gui_elementtext, sizeof(gui_elementtext), format, args);
    va_end(args);
    tut_match(gui_elementtext);
}

void gui_tooltip(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(gui_nexttooltip, sizeof(gui_nexttooltip), format, args);
    va_end(args);
}

void gui_elementbeginframe()
{
    element_hotseen = 0;
}

void gui_elementendframe()
{
    if (gui_hotid <= 0 && !element_hotseen)
        gui_hotid = -1;
}
