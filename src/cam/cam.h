// CAM operations: the operation records generators work on, the names of
// the operation types, the CAM log with the notice a worker leaves for the
// main thread, and the CAM shutdown. This header holds what the system core
// uses today.
#pragma once
#include <atomic>
#include <cstdint>

constexpr int cam_maxops = 11;        // operation records
constexpr int cam_maxprojectops = 10; // operations of the project
constexpr int camop_types = 18;

struct camop {
    int32_t inuse;
    int32_t type;
    std::atomic<int32_t> generating; // set while the generator job runs
    std::atomic<float> progress;     // 0..1; exactly 1.0 once calculated
    float time;                      // seconds the calculation took
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
void cam_clearop(void *op);          // job body "clearop" as well
void cam_removeoperation(int index); // project operation 0..9
void cam_quit();
