// The relief on screen: the canvas heightfield (project modes 1 to 3) or the
// simulation depth-map (mode 4) drawn as a stack of textured slices that
// the "canvas_slices" program lights and colours, in re-rendered frames only
// and into the view buffer, which idle frames show instead.
#pragma once

// The colour-curve value c (0..1) as the shader's bend, 0.02..0.98, so that
// the curve never divides by zero.
float view_bendcolor(float c);
// The surface pass of the frame (step 13).
void view_drawsurface();
