// Contour records: allocation, counting and release.
#include "geom/contour.h"

#include "sys/mem.h"

#include <gtest/gtest.h>

TEST(Contour, NewIsZeroedCountedAndHoldsFullBuffer)
{
    int count = cont_count;
    uint64_t mem = sys_memused();
    contour *c = cont_new();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(cont_count, count + 1);
    EXPECT_EQ(c->numpolys, 0u);
    EXPECT_EQ(c->numverts, 0u);
    for (int i = 0; i < cont_maxpolys; i++) {
        ASSERT_EQ(c->vertcount[i], 0u);
        ASSERT_EQ(c->link[i], 0);
        ASSERT_EQ(c->closed[i], 0u);
    }
    EXPECT_EQ(sys_memused() - mem, sizeof(contour) + (uint64_t)cont_maxverts * 12);
    // The last point of the buffer is writable (the sanitizer checks bounds).
    c->verts[3 * cont_maxverts - 1] = 1.0f;
    cont_free(c);
    EXPECT_EQ(cont_count, count);
    EXPECT_EQ(sys_memused(), mem);
}

// Each free gives back exactly one contour's record and buffer, and a free
// of null changes neither the count nor the memory total.
TEST(Contour, FreeReleasesOneContourAndIgnoresNull)
{
    const uint64_t each = sizeof(contour) + (uint64_t)cont_maxverts * 12;
    int count = cont_count;
    uint64_t mem = sys_memused();
    contour *a = cont_new(), *b = cont_new();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    cont_free(nullptr);
    EXPECT_EQ(cont_count, count + 2);
    EXPECT_EQ(sys_memused() - mem, 2 * each);
    cont_free(a);
    EXPECT_EQ(cont_count, count + 1);
    EXPECT_EQ(sys_memused() - mem, each);
    cont_free(b);
    EXPECT_EQ(cont_count, count);
    EXPECT_EQ(sys_memused(), mem);
}
