// The passes of the viewport's frame that are still empty: each is called
// in its place in view_frame, so the order and the skip rules hold now, and
// moves into its own file in src/view/ when it is built.
#pragma once

void view_tracedpaths();   // a traced path becomes a paths-layer
void view_genresult();     // raster-layer generation: result or spinner
void view_mergedown();     // layer merge-down
void view_rasterfollow();  // raster editing follow-up
void view_simulation();    // simulation bookkeeping and drawing
void view_drawtoolpaths(); // toolpaths
void view_editmouse();     // raster selection, brush capture, path, knot, stamp, measure
void view_editpreviews();  // layer preview, gizmo drag, box, path keys, projection, grid
void view_overlays();      // selection preview, editing overlays, previews, measure
