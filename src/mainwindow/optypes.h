// The operation editor's type options: one branch per operation type below
// the common rows, the rows they share (angle, contour input, contour
// height, paths-layer picker, stipple diameters), and the defaults a change
// of type loads. Every branch edits the working copy of opeditor.h.
#pragma once
#include <cstdint>

// Draws the branch of the edited type and tells the viewport what to mark.
void optypes_draw();
// A change of the edited type to t: contour input Trace Canvas, AUX[0..2]
// last applied for t, then the type's own defaults in order.
void optypes_settype(int t);

// The angle row's steps: +-11.25 degrees within -180..180, snapped to the
// nearest multiple of 11.25.
float optypes_anglestep(float degrees, int up);
// The contour-input button's cycle 0 -> 1 -> 2 -> 0, with its resets.
void optypes_cyclecontour();
// Shared rows, drawn into the current layout: the contour-input row (with
// or without "Invert"), the contour-height knob on AUX[0], and the
// paths-layer picker keeping the uid in AUX[word].
void optypes_contourrow(int invert);
void optypes_contourheight();
void optypes_pathspicker(int word);
// Forgets the picker's cached layer slots (a new operation is opened).
void optypes_forgetlayers();
