// The texture table: 1,024 slots of GL textures made from images or raw RGB
// bytes, reused by name, bound per texture unit. Also the renderbuffers of
// the offscreen framebuffers, their completeness check, and the binders that
// switch drawing between the offscreen framebuffer and the window.
#pragma once
#include <cstdint>

struct image;

constexpr int r_maxtextures = 1024;
constexpr int r_maxtexturename = 256; // name bytes, terminator included

struct r_textureslot {
    char name[r_maxtexturename]; // empty for unnamed textures; kept after the slot is freed
    uint32_t width;              // nonzero marks the slot in use
    uint32_t height;
    uint32_t format;      // 1: one float channel; else the number of 8-bit channels
    uint32_t gltexture;   // GL texture name
    uint32_t clamp;       // 1 clamps to the edge, 0 repeats
    uint32_t multisample; // 1: bound to the multisample target
};

extern r_textureslot r_textures[r_maxtextures];
// The slot bound last (-1 none): its clamp flag decides how r_texcoord
// stores coordinates. Forgotten with the other bind caches whenever a
// context changes hands (r_resetbindings).
extern int r_boundtexture;

// The offscreen framebuffer (GL name, 0 none) and its size, set by its
// owner; r_bindframebuffer draws into it.
extern uint32_t r_fbo;
extern int r_fbosize[2];
// Size and width / height of what is being drawn into, kept by the binders.
extern int r_viewport[2];
extern float r_aspect;

// Empties every slot and forgets the bound texture (start-up).
void r_cleartextures();

// Uploads an image as a texture: scalar fields (scalar set) as one float
// channel, colour images of 1 to 4 bytes per pixel as bytes, 0 bytes per
// pixel as depth. Images over the size limit are halved until they fit. A
// named request returns the live slot of that name without uploading.
// The slot or -1.
int img_texture(const char *name, const image *img, int scalar, int linear, int clamp);
// The renderer's GPU form: a clamped scalar field.
int img_texture(const char *name, const image *img, int linear);
// An unnamed, linear, clamped RGB texture from width x height x 3 bytes.
int r_texture(int width, int height, const uint8_t *rgb);
// Deletes the GL texture and frees the slot; the name stays. Slots outside
// the table and free slots are ignored.
void r_freetexture(int slot);
// Binds the slot on the unit with 2D texturing on; -1 turns it off.
void r_bindtexture(int slot, int unit = 0);
void r_unbindtexture(int unit);

// Makes a renderbuffer and attaches it to the bound framebuffer. attachment:
// 0 depth-stencil, 1 depth, 2..9 colour 0..7; type picks the storage from
// the attachment's format table (colour: by channels 1..4 as well). Its GL
// name, or 0 for a format outside the tables.
uint32_t r_newframebufferrenderbuffer(int attachment, int width, int height, int channels, int type);
// Makes a texture of the table named name, with no data, linear and clamped,
// and attaches it to the bound framebuffer: attachment 0 as both depth and
// stencil, 1 as depth, 2..9 as colour 0..7, the storage picked like the
// renderbuffer's. The slot, or -1 when the table is full or no format fits.
int r_newframebuffertexture(const char *name, int attachment, int width, int height, int channels, int type);
// 1 when the bound framebuffer is complete; else logs why and returns 0.
int r_checkframebuffer();
// Draw into the offscreen framebuffer, or into the window; the viewport
// follows. Both do nothing without framebuffer objects.
void r_bindframebuffer();
// Binds framebuffer fbo (0: the window) and sets the viewport, r_viewport
// and r_aspect to its width x height; nothing without framebuffer objects.
void r_bindframebufferobject(uint32_t fbo, int width, int height);
void r_unbindframebuffer();
