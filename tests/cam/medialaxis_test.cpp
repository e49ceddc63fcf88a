// Medial-axis carving's refusals: a tool without a cutter type has no depth
// rule, and outlines left open by the canvas edge need "Include Edges".
#include "cam/medialaxis.h"

#include "gentest.h"

TEST_F(GenTest, MedialAxisRefusesWhatItCannotCarve)
{
    struct Case {
        const char *name;
        int tooltype;
        int touchesedge;
        uint32_t flags;
        int fails;
        const char *line;
    } const cases[] = {
        {"no cutter type", tool_none, 0, 0, 1, "camop_medialaxis: tool1 has no cutter type"},
        {"outline open at the edge", tool_vbit, 1, 0, 1, "Encountered non-closed contours!"},
        {"edges included", tool_vbit, 1, camop_confine, 0, "generating toolpath..."},
        {"closed outline", tool_vbit, 0, 0, 0, "generating toolpath..."},
    };
    const int w = 48;
    const float size[3] = {1, 1, 0.5f}, frac[3] = {0, 0, 1};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetop();
        std::vector<float> f(w * w, 0.0f);
        for (int j = 16; j < 32; j++)
            for (int i = c.touchesedge ? 0 : 8; i < 40; i++)
                f[j * w + i] = 1.0f;
        setcanvas(f, w, w, size, frac);
        cam_settool(1, "cutter", c.tooltype, 1, 2, 0.25f, 0.5f, 60.0f, 1.5f, 20.0f);
        op.type = 6;
        op.aux[0] = 0.25f;
        op.z_doc = 0.05f;
        op.z_max = 0.1f;
        op.flags = c.flags;
        testlog_capture log;
        ASSERT_TRUE(rungenerator());
        EXPECT_TRUE(log.contains(c.line));
        if (c.fails) {
            EXPECT_EQ(op.toolpath, -1);
            std::vector<std::string> n = notices();
            EXPECT_FALSE(n.empty());
            EXPECT_EQ(n.back(), "Operation Toolpath Failure");
        } else {
            ASSERT_GE(op.toolpath, 0);
            EXPECT_GT(toolpaths[op.toolpath].num_paths, 0u);
        }
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
}
