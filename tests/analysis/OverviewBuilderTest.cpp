#include "OverviewBuilder.h"

#include "FrameClock.h"
#include "FrameFiles.h"
#include "Processes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

// The overview is drawn on the frames' clock: where the cutter cuts a burst
// and the player plays it. That place comes from the mpg123 program
// decoding every audio frame untrimmed, as in the player's clock tests.

namespace {

using namespace std::chrono_literals;

struct TBurstFile {
    const char* Name;
    int32_t SampleRate;
    int32_t FrameSamples;
};

void PrintTo(const TBurstFile& File, std::ostream* Out) {
    *Out << File.Name;
}

constexpr TBurstFile BurstFiles[] = {
    {"burst-44k.mp3", 44100, 1152},    // Info frame with lame's extension
    {"burst-44k-t.mp3", 44100, 1152},  // no information frame
    {"burst-22k.mp3", 22050, 576},     // MPEG-2
    {"burst-8k.mp3", 8000, 576},       // MPEG-2.5
    {"burst-layer2.mp3", 48000, 1152}, // Layer II
    {"burst-xing.mp3", 44100, 1152},   // Xing frame without extension
    {"burst-lavc.mp3", 44100, 1152},   // another encoder's extension
    {"burst-vbri.mp3", 44100, 1152},   // VBRI frame, which decoders play
};

constexpr int16_t Loud = 2000;
constexpr float LoudLevel = Loud / 32768.0f;
// -40 dB: what the encoder spreads around a burst stays below.
constexpr float QuietLevel = 0.01f;

const char* const Mpg123 = "/usr/bin/mpg123";

// Where the two bursts start on the frames' clock, in samples.
std::pair<int64_t, int64_t> BurstSamples(const std::string& FileName, const TTempDir& Dir) {
    const std::string Audio = Dir.File("audio-only.mp3");
    WriteFileBytes(Audio, OutputAudio(FileName));
    const std::string Raw = RunProcess(Mpg123, {"-q", "--no-gapless", "-m", "-s", Audio}).Stdout;
    std::vector<int16_t> Samples(Raw.size() / 2);
    std::memcpy(Samples.data(), Raw.data(), Samples.size() * 2);
    int64_t First = -1, Second = -1;
    for (size_t I = 0; I < Samples.size(); ++I)
        if (std::abs(Samples[I]) > Loud) {
            if (First < 0)
                First = static_cast<int64_t>(I);
            else if (static_cast<int64_t>(I) > First + static_cast<int64_t>(Samples.size()) / 4) {
                Second = static_cast<int64_t>(I);
                break;
            }
        }
    return {First, Second};
}

std::shared_ptr<const TLoudnessOverview> Decode(const std::string& FileName,
                                                TOverviewResult* Result = nullptr) {
    std::atomic<bool> Stop{false};
    std::shared_ptr<const TLoudnessOverview> Overview;
    const TOverviewResult Got =
        DecodeOverview(FileName, Stop, [&](auto Ready) { Overview = std::move(Ready); });
    if (Result != nullptr)
        *Result = Got;
    return Got == TOverviewResult::Done ? Overview : nullptr;
}

class OverviewBursts : public testing::TestWithParam<TBurstFile> {
protected:
    void SetUp() override {
        if (!FileExists(Mpg123))
            GTEST_SKIP() << "mpg123 is missing";
        const TBurstFile& File = GetParam();
        Source = FixturePath(File.Name);
        const auto [First, Second] = BurstSamples(Source, Dir);
        ASSERT_GT(First, 0);
        ASSERT_GT(Second, First);
        Bursts[0] = SamplesToTicks(First, File.SampleRate);
        Bursts[1] = SamplesToTicks(Second, File.SampleRate);
        FrameTicks = SamplesToTicks(File.FrameSamples, File.SampleRate);
    }
    // Whether [From, To) reaches what a burst may make loud: from a frame
    // before it to a frame behind its 20 ms.
    bool NearBurst(int64_t From, int64_t To) const {
        for (const int64_t Burst : Bursts)
            if (To > Burst - FrameTicks && From < Burst + TicksPerSecond / 50 + FrameTicks)
                return true;
        return false;
    }
    TTempDir Dir;
    std::string Source;
    int64_t Bursts[2] = {-1, -1};
    int64_t FrameTicks = 0;
};

} // namespace

TEST_P(OverviewBursts, LoudColumnsStandWhereTheFramesHoldTheBursts) {
    // The bursts lie at 0.5 s and 1.5 s of the sound the encoder was given;
    // the frames hold them later by the encoder's and the decoder's delay.
    EXPECT_GE(Bursts[0], TicksPerSecond / 2);
    EXPECT_LE(Bursts[0],
              TicksPerSecond / 2 + SamplesToTicks(1105, GetParam().SampleRate) + FrameTicks);
    EXPECT_NEAR(static_cast<double>(Bursts[1] - Bursts[0]), TicksPerSecond, FrameTicks);

    const auto Overview = Decode(Source);
    ASSERT_NE(Overview, nullptr);
    EXPECT_TRUE(Overview->Complete());
    // The deepest zoom: four columns to a frame.
    const int64_t ColumnTicks = FrameTicks / 4;
    const int Count = static_cast<int>(Overview->Duration() / ColumnTicks);
    const auto Columns = Overview->Columns(0, Count * ColumnTicks, Count);
    int64_t Onsets[2] = {-1, -1};
    for (int C = 0; C < Count; ++C) {
        const TOverviewColumn& Column = Columns[static_cast<size_t>(C)];
        ASSERT_TRUE(Column.Known) << C;
        const int64_t At = C * ColumnTicks;
        const int Burst = At < (Bursts[0] + Bursts[1]) / 2 ? 0 : 1;
        if (Column.Peak >= LoudLevel && Onsets[Burst] < 0)
            Onsets[Burst] = At;
        if (!NearBurst(At, At + ColumnTicks)) {
            EXPECT_LT(Column.Peak, QuietLevel)
                << "column " << C << " at " << TicksToSeconds(At) << " s";
        }
    }
    // Within half a frame, so that a picture off by one frame shows.
    for (int Burst = 0; Burst < 2; ++Burst)
        EXPECT_NEAR(static_cast<double>(Onsets[Burst]), static_cast<double>(Bursts[Burst]),
                    static_cast<double>(FrameTicks) / 2)
            << "burst " << Burst << " at " << TicksToSeconds(Bursts[Burst]) << " s, shown at "
            << TicksToSeconds(Onsets[Burst]) << " s";
}

TEST_P(OverviewBursts, WholeFileColumnsShowBothBursts) {
    const auto Overview = Decode(Source);
    ASSERT_NE(Overview, nullptr);
    const int Count = 10;
    const auto Columns = Overview->Columns(0, Overview->Duration(), Count);
    ASSERT_EQ(Columns.size(), static_cast<size_t>(Count));
    int Loud = 0;
    for (int C = 0; C < Count; ++C) {
        const TOverviewColumn& Column = Columns[static_cast<size_t>(C)];
        const int64_t From = Overview->Duration() * C / Count;
        const int64_t To = Overview->Duration() * (C + 1) / Count;
        EXPECT_TRUE(Column.Known);
        // The column a burst starts in shows it; one far from both is quiet.
        if ((From <= Bursts[0] && Bursts[0] < To) || (From <= Bursts[1] && Bursts[1] < To)) {
            EXPECT_GE(Column.Peak, LoudLevel) << "column " << C;
        } else if (!NearBurst(From, To)) {
            EXPECT_LT(Column.Peak, QuietLevel) << "column " << C;
        }
        // The RMS of a column spreads 20 ms of tone over all of it.
        if (Column.Peak >= LoudLevel) {
            ++Loud;
            EXPECT_LT(Column.Rms, Column.Peak / 3) << "column " << C;
        }
    }
    EXPECT_GE(Loud, 2);
    EXPECT_LE(Loud, 4);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OverviewBursts, testing::ValuesIn(BurstFiles));

TEST(OverviewBuilder, CoversEveryAudioFrame) {
    struct TCase {
        const char* Name;
        int64_t Frames; // audio frames: information frames and a frame cut short left out
        int32_t FrameSamples, SampleRate;
    };
    const TCase Cases[] = {
        {"cbr-128-info.mp3", 116, 1152, 44100},
        {"mpeg2-l3.mp3", 117, 576, 22050},
        {"mpeg25-l3.mp3", 44, 576, 8000},
        {"layer2.mp3", 84, 1152, 48000},
        {"joined-info.mp3", 116 + 78, 1152, 44100},  // a second Info frame inside
        {"layer2-behind-info.mp3", 84, 1152, 48000}, // a Layer III Info frame in front
        {"truncated-last.mp3", 77, 1152, 44100},
        {"tag-apev2-cover.mp3", 116, 1152, 44100},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        const auto Overview = Decode(FixturePath(Case.Name));
        ASSERT_NE(Overview, nullptr);
        const int64_t FrameTicks = SamplesToTicks(Case.FrameSamples, Case.SampleRate);
        EXPECT_EQ(Overview->Duration(), Case.Frames * FrameTicks);
        const int32_t BlockSamples = Case.SampleRate >= 32000 ? 288 : 144;
        EXPECT_EQ(Overview->BlockTicks(), SamplesToTicks(BlockSamples, Case.SampleRate));
        EXPECT_EQ(Overview->BlockCount(), Case.Frames * Case.FrameSamples / BlockSamples);
        // The tones sound in every frame but the first (mostly the delays):
        // nothing was left undecoded, at the end or where files were
        // joined, and no information frame was decoded into a silent one.
        const auto Columns =
            Overview->Columns(0, Overview->Duration(), static_cast<int>(Case.Frames));
        for (size_t C = 1; C < Columns.size(); ++C)
            EXPECT_GT(Columns[C].Peak, 0.1) << "frame " << C;
    }
}

TEST(OverviewBuilder, WhatIsNotAudioGivesNoOverview) {
    TTempDir Dir;
    std::vector<uint8_t> Noise(200 * 1024);
    std::mt19937 Random(19);
    for (auto& Byte : Noise)
        Byte = static_cast<uint8_t>(Random());
    WriteFileBytes(Dir.File("noise.mp3"), Noise);
    WriteFileBytes(Dir.File("empty.mp3"), {});
    for (const std::string& Name : {FixturePath("wav-renamed.mp3"), Dir.File("noise.mp3"),
                                    Dir.File("empty.mp3"), Dir.File("missing.mp3"), Dir.Path()}) {
        TOverviewResult Result = TOverviewResult::Done;
        EXPECT_EQ(Decode(Name, &Result), nullptr) << Name;
        EXPECT_EQ(Result, TOverviewResult::Failed) << Name;
        TOverviewBuilder Builder(Name, Dir.File("cache"));
        Builder.Start();
        Builder.Wait();
        EXPECT_EQ(Builder.State(), TOverviewBuilder::TState::Failed) << Name;
        EXPECT_EQ(Builder.Overview(), nullptr) << Name;
    }
}

namespace {

// The audio frames of a fixture over and over: Minutes long, the first
// burst of each copy 2 s behind the one before.
std::string LongFile(const TTempDir& Dir, int Minutes) {
    const TBytes Audio = OutputAudio(FixturePath("burst-44k-t.mp3"));
    const auto Copies = static_cast<size_t>(Minutes * 60 * 44100 / (78 * 1152) + 1);
    TBytes Long;
    Long.reserve(Audio.size() * Copies);
    for (size_t I = 0; I < Copies; ++I)
        Long.insert(Long.end(), Audio.begin(), Audio.end());
    const std::string Name = Dir.File("long.mp3");
    WriteFileBytes(Name, Long);
    return Name;
}

} // namespace

TEST(OverviewBuilder, ReadableWhileItRunsAndStopsPromptly) {
    TTempDir Dir;
    const std::string Long = LongFile(Dir, 30);
    std::atomic<int> Reports{0};
    TOverviewBuilder Builder(Long, "", [&](int64_t Done, int64_t Total) {
        EXPECT_LE(Done, Total);
        ++Reports;
    });
    Builder.Start();
    while (Reports.load() < 3 && Builder.State() == TOverviewBuilder::TState::Running)
        std::this_thread::sleep_for(1ms);
    const auto Overview = Builder.Overview();
    ASSERT_NE(Overview, nullptr);
    // What is known reads as known, the rest as not yet.
    const int64_t Known = Overview->KnownBlocks();
    ASSERT_GT(Known, 0);
    ASSERT_LT(Known, Overview->BlockCount());
    const int64_t Edge = Known * Overview->BlockTicks();
    const auto Columns = Overview->Columns(0, 2 * Edge, 2);
    EXPECT_TRUE(Columns[0].Known);
    EXPECT_FALSE(Columns[1].Known);

    const auto Asked = std::chrono::steady_clock::now();
    Builder.Stop();
    Builder.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - Asked, 500ms);
    EXPECT_EQ(Builder.State(), TOverviewBuilder::TState::Stopped);
    EXPECT_FALSE(Overview->Complete());
}

TEST(OverviewBuilder, KeepsTheOverviewAndFindsItAgain) {
    TTempDir Dir;
    const std::string Source = Dir.File("bursts.mp3");
    WriteFileBytes(Source, ReadFileBytes(FixturePath("burst-44k.mp3")));
    int Reports = 0;
    TOverviewBuilder First(Source, Dir.File("cache"), [&](int64_t, int64_t) { ++Reports; });
    First.Start();
    First.Wait();
    ASSERT_EQ(First.State(), TOverviewBuilder::TState::Done);
    ASSERT_GT(Reports, 0);

    // Found kept: nothing is decoded.
    Reports = 0;
    TOverviewBuilder Second(Source, Dir.File("cache"), [&](int64_t, int64_t) { ++Reports; });
    Second.Start();
    Second.Wait();
    ASSERT_EQ(Second.State(), TOverviewBuilder::TState::Done);
    EXPECT_EQ(Reports, 0);
    ASSERT_NE(Second.Overview(), nullptr);
    EXPECT_EQ(Second.Overview()->Level(0).size(), First.Overview()->Level(0).size());
    EXPECT_EQ(std::memcmp(Second.Overview()->Level(0).data(), First.Overview()->Level(0).data(),
                          First.Overview()->Level(0).size() * sizeof(TOverviewCell)),
              0);
}
