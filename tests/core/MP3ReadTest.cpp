#include "MP3Read.h"
#include "Errors.h"
#include "FileAccess.h"
#include "FrameBuilder.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct TWalk {
    std::vector<int64_t> Offsets;
    std::vector<int> Lengths;
    std::vector<uint8_t> Bytes;
    double Seconds = 0;
    bool LastReadFailed = false;
};

// The loop every caller runs: find, read, use; stop on either failing.
TWalk Walk(const std::string& Name) {
    TMP3Reader Reader;
    Reader.Open(Name);
    TWalk Result;
    std::vector<uint8_t> Frame(1024);
    while (Reader.FindNextFrame(0)) {
        if (Frame.size() < static_cast<size_t>(Reader.FrameLength()))
            Frame.resize(static_cast<size_t>(Reader.FrameLength()));
        if (!Reader.ReadFrame(Frame.data())) {
            Result.LastReadFailed = true;
            break;
        }
        Result.Offsets.push_back(Reader.Position());
        Result.Lengths.push_back(Reader.FrameLength());
        Result.Bytes.insert(Result.Bytes.end(), Frame.begin(),
                            Frame.begin() + Reader.FrameLength());
        Result.Seconds += Reader.FrameDuration();
    }
    EXPECT_FALSE(Reader.FrameFound());
    return Result;
}

class FrameWalk : public testing::Test {
protected:
    TWalk WalkOf(const TStreamBuilder& Stream) {
        Stream.WriteTo(Dir.File("stream.mp3"));
        return Walk(Dir.File("stream.mp3"));
    }
    TTempDir Dir;
};

} // namespace

TEST_F(FrameWalk, ContiguousFramesThenAnID3v1TagDeliverEveryFrameAndNoTag) {
    TStreamBuilder Stream;
    Stream.Frames(50).ID3v1("TAG title with \xff\xfb bytes");
    auto Result = WalkOf(Stream);
    EXPECT_EQ(Result.Offsets, Stream.FrameOffsets());
    EXPECT_EQ(Result.Bytes, Stream.FrameBytes());
    EXPECT_FALSE(Result.LastReadFailed);
}

TEST_F(FrameWalk, LeadingTagAndJunkAreCrossedAndNeedTwoHeadersToSync) {
    TStreamBuilder Stream;
    // A lone valid header inside the tag that no second header confirms.
    auto Lone = BuildFrame({});
    Stream.ID3v2(100).Bytes({Lone.begin(), Lone.begin() + 4}).Junk(300);
    Stream.Frames(10).Junk(777, 0x11).Frames(5, {.Version = 2, .Kbps = 64, .SampleRate = 22050});
    Stream.Junk(1).Frames(3, {.Layer = 2, .Kbps = 192});
    auto Result = WalkOf(Stream);
    EXPECT_EQ(Result.Offsets, Stream.FrameOffsets());
    EXPECT_EQ(Result.Bytes, Stream.FrameBytes());
}

TEST_F(FrameWalk, VariableBitRateFramesCarryTheirOwnLengthsAndDurations) {
    TStreamBuilder Stream;
    double Expected = 0;
    const int Rates[] = {32, 320, 128, 64, 256, 40, 160};
    for (int I = 0; I < 70; ++I) {
        TFrameSpec Spec{.Kbps = Rates[I % 7], .Padding = I % 3 == 0};
        Stream.Frames(1, Spec);
        Expected += FrameDurationOf(Spec);
    }
    auto Result = WalkOf(Stream);
    EXPECT_EQ(Result.Lengths, Stream.FrameLengths());
    EXPECT_DOUBLE_EQ(Result.Seconds, Expected);
}

TEST_F(FrameWalk, ALoneFrameIsNeverConfirmed) {
    TStreamBuilder Stream;
    Stream.Frames(1);
    EXPECT_TRUE(WalkOf(Stream).Offsets.empty());
}

TEST_F(FrameWalk, TinyFilesHoldNoFrame) {
    for (size_t Size : {0u, 1u, 3u}) {
        TStreamBuilder Stream;
        Stream.Junk(Size, 0xFF);
        EXPECT_TRUE(WalkOf(Stream).Offsets.empty()) << Size;
    }
}

TEST_F(FrameWalk, ALastFrameCutShortIsFoundButNotRead) {
    TStreamBuilder Stream;
    Stream.Frames(4).TruncatedFrame(200);
    Stream.WriteTo(Dir.File("cut.mp3"));
    TMP3Reader Reader;
    Reader.Open(Dir.File("cut.mp3"));
    std::vector<uint8_t> Frame(MaxFrameLength);
    for (int I = 0; I < 4; ++I) {
        ASSERT_TRUE(Reader.FindNextFrame(0));
        ASSERT_TRUE(Reader.ReadFrame(Frame.data()));
    }
    ASSERT_TRUE(Reader.FindNextFrame(0));
    EXPECT_EQ(Reader.Position(), Stream.FrameOffsets().back() + 417);
    EXPECT_FALSE(Reader.ReadFrame(Frame.data()));
    EXPECT_FALSE(Reader.FindNextFrame(0));
}

TEST_F(FrameWalk, FramesAcrossEveryWindowBoundaryComeWhole) {
    // Junk of every length from 0 to 40 between frames shifts the frames
    // over the 4096-byte window boundaries.
    TStreamBuilder Stream;
    for (int I = 0; I < 200; ++I)
        Stream.Frames(2, {.Padding = I % 2 == 1}).Junk(static_cast<size_t>(I % 41), 0x22);
    auto Result = WalkOf(Stream);
    EXPECT_EQ(Result.Bytes, Stream.FrameBytes());
}

TEST_F(FrameWalk, LimitStopsTheSearch) {
    TStreamBuilder Stream;
    Stream.Junk(5000).Frames(3);
    Stream.WriteTo(Dir.File("limit.mp3"));
    TMP3Reader Reader;
    Reader.Open(Dir.File("limit.mp3"));
    EXPECT_FALSE(Reader.FindNextFrame(1000));
    EXPECT_EQ(Reader.Position(), 1001);
    EXPECT_TRUE(Reader.FindNextFrame(0));
    EXPECT_EQ(Reader.Position(), 5000);
}

TEST(FrameReader, ReadFrameWithoutACurrentFrameFails) {
    TTempDir Dir;
    TStreamBuilder Stream;
    Stream.Frames(2);
    Stream.WriteTo(Dir.File("two.mp3"));
    TMP3Reader Reader;
    Reader.Open(Dir.File("two.mp3"));
    std::vector<uint8_t> Frame(MaxFrameLength);
    try {
        Reader.ReadFrame(Frame.data());
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Frame is not found");
    }
    ASSERT_TRUE(Reader.FindNextFrame(0));
    ASSERT_TRUE(Reader.FindNextFrame(0));
    EXPECT_FALSE(Reader.FindNextFrame(0));
    EXPECT_THROW(Reader.ReadFrame(Frame.data()), Exception);
}

TEST(FrameReader, OpenCloseAndReuse) {
    TTempDir Dir;
    const int Baseline = OpenFileCount();
    TMP3Reader Reader;
    Reader.Close();
    try {
        Reader.Open(Dir.File("missing.mp3"));
        FAIL();
    } catch (const EOSError& E) {
        EXPECT_EQ(E.Code(), ENOENT);
    }
    EXPECT_FALSE(Reader.IsOpen());
    EXPECT_EQ(OpenFileCount(), Baseline);

    TStreamBuilder().Frames(3).WriteTo(Dir.File("a.mp3"));
    TStreamBuilder().Junk(10).Frames(2).WriteTo(Dir.File("b.mp3"));
    Reader.Open(Dir.File("a.mp3"));
    EXPECT_EQ(OpenFileCount(), Baseline + 1);
    EXPECT_EQ(FileCreate(Dir.File("a.mp3")), -1) << "the reader keeps writers out";
    ASSERT_TRUE(Reader.FindNextFrame(0));
    Reader.Close();
    Reader.Close();
    EXPECT_EQ(OpenFileCount(), Baseline);
    Reader.Open(Dir.File("b.mp3"));
    EXPECT_FALSE(Reader.FrameFound());
    ASSERT_TRUE(Reader.FindNextFrame(0));
    EXPECT_EQ(Reader.Position(), 10);
    EXPECT_EQ(Reader.FileSize(), 10 + 2 * 417);
}

TEST(FrameReader, FramesBehindThe4GiBMarkOfASparseFile) {
    TTempDir Dir;
    const std::string Name = Dir.File("sparse.mp3");
    const int64_t At = (int64_t{1} << 32) + 12345;
    TStreamBuilder Stream;
    Stream.Frames(3);
    int Fd = open(Name.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(Fd, 0);
    const auto& Data = Stream.Data();
    ASSERT_EQ(pwrite(Fd, Data.data(), Data.size(), At), static_cast<ssize_t>(Data.size()));
    close(Fd);

    // The search crosses 4 GiB of zeros (a hole: nothing is stored) and
    // finds the frames behind it.
    auto Result = Walk(Name);
    std::vector<int64_t> Expected;
    for (int64_t Offset : Stream.FrameOffsets())
        Expected.push_back(At + Offset);
    EXPECT_EQ(Result.Offsets, Expected);
    EXPECT_EQ(Result.Bytes, Stream.FrameBytes());
}
