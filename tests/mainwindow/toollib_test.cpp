// Tool library: the export is the block byte for byte and leaves no
// partial file, an import refuses what is not a library and leaves the
// library as it was, and clear restores the built-in library; then dialog 16.
#include "../gui/guiharness.h"
#include "cam/tool.h"
#include "mainwindow/opeditor.h"
#include "shellscene.h"
#include "mainwindow/toollib.h"
#include "platform/seam.h"
#include "sys/file.h"
#include "sys/main.h"
#include "testenv.h"
#include "testfolder.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

constexpr int tl_types = 16384, tl_flutelength = 20480, tl_ramp = 22528;

class ToolLibrary : public testing::Test {
protected:
    testfolder dir{"toollib"};
    scoped_env env;
    testlog_capture log;

    void SetUp() override
    {
        harness_start();
        snprintf(sys_configpath, sizeof(sys_configpath), "%s", dir.at("config.dat").c_str());
        sys_status("%s", "");
    }
    void TearDown() override
    {
        harness_stop();
        sys_configpath[0] = 0;
    }
    static bytes library() { return bytes(cfg + cfg_toollib, cfg + cfg_toollibend); }
    void answerpath(const std::string &path) { env.set("KERFMILL_DIALOG_PATHS", path.c_str()); }
    std::string writefile(const char *name, const bytes &b)
    {
        std::string path = dir.at(name);
        std::ofstream(path, std::ios::binary).write((const char *)b.data(), (std::streamsize)b.size());
        return path;
    }
    static bytes readfile(const std::string &path)
    {
        std::ifstream f(path, std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(f), {});
    }
    // A library unlike the configured one: every slot named and typed.
    static bytes foreign()
    {
        bytes b(cfg + cfg_toollib, cfg + cfg_toollibend);
        for (int i = 0; i < cfg_toolcount; i++) {
            snprintf((char *)&b[64 * i], 64, "Foreign %d", i);
            int32_t type = (i % 9) - 4;
            memcpy(&b[tl_types + 4 * i], &type, 4);
        }
        return b;
    }
    static void putfloat(bytes &b, int offset, float v) { memcpy(&b[offset], &v, 4); }
    static void putword(bytes &b, int offset, int32_t v) { memcpy(&b[offset], &v, 4); }
};

TEST_F(ToolLibrary, ExportWritesTheBlockAndImportTakesItBack)
{
    memcpy(cfg + cfg_toollib, foreign().data(), toollib_bytes);
    const bytes written = library();
    answerpath(dir.at("lib.ktl"));
    ASSERT_EQ(toollib_export(), 1) << log.text();
    EXPECT_EQ(readfile(dir.at("lib.ktl")), written) << "the file is the block, no header";
    EXPECT_EQ(std::filesystem::file_size(dir.at("lib.ktl")), 23552u);
    EXPECT_TRUE(log.contains("...wrote 23.00kb (" + dir.at("lib.ktl") + ")")) << log.text();
    EXPECT_STREQ(sys_statustext, "...exported tool library");
    EXPECT_STREQ(cfg_gettext(cfg_toollibpath), dir.at("lib.ktl").c_str());

    memcpy(cfg + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes);
    ASSERT_EQ(toollib_import(), 1) << log.text();
    EXPECT_EQ(library(), written);
    EXPECT_STREQ(sys_statustext, "...imported tool library");
    ASSERT_EQ(harness_rec.boxes.size(), 1u);
    EXPECT_EQ(harness_rec.boxes[0].substr(0, 23), "Overwrite Tool Library|");
    EXPECT_EQ(harness_rec.boxes[0].substr(harness_rec.boxes[0].size() - 4), "|2|5") << "Yes/No, question icon";
}

// The rename is the only step that makes the file: a failure at it leaves
// neither the file nor the temporary one.
TEST_F(ToolLibrary, AFailedExportLeavesNoFile)
{
    std::filesystem::create_directories(dir.at("taken.ktl/inside"));
    answerpath(dir.at("taken.ktl"));
    EXPECT_EQ(toollib_export(), 0);
    EXPECT_TRUE(log.contains("...failed writing 23.00kb (" + dir.at("taken.ktl") + ")")) << log.text();
    EXPECT_FALSE(std::filesystem::exists(dir.at("taken.ktl.tmp")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.at("taken.ktl")));
    EXPECT_NE(std::string(sys_statustext).find("not exported"), std::string::npos) << sys_statustext;

    answerpath(dir.at("missing/lib.ktl"));
    EXPECT_EQ(toollib_export(), 0);
    EXPECT_TRUE(log.contains("...unable to open \"" + dir.at("missing/lib.ktl") + "\"")) << log.text();
}

TEST_F(ToolLibrary, ImportRefusesWhatIsNoLibraryAndKeepsTheOld)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char *what;
        std::function<void(bytes &)> damage;
        const char *status; // null: taken
    };
    const Case cases[] = {
        {"one byte short", [](bytes &b) { b.pop_back(); }, "too short (23551 of 23552 bytes)"},
        {"a hundred bytes", [](bytes &b) { b.resize(100); }, "too short (100 of 23552 bytes)"},
        {"type 5", [](bytes &b) { putword(b, tl_types + 4 * 7, 5); }, "slot 8 has a tool type outside -4..4"},
        {"type -5", [](bytes &b) { putword(b, tl_types, -5); }, "slot 1 has a tool type outside -4..4"},
        {"NaN flute length", [&](bytes &b) { putfloat(b, tl_flutelength + 4 * 255, nan); },
         "slot 256 has a length or angle that is not a number"},
        {"infinite ramp angle", [&](bytes &b) { putfloat(b, tl_ramp + 4 * 3, -inf); },
         "slot 4 has a length or angle that is not a number"},
        {"types -4 and 4", [](bytes &b) { putword(b, tl_types, -4), putword(b, tl_types + 4, 4); }, nullptr},
        {"longer file", [](bytes &b) { b.insert(b.end(), 5000, 0xEE); }, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        memcpy(cfg + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes);
        bytes file = foreign();
        c.damage(file);
        answerpath(writefile("in.ktl", file));
        sys_status("%s", "");
        int taken = toollib_import();
        if (c.status) {
            EXPECT_EQ(taken, 0);
            EXPECT_EQ(0, memcmp(cfg + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes)) << "library unchanged";
            EXPECT_NE(std::string(sys_statustext).find(c.status), std::string::npos) << sys_statustext;
        } else {
            EXPECT_EQ(taken, 1) << log.text();
            EXPECT_EQ(0, memcmp(cfg + cfg_toollib, file.data(), toollib_bytes)) << "the first 23,552 bytes";
            EXPECT_STREQ(sys_statustext, "...imported tool library");
        }
    }
}

TEST_F(ToolLibrary, ImportedNamesEndAtTheirLastByte)
{
    bytes file = foreign();
    memset(file.data(), 'A', 64 * cfg_toolcount); // no name is terminated
    answerpath(writefile("names.ktl", file));
    ASSERT_EQ(toollib_import(), 1) << log.text();
    for (int i = 0; i < cfg_toolcount; i++)
        ASSERT_EQ(strlen(cfg_gettext(cfg_toolnames + 64 * i)), 63u) << "slot " << i;
}

TEST_F(ToolLibrary, ImportAnsweredNoOrCancelledChangesNothing)
{
    answerpath(writefile("in.ktl", foreign()));
    harness_rec.boxanswer = 0;
    EXPECT_EQ(toollib_import(), 0);
    EXPECT_EQ(0, memcmp(cfg + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes));
    answerpath("\n");
    harness_rec.boxanswer = 1;
    EXPECT_EQ(toollib_import(), 0);
    EXPECT_TRUE(log.contains("failed to get fileopen path")) << log.text();
    EXPECT_EQ(0, memcmp(cfg + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes));
}

TEST_F(ToolLibrary, ClearRestoresTheBuiltInLibraryAndSaves)
{
    memcpy(cfg + cfg_toollib, foreign().data(), toollib_bytes);
    ASSERT_EQ(toollib_clear(), 1);
    EXPECT_EQ(0, memcmp(cfg + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes));
    EXPECT_STREQ(cfg_gettext(cfg_toolnames + 64 * 200), "None") << "the built-in library, not zeros";
    EXPECT_EQ(cfg_geti(cfg_toolvalues + 1024 + 4 * 200), 2) << "two flutes";
    EXPECT_TRUE(log.contains("...cleared tool library")) << log.text();
    ASSERT_TRUE(std::filesystem::exists(sys_configpath)) << "the configuration was saved";
    bytes saved = readfile(sys_configpath);
    ASSERT_EQ(saved.size(), (size_t)cfg_size);
    EXPECT_EQ(0, memcmp(saved.data() + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes));
    EXPECT_NE(harness_rec.boxes.at(0).find("clear all tools"), std::string::npos);

    memcpy(cfg + cfg_toollib, foreign().data(), toollib_bytes);
    harness_rec.boxanswer = 0;
    EXPECT_EQ(toollib_clear(), 0);
    EXPECT_EQ(library(), foreign()) << "No keeps the library";
}

} // namespace

// Dialog 16 on the real main window: sorting, the rows shown for a scroll,
// the moves offered only in slot order, load and save with their units by
// the stored sign, and the rows that cannot act.
namespace {

class ToolLibraryDialog : public ShellScene {
protected:
    void SetUp() override
    {
        ShellScene::SetUp();
        cam_settooldefaults();
        opeditor_tool = 0;
        projectmode = 2;
        toollib_state = {toollib_loadmode, 1, 1, 0.0f, 1};
        harness_rec.boxes.clear();
    }
    void TearDown() override
    {
        opeditor_tool = 0;
        ShellScene::TearDown();
    }
    static void putslot(int slot, int type, float diameter, const char *name)
    {
        toollib_slot s = {};
        snprintf(s.name, sizeof(s.name), "%s", name);
        s.type = type;
        s.flutes = 2;
        s.length = 1.5f, s.flutediameter = diameter, s.flutelength = 0.5f, s.value = 0.0f, s.rampangle = 20.0f;
        toollib_write(slot, s);
    }
    static const rec_element *byid(int32_t id)
    {
        for (const rec_element &e : harness_elements)
            if (e.id == id)
                return &e;
        return nullptr;
    }
    static int clickid(int32_t id)
    {
        const rec_element *e = byid(id);
        if (!e)
            return 0;
        harness_clickrect(e->rect);
        return 1;
    }
    static void open(int mode, int target)
    {
        toollib_open(mode, target);
        harness_frame();
    }
};

TEST_F(ToolLibraryDialog, DiameterTwiceReversesWithEmptySlotsLast)
{
    putslot(10, 1, 0.5f, "half");
    putslot(20, -1, 3.0f, "three mm");
    putslot(30, 3, 0.25f, "quarter vee");
    open(toollib_loadmode, 1);
    ASSERT_TRUE(clickid(toollib_id + toollib_column + 2));
    EXPECT_EQ(toollib_state.column, 3);
    EXPECT_EQ(toollib_state.sign, 1);
    const int up[3] = {30, 10, 20};
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(cam_toollibview[i], up[i]) << i;
    ASSERT_TRUE(clickid(toollib_id + toollib_column + 2));
    EXPECT_EQ(toollib_state.sign, -1);
    const int down[3] = {20, 10, 30};
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(cam_toollibview[i], down[i]) << i;
    for (int i = 3; i < cfg_toolcount; i++)
        ASSERT_EQ(toollib_read(cam_toollibview[i]).type, 0) << "empty slots last, position " << i;
}

TEST_F(ToolLibraryDialog, MovesOnlyInSlotOrderAndNotUpFromTheFirstRow)
{
    open(toollib_loadmode, 1);
    EXPECT_EQ(byid(toollib_rowid + 1), nullptr) << "slot 1 cannot move up";
    EXPECT_NE(byid(toollib_rowid + 2), nullptr);
    EXPECT_NE(byid(toollib_rowid + 3 + 1), nullptr);
    putslot(0, 1, 0.5f, "first");
    harness_frame();
    ASSERT_TRUE(clickid(toollib_rowid + 2));
    EXPECT_STREQ(toollib_read(1).name, "first") << "moved down a slot";
    EXPECT_EQ(toollib_read(0).type, 0);
    toollib_sort(2);
    harness_frame();
    for (int p = 0; p < toollib_rows; p++) {
        EXPECT_EQ(byid(toollib_rowid + 3 * p + 1), nullptr);
        EXPECT_EQ(byid(toollib_rowid + 3 * p + 2), nullptr);
    }
}

TEST_F(ToolLibraryDialog, RowsFollowTheScrollAndPages)
{
    open(toollib_savemode, 1); // every row a button
    for (int i = 0; i < 9; i++)
        ASSERT_TRUE(clickid(toollib_id + toollib_pgdown));
    EXPECT_FLOAT_EQ(toollib_state.scroll, 81.0f / 256.0f);
    toollib_state.scroll = 1.0f;
    toollib_sort(1);
    toollib_sort(1); // back to slot order, ascending
    harness_frame();
    EXPECT_EQ(toollib_firstrow(), 247);
    ASSERT_TRUE(clickid(toollib_id + toollib_pgdown));
    EXPECT_FLOAT_EQ(toollib_state.scroll, 1.0f) << "not past the end";
    EXPECT_EQ(byid(toollib_rowid + 3 * 246), nullptr);
    EXPECT_NE(byid(toollib_rowid + 3 * 255), nullptr) << "slot 256 is the last row";
    EXPECT_EQ(byid(toollib_rowid + 3 * 255 + 2), nullptr) << "slot 256 cannot move down";
}

TEST_F(ToolLibraryDialog, AMetricToolSavedNegativeLoadsBackMetric)
{
    ASSERT_EQ(cam_settool(1, "metric vee", tool_vbit, 2, 3, 6.0f, 0.0f, 60.0f, 40.0f, 10.0f), 1);
    putslot(4, 0, 0.0f, "None");
    open(toollib_savemode, 1);
    ASSERT_EQ(harness_click("libslot05"), 1);
    EXPECT_TRUE(harness_rec.boxes.empty()) << "an empty slot is saved to without a question";
    toollib_slot s = toollib_read(4);
    EXPECT_EQ(s.type, -tool_vbit);
    EXPECT_STREQ(s.name, "metric vee");
    EXPECT_EQ(gui_dialogid, 0);
    EXPECT_EQ(status(), "...saved tool to library");
    EXPECT_TRUE(log.contains("saving tool#01 \"metric vee\" to library slot#05")) << log.text();

    open(toollib_loadmode, 2);
    ASSERT_EQ(harness_click("libslot05"), 1);
    EXPECT_EQ(cam_tools[1].type, tool_vbit);
    EXPECT_EQ(cam_tools[1].units, 2);
    EXPECT_EQ(cam_tools[1].flutes, 3);
    EXPECT_STREQ(project.tools[1].name, "metric vee");
    EXPECT_EQ(opeditor_tool, 2) << "no defined tool in the operation editor: it takes the target";
    EXPECT_EQ(gui_dialogid, 0);
    EXPECT_TRUE(log.contains("loading library slot #05 \"metric vee\" to tool02")) << log.text();
}

TEST_F(ToolLibraryDialog, SavingOverAnOccupiedSlotAsksFirst)
{
    putslot(0, 1, 0.5f, "keep me");
    ASSERT_EQ(cam_settool(1, "newcomer", tool_cylinder, 1, 2, 0.25f, 1.0f, 0.0f, 1.5f, 20.0f), 1);
    open(toollib_savemode, 1);
    harness_rec.boxanswer = 0;
    ASSERT_EQ(harness_click("libslot01"), 1);
    ASSERT_EQ(harness_rec.boxes.size(), 1u);
    EXPECT_EQ(harness_rec.boxes[0], "Kerfmill|A tool definition already exists in this slot. Are you sure you want "
                                    "to overwrite it?|2|4");
    EXPECT_STREQ(toollib_read(0).name, "keep me");
    harness_rec.boxanswer = 1;
    ASSERT_EQ(harness_click("libslot01"), 1);
    EXPECT_STREQ(toollib_read(0).name, "newcomer");
}

// An empty slot would take the project tool from its operations; a running
// job would make the load wait on the main thread.
TEST_F(ToolLibraryDialog, RowsThatCannotLoadAreLabels)
{
    putslot(1, 1, 0.5f, "defined");
    open(toollib_loadmode, 1);
    EXPECT_FALSE(harness_present("libslot01")) << "empty slot in load mode";
    EXPECT_TRUE(harness_present("libslot02"));
    cam_generatingop = 0;
    harness_frame();
    EXPECT_FALSE(harness_present("libslot02")) << "a generator runs";
    cam_generatingop = -1;
    project_canvasjob.updating = 1;
    harness_frame();
    EXPECT_FALSE(harness_present("libslot02")) << "the canvas composes";
    project_canvasjob.updating = 0;
    EXPECT_EQ(toollib_loadslot(0), 0);
    EXPECT_EQ(cam_tools[0].type, tool_none);
    open(toollib_savemode, 1);
    EXPECT_TRUE(harness_present("libslot01")) << "empty slot in save mode is a target";
}

TEST_F(ToolLibraryDialog, ClosesOutsideTheToolsAndOperationsModes)
{
    for (int mode : {2, 3}) {
        projectmode = mode;
        open(toollib_loadmode, 1);
        EXPECT_EQ(gui_dialogid, 16);
    }
    projectmode = 1;
    harness_frame();
    EXPECT_EQ(gui_dialogid, 0);
}

} // namespace
