// Font cache: 256 entries that keep a font open for the text renderer and
// the font lists (the file's bytes, a FreeType face at the entry's draw size,
// an "Aa" icon texture), filled by worker jobs after a claim under the
// font-cache mutex. Fonts stored in a project (data fonts) share the cache.
// Also the character map's request, its 96 glyph textures and their job.
#pragma once
#include <atomic>
#include <cstdint>

struct image;

constexpr int font_cacheentries = 256;
constexpr int font_claimsize = 48; // draw size of a freshly claimed entry
constexpr int font_charmapfirst = 32;
constexpr int font_charmapcount = 96; // character codes 32 to 127
constexpr int font_noglyph = -2;      // charmap texture of a character without a glyph

// Entry flags.
constexpr uint32_t font_cached = 1;   // face open and icon made
constexpr uint32_t font_busy = 2;     // being filled by a job
constexpr uint32_t font_datafont = 4; // held by the open project

// One cache entry. id, font and flags change across threads: read them
// through font_entry / font_flags. data and sysfont change only under the
// sysfont mutex, so whoever holds it may use them.
struct font_cacherecord {
    int32_t id;         // id of the claim; the entry of an id is id % 256; -1 free
    int32_t font;       // font record owning the entry, -1 none
    uint32_t flags;
    int32_t sysfont;    // system-font slot of the open face, -1 none
    int32_t icon;       // texture slot of the "Aa" icon, -1 none
    int32_t iconwidth;
    int32_t iconheight;
    const char *name;   // the font record's display name
    uint8_t *data;      // the font file's bytes, owned by the entry
    int32_t size;       // bytes in data
    int32_t drawsize;   // pixel size the face is opened at
    int64_t lastframe;  // frame the interface last drew the entry, -1 never
};
static_assert(sizeof(font_cacherecord) == 64, "cache entries are 64-byte records");

// The character map: the dialog fills font (an alphabetical position) and
// size, sets generating and queues "gencharmap"; the job clears generating
// once textures and aspects hold their results.
struct font_charmaprequest {
    int32_t font;
    float size;
    std::atomic<int32_t> generating;
    int32_t textures[font_charmapcount]; // texture slots; font_noglyph for none
    float aspects[font_charmapcount];    // height / width
};

extern font_cacherecord font_cacheslot[font_cacheentries];
extern int32_t font_cachecursor;  // next claim id; changed under the font-cache mutex
extern int32_t font_systemcount;  // records of system fonts; data fonts follow them
extern font_charmaprequest font_charmap;

// Start-up: every entry free, the cursor at 0.
void font_initcache();
// The "text..." shutdown: closes the entries' faces, frees their data and
// deletes their icon textures (main thread, its context current).
void font_quitcache();

// Claims an entry for a font record by the claim rule: from the cursor, up
// to 256 ids are tried (the cursor moves on by one each try); the entry of an
// id is taken when it was not drawn in the current frame, is neither busy
// nor a data font, and has no font or one no text object uses. The entry
// becomes busy at draw size 48 and the record takes the id. With data, the
// entry becomes a data font and takes ownership of the bytes (the caller
// keeps them when no entry is free). The entry index, or -1 when none is
// claimable. The caller then fills the entry with job_cachesystemfont or
// job_cachedatafont.
int font_claimentry(int font, uint8_t *data = nullptr, int32_t size = 0);
// The entry currently serving a font record (its id is the record's cache
// id and it names the record), or -1.
int font_entry(int font);
uint32_t font_flags(int entry);
// 1 when the record's entry serves it and is cached.
int font_iscached(int font);

// Job bodies; the argument is the font record index.
void job_cachesystemfont(void *font);
void job_cachedatafont(void *font);
// Finishes an entry whose face is open: names the record and renders the
// icon under the sysfont mutex, then, with that released, takes the render
// locks, uploads the icon and marks the entry cached. The caller holds no
// lock.
void font_cacheentry(int font);

// Releases every data font (project closed or replaced) and drops their
// records.
void font_freedata();

// Renders a formatted text with the cached font at an alphabetical position,
// at pixel size trunc((0.5 x size)^2), into a new "txtimg" image with a
// one-pixel border of zeros. Null while the font is not cached.
image *fontdraw_cache(int position, int size, float spacing, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// A width + 2 by height + 2 RGB image "txtimg" holding the pixels (or
// zeros without them) one pixel in from the top-left corner; null when the
// size is refused.
image *font_framedimage(const uint8_t *rgb, int width, int height);

// Body of the job "gencharmap".
void job_gencharmap(void *unused);
