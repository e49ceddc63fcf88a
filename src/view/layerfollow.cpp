// Text-layer refresh, layer textures, removal and selection.
#include "view/layerfollow.h"

void view_layerfollow() {}
void view_takelayertexture() {}
