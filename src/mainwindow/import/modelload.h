// Mesh import: binary and ASCII STL and Wavefront OBJ files read into a new
// slot of the model table (geom/model.h), for the Add Layer dialog's model
// loader. The file is read whole; the parsers work on the bytes in memory,
// so fuzzers and tests can feed them directly.
#pragma once
#include <cstdint>

// Capacities a loaded model starts with, so typical meshes never grow.
constexpr uint32_t model_loadcapacity = 1048576;

// Loads a ".stl" or ".obj" file (extension compared without case) into a
// new current model; the slot, or -1 (logged; the table as it was).
int model_load(const char *file);
// The same for a file's bytes already in memory: text[size] must be a zero
// byte. name supplies the extension and the log's file name.
int model_loadbuffer(const char *name, const char *text, int32_t size);
