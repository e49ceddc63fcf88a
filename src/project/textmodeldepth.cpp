// Text and model depth as new raster-layers. Both jobs run on a worker and
// read the request without a lock: the main window filled it before it
// queued them and nothing touches it until layer_gendone is published.
#include "project/textmodeldepth.h"

#include "img/blur.h"
#include "img/image.h"
#include "img/resample.h"
#include "img/stamp.h"
#include "project/genraster.h"
#include "project/modeldepth.h"
#include "project/project.h"
#include "render/fontcache.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/log.h"

#include <cmath>

// Ends a job: the result (possibly null) published; the generator stays
// claimed until the viewport has looked at it.
static void tmd_done(image *result)
{
    layer_genrequest.result = result;
    project.generating[0].store(0, std::memory_order_release);
    layer_gendone.store(1, std::memory_order_release);
}

// Ends a job that failed: nothing held, nothing to install, and the
// generator free to start again.
static void tmd_fail(image *held)
{
    img_free(held);
    layer_genrequest.result = nullptr;
    layer_genkind.store(0, std::memory_order_release);
    project.generating[0].store(0, std::memory_order_release);
}

static const project_layer *tmd_source(int type, const char *caller)
{
    const int slot = layer_genrequest.layer;
    if (slot < 0 || slot >= project_maxlayers || project.layers[slot].type != type) {
        sys_log("%s: layer %d is not the expected kind", caller, slot);
        return nullptr;
    }
    return &project.layers[slot];
}

// Replaces *img by next (freeing the old one); 0 when next is null.
static int tmd_replace(image **img, image *next)
{
    if (!next)
        return 0;
    img_free(*img);
    *img = next;
    return 1;
}

// The text object's image as a scalar field: its ready image at full canvas
// quality, else rendered again at canvas resolution.
static image *tmd_textimage(const text_object &t, float scale, float offset)
{
    if (cfg_getf(cfg_canvasquality) == 1.0f) {
        sys_log("using text-layer's existing image...");
        image *ready = text_getimage((int)(&t - text_objects), 1);
        return ready ? img_scalarize(ready, scale, offset) : nullptr;
    }
    sys_log("rendering text-layer at canvas resolution...");
    int position = -1;
    for (int i = 0; sys_fontorder && i < sys_fontcount; i++)
        if (sys_fontorder[i] == t.font)
            position = i;
    image *drawn = fontdraw_cache(position, (int)t.ptsize, t.spacing, "%s", t.text);
    if (!drawn)
        return nullptr;
    image *field = img_scalarize(drawn, scale, offset);
    if (field)
        sys_log("...rendered text-layer at %dx%d (size:%d space:%.3f)", field->width, field->height,
                (int)t.ptsize, t.spacing);
    img_free(drawn);
    return field;
}

// Crop and mirror as the canvas shows the layer: crop fractions count rows
// from the bottom, and a mirrored axis takes its crop from the other side.
static int tmd_cropmirror(image **img, const project_layer &l)
{
    const float *c = l.crop;
    const bool mx = l.flags & layer_mirrorx, my = l.flags & layer_mirrory;
    if (c[2] - c[0] < 1.0f || c[3] - c[1] < 1.0f) {
        float rect[4] = {c[0], 1.0f - c[3], c[2], 1.0f - c[1]};
        if (mx)
            rect[0] = 1.0f - c[2], rect[2] = 1.0f - c[0];
        if (my)
            rect[1] = c[1], rect[3] = c[3];
        if (!tmd_replace(img, img_croprect(*img, rect)))
            return 0;
    }
    if (mx || my)
        return tmd_replace(img, img_flip(*img, mx, my));
    return 1;
}

// Blurs into a margin of zeros wide enough for the blur, so the text keeps
// its size and the layer grows by the margin.
static int tmd_smoothmargin(image **img, float smooth, float ppu)
{
    const int m = (int)std::floor(smooth + 0.5f);
    image *margin = img_allocfloat("txtmrg", (*img)->width + 2 * m, (*img)->height + 2 * m);
    if (!margin)
        return 0;
    img_simplestamp(*img, margin, img_stampoffset(m, m));
    image *blurred = img_scalarblur(margin, smooth, 0);
    img_free(margin);
    if (!tmd_replace(img, blurred))
        return 0;
    layer_genrequest.size[0] += 2.0f * m / ppu;
    layer_genrequest.size[1] += 2.0f * m / ppu;
    return 1;
}

void layer_textdepth(void *)
{
    project.generating[0].store(1, std::memory_order_release);
    layer_genrequestrecord &r = layer_genrequest;
    const double start = sys_seconds();
    const float ppu = (float)project.ppi * project.scale;
    const int width = (int)(r.size[0] * project.scale * (float)project.ppi);
    const int height = (int)(project.scale * r.size[1] * (float)project.ppi);
    const project_layer *l = tmd_source(layer_text, "layer_textdepth");
    if (!l || l->data.text < 0 || l->data.text >= text_maxobjects || !text_objects ||
        text_objects[l->data.text].font < 0 || width < 1 || height < 1) {
        sys_log("layer_textdepth: no text object to render (%dx%d)", width, height);
        return tmd_fail(nullptr);
    }
    const bool invert = l->flags & layer_invert;
    image *img = tmd_textimage(text_objects[l->data.text], invert ? -1.0f : 1.0f, invert ? 1.0f : 0.0f);
    if (!img || !tmd_cropmirror(&img, *l) || !tmd_replace(&img, img_rescalescalar(img, width, height)) ||
        (r.chamfer >= 1.0f && !tmd_smoothmargin(&img, r.chamfer, ppu))) {
        sys_log("layer_textdepth: failed to make the text's depth");
        return tmd_fail(img);
    }
    sys_log("...generated depth from text-layer (elapsed %.3fs)", sys_seconds() - start);
    tmd_done(img);
}

// Scales the field to its highest point and the Z size to match.
static void tmd_normalise(image *img, float canvasz)
{
    const int64_t n = (int64_t)img->width * img->height;
    float *p = (float *)img->pixels;
    float top = -9999.0f;
    for (int64_t i = 0; i < n; i++)
        top = std::fmax(top, p[i]);
    sys_log("maximum genraster value:%f", top);
    if (top <= 0.0f)
        return;
    for (int64_t i = 0; i < n; i++)
        p[i] /= top;
    layer_genrequest.size[2] = top * canvasz;
}

void layer_modeldepth(void *)
{
    project.generating[0].store(1, std::memory_order_release);
    layer_genrequestrecord &r = layer_genrequest;
    const double start = sys_seconds();
    const float *canvas = project.size;
    const int width = (int)(canvas[0] * project.scale * (float)project.ppi);
    const int height = (int)(canvas[1] * project.scale * (float)project.ppi);
    const project_layer *l = tmd_source(layer_model, "layer_modeldepth");
    if (!l || l->data.mesh < 0 || width < 1 || height < 1) {
        sys_log("layer_modeldepth: no model to render (%dx%d)", width, height);
        return tmd_fail(nullptr);
    }
    image *depth = img_allocfloat("modeldepth", width, height);
    if (!depth)
        return tmd_fail(nullptr);
    mdl_gendepth(r.layer, depth);
    if (r.chamfer >= 1.0f && !tmd_replace(&depth, img_scalarblur(depth, r.chamfer, 0)))
        return tmd_fail(depth);
    int rect[4];
    image *cut = img_novelrect(depth, 0.0f, rect);
    img_free(depth);
    if (!cut) {
        sys_log("maximum genraster value:%f", -9999.0);
        sys_log("layer_modeldepth: the model covers no pixel of the canvas");
    } else {
        r.zorigin = 0.0f;
        r.centre[0] = (float)(rect[0] + rect[2]) / 2.0f / (float)width * canvas[0];
        r.centre[1] = (1.0f - (float)(rect[1] + rect[3]) / 2.0f / (float)height) * canvas[1];
        r.size[2] = l->size[2];
        r.size[0] = (float)(rect[2] - rect[0]) / (float)width * canvas[0];
        r.size[1] = (float)(rect[3] - rect[1]) / (float)height * canvas[1];
        tmd_normalise(cut, canvas[2]);
    }
    sys_log("...generated depth from model (elapsed %.3fs)", sys_seconds() - start);
    tmd_done(cut);
}
