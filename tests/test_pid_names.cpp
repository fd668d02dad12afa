#include "rdm/pid_names.h"
#include "rdm/rdm_defs.h"

#include <gtest/gtest.h>
#include <string>

TEST(PidNames, NamesNumbersAndTheirSpellings)
{
    EXPECT_EQ(ParsePid("DMX_START_ADDRESS"), rdm::DMX_START_ADDRESS);
    EXPECT_EQ(ParsePid("device_label"), rdm::DEVICE_LABEL);
    EXPECT_EQ(ParsePid("Identify_Device"), rdm::IDENTIFY_DEVICE);
    EXPECT_EQ(ParsePid("240"), 0x00F0);
    EXPECT_EQ(ParsePid("0x8004"), 0x8004);
    EXPECT_EQ(ParsePid("0XFFFF"), 0xFFFF);
    for (const char* bad : {"", "0x", "65536", "0x10000", "-1", "12a", "DMX_START", "DMX_START_ADDRESS_", " 240"})
        EXPECT_FALSE(ParsePid(bad).has_value()) << '"' << bad << '"';

    ASSERT_NE(FindPidName(rdm::SOFTWARE_VERSION_LABEL), nullptr);
    EXPECT_STREQ(FindPidName(rdm::SOFTWARE_VERSION_LABEL)->name, "SOFTWARE_VERSION_LABEL");
    EXPECT_STREQ(FindPidName(0x0344)->name, "CURVE_DESCRIPTION");
    EXPECT_EQ(FindPidName(0x8004), nullptr);
    EXPECT_EQ(FindPidName(0x0004), nullptr);
}

TEST(PidNames, TheTableIsOrderedAndEveryNameReadsBack)
{
    int count = 0;
    for (const PidName* p = PidNamesBegin(); p != PidNamesEnd(); ++p, ++count) {
        if (p != PidNamesBegin()) {
            EXPECT_LT((p - 1)->pid, p->pid) << p->name;
        }
        EXPECT_EQ(ParsePid(p->name), p->pid) << p->name;
        EXPECT_EQ(FindPidName(p->pid), p);
    }
    EXPECT_GE(count, 70);
}
