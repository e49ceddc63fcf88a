// The image start's programs on a real context: the six load in their
// order with every uniform, img_rasterize copies the red channel of its
// image onto the pixels its geometry covers, and img_maxdistpoint raises a
// field exactly as the processor's cone band does.
#include "img/gpushaders.h"

#include "img/blur.h"
#include "img/convolve.h"
#include "img/distance.h"
#include "img/fade.h"
#include "img/gpuop.h"
#include "render/draw.h"
#include "render/glcontext.h"
#include "render/texture.h"
#include "testlog.h"

#include <cstring>
#include <random>
#include <vector>

class GpuShaders : public GlTest {
protected:
    img_gputarget target;
    std::vector<int> textures;

    void SetUp() override
    {
        GlTest::SetUp();
        startdraw();
        ASSERT_TRUE(gl_framebuffers);
    }
    void TearDown() override
    {
        r_bindshader(-1);
        r_bindtexture(-1);
        for (int slot : textures)
            r_freetexture(slot);
        img_gpufreetarget(target);
        for (int *slot : {&img_rasterizeshader, &img_convolveshader, &img_minkowskishader, &img_inflateshader,
                          &img_maskblurshader, &img_maxdistpointshader}) {
            r_freeshader(*slot);
            *slot = -1;
        }
        r_quitdraw();
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
    // A nearest-sampled float texture of w x h values.
    int upload(int w, int h, const std::vector<float> &values)
    {
        image *img = img_alloc("field", w, h, 4, values.data());
        int slot = img_texture(nullptr, img, 1, 0, 1);
        img_free(img);
        textures.push_back(slot);
        return slot;
    }
    // A cleared R32F target of w x h, bound with its viewport.
    void maketarget(int w, int h)
    {
        ASSERT_EQ(img_gpuframebuffer(target, w, h, "gpushaders_test", "gpushaders_test: no framebuffer"), 1);
        img_gpubindtarget(target);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    std::vector<float> readback()
    {
        std::vector<float> out((size_t)target.width * target.height);
        EXPECT_EQ(img_gpureadback(target, out.data(), "gpushaders_test"), 1);
        return out;
    }
};

TEST_F(GpuShaders, SixProgramsLoadInStartOrderWithTheirUniforms)
{
    ASSERT_EQ(img_loadimageshaders(), 1);
    const char *order[] = {"img_rasterize", "img_convolve", "img_minkowski", "img_inflate", "img_maskblur",
                           "img_maxdistpoint"};
    for (int i = 0; i < 6; i++)
        EXPECT_STREQ(r_shaders[i].name, order[i]);
    EXPECT_EQ(img_rasterizeshader, 0);
    EXPECT_EQ(img_maxdistpointshader, 5);
    const int locations[] = {img_rasterizeimage,    img_rasterizeorigin,    img_rasterizescale,
                             img_maxdistpointimage, img_maxdistpointscalex, img_maxdistpointscaley,
                             img_maxdistpointpoint};
    for (int location : locations)
        EXPECT_GE(location, 0);
}

TEST_F(GpuShaders, AFullTableLoadsNoneAndSaysSo)
{
    for (r_shader &s : r_shaders)
        strcpy(s.name, "taken");
    testlog_capture log;
    EXPECT_EQ(img_loadimageshaders(), 0);
    EXPECT_EQ(log.count("r_loadshader: shaders overflow"), 6);
    EXPECT_EQ(img_rasterizeshader, -1);
    EXPECT_EQ(img_rasterizescale, -1);
    EXPECT_EQ(img_maxdistpointshader, -1);
    EXPECT_EQ(img_maxdistpointpoint, -1);
    r_clearshaders();
}

// A 4 x 4 image drawn over the middle of an 8 x 8 target: scale 0.5 and
// origin 0.25 put the unit square on pixels 2..5, one image pixel each.
TEST_F(GpuShaders, RasterizeCopiesTheRedChannelWhereItDraws)
{
    ASSERT_EQ(img_loadimageshaders(), 1);
    std::vector<float> values(16);
    for (int i = 0; i < 16; i++)
        values[i] = 0.1f * (float)i - 0.4f;
    int texture = upload(4, 4, values);
    maketarget(8, 8);
    r_bindtexture(texture, 0);
    r_bindshader(img_rasterizeshader);
    const float origin[3] = {0.25f, 0.25f, 0.5f}, scale[3] = {0.5f, 0.5f, 1.0f};
    r_shaderuniformint(img_rasterizeimage, 0);
    r_shaderuniformvec3(img_rasterizeorigin, 1, origin);
    r_shaderuniformvec3(img_rasterizescale, 1, scale);
    const float corners[4][2] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};
    r_begin(r_trianglefan);
    for (const auto &c : corners) {
        r_texcoord(c[0], c[1]);
        r_vertex(c[0], c[1], 0.0f);
    }
    r_end();
    std::vector<float> out = readback();
    for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) {
            bool inside = x >= 2 && x < 6 && y >= 2 && y < 6;
            float want = inside ? values[(size_t)(y - 2) * 4 + (x - 2)] : 0.0f;
            EXPECT_FLOAT_EQ(out[(size_t)y * 8 + x], want) << x << "," << y;
        }
    }
}

// The same random field raised on the GPU and by the processor's band
// worker, for apexes inside, partly below, outside and wholly below it.
TEST_F(GpuShaders, MaxdistpointMatchesTheProcessorCone)
{
    ASSERT_EQ(img_loadimageshaders(), 1);
    constexpr int w = 13, h = 9;
    const float unitx = 0.2f, unity = 0.15f;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> d(0.0f, 1.0f);
    std::vector<float> field((size_t)w * h);
    for (float &v : field)
        v = d(rng);
    int texture = upload(w, h, field);
    maketarget(w, h);
    struct Case {
        float apex[3];
    };
    const Case cases[] = {
        {{1.3f, 0.65f, 1.5f}}, {{0.4f, 0.3f, 0.6f}}, {{-0.5f, 2.0f, 2.5f}}, {{1.0f, 1.0f, -1.0f}},
    };
    for (const Case &c : cases) {
        std::vector<float> cpu = field;
        distpoint_job job{};
        job.width = w;
        job.height = h;
        job.row0 = 0;
        job.row1 = h;
        job.pixels = cpu.data();
        job.unitx = unitx;
        job.unity = unity;
        memcpy(job.apex, c.apex, sizeof(job.apex));
        job_maxdistpoint(&job);

        img_gpubindtarget(target);
        r_bindtexture(texture, 0);
        r_bindshader(img_maxdistpointshader);
        r_shaderuniformint(img_maxdistpointimage, 0);
        r_shaderuniformfloat(img_maxdistpointscalex, unitx);
        r_shaderuniformfloat(img_maxdistpointscaley, unity);
        r_shaderuniformvec3(img_maxdistpointpoint, 1, c.apex);
        img_gpusection(-1.0f, 1.0f);
        std::vector<float> gpu = readback();

        int raised = 0;
        for (size_t i = 0; i < gpu.size(); i++) {
            EXPECT_NEAR(gpu[i], cpu[i], 1e-5f) << "apex " << c.apex[0] << "," << c.apex[1] << " pixel " << i;
            raised += cpu[i] != field[i];
        }
        if (c.apex[2] < 0.0f)
            EXPECT_EQ(raised, 0) << "an apex below the field raises nothing";
    }
}
