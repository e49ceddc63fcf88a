// The export jobs the main window queues: "saveop" writes an operation's
// toolpath as SVG polylines of its feed stretches, and "Export Heightmap
// Image" writes the simulation depth-map as an image file. Both share the
// export path, start time and busy flag with the main window, and clear the
// flag however they end.
#pragma once
#include <atomic>
#include <cstdint>

constexpr int export_maxpath = 2048;

extern char export_path[export_maxpath]; // the file chosen in the save dialog, UTF-8
extern double export_starttime;          // sys_seconds when the job was queued
// Set by the main window before it queues a job; the job clears it (release).
extern std::atomic<int32_t> export_busy;
// The wait of "saveop" for a toolpath slot: this many polls this many
// milliseconds apart (tests shorten it).
extern int export_slotpolls;
extern int export_slotpollms;

// Job body "saveop": entry is the project operation entry (a projop *).
// The polylines are in project units over the canvas: the document is the
// canvas's X by Y size with y pointing down from its far edge. A toolpath
// beyond a contour's limits (65,536 polylines, 4,194,304 vertices) is
// refused with an error and nothing is written.
void toolpath_contour(void *entry);
// Job body "Export Heightmap Image": writes img (an image *, which the job
// frees) to the export path in the format its extension names.
void project_saveheightmap(void *img);
