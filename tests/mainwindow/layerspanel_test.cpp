// The Canvas Layers panel in the real main window (headless harness): the
// empty list, the move, merge and duplicate rules, group and visibility
// toggles with their events and canvas requests, the visible rows, names
// cut to their cell, removal with its question and the Delete key; and the
// undo and redo of each change, replayed by the viewport's undo step, which
// must give back byte-identical layer blobs.
#include "geom/path.h"
#include "img/image.h"
#include "mainwindow/layerspanel.h"
#include "project/layertex.h"
#include "shellscene.h"
#include "sys/config.h"
#include "sys/input.h"
#include "view/layerfollow.h"
#include "view/results.h"

#include <cmath>

namespace {

constexpr int key_delete = 78;

class LayersPanel : public ShellScene {
protected:
    void SetUp() override
    {
        ShellScene::SetUp();
        mainwindow_panels[panel_canvas] = layerspanel_draw;
        resetrequests();
        harness_rec.boxanswer = 1;
        harness_frame();
    }
    void TearDown() override
    {
        harness_rec.boxanswer = 1;
        project_canvasjob.updating = 0;
        layer_texrefreshes = 0;
        ShellScene::TearDown();
    }

    static void resetrequests()
    {
        project_canvasjob.requested = 0;
        project_canvasjob.rebuildmodels = 0;
        project_canvasjob.mode = 0;
        project_canvasjob.group = 0;
        view_redraw = 0;
    }
    // Selects as the viewport would, then draws a frame.
    static void pick(int slot)
    {
        selectlayer(slot);
        harness_frame();
    }
    static std::string blobof(int slot)
    {
        int32_t size = 0;
        uint8_t *b = layer_blob(slot, &size);
        std::string s(b ? (const char *)b : "", b ? (size_t)size : 0);
        sys_free(b);
        // The record's handles name slots and blocks of this run, and the
        // stale flag is raised by every replay; the data follows in the blob.
        if (s.size() >= sizeof(project_layer)) {
            auto clear = [&s](size_t at, size_t n) { s.replace(at, n, n, '\0'); };
            clear(offsetof(project_layer, rendermodel), 4);
            clear(offsetof(project_layer, data), sizeof(project_layerdata));
            clear(offsetof(project_layer, depth), sizeof(image *));
            clear(offsetof(project_layer, stale), 4);
        }
        return s;
    }
    // Every used slot's blob, in slot order.
    static std::vector<std::string> blobs()
    {
        std::vector<std::string> out;
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                out.push_back(blobof(i));
        return out;
    }
    // One undo or redo served by the viewport's step.
    static void step(int undo)
    {
        (undo ? gui_undorequest : gui_redorequest) = 1;
        view_undoredo();
    }
    // The next message boxes answer Yes (1) or No (0) through the seam.
    void answer(int yes)
    {
        env.set("KERFMILL_MSGBOX_ANSWERS", yes ? "yes" : "no");
        plat_seamreset();
    }
    static void layers(int n)
    {
        for (int i = 0; i < n; i++)
            ASSERT_GE(rasterlayer(0.01f * (float)i), 0);
    }
};

TEST_F(LayersPanel, EmptyProjectShowsTheEmptyListAndDisabledActions)
{
    EXPECT_TRUE(drawn("( No Canvas Layers )"));
    EXPECT_TRUE(drawn("Canvas Actions"));
    EXPECT_TRUE(drawn("Canvas Layers (0)"));
    for (const char *name : {"canvas_duplicatelayer", "canvas_mergedownlayer", "canvas_moveuplayer",
                             "canvas_movedownlayer"}) {
        EXPECT_FALSE(harness_present(name)) << name << " is a label with nothing selected";
    }
    EXPECT_TRUE(drawn("Duplicate Layer")) << "drawn as a label";
    EXPECT_TRUE(harness_present("canvas_addlayer"));
}

TEST_F(LayersPanel, HeadButtonsOpenTheirPanelsAndTheAddDialog)
{
    layers(1);
    pick(0);
    ASSERT_TRUE(drawn("Raster-Layer Actions"));
    ASSERT_TRUE(harness_click("canvas_appearance"));
    EXPECT_EQ(gui_sidepanel, 3);
    EXPECT_EQ(gui_selectedlayer, -1);
    pick(0);
    ASSERT_TRUE(harness_click("canvas_properties"));
    EXPECT_EQ(gui_sidepanel, 2);
    EXPECT_EQ(gui_selectedlayer, -1);
    ASSERT_TRUE(harness_click("canvas_addlayer"));
    EXPECT_EQ(gui_dialogid, 14);
}

TEST_F(LayersPanel, MovesSwapNeighboursWithTheirEventAndTheSelectionFollows)
{
    struct Case {
        int count, selected;
        const char *button;
        int aux; // the event's pair, -1 no move
        int after;
    };
    const Case cases[] = {
        {3, 1, "canvas_moveuplayer", 1, 2},
        {3, 1, "canvas_movedownlayer", 0, 0},
        {3, 2, "canvas_moveuplayer", -1, 2},    // the top used slot
        {3, 0, "canvas_movedownlayer", -1, 0},  // the bottom
        {64, 63, "canvas_moveuplayer", -1, 63}, // the last slot of the table
        {64, 63, "canvas_movedownlayer", 62, 62},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.button) + " from " + std::to_string(c.selected));
        SetUp();
        layers(c.count);
        project.layers[c.selected].groups = 1;
        pick(c.selected);
        uint32_t uid = project.layers[c.selected].uid;
        uint32_t end = event_end;
        resetrequests();
        ASSERT_TRUE(harness_click(c.button));
        EXPECT_EQ(gui_selectedlayer, c.after);
        EXPECT_EQ(project.layers[c.after].uid, uid);
        if (c.aux < 0) {
            EXPECT_EQ(event_end, end) << "no event";
            continue;
        }
        ASSERT_EQ(event_end, end + 1);
        EXPECT_EQ(lastevent().type, event_layerswapnext);
        EXPECT_EQ(lastevent().aux, c.aux);
        EXPECT_EQ(project_canvasjob.requested.load(), 1u) << "a shown layer moved";
        EXPECT_EQ(project_canvasjob.rebuildmodels.load(), 1u);
    }
}

TEST_F(LayersPanel, MovesAreLabelsWhileAJobReadsTheLayers)
{
    layers(2);
    pick(0);
    ASSERT_TRUE(harness_present("canvas_moveuplayer"));
    std::function<void(int)> busy[] = {
        [](int on) { project_canvasjob.updating = (uint32_t)on; },
        [](int on) { project.generating[0] = on; },
        [](int on) { layer_texrefreshes = on; },
        [](int on) { project_savebusy = on; },
    };
    for (auto &set : busy) {
        set(1);
        harness_frame();
        EXPECT_FALSE(harness_present("canvas_moveuplayer"));
        EXPECT_FALSE(harness_present("canvas_movedownlayer"));
        set(0);
    }
}

TEST_F(LayersPanel, MergeDownOnlyOntoTheSameRasterOrPathsType)
{
    struct Case {
        int below, above, selected;
        bool enabled;
    };
    const Case cases[] = {
        {layer_raster, layer_raster, 1, true},  {layer_paths, layer_paths, 1, true},
        {layer_model, layer_model, 1, false},   {layer_text, layer_text, 1, false},
        {layer_raster, layer_paths, 1, false},  {layer_raster, layer_raster, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("types " + std::to_string(c.below) + "," + std::to_string(c.above) + " selected " +
                     std::to_string(c.selected));
        SetUp();
        ASSERT_EQ(anylayer(c.below, 0.2f), 0);
        ASSERT_EQ(anylayer(c.above, 0.7f), 1);
        pick(c.selected);
        EXPECT_EQ(harness_present("canvas_mergedownlayer"), c.enabled);
        if (c.enabled) {
            ASSERT_TRUE(harness_click("canvas_mergedownlayer"));
            EXPECT_EQ(project_mergedownlayer, c.selected);
        }
    }
}

int meshmodels = 0;
int countmeshmodel(int)
{
    return 200 + meshmodels++;
}

TEST_F(LayersPanel, DuplicateCopiesEachTypeWithItsOwnDataAndUndoesExactly)
{
    for (int type = layer_raster; type <= layer_text; type++) {
        SCOPED_TRACE("type " + std::to_string(type));
        SetUp();
        layer_meshmodel = countmeshmodel;
        int s = anylayer(type, 0.7f);
        ASSERT_EQ(s, 0);
        project_layer &src = project.layers[s];
        snprintf(src.name, sizeof(src.name), "Relief");
        src.groups = 1;
        src.rendermodel = 150;
        src.depth = img_allocfloat("depth", 4, 2);
        for (int i = 0; i < 8; i++)
            ((float *)src.depth->pixels)[i] = 0.125f * (float)i;
        if (type == layer_paths) {
            layer_bounds(s); // a loaded path is normalised; the copy is re-bounded
            path *p = src.data.pth;
            p->csel[0] = 1;
            p->ksel[0] = 3;
        }
        pick(s);
        std::string before = blobof(s);
        ASSERT_TRUE(harness_click("canvas_duplicatelayer"));
        ASSERT_EQ(numlayers, 2);
        const project_layer &a = project.layers[0], &b = project.layers[1];
        EXPECT_EQ(gui_selectedlayer, 1);
        EXPECT_STREQ(b.name, "Relief_00");
        EXPECT_NE(b.uid, a.uid);
        EXPECT_EQ(b.stale, 1u);
        ASSERT_NE(b.depth, nullptr);
        EXPECT_NE(b.depth, a.depth);
        EXPECT_EQ(memcmp(b.depth->pixels, a.depth->pixels, 32), 0);
        switch (type) {
        case layer_raster:
            ASSERT_NE(b.data.img, a.data.img);
            EXPECT_EQ(memcmp(b.data.img->pixels, a.data.img->pixels, 32 * 4), 0);
            break;
        case layer_paths: {
            ASSERT_NE(b.data.pth, a.data.pth);
            const path *p = a.data.pth, *q = b.data.pth;
            ASSERT_EQ(q->cnum, p->cnum);
            ASSERT_EQ(q->knum, p->knum);
            for (int k = 0; k < p->ksz; k++) {
                ASSERT_EQ(q->kused[k], p->kused[k]);
                for (int i = 0; p->kused[k] && i < 3; i++)
                    EXPECT_NEAR(q->knots[k].pos[i], p->knots[k].pos[i], 1e-5) << "the same knots";
            }
            for (int i = 0; i < (b.data.pth->ksz + 7) >> 3; i++)
                EXPECT_EQ(b.data.pth->ksel[i], 0) << "nothing selected in the copy";
            EXPECT_EQ(b.data.pth->csel[0], 0);
            break;
        }
        case layer_model:
            EXPECT_EQ(b.data.mesh, a.data.mesh);
            EXPECT_EQ(project_meshuses[a.data.mesh], 2u);
            EXPECT_EQ(b.rendermodel, 200) << "its own render model";
            EXPECT_EQ(a.rendermodel, 150);
            break;
        case layer_text: {
            ASSERT_NE(b.data.text, a.data.text);
            const text_object &o = text_objects[a.data.text], &p = text_objects[b.data.text];
            float q = cfg_getf(cfg_canvasquality);
            EXPECT_STREQ(p.text, o.text);
            EXPECT_EQ(p.font, o.font);
            EXPECT_EQ(p.ptsize, o.ptsize);
            EXPECT_EQ(p.spacing, o.spacing);
            EXPECT_EQ(p.drawsize, text_drawsize(o.ptsize, (float)project.ppi * (q + (1.0f - q) * 0.1f)));
            text_objects[b.data.text].busy = 0; // no worker renders here
            break;
        }
        }
        ASSERT_EQ(lastevent().type, event_layeraddremove);
        EXPECT_EQ(lastevent().aux, 1);
        EXPECT_EQ(lastevent().olddata, nullptr);
        std::string copy = blobof(1);
        EXPECT_EQ(blobof(0), before) << "the source is untouched";

        pick(0);
        ASSERT_TRUE(harness_click("canvas_duplicatelayer"));
        EXPECT_STREQ(project.layers[1].name, "Relief_01") << "placed after the source";
        if (type == layer_text)
            text_objects[project.layers[1].data.text].busy = 0;

        for (int t = 0; t < text_maxobjects; t++)
            text_objects[t].busy = 0;
        step(1);
        step(1);
        EXPECT_EQ(numlayers, 1);
        EXPECT_EQ(blobof(0), before);
        step(0);
        ASSERT_EQ(numlayers, 2);
        EXPECT_EQ(blobof(1), copy) << "redo gives the copy back byte for byte";
        for (int t = 0; t < text_maxobjects; t++)
            text_objects[t].busy = 0;
    }
}

TEST_F(LayersPanel, DuplicateOutsideTheGroupAsksToJoinIt)
{
    for (int yes : {1, 0}) {
        SetUp();
        layers(1);
        project.layers[0].groups = 1;
        project_layergroup = 2;
        answer(yes);
        pick(0);
        testlog_capture local;
        ASSERT_TRUE(harness_click("canvas_duplicatelayer"));
        EXPECT_TRUE(local.contains("msgbox seam: \"Layer Group\" \"The duplicated layer does not belong to the "
                                   "current Layer Group. Would you like for it to be included?\""))
            << local.text();
        EXPECT_EQ(project.layers[1].groups, yes ? 5u : 1u);
        EXPECT_EQ(project_canvasjob.groupcount[2], yes ? 1u : 0u) << "the group counts follow";
    }
}

TEST_F(LayersPanel, DuplicateWhoseDataCannotBeCopiedIsNotMade)
{
    struct Case {
        int type;
        std::function<void(project_layer &)> spoil;
    };
    const Case cases[] = {
        {layer_paths, [](project_layer &l) {
             path_free(l.data.pth);
             l.data.pth = nullptr;
         }},
        {layer_text, [](project_layer &) { sys_fontorder[0] = sys_fontorder[1] = 7; }}, // no font to place it in
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        SetUp();
        ASSERT_EQ(anylayer(c.type, 0.2f), 0);
        ASSERT_EQ(rasterlayer(0.5f), 1);
        pick(0);
        std::vector<std::string> before = blobs();
        c.spoil(project.layers[0]);
        before[0] = blobof(0);
        uint32_t end = event_end;
        ASSERT_TRUE(harness_click("canvas_duplicatelayer"));
        fontorder[0] = 0;
        fontorder[1] = 1;
        EXPECT_EQ(numlayers, 2);
        EXPECT_EQ(blobs(), before) << "the table as it was";
        EXPECT_EQ(event_end, end) << "no event";
        EXPECT_TRUE(log.contains("could not be copied")) << log.text();
    }
}

TEST_F(LayersPanel, GroupAndVisibilityTogglesQueueTheirStateAndRequestTheCanvas)
{
    struct Case {
        const char *suffix;
        size_t offset; // of the one field that differs
        uint32_t expect;
        bool traceopen;
    };
    const Case cases[] = {
        {"group", offsetof(project_layer, groups), 1u | 8u, false},
        {"_showhide", offsetof(project_layer, flags), layer_hidden, false},
        {"_showhide", offsetof(project_layer, flags), layer_hidden, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.suffix) + (c.traceopen ? " with the trace dialog" : ""));
        SetUp();
        layers(2);
        project.layers[1].groups = 1;
        project.layers[1].stale = 0;
        project_layergroup = 3;
        harness_frame();
        std::vector<std::string> before = blobs();
        if (c.traceopen) {
            gui_dialogid = 17;
            gui_dialoglayer = 1;
        }
        resetrequests();
        ASSERT_TRUE(harness_click(std::string("layer01") + c.suffix));
        const event &e = lastevent();
        ASSERT_EQ(e.type, event_layerstate);
        EXPECT_EQ(e.aux, 1);
        ASSERT_EQ(e.oldsize, 296u);
        ASSERT_EQ(e.newsize, 296u);
        const uint8_t *o = (const uint8_t *)e.olddata, *n = (const uint8_t *)e.newdata;
        for (size_t i = 0; i < 296; i++)
            if (i < c.offset || i >= c.offset + 4)
                ASSERT_EQ(o[i], n[i]) << "byte " << i;
        uint32_t v;
        memcpy(&v, n + c.offset, 4);
        EXPECT_EQ(v, c.expect);
        EXPECT_EQ(project.layers[1].stale, 1u);
        if (c.traceopen) {
            EXPECT_EQ(project_canvasjob.requested.load(), 0u);
            EXPECT_EQ(view_redraw.load(), 1);
            gui_dialogid = 0;
            gui_dialoglayer = -1;
        } else {
            EXPECT_EQ(project_canvasjob.requested.load(), 1u);
            EXPECT_EQ(project_canvasjob.rebuildmodels.load(), 1u);
            EXPECT_EQ(project_canvasjob.group.load(), 3u);
        }
        std::vector<std::string> after = blobs();
        step(1);
        EXPECT_EQ(blobs(), before);
        step(0);
        EXPECT_EQ(blobs(), after);
    }
}

TEST_F(LayersPanel, GroupCellsSwitchTheGroupExceptTheCurrentOne)
{
    layers(1);
    project_layergroup = 0;
    harness_frame();
    EXPECT_FALSE(harness_present("canvas_layergroup0")) << "the current group is a label";
    resetrequests();
    ASSERT_TRUE(harness_click("canvas_layergroup4"));
    EXPECT_EQ(project_layergroup, 4);
    EXPECT_EQ(project_canvasjob.requested.load(), 1u);
    EXPECT_EQ(project_canvasjob.rebuildmodels.load(), 0u);
    EXPECT_EQ(project_canvasjob.group.load(), 4u);
    project_canvasjob.updating = 1;
    harness_frame();
    for (int g = 0; g < 10; g++)
        EXPECT_FALSE(harness_present("canvas_layergroup" + std::to_string(g))) << "labels while composing";
}

TEST_F(LayersPanel, VisibleRowsFollowHeightCountAndScroll)
{
    struct Case {
        float height;
        int count;
        float scroll;
        int first, last, scrolls;
    };
    // 5 rows of 23 px: 114 px shows 4 rows, 115 and 116 show 5.
    const Case cases[] = {
        {114, 0, 0.0f, 0, -1, 0},   {114, 1, 0.0f, 0, 0, 0},     {114, 4, 0.0f, 0, 3, 0},
        {114, 5, 0.0f, 0, 3, 1},    {114, 5, 0.5f, 1, 4, 1},     {114, 5, 1.0f, 1, 4, 1},
        {114, 64, 0.5f, 30, 33, 1}, {114, 64, 1.0f, 60, 63, 1},  {115, 5, 0.0f, 0, 4, 0},
        {115, 6, 1.0f, 1, 5, 1},    {115, 64, 0.5f, 30, 34, 1},  {115, 64, 1.0f, 59, 63, 1},
        {116, 5, 1.0f, 0, 4, 0},    {116, 6, 0.0f, 0, 4, 1},     {116, 64, 0.0f, 0, 4, 1},
    };
    for (const Case &c : cases) {
        layerspanel_window w = layerspanel_visiblerows(c.height, c.count, c.scroll);
        EXPECT_EQ(w.first, c.first) << c.height << " " << c.count << " " << c.scroll;
        EXPECT_EQ(w.last, c.last) << c.height << " " << c.count << " " << c.scroll;
        EXPECT_EQ(w.scrolls, c.scrolls) << c.height << " " << c.count << " " << c.scroll;
    }
}

TEST_F(LayersPanel, SixtyFourLayersShowTheTopOrTheBottomByScroll)
{
    layers(64);
    struct Case {
        float scroll;
        const char *shown, *hidden;
    };
    const Case cases[] = {{0.0f, "layer63", "layer00"}, {1.0f, "layer00", "layer63"}};
    for (const Case &c : cases) {
        gui_layerscroll = c.scroll;
        harness_frame();
        EXPECT_TRUE(harness_present(c.shown)) << c.scroll;
        EXPECT_FALSE(harness_present(c.hidden)) << c.scroll;
        EXPECT_TRUE(drawn("Canvas Layers (64)"));
    }
    gui_layerscroll = 0.0f;
    harness_frame();
    const rec_element *top = harness_find("layer63"), *next = harness_find("layer62");
    ASSERT_TRUE(top && next);
    EXPECT_LT(top->rect.y, next->rect.y) << "the highest slot on top";
}

TEST_F(LayersPanel, LongNamesAreCutToTheirCellAndKeptWhole)
{
    layers(1);
    const std::string name(60, 'W');
    snprintf(project.layers[0].name, sizeof(project.layers[0].name), "%s", name.c_str());
    harness_frame();
    const rec_element *cell = harness_find("layer00");
    ASSERT_NE(cell, nullptr);
    bool cut = false;
    for (const rec_text &t : harness_rec.texts)
        if (t.text.size() > 3 && t.text.compare(t.text.size() - 3, 3, "...") == 0 && t.text[0] == 'W') {
            cut = true;
            EXPECT_LE((float)t.text.size() * 7.0f, cell->rect.w) << t.text;
        }
    EXPECT_TRUE(cut);
    EXPECT_EQ(std::string(project.layers[0].name), name);

    struct Case {
        float width;
        const char *shown;
    };
    // The fixed font is 7 px a character; the icon square takes 23 px.
    const Case cases[] = {{23 + 7 * 9 + 1, "Raster_00"}, {23 + 7 * 8 + 1, "Rast..."}, {23 + 7 * 4 + 1, "..."},
                          {23 + 7 * 3 + 1, "..."},      {10, "..."}};
    for (const Case &c : cases) {
        char out[80];
        layerspanel_fitname(out, sizeof(out), "Raster_00", c.width, 0);
        EXPECT_STREQ(out, c.shown) << c.width;
    }
}

TEST_F(LayersPanel, RemoveAsksAndOnlyYesRequestsTheRemoval)
{
    for (int yes : {1, 0}) {
        SetUp();
        layers(2);
        snprintf(project.layers[1].name, sizeof(project.layers[1].name), "Top");
        answer(yes);
        harness_frame();
        testlog_capture local;
        ASSERT_TRUE(harness_click("layer01_remove"));
        EXPECT_TRUE(local.contains("msgbox seam: \"Delete Layer\" \"Are you sure you want to delete layer[01] "
                                   "\"Top\" ?\""))
            << local.text();
        EXPECT_EQ(project_removelayer, yes ? 1 : -1);
    }
}

TEST_F(LayersPanel, DeleteKeyAsksOnlyForTheSelectedRowsShownButton)
{
    struct Case {
        const char *what;
        std::function<void()> set;
        bool asks;
        bool removable; // the remove cell is a button
    };
    const Case cases[] = {
        {"selected row", [] {}, true, true},
        {"editing a field", [] { text_editstate.string = project.layers[0].name; }, false, true},
        {"editing paths", [] { project_pathslayeredit = 0; }, false, true},
        {"raster tool on", [] { project_rastertool = 0; }, false, false},
        {"nothing selected", [] { project_selectedlayer = gui_selectedlayer = -1; }, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        layers(2);
        pick(1);
        c.set();
        harness_frame();
        EXPECT_EQ(harness_present("layer01_remove"), c.removable);
        answer(1);
        testlog_capture local;
        harness_press(key_delete);
        harness_frame();
        harness_release(key_delete);
        harness_frame();
        EXPECT_EQ(local.contains("\"Delete Layer\""), c.asks) << local.text();
        EXPECT_EQ(project_removelayer, c.asks ? 1 : -1);
        text_editstate.string = nullptr;
        project_pathslayeredit = -1;
        project_rastertool = -1;
    }
}

TEST_F(LayersPanel, RemovalAndItsUndoRestoreTheLayersByteForByte)
{
    layers(3);
    project.layers[2].groups = 1;
    harness_frame();
    std::vector<std::string> before = blobs();
    ASSERT_TRUE(harness_click("layer01_remove"));
    ASSERT_EQ(project_removelayer, 1);
    view_layerfollow();
    EXPECT_EQ(project_removelayer, -1);
    EXPECT_EQ(numlayers, 2);
    EXPECT_EQ(status(), "removed layer01");
    std::vector<std::string> after = blobs();
    step(1);
    EXPECT_EQ(blobs(), before);
    step(0);
    EXPECT_EQ(blobs(), after);
}

TEST_F(LayersPanel, MoveUndoAndRedoRestoreTheOrder)
{
    layers(3);
    pick(0);
    std::vector<std::string> before = blobs();
    ASSERT_TRUE(harness_click("canvas_moveuplayer"));
    std::vector<std::string> after = blobs();
    ASSERT_NE(after, before);
    step(1);
    EXPECT_EQ(blobs(), before);
    step(0);
    EXPECT_EQ(blobs(), after);
}

TEST_F(LayersPanel, UndoAndRedoStopAtTheEndsOfTheRingOneEventAFrame)
{
    layers(2);
    pick(0);
    ASSERT_TRUE(harness_click("canvas_moveuplayer"));
    step(0);
    EXPECT_EQ(status(), "redo limit reached");
    gui_undorequest = gui_redorequest = 1;
    view_undoredo();
    EXPECT_EQ(gui_redorequest, 1) << "the redo waits for the next frame";
    EXPECT_EQ(event_position, event_end - 1);
    step(1);
    EXPECT_EQ(status(), "undo limit reached");
    EXPECT_EQ(event_position, event_oldest);
    project_canvasjob.updating = 1;
    view_undoredo();
    EXPECT_EQ(gui_redorequest, 1) << "held while the canvas is composed";
    project_canvasjob.updating = 0;
    view_undoredo();
    EXPECT_EQ(event_position, event_end);
}

} // namespace
