// CAM operations: the operation records generators work on, the names of
// the operation types, the bookkeeping that swaps, removes and clears
// operations, the CAM log with the notice a worker leaves for the main
// thread, and the CAM shutdown.
#pragma once
#include <atomic>
#include <cstdint>

constexpr int cam_maxops = 11;        // operation records
constexpr int cam_maxprojectops = 10; // operations of the project
constexpr int camop_types = 18;

struct contour;

// The working record of an operation; free while type is 0. A generator owns
// it from its job's start until it clears generating; only then do others
// read cont, model, toolpath and eta.
struct camop {
    int32_t type;       // index into the operation types; 0 free
    int32_t coolant;    // 1 off, 2 mist, 3 flood
    int32_t tool;       // tool number, 1-based
    int32_t engagefeed; // plunges, links and entry cuts, project units per minute
    int32_t feed;       // cutting feed, project units per minute
    int32_t speed;      // spindle speed
    int32_t dir;        // 1 reversed, 2 alternating, else forward
    int32_t entry;      // 0 plunge, 1 ramp, 2 helical
    float stock;        // leave-stock distance
    float step;         // stepover
    float z_doc;        // depth of cut per level
    float z_max;        // final depth
    float z_min;        // starting depth
    float z_safe;       // safe height above the canvas top
    float aux[3];       // type-specific values
    uint32_t flags;
    // Set by the queuing: the generator cuts the reference of this layer
    // group composed no earlier than applied (sys_seconds).
    int32_t group;
    double applied;
    // Published by the generator with release and read with acquire: once
    // generating reads 0, the fields it filled are complete.
    std::atomic<uint32_t> generating;
    std::atomic<float> progress; // 0..1; exactly 1.0 once calculated
    float time;                  // start time, replaced by the elapsed seconds
    contour *cont;               // working contour shown while generating, owned
    int32_t model;               // mesh model, -1 none
    int32_t toolpath;            // toolpath slot, -1 none
    float eta;                   // estimated run time, seconds
};

extern camop cam_ops[cam_maxops];
extern int cam_mutex;        // mutex id; -1 until the CAM start creates it
extern int cam_generatingop; // record whose generator runs, -1 none
// Display names of the operation types 0..17.
extern const char *const camop_typenames[camop_types];

// Logs "[ CAM ] caption - text". On the main thread it shows the message
// box at once; a worker cannot show boxes, so there it becomes a pending
// notice (sys_postnotice) that the next frame shows.
void cam_log(const char *caption, int icon, const char *format, ...) __attribute__((format(printf, 3, 4)));

// Sizes the start-up reports: one toolpath slot, and one contour record
// (its vertex buffer of 4,194,304 points is allocated separately).
constexpr int cam_toolpathbytes = 11534416;
constexpr int cam_contourkb = 768;

// The "toolpath..." start: reports the size of a toolpath slot.
void toolpath_init();
// The "cam..." start: idle operation records, the CAM mutex (id 7 when the starts run in order).
void cam_init();
// How long the job "clearop" waits for a record's generator to end
// (seconds); a record still generating then is left as it is (logged).
extern double cam_clearlimit;
// Frees what a record generated and makes it free, waiting first (bounded)
// for its generator to end; also the body of the job "clearop".
void cam_clearop(void *op);
// Removes project operation n (0..9, -1 nothing); with compact the emptied
// entry moves to the end. A generating record is cleared by a job, so this
// never waits for a generator. Refused (0, logged, nothing changed) while a
// save cannot be waited out or a step-image job writes an entry it would
// free or move; else 1.
int cam_removeoperation(int n, int compact = 0);
// Swaps project operations i and i + 1, keeping the tools' lists; 1. Refused
// (0, logged, nothing changed) while a step-image job writes either entry.
int cam_swapoperations(int i);
void cam_quit();
