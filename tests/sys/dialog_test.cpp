// Message boxes, the colour picker, the file dialogs and shell opening as the
// program calls them, answered by the test seams: return values, the kept
// last paths, the custom colours and the log lines.
#include "sys/dialog.h"

#include "platform/seam.h"
#include "sys/config.h"
#include "testlog.h"

#include "testenv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// A box closed with its close button returns 0 as well; that answer comes
// from SDL and cannot be scripted, so only the chosen buttons are checked.
TEST(MessageBox, AnswersMapToReturnValues)
{
    struct Case {
        const char *answer;
        int buttons, icon, want;
    };
    const Case cases[] = {
        {"yes", 2, 5, 1}, {"no", 2, 5, 0},     {"ok", 1, 4, 1},
        {"cancel", 1, 4, 0}, {"ok", 0, 3, 1}, {"ok", 0, 6, 1},
    };
    for (const Case &c : cases) {
        scoped_env env;
        env.set("KERFMILL_MSGBOX_ANSWERS", c.answer);
        testlog_capture cap;
        EXPECT_EQ(sys_messagebox("Unsaved Project Changes", "Save first?", c.buttons, c.icon, 0), c.want) << c.answer;
        EXPECT_TRUE(cap.contains("sys_messagebox \"Unsaved Project Changes\"")) << c.answer;
    }
}

TEST(OpenUrl, AsksFirst)
{
    struct Case {
        const char *answer;
        int want, opened;
    };
    const Case cases[] = {{"yes", 1, 1}, {"no", 0, 0}};
    for (const Case &c : cases) {
        scoped_env env;
        env.set("KERFMILL_MSGBOX_ANSWERS", c.answer);
        env.set("KERFMILL_SHELL_LOG", "1");
        testlog_capture cap;
        EXPECT_EQ(sys_openurl("https://example.com/guide?a=1&b=2"), c.want) << c.answer;
        EXPECT_TRUE(cap.contains("sys_messagebox \"Open Internet Browser\"")) << c.answer;
        EXPECT_EQ(cap.count("ShellExecute: https://example.com/guide?a=1&b=2"), c.opened) << c.answer;
        EXPECT_EQ(cap.count("\"xdg-open\" \"https://example.com/guide?a=1&b=2\""), c.opened) << c.answer;
    }
}

TEST(ShellExecute, FormatsAndLogs)
{
    scoped_env env;
    env.set("KERFMILL_SHELL_LOG", "1");
    testlog_capture cap;
    EXPECT_EQ(sys_shellexecute("%s/%s", "docs", "UserGuide.html"), 1);
    EXPECT_TRUE(cap.contains("ShellExecute: docs/UserGuide.html"));
    EXPECT_TRUE(cap.contains("\"xdg-open\" \"docs/UserGuide.html\""));
}

// The configuration colours at their offsets, in the picker's order: each
// channel clamps to 0..1 and rounds to the nearest byte.
TEST(ChooseColor, CustomColoursFromConfig)
{
    std::vector<uint8_t> saved(cfg, cfg + cfg_size);
    const int fields[] = {64, 52, 124, 136, 148, 160, 172, 184, 196, 208, 220, 232, 29632, 29644};
    struct Case {
        float value;
        uint8_t want;
    };
    const Case cases[] = {{0.5f, 128}, {1.2f, 255}, {-0.1f, 0}, {0.0f, 0}, {1.0f, 255}, {0.2f, 51}, {0.002f, 1}};
    int n = 0;
    for (int field : fields)
        for (int ch = 0; ch < 3; ch++)
            cfg_setf(field + 4 * ch, cases[n++ % 7].value);
    sys_fillcustomcolors();
    n = 0;
    for (int i = 0; i < 14; i++)
        for (int ch = 0; ch < 3; ch++, n++)
            EXPECT_EQ(sys_customcolors[i][ch], cases[n % 7].want) << "colour " << i << " channel " << ch;
    for (int i = 14; i < 16; i++)
        EXPECT_EQ(sys_customcolors[i][0] | sys_customcolors[i][1] | sys_customcolors[i][2], 0) << i;
    memcpy(cfg, saved.data(), cfg_size);
}

TEST(ChooseColor, ChosenOrCancelled)
{
    std::vector<uint8_t> saved(cfg, cfg + cfg_size);
    scoped_env env;
    env.set("KERFMILL_COLOR_ANSWERS", "#0A80FF,cancel");
    testlog_capture cap;
    uint8_t color[3] = {1, 2, 3};
    ASSERT_EQ(sys_choosecolor(color), 1);
    EXPECT_EQ(color[0] * 65536 + color[1] * 256 + color[2], 0x0A80FF);
    EXPECT_TRUE(cap.contains("choosecolor...\n"));
    EXPECT_TRUE(cap.contains("...choosecolor: 0x0A80FF"));

    // The custom colours were taken once; later configuration changes wait
    // for the next run.
    uint8_t kept[16][3];
    memcpy(kept, sys_customcolors, sizeof(kept));
    cfg_setf(cfg_guipanelcolour, 0.5f);
    cfg_setf(cfg_appearcolor2 + 8, 0.25f);
    EXPECT_EQ(sys_choosecolor(color), 0);
    EXPECT_EQ(color[0] * 65536 + color[1] * 256 + color[2], 0x0A80FF);
    EXPECT_TRUE(cap.contains("...choosecolor cancelled"));
    EXPECT_EQ(memcmp(kept, sys_customcolors, sizeof(kept)), 0);
    memcpy(cfg, saved.data(), cfg_size);
}

TEST(FileDialog, SaveKeepsLastPathOnCancel)
{
    scoped_env env;
    env.set("KERFMILL_DIALOG_PATHS", "/home/u/part\n\n/home/u/Fräsen/Teil ü");
    const char *filter = "G-Code (*.nc)\0*.nc\0All Files\0*.*\0";
    testlog_capture cap;
    ASSERT_EQ(file_savedialog("Export G-Code", "/home/u", filter, "nc"), 1);
    EXPECT_STREQ(file_lastsavepath, "/home/u/part.nc");
    EXPECT_TRUE(cap.contains("GetSaveFileName SUCCESS: \"/home/u/part.nc\" (15)"));

    EXPECT_EQ(file_savedialog("Export G-Code", "/home/u", filter, "nc"), 0);
    EXPECT_STREQ(file_lastsavepath, "/home/u/part.nc");
    EXPECT_FALSE(cap.contains("GetSaveFileName FAILED")); // a cancelled save logs nothing

    // The length logged counts bytes: ä and ü take two each.
    ASSERT_EQ(file_savedialog("Export G-Code", "/home/u", filter, "nc"), 1);
    EXPECT_STREQ(file_lastsavepath, "/home/u/Fräsen/Teil ü.nc");
    EXPECT_TRUE(cap.contains("GetSaveFileName SUCCESS: \"/home/u/Fräsen/Teil ü.nc\" (26)"));
}

TEST(FileDialog, OpenCancelLogsFailureAndKeepsPath)
{
    scoped_env env;
    env.set("KERFMILL_DIALOG_PATHS", "/srv/Würfel.stl\n");
    const char *filter = "Models\0*.stl;*.obj\0";
    testlog_capture cap;
    ASSERT_EQ(file_opendialog("Import Model", nullptr, filter), 1);
    EXPECT_STREQ(file_lastopenpath, "/srv/Würfel.stl");
    EXPECT_TRUE(cap.contains("GetOpenFileName SUCCESS: \"/srv/Würfel.stl\" (16)"));

    EXPECT_EQ(file_opendialog("Import Model", nullptr, filter), 0);
    EXPECT_STREQ(file_lastopenpath, "/srv/Würfel.stl");
    EXPECT_TRUE(cap.contains("GetOpenFileName FAILED: 0x0\n"));
}
