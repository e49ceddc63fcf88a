// Medial-axis carving: shapes from the canvas or paths-layers carved by
// running the tool along their medial axis, as deep at each point as the
// shape's width there lets the cutter reach, level by level.
#pragma once

// The job of operation type 6.
void camop_medialaxis(void *op);
