// Curves of a paths-layer as polylines: each curve flattened, carried into
// the canvas through the layer's frame and thinned, gathered in one contour.
// The layer generators and the CAM paths inputs take their polylines here.
#pragma once

struct contour;

// The curves of paths-layer slot layer flattened at tolerance (relative to
// the canvas), in world units. closedonly skips open curves; selectedonly
// keeps only the selected curves while path editing has some; applyrotation
// 0 converts as if the layer were not turned (the layer is left as it is).
// A slot that is no paths-layer gives an empty contour. Null (logged) when
// no contour can be had or the curves pass the contour's limits.
contour *path_topolys(int layer, float tolerance, int closedonly, int selectedonly, int applyrotation);
