// The sweep in five stages: rails sampled into world polylines with a
// normalised length; every profile into a table of signed heights above its
// chord; the tables into a texture; quads along the rails whose corners
// carry texture coordinates into a working image; then the heights looked
// up, cropped, scaled and normalised.
#include "project/pathsweep.h"

#include "geom/path.h"
#include "geom/pathsel.h"
#include "geom/vec.h"
#include "img/chunk.h"
#include "img/image.h"
#include "img/rasterize.h"
#include "img/resample.h"
#include "project/genraster.h"
#include "project/project.h"
#include "project/transform.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

int32_t pathsweep_numrails = -1;
int32_t pathsweep_rails[2] = {-1, -1};
int32_t pathsweep_railreversed[2] = {0, 0};
int32_t pathsweep_numprofiles = 0;
int32_t pathsweep_profiles[pathsweep_maxprofiles] = {};
float pathsweep_positions[2][pathsweep_maxprofiles] = {};
uint32_t pathsweep_changed = 0;
int32_t pathsweep_smooth = 1;

void pathsweep_raillengths(const float *points, int n, float *out)
{
    if (n < 1)
        return;
    out[0] = 0.0f;
    for (int i = 1; i < n; i++) {
        const float *a = points + (i - 1) * 3, *b = points + i * 3;
        out[i] = out[i - 1] + std::sqrt((b[0] - a[0]) * (b[0] - a[0]) + (b[1] - a[1]) * (b[1] - a[1]) +
                                        (b[2] - a[2]) * (b[2] - a[2]));
    }
    const float total = out[n - 1];
    for (int i = 1; i < n; i++)
        out[i] = total > 0.0f ? out[i] / total : (float)i / (float)(n - 1);
}

void pathsweep_removecurve(path *p, int c)
{
    if (pathsweep_numrails >= 0) {
        for (int r = pathsweep_numrails - 1; r >= 0; r--) {
            if (pathsweep_rails[r] != c)
                continue;
            for (int k = r; k + 1 < pathsweep_numrails; k++) {
                pathsweep_rails[k] = pathsweep_rails[k + 1];
                pathsweep_railreversed[k] = pathsweep_railreversed[k + 1];
                memcpy(pathsweep_positions[k], pathsweep_positions[k + 1], sizeof(pathsweep_positions[k]));
            }
            pathsweep_numrails--;
            pathsweep_changed = 1;
        }
        for (int i = pathsweep_numprofiles - 1; i >= 0; i--) {
            if (pathsweep_profiles[i] != c)
                continue;
            for (int k = i; k + 1 < pathsweep_numprofiles; k++) {
                pathsweep_profiles[k] = pathsweep_profiles[k + 1];
                for (int r = 0; r < pathsweep_numrails && r < 2; r++)
                    pathsweep_positions[r][k] = pathsweep_positions[r][k + 1];
            }
            pathsweep_numprofiles--;
            pathsweep_changed = 1;
        }
    }
    path_deselectcurve(p, c);
    path_removecurve(p, c);
    project_changetime.store((float)sys_seconds());
}

namespace {

struct sweep_rail {
    float *pts = nullptr; // world points
    float *len = nullptr; // normalised length at each point
    int n = 0;
    bool closed = false;
    int order[pathsweep_maxprofiles]; // profiles by position, ascending
};

struct sweep_work {
    const project_layer *layer = nullptr;
    int slot = -1;
    const path *pth = nullptr;
    int numrails = 0, numprofiles = 0;
    sweep_rail rails[2];
    float invchord[pathsweep_maxprofiles] = {};
    float chord[pathsweep_maxprofiles] = {};
    float *tables = nullptr; // numprofiles x 513
    image *texture = nullptr;
    image *uv = nullptr;
    double start = 0.0;
};

void sweep_free(sweep_work &w)
{
    for (sweep_rail &r : w.rails) {
        sys_free(r.pts);
        sys_free(r.len);
        r.pts = r.len = nullptr;
    }
    sys_free(w.tables);
    w.tables = nullptr;
    img_free(w.texture);
    img_free(w.uv);
    w.texture = w.uv = nullptr;
}

bool sweep_curveok(const path *p, int c)
{
    return p && c >= 0 && c < p->csz && p->cused[c];
}

float sweep_pos(int r, int profile) { return pathsweep_positions[r][profile]; }

int sweep_rail1(sweep_work &w, int r)
{
    sweep_rail &rail = w.rails[r];
    int n = 0;
    float *pts = sweep_curveok(w.pth, pathsweep_rails[r]) ? path_curveverts(w.pth, pathsweep_rails[r], 0.001f, &n)
                                                           : nullptr;
    if (!pts || n < 2) {
        sys_log("job_genpathsweep: rail %d has no usable curve", r);
        sys_free(pts);
        return 0;
    }
    if (pathsweep_railreversed[r])
        for (int i = 0, j = n - 1; i < j; i++, j--)
            for (int k = 0; k < 3; k++)
                std::swap(pts[i * 3 + k], pts[j * 3 + k]);
    for (int i = 0; i < n; i++)
        layer_localtoworld(pts + i * 3, pts + i * 3, w.slot);
    rail.pts = pts;
    rail.n = n;
    rail.closed = w.pth->curves[pathsweep_rails[r]].closed != 0;
    rail.len = (float *)sys_malloc(n * (int)sizeof(float));
    if (!rail.len)
        return 0;
    pathsweep_raillengths(pts, n, rail.len);
    sys_log("rail%d numverts = %d", r, n);
    for (int k = 0; k < w.numprofiles; k++) {
        rail.order[k] = k;
        if (pathsweep_positions[r][k] > 0.9999f)
            pathsweep_positions[r][k] = 0.9999f;
    }
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (int k = 0; k + 1 < w.numprofiles; k++)
            if (sweep_pos(r, rail.order[k]) > sweep_pos(r, rail.order[k + 1])) {
                std::swap(rail.order[k], rail.order[k + 1]);
                swapped = true;
            }
    }
    sys_debuglog("rail%d profiles order:", r);
    for (int k = 0; k < w.numprofiles; k++)
        sys_debuglog("  #%02d = profile%02d:path%02d (%.2f)", k, rail.order[k], pathsweep_profiles[rail.order[k]],
                     sweep_pos(r, rail.order[k]));
    return 1;
}

// The signed height of the profile above each of 513 chord points, found
// where the chord's perpendicular meets the profile polyline. A sample
// whose perpendicular meets nothing lies on the chord.
int sweep_profile(sweep_work &w, int p)
{
    const int c = pathsweep_profiles[p];
    if (!sweep_curveok(w.pth, c)) {
        sys_log("job_genpathsweep: profile %d has no usable curve", p);
        return 0;
    }
    const float *s = w.layer->size;
    const float *A = w.pth->knots[w.pth->curves[c].tail].pos, *B = w.pth->knots[w.pth->curves[c].head].pos;
    const float chord[3] = {(B[0] - A[0]) * s[0], (B[1] - A[1]) * s[1], (B[2] - A[2]) * s[2]};
    w.chord[p] = std::sqrt(chord[0] * chord[0] + chord[1] * chord[1] + chord[2] * chord[2]);
    w.invchord[p] = w.chord[p] > 0.0f ? 1.0f / w.chord[p] : 0.0f;
    float raw[3] = {(B[1] - A[1]) * s[1] / s[0], -(B[0] - A[0]) * s[0] / s[1], B[2] - A[2]}, n[3];
    vec3_normalize(n, raw);
    int count = 0;
    float *v = path_curveverts(w.pth, c, 1.0f / 513.0f, &count);
    if (!v)
        return 0;
    float *T = w.tables + (size_t)p * pathsweep_tablesize;
    T[0] = T[512] = 0.0f;
    const float np[3] = {n[1], -n[0], n[2]};
    float t = 0.0f;
    for (int k = 1; k < 512; k++) {
        t += 1.0f / 513.0f;
        const float P[3] = {A[0] * (1 - t) + B[0] * t, A[1] * (1 - t) + B[1] * t, A[2] * (1 - t) + B[2] * t};
        float best = 9999999.0f;
        for (int i = 0; i + 1 < count; i++) {
            const float *E = v + i * 3, *F = v + i * 3 + 3;
            const float d[3] = {F[0] - E[0], F[1] - E[1], F[2] - E[2]};
            const float pe[3] = {P[0] - E[0], P[1] - E[1], P[2] - E[2]};
            const float dn = d[0] * np[0] + d[1] * np[1] + d[2] * np[2];
            if (std::fabs(dn) < 1e-7f)
                continue;
            const float lambda = (pe[0] * np[0] + pe[1] * np[1] + pe[2] * np[2]) / dn;
            if (lambda < 0.0f || lambda > 1.0f)
                continue;
            const float cr[3] = {pe[1] * d[2] - pe[2] * d[1], pe[2] * d[0] - pe[0] * d[2], pe[0] * d[1] - pe[1] * d[0]};
            const float sigma = pe[1] * d[0] - pe[0] * d[1] >= 0.0f ? -1.0f : 1.0f;
            const float dist = sigma * std::sqrt(cr[0] * cr[0] + cr[1] * cr[1] + cr[2] * cr[2]) / dn;
            best = std::fmin(best, dist);
        }
        if (best >= 9999999.0f) {
            T[k] = 0.0f;
            continue;
        }
        const float Q[3] = {P[0] + best * n[0], P[1] + best * n[1], P[2] + best * n[2]};
        const float h = std::hypot((P[0] - Q[0]) * s[0], (P[1] - Q[1]) * s[1]);
        T[k] = (B[1] - A[1]) * (Q[0] - A[0]) - (Q[1] - A[1]) * (B[0] - A[0]) < 0.0f ? h : -h;
    }
    sys_free(v);
    return 1;
}

// The point at normalised length x of a rail, interpolated in its segment.
void sweep_railpoint(const sweep_rail &r, float x, float *out)
{
    int i = 0;
    while (i + 2 < r.n && !(r.len[i] <= x && x < r.len[i + 1]))
        i++;
    const float span = r.len[i + 1] - r.len[i];
    const float f = span > 0.0f ? (x - r.len[i]) / span : 0.0f;
    for (int k = 0; k < 3; k++)
        out[k] = r.pts[i * 3 + k] * (1 - f) + r.pts[i * 3 + 3 + k] * f;
}

float sweep_dist(const float *a, const float *b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

int sweep_texture(sweep_work &w)
{
    const int n = w.numprofiles;
    const float *tab = w.tables;
    if (w.numrails != 2) {
        w.texture = img_allocfloat("profiles", 513, n);
        if (!w.texture)
            return 0;
        for (int k = 0; k < n; k++)
            memcpy((float *)w.texture->pixels + k * 513, tab + w.rails[0].order[k] * 513, 513 * sizeof(float));
        return 1;
    }
    w.texture = img_allocfloat("profiles", 513, (n - 1) * 512 + 1);
    if (!w.texture)
        return 0;
    float *out = (float *)w.texture->pixels;
    const sweep_rail &r0 = w.rails[0], &r1 = w.rails[1];
    auto a = [&](int k) { return sweep_pos(0, r0.order[k]); };
    auto b = [&](int k) { return sweep_pos(1, r1.order[k]); };
    auto width = [&](float x0, float x1) {
        float p[3], q[3];
        sweep_railpoint(r0, x0, p);
        sweep_railpoint(r1, x1, q);
        return sweep_dist(p, q);
    };
    // Profile blend across the width at column c for rank k.
    auto across = [&](int k, int c, float s) {
        const int p0 = r0.order[k], p1 = r1.order[k];
        return tab[p1 * 513 + c] * w.invchord[p1] * s + tab[p0 * 513 + c] * w.invchord[p0] * (1 - s);
    };
    float wlast = 0.0f;
    for (int k = 1; k < n; k++) {
        const float wa = width(a(k - 1), b(k - 1)), wb = width(a(k), b(k));
        for (int r = 0; r < 512; r++) {
            const float t = (float)r / 512.0f;
            float g, wd;
            if (pathsweep_smooth) {
                g = (3 - 2 * t) * t * t;
                wd = width(a(k - 1) * (1 - t) + a(k) * t, b(k - 1) * (1 - t) + b(k) * t);
            } else {
                g = t;
                wd = wa * (1 - t) + wb * t;
            }
            float *row = out + (size_t)((k - 1) * 512 + r) * 513;
            for (int c = 0; c <= 512; c++) {
                const float s = (float)c / 512.0f;
                row[c] = (across(k, c, s) * g + across(k - 1, c, s) * (1 - g)) * wd;
            }
            wlast = wd;
        }
    }
    float *row = out + (size_t)((n - 1) * 512) * 513;
    for (int c = 0; c <= 512; c++)
        row[c] = across(n - 1, c, (float)c / 512.0f) * wlast;
    return 1;
}

struct sweep_quadctx {
    float size[3], origin[3];
};

void sweep_quad(sweep_work &w, const sweep_quadctx &q, const float *a, const float *b, const float *c, const float *d,
                const float *uvs)
{
    float verts[12];
    memcpy(verts, a, 12);
    memcpy(verts + 3, b, 12);
    memcpy(verts + 6, c, 12);
    memcpy(verts + 9, d, 12);
    img_scalarrasterquad(w.uv, q.size, q.origin, verts, uvs, 1);
}

void sweep_onerail(sweep_work &w, const sweep_quadctx &q)
{
    const sweep_rail &r = w.rails[0];
    const int m = r.n, n = w.numprofiles;
    if (n < 2 || m < 2)
        return;
    float *normals = (float *)sys_malloc(m * 12);
    if (!normals)
        return;
    auto rot = [&](int i, float *o) { // rot(e_i)
        const float *a = r.pts + i * 3, *b = a + 3;
        o[0] = b[1] - a[1], o[1] = -(b[0] - a[0]), o[2] = b[2] - a[2];
    };
    for (int i = 0; i < m; i++) {
        float e0[3], e1[3], sum[3];
        if (i == 0) {
            rot(0, sum);
        } else if (i == m - 1) {
            rot(m - 2, sum);
        } else {
            rot(i - 1, e0);
            rot(i, e1);
            for (int k = 0; k < 3; k++)
                sum[k] = 0.5f * e0[k] + 0.5f * e1[k];
        }
        vec3_normalize(normals + i * 3, sum);
    }
    if (r.closed) {
        float sum[3];
        for (int k = 0; k < 3; k++)
            sum[k] = 0.5f * normals[k] + 0.5f * normals[(m - 1) * 3 + k];
        vec3_normalize(normals, sum);
        memcpy(normals + (m - 1) * 3, normals, 12);
    }
    float prev[2][3], prevuv[2] = {0, 0};
    bool have = false;
    for (int i = 0; i < m; i++) {
        const float L = r.len[i];
        int k = -1;
        for (int j = 0; j + 1 < n && k < 0; j++)
            if (sweep_pos(0, r.order[j]) <= L && L <= sweep_pos(0, r.order[j + 1]))
                k = j;
        if (k < 0)
            continue;
        const float p0 = sweep_pos(0, r.order[k]), p1 = sweep_pos(0, r.order[k + 1]);
        float f = p1 > p0 ? (L - p0) / (p1 - p0) : 0.0f;
        if (pathsweep_smooth)
            f = f * f * (3 - 2 * f);
        const float wd = w.chord[r.order[k]] * (1 - f) + w.chord[r.order[k + 1]] * f;
        const float v = ((float)k + f) / (float)n;
        float left[3], right[3];
        for (int c = 0; c < 3; c++) {
            left[c] = r.pts[i * 3 + c] - 0.5f * wd * normals[i * 3 + c];
            right[c] = r.pts[i * 3 + c] + 0.5f * wd * normals[i * 3 + c];
        }
        if (have) {
            const float uvs[8] = {0, prevuv[0], 0, v, 1, prevuv[0], 1, v};
            sweep_quad(w, q, prev[0], left, prev[1], right, uvs);
        }
        memcpy(prev[0], left, 12);
        memcpy(prev[1], right, 12);
        prevuv[0] = v;
        have = true;
    }
    sys_free(normals);
}

void sweep_tworails(sweep_work &w, const sweep_quadctx &q)
{
    const int n = w.numprofiles;
    const sweep_rail &r0 = w.rails[0], &r1 = w.rails[1];
    for (int r = 0; r < 2; r++)
        for (int k = 0; k < n; k++) {
            const sweep_rail &rail = w.rails[r];
            const float x = sweep_pos(r, rail.order[k]);
            int found = 0;
            for (int i = 0; i + 1 < rail.n && !found; i++)
                if (rail.len[i] <= x && x <= rail.len[i + 1])
                    found = i;
            sys_log("rail:%d profile:%d vert:%d/%.3f", r, k, found, rail.len[found]);
        }
    auto a = [&](int k) { return sweep_pos(0, r0.order[k]); };
    auto b = [&](int k) { return sweep_pos(1, r1.order[k]); };
    float S0[3], S1[3];
    sweep_railpoint(r0, a(0), S0);
    sweep_railpoint(r1, b(0), S1);
    S0[2] = S1[2] = 0.0f;
    int i0 = 0, i1 = 0;
    for (int k = 0; k + 1 < n; k++) {
        const float d0 = a(k + 1) - a(k), d1 = b(k + 1) - b(k);
        const int steps = (int)((d0 + d1) * 256.0f);
        if (steps <= 0)
            continue;
        int N = 1;
        while (N < steps)
            N *= 2;
        const float step = 1.0f / (float)N;
        float xprev = 0.0f;
        for (int j = 1; j <= N; j++) {
            const float x = step * (float)j;
            const float x0 = a(k) + d0 * x, x1 = b(k) + d1 * x;
            while (i0 + 2 < r0.n && r0.len[i0 + 1] < x0)
                i0++;
            while (i1 + 2 < r1.n && r1.len[i1 + 1] < x1)
                i1++;
            float C0[3], C1[3];
            auto lerp = [](const sweep_rail &r, int i, float x, float *o) {
                const float span = r.len[i + 1] - r.len[i];
                const float f = span > 0.0f ? (x - r.len[i]) / span : 0.0f;
                for (int c = 0; c < 2; c++)
                    o[c] = r.pts[i * 3 + c] * (1 - f) + r.pts[i * 3 + 3 + c] * f;
                o[2] = 0.0f;
            };
            lerp(r0, i0, x0, C0);
            lerp(r1, i1, x1, C1);
            const float vp = ((float)k + xprev) / (float)(n - 1), v = ((float)k + x) / (float)(n - 1);
            const float uvs[8] = {0, vp, 0, v, 1, vp, 1, v};
            sweep_quad(w, q, S0, C0, S1, C1, uvs);
            memcpy(S0, C0, 12);
            memcpy(S1, C1, 12);
            xprev = x;
        }
    }
}

void sweep_fail(sweep_work &w)
{
    sweep_free(w);
    layer_genrequest.result = nullptr;
    layer_genkind.store(0, std::memory_order_release);
    project.generating[0].store(0, std::memory_order_release);
}

void sweep_nothing(sweep_work &w, const char *why)
{
    sys_log("job_genpathsweep: %s, no layer", why);
    sweep_free(w);
    layer_genrequest.result = nullptr;
    project.generating[0].store(0, std::memory_order_release);
    layer_gendone.store(1, std::memory_order_release);
}

// Crop to what the sweep covers, place and normalise; the result or null.
image *sweep_finish(sweep_work &w)
{
    layer_genrequestrecord &r = layer_genrequest;
    img_u16tofloat(w.uv, w.texture);
    sys_log("sampled UV coords (elapsed %.4fs)", sys_seconds() - w.start);
    const int W = w.uv->width, H = w.uv->height;
    int rect[4];
    image *crop = img_novelrect(w.uv, 0.0f, rect);
    if (!crop)
        return nullptr;
    sys_log("novel:(%d,%d)(%d,%d) from %dx%d", rect[0], rect[1], rect[2], rect[3], W, H);
    sys_log("genraster org:%f,%f size:%fx%f", r.centre[0], r.centre[1], r.size[0], r.size[1]);
    const float ox = (float)(rect[0] + rect[2] - W) * 0.5f, oy = (float)(rect[1] + rect[3] - H) * -0.5f;
    sys_log("origin offset = %f,%f", ox, oy);
    r.centre[0] += ox * r.size[0] / (float)W;
    r.centre[1] += oy * r.size[1] / (float)H;
    const float fx = (float)crop->width / (float)W, fy = (float)crop->height / (float)H;
    sys_log("scale factors = %f,%f", fx, fy);
    r.size[0] *= fx;
    r.size[1] *= fy;
    sweep_free(w);
    if (r.samples > 1.0f) {
        image *small = img_rescalescalar(crop, std::max(1, (int)((float)r.width * fx)),
                                         std::max(1, (int)((float)r.height * fy)));
        img_free(crop);
        crop = small;
        if (!crop)
            return nullptr;
    }
    float *p = (float *)crop->pixels;
    const int64_t count = (int64_t)crop->width * crop->height;
    float m = -9999999.0f;
    for (int64_t i = 0; i < count; i++)
        m = std::fmax(m, p[i]);
    r.size[2] = m;
    if (m > 0.0f)
        for (int64_t i = 0; i < count; i++)
            p[i] *= 0.99999f / m;
    if (r.zorigin > 0.0f) {
        const float z = r.zorigin;
        for (int64_t i = 0; i < count; i++)
            p[i] = p[i] * m / (z + m) + z / (z + m);
        r.size[2] = m + z;
        r.zorigin = 0.0f;
    }
    return crop;
}

} // namespace

void job_genpathsweep(void *)
{
    project.generating[0].store(1, std::memory_order_release);
    layer_genrequestrecord &r = layer_genrequest;
    sweep_work w;
    w.start = sys_seconds();
    w.slot = r.layer;
    if (w.slot < 0 || w.slot >= project_maxlayers || project.layers[w.slot].type != layer_paths ||
        !project.layers[w.slot].data.pth) {
        sys_log("job_genpathsweep: layer %d is not a paths-layer", w.slot);
        return sweep_fail(w);
    }
    w.layer = &project.layers[w.slot];
    w.pth = w.layer->data.pth;
    w.numrails = pathsweep_numrails;
    w.numprofiles = std::min(std::max(pathsweep_numprofiles, 0), pathsweep_maxprofiles);
    if (w.numprofiles < 2)
        return sweep_nothing(w, "fewer than 2 profiles");
    const int rails = w.numrails == 1 || w.numrails == 2 ? w.numrails : 0;
    for (int i = 0; i < rails; i++)
        if (!sweep_rail1(w, i))
            return sweep_fail(w);
    w.tables = (float *)sys_malloc(w.numprofiles * pathsweep_tablesize * (int)sizeof(float));
    if (!w.tables)
        return sweep_fail(w);
    for (int p = 0; p < w.numprofiles; p++)
        if (!sweep_profile(w, p))
            return sweep_fail(w);
    sys_log("pathsweep setup done... (elapsed %.4fs)", sys_seconds() - w.start);
    if (!sweep_texture(w))
        return sweep_fail(w);
    sys_log("pathsweep texture generated... (elapsed %.4fs)", sys_seconds() - w.start);
    const int ww = (int)((float)r.width * r.samples), wh = (int)((float)r.height * r.samples);
    w.uv = ww > 0 && wh > 0 ? img_alloc("pathsweep", ww, wh, 4) : nullptr;
    if (!w.uv)
        return sweep_fail(w);
    sweep_quadctx q = {{r.size[0], -r.size[1], 1.0f}, {r.centre[0] - r.size[0] / 2, r.centre[1] + r.size[1] / 2, r.zorigin}};
    if (rails == 1)
        sweep_onerail(w, q);
    else if (rails == 2)
        sweep_tworails(w, q);
    sys_log("generated UV coords (elapsed %.4fs)", sys_seconds() - w.start);
    image *result = sweep_finish(w);
    if (!result)
        return sweep_nothing(w, "nothing above 0");
    r.result = result;
    sys_log("...generated raster-layer path-sweep (elapsed %.4fs)", sys_seconds() - w.start);
    project.generating[0].store(0, std::memory_order_release);
    layer_gendone.store(1, std::memory_order_release);
}
