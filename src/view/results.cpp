// Undo and redo replay. The request survives busy frames and is served in
// the first free one; an undo and a redo in the same frame serve the undo
// only. The ends of the ring, or a slot its byte budget already emptied,
// report the limit and replay nothing.
#include "view/results.h"

#include "project/brush.h"
#include "project/canvas.h"
#include "project/project.h"
#include "project/undo.h"
#include "sys/event.h"
#include "sys/log.h"
#include "view/modes.h"
#include "view/view.h"

static event &results_slot(uint32_t counter)
{
    return event_ring[counter % event_slots];
}

static void results_undo()
{
    if (!event_ring || event_position == event_oldest) {
        sys_status("undo limit reached");
        return;
    }
    const event &e = results_slot(--event_position);
    if (e.type == event_null) {
        sys_status("undo limit reached");
        return;
    }
    project_applystate(1, e.type, e.aux, (int32_t)e.oldsize, e.olddata);
}

static void results_redo()
{
    if (!event_ring || event_position == event_end) {
        sys_status("redo limit reached");
        return;
    }
    const event &e = results_slot(event_position++);
    if (e.type == event_null) {
        sys_status("redo limit reached");
        return;
    }
    project_applystate(0, e.type, e.aux, (int32_t)e.newsize, e.newdata);
}

// The replay rewrites layers: a save, a composition, a brush job or a
// raster-edit drag that reads them holds the requests back.
static bool results_busy()
{
    return project_savebusy.load() || project_canvasjob.updating.load() || brush_busy.load() || view_rasterdrag;
}

void view_undoredo()
{
    if ((!gui_undorequest && !gui_redorequest) || results_busy())
        return;
    if (gui_undorequest) {
        gui_undorequest = 0;
        results_undo();
        return;
    }
    gui_redorequest = 0;
    results_redo();
}
