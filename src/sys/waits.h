// Bounded waits (not <sys/wait.h>: src/ is on the include path): every wait of a thread on another's work goes through
// sys_waituntil, so that none outlives the quit flag or hangs the program
// when the work it waits for never comes.
#pragma once
#include <functional>

// Polls done() in short sleeps until it returns true (1), the quit flag is
// set (0) or limit seconds have passed (0, logging "%s: gave up waiting
// after %.0fs" with caller). done() is called at least once.
int sys_waituntil(const std::function<bool()> &done, double limit, const char *caller);

// sys_waituntil for a caller that may be the main thread, which holds the
// frame mutex through its frame: there the mutex is let go for the wait, as
// the work waited for may need it for its GPU steps, and taken back before
// the return. On a worker the same as sys_waituntil.
int sys_waitunlocked(const std::function<bool()> &done, double limit, const char *caller);
