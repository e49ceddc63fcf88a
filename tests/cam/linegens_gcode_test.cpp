// One run each of chevron, spiral and conformal carving written through a
// shipped post and read back by LinuxCNC's rs274: the program must be accepted, and
// every move must stay over the canvas and above the final depth, and no
// feed start higher than an entry cut does, in the post's millimetres.
#include "cam/cnc.h"
#include "cam/chevron.h"
#include "cam/conformal.h"
#include "cam/spiral.h"
#include "cam/writeop.h"
#include "gentest.h"
#include "rs274.h"
#include "sys/config.h"

#include <unistd.h>

#include <filesystem>

namespace {
namespace fs = std::filesystem;
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0, 0, 1}; // top at z = 0
} // namespace

class LineGenGcode : public GenTest {
protected:
    fs::path dir;
    void SetUp() override
    {
        GenTest::SetUp();
        ASSERT_EQ(cnc_init(), 1);
        dir = fs::temp_directory_path() / ("kerfmill-linegengcode-" + std::to_string(getpid()));
        fs::create_directories(dir);
        std::vector<float> field(64 * 64);
        for (int j = 0; j < 64; j++)
            for (int i = 0; i < 64; i++)
                field[(size_t)j * 64 + i] = 0.5f + 0.3f * std::sin(i * 0.1f) * std::cos(j * 0.12f);
        setcanvas(field, 64, 64, canvas_size, canvas_frac);
    }
    void TearDown() override
    {
        cam_ops[0].type = 0;
        cam_ops[0].toolpath = -1;
        GenTest::TearDown();
        fs::remove_all(dir);
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
        camop &rec = cam_ops[0];
        rec.type = op.type, rec.tool = op.tool, rec.speed = op.speed, rec.coolant = op.coolant;
        rec.engagefeed = op.engagefeed, rec.feed = op.feed, rec.toolpath = op.toolpath;

        ASSERT_EQ(cfg_settext(cfg_postpath, "posts/LinuxCNC (mm).txt"), 1);
        ASSERT_EQ(cnc_loadpost(), 1);
        ASSERT_EQ(cnc_begin("LinuxCNC (mm)", 1), 1);
        const int grid[2] = {1, 1};
        const float spacing[2] = {0, 0}, offset[3] = {0, 0, 0};
        float pos[3] = {0, 0, 0}, second[3] = {0, 0, 0};
        ASSERT_GT(cam_writeoperation(c.what, 0, offset, grid, spacing, pos, second), 0);
        const std::string program = (dir / (std::string(c.what) + ".ngc")).string();
        ASSERT_GT(cnc_end(program.c_str()), 0);
        rs274_result run = rs274_run(program);
        ASSERT_EQ(run.status, 0) << run.canon;
        EXPECT_EQ(run.metric, 1);
        ASSERT_GT(run.moves.size(), 50u);
        int feeds = 0;
        for (const rs274_move &m : run.moves) {
            if (m.end[0] == 0 && m.end[1] == 0)
                continue; // the post's home moves
            EXPECT_GE(m.end[0], -0.01);
            EXPECT_LE(m.end[0], 2 * 25.4 + 0.01);
            EXPECT_GE(m.end[1], -0.01);
            EXPECT_LE(m.end[1], 2 * 25.4 + 0.01);
            EXPECT_GE(m.end[2], -0.3 * 25.4 - 0.01);
            if (m.feed)
                EXPECT_LE(m.end[2], 0.04 * 25.4 + 0.01) << "cuts and entries start at most 0.04 inch above the top";
            feeds += m.feed;
        }
        EXPECT_GT(feeds, 50);
        toolpath_free(op.toolpath);
        rec.type = 0, rec.toolpath = -1;
    }
}
