// "Copy to Raster-Layer" of text- and model-layers: the jobs "genrastertext"
// and "genrastermodel" turn the source layer's depth into a scalar image and
// the new layer's placement in layer_genrequest, which the main window
// filled from the selected layer (the Smooth value in the chamfer field);
// the viewport installs it as a raster-layer. Every way out that leaves no
// result clears layer_genkind, so the generators can start again.
#pragma once

// Body of "genrastertext": the text at the layer's pixel size, inverted,
// cropped and mirrored as the canvas shows it, smoothed with a margin that
// grows the layer's extents. A layer without a text object gives a null
// result (logged). The argument is not read.
void layer_textdepth(void *unused);
// Body of "genrastermodel": the model's depth over the whole canvas cropped
// to the pixels it covers and normalised to its highest point. A model that
// covers no pixel gives a null result. The argument is not read.
void layer_modeldepth(void *unused);
