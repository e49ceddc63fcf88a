// Brush strokes and the raster selection. The viewport records points into
// the ring and queues "brushstrokes"; the job measures each pixel's
// distance to the new pieces inside their padded box, maps it through the
// brush profile and folds it by maximum into the layer-sized stroke image.
// When the stroke is committed layer_brushstrokes applies the image to the
// layer's raster with one "layer data" event.
//
// Ring discipline: the main thread alone writes points and strokes and
// publishes brush_pointcount and brush_strokecount with release; the job
// alone advances brush_pointsdone and brush_strokesdone, with release after
// it has read. A writer that finds the ring or the stroke slots full of
// unread entries is refused rather than overwrite them.
#include "project/brush.h"

#include "img/blend.h"
#include "img/blur.h"
#include "img/chunk.h"
#include "img/convolve.h"
#include "img/distance.h"
#include "img/fade.h"
#include "img/image.h"
#include "img/resample.h"
#include "img/stamp.h"
#include "img/vector.h"
#include "project/canvas.h"
#include "project/layer.h"
#include "project/layertex.h"
#include "project/project.h"
#include "project/rasteredit.h"
#include "project/transform.h"
#include "project/undo.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

int32_t brush_layer = -1;
std::atomic<int32_t> brush_pointcount{0};
std::atomic<int32_t> brush_pointsdone{0};
std::atomic<int32_t> brush_strokecount{0};
std::atomic<int32_t> brush_strokesdone{0};
int32_t brush_strokepoints[brush_ringstrokes] = {};
int32_t brush_curstroke = 0;
int32_t brush_newest = 0;
int32_t brush_prevend = -1;
std::atomic<int32_t> brush_busy{0};
std::atomic<int32_t> brush_result{0};
image *brush_strokes = nullptr;
image *brush_vectors = nullptr;
int32_t brush_mode = 0;
float brush_strokearea[4] = {};
brush_settingsrecord brush_settings;
int32_t raster_previewrefresh = 0;

float (*brush_ring())[3]
{
    return (float(*)[3])project_brush;
}

// ------------------------------------------------------------ the ring

int brush_addpoint(const float *point)
{
    float(*ring)[3] = brush_ring();
    int32_t count = brush_pointcount.load(std::memory_order_relaxed);
    if (!ring || count - brush_pointsdone.load(std::memory_order_acquire) >= brush_ringpoints)
        return 0;
    int entry = count & (brush_ringpoints - 1);
    memcpy(ring[entry], point, sizeof(ring[entry]));
    brush_newest = entry;
    brush_strokepoints[brush_curstroke]++;
    brush_pointcount.store(count + 1, std::memory_order_release);
    return 1;
}

int brush_beginstroke(const float *point)
{
    int32_t strokes = brush_strokecount.load(std::memory_order_relaxed);
    if (!brush_ring() || strokes - brush_strokesdone.load(std::memory_order_acquire) >= brush_ringstrokes ||
        brush_pointcount.load(std::memory_order_relaxed) - brush_pointsdone.load(std::memory_order_acquire) >=
            brush_ringpoints)
        return 0;
    brush_curstroke = strokes & (brush_ringstrokes - 1);
    brush_strokepoints[brush_curstroke] = 0;
    brush_addpoint(point);
    brush_strokecount.store(strokes + 1, std::memory_order_release);
    return 1;
}

// ------------------------------------------------------------ mode

static void brush_freestrokes()
{
    img_free(brush_strokes);
    img_free(brush_vectors);
    brush_strokes = brush_vectors = nullptr;
}

// Deletes the live "selection" texture, so that the next upload under the
// name makes a new one instead of handing the old one back.
static void brush_freeselectiontexture()
{
    for (int slot = 0; slot < r_maxtextures; slot++)
        if (r_textures[slot].width && strcmp(r_textures[slot].name, "selection") == 0)
            r_freetexture(slot);
}

static void brush_showselection(const image *img)
{
    brush_freeselectiontexture();
    if (project_selectiontexture)
        project_selectiontexture(img);
}

static void brush_resetring()
{
    brush_pointcount.store(0);
    brush_pointsdone.store(0);
    brush_strokecount.store(0);
    brush_strokesdone.store(0);
    memset(brush_strokepoints, 0, sizeof(brush_strokepoints));
    brush_curstroke = 0;
    brush_newest = 0;
    brush_prevend = -1;
}

void project_rasterselect(int on)
{
    brush_freestrokes();
    int slot = project_selectedlayer;
    if (on) {
        if (slot < 0 || slot >= project_maxlayers) {
            sys_log("cannot enable raster-editing mode on null layer");
            return;
        }
        if (project.layers[slot].type != layer_raster) {
            sys_log("cannot enable raster-editing mode on non-raster-layers (layer:%d)", slot);
            return;
        }
        project_rastertool = 0;
        brush_layer = slot;
        brush_resetring();
        raster_previewrefresh = 1;
        return;
    }
    if (project_rastertool == -1)
        return;
    project_rastertool = -1;
    brush_strokesdone.store(brush_strokecount.load());
    img_free(selectionmap);
    selectionmap = nullptr;
    image *all = img_allocfloat("rasterselect", 2, 2);
    if (all) {
        std::fill((float *)all->pixels, (float *)all->pixels + 4, 1.0f);
        brush_showselection(all);
        img_free(all);
    }
    if (brush_layer >= 0 && brush_layer < project_maxlayers)
        project.layers[brush_layer].stale = 1;
    project_updatecanvas(0, canvas_view, (uint32_t)project_layergroup);
}

void raster_settoolparams(int n, const float *values)
{
    int tool = project_rastertool;
    bool ok = values && n > 0;
    if (ok && tool == 3 && n <= levels_maxpoints) {
        for (int i = 0; i < n; i++) {
            rasteredit_levels.points[i][0] = values[2 * i];
            rasteredit_levels.points[i][1] = values[2 * i + 1];
        }
        rasteredit_levels.count = rasteredit_levelspoints = n;
    } else if (ok && tool == 4 && n >= 3) {
        rasteredit_hradius = values[0];
        rasteredit_zradius = values[1];
        rasteredit_vertical = values[2];
    } else if (ok && tool == 5) {
        rasteredit_draftangle = values[0];
    } else if (ok && (tool == 6 || tool == 7) && n >= 4) {
        rasteredit_tilecount = values[0];
        rasteredit_tilerows = values[1];
        rasteredit_tileradius = values[2];
        rasteredit_ringphase = values[3];
    } else if (ok && tool == 8) {
        rasteredit_quantlevels = values[0];
        if (n > 1)
            rasteredit_quanthq = values[1] != 0.0f;
    } else {
        return;
    }
    raster_previewrefresh = 1;
}

// ------------------------------------------------------------ stroke job

// The pending pieces as contiguous runs, read out of the ring. Copying
// takes a piece across the ring's end in one run, exactly as if it had
// been recorded without crossing it.
struct brush_pieces {
    std::vector<float> points; // x, y, z of every piece back to back
    std::vector<int32_t> counts;
    float lo[2] = {1e30f, 1e30f}, hi[2] = {-1e30f, -1e30f};
};

static void brush_gather(brush_pieces &p, int32_t done, int32_t strokes, int32_t target)
{
    float(*ring)[3] = brush_ring();
    memcpy(ring[brush_ringpoints], ring[0], sizeof(ring[0]));
    for (int32_t s = strokes; s < target; s++) {
        int32_t n = brush_strokepoints[s & (brush_ringstrokes - 1)];
        for (int32_t i = 0; i < n; i++) {
            const float *q = ring[(done + i) & (brush_ringpoints - 1)];
            p.points.insert(p.points.end(), q, q + 3);
            for (int a = 0; a < 2; a++)
                p.lo[a] = std::min(p.lo[a], q[a]), p.hi[a] = std::max(p.hi[a], q[a]);
        }
        p.counts.push_back(n);
        done += n;
    }
}

// Marks the pieces read: their points and slots may be written again.
static void brush_consume(int32_t strokes, int32_t target)
{
    int32_t points = 0;
    for (int32_t s = strokes; s < target; s++) {
        int32_t &n = brush_strokepoints[s & (brush_ringstrokes - 1)];
        points += n;
        n = 0;
    }
    brush_pointsdone.fetch_add(points, std::memory_order_release);
    brush_strokesdone.store(target, std::memory_order_release);
}

static float brush_quality()
{
    float c = cfg_getf(cfg_canvasquality);
    return c + (1.0f - c) * 0.1f;
}

// The stroke image of the edited layer, made on the first stroke.
static bool brush_stroketarget(const project_layer &l, float ppu)
{
    if (brush_strokes && (brush_mode != 4 || brush_vectors))
        return true;
    double w = (double)l.size[0] * ppu, h = (double)l.size[1] * ppu;
    if (!(w >= 1.0 && h >= 1.0 && w * h <= canvas_maxpixels)) {
        sys_log("layer_strokedist: no %.0fx%.0f stroke image for layer[%d]", w, h, brush_layer);
        return false;
    }
    if (!brush_strokes)
        brush_strokes = img_allocfloat("brshstrks", (int)w, (int)h);
    if (brush_mode == 4 && !brush_vectors)
        brush_vectors = img_alloc("brshvecs", (int)w, (int)h, 4);
    return brush_strokes && (brush_mode != 4 || brush_vectors);
}

// The padded box of the pieces in stroke-image pixels (whole pixels, one of
// margin), clipped to the image; false when under 2 pixels either way.
static bool brush_box(const brush_pieces &p, const project_layer &l, float r, int *box, float *pad)
{
    const int w = brush_strokes->width, h = brush_strokes->height;
    float q = brush_quality(), perpixel = l.size[0] * project.scale * (float)project.ppi;
    float extra = brush_mode == 3 ? 24.0f : brush_mode == 4 ? 16.0f : 0.0f;
    float more = extra * brush_settings.value * q / perpixel;
    pad[0] = r / l.size[0] + more + (float)l.smooth / (float)w;
    pad[1] = r / l.size[1] + more + (float)l.smooth / (float)h;
    double x0 = std::floor(((double)p.lo[0] - pad[0] + 0.5) * w) - 1.0;
    double x1 = std::ceil(((double)p.hi[0] + pad[0] + 0.5) * w) + 1.0;
    double y0 = std::floor((0.5 - (double)p.hi[1] - pad[1]) * h) - 1.0;
    double y1 = std::ceil((0.5 - (double)p.lo[1] + pad[1]) * h) + 1.0;
    box[0] = (int)std::clamp(x0, 0.0, (double)w);
    box[1] = (int)std::clamp(y0, 0.0, (double)h);
    box[2] = (int)std::clamp(x1, 0.0, (double)w);
    box[3] = (int)std::clamp(y1, 0.0, (double)h);
    return box[2] - box[0] >= 2 && box[3] - box[1] >= 2;
}

// Distances (project units) from each pixel of the box to the pieces, the
// stroke length carried along them and, for smudging, their direction.
static bool brush_distances(const brush_pieces &p, const int *box, float ppu, image *dist, image *z, image *vec)
{
    const int w = brush_strokes->width, h = brush_strokes->height;
    std::fill((float *)dist->pixels, (float *)dist->pixels + (size_t)dist->width * dist->height, 99999.0f);
    const float size[3] = {(float)dist->width, (float)dist->height, 1.0f}, origin[3] = {0.0f, 0.0f, 0.0f};
    std::vector<float> pix;
    size_t at = 0;
    double start = sys_seconds();
    for (int32_t n : p.counts) {
        pix.resize(3 * (size_t)n);
        for (int32_t i = 0; i < n; i++, at++) {
            pix[3 * i] = (p.points[3 * at] + 0.5f) * (float)w - (float)box[0];
            pix[3 * i + 1] = (0.5f - p.points[3 * at + 1]) * (float)h - (float)box[1];
            pix[3 * i + 2] = p.points[3 * at + 2];
        }
        if (n > 0 && img_scalardistpoly(dist, z, vec, 1.0f / ppu, size, origin, n, pix.data()) < 0)
            return false;
    }
    sys_debuglog("...polydists stroke (%fs)", sys_seconds() - start);
    return true;
}

// Folds the box's heights into the stroke image by maximum: overlapping
// strokes keep the higher one.
static void brush_foldmax(const image *heights, const int *box)
{
    const float *src = (const float *)heights->pixels;
    float *dst = (float *)brush_strokes->pixels;
    for (int y = box[1]; y < box[3]; y++)
        for (int x = box[0]; x < box[2]; x++) {
            float v = src[(size_t)(y - box[1]) * heights->width + (x - box[0])];
            float &d = dst[(size_t)y * brush_strokes->width + x];
            d = std::max(d, v);
        }
    sys_debuglog("...blended stroke");
}

// Smudge: each pixel's direction scaled by its height, blended into the
// accumulated vectors inside the box.
static void brush_foldvectors(const image *heights, image *vec, const int *box)
{
    const float *hp = (const float *)heights->pixels;
    img_vec *v = (img_vec *)vec->pixels;
    for (size_t i = 0; i < (size_t)vec->width * vec->height; i++)
        v[i] = {img_veccomponent((float)v[i].x * hp[i]), img_veccomponent((float)v[i].y * hp[i])};
    image *tmp = img_alloc("vectmp", brush_vectors->width, brush_vectors->height, 4);
    if (!tmp)
        return;
    img_simplestamp(vec, tmp, img_stampoffset(box[0], box[1]));
    sys_debuglog("...stamped brushvectors");
    img_blendrect(brush_vectors, tmp, img_blendvector, box);
    sys_debuglog("...blended new brushvectors");
    img_free(tmp);
}

// The canvas fractions of the padded box, through the layer's frame.
static void brush_area(const brush_pieces &p, const float *pad, const project_layer &l)
{
    const float corners[4][2] = {{p.lo[0] - pad[0], p.lo[1] - pad[1]},
                                 {p.hi[0] + pad[0], p.lo[1] - pad[1]},
                                 {p.hi[0] + pad[0], p.hi[1] + pad[1]},
                                 {p.lo[0] - pad[0], p.hi[1] + pad[1]}};
    float area[4] = {1e30f, 1e30f, -1e30f, -1e30f};
    for (const auto &c : corners) {
        const float local[3] = {c[0], c[1], 0.0f};
        float world[3];
        layer_transformpoint(world, local, &l);
        for (int a = 0; a < 2; a++) {
            float v = std::clamp(world[a], -99999.0f, 99999.0f);
            area[a] = std::min(area[a], v);
            area[a + 2] = std::max(area[a + 2], v);
        }
    }
    for (int a = 0; a < 4; a++)
        brush_strokearea[a] = area[a] / project.size[a & 1];
    sys_debuglog("...stroke area: (%f,%f)x(%f,%f) = %f", brush_strokearea[0], brush_strokearea[1],
                 brush_strokearea[2], brush_strokearea[3],
                 (brush_strokearea[2] - brush_strokearea[0]) * (brush_strokearea[3] - brush_strokearea[1]));
}

// Heights of the pieces into the stroke image (and vectors); false when
// nothing was drawn.
static bool brush_draw(const brush_pieces &p, const project_layer &l, float ppu)
{
    const brush_settingsrecord &b = brush_settings;
    float decay = b.sizedecay * b.sizedecay * 5.0f;
    float r = b.size * (1.0f - p.points[2] * decay) * 0.5f;
    int box[4];
    float pad[2];
    if (!(r > 0.0f) || !brush_box(p, l, r, box, pad))
        return false;
    int bw = box[2] - box[0], bh = box[3] - box[1];
    image *dist = img_allocfloat("bstrokedist", bw, bh), *z = img_allocfloat("bstrokeZ", bw, bh);
    image *vec = brush_mode == 4 ? img_alloc("bstrokevec", bw, bh, 4) : nullptr;
    bool ok = dist && z && (brush_mode != 4 || vec) && brush_distances(p, box, ppu, dist, z, vec);
    float half = b.size * 0.5f;
    if (ok)
        ok = img_scalardistfade(dist, z, l.size[2] * b.value / half, b.outerradius, b.innerradius,
                                1.0f - 0.999f * b.profile * b.profile, half, b.value, decay,
                                b.valuedecay * b.valuedecay * 5.0f) == 0;
    if (ok && brush_mode == 4)
        brush_foldvectors(dist, vec, box);
    else if (ok)
        brush_foldmax(dist, box);
    if (ok)
        brush_area(p, pad, l);
    img_free(dist);
    img_free(z);
    img_free(vec);
    return ok;
}

void layer_strokedist(void *arg)
{
    int32_t target = (int32_t)(intptr_t)arg;
    int32_t done = brush_pointsdone.load(std::memory_order_relaxed);
    int32_t strokes = brush_strokesdone.load(std::memory_order_relaxed);
    int32_t written = brush_strokecount.load(std::memory_order_acquire);
    target = std::clamp(target, strokes, written);
    int slot = brush_layer;
    if (done == brush_pointcount.load(std::memory_order_acquire) || strokes == target || slot < 0 ||
        slot >= project_maxlayers || project.layers[slot].type != layer_raster || !brush_ring()) {
        brush_busy.store(0, std::memory_order_release);
        return;
    }
    const project_layer &l = project.layers[slot];
    double start = sys_seconds();
    float ppu = (float)project.ppi * project.scale * brush_settings.resolution;
    brush_pieces p;
    brush_gather(p, done, strokes, target);
    bool drawn = !p.points.empty() && brush_stroketarget(l, ppu) && brush_draw(p, l, ppu);
    brush_consume(strokes, target);
    if (drawn)
        project.layers[slot].stale = 1;
    sys_debuglog("...brushstrokes %d pieces (%fs)", (int)p.counts.size(), sys_seconds() - start);
    raster_previewrefresh = 1;
    brush_result.store(1, std::memory_order_release);
    brush_busy.store(0, std::memory_order_release);
}

// ------------------------------------------------------------ applying

// The strokes fitted onto the layer's image, which holds only the crop's
// part of the layer the strokes cover.
static image *brush_fit(const image *strokes, const project_layer &l, const image *img, bool vectors)
{
    const float *c = l.crop;
    float cw = c[2] - c[0], ch = c[3] - c[1];
    if (cw * ch < 0.9999f && cw > 0.0f && ch > 0.0f) {
        image *fit = img_alloc(vectors ? "tmpstrokevec" : "tmpstrokeblnd", img->width, img->height, 4);
        if (!fit)
            return nullptr;
        const float pos[3] = {(0.5f - c[0]) / cw * (float)img->width, (c[3] - 0.5f) / ch * (float)img->height, 0.0f};
        const float size[3] = {(float)img->width / cw, (float)img->height / ch, 1.0f};
        if (vectors)
            img_vecsuperstamp(strokes, fit, pos, size, 0.0f);
        else
            img_superstamp(strokes, fit, pos, size, 0.0f, -99999.0f, 0);
        sys_debuglog("...stamped brushstrokes to accomodate crop");
        return fit;
    }
    sys_debuglog("...scaled brushstrokes to layer content");
    if (strokes->width == img->width && strokes->height == img->height)
        return img_copy(strokes);
    return vectors ? img_rescalevector(strokes, img->width, img->height)
                   : img_rescalescalar(strokes, img->width, img->height);
}

// The layer's raster with the fitted strokes applied in the brush mode.
static image *brush_applymode(const image *img, const image *fit, const project_layer &l)
{
    float perlayer = project.scale * (float)project.ppi;
    switch (brush_mode) {
    case 0:
    case 1:
    case 2: {
        static const int blends[3] = {img_blendadditive, img_blendsubtractive, img_blendmaximum};
        image *out = img_copy(img);
        if (out)
            img_scalarblend(out, fit, blends[brush_mode], 1.0f);
        return out;
    }
    case 3:
        return img_scalarmaskblur(img, fit, 24.0f * brush_settings.value * (float)fit->width / (l.size[0] * perlayer),
                                  24.0f * brush_settings.value * (float)fit->height / (l.size[1] * perlayer));
    case 4:
        return img_vecdisplace(img, fit, -16.0f * (float)fit->width / (l.size[0] * perlayer),
                               -16.0f * (float)fit->height / (l.size[1] * perlayer), brush_settings.blursmudge);
    default:
        return nullptr;
    }
}

void layer_brushstrokes()
{
    int slot = brush_layer;
    bool vectors = brush_mode == 4;
    const image *strokes = vectors ? brush_vectors : brush_strokes;
    if (!strokes) {
        sys_log("layer_brushstrokes: no strokes to apply");
        return;
    }
    if (slot < 0 || slot >= project_maxlayers || project.layers[slot].type != layer_raster ||
        !img_isscalar(project.layers[slot].data.img, "layer_brushstrokes")) {
        sys_log("layer_brushstrokes: layer[%d] is not a raster-layer", slot);
        brush_freestrokes();
        return;
    }
    project_layer &l = project.layers[slot];
    int32_t oldsize = 0, newsize = 0;
    uint8_t *old = layer_blob(slot, &oldsize);
    sys_log("applying brushstrokes to layer[%d]...", slot);
    image *fit = brush_fit(strokes, l, l.data.img, vectors);
    image *out = fit ? brush_applymode(l.data.img, fit, l) : nullptr;
    img_free(fit);
    if (out && !rasteredit_finite(out)) {
        sys_log("layer_brushstrokes: strokes gave heights that are not numbers, layer[%d] kept", slot);
        img_free(out);
        out = nullptr;
    }
    if (out && selectionmap) {
        layer_applyselection(slot, out);
        img_free(out);
    } else if (out) {
        img_free(l.data.img);
        l.data.img = out;
    }
    uint8_t *now = layer_blob(slot, &newsize);
    if (old && now)
        event_queue(event_layerdata, slot, (uint32_t)oldsize, old, (uint32_t)newsize, now);
    sys_free(old);
    sys_free(now);
    brush_freestrokes();
    sys_log("...applied brush strokes to raster-layer");
    l.stale = 1;
    layer_refreshtexture(slot);
}

// ------------------------------------------------------------ selection

// The grow kernel: mode 0 a disc of radius r with a one-pixel soft rim,
// less 1 so that the dilation takes nothing from beyond the rim; mode 1 a
// cone scaled to sum 1.
static image *brush_growkernel(float r, int mode)
{
    int c = (int)std::ceil(r), side = 2 * c + 1;
    image *k = img_allocfloat("kernel", side, side);
    if (!k)
        return nullptr;
    float *px = (float *)k->pixels;
    double sum = 0.0;
    for (int j = -c; j <= c; j++)
        for (int i = -c; i <= c; i++) {
            float d = std::sqrt((float)(i * i + j * j));
            float v = mode == 0 ? (d <= r ? 1.0f : d <= r + 1.0f ? 1.0f - (d - r) : 0.0f)
                                : (d < r ? 1.0f - d / r : 0.0f);
            px[(j + c) * side + (i + c)] = v;
            sum += v;
        }
    for (int i = 0; i < side * side; i++)
        px[i] = mode == 0 ? px[i] - 1.0f : (float)(px[i] / sum);
    sys_log("radius:%f kwh:%d c:%d", r, side, c);
    return k;
}

static uint8_t *brush_selectionblob(const image *sel, int32_t *size)
{
    msg_stream m;
    if (!msg_alloc(&m))
        return nullptr;
    if (img_write(&m, sel) <= 0 || m.failed) {
        sys_free(m.buffer);
        return nullptr;
    }
    *size = m.position;
    return m.buffer;
}

void raster_selectiongrow(float amount, int mode)
{
    if (!selectionmap) {
        sys_log("raster_selectiongrow: no selection");
        return;
    }
    float r = (float)selectionmap->width * amount / project.size[0];
    if (!(std::fabs(r) >= 1.0f) || !std::isfinite(r) || std::fabs(r) > 4096.0f)
        return;
    bool shrink = r < 0.0f;
    image *work = img_copy(selectionmap);
    image *k = brush_growkernel(std::fabs(r), mode);
    if (!work || !k) {
        img_free(work);
        img_free(k);
        return;
    }
    auto invert = [](image *img) {
        float *p = (float *)img->pixels;
        for (size_t i = 0; i < (size_t)img->width * img->height; i++)
            p[i] = 1.0f - p[i];
    };
    if (shrink)
        invert(work);
    image *grown = img_scalarconvo(work, k, mode == 0 ? 0 : 1, -1.0f, 0.0f);
    img_free(work);
    img_free(k);
    if (!grown)
        return;
    img_clampunit(grown->width * grown->height, (float *)grown->pixels);
    if (shrink)
        invert(grown);
    int32_t oldsize = 0, newsize = 0;
    uint8_t *old = brush_selectionblob(selectionmap, &oldsize), *now = brush_selectionblob(grown, &newsize);
    if (old && now)
        event_queue(event_rasterselection, project_selectedlayer, (uint32_t)oldsize, old, (uint32_t)newsize, now);
    sys_free(old);
    sys_free(now);
    img_free(selectionmap);
    selectionmap = grown;
    brush_showselection(selectionmap);
}
