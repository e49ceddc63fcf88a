// The viewport's follow-up of layers each frame: text-layer images, the
// selected layer's display texture, a pending removal and a change of the
// selected layer.
#pragma once

void view_layerfollow();
// Takes the display texture the last refresh job uploaded (every frame).
void view_takelayertexture();
