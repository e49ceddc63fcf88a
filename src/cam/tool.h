// Cutting tools: the 10 tool records of the project with the cutting
// diameter derived from each cutter's geometry, and the 256-entry tool
// library kept in the configuration record with its display order.
#pragma once
#include <cstdint>

constexpr int cam_maxtools = 10;

enum tool_type : int32_t {
    tool_none,
    tool_cylinder,  // "Cylinder"
    tool_tapered,   // "Tapered"
    tool_vbit,      // "V-Bit"
    tool_taperball, // "Tapered Ball"
};

struct tool {
    int32_t type;
    int32_t units;      // project units it was defined in: 1 inches, 2 metric
    int32_t flutes;
    float length;       // total length
    float flutelength;  // derived for a V-bit
    float flutediameter; // the ball radius for a tapered ball
    float aux;          // taper angle (types 2, 4) or included angle (type 3), degrees
    float rampangle;    // degrees
    float diameter;     // effective cutting diameter, derived by type
};

extern tool cam_tools[cam_maxtools]; // tool number n at index n - 1
extern int cam_numtools;             // tools whose type is not 0
// Library slots in display order; kept by the main window.
extern uint8_t cam_toollibview[256];

// The cutting diameter of a cutter of the given type; the flute length of a
// V-bit is passed by reference as it is derived from its angle. Types
// without a rule return keep.
float cam_tooldiameter(int type, float flutediameter, float *flutelength, float aux, float keep);

// Sets tool n once no generator reads the tools and no save writes them,
// waiting at most tool_busylimit seconds; 1 when set, 0 (logged, the tool
// unchanged, the status line saying why) when the wait gave up.
int cam_settool(int n, const char *name, int type, int units, int flutes, float flutediameter, float flutelength,
                float aux, float length, float rampangle);
constexpr double tool_busylimit = 5.0;
float cam_toolparam(int n);
int cam_toolunits(int n);
int cam_tooltype(int n);
// Factor that turns tool n's dimensions into project units.
float cam_toolunitsfactor(int n);
void cam_settooldefaults();

// Library: column 1 slot order, 2 type, 3 cutting diameter, 4 flute
// length; sign -1 sorts descending.
void cam_sorttoollib(int column, int sign);
// Exchanges the definitions shown at view positions i and i + 1.
void cam_swaplibtools(int i);
