// The operation editor's type options on the headless window: the angle
// steps, the contour-input cycle, a paths-layer that went away, an empty
// layer group, the stipple diameters, the trochoidal branch without options,
// the defaults a change of type loads, and the element names of each type.
#include "cam/cam.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/optypes.h"
#include "opeditornames.h"
#include "opeditorscene.h"
#include "sys/config.h"
#include "view/oppreview.h"

#include <cmath>

namespace {

class OpTypes : public EditorScene {};

TEST(OpTypesAngle, StepsStopAtTheEndsAndSnapTo11_25)
{
    struct Case {
        float at;
        int up;
        float want;
    };
    const Case cases[] = {{175.0f, 1, 180.0f}, {-175.0f, 0, -180.0f}, {10.0f, 1, 22.5f},
                          {10.0f, 0, 0.0f},    {180.0f, 1, 180.0f},   {0.0f, 0, -11.25f}};
    for (const Case &c : cases)
        EXPECT_FLOAT_EQ(optypes_anglestep(c.at, c.up), c.want) << c.at << " " << c.up;
}

TEST_F(OpTypes, AngleButtonsOnTheWindow)
{
    settype(1);
    opeditor_setauxf(opeditor, 0, 175.0f);
    harness_frame();
    const rec_element *knob = harness_find("op_cutangle");
    ASSERT_NE(knob, nullptr);
    ASSERT_TRUE(harness_present("op_cutangle_reset"));
    harness_click("op_cutangle_reset");
    EXPECT_EQ(opeditor_auxf(opeditor, 0), 0.0f);
}

TEST_F(OpTypes, CyclingBackToTraceCanvasPutsTheHeightAtHalfTheDepth)
{
    settype(10);
    opeditor_setauxf(opeditor, 0, 0.9f);
    harness_frame();
    for (int want : {1, 2, 0}) {
        harness_click("op_contourinput");
        EXPECT_EQ(opeditor.contourmode, want);
    }
    EXPECT_FLOAT_EQ(opeditor_auxf(opeditor, 0), 0.5f);
    EXPECT_EQ(opeditor_flags(&opeditor) & 0x2200u, 0u);
}

TEST_F(OpTypes, ContourModesSetTheWordsAndTheViewportHighlight)
{
    settype(10);
    opeditor.group = 3;
    opeditor.contourmode = 2;
    oppreview_pathslayer = -1;
    harness_frame();
    EXPECT_EQ(opeditor.aux[2], 3u);
    EXPECT_EQ(oppreview_pathslayer, -2);
    opeditor.contourmode = 0;
    harness_frame();
    ASSERT_NE(oppreview_contourz, nullptr);
    EXPECT_FLOAT_EQ(*oppreview_contourz, opeditor_auxf(opeditor, 0));
    oppreview_contourz = nullptr;
}

TEST_F(OpTypes, ALostPathsLayerIsReportedOnceAndForgotten)
{
    settype(10);
    opeditor.contourmode = 1;
    opeditor.aux[2] = 0x7FC00001u; // no layer has this uid
    harness_rec.boxes.clear();
    harness_frames(3);
    EXPECT_EQ(boxes("2D Offset Milling"), 1);
    EXPECT_EQ(opeditor.aux[2], 0u);
    EXPECT_TRUE(shown("Paths-Layer: ( Select Paths-Layer )"));
    // The alert stays while no layer is chosen.
    bool alert = false;
    for (const rec_element &e : harness_elements)
        alert |= e.id == 14209;
    EXPECT_TRUE(alert);
}

TEST_F(OpTypes, PathsCarvingForgetsBothWords)
{
    settype(12);
    opeditor.aux[0] = 0x12345678u;
    opeditor.aux[2] = 4;
    harness_frames(2);
    EXPECT_EQ(boxes("Paths Carving"), 1);
    EXPECT_EQ(opeditor.aux[0], 0xFFFFFFFFu);
    EXPECT_EQ(opeditor.aux[2], 0xFFFFFFFFu);
}

TEST_F(OpTypes, AGroupWithoutPathsLayersSaysSo)
{
    settype(17);
    opeditor.contourmode = 1;
    opeditor.group = 9;
    harness_frame();
    harness_click("op_pathslayer");
    harness_frame();
    EXPECT_TRUE(shown("No paths-layers in group 9"));
    gui_openid = -1;
}

TEST_F(OpTypes, StippleDiametersEndWithinTheirRules)
{
    project.units = 2;
    settool(1, 2, 20.0f, 50.0f, 6.0f);
    struct Case {
        int type;
        float want;
    };
    const Case cases[] = {{5, 2.0f}, {11, 3.0f}};
    for (const Case &c : cases) {
        settype(c.type);
        opeditor.tool = 1;
        if (c.type == 5) {
            opeditor_setauxf(opeditor, 1, 3.0f);
            opeditor_setauxf(opeditor, 2, 2.0f);
        } else {
            opeditor.step = 3.0f;
            opeditor.z_doc = 2.0f;
        }
        harness_frame();
        const float lo = c.type == 5 ? opeditor_auxf(opeditor, 1) : opeditor.step;
        const float hi = c.type == 5 ? opeditor_auxf(opeditor, 2) : opeditor.z_doc;
        EXPECT_FLOAT_EQ(lo, c.want) << c.type;
        EXPECT_FLOAT_EQ(hi, c.want) << c.type;
    }
}

TEST_F(OpTypes, TrochoidalWithClimbHasNoOptions)
{
    settype(14);
    opeditor.dir = 1;
    harness_frame();
    EXPECT_TRUE(shown("Currently no options for operation."));
    EXPECT_FALSE(harness_present("op_trochdir"));
    opeditor.dir = 2;
    harness_frame();
    ASSERT_TRUE(harness_present("op_trochdir"));
    harness_click("op_trochdir");
    EXPECT_FLOAT_EQ(opeditor_auxf(opeditor, 0), 1.0f);
}

// What a change of type loads, for each type, in an inch and a metric
// project: the remembered AUX words are all 7.0 and the entry method Helical.
TEST_F(OpTypes, TypeChangeDefaults)
{
    struct Case {
        int type;
        int entry;       // after a Helical entry
        int link, sort;  // -1 left as they were (0)
        float aux0;      // NAN: the remembered 7.0 bits kept
        float aux1, aux2; // inch project
    };
    const float k = 7.0f, n = NAN;
    const Case cases[] = {
        {1, 1, 0, 0, n, k, k},   {2, 1, 0, 0, n, 0.5f, 0.5f}, {3, 1, 0, 0, n, k, k},   {4, 1, 0, 0, n, k, k},
        {5, 0, 0, 0, n, k, k},   {6, 1, 0, 1, 0.5f, k, k},    {7, 2, 1, 0, n, k, k},   {8, 1, 0, 0, 0.5f, k, k},
        {9, 1, 0, 0, n, k, k},   {10, 2, 0, 0, 0.5f, k, k},   {11, 0, 0, 0, n, k, k},  {12, 1, 0, 0, n, k, 0.0f},
        {13, 1, 0, 0, n, k, k},  {14, 1, 0, 0, n, k, k},      {15, 1, 0, 0, 0.5f, k, k}, {16, 1, 0, 0, n, k, k},
        {17, 1, 0, 0, n, k, k},
    };
    std::vector<uint8_t> saved(cfg + cfg_opvalues, cfg + cfg_opvalues + 3 * 4 * cfg_opcount);
    for (int i = 0; i < 3 * cfg_opcount; i++)
        cfg_setf(cfg_opvalues + 4 * i, k);
    for (const Case &c : cases) {
        opeditor.entry = 2;
        opeditor.link = opeditor.sort = 0;
        opeditor.contourmode = 2;
        opeditor.step = opeditor.stock = 0.3f;
        opeditor.outline = opeditor.islands = 1;
        optypes_settype(c.type);
        EXPECT_EQ(opeditor.contourmode, 0) << c.type;
        EXPECT_EQ(opeditor.entry, c.entry) << c.type;
        EXPECT_EQ(opeditor.link, c.link) << c.type;
        EXPECT_EQ(opeditor.sort, c.sort) << c.type;
        if (c.type == 12)
            EXPECT_EQ(opeditor.aux[0], 0xFFFFFFFFu);
        else
            EXPECT_FLOAT_EQ(opeditor_auxf(opeditor, 0), std::isnan(c.aux0) ? k : c.aux0) << c.type;
        if (c.type == 12)
            EXPECT_EQ(opeditor.aux[2], 0u);
        else
            EXPECT_FLOAT_EQ(opeditor_auxf(opeditor, 2), c.aux2) << c.type;
        EXPECT_FLOAT_EQ(opeditor_auxf(opeditor, 1), c.aux1) << c.type;
        if (c.type == 8) {
            EXPECT_EQ(opeditor.step, 0.0f);
            EXPECT_EQ(opeditor.stock, 0.0f);
            EXPECT_EQ(opeditor.outline + opeditor.islands, 0);
            EXPECT_STREQ(opeditor.text[opeditor_steptext], "0.0");
        }
        if (c.type == 11) {
            // No tool: 0.125 inch for both diameters.
            EXPECT_FLOAT_EQ(opeditor.step, 0.125f);
            EXPECT_FLOAT_EQ(opeditor.z_doc, 0.125f);
        }
    }
    // Metric: the chevron 10 by 10; dithered diameters a quarter of the tool.
    project.units = 2;
    optypes_settype(2);
    EXPECT_FLOAT_EQ(opeditor_auxf(opeditor, 1), 10.0f);
    EXPECT_FLOAT_EQ(opeditor_auxf(opeditor, 2), 10.0f);
    EXPECT_STREQ(opeditor.auxtext[1], "10.0");
    optypes_settype(11);
    EXPECT_FLOAT_EQ(opeditor.step, 3.0f);
    settool(1, 2, 20.0f, 50.0f, 6.0f);
    opeditor.tool = 1;
    optypes_settype(11);
    EXPECT_FLOAT_EQ(opeditor.step, 1.5f);
    EXPECT_FLOAT_EQ(opeditor.z_doc, 1.5f);
    // Tessellation sliders come from their codes.
    cfg_seti(cfg_opvalues + 4 * 12, (int32_t)0x00180003);
    cfg_seti(cfg_opvalues + 4 * (cfg_opcount + 12), (int32_t)0x00020004);
    optypes_settype(13);
    EXPECT_EQ(opeditor.tesscuts, 24.0f);
    EXPECT_EQ(opeditor.tesscols, 4.0f);
    EXPECT_EQ(opeditor.tessrows, 2.0f);
    memcpy(cfg + cfg_opvalues, saved.data(), saved.size());
}

// The names each type shows: the table the real run also checks. The
// profile and tessellation branches are drawn by their own file.
TEST_F(OpTypes, ElementNamesOfEachType)
{
    for (int t = 1; t < camop_types; t++) {
        if (t == 8 || t == 13)
            continue;
        opeditor = opeditor_record{};
        opeditor.step = 0.1f;
        opeditor.z_max = 1.0f;
        opeditor.z_doc = 0.125f;
        settype(t);
        harness_frame();
        EXPECT_EQ(editornames(), opeditor_expectednames(t)) << camop_typenames[t];
    }
}

} // namespace
