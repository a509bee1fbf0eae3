#include "TimeFormat.h"

#include <gtest/gtest.h>

TEST(FormatTime, MinutesBelowAnHourHoursFromThere) {
    EXPECT_EQ(FormatTime(0), "00:00.0");
    EXPECT_EQ(FormatTime(5), "00:00.5");
    EXPECT_EQ(FormatTime(6034), "10:03.4");
    EXPECT_EQ(FormatTime(35999), "59:59.9");
    EXPECT_EQ(FormatTime(36000), "01:00:00.0");
    EXPECT_EQ(FormatTime(1234567), "34:17:36.7");
    EXPECT_EQ(FormatTime(3600000), "100:00:00.0");
}

TEST(ParseTimeText, EveryFormReadsExactlyIntoTenths) {
    EXPECT_EQ(ParseTimeText("00:00.0"), 0);
    EXPECT_EQ(ParseTimeText("01:15.5"), 755);
    EXPECT_EQ(ParseTimeText("1:15"), 750);
    EXPECT_EQ(ParseTimeText("1:02:03.4"), 37234);
    EXPECT_EQ(ParseTimeText("75"), 750);
    EXPECT_EQ(ParseTimeText("75.5"), 755);
    // 0.1 has no exact binary form; a tenth must not drift to 0.0999...
    EXPECT_EQ(ParseTimeText("0.1"), 1);
    EXPECT_EQ(ParseTimeText("5999.9"), 59999);
}

TEST(ParseTimeText, WhatFormatTimePrintsReadsBack) {
    for (int32_t Tenths : {0, 9, 599, 600, 35999, 36000, 1234567, 3600000})
        EXPECT_EQ(ParseTimeText(FormatTime(Tenths)), Tenths) << FormatTime(Tenths);
}

TEST(ParseTimeText, AnythingElseIsRefused) {
    for (const char* Text : {"", ".", "75.", ".5", "75.55", "1:60", "1:2:60", "1:60:00", "-1",
                             "1:-2", "a", "1:2:3:4", "1::2", " 75", "75 ", "1e3"})
        EXPECT_FALSE(ParseTimeText(Text).has_value()) << "'" << Text << "'";
}
