#include "SplitPlan.h"

#include "LoudnessOverview.h"
#include "OverviewBuilder.h"
#include "StreamScan.h"
#include "TestFiles.h"
#include "ThrownMessage.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

constexpr int64_t Frame = 368'640; // MPEG-1 Layer III
constexpr int64_t Second = TicksPerSecond;
using TParts = std::vector<TPlannedPart>;

TFrameGrid GridOf(const std::string& Fixture) {
    const TStreamScan Scan = ScanStream(FixturePath(Fixture));
    return {Scan.Ticks / Scan.AudioFrames, Scan.AudioFrames};
}

// The cuts between parts, checking that they follow each other on
// boundaries, without gaps, each holding a frame, from 0 to the end.
std::vector<int64_t> Cuts(const TFrameGrid& Grid, const TSplitPlan& Plan) {
    std::vector<int64_t> Result;
    int64_t Previous = 0;
    for (const TPlannedPart& Part : Plan.Parts) {
        EXPECT_EQ(Part.Start, Previous);
        EXPECT_EQ(Part.End % Grid.FrameTicks, 0);
        EXPECT_GT(Part.End, Part.Start);
        if (Part.Start > 0)
            Result.push_back(Part.Start);
        Previous = Part.End;
    }
    EXPECT_EQ(Previous, Grid.TotalTicks());
    return Result;
}

// Loud but in the stretches Quiet, in blocks of a quarter frame. Quiet
// blocks still peak high, as with a click: only their RMS tells the quiet.
std::unique_ptr<TLoudnessOverview> Overview(const TFrameGrid& Grid,
                                            const std::vector<std::pair<int64_t, int64_t>>& Quiet) {
    auto Result = std::make_unique<TLoudnessOverview>(Frame / 4, Grid.TotalTicks());
    for (int64_t At = 0; At < Grid.TotalTicks(); At += Frame / 4) {
        bool Silent = false;
        for (const auto& [From, To] : Quiet)
            Silent = Silent || (At >= From && At < To);
        Result->AddBlock(0.5f, Silent ? 5e-9 : 0.125);
    }
    Result->Finish();
    return Result;
}

TEST(FrameGrid, NearestIsABoundaryInsideTheAudio) {
    const TFrameGrid Grid{100, 10};
    for (const auto& [Ticks, Expected] : {std::pair<int64_t, int64_t>{-500, 0},
                                          {49, 0},
                                          {50, 100},
                                          {449, 400},
                                          {950, 1000},
                                          {5000, 1000}})
        EXPECT_EQ(Grid.Nearest(Ticks), Expected) << Ticks;
}

// Cutting to the sample, the times asked for count from the first sample
// played: a cut goes to the boundary nearest to its time past the origin,
// and the start and the end of the sound stand for the frames' own, so that
// neither the delay's frame nor the padding's is left out or made a part.
TEST(FrameGrid, TimesAskedForCountFromTheOrigin) {
    TFrameGrid Grid{100, 10};
    Grid.Origin = 40;
    Grid.Tail = 70; // the clock runs 0..890
    for (const auto& [Time, Expected] : {std::pair<int64_t, int64_t>{-5, 0},
                                         {9, 0},
                                         {10, 100},
                                         {545, 600},
                                         {889, 900},
                                         {890, 1000}})
        EXPECT_EQ(Grid.At(Time), Expected) << Time;
    EXPECT_EQ(Cuts(Grid, PlanAtMarks(Grid, {240, 545})), (std::vector<int64_t>{300, 600}));
    EXPECT_EQ(Cuts(Grid, PlanEvery(Grid, 300)), (std::vector<int64_t>{300, 600}));
}

TEST(PlanEqualTime, CutsNearestToEqualShares) {
    for (const auto& [Grid, Parts] : {std::pair{GridOf("cbr-128-info.mp3"), 7},
                                      {GridOf("vbr.mp3"), 116},
                                      {TFrameGrid{Frame, 10}, 3}}) {
        const std::vector<int64_t> At = Cuts(Grid, PlanEqualTime(Grid, Parts));
        ASSERT_EQ(At.size() + 1, static_cast<size_t>(Parts));
        for (size_t K = 0; K < At.size(); ++K)
            EXPECT_EQ(At[K], Grid.Nearest(static_cast<int64_t>(K + 1) * Grid.TotalTicks() / Parts));
    }
    EXPECT_NE(ThrownMessage([] {
                  PlanEqualTime({Frame, 2}, 3);
              }).find("only 2 audio frames"),
              std::string::npos);
}

TEST(PlanEvery, CutsAtMultiplesMovedIntoTheQuietWithinReach) {
    const TFrameGrid Grid{Frame, 400}; // 10.4 s
    const int64_t Nominal = Grid.Nearest(4 * Second);
    struct TCase {
        int64_t Search, QuietFrom, QuietTo, CutFrom, CutTo; // where the first cut lies
    };
    for (const TCase& Case :
         {TCase{Second, 9 * Second / 2, 5 * Second, 9 * Second / 2 + Frame, 5 * Second - Frame},
          TCase{Second, 16 * Second / 5, 7 * Second / 2, 16 * Second / 5 + Frame,
                7 * Second / 2 - Frame},
          TCase{Second / 4, 9 * Second / 2, 5 * Second, Nominal, Nominal}, // out of reach
          TCase{Second, 0, 0, Nominal, Nominal}, // a steady sound ties everywhere
          TCase{0, 0, 0, Nominal, Nominal}}) {   // no search
        const auto Loudness = Overview(Grid, {{Case.QuietFrom, Case.QuietTo}});
        const std::vector<int64_t> At =
            Cuts(Grid, PlanEvery(Grid, 4 * Second, Loudness.get(), Case.Search));
        ASSERT_EQ(At.size(), 2u) << Case.QuietFrom;
        EXPECT_GE(At[0], Case.CutFrom);
        EXPECT_LE(At[0], Case.CutTo);
        EXPECT_EQ(At[1], Grid.Nearest(8 * Second));
    }
    // A search reaching over several parts: cuts never cross nor meet.
    const auto Loudness = Overview(Grid, {{5 * Second, 11 * Second / 2}});
    EXPECT_GE(Cuts(Grid, PlanEvery(Grid, Second, Loudness.get(), 8 * Second)).size(), 1u);
    // Parts shorter than a frame: one frame each.
    EXPECT_EQ(Cuts(Grid, PlanEvery(Grid, Frame / 3)).size(), 399u);
    EXPECT_NE(ThrownMessage([&] { PlanEvery(Grid, 0); }), "");
}

// tone-gaps.mp3: gaps at 1.0 s (0.3 s, silent), 2.3 s (0.8 s at -60 dB) and
// 4.1 s (0.8 s at -30 dB), 5.9 s in all, later on the frames' clock by the
// encoder's and the decoder's delay.
TEST(PlanAtSilences, CutsInsideTheGapsLongAndQuietEnough) {
    std::atomic<bool> Stop{false};
    std::shared_ptr<const TLoudnessOverview> Loudness;
    ASSERT_EQ(DecodeOverview(FixturePath("tone-gaps.mp3"), Stop, [&](auto Got) { Loudness = Got; }),
              TOverviewResult::Done);
    const TFrameGrid Grid = GridOf("tone-gaps.mp3");
    const double Delay = 1105.0 / 44100, End = TicksToSeconds(Grid.TotalTicks()) - Delay;
    const std::pair<TSilenceOptions, std::vector<std::pair<double, double>>> Cases[] = {
        {{}, {{0, 2.7}, {2.7, End}}},
        {{-40, Second / 5, 0, false}, {{0, 1.15}, {1.15, 2.7}, {2.7, End}}},
        {{-20, Second / 2, 0, false}, {{0, 2.7}, {2.7, 4.5}, {4.5, End}}},
        {{-20, Second / 5, 2 * Second, false}, {{0, 2.7}, {2.7, End}}},     // too short a part
        {{-20, Second / 2, 3 * Second / 2, false}, {{0, 2.7}, {2.7, End}}}, // too short a last
        {{-40, Second / 2, 0, true}, {{0, 2.3}, {3.1, End}}},
    };
    for (const auto& [Options, Parts] : Cases) {
        const TSplitPlan Plan = PlanAtSilences(Grid, *Loudness, Options);
        ASSERT_EQ(Plan.Parts.size(), Parts.size()) << Options.ThresholdDb;
        for (size_t I = 0; I < Parts.size(); ++I) {
            // Within half a frame and the encoder's blurring.
            EXPECT_NEAR(TicksToSeconds(Plan.Parts[I].Start), Parts[I].first + (I ? Delay : 0),
                        0.03);
            EXPECT_NEAR(TicksToSeconds(Plan.Parts[I].End), Parts[I].second + Delay, 0.03);
        }
    }
}

TEST(PlanAtSilences, SilenceAtTheEndsIsNoCutButATrim) {
    const TFrameGrid Grid{Frame, 320};
    const int64_t Q = 100 * Frame, L = 60 * Frame, Total = Grid.TotalTicks();
    const auto Loudness = Overview(Grid, {{0, Q}, {Q + L, 2 * Q + L}, {2 * Q + 2 * L, Total}});
    EXPECT_EQ(PlanAtSilences(Grid, *Loudness, {}).Parts,
              (TParts{{0, Q + L + Q / 2, {}, {}}, {Q + L + Q / 2, Total, {}, {}}}));
    EXPECT_EQ(PlanAtSilences(Grid, *Loudness, {-40, Second / 2, 0, true}).Parts,
              (TParts{{Q, Q + L, {}, {}}, {2 * Q + L, 2 * Q + 2 * L, {}, {}}}));
    const auto Silent = Overview(Grid, {{0, Total}});
    EXPECT_EQ(PlanAtSilences(Grid, *Silent, {}).Parts, (TParts{{0, Total, {}, {}}}));
    EXPECT_TRUE(PlanAtSilences(Grid, *Silent, {-40, Second / 2, 0, true}).Parts.empty());
}

TEST(PlanAtMarks, SortedDistinctInsideTheAudioAndSnapped) {
    const TFrameGrid Grid{100, 10};
    for (const auto& [Marks, Expected] :
         {std::pair<std::vector<int64_t>, std::vector<int64_t>>{{720, 310, 720}, {300, 700}},
          {{-5, 0, 1000, 1400, 500}, {500}},
          {{10, 990}, {}},
          {{410, 440, 460}, {400, 500}}})
        EXPECT_EQ(Cuts(Grid, PlanAtMarks(Grid, Marks)), Expected);
}

class CueSheet : public testing::Test {
protected:
    std::string Write(const std::string& Text) {
        std::ofstream(Dir.File("a.cue"), std::ios::binary) << Text;
        return Dir.File("a.cue");
    }
    TTempDir Dir;
};

constexpr int64_t CueFrame = TicksPerSecond / 75; // a grid of these makes every start exact
const std::string Head = "FILE \"a.mp3\" MP3\n  TRACK 01 AUDIO\n";

// A pregap (INDEX 00) plays at the end of the track before.
TEST_F(CueSheet, TracksFromIndex01WithTitlesAndPerformers) {
    const TFrameGrid Grid{CueFrame, 75 * 60};
    const TSplitPlan Plan = PlanFromCueSheet(
        Grid, Write("PERFORMER \"Band\"\n" + Head + "TITLE \"One\"\nINDEX 01 00:00:00\n" +
                    "TRACK 02 AUDIO\nTITLE \"Two\"\nPERFORMER \"Guest\"\nINDEX 00 00:00:01\n" +
                    "INDEX 01 00:00:05\nTRACK 03 AUDIO\nTITLE \"Caf\xE9\"\nINDEX 00 00:10:00\n" +
                    "INDEX 01 00:20:74\n"));
    EXPECT_TRUE(Plan.Titled);
    EXPECT_EQ(Plan.Parts, (TParts{{0, 5 * CueFrame, "One", "Band"},
                                  {5 * CueFrame, 1574 * CueFrame, "Two", "Guest"},
                                  {1574 * CueFrame, Grid.TotalTicks(), "Caf\xC3\xA9", "Band"}}));
}

TEST_F(CueSheet, RefusesWhatItCannotPlace) {
    for (const auto& [Text, Reason] :
         {std::pair<std::string, std::string>{"hello, world\n", "it is no cue sheet"},
          {Head + "TITLE \"x\"\n", "track 1 has no INDEX 01"},
          {Head + "INDEX 01 00:00:00\nFILE \"b.mp3\" MP3\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n",
           "it lists tracks of more than one"},
          {Head + "INDEX 01 00:02:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n", "track 2 does not"},
          {Head + "INDEX 01 59:00:00\n", "its first track starts after"}}) {
        const std::string Message = ThrownMessage([&] {
            PlanFromCueSheet({Frame, 100}, Write(Text));
        });
        EXPECT_NE(Message.find(Dir.File("a.cue") + ": " + Reason), std::string::npos) << Message;
    }
    EXPECT_NE(ThrownMessage([&] { PlanFromCueSheet({Frame, 100}, Dir.File("none.cue")); }), "");
}

TEST(PlanFromChapters, EachChapterAPartGapsLeftOut) {
    const TFrameGrid Grid{Frame, 400}; // 10.4 s
    const auto At = [&](int64_t Ms) { return Grid.Nearest(MsToTicks(Ms)); };
    const std::pair<std::vector<TChapter>, TParts> Cases[] = {
        {{{2000, 5000, "B"}, {0, 2000, "A"}, {6000, 20000, "C"}},
         {{0, At(2000), "A", {}}, {At(2000), At(5000), "B", {}}, {At(6000), At(20000), "C", {}}}},
        // Too short for a frame, past the audio, overlapping.
        {{{0, 3000, "A"}, {3000, 3005, "Blip"}, {11000, 12000, "Late"}}, {{0, At(3000), "A", {}}}},
        {{{0, 4000, "A"}, {3000, 8000, "B"}},
         {{0, At(4000), "A", {}}, {At(4000), At(8000), "B", {}}}},
    };
    for (const auto& [Chapters, Parts] : Cases)
        EXPECT_EQ(PlanFromChapters(Grid, Chapters).Parts, Parts);
    EXPECT_TRUE(PlanFromChapters(Grid, Cases[0].first).Titled);
    EXPECT_NE(ThrownMessage([&] { PlanFromChapters(Grid, {{20000, 30000, "Late"}}); }), "");
}

} // namespace
