// The image table: 256 slots of rasters and scalar fields, handed around as
// pointers to their record. This header holds what other subsystems read
// today: the number of images alive and the image mutex.
#pragma once

extern int img_count; // images alive, for the allocator's failure report
extern int img_mutex; // mutex id; -1 until the image start creates it
