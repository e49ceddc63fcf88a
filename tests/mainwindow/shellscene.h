// Test helper: the real main window in the headless harness (the
// main-window fixture: recording call table, fixed fonts, scripted input,
// 1280 x 800) over a project record set to a known state for the menus,
// toolbar and status line: inch units, never saved, no changes, no
// generator, canvas mode. Message boxes answer through the recording table,
// file dialogs through KERFMILL_DIALOG_PATHS; the configuration is saved
// into a scratch folder.
#pragma once
#include "cam/cam.h"
#include "gui/dialog.h"
#include "gui/textedit/textedit.h"
#include "mainwindow/menus.h"
#include "mainwindow/statusline.h"
#include "mainwindow/toolbar.h"
#include "mainwindowfixture.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/project.h"
#include "sys/event.h"
#include "sys/log.h"
#include "testenv.h"
#include "testfolder.h"
#include "view/modes.h"
#include "view/readout.h"
#include "view/view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

class ShellScene : public MainWindow {
protected:
    testfolder dir{"shell"};
    scoped_env env;
    std::string savedcwd;

    void SetUp() override
    {
        MainWindow::SetUp();
        char cwd[1024];
        savedcwd = getcwd(cwd, sizeof(cwd)) ? cwd : "";
        snprintf(sys_programfolder, sizeof(sys_programfolder), "%s", savedcwd.c_str());
        snprintf(sys_configpath, sizeof(sys_configpath), "%s", dir.at("config.dat").c_str());
        env.set("KERFMILL_DIALOG_PATHS", "\n");
        project.units = 1;
        project.path[0] = 0;
        project_hasfile = 0;
        project_changetime = 0.0f;
        project_savebusy = 0;
        project.generating[0] = project.generating[1] = 0;
        project_canvasjob.updating = 0;
        cam_generatingop = -1;
        projectmode = 1;
        gui_sidepanel = 0;
        gui_selectedlayer = -1;
        gui_unappliedchanges = 0;
        gui_undorequest = gui_redorequest = 0;
        project_rastertool = -1;
        project_pathslayeredit = -1;
        project_textlayeredit = -1;
        text_editstate.string = nullptr;
        view_measuretool = {};
        view_toolpathsvisible = 1;
        view_capture = 0;
        memset(view_dragstates, 0, sizeof(view_dragstates));
        event_oldest = event_position = event_end = 0;
        gui_setdialog(0);
        sys_status("%s", "");
        harness_frame();
    }
    void TearDown() override
    {
        cam_generatingop = -1;
        project_changetime = 0.0f;
        if (!savedcwd.empty() && chdir(savedcwd.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << savedcwd;
        sys_configpath[0] = 0;
        MainWindow::TearDown();
    }

    // Opens the head's list and clicks the item; 1 when the click completed.
    static int menuclick(const char *head, const char *item)
    {
        harness_frame();
        if (!harness_present(item) && !harness_click(head))
            return 0;
        return harness_click(item);
    }
    // One frame with Ctrl and the letter going down, then one with both held.
    static void ctrlkey(int letter)
    {
        harness_press(key_ctrl);
        harness_press(letter);
        harness_frame();
    }
    static void ctrlrelease(int letter)
    {
        harness_release(letter);
        harness_release(key_ctrl);
        harness_frame();
    }
    static std::string status() { return sys_statustext; }
    // Whether the last frame drew exactly this text.
    static bool drawn(const std::string &text)
    {
        for (const rec_text &t : harness_rec.texts)
            if (t.text == text)
                return true;
        return false;
    }
    // The keys of a number: digits, the point and the minus sign.
    static int numberkey(char c)
    {
        if (c == '.')
            return 48;
        if (c == '-')
            return 38;
        return c == '0' ? 37 : c - '1' + 28;
    }
    // One key down for a frame, then up for a frame.
    static void key(int k)
    {
        harness_press(k);
        harness_frame();
        harness_release(k);
        harness_frame();
    }
    // Clicks the field, empties it of up to maxlen characters, types a
    // number and ends with Enter.
    static void typeinto(const char *field, const char *text, int maxlen)
    {
        ASSERT_TRUE(harness_present(field)) << field;
        harness_click(field);
        key(80); // End
        for (int i = 0; i < maxlen; i++)
            key(76); // Backspace
        for (const char *c = text; *c; c++)
            key(numberkey(*c));
        key(46); // Enter
        harness_frame();
    }
};
