// One run of tessellated and of labyrinth carving written through a shipped
// post and read back by LinuxCNC's rs274: the program must be accepted, and
// every move must stay over the canvas and above the final depth, and no
// feed start higher than an entry cut does, in the post's millimetres.
#include "cam/cnc.h"
#include "cam/labyrinth.h"
#include "cam/tessellate.h"
#include "gcodetest.h"

using TextureGcode = WavesGcodeTest;

TEST_F(TextureGcode, BothOperationsAreAcceptedByRs274)
{
    struct Case {
        const char *what;
        int type;
        camop_generator gen;
    };
    const Case cases[] = {{"tessellation", 13, cam_tessellate}, {"labyrinth", 4, camop_labyrinthjob}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        resetop();
        op.type = c.type, op.entry = 1, op.z_max = 0.3f, op.z_doc = 0.15f, op.step = 0.1f;
        const uint32_t a0 = tess_circles | 2u << 16, a1 = 3u | 2u << 16;
        if (c.type == 13) {
            memcpy(&op.aux[0], &a0, 4);
            memcpy(&op.aux[1], &a1, 4);
        }
        ASSERT_TRUE(rungenerator(c.gen));
        ASSERT_GE(op.toolpath, 0);
        camop &rec = gcodetest_publish(op);
        const std::string program = (dir / (std::string(c.what) + ".ngc")).string();
        ASSERT_NO_FATAL_FAILURE(gcodetest_write(program, c.what));
        rs274_result run = rs274_run(program);
        ASSERT_EQ(run.status, 0) << run.canon;
        EXPECT_EQ(run.metric, 1);
        ASSERT_NO_FATAL_FAILURE(gcodetest_expectovercanvas(run, 2, 2, 0.3, 50));
        toolpath_free(op.toolpath);
        rec.type = 0, rec.toolpath = -1;
    }
}
