// Dialog switching: the number of the open dialog of the main window and the
// one function that changes it, running the teardown of the dialog left and
// the set-up of the dialog opened, and letting go of every element state so
// that no press or open drop-down survives a switch.
#pragma once
#include <cstdint>

extern int32_t gui_dialogid;       // open dialog, 0 none; written only by gui_setdialog
extern int32_t gui_dialoglayer;    // the selected layer at the last switch, -1 none
extern int32_t gui_alongpathspreview; // the Along Path(s) dialog previews its result

// Closes the open dialog and opens dialog n (0: none). Opening "Upload Layer"
// for a layer that is neither a raster- nor a paths-layer leaves every
// dialog closed.
void gui_setdialog(int32_t n);
