// The layer undo blob and the replay of undo/redo events: a layer as its
// record followed by its data (layer_write, layer_read), the operations that
// add layers with their undo event, the byte layout of every event blob, and
// project_applystate, which replays one blob on the project. A blob is read
// whole and checked before the project is touched: one that fails to read
// leaves the layers, their counts and the selections as they were.
// Main thread only.
#pragma once
#include <cstdint>

struct msg_stream;
struct image;

constexpr int32_t layer_recordbytes = 296;
constexpr int32_t project_canvasblobbytes = 32;
constexpr int32_t project_fitblobbytes = 24 + 64 * 12;

// Appends the layer blob of the slot: 1, or 0 (logged) for a bad slot or a
// write the stream refused.
int layer_write(msg_stream *m, int slot);
int layer_write(int slot);
// The layer blob of the slot in a fresh buffer for an undo event: the
// buffer (the caller frees it with sys_free) with its size in *size, or
// null (logged) when there is no buffer or the write failed.
uint8_t *layer_blob(int slot, int32_t *size);
// Reads a layer blob at the stream's position into the slot, which the
// caller has freed, and counts the layer: 1, or 0 (logged) with the slot
// and counts untouched.
int layer_read(msg_stream *m, int slot);
int layer_read(int slot);

// Closes the gap at slot i, a free slot, which goes to 63: the slots above
// move down by one, keeping their order.
void layer_closegap(int i);
// Queues event 5 "layer addremove" for a layer just added.
void layer_event(int slot);
// Recounts the layers of each group into the canvas request's counts, as a
// canvas update does, without asking for one.
void project_countgroups();
// A new raster-, paths- or text-layer with its undo event: the slot or -1.
int project_addlayer(int type);
// A raster-layer (kind 1) or paths-layer (other kinds) from the data waiting
// in the global message buffer: 1, or 0.
int layer_addfrombuffer(int kind, const char *name, float ratio);

// Moves every layer in X and Y by the shift of the canvas origin when the
// canvas takes size and origin fractions, and marks it stale: the canvas
// editor and the canvas replay both resize this way. A depth change moves
// no layer in Z.
void project_moveorigin(const float size[3], const float fractions[3]);

// Blob writers of the events the project and the viewport queue.
// Canvas: f32 size[3], origin fractions[3], Z fill, i32 ppi.
void project_writecanvasblob(uint8_t out[project_canvasblobbytes]);
// Fit: f32 origin offset[3], canvas size[3], the 64 layers' positions.
int project_writefitblob(msg_stream *m);
// Paths-edit: the path (raw), the selection lists, position, size and the
// four path-panel flags of the edited layer.
int layer_writepathedit(msg_stream *m, int slot);
// Merge-down: u32 merged flag, then the merged layer at lower (merged 1),
// or the upper layer then the lower one (merged 0).
int layer_writemerge(msg_stream *m, int merged, int upper);
// Add-multi: n slots each followed by its layer blob (layers 1), or n
// slots alone.
int layer_writemulti(msg_stream *m, const int32_t *slots, int n, int layers);

// Replays one event blob (the old one with undo 1, the new one with undo
// 0; data may be null). 1 when it was applied, 0 when refused (logged; the
// project is as it was, but for the change time and the saved flag).
int project_applystate(int undo, int type, int aux, int32_t size, const void *data);

// The slot the main window selects on its next frame, -1 none.
extern int32_t project_selectlayer;
// Four flags of the paths-edit panels carried by the paths-edit blob:
// Simplify Paths open, Subdivide Paths open, supershape stamp on, Remove
// Duplicates open.
extern int16_t project_pathpanels[4];
// The layer gizmo's copy of the selected layer's frame.
struct layer_gizmorecord {
    float pos[3];
    float size[3];
    float rotation;
};
extern layer_gizmorecord layer_gizmostate;
// The viewport's canvas-changed flag, raised by replays of types 1 to 3.
extern int32_t view_canvaschanged;

// Seams to the renderer, which unit runs replace: the render model of a
// model-layer's mesh (-1 none), the body of "layerrefreshtex"
// (job_layerrefreshtex; null: layer_refreshtexture starts none), and the
// "selection" texture made from an image.
extern int (*layer_meshmodel)(int mesh);
extern void (*job_refreshtexture)(void *slot);
extern void (*project_selectiontexture)(const image *img);
