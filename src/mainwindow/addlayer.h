// The Add Layer dialog (dialog 14): blank raster-, paths- and text-layers,
// the three file loaders, the content library and the "Fit to Canvas"
// choice the loaders read. Its body is the dialog table's entry 14; it
// closes itself when the project leaves canvas mode.
#pragma once
#include <cstdint>

constexpr int32_t addlayer_id = 11400; // element ids: this plus the place in the dialog

// The dialog's body, drawn below its title bar.
void addlayer_draw();
