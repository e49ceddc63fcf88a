// Update state.
#include "online/update.h"

int update_slot = -1;
int32_t update_downloaded = 0;
int32_t update_complete = 0;

int32_t update_checks = 0;

// The version query itself belongs to the online services, which this build
// does not have yet: a check is only counted, and no request leaves the
// machine.
void update_check(int manual)
{
    (void)manual;
    update_checks++;
}

void update_install()
{
}
