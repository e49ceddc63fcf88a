// The step bookkeeping of a running tutorial: the match of element names
// against the current step, the clamped step change, and freeing the loaded
// tutorial records before the tutorials dialog reads the scripts again.
#include "gui/tutorial.h"

#include "gui/drawlist.h"
#include "gui/sector.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cstring>

tut_script *tut_scripts = nullptr;
int32_t tut_count = 0;
int32_t tut_current = -1;
int32_t tut_stepindex = 0;
int32_t tut_stepcount = 0;
int32_t tut_hit = 0;
int32_t tut_highlightseen = 0;

static const tut_step *tut_currentstep()
{
    if (tut_current < 0 || tut_current >= tut_count || !tut_scripts)
        return nullptr;
    if (tut_stepindex < 0 || tut_stepindex >= tut_scripts[tut_current].stepcount)
        return nullptr;
    return &tut_scripts[tut_current].steps[tut_stepindex];
}

void gui_tutorialstep(int n)
{
    if (n > tut_stepcount - 1)
        n = tut_stepcount - 1;
    if (n < 0)
        n = 0;
    tut_stepindex = n;
    sys_log("tutorial step %d/%d", n + 1, tut_stepcount);
}

int tut_wantsname()
{
    const tut_step *s = tut_currentstep();
    return s && s->element;
}

// A hit the previous name left unconsumed (its widget never reached
// gui_element) is cleared, and this name is not tested.
void tut_match(const char *formatted)
{
    if (tut_current < 0)
        return;
    if (tut_hit) {
        tut_hit = 0;
        return;
    }
    const tut_step *s = tut_currentstep();
    if (!s || !s->element || !formatted || strcmp(formatted, s->element) != 0)
        return;
    tut_hit = 1;
    tut_highlightseen = 1;
    if (const gui_rect *top = gui_topsector())
        gui_highlightrect = *top;
}

static void tut_freescript(tut_script &s, int index)
{
    for (int i = 0; i < s.stepcount && i < tut_maxsteps; i++) {
        tut_step &step = s.steps[i];
        sys_free(step.text1);
        sys_free(step.text2);
        sys_free(step.image);
        sys_free(step.element);
        step = {};
    }
    sys_log("...freed %d steps (tutorial %02d)", s.stepcount, index);
    sys_free(s.name);
    sys_free(s.description);
    sys_free(s.project);
    s.name = s.description = s.project = nullptr;
    s.stepcount = 0;
}

void tut_freeall()
{
    for (int i = 0; i < tut_count && tut_scripts; i++)
        tut_freescript(tut_scripts[i], i);
    sys_log("freed %d tutorials", tut_count);
    sys_free(tut_scripts);
    tut_scripts = nullptr;
    tut_count = 0;
}
