// The content library as far as start-up prepares it: the category and tag
// names that index an entry's flags, the filter's tag selection, the 64
// preview-cache records and the per-user cache folder. Also what opening its
// two dialogs sets up: the index download with the list state it resets, and
// the Upload Layer record with its preview job.
#pragma once
#include <atomic>
#include <cstdint>

struct image;

constexpr int conlib_cacherecords = 64;

// One cached preview of a library entry.
struct conlib_cacherecord {
    int32_t entry;       // index entry shown, -1 none
    int32_t textures[2]; // preview and content textures, -1 none
    int32_t sizes[4];
    char *name;
    char *description;
    int64_t lastframe; // frame the dialog last showed the record
    int32_t status;
};

extern const char *const conlib_categories[]; // ends with a null entry
extern const char *const conlib_tags[];       // ends with a null entry
extern conlib_cacherecord conlib_cache[conlib_cacherecords];
extern int32_t conlib_categorycount;
extern int32_t conlib_tagcount;
extern uint32_t conlib_tagselection; // bit i selects tag i
extern char conlib_path[512];        // the cache folder

// The start: empty cache records, the names counted, every tag selected, and
// the cache folder formed, logged and created (an existing one is kept). 0
// (logged) when the folder cannot be made.
int conlib_init();

constexpr int32_t conlib_indexid = 4;         // request ID of the index download
constexpr double conlib_indexmaxage = 300.0;  // seconds an index is shown before it is fetched again
constexpr int conlib_uploadnamemax = 39;      // characters of a layer name taken as the upload name

// The library list: the index held and when it arrived, the list counters
// and selection the browser works from, and the download that fetches the
// index (-1 when none was started or it has been handed over).
struct conlib_listrecord {
    uint8_t *index; // sys_malloc copy of the index, null none
    int32_t indexsize;
    double indextime; // sys_time of its arrival
    int32_t shown, count, pages;
    int32_t selection; // -1 none
    int32_t slot;
};
extern conlib_listrecord conlib_list;

// The Upload Layer dialog's record, filled when the dialog opens.
struct conlib_layuprecord {
    int32_t layer; // -1 none
    char name[512];
    char description[1024];
    uint32_t flags; // bit 0: a paths-layer
    image *preview;
    int32_t previewtexture; // -1 none
    // 1 while the preview job runs; the job stores -1 with release when it
    // has finished with its argument.
    std::atomic<int32_t> previewjob;
};
extern conlib_layuprecord conlib_layup;

// Opening "Content Library": an index younger than conlib_indexmaxage is kept;
// otherwise, unless its download still runs, the list is reset and the index
// fetched again.
void conlib_openlibrary();
// Opening "Upload Layer" for the layer slot: 1 when the layer is a raster- or
// paths-layer and the record is filled and its preview job queued; 0 (logged)
// otherwise.
int conlib_openupload(int32_t layer);
// The index download's completion (request conlib_indexid), main thread.
void conlib_takeindex(int32_t size, const uint8_t *buffer);
// The calls the set-ups make, replaceable by tests: the paths-layer's
// polylines and the job body.
extern struct contour *(*conlib_topolys)(int layer, float tolerance, int closedonly, int selectedonly,
                                         int applyrotation);
extern void (*conlib_previewjob)(void *polylines);
// Job "layuppreview": renders the upload preview from the layer's polylines
// (a contour, or null for a raster-layer), which it frees.
void job_genlayuppreview(void *polylines);
// Shutdown: frees the index and the preview.
void conlib_quit();
