// The simulation: the depth-map size from the pixel budget, the four step
// images of each operation (the cut after each quarter of its length) made
// by the job "projgenopsimimage", and the job "project_gensimulation" that
// builds the depth-map from them and then adds the stretch the playback has
// reached, reporting the changed parts as dirty rectangles. The viewport
// sets the inputs, queues the jobs and reads the outputs once they end.
#pragma once
#include <atomic>
#include <cstdint>

struct image;
struct projop;

constexpr int sim_cells = 16;     // touched-cell grid of an update, per side
constexpr int sim_maxrects = 256; // dirty rectangles
constexpr int64_t sim_maxpixels = 134217728;

// Depth-map size in pixels (sim_depthmapsize) and the configured simulation value.
extern int sim_width;
extern int sim_height;
extern float sim_value;

// Inputs and outputs of "project_gensimulation". The depth-map itself is
// project_canvas.simulation; freeing it forces a full build.
struct sim_staterecord {
    int32_t op = -1;          // project operation entry being played, -1 none
    double fraction = 0.0;    // negative: play all of op too
    int32_t playback = 0;     // a partial stretch is requested
    double remaining = 0.0;   // cut length still to add
    int32_t path = 0;         // where the last rasterisation stopped
    int32_t move = 0;
    double position = 0.0;    // fraction within the move's segment
    float toolpos[3] = {};
    int32_t cells[sim_cells * sim_cells] = {};
    int32_t rects[sim_maxrects][4] = {}; // x0, y0, x1, y1 in cells, inclusive
    int32_t numrects = 0;
    float stamp = 0.0f;   // time of the last update
    float runtime = 0.0f; // smoothed seconds per run
    std::atomic<int32_t> done{0};
    std::atomic<int32_t> busy{0}; // set by whoever queues the job, cleared by it
};
extern sim_staterecord sim_state;

// Nonzero while "project_gensimulation" runs; the project reset and the
// canvas freeing wait for it.
extern std::atomic<uint32_t> cam_simgenerating;
// Step-image jobs queued and not yet ended: raised by whoever queues one.
extern std::atomic<int32_t> sim_jobcount;
// How long the depth-map job waits for an operation's step images, and how
// often it looks (seconds); tests shorten them.
extern double sim_waitlimit;
extern double sim_waitpoll;

// The box a depth image covers for cam_rasteroplength: size (Sx, -Sy, -Sz)
// over origin (x0, y0 + Sy, z0 + Sz), where (x0, y0, z0) is the canvas
// block's lower corner in machine coordinates (minus the origin fractions x
// size). Depth values come out as (canvas top - z) / Sz.
void sim_canvasbox(float *size, float *origin);

// Sets sim_width x sim_height to about n^2 pixels in the canvas's
// proportions (n the simulation resolution setting) and copies the
// simulation value; sizes giving no pixel or more than sim_maxpixels are
// clamped (logged).
void sim_depthmapsize();

// Job body: the four step images of project operation entry (a projop *).
void job_projgenopsimimage(void *entry);

// Stores the current time as a change stamp and returns its address.
float *proj_floatref();

// Job body "project_gensimulation" (argument unused).
void project_gensimulation(void *unused);

// Turns the touched cells (n x n counters, rows of cells counting up from
// y = 0) into dirty rectangles: runs of touched cells in a row, merged down
// through rows of equal runs. Returns their number (at most sim_maxrects).
int sim_dirtyrects(const int32_t *cells, int n, int32_t (*rects)[4]);
