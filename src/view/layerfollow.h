// The viewport's follow-up of layers each frame: text-layers pick up their
// regenerated images (fitting the layer's size to them) and push the text
// editor's changes to their text objects; a pending layer removal is carried
// out with its undo event; a change of the main window's selection is
// loaded into the layer editor; the selected layer's display texture is
// refreshed on a worker and taken over here when uploaded.
#pragma once
#include <cstdint>

// Pixels per project unit of the text images: the resolution the last view
// composition was started with (view_startcanvas stores it).
extern float view_textscale;
// The selected layer's display texture (slot, -1 none).
extern int32_t view_layertexture;

// The text caret of the text-layer in editing, as fractions of its image:
// the cursor point, the selection's other end and a character's size.
extern float view_textcursor[2];
extern float view_textselect[2];
extern float view_textchar[2];

void view_layerfollow();
// Takes the display texture the last refresh job uploaded, which ends that
// job's wait. Runs every frame.
void view_takelayertexture();
