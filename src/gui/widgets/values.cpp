// Slider, knob and scroll bar. A drag reads the frame's relative motion and
// puts the pointer back on the control, so the pointer never runs into the
// window's edge during a long drag; relative mode and capture go through
// the GUI's call table and are switched on once (input_freezemouse records
// it) and off by the GUI pass on the release.
#include "gui/widgets/values.h"

#include "gui/calls.h"
#include "gui/drawlist.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/widgets/widget.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/log.h"

#include <cmath>

float gui_scrollposition = 0.0f;
float gui_scrollrepeattime = 0.0f;
double gui_knobspeed = 1.0;

constexpr float values_repeatwait = 0.25f;
constexpr int32_t values_trackabove = 999999, values_trackbelow = 999998;

static float values_clamp(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

static float values_snap(float value, float min, float step)
{
    if (step == 0.0f)
        return value;
    return step * floorf((value - min) / step + 0.5f) + min;
}

static void values_capture()
{
    if (input_freezemouse)
        return;
    gui_calls->relativemode(1);
    gui_calls->capture(1);
    input_freezemouse = 1;
}

// The program's pointer, and the system pointer unless relative mode holds
// it: SDL keeps it hidden at the window's centre then, and a warp of ours
// comes back as motion the user never made (a knob would creep on its own).
// The release frame, with relative mode already off, puts it on the control.
static void values_warp(float x, float y)
{
    input_mouse[0] = (int)x;
    input_mouse[1] = (int)y;
    if (!input_freezemouse)
        gui_calls->warp((int)x, (int)y);
    input_resetmotion();
}

struct values_slidertrack {
    float length, x0, ky;
};

static values_slidertrack values_track(const gui_rect &box)
{
    float p = (float)gui_padding;
    return {box.w - 2.0f * p - 40.0f, box.x + p + 20.0f, box.y + 0.575f * box.h};
}

// The drag of an active slider: the new knob position and value. A track of
// no length cannot be dragged: the knob stays at its start.
static float values_sliderdrag(const values_slidertrack &t, int wasactive, float *pos, float value, float min,
                               float max, float *step)
{
    float factor = input_keyframe[key_ctrl] ? 0.1f : 1.0f;
    if (input_keyframe[key_shift])
        *step = (max - min) / 32.0f;
    gui_cursor = 0;
    if (t.length > 0.0f) {
        if (wasactive)
            *pos = values_clamp(*pos + factor * input_motion[0], 0.0f, t.length + 0.5f);
        else
            *pos = (float)input_mouse[0] - t.x0;
        value = values_clamp((max - min) * *pos / t.length + min, min, max);
    }
    values_warp(t.x0 + *pos, t.ky + 3.0f);
    values_capture();
    return value;
}

static void values_sliderdraw(int32_t id, const gui_rect &box, const values_slidertrack &t, float pos,
                              const char *label)
{
    const float *boxrgb = gui_widgetcolour, *fore = gui_textcolour, *track = gui_textcolour;
    int lit = gui_activeid == id || gui_hotid == id;
    if (gui_activeid == id) {
        boxrgb = gui_panelcolour;
        fore = gui_hitextcolour;
        track = gui_widgetcolour;
    } else if (gui_hotid == id) {
        fore = gui_hitextcolour;
    }
    float lw = (float)(uint32_t)font_textsize(1, "%s", label);
    gui_addtext((int)(t.x0 + pos - lw / 2.0f), (int)(t.ky - 16.0f), 1, 0.0f, fore[0], fore[1], fore[2], label, box);
    gui_addtext((int)(t.x0 + pos - 8.0f), (int)(t.ky - 4.5f), font_firsticon, 0.0f, fore[0], fore[1], fore[2],
                lit ? "|" : "}", box);
    gui_addbox(box, boxrgb[0], boxrgb[1], boxrgb[2], gui_panelalpha, 1);
    if (t.length > 0.0f)
        gui_addbox({t.x0, t.ky, t.length, 6.0f}, track[0], track[1], track[2], gui_panelalpha, 0);
}

float gui_valueslider(int32_t id, const char *fmt, float value, float min, float max, float step)
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return value;
    gui_rect box = widget_box(sector);
    values_slidertrack t = values_track(box);
    const int wasactive = gui_activeid == id;
    gui_element(id, box, 0);
    const float range = max - min;
    float pos = 0.0f;
    if (range != 0.0f && t.length > 0.0f)
        pos = values_clamp((value - min) / range, 0.0f, 1.0f) * t.length;
    if (gui_activeid == id) {
        value = values_sliderdrag(t, wasactive, &pos, value, min, max, &step);
    } else if (gui_hotid == id) {
        float mx = (float)input_mouse[0], my = (float)input_mouse[1], kx = t.x0 + pos;
        int onknob = mx >= kx - 8.0f && mx <= kx + 8.0f && my >= t.ky - 4.0f && my <= t.ky + 12.0f;
        gui_cursor = onknob ? 7 : 9;
    }
    // One value only: nothing to choose and nothing to divide by.
    float shown = range == 0.0f ? min : values_snap(value, min, step);
    char label[widget_textmax];
    widget_format(label, fmt, (double)shown);
    values_sliderdraw(id, box, t, pos, label);
    if (wasactive && gui_activeid != id) {
        values_warp(t.x0 + pos, t.ky + 3.0f);
        sys_log("valueslider[%d] pos:%f value:%f (min:%f max:%f)", id, pos, shown, min, max);
    }
    return shown;
}

static double values_knobspeed()
{
    if (input_keyframe[key_ctrl])
        return gui_knobspeed * 0.1;
    if (input_keyframe[key_shift])
        return gui_knobspeed * 10.0;
    return gui_knobspeed;
}

// The knob's value from this frame's drag or wheel; sets its colours.
static float values_knobinput(int32_t id, const gui_rect &box, float value, float min, float max, float step,
                              widget_colours *c)
{
    double s = values_knobspeed();
    if (gui_activeid == id) {
        float dy = -input_motion[1];
        float change = dy * fabsf(dy) * step / 240.0f;
        value = values_clamp((float)(value + s * change), min, max);
        if (fabsf(dy) > 0.1f)
            sys_debuglog("valueknob[%d] speed:%f value:%f", id, s, value);
        values_warp(box.x + box.w / 2.0f, box.y + box.h / 2.0f);
        gui_cursor = 0;
        *c = {gui_panelcolour, gui_hitextcolour};
    } else if (gui_hotid == id) {
        if (!gui_consoleopen && (input_keyframe[key_wheelup] || input_keyframe[key_wheeldown])) {
            value = values_clamp((float)(value + s * input_wheel * step), min, max);
            sys_debuglog("valueknob[%d] value:%f", id, value);
        }
        gui_cursor = 8;
        *c = {gui_hotcolour, gui_hitextcolour};
    } else {
        *c = {gui_widgetcolour, gui_textcolour};
    }
    return value;
}

static float values_knobangle(float shown, float min, float max)
{
    if (max == min)
        return 0.0f;
    float t = (shown - min) / (max - min);
    return t <= 0.0f ? 0.0f : (t < 1.0f ? 360.0f * t : 360.0f);
}

// The dial and the value of a knob in its box.
static void values_knobdraw(const gui_rect &box, const widget_colours &c, const char *fmt, float shown, float angle)
{
    gui_rect area = widget_area(box);
    gui_addbox(box, c.box[0], c.box[1], c.box[2], gui_panelalpha, 1);
    const int dialfont = font_firsticon + 4;
    float gy = area.y + truncf((area.h - (float)widget_cellheight(dialfont)) / 2.0f);
    const float *t = gui_textcolour;
    gui_addtext((int)(area.x + 4.0f), (int)gy, dialfont, 0.0f, t[0], t[1], t[2], "*", area);
    gui_addtext((int)(area.x + 4.0f), (int)gy, dialfont, angle, t[0], t[1], t[2], ")", area);
    char label[widget_textmax];
    widget_format(label, fmt, (double)shown);
    float th = (float)widget_cellheight(gui_interfacefont);
    float tx = area.x + 4.0f + 2.0f * (float)gui_padding + box.h;
    float ty = area.y + fmaxf(0.0f, truncf((area.h - th) / 2.0f + 2.0f));
    gui_addtext((int)tx, (int)ty, gui_interfacefont, 0.0f, c.text[0], c.text[1], c.text[2], label, area);
}

// The knob whose step of 0 was last reported: the refusal is logged when a
// knob starts being refused, not in every frame it is drawn.
static int32_t values_nostepid = -1;

float gui_valueknob(int32_t id, const char *fmt, float value, float min, float max, float step)
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return value;
    gui_rect box = widget_box(sector);
    // A step of 0 would make the knob's drag and wheel do nothing and its
    // snap divide by 0: the knob only shows its value, as a label would.
    if (step == 0.0f) {
        if (values_nostepid != id)
            sys_log("gui_valueknob: knob %d has a step of 0, shown without input", id);
        values_nostepid = id;
        values_knobdraw(box, {gui_widgetcolour, gui_textcolour}, fmt, value, values_knobangle(value, min, max));
        return value;
    }
    if (values_nostepid == id)
        values_nostepid = -1;
    widget_colours c;
    value = values_knobinput(id, box, value, min, max, step, &c);
    float shown = max == min ? min : values_snap(value, min, step);
    float angle = values_knobangle(shown, min, max);
    values_knobdraw(box, c, fmt, shown, angle);
    const int wasactive = gui_activeid == id;
    gui_element(id, box, 0);
    if (wasactive && gui_activeid != id) {
        values_warp(box.x + box.w / 2.0f, box.y + box.h / 2.0f);
        sys_log("valueknob[%d] ang:%f value:%f (min:%f max:%f)", id, angle, shown, min, max);
    }
    // The pointer goes to the centre before relative mode starts, as the
    // slider's first frame puts it under the knob: without a warp first, a
    // real X11 drag in SDL's warping relative mode delivered no motion.
    if (gui_activeid == id && !input_freezemouse) {
        values_warp(box.x + box.w / 2.0f, box.y + box.h / 2.0f);
        values_capture();
    }
    return shown;
}

// Content that fits (a free track of 0 or less included): one element over
// the bar and a thumb over all of it.
static float values_scrollfits(int32_t id, const gui_rect &box, const gui_rect &inner, float p)
{
    gui_element(id, inner, 0);
    gui_addbox(box, gui_widgetcolour[0], gui_widgetcolour[1], gui_widgetcolour[2], gui_panelalpha, 0);
    gui_addbox(inner, gui_textcolour[0], gui_textcolour[1], gui_textcolour[2], gui_panelalpha, 1);
    gui_scrollextent = 0.0f;
    return values_clamp(p, 0.0f, 1.0f);
}

float gui_scrollbar(int32_t id)
{
    float p = gui_scrollposition;
    gui_rect sector;
    if (!widget_popsector(&sector))
        return p;
    gui_rect box = widget_box(sector);
    gui_rect inner = {box.x + 1.0f, box.y + 1.0f, box.w - 2.0f, box.h - 2.0f};
    float f = gui_scrollextent > 0.0f ? sector.h / gui_scrollextent : 2.0f;
    if (f >= 1.0f || !(box.h > 0.0f))
        return values_scrollfits(id, box, inner, p);
    f = fmaxf(f, box.w / box.h);
    float free = box.h * (1.0f - f);
    if (!(free > 0.0f))
        return values_scrollfits(id, box, inner, p);
    float thumblength = box.h * f - 2.0f;
    float thumby = box.y + free * p + 1.0f;
    gui_rect thumb = {box.x + 1.0f, thumby, box.w - 2.0f, thumblength};
    gui_rect above = {sector.x, sector.y, sector.w, free * p};
    gui_rect below = {sector.x, thumby + thumblength, sector.w, box.y + box.h - (thumby + thumblength)};
    const float *track = gui_widgetcolour, *thumbrgb = gui_textcolour;
    float now = (float)sys_time;
    int trackpressed = gui_activeid == id + values_trackabove || gui_activeid == id + values_trackbelow;
    if (trackpressed && now > gui_scrollrepeattime) {
        gui_scrollrepeattime = now + values_repeatwait;
        gui_activeid = id;
    }
    if (gui_activeid == id) {
        p = ((float)input_mouse[1] - (box.y + thumblength / 2.0f)) / free;
        gui_cursor = 8;
        track = gui_presscolour;
    } else if (gui_hotid == id) {
        gui_cursor = 8;
        track = gui_hotcolour;
        thumbrgb = gui_hitextcolour;
    } else if (gui_hotid == id + values_trackabove || gui_hotid == id + values_trackbelow) {
        gui_cursor = 9;
    }
    p += gui_scrolloffset;
    gui_element(id + values_trackabove, above, 0);
    gui_element(id + values_trackbelow, below, 0);
    gui_element(id, thumb, 0);
    p = values_clamp(p, 0.0f, 1.0f);
    thumb.y = box.y + free * p + 1.0f;
    gui_addbox(box, track[0], track[1], track[2], gui_panelalpha, 0);
    gui_addbox(thumb, thumbrgb[0], thumbrgb[1], thumbrgb[2], gui_panelalpha, 1);
    gui_scrollextent = 0.0f;
    return p;
}
