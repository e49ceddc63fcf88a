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

struct maxplus_plan {
    std::vector<float> k; // scaled kernel, row-major, as the taps form it
    std::vector<maxplus_row> rows;
    float background; // smallest scaled kernel value
    int levels;       // sparse-table levels the flat windows need
};

// Image row with absent pixels (below minval, NaN, outside the row) as -inf,
// so that no sum with them can be the maximum, and the sparse table of its
// window maxima: level p holds the maximum of 2^p pixels from each position.
struct maxplus_rowtable {
    int pad, span;
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

maxplus_plan maxplus_makeplan(const convo_job &j)
{
    maxplus_plan plan;
    const size_t n = (size_t)j.kwidth * j.kheight;
    plan.k.resize(n);
    for (size_t i = 0; i < n; i++)
        plan.k[i] = j.kernel[i] * j.scale;
    plan.background = *std::min_element(plan.k.begin(), plan.k.end());
    int widest = 1;
    for (int r = 0; r < j.kheight; r++) {
        maxplus_row row = maxplus_analyserow(plan.k.data() + (size_t)r * j.kwidth, j.kwidth, plan.background);
        plan.rows.push_back(row);
        if (row.kind == maxplus_flat)
            widest = std::max(widest, row.b - row.a + 1);
        if (row.background)
            widest = j.kwidth;
    }
    plan.levels = maxplus_log2(widest) + 1;
    return plan;
}

void maxplus_filltable(maxplus_rowtable &tab, const float *src, int w, float minval)
{
    float *t0 = tab.t.data();
    std::fill(t0, t0 + tab.span, maxplus_absent);
    for (int x = 0; x < w; x++)
        t0[tab.pad + x] = src[x] >= minval ? src[x] : maxplus_absent;
    for (int p = 1; p < (int)(tab.t.size() / tab.span); p++) {
        const float *lo = tab.level(p - 1);
        float *hi = tab.t.data() + (size_t)p * tab.span;
        const int step = 1 << (p - 1), n = tab.span - step;
        for (int x = 0; x < n; x++)
            hi[x] = std::max(lo[x], lo[x + step]);
        std::fill(hi + n, hi + tab.span, maxplus_absent);
    }
}

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

// Rows of neither shape: their taps over the run, one column at a time. This
// is the loop that stays hot where such rows are many, so it is built for the
// wider vector units too and the best is picked at run time.
__attribute__((target_clones("avx512f", "avx2", "default"))) void
maxplus_taps(float *__restrict acc, const float *__restrict row, int w, const float *k, int a, int b)
{
    for (int i = a; i <= b; i++) {
        const float ki = k[i];
        const float *v = row + i;
        for (int x = 0; x < w; x++)
            acc[x] = std::max(acc[x], v[x] + ki);
    }
}

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

// Adds image row sy (already in tab) through kernel row r to output row acc.
void maxplus_addrow(const convo_job &j, const maxplus_plan &plan, const maxplus_rowtable &tab,
                    maxplus_envelope &env, int r, float *acc)
{
    const maxplus_row &row = plan.rows[r];
    const float *k = plan.k.data() + (size_t)r * j.kwidth;
    const int w = j.width, half = j.kwidth / 2, origin = tab.pad - half;
    if (row.background)
        maxplus_flatwindow(acc, tab, w, origin, j.kwidth, plan.background);
    switch (row.kind) {
    case maxplus_flat:
        maxplus_flatwindow(acc, tab, w, origin + row.a, row.b - row.a + 1, k[row.a]);
        break;
    case maxplus_concave:
        env.g = tab.level(0) + tab.pad;
        env.k = k;
        env.half = half;
        env.a = row.a;
        env.b = row.b;
        env.build(w);
        env.apply(acc, w);
        break;
    case maxplus_other:
        maxplus_taps(acc, tab.level(0) + origin, w, k, row.a, row.b);
        break;
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

// Scatter order: each image row the band needs is prepared once and added
// to every output row of the band it reaches, through the kernel row that
// pairs them.
void img_maxplusband(const convo_job &j)
{
    const int w = j.width, kh = j.kheight, top = kh / 2;
    const maxplus_plan plan = maxplus_makeplan(j);
    maxplus_rowtable tab;
    tab.pad = j.kwidth + 1;
    tab.span = w + 2 * tab.pad;
    tab.t.resize((size_t)plan.levels * tab.span);
    maxplus_envelope env{};
    env.stack.reserve(w);
    float *out = j.output;
    std::fill(out + (size_t)j.row0 * w, out + (size_t)j.row1 * w, maxplus_nothing);
    const int s0 = std::max(j.row0 - top, 0), s1 = std::min(j.row1 - 1 + (kh - 1 - top), j.height - 1);
    for (int sy = s0; sy <= s1; sy++) {
        maxplus_filltable(tab, j.image + (size_t)sy * w, w, j.minval);
        // Output row y meets image row sy through kernel row sy - y + top.
        const int y0 = std::max(j.row0, sy + top - (kh - 1)), y1 = std::min(j.row1 - 1, sy + top);
        for (int y = y0; y <= y1; y++)
            maxplus_addrow(j, plan, tab, env, sy - y + top, out + (size_t)y * w);
    }
    for (size_t i = (size_t)j.row0 * w; i < (size_t)j.row1 * w; i++)
        out[i] += j.offset;
}
