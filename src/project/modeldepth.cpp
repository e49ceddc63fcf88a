// Model-layer depth render. The modelview places the oriented, normalised
// model in the layer's footprint in pixels with rows counted from the bottom
// of the canvas (the read-back's order), so the map's row 0 is the canvas's
// top edge like every other depth map.
#include "project/modeldepth.h"

#include "geom/meshshader.h"
#include "geom/model.h"
#include "img/gpuop.h"
#include "img/image.h"
#include "img/resample.h"
#include "project/layer.h"
#include "project/project.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/glfuncs.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/log.h"
#include "sys/thread.h"

#include <cmath>
#include <cstring>

int mdl_samplecount = 0;

// Orientation flags in the order they are looked for, with the value of
// the shader's swaps uniform each selects.
static const uint32_t mdl_orientflags[6] = {32, 64, 128, 256, 512, 2048};
static const int mdl_orientswaps[6] = {1, 2, 3, 4, 5, 6};

static int mdl_orientation(uint32_t flags)
{
    for (int i = 0; i < 6; i++)
        if (flags & mdl_orientflags[i])
            return mdl_orientswaps[i];
    return 0;
}

// The bounds permuted as the shader permutes vertices; a negated axis swaps
// its minimum and maximum.
static void mdl_orientbounds(int swaps, const float *mn, const float *mx, float *lo, float *hi)
{
    // Source axis of each output axis and whether it is negated.
    static const int axes[7][3] = {{0, 1, 2}, {1, 0, 2}, {2, 1, 0}, {0, 2, 1}, {2, 1, 0}, {0, 2, 1}, {0, 2, 1}};
    static const int negs[7][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 1}, {0, 0, 1}, {0, 1, 0}};
    for (int i = 0; i < 3; i++) {
        int a = axes[swaps][i];
        lo[i] = negs[swaps][i] ? -mx[a] : mn[a];
        hi[i] = negs[swaps][i] ? -mn[a] : mx[a];
    }
}

// 1 / extent, or 1 for an axis of no (or no usable) extent: a flat model
// keeps its size along that axis instead of being scaled by infinity.
static float mdl_invextent(float e)
{
    return e > 0.0f && std::isfinite(1.0f / e) ? 1.0f / e : 1.0f;
}

// The layer's frame in the render's pixels: centre, extent, base and range
// of heights, normalisation scales and the crop in frame fractions.
struct mdl_frame {
    float px, py, sx, sy, z0, dz;
    float scale[3];
    float centre[3];
    float crop[4];
    int swaps;
};

static void mdl_setframe(const project_layer *l, const model *m, int w, int h, mdl_frame &f)
{
    f.swaps = mdl_orientation(l->flags);
    float lo[3], hi[3];
    mdl_orientbounds(f.swaps, m->min, m->max, lo, hi);
    float ex = hi[0] - lo[0], ey = hi[1] - lo[1], ez = hi[2] - lo[2];
    for (int i = 0; i < 3; i++)
        f.centre[i] = 0.5f * (lo[i] + hi[i]);
    // Each axis normalised by its own extent: the model fills the footprint,
    // whose proportions the layer's aspect (height over width) keeps.
    f.scale[0] = mdl_invextent(ex);
    f.scale[1] = mdl_invextent(ey);
    f.scale[2] = mdl_invextent(ez);
    float aspect = ey / ex;
    if (std::isfinite(aspect) && aspect > 0.0f)
        const_cast<project_layer *>(l)->aspect = aspect;
    memcpy(f.crop, l->crop, sizeof(f.crop));
    if (l->flags & layer_mirrorx) {
        f.scale[0] = -f.scale[0];
        f.crop[0] = 1.0f - l->crop[2];
        f.crop[2] = 1.0f - l->crop[0];
    }
    if (l->flags & layer_mirrory) {
        f.scale[1] = -f.scale[1];
        f.crop[1] = 1.0f - l->crop[3];
        f.crop[3] = 1.0f - l->crop[1];
    }
    if (l->flags & layer_invert)
        f.scale[2] = -f.scale[2];
    const float *cs = project.size;
    f.px = l->pos[0] / cs[0] * (float)w;
    f.py = l->pos[1] / cs[1] * (float)h;
    f.sx = l->size[0] / cs[0] * (float)w;
    f.sy = l->size[1] / cs[1] * (float)h;
    f.z0 = l->pos[2] / cs[2];
    f.dz = l->size[2] / cs[2];
}

// The layer's footprint: frame position and scale, without the model's own.
static void mdl_footprintmatrix(const project_layer *l, const mdl_frame &f)
{
    glTranslatef(f.px, f.py, f.z0);
    glTranslatef(0.0f, 0.0f, 0.5f * f.dz);
    glRotatef(l->rotation, 0.0f, 0.0f, -1.0f);
    glScalef(f.sx, f.sy, f.dz);
}

// Marks the footprint's quad in the stencil buffer, then sets the model's
// frame so that the cropped part fills the footprint.
static void mdl_cropstencil(const project_layer *l, const mdl_frame &f)
{
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_EQUAL, 1, 255);
    glStencilOp(GL_REPLACE, GL_REPLACE, GL_REPLACE);
    glPushMatrix();
    mdl_footprintmatrix(l, f);
    r_begin(r_trianglestrip);
    r_vertex(-0.5f, -0.5f, 0.0f);
    r_vertex(0.5f, -0.5f, 0.0f);
    r_vertex(-0.5f, 0.5f, 0.0f);
    r_vertex(0.5f, 0.5f, 0.0f);
    r_end();
    glPopMatrix();
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
}

static void mdl_setmodelview(const project_layer *l, const mdl_frame &f, int cropped)
{
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    mdl_footprintmatrix(l, f);
    if (cropped) {
        float cw = f.crop[2] - f.crop[0], ch = f.crop[3] - f.crop[1];
        glScalef(1.0f / cw, 1.0f / ch, 1.0f);
        glTranslatef(-(0.5f * (f.crop[0] + f.crop[2]) - 0.5f), -(0.5f * (f.crop[1] + f.crop[3]) - 0.5f), 0.0f);
    }
    glRotatef(l->tilt[0], -1.0f, 0.0f, 0.0f);
    glRotatef(l->tilt[1], 0.0f, -1.0f, 0.0f);
    glScalef(f.scale[0], f.scale[1], f.scale[2]);
    glTranslatef(-f.centre[0], -f.centre[1], -f.centre[2]);
}

// Draws into the bound, complete framebuffer and reads the blue channel into
// out (rw x rh floats). 1 when the read-back worked.
static int mdl_drawmodel(int slot, const model *m, const mdl_frame &f, int rw, int rh, float *out)
{
    const project_layer *l = &project.layers[slot];
    glViewport(0, 0, rw, rh);
    r_viewport[0] = rw;
    r_viewport[1] = rh;
    r_aspect = (float)rw / (float)rh;
    glEnable(GL_DEPTH_CLAMP);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_MULTISAMPLE);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_FOG);
    // The workers' context has its own client state: the arrays the
    // immediate draw fills must be on there too.
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    // Depth cleared to the far end, so the surface nearest the top wins.
    glClearDepth(1.0);
    glClearStencil(0);
    glDepthMask(GL_TRUE);
    glStencilMask(255);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    sys_log("model layer size: %f %f", l->size[0], l->size[1]);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    // Pixels of the render; rows from the bottom; height z0 at the bottom of
    // the layer's range, z0 + dz at its top.
    glOrtho(0.0, (double)rw, 0.0, (double)rh, -(double)(f.z0 + f.dz), -(double)f.z0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    sys_log("mdl_gendepth: org(%3.2f %3.2f %3.2f) size(%3.2f %3.2f %3.2f)", f.px, f.py, f.z0, f.sx, f.sy, f.dz);

    int cropped = f.crop[2] - f.crop[0] < 1.0f || f.crop[3] - f.crop[1] < 1.0f;
    if (cropped)
        mdl_cropstencil(l, f);
    mdl_setmodelview(l, f, cropped);
    sys_log("mdl_gendepth: drawing model %d...", l->data.mesh);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    r_bindshader(mdl_originshader);
    r_shaderuniformint(mdl_originswaps, f.swaps);
    mesh_drawtris(m);
    sys_log("mdl_gendepth: r_modeldraw");

    glFinish();
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    sys_log("r_readpixels.readpixels (type:%d %dx%dx%d)", GL_FLOAT, rw, rh, 1);
    glReadPixels(0, 0, rw, rh, GL_BLUE, GL_FLOAT, out);
    int ok = r_checkerror("mdl_gendepth: readpixels") == 0;

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glDisable(GL_DEPTH_CLAMP);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_DEPTH_TEST);
    (void)slot;
    return ok;
}

// A crop that selects nothing (or is not a number) is not applied: the
// scales 1 / width and 1 / height would be infinite.
static int mdl_cropusable(const float *c)
{
    float cw = c[2] - c[0], ch = c[3] - c[1];
    return cw > 0.0f && ch > 0.0f && std::isfinite(cw) && std::isfinite(ch);
}

// Makes the framebuffer, draws and reads back into out; the framebuffer and
// its renderbuffers are deleted again. 1 when out holds the render.
static int mdl_render(int slot, const model *m, int rw, int rh, float *out)
{
    mdl_frame f;
    mdl_setframe(&project.layers[slot], m, rw, rh, f);
    if (!mdl_cropusable(f.crop)) {
        sys_log("mdl_gendepth: unusable crop (%f %f %f %f) ignored", f.crop[0], f.crop[1], f.crop[2], f.crop[3]);
        f.crop[0] = f.crop[1] = 0.0f;
        f.crop[2] = f.crop[3] = 1.0f;
    }
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    r_checkerror("mdl_gendepth: newframebuffer");
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    sys_log("r_bindframebuffer (fbo:%d)", (int)fbo);
    r_checkerror("mdl_gendepth: bindframebuffer");
    uint32_t colour = r_newframebufferrenderbuffer(2, rw, rh, 3, 3); // RGB32F: heights keep float precision
    r_checkerror("mdl_gendepth: color buffer");
    uint32_t depth = r_newframebufferrenderbuffer(0, rw, rh, 1, 0);
    r_checkerror("mdl_gendepth: depthstencil buffer");
    int ok = 0;
    if (fbo && colour && depth && r_checkframebuffer())
        ok = mdl_drawmodel(slot, m, f, rw, rh, out);
    else
        sys_log("mdl_gendepth: framebuffer check failed");
    r_unbindframebuffer();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    if (colour)
        glDeleteRenderbuffers(1, &colour);
    if (depth)
        glDeleteRenderbuffers(1, &depth);
    if (fbo)
        glDeleteFramebuffers(1, &fbo);
    r_checkerror("mdl_gendepth: deleteframebuffer");
    return ok;
}

// The render size: the map's, or sqrt(n) times it per side with n samples.
static void mdl_rendersize(int w, int h, int &rw, int &rh)
{
    rw = w;
    rh = h;
    if (mdl_samplecount >= 2) {
        double k = std::sqrt((double)mdl_samplecount);
        rw = (int)((double)w * k);
        rh = (int)(k * (double)h);
    }
}

// Heights into map: an untouched pixel (exactly 0) keeps the Z fill, any
// other v becomes z0 + v x dz. Rows of the read-back run from the bottom.
static void mdl_storeheights(const project_layer *l, const float *v, image *map)
{
    float z0 = l->pos[2] / project.size[2], dz = l->size[2] / project.size[2];
    int w = map->width, h = map->height;
    float *dst = (float *)map->pixels;
    for (int y = 0; y < h; y++) {
        const float *src = v + (size_t)(h - 1 - y) * w;
        float *row = dst + (size_t)y * w;
        for (int x = 0; x < w; x++)
            if (src[x] != 0.0f)
                row[x] = src[x] * dz + z0;
    }
}

static const model *mdl_layermodel(int slot)
{
    if (slot < 0 || slot >= project_maxlayers) {
        sys_log("mdl_gendepth: bad layer slot %d", slot);
        return nullptr;
    }
    int mesh = project.layers[slot].data.mesh;
    if (mesh < 0 || mesh >= mdl_maxmodels || !models[mesh].sz_verts || !models[mesh].verts) {
        sys_log("mdl_gendepth: layer[%d] has no model (%d)", slot, mesh);
        return nullptr;
    }
    return &models[mesh];
}

void mdl_gendepth(int slot, image *map)
{
    if (!img_isscalar(map, "mdl_gendepth"))
        return;
    const model *m = mdl_layermodel(slot);
    if (!m)
        return;
    int w = map->width, h = map->height, rw, rh;
    mdl_rendersize(w, h, rw, rh);
    sys_log("mdl_gendepth:%dx%d rendersize:%dx%d", w, h, rw, rh);
    image *read = img_allocfloat("mdldepth", rw, rh);
    if (!read)
        return;
    bool worker = img_onworker();
    int ok = 1;
    if (worker)
        ok = sys_makecurrent(1);
    if (ok)
        ok = mdl_render(slot, m, rw, rh, (float *)read->pixels);
    else
        sys_log("mdl_gendepth: no GL context, layer[%d] keeps its Z fill", slot);
    if (worker)
        sys_makecurrent(0);
    image *small = read;
    if (ok && (rw != w || rh != h)) {
        small = img_rescalescalar(read, w, h);
        ok = small != nullptr;
    }
    if (ok)
        mdl_storeheights(&project.layers[slot], (const float *)small->pixels, map);
    if (small != read)
        img_free(small);
    img_free(read);
}
