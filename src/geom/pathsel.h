// Path and knot selections of the one path in path-editing mode: the
// selected curves, a ring of the knots of those curves (what the viewport
// can pick) and the selected knots, in three fixed tables with next-fit
// cursors, mirrored in the edited path's curve and knot bit sets. Undo blobs
// carry the selection lists (writepathselections). Main thread only.
#pragma once
#include <cstdint>

struct path;
struct msg_stream;

constexpr int p_maxselcurves = 8192;
constexpr int p_maxcurveknots = 262144;
constexpr int p_maxselknots = 131072;

// A knot of a selected curve; free while curve and knot are both -1.
struct p_curveknot {
    int32_t curve;
    int32_t knot;
    int32_t view[3]; // the viewport's words, zeroed on allocation
    int32_t prev;    // previous entry in insertion order, -1 at the first
    int32_t next;    // next entry, -1 at the last
};
static_assert(sizeof(p_curveknot) == 28, "ring entries are seven words");

// A selected knot; free while curve and knot are both -1.
struct p_selknot {
    int32_t curve;
    int32_t knot;
    float org[2];    // the knot's x and y when a drag started (viewport)
    int32_t drag[7]; // the rest of the viewport's drag data, zeroed on allocation
    int32_t prev;    // previous entry in selection order, -1 at the first
    int32_t next;
};
static_assert(sizeof(p_selknot) == 52, "knot entries are thirteen words");

struct p_selcurvetable {
    int32_t curves[p_maxselcurves]; // curve indexes, -1 free
    int32_t cursor;
    // Selected curves; -1 while no paths-layer is in path-editing mode
    // (project_pathslayeredit).
    int32_t count;
    int32_t last; // last selected curve, -1 none
};
struct p_curveknotring {
    p_curveknot entries[p_maxcurveknots];
    int32_t cursor;
    int32_t last;
    double changetime; // sys_seconds of the last change
    int32_t changed;   // every change sets it to 0; the viewport's otherwise
};
struct p_selknottable {
    p_selknot entries[p_maxselknots];
    int32_t cursor;
    int32_t last;
    int32_t count; // selected knots; -1 while path editing is off
};

extern p_selcurvetable p_selcurves;
extern p_curveknotring p_curveknots;
extern p_selknottable p_selknots;
// The viewport's pick indexes: a p_selcurves entry and two p_selknots
// entries, -1 none. The selection only resets them.
extern int32_t p_pickcurve;
extern int32_t p_pickknots[2];

// 1 when the curve's (knot's) bit is set in the path's bit set.
int path_curveselected(const path *p, int c);
int path_knotselected(const path *p, int k);

int path_selectcurve(path *p, int c);
int path_deselectcurve(path *p, int c);
int p_addcurveknot(int c, int k);
int p_selectknot(path *p, int c, int k);
int p_selectcurveknots(path *p, int c);
void p_deselectknot(path *p, int entry);
void p_clearselectedknots(path *p);
// Empties the three tables and, with a path, both its bit sets; the counts
// become 0 (path editing on).
void p_clearselection(path *p);
void p_removeselectedknot(path *p, int entry, int split);

// The selection lists: i32 selected-curve count c, and for c >= 0 the c
// curves (u32), the u32 selected-knot count k and k (curve, knot) pairs. The
// counts are those of the entries written; -1 stays -1 with nothing after.
int writepathselections(msg_stream *m);
int msg_writeselectedcurves(msg_stream *m);

// The selection lists read back, checked, before anything is applied.
struct p_selectionlists {
    int32_t count; // -1: path editing was off
    int32_t ncurves, nknots;
    int32_t *curves;  // ncurves entries (sys_malloc), or null
    int32_t *knots;   // nknots pairs of curve, knot
};
// Reads the lists at the stream's position; 0 (logged, nothing kept) when
// they run past the blob. Entries naming a curve or knot that is not live
// in p are dropped (logged).
int p_readselections(msg_stream *m, const path *p, p_selectionlists *out);
void p_freeselections(p_selectionlists *s);
// Clears the selection of p and selects what the lists hold.
void p_applyselections(path *p, const p_selectionlists *s);
