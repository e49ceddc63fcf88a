// Paths: slot searches over growable curve and knot arrays, compaction,
// normalisation, bounds, sampling, and the raw and quantised byte forms.
// Stored paths come from files and blobs: the reader checks every size and
// link before it trusts them, so a damaged file cannot make a later walk
// leave the arrays or loop forever.
#include "geom/path.h"

#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

constexpr int32_t path_startcurves = 32;
constexpr int32_t path_startknots = 256;
constexpr int path_qknotbytes = 20;

static int32_t path_bitbytes(int32_t n)
{
    return (n + 7) >> 3;
}

static void path_freecurveslot(curve &c)
{
    c = curve{-1, -1, -1, -1, 0, 0};
}

static void path_freeknotslot(knot &k)
{
    k = knot{};
    k.prev = k.next = -1;
}

// Allocates the arrays of a path record for nc curves and nk knots, all
// free. Fails (0) when any size does not fit the allocator.
static int path_allocarrays(path *p, int32_t nc, int32_t nk)
{
    if ((int64_t)nc * (int64_t)sizeof(curve) > INT32_MAX || (int64_t)nk * (int64_t)sizeof(knot) > INT32_MAX)
        return 0;
    p->csel = (uint8_t *)sys_calloc(path_bitbytes(nc) + 1, 1);
    p->ksel = (uint8_t *)sys_calloc(path_bitbytes(nk) + 1, 1);
    p->cused = (uint8_t *)sys_calloc(nc + 1, 1);
    p->kused = (uint8_t *)sys_calloc(nk + 1, 1);
    p->curves = (curve *)sys_malloc((nc ? nc : 1) * (int32_t)sizeof(curve));
    p->knots = (knot *)sys_malloc((nk ? nk : 1) * (int32_t)sizeof(knot));
    if (!p->csel || !p->ksel || !p->cused || !p->kused || !p->curves || !p->knots)
        return 0;
    for (int32_t i = 0; i < nc; i++)
        path_freecurveslot(p->curves[i]);
    for (int32_t i = 0; i < nk; i++)
        path_freeknotslot(p->knots[i]);
    p->csz = nc;
    p->ksz = nk;
    return 1;
}

void path_free(path *p)
{
    if (!p)
        return;
    sys_free(p->csel);
    sys_free(p->ksel);
    sys_free(p->cused);
    sys_free(p->kused);
    sys_free(p->curves);
    sys_free(p->knots);
    sys_free(p);
}

// An empty record with nc curve and nk knot slots, or null.
static path *path_alloc(int32_t nc, int32_t nk)
{
    path *p = (path *)sys_calloc(1, sizeof(path));
    if (!p)
        return nullptr;
    p->chead = p->ctail = -1;
    if (!path_allocarrays(p, nc, nk)) {
        path_free(p);
        return nullptr;
    }
    return p;
}

path *path_new()
{
    path *p = path_alloc(path_startcurves, path_startknots);
    if (!p)
        sys_log("path_new: failed to allocate a path");
    return p;
}

// Grows an array of n elements to 2n, keeping its contents; the new slots
// are left for the caller. Sizes are computed in 64 bits.
template <typename T> static T *path_grow(T *block, int32_t n, int32_t newn)
{
    int64_t bytes = (int64_t)newn * (int64_t)sizeof(T);
    if (newn <= n || bytes > INT32_MAX)
        return nullptr;
    return (T *)sys_realloc(block, (int32_t)bytes);
}

// Grows a byte array of oldbytes to newbytes, clearing what is new.
static int path_growbytearray(uint8_t **a, int32_t oldbytes, int32_t newbytes)
{
    uint8_t *b = (uint8_t *)sys_realloc(*a, newbytes);
    if (!b)
        return 0;
    if (newbytes > oldbytes)
        memset(b + oldbytes, 0, (size_t)(newbytes - oldbytes));
    *a = b;
    return 1;
}

// Grows the selection bits and live marks along with a slot array of n
// slots to newn.
static int path_growbytes(uint8_t **sel, uint8_t **used, int32_t n, int32_t newn)
{
    return path_growbytearray(sel, path_bitbytes(n) + 1, path_bitbytes(newn) + 1) &&
           path_growbytearray(used, n + 1, newn + 1);
}

static int path_growknots(path *p)
{
    int32_t newn = p->knum > INT32_MAX / 2 ? 0 : 2 * p->knum;
    knot *k = path_grow(p->knots, p->ksz, newn);
    if (!k)
        return 0;
    p->knots = k;
    for (int32_t i = p->ksz; i < newn; i++)
        path_freeknotslot(p->knots[i]);
    if (!path_growbytes(&p->ksel, &p->kused, p->ksz, newn))
        return 0;
    p->ksz = newn;
    sys_log("...reallocated knots buffer (num:%d size:%d)", p->knum, newn);
    return 1;
}

int path_addknot(path *p)
{
    if (p->knum == p->ksz) {
        if (!path_growknots(p)) {
            sys_error("path_addknot: knots overflow!");
            return -1;
        }
        int32_t k = p->knum++;
        p->kidx++;
        p->kused[k] = 1;
        return k;
    }
    if (p->ksz < 1) {
        sys_error("path_addknot: failed to allocate knot! (num:%d/size:%d)", p->knum, p->ksz);
        return -1;
    }
    for (int32_t n = 0; n < p->ksz; n++) {
        int64_t i = (int64_t)p->kidx + n;
        int32_t k = (int32_t)(i % p->ksz);
        const knot &s = p->knots[k];
        if (s.prev == -1 && s.next == -1 && !p->kused[k]) {
            p->kidx = (int32_t)((i + 1) % INT32_MAX);
            p->knum++;
            p->kused[k] = 1;
            return k;
        }
    }
    p->kidx = (int32_t)(((int64_t)p->kidx + p->ksz) % INT32_MAX);
    sys_error("path_addknot: failed to allocate knot! (num:%d/size:%d)", p->knum, p->ksz);
    return -1;
}

static int path_growcurves(path *p)
{
    int32_t newn = p->csz > INT32_MAX / 2 ? 0 : 2 * p->csz;
    curve *c = path_grow(p->curves, p->csz, newn);
    if (!c)
        return 0;
    p->curves = c;
    for (int32_t i = p->csz; i < newn; i++)
        path_freecurveslot(p->curves[i]);
    if (!path_growbytes(&p->csel, &p->cused, p->csz, newn))
        return 0;
    p->csz = newn;
    sys_log("...reallocated curves buffer (num:%d size:%d)", p->cnum, newn);
    return 1;
}

// A free curve slot by the next-fit search, or -1 (logged with every slot).
static int path_findcurve(path *p)
{
    if (p->csz < 1) {
        sys_error("No free paths! (num_curves:%d sz_curves:%d)", p->cnum, p->csz);
        return -1;
    }
    for (int32_t n = 0; n < p->csz; n++) {
        int64_t i = (int64_t)p->cidx + n;
        int32_t c = (int32_t)(i % p->csz);
        const curve &s = p->curves[c];
        if (s.prev == -1 && s.next == -1 && !p->cused[c]) {
            p->cidx = (int32_t)((i + 1) % INT32_MAX);
            return c;
        }
    }
    for (int32_t c = 0; c < p->csz; c++) {
        const curve &s = p->curves[c];
        sys_log("curve[%d] prev:%d next:%d head:%d tail:%d", c, s.prev, s.next, s.head, s.tail);
    }
    sys_error("No free paths! (num_curves:%d sz_curves:%d)", p->cnum, p->csz);
    return -1;
}

int path_newcurve(path *p)
{
    int32_t c;
    if (p->cnum < p->csz) {
        c = path_findcurve(p);
        if (c < 0)
            return -1;
    } else {
        if (!path_growcurves(p)) {
            sys_error("path_newcurve: curves overflow!");
            return -1;
        }
        c = p->cnum;
    }
    curve &s = p->curves[c];
    s.prev = p->chead;
    s.next = -1;
    if (p->chead != -1)
        p->curves[p->chead].next = c;
    p->chead = c;
    if (p->ctail == -1)
        p->ctail = c;
    s.closed = 0;
    p->cused[c] = 1;
    p->cnum++;
    return c;
}

int path_prependknot(path *p, int c, const float point[3])
{
    if (c < 0 || c >= p->csz) {
        sys_log("path_prependknot: invalid curve %d", c);
        return -1;
    }
    int k = path_addknot(p);
    if (k < 0)
        return -1;
    curve &s = p->curves[c];
    knot &n = p->knots[k];
    n.prev = s.head;
    if (s.head != -1)
        p->knots[s.head].next = k;
    s.head = k;
    if (s.tail == -1)
        s.tail = k;
    for (int i = 0; i < 3; i++)
        n.pos[i] = n.h1[i] = n.h2[i] = point[i];
    return k;
}

void path_freeknot(path *p, int k)
{
    if (k < 0 || k >= p->ksz)
        return;
    p->ksel[k >> 3] &= (uint8_t)~(1u << (k & 7));
    p->knots[k].prev = p->knots[k].next = -1;
    if (p->kused[k]) {
        p->kused[k] = 0;
        p->knum--;
    }
}

void path_removecurve(path *p, int c)
{
    if (c < 0 || c >= p->csz || !p->cused[c]) {
        sys_log("path_removecurve: invalid curve %d", c);
        return;
    }
    curve &s = p->curves[c];
    if (s.prev != -1)
        p->curves[s.prev].next = s.next;
    else if (p->ctail == c)
        p->ctail = s.next;
    if (s.next != -1)
        p->curves[s.next].prev = s.prev;
    else if (p->chead == c)
        p->chead = s.prev;
    // The walk is bounded by the slot count, as every walk here.
    int32_t k = s.tail;
    for (int32_t n = 0; k != -1 && n < p->ksz; n++) {
        int32_t next = p->knots[k].next;
        path_freeknot(p, k);
        k = next;
    }
    s.head = s.tail = s.prev = s.next = -1;
    p->cused[c] = 0;
    p->csel[c >> 3] &= (uint8_t)~(1u << (c & 7));
    p->cnum--;
    sys_debuglog("removed curve:%d (num:%d)", c, p->cnum);
}

path *path_copy(const path *p)
{
    path *q = p ? path_alloc(p->csz, p->ksz) : nullptr;
    if (!q) {
        sys_log("path_copy: failed to allocate a copy");
        return nullptr;
    }
    q->chead = p->chead;
    q->ctail = p->ctail;
    q->cidx = p->cidx;
    q->cnum = p->cnum;
    q->kidx = p->kidx;
    q->knum = p->knum;
    memcpy(q->curves, p->curves, (size_t)p->csz * sizeof(curve));
    memcpy(q->knots, p->knots, (size_t)p->ksz * sizeof(knot));
    memcpy(q->cused, p->cused, (size_t)p->csz);
    memcpy(q->kused, p->kused, (size_t)p->ksz);
    return q;
}

path *path_consolidate(const path *p)
{
    path *q = path_alloc(p->cnum, p->knum);
    if (!q) {
        sys_log("path_consolidate: failed to allocate a copy");
        return nullptr;
    }
    int32_t c = p->ctail;
    for (int32_t nc = 0; c != -1 && nc < p->csz; nc++) {
        const curve &s = p->curves[c];
        int32_t d = path_newcurve(q);
        if (d < 0)
            break;
        int32_t k = s.tail;
        for (int32_t nk = 0; k != -1 && nk < p->ksz; nk++) {
            const knot &src = p->knots[k];
            int32_t m = path_prependknot(q, d, src.pos);
            if (m < 0)
                break;
            memcpy(q->knots[m].h1, src.h1, sizeof(src.h1));
            memcpy(q->knots[m].h2, src.h2, sizeof(src.h2));
            k = src.next;
        }
        q->curves[d].closed = s.closed;
        c = s.next;
    }
    if (q->cnum == p->cnum && q->knum == p->knum)
        sys_log("...consolidated paths (curves:%d knots:%d)", q->cnum, q->knum);
    else
        sys_log("!!! path_consolidate: src nums mismatch! (curves:%d/%d knots:%d/%d)", p->cnum, q->cnum, p->knum,
                q->knum);
    return q;
}

// Calls fn for every knot of every curve, in walk order.
template <typename F> static void path_eachknot(const path *p, F fn)
{
    int32_t c = p->ctail;
    for (int32_t nc = 0; c != -1 && nc < p->csz; nc++) {
        int32_t k = p->curves[c].tail;
        for (int32_t nk = 0; k != -1 && nk < p->ksz; nk++) {
            fn(k);
            k = p->knots[k].next;
        }
        c = p->curves[c].next;
    }
}

void path_normalize(path *p, const path_box &box)
{
    sys_log("normalizing path...");
    float w = box.maxx - box.minx;
    float h = box.maxy - box.miny;
    // A box without width or height maps its flat axis to 0 rather than
    // dividing by zero.
    auto map = [&](float *v) {
        v[0] = w != 0 ? (v[0] - box.minx) / w - 0.5f : 0.0f;
        v[1] = h != 0 ? (v[1] - box.miny) / h - 0.5f : 0.0f;
    };
    path_eachknot(p, [&](int32_t k) {
        knot &n = p->knots[k];
        map(n.pos);
        map(n.h1);
        map(n.h2);
    });
}

static float path_cubic(float a, float b, float c, float d, float t)
{
    float u = 1.0f - t;
    return u * u * u * a + 3.0f * u * u * t * b + 3.0f * u * t * t * c + t * t * t * d;
}

path_box path_curvebounds(const path *p, int c)
{
    path_box box{path_emptymin, path_emptymin, -path_emptymin, -path_emptymin};
    if (c < 0 || c >= p->csz)
        return box;
    int32_t a = p->curves[c].tail;
    if (a == -1 || p->knots[a].next == -1)
        return box;
    for (int32_t n = 0; a != -1 && p->knots[a].next != -1 && n < p->ksz; n++) {
        const knot &ka = p->knots[a];
        const knot &kb = p->knots[ka.next];
        float t = 0.0f;
        for (int s = 0; s <= 64; s++, t += 0.015625f) {
            float x = path_cubic(ka.pos[0], ka.h2[0], kb.h1[0], kb.pos[0], t);
            float y = path_cubic(ka.pos[1], ka.h2[1], kb.h1[1], kb.pos[1], t);
            box.minx = x < box.minx ? x : box.minx;
            box.maxx = x > box.maxx ? x : box.maxx;
            box.miny = y < box.miny ? y : box.miny;
            box.maxy = y > box.maxy ? y : box.maxy;
        }
        a = ka.next;
    }
    return box;
}

path_box path_bounds(const path *p)
{
    path_box box{path_emptymin, path_emptymin, -path_emptymin, -path_emptymin};
    int32_t c = p->ctail;
    for (int32_t n = 0; c != -1 && n < p->csz; n++) {
        path_box b = path_curvebounds(p, c);
        sys_debuglog("path[%d] bounds = ( %f, %f )( %f %f )", c, b.minx, b.miny, b.maxx, b.maxy);
        box.minx = b.minx < box.minx ? b.minx : box.minx;
        box.miny = b.miny < box.miny ? b.miny : box.miny;
        box.maxx = b.maxx > box.maxx ? b.maxx : box.maxx;
        box.maxy = b.maxy > box.maxy ? b.maxy : box.maxy;
        c = p->curves[c].next;
    }
    return box;
}

void bezier_point(float out[3], const float p0[3], const float p1[3], const float p2[3], const float p3[3], float t)
{
    float u = 1.0f - t;
    for (int i = 0; i < 3; i++) {
        float a = p0[i] * u + p1[i] * t;
        float b = p1[i] * u + p2[i] * t;
        float c = p2[i] * u + p3[i] * t;
        float d = a * u + b * t;
        float e = b * u + c * t;
        out[i] = d * u + e * t;
    }
}

// Samples of one segment with the given step, while the running sum of the
// steps stays below 0.9999.
static int path_segmentsamples(float step)
{
    int n = 0;
    for (float t = 0.0f; (double)t < 0.9999; t += step)
        n++;
    return n;
}

float *path_curveverts(const path *p, int c, float step, int *count)
{
    *count = 0;
    // A step below the float spacing near 1 would stop the running sum
    // short of it for ever, as would one that is not a number.
    if (!(step >= FLT_EPSILON) || !std::isfinite(step)) {
        sys_log("path_curveverts: invalid step %g", step);
        return nullptr;
    }
    if (c < 0 || c >= p->csz || p->curves[c].tail == -1) {
        sys_log("path_curveverts: curve %d has no knots", c);
        return nullptr;
    }
    // One step per segment: 0 skips a zero-length segment inside a longer
    // curve.
    std::vector<float> steps;
    int64_t total = 1;
    int32_t a = p->curves[c].tail;
    for (int32_t n = 0; p->knots[a].next != -1 && n < p->ksz; n++) {
        const knot &ka = p->knots[a];
        const knot &kb = p->knots[ka.next];
        float d = 0.0f;
        for (int i = 0; i < 3; i++)
            d += (kb.pos[i] - ka.pos[i]) * (kb.pos[i] - ka.pos[i]);
        bool only = ka.prev == -1 && kb.next == -1;
        float s = d < 1e-8f && !only ? 0.0f : step;
        steps.push_back(s);
        total += s > 0 ? path_segmentsamples(s) : 0;
        a = ka.next;
        if (total * 3 * (int64_t)sizeof(float) > INT32_MAX)
            break;
    }
    if (total * 3 * (int64_t)sizeof(float) > INT32_MAX) {
        sys_log("path_curveverts: %lld vertices do not fit", (long long)total);
        return nullptr;
    }
    float *v = (float *)sys_malloc((int32_t)(total * 3 * sizeof(float)));
    if (!v)
        return nullptr;
    int32_t out = 0;
    a = p->curves[c].tail;
    for (float s : steps) {
        const knot &ka = p->knots[a];
        const knot &kb = p->knots[ka.next];
        if (s > 0) {
            for (float t = 0.0f; (double)t < 0.9999; t += s) {
                bezier_point(v + 3 * out, ka.pos, ka.h2, kb.h1, kb.pos, t);
                v[3 * out + 2] = 0.0f;
                out++;
            }
        }
        a = ka.next;
    }
    memcpy(v + 3 * out, p->knots[a].pos, 3 * sizeof(float));
    *count = out + 1;
    return v;
}

// Single-precision scaling, then rounding in double; values beyond the
// range clamp to its ends instead of wrapping into other values.
static uint16_t path_quantize(float scaled)
{
    double d = (double)scaled + 0.5;
    if (!(d >= 0.0))
        return 0;
    if (d >= 65535.0)
        return 65535;
    return (uint16_t)(int32_t)d;
}

uint16_t path_quantpoint(float v)
{
    return path_quantize((v + 1.0f) * 0.5f * 65535.0f);
}

uint16_t path_quanthandle(float v)
{
    return path_quantize((v + 2.0f) * 0.25f * 65535.0f);
}

float path_dequantpoint(uint16_t q)
{
    return (float)q / 65535.0f * 2.0f - 1.0f;
}

float path_dequanthandle(uint16_t q)
{
    return (float)q / 65535.0f * 4.0f - 2.0f;
}

static void path_writeheader(msg_stream *m, const path *p)
{
    const int32_t words[8] = {p->chead, p->ctail, p->cidx, p->csz, p->cnum, p->kidx, p->ksz, p->knum};
    for (int32_t w : words)
        msg_writeint(m, w);
    for (int32_t i = 0; i < p->csz; i++) {
        const curve &c = p->curves[i];
        const int32_t cw[6] = {c.head, c.tail, c.prev, c.next, c.reserved, c.closed};
        for (int32_t w : cw)
            msg_writeint(m, w);
    }
}

int msg_writepath(msg_stream *m, const path *p)
{
    path_writeheader(m, p);
    for (int32_t i = 0; i < p->ksz; i++) {
        const knot &k = p->knots[i];
        msg_writevec(m, k.pos);
        msg_writevec(m, k.h1);
        msg_writevec(m, k.h2);
        msg_writeint(m, k.prev);
        msg_writeint(m, k.next);
    }
    return !m->failed;
}

int msg_writepath(const path *p)
{
    return msg_writepath(&msg_main, p);
}

int msg_writepathq(msg_stream *m, const path *p, int form)
{
    path *q = path_consolidate(p);
    if (!q) {
        m->failed = 1;
        return 0;
    }
    path_writeheader(m, q);
    // The knot records are built in one zeroed block and appended at once.
    int64_t bytes = (int64_t)q->ksz * path_qknotbytes;
    uint8_t *block = bytes <= INT32_MAX ? (uint8_t *)sys_calloc((int32_t)bytes + 1, 1) : nullptr;
    if (!block) {
        path_free(q);
        m->failed = 1;
        return 0;
    }
    auto hq = form == path_formq2 ? path_quanthandle : path_quantpoint;
    for (int32_t i = 0; i < q->ksz; i++) {
        const knot &k = q->knots[i];
        uint8_t *at = block + (size_t)i * path_qknotbytes;
        const uint16_t v[6] = {path_quantpoint(k.pos[0]), path_quantpoint(k.pos[1]), hq(k.h1[0]), hq(k.h1[1]),
                               hq(k.h2[0]), hq(k.h2[1])};
        for (int j = 0; j < 6; j++) {
            at[2 * j] = (uint8_t)v[j];
            at[2 * j + 1] = (uint8_t)(v[j] >> 8);
        }
        const int32_t links[2] = {k.prev, k.next};
        for (int j = 0; j < 2; j++)
            for (int b = 0; b < 4; b++)
                at[12 + 4 * j + b] = (uint8_t)((uint32_t)links[j] >> (8 * b));
    }
    msg_write(m, block, (int32_t)bytes);
    sys_free(block);
    path_free(q);
    return !m->failed;
}

// ---------------------------------------------------------------- reading

struct path_header {
    int32_t chead, ctail, cidx, csz, cnum, kidx, ksz, knum;
};

static int path_inrange(int32_t link, int32_t n)
{
    return link >= -1 && link < n;
}

// The stored sizes against the bytes left in the blob (64-bit arithmetic).
static int path_checkheader(msg_stream *m, const path_header &h, int skip, int form)
{
    if (m->failed)
        return 0;
    if (h.csz < 0 || h.ksz < 0 || h.cnum < 0 || h.knum < 0 || h.cnum > h.csz || h.knum > h.ksz) {
        sys_log("path_read: bad counts (curves %d of %d, knots %d of %d)", h.cnum, h.csz, h.knum, h.ksz);
        return 0;
    }
    int64_t kbytes = form == path_formraw ? (int64_t)sizeof(knot) : path_qknotbytes;
    int64_t need = (int64_t)h.csz * (int64_t)sizeof(curve) + (int64_t)h.ksz * kbytes;
    if (skip)
        need += (h.csz >> 3) + (h.ksz >> 3);
    if (need > (int64_t)m->end - m->position) {
        sys_log("path_read: %lld bytes of curves and knots pass the end of the blob", (long long)need);
        return 0;
    }
    if (!path_inrange(h.chead, h.csz) || !path_inrange(h.ctail, h.csz)) {
        sys_log("path_read: curve list ends %d, %d outside %d slots", h.chead, h.ctail, h.csz);
        return 0;
    }
    return 1;
}

static void path_readknot(msg_stream *m, knot &k, int form)
{
    if (form == path_formraw) {
        msg_readvec(m, k.pos);
        msg_readvec(m, k.h1);
        msg_readvec(m, k.h2);
    } else {
        auto hd = form == path_formq2 ? path_dequanthandle : path_dequantpoint;
        uint16_t v[6];
        for (uint16_t &q : v)
            q = (uint16_t)msg_readshort(m);
        k.pos[0] = path_dequantpoint(v[0]);
        k.pos[1] = path_dequantpoint(v[1]);
        k.h1[0] = hd(v[2]);
        k.h1[1] = hd(v[3]);
        k.h2[0] = hd(v[4]);
        k.h2[1] = hd(v[5]);
        k.pos[2] = k.h1[2] = k.h2[2] = 0.0f;
    }
    k.prev = msg_readint(m);
    k.next = msg_readint(m);
}

// Every stored link lies inside its array.
static int path_checklinks(const path *p, int32_t nc, int32_t nk)
{
    for (int32_t i = 0; i < nc; i++) {
        const curve &c = p->curves[i];
        if (!path_inrange(c.head, nk) || !path_inrange(c.tail, nk) || !path_inrange(c.prev, nc) ||
            !path_inrange(c.next, nc)) {
            sys_log("path_read: curve %d links outside the path", i);
            return 0;
        }
    }
    for (int32_t i = 0; i < nk; i++) {
        const knot &k = p->knots[i];
        if (!path_inrange(k.prev, nk) || !path_inrange(k.next, nk)) {
            sys_log("path_read: knot %d links outside the path", i);
            return 0;
        }
    }
    return 1;
}

// Walks the curve list and each listed curve's knot chain, checking that
// every walk ends, links agree both ways and no knot serves two curves;
// marks what it meets as live.
static int path_checkwalks(path *p, int32_t nc, int32_t nk)
{
    int32_t c = p->ctail, prev = -1, n = 0;
    for (; c != -1; c = p->curves[c].next, n++) {
        if (n >= nc || p->cused[c] || p->curves[c].prev != prev) {
            sys_log("path_read: curve list broken at curve %d", c);
            return 0;
        }
        p->cused[c] = 1;
        prev = c;
        const curve &s = p->curves[c];
        if (s.head == -1 || s.tail == -1)
            continue;
        int32_t k = s.tail, kprev = -1, last = -1;
        for (; k != -1; k = p->knots[k].next) {
            if (p->kused[k] || p->knots[k].prev != kprev) {
                sys_log("path_read: knot chain of curve %d broken at knot %d", c, k);
                return 0;
            }
            p->kused[k] = 1;
            kprev = last = k;
        }
        if (last != s.head) {
            sys_log("path_read: knot chain of curve %d does not end at its head", c);
            return 0;
        }
    }
    if (prev != p->chead) {
        sys_log("path_read: curve list does not end at its head");
        return 0;
    }
    return 1;
}

// Removes a curve with no knot or one knot, as stored by older versions.
static void path_dropknotless(path *p, int32_t i)
{
    curve &s = p->curves[i];
    if (s.prev != -1 && p->curves[s.prev].next == i) {
        sys_log(" knotless path[%d] = path[%d].next", i, s.prev);
        p->curves[s.prev].next = s.next;
    }
    if (s.next != -1 && p->curves[s.next].prev == i) {
        sys_log(" knotless path[%d] = path[%d].prev", i, s.next);
        p->curves[s.next].prev = s.prev;
    }
    if (p->chead == i)
        p->chead = s.prev;
    if (p->ctail == i)
        p->ctail = s.next;
    // Only a one-knot curve owns its knot. A curve with a tail but no head
    // was never walked, and its tail may be a knot of another curve.
    if (s.tail != -1 && s.tail == s.head) {
        p->knots[s.tail].prev = p->knots[s.tail].next = -1;
        p->kused[s.tail] = 0;
    }
    s.head = s.tail = s.prev = s.next = -1;
    s.reserved = 0;
    p->cused[i] = 0;
}

// Closes a curve whose ends meet and opens one whose ends part.
static void path_fixclosure(path *p, int32_t i)
{
    curve &s = p->curves[i];
    knot &h = p->knots[s.head];
    knot &t = p->knots[s.tail];
    float d = 0.0f;
    for (int j = 0; j < 3; j++)
        d += (h.pos[j] - t.pos[j]) * (h.pos[j] - t.pos[j]);
    if (d >= 0.0001f && s.closed) {
        s.closed = 0;
        sys_log("...corrected open path%03d", i);
    } else if (d < 0.0001f && !s.closed) {
        for (int j = 0; j < 3; j++)
            h.pos[j] = t.pos[j] = h.pos[j] * 0.5f + t.pos[j] * 0.5f;
        s.closed = 1;
        sys_log("...corrected closed path%03d", i);
    }
}

// The clean-up pass over the stored curve slots; returns the curves removed.
// A slot off the curve list is free whatever its stored links say: they are
// cleared, so it can be taken again and never touches a listed curve.
static int path_cleanup(path *p, int32_t nc)
{
    int removed = 0;
    for (int32_t i = 0; i < nc; i++) {
        const curve &s = p->curves[i];
        if (!p->cused[i]) {
            if (s.prev != -1 || s.next != -1)
                path_freecurveslot(p->curves[i]);
            continue;
        }
        if (s.head == -1 || s.tail == -1 || s.head == s.tail) {
            path_dropknotless(p, i);
            removed++;
        } else {
            path_fixclosure(p, i);
        }
    }
    return removed;
}

static void path_recount(path *p)
{
    p->cnum = p->knum = 0;
    int32_t c = p->ctail;
    for (int32_t n = 0; c != -1 && n < p->csz; n++) {
        p->cnum++;
        int32_t k = p->curves[c].tail;
        for (int32_t m = 0; k != -1 && m < p->ksz; m++) {
            p->knum++;
            k = p->knots[k].next;
        }
        c = p->curves[c].next;
    }
}

path *path_read(msg_stream *m, int skip, int form)
{
    path_header h;
    int32_t *w = &h.chead;
    for (int i = 0; i < 8; i++)
        w[i] = msg_readint(m);
    sys_log(" chead:%d ctail:%d", h.chead, h.ctail);
    sys_log(" cidx:%d csz:%d cnum:%d", h.cidx, h.csz, h.cnum);
    sys_log(" kidx:%d ksz:%d knum:%d", h.kidx, h.ksz, h.knum);
    if (form < path_formraw || form > path_formq2) {
        sys_log("path_read: unknown form %d", form);
        return nullptr;
    }
    if (!path_checkheader(m, h, skip, form))
        return nullptr;
    int32_t nc = h.csz > path_startcurves ? h.csz : path_startcurves;
    int32_t nk = h.ksz > path_startknots ? h.ksz : path_startknots;
    path *p = path_alloc(nc, nk);
    if (!p) {
        sys_log("path_read: failed to allocate %d curves and %d knots", nc, nk);
        return nullptr;
    }
    p->chead = h.chead;
    p->ctail = h.ctail;
    // The cursors are only ever used modulo the sizes: a negative one
    // starts the search at slot 0.
    p->cidx = h.cidx < 0 ? 0 : h.cidx;
    p->kidx = h.kidx < 0 ? 0 : h.kidx;
    p->cnum = h.cnum;
    p->knum = h.knum;
    // The old bit sets: their size was checked against the blob above.
    if (skip)
        m->position += (h.csz >> 3) + (h.ksz >> 3);
    for (int32_t i = 0; i < h.csz; i++) {
        curve &c = p->curves[i];
        int32_t *cw = &c.head;
        for (int j = 0; j < 6; j++)
            cw[j] = msg_readint(m);
    }
    for (int32_t i = 0; i < h.ksz; i++)
        path_readknot(m, p->knots[i], form);
    if (m->failed || !path_checklinks(p, h.csz, h.ksz) || !path_checkwalks(p, h.csz, h.ksz)) {
        path_free(p);
        return nullptr;
    }
    int removed = h.csz < 1 ? 0 : path_cleanup(p, h.csz);
    // Knots off every chain are free: their stale links are cleared.
    for (int32_t i = 0; i < h.ksz; i++)
        if (!p->kused[i])
            p->knots[i].prev = p->knots[i].next = -1;
    // The counts follow the curves as they are, whatever was stored.
    path_recount(p);
    if (removed)
        sys_log("...cleaned %d empty curves (num:%d size:%d)", removed, p->cnum, nc);
    else if (p->cnum != h.cnum || p->knum != h.knum)
        sys_log("path_read: stored counts (curves %d knots %d) corrected to %d and %d", h.cnum, h.knum, p->cnum,
                p->knum);
    return p;
}

path *path_read(int skip, int form)
{
    return path_read(&msg_main, skip, form);
}
