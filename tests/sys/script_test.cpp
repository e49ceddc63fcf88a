// Scripts: a post-processor fixture with every value kind, line ends and a
// byte-order mark, the error box of a bad value, missing files and long lines.
#include "sys/script.h"

#include "platform/seam.h"
#include "sys/config.h"
#include "sys/log.h"
#include "sys/var.h"
#include "testlog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const script_names[] = {"Version", "Units", "ArcPlaneXY", "CodeRapid", "Word",
                                    "Punct", "Host", "Missing", "CodeFeed"};

// A scratch folder for the script file and a fresh set of variables.
class Script : public testing::Test {
protected:
    fs::path dir;
    std::string path;
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("kerfmill-script-" + std::to_string(getpid()));
        fs::create_directories(dir);
        path = (dir / "post.txt").string();
        ASSERT_EQ(cfg_settext(cfg_postpath, path.c_str()), 1);
        fresh();
    }
    void TearDown() override { fs::remove_all(dir); }

    void fresh()
    {
        var_count = 0;
        for (const char *name : script_names)
            var_new(name);
    }
    const var_variable &get(const char *name) { return var_variables[var_find(name)]; }
    int run(const std::string &bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
        return script_run();
    }
};

// The fixture's lines joined with eol, and a final line end.
std::string script_fixture(const char *eol)
{
    const char *lines[] = {
        "// post-processor fixture",
        "Version \"1.0\"",
        "Units 1",
        "ArcPlaneXY '1 2 3'",
        "CodeRapid \"G0 [X]\"",
        "Word hello",
        "Punct #",
        "Host @192.168.1.20",
        "Unknown 5",
        "Missing",
        "12 ignored",
        "\t CodeFeed \"G1\" trailing words // and a note",
    };
    std::string text;
    for (const char *line : lines)
        text += std::string(line) + eol;
    return text;
}

} // namespace

TEST_F(Script, FixtureSetsEveryValueKindWhateverTheLineEnds)
{
    struct Case {
        const char *name;
        const char *eol;
        bool bom;
    };
    const Case cases[] = {
        {"LF", "\n", false},
        {"CR LF", "\r\n", false},
        {"CR", "\r", false},
        {"BOM and CR LF", "\r\n", true},
        {"BOM and LF", "\n", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        var_setf(var_find("Missing"), "kept");
        testlog_capture cap;
        std::string text = (c.bom ? "\xEF\xBB\xBF" : "") + script_fixture(c.eol);
        ASSERT_EQ(run(text), 1);

        EXPECT_STREQ(get("Version").text, "1.0");
        EXPECT_EQ(get("Version").count, 3);
        EXPECT_EQ(get("Units").type, var_numbers);
        EXPECT_EQ(get("Units").count, 1);
        EXPECT_EQ(get("Units").numbers[0], 1.0f);
        EXPECT_EQ(get("ArcPlaneXY").count, 3);
        EXPECT_EQ(get("ArcPlaneXY").numbers[2], 3.0f);
        EXPECT_STREQ(get("CodeRapid").text, "G0 [X]"); // references wait for expansion
        EXPECT_STREQ(get("Word").text, "hello");
        EXPECT_STREQ(get("Punct").text, "#");
        EXPECT_EQ(get("Host").type, var_address);
        EXPECT_EQ(get("Host").address.octets[3], 20);
        EXPECT_STREQ(get("Missing").text, "kept");
        EXPECT_STREQ(get("CodeFeed").text, "G1");
        EXPECT_STREQ(var_errortext, "script_statement: unknown variable/command \"Unknown\"");

        EXPECT_TRUE(cap.contains("loading script " + path));
        EXPECT_TRUE(cap.contains("executing post.txt..."));
        EXPECT_TRUE(cap.contains("Units is 1\n"));
        EXPECT_TRUE(cap.contains("ArcPlaneXY is '1 2 3'"));
        EXPECT_TRUE(cap.contains("Host is 192.168.1.20"));
        EXPECT_FALSE(cap.contains("Unknown"));
        EXPECT_TRUE(cap.contains("...13 lines executed"));
    }
}

TEST_F(Script, UnclosedQuoteAbortsWithABoxNamingFileAndLine)
{
    sys_errortime = -99999.0f;
    plat_seamreset();
    testlog_capture cap;
    EXPECT_EQ(run("Units 2\r\nCodeRapid \"G0\r\nCodeFeed \"G1\"\r\n"), 0);
    const std::string box = "Unknown value \"Expected double-quote ending string: \"\"G0\"\" for \"CodeRapid\""
                            "\nScript: post.txt\nLine: 2";
    EXPECT_TRUE(cap.contains("[ ERROR ] " + box));
    EXPECT_TRUE(cap.contains("msgbox seam: \"Error\" \"" + box + "\""));
    EXPECT_FALSE(cap.contains("lines executed"));
    EXPECT_EQ(get("Units").numbers[0], 2.0f);
    EXPECT_STREQ(get("CodeRapid").text, "null");
    EXPECT_STREQ(get("CodeFeed").text, "null");
}

TEST_F(Script, MissingOrEmptyFileFails)
{
    testlog_capture cap;
    EXPECT_EQ(run(""), 0);
    EXPECT_TRUE(cap.contains("file_load: empty file"));
    fs::remove(path);
    EXPECT_EQ(script_run(), 0);
    EXPECT_TRUE(cap.contains("file_load: open failed"));
}

TEST_F(Script, LongLinesAndValuesAreCut)
{
    testlog_capture cap;
    std::string text = "CodeRapid \"" + std::string(600, 'x') + "\"\n" + "Units 7 // " +
                       std::string(2000, 'n') + "\n" + "Version \"2\"\n";
    EXPECT_EQ(run(text), 1);
    EXPECT_EQ(get("CodeRapid").count, var_valuemax - 1);
    EXPECT_EQ(get("Units").numbers[0], 7.0f);
    EXPECT_STREQ(get("Version").text, "2");
    EXPECT_TRUE(cap.contains("script_run: line 2 of post.txt cut to 1023 characters"));
    EXPECT_TRUE(cap.contains("...4 lines executed"));
}
