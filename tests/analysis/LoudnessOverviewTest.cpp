#include "LoudnessOverview.h"

#include "FrameClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>

namespace {

// Half a step, as a factor of amplitude.
constexpr double HalfStep = 1.0217; // 10^(0.1875 / 20), rounded up

// Blocks of ten ticks each.
TLoudnessOverview Blocks(int64_t Count) {
    return TLoudnessOverview(10, Count * 10);
}

} // namespace

TEST(LoudnessOverview, LevelsReadBackWithinHalfAStep) {
    const std::pair<double, double> Cases[] = {
        {1.0, 1.0}, {0.5, 0.5}, {0.001, 0.001}, {2e-5, 2e-5},
        {2.0, 1.0}, // beyond: full scale
        {0, 0},     {-0.5, 0},  {1e-6, 0},      {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& [Amplitude, Expected] : Cases) {
        const float Read = TLoudnessOverview::FromStep(TLoudnessOverview::ToStep(Amplitude));
        EXPECT_LE(Read, Expected * HalfStep) << Amplitude;
        EXPECT_GE(Read, Expected / HalfStep) << Amplitude;
    }
}

TEST(LoudnessOverview, ColumnsCombinePeaksAndSquares) {
    TLoudnessOverview Overview = Blocks(100);
    for (int B = 0; B < 100; ++B)
        Overview.AddBlock(B == 37 ? 0.5f : 0, B == 37 ? 0.1 : 0);
    Overview.Finish();
    struct TCase {
        int64_t Start, End;
        int Count, LoudColumn; // -1: every column
        double Rms;            // of the loud column
    };
    const TCase Cases[] = {
        {0, 1000, 10, 3, std::sqrt(0.1 / 10)},
        {365, 375, 1, 0, std::sqrt(0.1 / 2)}, // overlaps blocks 36 and 37
        {370, 380, 4, -1, std::sqrt(0.1)},    // narrower than a block
    };
    for (const TCase& Case : Cases) {
        const auto Columns = Overview.Columns(Case.Start, Case.End, Case.Count);
        for (int C = 0; C < Case.Count; ++C) {
            const bool Loud = Case.LoudColumn < 0 || C == Case.LoudColumn;
            const TOverviewColumn& Column = Columns[static_cast<size_t>(C)];
            EXPECT_TRUE(Column.Known);
            EXPECT_NEAR(Column.Peak, Loud ? 0.5 : 0, 0.5 * (HalfStep - 1))
                << Case.Start << " " << C;
            EXPECT_NEAR(Column.Rms, Loud ? Case.Rms : 0, Case.Rms * (HalfStep - 1))
                << Case.Start << " " << C;
        }
    }
    // Before and behind the audio: nothing.
    EXPECT_FALSE(Overview.Columns(-10, 0, 1)[0].Known);
    EXPECT_FALSE(Overview.Columns(1000, 2000, 1)[0].Known);
}

TEST(LoudnessOverview, CoarseLevelsAgreeWithTheBlocks) {
    // No multiple of eight at any level: the last entries cover fewer blocks.
    const int64_t Count = 8 * 8 * 8 * 3 + 77;
    TLoudnessOverview Overview = Blocks(Count);
    std::mt19937 Random(7);
    std::uniform_real_distribution<float> Level(0, 1);
    for (int64_t B = 0; B < Count; ++B)
        Overview.AddBlock(Level(Random), Level(Random) / 4);
    Overview.Finish();
    ASSERT_EQ(Overview.LevelCount(), 5);
    const auto& Cells = Overview.Level(0);
    for (const int Columns : {1, 7, 13, 1000}) {
        const auto Got = Overview.Columns(17, Count * 10, Columns);
        for (int C = 0; C < Columns; ++C) {
            // The same column read from the blocks alone.
            const int64_t From = (17 + (Count * 10 - 17) * C / Columns) / 10;
            const int64_t To = (17 + (Count * 10 - 17) * (C + 1) / Columns + 9) / 10;
            uint8_t Peak = 0;
            double Squares = 0;
            for (int64_t I = From; I < To; ++I) {
                Peak = std::max(Peak, Cells[static_cast<size_t>(I)].Peak);
                Squares +=
                    std::pow(TLoudnessOverview::FromStep(Cells[static_cast<size_t>(I)].Rms), 2);
            }
            const double Rms = std::sqrt(Squares / static_cast<double>(To - From));
            EXPECT_EQ(Got[static_cast<size_t>(C)].Peak, TLoudnessOverview::FromStep(Peak))
                << Columns;
            EXPECT_NEAR(Got[static_cast<size_t>(C)].Rms, Rms, Rms * 2 * (HalfStep - 1)) << Columns;
        }
    }
}

TEST(LoudnessOverview, KnownAsFarAsWritten) {
    TLoudnessOverview Overview = Blocks(200);
    for (int B = 0; B < 130; ++B)
        Overview.AddBlock(0.25f, 0.01);
    EXPECT_FALSE(Overview.Complete());
    // Whole entries of the coarser levels, and the blocks behind them.
    EXPECT_TRUE(Overview.Columns(0, 1300, 1)[0].Known);
    EXPECT_FALSE(Overview.Columns(0, 1301, 1)[0].Known);
    EXPECT_FALSE(Overview.Columns(1290, 1310, 1)[0].Known);
    // Finished early: the blocks never written are silent.
    Overview.Finish();
    EXPECT_EQ(Overview.Columns(1300, 2000, 1)[0].Peak, 0);
    EXPECT_NEAR(Overview.Columns(0, 2000, 1)[0].Rms, std::sqrt(0.01 * 130 / 200),
                0.1 * (HalfStep - 1));
}

TEST(LoudnessOverview, EighteenHoursFitTheBudgetAndDrawQuickly) {
    const int64_t Duration = 18 * 3600 * TicksPerSecond;
    // The finest blocks of all: 48 kHz.
    TLoudnessOverview Overview(SamplesToTicks(TLoudnessOverview::BlockSamples(48000), 48000),
                               Duration);
    EXPECT_LE(Overview.MemoryBytes(), 32u * 1024 * 1024);
    Overview.AddBlock(1, 1);
    Overview.Finish();
    const auto Began = std::chrono::steady_clock::now();
    const auto Columns = Overview.Columns(0, Duration, 2000);
    // Reading every block for every column would take seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - Began, std::chrono::milliseconds(200));
    EXPECT_GT(Columns[0].Peak, 0.99f);
    EXPECT_EQ(Columns[1999].Peak, 0);
}
