// Test helper: a hidden SDL window with an OpenGL 2.1 compatibility context,
// made once per test program, with the start-up GL values read from it and
// the entry points fetched, as start-up does for the real window.
#pragma once
#include "render/gl.h"
#include "render/shader.h"
#include "sys/mem.h"

#include <SDL.h>
#include <gtest/gtest.h>

class GlTest : public testing::Test {
protected:
    static inline SDL_Window *window = nullptr;
    static inline SDL_GLContext context = nullptr;

    static void SetUpTestSuite()
    {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
        window = SDL_CreateWindow("gl test", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        context = SDL_GL_CreateContext(window);
        ASSERT_NE(context, nullptr) << SDL_GetError();
        gl_versionstring = sys_strdup((const char *)glGetString(GL_VERSION));
        gl_extensions = sys_strdup((const char *)glGetString(GL_EXTENSIONS));
        gl_version = gl_versionnumber(gl_versionstring);
        if (gl_version > 29)
            glGetIntegerv(GL_NUM_EXTENSIONS, &gl_numextensions);
        ASSERT_EQ(gl_loadentrypoints(), 1);
    }
    static void TearDownTestSuite()
    {
        SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
        sys_free(gl_versionstring);
        sys_free(gl_extensions);
        gl_versionstring = gl_extensions = nullptr;
        gl_version = -1;
        // SDL stays up until the process ends: quitting unloads the GL driver,
        // and blocks the driver keeps would then show as leaks of no module.
    }
    void SetUp() override
    {
        SDL_GL_MakeCurrent(window, context);
        r_clearshaders();
        for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; i++) {
        }
    }
};
