// The layer and canvas editors: the field values the main window shows for
// the selected layer, loaded from its record and applied back with a "layer
// state" event; in-place text editing of a text-layer (one "layer data"
// event for the whole edit); path editing of a paths-layer (the layer
// squared on the way in, degenerate curves dropped on the way out); and the
// canvas editor with its "canvas state" event. Main thread only.
#pragma once
#include "geom/pathsel.h"

#include <cstdint>

struct project_layer;

// Bits of project_layer::flags that the editor owns.
constexpr uint32_t layer_orientbits[7] = {0, 0x20, 0x40, 0x80, 0x100, 0x200, 0x800};
constexpr uint32_t layer_lockx = 0x2000, layer_locky = 0x4000, layer_lockz = 0x8000;

struct layer_editorrecord {
    float pos[3];
    float size[3];
    float zfill;
    float smooth; // shown as a float, stored rounded
    float crop[4];
    float tilt[2];
    float rotation;
    int32_t blend;
    int32_t mirrorx, mirrory, invert;
    int32_t display;     // the 0x400 toggle
    int32_t orientation; // model-layers: 0..6
    int32_t lockmode;    // 0 none, 1 X+Y, 2 X+Z, 3 Y+Z, 4 all three
};
extern layer_editorrecord layer_editor;

// Text-object slot of the text-layer under in-place editing, -1 none.
extern int32_t project_textlayeredit;
// The keyboard edit a text-layer's text is typed in: the toolkit's
// text_beginedit, which the start-up sets so that the project needs no
// toolkit header. A null buffer ends the edit. Until it is set no keyboard
// reaches the text.
extern void (*project_textinput)(char *buffer, int32_t maxlen, uint32_t flags, void (*done)());
// The text editor's font (alphabetical position, -1 none), point size,
// spacing and font slider (position / (fonts - 1)).
extern int32_t project_textfont;
extern float project_textptsize;
extern float project_textspacing;
extern float project_fontslider;
// The selected-curve count of the selection tables: -1 while no paths-layer
// is in path-editing mode.
inline int32_t &project_pathslayeredit = p_selcurves.count;

void layer_loadeditor(const project_layer *record);
void layer_applystate();
void project_textmode(int on);
void project_textedit();
void layer_pathedit(int on);
void project_applycanvas(const float size[3], const float fractions[3], float zfill, int32_t ppi);
