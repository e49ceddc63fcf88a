// Update state.
#include "online/update.h"

int update_slot = -1;
int32_t update_downloaded = 0;
int32_t update_complete = 0;

void update_install()
{
}
