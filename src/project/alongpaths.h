// "Raster Along Path(s)": the active layer's depth image bent along the
// curves of a paths-layer, along each path (a ribbon following it) or
// between pairs of paths. The main window keeps the settings below, fills
// layer_genrequest with the world polylines and queues
// "genrasteralongpaths". The mapping (cross directions, the along
// coordinate, the two-rail walk) is here for the view's preview too.
#pragma once
#include <cstdint>

extern int32_t alongpath_layer;
extern int32_t alongpath_mode;    // 0 none, 1 single-path, 2 double-path
extern int32_t alongpath_axis;    // 0 the layer's X axis runs along the path, 1 its Y axis
extern int32_t alongpath_reverse; // flips the mapping in both directions
extern float alongpath_lateral;   // share of the cross size left of the path
extern float alongpath_position;  // 0 start at the path's start, 0.5 centred
extern int32_t alongpath_byreps;
extern float alongpath_reps;      // 1..32, used truncated
extern float alongpath_scale;
extern int32_t alongpath_repeat;
extern float alongpath_spacing;   // gap between repetitions, share of the along size
extern int32_t alongpath_fixed;
extern float alongpath_angle;     // degrees
extern int32_t alongpath_swap;

// Along size, cross size and spacing length for a path of length len on a
// layer of size (x, y).
struct alongpath_sizes {
    float along, cross, spacing;
};
alongpath_sizes alongpath_measure(float len, const float *layersize);
// Cross directions of a polyline of n points (x, y, z): the mean of the
// perpendiculars of the segments meeting at each vertex (a closed polyline
// pairs its ends), or the fixed angle's direction. out holds n x 3.
void alongpath_normals(const float *pts, int n, int closed, float *out);
// The along coordinate at arc length s of a path starting at s0.
float alongpath_v(float s, float s0, const alongpath_sizes &z);
// The two-rail walk over rails P and Q: calls quad for every step with the
// old and new points on each rail and their arc lengths. Stops at 0.9999 of
// the walk.
typedef void (*alongpath_quadfn)(void *ctx, const float *p0, const float *p1, float sp0, float sp1,
                                 const float *q0, const float *q1, float sq0, float sq1);
void alongpath_walk(const float *P, int np, const float *Q, int nq, alongpath_quadfn quad, void *ctx);

// Body of "genrasteralongpaths"; the argument is not read.
void layer_rasteralongpaths(void *unused);
