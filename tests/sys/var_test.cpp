// Named variables: registration and its limits, assignment failures, number
// formatting, formatted text and the expansion of references and escapes.
#include "sys/var.h"

#include "sys/log.h"
#include "sys/token.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<int> hooked; // indexes the expansion hook saw, in order

void var_testhook(int index)
{
    hooked.push_back(index);
}

// Every test starts from an empty table and no hook.
class Var : public testing::Test {
protected:
    void SetUp() override
    {
        var_count = 0;
        var_expandhook = nullptr;
        hooked.clear();
    }
    void TearDown() override { var_expandhook = nullptr; }

    // A variable set from one script token.
    int make(const char *name, const char *value)
    {
        int index = var_new(name);
        token_next(value);
        var_parsetoken(index);
        return index;
    }
    std::string write(int index, int decimals, int cap = 1024)
    {
        std::vector<char> out(cap);
        EXPECT_EQ(var_writevalue(index, decimals, out.data(), cap), 1) << var_errortext;
        return out.data();
    }
};

} // namespace

TEST_F(Var, RegisteringAgainKeepsTheSlotAndResetsToNull)
{
    testlog_capture cap;
    int units = make("Units", "25.4");
    int other = var_new("Other");
    EXPECT_EQ(var_variables[units].type, var_numbers);
    EXPECT_EQ(var_new("Units"), units);
    EXPECT_EQ(var_count, 2);
    EXPECT_EQ(other, 1);
    EXPECT_EQ(var_variables[units].type, var_text);
    EXPECT_STREQ(var_variables[units].text, "null");
    EXPECT_TRUE(cap.contains("Other is \"null\""));
}

TEST_F(Var, NameLengthAndTableLimits)
{
    testlog_capture cap;
    EXPECT_EQ(var_new(std::string(31, 'n').c_str()), 0);
    EXPECT_EQ(var_new(std::string(32, 'n').c_str()), -1);
    EXPECT_TRUE(cap.contains("var_new: \"" + std::string(32, 'n') + "\" must not exceed 31 characters"));
    EXPECT_EQ(var_new("9lives"), -1);
    EXPECT_EQ(var_count, 1);

    for (int i = 1; i < var_max; i++)
        ASSERT_EQ(var_new(("v" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(var_new("Extra"), -1);
    EXPECT_TRUE(cap.contains("var_new: overflow creating \"Extra\""));
    EXPECT_EQ(var_new("v7"), -1);
    EXPECT_EQ(var_count, var_max);
}

TEST_F(Var, FailedAssignmentsLeaveTheVariableCleared)
{
    struct Case {
        int index;
        const char *value;
        const char *logged;
    };
    int v = make("Target", "\"old\"");
    const Case cases[] = {
        {-1, "1", "var_parsetoken: null variable!"},
        {v, "'1,2'", "var_parsetoken: token parse error!"},
        {v, "", "unrecognized value for variable \"Target\""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        token_next("\"old\"");
        var_parsetoken(v);
        testlog_capture cap;
        token_next(c.value);
        EXPECT_EQ(var_parsetoken(c.index), 0);
        EXPECT_TRUE(cap.contains(c.logged));
        EXPECT_EQ(write(v, 0), c.index == v ? "" : "old");
    }
    EXPECT_EQ(var_variables[v].type, var_none);
    EXPECT_EQ(var_variables[v].count, 0);
}

TEST_F(Var, MalformedAddressKeepsNoComponentsAndSaysWhy)
{
    testlog_capture cap;
    int v = make("Host", "@10.0.0");
    EXPECT_EQ(var_variables[v].type, var_address);
    EXPECT_EQ(var_variables[v].count, 0);
    EXPECT_EQ(write(v, 0), "");
    EXPECT_TRUE(cap.contains("var_parsetoken: \"Host\" has no address: Invalid address format"));
}

TEST_F(Var, NumbersAndAddressesAsText)
{
    struct Case {
        const char *value;
        int decimals;
        const char *text;
    };
    const Case cases[] = {
        {"2.5", 0, "3"},
        {"-2.5", 0, "-2"},
        {"0.1234", 3, "0.123"},
        {"-0.0006", 3, "-0.001"},
        {"'1 2.25 -3'", 1, "1 2.3 -3"},
        {"'1 2 3 4'", 0, "1 2 3 4"},
        {"1e+10", 0, "10000000000"},
        {"@192.168.1.20", 0, "192.168.1.20"},
        {"@10.0.0.1:8080", 3, "10.0.0.1:8080"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(write(make("Value", c.value), c.decimals), c.text);
    }
}

TEST_F(Var, SetfFormatsAndCutsText)
{
    testlog_capture cap;
    int v = var_new("Line");
    var_setf(v, "N%d G%02d", 10, 1);
    EXPECT_EQ(var_variables[v].type, var_text);
    EXPECT_EQ(write(v, 0), "N10 G01");
    var_setf(v, "%s", var_variables[v].text); // its own text as an argument
    EXPECT_STREQ(var_variables[v].text, "N10 G01");
    var_setf(v, "");
    EXPECT_EQ(var_variables[v].count, 0);
    EXPECT_EQ(write(v, 0), "");
    var_setf(v, "%s", std::string(700, 'x').c_str());
    EXPECT_EQ(var_variables[v].count, var_valuemax - 1);
    EXPECT_TRUE(cap.contains("var_setf: value of \"Line\" cut from 700 to 511 characters"));
}

TEST_F(Var, ExpansionOfReferencesAndEscapes)
{
    int rapid = make("CodeRapid", "\"G0\"");
    int feed = make("Feed", "1500.4");
    int chain = make("Chain", "\"[CodeRapid] F[Feed]\"");
    make("Cleared", "");
    make("Self", "\"a[Self]\"");
    make("LoopA", "\"[LoopB]\"");
    make("LoopB", "\"x[LoopA]\"");
    int tmpl = var_new("Template");

    struct Case {
        const char *text;
        const char *out;           // expected text, or null when it fails
        const char *error;         // expected var_errortext on failure
        std::vector<int> hooks;
    };
    const Case cases[] = {
        {"[CodeRapid] X1", "G0 X1", nullptr, {rapid}},
        {"[Chain];", "G0 F1500.4;", nullptr, {rapid, feed, chain}},
        {"[Cleared]|", "|", nullptr, {3}},
        {"\\[X\\]", "[X]", nullptr, {}},
        {"a\\nb\\Nc", "a\nb\nc", nullptr, {}},
        {"\\q", nullptr, "Unknown escape sequence \"\\q\"", {}},
        {"G0\\", nullptr, "Unknown escape sequence \"\\", {}},
        {"[Missing]", nullptr, "Unknown variable name \"Missing\".", {}},
        {"[ThisNameIsFarLongerThanAnyVariable]", nullptr,
         "Unknown variable name \"ThisNameIsFarLongerThanAnyVariable\".", {}},
        {"[CodeRapid", nullptr, "Closing bracket ']' expected after variable name.", {}},
        {"[Self]", nullptr, "Variable \"Self\" refers to itself.", {}},
        {"[LoopA]", nullptr, "Variable \"LoopA\" refers to itself.", {}},
        {"[Template]", nullptr, "Variable \"Template\" refers to itself.", {}},
    };
    var_expandhook = var_testhook;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        testlog_capture cap;
        hooked.clear();
        var_setf(tmpl, "%s", c.text);
        char out[256];
        int ok = var_writevalue(tmpl, 1, out, sizeof(out));
        EXPECT_EQ(ok, c.out != nullptr);
        if (c.out) {
            EXPECT_STREQ(out, c.out);
            EXPECT_EQ(hooked, c.hooks);
        } else {
            EXPECT_STREQ(var_errortext, c.error);
            EXPECT_TRUE(cap.contains(std::string("var_writevalue: ") + c.error));
        }
    }
}

TEST_F(Var, ExpansionStaysWithinTheOutputAndDepth)
{
    int line = make("Line", "\"G0 X1500\"");
    char out[8];
    EXPECT_EQ(var_writevalue(line, 0, out, 4), 0);
    EXPECT_STREQ(var_errortext, "Expanded text exceeds 3 characters.");
    EXPECT_STREQ(out, "G0 ");
    EXPECT_EQ(var_writevalue(line, 0, out, 8), 0);
    EXPECT_STREQ(out, "G0 X150");

    // V0 refers to V1, ... each level one deeper; the last holds text.
    auto nest = [](int levels) {
        var_count = 0;
        for (int i = 0; i < levels; i++) {
            int v = var_new(("V" + std::to_string(i)).c_str());
            if (i + 1 < levels)
                var_setf(v, "[V%d]", i + 1);
            else
                var_setf(v, "end");
        }
        char text[64];
        return var_writevalue(0, 0, text, sizeof(text));
    };
    EXPECT_EQ(nest(var_maxdepth), 1);
    EXPECT_EQ(nest(var_maxdepth + 1), 0);
    EXPECT_STREQ(var_errortext, "References nested deeper than 16 levels at \"V16\".");
}

TEST_F(Var, WriteValueRefusesAMissingVariable)
{
    char out[16] = "untouched";
    EXPECT_EQ(var_writevalue(-1, 0, out, sizeof(out)), 0);
    EXPECT_STREQ(var_errortext, "var_writevalue: null var index!");
    EXPECT_EQ(var_writevalue(5, 0, out, sizeof(out)), 0);
}
