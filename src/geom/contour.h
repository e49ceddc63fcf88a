// Contours: sets of polylines over one vertex buffer.
#pragma once

extern int cont_count; // contours alive, for the allocator's failure report
