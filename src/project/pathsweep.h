// "Sweep Paths": profile curves of a paths-layer extruded as cross-sections
// along one rail curve or between two, into a new raster-layer. The main
// window keeps the sweep settings below, fills layer_genrequest and queues
// "genpathsweep"; the viewport installs the result.
#pragma once
#include <cstdint>

struct path;

constexpr int pathsweep_maxprofiles = 16;
constexpr int pathsweep_tablesize = 513; // samples of a profile across its chord

extern int32_t pathsweep_numrails; // 1 or 2 while a sweep is set up, negative while none is
extern int32_t pathsweep_rails[2];
extern int32_t pathsweep_railreversed[2];
extern int32_t pathsweep_numprofiles;
extern int32_t pathsweep_profiles[pathsweep_maxprofiles];
extern float pathsweep_positions[2][pathsweep_maxprofiles]; // fractions of each rail's length
extern uint32_t pathsweep_changed;
extern int32_t pathsweep_smooth; // 1 smooth interpolation between profiles, 0 linear

// Normalised arc length of a rail polyline of n points (x, y, z): out[0] = 0,
// out[n - 1] = 1, plain world-space lengths between. Profile positions are
// fractions of this measure wherever they are shown or used.
void pathsweep_raillengths(const float *points, int n, float *out);
// Forgets curve c in the sweep settings, then deselects and removes it.
void pathsweep_removecurve(path *p, int c);
// Body of "genpathsweep"; the argument is not used.
void job_genpathsweep(void *unused);
