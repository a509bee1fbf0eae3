#include "LoudnessOverview.h"

#include "FrameClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>

namespace {

// Half a step, in amplitude.
constexpr double HalfStep = 1.0217; // 10^(0.1875 / 20), rounded up

struct TStepCase {
    double Amplitude;
    double Expected; // what it reads back as
};

constexpr TStepCase StepCases[] = {
    {1.0, 1.0},
    {0.5, 0.5},
    {0.1, 0.1},
    {0.001, 0.001},
    {2e-5, 2e-5},
    {2.0, 1.0}, // beyond full scale: full scale
    {0, 0},
    {-0.5, 0}, // nothing, and what is no amplitude
    {1e-6, 0}, // below the last step
    {std::numeric_limits<double>::quiet_NaN(), 0},
};

// An overview of Blocks blocks of ten ticks each.
TLoudnessOverview Blocks(int64_t Count) {
    return TLoudnessOverview(10, Count * 10);
}

// What a column over blocks From to To - 1 holds, read from level 0 alone.
TOverviewColumn BruteForce(const TLoudnessOverview& Overview, int64_t From, int64_t To) {
    const auto& Cells = Overview.Level(0);
    uint8_t Peak = 0;
    double Squares = 0;
    for (int64_t I = From; I < To; ++I) {
        Peak = std::max(Peak, Cells[static_cast<size_t>(I)].Peak);
        const double Rms = TLoudnessOverview::FromStep(Cells[static_cast<size_t>(I)].Rms);
        Squares += Rms * Rms;
    }
    return {TLoudnessOverview::FromStep(Peak),
            static_cast<float>(std::sqrt(Squares / static_cast<double>(To - From))), true};
}

} // namespace

TEST(LoudnessOverview, LevelsReadBackWithinHalfAStep) {
    for (const TStepCase& Case : StepCases) {
        const float Read = TLoudnessOverview::FromStep(TLoudnessOverview::ToStep(Case.Amplitude));
        if (Case.Expected == 0) {
            EXPECT_EQ(Read, 0) << Case.Amplitude;
        } else {
            EXPECT_LE(Read, Case.Expected * HalfStep) << Case.Amplitude;
            EXPECT_GE(Read, Case.Expected / HalfStep) << Case.Amplitude;
        }
    }
    // Louder never reads quieter.
    for (int Step = 1; Step < 256; ++Step)
        EXPECT_GT(TLoudnessOverview::FromStep(static_cast<uint8_t>(Step)),
                  TLoudnessOverview::FromStep(static_cast<uint8_t>(Step - 1)));
}

TEST(LoudnessOverview, ColumnsCombinePeaksAndSquares) {
    TLoudnessOverview Overview = Blocks(100);
    for (int B = 0; B < 100; ++B)
        Overview.AddBlock(B == 37 ? 0.5f : 0, B == 37 ? 0.1 : 0);
    Overview.Finish();
    const double Loud = std::sqrt(0.1);
    struct TCase {
        int64_t Start, End;
        int Count;
        int LoudColumn; // -1: every column shows block 37
        double Rms;     // of the loud column
    };
    const TCase Cases[] = {
        {0, 1000, 1, 0, Loud / 10}, // the whole file: 1 block of 100
        {0, 1000, 10, 3, Loud / std::sqrt(10)},
        {365, 375, 1, 0, Loud / std::sqrt(2)}, // overlaps blocks 36 and 37
        {370, 380, 4, -1, Loud},               // narrower than a block
        {-500, 500, 2, 1, Loud / std::sqrt(50)},
    };
    for (const TCase& Case : Cases) {
        const auto Columns = Overview.Columns(Case.Start, Case.End, Case.Count);
        ASSERT_EQ(Columns.size(), static_cast<size_t>(Case.Count));
        for (int C = 0; C < Case.Count; ++C) {
            const TOverviewColumn& Column = Columns[static_cast<size_t>(C)];
            const bool IsLoud = Case.LoudColumn < 0 || C == Case.LoudColumn;
            SCOPED_TRACE(testing::Message() << Case.Start << ".." << Case.End << " column " << C);
            if (Case.Start + (Case.End - Case.Start) * (C + 1) / Case.Count <= 0) {
                EXPECT_FALSE(Column.Known); // before the audio
                continue;
            }
            EXPECT_TRUE(Column.Known);
            EXPECT_NEAR(Column.Peak, IsLoud ? 0.5 : 0, 0.5 * (HalfStep - 1));
            EXPECT_NEAR(Column.Rms, IsLoud ? Case.Rms : 0, Case.Rms * (HalfStep - 1));
        }
    }
    // Behind the audio: nothing known.
    EXPECT_FALSE(Overview.Columns(1000, 2000, 1)[0].Known);
    EXPECT_TRUE(Overview.Columns(1, 0, 3).size() == 3 && !Overview.Columns(1, 0, 3)[0].Known);
    EXPECT_TRUE(Overview.Columns(0, 1000, 0).empty());
}

TEST(LoudnessOverview, CoarseLevelsAgreeWithTheBlocks) {
    // Not a multiple of the level factor at any level: the last entries
    // cover fewer blocks.
    const int64_t Count = 8 * 8 * 8 * 3 + 77;
    TLoudnessOverview Overview = Blocks(Count);
    std::mt19937 Random(7);
    std::uniform_real_distribution<float> Level(0, 1);
    for (int64_t B = 0; B < Count; ++B) {
        const float Peak = Level(Random) * Level(Random);
        Overview.AddBlock(Peak, Peak * Peak * Level(Random));
    }
    Overview.Finish();
    ASSERT_EQ(Overview.LevelCount(), 5);
    struct TCase {
        int64_t Start, End;
        int Count;
    };
    const TCase Cases[] = {
        {0, Count * 10, 1},       {0, Count * 10, 7}, {0, Count * 10, 1000},
        {1234, 14321, 3},         {5120, 10240, 1},   {Count * 10 - 5000, Count * 10, 2},
        {17, Count * 10 - 3, 13},
    };
    for (const TCase& Case : Cases) {
        const auto Columns = Overview.Columns(Case.Start, Case.End, Case.Count);
        for (int C = 0; C < Case.Count; ++C) {
            const int64_t From = Case.Start + (Case.End - Case.Start) * C / Case.Count;
            const int64_t To = Case.Start + (Case.End - Case.Start) * (C + 1) / Case.Count;
            const TOverviewColumn Expected = BruteForce(Overview, From / 10, (To + 9) / 10);
            const TOverviewColumn& Got = Columns[static_cast<size_t>(C)];
            SCOPED_TRACE(testing::Message() << Case.Start << ".." << Case.End << " column " << C);
            EXPECT_TRUE(Got.Known);
            EXPECT_EQ(Got.Peak, Expected.Peak);
            // Coarse entries round once, from the exact sums.
            EXPECT_NEAR(Got.Rms, Expected.Rms, Expected.Rms * 2 * (HalfStep - 1));
        }
    }
}

TEST(LoudnessOverview, KnownAsFarAsWritten) {
    const int64_t Count = 200;
    TLoudnessOverview Overview = Blocks(Count);
    EXPECT_FALSE(Overview.Columns(0, Count * 10, 1)[0].Known);
    for (int B = 0; B < 130; ++B)
        Overview.AddBlock(0.25f, 0.01);
    EXPECT_EQ(Overview.KnownBlocks(), 130);
    EXPECT_FALSE(Overview.Complete());
    struct TCase {
        int64_t Start, End;
        bool Known;
    };
    const TCase Cases[] = {
        {0, 1300, true},     {0, 1301, false}, {1295, 1300, true},
        {1290, 1310, false}, {0, 640, true},   {0, Count * 10, false},
    };
    for (const TCase& Case : Cases) {
        const TOverviewColumn Column = Overview.Columns(Case.Start, Case.End, 1)[0];
        EXPECT_EQ(Column.Known, Case.Known) << Case.Start << ".." << Case.End;
        if (Column.Known) {
            EXPECT_NEAR(Column.Peak, 0.25, 0.25 * (HalfStep - 1)) << Case.Start << ".." << Case.End;
        }
    }
    // Finished early: the blocks never written are silent.
    Overview.Finish();
    const auto Halves = Overview.Columns(1300, Count * 10, 2);
    EXPECT_TRUE(Halves[0].Known && Halves[1].Known);
    EXPECT_EQ(Halves[1].Peak, 0);
    EXPECT_NEAR(Overview.Columns(0, Count * 10, 1)[0].Rms, std::sqrt(0.01 * 130 / Count),
                0.1 * (HalfStep - 1));
}

TEST(LoudnessOverview, EighteenHoursFitTheBudgetAndDrawQuickly) {
    // The finest blocks of all: 48 kHz.
    const int64_t Duration = 18 * 3600 * TicksPerSecond;
    TLoudnessOverview Overview(SamplesToTicks(TLoudnessOverview::BlockSamples(48000), 48000),
                               Duration);
    EXPECT_EQ(Overview.BlockCount(), int64_t{18} * 3600 * 48000 / 288);
    EXPECT_LE(Overview.MemoryBytes(), 32u * 1024 * 1024);
    Overview.AddBlock(1, 1);
    Overview.Finish();
    const auto Began = std::chrono::steady_clock::now();
    const auto Columns = Overview.Columns(0, Duration, 2000);
    const auto Took = std::chrono::steady_clock::now() - Began;
    EXPECT_GT(Columns[0].Peak, 0.99f);
    EXPECT_EQ(Columns[1999].Peak, 0);
    // Reading every block for every column would take seconds.
    EXPECT_LT(Took, std::chrono::milliseconds(200));
}

TEST(LoudnessOverview, RestoreTakesOnlyLevelsThatFit) {
    TLoudnessOverview Overview = Blocks(100);
    Overview.AddBlock(0.5f, 0.1);
    Overview.Finish();
    std::vector<std::vector<TOverviewCell>> Levels;
    for (int L = 0; L < Overview.LevelCount(); ++L)
        Levels.push_back(Overview.Level(L));
    const auto Restored = TLoudnessOverview::Restore(10, 1000, Levels);
    ASSERT_NE(Restored, nullptr);
    EXPECT_TRUE(Restored->Complete());
    EXPECT_EQ(Restored->Columns(0, 1000, 1)[0].Peak, Overview.Columns(0, 1000, 1)[0].Peak);

    auto Short = Levels;
    Short[1].pop_back();
    auto Fewer = Levels;
    Fewer.pop_back();
    struct TCase {
        int64_t BlockTicks, Duration;
        const std::vector<std::vector<TOverviewCell>>* Levels;
    };
    const TCase Refused[] = {
        {10, 1010, &Levels}, {20, 1000, &Levels}, {0, 1000, &Levels},
        {10, -1, &Levels},   {10, 1000, &Short},  {10, 1000, &Fewer},
    };
    for (const TCase& Case : Refused)
        EXPECT_EQ(TLoudnessOverview::Restore(Case.BlockTicks, Case.Duration, *Case.Levels), nullptr)
            << Case.BlockTicks << " " << Case.Duration;
}
