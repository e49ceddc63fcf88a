// Canvas and layer outlines.
#include "view/outlines.h"

void view_blockoutline() {}
void view_layeroutlines() {}
