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
constexpr int project_brushbytes = 49164;
extern uint8_t *project_brush; // brush-stroke buffer of the raster editor
// Units' names of the window title: 0 none, 1 inches, 2 metric.
extern const char *const project_unitnames[3];

// The "project..." start: the project mutex (id 8 when the starts run in
// order), the surface shaders, an empty record, the brush buffer, the
// backup path, then a new project. 0 when the surface shaders do not load
// (reported) or the brush buffer cannot be had.
int project_init();
// A new untitled project from the configuration: its units in the title
// and a redraw of the view.
void project_new();

// Loads a project file; with asproject 0 (the automatic backup) the file
// does not become the project's own. 1 on success.
int project_load(const char *path, int asproject);

// Waits while a busy flag is set, in steps of at most 1.5 s, for at most
// limit seconds. 1 when the project went idle; 0 when the wait was given up
// (logged). The workers are joined before the shutdown asks, so a flag still
// set then belongs to work that will never end it.
int project_waitidle(double limit);
constexpr double project_quitlimit = 10.0;

// Waits for the project's background work (at most project_quitlimit
// seconds), then frees the project.
void project_quit();
