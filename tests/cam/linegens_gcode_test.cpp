// One run each of chevron, spiral and conformal carving written through a
// shipped post and read back by LinuxCNC's rs274: the program must be accepted, and
// every move must stay over the canvas and above the final depth, and no
// feed start higher than an entry cut does, in the post's millimetres.
#include "cam/cnc.h"
#include "cam/chevron.h"
#include "cam/conformal.h"
#include "cam/spiral.h"
#include "gcodetest.h"

using LineGenGcode = WavesGcodeTest;

TEST_F(LineGenGcode, EachGeneratorIsAcceptedByRs274)
{
    struct Case {
        const char *what;
        int type;
        camop_generator gen;
        float aux[3];
    };
    const Case cases[] = {{"chevron", 2, camop_chevron, {15, 0.25f, 0.15f}},
                          {"spiral", 3, camop_spiral, {0, 0, 0}},
                          {"conformal", 9, camop_conformal, {40, 1, 0}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        resetop();
        op.type = c.type, op.entry = 1, op.z_max = 0.3f, op.z_doc = 0.15f, op.step = 0.1f;
        memcpy(op.aux, c.aux, sizeof(op.aux));
        ASSERT_NO_FATAL_FAILURE(runovercanvas(c.gen, c.what));
    }
}
