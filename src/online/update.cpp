// Update state.
#include "online/update.h"

#include "sys/log.h"

int update_slot = -1;
int32_t update_downloaded = 0;
int32_t update_complete = 0;

// The version query belongs to the online services, which this build does
// not have yet: the check says so in the log, and no request leaves the
// machine.
void update_check(int manual)
{
    sys_log("update_check(%d): no update service in this build", manual);
}

void update_install()
{
}
