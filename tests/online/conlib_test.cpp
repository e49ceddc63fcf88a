// The content library's start: names counted, every tag selected, empty
// cache records and the cache folder in the per-user folder.
#include "online/conlib.h"

#include "sys/main.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(ConlibStart, CountsNamesAndMakesTheCacheFolder)
{
    fs::path user = fs::temp_directory_path() / ("kerfmill-conlib-" + std::to_string(getpid()));
    fs::remove_all(user);
    fs::create_directories(user);
    char saved[sizeof(sys_userfolder)];
    memcpy(saved, sys_userfolder, sizeof(saved));
    snprintf(sys_userfolder, sizeof(sys_userfolder), "%s", user.c_str());
    for (int run = 0; run < 2; run++) { // the second finds the folder there
        testlog_capture log;
        EXPECT_EQ(conlib_init(), 1) << run;
        EXPECT_TRUE(log.contains("conlib path: " + (user / "lib").string())) << run;
    }
    EXPECT_TRUE(fs::is_directory(user / "lib"));
    EXPECT_EQ(conlib_categorycount, 25);
    EXPECT_EQ(conlib_tagcount, 20);
    EXPECT_EQ(conlib_tagselection, 0xFFFFFu);
    EXPECT_STREQ(conlib_categories[24], "Food/Dessert");
    EXPECT_STREQ(conlib_tags[19], "Antique");
    for (const conlib_cacherecord &r : conlib_cache) {
        EXPECT_EQ(r.entry, -1);
        EXPECT_EQ(r.textures[0], -1);
        EXPECT_EQ(r.sizes[3], 1);
    }
    // A file where the folder should be: the start goes on without it.
    fs::remove_all(user / "lib");
    std::ofstream(user / "lib") << "x";
    EXPECT_EQ(conlib_init(), 0);
    memcpy(sys_userfolder, saved, sizeof(saved));
    fs::remove_all(user);
}
