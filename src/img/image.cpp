// The image table's shared counters.
#include "img/image.h"

int img_count = 0;
int img_mutex = -1;
