// The mode globals shared by the main window and the viewport.
#include "view/modes.h"

int32_t projectmode = 1;
int32_t gui_selectedlayer = -1;
int32_t gui_layerfromlist = 0;
float gui_layerscroll = 0.0f;
int32_t gui_unappliedchanges = 0;
int32_t gui_selectedop = -1;
int32_t gui_selectedtool = -1;
int32_t gui_sidepanel = 0;
int32_t project_removelayer = -1;
int32_t project_mergedownlayer = -1;
int32_t gui_undorequest = 0;
int32_t gui_redorequest = 0;
