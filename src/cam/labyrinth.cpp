// The Labyrinth Carving generator. Contents: the grid size from the stepover;
// the maze as an image ringed by closed cells; its outline; the passes with
// the rest clip and the engage or nearest-next order; the job function.
#include "cam/labyrinth.h"

#include "cam/engage.h"
#include "cam/maze.h"
#include "cam/parallel.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "img/image.h"
#include "img/resample.h"
#include "img/stamp.h"
#include "sys/log.h"

#include <climits>
#include <cstring>
#include <cmath>

namespace {
// What one run holds, freed together on every way out.
struct labyr_work {
    maze m;
    image *ret = nullptr, *sc = nullptr;
    contour *outline = nullptr;
    ~labyr_work()
    {
        maze_free(&m);
        img_free(ret);
        img_free(sc);
        cont_free(outline);
    }
};
} // namespace

// Cells across a side of the given length: whole stepovers, rounded down to
// even; 0 (logged) outside 2..65,534, where remainders by the size or the
// 16-bit wall coordinates would fail.
static int labyr_side(const cam_gen *g, float length, const char *axis)
{
    const double n = std::floor(length / g->step); // in float, as the canvas and stepover are
    const int64_t cells = n > (double)INT_MAX ? INT_MAX : (int64_t)n & ~(int64_t)1;
    if (cells < 2 || cells > maze_maxside) {
        sys_log("%s: %s of %f over stepover %f gives %lld cells (2..%d)", g->fn, axis, length, g->step,
                (long long)cells, maze_maxside);
        return 0;
    }
    return (int)cells;
}

// The maze as a scalar image of (nx + 1) x (ny + 1): closed cells 1, open 0,
// with closed cells along every side. Null (logged) when an image cannot be had.
static image *labyr_image(const cam_gen *g, labyr_work &work)
{
    const int nx = work.m.nx, ny = work.m.ny;
    uint8_t *p = work.ret->pixels;
    for (size_t i = 0, n = (size_t)nx * (size_t)ny; i < n; i++)
        p[i] = work.m.cells[i] == maze_open ? 0 : 255;
    maze_free(&work.m);
    image *scl = img_scalarize(work.ret, 1.0f, 0.0f);
    img_free(work.ret);
    work.ret = nullptr;
    image *img = scl ? img_allocfloat("maze", nx + 1, ny + 1) : nullptr;
    if (img) {
        float *f = (float *)img->pixels;
        for (size_t i = 0, n = (size_t)img->width * (size_t)img->height; i < n; i++)
            f[i] = 1.0f;
        img_simplestamp(scl, img, img_stampoffset(1, 1));
    } else {
        sys_log("%s: no maze image", g->fn);
    }
    img_free(scl);
    return img;
}

// Steps 1 to 7: grid, maze, outline; 0 (logged) on failure.
static int labyr_outline(cam_gen *g, labyr_work &work)
{
    const camop *op = g->op;
    const int nx = labyr_side(g, g->size[0], "width"), ny = nx ? labyr_side(g, g->size[1], "height") : 0;
    if (!nx || !ny)
        return 0;
    sys_log("labyrinth size = %dx%d", nx, ny);
    // The float image ringed by closed cells is the largest: refuse it before
    // the maze is grown rather than after.
    if ((int64_t)(nx + 1) * (ny + 1) * 4 > INT_MAX) {
        sys_log("%s: a %dx%d maze image is too large", g->fn, nx + 1, ny + 1);
        return 0;
    }
    work.ret = img_alloc("labyrinthret", nx, ny, 1);
    uint32_t symmetry;
    memcpy(&symmetry, &op->aux[2], sizeof(symmetry));
    if (!work.ret || !maze_generate(&work.m, nx, ny, op->aux[1], symmetry))
        return 0;
    image *img = labyr_image(g, work);
    if (!img)
        return 0;
    cam_lines c;
    camop_linesgeometry(g, &c);
    work.outline = cont_fromimage(img, 0.5f, c.sizevec, c.originvec, 1.0f, 0.0f, 0.0f, 0);
    img_free(img);
    if (!work.outline)
        return 0;
    sys_log("camop_labyrinth: maze contour = %d polylines", (int)work.outline->numpolys);
    if (op->cont)
        con_append(work.outline, op->cont);
    return 1;
}

// One pass: draped, clipped against the rest, added open with the entry
// method as engage kind, then given entry cuts or ordered nearest-next.
static void labyr_pass(const cam_gen *g, const cam_lines &w, const image *sc, const contour *outline, float ztop,
                       float zlow, float *from)
{
    const camop *op = g->op;
    contour *k = camop_drapelevel(&w, sc, outline, zlow, ztop);
    if (!k)
        return;
    k = camop_restclip(g, k);
    const float *v = k->verts;
    for (uint32_t i = 0; i < k->numpolys; v += 3 * (size_t)k->vertcount[i], i++)
        if (k->vertcount[i] >= 2) {
            float end[3];
            toolpath_addpath(end, g->slot, op->entry, 0, 0, 0, 1, (int)k->vertcount[i], v);
        }
    if (k->numpolys)
        cam_genorderlevel(g, ztop, from);
    cont_free(k);
}

void camop_labyrinth(cam_gen *g)
{
    labyr_work work;
    if (!cam_gencheckstep(g))
        return;
    if (!labyr_outline(g, work)) {
        cam_genfail(g);
        return;
    }
    cam_lines w;
    camop_linesgeometry(g, &w);
    work.sc = camop_cutsurface(g, &w);
    if (!work.sc) {
        cam_genfail(g);
        return;
    }
    if (!cam_genclaim(g, 1))
        return;
    float from[3] = {-g->origin[0], -g->origin[1], -g->origin[2]};
    for (float ztop = g->z0, zlow = cam_gennextlevel(g, ztop);; ztop = zlow, zlow = cam_gennextlevel(g, zlow)) {
        labyr_pass(g, w, work.sc, work.outline, ztop, zlow, from);
        if (cam_genleveldone(g, zlow))
            break;
    }
    cam_genend(g, 0, nullptr);
}

void camop_labyrinthjob(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_labyrinth", "CAMOP_LABYRINTH"))
        return;
    camop_labyrinth(&g);
}
