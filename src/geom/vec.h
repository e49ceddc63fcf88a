// Three-float vector helpers and the camera basis. The frame loop rebuilds
// the basis from the camera angles whenever the view changes; the viewport
// and the renderer read its rows right after.
#pragma once
#include <bit>
#include <cstdint>

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
// The rows of the flat top view turned by a Z angle in degrees: (0, 0, -1),
// (-sin, cos, 0), (-cos, -sin, 0). Here rather than with the viewport's
// framing because the toolkit's supershape preview turns its outline the
// same way.
void view_rotationrows(float zdegrees, float rows[3][3]);
// |ax - bx| + |ay - by| + |az - bz|.
float vec3_manhattan(const float *a, const float *b);
// Turns the unit vector a toward the unit vector b by the fraction t of the
// angle between them, along the great circle; returns out. With a = b the
// result is a; with a = -b the plane of the turn is undefined.
float *vec3_slerp(float *out, const float *a, const float *b, float t);

// 1 / sqrt(x) from the bit-pattern guess 0x5F375A86 and one Newton step:
// within 0.2 % for x > 0, cheap enough for the inner loops of the medial axis
// and the stipple advection.
inline float vec_fastinvsqrt(float x)
{
    float y = std::bit_cast<float>(0x5F375A86u - (std::bit_cast<uint32_t>(x) >> 1));
    return y * (1.5f - 0.5f * x * y * y);
}
