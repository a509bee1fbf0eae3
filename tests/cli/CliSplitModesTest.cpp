// The ways to split besides by size, through the command line: what
// --dry-run prints is what the run then writes, and each part holds the
// frames of its span.

#include "CliTestSupport.h"
#include "FrameClock.h"
#include "FrameFiles.h"
#include "MutagenTags.h"
#include "Processes.h"
#include "StreamScan.h"
#include "TimeFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr double FrameMs = 1152 * 1000.0 / 44100; // every fixture used here

struct TListedPart {
    int64_t StartMs = 0, EndMs = 0;
    std::string File;
};

// The lines of --dry-run: "START  END  FILE".
std::vector<TListedPart> Listed(const std::string& Stdout) {
    std::vector<TListedPart> Parts;
    std::istringstream In(Stdout);
    for (std::string Line; std::getline(In, Line);) {
        const size_t First = Line.find("  ");
        const size_t Second = Line.find("  ", First + 2);
        EXPECT_NE(Second, std::string::npos) << Line;
        if (Second == std::string::npos)
            break;
        Parts.push_back({ParseTimeMs(Line.substr(0, First)).value_or(-1),
                         ParseTimeMs(Line.substr(First + 2, Second - First - 2)).value_or(-1),
                         Line.substr(Second + 2)});
    }
    return Parts;
}

std::vector<std::string> FilesIn(const std::string& Folder) {
    std::vector<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder))
        Names.push_back(Entry.path().string());
    std::sort(Names.begin(), Names.end());
    return Names;
}

// Mutagen's lines for the frames Ids of File, in the tag's order.
std::vector<std::string> ID3v2Lines(const std::string& File, const std::vector<std::string>& Ids) {
    std::vector<std::string> Lines;
    std::istringstream In(MutagenReadID3v2(File, File + ".cover"));
    for (std::string Line; std::getline(In, Line);)
        if (std::find(Ids.begin(), Ids.end(), Line.substr(0, Line.find('='))) != Ids.end())
            Lines.push_back(Line);
    std::sort(Lines.begin(), Lines.end());
    return Lines;
}

class CliSplitModes : public TCliTest {
protected:
    // The overviews go to the test's folder, never the user's cache.
    void SetUp() override { setenv("XDG_CACHE_HOME", Dir.File("cache").c_str(), 1); }
    void TearDown() override { unsetenv("XDG_CACHE_HOME"); }

    // Runs split with Args on Source into Folder, first with --dry-run
    // and then for real, and checks that the run wrote what was listed,
    // each part holding the source's frames of its span. Returns the list.
    std::vector<TListedPart> DryThenReal(const std::string& Source,
                                         const std::vector<std::string>& Mode) {
        std::vector<std::string> Args = {"split", Source, "--folder", Folder};
        Args.insert(Args.end(), Mode.begin(), Mode.end());
        Args.push_back("--dry-run");
        const auto Dry = RunCli(Args);
        EXPECT_EQ(Dry.ExitCode, 0) << Dry.Stderr;
        EXPECT_FALSE(std::filesystem::exists(Folder)) << "a dry run makes no folder";
        const auto Parts = Listed(Dry.Stdout);
        Args.pop_back();
        const auto Real = RunCli(Args);
        EXPECT_EQ(Real.ExitCode, 0) << Real.Stderr;
        std::vector<std::string> Names;
        for (const auto& Part : Parts)
            Names.push_back(Part.File);
        std::sort(Names.begin(), Names.end());
        EXPECT_EQ(FilesIn(Folder), Names);

        const auto Frames = AudioFrames(Source);
        for (const auto& Part : Parts) {
            SCOPED_TRACE(Part.File);
            // Every listed time is a frame boundary, within half a millisecond.
            const auto From = static_cast<size_t>(std::lround(Part.StartMs / FrameMs));
            const auto To = static_cast<size_t>(std::lround(Part.EndMs / FrameMs));
            EXPECT_NEAR(Part.StartMs, From * FrameMs, 0.5);
            EXPECT_NEAR(Part.EndMs, To * FrameMs, 0.5);
            EXPECT_EQ(Concat(AudioFrames(Part.File)), Concat(Frames, From, To));
        }
        return Parts;
    }

    const std::string Folder = Dir.File("parts");
};

} // namespace

TEST_F(CliSplitModes, EveryModeWritesWhatItsDryRunListed) {
    const struct {
        std::string Source;
        std::vector<std::string> Mode;
        std::vector<std::string> Names; // of the parts, in order
    } Cases[] = {
        {FixturePath("vbr.mp3"), {"--parts", "3", "--prefix", "p"}, {"p1", "p2", "p3"}},
        {Plain, {"--equal-time", "2", "--pad"}, {"cbr-128-info-1", "cbr-128-info-2"}},
        {Plain, {"--every", "1.2", "--prefix", "e"}, {"e1", "e2", "e3"}},
        {Plain, {"--at", "2.5,0.5", "--prefix", "a"}, {"a1", "a2", "a3"}},
        {FixturePath("vbr.mp3"),
         {"--every", "1", "--quiet-within", "0.3", "--prefix", "q"},
         {"q1", "q2", "q3", "q4"}},
        {FixturePath("tone-gaps.mp3"),
         {"--silence", "--min-silence", "0.25", "--prefix", "s"},
         {"s1", "s2", "s3"}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Mode[0] + " " + Case.Mode[1]);
        std::filesystem::remove_all(Folder);
        const auto Parts = DryThenReal(Case.Source, Case.Mode);
        ASSERT_EQ(Parts.size(), Case.Names.size());
        int64_t Previous = 0;
        for (size_t I = 0; I < Parts.size(); ++I) {
            EXPECT_EQ(Parts[I].File, Folder + "/" + Case.Names[I] + ".mp3");
            EXPECT_EQ(Parts[I].StartMs, Previous) << "no frame left out";
            Previous = Parts[I].EndMs;
        }
        EXPECT_NEAR(static_cast<double>(Previous),
                    static_cast<double>(AudioFrames(Case.Source).size()) * FrameMs, 0.5)
            << "to the last frame";
    }
}

TEST_F(CliSplitModes, CutsLieOnTheNearestBoundaryToTheirTimes) {
    // 1 s is 38.28 frames: the cut is behind frame 38, at 992.65 ms.
    const auto Result =
        RunCli({"split", Plain, "--at", "1", "--folder", Folder, "--prefix", "x", "--dry-run"});
    EXPECT_EQ(Result.Stdout, "00:00.000  00:00.993  " + Folder + "/x1.mp3\n" +
                                 "00:00.993  00:03.030  " + Folder + "/x2.mp3\n");
}

TEST_F(CliSplitModes, EqualTimePartsOfAVaryingBitRateDifferByAFrameAtMost) {
    const auto Parts = DryThenReal(FixturePath("vbr.mp3"), {"--equal-time", "4"});
    ASSERT_EQ(Parts.size(), 4u);
    std::vector<size_t> Frames;
    for (const auto& Part : Parts)
        Frames.push_back(AudioFrames(Part.File).size());
    EXPECT_LE(*std::max_element(Frames.begin(), Frames.end()) -
                  *std::min_element(Frames.begin(), Frames.end()),
              1u);
}

TEST_F(CliSplitModes, DroppedSilenceIsLeftOutAndTheOverviewKeptForTheWindow) {
    const std::string Source = FixturePath("tone-gaps.mp3");
    const auto Parts =
        DryThenReal(Source, {"--silence", "--min-silence", "0.25", "--drop-silence"});
    ASSERT_EQ(Parts.size(), 3u);
    // The silent gap at 1.0 s and the one at -60 dB at 2.3 s are out.
    EXPECT_LE(Parts[0].EndMs, 1000 + FrameMs);
    EXPECT_GE(Parts[1].StartMs, 1300 - FrameMs);
    EXPECT_LE(Parts[1].EndMs, 2300 + FrameMs);
    EXPECT_GE(Parts[2].StartMs, 3100 - FrameMs);
    EXPECT_EQ(FilesIn(Dir.File("cache/quenby/segmora/overviews")).size(), 1u);
}

TEST_F(CliSplitModes, ChaptersGiveTitledPartsNamedAfterThem) {
    SKIP_WITHOUT_MUTAGEN();
    const std::string Source = Dir.File("chaptered.mp3");
    ASSERT_TRUE(MutagenChapteredCopy(Source));
    const auto Parts = DryThenReal(Source, {"--chapters"});
    ASSERT_EQ(Parts.size(), 3u);
    const char* const Titles[] = {"One", "Two ✓", "Three"};
    for (size_t I = 0; I < 3; ++I) {
        const std::string Number = std::to_string(I + 1);
        EXPECT_EQ(Parts[I].File, Folder + "/0" + Number + " - " + Titles[I] + ".mp3");
        EXPECT_EQ(ID3v2Lines(Parts[I].File, {"TIT2", "TRCK", "TPE1"}),
                  (std::vector<std::string>{"TIT2=" + std::string(Titles[I]), "TPE1=Ærø",
                                            "TRCK=" + Number + "/3"}));
    }
}

TEST_F(CliSplitModes, ACueSheetsTracksGiveTheTitlesAndPerformers) {
    SKIP_WITHOUT_MUTAGEN();
    const std::string Cue = Dir.File("album.cue");
    std::ofstream(Cue) << "PERFORMER \"Disc Artist\"\nTITLE \"Album\"\nFILE \"x.mp3\" MP3\n"
                          "  TRACK 01 AUDIO\n    TITLE \"First\"\n    INDEX 01 00:00:00\n"
                          "  TRACK 02 AUDIO\n    TITLE \"Second/Half\"\n    PERFORMER \"Guest\"\n"
                          "    INDEX 01 00:01:50\n";
    const auto Parts = DryThenReal(Plain, {"--cue", Cue, "--name-pattern", "{n}. {title}"});
    ASSERT_EQ(Parts.size(), 2u);
    EXPECT_EQ(Parts[0].File, Folder + "/1. First.mp3");
    EXPECT_EQ(Parts[1].File, Folder + "/2. Second_Half.mp3");
    EXPECT_EQ(ID3v2Lines(Parts[0].File, {"TIT2", "TRCK", "TPE1"}),
              (std::vector<std::string>{"TIT2=First", "TPE1=Disc Artist", "TRCK=1/2"}));
    EXPECT_EQ(ID3v2Lines(Parts[1].File, {"TIT2", "TRCK", "TPE1"}),
              (std::vector<std::string>{"TIT2=Second/Half", "TPE1=Guest", "TRCK=2/2"}));
}

TEST_F(CliSplitModes, APlanWithoutPartsFailsWithItsReasonAndMakesNothing) {
    const std::string Cue = Dir.File("late.cue");
    std::ofstream(Cue) << "FILE \"x.mp3\" MP3\n  TRACK 01 AUDIO\n    INDEX 01 10:00:00\n";
    const struct {
        std::vector<std::string> Mode;
        const char* Reason;
    } Cases[] = {
        {{"--cue", Cue}, "starts after the end"},
        {{"--cue", Dir.File("none.cue")}, "none.cue"},
        {{"--chapters"}, "has none"},
    };
    for (const auto& Case : Cases) {
        std::vector<std::string> Args = {"split", Plain, "--folder", Folder};
        Args.insert(Args.end(), Case.Mode.begin(), Case.Mode.end());
        const auto Result = RunCli(Args);
        EXPECT_EQ(Result.ExitCode, 1) << Case.Reason;
        EXPECT_TRUE(Contains(Result.Stderr, Case.Reason)) << Result.Stderr;
        EXPECT_FALSE(std::filesystem::exists(Folder));
    }
}

// With --exact the times count from the first sample played: a cut asked
// for at T lies on the boundary nearest to T past the source's delay, the
// dry run lists the times so, and each part, opened again, plays as long
// as listed.
TEST_F(CliSplitModes, ExactTimesCountFromTheFirstSamplePlayed) {
    const std::string Source = FixturePath("burst-44k.mp3"); // LAME: delay 576
    const TClockSpan Played = PlayedClockSpan(ScanStream(Source));
    ASSERT_GT(Played.Origin, 0);
    const std::vector<std::string> Args = {"split", Source, "--folder", Folder,   "--prefix",
                                           "x",     "--at", "1",        "--exact"};
    std::vector<std::string> Dry = Args;
    Dry.push_back("--dry-run");
    const auto Parts = Listed(RunCli(Dry).Stdout);
    ASSERT_EQ(Parts.size(), 2u);
    const int64_t Frame = SamplesToTicks(1152, 44100);
    const int64_t Cut = NearestFrameBoundary(MsToTicks(1000) + Played.Origin, Frame);
    EXPECT_EQ(Parts[0].StartMs, 0);
    EXPECT_EQ(Parts[0].EndMs, TicksToNearestMs(Cut - Played.Origin));
    EXPECT_EQ(Parts[1].StartMs, Parts[0].EndMs);
    EXPECT_EQ(Parts[1].EndMs, TicksToNearestMs(Played.End - Played.Origin));
    ASSERT_EQ(RunCli(Args).ExitCode, 0);
    for (const auto& Part : Parts) {
        const TClockSpan Clock = PlayedClockSpan(ScanStream(Part.File));
        EXPECT_NEAR(TicksToNearestMs(Clock.End - Clock.Origin), Part.EndMs - Part.StartMs, 1)
            << Part.File;
    }
}
