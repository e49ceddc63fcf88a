// One run of tessellated and of labyrinth carving written through a shipped
// post and read back by LinuxCNC's rs274: the program must be accepted, and
// every move must stay over the canvas and above the final depth, and no
// feed start higher than an entry cut does, in the post's millimetres.
#include "cam/cnc.h"
#include "cam/labyrinth.h"
#include "cam/tessellate.h"
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

class TextureGcode : public GenTest {
protected:
    fs::path dir;
    void SetUp() override
    {
        GenTest::SetUp();
        ASSERT_EQ(cnc_init(), 1);
        dir = fs::temp_directory_path() / ("kerfmill-texturegcode-" + std::to_string(getpid()));
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
