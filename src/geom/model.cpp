// The mesh-model table's shared counters.
#include "geom/model.h"

int model_count = 0;
