// Mouse tracking and layer picking: what counts as a click, which layer a
// click picks (the smallest under the pointer; hidden, other-group and
// selected layers never), the right click that drops the selection, the
// edit modes that stop picking, and picking against a brute force that
// projects the layers' corners with the test's own matrices.
#include "viewfixture.h"

#include "view/mouse.h"
#include "view/outlines.h"

#include <random>

namespace {

class Picking : public ViewProject {
public:
    void SetUp() override
    {
        ViewProject::SetUp();
        sys_drawable[0] = 1000;
        sys_drawable[1] = 500;
        orthocamera(3.0, 6.0, 3.0); // the 12 x 6 canvas fills the window
        project.scale = 1.0f;
        project_layergroup = 0;
    }
    static int layer(float x, float y, float w, float h, float rotation = 0.0f)
    {
        int s = rasterlayer(0.5f);
        project_layer &l = project.layers[s];
        const float pos[3] = {x, y, 0.0f}, size[3] = {w, h, 0.5f};
        memcpy(l.pos, pos, sizeof(pos));
        memcpy(l.size, size, sizeof(size));
        l.rotation = rotation;
        l.groups = 1;
        return s;
    }
    // Window pixel of a canvas point under the fixture's camera.
    static void pixel(float x, float y, int *px, int *py)
    {
        *px = (int)std::lround((x / 12.0) * 1000.0);
        *py = (int)std::lround((1.0 - y / 6.0) * 500.0);
    }
    // One press frame at the pointer, then one release frame at (mx, my).
    void click(int button, float x, float y, float zoom = 0.0f)
    {
        view_layeroutlines();
        int px, py;
        pixel(x, y, &px, &py);
        input_mouse[0] = px;
        input_mouse[1] = py;
        key(button, 1, 0);
        view_mouse();
        view_camera.distance += zoom;
        key(button, 0, 1);
        view_mouse();
        key(button, 0, 0);
    }
};

TEST_F(Picking, SmallLayerOverLargeOneIsPickedWhereverBothCover)
{
    for (bool smallfirst : {true, false}) {
        SetUp();
        int small = -1, large = -1;
        if (smallfirst) {
            small = layer(6, 3, 2, 1);
            large = layer(6, 3, 10, 5);
        } else {
            large = layer(6, 3, 10, 5);
            small = layer(6, 3, 2, 1);
        }
        for (float x : {5.2f, 6.0f, 6.8f}) {
            gui_selectedlayer = -1;
            testlog_capture local;
            click(key_mouseleft, x, 3.2f);
            EXPECT_EQ(gui_selectedlayer, small) << "small first " << smallfirst << " at " << x;
            EXPECT_EQ(local.count("clicking layer["), 2);
        }
        gui_selectedlayer = -1;
        click(key_mouseleft, 2.0f, 1.0f);
        EXPECT_EQ(gui_selectedlayer, large) << "only the large one there";
    }
}

TEST_F(Picking, EqualAreasPickTheHigherSlot)
{
    layer(6, 3, 4, 2);
    int upper = layer(6.5f, 3, 2, 4);
    click(key_mouseleft, 6.2f, 3.1f);
    EXPECT_EQ(gui_selectedlayer, upper);
}

TEST_F(Picking, HiddenOtherGroupAndSelectedLayersAreNeverPicked)
{
    int hidden = layer(3, 3, 2, 2);
    project.layers[hidden].flags |= layer_hidden;
    int other = layer(6, 3, 2, 2);
    project.layers[other].groups = 2;
    int selected = layer(9, 3, 2, 2);
    int keep = layer(1, 1, 1, 1);
    struct Case {
        const char *name;
        float x;
    };
    const Case cases[] = {{"hidden", 3.0f}, {"other group", 6.0f}, {"selected", 9.0f}};
    for (const Case &c : cases) {
        gui_selectedlayer = c.x == 9.0f ? selected : keep;
        int before = gui_selectedlayer;
        click(key_mouseleft, c.x, 3.0f);
        EXPECT_EQ(gui_selectedlayer, before) << c.name;
    }
}

TEST_F(Picking, WhatCountsAsAClick)
{
    int s = layer(6, 3, 4, 4);
    struct Case {
        const char *name;
        float dx, dy, zoom;
        bool click;
    };
    const Case cases[] = {
        {"still", 0, 0, 0, true},
        {"2 pixels", 2, 0, 0, true},
        {"2.01 pixels", 2.01f, 0, 0, false},
        {"zoom of 2 units", 0, 0, 2.0f, true},
        {"zoom of 2.5 units", 0, 0, 2.5f, false},
    };
    for (const Case &c : cases) {
        gui_selectedlayer = -1;
        view_camera.distance = 10.0f;
        view_layeroutlines();
        int px, py;
        pixel(6.0f, 3.0f, &px, &py);
        input_mouse[0] = px;
        input_mouse[1] = py;
        key(key_mouseleft, 1, 0);
        view_mouse();
        view_press.x -= c.dx;
        view_press.y -= c.dy;
        view_camera.distance += c.zoom;
        key(key_mouseleft, 0, 1);
        view_mouse();
        EXPECT_EQ(gui_selectedlayer, c.click ? s : -1) << c.name;
    }
}

TEST_F(Picking, RightClickDropsTheSelection)
{
    int s = layer(6, 3, 4, 4);
    gui_selectedlayer = s;
    click(key_mouseright, 11.0f, 5.5f);
    EXPECT_EQ(gui_selectedlayer, -1);
    gui_selectedlayer = s;
    click(key_mouseright, 11.0f, 5.5f, 3.0f);
    EXPECT_EQ(gui_selectedlayer, s) << "a zoom between press and release is no click";
}

TEST_F(Picking, EditModesAndTheInterfaceStopPicking)
{
    int s = layer(6, 3, 4, 4);
    struct Case {
        const char *name;
        int raster, paths, text, hot;
        bool fail;
    };
    const Case cases[] = {
        {"raster tool", 2, -1, -1, -1, true},
        {"path editing", -1, 0, -1, -1, true},
        {"text editing", -1, -1, 3, -1, false},
        {"pointer over a widget", -1, -1, -1, 77, false},
    };
    for (const Case &c : cases) {
        project_rastertool = c.raster;
        project_pathslayeredit = c.paths;
        project_textlayeredit = c.text;
        gui_hotid = c.hot;
        gui_selectedlayer = -1;
        testlog_capture local;
        click(key_mouseleft, 6.0f, 3.0f);
        EXPECT_EQ(gui_selectedlayer, -1) << c.name;
        EXPECT_EQ(local.contains("!!! FAIL set:-1 active:-1"), c.fail) << c.name;
        project_rastertool = -1;
        project_pathslayeredit = -1;
        project_textlayeredit = -1;
        gui_hotid = -1;
        view_mouse(); // the edit mode ends
    }
    click(key_mouseleft, 6.0f, 3.0f);
    EXPECT_EQ(gui_selectedlayer, s);
}

// ---------------------------------------------------------------- brute force

struct quad {
    double x[4], y[4];
};

bool inside(const quad &q, double px, double py)
{
    bool in = false;
    for (int i = 0, j = 3; i < 4; j = i++)
        if ((q.y[i] > py) != (q.y[j] > py) &&
            px < (q.x[j] - q.x[i]) * (py - q.y[i]) / (q.y[j] - q.y[i]) + q.x[i])
            in = !in;
    return in;
}

double edgedistance(const quad &q, double px, double py)
{
    double best = 1e30;
    for (int i = 0, j = 3; i < 4; j = i++) {
        double dx = q.x[i] - q.x[j], dy = q.y[i] - q.y[j], l2 = dx * dx + dy * dy;
        double t = l2 > 0 ? std::clamp(((px - q.x[j]) * dx + (py - q.y[j]) * dy) / l2, 0.0, 1.0) : 0.0;
        double ex = q.x[j] + t * dx - px, ey = q.y[j] + t * dy - py;
        best = std::min(best, std::sqrt(ex * ex + ey * ey));
    }
    return best;
}

// The layer's bottom corners in device coordinates by the test's own
// transform: turn by the angle about -Z (x' = x cos + y sin, y' = -x sin +
// y cos), then the camera matrix with the divide by w.
quad projectlayer(const project_layer &l, const double *camera)
{
    quad q;
    const double cs[4][2] = {{-0.5, 0.5}, {0.5, 0.5}, {0.5, -0.5}, {-0.5, -0.5}};
    double a = l.rotation * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    for (int i = 0; i < 4; i++) {
        double lx = cs[i][0] * l.size[0], ly = cs[i][1] * l.size[1];
        double world[4] = {l.pos[0] + lx * c + ly * s, l.pos[1] - lx * s + ly * c, l.pos[2], 1.0}, out[4];
        vrec_apply(out, camera, world);
        q.x[i] = out[0] / out[3];
        q.y[i] = out[1] / out[3];
    }
    return q;
}

TEST_F(Picking, AgreesWithBruteForce)
{
    std::mt19937 rng(54);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    int picks = 0;
    for (int camera = 0; camera < 2; camera++) {
        for (int round = 0; round < 20; round++) {
            SetUp();
            if (camera)
                vrec_perspective(vrec.projection, 2.0, 0.6, 6.0, 3.0, 8.0);
            int n = 3 + (int)(u(rng) * 10.0f);
            for (int k = 0; k < n; k++) {
                int s = layer(12.0f * u(rng), 6.0f * u(rng), 0.3f + 6.0f * u(rng), 0.3f + 4.0f * u(rng),
                              360.0f * u(rng) - 180.0f);
                project_layer &l = project.layers[s];
                l.pos[2] = 0.5f * u(rng);
                if (u(rng) < 0.3f)
                    l.flags |= layer_mirrorx;
                if (u(rng) < 0.3f)
                    l.flags |= layer_mirrory;
                if (u(rng) < 0.1f)
                    l.flags |= layer_hidden;
                if (u(rng) < 0.1f)
                    l.groups = 4;
            }
            view_layeroutlines();
            double m[16];
            vrec.mvp(m);
            for (int c = 0; c < 40; c++) {
                double px = 2.0 * u(rng) - 1.0, py = 2.0 * u(rng) - 1.0;
                int expected = -1;
                float bestarea = 999999.0f;
                bool nearedge = false;
                for (int i = 0; i < project_maxlayers; i++) {
                    const project_layer &l = project.layers[i];
                    if (l.type == layer_free || (l.flags & layer_hidden) || !(l.groups & 1u))
                        continue;
                    quad q = projectlayer(l, m);
                    nearedge |= edgedistance(q, px, py) < 1e-4;
                    float area = l.size[0] * l.size[1];
                    if (inside(q, px, py) && area <= bestarea) {
                        bestarea = area;
                        expected = i;
                    }
                }
                if (nearedge)
                    continue;
                testlog_capture quiet;
                EXPECT_EQ(view_picklayer((float)px, (float)py), expected)
                    << (camera ? "perspective" : "orthographic") << " round " << round << " at " << px << ","
                    << py;
                picks += expected >= 0;
            }
        }
    }
    EXPECT_GT(picks, 200) << "most clicks land on a layer";
}

} // namespace
