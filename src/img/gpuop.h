// The GPU scheme that the masked blur and the inflation share: an R32F
// framebuffer of the output's size, inputs uploaded as temporary float
// textures, a full-viewport quad drawn in horizontal sections each finished
// before the next, and the read-back of the red channel as floats.
#pragma once
#include <cstdint>

struct image;

// The framebuffer of one GPU image operation and its two renderbuffers.
struct img_gputarget {
    uint32_t framebuffer = 0;
    uint32_t colour = 0, depth = 0;
    int width = 0, height = 0;
};

// True when the calling thread is one of the workers (which must borrow the
// workers' context); false on the main thread and any other.
bool img_onworker();
// The GPU path may run for an operation whose largest side is side: GPU
// operations are switched on, framebuffer objects exist and the side fits
// the texture and renderbuffer limits.
bool img_gpufits(int side);

// Makes and binds a framebuffer of width x height with an R32F colour and a
// 24-bit depth renderbuffer; label prefixes the GL error checks. 1 when it
// is complete; else failline is logged and 0 returned (release it anyway).
int img_gpuframebuffer(img_gputarget &t, int width, int height, const char *label, const char *failline);
// Binds the target again with its viewport, as the renderer's record too
// (after another user of the context may have changed both).
void img_gpubindtarget(const img_gputarget &t);
// Unbinds, deletes the framebuffer and its renderbuffers, and restores the
// window's viewport.
void img_gpufreetarget(img_gputarget &t);

// Uploads a scalar field as the clamped float texture name, linear or
// nearest, sampled at level 0 only. A live texture of that name (which img_texture would hand back
// unchanged) and a texture shrunk to the size limit are failures: failformat
// is reported through sys_error with the texture's and the image's sizes.
// The slot or -1.
int img_gpuupload(const char *name, const image *img, int linear, const char *failformat);

// One section of the full-viewport quad, clip-space rows y0 .. y1, finished
// (glFinish) before returning.
void img_gpusection(float y0, float y1);
// Reads the bound target's colour attachment into out (width x height
// floats); 1 on success, 0 on a GL error.
int img_gpureadback(const img_gputarget &t, float *out, const char *label);
