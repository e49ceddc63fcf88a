// Benchmark set-up for work that draws: a hidden window's OpenGL 2.1
// context (llvmpipe under Xvfb) with the renderer's entry points, default
// state and draw arrays, made once for the whole run.
#pragma once
#include "render/draw.h"
#include "render/gl.h"
#include "render/texture.h"
#include "sys/mem.h"

#include <SDL.h>

// False when no context or no entry points could be had.
static inline bool bench_startgl(const char *title)
{
    static bool ok = [title] {
        if (SDL_Init(SDL_INIT_VIDEO) != 0)
            return false;
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_Window *w = SDL_CreateWindow(title, 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!w || !SDL_GL_CreateContext(w))
            return false;
        gl_versionstring = sys_strdup((const char *)glGetString(GL_VERSION));
        gl_extensions = sys_strdup((const char *)glGetString(GL_EXTENSIONS));
        gl_version = gl_versionnumber(gl_versionstring);
        if (gl_version > 29)
            glGetIntegerv(GL_NUM_EXTENSIONS, &gl_numextensions);
        if (gl_loadentrypoints() != 1)
            return false;
        r_defaultstate();
        r_cleartextures();
        r_initdraw();
        return true;
    }();
    return ok;
}
