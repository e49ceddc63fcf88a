// Primal encoding and decoding. The encoder builds eight mip levels of the
// field with their interpolation errors, lays out one quadtree per root grid
// point (deeper where the error is larger), decodes that approximation
// exactly as a reader will and stores the residual as 16-bit block bounds
// with one 5-bit step per pixel; the body is deflated at zlib's highest
// level. The reader trusts nothing: sizes are capped before allocating, the
// inflate status and size, every node offset and the block count are checked.
#include "img/primal.h"

#include "sys/log.h"
#include "sys/mem.h"

#include <zlib.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

const primal_params primal_versions[primal_version + 1] = {
    {0.005f, 6, 7, 12, 5}, {0.005f, 6, 8, 12, 5}, {0.002f, 6, 7, 10, 5}, {0.01f, 6, 8, 10, 5},
    {0.01f, 6, 8, 8, 4},   {0.008f, 6, 8, 12, 5}, {0.005f, 6, 8, 12, 5}, {0.004f, 6, 8, 12, 5},
    {0.005f, 7, 8, 10, 5}, {0.005f, 7, 8, 10, 5},
};

constexpr int primal_levels = 8; // levels 0 to 7 of the encoder's depth
constexpr uint16_t primal_absent = 0xFFFF;
// A deflate stream never inflates to more than this many times its own
// size, so a stated body far beyond it cannot come from the stream given.
constexpr int64_t primal_maxinflate = 1032;

static uint32_t primal_get16(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

static uint32_t primal_get32(const uint8_t *p)
{
    return primal_get16(p) | primal_get16(p + 2) << 16;
}

static void primal_put16(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void primal_put32(uint8_t *p, uint32_t v)
{
    primal_put16(p, v);
    primal_put16(p + 2, v >> 16);
}

// Root grid points along a side: one more than the cells across it.
static int primal_gridsize(int side, int depth)
{
    return (int)((((int64_t)1 << depth) - 1 + side) >> depth) + 1;
}

// A stored block bound as the decoder reads it: Q / 65535 x 2 - 1.
static float primal_bound(uint32_t q)
{
    return (float)q / 65535.0f * 2.0f - 1.0f;
}

// sys_malloc for sizes worked out in 64 bits; beyond its range is refused.
static void *primal_alloc(int64_t bytes, int zeroed)
{
    if (bytes < 0 || bytes > INT32_MAX) {
        sys_log("primal_alloc: %lld byte buffer out of range", (long long)bytes);
        return nullptr;
    }
    return zeroed ? sys_calloc(1, (int32_t)bytes) : sys_malloc((int32_t)bytes);
}

// ---------------------------------------------------------------- encoder

// The encoder's work state: the mip levels with their errors (level 0 has
// none: its points are the pixels) and the growing node array.
struct primal_build {
    float *value[primal_levels];
    float *error[primal_levels];
    int w[primal_levels], h[primal_levels];
    float threshold;
    int maxvalue;
    uint16_t *words;
    int64_t cap; // words reserved
    int failed;
};

static void primal_freebuild(primal_build &t)
{
    for (int L = 0; L < primal_levels; L++) {
        sys_free(t.value[L]);
        sys_free(t.error[L]);
    }
    sys_free(t.words);
}

// Makes room for n node words, doubling; a failure stops the build.
static int primal_reserve(primal_build &t, int64_t n)
{
    if (n <= t.cap)
        return 1;
    int64_t cap = t.cap * 2 > n ? t.cap * 2 : n;
    uint16_t *grown = cap * 2 <= INT32_MAX ? (uint16_t *)sys_realloc(t.words, (int32_t)(cap * 2)) : nullptr;
    if (!grown) {
        t.failed = 1;
        return 0;
    }
    t.words = grown;
    t.cap = cap;
    return 1;
}

// Level grids of Gw x (128 >> L) + 1 by Gh x (128 >> L) + 1 points; level 0
// takes the pixels, clamped to 0..1, repeating the last row and column.
static int primal_buildlevels(primal_build &t, const image *img, int gw, int gh)
{
    for (int L = 0; L < primal_levels; L++) {
        t.w[L] = gw * (128 >> L) + 1;
        t.h[L] = gh * (128 >> L) + 1;
        int64_t bytes = (int64_t)t.w[L] * t.h[L] * (int64_t)sizeof(float);
        t.value[L] = (float *)primal_alloc(bytes, 0);
        t.error[L] = L ? (float *)primal_alloc(bytes, 0) : nullptr;
        if (!t.value[L] || (L && !t.error[L]))
            return 0;
    }
    const float *src = (const float *)img->pixels;
    for (int y = 0; y < t.h[0]; y++) {
        const float *row = src + (size_t)(y < img->height ? y : img->height - 1) * img->width;
        float *out = t.value[0] + (size_t)y * t.w[0];
        for (int x = 0; x < t.w[0]; x++) {
            float v = row[x < img->width ? x : img->width - 1];
            out[x] = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
        }
    }
    return 1;
}

// Level L + 1 from level L: each coarse point is the plain mean of the up
// to nine fine points around it; its error adds the mean fine error there
// to the mean error of interpolating the fine points from coarse ones.
static void primal_coarsen(primal_build &t, int L)
{
    const float *f = t.value[L], *fe = t.error[L];
    float *c = t.value[L + 1], *ce = t.error[L + 1];
    int fw = t.w[L], fh = t.h[L], cw = t.w[L + 1], ch = t.h[L + 1];
    for (int j = 0; j < ch; j++) {
        for (int i = 0; i < cw; i++) {
            float sum = 0.0f, esum = 0.0f;
            int n = 0;
            for (int y = 2 * j - 1; y <= 2 * j + 1; y++) {
                for (int x = 2 * i - 1; x <= 2 * i + 1; x++) {
                    if (x < 0 || y < 0 || x >= fw || y >= fh)
                        continue;
                    sum += f[(size_t)y * fw + x];
                    esum += fe ? fe[(size_t)y * fw + x] : 0.0f;
                    n++;
                }
            }
            c[(size_t)j * cw + i] = sum / (float)n;
            ce[(size_t)j * cw + i] = esum / (float)n;
        }
    }
    for (int j = 0; j < ch; j++) {
        for (int i = 0; i < cw; i++) {
            const float *cp = c + (size_t)j * cw + i;
            const float *fp = f + (size_t)(2 * j) * fw + 2 * i;
            int right = i < cw - 1, down = j < ch - 1;
            float e = std::fabs(cp[0] - fp[0]);
            int n = 1;
            if (right) {
                e += std::fabs((cp[0] + cp[1]) / 2.0f - fp[1]);
                n++;
            }
            if (down) {
                e += std::fabs((cp[0] + cp[cw]) / 2.0f - fp[fw]);
                n++;
            }
            if (right && down) {
                e += std::fabs((cp[0] + cp[1] + cp[cw] + cp[cw + 1]) / 4.0f - fp[fw + 1]);
                n++;
            }
            ce[(size_t)j * cw + i] += e / (float)n;
        }
    }
}

// Writes the node word of point (x, y) of level L at s; an inner node's
// record (value, four child words) goes at p, followed by the children's
// subtrees in order. Returns the next free position.
static int64_t primal_buildtree(primal_build &t, int x, int y, int64_t s, int64_t p, int L)
{
    if (x >= t.w[L] || y >= t.h[L]) {
        t.words[s] = primal_absent;
        return p;
    }
    size_t at = (size_t)y * t.w[L] + x;
    uint16_t q = (uint16_t)((int)(t.value[L][at] * (float)t.maxvalue) & t.maxvalue);
    if (L == 0 || t.threshold > (float)(1 << L) * t.error[L][at]) {
        t.words[s] = q;
        return p;
    }
    if (!primal_reserve(t, p + 5))
        return p;
    // A depth-7 tree holds at most 27,306 words, so p - s fits in 15 bits.
    t.words[s] = (uint16_t)(0x8000 | (p - s));
    t.words[p] = q;
    int64_t next = p + 5;
    next = primal_buildtree(t, 2 * x, 2 * y, p + 1, next, L - 1);
    next = primal_buildtree(t, 2 * x + 1, 2 * y, p + 2, next, L - 1);
    next = primal_buildtree(t, 2 * x, 2 * y + 1, p + 3, next, L - 1);
    return primal_buildtree(t, 2 * x + 1, 2 * y + 1, p + 4, next, L - 1);
}

// Lays out every root's tree; returns the node count N, or -1.
static int64_t primal_buildtrees(primal_build &t, uint32_t *roots, int gw, int gh)
{
    int64_t n = 0;
    for (int cy = 0; cy < gh && !t.failed; cy++) {
        for (int cx = 0; cx < gw && !t.failed; cx++) {
            roots[cy * gw + cx] = (uint32_t)n;
            if (primal_reserve(t, n + 1))
                n = primal_buildtree(t, cx, cy, n, n + 1, primal_levels - 1);
        }
    }
    return t.failed ? -1 : n;
}

// Quantises a block bound to 16 bits. Residuals beyond -1..1 (a source far
// outside 0..1) saturate instead of wrapping around.
static uint32_t primal_quantbound(float v)
{
    double q = (double)((v + 1.0f) * 0.5f * 65535.0f) + 0.5;
    return q > 0.0 ? (q < 65535.0 ? (uint32_t)q : 65535u) : 0u;
}

// Writes the delta blocks of the residual source - approx into blocks.
static void primal_deltablocks(const image *img, const float *approx, uint8_t *blocks, int bsize, int bits)
{
    const float *src = (const float *)img->pixels;
    int w = img->width, h = img->height;
    int nbx = (w + bsize - 1) / bsize, nby = (h + bsize - 1) / bsize;
    int steps = (1 << bits) - 1;
    for (int by = 0; by < nby; by++) {
        for (int bx = 0; bx < nbx; bx++) {
            uint8_t *blk = blocks + ((size_t)by * nbx + bx) * (size_t)(4 + bsize * bsize);
            int x0 = bx * bsize, y0 = by * bsize;
            int x1 = x0 + bsize < w ? x0 + bsize : w, y1 = y0 + bsize < h ? y0 + bsize : h;
            float lo = 99999.0f, hi = -99999.0f;
            for (int y = y0; y < y1; y++) {
                for (int x = x0; x < x1; x++) {
                    float r = src[(size_t)y * w + x] - approx[(size_t)y * w + x];
                    lo = r < lo ? r : lo;
                    hi = r > hi ? r : hi;
                }
            }
            uint32_t qlo = primal_quantbound(lo), qhi = primal_quantbound(hi);
            primal_put16(blk, qlo);
            primal_put16(blk + 2, qhi);
            lo = primal_bound(qlo);
            float range = primal_bound(qhi) - lo;
            if (!((double)range > 0.00001))
                continue; // every step stays 0: the block decodes to its low bound
            for (int y = y0; y < y1; y++) {
                for (int x = x0; x < x1; x++) {
                    float r = src[(size_t)y * w + x] - approx[(size_t)y * w + x];
                    float tt = (r - lo) / range;
                    int step = tt > 0.0f ? (tt >= 1.0f ? steps : (int)(tt * (float)steps)) : 0;
                    blk[4 + (y - y0) * bsize + (x - x0)] = (uint8_t)step;
                }
            }
        }
    }
}

// Deflates the body after an 18-byte header into a new payload.
static uint8_t *primal_compress(const image *img, const uint8_t *body, int64_t bodysize, int32_t *size)
{
    const primal_params &pp = primal_versions[primal_version];
    uLongf clen = compressBound((uLong)bodysize);
    uint8_t *out = (uint8_t *)primal_alloc(primal_headersize + (int64_t)clen, 0);
    if (!out)
        return nullptr;
    int status = compress2(out + primal_headersize, &clen, body, (uLong)bodysize, Z_BEST_COMPRESSION);
    if (status != Z_OK) {
        sys_error("mz_compress() failed! (error:%d)", status);
        sys_free(out);
        return nullptr;
    }
    primal_put16(out, primal_version);
    primal_put16(out + 2, (uint32_t)img->width);
    primal_put16(out + 4, (uint32_t)img->height);
    primal_put32(out + 6, (uint32_t)clen);
    primal_put32(out + 10, (uint32_t)bodysize);
    out[14] = (uint8_t)pp.depth;
    out[15] = (uint8_t)pp.valuebits;
    out[16] = (uint8_t)pp.blocksize;
    out[17] = (uint8_t)pp.deltabits;
    *size = primal_headersize + (int32_t)clen;
    uint8_t *fitted = (uint8_t *)sys_realloc(out, *size);
    return fitted ? fitted : out;
}

// Builds the levels and trees and writes the body: tree part, then delta
// blocks. Returns the body (sys_malloc) and its size, or null.
static uint8_t *primal_buildbody(const image *img, int64_t *bodysize)
{
    const primal_params &pp = primal_versions[primal_version];
    int w = img->width, h = img->height;
    int gw = primal_gridsize(w, pp.depth), gh = primal_gridsize(h, pp.depth);
    double start = sys_seconds();
    primal_build t = {};
    t.threshold = pp.threshold;
    t.maxvalue = (1 << pp.valuebits) - 1;
    int64_t roots = (int64_t)gw * gh;
    uint32_t *roottable = (uint32_t *)primal_alloc(roots * 4, 0);
    int64_t n = -1;
    if (roottable && primal_buildlevels(t, img, gw, gh) && primal_reserve(t, roots * 64)) {
        for (int L = 0; L + 1 < primal_levels; L++)
            primal_coarsen(t, L);
        n = primal_buildtrees(t, roottable, gw, gh);
    }
    int64_t treesize = 4 + 4 * roots + 2 * n;
    int64_t bsize = pp.blocksize;
    int64_t blockbytes = (int64_t)((w + bsize - 1) / bsize) * ((h + bsize - 1) / bsize) * (4 + bsize * bsize);
    uint8_t *body = n >= 0 ? (uint8_t *)primal_alloc(treesize + blockbytes, 1) : nullptr;
    if (body) {
        primal_put32(body, (uint32_t)treesize);
        for (int64_t i = 0; i < roots; i++)
            primal_put32(body + 4 + 4 * i, roottable[i]);
        for (int64_t i = 0; i < n; i++)
            primal_put16(body + 4 + 4 * roots + 2 * i, t.words[i]);
        sys_debuglog("...primal encode %dx%d = miptrees:%dx%d nodes:%lld bytes:%lld/%lld (elapsed %.3fs)", w, h, gw,
                     gh, (long long)n, (long long)treesize, (long long)(4 + 4 * roots + 2 * t.cap),
                     sys_seconds() - start);
    }
    primal_freebuild(t);
    sys_free(roottable);
    if (!body)
        return nullptr;

    start = sys_seconds();
    float *approx = primal_decode(body, (int32_t)treesize, w, h, nullptr, pp.depth, pp.valuebits);
    if (!approx) {
        sys_free(body);
        return nullptr;
    }
    sys_debuglog("encoding primal delta blocks...");
    primal_deltablocks(img, approx, body + treesize, pp.blocksize, pp.deltabits);
    sys_free(approx);
    sys_debuglog("...encoded %lld delta blocks (elapsed %.3fs)", (long long)(blockbytes / (4 + bsize * bsize)),
                 sys_seconds() - start);
    *bodysize = treesize + blockbytes;
    return body;
}

uint8_t *primal_encode(const image *img, int32_t *size)
{
    *size = 0;
    if (!img_isscalar(img, "primal_encode"))
        return nullptr;
    if (img->width < 1 || img->height < 1 || img->width > 65535 || img->height > 65535) {
        sys_log("primal_encode: %dx%d does not fit the 16-bit size fields", img->width, img->height);
        return nullptr;
    }
    int depth = primal_versions[primal_version].depth;
    sys_log("primal encode: %dx%d = %dx%d mips...", img->width, img->height, primal_gridsize(img->width, depth),
            primal_gridsize(img->height, depth));
    int64_t bodysize = 0;
    uint8_t *body = primal_buildbody(img, &bodysize);
    if (!body) {
        sys_log("primal_encode: failed to build %dx%d payload", img->width, img->height);
        return nullptr;
    }
    uint8_t *out = primal_compress(img, body, bodysize, size);
    sys_free(body);
    return out;
}

// ---------------------------------------------------------------- decoder

// A tree part checked by primal_checktree: every index it leads to is
// below n.
struct primal_tree {
    const uint8_t *roots;
    const uint8_t *nodes;
    int64_t n;
    float scale; // 1 / (2^b - 1)
};

static uint32_t primal_word(const primal_tree &t, int64_t s)
{
    return primal_get16(t.nodes + 2 * s);
}

// Checks the size word, the root table and every inner node's offset, so the
// descent can follow any of them without a bound check. Returns a message
// naming the fault, or null.
static const char *primal_checktree(const uint8_t *tree, int32_t treebytes, int64_t roots, primal_tree &t,
                                    int32_t *treesize)
{
    if (treebytes < 4)
        return "no tree-part size";
    int64_t size = primal_get32(tree);
    int64_t nodebytes = size - 4 - 4 * roots;
    if (size > treebytes || nodebytes < 2 || (nodebytes & 1))
        return "tree-part size does not match the root grid";
    t.roots = tree + 4;
    t.nodes = tree + 4 + 4 * roots;
    t.n = nodebytes / 2;
    for (int64_t i = 0; i < roots; i++) {
        uint32_t r = primal_get32(t.roots + 4 * i);
        if (r >= t.n || primal_word(t, r) == primal_absent)
            return "root outside the node array";
    }
    for (int64_t s = 0; s < t.n; s++) {
        uint32_t w = primal_word(t, s);
        int64_t o = w & 0x7FFF;
        if ((w & 0x8000) && w != primal_absent && (o == 0 || s + o + 4 >= t.n))
            return "node offset outside the node array";
    }
    *treesize = (int32_t)size;
    return nullptr;
}

// One corner of the descent: whether its point is stored, its value and,
// for an inner node, the position of its record (value, then the four
// child words); -1 otherwise.
struct primal_corner {
    int64_t rec;
    float v;
    bool stored;
};

// The stored point whose node word w sits at position s.
static inline primal_corner primal_node(const primal_tree &t, int64_t s, uint32_t w)
{
    if (!(w & 0x8000))
        return {-1, (float)w * t.scale, true};
    int64_t rec = s + (w & 0x7FFF);
    return {rec, (float)primal_word(t, rec) * t.scale, true};
}

// Child k (1..4) of a corner, or an absent corner valued fallback.
static inline primal_corner primal_child(const primal_tree &t, const primal_corner &c, int k, float fallback)
{
    if (c.rec >= 0) {
        uint32_t w = primal_word(t, c.rec + k);
        if (w != primal_absent)
            return primal_node(t, c.rec + k, w);
    }
    return {-1, fallback, false};
}

static primal_corner primal_root(const primal_tree &t, int64_t index)
{
    int64_t pos = primal_get32(t.roots + 4 * index);
    return primal_node(t, pos, primal_word(t, pos));
}

// Descends from the cell's four roots toward the pixel at (fx, fy) within
// the cell, replacing each corner by its child in the quadrant that holds
// the pixel (or the interpolation of the cell there when it is not stored),
// then interpolates bilinearly in the last cell reached.
static float primal_descend(const primal_tree &t, primal_corner c[4], float fx, float fy, int depth)
{
    for (int step = 0; step <= depth; step++) {
        float top = (c[0].v + c[1].v) / 2.0f, left = (c[0].v + c[2].v) / 2.0f;
        float right = (c[1].v + c[3].v) / 2.0f, bottom = (c[2].v + c[3].v) / 2.0f;
        float mid = (c[0].v + c[1].v + c[2].v + c[3].v) / 4.0f;
        int east = fx >= 0.5f, south = fy >= 0.5f;
        primal_corner n[4];
        if (!east && !south) {
            n[0] = primal_child(t, c[0], 1, c[0].v);
            n[1] = primal_child(t, c[0], 2, top);
            n[2] = primal_child(t, c[0], 3, left);
            n[3] = primal_child(t, c[0], 4, mid);
        } else if (east && !south) {
            n[0] = primal_child(t, c[0], 2, top);
            n[1] = primal_child(t, c[1], 1, c[1].v);
            n[2] = primal_child(t, c[0], 4, mid);
            n[3] = primal_child(t, c[1], 3, right);
        } else if (!east) {
            n[0] = primal_child(t, c[0], 3, left);
            n[1] = primal_child(t, c[0], 4, mid);
            n[2] = primal_child(t, c[2], 1, c[2].v);
            n[3] = primal_child(t, c[2], 2, bottom);
        } else {
            n[0] = primal_child(t, c[0], 4, mid);
            n[1] = primal_child(t, c[1], 3, right);
            n[2] = primal_child(t, c[2], 2, bottom);
            n[3] = primal_child(t, c[3], 1, c[3].v);
        }
        fx = east ? 2.0f * fx - 1.0f : 2.0f * fx;
        fy = south ? 2.0f * fy - 1.0f : 2.0f * fy;
        for (int i = 0; i < 4; i++)
            c[i] = n[i];
        if (!n[0].stored && !n[1].stored && !n[2].stored && !n[3].stored)
            break;
    }
    return (1.0f - fy) * ((1.0f - fx) * c[0].v + fx * c[1].v) + fy * ((1.0f - fx) * c[2].v + fx * c[3].v);
}

float *primal_decode(const uint8_t *tree, int32_t treebytes, int width, int height, int32_t *treesize, int depth,
                     int valuebits)
{
    if (width < 1 || height < 1 || depth < 0 || depth > 15 || valuebits < 1 || valuebits > 15) {
        sys_log("primal_decode: bad parameters %dx%d depth:%d bits:%d", width, height, depth, valuebits);
        return nullptr;
    }
    int gw = primal_gridsize(width, depth), gh = primal_gridsize(height, depth);
    sys_debuglog("primal decode size:%dx%d mip0:%dx%d (depth:%d bits:%d)...", width, height, gw, gh, depth,
                 valuebits);
    double start = sys_seconds();
    primal_tree t = {};
    t.scale = 1.0f / (float)((1 << valuebits) - 1);
    int32_t size = 0;
    if (const char *fault = primal_checktree(tree, treebytes, (int64_t)gw * gh, t, &size)) {
        sys_log("primal_decode: %s", fault);
        return nullptr;
    }
    float *out = (float *)primal_alloc((int64_t)width * height * (int64_t)sizeof(float), 1);
    if (!out)
        return nullptr;
    float cell = (float)(1 << depth);
    int mask = (1 << depth) - 1;
    for (int y = 0; y < height; y++) {
        int64_t cy = y >> depth;
        float fy = (float)(y & mask) / cell;
        for (int x = 0; x < width; x++) {
            int64_t cx = x >> depth;
            primal_corner c[4] = {primal_root(t, cy * gw + cx), primal_root(t, cy * gw + cx + 1),
                                  primal_root(t, (cy + 1) * gw + cx), primal_root(t, (cy + 1) * gw + cx + 1)};
            out[(size_t)y * width + x] = primal_descend(t, c, (float)(x & mask) / cell, fy, depth);
        }
    }
    sys_debuglog("...primal decode (elapsed %.3fs)", sys_seconds() - start);
    if (treesize)
        *treesize = size;
    return out;
}

// ---------------------------------------------------------------- reader

// Header fields of any version, and the parameters that go with it.
struct primal_header {
    int version, width, height, headersize;
    int64_t compressed;
    int64_t body; // exact body size (version 9) or the inflate capacity
    primal_params p;
};

static void primal_refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void primal_refuse(const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    sys_log("primal_read: damaged payload: %s", text);
}

// Parameters and body size for the version; caps the body at what the
// stream can inflate to and checks it can hold the tree part's minimum and
// every delta block. Returns 1 when the payload may be inflated.
static int primal_checkheader(const uint8_t *data, primal_header &h, int64_t *blockbytes)
{
    if (h.version == primal_version) {
        h.body = primal_get32(data + 10);
        h.p = {primal_versions[primal_version].threshold, data[14], data[15], data[16], data[17]};
    } else {
        // Earlier versions store no body size: inflate into room for the
        // largest body the parameters allow (full trees under every root).
        h.p = primal_versions[h.version];
        h.body = -1;
    }
    const primal_params &p = h.p;
    if (p.depth > 15 || p.valuebits < 1 || p.valuebits > 15 || p.blocksize < 1 || p.deltabits < 1 ||
        p.deltabits > 8) {
        primal_refuse("parameters depth:%d bits:%d block:%d delta:%d", p.depth, p.valuebits, p.blocksize,
                      p.deltabits);
        return 0;
    }
    int64_t limit = h.compressed * primal_maxinflate + 1024;
    if (limit > INT32_MAX)
        limit = INT32_MAX;
    int64_t roots = (int64_t)primal_gridsize(h.width, p.depth) * primal_gridsize(h.height, p.depth);
    int64_t b = p.blocksize;
    *blockbytes = (int64_t)((h.width + b - 1) / b) * ((h.height + b - 1) / b) * (4 + b * b);
    if (h.body < 0) {
        int64_t fulltree = 1 + 5 * (((int64_t)1 << (2 * p.depth)) - 1) / 3;
        int64_t largest = 4 + 4 * roots + 2 * roots * fulltree + *blockbytes;
        h.body = largest < limit ? largest : limit;
    }
    if (h.body > limit) {
        primal_refuse("body of %lld bytes from a %lld-byte stream", (long long)h.body, (long long)h.compressed);
        return 0;
    }
    if (h.body < 4 + 6 * roots + *blockbytes) {
        primal_refuse("body of %lld bytes cannot hold %dx%d", (long long)h.body, h.width, h.height);
        return 0;
    }
    return 1;
}

// Adds each pixel's delta step to the approximation and clamps to 0..1.
static void primal_applydeltas(float *a, const uint8_t *blocks, int width, int height, const primal_params &p)
{
    int b = p.blocksize, nbx = (width + b - 1) / b;
    float steps = (float)((1 << p.deltabits) - 1);
    for (int y = 0; y < height; y++) {
        const uint8_t *blockrow = blocks + (size_t)(y / b) * nbx * (4 + b * b);
        for (int x = 0; x < width; x++) {
            const uint8_t *blk = blockrow + (size_t)(x / b) * (4 + b * b);
            float lo = primal_bound(primal_get16(blk)), hi = primal_bound(primal_get16(blk + 2));
            float s = blk[4 + (y % b) * b + x % b];
            float v = a[(size_t)y * width + x] + lo + (hi - lo) * s / steps;
            a[(size_t)y * width + x] = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
        }
    }
}

// Inflates and decodes a checked payload into a new float buffer.
static float *primal_decodepayload(const uint8_t *data, const primal_header &h, int64_t blockbytes)
{
    uint8_t *body = (uint8_t *)primal_alloc(h.body, 0);
    if (!body)
        return nullptr;
    uLongf inflated = (uLongf)h.body;
    int status = uncompress(body, &inflated, data + h.headersize, (uLong)h.compressed);
    float *a = nullptr;
    int32_t treesize = 0;
    if (status != Z_OK)
        primal_refuse("inflate failed (zlib %d)", status);
    else if (h.version == primal_version && (int64_t)inflated != h.body)
        primal_refuse("inflated %lu bytes of a %lld-byte body", (unsigned long)inflated, (long long)h.body);
    else if (!(a = primal_decode(body, (int32_t)inflated, h.width, h.height, &treesize, h.p.depth, h.p.valuebits)))
        primal_refuse("tree part unreadable");
    else if (treesize + blockbytes > (int64_t)inflated) {
        primal_refuse("%lld bytes of delta blocks after a %d-byte tree part in a %lu-byte body",
                      (long long)blockbytes, treesize, (unsigned long)inflated);
        sys_free(a);
        a = nullptr;
    } else {
        primal_applydeltas(a, body + treesize, h.width, h.height, h.p);
    }
    sys_free(body);
    return a;
}

image *primal_read(const uint8_t *data, int32_t size, int32_t *used)
{
    *used = -1;
    primal_header h = {};
    h.version = size >= primal_oldheadersize ? (int)primal_get16(data) : 0;
    h.headersize = h.version == primal_version ? primal_headersize : primal_oldheadersize;
    if (size < h.headersize) {
        primal_refuse("header cut short (%d bytes)", size);
        return nullptr;
    }
    h.width = (int)primal_get16(data + 2);
    h.height = (int)primal_get16(data + 4);
    h.compressed = primal_get32(data + 6);
    if (h.headersize + h.compressed > size) {
        primal_refuse("stream of %lld bytes runs past the %d bytes left", (long long)h.compressed,
                      size - h.headersize);
        return nullptr;
    }
    *used = h.headersize + (int32_t)h.compressed;
    if (h.width < 1 || h.height < 1 || (int64_t)h.width * h.height > primal_maxpixels) {
        primal_refuse("size %dx%d", h.width, h.height);
        return nullptr;
    }
    char name[img_maxname];
    snprintf(name, sizeof(name), "QCSF%dx%d", h.width, h.height);
    if (h.version > primal_version) {
        sys_error("Primal-encoding v%02d is newer than is supported (v%02d). Please update Kerfmill to the latest "
                  "version!",
                  h.version, primal_version);
        return img_alloc(name, h.width, h.height, 4);
    }
    sys_log("decoding primal image v%02d size:%dx%d...", h.version, h.width, h.height);
    int64_t blockbytes = 0;
    if (!primal_checkheader(data, h, &blockbytes))
        return nullptr;
    float *a = primal_decodepayload(data, h, blockbytes);
    if (!a)
        return nullptr;
    image *img = img_alloc(name, h.width, h.height, 4, a);
    sys_free(a);
    return img;
}
