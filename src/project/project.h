// The project record: the canvas (the block of stock) with its units,
// resolution and appearance, the 64 layer slots, the tool and operation
// entries, and the project-wide marks of change; then the four
// background-work flags the system core waits on, and the project's start
// and shutdown. The layer slots' operations are in project/layer.h.
#pragma once
#include <atomic>
#include <cstdint>

struct image;
struct path;

constexpr int project_maxlayers = 64;
constexpr int project_maxgroups = 10;
constexpr int project_maxtools = 10;
constexpr int project_maxops = 10;
constexpr int project_maxmeshes = 32; // one use count per mesh-model slot
constexpr int project_maxname = 64;  // name bytes, terminator included

enum project_layertype {
    layer_free,
    layer_raster,
    layer_paths,
    layer_model,
    layer_text,
    layer_types
};

// Bits of project_layer::flags. 0x20 to 0x800 (besides 0x400) are a
// model-layer's orientation and 0x2000 to 0x8000 the size locks; the layer
// editor owns those.
constexpr uint32_t layer_hidden = 1;
constexpr uint32_t layer_mirrorx = 4;
constexpr uint32_t layer_mirrory = 8;
constexpr uint32_t layer_invert = 16;
constexpr uint32_t layer_removebottom = 0x400;

// Blend modes of a layer into the canvas: "Additive", "Subtractive",
// "Multiply", "Maximum", "Minimum", "Difference".
constexpr int32_t layer_blendmaximum = 3; // new and freed slots

// What a layer holds, by its type: the owned scalar field (raster), the owned
// path (paths), the mesh-model slot shared through project_meshuses (model)
// or the text-object slot (text).
union project_layerdata {
    image *img;
    path *pth;
    int32_t mesh;
    int32_t text;
};

// One canvas layer slot. Undo blobs copy the record byte for byte, so its
// layout is fixed; a slot is free exactly when its type is 0.
struct project_layer {
    char name[project_maxname]; // "Unused Layer" in a free slot
    int32_t type;               // project_layertype
    uint32_t flags;
    int32_t smooth;      // smoothing radius in canvas pixels, 0..32
    int32_t blend;       // blend mode 0..5
    int32_t rendermodel; // render model of a model-layer's shaded mesh, -1 none
    uint32_t uid;        // identity that survives reordering; all bits set when free
    float zfill;
    float aspect;   // height over width of the content
    float pos[3];   // centre, project units
    float size[3];  // extent, project units
    float tilt[2];  // degrees
    float rotation; // degrees; positive turns clockwise seen from above
    float crop[4];  // visible part as fractions x0, y0, x1, y1
    project_layerdata data;
    image *depth;    // the depth map last generated, owned by the slot
    uint32_t stale;  // 1 while depth must be generated again
    uint32_t groups; // bit g: member of layer group g (0..9)
    uint32_t extra[30]; // carried with the record, read by no layer code
};
static_assert(sizeof(project_layer) == 296, "undo blobs carry layers as 296-byte records");

struct projtool {
    char name[project_maxname];
    int32_t ops[project_maxops]; // operation entries using the tool, -1 none
};

// One step of an operation's simulation: the image cut so far and where
// along the moves it stopped.
struct projsimstep {
    image *img;
    int32_t path;
    int32_t move;
    double fraction;
    double length; // cut length so far
};

// An operation entry without its simulation busy flag, so entries can be
// exchanged whole (cam_swapoperations).
struct projopfields {
    char name[project_maxname] = {};
    int32_t group = 0;      // layer group 0..9
    int32_t camop = -1;     // operation record, -1 none
    int32_t tool = 0;       // 1-based, 0 none
    int32_t contmodel = -1; // render models of the display, -1 none
    int32_t meshmodel = -1;
    int32_t pathmodel = -1;
    uint32_t include = 0;
    uint32_t show = 0;
    float created = 0.0f;       // seconds since start
    uint32_t current = 0;       // cleared when its tool changes: generate again
    image *simulation = nullptr; // the final simulation image: the last step's
    projsimstep steps[4] = {};
    float simtime = 0.0f;       // toolpath time the images were made for
};

struct projop : projopfields {
    std::atomic<int32_t> simbusy{0}; // a simulation job is making the images
};

// Where the wood grain's settings sit in project.rendersettings, the order
// the Simulation Appearance panel and the surface shader share: grain scale,
// the three orientation angles (degrees), the offset, the ring, longitudinal
// and radial frequencies, their three amplitudes, the radius vector, and
// microtubule density and length (the last word is unused).
enum project_rendersetting {
    render_grainscale = 0,
    render_angles = 1,
    render_offset = 4,
    render_freq = 7,
    render_amp = 10,
    render_rad = 13,
    render_tubes = 16,
    render_settings = 19
};

struct project_record {
    char path[2048];         // the project file, UTF-8; empty while untitled
    float originoffset[3];   // minus origin fraction x size, per axis
    int32_t pixelwidth;      // canvas heightfield size
    int32_t pixelheight;
    uint32_t units;          // 0 none, 1 inches, 2 metric
    // Canvas size y / size x, as a layer's aspect is height over width:
    // fitting a layer compares the two.
    float aspect;
    float scale;             // inches per project unit
    float canvascolor[2][3]; // top and bottom
    float simcolor[2][3];    // simulation gradient upper and lower
    float woodcolor[2][3];   // wood grain primary and ring
    float colorcurve[2];
    uint32_t renderstyle;    // 0 colour gradient, else wood grain
    float rendersettings[19]; // the wood grain, by the render_* offsets below
    uint32_t cfgword;        // taken from the configuration on reset
    uint32_t viewwords[6];   // the viewport's and main window's; kept, stored
    float size[3];           // canvas width, height, depth in project units
    float originfrac[3];     // where the origin sits in the canvas, 0..1
    float zfill;             // value of an empty canvas
    int32_t ppi;
    project_layer layers[project_maxlayers];
    projtool tools[project_maxtools];
    projop ops[project_maxops];
    // The last operation applied to the simulation depth-map, -1 none:
    // reordering before it rebuilds the simulation from the start.
    int32_t simlastop = -1;

    std::atomic<int32_t> updatingcanvas; // canvas composition running
    std::atomic<int32_t> generating[2];  // layer generation running
};

extern project_record project;
extern int project_mutex; // mutex id; -1 until the project start creates it
extern int32_t project_selectedlayer; // selected slot, -1 none
extern int32_t project_layergroup;    // group new layers join, 0..9
// The raster-edit tool in use: -1 none, 0 toolbar, 1 area selection,
// 2 manual brush, 3 levels, 4 expand/contract, 5 draft angle, 6 column/row
// tiling, 7 circular tiling, 8 quantize. The raster editors set it; depth
// generation previews tools 3 to 8 on the selected layer.
extern int32_t project_rastertool;
// sys_seconds of the last change; main thread only: a job posts its change
// to project_jobchangetime, which the viewport takes over each frame.
extern std::atomic<float> project_changetime;
extern std::atomic<float> project_jobchangetime; // 0 when nothing is posted
// The automatic backup: 1 once the last change was examined for a backup;
// the sys_time of the last backup decision, 0 at start.
extern uint32_t project_backupdone;
extern float project_backuptime;
// 1 after a load, save or reset; 0 after any layer allocation or free and
// every applied change. The frame loop asks before unsaved work is dropped.
extern uint32_t project_saved;
extern uint32_t project_hasfile; // 1 when the project came from a named file
extern char project_filename[256]; // the open file's name without folders
// 1 from a save request until the save job ends. The save reads layers,
// tools and operations without a lock: whoever frees or replaces them waits
// for it (project_waitsave).
extern std::atomic<int32_t> project_savebusy;
extern std::atomic<int32_t> project_savingbackup; // the running save is the backup
// The canvas view's unit factor: 1 for inches, 25 for metric.
extern float project_viewunitfactor;
constexpr int project_brushbytes = 49164;
extern uint8_t *project_brush; // brush-stroke buffer of the raster editor
// Units' names of the window title: 0 none, 1 inches, 2 metric.
extern const char *const project_unitnames[3];

// The "project..." start: the project mutex (id 8 when the starts run in
// order), the surface shaders, an empty record, the brush buffer, the
// backup path, then a new project. 0 when the surface shaders do not load
// (reported) or the brush buffer cannot be had.
int project_init();
// The view's framing of the canvas (the viewport sets it at its start; null
// without a view), and the call a new or loaded project makes: mode 0 keeps
// the camera's angles when the configuration asks to keep the view, else 2.
extern void (*project_viewreset)(int mode);
void project_frameview();
// A new untitled project from the configuration (after any running save):
// its units, the default tools, the title and a canvas request.
void project_new();
// The units' name of the window title.
const char *project_unitname(uint32_t units);
// Units 1 inches or 2 metric: the grid step, the project's scale, and the
// configuration's default lengths converted when PROJUNITS held the other.
void project_setunits(uint32_t units);
// Starts the save job (after any running save, whose outcome it takes
// first) with a copy of path; backup 1 for the automatic backup. Nothing of
// the project changes until the job's outcome is taken. 0 when the previous
// save still runs or the job could not be queued.
int project_save(const char *path, int backup);
// The body of the job "saveproject": writes and reports, publishes the
// outcome for project_takesave and clears the save-busy flag whatever the
// outcome. A failed named save sets project_changetime to the current time
// unless a change has set it since the save was asked for.
void job_saveproject(void *path);
// The frame calls this every frame (main thread): takes a finished save's
// outcome. After a good named write, the title, project_filename,
// project.path and the configured project path name the file,
// project_hasfile is set, and the project is marked clean unless it
// changed while the save ran. After a failed one project_saved is cleared
// and the previous name and marks stay. A backup's outcome, or one of a
// project reset since, changes nothing.
void project_takesave();
// "Save Project": asks for a path (".kfm" added unless it ends so, in any
// case) and saves there; the path becomes the project's once written. 0
// when cancelled or not started.
int proj_saveas();
// 1 when path ends in ".kfm" in any case.
int project_haskfm(const char *path);

// Frees everything of the open project (layers, operations, tools' types,
// text objects, data fonts, toolpaths, the canvas) and sets up the default
// canvas from the configuration; 1. Waits first (project_workidle) for the
// work that reads or fills what it frees; 0, nothing changed, when some
// still runs then.
int project_reset();
// Waits at most project_savelimit seconds until no save runs; 1 when none
// does, 0 (logged) when one still runs or the program quits.
int project_waitsave();
constexpr double project_savelimit = 30.0;
// Waits at most project_worklimit seconds, with the frame mutex let go on
// the main thread, until no work reads or fills the project's tables: a
// toolpath generator, a step-image or simulation job, a layer generator, a
// canvas composition or a save. 1 when idle; 0 when some still runs (or the
// program quits), logged with caller and shown in the status line: "...busy:
// try again when the toolpath is calculated" for a generator. Whoever frees
// or replaces the project calls it first and keeps the project on 0.
int project_workidle(const char *caller);
extern double project_worklimit; // 5 s; tests shorten it
// Loads a project file (projectfile.cpp); with asproject 0 (the automatic
// backup) the file does not become the project's own. The file is staged
// and readied whole first; then the load waits, at most project_worklimit
// seconds and with the frame mutex (which the caller holds) released, for
// generators, step-image jobs, a composition, a save or a layer generator.
// 1 on success; on failure (logged, with a status) the open project is as
// it was: a damaged file, one that cannot be installed, or work still
// running at the limit ("...busy: try again when the toolpath is
// calculated" for a generator or a step-image job).
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
