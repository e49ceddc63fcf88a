// What the operation editor asks the viewport to show in the 3D view for
// the frame it draws: the contouring plane, the spiral's centre and radius
// and the highlighted paths-layer. The editor sets them while the rows that
// edit these values are drawn; the viewport clears the pointers once it has
// drawn them, so a row that is no longer drawn leaves nothing behind.
#pragma once
#include <cstdint>

// The contour height (project units above the canvas bottom), null none,
// and the type of the operation whose plane it is.
inline float *oppreview_contourz = nullptr;
inline int32_t oppreview_contourmode = 0;
// Spiral Carving: centre x and y as fractions of the canvas about its
// middle, and the radius limit in project units (0 none); null none.
inline float *oppreview_spiral[3] = {nullptr, nullptr, nullptr};
// The layer slot to outline, -1 none, -2 every paths-layer of the group.
inline int32_t oppreview_pathslayer = -1;
