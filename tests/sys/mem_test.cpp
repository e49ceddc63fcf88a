// The accounting allocator: totals, copies and the failure report.
#include "sys/mem.h"

#include "testlog.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Mem, ZeroByteBlockIsValidAndCostsNothing)
{
    uint64_t before = sys_memtotal;
    void *p = sys_malloc(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(sys_memtotal, before);
    sys_free(p);
    EXPECT_EQ(sys_memtotal, before);
}

TEST(Mem, FreeReturnsTotal)
{
    uint64_t before = sys_memtotal;
    void *p = sys_malloc(1000);
    EXPECT_EQ(sys_memtotal, before + 1000);
    sys_free(p);
    EXPECT_EQ(sys_memtotal, before);
    sys_free(nullptr);
    EXPECT_EQ(sys_memtotal, before);
}

TEST(Mem, BlocksAreAlignedForDoubles)
{
    for (int size : {1, 3, 8, 100}) {
        void *p = sys_malloc(size);
        EXPECT_EQ((uintptr_t)p % alignof(std::max_align_t), 0u) << size;
        sys_free(p);
    }
}

TEST(Mem, ReallocKeepsContentsAndAdjustsTotal)
{
    struct Case {
        int newsize;
        int kept;
    };
    const Case cases[] = {{40, 40}, {400, 100}, {100, 100}};
    for (const Case &c : cases) {
        char *p = (char *)sys_malloc(100);
        for (int i = 0; i < 100; i++)
            p[i] = (char)i;
        uint64_t before = sys_memtotal;
        char *q = (char *)sys_realloc(p, c.newsize);
        ASSERT_NE(q, nullptr);
        EXPECT_EQ((int64_t)sys_memtotal - (int64_t)before, c.newsize - 100) << c.newsize;
        for (int i = 0; i < c.kept; i++)
            ASSERT_EQ(q[i], (char)i) << c.newsize;
        sys_free(q);
    }
}

TEST(Mem, ReallocOfNullAllocates)
{
    void *p = sys_realloc(nullptr, 16);
    ASSERT_NE(p, nullptr);
    sys_free(p);
}

TEST(Mem, CallocZeroesAndStrdupCopies)
{
    unsigned char *z = (unsigned char *)sys_calloc(7, 9);
    ASSERT_NE(z, nullptr);
    for (int i = 0; i < 63; i++)
        EXPECT_EQ(z[i], 0);
    sys_free(z);
    char *s = sys_strdup("kerf");
    EXPECT_STREQ(s, "kerf");
    sys_free(s);
}

TEST(Mem, ImpossibleRequestsFailWithReport)
{
    struct Case {
        const char *what;
        void *(*call)();
        const char *size;
    };
    const Case cases[] = {
        {"negative size", [] { return sys_malloc(-5); }, "-5"},
        {"calloc product overflows", [] { return sys_calloc(65536, 65536); }, "2147483647"},
        {"calloc negative count", [] { return sys_calloc(-1, 8); }, "-1"},
        {"prefix overflows", [] { return sys_malloc(INT32_MAX - 2); }, "2147483645"},
        {"realloc negative", [] { return sys_realloc(nullptr, -1); }, "-1"},
    };
    for (const Case &c : cases) {
        testlog_capture cap;
        uint64_t before = sys_memtotal;
        EXPECT_EQ(c.call(), nullptr) << c.what;
        EXPECT_EQ(sys_memtotal, before) << c.what;
        std::string want = std::string("[ ERROR ] malloc: failed to allocate ") + c.size + " bytes";
        EXPECT_TRUE(cap.contains(want)) << c.what << "\n" << cap.text();
    }
}

TEST(Mem, FailureReportNamesTotalAndCounts)
{
    testlog_capture cap;
    uint64_t saved = sys_memtotal;
    sys_memtotal = 512ull * 1048576; // as if 512 MB were live
    EXPECT_EQ(sys_malloc(-1073741824), nullptr);
    sys_memtotal = saved;
    EXPECT_TRUE(cap.contains("failed to allocate -1073741824 bytes (allocated:512.00mb images:0 contours:0 meshes:0)"))
        << cap.text();
}

TEST(Mem, ReallocFailureKeepsOldBlock)
{
    char *p = (char *)sys_malloc(8);
    strcpy(p, "stock");
    EXPECT_EQ(sys_realloc(p, -1), nullptr);
    EXPECT_STREQ(p, "stock");
    sys_free(p);
}
