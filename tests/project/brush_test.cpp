// Brush strokes and the raster selection: the point ring's refusals and a
// stroke across its end, stroke heights against the profile of a
// brute-force distance to the stroke, folding by maximum, the brush modes'
// blends, and growing and shrinking the selection against brute-force
// distances to a square.
#include "project/brush.h"

#include "geom/profile.h"
#include "project/rasteredit.h"
#include "undofixture.h"

#include <cmath>
#include <vector>

namespace {

class Brush : public UndoProject {
public:
    static inline std::vector<float> shown; // the last "selection" texture's pixels
    static inline int shownw = 0;

    void SetUp() override
    {
        UndoProject::SetUp();
        if (!project_brush)
            project_brush = (uint8_t *)sys_calloc(1, project_brushbytes);
        project.scale = 1.0f;
        project.ppi = 10;
        project.size[0] = project.size[1] = 64.0f;
        project.size[2] = 1.0f;
        brush_settings = brush_settingsrecord{};
        brush_settings.size = 1.0f;
        brush_settings.value = 0.5f;
        brush_settings.innerradius = 0.3f;
        brush_settings.outerradius = 0.2f;
        brush_mode = 2;
        brush_busy.store(0);
        brush_result.store(0);
        shown.clear();
        project_selectiontexture = [](const image *img) {
            const float *p = (const float *)img->pixels;
            shown.assign(p, p + img->width * img->height);
            shownw = img->width;
        };
    }
    void TearDown() override
    {
        img_free(brush_strokes);
        img_free(brush_vectors);
        brush_strokes = brush_vectors = nullptr;
        sys_free(project_brush);
        project_brush = nullptr;
        UndoProject::TearDown();
    }

    // A selected raster-layer of 6.4 x 4.8 units (64 x 48 pixels at 10 a
    // unit) in raster-editing mode.
    static int brushlayer(float value)
    {
        int s = project_layeralloc(layer_raster);
        image *img = img_allocfloat("r", 64, 48);
        std::fill((float *)img->pixels, (float *)img->pixels + 64 * 48, value);
        project_layer &l = project.layers[s];
        l.data.img = img;
        l.size[0] = 6.4f;
        l.size[1] = 4.8f;
        l.size[2] = 1.0f;
        project_selectedlayer = s;
        project_rasterselect(1);
        project_rastertool = 2;
        return s;
    }
    // Records a straight stroke of n points from a to b (layer frame).
    static void stroke(const float *a, const float *b, int n)
    {
        for (int i = 0; i < n; i++) {
            float t = (float)i / (float)(n - 1);
            const float p[3] = {a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]), 0.0f};
            ASSERT_EQ(i == 0 ? brush_beginstroke(p) : brush_addpoint(p), 1);
        }
    }
    static void runjob()
    {
        brush_busy.store(1);
        layer_strokedist((void *)(intptr_t)brush_strokecount.load());
        EXPECT_EQ(brush_busy.load(), 0);
        EXPECT_EQ(brush_pointsdone.load(), brush_pointcount.load());
    }
    static std::vector<float> strokepixels()
    {
        const float *p = (const float *)brush_strokes->pixels;
        return std::vector<float>(p, p + brush_strokes->width * brush_strokes->height);
    }
};

double segdist(double px, double py, double ax, double ay, double bx, double by)
{
    double dx = bx - ax, dy = by - ay;
    double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

TEST_F(Brush, StraightStrokeFollowsTheProfileOfItsDistance)
{
    brushlayer(0.0f);
    const float a[2] = {-0.3f, 0.0f}, b[2] = {0.25f, 0.12f};
    stroke(a, b, 30); // several runs of segments
    runjob();
    ASSERT_NE(brush_strokes, nullptr);
    ASSERT_EQ(brush_strokes->width, 64);
    ASSERT_EQ(brush_strokes->height, 48);
    std::vector<float> got = strokepixels();
    const brush_settingsrecord &s = brush_settings;
    float half = s.size * 0.5f, top = 0.0f;
    int touched = 0;
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) {
            // Pixel centres and the stroke's ends in project units, y up.
            double px = (x + 0.5) / 10.0, py = (48 - y - 0.5) / 10.0;
            double d = segdist(px, py, (a[0] + 0.5) * 6.4, (a[1] + 0.5) * 4.8, (b[0] + 0.5) * 6.4,
                               (b[1] + 0.5) * 4.8);
            float u = std::max(0.0f, 1.0f - (float)d / half);
            arc_fit(1, &u, s.outerradius, s.innerradius, 1.0f - 0.999f * s.profile * s.profile,
                    1.0f * s.value / half);
            float want = std::max(0.0f, u * s.value);
            top = std::max(top, want);
            touched += want > 0.0f;
            ASSERT_NEAR(got[(size_t)y * 64 + x], want, 1e-4f * s.value) << x << "," << y;
        }
    EXPECT_GT(touched, 100);
    EXPECT_GT(top, 0.1f);
    EXPECT_EQ(project.layers[brush_layer].stale, 1u);
    EXPECT_EQ(brush_result.load(), 1);
    // The touched area in canvas fractions holds the stroke and its reach.
    const float *pos = project.layers[brush_layer].pos;
    EXPECT_LE(brush_strokearea[0], (pos[0] + a[0] * 6.4f - half) / 64.0f + 1e-6f);
    EXPECT_GE(brush_strokearea[2], (pos[0] + b[0] * 6.4f + half) / 64.0f - 1e-6f);
    EXPECT_LE(brush_strokearea[1], (pos[1] + a[1] * 4.8f - half) / 64.0f + 1e-6f);
    EXPECT_GE(brush_strokearea[3], (pos[1] + b[1] * 4.8f + half) / 64.0f - 1e-6f);
}

TEST_F(Brush, StrokeAcrossTheRingsEndEqualsTheSameStrokeUncrossed)
{
    const float a[2] = {-0.2f, -0.1f}, b[2] = {0.3f, 0.2f};
    std::vector<float> plain, crossed;
    for (int start : {0, brush_ringpoints - 5}) {
        SetUp();
        brushlayer(0.0f);
        brush_pointcount.store(start);
        brush_pointsdone.store(start);
        brush_strokecount.store(start);
        brush_strokesdone.store(start);
        stroke(a, b, 12);
        runjob();
        (start ? crossed : plain) = strokepixels();
        TearDown();
    }
    EXPECT_EQ(crossed, plain);
}

TEST_F(Brush, OverlappingStrokesKeepTheHigherHeight)
{
    int s = brushlayer(0.25f);
    const float a[2] = {-0.3f, 0.0f}, b[2] = {0.3f, 0.0f};
    stroke(a, b, 5);
    runjob();
    std::vector<float> once = strokepixels();
    stroke(a, b, 5);
    runjob();
    EXPECT_EQ(strokepixels(), once);
    brush_mode = 0;
    layer_brushstrokes();
    const float *px = (const float *)project.layers[s].data.img->pixels;
    for (size_t i = 0; i < once.size(); i++)
        ASSERT_FLOAT_EQ(px[i], 0.25f + once[i]);
    EXPECT_EQ(brush_strokes, nullptr);
    EXPECT_EQ(event_ring[(event_position - 1) % event_slots].type, event_layerdata);
    EXPECT_TRUE(log.contains("...applied brush strokes to raster-layer"));
}

TEST_F(Brush, ModesBlendTheStrokesIntoTheLayer)
{
    struct Case {
        int mode;
        float (*blend)(float layer, float stroke);
    };
    const Case cases[] = {
        {0, [](float l, float s) { return l + s; }},
        {1, [](float l, float s) { return l - s; }},
        {2, [](float l, float s) { return std::max(l, s); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        SetUp();
        int s = brushlayer(0.3f);
        brush_mode = c.mode;
        brush_strokes = img_allocfloat("brshstrks", 64, 48);
        float *sp = (float *)brush_strokes->pixels;
        for (int i = 0; i < 64 * 48; i++)
            sp[i] = 0.01f * (float)(i % 61);
        std::vector<float> strokes(sp, sp + 64 * 48);
        layer_brushstrokes();
        const float *px = (const float *)project.layers[s].data.img->pixels;
        for (int i = 0; i < 64 * 48; i++)
            ASSERT_NEAR(px[i], c.blend(0.3f, strokes[i]), 1e-6f) << i;
        TearDown();
    }
}

TEST_F(Brush, PiecesWithoutAnythingToDrawAreConsumed)
{
    struct Case {
        const char *name;
        float decay, x;
    };
    const Case cases[] = {
        {"radius decayed below 0", 1.0f, 0.0f},
        {"box outside the layer", 0.0f, 40.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        brushlayer(0.0f);
        brush_settings.sizedecay = c.decay;
        const float p[3] = {c.x, 0.0f, 2.0f}, q[3] = {c.x + 0.1f, 0.0f, 2.1f};
        brush_beginstroke(p);
        brush_addpoint(q);
        runjob();
        EXPECT_EQ(brush_strokesdone.load(), 1);
        if (brush_strokes)
            for (float v : strokepixels())
                ASSERT_EQ(v, 0.0f);
        TearDown();
    }
}

TEST_F(Brush, RingRefusesToOverwriteUnreadEntries)
{
    brushlayer(0.0f);
    float p[3] = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < brush_ringstrokes; i++)
        ASSERT_EQ(brush_beginstroke(p), 1);
    EXPECT_EQ(brush_beginstroke(p), 0);
    for (int i = brush_ringstrokes; i < brush_ringpoints; i++) {
        p[0] = 1e-4f * (float)i;
        ASSERT_EQ(brush_addpoint(p), 1);
    }
    EXPECT_EQ(brush_addpoint(p), 0);
    EXPECT_EQ(brush_pointcount.load(), brush_ringpoints);
    runjob();
    EXPECT_EQ(brush_addpoint(p), 1);
    EXPECT_EQ(brush_beginstroke(p), 1);
}

TEST_F(Brush, ApplyingWithoutStrokesChangesNothing)
{
    int s = brushlayer(0.4f);
    uint32_t queued = event_position;
    layer_brushstrokes();
    EXPECT_EQ(event_position, queued);
    EXPECT_FLOAT_EQ(((const float *)project.layers[s].data.img->pixels)[0], 0.4f);
    EXPECT_FALSE(log.contains("refreshing layer texture..."));
}

TEST_F(Brush, LeavingTheModeLeavesAFullSelection)
{
    brushlayer(0.0f);
    selectionmap = img_allocfloat("sel", 8, 8);
    project_rasterselect(0);
    EXPECT_EQ(project_rastertool, -1);
    EXPECT_EQ(selectionmap, nullptr);
    EXPECT_EQ(shownw, 2);
    EXPECT_EQ(shown, std::vector<float>(4, 1.0f));
}

TEST_F(Brush, ModeNeedsASelectedRasterLayer)
{
    project_rasterselect(1);
    EXPECT_TRUE(log.contains("cannot enable raster-editing mode on null layer"));
    project_selectedlayer = pathslayer(1, 0.0f);
    project_rasterselect(1);
    EXPECT_TRUE(log.contains("cannot enable raster-editing mode on non-raster-layers"));
    EXPECT_EQ(project_rastertool, -1);
}

// ------------------------------------------------------------ selection

// A 64 x 64 selection over a 64-unit canvas (a unit a pixel) holding a
// 10 x 10 square at 27..36.
image *squareselection()
{
    image *sel = img_allocfloat("sel", 64, 64);
    float *p = (float *)sel->pixels;
    for (int y = 27; y < 37; y++)
        for (int x = 27; x < 37; x++)
            p[y * 64 + x] = 1.0f;
    return sel;
}

double squaredist(int x, int y)
{
    double dx = std::max({27 - x, 0, x - 36}), dy = std::max({27 - y, 0, y - 36});
    return std::hypot(dx, dy);
}

TEST_F(Brush, GrowSelectsWithinTheRadiusAndNothingPastItsRim)
{
    for (float r : {1.0f, 3.0f, 4.5f}) {
        SCOPED_TRACE(r);
        SetUp();
        brushlayer(0.0f);
        selectionmap = squareselection();
        raster_selectiongrow(r, 0);
        const float *p = (const float *)selectionmap->pixels;
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 64; x++) {
                double d = squaredist(x, y);
                if (d <= r)
                    ASSERT_EQ(p[y * 64 + x], 1.0f) << x << "," << y;
                else if (d > r + 1.0)
                    ASSERT_EQ(p[y * 64 + x], 0.0f) << x << "," << y;
            }
        EXPECT_EQ(event_ring[(event_position - 1) % event_slots].type, event_rasterselection);
        EXPECT_EQ(shownw, 64);
        TearDown();
    }
}

TEST_F(Brush, ShrinkEqualsGrowingTheComplement)
{
    brushlayer(0.0f);
    selectionmap = squareselection();
    raster_selectiongrow(-3.0f, 0);
    std::vector<float> shrunk((float *)selectionmap->pixels, (float *)selectionmap->pixels + 64 * 64);
    img_free(selectionmap);
    selectionmap = squareselection();
    float *p = (float *)selectionmap->pixels;
    for (int i = 0; i < 64 * 64; i++)
        p[i] = 1.0f - p[i];
    raster_selectiongrow(3.0f, 0);
    p = (float *)selectionmap->pixels;
    for (int i = 0; i < 64 * 64; i++)
        ASSERT_EQ(shrunk[i], 1.0f - p[i]) << i;
    // What lies more than 3 pixels inside the square stays, nothing else.
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            ASSERT_EQ(shrunk[y * 64 + x], x >= 30 && x <= 33 && y >= 30 && y <= 33 ? 1.0f : 0.0f) << x << "," << y;
}

TEST_F(Brush, GrowingUnderAPixelOrWithoutASelectionDoesNothing)
{
    brushlayer(0.0f);
    uint32_t queued = event_position;
    raster_selectiongrow(5.0f, 0);
    EXPECT_EQ(selectionmap, nullptr);
    selectionmap = squareselection();
    raster_selectiongrow(0.9f, 0);
    raster_selectiongrow(-0.5f, 1);
    EXPECT_EQ(event_position, queued);
    EXPECT_TRUE(shown.empty());
}

TEST_F(Brush, FeatherAveragesUnderACone)
{
    brushlayer(0.0f);
    selectionmap = squareselection();
    raster_selectiongrow(3.0f, 1);
    const float *p = (const float *)selectionmap->pixels;
    EXPECT_NEAR(p[32 * 64 + 32], 1.0f, 1e-5f); // deep inside
    EXPECT_EQ(p[10 * 64 + 10], 0.0f);          // far outside
    float edge = p[32 * 64 + 27];
    EXPECT_GT(edge, 0.5f);
    EXPECT_LT(edge, 1.0f);
}

} // namespace
