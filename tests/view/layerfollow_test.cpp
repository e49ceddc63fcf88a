// The layer follow-up of the view's frame: text images picked up and fitted
// (or left for later during a mode 2 or 3 composition), the text editor's
// properties and string pushed at most 15 times a second, removals (two
// frames for the editor's layer, the slots above shifting, bad requests
// refused), selection changes loaded into the editor, and the display
// texture taken over from the refresh job.
#include "viewfixture.h"

#include "project/layertex.h"
#include "view/backup.h"
#include "view/layerfollow.h"
#include "view/readout.h"
#include "gui/textedit/textedit.h"

namespace {

int32_t dialog = 0;
int32_t dialogid() { return dialog; }

class LayerFollow : public ViewProject {
public:
    void SetUp() override
    {
        ViewProject::SetUp();
        view_textscale = 100.0f;
        project.scale = 1.0f;
        jobmode = 0;
        project_canvasjob.requested = 0;
        dialog = 0;
        view_dialogid = dialogid;
        gui_layerfromlist = 0;
        // Renders are refused, so no job outlives the test; a refused render
        // leaves its object idle.
        sys_quit = 1;
    }
    void TearDown() override
    {
        sys_quit = 0;
        ViewProject::TearDown();
    }
    // A text-layer of size w x h whose object holds a fresh image of iw x ih.
    static int textimage(float w, float h, int iw, int ih)
    {
        int s = textlayer("Kerf", 0);
        project_layer &l = project.layers[s];
        l.size[0] = w;
        l.size[1] = h;
        text_object &o = text_objects[l.data.text];
        o.img = img_alloc("text", iw, ih, 3, nullptr);
        o.updated = 1;
        l.stale = 0;
        return s;
    }
    // A text-layer selected and in text editing, the editor's panel agreeing
    // with its object; its text-object slot.
    static int editedtext()
    {
        int s = textimage(2.0f, 1.0f, 200, 100);
        int t = project.layers[s].data.text;
        text_objects[t].updated = 0;
        select(s);
        project_textlayeredit = t;
        project_textfont = -1;
        project_textptsize = text_objects[t].ptsize;
        project_textspacing = text_objects[t].spacing;
        text_objects[t].drawsize = text_drawsize(project_textptsize, 100.0f);
        return t;
    }
    static void select(int s)
    {
        gui_selectedlayer = s;
        view_layerfollow();
    }
};

TEST_F(LayerFollow, TextImagePickUp)
{
    struct Case {
        const char *name;
        float w, h;
        int iw, ih;
        uint32_t mode;
        bool taken, fitted;
    };
    const Case cases[] = {
        {"exact size", 2.0f, 1.0f, 200, 100, 0, true, false},
        {"exact size, no size yet", 0.0f, 1.0f, 200, 100, 0, true, true},
        {"another size, not edited", 2.0f, 1.0f, 300, 100, 0, true, false},
        {"during a mode 2 composition", 0.0f, 0.0f, 300, 100, 2, false, false},
        {"during a mode 3 composition", 0.0f, 0.0f, 300, 100, 3, false, false},
        {"during a view composition", 0.0f, 0.0f, 300, 150, 1, true, true},
    };
    for (const Case &c : cases) {
        SetUp();
        int s = textimage(c.w, c.h, c.iw, c.ih);
        jobmode = c.mode;
        testlog_capture local;
        view_layerfollow();
        const project_layer &l = project.layers[s];
        EXPECT_EQ(text_objects[l.data.text].updated, c.taken ? 0u : 1u) << c.name;
        EXPECT_EQ(project_canvasjob.requested.load(), c.fitted ? 1u : 0u) << c.name;
        EXPECT_EQ(l.stale, c.fitted ? 1u : 0u) << c.name;
        if (c.fitted) {
            EXPECT_FLOAT_EQ(l.size[0], (c.iw + 1) / 100.0f) << c.name;
            EXPECT_FLOAT_EQ(l.size[1], (c.ih + 1) / 100.0f) << c.name;
            EXPECT_TRUE(local.contains("updating canvas for 1 text-layers...")) << c.name;
        } else {
            EXPECT_EQ(l.size[0], c.w) << c.name;
        }
    }
}

TEST_F(LayerFollow, EditedTextLayerFitsAndItsEditorFollows)
{
    int s = textimage(2.0f, 1.0f, 250, 100);
    text_objects[project.layers[s].data.text].updated = 0;
    select(s);
    project_textlayeredit = project.layers[s].data.text;
    text_objects[project.layers[s].data.text].updated = 1;
    view_layerfollow();
    EXPECT_FLOAT_EQ(project.layers[s].size[0], 2.51f);
    EXPECT_FLOAT_EQ(layer_editor.size[0], 2.51f);
}

TEST_F(LayerFollow, TextLayerWithoutItsObjectIsReportedOnce)
{
    for (int t : {-1, 5, 70}) {
        SetUp();
        int s = textlayer("Kerf", 0);
        int own = project.layers[s].data.text;
        view_layerfollow(); // a sound layer clears an earlier report
        project.layers[s].data.text = t; // 5 is a free slot
        testlog_capture local;
        view_layerfollow();
        view_layerfollow();
        EXPECT_EQ(local.count("has no text object"), 1) << t;
        project.layers[s].data.text = own;
    }
}

TEST_F(LayerFollow, TextEditorChangesReachTheObject)
{
    int t = editedtext();
    text_object &o = text_objects[t];
    // A point size whose draw size single and double precision round apart,
    // where there is one: the wanted size must be the object's own rounding.
    float pt = 25.0f;
    for (float p = 1.0f; p < 300.0f; p += 0.01f)
        if ((int32_t)(0.5 * p * 0.5 * p * 100.0 * 0.01) != text_drawsize(p, 100.0f)) {
            pt = p;
            break;
        }
    o.ptsize = pt;
    o.drawsize = text_drawsize(pt, 100.0f);
    project_textptsize = pt;
    {
        testlog_capture local;
        for (int i = 0; i < 5; i++)
            view_layerfollow();
        EXPECT_FALSE(local.contains("text_setproperties")) << "point size " << pt;
    }
    project_textptsize = pt + 10.0f;
    testlog_capture local;
    view_layerfollow();
    EXPECT_TRUE(local.contains("text_setproperties: job_updatetext text["));
    EXPECT_EQ(o.ptsize, pt + 10.0f);
    EXPECT_EQ(o.drawsize, text_drawsize(pt + 10.0f, 100.0f));
}

TEST_F(LayerFollow, StringIsCheckedAtMostFifteenTimesASecond)
{
    int t = editedtext();
    testlog_capture local;
    for (int frame = 0; frame < 60; frame++) {
        sys_time = 10.0 + frame / 60.0;
        snprintf(text_objects[t].text, 16, "K%d", frame); // typed every frame
        view_layerfollow();
    }
    int checks = local.count("text_checkstring: job_updatetext");
    EXPECT_GE(checks, 10);
    EXPECT_LE(checks, 15);
}

TEST_F(LayerFollow, CursorIsMeasuredOnlyWhenItOrTheSelectionMoves)
{
    int t = editedtext();
    struct Step {
        int cursor, selection;
    };
    // No face is cached here: each measuring attempt logs that.
    const Step steps[] = {{0, 0}, {0, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 1}, {2, 1}, {3, 1}};
    testlog_capture local;
    for (const Step &st : steps) {
        text_editstate.cursor = st.cursor;
        text_editstate.selection = st.selection;
        view_layerfollow();
    }
    EXPECT_EQ(local.count("ttf_textwidthn: text["), 4);
    project_textlayeredit = -1;
    view_layerfollow();
    project_textlayeredit = t;
    testlog_capture again;
    view_layerfollow();
    EXPECT_EQ(again.count("ttf_textwidthn: text["), 1) << "leaving text editing forgets the cursor";
    text_editstate.cursor = 0;
    text_editstate.selection = 0;
}

TEST_F(LayerFollow, RemovingTheEditorsLayerTakesTwoFrames)
{
    int a = rasterlayer(0.1f), b = rasterlayer(0.2f), c = rasterlayer(0.3f);
    (void)a;
    uint32_t uid = project.layers[c].uid;
    select(b);
    project_removelayer = b;
    view_layerfollow();
    EXPECT_EQ(project.layers[b].type, layer_raster) << "first frame only deselects";
    EXPECT_EQ(project_selectedlayer, -1);
    view_layerfollow();
    EXPECT_EQ(project_removelayer, -1);
    EXPECT_EQ(project.layers[b].uid, uid) << "the slot above moved down";
    EXPECT_EQ(project.layers[c].type, layer_free);
    EXPECT_EQ((int)(event_end - event_oldest), 1);
}

TEST_F(LayerFollow, RemovalShiftsTheSelectionAboveAndKeepsTheOneBelow)
{
    struct Case {
        int selected, removed, after;
    };
    const Case cases[] = {{0, 2, 0}, {3, 1, 2}};
    for (const Case &c : cases) {
        SetUp();
        for (int i = 0; i < 4; i++)
            rasterlayer(0.1f * i);
        select(c.selected);
        testlog_capture local;
        project_removelayer = c.removed;
        view_layerfollow();
        EXPECT_EQ(gui_selectedlayer, c.after) << c.removed;
        EXPECT_EQ(project_selectedlayer, c.after) << c.removed;
        EXPECT_FALSE(local.contains("...selected layer")) << "the same layer, not a new selection";
        EXPECT_EQ(numlayers, 3);
        EXPECT_EQ(project_saved, 0u);
        EXPECT_STREQ(sys_statustext, (std::string("removed layer0") + std::to_string(c.removed)).c_str());
    }
}

TEST_F(LayerFollow, TraceDialogHoldsTheRecomposition)
{
    for (int open : {0, 17}) {
        SetUp();
        rasterlayer(0.1f);
        int b = rasterlayer(0.2f);
        select(0);
        project_canvasjob.requested = 0;
        dialog = open;
        project_removelayer = b;
        view_layerfollow();
        EXPECT_EQ(project_canvasjob.requested.load(), open ? 0u : 1u) << open;
    }
}

TEST_F(LayerFollow, BadRemovalRequestsChangeNothing)
{
    rasterlayer(0.1f);
    rasterlayer(0.2f);
    for (int r : {64, -2, 5}) {
        testlog_capture local;
        project_removelayer = r;
        view_layerfollow();
        EXPECT_EQ(project_removelayer, -1) << r;
        EXPECT_EQ(numlayers, 2) << r;
        EXPECT_EQ((int)(event_end - event_oldest), 0) << r;
        EXPECT_TRUE(local.contains("no layer " + std::to_string(r) + " to remove")) << r;
    }
}

TEST_F(LayerFollow, NewSelectionLeavesEditModesAndLoadsTheEditor)
{
    int a = rasterlayer(0.1f);
    int b = rasterlayer(0.2f);
    project.layers[b].pos[0] = 4.5f;
    select(a);
    view_measuretool.on = 1;
    project_rastertool = 3;
    gui_layerfromlist = 0;
    testlog_capture local;
    view_redraw = 0;
    select(b);
    EXPECT_EQ(project_selectedlayer, b);
    EXPECT_EQ(view_redraw.load(), 1) << "the boxes follow the selection";
    EXPECT_EQ(project_rastertool, -1);
    EXPECT_EQ(view_measuretool.on, 0);
    EXPECT_EQ(layer_editor.pos[0], 4.5f);
    EXPECT_TRUE(local.contains("...selected layer #01"));
    EXPECT_FLOAT_EQ(gui_layerscroll, 0.5f) << "1 - selected / count: the list scrolls toward the selected row";
    view_redraw = 0;
    select(-1);
    EXPECT_TRUE(local.contains("...deselected layer #01"));
    EXPECT_EQ(view_redraw.load(), 1);
    gui_selectedlayer = 40;
    view_layerfollow();
    EXPECT_EQ(gui_selectedlayer, -1) << "a free slot is not selected";
}

TEST_F(LayerFollow, DisplayTextureIsTakenEveryFrame)
{
    view_layertexture = -1;
    layer_activetexture = 900;
    view_redraw = 0;
    view_takelayertexture();
    EXPECT_EQ(view_layertexture, 900);
    EXPECT_EQ(layer_activetexture.load(), -1);
    EXPECT_EQ(view_redraw.load(), 1);
    project.generating[0] = 1; // a frame that skips the follow-up still takes it
    layer_activetexture = 901;
    view_frame();
    project.generating[0] = 0;
    EXPECT_EQ(view_layertexture, 901);
    EXPECT_EQ(layer_activetexture.load(), -1);
    view_layertexture = -1;
}

} // namespace
