// The render models the viewport draws beside the simulation: the cutting
// tool, turned from its side profile with the light baked into its vertex
// colours, and one tile of the reference grid in the project's units. The
// shapes are worked out by plain functions the tests read; the model
// functions only record them.
#pragma once
#include "render/draw.h"

#include <cstdint>
#include <vector>

struct tool;

constexpr int sim_maxprofile = 16;                            // points of a tool's side profile
constexpr int sim_toolstrips = 24;                            // helical strips about the axis
constexpr int sim_maxstripverts = 1 + 2 * (sim_maxprofile - 1); // tip and two per further point
constexpr int sim_maxgridlines = 4096;                        // lines of a grid tile, each way

// The side profile of a tool as (radius, height above the tip) from the
// tip to the shank top, in the project's units (projunits 1 inches, 2
// metric). Returns the point count; 0 for a type without a profile.
int sim_toolprofile(const tool &t, uint32_t projunits, float (*profile)[2]);
// The fixed light on a strip edge at the angle in degrees.
float sim_toolshade(float degrees);
// One helical strip of the tool model: strip 0..23 turned 15 degrees apart,
// colour r, g, b, a in 0..1, length the tool's length in project units.
// Returns the vertex count.
int sim_toolstrip(const float (*profile)[2], int n, float length, const float colour[4], int strip,
                  r_vertexdata *out);
// The tool model: the strips and a ring at the shank top. The caller owns
// the slot (-1 when the model table is full).
int sim_gentoolmodel(const tool &t, const float colour[4]);

// One grid tile: the project units it is drawn for, the tile's size and the
// line step in those units, and the factor that finds whole-unit lines.
struct sim_gridplan {
    uint32_t units;
    int size;
    float step;
    float factor;
};
// The plan for the project units and configured step, with its repairs:
// units other than inches or metric give a 1-unit inch tile, a step that is
// not positive or would give more than sim_maxgridlines lines falls back to
// the units' default. Logs each repair.
sim_gridplan sim_plangrid(uint32_t units, float step);
// Line pairs of the tile in r_lines order, major lines in the major alpha.
void sim_gridvertices(const sim_gridplan &plan, const float rgb[3], float major, float minor,
                      std::vector<r_vertexdata> &out);

extern int sim_gridmodel; // the grid tile's model slot, -1 none
// Rebuilds the grid tile for the project's units and the configured step
// and colours, switching a project without units to inches.
void regengridmodel();
