// Loading whole files, writing them durably, the stream table and safe file
// names.
#include "sys/file.h"

#include "sys/mem.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A scratch folder removed after each test.
class Files : public testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("kerfmill-files-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string write(const std::string &name, const std::string &bytes)
    {
        std::string p = (dir / name).string();
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
};

TEST_F(Files, LoadAddsZeroedExtraBytes)
{
    std::string p = write("three.txt", "G21");
    testlog_capture cap;
    int32_t size = -7;
    char *data = (char *)file_load(p.c_str(), &size, 1, 3);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(memcmp(data, "G21", 4), 0); // the fourth byte is the NUL
    sys_free(data);
    EXPECT_TRUE(cap.contains("loaded 0.004kb from \"" + p + "\""));
}

TEST_F(Files, LoadLogsMegabytesForLargeFiles)
{
    std::string p = write("big.bin", std::string(2 * 1048576, 'x'));
    testlog_capture cap;
    int32_t size = 0;
    void *data = file_load(p.c_str(), &size, 0, INT32_MAX);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 2 * 1048576);
    sys_free(data);
    EXPECT_TRUE(cap.contains("loaded 2.000mb from"));
}

TEST_F(Files, LoadFailuresReturnNullAndKeepSize)
{
    struct Case {
        std::string path;
        int32_t maxsize;
        std::string line;
    };
    const std::string four = write("four.txt", "G21\n");
    const Case cases[] = {
        {write("empty.txt", ""), 100, "file_load: empty file \""},
        {(dir / "missing.txt").string(), 100, "file_load: open failed \""},
        {dir.string(), INT32_MAX, "file_load: "}, // a folder is not a file
        {four, 3, "file_load: file too large \"" + four + "\" (4 bytes, at most 3)"},
    };
    for (const Case &c : cases) {
        testlog_capture cap;
        int32_t size = 99;
        EXPECT_EQ(file_load(c.path.c_str(), &size, 1, c.maxsize), nullptr) << c.path;
        EXPECT_EQ(size, 99) << c.path;
        EXPECT_TRUE(cap.contains(c.line)) << c.path << "\n" << cap.text();
    }
}

TEST_F(Files, OpensPathsThatAreNotUtf8)
{
    // Latin-1 "é" is not valid UTF-8, yet such names exist on disk.
    std::string name = "caf\xe9.nc";
    std::string p = write(name, "M30");
    FILE *f = sys_fopen(p.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    fclose(f);
}

TEST_F(Files, OverlongPathIsRefused)
{
    testlog_capture cap;
    std::string p(sys_maxpath + 10, 'a');
    EXPECT_EQ(sys_fopen(p.c_str(), "rb"), nullptr);
    EXPECT_TRUE(cap.contains("invalid path: aaaa"));
}

TEST_F(Files, TableOverflowsAt64Slots)
{
    bool own = !sys_files;
    if (own)
        file_tablealloc();
    std::string p = write("slot.txt", "x");
    std::vector<int> slots;
    for (;;) {
        testing::internal::CaptureStdout();
        int s = file_open(p.c_str(), "rb");
        std::string out = testing::internal::GetCapturedStdout();
        if (s < 0) {
            EXPECT_NE(out.find("!!! file_open: overflow!"), std::string::npos) << out;
            break;
        }
        slots.push_back(s);
        ASSERT_LE(slots.size(), (size_t)sys_maxfiles);
    }
    EXPECT_EQ(slots.size() + (own ? 0 : 1), (size_t)sys_maxfiles);
    for (int s : slots)
        file_close(s);

    // A freed slot is taken again.
    int again = file_open(p.c_str(), "rb");
    EXPECT_GE(again, 0);
    file_close(again);
    if (own)
        file_tablefree();
}

TEST_F(Files, OpenAndCloseFailuresPrint)
{
    bool own = !sys_files;
    if (own)
        file_tablealloc();
    struct Case {
        void (*call)(const std::string &dir);
        const char *expect;
    };
    const Case cases[] = {
        {[](const std::string &d) { EXPECT_EQ(file_open((d + "/no/such").c_str(), "rb"), -1); },
         "!!! file_open: failed to open \""},
        {[](const std::string &) { file_close(64); }, "!!! file_close: invalid file index 64!\n"},
        {[](const std::string &) { file_close(-1); }, "!!! file_close: invalid file index -1!\n"},
        {[](const std::string &) { file_close(63); }, "!!! file_close: file index 63 not open!\n"},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStdout();
        c.call(dir.string());
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(c.expect), std::string::npos) << out;
    }
    if (own)
        file_tablefree();
}

// The system calls that make a write durable, recorded in order while a
// test asks: these definitions stand in for the C library's in this test
// program and pass every call on to it.
static std::vector<std::string> *ft_calls = nullptr;
static bool ft_failsync = false;

extern "C" int fsync(int fd)
{
    static auto real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (ft_calls) {
        struct stat st;
        bool folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
        ft_calls->push_back(folder ? "fsync folder" : "fsync file");
        if (ft_failsync && !folder) {
            errno = EIO;
            return -1;
        }
    }
    return real(fd);
}

extern "C" int rename(const char *from, const char *to) noexcept
{
    static auto real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    if (ft_calls)
        ft_calls->push_back("rename");
    return real(from, to);
}

// The bytes reach the disk before the new name replaces the old file, and
// the folder's entry after: a power cut then finds the old file or the new
// one, never an empty one. A flush that fails keeps the old file.
TEST_F(Files, WriteAllSyncsBeforeTheRename)
{
    struct Case {
        const char *what;
        bool failsync;
        int32_t result;
        const char *content;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"good write", false, 5, "fresh", {"fsync file", "rename", "fsync folder"}},
        {"flush fails", true, 0, "old", {"fsync file"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = write("plan.kfm", "old");
        std::vector<std::string> calls;
        testlog_capture log;
        ft_failsync = c.failsync;
        ft_calls = &calls;
        int32_t r = file_writeall(path.c_str(), "fresh", 5);
        ft_calls = nullptr;
        ft_failsync = false;
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(calls, c.calls);
        std::ifstream f(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), c.content);
        EXPECT_FALSE(fs::exists(path + ".tmp"));
        EXPECT_EQ(log.contains("...failed writing"), c.result == 0) << log.text();
    }
}

TEST(SanitizeName, ReplacesForbiddenCharacters)
{
    struct Case {
        const char *in;
        const char *out;
    };
    const Case cases[] = {
        {"a:b\"c%d", "a;b''c#d"},
        {"x\\y/z", "x^y^z"},
        {"*?<>|", "x$[]!"},
        {"plain name.png", "plain name.png"},
        {"", ""},
    };
    for (const Case &c : cases) {
        char dst[64];
        file_sanitizename(c.in, dst, sizeof(dst));
        EXPECT_STREQ(dst, c.out) << c.in;
    }
}

TEST(SanitizeName, NeverWritesPastCapacity)
{
    struct Case {
        const char *in;
        int cap;
        const char *out;
    };
    const Case cases[] = {
        {"abcdef", 4, "abc"},
        {"ab\"cd", 4, "ab"}, // the two apostrophes would not fit
        {"ab\"cd", 5, "ab''"},
        {"abc", 1, ""},
    };
    for (const Case &c : cases) {
        char dst[16];
        memset(dst, '#', sizeof(dst));
        file_sanitizename(c.in, dst, c.cap);
        EXPECT_STREQ(dst, c.out) << c.in << " cap " << c.cap;
        EXPECT_EQ(dst[c.cap], '#') << c.in << " cap " << c.cap;
    }
}
