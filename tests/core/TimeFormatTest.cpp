#include "FrameClock.h"
#include "TimeFormat.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

TEST(TimeMs, FormsReadAndPrintToTheMillisecond) {
    struct TCase {
        const char* Text;
        int64_t Ms;
        const char* Tenths;
        const char* Millis;
    };
    const TCase Cases[] = {
        {"10.237", 10'237, "00:10.2", "00:10.237"},
        {"1:02.5", 62'500, "01:02.5", "01:02.500"},
        {"1:02.50", 62'500, "01:02.5", "01:02.500"},
        {"75.5", 75'500, "01:15.5", "01:15.500"},
        {"0.001", 1, "00:00.0", "00:00.001"},
        {"59:59.999", 3'599'999, "59:59.9", "59:59.999"},
        {"1:00:00.04", 3'600'040, "01:00:00.0", "01:00:00.040"},
    };
    for (const TCase& Case : Cases) {
        EXPECT_EQ(ParseTimeMs(Case.Text), Case.Ms) << Case.Text;
        EXPECT_EQ(FormatTimeMs(Case.Ms, false), Case.Tenths) << Case.Text;
        EXPECT_EQ(FormatTimeMs(Case.Ms, true), Case.Millis) << Case.Text;
        EXPECT_EQ(ParseTimeMs(FormatTimeMs(Case.Ms, true)), Case.Ms) << Case.Text;
    }
    // Every time in tenths means what it meant.
    for (const char* Text : {"00:00.0", "01:15.5", "1:02:03.4", "75", "0.1", "5999.9"})
        EXPECT_EQ(ParseTimeMs(Text), *ParseTimeText(Text) * 100) << Text;
    for (const char* Text : {"", "75.", ".5", "75.5555", "1:60.1", "-1.5", "1.2.3"})
        EXPECT_FALSE(ParseTimeMs(Text).has_value()) << "'" << Text << "'";
}

TEST(TimeMs, MarksSnapToTheNearestFrameBoundary) {
    // 1152 samples at 44.1 kHz: 26.122... ms; at 48 kHz exactly 24 ms.
    const int64_t Frame44 = FrameTicks(1, 3, 44100);
    const int64_t Frame48 = FrameTicks(1, 3, 48000);
    EXPECT_EQ(SnapMsToFrame(0, Frame44), 0);
    EXPECT_EQ(SnapMsToFrame(13, Frame44), 0);
    EXPECT_EQ(SnapMsToFrame(14, Frame44), 26);
    EXPECT_EQ(SnapMsToFrame(39, Frame44), 26);
    EXPECT_EQ(SnapMsToFrame(40, Frame44), 52); // 52.245 ms
    EXPECT_EQ(SnapMsToFrame(10'237, Frame44), 10'240); // frame 392 at 10,240.0 ms
    EXPECT_EQ(SnapMsToFrame(35, Frame48), 24);
    EXPECT_EQ(SnapMsToFrame(36, Frame48), 48);
    EXPECT_EQ(SnapMsToFrame(777, 0), 777);
    // Within half a millisecond of its boundary, whatever the frame.
    for (int64_t Ms = 0; Ms < 5000; Ms += 7) {
        const int64_t Snapped = SnapMsToFrame(Ms, Frame44);
        const int64_t Boundary = NearestFrameBoundary(MsToTicks(Ms), Frame44);
        EXPECT_EQ(Boundary % Frame44, 0);
        EXPECT_LE(std::abs(MsToTicks(Snapped) - Boundary), HalfMsTicks) << Ms;
    }
}
