// Labyrinth carving runs: the same input gives the same toolpath bytes, the
// outline stays on the canvas, helical entries compile with every sorted
// entry naming a path, and the sizes and depths that cannot work end through
// the failure notice with the CAM mutex free.
#include "cam/labyrinth.h"

#include "cam/compile.h"
#include "gentest.h"
#include "testlog.h"

#include <memory>

namespace {
const float canvas_size[3] = {2, 2, 0.5f}, canvas_frac[3] = {0.25f, 0.5f, 1};
} // namespace

class Labyrinth : public GenTest {
protected:
    void SetUp() override
    {
        GenTest::SetUp();
        std::vector<float> field(64 * 64);
        for (int j = 0; j < 64; j++)
            for (int i = 0; i < 64; i++)
                field[(size_t)j * 64 + i] = 0.6f + 0.3f * std::sin(i * 0.2f) * std::cos(j * 0.15f);
        setcanvas(field, 64, 64, canvas_size, canvas_frac);
    }
    void setop(float step)
    {
        resetop();
        op.type = 4;
        op.step = step, op.z_max = 0.2f, op.z_doc = 0.1f;
        op.aux[1] = 4.0f; // variance
        const uint32_t symmetry = 0x1;
        memcpy(&op.aux[2], &symmetry, 4);
    }
    void expectfailure(const char *what)
    {
        ASSERT_TRUE(rungenerator()) << what;
        EXPECT_EQ(op.toolpath, -1) << what;
        EXPECT_EQ(notices(), std::vector<std::string>{"Operation Toolpath Failure"}) << what;
        EXPECT_TRUE(mutexfree()) << what << ": the CAM mutex is still held";
    }
    std::vector<uint8_t> toolpathbytes() const
    {
        const toolpath &tp = toolpaths[op.toolpath];
        std::vector<uint8_t> b((const uint8_t *)tp.verts, (const uint8_t *)(tp.verts + 3 * (size_t)tp.num_verts));
        b.insert(b.end(), (const uint8_t *)tp.paths, (const uint8_t *)(tp.paths + tp.num_paths));
        b.insert(b.end(), (const uint8_t *)tp.sorted, (const uint8_t *)(tp.sorted + tp.num_sorted));
        return b;
    }
};

TEST_F(Labyrinth, SameInputSameToolpathAndTheOutlineStaysOnTheCanvas)
{
    std::vector<uint8_t> first;
    for (int run = 0; run < 2; run++) {
        setop(0.1f);
        op.cont = cont_new();
        op.entry = 1;
        testlog_capture log;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        EXPECT_GT(toolpaths[op.toolpath].num_paths, 10u);
        ASSERT_NE(toolpaths[op.toolpath].moves, nullptr);
        if (run == 0) {
            first = toolpathbytes();
            const float x0 = -canvas_size[0] * canvas_frac[0], y0 = -canvas_size[1] * canvas_frac[1];
            ASSERT_GT(op.cont->numpolys, 0u);
            size_t n = 0;
            for (uint32_t i = 0; i < op.cont->numpolys; i++)
                n += op.cont->vertcount[i];
            for (size_t k = 0; k < n; k++) {
                const float *v = op.cont->verts + 3 * k;
                ASSERT_TRUE(v[0] >= x0 && v[0] <= x0 + canvas_size[0] && v[1] >= y0 && v[1] <= y0 + canvas_size[1])
                    << "outline vertex " << k << " at " << v[0] << "," << v[1];
            }
        } else {
            EXPECT_TRUE(toolpathbytes() == first) << "a second run differs";
        }
        toolpath_free(op.toolpath);
    }
}

TEST_F(Labyrinth, HelicalEntriesCompileAndEverySortedEntryNamesAPath)
{
    for (uint32_t flags : {0u, camop_sortpaths | camop_linkcuts}) {
        setop(0.1f);
        op.entry = 2;
        op.flags = flags;
        op.dir = 2;
        ASSERT_TRUE(rungenerator());
        ASSERT_GE(op.toolpath, 0);
        const toolpath &tp = toolpaths[op.toolpath];
        ASSERT_NE(tp.moves, nullptr) << "flags " << flags;
        int helixes = 0;
        for (uint32_t i = 0; i < tp.num_paths; i++)
            helixes += (tp.paths[i].flags & ENGAGE_HELIX) != 0;
        EXPECT_GT(helixes, 0) << "flags " << flags;
        for (uint32_t i = 0; i < tp.num_sorted; i++)
            ASSERT_LT(toolpath_sortedpath(tp.sorted[i]), tp.num_paths) << "sorted entry " << i;
        EXPECT_TRUE(notices().empty());
        toolpath_free(op.toolpath);
    }
}

TEST_F(Labyrinth, BadInputEndsThroughTheFailureNotice)
{
    struct Case {
        const char *what;
        float step, zdoc;
        const char *line;
    };
    const Case cases[] = {
        {"stepover 0", 0.0f, 0.1f, "stepover 0.000000 must be above 0"},
        {"negative stepover", -0.1f, 0.1f, "must be above 0"},
        {"one cell across", 1.5f, 0.1f, "gives 0 cells"},
        {"70,000 cells across", 2.0f / 70000, 0.1f, "gives 70000 cells"},
        {"depth of cut 0", 0.1f, 0.0f, "depth of cut"},
        {"negative depth of cut", 0.1f, -0.2f, "depth of cut"},
    };
    for (const Case &c : cases) {
        setop(c.step);
        op.z_doc = c.zdoc;
        testlog_capture log;
        expectfailure(c.what);
        EXPECT_EQ(log.count(c.line), 1) << c.what;
    }
    // No image to be had: the first, "labyrinthret", is refused.
    setop(0.1f);
    std::vector<image *> fill;
    while (image *img = img_alloc("fill", 1, 1, 4))
        fill.push_back(img);
    testlog_capture log;
    expectfailure("image table full");
    for (image *img : fill)
        img_free(img);
    EXPECT_EQ(log.count("allocating"), 0) << "no maze is grown without its image";
}
