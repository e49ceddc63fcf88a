// Test helper: puts the global message stream back as start-up leaves it,
// freeing a block a test wrote into it, so that no test sees another's
// buffer, position or failed flag.
#pragma once
#include "sys/mem.h"
#include "sys/msg.h"

inline void testmsg_reset()
{
    if (msg_capacity > 0)
        sys_free(msg_buffer);
    msg_main = msg_stream{};
}
