// The display texture of the selected raster- or text-layer while it is
// being edited (job "layerrefreshtex": raw heights or an edge-shaded view
// that shows relief), and the slice geometry through the canvas volume that
// the viewport records into its canvas render models.
#pragma once
#include <atomic>
#include <cstdint>

struct image;

// Refresh jobs queued and not yet ended; every exit of a job uncounts.
extern std::atomic<int32_t> layer_texrefreshes;
// The texture the last job uploaded (slot, -1 none); the viewport takes it
// and releases it (sets -1), after which the next job may upload.
extern std::atomic<int32_t> layer_activetexture;

// Display settings: the shaded view, shading at full instead of half the
// on-screen resolution, and linear filtering of the uploaded texture.
extern int32_t layer_shading;
extern int32_t layer_shadefullres;
extern int32_t layer_texturefilter;

// Logs the refresh and queues "layerrefreshtex" for the slot, or logs
// "cancelled zero-sized layer texture update" for a layer without area.
// Jobs run one after another in the order queued. Main thread only. The job
// slot, or -1 when nothing was queued.
int layer_refreshtexture(int slot);
// Body of "layerrefreshtex"; the argument carries the layer slot and the
// job's turn, so only layer_refreshtexture may queue it.
void job_layerrefreshtex(void *arg);

// The shaded heights of a scalar field: 5 x the Prewitt gradient's length
// (square root by the float-bit approximation, within about 6 %) plus 0.3 x
// the heights, worked at most tw x th. A new scalar field, or null.
image *layer_shadefield(const image *src, int tw, int th);
// The colour image the job uploads for the layer's scalar field: shaded at
// the layer's on-screen size (half of it unless layer_shadefullres), or the
// squared heights without shading. A new 8-bit image, or null.
image *layer_shadeimage(const image *src, int slot);

// Appends to the recording render model the n + 1 slices of the canvas box
// for direction 0..5 (and, for directions across X and Y, the end cap in
// colour 255 x flip). flip, for the simulation's depth-map, also runs the
// slices from the end face and gives each slice its depth under the top in
// place of its height.
void project_canvasslices(int n, int flip, int direction);
