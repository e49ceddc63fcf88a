// Test helper: a hidden SDL window with an OpenGL 2.1 compatibility context,
// made once per test program, with the start-up GL values read from it and
// the entry points fetched, as start-up does for the real window; the draw
// state the drawing tests start from, the workers' shared context, and an
// offscreen framebuffer of renderbuffers to draw into and read back.
#pragma once
#include "render/draw.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/main.h"
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

    // Default GL state, an empty texture table and the immediate arrays;
    // identity matrices but for the texture matrix, which scales the
    // 1/4096-unit texture coordinates the draw calls store.
    static void startdraw()
    {
        r_defaultstate();
        r_cleartextures();
        r_initdraw();
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glScalef(1.0f / 4096.0f, 1.0f / 4096.0f, 1.0f);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }

    static void freetextures()
    {
        for (int slot = 0; slot < r_maxtextures; slot++)
            r_freetexture(slot);
    }

    // The size limits the GPU image paths check, read from this context.
    static void readlimits()
    {
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &gl_maxtexturesize);
        glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &gl_maxrenderbuffersize);
    }

    // The workers' context, shared with the test's, as start-up makes it for
    // the window; the test's context stays current. 1, or 0 when SDL gives
    // no context.
    static int startworkercontext()
    {
        SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
        sys_workercontext = SDL_GL_CreateContext(window);
        SDL_GL_MakeCurrent(window, context);
        if (!sys_workercontext)
            return 0;
        sys_window = window;
        return 1;
    }
    static void stopworkercontext()
    {
        SDL_GL_MakeCurrent(window, context);
        if (sys_workercontext)
            SDL_GL_DeleteContext(sys_workercontext);
        sys_workercontext = nullptr;
        sys_window = nullptr;
    }
};

// An offscreen framebuffer, bound once made: a colour renderbuffer of the
// given channels and storage type (as r_newframebufferrenderbuffer takes it:
// 0 8-bit, 3 32-bit float) and, when asked, a 24-bit depth renderbuffer.
struct gltest_target {
    GLuint fbo = 0, colour = 0, depth = 0;

    // 1 when the framebuffer is complete.
    int make(int width, int height, int channels, int type, bool withdepth = false)
    {
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        colour = r_newframebufferrenderbuffer(2, width, height, channels, type);
        if (withdepth)
            depth = r_newframebufferrenderbuffer(1, width, height, 1, 1);
        return r_checkframebuffer();
    }
    // Makes it the renderer's offscreen framebuffer, the one r_bindframebuffer
    // draws into, and binds it that way.
    void bindasrenderer(int width, int height)
    {
        r_fbo = fbo;
        r_fbosize[0] = width;
        r_fbosize[1] = height;
        r_bindframebuffer();
    }
    void free()
    {
        if (fbo && r_fbo == fbo) {
            r_unbindframebuffer();
            r_fbo = 0;
        }
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteRenderbuffers(1, &colour);
        if (depth)
            glDeleteRenderbuffers(1, &depth);
        glDeleteFramebuffers(1, &fbo);
        fbo = colour = depth = 0;
    }
};
