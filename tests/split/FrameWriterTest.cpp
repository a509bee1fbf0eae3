#include "FrameWriter.h"
#include "FileAccess.h"
#include "FrameBuilder.h"
#include "JobProgress.h"
#include "JobTestSupport.h"
#include "MP3Read.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

TBytes Pattern(size_t Count, uint8_t Seed) {
    TBytes Data(Count);
    for (size_t I = 0; I < Count; ++I)
        Data[I] = static_cast<uint8_t>(I * 3 + Seed);
    return Data;
}

} // namespace

TEST(FrameWriter, PiecesOfEverySizeReachTheFileInOrder) {
    TTempDir Dir;
    TBytes Expected;
    {
        TFileStream Stream(Dir.File("out"), fmCreate | fmShareExclusive);
        TFrameWriter Writer(1000);
        Writer.Attach(Stream);
        for (size_t Size : {10u, 417u, 573u, 1u, 999u, 1000u, 2500u, 0u, 300u}) {
            const auto Piece = Pattern(Size, static_cast<uint8_t>(Size));
            Writer.Write(Piece.data(), static_cast<uint32_t>(Piece.size()));
            Expected.insert(Expected.end(), Piece.begin(), Piece.end());
            // Counted as written at once, though the file lags behind.
            EXPECT_EQ(Writer.BytesWritten(), static_cast<int64_t>(Expected.size()));
            EXPECT_LE(Stream.Size(), Writer.BytesWritten());
        }
        EXPECT_LT(Stream.Size(), Writer.BytesWritten());
        Writer.Flush();
        EXPECT_EQ(Stream.Size(), Writer.BytesWritten());
    }
    EXPECT_EQ(ReadFileBytes(Dir.File("out")), Expected);
}

TEST(FrameWriter, AttachingStartsTheCountAfresh) {
    TTempDir Dir;
    TFrameWriter Writer(64);
    const auto Piece = Pattern(40, 1);
    {
        TFileStream First(Dir.File("a"), fmCreate | fmShareExclusive);
        Writer.Attach(First);
        Writer.Write(Piece.data(), 40);
        Writer.Flush();
        Writer.Detach();
    }
    TFileStream Second(Dir.File("b"), fmCreate | fmShareExclusive);
    Writer.Attach(Second);
    EXPECT_EQ(Writer.BytesWritten(), 0);
    Writer.Write(Piece.data(), 40);
    Writer.Flush();
    EXPECT_EQ(ReadFileBytes(Dir.File("a")), Piece);
    EXPECT_EQ(ReadFileBytes(Dir.File("b")), Piece);
}

TEST(FrameWriter, ReservedRoomCountsOnlyWhenCommitted) {
    TTempDir Dir;
    TBytes Expected;
    {
        TFileStream Stream(Dir.File("out"), fmCreate | fmShareExclusive);
        TFrameWriter Writer(1000);
        Writer.Attach(Stream);
        for (int I = 0; I < 12; ++I) {
            const auto Piece = Pattern(417, static_cast<uint8_t>(I));
            uint8_t* Room = Writer.Reserve(417);
            std::copy(Piece.begin(), Piece.end(), Room);
            if (I % 3 == 1)
                continue; // read, then not kept
            Writer.Commit(417);
            Expected.insert(Expected.end(), Piece.begin(), Piece.end());
        }
        EXPECT_EQ(Writer.BytesWritten(), static_cast<int64_t>(Expected.size()));
        Writer.Flush();
    }
    EXPECT_EQ(ReadFileBytes(Dir.File("out")), Expected);
}

TEST(FrameWriter, FramesFromAMappedSourceAndOwnBytesKeepTheirOrder) {
    // Frames that follow each other in the source go out as one run; junk,
    // a skipped frame and bytes of the writer's own each end a run. Runs
    // written by the job's thread and by the writer's own alike.
    for (const bool Behind : {false, true}) {
        TTempDir Dir;
        TStreamBuilder Stream;
        Stream.Junk(10).Frames(30).Junk(50, 0x33).Frames(30, {.Kbps = 320, .Padding = true});
        Stream.WriteTo(Dir.File("source.mp3"));
        TMP3Reader Reader;
        Reader.Open(Dir.File("source.mp3"));
        ASSERT_TRUE(Reader.Map().Mapped());
        TBytes Expected;
        {
            TFileStream Output(Dir.File("out"), fmCreate | fmShareExclusive);
            TFrameWriter Writer(3000);
            Writer.SetWriteBehind(Behind);
            Writer.Attach(Output);
            int Frame = 0;
            while (Reader.FindNextFrame(0)) {
                const auto* Bytes = Stream.Data().data() + Reader.Position();
                if (Frame % 11 == 5) {
                    ++Frame;
                    continue;
                }
                if (Frame % 7 == 3) {
                    const auto Own = Pattern(3, static_cast<uint8_t>(Frame));
                    Writer.Write(Own.data(), 3);
                    Expected.insert(Expected.end(), Own.begin(), Own.end());
                }
                ASSERT_TRUE(Writer.AppendFrame(Reader));
                Expected.insert(Expected.end(), Bytes, Bytes + Reader.FrameLength());
                EXPECT_EQ(Writer.BytesWritten(), static_cast<int64_t>(Expected.size()));
                ++Frame;
            }
            EXPECT_EQ(Frame, 60);
            Writer.Flush();
        }
        EXPECT_EQ(ReadFileBytes(Dir.File("out")), Expected) << Behind;
    }
}

TEST(JobPercent, MatchesTheDivisionAtEveryPosition) {
    for (int64_t Total : {int64_t{1}, int64_t{3}, int64_t{99}, int64_t{100}, int64_t{417},
                          int64_t{10'000'000'019}}) {
        SCOPED_TRACE(Total);
        TPercentOf Percent(Total);
        // Forwards in small and large steps, then backwards.
        std::vector<int64_t> Positions;
        for (int64_t At = 0; At <= Total; At += std::max<int64_t>(1, Total / 1000))
            Positions.push_back(At);
        for (int64_t At = Total; At >= 0; At -= std::max<int64_t>(1, Total / 7))
            Positions.push_back(At);
        Positions.push_back(Total - 1);
        for (int64_t At : Positions)
            ASSERT_EQ(Percent(At), static_cast<double>(At * 100 / Total)) << At;
    }
}

TEST(JobPercent, TheSelectionsShareMatchesTheRoundedQuotientAtEveryFrame) {
    // Marks of every kind, times summed frame by frame as the save does, and
    // times that land exactly on a tie (0.5 rounds to 0, 1.5 to 2).
    // Marks in milliseconds, some past what 32 bits hold.
    for (int64_t Mark :
         {int64_t{1}, int64_t{7}, int64_t{200}, int64_t{36'000}, int64_t{2'147'483'647},
          int64_t{214'748'364'700}, int64_t{0}, int64_t{-50}}) {
        for (double Frame : {1152.0 / 44100, 576.0 / 22050, 384.0 / 48000, 0.05}) {
            SCOPED_TRACE(std::to_string(Mark) + " " + std::to_string(Frame));
            TTimePercent Percent(Mark);
            const double End = std::min(10.0, static_cast<double>(std::abs(Mark)) / 1000 + 1);
            for (double Time = 0; Time < End; Time += Frame) {
                const double Expected = std::nearbyint(Time * 100'000 / static_cast<double>(Mark));
                const double Got = Percent(Time);
                ASSERT_TRUE(Got == Expected || (std::isnan(Got) && std::isnan(Expected))) << Time;
            }
        }
    }
    TTimePercent Ties(20'000); // 20 s
    EXPECT_EQ(Ties(0.1), 0);
    EXPECT_EQ(Ties(0.3), 2);
    EXPECT_EQ(Ties(0.2999), 1);
}
