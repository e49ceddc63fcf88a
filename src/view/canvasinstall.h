// The viewport's side of the canvas composition, on the main thread: it
// turns a request into the job "updatecanvas", an edited area into the job
// "updatecanvasrect", and installs what the jobs hand back. Needs no GL
// context of its own, so tests drive it headless.
#pragma once
#include <cstdint>

// Starts a full composition when one is requested, nothing is composing and
// no result waits. 1 when started.
int view_startcanvas();
// Starts the rectangle job over area {x0, y0, x1, y1} in canvas fractions,
// y up. 1 when queued, 0 when there is no canvas or the area is empty.
int view_startcanvasrect(const float *area);
// Installs a finished full composition by its mode.
void project_setcanvasdepth();
// Stamps a finished rectangle into the installed canvas.
void project_setcanvasdepthrect();
// The per-frame pass: start, install, and the report of a refused canvas.
void view_canvasframe();
