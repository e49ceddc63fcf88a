// The contour table's shared counters.
#include "geom/contour.h"

int cont_count = 0;
