// Test helper for the simulation and export tests: a canvas box with its
// reference heightfield and simulation size, toolpath slots built by hand
// from polylines, and operation record 0 and project entry 0 pointing at
// them. Simulation images and slots a test leaves behind are freed.
#pragma once
#include "cam/simulate.h"
#include "gentest.h"
#include "project/canvas.h"
#include "sys/mem.h"

#include <array>
#include <vector>

// A cut path of a hand-built slot.
struct sim_poly {
    std::vector<std::array<float, 3>> v;
    int dir = 1;       // +1 forward, -1 reverse
    uint8_t flags = 0; // PATH_LINK, PATH_CLOSED
};

class SimTest : public GenTest {
protected:
    using vert = std::array<float, 3>;
    using poly = sim_poly;

    void SetUp() override
    {
        GenTest::SetUp();
        // Jobs of these tests allocate at once, as they do on the workers.
        if (sys_memmutex < 0)
            sys_memmutex = sys_createmutex();
        sim_state.op = -1, sim_state.fraction = 0.0, sim_state.playback = 0, sim_state.remaining = 0.0;
        sim_state.path = 0, sim_state.move = 0, sim_state.position = 0.0;
        cam_settool(1, "flat 1/16", tool_cylinder, 1, 2, 0.0625f, 1.0f, 0.0f, 1.5f, 20.0f);
        const float size[3] = {4, 4, 1}, frac[3] = {0, 0, 0};
        usebox(size, frac, 64, 64);
    }
    void TearDown() override
    {
        img_free(project_canvas.simulation);
        project_canvas.simulation = nullptr;
        for (projop &e : project.ops) {
            if (e.simulation != e.steps[3].img)
                img_free(e.simulation);
            for (projsimstep &s : e.steps)
                img_free(s.img);
            static_cast<projopfields &>(e) = projopfields{};
            e.simbusy = 0;
        }
        cam_ops[0].toolpath = -1;
        cam_ops[0].generating = 0;
        GenTest::TearDown();
    }
    // A canvas of size with the origin at frac, w x h pixels, flat at its top;
    // the simulation map takes the canvas's pixel size.
    void usebox(const float size[3], const float frac[3], int w, int h)
    {
        setcanvas(std::vector<float>((size_t)w * h, 1.0f), w, h, size, frac);
        for (int i = 0; i < 3; i++) {
            project.size[i] = size[i];
            project.originfrac[i] = frac[i];
            project.originoffset[i] = -frac[i] * size[i];
        }
        project.aspect = size[1] / size[0];
        sim_width = w, sim_height = h;
    }
    // A slot holding the polylines in the given order, sorted as listed.
    static int makeslot(const std::vector<poly> &polys)
    {
        const int slot = toolpath_new();
        if (slot < 0)
            return -1;
        for (const poly &p : polys) {
            std::vector<float> flat;
            for (const vert &v : p.v)
                flat.insert(flat.end(), v.begin(), v.end());
            const int idx = toolpath_appendverts(slot, p.flags, (int)p.v.size(), flat.data(), 0, p.dir);
            toolpath_pushsorted(slot, (uint32_t)idx, p.dir);
        }
        return slot;
    }
    // Operation record 0 on tool 1 with the slot, idle.
    static void useslot(int slot)
    {
        cam_ops[0].toolpath = slot;
        cam_ops[0].tool = 1;
        cam_ops[0].generating = 0;
    }
    static float pixel(const image *img, int x, int y)
    {
        return ((const float *)img->pixels)[(size_t)y * img->width + x];
    }
    // Pixel of world point (x, y) in the canvas box.
    static std::array<int, 2> pixelof(float x, float y)
    {
        float size[3], origin[3];
        sim_canvasbox(size, origin);
        return {(int)((x - origin[0]) / size[0] * sim_width), (int)((y - origin[1]) / size[1] * sim_height)};
    }
};
