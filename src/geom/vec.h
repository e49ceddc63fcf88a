// Three-float vector helpers and the camera basis. The frame loop rebuilds
// the basis from the camera angles whenever the view changes; the viewport
// and the renderer read its rows right after.
#pragma once

// Rows of view_basis: the view direction, the screen's up and its right.
constexpr int view_forward = 0;
constexpr int view_up = 1;
constexpr int view_right = 2;

extern float view_basis[3][3];

// out = v / |v|; a zero vector gives the zero vector. out may be v.
void vec3_normalize(float *out, const float *v);
// Writes view_basis from angles in degrees: angles[0] is the pitch, angles[2]
// the yaw; angles[1] is not used.
void vec3_anglevectors(const float *angles);
// |ax - bx| + |ay - by| + |az - bz|.
float vec3_manhattan(const float *a, const float *b);
// Turns the unit vector a toward the unit vector b by the fraction t of the
// angle between them, along the great circle; returns out. With a = b the
// result is a; with a = -b the plane of the turn is undefined.
float *vec3_slerp(float *out, const float *a, const float *b, float t);
