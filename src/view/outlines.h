// The canvas block outline and the layers' boxes and grey paths.
#pragma once

void view_blockoutline();
void view_layeroutlines();
