// One run each of chevron, spiral and conformal carving written through a
// shipped post and read back by LinuxCNC's rs274: the program must be accepted, and
// every move must stay over the canvas and above the final depth, and no
// feed start higher than an entry cut does, in the post's millimetres.
#include "cam/cnc.h"
#include "cam/chevron.h"
#include "cam/conformal.h"
#include "cam/spiral.h"
#include "gcodetest.h"
#include "gentest.h"

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0
} // namespace

class LineGenGcode : public GcodeTest<GenTest> {
protected:
    void SetUp() override
    {
        GcodeTest<GenTest>::SetUp();
        std::vector<float> field(64 * 64);
        for (int j = 0; j < 64; j++)
            for (int i = 0; i < 64; i++)
                field[(size_t)j * 64 + i] = 0.5f + 0.3f * std::sin(i * 0.1f) * std::cos(j * 0.12f);
        setcanvas(field, 64, 64, canvas_size, canvas_frac);
    }
};

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
