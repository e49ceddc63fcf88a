// Dithered stippling: the canvas dithered into circular stipples, pixels
// visited lightest-first through the error heap, each visit pushing its
// unvisited neighbourhood's working values up (after a stipple) or down
// (where none was placed); every stipple becomes one plunge whose depth
// makes a hole of its size with the operation's tool.
#pragma once
#include <cstddef>

// Growth of the stipple array; a test puts a refusing one in its place.
extern void *(*stipple2_realloc)(void *block, size_t bytes);

// The job function of operation type 11, "Dithered Stippling".
void camop_stipple2(void *op);
