// The message buffer: growth by doubling, the text writers' terminators,
// round trips of every field kind and the bounded reader refusing overruns.
#include "sys/msg.h"

#include "sys/config.h"
#include "sys/mem.h"

#include "testlog.h"
#include "testmsg.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

class Msg : public testing::Test {
protected:
    void TearDown() override
    {
        testmsg_reset();
        cfg_seti(cfg_debuginfo, 0);
    }
};

TEST_F(Msg, GrowsByDoublingWhenTheWriteReachesCapacity)
{
    struct Case {
        const char *name;
        int32_t start;
        std::vector<int32_t> writes; // byte counts, in order
        int32_t capacity;            // after the writes
        int grows;
    };
    const Case cases[] = {
        {"first word fits", 8, {4}, 8, 0},
        {"second word reaches capacity", 8, {4, 4}, 16, 1},
        {"3 MB into 1 MB grows once", 1048576, {3 * 1048576}, 4 * 1048576, 1},
        {"exact capacity still grows", 16, {16}, 32, 1},
        {"several doublings at once", 4, {100}, 128, 1},
    };
    for (const Case &c : cases) {
        cfg_seti(cfg_debuginfo, 1);
        testlog_capture log;
        ASSERT_EQ(msg_alloc(c.start), 1) << c.name;
        int32_t total = 0;
        for (int32_t n : c.writes) {
            std::vector<uint8_t> bytes((size_t)n, (uint8_t)n);
            EXPECT_EQ(msg_write(bytes.data(), n), 1) << c.name;
            total += n;
        }
        EXPECT_EQ(msg_position, total) << c.name;
        EXPECT_EQ(msg_capacity, c.capacity) << c.name;
        EXPECT_EQ(log.count("msg_realloc: reallocated to"), c.grows) << c.name;
        EXPECT_EQ(msg_buffer[total - 1], (uint8_t)c.writes.back()) << c.name;
        sys_free(msg_buffer);
        msg_capacity = 0;
    }
}

TEST_F(Msg, GrowthKeepsTheWrittenBytesAndAccountsMemory)
{
    uint64_t before = sys_memtotal;
    ASSERT_EQ(msg_alloc(4), 1);
    for (int32_t i = 0; i < 100; i++)
        ASSERT_EQ(msg_writeint(i * 7), 1);
    EXPECT_EQ(sys_memtotal, before + (uint64_t)msg_capacity);
    msg_readfrom(msg_buffer, msg_position);
    for (int32_t i = 0; i < 100; i++)
        ASSERT_EQ(msg_readint(), i * 7) << i;
    EXPECT_EQ(msg_failed, 0);
    sys_free(msg_buffer);
    EXPECT_EQ(sys_memtotal, before);
}

TEST_F(Msg, TextWritersDifferOnlyInTheTerminator)
{
    ASSERT_EQ(msg_alloc(64), 1);
    EXPECT_EQ(msg_printf("%s", "kerf5"), 1);
    EXPECT_EQ(msg_position, 6);
    EXPECT_EQ(msg_print("%d", 12345), 1);
    EXPECT_EQ(msg_position, 11);
    EXPECT_EQ(memcmp(msg_buffer, "kerf5\0" "12345", 11), 0);
}

TEST_F(Msg, FieldsAreLittleEndian)
{
    ASSERT_EQ(msg_alloc(64), 1);
    msg_writeint(0x01020304);
    msg_writeshort(0x0506);
    msg_writefloat(1.0f);
    const uint8_t want[] = {4, 3, 2, 1, 6, 5, 0x00, 0x00, 0x80, 0x3F};
    ASSERT_EQ(msg_position, (int32_t)sizeof(want));
    EXPECT_EQ(memcmp(msg_buffer, want, sizeof(want)), 0);
}

TEST_F(Msg, EveryFieldKindRoundTrips)
{
    ASSERT_EQ(msg_alloc(8), 1);
    const float vec[3] = {1.5f, -2.25f, 1e-30f};
    const uint8_t raw[5] = {0, 255, 1, 128, 7};
    msg_writeint(-123456789);
    msg_writeint(INT32_MIN);
    msg_writeshort(-2);
    msg_writeshort(INT16_MAX);
    msg_writefloat(-0.0f);
    msg_writevec(vec);
    msg_printf("layer %d: %s", 3, "Relief");
    msg_printf("%s", "");
    msg_write(raw, 5);
    ASSERT_EQ(msg_failed, 0);
    int32_t size = msg_position;
    std::vector<uint8_t> blob(msg_buffer, msg_buffer + size);
    sys_free(msg_buffer);

    msg_readfrom(blob.data(), size);
    EXPECT_EQ(msg_readint(), -123456789);
    EXPECT_EQ(msg_readint(), INT32_MIN);
    EXPECT_EQ(msg_readshort(), -2);
    EXPECT_EQ(msg_readshort(), INT16_MAX);
    float z = msg_readfloat();
    EXPECT_TRUE(z == 0.0f && std::signbit(z));
    float v[3];
    msg_readvec(v);
    EXPECT_EQ(memcmp(v, vec, sizeof(v)), 0);
    char text[32];
    EXPECT_EQ(msg_readtext(text, sizeof(text)), 1);
    EXPECT_STREQ(text, "layer 3: Relief");
    EXPECT_EQ(msg_readtext(text, sizeof(text)), 1);
    EXPECT_STREQ(text, "");
    uint8_t back[5];
    EXPECT_EQ(msg_read(back, 5), 1);
    EXPECT_EQ(memcmp(back, raw, 5), 0);
    EXPECT_EQ(msg_position, msg_end);
    EXPECT_EQ(msg_failed, 0);
}

TEST_F(Msg, ReaderRefusesToPassTheEndOfItsBlob)
{
    // The blob: one word, then the text "abc" with its terminator.
    const uint8_t blob[] = {1, 0, 0, 0, 'a', 'b', 'c', 0};
    struct Case {
        const char *name;
        int32_t size;   // how much of the blob the reader is given
        int textcap;    // read a text of this capacity after the word
        int32_t rawread; // else read this many raw bytes after the word
    };
    const Case cases[] = {
        {"word cut short", 3, 0, 0},
        {"text without terminator", 7, 16, 0},
        {"text longer than its field", 8, 3, 0},
        {"raw bytes past the end", 8, 0, 5},
        {"negative count", 8, 0, -1},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        msg_readfrom(blob, c.size);
        int32_t word = msg_readint();
        if (c.size < 4) {
            EXPECT_EQ(word, 0) << c.name;
        } else if (c.textcap) {
            char text[16] = "junk";
            EXPECT_EQ(msg_readtext(text, c.textcap), 0) << c.name;
            EXPECT_STREQ(text, "") << c.name;
        } else {
            uint8_t raw[8];
            memset(raw, 0xEE, sizeof(raw));
            EXPECT_EQ(msg_read(raw, c.rawread), 0) << c.name;
            for (int i = 0; i < c.rawread; i++)
                EXPECT_EQ(raw[i], 0) << c.name;
        }
        EXPECT_EQ(msg_failed, 1) << c.name;
        // Once failed, the reader yields only zeros, even for fields that
        // would still fit.
        msg_position = 0;
        EXPECT_EQ(msg_readint(), 0) << c.name;
        EXPECT_EQ(msg_readshort(), 0) << c.name;
        EXPECT_EQ(msg_readfloat(), 0.0f) << c.name;
        EXPECT_EQ(log.count("msg_read"), 1) << c.name;
    }
}

TEST_F(Msg, WritersRefuseWhatTheyCannotStore)
{
    struct Case {
        const char *name;
        bool reading;     // writing into a blob set up for reading
        bool longtext;    // formatted text beyond 1,024 characters
        bool hugewrite;   // more than the largest block
    };
    const Case cases[] = {
        {"while reading", true, false, false},
        {"text too long", false, true, false},
        {"beyond the largest block", false, false, true},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        uint8_t blob[8] = {9, 9, 9, 9, 9, 9, 9, 9};
        if (c.reading)
            msg_readfrom(blob, 8);
        else
            ASSERT_EQ(msg_alloc(16), 1);
        ASSERT_EQ(msg_writeint(5), c.reading ? 0 : 1) << c.name;
        int32_t position = msg_position;
        int32_t capacity = msg_capacity;
        if (c.longtext)
            EXPECT_EQ(msg_printf("%s", std::string(1024, 'x').c_str()), 0) << c.name;
        if (c.hugewrite) {
            EXPECT_EQ(msg_write(blob, INT32_MAX), 0) << c.name;
            EXPECT_TRUE(log.contains("[ ERROR ] msg_realloc: failed to reallocate msg_buffer")) << c.name;
        }
        EXPECT_EQ(msg_failed, 1) << c.name;
        EXPECT_EQ(msg_position, position) << c.name;
        EXPECT_EQ(msg_capacity, capacity) << c.name;
        // Nothing more is written after a refusal, so the blob has no gap.
        EXPECT_EQ(msg_writeshort(1), 0) << c.name;
        EXPECT_EQ(msg_position, position) << c.name;
        for (uint8_t b : blob)
            EXPECT_EQ(b, 9) << c.name;
        if (!c.reading)
            sys_free(msg_buffer);
        msg_capacity = 0;
    }
}

TEST_F(Msg, AllocRejectsBadSizes)
{
    EXPECT_EQ(msg_alloc(0), 0);
    EXPECT_EQ(msg_buffer, nullptr);
    EXPECT_EQ(msg_alloc(-5), 0);
    EXPECT_EQ(msg_buffer, nullptr);
    EXPECT_EQ(msg_writeint(1), 0);
}

// Two streams used in turn, as two jobs would, never see each other's
// position, failure or bytes, and the global one is left alone.
TEST_F(Msg, StreamsKeepTheirOwnState)
{
    msg_stream a, b;
    ASSERT_TRUE(msg_alloc(&a, 16));
    ASSERT_TRUE(msg_alloc(&b, 16));
    for (int i = 0; i < 10; i++) {
        msg_writeint(&a, i);
        msg_writeshort(&b, (int16_t)-i);
    }
    EXPECT_EQ(a.position, 40);
    EXPECT_EQ(b.position, 20);
    EXPECT_EQ(msg_position, 0);

    msg_stream ra, rb;
    msg_readfrom(&ra, a.buffer, a.position);
    msg_readfrom(&rb, b.buffer, b.position);
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(msg_readint(&ra), i);
        EXPECT_EQ(msg_readshort(&rb), -i);
    }
    EXPECT_EQ(msg_readint(&rb), 0);
    EXPECT_TRUE(rb.failed);
    EXPECT_FALSE(ra.failed);
    EXPECT_FALSE(msg_failed);
    sys_free(a.buffer);
    sys_free(b.buffer);
}
