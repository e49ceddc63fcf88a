// The real call table: the renderer's immediate mode, its texture and text
// drawing, the GL state the GUI switches, and SDL's pointer and clipboard.
#include "gui/calls.h"

#include "platform/clipboard.h"
#include "render/draw.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/dialog.h"
#include "sys/main.h"

#include <SDL.h>

#include <cmath>

static SDL_Cursor *calls_cursorobject;

static void calls_projection(int width, int height)
{
    glClear(GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, (double)width, (double)height, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
}

static void calls_primitive(int kind, const gui_drawvertex *verts, int count, float linewidth)
{
    r_bindshader(-1);
    r_bindtexture(-1, 0);
    glLineWidth(linewidth);
    r_texcoord(0.0f, 0.0f);
    r_emitcoloured(kind, verts, count);
    glLineWidth(1.0f);
}

static void calls_image(int texture, const uint8_t colour[4], const float rect[4], float z)
{
    r_bindshader(-1);
    r_bindtexture(texture, 0);
    r_color(colour[0] / 255.0f, colour[1] / 255.0f, colour[2] / 255.0f, colour[3] / 255.0f);
    const float x = rect[0], y = rect[1], w = rect[2], h = rect[3];
    r_begin(r_trianglefan);
    r_texcoord(0.0f, 0.0f);
    r_vertex(x, y, z);
    r_texcoord(1.0f, 0.0f);
    r_vertex(x + w, y, z);
    r_texcoord(1.0f, 1.0f);
    r_vertex(x + w, y + h, z);
    r_texcoord(0.0f, 1.0f);
    r_vertex(x, y + h, z);
    r_end();
    r_unbindtexture(0);
}

static void calls_blend(int kind)
{
    if (kind == gui_blendoff) {
        glDisable(GL_BLEND);
        return;
    }
    glEnable(GL_BLEND);
    if (kind == gui_blendmultiply)
        glBlendFunc(GL_DST_COLOR, GL_SRC_COLOR);
    else
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

static void calls_depth(int test, int write)
{
    if (test)
        glEnable(GL_DEPTH_TEST);
    else
        glDisable(GL_DEPTH_TEST);
    glDepthMask(write ? GL_TRUE : GL_FALSE);
}

static void calls_scissor(int on, int x, int y, int w, int h)
{
    if (!on) {
        glDisable(GL_SCISSOR_TEST);
        return;
    }
    glScissor(x, y, w, h);
    glEnable(GL_SCISSOR_TEST);
}

// The text state keeps the angle in radians with its sine and cosine; they
// are recomputed only when the angle changes.
static void calls_text(int font, int x, int y, float depth, float angle, const float colour[4], const char *text)
{
    float radians = angle * (float)M_PI / 180.0f;
    if (radians != gui_textstate.angle)
        gui_settextangle(radians);
    gui_textstate.depth = depth;
    for (int i = 0; i < 4; i++)
        gui_textstate.color[i] = colour[i];
    font_draw((float)x, (float)y, 0, font, "%s", text);
}

static void calls_cursor(int code)
{
    static const SDL_SystemCursor shapes[10] = {
        SDL_SYSTEM_CURSOR_NO,       SDL_SYSTEM_CURSOR_ARROW,     SDL_SYSTEM_CURSOR_IBEAM,
        SDL_SYSTEM_CURSOR_WAIT,     SDL_SYSTEM_CURSOR_CROSSHAIR, SDL_SYSTEM_CURSOR_WAITARROW,
        SDL_SYSTEM_CURSOR_SIZEALL,  SDL_SYSTEM_CURSOR_SIZEWE,    SDL_SYSTEM_CURSOR_SIZENS,
        SDL_SYSTEM_CURSOR_HAND,
    };
    if (code < 0 || code > 9)
        code = 1;
    SDL_ShowCursor(code ? SDL_ENABLE : SDL_DISABLE);
    if (calls_cursorobject)
        SDL_FreeCursor(calls_cursorobject);
    calls_cursorobject = SDL_CreateSystemCursor(shapes[code]);
    if (calls_cursorobject)
        SDL_SetCursor(calls_cursorobject);
}

static void calls_relativemode(int on)
{
    SDL_SetRelativeMouseMode(on ? SDL_TRUE : SDL_FALSE);
}

static void calls_capture(int on)
{
    SDL_CaptureMouse(on ? SDL_TRUE : SDL_FALSE);
}

static void calls_warp(int x, int y)
{
    if (sys_window)
        SDL_WarpMouseInWindow(sys_window, x, y);
}

static int calls_mousefocus()
{
    return sys_window && SDL_GetMouseFocus() == sys_window;
}

const gui_calltable gui_realcalls = {
    calls_projection, calls_primitive, calls_image,      calls_blend,     calls_depth,
    calls_scissor,    calls_text,      calls_cursor,     calls_relativemode, calls_capture,
    calls_warp,       calls_mousefocus, plat_setclipboard, sys_messagebox,
};

const gui_calltable *gui_calls = &gui_realcalls;
