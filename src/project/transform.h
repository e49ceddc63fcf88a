// Mappings between the canvas (world, project units), a layer's own frame
// and the screen: world to layer and back, the mouse ray against a level
// plane, a layer's plane and a heightfield, and the raster selection mapped
// into a layer's raster when an edit is applied through it.
#pragma once

struct image;

// The raster selection of the canvas: one weight 0..1 per canvas pixel, row
// 0 at the canvas's largest y; null while nothing is selected.
extern image *selectionmap;

// The world point in the frame of layer slot: -0.5..0.5 across the layer,
// mirrored by its flags; z is only moved, not scaled. Zeros for a bad slot.
void layer_worldtolocal(float *out, const float *world, int slot);
// The inverse in x and y (z scaled by size z): the same mapping as
// layer_transformpoint. out may be local. Zeros for a bad slot.
void layer_localtoworld(float *out, const float *local, int slot);
// Where the mouse ray through window pixel (mx, my) meets the plane z =
// height; (0, 0, 0) when the ray runs along the plane. Needs the GL context
// whose matrices draw the view.
void view_screentoplane(float *out, float mx, float my, float height);
// Where the mouse ray meets layer slot's base plane, in the layer's frame;
// (0, 0, 0) when the ray runs along it.
void view_screentolayer(float *out, float mx, float my, int slot);
// The first point, in world units, where the mouse ray walking down from the
// canvas top meets the heightfield field (0..1 heights covering the canvas,
// measured from the top when flip is set); the point where the ray leaves
// the canvas bottom when it meets nothing.
void view_screentoheightfield(float *out, const image *field, float mx, float my, int flip);
// Blends edited (the size of the raster-layer's image) into that image,
// weighted per pixel by the selection map placed where the layer lies on the
// canvas (crop, rotation and mirror flags applied). Nothing without a
// selection map; logged and nothing for a bad layer or a size mismatch.
void layer_applyselection(int layer, const image *edited);
