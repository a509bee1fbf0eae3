#include "FileBufs.h"
#include "Errors.h"
#include "FileAccess.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A file of Size bytes whose byte at offset i is (i * 31 + i / 4096) mod 251.
class BufferedFile : public testing::Test {
protected:
    void Make(size_t Size) {
        Bytes.resize(Size);
        for (size_t I = 0; I < Size; ++I)
            Bytes[I] = static_cast<uint8_t>((I * 31 + I / 4096) % 251);
        Name = Dir.File("data.bin");
        WriteFileBytes(Name, Bytes);
        Handle = FileOpen(Name, fmOpenRead | fmShareDenyWrite);
        ASSERT_GE(Handle, 0);
    }
    void TearDown() override { FileClose(Handle); }

    TTempDir Dir;
    std::string Name;
    std::vector<uint8_t> Bytes;
    int Handle = -1;
};

} // namespace

TEST_F(BufferedFile, EmptyFileReadsNothing) {
    Make(0);
    TFileReadBuffer Buffer(Handle, 8192);
    uint8_t Dest[4];
    EXPECT_EQ(Buffer.FileSize(), 0);
    EXPECT_EQ(Buffer.Read(Dest, 4, 0), 0);
    EXPECT_EQ(Buffer.ReadCalls(), 0);
}

TEST_F(BufferedFile, ReadsAreClippedAtTheEndWithoutTouchingTheFileBeyondIt) {
    Make(10000); // not a multiple of 4096
    TFileReadBuffer Buffer(Handle, 8192);
    uint8_t Dest[4] = {};
    EXPECT_EQ(Buffer.Read(Dest, 4, 10000 - 2), 2);
    EXPECT_EQ(Dest[0], Bytes[9998]);
    EXPECT_EQ(Dest[1], Bytes[9999]);
    const auto Calls = Buffer.ReadCalls();
    EXPECT_EQ(Buffer.Read(Dest, 4, 10000), 0);
    EXPECT_EQ(Buffer.Read(Dest, 4, 1 << 20), 0);
    EXPECT_EQ(Buffer.ReadCalls(), Calls);
}

TEST_F(BufferedFile, WindowsStartOn4096AndReloadOnlyWhenTheRequestLeavesThem) {
    Make(30000);
    TFileReadBuffer Buffer(Handle, 8192);
    uint8_t Dest[4];
    Buffer.Read(Dest, 4, 5000);
    EXPECT_EQ(Buffer.WindowPos(), 4096);
    EXPECT_EQ(Buffer.ReadCalls(), 1);
    Buffer.Read(Dest, 4, 5001);
    EXPECT_EQ(Buffer.ReadCalls(), 1);
    Buffer.Read(Dest, 4, 12284); // ends exactly at the window's end
    EXPECT_EQ(Buffer.ReadCalls(), 1);
    Buffer.Read(Dest, 4, 12285);
    EXPECT_EQ(Buffer.WindowPos(), 8192);
    EXPECT_EQ(Buffer.ReadCalls(), 2);
    EXPECT_EQ(0, memcmp(Dest, &Bytes[12285], 4));
    Buffer.Read(Dest, 4, 100); // backwards
    EXPECT_EQ(Buffer.WindowPos(), 0);
}

TEST_F(BufferedFile, LargeRequestsBypassTheWindow) {
    Make(30000);
    TFileReadBuffer Buffer(Handle, 8192);
    std::vector<uint8_t> Dest(5000);
    EXPECT_EQ(Buffer.Read(Dest.data(), 4096, 6000), 4096);
    EXPECT_EQ(Buffer.WindowPos(), 4096) << "4096 bytes go through the window";
    EXPECT_EQ(Buffer.Read(Dest.data(), 4097, 20000), 4097);
    EXPECT_EQ(Buffer.WindowPos(), 4096) << "4097 bytes go straight to the file";
    EXPECT_EQ(0, memcmp(Dest.data(), &Bytes[20000], 4097));
    EXPECT_EQ(Buffer.Read(Dest.data(), 5000, 28000), 2000);
}

TEST_F(BufferedFile, EveryWindowedReadMatchesTheFileForOtherBufferSizes) {
    Make(70000);
    for (uint32_t Size : {8192u, 12288u, 65536u}) {
        TFileReadBuffer Buffer(Handle, Size);
        std::vector<uint8_t> Dest(Size / 2);
        for (int64_t Pos = 0; Pos < 70000; Pos += 997) {
            const uint32_t Count = static_cast<uint32_t>(1 + Pos % (Size / 2));
            const int32_t Got = Buffer.Read(Dest.data(), Count, Pos);
            ASSERT_EQ(Got, std::min<int64_t>(Count, 70000 - Pos));
            ASSERT_EQ(0, memcmp(Dest.data(), &Bytes[static_cast<size_t>(Pos)], Got)) << Pos;
        }
    }
}

TEST_F(BufferedFile, ABufferTooSmallForItsWindowsIsRefused) {
    // A window starts up to 4095 bytes before the request; with 4096 bytes
    // a request of 2048 at 4095 past a boundary would run off the buffer.
    Make(20000);
    for (uint32_t Size : {0u, 4096u, 8191u})
        EXPECT_THROW(TFileReadBuffer(Handle, Size), Exception) << Size;
    TFileReadBuffer Smallest(Handle, 8192);
    uint8_t Dest[4096];
    ASSERT_EQ(Smallest.Read(Dest, 4096, 4095 + 4096), 4096);
    EXPECT_EQ(0, memcmp(Dest, &Bytes[4095 + 4096], 4096));
}

TEST_F(BufferedFile, AFileThatShrankUnderTheWindowFailsTheLoad) {
    Make(20000);
    TFileReadBuffer Buffer(Handle, 8192);
    ASSERT_EQ(truncate(Name.c_str(), 5000), 0);
    uint8_t Dest[4];
    try {
        Buffer.Read(Dest, 4, 9000);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(),
                  "Unable to read file\nThe file ended early: it was cut short while it was read.");
    }
}

TEST(BufferedFileSize, AHandleThatCannotSeekFailsConstruction) {
    int Pipe[2];
    ASSERT_EQ(pipe(Pipe), 0);
    try {
        TFileReadBuffer Buffer(Pipe[0], 8192);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Unable to receive file size");
    }
    close(Pipe[0]);
    close(Pipe[1]);
}
