// What older versions of the project file stored differently, brought to
// today's meaning while a file is staged (projectmigrate.cpp). Each
// function takes the file's version from the staging record or its
// argument; the current version passes through unchanged.
#pragma once
#include "cam/toolpath.h"

#include <cstdint>
#include <vector>

struct msg_stream;
struct pf_staged;
struct pf_op;

// The values of the header blocks an older version lacks, as the program
// used them then.
void pf_defaultheader(pf_staged &st);
// Version 31's simulation colours the other way round; wood grain that
// older versions kept in the simulation colours. hadwood: the file holds
// the wood-grain block.
void pf_migratelooks(pf_staged &st, bool hadwood);
// After the header: paths-layers' groups before 34 and every operation's
// values (pf_migrateop).
void pf_migrateheader(pf_staged &st);
void pf_migrateop(pf_op &o, const pf_staged &st);
// The image chunk of rasters in a version's body, and its path form.
int pf_rasterkind(int32_t version);
int pf_pathform(int32_t version);
// A text object's point size: a size step before version 35. False when
// the step is out of range (logged).
bool pf_readptsize(msg_stream *m, int32_t version, float *ptsize);
// A toolpath's sorted entries and cut paths in the version's strides.
bool pf_readsorted(msg_stream *m, int32_t version, int32_t count, std::vector<toolpath_sorted> &out);
bool pf_readpaths(msg_stream *m, int32_t version, int32_t count, std::vector<toolpath_path> &out);
// Toolpaths were kept from the canvas corner before version 42.
void pf_shifttoolpath(const pf_staged &st, std::vector<float> &verts);
// The zlib body of versions 19, 36 and 37: inflates to exactly n bytes.
bool pf_zlibversion(int32_t version);
bool pf_inflate(uint8_t *out, int32_t n, const uint8_t *code, int32_t codesize);
// Versions 1 to 11: the single raster that becomes layer 0.
bool pf_readsingle(msg_stream *m, pf_staged &st);
