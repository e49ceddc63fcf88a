// Test helper for the viewport: the project and its layers of the undo
// fixture, the built-in configuration, the recording call table in place of
// GL, the GUI ids free, the mode globals at their start values and a frame
// clock the test sets.
#pragma once
#include "project/undofixture.h"
#include "viewrecorder.h"

#include "cam/cam.h"
#include "cam/export.h"
#include "cam/simmodels.h"
#include "cam/simulate.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "project/brush.h"
#include "project/genraster.h"
#include "view/gizmo.h"
#include "project/project.h"
#include "project/rasteredit.h"
#include "project/tracepaths.h"
#include "sys/config.h"
#include "sys/input.h"
#include "sys/main.h"
#include "view/modes.h"
#include "view/grid.h"
#include "view/view.h"

class ViewProject : public UndoProject {
public:
    void SetUp() override
    {
        UndoProject::SetUp();
        memcpy(cfg, cfg_defaults, cfg_size);
        vrec.reset();
        view_calls = &vrec_calls;
        // The grid tile is built by the renderer itself, which needs a GL.
        view_gridrebuild = [] {};
        gui_hotid = gui_activeid = -1;
        gui_cursor = 1;
        projectmode = 1;
        gui_selectedlayer = -1;
        project_removelayer = project_mergedownlayer = -1;
        view_capture = 0;
        memset(view_dragstates, 0, sizeof(view_dragstates));
        memset(view_gizmodrag, 0, sizeof(view_gizmodrag));
        memset(input_keyframe, 0, sizeof(input_keyframe));
        memset(input_keyprev, 0, sizeof(input_keyprev));
        view_rebuilt = 1;
        view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
        sys_drawable[0] = 1000;
        sys_drawable[1] = 500;
        sys_time = 1.0;
        project.scale = 1.0f;
    }
    void TearDown() override
    {
        view_calls = &view_realcalls;
        view_gridrebuild = regengridmodel;
        UndoProject::TearDown();
    }
    // Projects with the recorder's camera: orthographic, half height d,
    // centred on (cx, cy), looking down.
    static void orthocamera(double d, double cx, double cy)
    {
        vrec_ortho(vrec.projection, 2.0, d, cx, cy);
    }
    // Holds a key for this frame after it was up (or down) the frame before.
    static void key(int code, int now, int before)
    {
        input_keyframe[code] = now;
        input_keyprev[code] = before;
    }
};
