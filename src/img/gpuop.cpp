// The shared pieces of the GPU image operations: the worker test that
// decides whether the workers' context must be borrowed, the path rule, the
// framebuffer with its renderbuffers, the guarded texture upload, the drawn
// section and the read-back.
#include "img/gpuop.h"

#include "img/image.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/log.h"
#include "sys/thread.h"

#include <cstring>

bool img_onworker()
{
    SDL_threadID self = SDL_ThreadID();
    for (int i = 0; i < sys_numthreads; i++)
        if (sys_threads[i].id.load() == self)
            return true;
    return false;
}

bool img_gpufits(int side)
{
    return cfg_geti(cfg_gpuconvo) != 0 && gl_framebuffers && side <= gl_maxtexturesize &&
           side <= gl_maxrenderbuffersize;
}

int img_gpuframebuffer(img_gputarget &t, int width, int height, const char *label, const char *failline)
{
    t.width = width;
    t.height = height;
    glGenFramebuffers(1, &t.framebuffer);
    r_checkerror("%s.newframebuf", label);
    glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
    r_checkerror("%s.bindframebuf", label);
    t.colour = r_newframebufferrenderbuffer(2, width, height, 1, 3); // R32F
    t.depth = r_newframebufferrenderbuffer(1, width, height, 1, 1);  // DEPTH_COMPONENT24
    if (t.framebuffer && t.colour && t.depth && r_checkframebuffer())
        return 1;
    sys_log("%s", failline);
    return 0;
}

void img_gpubindtarget(const img_gputarget &t)
{
    glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
    glViewport(0, 0, t.width, t.height);
    r_viewport[0] = t.width;
    r_viewport[1] = t.height;
    r_aspect = t.height > 0 ? (float)t.width / (float)t.height : 1.0f;
}

void img_gpufreetarget(img_gputarget &t)
{
    r_unbindframebuffer();
    if (t.framebuffer)
        glDeleteFramebuffers(1, &t.framebuffer);
    if (t.colour)
        glDeleteRenderbuffers(1, &t.colour);
    if (t.depth)
        glDeleteRenderbuffers(1, &t.depth);
    r_checkerror("img_gpufreetarget.deleteframebuf");
    t = img_gputarget{};
}

int img_gpuupload(const char *name, const image *img, int linear, const char *failformat)
{
    for (const r_textureslot &t : r_textures) {
        if (t.width && strcmp(t.name, name) == 0) {
            sys_log("img_gpuupload: texture \"%s\" is already in use", name);
            return -1;
        }
    }
    int slot = img_texture(name, img, 1, linear, 1);
    if (slot < 0) {
        sys_error(failformat, img->width, img->height, img->width, img->height);
        return -1;
    }
    const r_textureslot &t = r_textures[slot];
    if ((int)t.width != img->width || (int)t.height != img->height) {
        sys_error(failformat, (int)t.width, (int)t.height, img->width, img->height);
        r_freetexture(slot);
        return -1;
    }
    // Samples land at level 0's scale; a varying coordinate must not make
    // the GL pick a coarser mipmap level.
    glBindTexture(GL_TEXTURE_2D, t.gltexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    r_checkerror("img_gpuupload.minfilter \"%s\"", name);
    return slot;
}

void img_gpusection(float y0, float y1)
{
    r_begin(r_trianglestrip);
    r_vertex(-1.0f, y0, 0.0f);
    r_vertex(1.0f, y0, 0.0f);
    r_vertex(-1.0f, y1, 0.0f);
    r_vertex(1.0f, y1, 0.0f);
    r_end();
    glFinish();
}

int img_gpureadback(const img_gputarget &t, float *out, const char *label)
{
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glReadPixels(0, 0, t.width, t.height, GL_RED, GL_FLOAT, out);
    return r_checkerror("%s.readpixels", label) == 0;
}
