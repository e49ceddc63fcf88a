// Screen transforms through the view's GL matrices: the mouse ray against
// a level plane and a layer's plane, and the ray march against a heightfield
// (an analytic hemisphere), with a sheared parallel view whose rays are
// worked out here by hand.
#include "project/transform.h"

#include "img/image.h"
#include "project/layer.h"
#include "render/glcontext.h"
#include "sys/config.h"
#include "testlog.h"

#include <cmath>
#include <cstring>

namespace {

// A 100 x 100 pixel window over a parallel view of the canvas 0..10 x
// 0..10, sheared so that a ray slants: the eye sees (x + 0.3 z, y + 0.2 z).
// The ray under window pixel (mx, my) is at height h over
// (mx / 10 - 0.3 h, 10 - my / 10 - 0.2 h).
constexpr float shearx = 0.3f, sheary = 0.2f;

void rayat(float *out, float mx, float my, float h)
{
    out[0] = mx / 10 - shearx * h;
    out[1] = 10 - my / 10 - sheary * h;
    out[2] = h;
}

class ScreenTransforms : public GlTest {
protected:
    testlog_capture log;
    int savedperspective = 0;
    int saveddrawable[2] = {};
    float savedsize[3] = {};

    void SetUp() override
    {
        GlTest::SetUp();
        savedperspective = cfg_geti(cfg_perspective);
        cfg_seti(cfg_perspective, 0);
        memcpy(saveddrawable, sys_drawable, sizeof(saveddrawable));
        memcpy(savedsize, project.size, sizeof(savedsize));
        sys_drawable[0] = sys_drawable[1] = 100;
        project.size[0] = project.size[1] = 10;
        project.size[2] = 2;
        memset(&project.layers[0], 0, sizeof(project_layer));
        view(true);
    }
    void TearDown() override
    {
        memset(&project.layers[0], 0, sizeof(project_layer));
        cfg_seti(cfg_perspective, savedperspective);
        memcpy(sys_drawable, saveddrawable, sizeof(saveddrawable));
        memcpy(project.size, savedsize, sizeof(savedsize));
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    // The sheared view from above, or (sheared = false) a view along the
    // canvas y axis, whose rays all run level.
    static void view(bool sheared)
    {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, 10, 0, 10, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        if (sheared) {
            const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, shearx, sheary, 1, 0, 0, 0, 0, 1};
            glLoadMatrixf(m);
        } else {
            glRotatef(90, 1, 0, 0);
        }
    }
};

TEST_F(ScreenTransforms, PlaneAndLayerPlaneMeetTheSlantedRay)
{
    struct Case {
        float mx, my, height;
    };
    const Case cases[] = {{50, 50, 0}, {10, 90, 1.5f}, {73, 12, -2}, {0, 0, 4}};
    for (const Case &c : cases) {
        float got[3], want[3];
        view_screentoplane(got, c.mx, c.my, c.height);
        rayat(want, c.mx, c.my, c.height);
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(got[k], want[k], 1e-4) << c.mx << "," << c.my << " axis " << k;
    }
    // A layer 4 x 2 at (5, 5, 1) turned a quarter: its plane is z = 1, and
    // the canvas offset (dx, dy) is the layer point (-dy / 4, dx / 2).
    project_layer &l = project.layers[0];
    l.type = layer_raster;
    l.rotation = 90;
    l.pos[0] = l.pos[1] = 5;
    l.pos[2] = 1;
    l.size[0] = 4;
    l.size[1] = 2;
    l.size[2] = 1;
    for (const Case &c : cases) {
        float got[3], w[3];
        view_screentolayer(got, c.mx, c.my, 0);
        rayat(w, c.mx, c.my, 1);
        EXPECT_NEAR(got[0], -(w[1] - 5) / 4, 1e-4) << c.mx << "," << c.my;
        EXPECT_NEAR(got[1], (w[0] - 5) / 2, 1e-4) << c.mx << "," << c.my;
        EXPECT_NEAR(got[2], 0, 1e-4) << c.mx << "," << c.my;
    }
}

TEST_F(ScreenTransforms, LevelRayGivesTheOrigin)
{
    view(false);
    project.layers[0].type = layer_raster;
    project.layers[0].size[0] = project.layers[0].size[1] = project.layers[0].size[2] = 1;
    float out[3] = {9, 9, 9};
    view_screentoplane(out, 30, 40, 0.5f);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 0.0f);
    out[0] = out[1] = out[2] = 9;
    view_screentolayer(out, 30, 40, 0);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 0.0f);
}

// A hemisphere of radius r about (cx, cy) on a 500 x 500 field covering the
// 10 x 10 canvas, heights in canvas-z units (canvas z is 2); pixel (i, j)
// holds the height at the canvas point ((i + 0.5) / 50, 10 - (j + 0.5) / 50).
image *hemisphere(float cx, float cy, float r, bool flip)
{
    const int n = 500;
    image *f = img_allocfloat("hemisphere", n, n);
    float *p = (float *)f->pixels;
    for (int j = 0; j < n; j++)
        for (int i = 0; i < n; i++) {
            const double x = (i + 0.5) / 50 - cx, y = 10 - (j + 0.5) / 50 - cy;
            const double d = r * r - x * x - y * y, z = d > 0 ? std::sqrt(d) / 2 : 0;
            p[j * n + i] = (float)(flip ? 1 - z : z);
        }
    return f;
}

TEST_F(ScreenTransforms, RayMarchMeetsAHemisphereWithinTheRefinementStep)
{
    const float cx = 5, cy = 5, r = 1.6f;
    struct Case {
        float mx, my;
        bool flip;
    };
    // Rays through the cap (mouse over the centre, the heights there are
    // under the canvas top) and off its crown, with heights from the base
    // and from the top.
    const Case cases[] = {{53, 53, false}, {53, 53, true}, {60, 45, false}, {50, 55, true}, {48, 57, false}};
    for (const Case &c : cases) {
        image *field = hemisphere(cx, cy, r, c.flip);
        float got[3];
        view_screentoheightfield(got, field, c.mx, c.my, c.flip);
        img_free(field);
        // The first meeting of the ray A + t (B - A) with the sphere.
        float a[3], b[3];
        rayat(a, c.mx, c.my, 2);
        rayat(b, c.mx, c.my, 0);
        const double v[3] = {(double)b[0] - a[0], (double)b[1] - a[1], (double)b[2] - a[2]};
        const double o[3] = {(double)a[0] - cx, (double)a[1] - cy, a[2]};
        const double qa = v[0] * v[0] + v[1] * v[1] + v[2] * v[2], qb = 2 * (o[0] * v[0] + o[1] * v[1] + o[2] * v[2]);
        const double qc = o[0] * o[0] + o[1] * o[1] + o[2] * o[2] - (double)r * r;
        const double disc = qb * qb - 4 * qa * qc;
        ASSERT_GT(disc, 0) << c.mx << "," << c.my;
        const double t = (-qb - std::sqrt(disc)) / (2 * qa);
        ASSERT_GT(t, 0.0125);
        // The last refinement step is 0.00001220703125 of the ray; the
        // bilinear field adds under 1e-4 near the crown.
        const double tol = 2 * 0.00001220703125 * std::sqrt(qa) + 1e-4;
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(got[k], a[k] + t * v[k], tol) << c.mx << "," << c.my << " flip " << c.flip << " axis " << k;
    }
}

TEST_F(ScreenTransforms, MissedRayLeavesThroughTheCanvasBottom)
{
    for (int flip = 0; flip < 2; flip++) {
        image *field = hemisphere(2, 2, 0.5f, flip);
        float got[3], want[3];
        view_screentoheightfield(got, field, 80, 20, flip);
        img_free(field);
        rayat(want, 80, 20, 0);
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(got[k], want[k], 1e-4) << "flip " << flip << " axis " << k;
    }
}

} // namespace
