// Textures and framebuffers. Slots are found from a rotating cursor; every GL
// step is followed by the error check with a label naming the texture. Runs
// on the thread that holds a GL context; nothing here is locked.
#include "render/texture.h"

#include "img/image.h"
#include "img/resample.h"
#include "render/gl.h"
#include "sys/log.h"
#include "sys/main.h"

#include <cstdio>
#include <cstring>

r_textureslot r_textures[r_maxtextures];
int r_boundtexture = -1;
uint32_t r_fbo = 0;
int r_fbosize[2];
int r_viewport[2];
float r_aspect = 1.0f;

static int texture_cursor = 0; // kept below r_maxtextures

void r_cleartextures()
{
    memset(r_textures, 0, sizeof(r_textures));
    texture_cursor = 0;
    r_boundtexture = -1;
}

// The first free slot from the cursor, which moves to it unless it was the
// first one looked at; -1 when all are taken.
static int texture_findslot(const char *name)
{
    for (int i = 0; i < r_maxtextures; i++) {
        int slot = (texture_cursor + i) % r_maxtextures;
        if (r_textures[slot].width)
            continue;
        if (i)
            texture_cursor = slot;
        return slot;
    }
    sys_log("textures overflow!!!! \"%s\"", name);
    return -1;
}

static int texture_findname(const char *name)
{
    for (int slot = 0; slot < r_maxtextures; slot++)
        if (r_textures[slot].width && strcmp(r_textures[slot].name, name) == 0)
            return slot;
    return -1;
}

// Upload formats: internal format, data format and data type.
struct texture_format {
    GLint internal;
    GLenum data;
    GLenum type;
};

// Bytes per pixel 0 (depth) to 4, and the float scalar field.
static const texture_format texture_formats[] = {
    {GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_BYTE},
    {GL_R8, GL_RED, GL_UNSIGNED_BYTE},
    {GL_RG8, GL_RG, GL_UNSIGNED_BYTE},
    {GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE},
    {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE},
};
static const texture_format texture_scalarformat = {GL_R32F, GL_RED, GL_FLOAT};

// Creates the slot's GL texture with its filters and wrapping and uploads
// level 0 with mipmaps.
static void texture_upload(r_textureslot &t, int linear, const texture_format &f, const void *pixels)
{
    const char *name = t.name;
    glGenTextures(1, &t.gltexture);
    glBindTexture(GL_TEXTURE_2D, t.gltexture);
    r_checkerror("r_texture.bindtexture \"%s\"", name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    r_checkerror("r_texture.texparm MAG_FILTER \"%s\"", name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR);
    r_checkerror("r_texture.texparm MIN_FILTER \"%s\"", name);
    if (linear && gl_maxanisotropy > 0.0f)
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, gl_maxanisotropy);
    GLint wrap = t.clamp ? GL_CLAMP_TO_EDGE : GL_REPEAT;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    r_checkerror("r_texture.texparm WRAP_S \"%s\"", name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    r_checkerror("r_texture.texparm WRAP_T \"%s\"", name);
    if (gl_version < 30) {
        glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
        r_checkerror("r_texture.texparm GEN_MIPMAP \"%s\"", name);
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    r_checkerror("r_texture.pixelstore(pack) \"%s\"", name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    r_checkerror("r_texture.pixelstore(unpack) \"%s\"", name);
    glTexImage2D(GL_TEXTURE_2D, 0, f.internal, (GLsizei)t.width, (GLsizei)t.height, 0, f.data, f.type, pixels);
    r_checkerror("r_texture.teximage2d \"%s\"", name);
    if (gl_version >= 30 && glGenerateMipmap) {
        glGenerateMipmap(GL_TEXTURE_2D);
        r_checkerror("r_texture.genmipmap \"%s\"", name);
    }
}

// Refuses what cannot become a texture: a missing or empty image, a scalar
// request for a non-scalar image, a pixel size without a GL format.
static int texture_checkimage(const image *img, int scalar)
{
    if (scalar)
        return img_isscalar(img, "img_texture");
    if (!img || img->width < 1 || img->height < 1) {
        sys_log("img_texture: no image");
        return 0;
    }
    if (img->bytesperpixel < 0 || img->bytesperpixel > 4) {
        sys_log("img_texture: \"%s\" has %d bytes per pixel, no texture format", img->name, img->bytesperpixel);
        return 0;
    }
    if (img->bytesperpixel && !img->pixels) {
        sys_log("img_texture: \"%s\" has no pixels", img->name);
        return 0;
    }
    return 1;
}

// Halves both sides until both fit the limit; 0 when they already fit (or
// the limit is not known yet).
static int texture_fitsize(const image *img, int *width, int *height)
{
    int limit = gl_maxtexturesize;
    *width = img->width;
    *height = img->height;
    if (limit < 1 || (*width <= limit && *height <= limit))
        return 0;
    do {
        *width /= 2;
        *height /= 2;
    } while (*width > limit || *height > limit);
    // A long thin image can halve its short side to nothing.
    *width = *width > 0 ? *width : 1;
    *height = *height > 0 ? *height : 1;
    sys_log("img_texture: downscaled %dx%d to %dx%d (maxtexsize:%d)", img->width, img->height, *width, *height,
            limit);
    return 1;
}

int img_texture(const char *name, const image *img, int scalar, int linear, int clamp)
{
    if (!texture_checkimage(img, scalar))
        return -1;
    int width, height;
    int shrink = texture_fitsize(img, &width, &height);
    if (name && *name) {
        int slot = texture_findname(name);
        if (slot >= 0) {
            sys_log("returning existing texture[%d] = \"%s\"", slot, name);
            return slot;
        }
    }
    int slot = texture_findslot(name ? name : "");
    if (slot < 0)
        return -1;
    // The shrunk copy is made only once the texture will really be uploaded.
    // A depth image (0 bytes per pixel) carries no pixels: only its storage
    // is made.
    const void *pixels = img->bytesperpixel || scalar ? img->pixels : nullptr;
    image *copy = nullptr;
    if (shrink && pixels) {
        copy = scalar ? img_rescalescalar(img, width, height) : img_rescalecolor(img, width, height);
        if (!copy) {
            sys_log("img_texture: failed to downscale \"%s\"", img->name);
            return -1;
        }
        pixels = copy->pixels;
    }
    r_textureslot &t = r_textures[slot];
    t.width = (uint32_t)width;
    t.height = (uint32_t)height;
    t.format = scalar ? 1 : (uint32_t)img->bytesperpixel;
    t.clamp = clamp ? 1 : 0;
    t.multisample = 0;
    snprintf(t.name, sizeof(t.name), "%s", name ? name : "");
    texture_upload(t, linear, scalar ? texture_scalarformat : texture_formats[img->bytesperpixel], pixels);
    img_free(copy);
    return slot;
}

int img_texture(const char *name, const image *img, int linear)
{
    return img_texture(name, img, 1, linear, 1);
}

int r_texture(int width, int height, const uint8_t *rgb)
{
    if (width < 1 || height < 1) {
        sys_log("r_texture: bad size %dx%d", width, height);
        return -1;
    }
    int slot = texture_findslot("");
    if (slot < 0)
        return -1;
    r_textureslot &t = r_textures[slot];
    t.width = (uint32_t)width;
    t.height = (uint32_t)height;
    t.format = 3;
    t.clamp = 1;
    t.multisample = 0;
    t.name[0] = 0;
    texture_upload(t, 1, texture_formats[3], rgb);
    return slot;
}

void r_freetexture(int slot)
{
    // A free slot's GL name may already belong to another texture.
    if (slot < 0 || slot >= r_maxtextures || !r_textures[slot].width)
        return;
    glDeleteTextures(1, &r_textures[slot].gltexture);
    r_textures[slot].gltexture = 0;
    r_textures[slot].width = 0;
}

static void texture_activate(int slot, int unit)
{
    if (glActiveTexture) {
        glActiveTexture(GL_TEXTURE0 + unit);
        r_checkerror("r_bindtexture.activetexture (texture:%d unit:%d)", slot, unit);
    }
}

void r_bindtexture(int slot, int unit)
{
    if (slot < -1 || slot >= r_maxtextures) {
        sys_log("r_bindtexture: no texture slot %d", slot);
        return;
    }
    texture_activate(slot, unit);
    r_boundtexture = slot;
    if (slot < 0) {
        glDisable(GL_TEXTURE_2D);
        return;
    }
    glEnable(GL_TEXTURE_2D);
    const r_textureslot &t = r_textures[slot];
    glBindTexture(t.multisample ? GL_TEXTURE_2D_MULTISAMPLE : GL_TEXTURE_2D, t.gltexture);
    r_checkerror("r_bindtexture.bindtexture (texture:%d unit:%d)", slot, unit);
}

void r_unbindtexture(int unit)
{
    texture_activate(-1, unit);
    r_boundtexture = -1;
    glDisable(GL_TEXTURE_2D);
}

static const GLenum fb_attachments[] = {
    GL_DEPTH_STENCIL_ATTACHMENT, GL_DEPTH_ATTACHMENT,   GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1,
    GL_COLOR_ATTACHMENT2,        GL_COLOR_ATTACHMENT3,  GL_COLOR_ATTACHMENT4, GL_COLOR_ATTACHMENT5,
    GL_COLOR_ATTACHMENT6,        GL_COLOR_ATTACHMENT7,
};
static const GLenum fb_depthstencil[] = {GL_DEPTH24_STENCIL8, GL_DEPTH32F_STENCIL8};
static const GLenum fb_depth[] = {GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT32,
                                  GL_DEPTH_COMPONENT32F};
// By channels - 1, then type.
static const GLenum fb_colour[4][6] = {
    {GL_R8, GL_R16, GL_R16F, GL_R32F, GL_COMPRESSED_RED, GL_COMPRESSED_RED},
    {GL_RG8, GL_RG16, GL_RG16F, GL_RG32F, GL_COMPRESSED_RG, GL_COMPRESSED_RG},
    {GL_RGB8, GL_RGB16, GL_RGB16F, GL_RGB32F, GL_COMPRESSED_RGB, GL_COMPRESSED_RGB},
    {GL_RGBA8, GL_RGBA16, GL_RGBA16F, GL_RGBA32F, GL_COMPRESSED_RGBA, GL_COMPRESSED_RGBA},
};

// The storage format of an attachment, or 0 outside the tables. Every
// colour attachment takes the colour table.
static GLenum fb_storageformat(int attachment, int channels, int type)
{
    if (attachment == 0)
        return type >= 0 && type < 2 ? fb_depthstencil[type] : 0;
    if (attachment == 1)
        return type >= 0 && type < 4 ? fb_depth[type] : 0;
    if (attachment < 10 && channels >= 1 && channels <= 4 && type >= 0 && type < 6)
        return fb_colour[channels - 1][type];
    return 0;
}

uint32_t r_newframebufferrenderbuffer(int attachment, int width, int height, int channels, int type)
{
    if (!gl_framebuffers) {
        sys_log("r_newframebufferrenderbuffer: framebuffer objects not available");
        return 0;
    }
    GLenum format = attachment >= 0 ? fb_storageformat(attachment, channels, type) : 0;
    if (!format) {
        sys_log("r_newframebufferrenderbuffer: no storage format (attach:%d type:%d channels:%d)", attachment,
                type, channels);
        return 0;
    }
    GLuint buffer = 0;
    glGenRenderbuffers(1, &buffer);
    r_checkerror("r_newframebuffrenderbuff.genrenderbuffs");
    glBindRenderbuffer(GL_RENDERBUFFER, buffer);
    r_checkerror("r_newframebuffrenderbuff.bindrenderbuff");
    glRenderbufferStorage(GL_RENDERBUFFER, format, width, height);
    r_checkerror("r_newframebuffrenderbuff.renderbuffstorage (attach:%d type:%d %dx%dx%d)", attachment, type,
                 width, height, channels);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, fb_attachments[attachment], GL_RENDERBUFFER, buffer);
    r_checkerror("r_newframebufferrenderbuffer.framebuffrenderbuff");
    return buffer;
}

// The data format and type that go with an attachment's storage; a texture
// made without data still needs a pair the GL accepts.
static void fb_dataformat(int attachment, int channels, int type, GLenum *data, GLenum *datatype)
{
    static const GLenum colourdata[4] = {GL_RED, GL_RG, GL_RGB, GL_RGBA};
    if (attachment == 0) {
        *data = GL_DEPTH_STENCIL;
        *datatype = type == 0 ? GL_UNSIGNED_INT_24_8 : GL_FLOAT_32_UNSIGNED_INT_24_8_REV;
    } else if (attachment == 1) {
        *data = GL_DEPTH_COMPONENT;
        *datatype = GL_FLOAT;
    } else {
        *data = colourdata[channels - 1];
        *datatype = type == 0 ? GL_UNSIGNED_BYTE : GL_FLOAT;
    }
}

static void fb_attachtexture(int attachment, GLuint texture)
{
    if (attachment == 0) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, texture, 0);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_TEXTURE_2D, texture, 0);
    } else {
        glFramebufferTexture2D(GL_FRAMEBUFFER, fb_attachments[attachment], GL_TEXTURE_2D, texture, 0);
    }
}

int r_newframebuffertexture(const char *name, int attachment, int width, int height, int channels, int type)
{
    if (!gl_framebuffers) {
        sys_log("r_newframebuffertexture: framebuffer objects not available");
        return -1;
    }
    GLenum format = attachment >= 0 ? fb_storageformat(attachment, channels, type) : 0;
    if (!format || width < 1 || height < 1) {
        sys_log("r_newframebuffertexture: no storage for \"%s\" (attach:%d type:%d %dx%dx%d)", name, attachment,
                type, width, height, channels);
        return -1;
    }
    int slot = texture_findslot(name);
    if (slot < 0)
        return -1;
    r_textureslot &t = r_textures[slot];
    snprintf(t.name, sizeof(t.name), "%s", name);
    t.width = (uint32_t)width;
    t.height = (uint32_t)height;
    t.format = (uint32_t)channels;
    t.clamp = 1;
    t.multisample = 0;
    GLenum data, datatype;
    fb_dataformat(attachment, channels, type, &data, &datatype);
    glGenTextures(1, &t.gltexture);
    glBindTexture(GL_TEXTURE_2D, t.gltexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, (GLint)format, width, height, 0, data, datatype, nullptr);
    r_checkerror("r_newframebuffertexture.teximage2d (name:%s attach:%d type:%d %dx%dx%d)", name, attachment, type,
                 width, height, channels);
    fb_attachtexture(attachment, t.gltexture);
    r_checkerror("r_newframebuffertexture.framebuffertexture2d (name:%s attach:%d type:%d %dx%dx%d)", name,
                 attachment, type, width, height, channels);
    // A texture left bound while it is drawn into would be read and written at once.
    glBindTexture(GL_TEXTURE_2D, 0);
    r_boundtexture = -1;
    return slot;
}

int r_checkframebuffer()
{
    struct fb_statusline {
        GLenum status;
        const char *line;
    };
    static const fb_statusline lines[] = {
        {GL_FRAMEBUFFER_UNDEFINED, "framebuffer undefined!"},
        {GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT, "framebuffer incomplete attachment!"},
        {GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT, "framebuffer incomplete missing attachment!"},
        {GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER, "framebuffer incomplete drawbuffer!"},
        {GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER, "framebuffer incomplete readbuffer!"},
        {GL_FRAMEBUFFER_UNSUPPORTED, "framebuffer format unsupported!"},
        {GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE, "framebuffer incomplete multisample!"},
        {GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS, "framebuffer incomplete layer targets!"},
    };
    if (!gl_framebuffers) {
        sys_log("r_checkframebuffer: framebuffer objects not available");
        return 0;
    }
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status == GL_FRAMEBUFFER_COMPLETE)
        return 1;
    const char *line = "unknown framebuffer status!";
    for (const fb_statusline &l : lines)
        if (l.status == status)
            line = l.line;
    sys_log("%s", line);
    return 0;
}

void r_bindframebufferobject(uint32_t fbo, int width, int height)
{
    if (!gl_framebuffers)
        return;
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    r_checkerror("r_bindframebuffer (fbo:%d)", (int)fbo);
    glViewport(0, 0, width, height);
    r_viewport[0] = width;
    r_viewport[1] = height;
    r_aspect = height > 0 ? (float)width / (float)height : 1.0f;
}

void r_bindframebuffer()
{
    r_bindframebufferobject(r_fbo, r_fbosize[0], r_fbosize[1]);
}

void r_unbindframebuffer()
{
    r_bindframebufferobject(0, sys_drawable[0], sys_drawable[1]);
}
