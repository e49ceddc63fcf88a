// Shared entry of the test executables. Message boxes are always answered by
// the seam, so a test binary started by hand never waits for a person.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    setenv("KERFMILL_MSGBOX_ANSWERS", "ok", 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
