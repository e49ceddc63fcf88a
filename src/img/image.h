// The image table: 256 slots of rasters and scalar fields, handed around as
// pointers to their record (null for none). Besides allocation and release
// it holds the small operations every image operation builds on (copy,
// clamp, crop, flip), the naming rule for derived images and the reference
// height image that the CAM generators work from.
#pragma once
#include <atomic>
#include <cstdint>

constexpr int img_maxslots = 256;
constexpr int img_maxname = 256; // name bytes, terminator included

// One raster. A scalar field is an image of 4 bytes per pixel, one float each.
struct image {
    char name[img_maxname]; // at most 255 characters
    int32_t width;
    int32_t height;
    int32_t bytesperpixel;
    uint8_t *pixels;  // rows packed one after another; null while the slot is free
};

extern image img_images[img_maxslots];
extern int img_count; // images alive, for the allocator's failure report
extern int img_mutex; // mutex id; -1 until the image start creates it

// The image start: the table emptied of records (a live image, which only
// a test can leave behind, is kept) and the image mutex created.
void img_init();

// Derived images are named "<source>.<suffix>"; img_namecnv also carries the
// kernel's name: "<source>.cnv[<kernel>]".
enum img_namekind {
    img_namedr,   // img_croprect, img_novelrect
    img_nameflp,  // img_flip
    img_namescl,  // img_scalarize
    img_namec8,   // img_colorize
    img_namec24,  // img_colorize24
    img_namednc,  // img_rescalecolor, shrinking
    img_nameups,  // img_rescalescalar, enlarging
    img_namedns,  // img_rescalescalar, shrinking
    img_nameupv,  // img_rescalevector, enlarging
    img_namednv,  // img_rescalevector, shrinking
    img_namenm,   // img_scalarnormals
    img_namevd,   // img_vecdisplace
    img_namerpcl, // img_scalartilecircular
    img_namerp2d, // img_scalartile2d
    img_namesmth, // img_scalardistsmooth
    img_nameath,  // img_scalarath
    img_namemodb, // img_scalarautolevel, img_scalarclamp
    img_nameqnt,  // img_scalarquantize
    img_namefxa,  // img_scalarfxaa
    img_namecnv,  // img_scalarconvo
    img_namekinds
};

// Writes the derived name into out (img_maxname bytes), cut at 255
// characters; returns the length of the whole name.
int img_derivedname(char *out, const image *source, img_namekind kind, const char *kernel = nullptr);

// A zeroed image of width x height x bytes per pixel, filled from source when
// one is given. Null when the size is out of range, the table is full or
// memory runs out; each is logged.
image *img_alloc(const char *name, int width, int height, int bytesperpixel, const void *source = nullptr);
image *img_allocfloat(const char *name, int width, int height);
// img_alloc named after source by the derived-name rule.
image *img_allocderived(const image *source, img_namekind kind, int width, int height, int bytesperpixel);
image *img_copy(const image *source);
// Frees the buffer; a null image or an already free one is ignored.
void img_free(image *img);
// True for a live image of 4 bytes per pixel; otherwise logs "<caller>: ..." .
bool img_isscalar(const image *img, const char *caller);

// Clamps count floats in place to 0..1; NaN becomes 0.
void img_clampunit(int count, float *values);
// Cropped copy "%s.dr" of the rectangle x0, y0, x1, y1 given in fractions of
// the image's size; the rectangle is clipped to the image.
image *img_croprect(const image *img, const float *rect);
// Cropped copy "%s.dr" of the bounding rectangle of the scalar pixels above
// threshold; the rectangle goes to rect as x0, y0, x1, y1 (ends exclusive).
// Null, rect untouched, when no pixel qualifies.
image *img_novelrect(const image *img, float threshold, int *rect);
image *img_flip(const image *img, int horizontal, int vertical);

// The reference heightfield the CAM generators work from: a 0..1-clamped
// copy of a composed canvas, its geometry (canvas size, origin fractions,
// origin in project units = fraction x size, inches per project unit), and
// the layer group and time it was composed for. A generator run holds the
// reference it works from (img_holdref) until its end; an install replaces
// the current reference at once, and a replaced one that a run still holds
// is freed by the run's release. The data are never written after install.
struct img_reference {
    image *img;
    float size[3];
    float originfrac[3];
    float origin[3];
    float scale;
    int32_t group;   // the layer group composed
    double composed; // sys_seconds when the composition began reading the layers
    int32_t holds;   // runs holding it; under the image mutex
    bool retired;    // replaced while held: the last release frees it
};

// The current reference's image and geometry, for the main thread, which
// alone replaces them; a worker reads the reference it holds instead.
extern std::atomic<image *> img_refimage;
extern float img_refsize[3];
extern float img_reforiginfrac[3];
extern float img_reforigin[3];
// Read by the generators' helpers during a run: an install writes them only
// when the scale changes (a units switch), never the same value under a run.
extern float img_refscale;
extern float img_refscale2;

// Replaces the reference by a clamped copy of img composed for group at
// time composed (null only retires the old one). The old reference is freed
// now unless a run holds it.
void img_setrefimage(const image *img, const float *size, const float *origin, float scale, int32_t group,
                     double composed);
// A hold on the current reference when it was composed for group no
// earlier than after; null when there is none such (an older composition,
// another group's, or none).
const img_reference *img_holdref(int32_t group, double after);
// Gives a hold back; null is ignored.
void img_releaseref(const img_reference *ref);
