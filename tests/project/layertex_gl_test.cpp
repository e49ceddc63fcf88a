// The layer display texture: refresh jobs queued together all finish in
// their order on real workers with the shared context, the count returns to
// 0 and the texture left is the last one asked for; layers without raster
// content end at once; the shading against a Prewitt gradient with an exact
// square root; and the canvas slices recorded into a real render model.
#include "img/image.h"
#include "project/layer.h"
#include "project/layertex.h"
#include "project/project.h"
#include "project/undo.h"
#include "render/glcontext.h"
#include "sys/frame.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "testlog.h"

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class LayerTexGl : public GlTest {
protected:
    static void SetUpTestSuite()
    {
        GlTest::SetUpTestSuite();
        sys_threadsinit();
        img_mutex = sys_createmutex();
        sys_framemutex = sys_createmutex();
        sys_threadsstart(3);
        r_initdraw();
    }
    static void TearDownTestSuite()
    {
        sys_threadsquit();
        sys_threadsdone();
        sys_destroymutex(img_mutex);
        sys_destroymutex(sys_framemutex);
        img_mutex = sys_framemutex = -1;
        r_quitdraw();
        GlTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        GlTest::SetUp();
        r_defaultstate();
        r_cleartextures();
        ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();
        memset(project.layers, 0, sizeof(project.layers));
        project.scale = 1.0f;
        project.ppi = 10;
        project.size[0] = 8.0f, project.size[1] = 6.0f, project.size[2] = 2.0f;
        job_refreshtexture = job_layerrefreshtex;
        layer_shading = 0;
        layer_activetexture.store(-1);
    }
    void TearDown() override
    {
        for (project_layer &l : project.layers)
            if (l.type == layer_raster)
                img_free(l.data.img);
        memset(project.layers, 0, sizeof(project.layers));
        freetextures();
        stopworkercontext();
        layer_shading = 1;
    }
    // A raster-layer of 3.2 x 3.2 units holding one value everywhere.
    static void rasterlayer(int slot, float value)
    {
        project_layer &l = project.layers[slot];
        l.type = layer_raster;
        l.size[0] = l.size[1] = 3.2f;
        l.size[2] = 1.0f;
        l.data.img = img_allocfloat("r", 16, 16);
        std::fill((float *)l.data.img->pixels, (float *)l.data.img->pixels + 256, value);
    }
    // Plays the viewport until every job has ended (at most 20 s): each
    // uploaded texture's first red byte is kept, then the texture released.
    static std::vector<int> drain(int keeplast)
    {
        std::vector<int> seen;
        for (int i = 0; i < 20000; i++) {
            int tex = layer_activetexture.load();
            bool last = layer_texrefreshes.load() == 0;
            if (tex >= 0) {
                std::vector<uint8_t> px(r_textures[tex].width * r_textures[tex].height * 4);
                glBindTexture(GL_TEXTURE_2D, r_textures[tex].gltexture);
                glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
                seen.push_back(px[0]);
                if (last && keeplast)
                    return seen;
                r_freetexture(tex);
                layer_activetexture.store(-1);
            } else if (last) {
                return seen;
            }
            SDL_Delay(1);
        }
        ADD_FAILURE() << "refresh jobs still counted: " << layer_texrefreshes.load();
        return seen;
    }
};

// The colour byte of a squared height, as the unshaded texture shows it.
int squaredbyte(float v)
{
    return (int)std::lround(v * v * 255.0f);
}

TEST_F(LayerTexGl, QueuedRefreshesAllFinishInOrder)
{
    for (int n : {2, 5}) {
        SCOPED_TRACE(n);
        for (int i = 0; i < n; i++)
            rasterlayer(i, 0.2f + 0.15f * (float)i);
        testlog_capture log;
        for (int i = 0; i < n; i++)
            ASSERT_GE(layer_refreshtexture(i), 0);
        std::vector<int> seen = drain(1);
        EXPECT_EQ(layer_texrefreshes.load(), 0);
        ASSERT_EQ((int)seen.size(), n);
        for (int i = 0; i < n; i++)
            EXPECT_NEAR(seen[i], squaredbyte(0.2f + 0.15f * (float)i), 1) << i;
        int kept = layer_activetexture.load();
        ASSERT_GE(kept, 0);
        EXPECT_EQ(strncmp(r_textures[kept].name, "activelayer", 11), 0);
        EXPECT_EQ(log.count("job_refreshtexture processing done"), n);
        r_freetexture(kept);
        layer_activetexture.store(-1);
        TearDown();
        SetUp();
    }
}

TEST_F(LayerTexGl, LayersWithoutRasterContentEndAtOnce)
{
    project.layers[0].type = layer_paths;
    project.layers[0].size[0] = project.layers[0].size[1] = 1.0f;
    project.layers[1].type = layer_model;
    project.layers[1].size[0] = project.layers[1].size[1] = 1.0f;
    project.layers[2].type = layer_raster; // no image
    project.layers[2].size[0] = project.layers[2].size[1] = 1.0f;
    for (int i = 0; i < 3; i++)
        ASSERT_GE(layer_refreshtexture(i), 0);
    EXPECT_TRUE(drain(0).empty());
    EXPECT_EQ(layer_texrefreshes.load(), 0);
    EXPECT_EQ(layer_activetexture.load(), -1);
    // A later refresh still gets its turn.
    rasterlayer(3, 0.5f);
    ASSERT_GE(layer_refreshtexture(3), 0);
    EXPECT_EQ(drain(0).size(), 1u);
}

// A job waiting for the viewport to release its texture gives up when the
// program quits, uncounted and without uploading.
TEST_F(LayerTexGl, WaitForTheViewportEndsOnQuit)
{
    rasterlayer(0, 0.5f);
    layer_activetexture.store(7); // held by the viewport, never released
    ASSERT_GE(layer_refreshtexture(0), 0);
    SDL_Delay(100);
    sys_quit.store(1);
    for (int i = 0; i < 5000 && layer_texrefreshes.load() != 0; i++)
        SDL_Delay(1);
    sys_quit.store(0);
    EXPECT_EQ(layer_texrefreshes.load(), 0);
    EXPECT_EQ(layer_activetexture.load(), 7);
    layer_activetexture.store(-1);
}

TEST_F(LayerTexGl, ZeroSizedLayerQueuesNothing)
{
    rasterlayer(0, 0.5f);
    project.layers[0].size[1] = 0.0f;
    testlog_capture log;
    EXPECT_EQ(layer_refreshtexture(0), -1);
    EXPECT_EQ(layer_texrefreshes.load(), 0);
    EXPECT_TRUE(log.contains("cancelled zero-sized layer texture update"));
}

TEST_F(LayerTexGl, FlatRasterShadesToThreeTenthsOfItsValue)
{
    layer_shading = 1;
    layer_shadefullres = 1;
    rasterlayer(0, 0.8f);
    image *c = layer_shadeimage(project.layers[0].data.img, 0);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->bytesperpixel, 3);
    for (int i = 0; i < c->width * c->height * 3; i++)
        ASSERT_NEAR(c->pixels[i], 0.3f * 0.8f * 255.0f, 1.0f) << i;
    img_free(c);
}

// Prewitt in both directions with edge pixels repeated, exact root.
TEST_F(LayerTexGl, ShadingFollowsThePrewittGradient)
{
    const int w = 24, h = 20;
    image *src = img_allocfloat("relief", w, h);
    float *p = (float *)src->pixels;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            p[y * w + x] = 0.5f + 0.3f * std::sin(0.4f * (float)x) * std::cos(0.3f * (float)y) +
                           ((x / 6 + y / 5) % 2 ? 0.1f : 0.0f);
    image *s = layer_shadefield(src, w, h);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->width, w);
    const float *got = (const float *)s->pixels;
    auto at = [&](int x, int y) { return p[std::clamp(y, 0, h - 1) * w + std::clamp(x, 0, w - 1)]; };
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double gx = 0.0, gy = 0.0;
            for (int j = -1; j <= 1; j++) {
                gx += at(x - 1, y + j) - at(x + 1, y + j);
                gy += at(x + j, y - 1) - at(x + j, y + 1);
            }
            double want = 5.0 * std::sqrt(gx * gx + gy * gy) + 0.3 * at(x, y);
            ASSERT_NEAR(got[y * w + x], want, 0.061 * want + 1e-6) << x << "," << y;
        }
    // Shrinking to the on-screen size: at most tw x th.
    image *small = layer_shadefield(src, 12, 10);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->width, 12);
    EXPECT_EQ(small->height, 10);
    img_free(small);
    img_free(s);
    img_free(src);
}

TEST_F(LayerTexGl, SlicesRecordIntoARenderModel)
{
    struct Case {
        int n, flip, direction;
    };
    const Case cases[] = {{3, 0, 2}, {3, 1, 5}, {4, 0, 0}, {2, 1, 1}, {0, 0, 2}, {0, 1, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " " << c.flip << " " << c.direction);
        int m = r_modelnew();
        ASSERT_GE(m, 0);
        project_canvasslices(c.n, c.flip, c.direction);
        const r_model &rm = r_models[m];
        int axis = c.direction % 3, slices = c.n + 1, cap = axis != 2 ? 6 : 0;
        ASSERT_EQ(rm.numverts, (uint32_t)(6 * slices + cap));
        ASSERT_EQ(rm.numcalls, 1u);
        bool reverse = (c.direction >= 3) != (c.flip != 0);
        for (int i = 0; i < slices; i++) {
            float f = c.n > 0 ? (float)i / (float)c.n : 0.0f;
            float t = reverse ? 1.0f - f : f;
            for (int k = 0; k < 6; k++) {
                int v = 6 * i + k;
                const float *pos = rm.positions + 3 * v;
                // The slice lies across its axis at t of the canvas.
                EXPECT_NEAR(pos[axis], t * project.size[axis], 1e-5f);
                const uint8_t *col = rm.colors + 4 * v;
                int height = col[0] | col[1] << 8;
                // A depth-map's slice carries its depth under the top.
                float h = pos[2] / project.size[2];
                EXPECT_NEAR(height, (c.flip ? 1.0f - h : h) * 65535.0f, 1.0f);
                const int16_t *tc = rm.texcoords + 2 * v;
                EXPECT_NEAR(tc[0], pos[0] / project.size[0] * 4096.0f, 1.0f);
                EXPECT_NEAR(tc[1], (1.0f - pos[1] / project.size[1]) * 4096.0f, 1.0f);
            }
        }
        for (int v = 6 * slices; v < 6 * slices + cap; v++) {
            const uint8_t *col = rm.colors + 4 * v;
            EXPECT_EQ(col[0], c.flip ? 255 : 0);
            EXPECT_EQ(col[2], c.flip ? 255 : 0);
            EXPECT_EQ(col[1], 0);
            EXPECT_EQ(col[3], 0);
        }
        r_modelend();
        r_modelfree(m);
    }
}

} // namespace
