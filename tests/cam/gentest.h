// Test helper for the generator tests: a CAM mutex, a reference heightfield
// made in the test, tools and an operation record with sane values, and a
// run of a generator on a thread of its own (as on a worker, so its notice
// is left pending) with a bounded wait. Slots, images and notices a test
// leaves behind are cleared in TearDown.
#pragma once
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "img/image.h"
#include "project/project.h"
#include "sys/log.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

class GenTest : public testing::Test {
protected:
    camop op{};
    testlog_capture quiet; // the run's lines go to a file, not the console

    void SetUp() override
    {
        if (cam_mutex < 0)
            cam_mutex = sys_createmutex();
        if (img_mutex < 0)
            img_mutex = sys_createmutex();
        project.units = 1;
        project.scale = 1.0f;
        cam_settooldefaults();
        sys_notice n;
        while (sys_takenotice(&n)) {
        }
        cam_maxdot = 1.0f; // nothing thinned: every sample of a clipped line stays
        cam_minlen = 0.0f;
        cam_maxlen = 0.0f;
        cam_restsurface = nullptr;
        // As the operation editor sets it from the tool's ramp angle (20 degrees).
        engage_slope = 0.36397023f;
        resetop();
    }
    void TearDown() override
    {
        const float none[3] = {1, 1, 1};
        img_setrefimage(nullptr, none, none, 1.0f, 0, 0.0);
        cont_free(op.cont);
        op.cont = nullptr;
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }

    // An operation on tool 1 with feeds, depths and a safe height that pass
    // the frame's checks.
    void resetop()
    {
        cont_free(op.cont);
        op.type = 1;
        op.coolant = 1;
        op.tool = 1;
        op.engagefeed = 20;
        op.feed = 60;
        op.speed = 12000;
        op.dir = 0;
        op.entry = 0;
        op.stock = 0.0f;
        op.step = 0.05f;
        op.z_doc = 1.0f;
        op.z_max = 0.25f;
        op.z_min = 0.0f;
        op.z_safe = 0.1f;
        op.aux[0] = op.aux[1] = op.aux[2] = 0.0f;
        op.flags = 0;
        op.group = 0;
        op.applied = 0.0;
        op.generating = 0;
        op.progress = 0.0f;
        op.time = 0.0f;
        op.cont = nullptr;
        op.model = -1;
        op.toolpath = -1;
        op.eta = 0.0f;
    }

    // Installs field (w x h, row 0 at the canvas's largest y) as the reference
    // heightfield of a canvas of the given size whose origin sits at the
    // given fractions; scale is inches per project unit.
    static void setcanvas(const std::vector<float> &field, int w, int h, const float size[3],
                          const float frac[3], float scale = 1.0f)
    {
        image *img = img_allocfloat("testcanvas", w, h);
        ASSERT_NE(img, nullptr);
        memcpy(img->pixels, field.data(), field.size() * sizeof(float));
        img_setrefimage(img, size, frac, scale, 0, sys_seconds());
        img_free(img);
    }

    // Takes and gives back the CAM mutex on another thread within 5 s.
    static bool mutexfree()
    {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread t([done] {
            sys_lockmutex(cam_mutex);
            sys_unlockmutex(cam_mutex);
            done->store(true);
        });
        for (int i = 0; i < 500 && !done->load(); i++)
            SDL_Delay(10);
        if (!done->load()) {
            t.detach();
            return false;
        }
        t.join();
        return true;
    }
    // Runs the generator of op's type on a thread of its own and waits at most
    // seconds for it to clear generating; true when it did.
    bool rungenerator(camop_generator gen = nullptr, double seconds = 60.0)
    {
        op.generating = 1;
        op.time = (float)sys_seconds();
        camop_generator fn = gen ? gen : camop_table[op.type].generator;
        std::thread worker(fn, (void *)&op);
        bool done = waitidle(seconds);
        if (done)
            worker.join();
        else
            worker.detach(); // the test fails; never block the suite on it
        return done;
    }
    bool waitidle(double seconds)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (op.generating.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            SDL_Delay(5);
        }
        return true;
    }
    // The captions of the notices left pending since SetUp.
    static std::vector<std::string> notices()
    {
        std::vector<std::string> out;
        sys_notice n;
        while (sys_takenotice(&n))
            out.push_back(n.caption);
        return out;
    }
};
