// Iso-level contouring of a scalar field: the lines where the field crosses
// one level, traced with the side at or above the level on the left into
// closed polylines around regions and open ones that end at the border, then
// filtered, placed in the caller's world frame, smoothed and thinned into a
// new contour (geom/contour.h). The CAM generators turn fields into
// toolpath outlines with it.
#pragma once
#include "geom/contour.h"
#include "img/image.h"

// Traces img at level. Each point (x / w, y / h, level) in pixel-centre
// units is placed at point * scale + offset (three floats each); dotlimit,
// minlen and maxlen go to poly_vertdot in world units; passes smoothing
// passes (0 none). Returns the new contour, which the caller frees, possibly
// without polylines; null when img is not a scalar field or the working
// buffers cannot be had. A contour that fills up keeps what fitted.
contour *img_contour(const image *img, float level, const float *scale, const float *offset, float dotlimit,
                     float minlen, float maxlen, int passes);
