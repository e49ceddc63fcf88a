// "Export Triangle Mesh": the canvas heightfield meshed adaptively and
// written as a binary STL or a Wavefront OBJ file in project units. The
// export dialog sets export_path, copies the heightfield into a scalar image
// and queues the job "savecanvasmesh" with trimesh_generate as its body; the
// job owns the image and frees it however it ends.
#pragma once
#include <atomic>
#include <cstdint>

struct image;
struct msg_stream;

// 1 while "savecanvasmesh" runs; the viewport reads it (acquire).
extern std::atomic<int32_t> mesh_exporting;

// Job body: meshes img (an image *) and writes it to export_path. Reports
// through the log, the status line and the error report.
void trimesh_generate(void *img);
// Meshes img with the triangulator at the export's error threshold and puts
// the mesh, mapped into project coordinates by the project's canvas size and
// origin, into a new model slot; the slot, or -1 (logged).
int model_fromimage(const image *img);
// Writes model slot into a new file at path, STL or OBJ by the path's last
// three characters in any case; the bytes written, 0 (logged) on failure.
// The file is written beside the target and renamed over it, so a failure
// leaves no partial file.
int64_t model_save(int slot, const char *path);
