#include "MP3Read.h"
#include "Errors.h"
#include "FileAccess.h"
#include "FrameBuilder.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <random>
#include <sys/wait.h>
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
    // Writes Stream to a file, opens Reader on it and returns the file's name.
    std::string OpenOn(TMP3Reader& Reader, const TStreamBuilder& Stream) {
        Stream.WriteTo(Dir.File("stream.mp3"));
        Reader.Open(Dir.File("stream.mp3"));
        return Dir.File("stream.mp3");
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
    TMP3Reader Reader;
    OpenOn(Reader, Stream.Frames(4).TruncatedFrame(200));
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
    TMP3Reader Reader;
    OpenOn(Reader, TStreamBuilder().Junk(5000).Frames(3));
    EXPECT_FALSE(Reader.FindNextFrame(1000));
    EXPECT_EQ(Reader.Position(), 1001);
    EXPECT_TRUE(Reader.FindNextFrame(0));
    EXPECT_EQ(Reader.Position(), 5000);
}

TEST_F(FrameWalk, ALimitedSearchReadsNothingFarBehindItsLimit) {
    // A megabyte without a sync byte, cut short under the open reader: only
    // a search that reads beyond the limit meets the missing bytes.
    TMP3Reader Reader;
    const std::string Name = OpenOn(Reader, TStreamBuilder().Junk(1 << 20, 0x11));
    ASSERT_EQ(truncate(Name.c_str(), 200 * 1024), 0);
    EXPECT_FALSE(Reader.FindNextFrame(1000));
    EXPECT_EQ(Reader.Position(), 1001);
    EXPECT_FALSE(Reader.FindNextFrame(150 * 1024));
    EXPECT_EQ(Reader.Position(), 150 * 1024 + 1);
}

TEST_F(FrameWalk, ReadFrameWithoutACurrentFrameFails) {
    TMP3Reader Reader;
    OpenOn(Reader, TStreamBuilder().Frames(2));
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
    Reader.Open(Dir.File("a.mp3"));
    Reader.Open(Dir.File("b.mp3")); // without a Close between
    EXPECT_EQ(OpenFileCount(), Baseline + 1);
    EXPECT_FALSE(Reader.FrameFound());
    ASSERT_TRUE(Reader.FindNextFrame(0));
    EXPECT_EQ(Reader.Position(), 10);
    EXPECT_EQ(Reader.FileSize(), 10 + 2 * 417);

    // Closed in the middle of the file: nothing more to find or read.
    Reader.Close();
    EXPECT_FALSE(Reader.FindNextFrame(0));
    EXPECT_FALSE(Reader.FrameFound());
    std::vector<uint8_t> Frame(MaxFrameLength);
    EXPECT_THROW(Reader.ReadFrame(Frame.data()), Exception);
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

// The resident kilobytes of the mapping that starts at Address, from
// /proc/self/smaps; -1 when there is none.
int64_t MappedResidentKiB(const void* Address) {
    std::ifstream Smaps("/proc/self/smaps");
    std::string Line;
    char Start[32];
    std::snprintf(Start, sizeof Start, "%lx-",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(Address)));
    bool Inside = false;
    while (std::getline(Smaps, Line)) {
        if (Line.rfind(Start, 0) == 0)
            Inside = true;
        else if (Inside && Line.rfind("Rss:", 0) == 0)
            return std::stoll(Line.substr(4));
    }
    return -1;
}

TEST(FrameReader, AWalkKeepsOnlyAFewMegabytesOfTheSourceMapped) {
    // The map gives up what lies behind the walk: the resident size stays
    // small however large the source.
    TTempDir Dir;
    const std::string Name = Dir.File("long.mp3");
    TStreamBuilder Block;
    Block.Frames(2000);
    std::vector<uint8_t> Data;
    while (Data.size() < (48u << 20))
        Data.insert(Data.end(), Block.Data().begin(), Block.Data().end());
    WriteFileBytes(Name, Data);

    TMP3Reader Reader;
    Reader.Open(Name);
    ASSERT_TRUE(Reader.Map().Mapped());
    int64_t Frames = 0, MostKiB = 0;
    while (Reader.FindNextFrame(0))
        if (++Frames % 10000 == 0)
            MostKiB = std::max(MostKiB, MappedResidentKiB(Reader.Map().Data()));
    EXPECT_GT(Frames, 100000);
    EXPECT_GT(MostKiB, 0);
    EXPECT_LE(MostKiB, 10 * 1024);

    // So does a search through bytes that never make a frame, every one of
    // them a candidate.
    WriteFileBytes(Name, std::vector<uint8_t>(32u << 20, 0xFF));
    Reader.Open(Name);
    MostKiB = 0;
    Reader.SetSearchCheck([&] {
        MostKiB = std::max(MostKiB, MappedResidentKiB(Reader.Map().Data()));
        return false;
    });
    EXPECT_FALSE(Reader.FindNextFrame(0));
    EXPECT_GT(MostKiB, 0);
    EXPECT_LE(MostKiB, 10 * 1024);
}

TEST(FrameReader, ASourceShrunkByAnotherProcessEndsTheWalkWithAReadFailure) {
    // The reader maps the source: pages past the new end are gone (a read
    // of them would raise SIGBUS), and the rest of the new last page reads
    // as zeros. Neither may end the process or pass for a frame.
    TTempDir Dir;
    TStreamBuilder Stream;
    Stream.Frames(3000);
    const auto& Offsets = Stream.FrameOffsets();
    const auto& Original = Stream.Data();
    struct TCase {
        const char* What;
        off_t Size;
    };
    const TCase Cases[] = {
        {"to nothing", 0},
        {"to one page", 4096},
        {"inside a frame", static_cast<off_t>(Offsets[600] + 200)},
        {"at a frame end", static_cast<off_t>(Offsets[600])},
        {"ahead of the walk, on a page boundary", 128 * 4096},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.What);
        const std::string Name = Dir.File("source.mp3");
        Stream.WriteTo(Name);
        TMP3Reader Reader;
        Reader.Open(Name);
        ASSERT_TRUE(Reader.Map().Mapped());
        std::vector<uint8_t> Frame(MaxFrameLength);
        for (int I = 0; I < 20; ++I) {
            ASSERT_TRUE(Reader.FindNextFrame(0));
            ASSERT_TRUE(Reader.ReadFrame(Frame.data()));
        }
        const pid_t Child = fork();
        ASSERT_GE(Child, 0);
        if (Child == 0)
            _exit(truncate(Name.c_str(), Case.Size) == 0 ? 0 : 1);
        int Status = 0;
        ASSERT_EQ(waitpid(Child, &Status, 0), Child);
        ASSERT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);

        std::string Failure;
        try {
            while (Reader.FindNextFrame(0)) {
                ASSERT_TRUE(Reader.ReadFrame(Frame.data()));
                const int64_t At = Reader.Position();
                ASSERT_LE(At + Reader.FrameLength(), Case.Size) << "a frame the file lost";
                ASSERT_TRUE(std::equal(Frame.begin(), Frame.begin() + Reader.FrameLength(),
                                       Original.begin() + At));
            }
        } catch (const Exception& E) {
            Failure = E.Message();
        }
        EXPECT_EQ(Failure, "Unable to read file\nThe file ended early: it was cut short while it "
                           "was read.\nFile: " +
                               Name);
        EXPECT_FALSE(Reader.FrameFound());
    }
}

TEST(FrameReader, WithoutAMappingTheWindowFindsTheSameFrames) {
    // Once every mapping the program keeps is taken, a reader reads its
    // frames through its read window instead.
    TTempDir Dir;
    TStreamBuilder Stream;
    Stream.ID3v2(3000).Frames(40).Junk(333, 0xFF).Frames(40, {.Kbps = 320}).ID3v1();
    Stream.WriteTo(Dir.File("stream.mp3"));
    std::vector<std::unique_ptr<TMP3Reader>> Holders;
    for (int I = 0; I < TSourceMap::MaxMaps; ++I) {
        Holders.push_back(std::make_unique<TMP3Reader>());
        Holders.back()->Open(Dir.File("stream.mp3"));
    }
    TMP3Reader Probe;
    Probe.Open(Dir.File("stream.mp3"));
    EXPECT_FALSE(Probe.Map().Mapped());
    Probe.Close();
    auto Result = Walk(Dir.File("stream.mp3"));
    EXPECT_EQ(Result.Offsets, Stream.FrameOffsets());
    EXPECT_EQ(Result.Bytes, Stream.FrameBytes());
    Holders.clear();
    Probe.Open(Dir.File("stream.mp3"));
    EXPECT_TRUE(Probe.Map().Mapped()) << "closing gives the mappings back";
}

namespace {

// The frame search tried at every byte position, over the file's bytes in
// memory: what the reader must answer, however it skips ahead.
class TByteByByteSearch {
public:
    explicit TByteByByteSearch(const std::vector<uint8_t>& Bytes) : FBytes(Bytes) {}

    bool FindNextFrame(int64_t Limit) {
        if (Found)
            Position += Frame.FrameLength;
        const auto Size = static_cast<int64_t>(FBytes.size());
        while (Position < Size) {
            if (Limit != 0 && Position > Limit)
                break;
            TMP3FrameInfo Scratch;
            if (!HeaderAt(Position, Scratch))
                break;
            if (Scratch.FrameLength > 0 && (Found || IsFrameAt(Position + Scratch.FrameLength))) {
                Frame = Scratch;
                Found = true;
                return true;
            }
            ++Position;
            Found = false;
        }
        Found = false;
        return false;
    }

    int64_t Position = 0;
    bool Found = false;
    TMP3FrameInfo Frame{};

private:
    // False when fewer than four bytes are left; an invalid header gives a
    // FrameLength of 0.
    bool HeaderAt(int64_t At, TMP3FrameInfo& Info) const {
        if (At < 0 || At + 4 > static_cast<int64_t>(FBytes.size()))
            return false;
        const auto* B = &FBytes[static_cast<size_t>(At)];
        const uint32_t Header = B[0] | B[1] << 8 | B[2] << 16 | static_cast<uint32_t>(B[3]) << 24;
        if (!DecodeFrameHeader(Header, Info))
            Info.FrameLength = 0;
        return true;
    }
    bool IsFrameAt(int64_t At) const {
        TMP3FrameInfo Info;
        return HeaderAt(At, Info) && Info.FrameLength > 0;
    }

    const std::vector<uint8_t>& FBytes;
};

} // namespace

TEST(FrameSearch, AnswersAsATryAtEveryBytePositionWould) {
    // Frames, sync bytes, planted lone headers and junk of every kind, ended
    // anywhere; searched with and without a limit, also again after a search
    // that failed. Position, the answer and the frame must agree each time.
    std::mt19937 Random(4242);
    TTempDir Dir;
    const std::string Name = Dir.File("search.mp3");
    for (int Round = 0; Round < 300; ++Round) {
        SCOPED_TRACE(Round);
        TStreamBuilder Stream;
        const int Pieces = 1 + static_cast<int>(Random() % 8);
        for (int I = 0; I < Pieces; ++I) {
            switch (Random() % 5) {
            case 0: {
                const auto Version = static_cast<uint8_t>(1 + Random() % 3);
                const int Rates[] = {44100, 22050, 11025};
                Stream.Frames(1 + static_cast<int>(Random() % 4),
                              {.Version = Version,
                               .Layer = static_cast<uint8_t>(1 + Random() % 3),
                               .Kbps = 32,
                               .SampleRate = Rates[Version - 1]});
                break;
            }
            case 1:
                Stream.Frames(1 + static_cast<int>(Random() % 6));
                break;
            case 2:
                Stream.Junk(Random() % 200, Random() % 2 ? 0xFF : 0x00);
                break;
            case 3: {
                // A header whose frame is cut short somewhere inside.
                auto Lone = BuildFrame({.Kbps = 64});
                Stream.Bytes({Lone.begin(), Lone.begin() + 4 + Random() % (Lone.size() - 4)});
                break;
            }
            default: {
                std::vector<uint8_t> Noise(Random() % 300);
                for (auto& Byte : Noise)
                    Byte = Random() % 4 == 0 ? 0xFF : static_cast<uint8_t>(Random());
                Stream.Bytes(Noise);
            }
            }
        }
        std::vector<uint8_t> Bytes = Stream.Data();
        Bytes.resize(Bytes.size() - Random() % std::min<size_t>(Bytes.size() + 1, 5));
        // A sync byte in each of the last three places now and then.
        if (Round % 3 == 0) {
            for (size_t I = 1; I <= std::min<size_t>(3, Bytes.size()); ++I) {
                if (Random() % 2)
                    Bytes[Bytes.size() - I] = 0xFF;
            }
        }
        WriteFileBytes(Name, Bytes);

        TMP3Reader Reader;
        Reader.Open(Name);
        TByteByByteSearch Model(Bytes);
        const auto Size = static_cast<int64_t>(Bytes.size());
        for (int Call = 0; Call < 40; ++Call) {
            int64_t Limit = 0;
            switch (Random() % 4) {
            case 0:
                Limit = static_cast<int64_t>(Random() % static_cast<uint32_t>(Size + 8)) - 4;
                break;
            case 1:
                Limit = Model.Position + static_cast<int64_t>(Random() % 40);
                break;
            default:
                break;
            }
            SCOPED_TRACE("call " + std::to_string(Call) + " limit " + std::to_string(Limit));
            const bool Expected = Model.FindNextFrame(Limit);
            ASSERT_EQ(Reader.FindNextFrame(Limit), Expected);
            ASSERT_EQ(Reader.Position(), Model.Position);
            ASSERT_EQ(Reader.FrameFound(), Model.Found);
            if (Expected) {
                ASSERT_EQ(Reader.FrameLength(), Model.Frame.FrameLength);
            }
        }
    }
}
