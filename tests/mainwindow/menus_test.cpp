// The menus: list sizes, the unsaved-changes question of New and Open, the
// Save item's state, the check boxes, Default Configuration, the Help items
// and the dialogs the items open, and the file items under a running
// generator.
#include "mainwindow/fileactions.h"
#include "mainwindow/toollib.h"
#include "shellscene.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using Menus = ShellScene;

TEST_F(Menus, ListsAre250PixelsWideWithTheirRowHeights)
{
    struct Case {
        const char *head, *first, *last;
        float height;
    };
    const Case cases[] = {
        {"menu_file", "file_newproject", "file_viewlogs", 198.0f},
        {"menu_config", "cfg_themes", "cfg_defaults", 231.0f},
        {"menu_help", "help_tutorials", "help_about", 237.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.head);
        ASSERT_TRUE(harness_click(c.head));
        harness_frame();
        const rec_element *head = harness_find(c.head), *first = harness_find(c.first), *last = harness_find(c.last);
        ASSERT_TRUE(head && first && last);
        float sp = (float)gui_spacing;
        // Windows sit on whole pixels.
        EXPECT_NEAR(first->rect.x, head->rect.x, 1.0f) << "the list hangs below its head";
        EXPECT_FLOAT_EQ(first->rect.y, head->rect.y + 20.0f);
        EXPECT_FLOAT_EQ(first->rect.w + sp, 250.0f);
        EXPECT_FLOAT_EQ(last->rect.y + last->rect.h - (first->rect.y - sp), c.height);
        EXPECT_EQ(first->window, last->window);
        EXPECT_NE(first->window, 10300) << "a list is a window of its own";
    }
}

TEST_F(Menus, NewAndOpenAnsweredNoLeaveTheProjectAlone)
{
    for (const char *item : {"file_newproject", "file_openproject"}) {
        SCOPED_TRACE(item);
        snprintf(project.path, sizeof(project.path), "%s", "/keep/me.kfm");
        project_hasfile = 1;
        project_changetime = 12.5f;
        gui_sidepanel = 3;
        env.set("KERFMILL_DIALOG_PATHS", dir.at("other.kfm").c_str());
        harness_rec.boxes.clear();
        harness_rec.boxanswer = 0;
        ASSERT_TRUE(menuclick("menu_file", item));
        ASSERT_EQ(harness_rec.boxes.size(), 1u);
        EXPECT_EQ(harness_rec.boxes[0],
                  "Unsaved Project Changes|Changes have been made to this project and will be lost if not saved. "
                  "Would you like to continue without saving?|2|4");
        EXPECT_STREQ(project.path, "/keep/me.kfm");
        EXPECT_EQ(project_changetime.load(), 12.5f);
        EXPECT_EQ(gui_sidepanel, 3);
        EXPECT_FALSE(log.contains("GetOpenFileName")) << "no dialog, no load";
    }
}

TEST_F(Menus, NewWithoutChangesAsksNothing)
{
    gui_sidepanel = 3;
    ASSERT_TRUE(menuclick("menu_file", "file_newproject"));
    EXPECT_TRUE(harness_rec.boxes.empty());
    EXPECT_EQ(gui_sidepanel, 0);
    EXPECT_EQ(project_hasfile, 0u);
}

TEST_F(Menus, ACancelledOpenIsLogged)
{
    ASSERT_TRUE(menuclick("menu_file", "file_openproject"));
    EXPECT_TRUE(log.contains("failed to get fileopen path")) << log.text();
    EXPECT_TRUE(harness_rec.boxes.empty()) << "nothing unsaved, nothing asked";
}

// Named means clickable: a label carries no name.
TEST_F(Menus, SaveProjectIsAButtonOnlyForASavedProjectWithChanges)
{
    struct Case {
        uint32_t hasfile;
        float changed;
        bool button;
    };
    const Case cases[] = {{0, 0.0f, false}, {0, 3.0f, false}, {1, 0.0f, false}, {1, 3.0f, true}};
    ASSERT_TRUE(harness_click("menu_file"));
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "file " << c.hasfile << " changed " << c.changed);
        project_hasfile = c.hasfile;
        project_changetime = c.changed;
        harness_frame();
        EXPECT_EQ(harness_present("file_saveproject"), c.button);
        EXPECT_TRUE(harness_present("file_saveprojectas"));
    }
}

TEST_F(Menus, EachCheckBoxFlipsItsField)
{
    struct Case {
        const char *name;
        std::function<int()> value;
    };
    const Case cases[] = {
        {"cfg_autobackup", [] { return cfg_geti(cfg_autobackup); }},
        {"cfg_gpuconvo", [] { return cfg_geti(cfg_gpuconvo); }},
        {"cfg_debuginfo", [] { return cfg_geti(cfg_debuginfo); }},
        {"cfg_showconsole", [] { return (int)gui_consoleopen; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int before = c.value();
        ASSERT_TRUE(menuclick("menu_config", c.name));
        EXPECT_EQ(c.value(), !before);
        ASSERT_TRUE(menuclick("menu_config", c.name));
        EXPECT_EQ(c.value(), before);
    }
    gui_consoleopen = 0;
}

TEST_F(Menus, DefaultConfigurationKeepsUnitsGridAndLibrary)
{
    cfg_seti(cfg_units, 2);
    cfg_seti(cfg_projunits, 2);
    cfg_setf(cfg_gridsubdiv, 5.0f);
    cfg_settext(cfg_toolnames + 64 * 9, "Kept Mill");
    cfg_seti(cfg_guispacing, 4);
    harness_rec.boxanswer = 0;
    ASSERT_TRUE(menuclick("menu_config", "cfg_defaults"));
    EXPECT_EQ(cfg_geti(cfg_guispacing), 4) << "No keeps everything";
    ASSERT_EQ(harness_rec.boxes.size(), 1u);
    EXPECT_EQ(harness_rec.boxes[0], "Configuration|Are you sure you want to reset user\nconfiguration to defaults?|2|4");

    harness_rec.boxanswer = 1;
    view_redraw = 0;
    ASSERT_TRUE(menuclick("menu_config", "cfg_defaults"));
    EXPECT_EQ(cfg_geti(cfg_guispacing), 1) << "the rest is the built-in record";
    EXPECT_EQ(cfg_geti(cfg_units), 2);
    EXPECT_EQ(cfg_geti(cfg_projunits), 2);
    EXPECT_EQ(cfg_getf(cfg_gridsubdiv), 5.0f);
    EXPECT_STREQ(cfg_gettext(cfg_toolnames + 64 * 9), "Kept Mill");
    EXPECT_TRUE(log.contains("GRIDSUBDIV:5.000000 PROJUNITS:2 UNITS:2")) << log.text();
    EXPECT_NE(view_redraw.load(), 0);
}

TEST_F(Menus, HelpItemsOpenTheirDocumentsAndPages)
{
    struct Case {
        const char *head, *item, *logged;
        bool asks; // the browser question comes first
    };
    const Case cases[] = {
        {"menu_help", "help_userguide", "\"xdg-open\" \"UserGuide.html\"", false},
        {"menu_help", "help_changes", "\"xdg-open\" \"changes.txt\"", false},
        {"menu_help", "help_issues", "\"xdg-open\" \"issues.txt\"", false},
        {"menu_help", "help_examples", "\"xdg-open\" \"https://kerfmill.example/downloads\"", true},
        {"menu_help", "help_youtube", "\"xdg-open\" \"https://kerfmill.example/videos\"", true},
        {"menu_help", "help_forum", "\"xdg-open\" \"https://kerfmill.example/forum\"", true},
        {"menu_help", "help_news", "\"xdg-open\" \"https://kerfmill.example/news\"", true},
        {"menu_help", "help_visit", "\"xdg-open\" \"https://kerfmill.example/\"", true},
        {"menu_file", "file_viewposts", "\"xdg-open\" \"posts\"", false},
    };
    env.set("KERFMILL_SHELL_LOG", "1");
    env.set("KERFMILL_MSGBOX_ANSWERS", "yes");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.item);
        testlog_capture each;
        ASSERT_TRUE(menuclick(c.head, c.item));
        EXPECT_TRUE(each.contains(c.logged)) << each.text();
        EXPECT_EQ(each.contains("sys_messagebox \"Open Internet Browser\""), c.asks) << each.text();
    }
    testlog_capture logs;
    ASSERT_TRUE(menuclick("menu_file", "file_viewlogs"));
    EXPECT_TRUE(logs.contains(std::string("\"xdg-open\" \"") + sys_userfolder + "\"")) << logs.text();

    env.set("KERFMILL_MSGBOX_ANSWERS", "no");
    testlog_capture refused;
    ASSERT_TRUE(menuclick("menu_help", "help_visit"));
    EXPECT_FALSE(refused.contains("xdg-open")) << "No opens nothing";
}

TEST_F(Menus, ItemsOpenTheirDialogs)
{
    struct Case {
        const char *head, *item;
        int dialog;
    };
    const Case cases[] = {
        {"menu_config", "cfg_themes", 13},       {"menu_config", "cfg_uisettings", 8},
        {"menu_config", "cfg_viewsettings", 9},  {"menu_config", "cfg_camsettings", 11},
        {"menu_config", "cfg_simsettings", 10},  {"menu_help", "help_about", 19},
        {"menu_help", "help_tutorials", 28},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.item);
        gui_setdialog(0);
        harness_frame();
        ASSERT_TRUE(menuclick(c.head, c.item));
        EXPECT_EQ(gui_dialogid, c.dialog);
    }
    EXPECT_TRUE(log.contains("freed 0 tutorials")) << "the tutorials are reloaded first";
    ASSERT_TRUE(harness_click("menu_help"));
    EXPECT_FALSE(harness_present("help_tutorials")) << "a label while its dialog is open";
    EXPECT_TRUE(harness_present("help_about"));
}

TEST_F(Menus, ToolLibraryItemsMoveTheBlock)
{
    env.set("KERFMILL_DIALOG_PATHS", dir.at("menu.ktl").c_str());
    ASSERT_TRUE(menuclick("menu_file", "file_exporttools"));
    EXPECT_EQ(std::filesystem::file_size(dir.at("menu.ktl")), (uintmax_t)toollib_bytes);
    cfg_settext(cfg_toolnames, "Changed");
    ASSERT_TRUE(menuclick("menu_file", "file_importtools"));
    EXPECT_STREQ(cfg_gettext(cfg_toolnames), "None") << log.text();
    cfg_settext(cfg_toolnames, "Changed");
    ASSERT_TRUE(menuclick("menu_config", "cfg_cleartoollib"));
    EXPECT_STREQ(cfg_gettext(cfg_toolnames), "None");
}

// While an operation generates, the file items that read or replace the
// project are labels; the rest of the menu stays.
TEST_F(Menus, FileItemsAreLabelsWhileAnOperationGenerates)
{
    struct Case {
        const char *name;
        bool whilegenerating;
    };
    const Case cases[] = {
        {"file_newproject", false},  {"file_openproject", false}, {"file_saveproject", false},
        {"file_saveprojectas", false}, {"file_exportgcode", true}, {"file_importtools", true},
        {"file_exporttools", true},  {"file_viewposts", true},   {"file_viewlogs", true},
    };
    project_hasfile = 1;
    project_changetime = 3.0f;
    ASSERT_TRUE(harness_click("menu_file"));
    for (int generating : {0, 1}) {
        cam_generatingop = generating ? 2 : -1;
        harness_frame();
        for (const Case &c : cases)
            EXPECT_EQ(harness_present(c.name), generating ? c.whilegenerating : true)
                << c.name << (generating ? " while generating" : "");
    }
}

} // namespace

namespace {

// The actions refuse on their own too, whoever calls them: a generator may
// be filling a toolpath slot that a save reads and a new project frees.
TEST_F(Menus, FileActionsRefuseWhileAnOperationGenerates)
{
    struct Case {
        const char *what;
        std::function<int()> action;
        const char *status;
    };
    const Case cases[] = {
        {"new", fileact_new, "...cannot start a new project while an operation is being generated"},
        {"open", fileact_open, "...cannot open a project while an operation is being generated"},
        {"save", fileact_save, "...cannot save the project while an operation is being generated"},
        {"save as", fileact_saveas, "...cannot save the project while an operation is being generated"},
    };
    snprintf(project.path, sizeof(project.path), "%s", dir.at("p.kfm").c_str());
    project_hasfile = 1;
    project_changetime = 2.0f;
    env.set("KERFMILL_DIALOG_PATHS", dir.at("other.kfm").c_str());
    cam_generatingop = 3;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.action(), 0);
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(project_savebusy.load(), 0);
        EXPECT_EQ(project_changetime.load(), 2.0f) << "the project is as it was";
        EXPECT_TRUE(harness_rec.boxes.empty()) << "nothing asked";
    }
    EXPECT_FALSE(log.contains("GetOpenFileName")) << log.text();
    EXPECT_FALSE(std::filesystem::exists(dir.at("p.kfm")));
}

} // namespace
