// Canvas composition: the request for a new canvas heightfield, the two jobs
// that compose it from the visible layers (the whole canvas, or a rectangle
// after a brush edit), the hand-over of their results to the main thread,
// and the record of the installed canvas with the routines that free it.
// The viewport starts the jobs and installs their results (view/canvasinstall.h).
#pragma once
#include "img/image.h"

#include <atomic>
#include <cstdint>

// Composition modes, the mode argument of project_updatecanvas.
enum canvas_mode : uint32_t {
    canvas_none,
    canvas_view,      // the displayed canvas: quality factor, size stored
    canvas_operation, // an operation's group at full resolution for the generators
    canvas_trace,     // full resolution, for tracing to paths
    canvas_tolayer,   // full resolution, copied into a new raster-layer
    canvas_onelayer,  // the selected layer alone, as the view canvas
    canvas_modes
};

struct canvas_modeinfo {
    const char *name;
    bool quality;  // reduced by the canvas quality; resolution clamped and size stored
    bool onelayer; // only the selected layer, whatever its flags and groups
    bool caches;   // generated depth maps become the layers' caches
};
extern const canvas_modeinfo canvas_modetable[canvas_modes];

constexpr double canvas_maxpixels = 134217728.0; // 2^27
constexpr int canvas_minppi = 5, canvas_maxppi = 1000;

// The one canvas-update state. The flags and pointers are shared between the
// main thread and the jobs; inprogress changes only under the project mutex.
struct project_canvasjobrecord {
    std::atomic<uint32_t> requested{0};
    std::atomic<uint32_t> rebuildmodels{0};
    std::atomic<uint32_t> mode{0};
    std::atomic<uint32_t> group{0};
    uint32_t groupcount[10] = {};
    // Busy: claimed by compare-exchange by whoever starts a job, cleared by
    // the job when its result is handed over or refused.
    std::atomic<uint32_t> updating{0};
    int32_t inprogress = 0;
    // Results, published with release once complete, taken with acquire;
    // what they carry is written before them by the job that made them.
    std::atomic<image *> pendingcanvas{nullptr};
    std::atomic<image *> pendingrect{nullptr};
    // A full composition that gave up, for the main thread: 1 refused as
    // oversized (it shows the box), 2 failed otherwise.
    std::atomic<uint32_t> refused{0};
    // With pendingcanvas: the group composed and sys_seconds when the job
    // began reading the layers, which tag an operation's reference.
    uint32_t composedgroup = 0;
    double composed = 0.0;
    // With pendingrect: x0, y0, x1, y1 where it pastes, in canvas pixels.
    int32_t rect[4] = {};
    double starttime = 0.0;
    float lastsize[3] = {};
    float lastzsize = 0.0f;
    // Full view installs since the project was reset or loaded: the first
    // one only shows what was loaded and leaves the project unchanged.
    uint32_t installs = 0;
};
extern project_canvasjobrecord project_canvasjob;

// The mode and rebuild flag of the composition in flight (set at its start,
// cleared by its installation).
extern std::atomic<uint32_t> jobmode;
extern std::atomic<uint32_t> jobrebuild;

// The installed canvas and its derived data; the viewport fills it.
struct project_canvasrecord {
    image *img = nullptr;
    int32_t models[6] = {-1, -1, -1, -1, -1, -1};
    image *simulation = nullptr;
    image *simproxy = nullptr;
    int32_t simmodels[6] = {-1, -1, -1, -1, -1, -1};
    int32_t simtexture = -1;
    int32_t simproxytexture = -1;
    int32_t depthtexture = -1;     // the installed canvas heights, "depthtexture"
    int32_t selectiontexture = -1; // the raster selection, "selection"
    // Slices of the stacks across X, Y and Z, written with the models.
    int32_t slices[3] = {};
    int32_t simslices[3] = {};
};
extern project_canvasrecord project_canvas;

// The depth generator the full composition calls; a test may count calls.
extern image *(*canvas_gendepth)(int slot, int width, int height);

// Records a request for a composition (main thread), counting the layers
// of each group as project_countgroups does.
void project_updatecanvas(uint32_t rebuildmodels, uint32_t mode, uint32_t group);
// Counts the layers of each group into project_canvasjob.groupcount, for
// whoever adds or removes layers without asking for a composition.
void project_countgroups();

// The pixel size of a composition in mode: in the quality modes the project's
// resolution is clamped to 5..1000 and stored back (project and
// configuration), and so is the pixel size when accepted. 1 when width x
// height is within 2^27 pixels, 0 when refused. Allocates nothing.
int project_canvassize(uint32_t mode, int32_t *width, int32_t *height);

// The rectangle job's order, made by whoever queues the job and freed by it:
// each job composes and pastes its own rectangle, whatever is asked later.
struct canvas_rectrequest {
    int32_t rect[4]; // x0, y0, x1, y1 in canvas pixels, ends exclusive
    uint32_t rebuild; // the models are rebuilt after the paste
};

// How long a composition job waits for the installer, a save and the layer
// generators before it starts (seconds); at the limit it gives up (logged).
extern double canvas_waitlimit;
// How long the main thread waits for a layer generator before freeing the
// canvas (seconds).
constexpr double canvas_freelimit = 5.0;

// Job bodies: "updatecanvas" with the group as argument, "updatecanvasrect"
// with a canvas_rectrequest (new'd; the job deletes it).
void job_updatecanvas(void *group);
void job_updatecanvasrect(void *request);

// Frees the installed canvas image, the display mesh, the render models and
// the simulation data, each group when its switch is nonzero; 1. Waits
// first (bounded, the frame mutex let go) for the layer generators, which
// read the canvas: 0, nothing freed (logged), when one still runs then.
int project_freecanvas(int canvas, int mesh, int models, int simulation);
// Frees the three render models of each operation entry.
void project_freeopmodels();
