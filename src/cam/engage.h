// Entry cuts and path ordering. Ramps and helixes descend gradually to the
// start of a cut path and are appended as cut paths of their own; the two
// orderings give the unsorted paths of a slot their place in the sorted
// order and make the entry cuts those paths ask for.
#pragma once

// Engage settings shared by every entry cut; the generator that owns the
// CAM mutex sets them before it adds paths.
extern float engage_cutz;        // top of an entry cut, project units
extern float engage_slope;       // height change per unit of horizontal travel
extern int engage_flag;          // non-zero: entry cuts carry their engage flag
extern float engage_helixradius; // radius of the helixes the orderings make

// Sets engage_helixradius for tool n (1..10): a quarter of its flute
// diameter, in the project's units.
void engage_sethelixradius(int n);

// A ramp into the cut polyline from vertex start in steps of dir (+1 or -1);
// closed 0 treats the polyline as open. Returns the polyline vertex where
// the ramp meets the cut, or -1 when none was added.
int toolpath_addramp(int slot, int link, int dir, int start, int count, const float *verts, int closed);
int toolpath_addramp(int slot, int link, int dir, int start, int count, const float *verts);

// A helix of the given radius that descends from engage_cutz onto vertex
// start. 1 when done (also when no helix was needed), 0 when it would take
// too many points, -1 when it could not be stored.
int cam_addhelicalengage(int slot, int dir, int start, int count, const float *verts, float radius);

// Orders the unsorted paths nearest-next from pos; writes the end of the
// last path ordered (pos when none) into out.
void toolpath_sortpaths(float out[3], int slot, const float pos[3], int bidir, int mode, float linkdist);
// Places the unsorted paths in the order they were added.
void toolpath_engagepaths(int slot);
