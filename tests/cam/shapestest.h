// Test helper for the generators' paths inputs: shapes drawn by shapely
// (tests/cam/shapes_shapely.py) on a unit canvas, laid into a paths-layer of
// straight segments, and the script's answers on offsets and carved pixels.
#pragma once
#include "geom/path.h"
#include "project/layer.h"
#include "project/project.h"
#include "testchild.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

// The script's answer lines to a JSON list of requests; empty when it failed.
inline std::vector<std::string> shapes_ask(const std::string &requests)
{
    return testchild_ask("cam/shapes_shapely.py", requests);
}

// The numbers of an answer line after its leading word.
inline std::vector<double> shapes_numbers(const std::string &line)
{
    std::istringstream s(line);
    std::string word;
    s >> word;
    std::vector<double> v;
    for (double x; s >> x;)
        v.push_back(x);
    return v;
}

// The rings of a named shape, x y pairs, first point repeated.
inline std::vector<std::vector<double>> shapes_rings(const std::string &name)
{
    std::vector<std::vector<double>> rings;
    for (const std::string &line : shapes_ask("[{\"op\":\"shape\",\"name\":\"" + name + "\"}]"))
        if (line.rfind("ring ", 0) == 0)
            rings.push_back(shapes_numbers(line));
    return rings;
}

// A paths-layer over the unit canvas (origin at its corner) holding the
// rings as closed curves of straight segments, in layer group group.
inline int shapes_pathslayer(const std::vector<std::vector<double>> &rings, uint32_t uid, int group)
{
    int slot = project_layeralloc(layer_paths);
    if (slot < 0)
        return -1;
    project_layer &l = project.layers[slot];
    l.pos[0] = l.pos[1] = 0.5f;
    l.pos[2] = 0.0f;
    l.size[0] = l.size[1] = l.size[2] = 1.0f;
    l.rotation = 0.0f;
    l.uid = uid;
    l.groups = 1u << group;
    l.data.pth = path_new();
    for (const std::vector<double> &r : rings) {
        int c = path_newcurve(l.data.pth);
        for (size_t i = 0; i + 1 < r.size(); i += 2) {
            const float p[3] = {(float)r[i] - 0.5f, (float)r[i + 1] - 0.5f, 0.0f};
            path_prependknot(l.data.pth, c, p);
        }
        l.data.pth->curves[c].closed = 1;
    }
    return slot;
}

// The operation word that names a paths-layer uid or a layer group.
inline float shapes_word(uint32_t v)
{
    float f;
    std::memcpy(&f, &v, sizeof(f));
    return f;
}
