// Raster-layers from paths: the shared request record of the layer
// generators, the "Shapes From Paths" / "Stroke Paths" command that fills it
// on the main thread, and the job "genraster" that builds the relief image on
// a worker. The viewport installs a finished request as a new raster-layer.
#pragma once
#include <atomic>
#include <cstdint>

struct contour;
struct image;

// The one request of the layer generators. Whoever starts a generator fills
// it whole before queuing the job; the job may update the Z fields and
// leaves its image in result.
struct layer_genrequestrecord {
    float starttime;      // sys_seconds when the request was made
    int32_t layer;        // source layer slot
    contour *polylines;   // world polylines, owned and freed by the job
    float centre[2];      // of the new layer, project units
    float zorigin;        // bottom of the shapes above the canvas bottom
    float size[3];        // extent of the new layer; z its height range
    float tilt[2];        // degrees
    float rotation;       // degrees
    int32_t width, height; // pixels of the image to build
    float samples;        // con_fill subsamples per pixel side
    float chamfer;        // degrees from horizontal
    int32_t exterior;     // 1: shapes from the area outside the paths
    int32_t blend;
    image *result;        // null until the job succeeds
};
extern layer_genrequestrecord layer_genrequest;
// 0 while no layer generator runs; 1..5 the shape of a running "genraster";
// 6 every other layer generator. Back to 0 when a job ends without a result
// or the viewport has installed one.
extern std::atomic<int32_t> layer_genkind;
// 1 once a job has left its result in the request (published last).
extern std::atomic<int32_t> layer_gendone;

// Settings of the two dialogs: "Super Quality", the rounded-corners flag of
// the distance field (0 while "Crease Inside-Corners" is on), "Shape
// Exterior", and the stroke's width, value (height as a share of the
// paths-layer's Z size), centre flat and the profile's two radii.
struct layer_genrastersettings {
    int32_t super;
    int32_t smooth;
    int32_t exterior;
    float brushsize;
    float brushvalue;
    float brushprofile;
    float brushinnerradius;
    float brushouterradius;
};
extern layer_genrastersettings layer_gensettings;

enum layer_genshape {
    genshape_flat = 1,
    genshape_chamfer,
    genshape_fillet,
    genshape_rounded,
    genshape_stroke,
};

// The command: polylines of the selected paths-layer (closed ones only for
// shapes 1 to 4), the new layer's place and pixel size, the request filled
// and "genraster" queued. Reports a missing selection, no usable paths and
// a refused job; a wrong layer type does nothing.
void project_genrasterpathslayer(int shape, float chamfer, float zorigin, float zsize);
// Body of the job "genraster": builds the shape of layer_genkind from the
// request; the argument is not used.
void job_genrasterlayer(void *unused);
