// Curves of a paths-layer as polylines in a contour, in canvas units. The
// conversion works on a copy of the layer's frame, so a conversion without
// the rotation never writes the layer that other threads may be reading.
#include "geom/topolys.h"

#include "geom/contour.h"
#include "geom/path.h"
#include "geom/pathsel.h"
#include "geom/poly.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/project.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>

namespace {
struct topolys_run {
    project_layer frame; // the layer's frame, rotation 0 when not applied
    const path *p;
    float step;
    float scale; // inches per project unit
    int closedonly, selectedonly;
};
} // namespace

static bool topolys_selected(const path *p, int c)
{
    return path_curveselected(p, c) != 0;
}

// Sum of the squared lengths of the segments: a polyline that has none to
// speak of is no outline.
static float topolys_extent(const float *v, int count)
{
    float sum = 0.0f;
    for (int i = 0; i + 1 < count; i++) {
        const float dx = v[3 * i + 3] - v[3 * i], dy = v[3 * i + 4] - v[3 * i + 1];
        sum += dx * dx + dy * dy;
    }
    return sum;
}

// Converts curve c (number n in the walk) into out; 0 when out has no room
// left for it (logged), 1 otherwise, also for a curve that was skipped.
static int topolys_curve(const topolys_run &r, int c, int n, contour *out)
{
    const int closed = r.p->curves[c].closed ? 1 : 0;
    int count = 0;
    float *v = path_curveverts(r.p, c, r.step, &count);
    if (!v) {
        sys_log("failed to generate poly from curve%02d", n);
        return 1;
    }
    sys_log("...generated %d verts for curve%02d (closed:%s)", count, n, closed ? "T" : "F");
    for (int i = 0; i < count; i++)
        layer_transformpoint(v + 3 * i, v + 3 * i, &r.frame);
    const int m = count > 2 ? poly_vertdot(count, v, 0.9995f, 0.0005f / r.scale, 0.25f / r.scale) : count;
    sys_debuglog("...transformed and simplified %d -> %d verts (closed:%d)", count, m, closed);
    int ok = 1;
    const float theta = m > 1 ? topolys_extent(v, m) : 0.0f;
    if (m > 1 && theta > 1e-8f) {
        ok = cont_addpoly(out, v, (uint32_t)m, (uint32_t)closed, -1, "path_topolys");
        if (ok)
            sys_debuglog("...added %d verts from curve%02d (theta:%f closed:%d)", m, n, theta, closed);
    }
    sys_free(v);
    return ok;
}

contour *path_topolys(int layer, float tolerance, int closedonly, int selectedonly, int applyrotation)
{
    contour *out = cont_new();
    const double start = sys_seconds();
    if (!out)
        return nullptr;
    if (layer < 0 || layer >= project_maxlayers || project.layers[layer].type != layer_paths ||
        !project.layers[layer].data.pth) {
        sys_log("path_topolys: layer[%d] is no paths-layer", layer);
        return out;
    }
    const project_layer &l = project.layers[layer];
    topolys_run r{l, l.data.pth, 0.0f, project.scale > 0.0f ? project.scale : 1.0f, closedonly, selectedonly};
    if (!applyrotation)
        r.frame.rotation = 0.0f;
    r.step = tolerance * (project.size[0] + project.size[1]) / std::max(l.size[0] + l.size[1], 0.0001f);
    const bool onlysel = selectedonly && project_pathslayeredit > 0;
    int n = 0;
    for (int c = r.p->ctail; c >= 0 && n < r.p->csz; c = r.p->curves[c].next, n++) {
        if (closedonly && !r.p->curves[c].closed) {
            sys_debuglog("skipping non-closed curve%02d...", n);
            continue;
        }
        if (onlysel && !topolys_selected(r.p, c))
            continue;
        if (!topolys_curve(r, c, n, out)) {
            sys_log("path_topolys: layer[%d] has more polylines or vertices than a contour holds", layer);
            cont_free(out);
            return nullptr;
        }
    }
    sys_log("generated %u paths, %u verts from layer[%d] (elapsed %.3fs)", out->numpolys, out->numverts, layer,
            sys_seconds() - start);
    return out;
}
