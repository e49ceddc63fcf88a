// The mesh start: the zeroed preview-mesh array with its size in the debug
// log, the light directions made unit length without turning, and the
// shutdown returning the memory, also after a second start.
#include "geom/mesh.h"

#include "sys/config.h"
#include "sys/mem.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Mesh, StartAllocatesTheZeroedArrayAndUnitLights)
{
    const float key[3] = {mesh_keylight[0], mesh_keylight[1], mesh_keylight[2]};
    const float fill[3] = {mesh_filllight[0], mesh_filllight[1], mesh_filllight[2]};
    const uint64_t before = sys_memused();
    const int debug = cfg_geti(cfg_debuginfo);
    cfg_seti(cfg_debuginfo, 1);
    {
        testlog_capture log;
        ASSERT_EQ(mesh_init(), 1);
        EXPECT_TRUE(log.contains(">> mesh_init: allocated 60.84KB meshes array")) << log.text();
    }
    cfg_seti(cfg_debuginfo, debug);
    ASSERT_NE(cam_previewmeshes, nullptr);
    EXPECT_EQ(sys_memused() - before, (uint64_t)mesh_previewbytes);
    int nonzero = 0;
    for (int i = 0; i < mesh_previewbytes; i++)
        nonzero += cam_previewmeshes[i] != 0;
    EXPECT_EQ(nonzero, 0);

    struct Case {
        const float *was;
        const float *now;
    };
    const Case cases[] = {{key, mesh_keylight}, {fill, mesh_filllight}};
    for (const Case &c : cases) {
        const float len = std::sqrt(c.was[0] * c.was[0] + c.was[1] * c.was[1] + c.was[2] * c.was[2]);
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(c.now[i], c.was[i] / len, 1e-6f);
    }

    // A second start replaces the array instead of leaking the first.
    ASSERT_EQ(mesh_init(), 1);
    EXPECT_EQ(sys_memused() - before, (uint64_t)mesh_previewbytes);
    mesh_quit();
    EXPECT_EQ(cam_previewmeshes, nullptr);
    EXPECT_EQ(sys_memused(), before);
    mesh_quit(); // nothing left to free
}
