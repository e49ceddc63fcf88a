// Undo and redo replay: every event type against a canonical dump of the
// project (undo gives the state before the edit, redo the state after, byte
// for byte), the add operations, the unknown type, and every blob kind cut
// short or with counts past its end refused with the project as it was.
#include "undofixture.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using blob = UndoProject::blob;

struct edit {
    int type, aux;
    blob old, now;
};

class Undo : public UndoProject {
public:
    // Raster, paths, model, text and raster in slots 0..4.
    void base()
    {
        ASSERT_EQ(rasterlayer(0.1f), 0);
        ASSERT_EQ(pathslayer(2, 0.0f), 1);
        ASSERT_EQ(modellayer(1.0f), 2);
        ASSERT_EQ(textlayer("Kerfmill", 0), 3);
        ASSERT_EQ(rasterlayer(0.5f), 4);
    }
    // A new layer of the type placed at slot, the layers from it on moved up.
    static int insertat(int type, int slot, float v)
    {
        project_selectedlayer = slot - 1;
        int s = anylayer(type, v);
        project_selectedlayer = -1;
        return s;
    }
    static blob fromring()
    {
        const event &e = lastevent();
        blob b{std::vector<uint8_t>((uint8_t *)e.newdata, (uint8_t *)e.newdata + e.newsize)};
        return b;
    }
    static blob oldfromring()
    {
        const event &e = lastevent();
        return blob{std::vector<uint8_t>((uint8_t *)e.olddata, (uint8_t *)e.olddata + e.oldsize)};
    }
    static blob layerblob(int slot)
    {
        return writeblob([&](msg_stream *m) { return layer_write(m, slot); });
    }
    static blob patheditblob(int slot)
    {
        return writeblob([&](msg_stream *m) { return layer_writepathedit(m, slot); });
    }
    static blob imageblob(const image *img)
    {
        return writeblob([&](msg_stream *m) { return img_write(m, img) > 0; });
    }
    static void closegap(int slot)
    {
        std::rotate(project.layers + slot, project.layers + slot + 1, project.layers + project_maxlayers);
    }
};

// prep sets up what the edit starts from (part of the state before it);
// make performs the edit and returns its event.
struct Case {
    const char *name;
    std::function<edit(Undo &)> make;
    std::function<void()> prep = [] {};
};

const int types[4] = {layer_raster, layer_paths, layer_model, layer_text};

std::vector<Case> cases()
{
    std::vector<Case> v;
    v.push_back({"canvas size and depth", [](Undo &) {
                     const float size[3] = {10, 8, 2}, frac[3] = {0.5f, 0.25f, 1.0f};
                     project_applycanvas(size, frac, 0.2f, 50);
                     return edit{1, 0, Undo::oldfromring(), Undo::fromring()};
                 }});
    v.push_back({"canvas Z fill", [](Undo &) {
                     const float size[3] = {12, 6, 1.5f}, frac[3] = {0.0f, 0.0f, 1.0f};
                     project_applycanvas(size, frac, 0.7f, 100);
                     return edit{1, 0, Undo::oldfromring(), Undo::fromring()};
                 }});
    v.push_back({"fit canvas", [](Undo &) {
                     blob old = Undo::writeblob(project_writefitblob);
                     project.originoffset[0] = -2;
                     project.size[0] = 20;
                     for (int i = 0; i < 5; i++)
                         project.layers[i].pos[1] += (float)i;
                     return edit{2, 0, old, Undo::writeblob(project_writefitblob)};
                 }});
    v.push_back({"layer state", [](Undo &) {
                     project_selectedlayer = 1;
                     layer_loadeditor(&project.layers[1]);
                     layer_editor.pos[0] = 3;
                     layer_editor.size[1] = 2;
                     layer_editor.rotation = 30;
                     layer_editor.mirrory = 1;
                     layer_editor.lockmode = 3;
                     layer_applystate();
                     return edit{3, 1, Undo::oldfromring(), Undo::fromring()};
                 }});
    v.push_back({"swap next", [](Undo &) {
                     project_swaplayers(2);
                     return edit{4, 2, {}, {}};
                 }});
    for (int t : types) {
        v.push_back({"add", [t](Undo &) {
                         int s = Undo::insertat(t, 2, 0.9f);
                         layer_event(s);
                         return edit{5, s, {}, Undo::fromring()};
                     }});
        v.push_back({"remove", [t](Undo &) {
                         int s = t == layer_raster ? 0 : t - 1;
                         blob old = Undo::layerblob(s);
                         project_layerfree(s);
                         Undo::closegap(s);
                         return edit{5, s, old, {}};
                     }});
        v.push_back({"merge down", [](Undo &) {
                         blob old = Undo::writeblob([](msg_stream *m) { return layer_writemerge(m, 0, 2); });
                         project_layerfree(2);
                         project_layerfree(1);
                         Undo::closegap(2);
                         EXPECT_EQ(Undo::rasterlayer(0.3f), 1);
                         blob now = Undo::writeblob([](msg_stream *m) { return layer_writemerge(m, 1, 2); });
                         return edit{7, 2, old, now};
                     },
                     [t] { Undo::insertat(t, 2, 0.7f); }});
    }
    v.push_back({"add two layers", [](Undo &) {
                     // Inserted at 1, then at 3: undo must take 3 away first.
                     Undo::insertat(layer_text, 1, 0.9f);
                     Undo::insertat(layer_paths, 3, 0.3f);
                     const int32_t slots[2] = {1, 3};
                     blob old = Undo::writeblob([&](msg_stream *m) { return layer_writemulti(m, slots, 2, 0); });
                     return edit{6, 2, old,
                                 Undo::writeblob([&](msg_stream *m) { return layer_writemulti(m, slots, 2, 1); })};
                 }});
    v.push_back({"raster data", [](Undo &) {
                     blob old = Undo::layerblob(0);
                     ((float *)project.layers[0].data.img->pixels)[5] = 0.9f;
                     return edit{8, 0, old, Undo::layerblob(0)};
                 }});
    v.push_back({"text data", [](Undo &) {
                     blob old = Undo::layerblob(3);
                     text_object &o = text_objects[project.layers[3].data.text];
                     snprintf(o.text, sizeof(o.text), "Kerf");
                     o.ptsize = 30;
                     return edit{8, 3, old, Undo::layerblob(3)};
                 }});
    v.push_back({"model data", [](Undo &) { return edit{8, 2, Undo::layerblob(2), Undo::layerblob(2)}; }});
    v.push_back({"paths, editing off", [](Undo &) {
                     blob old = Undo::patheditblob(1);
                     project.layers[1].data.pth->knots[1].pos[0] = 0.33f;
                     return edit{8, 1, old, Undo::patheditblob(1)};
                 }});
    v.push_back({"paths, nothing selected",
                 [](Undo &) {
                     blob old = Undo::patheditblob(1);
                     project.layers[1].pos[0] = 4;
                     project_pathpanels[0] = 1;
                     return edit{8, 1, old, Undo::patheditblob(1)};
                 },
                 [] {
                     p_clearselection(project.layers[1].data.pth);
                     project_pathpanels[2] = 1;
                 }});
    v.push_back({"paths, curves and knots selected",
                 [](Undo &) {
                     path *p = project.layers[1].data.pth;
                     blob old = Undo::patheditblob(1);
                     p_removeselectedknot(p, p_selknots.last, 0);
                     path_selectcurve(p, 1);
                     p_selectcurveknots(p, 1);
                     return edit{8, 1, old, Undo::patheditblob(1)};
                 },
                 [] {
                     path *p = project.layers[1].data.pth;
                     p_clearselection(p);
                     path_selectcurve(p, 0);
                     path_selectcurve(p, 2);
                     p_selectknot(p, 2, p->curves[2].tail);
                     p_selectknot(p, 0, p->knots[p->curves[0].tail].next);
                 }});
    v.push_back({"raster selection",
                 [](Undo &) {
                     blob old = Undo::imageblob(selectionmap);
                     ((float *)selectionmap->pixels)[3] = 0.5f;
                     return edit{9, 0, old, Undo::imageblob(selectionmap)};
                 },
                 [] {
                     project_rastertool = 1;
                     project_selectedlayer = 0;
                     selectionmap = img_allocfloat("selection", 8, 4);
                 }});
    v.push_back({"raster selection from none",
                 [](Undo &) {
                     selectionmap = img_allocfloat("selection", 8, 4);
                     ((float *)selectionmap->pixels)[7] = 0.25f;
                     return edit{9, 0, {}, Undo::imageblob(selectionmap)};
                 },
                 [] {
                     project_rastertool = 1;
                     project_selectedlayer = 0;
                 }});
    return v;
}

TEST_F(Undo, UndoAndRedoRestoreTheProjectByteForByte)
{
    const std::vector<Case> all = cases();
    for (size_t i = 0; i < all.size(); i++) {
        const Case &c = all[i];
        SCOPED_TRACE(std::string(c.name) + " #" + std::to_string(i));
        SetUp();
        base();
        c.prep();
        std::string before = dump();
        edit e = c.make(*this);
        std::vector<uint32_t> uids;
        for (const project_layer &l : project.layers)
            uids.push_back(l.type ? l.uid : 0);
        std::string after = dump();
        for (int walk = 0; walk < 2; walk++) {
            ASSERT_EQ(project_applystate(1, e.type, e.aux, e.old.size(), e.old.data()), 1);
            EXPECT_TRUE(same(dump(), before)) << "undo " << walk;
            ASSERT_EQ(project_applystate(0, e.type, e.aux, e.now.size(), e.now.data()), 1);
            EXPECT_TRUE(same(dump(), after)) << "redo " << walk;
        }
        for (int s = 0; s < project_maxlayers; s++)
            EXPECT_EQ(project.layers[s].type ? project.layers[s].uid : 0, uids[s]) << s;
        TearDown();
    }
}

TEST_F(Undo, UnknownTypesChangeOnlyTheMarksOfChange)
{
    base();
    std::string before = dump();
    EXPECT_EQ(project_applystate(0, 10, 0, 0, nullptr), 0);
    EXPECT_TRUE(log.contains("[ ERROR ] unknown event type 10"));
    EXPECT_TRUE(same(dump(), before));
    EXPECT_EQ(project_saved, 0u);
}

TEST_F(Undo, SwapAt63ChangesNothingButRequestsAComposition)
{
    base();
    std::string before = dump();
    project_canvasjob.requested = 0;
    EXPECT_EQ(project_applystate(0, 4, 63, 0, nullptr), 1);
    EXPECT_TRUE(same(dump(), before));
    EXPECT_EQ(project_canvasjob.requested.load(), 1u);
    EXPECT_EQ(project_canvasjob.rebuildmodels.load(), 1u);
}

// A "layer data" replay on the selected layer hands its frame to the gizmo
// and refreshes its texture unless it has no area.
TEST_F(Undo, LayerDataOnTheSelectedLayerRefreshesItsTexture)
{
    base();
    project_selectedlayer = 0;
    project.layers[0].pos[0] = 2.5f;
    project.layers[0].rotation = 15;
    blob b = layerblob(0);
    ASSERT_EQ(project_applystate(0, 8, 0, b.size(), b.data()), 1);
    EXPECT_EQ(layer_gizmostate.pos[0], 2.5f);
    EXPECT_EQ(layer_gizmostate.rotation, 15.0f);
    EXPECT_TRUE(log.contains("refreshing layer texture..."));
    EXPECT_EQ(project_selectlayer, 0);
    project.layers[0].size[1] = 0;
    b = layerblob(0);
    ASSERT_EQ(project_applystate(0, 8, 0, b.size(), b.data()), 1);
    EXPECT_TRUE(log.contains("cancelled zero-sized layer texture update"));
}

TEST_F(Undo, ReplaysThatNeedAFreeLastSlotAreRefusedWithoutOne)
{
    base();
    blob add = layerblob(0);
    const int32_t slots[2] = {1, 2};
    blob multi = writeblob([&](msg_stream *m) { return layer_writemulti(m, slots, 2, 1); });
    blob unmerged = writeblob([](msg_stream *m) { return layer_writemerge(m, 0, 4); });
    for (int i = 5; i < project_maxlayers; i++)
        ASSERT_EQ(rasterlayer(0.0f), i);
    std::string full = dump();
    EXPECT_EQ(project_applystate(0, 5, 1, add.size(), add.data()), 0);
    EXPECT_EQ(project_applystate(0, 6, 2, multi.size(), multi.data()), 0);
    EXPECT_EQ(project_applystate(1, 7, 63, unmerged.size(), unmerged.data()), 0);
    EXPECT_TRUE(same(dump(), full));
    // One free slot at the end: one insert fits, two do not.
    project_layerfree(63);
    full = dump();
    EXPECT_EQ(project_applystate(0, 6, 2, multi.size(), multi.data()), 0);
    EXPECT_TRUE(same(dump(), full));
    EXPECT_EQ(project_applystate(0, 5, 1, add.size(), add.data()), 1);
    EXPECT_EQ(numlayers, 64);
}

// With every text object taken, a text-layer read back keeps its record
// and is left without a text object.
TEST_F(Undo, ATextLayerReadWithoutAFreeTextObjectHasNone)
{
    base();
    blob text = layerblob(3);
    for (int t = 0; t < text_maxobjects; t++)
        if (text_objects[t].font < 0)
            text_objects[t].font = 0;
    ASSERT_EQ(project_applystate(0, 5, 5, text.size(), text.data()), 1);
    EXPECT_TRUE(log.contains("[ ERROR ] text_alloc: overflow!"));
    EXPECT_EQ(project.layers[5].type, layer_text);
    EXPECT_EQ(project.layers[5].data.text, -1);
    EXPECT_EQ(numlayertypes[layer_text], 2);
    for (int t = 0; t < text_maxobjects; t++)
        if (t != project.layers[3].data.text)
            text_objects[t].font = -1;
}

TEST_F(Undo, AddedLayersCarryTheirUndoEvent)
{
    base();
    project_selectedlayer = 1;
    uint32_t events = event_end;
    int s = project_addlayer(layer_paths);
    ASSERT_EQ(s, 2);
    EXPECT_EQ(event_end, events + 1);
    EXPECT_EQ(lastevent().type, 5);
    EXPECT_EQ(lastevent().aux, 2);
    EXPECT_EQ(lastevent().olddata, nullptr);
    EXPECT_TRUE(log.contains("layer[02] event (remove:0)"));
    sys_time = 2.0; // a uid of its own
    s = project_addlayer(layer_raster);
    ASSERT_GE(s, 0);
    char name[16];
    snprintf(name, sizeof(name), "raster%02d", s);
    EXPECT_STREQ(project.layers[s].data.img->name, name);
    EXPECT_EQ(project.layers[s].data.img->width, 8);
    EXPECT_EQ(project_addlayer(layer_model), -1);
    // Undo of the add removes it, redo puts it back with its uid.
    uint32_t uid = project.layers[s].uid;
    std::string with = dump();
    blob now = fromring();
    ASSERT_EQ(project_applystate(1, 5, s, 0, nullptr), 1);
    EXPECT_EQ(project_findlayeruid(uid), -1);
    ASSERT_EQ(project_applystate(0, 5, s, now.size(), now.data()), 1);
    EXPECT_EQ(project.layers[s].uid, uid);
    EXPECT_TRUE(same(dump(), with));
}

TEST_F(Undo, AQuantisedPathOrImageWaitingInTheBufferBecomesALayer)
{
    path *p = path_new();
    int c = path_newcurve(p);
    for (float x : {0.0f, 0.5f, 1.0f}) {
        const float pt[3] = {x, x * 0.5f, 0};
        path_prependknot(p, c, pt);
    }
    msg_alloc();
    msg_writepathq(&msg_main, p, path_formq1);
    path_free(p);
    msg_readfrom(msg_buffer, msg_position);
    EXPECT_EQ(layer_addfrombuffer(2, "Leaf", 0.5f), 1);
    sys_free(msg_main.buffer);
    msg_main = msg_stream{};
    EXPECT_EQ(project.layers[0].type, layer_paths);
    EXPECT_STREQ(project.layers[0].name, "Leaf");
    EXPECT_EQ(project.layers[0].aspect, 0.5f);
    EXPECT_EQ(lastevent().type, 5);
    EXPECT_TRUE(log.contains("[ STATUS ] ...added layer \"Leaf\""));
    // Nothing readable: no layer.
    uint8_t junk[4] = {};
    msg_readfrom(junk, 4);
    EXPECT_EQ(layer_addfrombuffer(1, "", 1.0f), 0);
    msg_main = msg_stream{};
    EXPECT_EQ(numlayers, 1);
}

// ------------------------------------------------------------ bad blobs

struct BadCase {
    const char *name;
    int type, aux;
    blob bytes;
    bool prefixes; // every shorter length is refused too
};

TEST_F(Undo, DamagedBlobsAreRefusedWithTheProjectAsItWas)
{
    base();
    project_selectedlayer = 1;
    path *p = project.layers[1].data.pth;
    p_clearselection(p);
    path_selectcurve(p, 0);
    path_selectcurve(p, 1);
    p_selectknot(p, 1, p->curves[1].tail);
    std::vector<BadCase> bad;
    uint8_t canvas[32];
    project_writecanvasblob(canvas);
    bad.push_back({"canvas", 1, 0, blob{std::vector<uint8_t>(canvas, canvas + 32)}, true});
    bad.push_back({"fit", 2, 0, writeblob(project_writefitblob), true});
    bad.push_back({"layer state", 3, 1, blob{std::vector<uint8_t>((uint8_t *)&project.layers[1],
                                                                    (uint8_t *)&project.layers[1] + 296)},
                   true});
    for (int s = 0; s < 4; s++)
        bad.push_back({"add", 5, 2, layerblob(s), true});
    const int32_t slots[2] = {1, 3};
    blob multi = writeblob([&](msg_stream *m) { return layer_writemulti(m, slots, 2, 1); });
    bad.push_back({"add multi", 6, 2, multi, true});
    bad.push_back({"merged", 7, 4, writeblob([](msg_stream *m) { return layer_writemerge(m, 1, 4); }), true});
    bad.push_back({"unmerged", 7, 4, writeblob([](msg_stream *m) { return layer_writemerge(m, 0, 4); }), true});
    bad.push_back({"paths edit", 8, 1, patheditblob(1), true});
    bad.push_back({"raster data", 8, 0, layerblob(0), true});
    bad.push_back({"text data", 8, 3, layerblob(3), true});
    project_rastertool = 1;
    image *sel = img_allocfloat("selection", 8, 4);
    bad.push_back({"selection", 9, 0, imageblob(sel), true});
    img_free(sel);
    // Counts past the end: more layers than the blob holds, a selected-curve
    // and a selected-knot count beyond it, a path header claiming more slots.
    bad.push_back({"three of two layers", 6, 3, bad[7].bytes, false});
    blob pe = patheditblob(1);
    int32_t header = 8 + 6 * project.layers[1].data.pth->csz + 11 * project.layers[1].data.pth->ksz;
    blob c1 = pe;
    int32_t big = 1000;
    memcpy(&c1.bytes[4 * header], &big, 4);
    bad.push_back({"curve count past the end", 8, 1, c1, false});
    blob c2 = pe;
    big = 100000;
    memcpy(&c2.bytes[4 * (header + 1 + 2)], &big, 4);
    bad.push_back({"knot count past the end", 8, 1, c2, false});
    blob c3 = pe;
    big = 1 << 20;
    memcpy(&c3.bytes[4 * 3], &big, 4);
    bad.push_back({"path slots past the end", 8, 1, c3, false});
    blob c5 = layerblob(2);
    big = 1 << 24;
    memcpy(&c5.bytes[296], &big, 4);
    memcpy(&c5.bytes[296 + 8], &big, 4);
    bad.push_back({"model vertices past the end", 5, 2, c5, false});
    blob c4 = layerblob(1);
    memcpy(&c4.bytes[296 + 4 * 6], &big, 4);
    bad.push_back({"layer path knots past the end", 5, 2, c4, false});

    std::string before = dump();
    int32_t counts[2] = {numlayers, numlayertypes[layer_raster]};
    // Per length the raw records (data handles included), counts and
    // selection ends: a refused blob replaces nothing. The full dump is
    // compared once per blob.
    auto raw = [] {
        std::string s((const char *)project.layers, sizeof(project.layers));
        put(s, &numlayers, 4);
        put(s, numlayertypes, sizeof(numlayertypes));
        const int32_t sel[4] = {p_selcurves.count, p_selknots.count, p_selknots.last, p_curveknots.last};
        put(s, sel, sizeof(sel));
        put(s, &selectionmap, sizeof(selectionmap));
        put(s, project.size, 12);
        return s;
    };
    std::string rawbefore = raw();
    for (const BadCase &b : bad) {
        SCOPED_TRACE(b.name);
        int32_t from = b.prefixes ? 0 : b.bytes.size();
        for (int32_t n = from; n <= b.bytes.size(); n++) {
            if (n == b.bytes.size() && b.prefixes)
                break;
            // Exactly n bytes on the heap, so a read past them is caught.
            std::unique_ptr<uint8_t[]> copy(new uint8_t[n ? n : 1]);
            memcpy(copy.get(), b.bytes.data(), (size_t)n);
            EXPECT_EQ(project_applystate(0, b.type, b.aux, n, copy.get()), 0) << n;
            ASSERT_TRUE(raw() == rawbefore) << n;
        }
        ASSERT_TRUE(same(dump(), before));
    }
    EXPECT_EQ(numlayers, counts[0]);
    EXPECT_EQ(numlayertypes[layer_raster], counts[1]);
    EXPECT_EQ(numlayers, 5);
}

} // namespace
