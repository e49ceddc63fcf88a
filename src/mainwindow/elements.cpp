// The element-file seam. The first line says where the program stands (frame,
// mode, open dialog, open drop-down); then one line per element in call
// order: its name ("-" for none), its window and its rectangle.
#include "mainwindow/elements.h"

#include "gui/dialog.h"
#include "gui/element.h"
#include "sys/file.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "view/modes.h"

#include <cstdio>
#include <cstdlib>
#include <string>

static std::string elements_path;
static std::string elements_frame;   // this frame's element lines
static std::string elements_written; // the state last written, frame number left out
static double elements_writtentime = 0; // sys_time of that writing
static gui_elementhookfn elements_next = nullptr;

static void elements_hook(const char *name, int32_t id, const gui_rect &rect, int32_t window, int result)
{
    char line[gui_maxelementtext + 96];
    snprintf(line, sizeof(line), "%s %d %.0f %.0f %.0f %.0f\n", name && name[0] ? name : "-", window, rect.x,
             rect.y, rect.w, rect.h);
    elements_frame += line;
    if (elements_next)
        elements_next(name, id, rect, window, result);
}

void elements_record(const char *path)
{
    if (gui_elementhook != elements_hook)
        elements_next = gui_elementhook;
    gui_elementhook = elements_hook;
    elements_path = path;
    elements_frame.clear();
    elements_written.clear();
    elements_writtentime = 0;
}

void elements_stop()
{
    if (gui_elementhook == elements_hook)
        gui_elementhook = elements_next;
    elements_next = nullptr;
    elements_path.clear();
}

void elements_start()
{
    const char *path = getenv("KERFMILL_ELEMENTS");
    if (!path || !path[0])
        return;
    elements_record(path);
}

void elements_endframe()
{
    if (elements_path.empty())
        return;
    // The pointer as this frame saw it (position, then the left, middle and
    // right buttons as bits 1, 2, 4): a test driving a drag waits for each
    // step to be taken in a frame before it makes the next, so the drag does
    // not depend on how many events one frame happens to gather.
    int buttons = (input_keys[key_mouseleft] ? 1 : 0) | (input_keys[key_mousemiddle] ? 2 : 0) |
                  (input_keys[key_mouseright] ? 4 : 0);
    char state[160];
    snprintf(state, sizeof(state), " mode %d dialog %d open %d pointer %d %d %d\n", projectmode, gui_dialogid,
             gui_openid, (int)input_mouse[0], (int)input_mouse[1], buttons);
    std::string now = state + elements_frame;
    elements_frame.clear();
    // An unchanged state is written again four times a second: its frame
    // number tells a test that frames go by, so that it can tell an input the
    // program ignored (a click just after a long frame) from one not yet
    // taken.
    if (now == elements_written && sys_time - elements_writtentime < 0.25)
        return;
    std::string text = "frame " + std::to_string(sys_framecount) + now;
    if (file_writeall(elements_path.c_str(), text.data(), (int32_t)text.size())) {
        elements_written = now;
        elements_writtentime = sys_time;
    }
}
