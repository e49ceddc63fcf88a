// Path and knot selections. Three fixed tables hand out entries by next-fit
// search; the ring and the knot table also keep their entries in a doubly
// linked list in insertion order, walked from the last entry backwards so
// that recent selections are found first. Every walk is bounded by its
// table's size, so a damaged list cannot loop.
#include "geom/pathsel.h"

#include "geom/path.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <cstring>
#include <vector>

p_selcurvetable p_selcurves;
p_curveknotring p_curveknots;
p_selknottable p_selknots;
int32_t p_pickcurve = -1;
int32_t p_pickknots[2] = {-1, -1};

// The tables start empty: every entry -1. Zero-filled storage would read as
// curve 0, knot 0.
static void p_resettables()
{
    memset(p_selcurves.curves, 0xFF, sizeof(p_selcurves.curves));
    p_selcurves.cursor = 0;
    p_selcurves.count = -1;
    p_selcurves.last = -1;
    for (p_curveknot &e : p_curveknots.entries)
        e = p_curveknot{-1, -1, {}, -1, -1};
    p_curveknots.cursor = 0;
    p_curveknots.last = -1;
    for (p_selknot &e : p_selknots.entries)
        e = p_selknot{-1, -1, {}, {}, -1, -1};
    p_selknots.cursor = 0;
    p_selknots.last = -1;
    p_selknots.count = -1;
}
static const bool p_tablesready = (p_resettables(), true);

// ------------------------------------------------------------------ bits

static bool p_validcurve(const path *p, int c)
{
    return p && c >= 0 && c < p->csz && p->cused[c];
}

static bool p_validknot(const path *p, int k)
{
    return p && k >= 0 && k < p->ksz && p->kused[k];
}

int path_curveselected(const path *p, int c)
{
    return p && c >= 0 && c < p->csz && (p->csel[c >> 3] >> (c & 7) & 1);
}

int path_knotselected(const path *p, int k)
{
    return p && k >= 0 && k < p->ksz && (p->ksel[k >> 3] >> (k & 7) & 1);
}

static void p_setbit(uint8_t *bits, int i, bool on)
{
    if (on)
        bits[i >> 3] |= (uint8_t)(1u << (i & 7));
    else
        bits[i >> 3] &= (uint8_t)~(1u << (i & 7));
}

// A knot's bit, and the head's with it when the knot is the tail of a
// closed curve: the two are one point.
static void p_setknotbits(path *p, int c, int k, bool on)
{
    if (k >= 0 && k < p->ksz)
        p_setbit(p->ksel, k, on);
    if (c >= 0 && c < p->csz) {
        const curve &s = p->curves[c];
        if (s.closed && s.tail == k && s.head >= 0 && s.head < p->ksz)
            p_setbit(p->ksel, s.head, on);
    }
}

// ------------------------------------------------------------- next fit

// The first free entry from the cursor on, or -1 with the overflow on the
// status line. The cursor is kept modulo the size.
template <typename Free>
static int p_nextfit(int32_t &cursor, int size, Free isfree, const char *overflow)
{
    for (int64_t i = cursor; i < (int64_t)cursor + size; i++) {
        int e = (int)(i % size);
        if (isfree(e)) {
            cursor = (int32_t)((i + 1) % size);
            return e;
        }
    }
    // A whole lap: the cursor is where it was, modulo the size.
    sys_status("%s", overflow);
    return -1;
}

static void p_stamp()
{
    p_curveknots.changetime = sys_seconds();
    p_curveknots.changed = 0;
}

// Appending and unlinking on the two lists share their shape.
template <typename Entry> static void p_append(Entry *entries, int32_t &last, int e)
{
    entries[e].prev = last;
    if (last != -1)
        entries[last].next = e;
    entries[e].next = -1;
    last = e;
}

template <typename Entry> static void p_unlink(Entry *entries, int32_t &last, int e)
{
    Entry &x = entries[e];
    if (x.prev != -1)
        entries[x.prev].next = x.next;
    if (x.next != -1)
        entries[x.next].prev = x.prev;
    else if (last == e)
        last = x.prev;
    x.curve = x.knot = -1;
    x.prev = x.next = -1;
}

// ---------------------------------------------------------------- curves

int p_addcurveknot(int c, int k)
{
    p_curveknot *ring = p_curveknots.entries;
    int e = p_nextfit(p_curveknots.cursor, p_maxcurveknots,
                      [&](int i) { return ring[i].curve == -1 && ring[i].knot == -1; }, "curve knots overflow!");
    if (e < 0)
        return -1;
    ring[e] = p_curveknot{c, k, {}, -1, -1};
    p_append(ring, p_curveknots.last, e);
    p_stamp();
    return e;
}

int path_selectcurve(path *p, int c)
{
    if (!p_validcurve(p, c) || path_curveselected(p, c))
        return 0;
    sys_debuglog("selectcurve[%d]", c);
    // Room is found before the bit and count change: a full table leaves
    // both as they were.
    int e = p_nextfit(p_selcurves.cursor, p_maxselcurves, [](int i) { return p_selcurves.curves[i] == -1; },
                      "selected curves overflow!");
    if (e < 0)
        return 0;
    p_setbit(p->csel, c, true);
    p_selcurves.count = p_selcurves.count < 0 ? 1 : p_selcurves.count + 1;
    p_selcurves.curves[e] = c;
    p_selcurves.last = c;
    const curve &s = p->curves[c];
    int32_t k = s.tail;
    for (int n = 0; k != -1 && n < p->ksz; n++) {
        if (s.closed && k == s.head)
            break;
        if (p_addcurveknot(c, k) < 0)
            break;
        k = p->knots[k].next;
    }
    return 1;
}

int path_deselectcurve(path *p, int c)
{
    if (!path_curveselected(p, c))
        return 0;
    if (p_pickcurve >= 0 && p_pickcurve < p_maxselcurves && p_selcurves.curves[p_pickcurve] == c)
        p_pickcurve = -1;
    p_setbit(p->csel, c, false);
    p_selcurves.count--;
    if (p_selcurves.last == c)
        p_selcurves.last = -1;
    int e = 0;
    while (e < p_maxselcurves && p_selcurves.curves[e] != c)
        e++;
    if (e == p_maxselcurves)
        return 1;
    p_selcurves.curves[e] = -1;
    int32_t x = p_selknots.last;
    for (int n = 0; x != -1 && n < p_maxselknots; n++) {
        int32_t prev = p_selknots.entries[x].prev;
        if (p_selknots.entries[x].curve == c)
            p_deselectknot(p, x);
        x = prev;
    }
    x = p_curveknots.last;
    for (int n = 0; x != -1 && n < p_maxcurveknots; n++) {
        int32_t prev = p_curveknots.entries[x].prev;
        if (p_curveknots.entries[x].curve == c)
            p_unlink(p_curveknots.entries, p_curveknots.last, x);
        x = prev;
    }
    p_stamp();
    return 1;
}

// ----------------------------------------------------------------- knots

int p_selectknot(path *p, int c, int k)
{
    p_selknot *t = p_selknots.entries;
    // A full table is known from the count: selecting the knots of a very
    // long curve then costs no search per refused knot.
    if (p_selknots.count >= p_maxselknots) {
        sys_status("selected knots overflow!");
        return -1;
    }
    int e = p_nextfit(p_selknots.cursor, p_maxselknots, [&](int i) { return t[i].curve == -1 && t[i].knot == -1; },
                      "selected knots overflow!");
    if (e < 0)
        return -1;
    t[e] = p_selknot{c, k, {}, {}, -1, -1};
    p_append(t, p_selknots.last, e);
    p_setknotbits(p, c, k, true);
    p_selknots.count = p_selknots.count < 0 ? 1 : p_selknots.count + 1;
    return e;
}

int p_selectcurveknots(path *p, int c)
{
    if (!p_validcurve(p, c))
        return 0;
    int tried = 0;
    int32_t k = p->curves[c].tail;
    for (int n = 0; k != -1 && n < p->ksz; n++) {
        if (!path_knotselected(p, k)) {
            p_selectknot(p, c, k);
            tried++;
        }
        k = p->knots[k].next;
    }
    return tried;
}

void p_deselectknot(path *p, int entry)
{
    if (entry < 0 || entry >= p_maxselknots || p_selknots.entries[entry].knot == -1) {
        sys_log("p_deselectknot: entry %d is not selected", entry);
        return;
    }
    const p_selknot &x = p_selknots.entries[entry];
    p_setknotbits(p, x.curve, x.knot, false);
    p_selknots.count--;
    p_unlink(p_selknots.entries, p_selknots.last, entry);
}

void p_clearselectedknots(path *p)
{
    int32_t x = p_selknots.last;
    for (int n = 0; x != -1 && n < p_maxselknots; n++) {
        int32_t prev = p_selknots.entries[x].prev;
        p_selknots.entries[x] = p_selknot{-1, -1, {}, {}, -1, -1};
        x = prev;
    }
    p_selknots.last = -1;
    p_selknots.count = 0;
    p_pickknots[0] = p_pickknots[1] = -1;
    if (p)
        memset(p->ksel, 0, (size_t)((p->ksz + 7) >> 3));
}

void p_clearselection(path *p)
{
    p_clearselectedknots(p);
    if (p)
        memset(p->csel, 0, (size_t)((p->csz + 7) >> 3));
    memset(p_selcurves.curves, 0xFF, sizeof(p_selcurves.curves));
    int32_t x = p_curveknots.last;
    for (int n = 0; x != -1 && n < p_maxcurveknots; n++) {
        int32_t prev = p_curveknots.entries[x].prev;
        p_curveknots.entries[x] = p_curveknot{-1, -1, {}, -1, -1};
        x = prev;
    }
    p_curveknots.last = -1;
    p_selcurves.count = 0;
    p_pickcurve = -1;
    p_selcurves.last = -1;
    p_stamp();
}

// ------------------------------------------------------- removing a knot

static void p_relinkaround(path *p, int k)
{
    knot &x = p->knots[k];
    if (x.next != -1) {
        sys_debuglog("knot%03d.next = knot%03d.prev = knot%03d", k, x.next, x.prev);
        p->knots[x.next].prev = x.prev;
    }
    if (x.prev != -1) {
        sys_debuglog("knot%03d.prev = knot%03d.next = knot%03d", k, x.prev, x.next);
        p->knots[x.prev].next = x.next;
    }
}

// Removing k from its chain, the curve's ends following it.
static void p_removeplain(path *p, int c, int k)
{
    knot &x = p->knots[k];
    p_relinkaround(p, k);
    curve &s = p->curves[c];
    if (s.tail == k) {
        // The head of a closed curve stays on the new tail.
        if (s.closed && x.next != -1 && s.head != -1 && s.head != x.next) {
            memcpy(p->knots[s.head].pos, p->knots[x.next].pos, sizeof(x.pos));
            memcpy(p->knots[s.head].h1, p->knots[x.next].h1, sizeof(x.h1));
        }
        sys_debuglog("curve%02d.tail = knot%03d.next = knot%03d", c, k, x.next);
        s.tail = x.next;
        if (s.head == k) {
            sys_debuglog("curve%02d.head = knot%03d.prev = knot%03d", c, k, x.prev);
            s.head = x.prev;
        }
    } else if (s.head == k) {
        sys_debuglog("curve%02d.head = knot%03d.prev = knot%03d", c, k, x.prev);
        s.head = x.prev;
    }
    if (s.closed && s.tail != -1 && s.head != -1 && s.tail != s.head && p->knots[s.tail].next == s.head) {
        int h = s.head;
        sys_log("unclosed curve%02d, removing head = knot%03d", c, h);
        p->knots[s.tail].next = -1;
        s.head = s.tail;
        s.closed = 0;
        path_freeknot(p, h);
    }
}

// Drops the duplicate head of a closed curve: the knot before it links
// back to the tail (a loop for the caller to open), the tail taking the
// head's incoming handle.
static void p_dropclosinghead(path *p, int c)
{
    curve &s = p->curves[c];
    int h = s.head, before = p->knots[h].prev;
    memcpy(p->knots[s.tail].h1, p->knots[h].h1, sizeof(p->knots[h].h1));
    p->knots[before].next = s.tail;
    p->knots[s.tail].prev = before;
    s.head = before;
    path_freeknot(p, h);
}

// Cuts the links between k and its neighbours.
static void p_cutaround(path *p, int k)
{
    knot &x = p->knots[k];
    if (x.prev != -1)
        p->knots[x.prev].next = -1;
    if (x.next != -1)
        p->knots[x.next].prev = -1;
}

// Splits at an interior knot; returns the new curve of an open curve's
// far part, or -1.
static int p_splitinterior(path *p, int c, int k)
{
    if (!p->curves[c].closed) {
        int n = path_newcurve(p);
        if (n < 0)
            return -1;
        curve &s = p->curves[c];
        p->curves[n].head = s.head;
        p->curves[n].tail = p->knots[k].next;
        s.head = p->knots[k].prev;
        p_cutaround(p, k);
        return n;
    }
    p_dropclosinghead(p, c);
    curve &s = p->curves[c];
    s.tail = p->knots[k].next;
    s.head = p->knots[k].prev;
    p_cutaround(p, k);
    s.closed = 0;
    return -1;
}

static void p_splittail(path *p, int c, int k)
{
    curve &s = p->curves[c];
    int h = s.head, before = p->knots[h].prev;
    p_cutaround(p, k);
    path_freeknot(p, h);
    s.closed = 0;
    if (before == k) {
        // Tail and head alone: nothing is left of the curve.
        s.head = s.tail = -1;
        return;
    }
    s.tail = p->knots[k].next;
    p->knots[before].next = -1;
    s.head = before;
}

// Finds the ring entry of a knot, newest first; -1 none.
static int p_findringknot(int c, int k)
{
    int32_t x = p_curveknots.last;
    for (int n = 0; x != -1 && n < p_maxcurveknots; n++) {
        if (p_curveknots.entries[x].curve == c && p_curveknots.entries[x].knot == k)
            return x;
        x = p_curveknots.entries[x].prev;
    }
    return -1;
}

void p_removeselectedknot(path *p, int entry, int split)
{
    if (entry < 0 || entry >= p_maxselknots || p_selknots.entries[entry].knot == -1) {
        sys_log("p_removeselectedknot: node[%d] is not selected!", entry);
        return;
    }
    const p_selknot &sel = p_selknots.entries[entry];
    int c = sel.curve, k = sel.knot;
    int ring = p_findringknot(c, k);
    if (ring < 0 || !p_validcurve(p, c) || !p_validknot(p, k)) {
        sys_error("p_removeselectedknot: failed to find path node for selected:%d (path:%d node:%d org:%f,%f)", entry,
                  c, k, (double)sel.org[0], (double)sel.org[1]);
        return;
    }
    p_unlink(p_curveknots.entries, p_curveknots.last, ring);
    p_deselectknot(p, entry);
    curve *s = &p->curves[c];
    if (s->closed && k == s->head && s->head != s->tail) {
        k = s->tail;
        sys_log("removing tail of closed curve%02d", c);
    }
    int n = -1;
    bool ishead = k == s->head, istail = k == s->tail;
    if (!split || ishead || (istail && !s->closed))
        p_removeplain(p, c, k);
    else if (!istail)
        n = p_splitinterior(p, c, k);
    else
        p_splittail(p, c, k);
    path_freeknot(p, k);
    s = &p->curves[c];
    if ((s->closed && s->head == s->tail) || (s->head == -1 && s->tail == -1)) {
        sys_log("removing empty curve%02d", c);
        sys_log("closed:%d tail:%03d head:%03d", s->closed, s->tail, s->head);
        // Deselected first: removing the curve clears its bit, and a curve
        // whose bit is clear would stay in the tables.
        path_deselectcurve(p, c);
        path_removecurve(p, c);
        return;
    }
    if (n >= 0) {
        path_deselectcurve(p, c);
        path_selectcurve(p, c);
        if (n >= 0)
            path_selectcurve(p, n);
        p_stamp();
    }
}

// ------------------------------------------------------- the byte form

// The selected-knot list from its first entry on.
static std::vector<int32_t> p_knotorder()
{
    std::vector<int32_t> order;
    int32_t x = p_selknots.last;
    for (int n = 0; x != -1 && n < p_maxselknots; n++) {
        order.push_back(x);
        x = p_selknots.entries[x].prev;
    }
    return std::vector<int32_t>(order.rbegin(), order.rend());
}

int msg_writeselectedcurves(msg_stream *m)
{
    std::vector<int32_t> curves;
    for (int i = 0; i < p_maxselcurves; i++) {
        if (p_selcurves.curves[i] != -1) {
            sys_debuglog("selected curve[%d] (offset:%d)", p_selcurves.curves[i], m->position);
            curves.push_back(p_selcurves.curves[i]);
        }
    }
    if ((int32_t)curves.size() != p_selcurves.count)
        sys_log("!!! serialized %d selected curves with %d supposedly selected!", (int)curves.size(),
                p_selcurves.count);
    // The count written is the count of curves that follow it, so the
    // reader stays in step with the bytes.
    msg_writeint(m, (int32_t)curves.size());
    for (int32_t c : curves)
        msg_writeint(m, c);
    sys_log("writing selected knots (offset:%d)...", m->position);
    std::vector<int32_t> order = p_knotorder();
    msg_writeint(m, (int32_t)order.size());
    for (int32_t e : order) {
        msg_writeint(m, p_selknots.entries[e].curve);
        msg_writeint(m, p_selknots.entries[e].knot);
    }
    if ((int32_t)order.size() != (p_selknots.count < 0 ? 0 : p_selknots.count))
        sys_log("!!! serialized %d selected knots with %d supposedly selected!", (int)order.size(), p_selknots.count);
    else
        sys_log("...wrote %d knots", (int)order.size());
    return !m->failed;
}

int writepathselections(msg_stream *m)
{
    sys_log("writepathselections: selected curves:%d (offset:%d)", p_selcurves.count, m->position);
    if (p_selcurves.count < 0) {
        msg_writeint(m, -1);
        return !m->failed;
    }
    return msg_writeselectedcurves(m);
}

void p_freeselections(p_selectionlists *s)
{
    sys_free(s->curves);
    sys_free(s->knots);
    *s = p_selectionlists{};
}

// Reads n words after checking that they lie inside the blob.
static int32_t *p_readwords(msg_stream *m, int64_t n)
{
    if (n < 0 || n * 4 > (int64_t)m->end - m->position) {
        m->failed = 1;
        return nullptr;
    }
    int32_t *w = (int32_t *)sys_malloc((int32_t)(n * 4 + 4));
    if (!w)
        return nullptr;
    for (int64_t i = 0; i < n; i++)
        w[i] = msg_readint(m);
    return w;
}

// Drops entries naming a curve or knot the path does not hold (logged):
// the path reader removes curves of fewer than two knots, and a selection
// of what is gone must not cost the whole undo step.
static void p_checkselections(const path *p, p_selectionlists *s)
{
    int32_t n = 0;
    for (int32_t i = 0; i < s->ncurves; i++) {
        if (p_validcurve(p, s->curves[i]))
            s->curves[n++] = s->curves[i];
        else
            sys_log("p_readselections: selected curve %d is not in the path", s->curves[i]);
    }
    s->ncurves = n;
    n = 0;
    for (int32_t i = 0; i < s->nknots; i++) {
        int c = s->knots[2 * i], k = s->knots[2 * i + 1];
        if (p_validcurve(p, c) && p_validknot(p, k)) {
            s->knots[2 * n] = c;
            s->knots[2 * n + 1] = k;
            n++;
        } else {
            sys_log("p_readselections: selected knot %d of curve %d is not in the path", k, c);
        }
    }
    s->nknots = n;
}

int p_readselections(msg_stream *m, const path *p, p_selectionlists *out)
{
    *out = p_selectionlists{};
    sys_log("readpathselections (offset:%d)", m->position);
    out->count = msg_readint(m);
    sys_log("selected curves = %d", out->count);
    if (out->count >= 0) {
        out->ncurves = out->count;
        if (out->ncurves > p_maxselcurves || !(out->curves = p_readwords(m, out->ncurves))) {
            sys_log("p_readselections: %d selected curves do not fit the blob", out->ncurves);
            p_freeselections(out);
            return 0;
        }
        out->nknots = msg_readint(m);
        bool fits = out->nknots >= 0 && out->nknots <= p_maxselknots;
        if (!fits || !(out->knots = p_readwords(m, 2 * (int64_t)out->nknots))) {
            sys_log("p_readselections: %d selected knots do not fit the blob", out->nknots);
            p_freeselections(out);
            return 0;
        }
    } else if (out->count != -1) {
        sys_log("p_readselections: bad selected-curve count %d", out->count);
        p_freeselections(out);
        return 0;
    }
    if (m->failed) {
        p_freeselections(out);
        return 0;
    }
    p_checkselections(p, out);
    return 1;
}

void p_applyselections(path *p, const p_selectionlists *s)
{
    p_clearselection(p);
    if (s->count < 0) {
        p_selcurves.count = -1;
        p_selknots.count = -1;
        return;
    }
    for (int32_t i = 0; i < s->ncurves; i++) {
        sys_debuglog("selected curve (offset:%d)", i);
        path_selectcurve(p, s->curves[i]);
    }
    sys_log("reading selected knots (offset:%d)", s->ncurves);
    for (int32_t i = 0; i < s->nknots; i++)
        p_selectknot(p, s->knots[2 * i], s->knots[2 * i + 1]);
    sys_log("...read %d knots", s->nknots);
}
