// Headless GUI harness: a recording call table in place of GL and SDL, data
// fonts of fixed metrics (7-px advance, 13-px cell) so layouts are exact, a
// fake clock of 1/60 s a frame, scripted input in the frame loop's order,
// and a registry of every element of the last frame by its formatted name.
// Free of the test framework, so the GUI benchmark drives the same harness.
#pragma once
#include "gui/calls.h"
#include "gui/drawlist.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/tutorial.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/main.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

struct rec_primitive {
    int kind;
    std::vector<gui_drawvertex> verts;
    float linewidth;
};
struct rec_image {
    int texture;
    uint8_t colour[4];
    float rect[4];
    float z;
};
struct rec_text {
    int font, x, y;
    float depth, angle;
    float colour[4];
    std::string text;
    int scissoron;
    int scissor[4];
};
struct rec_element {
    std::string name;
    int32_t id;
    gui_rect rect;
    int32_t window;
    int result;
};

struct gui_recorder {
    bool counting = false; // count calls only, store nothing (benchmark)
    long primitivecalls = 0, vertices = 0, textcalls = 0;
    std::vector<rec_primitive> primitives;
    std::vector<rec_image> images;
    std::vector<rec_text> texts;
    std::vector<std::string> sdl; // "cursor 2", "relativemode 0", ...
    std::vector<std::string> boxes; // message boxes: caption|text|buttons|icon
    int boxanswer = 1;
    int scissoron = 0;
    int scissor[4] = {0, 0, 0, 0};
    int mousefocus = 1;
    std::string clipboard;
    int clipboardsets = 0;
    void clear()
    {
        primitives.clear();
        images.clear();
        texts.clear();
        sdl.clear();
        primitivecalls = vertices = textcalls = 0;
    }
};

inline gui_recorder harness_rec;
inline std::vector<rec_element> harness_elements;
inline std::function<void()> harness_scene;

inline void rec_projection(int w, int h)
{
    harness_rec.sdl.push_back("projection " + std::to_string(w) + " " + std::to_string(h));
}
inline void rec_primitivecall(int kind, const gui_drawvertex *v, int n, float lw)
{
    harness_rec.primitivecalls++;
    harness_rec.vertices += n;
    if (!harness_rec.counting)
        harness_rec.primitives.push_back({kind, std::vector<gui_drawvertex>(v, v + n), lw});
}
inline void rec_imagecall(int texture, const uint8_t c[4], const float r[4], float z)
{
    harness_rec.images.push_back({texture, {c[0], c[1], c[2], c[3]}, {r[0], r[1], r[2], r[3]}, z});
}
inline void rec_blend(int) {}
inline void rec_depth(int, int) {}
inline void rec_scissor(int on, int x, int y, int w, int h)
{
    harness_rec.scissoron = on;
    harness_rec.scissor[0] = x;
    harness_rec.scissor[1] = y;
    harness_rec.scissor[2] = w;
    harness_rec.scissor[3] = h;
}
inline void rec_textcall(int font, int x, int y, float depth, float angle, const float c[4], const char *text)
{
    harness_rec.textcalls++;
    if (harness_rec.counting)
        return;
    rec_text t = {font, x, y, depth, angle, {c[0], c[1], c[2], c[3]}, text, harness_rec.scissoron, {}};
    memcpy(t.scissor, harness_rec.scissor, sizeof(t.scissor));
    harness_rec.texts.push_back(t);
}
inline void rec_cursor(int code)
{
    harness_rec.sdl.push_back("cursor " + std::to_string(code));
}
inline void rec_relativemode(int on)
{
    harness_rec.sdl.push_back("relativemode " + std::to_string(on));
}
inline void rec_capture(int on)
{
    harness_rec.sdl.push_back("capture " + std::to_string(on));
}
inline void rec_warp(int x, int y)
{
    harness_rec.sdl.push_back("warp " + std::to_string(x) + " " + std::to_string(y));
}
inline int rec_mousefocus()
{
    return harness_rec.mousefocus;
}
inline int rec_setclipboard(const char *text)
{
    harness_rec.clipboard = text;
    harness_rec.clipboardsets++;
    return 1;
}

inline int rec_messagebox(const char *caption, const char *text, int buttons, int icon, int)
{
    harness_rec.boxes.push_back(std::string(caption) + "|" + text + "|" + std::to_string(buttons) + "|" +
                                std::to_string(icon));
    return harness_rec.boxanswer;
}

inline const gui_calltable harness_calls = {
    rec_projection, rec_primitivecall, rec_imagecall, rec_blend,        rec_depth,
    rec_scissor,    rec_textcall,      rec_cursor,    rec_relativemode, rec_capture,
    rec_warp,       rec_mousefocus,    rec_setclipboard, rec_messagebox,
};

inline void harness_hook(const char *name, int32_t id, const gui_rect &rect, int32_t window, int result)
{
    harness_elements.push_back({name, id, rect, window, result});
}

inline void harness_pass(int)
{
    if (harness_scene)
        harness_scene();
}

// Thirty data fonts of one fixed metric, no texture.
inline void harness_fonts()
{
    font_loaded = 0;
    font_dat dat = {};
    dat.sheetwidth = 16 * 7;
    dat.sheetheight = 6 * 13;
    dat.cellwidth = 7;
    dat.cellheight = 13;
    dat.first = 32;
    memset(dat.advance, 7, sizeof(dat.advance));
    for (int i = 0; i < font_count; i++)
        font_addslot("fixed", &dat, -1, 2);
}

// A fresh program state: defaults, 800 x 600 window, nothing hot or open.
inline void harness_start()
{
    memcpy(cfg, cfg_defaults, cfg_size);
    harness_fonts();
    sys_drawable[0] = 800;
    sys_drawable[1] = 600;
    sys_time = 100.0;
    memset(input_keys, 0, sizeof(input_keys));
    memset(input_keyframe, 0, sizeof(input_keyframe));
    memset(input_keyprev, 0, sizeof(input_keyprev));
    for (int32_t &k : input_held)
        k = -1;
    input_heldmask = 0;
    input_freezemouse = 0;
    input_mouse[0] = input_mouse[1] = 0;
    input_wheelrelease();
    input_takemotion();
    gui_hotid = gui_activeid = gui_openid = -1;
    gui_mousewindow = gui_popupwindow = -1;
    gui_mouseovergui = 0;
    gui_consoleopen = 0;
    gui_consolescroll = 0;
    gui_scrollextent = 0.0f;
    gui_highlightrect = {};
    gui_highlightcentre[0] = gui_highlightcentre[1] = gui_highlightcentre[2] = 0.0f;
    tut_current = -1;
    tut_hit = 0;
    gui_calls = &harness_calls;
    gui_elementhook = harness_hook;
    gui_mainwindowpass = harness_pass;
    harness_scene = nullptr;
    harness_rec = gui_recorder();
    harness_elements.clear();
}

inline void harness_stop()
{
    gui_calls = &gui_realcalls;
    gui_elementhook = nullptr;
    gui_mainwindowpass = nullptr;
    harness_scene = nullptr;
}

inline void harness_move(int x, int y)
{
    input_mousemotion(x - input_mouse[0], y - input_mouse[1], x, y);
}
inline void harness_press(int key = key_mouseleft)
{
    input_press(key);
}
inline void harness_release(int key = key_mouseleft)
{
    input_release(key);
}
inline void harness_wheel(int y)
{
    input_mousewheel(y);
}

// One frame: the events given since the last frame are taken in the frame
// loop's order, the clock advances 1/60 s and the pass runs.
inline void harness_frame()
{
    input_takemotion();
    input_endframe();
    sys_time = sys_time + 1.0 / 60.0;
    harness_rec.clear();
    harness_elements.clear();
    gui_refresh();
    input_wheelrelease();
}

inline void harness_frames(int n)
{
    for (int i = 0; i < n; i++)
        harness_frame();
}

inline const rec_element *harness_find(const std::string &name)
{
    for (const rec_element &e : harness_elements)
        if (e.name == name)
            return &e;
    return nullptr;
}

inline bool harness_present(const std::string &name)
{
    return harness_find(name) != nullptr;
}

// Moves to the centre of the rectangle, presses and releases over three frames.
inline void harness_clickrect(const gui_rect &r)
{
    harness_move((int)(r.x + r.w / 2), (int)(r.y + r.h / 2));
    harness_frame();
    harness_press();
    harness_frame();
    harness_release();
    harness_frame();
}

// Clicks the named element: 1 when the release frame reported the click.
inline int harness_click(const std::string &name)
{
    const rec_element *e = harness_find(name);
    if (!e)
        return 0;
    harness_clickrect(e->rect);
    e = harness_find(name);
    return e ? e->result : 0;
}
