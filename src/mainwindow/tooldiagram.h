// The tool-shape diagram of the view area: a dimensioned side view of the
// cutter being edited, redrawn every frame from the tool editor's working
// values (tools.h) so it follows each edit before Apply. The geometry is one
// pure function filling a record of numbers, which tests judge without a
// window; the drawer only queues that record on the GUI's draw lists.
#pragma once
#include "gui/sector.h"

#include <cstdint>

constexpr int tooldiagram_maxpoints = 64;
constexpr int tooldiagram_maxlines = 12;
constexpr int tooldiagram_maxarrows = 8;
constexpr int tooldiagram_maxshapes = 2;
constexpr int tooldiagram_maxtexts = 6;
constexpr int tooldiagram_textmax = 32;

// A line or a dimension arrow from a to b; an arrow has its head at a.
struct tooldiagram_segment {
    float a[2], b[2];
};
// An arc in degrees, y downward (90 points down), drawn in 10-degree steps.
struct tooldiagram_arc {
    float cx, cy, radius, start, end;
};
struct tooldiagram_circle {
    float cx, cy, radius, step; // step in degrees
};
// A read-out in data font 1, its top-left at integer pixels.
struct tooldiagram_text {
    float x, y;
    char text[tooldiagram_textmax];
};

// Everything the diagram draws, in window pixels (y downward).
struct tooldiagram_record {
    int32_t drawn; // 0: degenerate values, only the backdrop and the heading
    gui_rect cell; // the backdrop and the clip of arcs, circles and read-outs
    float x0, y0, w, h, cx, cy, bottom, right; // the inner area, cell less the padding
    int32_t npoints; // the outline, one line strip
    float points[tooldiagram_maxpoints][2];
    int32_t nlines;
    tooldiagram_segment lines[tooldiagram_maxlines];
    int32_t narrows;
    tooldiagram_segment arrows[tooldiagram_maxarrows];
    int32_t narcs;
    tooldiagram_arc arcs[tooldiagram_maxshapes];
    int32_t ncircles;
    tooldiagram_circle circles[tooldiagram_maxshapes];
    int32_t ntexts;
    tooldiagram_text texts[tooldiagram_maxtexts];
};

// The editor values the diagram reads. d: flute, tip or bit diameter, or the
// ball radius; v: corner radius, taper angle or bit angle (degrees); l:
// flute length (a V-bit's is derived from d and v here).
struct tooldiagram_input {
    int32_t type;  // 1 cylinder, 2 tapered, 3 V-bit, 4 tapered ball
    float d, v, l;
    int32_t units; // 1 inches, 2 metric
};

// Width in pixels of a read-out as it will be drawn.
typedef int (*tooldiagram_measurefn)(const char *text);

// Fills out from the values, the diagram cell and the padding. Values the
// drawing cannot scale (a zero scale, a taper of 0 or 90 degrees, a bit angle
// of 0 or 180, anything not finite) leave drawn 0 and every list empty.
void tooldiagram_compute(const tooldiagram_input &in, const gui_rect &cell, int padding,
                         tooldiagram_measurefn measure, tooldiagram_record *out);
// Queues the backdrop and then, when drawn, the record in the diagram's
// colours and opacities.
void tooldiagram_queue(const tooldiagram_record &r);
// The main window's panel for the view area: lays out the heading and the
// diagram cell on the view-area sector, and uses that sector up.
void tooldiagram_panel();
