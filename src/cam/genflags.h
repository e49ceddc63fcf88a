// Flags the operation generators share with the work that feeds them. The
// canvas composition raises the cancel flag when it refuses the full-
// resolution canvas a generator is waiting for, so that the generator gives
// up instead of waiting for a reference image that will never come.
#pragma once
#include <atomic>
#include <cstdint>

// Set by a refused operation canvas; the generator clears it when it starts.
inline std::atomic<uint32_t> cam_canvasfailed{0};
