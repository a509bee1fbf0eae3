#include "Segmora.h"

#include "Decoded.h"
#include "FrameClock.h"
#include "FrameFiles.h"
#include "InfoFrame.h"
#include "JobTestSupport.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

// Cutting to the sample, judged by what a gapless decoder (libmpg123) plays:
// an output decoded is the source decoded untrimmed over the marks' samples,
// and a split's parts decoded one after the other are the source as played.

namespace {

struct TSource {
    std::string Name;
    TDecoded Untrimmed;
    int64_t FrameSamples = 0;
    // What a player plays of it: the encoder's delay and padding dropped
    // when it has an extension.
    int64_t PlayedStart = 0;
    int64_t PlayedEnd = 0;
};

TSource Load(const std::string& Name) {
    TSource Source{Name, DecodeFile(FixturePath(Name), false)};
    const auto Frames = ReaderFrames(FixturePath(Name));
    TMP3FrameInfo Header{};
    DecodeFrameHeader(FrameHeaderAt(Frames.back().data()), Header);
    Source.FrameSamples = SamplesPerFrame(Header.Version, Header.Layer);
    Source.PlayedEnd = Source.Untrimmed.Frames();
    TInfoFrame Info;
    if (ParseInfoFrame(Frames[0].data(), Frames[0].size(), Info) && Info.HasExtension) {
        Source.PlayedStart = Info.Delay + 529;
        Source.PlayedEnd -= std::max(0, Info.Padding - 529);
    }
    return Source;
}

// The largest difference between Decoded and the source's samples from
// First on; -1 when their counts differ from Count.
int MaxDifference(const TDecoded& Decoded, const TSource& Source, int64_t First, int64_t Count) {
    if (Decoded.Frames() != Count || Decoded.Channels != Source.Untrimmed.Channels)
        return -1;
    int Worst = 0;
    const auto From = static_cast<size_t>(First * Decoded.Channels);
    for (size_t I = 0; I < Decoded.Samples.size(); ++I)
        Worst = std::max(Worst, std::abs(Decoded.Samples[I] - Source.Untrimmed.Samples[From + I]));
    return Worst;
}

const char* const ExactFixtures[] = {"burst-44k.mp3",   "burst-22k.mp3",  "burst-8k.mp3",
                                     "burst-44k-t.mp3", "burst-xing.mp3", "burst-lavc.mp3",
                                     "vbr.mp3",         "mpeg2-l3.mp3",   "reservoir-32k.mp3"};

class ExactCut : public testing::Test {
protected:
    void SetUp() override {
        Segmora.SetFrontEnd(&FrontEnd);
        Segmora.SetExact(true);
        Segmora.SetNoTags(true);
    }
    TSegmora Segmora;
    TRecordingFrontEnd FrontEnd;
    TTempDir Dir;
};

} // namespace

// Marks at a frame boundary, one sample after one, in the first and the
// last frame, a selection shorter than a frame, and the whole file; each in
// whole milliseconds from the first sample played, standing for the sample
// nearest to it. Opened again, the output's clock runs from its start mark
// to its end mark.
TEST_F(ExactCut, EachOutputPlaysTheSamplesBetweenItsMarks) {
    for (const char* Name : ExactFixtures) {
        const TSource Source = Load(Name);
        const int32_t Rate = Source.Untrimmed.Rate;
        const int64_t Frame = Source.FrameSamples;
        // The sample of the untrimmed decoding that a mark stands for.
        auto SampleOf = [&](int64_t Ms) { return Source.PlayedStart + (Ms * Rate + 500) / 1000; };
        // A millisecond standing for Sample or, where none does, the next.
        auto MsAt = [&](int64_t Sample) {
            int64_t Ms = std::max<int64_t>(0, (Sample - Source.PlayedStart) * 1000 / Rate);
            while (SampleOf(Ms) < Sample)
                ++Ms;
            return Ms;
        };
        // A boundary some millisecond stands for exactly, and one that a
        // millisecond stands for one sample after.
        int64_t On = 0, After = 0;
        for (int64_t K = 4; K < Source.PlayedEnd / Frame - 4 && (!On || !After); ++K) {
            if (!On && SampleOf(MsAt(K * Frame)) == K * Frame)
                On = MsAt(K * Frame);
            if (!After && SampleOf(MsAt(K * Frame + 1)) == K * Frame + 1)
                After = MsAt(K * Frame + 1);
        }
        const int64_t EndMs = MsAt(Source.PlayedEnd);
        const std::pair<int64_t, int64_t> Marks[] = {
            {On, On + 700},
            {After, After + 333},
            {MsAt(std::max<int64_t>(Source.PlayedStart, 530) + 7), 400},
            {EndMs - 500, EndMs - 3},
            {MsAt(3 * Frame + 100), MsAt(3 * Frame + 100) + 5},
            {0, EndMs},
        };
        for (const auto& [StartMs, EndMarkMs] : Marks) {
            SCOPED_TRACE(std::string(Name) + " " + std::to_string(StartMs) + "-" +
                         std::to_string(EndMarkMs) + " ms");
            if (StartMs == 0 && EndMarkMs == 0)
                continue;
            const int64_t First =
                std::clamp(SampleOf(StartMs), Source.PlayedStart, Source.PlayedEnd);
            const int64_t Behind = std::clamp(SampleOf(EndMarkMs), First, Source.PlayedEnd);
            Segmora.SetSourceFile(FixturePath(Name));
            Segmora.SetDestFile(Dir.File("cut.mp3"));
            Segmora.SetSelStart(StartMs);
            Segmora.SetSelEnd(EndMarkMs);
            ASSERT_TRUE(Segmora.Execute(true));
            const TDecoded Out = DecodeFile(Dir.File("cut.mp3"), true);
            const int Worst = MaxDifference(Out, Source, First, Behind - First);
            EXPECT_GE(Worst, 0) << Out.Frames() << " samples, not " << Behind - First;
            EXPECT_LE(Worst, 1);
            const TClockSpan Clock = PlayedClockSpan(ScanStream(Dir.File("cut.mp3")));
            EXPECT_EQ(Clock.End - Clock.Origin, SamplesToTicks(Behind - First, Rate));
        }
    }
}

TEST_F(ExactCut, APlansPartsPlayedOneAfterTheOtherPlayTheSource) {
    for (const char* Name : ExactFixtures) {
        SCOPED_TRACE(Name);
        const TSource Source = Load(Name);
        // By size, and at marks of a plan.
        for (const bool BySize : {true, false}) {
            std::filesystem::remove_all(Dir.Path());
            std::filesystem::create_directory(Dir.Path());
            Segmora.SetSourceFile(FixturePath(Name));
            Segmora.SetFolder(Dir.Path());
            Segmora.SetPrefix("p");
            Segmora.SetPartCount(3);
            const int64_t Ticks = SamplesToTicks(Source.FrameSamples, Source.Untrimmed.Rate);
            Segmora.SetPlan(BySize ? std::nullopt
                                   : std::optional<TSplitPlan>(
                                         TSplitPlan{{{0, 7 * Ticks, {}, {}},
                                                     {7 * Ticks, 19 * Ticks, {}, {}},
                                                     {19 * Ticks, 100000 * Ticks, {}, {}}}}));
            ASSERT_TRUE(Segmora.Execute(false));
            TDecoded Joined;
            for (int Part = 1; Part <= 3; ++Part) {
                const TDecoded Out =
                    DecodeFile(Dir.File("p" + std::to_string(Part) + ".mp3"), true);
                ASSERT_GT(Out.Frames(), 0) << "part " << Part;
                Joined.Channels = Out.Channels;
                Joined.Samples.insert(Joined.Samples.end(), Out.Samples.begin(), Out.Samples.end());
            }
            const int Worst = MaxDifference(Joined, Source, Source.PlayedStart,
                                            Source.PlayedEnd - Source.PlayedStart);
            EXPECT_GE(Worst, 0) << Joined.Frames() << " samples, not "
                                << Source.PlayedEnd - Source.PlayedStart;
            EXPECT_LE(Worst, 1);
        }
    }
}
