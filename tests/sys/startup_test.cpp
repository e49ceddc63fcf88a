// Start-up failures: a platform that cannot start still ends in an ordered
// shutdown with exit code 0 and says why in the log.
#include "runprogram.h"

TEST_F(Startup, FailedPlatformStillShutsDownCleanly)
{
    struct Case {
        const char *env;
        const char *reason;
    };
    const Case cases[] = {
        {"SDL_VIDEODRIVER=no-such-driver", "SDL init failed: "},
        {"SDL_VIDEODRIVER=dummy", "[ ERROR ] Failed to create temporary"},
    };
    for (const Case &c : cases) {
        std::filesystem::remove_all(home / "data");
        ASSERT_EQ(startup_run(home, {c.env, "KERFMILL_MSGBOX_ANSWERS=ok"}), 0) << c.env;
        std::string log = startup_log(home);
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
        EXPECT_EQ(log.find(" LOOP "), std::string::npos) << log;
        EXPECT_NE(log.find(" ------------------------------------------ DONE"), std::string::npos) << log;
        EXPECT_NE(log.find("returning to OS..."), std::string::npos) << log;
    }
}
