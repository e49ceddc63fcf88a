// Toolpath and heightmap export. The toolpath walk reads the compiled moves
// as the machine will run them, so the exported polylines are exactly the
// feed stretches between retracts. Every way out of both jobs clears the
// busy flag: the main window waits for it before it lets the user go on.
#include "cam/export.h"

#include "cam/cam.h"
#include "cam/compile.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/path.h"
#include "geom/pathedit.h"
#include "geom/pathsvg.h"
#include "img/image.h"
#include "img/imagefile.h"
#include "project/project.h"
#include "sys/log.h"
#include "sys/main.h"

#include <SDL.h>

#include <cstring>
#include <vector>

char export_path[export_maxpath] = {};
double export_starttime = 0.0;
std::atomic<int32_t> export_busy{0};
int export_slotpolls = 1000;
int export_slotpollms = 50;

namespace {
// The polylines of the walk: counts and closed flags over one vertex list.
struct export_polys {
    std::vector<float> verts;
    std::vector<uint32_t> counts;
    std::vector<uint8_t> closed;
    std::vector<float> cur; // the polyline being built
};
} // namespace

static void export_done()
{
    export_busy.store(0, std::memory_order_release);
}

// Ends the current polyline when it has a segment, closed when it comes
// back to its first vertex.
static void export_finish(export_polys &e)
{
    const size_t n = e.cur.size() / 3;
    if (n < 2)
        return;
    const float *a = e.cur.data(), *b = a + 3 * (n - 1);
    const float dx = b[0] - a[0], dy = b[1] - a[1], dz = b[2] - a[2];
    e.closed.push_back(dx * dx + dy * dy + dz * dz <= 0.0f);
    e.counts.push_back((uint32_t)n);
    e.verts.insert(e.verts.end(), e.cur.begin(), e.cur.end());
    e.cur.clear();
}

// Floats a point of code takes from the parameters: an axis each, two per pair.
static uint32_t export_pointfloats(uint32_t code)
{
    return (code & move_x ? 1 : 0) + (code & move_y ? 1 : 0) + (code & move_z ? 1 : 0) +
           (code & move_xy2 ? 2 : 0) + (code & move_xz2 ? 2 : 0) + (code & move_yz2 ? 2 : 0);
}

// Step 3: the moves into polylines. 0 when the moves run past their floats.
static int export_walk(const toolpath &tp, export_polys &e)
{
    float pos[3] = {0.0f, 0.0f, 0.0f};
    size_t at = 0;
    for (uint32_t m = 0; m < tp.num_moves; m++) {
        const move &mv = tp.moves[m];
        const uint32_t per = export_pointfloats(mv.code);
        if ((uint64_t)mv.count * per > tp.num_parms - at) {
            sys_log("toolpath_contour: move %u runs past the %u move floats", m, tp.num_parms);
            return 0;
        }
        for (uint32_t k = 0; k < mv.count; k++) {
            const float *f = tp.parms + at;
            for (int axis = 0, i = 0; axis < 3; axis++)
                if (mv.code & (1u << axis))
                    pos[axis] = f[i++];
            at += per;
            if (mv.kind == move_feed)
                e.cur.insert(e.cur.end(), pos, pos + 3);
        }
        if (mv.kind == move_rapid) {
            export_finish(e);
            e.cur.assign(pos, pos + 3);
        }
    }
    export_finish(e);
    return 1;
}

// Step 1's waits; the toolpath slot, or -1 when none came (or on quit).
static int export_waitslot(const camop &op)
{
    while (op.generating.load(std::memory_order_acquire)) {
        if (sys_quit.load(std::memory_order_acquire))
            return -1;
        SDL_Delay(100);
    }
    for (int k = 0; op.toolpath < 0 && k < export_slotpolls; k++) {
        if (sys_quit.load(std::memory_order_acquire))
            return -1;
        SDL_Delay(export_slotpollms);
    }
    return op.toolpath >= 0 && op.toolpath < toolpath_maxslots && toolpaths[op.toolpath].verts ? op.toolpath : -1;
}

// Steps 5 and 6: one curve per polyline, normalised to the canvas, and the SVG.
static int export_write(const export_polys &e)
{
    path *p = path_new();
    if (!p)
        return 0;
    const float *size = project.size, *low = project.originoffset;
    std::vector<float> norm;
    size_t at = 0;
    for (size_t i = 0; i < e.counts.size(); i++) {
        norm.assign(e.verts.begin() + 3 * at, e.verts.begin() + 3 * (at + e.counts[i]));
        for (size_t k = 0; k < norm.size(); k += 3) {
            norm[k] = (norm[k] - low[0]) / size[0] - 0.5f;
            norm[k + 1] = (norm[k + 1] - low[1]) / size[1] - 0.5f;
        }
        addcurvepoly(p, (int)e.counts[i], norm.data(), e.closed[i], 0.0f);
        at += e.counts[i];
    }
    const float page[2] = {size[0], size[1]};
    const int bytes = path_exportsvg(export_path, p, page);
    path_free(p);
    return bytes;
}

void toolpath_contour(void *entry)
{
    const projop &e = *(const projop *)entry;
    if (e.camop < 0 || e.camop >= cam_maxops)
        return export_done();
    const int slot = export_waitslot(cam_ops[e.camop]);
    if (slot < 0) {
        sys_error("failed to generate polylines from operation's toolpath!");
        return export_done();
    }
    sys_log("contouring toolpath[%d]...", slot);
    export_polys polys;
    if (!export_walk(toolpaths[slot], polys))
        return export_done();
    const size_t nverts = polys.verts.size() / 3;
    sys_log("...toolpath_contour: generated %d polylines, %d verts", (int)polys.counts.size(), (int)nverts);
    if (polys.counts.size() > (size_t)cont_maxpolys || nverts > (size_t)cont_maxverts) {
        sys_error("toolpath_contour: %zu polylines of %zu vertices exceed the %d polylines and %d vertices an "
                  "export holds; nothing written",
                  polys.counts.size(), nverts, cont_maxpolys, cont_maxverts);
        return export_done();
    }
    if (!project.size[0] || !project.size[1] || !export_write(polys)) {
        sys_error("toolpath_contour: could not write \"%s\"", export_path);
        return export_done();
    }
    sys_status("...exported toolpath (%.2fs)", sys_seconds() - export_starttime);
    export_done();
}

// The file name after the last '/' or '\'.
static const char *export_filename(const char *p)
{
    const char *name = p;
    for (const char *c = p; *c; c++)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    return name;
}

void project_saveheightmap(void *img)
{
    image *heights = (image *)img;
    const uint32_t bytes = heights ? img_save(export_path, heights) : 0;
    img_free(heights);
    export_done();
    if (!bytes) {
        sys_error("failed to save heightmap image!");
        return;
    }
    sys_status("...saved heightmap \"%s\" (%.2fmb, %.3fs)", export_filename(export_path), bytes / 1048576.0,
               sys_seconds() - export_starttime);
}
