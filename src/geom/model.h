// Mesh models.
#pragma once

extern int model_count; // mesh models alive, for the allocator's failure report
