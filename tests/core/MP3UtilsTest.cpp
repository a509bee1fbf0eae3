#include "MP3Utils.h"

#include "FrameClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

uint32_t Header(uint8_t B0, uint8_t B1, uint8_t B2, uint8_t B3) {
    return B0 | B1 << 8 | B2 << 16 | static_cast<uint32_t>(B3) << 24;
}

struct TValidCase {
    uint8_t B1, B2, B3;
    uint8_t Version, Layer;
    int32_t Bitrate, SampleRate;
    uint8_t ChannelMode;
    int32_t FrameLength;
    double Duration;
};

} // namespace

TEST(DecodeFrameHeader, DecodesHeadersOfEveryVersionAndLayer) {
    const TValidCase Cases[] = {
        {0xFB, 0x90, 0x44, 1, 3, 128000, 44100, 1, 417, 1152.0 / 44100},
        {0xFB, 0x92, 0x44, 1, 3, 128000, 44100, 1, 418, 1152.0 / 44100},
        {0xFD, 0xE4, 0x00, 1, 2, 384000, 48000, 0, 1152, 0.024},
        {0xF3, 0x80, 0x40, 2, 3, 64000, 22050, 1, 208, 576.0 / 22050},
        {0xF3, 0x82, 0x40, 2, 3, 64000, 22050, 1, 209, 576.0 / 22050},
        {0xE3, 0x18, 0xC0, 3, 3, 8000, 8000, 3, 72, 0.072},
        {0xFF, 0x10, 0x00, 1, 1, 32000, 44100, 0, 32, 384.0 / 44100},
        {0xFF, 0x12, 0x00, 1, 1, 32000, 44100, 0, 36, 384.0 / 44100},
        {0xF5, 0xE6, 0x00, 2, 2, 160000, 24000, 0, 961, 0.048},
        // MPEG-2 Layer I keeps its own bit-rate row.
        {0xF7, 0x90, 0x80, 2, 1, 144000, 22050, 2, 312, 384.0 / 22050},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "FF " << int(C.B1) << " " << int(C.B2) << " " << int(C.B3));
        TMP3FrameInfo Info{};
        ASSERT_TRUE(DecodeFrameHeader(Header(0xFF, C.B1, C.B2, C.B3), Info));
        EXPECT_EQ(Info.Version, C.Version);
        EXPECT_EQ(Info.Layer, C.Layer);
        EXPECT_EQ(Info.Bitrate, C.Bitrate);
        EXPECT_EQ(Info.SampleRate, C.SampleRate);
        EXPECT_EQ(Info.ChannelMode, C.ChannelMode);
        EXPECT_EQ(Info.FrameLength, C.FrameLength);
        EXPECT_DOUBLE_EQ(Info.Duration, C.Duration);
        EXPECT_EQ(Info.Ticks, std::llround(C.Duration * TicksPerSecond));
    }
}

TEST(DecodeFrameHeader, RefusesBrokenSyncReservedFieldsAndFreeFormat) {
    TMP3FrameInfo Info{};
    EXPECT_FALSE(DecodeFrameHeader(Header(0xFE, 0xFB, 0x90, 0x44), Info));
    for (uint8_t B1 : {0x1B, 0x5B, 0x9B, 0xDB}) // one of the top three bits clear
        EXPECT_FALSE(DecodeFrameHeader(Header(0xFF, B1, 0x90, 0x44), Info));
    for (int B1 = 0xE8; B1 <= 0xEF; ++B1) // reserved version
        EXPECT_FALSE(DecodeFrameHeader(Header(0xFF, static_cast<uint8_t>(B1), 0x90, 0x44), Info));
    EXPECT_FALSE(DecodeFrameHeader(Header(0xFF, 0xF0, 0x90, 0x44), Info)); // reserved layer
    EXPECT_FALSE(DecodeFrameHeader(Header(0xFF, 0xFB, 0x00, 0x44), Info)); // free format
    EXPECT_FALSE(DecodeFrameHeader(Header(0xFF, 0xFB, 0xF0, 0x44), Info)); // bad bit rate
    EXPECT_FALSE(DecodeFrameHeader(Header(0xFF, 0xFB, 0x9C, 0x44), Info)); // reserved rate
}

TEST(DecodeFrameHeader, IgnoresEmphasisAndProtection) {
    TMP3FrameInfo Info{};
    EXPECT_TRUE(DecodeFrameHeader(Header(0xFF, 0xFB, 0x90, 0x46), Info)); // emphasis 10
    EXPECT_TRUE(DecodeFrameHeader(Header(0xFF, 0xFA, 0x90, 0x44), Info)); // CRC present
    EXPECT_EQ(Info.FrameLength, 417);
}

TEST(DecodeFrameHeader, FrameLengthsOfAllValidHeadersLieBetween24And2881) {
    int32_t Smallest = 1 << 30, Largest = 0;
    TMP3FrameInfo Info{};
    for (int B1 = 0xE0; B1 <= 0xFF; ++B1)
        for (int B2 = 0; B2 <= 0xFF; ++B2)
            if (DecodeFrameHeader(
                    Header(0xFF, static_cast<uint8_t>(B1), static_cast<uint8_t>(B2), 0), Info)) {
                Smallest = std::min(Smallest, Info.FrameLength);
                Largest = std::max(Largest, Info.FrameLength);
            }
    EXPECT_EQ(Smallest, 24);
    EXPECT_EQ(Largest, MaxFrameLength);
    ASSERT_TRUE(
        DecodeFrameHeader(Header(0xFF, 0xE5, 0xEA, 0x00), Info)); // 2.5, L II, 160k, 8k, pad
    EXPECT_EQ(Info.FrameLength, 2881);
}
