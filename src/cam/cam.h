// CAM operations: the operation records generators work on and the CAM
// shutdown. This header holds what the system core uses today.
#pragma once
#include <atomic>
#include <cstdint>

constexpr int cam_maxops = 11;        // operation records
constexpr int cam_maxprojectops = 10; // operations of the project

struct camop {
    int32_t inuse;
    int32_t type;
    std::atomic<int32_t> generating; // set while the generator job runs
    std::atomic<float> progress;     // 0..1; exactly 1.0 once calculated
    float time;                      // seconds the calculation took
};

extern camop cam_ops[cam_maxops];
extern int cam_mutex; // mutex id; -1 until the CAM start creates it

void cam_clearop(void *op);          // job body "clearop" as well
void cam_removeoperation(int index); // project operation 0..9
void cam_quit();
