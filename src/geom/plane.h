// Plane helpers shared by the layer frames, the gizmo and the generators: the
// sine and cosine of an angle in degrees with the quarter turns exact, the
// box that encloses a turned box, and snapping a value to a grid step.
#pragma once

// Sine and cosine of deg degrees. Within 0.0001 degrees of 0, 90, 180 or 270
// they are exactly 0 and +-1, so a layer turned by a quarter keeps its
// coordinates bit for bit. The angle is not reduced modulo 360: 360 and -90
// are computed.
void math_exactsincos(double deg, double *s, double *c);
// Turns the corners of box (min x, min y, max x, max y) about its centre by
// angle degrees (x' = cx + dx cos + dy sin, y' = cy - dx sin + dy cos) and
// writes the box that encloses them. out may be box.
void bounds_rotate(float *out, const float *box, float angle);
// v rounded to the nearest multiple of step, halves upward; a zero step
// leaves v as it is.
float snap_step(float v, float step);
