// Staging a project file: every record the file holds, read and checked
// before the open project is touched (projectread.cpp), with the helpers
// the version migrations share with the reader.
#pragma once
#include "cam/toolpath.h"
#include "project/project.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct image;
struct msg_stream;

struct pf_tool {
    char name[project_maxname];
    int32_t type, units, flutes;
    float length, flutelength, flutediameter, aux, rampangle;
};

struct pf_op {
    char name[project_maxname];
    int32_t type; // -1: the entry has no operation
    int32_t tool, feed, speed, dir, toolpath, engagefeed, entry, coolant, group;
    float step, z_doc, z_max, z_min, z_safe, aux[3], stock;
    uint32_t include, show, flags;
    image *simulation;
};

struct pf_font {
    std::string name;
    std::vector<uint8_t> bytes;
    // Made by pf_prepare, handed to the font record and its cache entry.
    char *record = nullptr;
    uint8_t *block = nullptr;
};

struct pf_text {
    int32_t slot, font;
    float ptsize, spacing;
    std::string text;
};

struct pf_toolpath {
    int32_t slot;
    std::vector<toolpath_sorted> sorted;
    std::vector<toolpath_path> paths;
    std::vector<float> verts;
};

// Everything a file holds, read and checked before the open project is
// touched. Owned images, paths and mesh slots are released unless handed
// to the project (their pointers cleared as they go).
struct pf_staged {
    int32_t version = 0;
    float size[3], originfrac[3];
    uint32_t viewwords[6], cfgword, units;
    int32_t ppi;
    float zfill;
    float canvascolor[2][3], simcolor[2][3], woodcolor[2][3], colorcurve[2];
    int32_t layergroup;
    uint32_t renderstyle;
    float rendersettings[19];
    uint32_t haslooks = 0, haswood = 0, simdefault = 0; // blocks 17 and 21, or their stand-ins
    int32_t invert = 0, autolevel = 0, detail = 0;     // the single raster of versions 1 to 11
    uint32_t single = 0;
    pf_tool tools[project_maxtools];
    pf_op ops[project_maxops];
    project_layer layers[project_maxlayers];
    std::vector<pf_font> fonts;
    std::vector<pf_text> texts;
    std::vector<pf_toolpath> toolpaths;
    // The slots' records built from toolpaths by pf_prepare (the last record
    // of a slot wins); empty where the file has none.
    toolpath slots[toolpath_maxslots] = {};

    pf_staged()
    {
        memset(layers, 0, sizeof(layers));
        memset(ops, 0, sizeof(ops));
    }
    // Releases whatever was not handed to the project.
    ~pf_staged();
};

// Logs "project_load: <what> <value> refused"; false.
bool pf_refuse(const char *what, int value);
void pf_readfloats(msg_stream *m, float *v, int n);
// Bytes left to read; 0 once the stream has failed.
int64_t pf_left(const msg_stream *m);
// Reads and checks the whole file of st.version (already checked against
// the program's) into st. False (logged) when the file is damaged or cut.
bool pf_stage(const uint8_t *file, int32_t size, pf_staged &st);
