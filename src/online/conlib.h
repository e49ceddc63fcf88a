// The content library as far as start-up prepares it: the category and tag
// names that index an entry's flags, the filter's tag selection, the 64
// preview-cache records and the per-user cache folder.
#pragma once
#include <cstdint>

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
