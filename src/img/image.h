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

// The reference height image: a 0..1-clamped copy of the composed canvas,
// with the canvas size, the origin fractions, the origin in project units
// (fraction x size), the scale to inches and its square. The pointer is
// published after the geometry, so a reader that sees the image sees its
// geometry.
extern std::atomic<image *> img_refimage;
extern float img_refsize[3];
extern float img_reforiginfrac[3];
extern float img_reforigin[3];
extern float img_refscale;
extern float img_refscale2;

// Replaces the reference height image by a clamped copy of img (null only
// frees the old one).
void img_setrefimage(const image *img, const float *size, const float *origin, float scale);
