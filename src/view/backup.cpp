// Automatic backup and the end-of-frame redraw requests.
#include "view/backup.h"

uint32_t view_manipulating = 0;
uint32_t view_fastview = 0;
int32_t view_lastrastertool = -1;

void view_backup() {}
