// The smallest circle enclosing a set of points in x and y, by the
// randomised incremental method (expected linear time), for the hole finder
// of the drilling generator: a dense round outline costs no more than its
// vertex count.
#pragma once

// Centre (x, y) and radius of the smallest circle holding the count points
// (x, y, z each; z ignored) within radius + 0.0001. With fewer than 2 points
// it is centre (0, 0), radius 999999: no circle, rejected by any size test.
void circle_enclose(const float *verts, int count, float out[3]);
