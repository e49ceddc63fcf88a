// Test helper for the main window: the headless GUI harness (recording call
// table, fixed-metric fonts, scripted input) with the GUI pass aimed at the
// real main window, over the small project of the undo tests, at 1280 x 800.
// Every mode global starts at its program value; the panel table is put
// back after each test, so a test may put recording stand-ins in it. Open
// and save dialogs are answered through KERFMILL_DIALOG_PATHS.
#pragma once
#include "../gui/guiharness.h"
#include "../project/undofixture.h"
#include "cam/cam.h"
#include "gui/dialog.h"
#include "mainwindow/dialogs.h"
#include "mainwindow/mainwindow.h"
#include "platform/seam.h"
#include "sys/log.h"
#include "view/modes.h"
#include "view/simview.h"
#include "view/view.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

class MainWindow : public UndoProject {
public:
    mainwindow_panelfn savedpanels[panel_count];
    std::string saveddialogpaths;
    bool haddialogpaths = false;
    bool started = false; // UndoProject::SetUp calls TearDown before this SetUp ran

    void SetUp() override
    {
        UndoProject::SetUp();
        memcpy(savedpanels, mainwindow_panels, sizeof(savedpanels));
        const char *paths = getenv("KERFMILL_DIALOG_PATHS");
        haddialogpaths = paths != nullptr;
        saveddialogpaths = paths ? paths : "";
        harness_start();
        sys_drawable[0] = 1280;
        sys_drawable[1] = 800;
        gui_mainwindowpass = gui_mainwindow;
        resetmodes();
        started = true;
    }
    void TearDown() override
    {
        if (!started) {
            UndoProject::TearDown();
            return;
        }
        started = false;
        gui_dialogid = 0;
        gui_dialoglayer = -1;
        memcpy(mainwindow_panels, savedpanels, sizeof(savedpanels));
        harness_stop();
        if (haddialogpaths)
            setenv("KERFMILL_DIALOG_PATHS", saveddialogpaths.c_str(), 1);
        else
            unsetenv("KERFMILL_DIALOG_PATHS");
        plat_seamreset();
        resetmodes();
        UndoProject::TearDown();
    }

    // The globals the main window and the viewport share, as the program
    // starts them.
    static void resetmodes()
    {
        projectmode = 1;
        gui_selectedlayer = -1;
        gui_layerfromlist = 0;
        gui_unappliedchanges = 0;
        gui_selectedop = -1;
        gui_selectedtool = -1;
        gui_sidepanel = 0;
        project_removelayer = project_mergedownlayer = -1;
        gui_undorequest = gui_redorequest = 0;
        sim_playing = 0;
        sim_updating = 0;
        sim_progress = 0.0;
        cam_generatingop = -1;
        project_rastertool = -1;
        project_textlayeredit = -1;
        project_pathslayeredit = -1;
        project_selectedlayer = -1;
        project_selectlayer = -1;
        gui_dialogid = 0;
        gui_dialoglayer = -1;
        gui_alongpathspreview = 0;
        gui_dialogpos[0] = gui_dialogpos[1] = 100.0f;
        gui_dialogsize[0] = 256.0f;
        gui_dialogsize[1] = 160.0f;
        view_redraw = 0;
        sys_statustext[0] = 0;
    }

    // The answers the next open and save dialogs give, in turn; an empty
    // entry cancels.
    static void dialogpaths(const std::vector<std::string> &paths)
    {
        std::string list;
        for (size_t i = 0; i < paths.size(); i++)
            list += (i ? "\n" : "") + paths[i];
        setenv("KERFMILL_DIALOG_PATHS", list.c_str(), 1);
        plat_seamreset();
    }

    // Selects a layer as the viewport would have done by this frame.
    static void selectlayer(int slot)
    {
        project_selectedlayer = slot;
        gui_selectedlayer = slot;
    }

    // The elements of the last frame drawn in the given window, in call order.
    static std::vector<rec_element> inwindow(int32_t window)
    {
        std::vector<rec_element> out;
        for (const rec_element &e : harness_elements)
            if (e.window == window)
                out.push_back(e);
        return out;
    }
};
