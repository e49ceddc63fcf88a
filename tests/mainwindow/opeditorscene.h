// Test helper for the operation editor's rows: the real main window in
// operations mode with side panel 6 open on operation 1, a working copy set
// to known values, a 12 x 6 x 1 inch canvas, no tools; typing into a named
// field and reading what the editor showed.
#pragma once
#include "cam/tool.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/optypes.h"
#include "shellscene.h"

#include <set>
#include <string>

class EditorScene : public ShellScene {
protected:
    float savedsize[3];

    void SetUp() override
    {
        ShellScene::SetUp();
        memcpy(savedsize, project.size, sizeof(savedsize));
        project.size[0] = 12.0f;
        project.size[1] = 6.0f;
        project.size[2] = 1.0f;
        cam_settooldefaults();
        opeditor = opeditor_record{};
        opeditor.feed = 40;
        opeditor.z_doc = 0.125f;
        opeditor.z_max = 1.0f;
        opeditor.step = 0.1f;
        opeditor_settexts(&opeditor, 1);
        optypes_forgetlayers();
        projectmode = 3;
        gui_selectedop = 1;
        gui_sidepanel = 6;
        harness_rec.boxes.clear();
        harness_frame();
    }
    void TearDown() override
    {
        memcpy(project.size, savedsize, sizeof(savedsize));
        cam_settooldefaults();
        opeditor = opeditor_record{};
        gui_selectedop = -1;
        gui_sidepanel = 0;
        ShellScene::TearDown();
    }
    static void settype(int t)
    {
        optypes_settype(t);
        harness_frame();
    }
    // A tool of the given units with flute length, total length and diameter.
    static void settool(int n, int units, float flute, float total, float diameter)
    {
        ASSERT_EQ(cam_settool(n, "T", tool_cylinder, units, 2, diameter, flute, 0.0f, total, 10.0f), 1);
    }
    static void typeinto(const char *field, const char *text)
    {
        ShellScene::typeinto(field, text, opeditor_textsize);
    }
    static bool shown(const std::string &text)
    {
        for (const rec_text &t : harness_rec.texts)
            if (t.text.find(text) != std::string::npos)
                return true;
        return false;
    }
    static int boxes(const std::string &caption)
    {
        int n = 0;
        for (const std::string &b : harness_rec.boxes)
            n += b.rfind(caption + "|", 0) == 0;
        return n;
    }
    // Names of the editor's elements in the right column this frame.
    static std::set<std::string> editornames()
    {
        std::set<std::string> out;
        const float left = 1280.0f - (float)cfg_geti(cfg_rightpanelwidth);
        for (const rec_element &e : harness_elements)
            if (!e.name.empty() && e.rect.x >= left - 1.0f && e.name.rfind("op", 0) == 0)
                out.insert(e.name);
        return out;
    }
};
