// Shared entry of the test executables, compiled once per kind (plain and
// GL). Every blocking dialog is answered by its seam unless a test says
// otherwise, so a test binary started by hand never waits for a person or
// opens a program.
#include <gtest/gtest.h>

#include <cstdlib>

// Mesa unloads its driver when the last display closes, before the leak
// report runs, so the driver's own allocations show up as leaks from an
// unknown module that no suppression can name. Test processes that open a GL
// context therefore run without the leak report; the program's own blocks
// are still checked there through the allocator's total.
extern "C" const char *__asan_default_options()
{
#ifdef KERFMILL_GL_TEST
    return "detect_leaks=0";
#else
    return "detect_leaks=1";
#endif
}

extern "C" const char *__lsan_default_options()
{
    return "suppressions=" KERFMILL_LSAN_SUPP;
}

int main(int argc, char **argv)
{
    setenv("KERFMILL_MSGBOX_ANSWERS", "ok", 0);
    setenv("KERFMILL_DIALOG_PATHS", "", 0);
    setenv("KERFMILL_COLOR_ANSWERS", "cancel", 0);
    setenv("KERFMILL_SHELL_LOG", "1", 0);
    // Every start-up of the program, in process or as a child, would time
    // the convolutions for a second or more; the one test of that path
    // switches the timing back on.
    setenv("KERFMILL_SKIP_CONVO_TIMING", "1", 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
