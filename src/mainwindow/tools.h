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

// Fills the panel entries of the main window's table.
void tools_register();
