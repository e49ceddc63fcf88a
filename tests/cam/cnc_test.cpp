// Post-processor variables: a post-processor script names them, the output
// engine addresses them by position, so the registration order is fixed.
#include "cam/cnc.h"

#include "sys/var.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(PostVars, RegisteredInTheirFixedOrder)
{
    ASSERT_EQ(cnc_init(), 1);
    struct Case {
        int position;
        const char *name;
    };
    const Case cases[] = {
        {0, "Version"},     {1, "FileExtension"}, {2, "ReadStart"},     {21, "Units"},
        {42, "ArcFormat"},  {48, "ArcMaxAngle"},  {49, "CodeRapid"},    {68, "RegisterX"},
        {78, "PrefixBlock"}, {88, "LinearBlock"}, {90, "CNC_SEQUENCE"}, {104, "CNC_GCODE"},
    };
    for (const Case &c : cases) {
        EXPECT_STREQ(cnc_postvarnames[c.position], c.name);
        EXPECT_EQ(postvars[c.position], var_find(c.name)) << c.name;
    }
    std::set<int> ids(postvars, postvars + cnc_postvarcount);
    EXPECT_EQ(ids.size(), (size_t)cnc_postvarcount) << "every name is its own variable";
    EXPECT_EQ(ids.count(-1), 0u);
    // A second start finds the same variables.
    int first = postvars[50];
    ASSERT_EQ(cnc_init(), 1);
    EXPECT_EQ(postvars[50], first);
}
