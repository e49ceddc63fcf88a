// The tokenizer: every token kind, number forms, line counting, comments and
// the limits of the global state.
#include "sys/token.h"

#include "testlog.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int nocheck = INT_MIN;

struct Case {
    const char *text;
    int kind;
    int count;
    int consumed;            // characters before the returned position
    int lines = 0;           // token_line gained
    const char *str = nullptr; // expected token_text (words, strings, punctuation, errors)
    std::vector<float> values = {}; // numbers and vectors; for addresses the octets, then the port
    int intval = nocheck;
    int isfloat = nocheck;
    int comments = 1;
};

// Checks the state one token left behind.
void token_check(const Case &c, const char *after)
{
    EXPECT_EQ(token_kind, c.kind);
    EXPECT_EQ(token_count, c.count);
    EXPECT_EQ(after - c.text, c.consumed);
    EXPECT_EQ(token_line, c.lines);
    if (c.str)
        EXPECT_STREQ(token_text, c.str);
    if (c.kind == token_kindaddress && c.count >= 4) {
        for (int i = 0; i < 4; i++)
            EXPECT_EQ((uint8_t)token_text[i], c.values[i]) << "octet " << i;
        uint16_t port;
        memcpy(&port, token_text + 4, sizeof(port));
        EXPECT_EQ(port, c.values[4]);
    } else {
        for (size_t i = 0; i < c.values.size(); i++)
            EXPECT_FLOAT_EQ(token_values[i], c.values[i]) << "value " << i;
    }
    if (c.intval != nocheck)
        EXPECT_EQ(token_int, c.intval);
    if (c.isfloat != nocheck)
        EXPECT_EQ(token_isfloat, c.isfloat);
}

} // namespace

TEST(Token, EveryKindAndEdgeCase)
{
    // Order matters once: ".25" follows other numbers to show nothing carries over.
    const Case cases[] = {
        {" \t\r\n\nWord", token_kindword, 4, 9, 2, "Word"},
        {"\n\r\r\nx", token_kindword, 1, 5, 2, "x"},
        {"Abc_1.5+x,", token_kindword, 9, 9, 0, "Abc_1.5+x"},
        {"-12.5e+2", token_kindnumber, 1, 8, 0, nullptr, {-1250}, -12, 1},
        {"3e2", token_kindnumber, 1, 1, 0, nullptr, {3}, 3, 0},
        {".25", token_kindnumber, 1, 3, 0, nullptr, {0.25f}, 0, 1},
        {"1e-05", token_kindnumber, 1, 5, 0, nullptr, {1e-5f}, 1, 0},
        {"1.5E+02", token_kindnumber, 1, 7, 0, nullptr, {150}, 1, 1},
        {"-7", token_kindnumber, 1, 2, 0, nullptr, {-7}, -7, 0},
        {"0e+99", token_kindnumber, 1, 5, 0, nullptr, {0}, 0, 0},
        {"1.2.5", token_kindnumber, 1, 5, 0, nullptr, {1.25f}, 1, 1},
        {"12345678901", token_kindnumber, 1, 11, 0, nullptr, {12345678901.0f}, INT_MAX, 0},
        {"0xff", token_kindnumber, 1, 4, 0, nullptr, {255}, 255},
        {"0xFFFFFFFF", token_kindnumber, 1, 10, 0, nullptr, {}, -1},
        {"0xg", token_kindnumber, 1, 1, 0, nullptr, {0}, 0, 0},
        {"'1 -2 .5'", token_kindnumber, 3, 9, 0, nullptr, {1, -2, 0.5f}},
        {"'1\n2'", token_kindnumber, 2, 5, 1, nullptr, {1, 2}},
        {"'1,2'", token_kinderror, -1, 2, 0, "Bad vector format."},
        {"'1 2", token_kinderror, -1, 4, 0, "Bad vector format."},
        {"'1 2 3 4 5'", token_kinderror, -1, 9, 0, "Vector holds more than 4 values."},
        {"@192.168.1.20", token_kindaddress, 4, 13, 0, nullptr, {192, 168, 1, 20, 0}},
        {"@10.0.0.1:8080 x", token_kindaddress, 5, 14, 0, nullptr, {10, 0, 0, 1, 8080}},
        {"@10.0.0.1:x", token_kinderror, -1, 10, 0, "Numeric port number expected, encountered: 'x'"},
        {"@10.0.0.1:70000", token_kinderror, -1, 15, 0, "Port number exceeds 65535."},
        {"@192.168.1.0", token_kindaddress, 0, 12, 0, "Invalid address format: \"@192.168.1.0\""},
        {"@192.168.1", token_kindaddress, 0, 10, 0, "Invalid address format: \"@192.168.1\""},
        {"@10.0.0.300", token_kindaddress, 0, 11, 0, "Invalid address format: \"@10.0.0.300\""},
        {"@1.2.3.4.5", token_kindaddress, 0, 9, 0, "Address has too many octets."},
        {"\"a b\nc\" d", token_kindword, 5, 7, 0, "a b\nc"},
        {"\"\"x", token_kindword, 0, 2, 0, ""},
        {"\"abc", token_kinderror, -1, 4, 0, "Expected double-quote ending string: \"\"abc\""},
        {"// note\r\nWord", token_kindword, 4, 13, 1, "Word"},
        {"// only a note", token_kindend, 0, 14},
        {.text = "// note", .kind = token_kindpunct, .count = 1, .consumed = 1, .str = "/", .comments = 0},
        {"#", token_kindpunct, 1, 1, 0, "#"},
        {"-x", token_kindpunct, 1, 1, 0, "-"},
        {"'x", token_kindpunct, 1, 1, 0, "'"},
        {"@x", token_kindpunct, 1, 1, 0, "@"},
        {".x", token_kindpunct, 1, 1, 0, "."},
        {"\x80", token_kinderror, 0, 0},
        {"", token_kindend, 0, 0},
        {"  \n", token_kindend, 0, 3, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        token_line = 0;
        token_comments = c.comments;
        token_check(c, token_next(c.text));
    }
    token_comments = 1;
}

TEST(Token, UnknownCharacterIsLoggedAndNotPassed)
{
    testlog_capture cap;
    token_line = 7;
    const char *text = "\x01 Word";
    EXPECT_EQ(token_next(text), text);
    EXPECT_EQ(token_kind, token_kinderror);
    EXPECT_TRUE(cap.contains("unknown token char \"\x01\" (line:7)"));
}

TEST(Token, LongWordsAndStringsAreCutToTheState)
{
    struct Case {
        std::string text;
        size_t consumed;
    };
    const std::string many(6000, 'a');
    const Case cases[] = {{many + " next", 6000}, {"\"" + many + "\" next", 6002}};
    for (const Case &c : cases) {
        testlog_capture cap;
        const char *after = token_next(c.text.c_str());
        EXPECT_EQ((size_t)(after - c.text.c_str()), c.consumed);
        EXPECT_EQ(token_kind, token_kindword);
        EXPECT_EQ(token_count, token_textmax - 1);
        EXPECT_EQ(strlen(token_text), (size_t)token_textmax - 1);
        EXPECT_TRUE(cap.contains("characters cut to 4095"));
    }
}

TEST(Token, CallerLoopReadsAStatementSequence)
{
    const char *text = "Units 1 // inches\r\nHost @10.0.0.2\r\n";
    const int kinds[] = {token_kindword, token_kindnumber, token_kindword, token_kindaddress, token_kindend};
    token_line = 1;
    token_comments = 1;
    const char *p = text;
    for (int kind : kinds) {
        p = token_next(p);
        EXPECT_EQ(token_kind, kind);
    }
    EXPECT_EQ(*p, 0);
    EXPECT_EQ(token_line, 3);
}
