// Layer and canvas editors: model orientation swaps, the lock bits read
// back, the size floor, an unchanged editor, path editing in and out
// (squared without moving the drawing, degenerate curves dropped), text
// editing leaving one event, and canvas changes that move layers on X and
// Y only.
#include "undofixture.h"

#include "gui/textedit/textedit.h"
#include "sys/config.h"

#include <array>

namespace {

class Editors : public UndoProject {};

TEST_F(Editors, OrientationChoicesSwapTheModelsAxes)
{
    int s = modellayer(1.0f);
    const float size[3] = {2, 3, 1};
    memcpy(project.layers[s].size, size, sizeof(size));
    project_selectedlayer = s;
    struct Step {
        int orientation;
        float size[3];
    };
    const Step steps[] = {{1, {3, 2, 1}}, {2, {1, 3, 2}}, {0, {2, 3, 1}}, {6, {2, 1, 3}}};
    for (const Step &st : steps) {
        layer_loadeditor(&project.layers[s]);
        layer_editor.orientation = st.orientation;
        layer_applystate();
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(project.layers[s].size[i], st.size[i]) << st.orientation << " axis " << i;
        layer_loadeditor(&project.layers[s]);
        EXPECT_EQ(layer_editor.orientation, st.orientation);
    }
}

TEST_F(Editors, LockBitsReadBackAsModes)
{
    struct Case {
        uint32_t flags;
        int mode;
        const char *error;
    };
    const Case cases[] = {
        {0, 0, nullptr},
        {layer_lockx | layer_locky, 1, nullptr},
        {layer_lockx | layer_lockz, 2, nullptr},
        {layer_locky | layer_lockz, 3, nullptr},
        {layer_lockx | layer_locky | layer_lockz, 4, nullptr},
        {layer_lockz, 0, nullptr},
        {layer_lockx, 0, "bad layer lock-aspect flags! (A)"},
        {layer_locky, 0, "bad layer lock-aspect flags! (B)"},
    };
    int s = rasterlayer(0.0f);
    project_selectedlayer = s;
    for (const Case &c : cases) {
        testlog_capture local;
        project.layers[s].flags = c.flags;
        layer_loadeditor(&project.layers[s]);
        EXPECT_EQ(layer_editor.lockmode, c.mode) << c.flags;
        EXPECT_EQ(local.contains("bad layer lock-aspect"), c.error != nullptr) << c.flags;
        if (c.error)
            EXPECT_TRUE(local.contains(std::string("[ ERROR ] ") + c.error));
        // Applying the mode sets exactly its bits (a lone bit is dropped).
        layer_applystate();
        uint32_t expect = c.mode == 0 ? 0 : c.flags;
        EXPECT_EQ(project.layers[s].flags & 0xE000u, expect) << c.flags;
    }
}

TEST_F(Editors, AnUnchangedEditorQueuesEqualRecordsAndKeepsTheSavedMark)
{
    int s = modellayer(1.0f);
    project.layers[s].flags = 0x80 | layer_mirrorx | 0x400 | layer_lockx | layer_locky;
    project.layers[s].smooth = 7;
    project.layers[s].rotation = 12.5f;
    project_selectedlayer = s;
    project_saved = 1;
    layer_loadeditor(&project.layers[s]);
    uint32_t events = event_end;
    layer_applystate();
    ASSERT_EQ(event_end, events + 1);
    const event &e = lastevent();
    EXPECT_EQ(e.type, 3);
    EXPECT_EQ(e.aux, s);
    ASSERT_EQ(e.oldsize, 296u);
    ASSERT_EQ(e.newsize, 296u);
    EXPECT_EQ(memcmp(e.olddata, e.newdata, 296), 0);
    EXPECT_EQ(project_saved, 1u);
    layer_editor.pos[1] += 1.0f;
    layer_applystate();
    EXPECT_EQ(project_saved, 0u);
}

// A size at the floor becomes the grid subdivision (0.25) and the layer
// moves half of it toward the side the editor's position lies on, in the
// world, however the layer is turned.
TEST_F(Editors, ASizeAtTheFloorTakesTheGridSubdivision)
{
    struct Case {
        float rotation;
        float editorx;
        float expectx;
    };
    const Case cases[] = {{0, 7, 7.125f}, {0, 5, 4.875f}, {180, 7, 7.125f}, {0, 6, 6}};
    for (const Case &c : cases) {
        SetUp();
        cfg_setf(cfg_gridsubdiv, 0.25f);
        int s = rasterlayer(0.0f);
        project_selectedlayer = s;
        project.layers[s].rotation = c.rotation;
        layer_loadeditor(&project.layers[s]);
        layer_editor.size[0] = 0.0f;
        layer_editor.pos[0] = c.editorx;
        layer_applystate();
        EXPECT_EQ(project.layers[s].size[0], 0.25f) << c.rotation << "/" << c.editorx;
        EXPECT_NEAR(project.layers[s].pos[0], c.expectx, 1e-5) << c.rotation << "/" << c.editorx;
        EXPECT_NEAR(project.layers[s].pos[1], 3.0f, 1e-5);
        TearDown();
    }
}

TEST_F(Editors, PathEditingSquaresTheLayerWithoutMovingTheDrawing)
{
    int s = pathslayer(2, 0.1f);
    project_layer &l = project.layers[s];
    l.size[0] = 4;
    l.size[1] = 2;
    l.rotation = 30;
    l.flags |= layer_mirrory;
    project_selectedlayer = s;
    std::vector<std::array<float, 3>> world;
    path *p = l.data.pth;
    for (int k = 0; k < p->ksz; k++) {
        if (!p->kused[k])
            continue;
        std::array<float, 3> w;
        layer_transformpoint(w.data(), p->knots[k].pos, &l);
        world.push_back(w);
    }
    layer_pathedit(1);
    EXPECT_EQ(project_pathslayeredit, 0);
    EXPECT_EQ(l.size[0], 4.0f);
    EXPECT_EQ(l.size[1], 4.0f);
    size_t i = 0;
    for (int k = 0; k < p->ksz; k++) {
        if (!p->kused[k])
            continue;
        float w[3];
        layer_transformpoint(w, p->knots[k].pos, &l);
        for (int a = 0; a < 3; a++)
            EXPECT_NEAR(w[a], world[i][a], 1e-6) << "knot " << k;
        i++;
    }
}

TEST_F(Editors, LeavingPathEditingDropsDegenerateCurves)
{
    int s = pathslayer(1, 0.0f);
    path *p = project.layers[s].data.pth;
    int kept = p->cnum;
    int coincide = path_newcurve(p);
    const float pt[3] = {0.2f, 0.2f, 0};
    for (int i = 0; i < 3; i++)
        path_prependknot(p, coincide, pt);
    int single = path_newcurve(p);
    path_prependknot(p, single, pt);
    project_selectedlayer = s;
    layer_pathedit(1);
    path_selectcurve(p, coincide);
    layer_pathedit(0);
    EXPECT_EQ(p->cnum, kept);
    EXPECT_FALSE(p->cused[coincide]);
    EXPECT_FALSE(p->cused[single]);
    EXPECT_EQ(project_pathslayeredit, -1);
    EXPECT_EQ(p_selknots.count, -1);
    EXPECT_EQ(layer_editor.size[0], project.layers[s].size[0]);
    EXPECT_EQ(layer_editor.pos[1], project.layers[s].pos[1]);
    // Path editing of another layer type never turns on.
    int r = rasterlayer(0.0f);
    project_selectedlayer = r;
    layer_pathedit(1);
    EXPECT_EQ(project_pathslayeredit, -1);
}

TEST_F(Editors, CanvasChangesMoveLayersOnXAndYOnly)
{
    int s = rasterlayer(0.0f);
    project.layers[s].pos[2] = 0.5f;
    struct Case {
        float size[3], frac[3], zfill;
        float delta[3];
    };
    // Origin fractions of 1 on Z make a depth change a Z delta too.
    const Case cases[] = {
        {{12, 6, 1.5f}, {0, 0, 1}, 0.4f, {0, 0, 0}},          // Z fill alone
        {{12, 6, 3.0f}, {0, 0, 1}, 0.0f, {0, 0, 0}},          // depth alone
        {{14, 8, 1.5f}, {0.5f, 0.5f, 1}, 0.0f, {7, 4, 0}},    // origin to the centre
    };
    for (const Case &c : cases) {
        float before[3];
        memcpy(before, project.layers[s].pos, sizeof(before));
        uint32_t events = event_end;
        project_applycanvas(c.size, c.frac, c.zfill, 100);
        EXPECT_EQ(event_end, events + 1);
        EXPECT_EQ(lastevent().type, 1);
        for (int a = 0; a < 3; a++)
            EXPECT_NEAR(project.layers[s].pos[a] - before[a], c.delta[a], 1e-5) << a;
        EXPECT_EQ(project.zfill, c.zfill);
    }
}

TEST_F(Editors, ATextEditLeavesOneLayerDataEvent)
{
    project_textinput = text_beginedit; // as the start-up joins the project to the toolkit
    int s = textlayer("Kerf", 1);
    project_selectedlayer = s;
    int t = project.layers[s].data.text;
    uint32_t events = event_end;
    project_textmode(1);
    EXPECT_EQ(project_textlayeredit, t);
    EXPECT_EQ(text_editstate.string, text_objects[t].text);
    EXPECT_EQ(project_textfont, 1);
    EXPECT_EQ(project_fontslider, 1.0f);
    snprintf(text_objects[t].text, text_maxchars, "Kerfmill");
    project_textmode(1); // already editing: nothing
    EXPECT_EQ(event_end, events);
    project_textmode(0);
    EXPECT_EQ(project_textlayeredit, -1);
    EXPECT_EQ(text_editstate.string, nullptr);
    ASSERT_EQ(event_end, events + 1);
    const event &e = lastevent();
    EXPECT_EQ(e.type, 8);
    EXPECT_EQ(e.aux, s);
    // The old blob holds the text as it was, the new one the edited text.
    std::string old((const char *)e.olddata, e.oldsize), now((const char *)e.newdata, e.newsize);
    EXPECT_NE(old.find("Kerf\0", 296), std::string::npos);
    EXPECT_EQ(old.find("Kerfmill"), std::string::npos);
    EXPECT_NE(now.find("Kerfmill"), std::string::npos);
    // Undo puts the old text back.
    ASSERT_EQ(project_applystate(1, e.type, e.aux, (int32_t)e.oldsize, e.olddata), 1);
    EXPECT_STREQ(text_objects[project.layers[s].data.text].text, "Kerf");
    // A text-layer without a text object is entered but edits nothing.
    int u = project_layeralloc(layer_text);
    project_selectedlayer = u;
    project_textmode(1);
    EXPECT_EQ(project_textlayeredit, -1);
    EXPECT_EQ(text_editstate.string, nullptr);
}

} // namespace
