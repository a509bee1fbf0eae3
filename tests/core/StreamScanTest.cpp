#include "StreamScan.h"

#include "Corpus.h"
#include "Errors.h"
#include "FrameBuilder.h"
#include "FrameFiles.h"
#include "TestFiles.h"
#include "ThrownMessage.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
#include <thread>

namespace {

// Every field of a scan, one line each, so that a difference names itself.
std::string Describe(const TStreamScan& S) {
    std::ostringstream Out;
    auto Info = [&](const char* Name, const TMP3FrameInfo& F) {
        Out << Name << ' ' << int{F.Version} << ' ' << int{F.Layer} << ' ' << F.SampleRate << ' '
            << F.Bitrate << ' ' << int{F.ChannelMode} << ' ' << F.FrameLength << '\n';
    };
    Out << "info " << static_cast<int>(S.Info.Kind) << ' ' << S.Info.Frames << ' ' << S.Info.Bytes
        << " at " << S.InfoOffset << ' ' << S.InfoLength << '\n'
        << "frames " << S.AudioFrames << " bytes " << S.AudioBytes << " ticks " << S.Ticks << '\n'
        << "start " << S.AudioStart << " last " << S.LastAudio << " end " << S.AudioEnd << '\n'
        << "header " << S.FirstHeader << " varies " << S.BitrateVaries << " size " << S.FileSize
        << " frame ticks vary " << S.FrameTicksVary << " from " << S.FrameTicksChangeAt
        << " first frame at " << S.FirstFrameOffset << '\n'
        << "crc " << S.HasMusicCRC << ' ' << S.MusicCRC << '\n';
    Info("first", S.First);
    Info("first frame", S.FirstFrame);
    return Out.str();
}

std::string Sequential(const std::string& Name) {
    TMP3Reader Reader;
    Reader.Open(Name);
    EXPECT_LT(Reader.FileSize(), ScanInHalvesMinSize);
    return Describe(ScanStream(Reader));
}

std::string InHalves(const std::string& Name, int64_t SecondFrom) {
    TMP3Reader Reader;
    Reader.Open(Name);
    return Describe(ScanStreamInHalves(Reader, SecondFrom));
}

// A frame whose body holds two headers of 104-byte frames, the second
// where the first ends: a search that starts inside the body takes both.
std::vector<uint8_t> FrameWithFalseSync(const TFrameSpec& Spec) {
    auto Frame = BuildFrame(Spec);
    const TFrameSpec Small{.Kbps = 32};
    const auto Header = BuildHeader(Small);
    for (size_t At : {size_t{100}, size_t{100} + static_cast<size_t>(FrameLengthOf(Small))})
        std::copy(Header.begin(), Header.end(), Frame.begin() + static_cast<long>(At));
    return Frame;
}

} // namespace

TEST(StreamScan, TwoHalvesAtOnceGiveTheSequentialScan) {
    TTempDir Dir;
    struct TCase {
        std::string Name;
        std::string File;
        std::vector<int64_t> SecondFrom; // besides 1, the middle and the last bytes
    };
    std::vector<TCase> Cases;
    for (const TFixture& F : Fixtures())
        Cases.push_back({F.Name, FixturePath(F.Name), {F.FirstOffset + 1, F.LastOffset + 10}});

    const TFrameSpec Mpeg2{.Version = 2, .Kbps = 64, .SampleRate = 22050};
    auto Crafted = [&](const std::string& Name, const TStreamBuilder& Stream,
                       std::vector<int64_t> SecondFrom) {
        Stream.WriteTo(Dir.File(Name + ".mp3"));
        Cases.push_back({Name, Dir.File(Name + ".mp3"), std::move(SecondFrom)});
    };
    {
        TStreamBuilder S;
        S.Frames(200).Junk(1000).Frames(200);
        const int64_t JunkAt = S.FrameOffsets()[199] + S.FrameLengths()[199];
        Crafted("junk at the split", S, {JunkAt, JunkAt - 1, JunkAt + 999, JunkAt + 1000});
    }
    {
        TStreamBuilder S;
        S.Frames(200).Bytes(FrameWithFalseSync(TFrameSpec{})).Frames(200);
        const int64_t FalseAt = S.FrameOffsets()[199] + S.FrameLengths()[199];
        Crafted("false sync after the split", S, {FalseAt + 50, FalseAt + 100, FalseAt + 101});
    }
    {
        TStreamBuilder S;
        S.Frames(300).Frames(300, Mpeg2);
        Crafted("rate varies in the second half only", S,
                {S.FrameOffsets()[100], S.FrameOffsets()[300], S.FrameOffsets()[300] + 1});
    }
    {
        // Frames of another length, twice: the first change is the one.
        const TFrameSpec Rate48{.SampleRate = 48000};
        TStreamBuilder S;
        S.Frames(300).Frames(100, Rate48).Frames(100).Frames(100, Rate48);
        Crafted("frames change length", S,
                {S.FrameOffsets()[300], S.FrameOffsets()[301], S.FrameOffsets()[450],
                 S.FrameOffsets()[500], S.FrameOffsets()[550]});
    }
    {
        TStreamBuilder S;
        S.Frames(300, Mpeg2).Frames(1).Frames(299, Mpeg2).ID3v1();
        Crafted("one frame of another rate", S, {S.FrameOffsets()[300], S.FrameOffsets()[301]});
    }
    {
        TStreamBuilder S;
        S.Frames(200).Junk(30000, 0x20).ID3v1();
        Crafted("no frames in the second half", S, {S.FrameOffsets()[199] + 500});
    }
    {
        TStreamBuilder S;
        S.Junk(30000).Frames(100);
        Crafted("the first frame past the split", S, {1000, 29999});
    }
    {
        TStreamBuilder S;
        S.Frames(300).TruncatedFrame(100);
        const int64_t Cut = S.FrameOffsets()[299] + S.FrameLengths()[299];
        Crafted("ends inside a frame", S, {Cut - 1, Cut, Cut + 50});
    }

    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        const std::string Expected = Sequential(Case.File);
        const int64_t Size = FileSizeOf(Case.File);
        std::vector<int64_t> Points = Case.SecondFrom;
        Points.insert(Points.end(), {0, 1, Size / 3, Size / 2, Size - 1, Size, Size + 4096});
        for (int64_t At : Points) {
            SCOPED_TRACE(At);
            EXPECT_EQ(InHalves(Case.File, At), Expected);
        }
    }
}

TEST(StreamScan, TwoHalvesAtOnceOverTheCorpus) {
    const std::string Root = CorpusRoot();
    if (Root.empty())
        GTEST_SKIP() << "no corpus";
    int Walked = 0;
    for (const TManifestRow& Row : ReadManifest(Root)) {
        const std::string Name = Root + "/" + Row.Path;
        SCOPED_TRACE(Name);
        auto Scan = [&](int64_t SecondFrom) {
            try {
                return SecondFrom < 0 ? Sequential(Name) : InHalves(Name, SecondFrom);
            } catch (const Exception& E) {
                return E.Message();
            }
        };
        EXPECT_EQ(Scan(FileSizeOf(Name) / 2), Scan(-1));
        ++Walked;
    }
    EXPECT_GT(Walked, 100);
}

TEST(StreamScan, AStopAskedWhileTheSecondHalfSearchesEndsTheWalk) {
    // The calling thread has taken over the second walk and waits for it,
    // which searches a long stretch without frames: the check is asked
    // there, once per stretch searched, on the calling thread.
    TTempDir Dir;
    TStreamBuilder S;
    S.Frames(2000).Junk(6 * TMP3Reader::SearchCheckBytes + 100).Frames(10);
    S.WriteTo(Dir.File("long.mp3"));
    TMP3Reader Reader;
    Reader.Open(Dir.File("long.mp3"));
    const std::thread::id Caller = std::this_thread::get_id();
    int Asked = 0;
    bool Elsewhere = false;
    Reader.SetSearchCheck([&] {
        Elsewhere = Elsewhere || std::this_thread::get_id() != Caller;
        return ++Asked == 2;
    });
    const TStreamScan Scan = ScanStreamInHalves(Reader, S.FrameOffsets()[1000]);
    EXPECT_FALSE(Elsewhere);
    EXPECT_EQ(Asked, 2);
    EXPECT_LT(Scan.AudioFrames, 2010);
}

TEST(StreamScan, TheSecondHalfsReadFailureReachesTheCaller) {
    // The file shrinks after it was opened: the second walk meets the end,
    // the calling thread has handed over to it before that point.
    TTempDir Dir;
    TStreamBuilder S;
    S.Frames(6000);
    const std::string Name = Dir.File("shrinks.mp3");
    auto Scan = [&](bool Halves) {
        S.WriteTo(Name);
        TMP3Reader Reader;
        Reader.Open(Name);
        EXPECT_EQ(truncate(Name.c_str(), S.FrameOffsets()[5000] + 10), 0);
        return ThrownMessage([&] {
            Halves ? ScanStreamInHalves(Reader, S.FrameOffsets()[3000]) : ScanStream(Reader);
        });
    };
    const std::string Message = Scan(true);
    EXPECT_EQ(Message, Scan(false));
    EXPECT_NE(Message.find("Unable to read file"), std::string::npos);
}
