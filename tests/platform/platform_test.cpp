// The Linux layer: paths, the program folder and the dialog seams.
#include "platform/msgbox.h"
#include "platform/path.h"
#include "platform/seam.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

TEST(Path, JoinFitsOrLeavesEmpty)
{
    char out[16];
    EXPECT_EQ(plat_joinpath(out, sizeof(out), "/a/b", "c.dat"), 1);
    EXPECT_STREQ(out, "/a/b/c.dat");
    EXPECT_EQ(plat_joinpath(out, sizeof(out), "/a/very/long/folder", "config.dat"), 0);
    EXPECT_STREQ(out, "");
}

TEST(Path, LastSeparatorTakesEitherKind)
{
    struct Case {
        const char *path;
        int at; // -1: none
    };
    const Case cases[] = {
        {"posts\\GRBL (Inches).txt", 5},
        {"a/b\\c", 3},
        {"a\\b/c", 3},
        {"plain.txt", -1},
    };
    for (const Case &c : cases) {
        const char *sep = plat_lastsep(c.path);
        EXPECT_EQ(sep ? (int)(sep - c.path) : -1, c.at) << c.path;
    }
}

TEST(Path, ProgramFolder)
{
    char out[1024];
    ASSERT_TRUE(plat_programfolder("/opt/kerfmill/kerfmill", out, sizeof(out)));
    EXPECT_STREQ(out, "/opt/kerfmill");
    ASSERT_TRUE(plat_programfolder("/kerfmill", out, sizeof(out)));
    EXPECT_STREQ(out, "/");
    // Without a folder in argv[0] the kernel names the running executable.
    ASSERT_TRUE(plat_programfolder("kerfmill", out, sizeof(out)));
    EXPECT_EQ(std::string(out), std::filesystem::canonical("/proc/self/exe").parent_path().string());
    EXPECT_FALSE(plat_programfolder("/opt/kerfmill/kerfmill", out, 5));
}

TEST(Path, MkdirAndRemove)
{
    std::string dir = std::filesystem::temp_directory_path() / ("kerfmill-mk-" + std::to_string(getpid()));
    std::string sub = dir + "/lib";
    EXPECT_TRUE(plat_mkdir(sub.c_str()));
    EXPECT_TRUE(plat_mkdir(sub.c_str())); // an existing folder is no error
    std::string file = sub + "/x";
    FILE *f = plat_fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_TRUE(plat_fileexists(file.c_str()));
    EXPECT_FALSE(plat_fileexists(sub.c_str()));
    EXPECT_TRUE(plat_remove(file.c_str()));
    EXPECT_FALSE(plat_remove(file.c_str()));
    std::filesystem::remove_all(dir);
}

TEST(Seam, AnswersInTurnThenRepeatsLast)
{
    setenv("KERFMILL_TEST_SEAM", "first\n\nlast", 1);
    plat_seamreset();
    const char *want[] = {"first", "", "last", "last"};
    for (const char *w : want) {
        char out[32];
        ASSERT_TRUE(plat_seamnext("KERFMILL_TEST_SEAM", '\n', out, sizeof(out)));
        EXPECT_STREQ(out, w);
    }
    unsetenv("KERFMILL_TEST_SEAM");
    char out[8];
    EXPECT_FALSE(plat_seamnext("KERFMILL_TEST_SEAM", '\n', out, sizeof(out)));
}

TEST(Seam, MessageBoxAnswers)
{
    std::string saved = getenv("KERFMILL_MSGBOX_ANSWERS") ? getenv("KERFMILL_MSGBOX_ANSWERS") : "ok";
    setenv("KERFMILL_MSGBOX_ANSWERS", "ok,cancel,yes,no", 1);
    plat_seamreset();
    const int want[] = {1, 0, 1, 0, 0};
    for (int w : want)
        EXPECT_EQ(plat_messagebox("Question", "Go on?", 2, 5, 0), w);
    setenv("KERFMILL_MSGBOX_ANSWERS", saved.c_str(), 1);
    plat_seamreset();
}
