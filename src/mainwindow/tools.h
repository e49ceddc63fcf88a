// The tools mode: the panel listing the project's ten tools with the library
// and clear buttons, and the tool editor of the right column. The editor
// keeps a working copy of the selected tool that Apply writes in one call;
// the tool diagram of the view area draws from the same working copy, so it
// follows each edit before it is applied.
#pragma once
#include <cstdint>

// The working values of the edited tool. Lengths and diameters are in the
// tool's own units; the type value is the corner radius (type 1, may be
// negative), the taper angle (types 2 and 4) or the bit angle (type 3) in
// degrees. A V-bit's flute length is the editor's computed one.
struct tools_editvalues {
    char name[32];
    int32_t type;        // 0 none, 1 cylinder, 2 tapered, 3 V-bit, 4 tapered ball
    int32_t units;       // 1 inches, 2 metric
    float flutes;        // held as a float for the slider, used as an integer
    float length;        // total length
    float flutelength;
    float flutediameter; // flute, tip or bit diameter, or the ball radius
    float value;         // corner radius or angle, by type
    float rampangle;     // degrees
};
// Read by the diagram every frame; written only by the editor.
extern tools_editvalues tools_edit;

// The texts of the editor's number fields, formatted from tools_edit.
constexpr int tools_textmax = 32;
struct tools_edittexts {
    char total[tools_textmax], flute[tools_textmax], diameter[tools_textmax], value[tools_textmax];
};
extern tools_edittexts tools_texts;

int tools_typeicon(int type);        // 100 none, 90..93 types 1..4
const char *tools_typename(int type); // "None", "Cylinder", ...
// A generator runs or the canvas composes: nothing that sets tools may act.
int tools_busy();

// Loads the editor from tool n (1..10); an undefined tool gets its default
// name, 2 flutes and the project's units.
void tools_loadeditor(int n);
void tools_formattexts();
// Selection: tool n into the editor, the right column on the tool editor.
void tools_select(int n);
void tools_deselect();
// Another type: from none first 2 flutes and the project's units, then the
// type's remembered values.
void tools_settype(int type);
// Writes the editor into the selected tool; 0 when refused (a box names the
// field) or cam_settool gave up.
int tools_apply();
// Each asks first; 1 when done.
int tools_remove(int n);
int tools_loadlibrary();
int tools_clearlist();
int tools_done();

// The type drop-down's id, which is also its list's window: the types 1..4
// are its entries in order.
constexpr int32_t tools_typelistid = 12031;

// The panel functions of the main window's table.
void tools_panel();
void tools_editor();
