// The operation writer: one operation's comment, tool change, spindle and
// coolant blocks, then its compiled moves (cam/compile.h) written through
// the open G-code program (cam/cnc.h) once for each cell of an XY grid of
// repetitions. The export action calls cnc_begin, this writer for each
// operation it exports, then cnc_end. Main thread only.
#pragma once

// Writes operation record op (an index into cam_ops) into the open program.
// comment is the text of its comment line; offset is added to every
// coordinate; grid holds the columns and rows of repetitions and spacing
// their X and Y distance. pos and second carry the current point and the
// current second point (the point arc codes give) from one operation to the
// next, in project units. Returns the move points processed, summed over
// the repetitions, 0 for an operation without moves; -1 with a logged line,
// and nothing written, when the operation cannot be written: no open
// program, an unknown or generating record, a non-finite offset or spacing,
// or damaged moves (more points than floats, a non-finite float, a point
// that gives no coordinate).
int cam_writeoperation(const char *comment, int op, const float offset[3], const int grid[2], const float spacing[2],
                       float pos[3], float second[3]);
