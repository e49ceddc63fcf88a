// Entry ramps and helixes, and the two orderings that place unsorted cut
// paths and make the entry cuts they want. An entry cut takes the sorted
// place just before its path only when it was really appended; otherwise
// the path is entered by a plunge, so compilation never meets a place
// without a path.
#include "cam/engage.h"

#include "cam/tool.h"
#include "cam/toolpath.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

float engage_cutz = 0.0f;
float engage_slope = 0.0f;
int engage_flag = 0;
float engage_helixradius = 0.0f;

constexpr int ramp_maxverts = 4096;
constexpr int helix_maxpoints = 1023;
constexpr double engage_pi = 3.14159265358979323846;

void engage_sethelixradius(int n)
{
    if (n < 1 || n > cam_maxtools) {
        sys_log("engage_sethelixradius: no tool %d", n);
        engage_helixradius = 0.0f;
        return;
    }
    engage_helixradius = 0.25f * cam_toolunitsfactor(n) * cam_tools[n - 1].flutediameter;
}

static float engage_hdist(const float *a, const float *b)
{
    float dx = b[0] - a[0], dy = b[1] - a[1];
    return sqrtf(dx * dx + dy * dy);
}

// The debug walk that explains a failed ramp: the ramp height against each
// polyline vertex from start, until the ramp passes below one or a lap ends.
static void ramp_debugwalk(int dir, int start, int count, const float *verts)
{
    float h = engage_cutz;
    int prev = start;
    for (int k = 0; k <= count; k++) {
        int i = ((start + dir * k) % count + count) % count;
        h -= engage_hdist(verts + prev * 3, verts + i * 3) * engage_slope;
        prev = i;
        int below = h < verts[i * 3 + 2];
        sys_debuglog(" v[%d].z:%f = %f%s", i, verts[i * 3 + 2], h, below ? " (intersection)" : "");
        if (below)
            return;
    }
}

static int ramp_fail(const char *why, int dir, int start, int count, const float *verts, int closed, float reached)
{
    sys_log("%s", why);
    ramp_debugwalk(dir, start, count, verts);
    sys_log("...failed to generate ramp: Z%f->Z%f slope:%f (poly verts:%d start:%d dir:%d closed:%d)", engage_cutz,
            reached, engage_slope, count, start, dir, closed);
    return -1;
}

// Appends the built ramp as a cut path; -1 when it could not be stored.
static int ramp_append(int slot, int link, const std::vector<float> &ramp)
{
    uint8_t flags = (engage_flag ? ENGAGE_RAMP : 0) | (link ? PATH_LINK : 0);
    return toolpath_appendverts(slot, flags, (int)(ramp.size() / 3), ramp.data(), 0, 1);
}

static int ramp_closed(int slot, int link, int dir, int start, int count, const float *verts)
{
    std::vector<float> ramp;
    ramp.reserve(ramp_maxverts * 3);
    const float *s = verts + start * 3;
    ramp.insert(ramp.end(), {s[0], s[1], engage_cutz});
    float h = engage_cutz;
    int prev = start, idx = start, idle = 0;
    while ((int)(ramp.size() / 3) < ramp_maxverts && idle < count) {
        idx = ((idx + dir) % count + count) % count;
        const float *v = verts + idx * 3;
        float d = engage_hdist(verts + prev * 3, v);
        if (d * d <= 1e-6f) {
            idle++; // a lap of coincident vertices can never descend
            continue;
        }
        idle = 0;
        h -= d * engage_slope;
        ramp.insert(ramp.end(), {v[0], v[1], h});
        if (h <= v[2]) {
            size_t n = ramp.size();
            if (d > 0.0001f) {
                // Pull the last vertex back to where the ramp line meets the cut.
                float p = verts[prev * 3 + 2], l = v[2], rp = ramp[n - 4], rl = ramp[n - 1];
                float q = (p - l) - (rp - rl);
                if (fabsf(q) >= 1e-5f) {
                    float t = (rl - l) / q;
                    for (int a = 0; a < 3; a++)
                        ramp[n - 3 + a] = (1.0f - t) * ramp[n - 3 + a] + t * ramp[n - 6 + a];
                }
            }
            if (ramp_append(slot, link, ramp) < 0)
                return -1;
            sys_log("...generated ramp: Z%f->Z%f slope:%f (verts:%d start:%d dir:%d closed:%d)", engage_cutz,
                    ramp[n - 1], engage_slope, count, start, dir, 1);
            return idx;
        }
        prev = idx;
    }
    sys_log("toolpath_addramp verts overflow!");
    return ramp_fail("insufficient ramp verts created for closed vert Z coords:", dir, start, count, verts, 1, h);
}

static int ramp_open(int slot, int dir, int count, const float *verts)
{
    int idx = dir >= 1 ? 0 : count - 1, step = dir >= 1 ? 1 : -1;
    int start = idx;
    std::vector<float> ramp(verts + idx * 3, verts + idx * 3 + 3);
    float h = verts[idx * 3 + 2];
    // Zig-zag along the path, turning at either end, climbing until the
    // height passes engage_cutz.
    while (h <= engage_cutz) {
        if ((int)(ramp.size() / 3) >= ramp_maxverts - 1) {
            sys_log("toolpath_addramp verts overflow!");
            sys_log("generated %d ramp vertz", 0);
            return ramp_fail("insufficient ramp verts created for unclosed vert Z coords:", dir, start, count, verts,
                             0, h);
        }
        int prev = idx;
        idx += step;
        if (idx == 0 || idx == count - 1)
            step = -step;
        h += engage_hdist(verts + prev * 3, verts + idx * 3) * engage_slope;
        // Where the path climbs faster than the ramp, the ramp keeps to the
        // path's own height: a ramp below it would cut into the relief.
        ramp.insert(ramp.end(), {verts[idx * 3], verts[idx * 3 + 1], std::max(h, verts[idx * 3 + 2])});
    }
    size_t n = ramp.size() / 3;
    sys_log("generated %d ramp vertz", (int)n);
    if (n < 2)
        return ramp_fail("insufficient ramp verts created for unclosed vert Z coords:", dir, start, count, verts, 0,
                         h);
    // Move the top onto its last segment at exactly engage_cutz.
    float *top = &ramp[(n - 1) * 3], *below = &ramp[(n - 2) * 3];
    float t = (engage_cutz - below[2]) / (top[2] - below[2]);
    for (int a = 0; a < 2; a++)
        top[a] = below[a] + t * (top[a] - below[a]);
    top[2] = engage_cutz;
    std::vector<float> down(ramp.size());
    for (size_t i = 0; i < n; i++)
        memcpy(&down[i * 3], &ramp[(n - 1 - i) * 3], 3 * sizeof(float));
    // verts may lie in the slot's own array, which the append can move.
    float bottom = down[(n - 1) * 3 + 2];
    if (ramp_append(slot, 0, down) < 0)
        return -1;
    sys_log("...generated ramp: Z%f->Z%f slope:%f (verts:%d start:%d dir:%d closed:%d)", engage_cutz, bottom,
            engage_slope, count, start, dir, 0);
    return idx;
}

int toolpath_addramp(int slot, int link, int dir, int start, int count, const float *verts, int closed)
{
    if (!toolpath_valid(slot, "toolpath_addramp"))
        return -1;
    if (count < 2 || !verts || (closed && (start < 0 || start >= count))) {
        sys_log("toolpath_addramp: bad polyline (verts:%d start:%d)", count, start);
        return -1;
    }
    dir = dir >= 1 ? 1 : -1;
    if (closed)
        return ramp_closed(slot, link, dir, start, count, verts);
    return ramp_open(slot, dir, count, verts);
}

int toolpath_addramp(int slot, int link, int dir, int start, int count, const float *verts)
{
    return toolpath_addramp(slot, link, dir, start, count, verts, 1);
}

static void engage_unit(float *out, const float *from, const float *to)
{
    float d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
    float len = sqrtf(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (int a = 0; a < 3; a++)
        out[a] = len > 0.0f ? d[a] / len : 0.0f;
}

// The direction of travel through P: the normalised sum of the unit
// vectors into and out of it.
static void helix_tangent(float t[3], int start, int count, const float *verts)
{
    const float *p = verts + start * 3;
    float in[3], out[3], zero[3] = {0.0f, 0.0f, 0.0f};
    engage_unit(in, verts + ((start - 1 + count) % count) * 3, p);
    engage_unit(out, p, verts + ((start + 1) % count) * 3);
    float sum[3] = {in[0] + out[0], in[1] + out[1], in[2] + out[2]};
    engage_unit(t, zero, sum);
}

int cam_addhelicalengage(int slot, int dir, int start, int count, const float *verts, float radius)
{
    if (!toolpath_valid(slot, "cam_addhelicalengage"))
        return -1;
    if (count < 1 || !verts || start < 0 || start >= count) {
        sys_log("cam_addhelicalengage: bad polyline (verts:%d start:%d)", count, start);
        return -1;
    }
    // A copy: verts may lie in the slot's own array, which the append can move.
    float p[3];
    memcpy(p, verts + start * 3, sizeof(p));
    float t[3];
    helix_tangent(t, start, count, verts);
    sys_log("helix delta: %f,%f,%f", t[1], -t[0], t[2]);
    double a;
    if (t[0] > 0.0001f)
        a = atan(-t[1] / t[0]) * 180.0 / engage_pi + 180.0;
    else if (t[0] < -0.0001f)
        a = atan(-t[1] / t[0]) * 180.0 / engage_pi;
    else
        a = t[1] > 0.0f ? 90.0 : 270.0;
    float zstep = (float)(radius * 2.0 * engage_pi / 18.0 * engage_slope);
    if (engage_cutz <= p[2])
        return 1;
    float *points = (float *)sys_malloc((helix_maxpoints + 1) * 3 * sizeof(float));
    if (!points) {
        sys_error("cam_addhelicalengage: failed to allocate helix points");
        return -1;
    }
    int n = 0;
    float h = p[2];
    for (;;) {
        a -= dir * 20.0;
        double r = a * engage_pi / 180.0;
        points[n * 3] = (float)(p[0] + radius * t[1] - radius * cos(r));
        points[n * 3 + 1] = (float)(p[1] - radius * t[0] - radius * sin(r));
        points[n * 3 + 2] = h;
        n++;
        h += zstep;
        if (h >= engage_cutz)
            break;
        if (n >= helix_maxpoints) {
            sys_error("cam_addhelix: path vertex buffer overflow!");
            sys_free(points);
            return 0;
        }
    }
    int result = 1;
    if (n >= 2) {
        // Stored from the top point down to the one at P's height.
        std::vector<float> down((size_t)n * 3);
        for (int i = 0; i < n; i++)
            memcpy(&down[i * 3], points + (n - 1 - i) * 3, 3 * sizeof(float));
        if (toolpath_appendverts(slot, engage_flag ? ENGAGE_HELIX : 0, n, down.data(), 0, -1) < 0)
            result = -1;
    }
    sys_debuglog("...generated helix entry cut from %f->%f with %d verts (zstep:%f rad:%f)", engage_cutz, p[2], n,
                 zstep, radius);
    sys_free(points);
    return result;
}

static const float *engage_vert(int slot, uint32_t path, int64_t k)
{
    const toolpath &tp = toolpaths[slot];
    return tp.verts + ((size_t)tp.paths[path].first + k) * 3;
}

// Makes the entry cut a path asks for, placing it in the sorted order just
// before the path; the path is then linked from the entry cut's end.
// Returns 1 when an entry cut was placed.
static int engage_entry(int slot, uint32_t path, int dir)
{
    toolpath &tp = toolpaths[slot];
    toolpath_path &p = tp.paths[path];
    uint32_t before = tp.num_paths;
    int count = (int)p.count;
    const float *verts = engage_vert(slot, path, 0);
    int made = 0;
    if (p.flags & ENGAGE_RAMP) {
        sys_debuglog("toolpath[%d].path[%u] = ENGAGE_RAMP (vert:%u num:%d dir:%d)", slot, path, p.first, count, dir);
        int start = dir >= 1 ? 0 : count - 1;
        made = toolpath_addramp(slot, 0, dir, start, count, verts, (p.flags & PATH_CLOSED) ? 1 : 0) >= 0 &&
               tp.num_paths > before;
        if (made) {
            p.flags = (uint8_t)((p.flags & ~ENGAGE_RAMP) | PATH_LINK);
            tp.paths[before].flags |= ENGAGE_RAMP | PATH_SORTED;
        }
    } else if (p.flags & ENGAGE_HELIX) {
        // A closed path repeats its first vertex; the helix's neighbours
        // come from the distinct ones.
        int distinct = (p.flags & PATH_CLOSED) && count > 2 ? count - 1 : count;
        int start = dir >= 1 ? 0 : (count - 1) % distinct;
        made = count > 0 &&
               cam_addhelicalengage(slot, dir, start, distinct, verts, engage_helixradius) == 1 &&
               tp.num_paths > before;
        if (made) {
            p.flags = (uint8_t)((p.flags & ~ENGAGE_HELIX) | PATH_LINK);
            tp.paths[before].flags |= ENGAGE_HELIX | PATH_SORTED;
        } else {
            p.flags = (uint8_t)(p.flags & ~(ENGAGE_HELIX | PATH_LINK));
        }
    }
    if (made)
        toolpath_pushsorted(slot, before, 1);
    return made;
}

static float engage_dist2(const float *a, const float *b)
{
    float dx = b[0] - a[0], dy = b[1] - a[1], dz = b[2] - a[2];
    return dx * dx + dy * dy + dz * dz;
}

struct sort_state {
    int slot;
    uint32_t from, to; // candidates
    int bidir, mode;
    float pos[3];
    int prev = -1, pdir = 1;
    float p2 = 0.0f; // squared distance of the previous entry
};

// The start vertex of a path for a direction: first forward, last reverse.
static const float *sort_start(int slot, uint32_t path, int dir)
{
    const toolpath_path &p = toolpaths[slot].paths[path];
    int64_t last = p.count ? (int64_t)p.count - 1 : 0;
    return engage_vert(slot, path, dir >= 1 ? 0 : last);
}

// Step 3: the nearest unsorted candidate by the rule of bidir and mode.
static int sort_nearest(sort_state &s, int *dir, float *best)
{
    const toolpath &tp = toolpaths[s.slot];
    int found = -1;
    *best = 0.0f;
    auto consider = [&](uint32_t i, float d2, int d) {
        if (found < 0 || d2 < *best) {
            found = (int)i;
            *best = d2;
            *dir = d;
        }
    };
    for (uint32_t i = s.from; i < s.to; i++) {
        if (tp.paths[i].flags & PATH_SORTED)
            continue;
        float ds = engage_dist2(s.pos, sort_start(s.slot, i, 1));
        float de = engage_dist2(s.pos, sort_start(s.slot, i, -1));
        if (s.bidir) {
            consider(i, ds, 1);
            consider(i, de, -1);
        } else if (!(s.mode & 1)) {
            consider(i, de, 1);
        } else {
            float d2 = s.pdir >= 1 ? de : ds;
            int d = ((int)i <= s.prev && d2 <= 2.0f * s.p2) ? -1 : 1;
            consider(i, d2, d);
        }
    }
    return found;
}

// Steps 5 to 7 for the chosen path.
static void sort_place(sort_state &s, uint32_t path, int dir, float l2)
{
    toolpath &tp = toolpaths[s.slot];
    s.p2 = engage_dist2(s.pos, sort_start(s.slot, path, dir));
    if (s.p2 < l2)
        tp.paths[path].flags |= PATH_LINK;
    else if (!engage_entry(s.slot, path, dir))
        tp.paths[path].flags &= (uint8_t)~PATH_LINK;
    tp.paths[path].flags |= PATH_SORTED;
    toolpath_pushsorted(s.slot, path, dir);
    memcpy(s.pos, sort_start(s.slot, path, -dir), sizeof(s.pos));
    s.prev = (int)path;
    s.pdir = dir;
}

void toolpath_sortpaths(float out[3], int slot, const float pos[3], int bidir, int mode, float linkdist)
{
    memcpy(out, pos, 3 * sizeof(float));
    if (!toolpath_valid(slot, "toolpath_sortpaths"))
        return;
    toolpath &tp = toolpaths[slot];
    if (tp.num_sorted >= tp.num_paths)
        return;
    sys_log("sortengagepaths toolpath[%d]", slot);
    sort_state s;
    s.slot = slot;
    s.from = tp.num_sorted;
    s.to = tp.num_paths; // ramps and helixes appended meanwhile are no candidates
    s.bidir = bidir;
    s.mode = mode;
    memcpy(s.pos, pos, sizeof(s.pos));
    float l2 = linkdist * linkdist;
    uint32_t left = 0;
    for (uint32_t i = s.from; i < s.to; i++)
        left += (tp.paths[i].flags & PATH_SORTED) ? 0 : 1;
    for (uint32_t placed = 0; placed < left; placed++) {
        int dir = 1, path = -1;
        float best = 9999999.0f;
        if (placed == 0 && (!bidir || (mode & 1))) {
            for (uint32_t i = s.from; i < s.to && path < 0; i++)
                if (!(tp.paths[i].flags & PATH_SORTED))
                    path = (int)i;
        } else {
            path = sort_nearest(s, &dir, &best);
        }
        if (path < 0) {
            sys_log("toolpath_sortpaths: failed to find next closest path for %u", placed);
            break;
        }
        sys_debuglog("sort[%u] = path[%d] dir:%d dist:%f", tp.num_sorted, path, dir, best);
        sort_place(s, (uint32_t)path, dir, l2);
    }
    sys_log("sortengage complete: numpaths=%u numsorted=%u", tp.num_paths, tp.num_sorted);
    memcpy(out, s.pos, 3 * sizeof(float));
}

void toolpath_engagepaths(int slot)
{
    if (!toolpath_valid(slot, "toolpath_engagepaths"))
        return;
    toolpath &tp = toolpaths[slot];
    sys_log("engagepaths toolpath[%d] subpaths %u->%u", slot, tp.num_sorted, tp.num_paths);
    uint32_t to = tp.num_paths;
    for (uint32_t i = tp.num_sorted; i < to; i++) {
        if (tp.paths[i].flags & PATH_SORTED)
            continue;
        // A failed ramp keeps the path's flags; its link stays as the
        // generator set it.
        engage_entry(slot, i, 1);
        tp.paths[i].flags |= PATH_SORTED;
        toolpath_pushsorted(slot, i, 1);
    }
    sys_log("...engage cuts generated");
}
