// Cut rasterisation. The walk follows the slot's sorted order from the
// caller's position, counting 3D cut length and drawing each path's centre
// line (and the link into a linked path) at its deepest tip; the stretch
// that ends inside a segment is drawn up to the tool. Only the rectangle
// the lines touched, widened by half the cutter profile, is dilated, so a
// short stretch costs a small dilation however large the map.
#include "cam/simraster.h"

#include "cam/cam.h"
#include "cam/profile.h"
#include "cam/simulate.h"
#include "cam/generate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "img/convolve.h"
#include "img/image.h"
#include "img/rasterize.h"
#include "img/stamp.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {
// One call's walk: its inputs, the image and what the walk has gathered.
struct rast_walk {
    int op;
    const toolpath *tp;
    const float *size;
    const float *origin;
    image *img;
    int w, h;
    double want; // requested cut length
    double len;  // L: counted so far
    double lowz;
    int box[4];
    int n;
    int *cells;
    float margin; // m, world units
    const float *stop; // vertex where the last walk stopped
    const float *next; // the vertex after it in walk order, null at a path's end
};
} // namespace

// Vertex k of sorted entry e's path in walk order (reverse paths from their end).
static const float *rast_vertex(const toolpath *tp, const toolpath_sorted &e, int k)
{
    const toolpath_path &p = tp->paths[toolpath_sortedpath(e)];
    const uint32_t at = toolpath_sorteddir(e) > 0 ? (uint32_t)k : p.count - 1 - (uint32_t)k;
    return tp->verts + 3 * ((size_t)p.first + at);
}

static double rast_seglen(const float *a, const float *b)
{
    const double dx = (double)b[0] - a[0], dy = (double)b[1] - a[1], dz = (double)b[2] - a[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

static void rast_joinbox(int *box, const int *r)
{
    box[0] = std::min(box[0], r[0]);
    box[1] = std::min(box[1], r[1]);
    box[2] = std::max(box[2], r[2]);
    box[3] = std::max(box[3], r[3]);
}

// Every sorted entry must name a path whose vertices lie inside the slot's
// array: a damaged slot (or one read from a damaged file) is refused before
// anything is drawn.
static int rast_checkslot(const toolpath *tp, int op)
{
    for (uint32_t s = 0; s < tp->num_sorted; s++) {
        const uint32_t p = toolpath_sortedpath(tp->sorted[s]);
        if (p >= tp->num_paths) {
            sys_log("cam_rasteroplength: op[%d] sorted entry %u names path %u of %u", op, s, p, tp->num_paths);
            return 0;
        }
        const toolpath_path &pp = tp->paths[p];
        if ((uint64_t)pp.first + pp.count > tp->num_verts) {
            sys_log("cam_rasteroplength: op[%d] path %u runs past the %u vertices", op, p, tp->num_verts);
            return 0;
        }
    }
    return 1;
}

// Step 2, and the checks that keep the walk inside its arrays.
static const toolpath *rast_refuse(int op, const int *path, const int *move, int n, const int *cells)
{
    if (op < 0 || op >= cam_maxops) {
        sys_log("cam_rasteroplength: no operation record %d", op);
        return nullptr;
    }
    const camop &o = cam_ops[op];
    if (o.generating.load(std::memory_order_acquire) || o.toolpath < 0 || *path == -1 || *move == -1)
        return nullptr;
    if (!toolpath_valid(o.toolpath, "cam_rasteroplength"))
        return nullptr;
    if (*path < -1 || *move < -1 || n < 0 || (n > 0 && !cells) || o.tool < 1 || o.tool > cam_maxtools) {
        sys_log("cam_rasteroplength: op[%d] bad position %d/%d, cells %d or tool %d", op, *path, *move, n, o.tool);
        return nullptr;
    }
    if (sim_width < 1 || sim_height < 1) {
        sys_log("cam_rasteroplength: no simulation size");
        return nullptr;
    }
    const toolpath *tp = &toolpaths[o.toolpath];
    return rast_checkslot(tp, op) ? tp : nullptr;
}

static bool rast_inbox(const float *p, const float *b)
{
    return p[0] >= b[0] && p[0] <= b[2] && p[1] >= b[1] && p[1] <= b[3];
}

// Whether segment a-b meets the widened cell box b (low x, low y, high x, high y).
static bool rast_segmeets(const float *a, const float *p, const float *box)
{
    if (rast_inbox(p, box))
        return true;
    const double ex = (double)p[0] - a[0], ey = (double)p[1] - a[1], ez = (double)p[2] - a[2];
    const double corners[4][2] = {{box[0], box[1]}, {box[2], box[1]}, {box[0], box[3]}, {box[2], box[3]}};
    int above = 0;
    for (const auto &c : corners)
        above += ((c[0] - a[0]) * ey - (c[1] - a[1]) * ex) >= 0.0;
    if (above == 0 || above == 4)
        return false;
    const double len2 = ex * ex + ey * ey + ez * ez;
    if (!(len2 > 0.0))
        return false;
    // The corners are taken at the segment's own height, so where the
    // canvas origin sits never tilts the overlap of a sloping segment.
    bool lo = false, hi = false;
    for (const auto &c : corners) {
        const double t = ((c[0] - a[0]) * ex + (c[1] - a[1]) * ey) / len2;
        lo = lo || t >= 0.0;
        hi = hi || t <= 1.0;
    }
    return lo && hi;
}

// Step 9: raises each cell whose box, widened by the margin, the polyline meets.
static void rast_markcells(rast_walk &w, const std::vector<float> &pts)
{
    const int count = (int)pts.size() / 3;
    if (w.n <= 0 || count < 1)
        return;
    for (int r = 0; r < w.n; r++) {
        for (int c = 0; c < w.n; c++) {
            const float xa = w.origin[0] + w.size[0] * c / w.n, xb = w.origin[0] + w.size[0] * (c + 1) / w.n;
            const float ya = w.origin[1] + w.size[1] * (1.0f - (float)r / w.n);
            const float yb = w.origin[1] + w.size[1] * (1.0f - (float)(r + 1) / w.n);
            const float box[4] = {std::min(xa, xb) - w.margin, std::min(ya, yb) - w.margin,
                                  std::max(xa, xb) + w.margin, std::max(ya, yb) + w.margin};
            bool hit = rast_inbox(pts.data(), box);
            for (int k = 0; !hit && k + 1 < count; k++)
                hit = rast_segmeets(&pts[3 * k], &pts[3 * (k + 1)], box);
            if (!hit)
                continue;
            w.cells[r * w.n + c]++;
            sys_debuglog("\t\top[%d] cell[%d][%d] = (%f,%f)-(%f,%f)", w.op, c, r, box[0], box[1], box[2], box[3]);
        }
    }
}

// Step 5.4: the straight link from the previous entry's end into a linked path.
static void rast_drawlink(rast_walk &w, int p, int count)
{
    const toolpath_sorted &prev = w.tp->sorted[p - 1];
    const int pc = (int)w.tp->paths[toolpath_sortedpath(prev)].count;
    if (pc < 1)
        return;
    const float *from = rast_vertex(w.tp, prev, pc - 1);
    const float *to = rast_vertex(w.tp, w.tp->sorted[p], 0);
    sys_debuglog("\top[%d] rasterizing cut to next path%d[%d]... (%f,%f)->(%f,%f)", w.op, p, count, from[0], from[1],
                 to[0], to[1]);
    const float pts[6] = {from[0], from[1], from[2], to[0], to[1], to[2]};
    int r[4];
    img_rasterizepolymax(w.img, w.size, w.origin, 2, pts, r);
    rast_joinbox(w.box, r);
    // The link cuts too, so its cells must be uploaded with the rest.
    rast_markcells(w, std::vector<float>(pts, pts + 6));
}

// Steps 5.6 to 5.10 for sorted entry p; true when the walk stopped inside it.
static bool rast_walkpath(rast_walk &w, int p, int *move, double *fraction)
{
    const toolpath_sorted &e = w.tp->sorted[p];
    const int count = (int)w.tp->paths[toolpath_sortedpath(e)].count;
    sys_debuglog("\trasterizing op[%d] path%d[%d].move[%d] (dir:%d cutlen = %f)...", w.op, p, count, *move,
                 toolpath_sorteddir(e) > 0 ? -1 : 0, w.len);
    const int first = std::min(*move, count - 2);
    if (w.len == 0.0 && *fraction > 0.0)
        w.len = -*fraction * rast_seglen(rast_vertex(w.tp, e, first), rast_vertex(w.tp, e, first + 1));
    int k = first;
    bool stopped = false;
    for (; k < count - 1; k++) {
        const float *a = rast_vertex(w.tp, e, k);
        const double seg = rast_seglen(a, rast_vertex(w.tp, e, k + 1));
        if (w.len + seg >= w.want) {
            *fraction = (w.want - w.len) / seg;
            w.len = w.want;
            stopped = true;
            break;
        }
        w.lowz = std::min(w.lowz, (double)a[2]);
        *fraction = 0.0;
        w.len += seg;
    }
    w.lowz = std::min(w.lowz, (double)rast_vertex(w.tp, e, k)[2]);
    std::vector<float> pts;
    for (int j = first; j <= k; j++)
        pts.insert(pts.end(), rast_vertex(w.tp, e, j), rast_vertex(w.tp, e, j) + 3);
    int r[4];
    img_rasterizepolymax(w.img, w.size, w.origin, k - first + 1, pts.data(), r);
    sys_debuglog("\top[%d] rasterized rect(%d,%d)-(%d,%d)", w.op, r[0], r[1], r[2], r[3]);
    rast_joinbox(w.box, r);
    w.stop = rast_vertex(w.tp, e, k);
    w.next = k + 1 < count ? rast_vertex(w.tp, e, k + 1) : nullptr;
    if (stopped) {
        // The segment in progress is cut up to the tool: the samples of the
        // whole segment up to the fraction, so resuming redraws them exactly.
        img_rasterizesegmax(w.img, w.size, w.origin, w.stop, w.next, *fraction, r);
        rast_joinbox(w.box, r);
        float tip[3];
        for (int i = 0; i < 3; i++)
            tip[i] = (float)((1.0 - *fraction) * w.stop[i] + *fraction * w.next[i]);
        w.lowz = std::min(w.lowz, (double)tip[2]);
        pts.insert(pts.end(), tip, tip + 3);
        *move = k;
    }
    rast_markcells(w, pts);
    return stopped;
}

// Step 5: the walk over the sorted entries.
static void rast_walkall(rast_walk &w, int *path, int *move, double *fraction)
{
    const int N = (int)w.tp->num_sorted;
    while (w.len < w.want) {
        if (*path >= N) {
            *path = -1;
            return;
        }
        const toolpath_sorted &e = w.tp->sorted[*path];
        const toolpath_path &pp = w.tp->paths[toolpath_sortedpath(e)];
        if (pp.count < 2) {
            if (pp.count == 1)
                img_rasterizepolymax(w.img, w.size, w.origin, 1, rast_vertex(w.tp, e, 0), nullptr);
            ++*path, *move = 0, *fraction = 0.0;
            continue;
        }
        // Only on entering the path: a call resuming inside it drew no link.
        if (*path > 0 && (pp.flags & PATH_LINK) && *move == 0 && *fraction == 0.0)
            rast_drawlink(w, *path, (int)pp.count);
        if (!rast_walkpath(w, *path, move, fraction))
            ++*path, *move = 0, *fraction = 0.0;
    }
}

// Steps 10 to 13: the touched rectangle widened by half the profile,
// dilated by it and stamped back. False when an image could not be had.
static bool rast_dilate(rast_walk &w, int toolindex, float maxdepth, int *rect)
{
    const float canvas[3] = {w.size[0], -w.size[1], -w.size[2]};
    image *k = cam_gentoolprofile(toolindex, canvas, w.w, maxdepth);
    if (!k)
        return false;
    sys_debuglog("...op[%d] tool profile generated (%dx%d)", w.op, k->width, k->height);
    const double px = k->width * 0.5 + 1.0, py = k->height * 0.5 + 1.0;
    const double w1 = w.w, h1 = w.h;
    const int x0 = (int)std::clamp(w.box[0] - px, 0.0, w1), x1 = (int)std::clamp(w.box[2] + px, 0.0, w1);
    const int y0 = (int)std::clamp(w.box[1] - py, 0.0, h1), y1 = (int)std::clamp(w.box[3] + py, 0.0, h1);
    if (rect) {
        const int r[4] = {x0, y0, x1, y1};
        memcpy(rect, r, sizeof(r));
    }
    image *crop = img_allocderived(w.img, img_namedr, x1 - x0, y1 - y0, 4);
    if (!crop) {
        img_free(k);
        return false;
    }
    const float *src = (const float *)w.img->pixels;
    for (int y = y0; y < y1; y++)
        memcpy((float *)crop->pixels + (size_t)(y - y0) * crop->width, src + (size_t)y * w.w + x0,
               sizeof(float) * (x1 - x0));
    sys_debuglog("...op[%d] convolving toolpath section with tool profile...", w.op);
    image *out = img_scalarconvo(crop, k, 0, -99999.0f, 0.0f);
    img_free(crop);
    img_free(k);
    if (!out)
        return false;
    // A profile whose centre falls between pixels lowers even uncut pixels
    // a little, and lines above the stock give negative depths: neither is
    // a cut, and the image holds only what was cut.
    float *o = (float *)out->pixels;
    for (size_t i = 0; i < (size_t)out->width * out->height; i++)
        o[i] = std::max(o[i], 0.0f);
    img_simplestamp(out, w.img, img_stampoffset(x0, y0));
    img_free(out);
    return true;
}

image *cam_rasteroplength(int op, int *path, int *move, double *fraction, double *length, const float *size,
                          const float *origin, float *toolpos, int *rect, int n, int *cells)
{
    if (!path || !move || !fraction || !length || !size || !origin) {
        sys_log("cam_rasteroplength: missing arguments");
        return nullptr;
    }
    sys_debuglog("cam_rasteroplength: op%d path%d move%d length%f", op, *path, *move, *length);
    const toolpath *tp = rast_refuse(op, path, move, n, cells);
    if (!tp)
        return nullptr;
    const camop &o = cam_ops[op];
    image *img = img_alloc("rasteroplen", sim_width, sim_height, 4);
    if (!img)
        return nullptr;
    const tool &t = cam_tools[o.tool - 1];
    // Two pixels beyond 0.51 diameters: a drawn pixel lies up to a pixel from
    // its line and the profile reaches half a pixel past the cutter.
    const double pixel = std::max(std::fabs(size[0]) / sim_width, std::fabs(size[1]) / sim_height);
    const float m = (float)(t.diameter * 0.51 * cam_unitsfactor(t.units, img_refscale) + 2.0 * pixel);
    sys_debuglog("op[%d] cell margin x:%f y:%f", op, m, m);
    rast_walk w{op, tp, size, origin, img, sim_width, sim_height, *length, 0.0, 999999.0,
                {9999999, 9999999, -9999999, -9999999}, n, cells, m, nullptr, nullptr};
    if (*length > 0.0)
        rast_walkall(w, path, move, fraction);
    if (*path >= (int)tp->num_sorted)
        *path = -1;
    *length = w.len;
    if (toolpos && w.stop) {
        for (int i = 0; i < 3; i++)
            toolpos[i] = w.next ? (float)((1.0 - *fraction) * w.stop[i] + *fraction * w.next[i]) : w.stop[i];
    }
    sys_debuglog("...rasterized op[%d] cutlength:%.5f path%d/%d rect(%d,%d)-(%d,%d)", op, w.len, *path,
                 (int)tp->num_sorted, w.box[0], w.box[1], w.box[2], w.box[3]);
    w.box[0] = (int)std::clamp((float)w.box[0], 0.0f, (float)w.w);
    w.box[2] = (int)std::clamp((float)w.box[2], 0.0f, (float)w.w);
    w.box[1] = (int)std::clamp((float)w.box[1], 0.0f, (float)w.h);
    w.box[3] = (int)std::clamp((float)w.box[3], 0.0f, (float)w.h);
    if (w.box[0] >= w.box[2] || w.box[1] >= w.box[3]) {
        img_free(img);
        sys_debuglog("...op[%d] null rect (%d,%d)-(%d,%d) bailing...", op, w.box[0], w.box[1], w.box[2], w.box[3]);
        return nullptr;
    }
    // The box's origin z is the canvas top in machine Z.
    const float top = origin[2];
    if (top - w.lowz < 0.0 || !rast_dilate(w, o.tool - 1, (float)(top - w.lowz), rect)) {
        img_free(img);
        return nullptr;
    }
    return img;
}
