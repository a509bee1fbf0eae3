#include "OverviewBuilder.h"

#include "FrameClock.h"
#include "FrameFiles.h"
#include "Processes.h"
#include "Processors.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
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
    int32_t SampleRate, FrameSamples;
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

std::shared_ptr<const TLoudnessOverview> Decode(const std::string& FileName,
                                                int64_t HalvesFrom = OverviewInHalvesMinBytes) {
    std::atomic<bool> Stop{false};
    std::shared_ptr<const TLoudnessOverview> Overview;
    const TOverviewResult Got = DecodeOverview(
        FileName, Stop, [&](auto Ready) { Overview = Ready; }, {}, HalvesFrom);
    return Got == TOverviewResult::Done ? Overview : nullptr;
}

class OverviewBursts : public testing::TestWithParam<TBurstFile> {
protected:
    void SetUp() override {
        if (!FileExists("/usr/bin/mpg123"))
            GTEST_SKIP() << "mpg123 is missing";
        // Where the two bursts start: the first loud samples of each half.
        const std::string Audio = Dir.File("audio-only.mp3");
        WriteFileBytes(Audio, OutputAudio(FixturePath(GetParam().Name)));
        const std::string Raw =
            RunProcess("/usr/bin/mpg123", {"-q", "--no-gapless", "-m", "-s", Audio}).Stdout;
        std::vector<int16_t> Samples(Raw.size() / 2);
        std::memcpy(Samples.data(), Raw.data(), Samples.size() * 2);
        for (size_t I = 0; I < Samples.size(); ++I)
            if (std::abs(Samples[I]) > Loud && Bursts[I * 2 / Samples.size()] < 0)
                Bursts[I * 2 / Samples.size()] =
                    SamplesToTicks(static_cast<int64_t>(I), GetParam().SampleRate);
        FrameTicks = SamplesToTicks(GetParam().FrameSamples, GetParam().SampleRate);
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
    int64_t Bursts[2] = {-1, -1};
    int64_t FrameTicks = 0;
};

} // namespace

TEST_P(OverviewBursts, LoudColumnsStandWhereTheFramesHoldTheBursts) {
    // At 0.5 s and 1.5 s of the sound the encoder was given; the frames
    // hold them later by the encoder's and the decoder's delay.
    EXPECT_GE(Bursts[0], TicksPerSecond / 2);
    EXPECT_LE(Bursts[0],
              TicksPerSecond / 2 + SamplesToTicks(1105, GetParam().SampleRate) + FrameTicks);
    EXPECT_NEAR(static_cast<double>(Bursts[1] - Bursts[0]), TicksPerSecond, FrameTicks);

    const auto Overview = Decode(FixturePath(GetParam().Name));
    ASSERT_NE(Overview, nullptr);
    // The deepest zoom: four columns to a frame.
    const int64_t ColumnTicks = FrameTicks / 4;
    const int Count = static_cast<int>(Overview->Duration() / ColumnTicks);
    const auto Columns = Overview->Columns(0, Count * ColumnTicks, Count);
    int64_t Onsets[2] = {-1, -1};
    for (int C = 0; C < Count; ++C) {
        const int64_t At = C * ColumnTicks;
        const TOverviewColumn& Column = Columns[static_cast<size_t>(C)];
        ASSERT_TRUE(Column.Known);
        if (Column.Peak >= LoudLevel && Onsets[At * 2 / Overview->Duration()] < 0)
            Onsets[At * 2 / Overview->Duration()] = At;
        if (!NearBurst(At, At + ColumnTicks)) {
            EXPECT_LT(Column.Peak, QuietLevel) << "at " << TicksToSeconds(At) << " s";
        }
    }
    // Within half a frame, so that a picture off by one frame shows.
    for (int Burst = 0; Burst < 2; ++Burst)
        EXPECT_NEAR(static_cast<double>(Onsets[Burst]), static_cast<double>(Bursts[Burst]),
                    static_cast<double>(FrameTicks) / 2)
            << "burst at " << TicksToSeconds(Bursts[Burst]) << " s shown at "
            << TicksToSeconds(Onsets[Burst]);

    // The whole file in ten columns: a column a burst starts in shows it.
    const auto Ten = Overview->Columns(0, Overview->Duration(), 10);
    for (int C = 0; C < 10; ++C) {
        const int64_t From = Overview->Duration() * C / 10,
                      To = Overview->Duration() * (C + 1) / 10;
        const TOverviewColumn& Column = Ten[static_cast<size_t>(C)];
        EXPECT_TRUE(Column.Known);
        if ((From <= Bursts[0] && Bursts[0] < To) || (From <= Bursts[1] && Bursts[1] < To)) {
            EXPECT_GE(Column.Peak, LoudLevel) << "column " << C;
            // 20 ms of tone spread over the column.
            EXPECT_LT(Column.Rms, Column.Peak / 3) << "column " << C;
        } else if (!NearBurst(From, To)) {
            EXPECT_LT(Column.Peak, QuietLevel) << "column " << C;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OverviewBursts, testing::ValuesIn(BurstFiles));

TEST(OverviewBuilder, CoversEveryAudioFrame) {
    struct TCase {
        const char* Name;
        int64_t Frames; // information frames and a frame cut short left out
        int32_t FrameSamples, SampleRate;
    };
    const TCase Cases[] = {
        {"cbr-128-info.mp3", 116, 1152, 44100},      {"mpeg25-l3.mp3", 44, 576, 8000},
        {"joined-info.mp3", 116 + 78, 1152, 44100},  // a second Info frame inside
        {"layer2-behind-info.mp3", 84, 1152, 48000}, // a Layer III Info frame in front
        {"truncated-last.mp3", 77, 1152, 44100},
    };
    for (const TCase& Case : Cases) {
        const auto Overview = Decode(FixturePath(Case.Name));
        ASSERT_NE(Overview, nullptr) << Case.Name;
        EXPECT_EQ(Overview->Duration(),
                  Case.Frames * SamplesToTicks(Case.FrameSamples, Case.SampleRate));
        // The tones sound in every frame, but for the short frames the
        // delays fill the first: none was left undecoded, at either end or
        // where files were joined, and no information frame was decoded
        // into a silent one.
        const auto Columns =
            Overview->Columns(0, Overview->Duration(), static_cast<int>(Case.Frames));
        for (size_t C = Case.FrameSamples == 576 ? 1 : 0; C < Columns.size(); ++C)
            EXPECT_GT(Columns[C].Peak, 0.1) << Case.Name << " frame " << C;
    }
}

TEST(OverviewBuilder, HalvesDecodeAsOneThreadDoes) {
    if (RunsOnOneProcessor())
        GTEST_SKIP() << "one processor: never in halves";
    for (const char* Name :
         {"burst-44k.mp3", "burst-8k.mp3", "burst-layer2.mp3", "joined-info.mp3", "vbr.mp3"}) {
        const auto Halves = Decode(FixturePath(Name), 0);
        const auto Whole = Decode(FixturePath(Name), INT64_MAX);
        ASSERT_TRUE(Halves && Whole) << Name;
        const auto& Cells = Whole->Level(0);
        ASSERT_EQ(Halves->Level(0).size(), Cells.size());
        for (size_t B = 0; B < Cells.size(); ++B)
            ASSERT_TRUE(Halves->Level(0)[B].Peak == Cells[B].Peak &&
                        Halves->Level(0)[B].Rms == Cells[B].Rms)
                << Name << " block " << B << " of " << Cells.size();
        // The coarser levels over the second half are summed from the
        // blocks as stored: within a step.
        const auto All = [](const auto& Overview) {
            return Overview->Columns(0, Overview->Duration(), 1)[0];
        };
        EXPECT_EQ(All(Halves).Peak, All(Whole).Peak) << Name;
        EXPECT_NEAR(All(Halves).Rms, All(Whole).Rms, All(Whole).Rms * 0.05) << Name;
    }
}

TEST(OverviewBuilder, WhatIsNotAudioGivesNoOverview) {
    TTempDir Dir;
    std::vector<uint8_t> Noise(200 * 1024);
    std::mt19937 Random(19);
    for (auto& Byte : Noise)
        Byte = static_cast<uint8_t>(Random());
    WriteFileBytes(Dir.File("noise.mp3"), Noise);
    for (const std::string& Name :
         {FixturePath("wav-renamed.mp3"), Dir.File("noise.mp3"), Dir.File("missing.mp3")}) {
        TOverviewBuilder Builder(Name, Dir.File("cache"));
        Builder.Start();
        Builder.Wait();
        EXPECT_EQ(Builder.State(), TOverviewBuilder::TState::Failed) << Name;
        EXPECT_EQ(Builder.Overview(), nullptr) << Name;
    }
}

TEST(OverviewBuilder, ReadableWhileItRunsAndStopsPromptly) {
    // Half an hour of a fixture's audio frames over and over.
    TTempDir Dir;
    const TBytes Audio = OutputAudio(FixturePath("burst-44k-t.mp3"));
    TBytes Long;
    for (int I = 0; I < 900; ++I)
        Long.insert(Long.end(), Audio.begin(), Audio.end());
    WriteFileBytes(Dir.File("long.mp3"), Long);
    std::atomic<int> Reports{0};
    TOverviewBuilder Builder(Dir.File("long.mp3"), "", [&](int64_t, int64_t) { ++Reports; });
    Builder.Start();
    while (Reports.load() < 3 && Builder.State() == TOverviewBuilder::TState::Running)
        std::this_thread::sleep_for(1ms);
    const auto Overview = Builder.Overview();
    ASSERT_NE(Overview, nullptr);
    // What is known reads as known, the rest as not yet.
    const int64_t Known = Overview->KnownBlocks();
    ASSERT_GT(Known, 0);
    ASSERT_LT(Known, Overview->BlockCount());
    const auto Columns = Overview->Columns(0, 2 * Known * Overview->BlockTicks(), 2);
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
    for (const int Run : {1, 2}) {
        TOverviewBuilder Builder(Source, Dir.File("cache"), [&](int64_t, int64_t) { ++Reports; });
        Builder.Start();
        Builder.Wait();
        ASSERT_EQ(Builder.State(), TOverviewBuilder::TState::Done);
        ASSERT_NE(Builder.Overview(), nullptr);
        EXPECT_GE(Builder.Overview()->Columns(0, TicksPerSecond, 1)[0].Peak, LoudLevel);
        // Found kept the second time: nothing decoded.
        EXPECT_EQ(Reports > 0, Run == 1);
        Reports = 0;
    }
}
