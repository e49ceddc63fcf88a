// Thin guides over the canvas in re-rendered frames: the canvas block's
// outline, and for each layer a faint box and its paths in grey, so the
// layers not being edited stay visible as shapes. The layer pass also
// refreshes the screen outlines that layer picking reads.
#pragma once

// The canvas block outline, while no mouse button is held.
void view_blockoutline();
// Boxes, grey paths and screen outlines of the layers.
void view_layeroutlines();
// a - b in degrees brought into -180..180 by one turn at most.
float view_anglediff(float a, float b);
