// Grey-scale dilation taken apart by kernel rows. The 2D maximum over the
// window is the maximum over kernel rows j of a 1D max-plus correlation of
// image row y + j - kh/2 with kernel row j. Cutter profiles have rows that are
// a constant background outside one run of columns and flat or concave on
// that run, and both shapes have exact methods far cheaper than kw taps per
// pixel. Every value written is one of the sums v + k the plain taps form, so
// the result is theirs; only the order in which ties are met differs.
#include "img/maxplus.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <limits>
#include <vector>

int img_maxplusmin = 21;
int img_maxplusenvelope = 512;

namespace {

constexpr float maxplus_absent = -std::numeric_limits<float>::infinity();
constexpr float maxplus_nothing = -99999.0f; // the dilation's start value

enum maxplus_kind { maxplus_flat, maxplus_concave, maxplus_other };

// One kernel row: the run [a, b] of columns above the kernel's background
// value, what shape it has there, and whether background columns lie
// outside it.
struct maxplus_row {
    int a, b;
    maxplus_kind kind;
    bool background;
};

// A stretch of a tapped row's run, seen as two halves (overlapping where its
// width is no power of two): each half's largest pixel plus its largest
// kernel value bounds every sum the half forms. Apart, the halves bound
// tighter than the whole: on a cutter's slope the pixels that meet the high
// kernel values are not those that meet the low ones.
struct maxplus_chunk {
    int a, b;
    float kmax;        // the stretch's largest kernel value
    float knear, kfar; // the halves' largest kernel values
    int level, second; // each half is 2^level columns; the far one starts second after a
    int cover;         // a gate: how many entries after it it stands for
};

struct maxplus_plan {
    std::vector<float> k; // scaled kernel, row-major, as the taps form it
    std::vector<maxplus_row> rows;
    // Per row, the stretches of its run when the row is tapped, largest
    // kernel value first: the stretches near the peak set a high running
    // maximum early and the rest are often skipped by their bound.
    std::vector<std::vector<maxplus_chunk>> chunks;
    float background; // smallest scaled kernel value
    int levels;       // sparse-table levels the windows need
    int peak;         // the row holding the largest kernel value
    std::vector<float> rowtop; // each row's largest kernel value
    // Per row, the row the same distance from the peak row on its other
    // side when it holds the same values, else -1: a symmetric cutter's
    // rows come in such pairs.
    std::vector<int> mirror;
};

// Output pixels tapped together, their maxima held in vector registers, and
// the kernel columns bounded together.
constexpr int maxplus_block = 16;
constexpr int maxplus_chunkwidth = 16;
constexpr int maxplus_groupchunks = 4;
// The spacing of the kernel rows added first after the peak row (a power of
// two; each pass after it halves the spacing).
constexpr int maxplus_firststride = 16;

// Image row with absent pixels (below minval, NaN, outside the row) as -inf,
// so that no sum with them can be the maximum, and the sparse table of its
// window maxima: level p holds the maximum of 2^p pixels from each position.
struct maxplus_rowtable {
    int pad, span;
    float top;            // the row's largest pixel
    std::vector<float> t; // levels x span
    const float *level(int p) const { return t.data() + (size_t)p * span; }
};

// Concavity by exact second differences (a double holds the sum of two
// floats of the kernel's range exactly).
bool maxplus_isconcave(const float *k, int a, int b)
{
    for (int i = a + 1; i < b; i++)
        if ((double)k[i - 1] + (double)k[i + 1] > 2.0 * (double)k[i])
            return false;
    return true;
}

maxplus_row maxplus_analyserow(const float *k, int kw, float background)
{
    int a = 0, b = kw - 1;
    while (a < kw && k[a] <= background)
        a++;
    while (b >= a && k[b] <= background)
        b--;
    if (a > b) // all background: one flat window over the whole row
        return {0, kw - 1, maxplus_flat, false};
    bool flat = std::all_of(k + a, k + b + 1, [&](float v) { return v == k[a]; });
    const bool envelope = b - a + 1 >= img_maxplusenvelope && maxplus_isconcave(k, a, b);
    maxplus_kind kind = flat ? maxplus_flat : envelope ? maxplus_concave : maxplus_other;
    return {a, b, kind, a > 0 || b < kw - 1};
}

int maxplus_log2(int n)
{
    int p = 0;
    while ((2 << p) <= n)
        p++;
    return p;
}

maxplus_chunk maxplus_makechunk(const float *k, int a, int b, int cover)
{
    const int reach = b - a + 1, level = reach > 1 ? maxplus_log2(reach - 1) : 0;
    const int half = 1 << level, second = reach - half;
    return {a,
            b,
            *std::max_element(k + a, k + b + 1),
            *std::max_element(k + a, k + a + half),
            *std::max_element(k + a + second, k + b + 1),
            level,
            second,
            cover};
}

bool maxplus_higher(const maxplus_chunk &l, const maxplus_chunk &r)
{
    return l.kmax > r.kmax;
}

// A tapped row's stretches, gated in two tiers: the whole run first, then
// groups of stretches, each group's gate before its members. A gate whose
// bound cannot pass skips everything it stands for. Groups and their
// members go largest kernel value first.
std::vector<maxplus_chunk> maxplus_makechunks(const float *k, const maxplus_row &row)
{
    constexpr int groupwidth = maxplus_chunkwidth * maxplus_groupchunks;
    std::vector<std::vector<maxplus_chunk>> groups;
    for (int g = row.a; g <= row.b; g += groupwidth) {
        const int end = std::min(g + groupwidth - 1, row.b);
        std::vector<maxplus_chunk> group;
        for (int a = g; a <= end; a += maxplus_chunkwidth)
            group.push_back(maxplus_makechunk(k, a, std::min(a + maxplus_chunkwidth - 1, end), 0));
        std::stable_sort(group.begin(), group.end(), maxplus_higher);
        if (group.size() > 1)
            group.insert(group.begin(), maxplus_makechunk(k, g, end, (int)group.size()));
        groups.push_back(group);
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const auto &l, const auto &r) { return maxplus_higher(l[0], r[0]); });
    std::vector<maxplus_chunk> chunks{maxplus_makechunk(k, row.a, row.b, 0)};
    for (const auto &group : groups)
        chunks.insert(chunks.end(), group.begin(), group.end());
    chunks[0].cover = (int)chunks.size() - 1;
    return chunks;
}

maxplus_plan maxplus_makeplan(const convo_job &j)
{
    maxplus_plan plan;
    const size_t n = (size_t)j.kwidth * j.kheight;
    plan.k.resize(n);
    for (size_t i = 0; i < n; i++)
        plan.k[i] = j.kernel[i] * j.scale;
    plan.background = *std::min_element(plan.k.begin(), plan.k.end());
    plan.peak = (int)((std::max_element(plan.k.begin(), plan.k.end()) - plan.k.begin()) / j.kwidth);
    for (int r = 0; r < j.kheight; r++) {
        const float *row = plan.k.data() + (size_t)r * j.kwidth;
        plan.rowtop.push_back(*std::max_element(row, row + j.kwidth));
    }
    int widest = 1;
    for (int r = 0; r < j.kheight; r++) {
        maxplus_row row = maxplus_analyserow(plan.k.data() + (size_t)r * j.kwidth, j.kwidth, plan.background);
        plan.rows.push_back(row);
        if (row.kind != maxplus_concave)
            widest = std::max(widest, row.b - row.a + 1);
        if (row.background)
            widest = j.kwidth;
    }
    plan.levels = maxplus_log2(std::max(widest, maxplus_chunkwidth)) + 1;
    for (int r = 0; r < j.kheight; r++) {
        const int q = 2 * plan.peak - r;
        const bool same = q >= 0 && q < j.kheight && q != r &&
                          std::memcmp(plan.k.data() + (size_t)r * j.kwidth, plan.k.data() + (size_t)q * j.kwidth,
                                      j.kwidth * sizeof(float)) == 0;
        plan.mirror.push_back(same ? q : -1);
    }
    plan.chunks.resize(plan.rows.size());
    for (int r = 0; r < j.kheight; r++)
        if (plan.rows[r].kind == maxplus_other)
            plan.chunks[r] = maxplus_makechunks(plan.k.data() + (size_t)r * j.kwidth, plan.rows[r]);
    return plan;
}

// Every image row is prepared once for each pass over the kernel rows, so
// this is built for the wider vector units too, the best picked once at
// start.
inline void maxplus_fillbody(maxplus_rowtable &tab, const float *src, int w, float minval)
{
    float *t0 = tab.t.data();
    std::fill(t0, t0 + tab.span, maxplus_absent);
    float top = maxplus_absent;
    for (int x = 0; x < w; x++) {
        const float v = src[x] >= minval ? src[x] : maxplus_absent;
        t0[tab.pad + x] = v;
        top = std::max(top, v);
    }
    tab.top = top;
    for (int p = 1; p < (int)(tab.t.size() / tab.span); p++) {
        const float *lo = tab.level(p - 1);
        float *hi = tab.t.data() + (size_t)p * tab.span;
        const int step = 1 << (p - 1), n = tab.span - step;
        for (int x = 0; x < n; x++)
            hi[x] = std::max(lo[x], lo[x + step]);
        std::fill(hi + n, hi + tab.span, maxplus_absent);
    }
}

#define MAXPLUS_FILLARGS maxplus_rowtable &tab, const float *src, int w, float minval
__attribute__((flatten, target("avx512f"))) void maxplus_fill512(MAXPLUS_FILLARGS)
{
    maxplus_fillbody(tab, src, w, minval);
}
__attribute__((flatten, target("avx2"))) void maxplus_fill256(MAXPLUS_FILLARGS)
{
    maxplus_fillbody(tab, src, w, minval);
}
__attribute__((flatten)) void maxplus_fillbase(MAXPLUS_FILLARGS)
{
    maxplus_fillbody(tab, src, w, minval);
}
using maxplus_fillfn = void (*)(MAXPLUS_FILLARGS);
#undef MAXPLUS_FILLARGS

// acc[x] = max(acc[x], (max of the len pixels from padded column base + x)
// + k). The window maximum is one of its pixels and rounding is monotone, so
// this is the largest of the sums v + k the taps form.
void maxplus_flatwindow(float *__restrict acc, const maxplus_rowtable &tab, int w, int base, int len, float k)
{
    const int p = maxplus_log2(len);
    const float *lv = tab.level(p) + base;
    const float *rv = lv + (len - (1 << p));
    for (int x = 0; x < w; x++)
        acc[x] = std::max(acc[x], std::max(lv[x], rv[x]) + k);
}

// Rows of neither shape: their taps over the run. The output is walked in
// blocks whose running maxima stay in vector registers while the columns are
// added, so a tap costs a load, an add and a max, not also a load and a store
// of the output. The run is taken a stretch at a time, largest kernel values
// first; a stretch whose bound at each pixel of the block (over its two
// halves, the largest pixel the half reaches from there plus the half's
// largest kernel value) is no more than that pixel's running maximum cannot
// raise any of them and is skipped. Rounding is monotone, so no sum it would
// form exceeds that bound, and max is exact: the result is the taps' own.
// Built for the wider vector units too, the best picked once at start.
typedef float maxplus_vec __attribute__((vector_size(64)));
constexpr int maxplus_lanes = 16;
static_assert(maxplus_block == maxplus_lanes, "a block is one vector");

// Whether any lane of a exceeds b's, in the widest compare the unit has:
// this test runs for every stretch of every block, so its cost counts.
enum maxplus_isa { maxplus_base, maxplus_avx2, maxplus_avx512 };

template <maxplus_isa isa> inline bool maxplus_anyabove(maxplus_vec a, maxplus_vec b);

template <>
__attribute__((target("avx512f"))) inline bool
maxplus_anyabove<maxplus_avx512>(maxplus_vec a, maxplus_vec b)
{
    return _mm512_cmp_ps_mask((__m512)a, (__m512)b, _CMP_GT_OQ) != 0;
}

template <>
__attribute__((target("avx2"))) inline bool maxplus_anyabove<maxplus_avx2>(maxplus_vec a, maxplus_vec b)
{
    __m256 a2[2], b2[2];
    std::memcpy(a2, &a, sizeof a2);
    std::memcpy(b2, &b, sizeof b2);
    return (_mm256_movemask_ps(_mm256_cmp_ps(a2[0], b2[0], _CMP_GT_OQ)) |
            _mm256_movemask_ps(_mm256_cmp_ps(a2[1], b2[1], _CMP_GT_OQ))) != 0;
}

template <> inline bool maxplus_anyabove<maxplus_base>(maxplus_vec a, maxplus_vec b)
{
    __m128 a4[4], b4[4];
    std::memcpy(a4, &a, sizeof a4);
    std::memcpy(b4, &b, sizeof b4);
    int any = 0;
    for (int q = 0; q < 4; q++)
        any |= _mm_movemask_ps(_mm_cmpgt_ps(a4[q], b4[q]));
    return any != 0;
}

// Each build below takes the whole body into itself (flatten), so the body
// is compiled for that build's vector unit.
template <maxplus_isa isa>
inline void maxplus_tapsbody(float *acc, float *acc2, const maxplus_rowtable &tab, int origin, int w, const float *k,
                             const maxplus_chunk *chunks, int nchunks)
{
    const float *row = tab.level(0) + origin;
    int x0 = 0;
    for (; x0 + maxplus_block <= w; x0 += maxplus_block) {
        // Two output rows the same kernel row meets through the same image
        // row take the same sums: they are tapped once, gated by the lower
        // of their maxima. What this finds is the larger of that and every
        // sum not skipped, and each skipped sum lies below it, so each row's
        // max with it is its max with all the sums.
        maxplus_vec m1, m2;
        std::memcpy(&m1, acc + x0, sizeof m1);
        std::memcpy(&m2, acc2 + x0, sizeof m2);
        maxplus_vec m = m2 < m1 ? m2 : m1;
        for (int c = 0; c < nchunks; c++) {
            const maxplus_chunk &ch = chunks[c];
            // Each pixel's bound: over the stretch's two halves, the largest
            // pixel the half reaches from it plus the half's largest kernel
            // value.
            const float *lv = tab.level(ch.level) + origin + x0 + ch.a;
            maxplus_vec near, far;
            std::memcpy(&near, lv, sizeof near);
            std::memcpy(&far, lv + ch.second, sizeof far);
            near += ch.knear;
            far += ch.kfar;
            const maxplus_vec bound = near < far ? far : near;
            if (!maxplus_anyabove<isa>(bound, m)) {
                c += ch.cover;
                continue;
            }
            if (ch.cover)
                continue;
            // Four running maxima, one per column of four, so that the max
            // of one tap does not wait on the one before.
            maxplus_vec part[4] = {m, m, m, m};
            int i = ch.a;
            for (; i + 3 <= ch.b; i += 4)
                for (int q = 0; q < 4; q++) {
                    maxplus_vec sum;
                    std::memcpy(&sum, row + x0 + i + q, sizeof sum);
                    sum += k[i + q];
                    part[q] = part[q] < sum ? sum : part[q];
                }
            for (; i <= ch.b; i++) {
                maxplus_vec sum;
                std::memcpy(&sum, row + x0 + i, sizeof sum);
                sum += k[i];
                part[0] = part[0] < sum ? sum : part[0];
            }
            for (int q = 1; q < 4; q++)
                part[0] = part[0] < part[q] ? part[q] : part[0];
            m = part[0];
        }
        m1 = m1 < m ? m : m1;
        m2 = m2 < m ? m : m2;
        std::memcpy(acc + x0, &m1, sizeof m1);
        std::memcpy(acc2 + x0, &m2, sizeof m2);
    }
    for (int c = 0; c < nchunks; c++)
        for (int i = chunks[c].a; i <= chunks[c].b && !chunks[c].cover; i++) {
            const float ki = k[i];
            for (int x = x0; x < w; x++) {
                acc[x] = std::max(acc[x], row[x + i] + ki);
                acc2[x] = std::max(acc2[x], row[x + i] + ki);
            }
        }
}

#define MAXPLUS_TAPSARGS                                                                                       \
    float *acc, float *acc2, const maxplus_rowtable &tab, int origin, int w, const float *k,                  \
        const maxplus_chunk *chunks, int nchunks
__attribute__((flatten, target("avx512f"))) void maxplus_taps512(MAXPLUS_TAPSARGS)
{
    maxplus_tapsbody<maxplus_avx512>(acc, acc2, tab, origin, w, k, chunks, nchunks);
}
__attribute__((flatten, target("avx2"))) void maxplus_taps256(MAXPLUS_TAPSARGS)
{
    maxplus_tapsbody<maxplus_avx2>(acc, acc2, tab, origin, w, k, chunks, nchunks);
}
__attribute__((flatten)) void maxplus_tapsbase(MAXPLUS_TAPSARGS)
{
    maxplus_tapsbody<maxplus_base>(acc, acc2, tab, origin, w, k, chunks, nchunks);
}

// The widest build the processor runs, chosen once.
using maxplus_tapsfn = void (*)(MAXPLUS_TAPSARGS);
maxplus_tapsfn maxplus_picktaps()
{
    __builtin_cpu_init(); // this runs among the static constructors
    return __builtin_cpu_supports("avx512f") ? maxplus_taps512
           : __builtin_cpu_supports("avx2")  ? maxplus_taps256
                                             : maxplus_tapsbase;
}
const maxplus_tapsfn maxplus_taps = maxplus_picktaps();
const maxplus_fillfn maxplus_filltable = __builtin_cpu_supports("avx512f") ? maxplus_fill512
                                         : __builtin_cpu_supports("avx2")  ? maxplus_fill256
                                                                           : maxplus_fillbase;
#undef MAXPLUS_TAPSARGS

// Concave row: output x takes from source s the sum g[s] + k[s - x + half]
// for s - x + half in [a, b]. For s1 < s2 the difference of their sums
// grows with x (k is concave), so s2 wins on a suffix of x: the upper
// envelope of the translates is a stack of sources, each winning from its
// start column until the next one's start.
struct maxplus_envelope {
    const float *g; // the padded row's pixels at column 0
    const float *k;
    int half, a, b;
    struct entry {
        int s, start;
    };
    std::vector<entry> stack;

    float sum(int s, int x) const { return g[s] + k[s - x + half]; }
    int last(int s) const { return s + half - a; } // last column source s reaches
    // Source s (later) wins over q at column x; s reaches x. Written without
    // branches (q's kernel index is kept in range where q no longer reaches
    // x), as the search below depends on it.
    bool beats(int s, int q, int x) const
    {
        const float vq = g[q] + k[std::max(q - x + half, a)];
        return (x > last(q)) | (sum(s, x) >= vq);
    }

    // First column in [lo, hi] where s beats q; beats holds at hi. The halving
    // only selects, so the unpredictable outcome costs no mispredicted jumps.
    int crossing(int s, int q, int lo, int hi) const
    {
        int base = lo, n = hi - lo + 1;
        while (n > 1) {
            const int h = n / 2;
            base = beats(s, q, base + h - 1) ? base : base + h;
            n -= h;
        }
        return base;
    }

    void push(int s, int w)
    {
        int start = std::max(s + half - b, 0);
        while (!stack.empty()) {
            const entry q = stack.back();
            if (start <= q.start && beats(s, q.s, q.start)) {
                stack.pop_back();
                continue;
            }
            start = crossing(s, q.s, std::max(start, q.start), last(q.s) + 1);
            break;
        }
        if (start < w)
            stack.push_back({s, start});
    }

    void build(int w)
    {
        stack.clear();
        for (int s = 0; s < w; s++) {
            if (s + half - b >= w)
                break;
            if (g[s] != maxplus_absent && last(s) >= 0)
                push(s, w);
        }
    }

    void apply(float *acc, int w) const
    {
        size_t at = 0;
        for (int x = 0; x < w && at < stack.size(); x++) {
            while (at + 1 < stack.size() && stack[at + 1].start <= x)
                at++;
            const entry &e = stack[at];
            if (e.start <= x && x <= last(e.s))
                acc[x] = std::max(acc[x], sum(e.s, x));
        }
    }
};

// Adds image row sy (already in tab) through kernel row r to output rows acc
// and acc2 (the same row when only one). floor is no more than any of their
// values: what cannot pass it is skipped (a sum below every running maximum
// changes none of them).
void maxplus_addrow(const convo_job &j, const maxplus_plan &plan, const maxplus_rowtable &tab,
                    maxplus_envelope &env, int r, float *acc, float *acc2, float floor)
{
    if (tab.top + plan.rowtop[r] <= floor)
        return;
    const maxplus_row &row = plan.rows[r];
    const float *k = plan.k.data() + (size_t)r * j.kwidth;
    const int w = j.width, half = j.kwidth / 2, origin = tab.pad - half;
    const int outs = acc2 != acc ? 2 : 1;
    float *const to[2] = {acc, acc2};
    if (row.background && tab.top + plan.background > floor)
        for (int o = 0; o < outs; o++)
            maxplus_flatwindow(to[o], tab, w, origin, j.kwidth, plan.background);
    switch (row.kind) {
    case maxplus_flat:
        for (int o = 0; o < outs; o++)
            maxplus_flatwindow(to[o], tab, w, origin + row.a, row.b - row.a + 1, k[row.a]);
        break;
    case maxplus_concave:
        env.g = tab.level(0) + tab.pad;
        env.k = k;
        env.half = half;
        env.a = row.a;
        env.b = row.b;
        env.build(w);
        for (int o = 0; o < outs; o++)
            env.apply(to[o], w);
        break;
    case maxplus_other:
        maxplus_taps(acc, acc2, tab, origin, w, k, plan.chunks[r].data(), (int)plan.chunks[r].size());
        break;
    }
}

// Adds to the band's output rows the kernel rows r whose distance from the
// peak row is a multiple of stride but not of done (0: none done yet), in
// scatter order: each image row the pairs need is prepared once and added to
// every output row of the band it reaches, through the kernel row that pairs
// them.
void maxplus_addrows(const convo_job &j, const maxplus_plan &plan, maxplus_rowtable &tab, maxplus_envelope &env,
                     int stride, int done, const std::vector<float> &floors)
{
    const int w = j.width, kh = j.kheight, top = kh / 2;
    auto multiple = [](int d, int of) { return of > 0 && d % of == 0; };
    // Output row y meets image row sy through kernel row sy - y + top.
    const int s0 = std::max(j.row0 - top, 0), s1 = std::min(j.row1 - 1 + kh - 1 - top, j.height - 1);
    for (int sy = s0; sy <= s1; sy++) {
        const int lo = std::max(sy + top - (j.row1 - 1), 0), hi = std::min(sy + top - j.row0, kh - 1);
        bool filled = false;
        for (int r = lo + ((plan.peak - lo) % stride + stride) % stride; r <= hi; r += stride) {
            // A row whose mirror is in reach goes with it: the one before
            // the peak takes the one after along.
            const int q = plan.mirror[r];
            if (multiple(r - plan.peak, done) || (q >= lo && q < r))
                continue;
            if (!filled)
                maxplus_filltable(tab, j.image + (size_t)sy * w, w, j.minval);
            filled = true;
            const int y = sy + top - r, y2 = q > r && q <= hi ? sy + top - q : y;
            const float f = floors[y - j.row0], f2 = floors[y2 - j.row0];
            float *acc = j.output + (size_t)y * w, *acc2 = j.output + (size_t)y2 * w;
            // Paired only where both rows pass their floors.
            if (tab.top + plan.rowtop[r] <= f)
                maxplus_addrow(j, plan, tab, env, r, acc2, acc2, f2);
            else if (tab.top + plan.rowtop[r] <= f2)
                maxplus_addrow(j, plan, tab, env, r, acc, acc, f);
            else
                maxplus_addrow(j, plan, tab, env, r, acc, acc2, std::min(f, f2));
        }
    }
}

} // namespace

bool img_maxplusfits(const convo_job &j)
{
    if (j.mode != 0 || j.kwidth < img_maxplusmin || j.kheight < img_maxplusmin)
        return false;
    const size_t n = (size_t)j.kwidth * j.kheight;
    for (size_t i = 0; i < n; i++)
        if (!std::isfinite(j.kernel[i] * j.scale))
            return false;
    return true;
}

// The kernel rows are added coarse to fine: the row where the profile peaks,
// then every maxplus_firststride-th row from it, then the rows halfway
// between those, and so on. Neighbouring rows of a cutter and of a relief
// differ little, so the sparse rows bring each running maximum close to its
// end early and the bounds skip more of the rows that follow. The smallest
// of each output row's maxima after a pass is a floor for the row from then
// on.
void img_maxplusband(const convo_job &j)
{
    const int w = j.width;
    const maxplus_plan plan = maxplus_makeplan(j);
    maxplus_rowtable tab;
    tab.pad = j.kwidth + 1;
    tab.span = w + 2 * tab.pad;
    tab.t.resize((size_t)plan.levels * tab.span);
    maxplus_envelope env{};
    env.stack.reserve(w);
    float *out = j.output;
    std::fill(out + (size_t)j.row0 * w, out + (size_t)j.row1 * w, maxplus_nothing);
    std::vector<float> floors(j.row1 - j.row0, maxplus_absent);
    // Rows by window maxima cost the same in any order: without tapped rows
    // the peak row goes first and the rest in one pass.
    const bool tapped = std::any_of(plan.rows.begin(), plan.rows.end(),
                                    [](const maxplus_row &row) { return row.kind == maxplus_other; });
    int done = 0;
    for (int stride = j.kheight, next = tapped ? maxplus_firststride : 1; stride >= 1;
         done = stride, stride = next, next /= 2) {
        maxplus_addrows(j, plan, tab, env, stride, done, floors);
        for (int y = j.row0; y < j.row1; y++)
            floors[y - j.row0] = *std::min_element(out + (size_t)y * w, out + (size_t)(y + 1) * w);
    }
    for (size_t i = (size_t)j.row0 * w; i < (size_t)j.row1 * w; i++)
        out[i] += j.offset;
}
