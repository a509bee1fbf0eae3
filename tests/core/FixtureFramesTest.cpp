#include "MP3Read.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

// The encoded fixtures under tests/data walked by the frame reader. Every
// number below was measured by the frame walker in make-fixtures.sh and
// cross-checked there against ffprobe's packet list (fixtures.tsv holds the
// same numbers); none comes from the reader under test.

namespace {

struct TFixtureFacts {
    const char* Name;
    int64_t Size;
    int64_t FirstOffset;
    int32_t Frames; // delivered whole, the Info/Xing frame included
    int64_t LastOffset;
    int64_t FramesEnd; // just behind the last whole frame
    double Seconds;    // sum of the frames' play times
    uint8_t Version;   // of the first frame
    uint8_t Layer;
    int32_t SampleRate;
    int32_t Bitrate;
    bool Contiguous; // frames stand end to end, with nothing between them
};

void PrintTo(const TFixtureFacts& Facts, std::ostream* Out) {
    *Out << Facts.Name;
}

constexpr std::array<TFixtureFacts, 9> AllFacts{{
    {"cbr-128-info.mp3", 48900, 0, 117, 48482, 48900, 3.056326531, 1, 3, 44100, 128000, true},
    {"vbr.mp3", 53198, 0, 117, 52572, 53198, 3.056326531, 1, 3, 44100, 128000, true},
    {"mpeg2-l3.mp3", 24658, 0, 118, 24449, 24658, 3.082448980, 2, 3, 22050, 64000, true},
    {"mpeg25-l3.mp3", 12960, 0, 45, 12672, 12960, 3.240000000, 3, 3, 8000, 32000, true},
    {"layer2.mp3", 48384, 0, 84, 47808, 48384, 2.016000000, 1, 2, 48000, 192000, true},
    {"id3v2-front.mp3", 36245, 3228, 79, 35827, 36245, 2.063673469, 1, 3, 44100, 128000, true},
    {"id3v1-end.mp3", 33145, 0, 79, 32599, 33017, 2.063673469, 1, 3, 44100, 128000, true},
    {"junk-between.mp3", 33194, 0, 79, 32776, 33194, 2.063673469, 1, 3, 44100, 128000, false},
    {"truncated-last.mp3", 32917, 0, 78, 32181, 32599, 2.037551020, 1, 3, 44100, 128000, true},
}};

struct TFrameWalk {
    std::vector<int64_t> Offsets;
    std::vector<int32_t> Lengths;
    std::vector<int32_t> Bitrates;
    double Seconds = 0;
    uint8_t FirstVersion = 0, FirstLayer = 0;
    int32_t FirstSampleRate = 0, FirstBitrate = 0;
    bool CopiedAsInFile = true; // every frame read equals the file's bytes there
    bool LastReadFailed = false;
};

// The cutter's loop: find, read, stop on either failing.
TFrameWalk WalkFixture(const std::string& Name) {
    const std::vector<uint8_t> File = ReadFileBytes(FixturePath(Name));
    TMP3Reader Reader;
    Reader.Open(FixturePath(Name));
    TFrameWalk Walk;
    std::vector<uint8_t> Frame;
    while (Reader.FindNextFrame(0)) {
        Frame.assign(static_cast<size_t>(Reader.FrameLength()), 0);
        if (!Reader.ReadFrame(Frame.data())) {
            Walk.LastReadFailed = true;
            break;
        }
        if (Walk.Offsets.empty()) {
            Walk.FirstVersion = Reader.Version();
            Walk.FirstLayer = Reader.Layer();
            Walk.FirstSampleRate = Reader.SampleRate();
            Walk.FirstBitrate = Reader.Bitrate();
        }
        const auto At = static_cast<size_t>(Reader.Position());
        Walk.CopiedAsInFile = Walk.CopiedAsInFile && At + Frame.size() <= File.size() &&
                              std::memcmp(Frame.data(), File.data() + At, Frame.size()) == 0;
        Walk.Offsets.push_back(Reader.Position());
        Walk.Lengths.push_back(Reader.FrameLength());
        Walk.Bitrates.push_back(Reader.Bitrate());
        Walk.Seconds += Reader.FrameDuration();
    }
    Reader.Close();
    return Walk;
}

class FixtureWalk : public testing::TestWithParam<TFixtureFacts> {};

TEST_P(FixtureWalk, DeliversTheMeasuredFrames) {
    const TFixtureFacts& Facts = GetParam();
    {
        TMP3Reader Reader;
        Reader.Open(FixturePath(Facts.Name));
        EXPECT_EQ(Reader.FileSize(), Facts.Size);
    }
    const TFrameWalk Walk = WalkFixture(Facts.Name);
    ASSERT_EQ(static_cast<int32_t>(Walk.Offsets.size()), Facts.Frames);
    EXPECT_EQ(Walk.Offsets.front(), Facts.FirstOffset);
    EXPECT_EQ(Walk.Offsets.back(), Facts.LastOffset);
    EXPECT_EQ(Walk.Offsets.back() + Walk.Lengths.back(), Facts.FramesEnd);
    EXPECT_NEAR(Walk.Seconds, Facts.Seconds, 1e-8);
    EXPECT_EQ(Walk.FirstVersion, Facts.Version);
    EXPECT_EQ(Walk.FirstLayer, Facts.Layer);
    EXPECT_EQ(Walk.FirstSampleRate, Facts.SampleRate);
    EXPECT_EQ(Walk.FirstBitrate, Facts.Bitrate);
    EXPECT_TRUE(Walk.CopiedAsInFile);
    EXPECT_EQ(Walk.LastReadFailed, std::string(Facts.Name) == "truncated-last.mp3");
    if (Facts.Contiguous) {
        for (size_t I = 1; I < Walk.Offsets.size(); ++I)
            ASSERT_EQ(Walk.Offsets[I], Walk.Offsets[I - 1] + Walk.Lengths[I - 1]) << "frame " << I;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureWalk, testing::ValuesIn(AllFacts),
                         [](const testing::TestParamInfo<TFixtureFacts>& Info) {
                             std::string Name = Info.param.Name;
                             Name.erase(Name.find('.'));
                             std::replace(Name.begin(), Name.end(), '-', '_');
                             return Name;
                         });

TEST(FixtureBitrates, ConstantStreamsKeepTheirRateAndVbrChangesIt) {
    const TFrameWalk Cbr = WalkFixture("cbr-128-info.mp3");
    EXPECT_EQ(std::set<int32_t>(Cbr.Bitrates.begin(), Cbr.Bitrates.end()), std::set{128000});
    // 128 kbit/s at 44100 Hz: 417 bytes, 418 with the padding slot.
    EXPECT_EQ(std::set<int32_t>(Cbr.Lengths.begin(), Cbr.Lengths.end()), (std::set{417, 418}));

    const TFrameWalk Mpeg2 = WalkFixture("mpeg2-l3.mp3");
    EXPECT_EQ(std::set<int32_t>(Mpeg2.Lengths.begin(), Mpeg2.Lengths.end()), (std::set{208, 209}));

    const TFrameWalk Layer2 = WalkFixture("layer2.mp3");
    EXPECT_EQ(std::set<int32_t>(Layer2.Lengths.begin(), Layer2.Lengths.end()), std::set{576});

    // Behind its Xing frame (written with a 128 kbit/s header) the VBR stream
    // moves between 112, 128, 160, 192 and 320 kbit/s.
    const TFrameWalk Vbr = WalkFixture("vbr.mp3");
    EXPECT_EQ(std::set<int32_t>(Vbr.Bitrates.begin(), Vbr.Bitrates.end()),
              (std::set{112000, 128000, 160000, 192000, 320000}));
    EXPECT_EQ(std::set<int32_t>(Vbr.Lengths.begin(), Vbr.Lengths.end()),
              (std::set{365, 417, 522, 626, 1044}));
}

TEST(FixtureTruncated, CutFrameIsFoundButNotRead) {
    TMP3Reader Reader;
    Reader.Open(FixturePath("truncated-last.mp3"));
    std::vector<uint8_t> Frame(2881);
    for (int I = 0; I < 78; ++I) {
        ASSERT_TRUE(Reader.FindNextFrame(0)) << "frame " << I;
        ASSERT_TRUE(Reader.ReadFrame(Frame.data())) << "frame " << I;
    }
    EXPECT_EQ(Reader.Position(), 32181);

    // The last frame lost 100 of its 418 bytes; it follows a frame directly,
    // so its header alone makes it current.
    ASSERT_TRUE(Reader.FindNextFrame(0));
    EXPECT_EQ(Reader.Position(), 32599);
    EXPECT_EQ(Reader.FrameLength(), 418);
    EXPECT_GT(Reader.Position() + Reader.FrameLength(), Reader.FileSize());
    EXPECT_FALSE(Reader.ReadFrame(Frame.data()));
    EXPECT_TRUE(Reader.FrameFound());

    EXPECT_FALSE(Reader.FindNextFrame(0));
    EXPECT_FALSE(Reader.FrameFound());
}

TEST(FixtureTags, FramesStopBeforeTheId3v1Tag) {
    const std::vector<uint8_t> File = ReadFileBytes(FixturePath("id3v1-end.mp3"));
    const int64_t TagStart = static_cast<int64_t>(File.size()) - 128;
    ASSERT_EQ(std::string(File.begin() + TagStart, File.begin() + TagStart + 3), "TAG");

    TMP3Reader Reader;
    Reader.Open(FixturePath("id3v1-end.mp3"));
    std::vector<uint8_t> Frame(2881);
    int32_t Frames = 0;
    while (Reader.FindNextFrame(0)) {
        ASSERT_TRUE(Reader.ReadFrame(Frame.data()));
        ASSERT_LE(Reader.Position() + Reader.FrameLength(), TagStart);
        ++Frames;
    }
    EXPECT_EQ(Frames, 79);
    EXPECT_FALSE(Reader.FrameFound());
}

TEST(FixtureTags, NoFrameLiesInsideTheId3v2Tag) {
    const std::vector<uint8_t> File = ReadFileBytes(FixturePath("id3v2-front.mp3"));
    ASSERT_EQ(std::string(File.begin(), File.begin() + 3), "ID3");
    // Ten header bytes plus a size in four 7-bit groups.
    const int64_t TagEnd = 10 + (int64_t{File[6]} << 21 | int64_t{File[7]} << 14 |
                                 int64_t{File[8]} << 7 | int64_t{File[9]});
    EXPECT_EQ(TagEnd, 3228);
    // lame writes the text fields in UTF-16; a byte-order mark followed by
    // "F" reads as a valid Layer I header (FF FE 46 00 at 78) that nothing
    // confirms, so the tag tests the reader's second look.
    EXPECT_EQ(File[78], 0xFF);
    EXPECT_EQ(File[79], 0xFE);
    EXPECT_EQ(File[80], 0x46);

    const TFrameWalk Walk = WalkFixture("id3v2-front.mp3");
    ASSERT_FALSE(Walk.Offsets.empty());
    EXPECT_EQ(Walk.Offsets.front(), TagEnd);
}

// junk-between.mp3 is a 79-frame stream with 100 zero bytes behind frame 10,
// 37 bytes of text behind frame 30, and behind frame 50 40 bytes holding a
// valid header at 21467 that no second header confirms.
TEST(FixtureJunk, FramesAroundTheJunkAreDelivered) {
    const TFrameWalk Walk = WalkFixture("junk-between.mp3");
    ASSERT_EQ(Walk.Offsets.size(), 79u);

    struct TJunkRun {
        size_t FrameBefore;
        int64_t Start;
        int64_t Length;
    };
    for (const TJunkRun& Run :
         {TJunkRun{10, 4596, 100}, TJunkRun{30, 13055, 37}, TJunkRun{50, 21451, 40}}) {
        const size_t Before = Run.FrameBefore;
        EXPECT_EQ(Walk.Offsets[Before] + Walk.Lengths[Before], Run.Start) << "frame " << Before;
        EXPECT_EQ(Walk.Offsets[Before + 1], Run.Start + Run.Length) << "frame " << Before + 1;
    }
    EXPECT_EQ(Walk.Offsets[10], 4178);
    EXPECT_EQ(Walk.Offsets[11], 4696);
    EXPECT_EQ(Walk.Offsets[31], 13092);
    EXPECT_EQ(Walk.Offsets[51], 21491);

    // The decoy is a real header, so the fixture still tests confirmation.
    const std::vector<uint8_t> File = ReadFileBytes(FixturePath("junk-between.mp3"));
    EXPECT_EQ(File[21467], 0xFF);
    EXPECT_EQ(File[21468], 0xFB);
    EXPECT_EQ(std::count(Walk.Offsets.begin(), Walk.Offsets.end(), 21467), 0);
    for (int32_t Length : Walk.Lengths)
        EXPECT_TRUE(Length == 417 || Length == 418);
}

} // namespace
