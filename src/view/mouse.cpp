// Mouse tracking and layer picking in the view.
#include "view/mouse.h"

void view_mouse() {}
