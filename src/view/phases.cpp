// Stand-ins for the viewport passes not built yet; see phases.h.
#include "view/phases.h"

void view_tracedpaths() {}
void view_genresult() {}
void view_mergedown() {}
void view_rasterfollow() {}
void view_simulation() {}
void view_drawtoolpaths() {}
void view_editmouse() {}
void view_editpreviews() {}
void view_overlays() {}
