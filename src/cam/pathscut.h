// Paths carving: the curves of one paths-layer cut level by level from the
// starting depth to the final depth, at flat heights or draped onto the
// canvas (optionally widened by the leave-stock distance and the cutter).
#pragma once
#include <cstdint>

// Option bits in the lowest byte of aux[1].
constexpr uint32_t pathscut_surface = 0x1; // follow the canvas surface
constexpr uint32_t pathscut_cutter = 0x2;  // the surface widened by the cutter

// The job of operation type 12.
void cam_pathscut(void *op);
