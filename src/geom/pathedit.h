// Path editing: knot insertion, joining open curves, curves fitted to
// polylines, knot thinning; and the read-only routines the viewport runs
// every frame: drawing curves as line strips, picking the nearest curve and
// finding the point at a fraction of a curve's length. Works on the records
// of geom/path.h.
#pragma once

struct path;

// Vertices one curve may emit in one drawing call.
constexpr int path_maxdrawverts = 999999;

// out = a (1 - t) + b t per component; returns out.
float *vec3_lerp(float out[3], const float a[3], const float b[3], float t);

// Inserts a knot on the segment from knot a to its next knot, at the curve
// point nearest to point (the shape is unchanged); a = -1 adds the point
// itself before the tail. Returns the new knot, or -1 (logged) for a
// knotless curve, a head knot, a knot not on the curve or a full path.
int path_insertcurveknot(path *p, int c, int a, const float point[3]);
// Copies the knots of curve src onto one end of curve dst (mode 0..3: see
// path_appendmodes in the source); knots of src within the squared distance
// tolerance of dst's end are merged into it. 1 on success, 0 when refused.
int path_appendcurves(path *p, int src, int dst, int mode, float tolerance);
// A new curve from a polyline of n vertices (x, y, z), fitted piecewise by
// cubics within tolerance x 0.01 when the tolerance is not 0; -1 when n < 2.
int addcurvepoly(path *p, int n, const float *verts, int closed, float tolerance);
// The least-squares cubic with ends fixed at the first and last vertex:
// out[0..3] = P0..P3.
void path_fitpoly(int n, const float *verts, float out[4][3]);
// Removes interior knots whose removal costs less area than maxarea;
// returns how many.
int path_reduceknots(path *p, int c, float maxarea);

// Draws every curve, selected ones last with their own colour; 0 when a
// curve hit the vertex limit, else 1.
int path_draw(const path *p, float stepfactor, const float color[4], const float selcolor[4]);
// Draws one curve as a line strip; 0 when the vertex limit was hit inside a
// segment, else 1.
int path_drawcurves(const path *p, int c, float stepfactor, const float color[4]);

// The curve nearest to point (x, y), among all or only the selected ones;
// stores the distance and the start knot of the nearest segment. -1 when
// no curve has a segment.
int path_nearestcurve(const path *p, const float point[2], int coarse, int selectedonly, float *distance, int *knot);
// The point at fraction f of the curve's length (x scaled by 1/aspect and y
// by aspect while measuring), and optionally the curve's direction there.
void path_pointatlength(float out[3], const path *p, int c, float f, float aspect, float direction[3]);
