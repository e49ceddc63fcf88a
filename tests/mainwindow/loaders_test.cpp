// The layer loaders, answered through the open-dialog seam: where the
// layers land (checked against svgelements', numpy's and ezdxf's measures
// of the same files through the placement rules), the undo event of each
// loader replayed both ways, and the files that must give no layer at all.
#include "importfixtures.h"
#include "mainwindowfixture.h"
#include "testenv.h"
#include "testtemp.h"

#include "mainwindow/import/dxf.h"
#include "mainwindow/import/loaders.h"
#include "sys/config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

struct box {
    double x0, y0, x1, y1;
    double w() const { return x1 - x0; }
    double h() const { return y1 - y0; }
};
struct placed {
    double pos[2], size[2];
};

// A box too thin to have an area is grown by 5 % of its longer side.
box grown(box b)
{
    if (b.w() * b.h() < 0.001) {
        double g = 0.05 * std::max(b.w(), b.h());
        b = {b.x0 - g, b.y0 - g, b.x1 + g, b.y1 + g};
    }
    return b;
}

// Where the boxes of one file's paths land: fitted together into the
// canvas, or scaled by unit with the file's origin at the canvas centre.
std::vector<placed> placement(const std::vector<box> &boxes, bool fit, double unit)
{
    box sum = boxes.at(0);
    for (const box &b : boxes)
        sum = {std::min(sum.x0, b.x0), std::min(sum.y0, b.y0), std::max(sum.x1, b.x1), std::max(sum.y1, b.y1)};
    const double c0 = project.size[0], c1 = project.size[1];
    double sx = unit, sy = unit, ox = 0.5 * c0, oy = 0.5 * c1, mx = 0, my = 0;
    if (fit) {
        double a = sum.h() / sum.w();
        mx = sum.x0;
        my = sum.y0;
        if (project.aspect > a) {
            sx = c0 / sum.w();
            sy = a * c0 / sum.h();
            ox = 0;
            oy = 0.5 * c1 - 0.5 * a * c0;
        } else {
            sy = c1 / sum.h();
            sx = c1 / a / sum.w();
            oy = 0;
            ox = 0.5 * c0 - 0.5 * c1 / a;
        }
    }
    std::vector<placed> out;
    for (const box &b : boxes)
        out.push_back({{(0.5 * (b.x0 + b.x1) - mx) * sx + ox, (0.5 * (b.y0 + b.y1) - my) * sy + oy},
                       {b.w() * sx, b.h() * sy}});
    return out;
}

int modelsinuse()
{
    int n = 0;
    for (const model &m : models)
        n += m.sz_verts != 0;
    return n;
}

class Loaders : public MainWindow {
public:
    static inline std::string folder;
    static inline std::map<std::string, std::vector<fixture_record>> records;
    scoped_env env;

    static void SetUpTestSuite()
    {
        folder = testtemp_folder("loaders");
        for (const char *kind : {"stl", "dxf", "png"})
            records[kind] = fixtures_make(folder, {kind, folder}, "loader_fixtures.py");
        records["svg"] = fixtures_make(folder, {"svg", folder, "100", "1"}, "loader_fixtures.py");
        for (const char *name : {"empty.svg", "empty.dxf", "empty.stl", "drawing.Svg"})
            fclose(fopen((folder + "/" + name).c_str(), "wb"));
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(folder); }

    void SetUp() override
    {
        MainWindow::SetUp();
        // The DXF reader asks whether to combine its layers: never here.
        env.set("KERFMILL_MSGBOX_ANSWERS", "no");
        inches();
        project.path[0] = '\0';
        project_hasfile = 0;
        gui_setdialog(14);
    }

    static void inches()
    {
        project.units = 1;
        project.scale = 1.0f;
        const float size[3] = {12.0f, 6.0f, 1.5f};
        memcpy(project.size, size, sizeof(size));
    }
    static void metric()
    {
        project.units = 2;
        project.scale = 1.0f / 25.4f;
        const float size[3] = {300.0f, 150.0f, 20.0f};
        memcpy(project.size, size, sizeof(size));
    }

    static std::string file(const std::string &name) { return folder + "/" + name; }
    static int load(int (*loader)(), const std::string &name)
    {
        dialogpaths({file(name)});
        return loader();
    }
    static const fixture_record &record(const std::string &kind, const std::string &name, const std::string &extra = "")
    {
        for (const fixture_record &r : records[kind])
            if (r.fields.at(1) == name && (extra.empty() || r.fields.at(2) == extra))
                return r;
        ADD_FAILURE() << "no fixture record for " << kind << " " << name;
        static fixture_record none{{"", "", "", "0", "0", "0", "0", "0", "0"}};
        return none;
    }
    static std::vector<int> usedslots()
    {
        std::vector<int> slots;
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                slots.push_back(i);
        return slots;
    }
    // The newest event undone gives back the project as it was before the
    // load, and redone gives back the project as it is now, byte for byte.
    void expectundoredo(const std::string &before)
    {
        const event e = lastevent();
        std::string after = dump();
        ASSERT_EQ(project_applystate(1, e.type, e.aux, (int32_t)e.oldsize, e.olddata), 1);
        EXPECT_TRUE(same(dump(), before));
        ASSERT_EQ(project_applystate(0, e.type, e.aux, (int32_t)e.newsize, e.newdata), 1);
        EXPECT_TRUE(same(dump(), after));
    }
    // The layer's placement against the expected one, within 1e-4 of the
    // canvas on each axis.
    static void expectplaced(int slot, const placed &want)
    {
        const project_layer &l = project.layers[slot];
        for (int a = 0; a < 2; a++) {
            double tol = 1e-4 * project.size[a];
            EXPECT_NEAR(l.pos[a], want.pos[a], tol) << "position " << a;
            EXPECT_NEAR(l.size[a], want.size[a], tol) << "size " << a;
        }
        EXPECT_EQ(l.pos[2], 0.0f);
        EXPECT_EQ(l.size[2], project.size[2]);
    }
};

// ------------------------------------------------------------- images

TEST_F(Loaders, ImageAtItsOwnScaleTakesOneCanvasPixelPerPixel)
{
    struct Case {
        bool metric, fit;
        float w, h;
    };
    const Case cases[] = {
        {false, false, 10.0f, 5.0f},
        {true, false, 254.0f, 127.0f}, // not 10 x 5 mm
        {false, true, 12.0f, 6.0f},
    };
    const fixture_record &png = record("png", "picture.png");
    ASSERT_EQ(png.num(2), 1000);
    for (const Case &c : cases) {
        SetUp();
        SCOPED_TRACE(std::string(c.metric ? "metric" : "inches") + (c.fit ? " fitted" : ""));
        if (c.metric)
            metric();
        cfg_seti(cfg_fittocanvas, c.fit);
        ASSERT_EQ(load(layer_loadimage, "picture.png"), 1);
        ASSERT_EQ(usedslots(), std::vector<int>{0});
        const project_layer &l = project.layers[0];
        EXPECT_EQ(l.type, layer_raster);
        EXPECT_NEAR(l.size[0], c.w, 1e-4 * c.w);
        EXPECT_NEAR(l.size[1], c.h, 1e-4 * c.h);
        EXPECT_EQ(l.size[2], project.size[2]);
        EXPECT_FLOAT_EQ(l.aspect, 0.5f);
        EXPECT_STREQ(l.name, "picture.png");
        EXPECT_EQ(l.groups, 1u);
        ASSERT_NE(l.data.img, nullptr);
        EXPECT_EQ(l.data.img->width, 1000);
        // Levelled: the picture's darkest and lightest grey become 0 and 1.
        const float *px = (const float *)l.data.img->pixels;
        auto [lo, hi] = std::minmax_element(px, px + 1000 * 500);
        EXPECT_FLOAT_EQ(*lo, 0.0f);
        EXPECT_FLOAT_EQ(*hi, 1.0f);
        EXPECT_EQ(gui_selectedlayer, 0);
        EXPECT_EQ(gui_dialogid, 0);
        EXPECT_EQ(lastevent().type, event_layeraddremove);
        EXPECT_EQ(lastevent().aux, 0);
        EXPECT_TRUE(log.contains("layer_loadimage: " + file("picture.png")));
        EXPECT_TRUE(log.contains("...loaded image to layer[00] \"picture.png\""));
        EXPECT_TRUE(log.contains("layer[00] event (remove:0)"));
    }
}

TEST_F(Loaders, ChosenFileStartsTheNextDialogAndNamesAnUntitledProject)
{
    ASSERT_EQ(load(layer_loadimage, "picture.png"), 1);
    EXPECT_EQ(std::string(cfg_gettext(cfg_openpath)), file("picture.png"));
    EXPECT_EQ(std::string(project.path), file("picture.png"));
    EXPECT_EQ(project_hasfile, 0u);

    // A project with a path of its own keeps it.
    snprintf(project.path, sizeof(project.path), "/work/box.kfm");
    gui_setdialog(14);
    ASSERT_EQ(load(layer_loadmodel, "solid_binary.stl"), 1);
    EXPECT_STREQ(project.path, "/work/box.kfm");
    EXPECT_EQ(std::string(cfg_gettext(cfg_openpath)), file("solid_binary.stl"));
}

// ------------------------------------------------------------- models

TEST_F(Loaders, StlExtentsAndAspectAreNumpys)
{
    static std::vector<int> built;
    for (const char *name : {"solid_binary.stl", "solid_ascii.stl"}) {
        for (int fit = 0; fit < 2; fit++) {
            SetUp();
            layer_meshmodel = [](int mesh) {
                built.push_back(mesh);
                return 7;
            };
            built.clear();
            SCOPED_TRACE(std::string(name) + (fit ? " fitted" : ""));
            cfg_seti(cfg_fittocanvas, fit);
            const fixture_record &r = record("stl", name);
            double ext[3] = {r.num(5) - r.num(2), r.num(6) - r.num(3), r.num(7) - r.num(4)};
            ASSERT_EQ(load(layer_loadmodel, name), 1);
            const project_layer &l = project.layers[0];
            ASSERT_EQ(l.type, layer_model);
            EXPECT_NEAR(l.aspect, ext[1] / ext[0], 1e-5);
            if (fit) {
                // The canvas is wider than the model: the height is filled,
                // and depth follows the same scale.
                ASSERT_LT(project.aspect, l.aspect);
                EXPECT_FLOAT_EQ(l.size[1], project.size[1]);
                EXPECT_NEAR(l.size[0], project.size[1] / (ext[1] / ext[0]), 1e-4);
                EXPECT_NEAR(l.size[2], std::min(ext[2] * l.size[0] / ext[0], (double)project.size[2]), 1e-4);
            } else {
                for (int a = 0; a < 3; a++)
                    EXPECT_NEAR(l.size[a], ext[a], 1e-5) << a;
            }
            EXPECT_EQ(built, std::vector<int>{l.data.mesh});
            EXPECT_EQ(l.rendermodel, 7);
            EXPECT_EQ(project_meshuses[l.data.mesh], 1u);
            EXPECT_TRUE(log.contains("...loaded model layer[0] \"" + std::string(name) + "\""));
        }
    }
}

// ------------------------------------------------------------ vectors

// Every SVG drawing, fitted or not, in pixels or physical units, in inch and
// metric projects: one layer where svgelements' box says.
TEST_F(Loaders, SvgLayersLandWhereSvgelementsMeasures)
{
    for (const char *name : {"lines.svg", "oneline.svg", "rects.svg", "circles.svg", "group.svg", "millimetres.svg"}) {
        for (int variant = 0; variant < 8; variant++) {
            bool fit = variant & 1, physical = variant & 2, inmetric = variant & 4;
            SetUp();
            if (inmetric)
                metric();
            // Drawing units become project units: a canvas that holds them.
            if (physical) {
                project.size[0] = 600.0f;
                project.size[1] = 300.0f;
            }
            cfg_seti(cfg_fittocanvas, fit);
            cfg_seti(cfg_physicalsvgunits, physical);
            SCOPED_TRACE(std::string(name) + (fit ? " fitted" : "") + (physical ? " physical" : "") +
                         (inmetric ? " metric" : ""));
            const fixture_record &r = record("svg", name, physical ? "1" : "100");
            // The reader moves the drawing to start at (0, 0) and turns y up.
            box b = grown({0, -(r.num(6) - r.num(4)), r.num(5) - r.num(3), 0});
            double unit = physical ? 1.0 : 1.0 / (project.ppi * project.scale);
            ASSERT_EQ(load(layer_loadpaths, name), 1);
            ASSERT_EQ(usedslots(), std::vector<int>{0});
            EXPECT_EQ(project.layers[0].type, layer_paths);
            expectplaced(0, placement({b}, fit, unit)[0]);
            EXPECT_NEAR(project.layers[0].aspect, b.h() / b.w(), 1e-4 * b.h() / b.w());
            EXPECT_EQ(lastevent().type, event_layeraddmulti);
            EXPECT_EQ(lastevent().aux, 1);
            EXPECT_EQ(gui_dialogid, 0);
            // Vectors leave the selection as it was.
            EXPECT_EQ(gui_selectedlayer, -1);
        }
    }
}

TEST_F(Loaders, OneLineSvgGetsAFivePercentBox)
{
    cfg_seti(cfg_fittocanvas, 0);
    cfg_seti(cfg_physicalsvgunits, 1);
    ASSERT_EQ(load(layer_loadpaths, "oneline.svg"), 1);
    const project_layer &l = project.layers[0];
    EXPECT_NEAR(l.size[0], 220.0, 1e-3); // 200 px and 10 px on each side
    EXPECT_NEAR(l.size[1], 20.0, 1e-3);
    EXPECT_TRUE(log.contains("vector shape[0] bounds = (-10.000000,-10.000000)(210.000000,10.000000)"));
}

// Three layers of one drawing keep their places relative to each other, as
// ezdxf measures them, fitted or not; one undo takes all three away.
TEST_F(Loaders, DxfLayersKeepTheirPlacesAndUndoAsOne)
{
    for (int fit = 0; fit < 2; fit++) {
        SetUp();
        SCOPED_TRACE(fit ? "fitted" : "own scale");
        cfg_seti(cfg_fittocanvas, fit);
        std::vector<box> boxes;
        for (const fixture_record &r : records["dxf"])
            boxes.push_back({r.num(3), r.num(4), r.num(5), r.num(6)});
        ASSERT_EQ(boxes.size(), 3u);
        std::vector<placed> want = placement(boxes, fit, 1.0);
        std::string before = dump();
        uint32_t events = event_end;
        ASSERT_EQ(load(layer_loadpaths, "three.dxf"), 1);
        ASSERT_EQ(usedslots(), (std::vector<int>{0, 1, 2}));
        // The layers are told apart by their sizes.
        for (const placed &p : want) {
            int match = -1;
            for (int s = 0; s < 3; s++)
                if (std::fabs(project.layers[s].size[0] - p.size[0]) < 1e-3 &&
                    std::fabs(project.layers[s].size[1] - p.size[1]) < 1e-3)
                    match = s;
            ASSERT_NE(match, -1) << p.size[0] << " x " << p.size[1];
            expectplaced(match, p);
        }
        ASSERT_EQ(event_end, events + 1);
        const event &e = lastevent();
        EXPECT_EQ(e.type, event_layeraddmulti);
        EXPECT_EQ(e.aux, 3);
        EXPECT_EQ(e.oldsize, 12u);
        expectundoredo(before);
    }
}

// Read with an empty table, placed into one with two free slots: two
// layers and one event naming just them.
TEST_F(Loaders, DxfIntoTwoFreeSlotsMakesTwoLayersAndOneEvent)
{
    std::vector<path *> paths(dxf_maxlayers, nullptr);
    ASSERT_EQ(sys_loadDXF(file("three.dxf").c_str(), paths.data()), 3);
    for (int i = 0; i < project_maxlayers - 2; i++)
        ASSERT_GE(anylayer(1 + i % 4, 0.1f * (float)(i % 7)), 0);
    std::string before = dump();
    uint32_t events = event_end;
    EXPECT_EQ(layer_placepaths(paths.data(), 3, 0, file("three.dxf").c_str()), 2);
    EXPECT_EQ(numlayers, project_maxlayers);
    EXPECT_TRUE(log.contains("project_layeralloc: canvas layers overflow!"));
    ASSERT_EQ(event_end, events + 1);
    const event &e = lastevent();
    EXPECT_EQ(e.type, event_layeraddmulti);
    EXPECT_EQ(e.aux, 2);
    expectundoredo(before);
}

// ----------------------------------------------------------- undo/redo

// Beside a selected raster-layer and a paths-layer, each loader's new layer
// goes right after the selection; its one event undoes exactly it and
// redoes it byte for byte.
TEST_F(Loaders, EachLoadUndoesAndRedoesExactly)
{
    struct Case {
        int (*loader)();
        const char *file;
        int type;
    };
    const Case cases[] = {
        {layer_loadimage, "picture.png", layer_raster},
        {layer_loadmodel, "solid_ascii.stl", layer_model},
        {layer_loadpaths, "group.svg", layer_paths},
        {layer_loadpaths, "three.dxf", layer_paths},
    };
    for (const Case &c : cases) {
        SetUp();
        SCOPED_TRACE(c.file);
        ASSERT_EQ(rasterlayer(0.25f), 0);
        ASSERT_EQ(pathslayer(2, 0.1f), 1);
        selectlayer(0);
        std::string before = dump();
        uint32_t events = event_end;
        project_canvasjob.requested = 0;
        ASSERT_EQ(load(c.loader, c.file), 1);
        EXPECT_NE(project_canvasjob.requested.load(), 0u) << "the canvas is not composed with the new layer";
        EXPECT_EQ(project.layers[1].type, c.type);
        EXPECT_EQ(project.layers[numlayers - 1].type, layer_paths); // the old paths-layer moved up
        ASSERT_EQ(event_end, events + 1);
        expectundoredo(before);
    }
}

// --------------------------------------------------------- bad input

TEST_F(Loaders, BadFilesMakeNoLayerAndNoEvent)
{
    struct Case {
        int (*loader)();
        const char *file;
        const char *status; // the status line, or "" for a log-only failure
        const char *logged;
    };
    const Case cases[] = {
        {layer_loadimage, "empty.png", "...failed to load image", "layer_loadimage: "},
        {layer_loadimage, "truncated.png", "...failed to load image", "layer_loadimage: "},
        {layer_loadimage, "huge.png", "...failed to load image", "100000"},
        {layer_loadmodel, "degenerate.stl", "", "...failed to load model"},
        {layer_loadmodel, "flat.stl", "", "has no extent in x or y"},
        {layer_loadmodel, "empty.stl", "", "...failed to load model"},
        {layer_loadpaths, "onepoint.svg", "...failed to load paths", "vector shape[0] of"},
        {layer_loadpaths, "empty.svg", "...failed to load paths", "sys_loadSVG"},
        {layer_loadpaths, "faces.dxf", "...failed to load paths", "loaded \""},
        {layer_loadpaths, "empty.dxf", "...failed to load paths", "loaded \""},
        {layer_loadpaths, "drawing.Svg", "...failed to load paths", "unknown vector format: \""},
    };
    for (const Case &c : cases) {
        SetUp();
        SCOPED_TRACE(c.file);
        ASSERT_EQ(rasterlayer(0.5f), 0);
        selectlayer(0);
        std::string before = dump();
        uint32_t events = event_end;
        project_canvasjob.requested = 0;
        EXPECT_EQ(load(c.loader, c.file), 0);
        EXPECT_EQ(project_canvasjob.requested.load(), 0u);
        EXPECT_TRUE(same(dump(), before));
        EXPECT_EQ(event_end, events);
        EXPECT_EQ(modelsinuse(), 0);
        EXPECT_EQ(gui_dialogid, 14);
        EXPECT_STREQ(sys_statustext, c.status);
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
        if (c.loader != layer_loadpaths)
            EXPECT_EQ(gui_selectedlayer, -1);
    }
}

TEST_F(Loaders, ACancelledDialogOnlyLogs)
{
    for (int (*loader)() : {layer_loadimage, layer_loadpaths, layer_loadmodel}) {
        SetUp();
        cfg_settext(cfg_openpath, "/home/me/last.png");
        ASSERT_EQ(rasterlayer(0.5f), 0);
        selectlayer(0);
        std::string before = dump();
        uint32_t events = event_end;
        dialogpaths({""});
        EXPECT_EQ(loader(), 0);
        EXPECT_TRUE(log.contains("failed to get fileopen path"));
        EXPECT_TRUE(same(dump(), before));
        EXPECT_EQ(event_end, events);
        EXPECT_EQ(gui_dialogid, 14);
        EXPECT_EQ(gui_selectedlayer, 0);
        EXPECT_STREQ(cfg_gettext(cfg_openpath), "/home/me/last.png");
        EXPECT_STREQ(project.path, "");
        EXPECT_STREQ(sys_statustext, "");
    }
}

} // namespace
