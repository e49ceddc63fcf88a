// Raster brush strokes and the raster selection: the raster-editing mode
// switch, the open tool's parameters, the ring of recorded brush points that
// the viewport fills and the job "brushstrokes" turns into a stroke image,
// the application of the strokes to the layer with its undo event, and the
// growing, shrinking and feathering of the raster selection.
//
// The point ring lives in the project's brush block (project_brush): 4,097
// entries of {x, y, stroke length}, x and y in the edited layer's frame;
// entry 4,096 mirrors entry 0. Points are addressed by running counts
// (entry = count mod 4,096); strokes (pieces handed to the job together) by
// running counts into 8 slots of point counts. The main thread appends, the
// job reads between its done counts and the stroke count it was given; the
// counts are published with release and read with acquire, and an append
// that would overwrite what the job has not read is refused.
#pragma once
#include <atomic>
#include <cstdint>

struct image;

constexpr int brush_ringpoints = 4096;
constexpr int brush_ringstrokes = 8;
static_assert((brush_ringpoints + 1) * 3 * 4 == 49164, "the ring fills the project's brush block");

// The ring's 4,097 entries, or null before the project start.
float (*brush_ring())[3];

extern int32_t brush_layer;                      // the raster-layer being edited
extern std::atomic<int32_t> brush_pointcount;    // points written (brush_end)
extern std::atomic<int32_t> brush_pointsdone;    // points consumed by the job (brush_done)
extern std::atomic<int32_t> brush_strokecount;   // strokes begun
extern std::atomic<int32_t> brush_strokesdone;   // strokes consumed by the job
extern int32_t brush_strokepoints[brush_ringstrokes];
extern int32_t brush_curstroke; // slot of the stroke being drawn
extern int32_t brush_newest;    // entry of the newest point
extern int32_t brush_prevend;   // entry ending the previous stroke, -1 none
extern std::atomic<int32_t> brush_busy;   // a "brushstrokes" job runs
extern std::atomic<int32_t> brush_result; // a finished batch waits for the viewport

// Accumulated stroke heights over the layer ("brshstrks") and smudge
// vectors ("brshvecs"); null until the first stroke.
extern image *brush_strokes;
extern image *brush_vectors;
// "Brush Mode": 0 "Additive", 1 "Subtractive", 2 "Maximum", 3 "Smooth",
// 4 "Smudge".
extern int32_t brush_mode;
// Bounds of the last stroke piece as fractions of the canvas: x0, y0, x1, y1.
extern float brush_strokearea[4];

// Manual-brush settings: diameter (project units), Z scale as a share of
// the layer's Z size, centre flat share, the profile's two radii, size and
// value decay, the share of the canvas resolution strokes are computed at,
// and "Blurred Smudge".
struct brush_settingsrecord {
    float size = 0.1f;
    float value = 0.1f;
    float profile = 0.0f;
    float innerradius = 0.0f;
    float outerradius = 0.0f;
    float sizedecay = 0.0f;
    float valuedecay = 0.0f;
    float resolution = 1.0f;
    int32_t blursmudge = 0;
};
extern brush_settingsrecord brush_settings;

// Raised when the raster preview must be computed again.
extern int32_t raster_previewrefresh;

// Appends a point to the stroke being drawn: 1, or 0 when the ring holds
// 4,096 points the job has not read (the point is refused, nothing lost).
int brush_addpoint(const float *point);
// Begins a new stroke in the next slot with its first point: 1, or 0 when
// 8 strokes wait unread or the point is refused.
int brush_beginstroke(const float *point);

// On (nonzero) enters raster-editing mode for the selected raster-layer; off
// leaves it with a full selection.
void project_rasterselect(int on);
// Stores the open tool's values into the raster-edit settings and asks for
// a new preview: tool 3 n levels points of two floats, tool 4 the radius, Z
// radius and vertical switch, tool 5 the angle, tools 6 and 7 the count,
// rows, ring radius and phase, tool 8 the level count (n > 1: and the
// quality switch). Other tools, and too few values, change nothing.
void raster_settoolparams(int n, const float *values);
// Body of the job "brushstrokes": turns the strokes up to the running stroke
// count target into stroke heights. Only one runs at a time (brush_busy,
// which its starter sets).
void layer_strokedist(void *target);
// Applies the accumulated strokes to the edited layer with a "layer data"
// event and a texture refresh; nothing without a stroke image.
void layer_brushstrokes();
// Grows (amount > 0, project units) or shrinks the raster selection: mode 0
// by a disc with a one-pixel soft rim, mode 1 feathers by a cone. Nothing
// without a selection or for less than a pixel.
void raster_selectiongrow(float amount, int mode);
