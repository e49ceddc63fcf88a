// Subsystem start-up: sys_init starts every subsystem in a fixed order, each
// announced in the log, once the platform is up.
#pragma once

// 1 when every subsystem started, 0 when one failed.
int sys_init();
