// Text objects: 64 strings, each set in one system font at one size, whose
// images are rendered on a worker by the job "updatetext" through the font
// cache. Every change marks the object busy and queues the job; the owner
// polls for the image or waits for it in 50 ms steps.
#pragma once
#include <cstdint>

struct image;

constexpr int text_maxobjects = 64;
constexpr int text_maxchars = 1024; // bytes of the string, terminator included

// One text object; the record is stored whole in project files. busy and
// updated are handed between threads: the job stores the image, then clears
// busy, and the owner reads the image only while busy is 0.
struct text_object {
    char text[text_maxchars];
    uint32_t hash;
    int32_t font;      // font record (sys_fontlist); -1 marks a free slot
    float ptsize;      // point size chosen by the user
    int32_t drawsize;  // pixel size the font is set to (text_drawsize)
    float spacing;     // extra spacing handed to the renderer
    uint32_t busy;     // 1 from a render request until its image is stored
    uint32_t updated;  // 1 once the job stored a new image; cleared by a request
    image *img;        // the rendered image (3 bytes per pixel), or null
    int32_t texture;   // texture slot the owner made from the image, -1 none
};
static_assert(sizeof(text_object) == 1072, "text objects are 1072-byte records");

extern text_object *text_objects; // text_maxobjects records; null before start-up

// Start-up: the table, every slot free (font -1) and without texture. 0 when
// it cannot be allocated.
int text_init();
// The "text..." shutdown: frees the images left and the table.
void text_quit();

// h = 16777619, then for each byte (sign-extended) h = h x 16777619 xor c.
uint32_t text_hash(const char *text);
// Integer part of (0.5 x point size)^2 x resolution x 0.01, in single
// precision.
int32_t text_drawsize(float ptsize, float resolution);

// A new text object in the font at an alphabetical position; its first
// render is queued. The slot, or -1 (full table, bad font or size).
int text_alloc(int position, float ptsize, float spacing, float resolution, const char *text);
// Requests a render after the owner changed the object (text and hash set):
// busy 1, updated 0, job "updatetext". A refused job leaves it not busy.
void text_queueupdate(int slot);
// The object's image once it is not busy (a missing image is requested);
// with wait, waits in 50 ms steps for a running render. Null while busy,
// without an image, or when the program quits during the wait.
image *text_getimage(int slot, int wait);
// Sets a new point size and its draw size and queues a render: 1, or 0 when
// neither size changes. Waits first for a running render.
int text_setptsize(int slot, float ptsize, float resolution);
// The owner's release: deletes the texture, frees the image, frees the slot
// and gives back the font's use. Waits first for a running render.
void text_release(int slot);

// Body of the job "updatetext"; the argument is the slot.
void job_updatetext(void *slot);
