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
        ASSERT_NO_FATAL_FAILURE(runovercanvas(c.gen, c.what));
    }
}
