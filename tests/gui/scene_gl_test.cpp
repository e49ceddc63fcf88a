// The GUI pass through the real call table on a real context: a fixed scene
// (nested windows, boxes, lines, an arrow, a circle, an arc, an untextured
// image, clipped texts, a tooltip, the console) drawn into an offscreen
// framebuffer in the shipped data fonts at a fixed clock, read back and
// compared with tests/gui/scene_golden.png by ImageMagick's compare. The
// animated overlays (the highlight glow, the attention frame and the guide
// line) are painted over in both images before comparing.
//
// KERFMILL_UPDATE_GOLDEN=1 writes the golden from this run instead of
// comparing; look at the new image before checking it in.
#include "goldenimage.h"
#include "guiglfixture.h"

#include "gui/calls.h"
#include "gui/drawlist.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/log.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int scene_w = 800, scene_h = 600;
// Mouse at the right, the highlighted box at the left on the same row: the
// guide line runs level between them, 600 px long (full opacity).
constexpr int scene_mouse[2] = {700, 580};
const gui_rect scene_highlight = {60, 570, 80, 20};
const gui_rect scene_attention = {600, 40, 160, 30};

struct scene_mask {
    int x0, y0, x1, y1; // inclusive pixels
};
// The glow, the attention frame (1 px outside the rectangle) and the line,
// each with a margin for the rasteriser's edges; in both halves of the image.
const scene_mask scene_masks[] = {
    {58, 568, 142, 592},
    {597, 37, 763, 73},
    {56, 576, 704, 585},
};


void scene_window()
{
    const float *text = gui_textcolour;
    // The outer window with a panel box, a framed box and a row of cells.
    gui_beginwindow(1, 20, 20, 500, 400, 1, nullptr);
    gui_addbox({20, 20, 500, 400}, gui_panelcolour[0], gui_panelcolour[1], gui_panelcolour[2], 1.0f, 0);
    gui_addbox({40, 40, 200, 40}, gui_widgetcolour[0], gui_widgetcolour[1], gui_widgetcolour[2], 1.0f, 1);
    gui_addtext(48, 52, 1, 0.0f, text[0], text[1], text[2], "Framed box", {40, 40, 200, 40});
    gui_addbox({260, 40, 120, 40}, gui_hotcolour[0], gui_hotcolour[1], gui_hotcolour[2], 1.0f, 1);
    gui_addbox({400, 40, 100, 40}, gui_presscolour[0], gui_presscolour[1], gui_presscolour[2], 1.0f, 1);
    // A text longer than its cell: cut at the cell's inner edge.
    gui_addtext(48, 102, 1, 0.0f, 1.0f, 1.0f, 0.0f, "Clipped text runs past the edge of its cell",
                {40, 96, 160, 24});
    gui_addbox({40, 96, 160, 24}, 0.1f, 0.1f, 0.1f, 1.0f, 0);
    // Lines, an arrow, a circle and an arc.
    const float a[2] = {40, 140}, b[2] = {240, 140}, c[2] = {40, 160}, d[2] = {240, 200};
    gui_addline(a, b, 1.0f, 0.2f, 0.2f, 1.0f);
    gui_addline(c, d, 0.2f, 1.0f, 0.2f, 1.0f);
    const float tip[2] = {260, 150}, tail[2] = {380, 210};
    gui_addarrow(tip, tail, 1.0f, 1.0f, 0.0f, 1.0f);
    const gui_rect all = {0, 0, (float)scene_w, (float)scene_h};
    gui_addcircle(110, 280, 50, 10, 0.3f, 0.8f, 1.0f, 1.0f, all);
    gui_drawshape(260, 280, 50, 0, 180, 1.0f, 0.5f, 0.0f, 1.0f, all);
    // An image with no texture: a black rectangle.
    gui_addimage(-1, 1.0f, 1.0f, 1.0f, 1.0f, {340, 240, 80, 60});

    // The inner window, one level deeper: drawn in front of the outer one
    // where they overlap.
    gui_beginwindow(2, 300, 320, 300, 180, 1, nullptr);
    gui_addbox({300, 320, 300, 180}, 0.15f, 0.25f, 0.45f, 1.0f, 0);
    gui_addbox({320, 340, 260, 36}, gui_widgetcolour[0], gui_widgetcolour[1], gui_widgetcolour[2], 1.0f, 1);
    gui_addtext(330, 350, 1, 0.0f, text[0], text[1], text[2], "Inner window", {320, 340, 260, 36});
    gui_addtext(330, 400, 14, 0.0f, 0.0f, 1.0f, 1.0f, "Fixed font, clipped at the right", {320, 392, 150, 30});
    gui_endwindow();
    // Queued after the inner window's end, so the outer window's end draws
    // the attention frame (half opacity at this clock).
    gui_attentionrect = scene_attention;
    gui_endwindow();

    // A window of its own for the highlighted box: its end draws the glow and
    // leaves the centre the guide line runs to.
    gui_beginwindow(3, 40, 550, 140, 50, 1, nullptr);
    gui_addbox(scene_highlight, gui_widgetcolour[0], gui_widgetcolour[1], gui_widgetcolour[2], 1.0f, 1);
    gui_highlightrect = scene_highlight;
    gui_endwindow();

    gui_showtooltip("A tooltip beside the pointer");
}

void scene_pass(int)
{
    scene_window();
}

class GuiScene : public GuiGlTest {
protected:
    void SetUp() override
    {
        startgui(scene_w, scene_h, scene_mouse[0], scene_mouse[1]);
        gui_mainwindowpass = scene_pass;
        gui_consoleopen = 0;
        gui_consolescroll = 0;
    }
    void TearDown() override
    {
        gui_consoleopen = 0;
        con_free();
        endgui();
    }

    // One pass at a fixed clock, read back top row first.
    rgbimage frame(double time)
    {
        sys_time = time;
        glClearColor(0.25f, 0.3f, 0.35f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        gui_refresh();
        glFinish();
        return golden_readback(scene_w, scene_h);
    }
};

// The scene above, then the same with the console open over it, stacked.
rgbimage scene_stack(const rgbimage &top, const rgbimage &bottom)
{
    rgbimage out;
    out.width = top.width;
    out.height = top.height + bottom.height;
    out.rgb = top.rgb;
    out.rgb.insert(out.rgb.end(), bottom.rgb.begin(), bottom.rgb.end());
    return out;
}

void scene_paintmasks(rgbimage &img)
{
    for (int half = 0; half < img.height / scene_h; half++)
        for (const scene_mask &m : scene_masks)
            for (int y = m.y0; y <= m.y1; y++)
                for (int x = m.x0; x <= m.x1; x++) {
                    uint8_t *p = &img.rgb[3 * ((size_t)(y + half * scene_h) * img.width + x)];
                    p[0] = 255;
                    p[1] = 0;
                    p[2] = 255;
                }
}

TEST_F(GuiScene, RealTableDrawsTheGoldenScene)
{
    const rgbimage plain = frame(1000.25);
    // The console over the same scene, showing a few fixed lines.
    con_free();
    ASSERT_EQ(con_alloc(), 1);
    // Stored straight into the ring: a logged line would carry the real time.
    const char *lines[] = {"first console line", "second console line: 100% done", "third console line"};
    for (const char *line : lines)
        sys_console[sys_consolecount++] = sys_strdup(line);
    gui_consoleopen = 1;
    const rgbimage console = frame(1000.25);
    rgbimage shot = scene_stack(plain, console);

    checkgolden(shot, "scene", scene_paintmasks);
}

} // namespace
