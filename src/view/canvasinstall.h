// The viewport's side of the canvas composition, on the main thread: it
// turns a request into the job "updatecanvas", an edited area into the job
// "updatecanvasrect", and installs what the jobs hand back. Needs no GL
// context of its own, so tests drive it headless.
#pragma once
#include <cstdint>

struct image;

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
// Step 9 of each frame: the slice-stack models when an install asked for
// them, and the depth texture of a canvas just installed.
void view_canvasmodels();

// The slice counts of the canvas stacks across X, Y and Z for a canvas of
// size (depth above 0): the detail factor (held to 0..1, logged) squared
// under high-quality rendering gives 32..256 slices in Z; X and Y get as
// many per unit length, held to 1..view_maxslices.
constexpr int view_maxslices = 1024;
void view_slicecounts(float size[3], int counts[3]);

// The renderer's side of the install and the surface pass, which the view
// tests point elsewhere: one slice stack into the recording model
// (project_canvasslices), the upload of the canvas heights as
// "depthtexture" (slot or -1) and the release of a texture.
extern void (*view_slices)(int n, int flip, int direction);
extern int (*view_uploaddepth)(const image *img);
extern void (*view_freetexture)(int slot);
