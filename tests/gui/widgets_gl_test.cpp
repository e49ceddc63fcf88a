// The widget gallery through the real call table on a real context: every
// button and label member idle, hot and pressed, a slider, a knob, a scroll
// bar and both shape previews, drawn in the shipped data fonts into an
// offscreen framebuffer and compared with tests/gui/widgets_golden.png by
// ImageMagick's compare.
//
// KERFMILL_UPDATE_GOLDEN=1 writes the golden from this run instead of
// comparing; look at the new image before checking it in.
#include "goldenimage.h"
#include "guiglfixture.h"

#include "gui/calls.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "gui/widgets/preview.h"
#include "gui/widgets/values.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/input.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int gallery_w = 800, gallery_h = 600;
constexpr int32_t gallery_hotid = 50, gallery_pressedid = 60;

void gallery_push(float x, float y, float w, float h)
{
    gui_sectors[gui_sectorcount++] = {x, y, w, h};
}

// One row of the clickable members; state 0 idle, 1 hot, 2 pressed. Hot and
// pressed rows share one id that is made hot or pressed before each call.
void gallery_clickables(int state, float y)
{
    static const float swatch[3] = {0.9f, 0.5f, 0.1f};
    const std::function<void(int32_t)> members[] = {
        [](int32_t id) { gui_button(id, 1, 1, "Button"); },
        [](int32_t id) { gui_iconbutton(id, 80, 0, 1, "Icon"); },
        [](int32_t id) { gui_iconbuttonrect(id, 386, 1, 1, nullptr); },
        [](int32_t id) { gui_glyphbutton(id, 71, 0, 1, "Title"); },
        [](int32_t id) { gui_checkbox(id, 1, "Check"); },
        [](int32_t id) { gui_radiobutton(id, 1, 1, "Radio"); },
        [](int32_t id) { gui_rgbbutton(id, swatch); },
        [](int32_t id) { gui_infobutton(id, "info"); },
        [](int32_t id) { gui_alertbutton(id, "alert"); },
        [](int32_t id) { gui_dropdown(id, 5, 20, 100, 100, "Drop"); },
    };
    float x = 10;
    int32_t next = 1 + 10 * state;
    for (const auto &member : members) {
        int32_t id = state == 0 ? next++ : (state == 1 ? gallery_hotid : gallery_pressedid);
        if (state == 1)
            gui_hotid = id;
        if (state == 2)
            gui_activeid = id;
        gallery_push(x, y, 74, 34);
        member(id);
        x += 76;
    }
    gui_hotid = gui_activeid = -1;
}

void gallery_pass(int)
{
    gui_beginwindow(1, 0, 0, 1, 1, 1, nullptr);
    gallery_clickables(0, 10);
    gallery_clickables(1, 50);
    gallery_clickables(2, 90);
    const float orange[3] = {1.0f, 0.6f, 0.2f}, white[4] = {1, 1, 1, 1};
    gallery_push(10, 140, 130, 34);
    gui_label(80, 0, 1, "Label");
    gallery_push(145, 140, 130, 34);
    gui_valuetext(1, 0, "%.2f mm", 12.5);
    gallery_push(280, 140, 130, 34);
    gui_centerlabel(1, "Centred");
    gallery_push(415, 140, 130, 34);
    gui_iconlabel(300, 1, orange, "Icon label");
    gallery_push(550, 130, 120, 60);
    gui_image(-1, 200, 100, white, 1);
    gallery_push(10, 200, 300, 44);
    gui_valueslider(100, "%.2f", 37.5f, 0, 100, 0.5f);
    gallery_push(320, 200, 200, 40);
    gui_valueknob(101, "%.1f", 0.3f, 0, 1, 0.1f);
    gui_scrollposition = 0.3f;
    gui_scrolloffset = 0;
    gui_scrollextent = 2000;
    gallery_push(772, 200, 24, 380);
    gui_scrollbar(102);
    const float shape[6] = {1, 1, 5, 0.3f, 0.3f, 0.3f};
    gallery_push(10, 260, 240, 240);
    gui_supershape(360, 15, 0.4f, shape);
    gallery_push(260, 260, 420, 200);
    gui_brushprofile(10, 2, 0.4f, 0.3f, 0.1f);
    gui_endwindow();
}

class WidgetGallery : public GuiGlTest {
protected:
    void SetUp() override
    {
        startgui(gallery_w, gallery_h, 790, 590);
        gui_dialogpos[0] = gui_dialogpos[1] = 100;
        gui_dialogsize[0] = gui_dialogsize[1] = 300;
        gui_mainwindowpass = gallery_pass;
    }
    void TearDown() override { endgui(); }
};

TEST_F(WidgetGallery, RealTableDrawsTheGoldenGallery)
{
    sys_time = 500.0;
    glClearColor(0.25f, 0.3f, 0.35f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gui_refresh();
    glFinish();
    rgbimage shot = golden_readback(gallery_w, gallery_h);

    checkgolden(shot, "widgets");
}

} // namespace
