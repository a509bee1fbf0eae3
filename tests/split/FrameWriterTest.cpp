#include "FrameWriter.h"
#include "FileAccess.h"
#include "JobTestSupport.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

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
