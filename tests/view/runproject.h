// Test helper for the real runs of the view: a fresh inch project of the
// given canvas size and resolution, its origin at the canvas's lower left
// and top, written next by the test's own layers.
#pragma once
#include "project/layer.h"
#include "project/project.h"
#include "sys/config.h"

#include <cstring>

inline void runproject_start(const float size[3], int ppi)
{
    memcpy(cfg, cfg_defaults, cfg_size);
    project_reset();
    memcpy(project.size, size, 3 * sizeof(float));
    const float frac[3] = {0.0f, 0.0f, 1.0f};
    memcpy(project.originfrac, frac, sizeof(frac));
    project.units = 1;
    project.scale = 1.0f;
    project.ppi = ppi;
    project_layergroup = 0;
}
