// The project record: the fields the system core reads today (the
// unsaved-changes mark and the four background-work flags) and the project's
// shutdown.
#pragma once
#include <atomic>
#include <cstdint>

constexpr int project_maxlayers = 64;

struct project_record {
    float unsaved;                       // non-zero while there are unsaved changes
    std::atomic<int32_t> updatingcanvas; // canvas composition running
    std::atomic<int32_t> saving;         // project save running
    std::atomic<int32_t> generating[2];  // layer generation running
};

extern project_record project;
extern int project_mutex; // mutex id; -1 until the project start creates it

// Loads a project file; with asproject 0 (the automatic backup) the file
// does not become the project's own. 1 on success.
int project_load(const char *path, int asproject);

// Waits for the project's background work, then frees the project.
void project_quit();
