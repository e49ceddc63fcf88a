// Edge profiles: the rounded rim of a disc and the ramp with rounded ends.
// Brushes and stamps shape their edges with the first; distance fades map
// distances to heights with the second.
#pragma once

// Height of a disc with a rounded rim at distance dist from its centre: 0
// inside radius - |rim|, outside beyond radius, and between them a quarter
// circle down to -depth, convex for rim > 0 and concave for rim <= 0.
float math_steppos(float dist, float radius, float rim, float depth, float outside);
// Maps count values in place through a ramp rising from 0 (value 0) to 1
// (value length): u = value / scale runs over a straight slope joined to the
// bottom by an arc of radius r1 and to the top by one of radius r2, radii in
// units of scale, a negative radius making its arc concave.
void arc_fit(int count, float *values, float r1, float r2, float length, float scale);
