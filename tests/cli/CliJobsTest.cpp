#include "CliTestSupport.h"
#include "FrameBuilder.h"
#include "FrameFiles.h"
#include "ID3v1.h"
#include "MP3Read.h"
#include "Processes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <pty.h>
#include <string_view>
#include <unistd.h>

namespace {

TBytes WithoutTag(TBytes Bytes) {
    Bytes.resize(Bytes.size() - 128);
    return Bytes;
}

class CliJobs : public TCliTest {};

} // namespace

TEST_F(CliJobs, HelpForTheProgramAndEveryJob) {
    for (const std::vector<std::string>& Args : {std::vector<std::string>{"--help"},
                                                 {"split", "--help"},
                                                 {"cut", "--help"},
                                                 {"prepare", "--help"},
                                                 {"tag", "-h"}}) {
        auto Result = RunCli(Args);
        EXPECT_EQ(Result.ExitCode, 0);
        EXPECT_TRUE(Contains(Result.Stdout, "Usage: segmora-cli")) << Args[0];
    }
}

TEST_F(CliJobs, SplitWritesTaggedPartsIntoANewFolderUnderTheSourcesName) {
    const std::string Folder = Dir.File("a/b/c");
    auto Result = RunCli({"split", Tagged, "--parts", "3", "--folder", Folder});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_EQ(Result.Stderr, "") << "no bar without a terminal";
    TBytes Frames;
    TID3Info SourceTag, PartTag;
    ASSERT_TRUE(ReadID3Tag(Tagged, SourceTag));
    for (int I = 1; I <= 3; ++I) {
        const std::string Part = Folder + "/id3v1-end-" + std::to_string(I) + ".mp3";
        ASSERT_TRUE(ReadID3Tag(Part, PartTag));
        EXPECT_EQ(PartTag, SourceTag);
        // Each part behind an information frame of its own.
        const auto Bytes = OutputAudio(WithoutTag(ReadFileBytes(Part)));
        Frames.insert(Frames.end(), Bytes.begin(), Bytes.end());
    }
    EXPECT_FALSE(FileExists(Folder + "/id3v1-end-4.mp3"));
    EXPECT_EQ(Frames, Concat(AudioFrames(Tagged)));
}

TEST_F(CliJobs, SplitRefusesAnExistingPartBeforeWritingAnyUnlessToldToOverwrite) {
    WriteFileBytes(Dir.File("x2.mp3"), {1, 2, 3});
    auto Result = RunCli({"split", Plain, "--parts", "2", "--folder", Dir.Path(), "--prefix", "x"});
    EXPECT_EQ(Result.ExitCode, 1);
    EXPECT_TRUE(Contains(Result.Stderr, Dir.File("x2.mp3"))) << Result.Stderr;
    EXPECT_FALSE(FileExists(Dir.File("x1.mp3")));
    EXPECT_EQ(ReadFileBytes(Dir.File("x2.mp3")), TBytes({1, 2, 3}));

    Result = RunCli(
        {"split", Plain, "--parts", "2", "--folder", Dir.Path(), "--prefix", "x", "--overwrite"});
    EXPECT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_EQ(Concat({OutputAudio(Dir.File("x1.mp3")), OutputAudio(Dir.File("x2.mp3"))}),
              Concat(AudioFrames(Plain)));
}

TEST_F(CliJobs, BadUsageExitsWithTwoAndTheUsage) {
    const std::string F = Dir.Path();
    for (const std::vector<std::string>& Args : std::vector<std::vector<std::string>>{
             {"split", Plain, "--parts", "1", "--folder", F},
             {"split", Plain, "--parts", "1000", "--folder", F},
             {"split", Plain, "--parts", "two", "--folder", F},
             {"split", Plain, "--parts", "3"},
             {"split", "--parts", "3", "--folder", F},
             {"split", Plain, Plain, "--parts", "3", "--folder", F},
             {"split", Plain, "--parts", "3", "--folder", F, "--bogus"},
             {"split", Plain, "--folder", F},
             {"split", Plain, "--parts", "2", "--every", "1", "--folder", F},
             {"split", Plain, "--chapters", "--silence", "--folder", F},
             {"split", Plain, "--at", "1", "--threshold", "-30", "--folder", F},
             {"split", Plain, "--parts", "2", "--drop-silence", "--folder", F},
             {"split", Plain, "--every", "1", "--name-pattern", "{title}", "--folder", F},
             {"split", Plain, "--silence", "--threshold", "loud", "--folder", F},
             {"split", Plain, "--silence", "--threshold", "6", "--folder", F},
             {"split", Plain, "--every", "0", "--folder", F},
             {"split", Plain, "--at", "1,,2", "--folder", F},
             {"split", Plain, "--equal-time", "1", "--folder", F},
             {"split", Plain, "--chapters", "--name-pattern", "a/{title}", "--folder", F},
             {"cut", Plain, "--start", "2", "--end", "1", "--out", Dir.File("o.mp3")},
             {"cut", Plain, "--start", "1", "--end", "1", "--out", Dir.File("o.mp3")},
             {"cut", Plain, "--start", "1:60", "--end", "2:00", "--out", Dir.File("o.mp3")},
             {"cut", Plain, "--start", "soon", "--end", "2", "--out", Dir.File("o.mp3")},
             {"cut", Plain, "--start", "0", "--end", "214748364.701", "--out", Dir.File("o.mp3")},
             {"cut", Plain, "--start", "0", "--end", "2"},
             {"prepare", Plain},
             {"tag", Plain, "--genre", "256"},
             {"tag"},
         }) {
        auto Result = RunCli(Args);
        EXPECT_EQ(Result.ExitCode, 2) << Args[0] << " " << Args[1] << " " << Result.Stderr;
        EXPECT_TRUE(Contains(Result.Stderr, "Usage: segmora-cli " + Args[0]));
    }
    EXPECT_FALSE(FileExists(Dir.File("o.mp3")));
    EXPECT_TRUE(std::filesystem::is_empty(F));
}

TEST_F(CliJobs, AMissingSourceFailsWithOneBeforeAnyOutput) {
    const std::string Missing = Dir.File("none.mp3");
    for (const std::vector<std::string>& Args : std::vector<std::vector<std::string>>{
             {"split", Missing, "--parts", "2", "--folder", Dir.File("parts")},
             {"cut", Missing, "--start", "0", "--end", "1", "--out", Dir.File("o.mp3")},
             {"prepare", Missing, Dir.File("o.mp3")},
             {"tag", Missing}}) {
        auto Result = RunCli(Args);
        EXPECT_EQ(Result.ExitCode, 1) << Args[0];
        EXPECT_TRUE(Contains(Result.Stderr, "No such file or directory")) << Result.Stderr;
    }
    EXPECT_TRUE(std::filesystem::is_empty(Dir.Path()));
}

TEST_F(CliJobs, CutWritesTheFramesOfTheSelectionAndTheTagAsTheSaveDialogWould) {
    const auto Frames = AudioFrames(Plain);
    // 0.5 s to 1.0 s: audio frames 20 to 38 end inside (26.12 ms each).
    auto Result = RunCli({"cut", Plain, "--start", "00:00.5", "--end", "1", "--out",
                          Dir.File("a.mp3"), "--title", "Cut", "--comment", "From the CLI"});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_EQ(OutputAudio(WithoutTag(ReadFileBytes(Dir.File("a.mp3")))), Concat(Frames, 19, 38));
    TID3Info Tag;
    ASSERT_TRUE(ReadID3Tag(Dir.File("a.mp3"), Tag));
    EXPECT_EQ(Tag, (TID3Info{"Cut", "", "", "", "From the CLI", 255}));

    Result = RunCli({"cut", Plain, "--start", "0.5", "--end", "0:00:01.0", "--out",
                     Dir.File("b.mp3"), "--title", ""});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_EQ(OutputAudio(Dir.File("b.mp3")), Concat(Frames, 19, 38)) << "no text, no tag";
}

TEST_F(CliJobs, CutTakesTimesToTheMillisecond) {
    // 3000 frames of 26.1224 ms, counted from 1: frame 392 ends at 10.24 s,
    // 391 at 10.2139 s (which 10.2 would take), 2392 at 62.4857 s and 2393
    // at 62.5118 s.
    TStreamBuilder Stream;
    Stream.Frames(3000);
    Stream.WriteTo(Dir.File("long.mp3"));
    auto Result = RunCli({"cut", Dir.File("long.mp3"), "--start", "10.237", "--end", "1:02.5",
                          "--out", Dir.File("cut.mp3")});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_EQ(OutputAudio(Dir.File("cut.mp3")),
              Concat(AudioFrames(Dir.File("long.mp3")), 391, 2392));

    Result =
        RunCli({"cut", Plain, "--start", "10.2375", "--end", "20", "--out", Dir.File("o.mp3")});
    EXPECT_EQ(Result.ExitCode, 2);
    EXPECT_TRUE(Contains(Result.Stderr, "--start takes a time such as 01:15.5, 1:02:03.4, 75, "
                                        "75.5 or 10.237, not '10.2375'"))
        << Result.Stderr;
}

TEST_F(CliJobs, ExactCutsALayerIISourceAtWholeFramesAndSaysSo) {
    const std::string Layer2 = FixturePath("layer2.mp3");
    const std::string Note =
        "segmora-cli: Cut to the sample applies to Layer III files only: " + Layer2 +
        " was cut at whole frames.\n";
    // Each job once without --exact, into "plain", and once with it, into
    // "exact"; the output (a file, or a folder of parts) comes last.
    for (const std::vector<std::string>& Job :
         {std::vector<std::string>{"cut", Layer2, "--start", "0.5", "--end", "1.5", "--out"},
          {"split", Layer2, "--parts", "2", "--prefix", "p", "--folder"}}) {
        auto Without = Job, With = Job;
        Without.push_back(Dir.File(Job[0] + "-plain"));
        With.insert(With.begin() + 2, "--exact");
        With.push_back(Dir.File(Job[0] + "-exact"));
        ASSERT_EQ(RunCli(Without).ExitCode, 0) << Job[0];
        const auto Result = RunCli(With);
        EXPECT_EQ(Result.ExitCode, 0) << Job[0];
        EXPECT_EQ(Result.Stderr, Note) << Job[0];
    }
    EXPECT_EQ(ReadFileBytes(Dir.File("cut-exact")), ReadFileBytes(Dir.File("cut-plain")));
    for (const std::string Part : {"/p1.mp3", "/p2.mp3"})
        EXPECT_EQ(ReadFileBytes(Dir.File("split-exact") + Part),
                  ReadFileBytes(Dir.File("split-plain") + Part));

    // A Layer III source gets no note.
    const auto Result = RunCli(
        {"cut", Plain, "--exact", "--start", "0.5", "--end", "1", "--out", Dir.File("l3.mp3")});
    EXPECT_EQ(Result.ExitCode, 0);
    EXPECT_EQ(Result.Stderr, "");
}

TEST_F(CliJobs, CutRefusesAnExistingOutputAndNeverWritesOverItsSource) {
    WriteFileBytes(Dir.File("a.mp3"), {9});
    auto Result = RunCli({"cut", Plain, "--start", "0", "--end", "1", "--out", Dir.File("a.mp3")});
    EXPECT_EQ(Result.ExitCode, 1);
    EXPECT_TRUE(Contains(Result.Stderr, Dir.File("a.mp3")));
    EXPECT_EQ(ReadFileBytes(Dir.File("a.mp3")), TBytes{9});

    const auto Original = ReadFileBytes(Tagged);
    WriteFileBytes(Dir.File("song.mp3"), Original);
    std::filesystem::create_directory(Dir.File("sub"));
    const std::string Spelling = Dir.File("sub/../song.mp3");
    Result = RunCli({"cut", Dir.File("song.mp3"), "--start", "0", "--end", "1", "--out", Spelling,
                     "--overwrite", "--title", "x"});
    EXPECT_EQ(Result.ExitCode, 1);
    EXPECT_TRUE(Contains(Result.Stderr, "Cannot create file " + Spelling)) << Result.Stderr;
    EXPECT_EQ(ReadFileBytes(Dir.File("song.mp3")), Original);
}

TEST_F(CliJobs, PrepareCopiesTheFramesAlone) {
    const std::string Source = FixturePath("id3v2-front.mp3");
    auto Result = RunCli({"prepare", Source, Dir.File("clean.mp3")});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_EQ(OutputAudio(Dir.File("clean.mp3")), Concat(AudioFrames(Source)));

    Result = RunCli({"prepare", Source, Dir.File("clean.mp3")});
    EXPECT_EQ(Result.ExitCode, 1);
    EXPECT_TRUE(Contains(Result.Stderr, Dir.File("clean.mp3")));
    Result = RunCli({"prepare", Source, Dir.File("clean.mp3"), "--overwrite", "--quiet"});
    EXPECT_EQ(Result.ExitCode, 0);
}

TEST_F(CliJobs, TagShowsWritesAndKeepsTheFieldsNotGiven) {
    auto Result = RunCli({"tag", Plain});
    EXPECT_EQ(Result.ExitCode, 0);
    EXPECT_TRUE(Contains(Result.Stdout, "has no ID3v1 tag"));

    Result = RunCli({"tag", Tagged});
    EXPECT_EQ(Result.ExitCode, 0);
    TID3Info Source;
    ASSERT_TRUE(ReadID3Tag(Tagged, Source));
    EXPECT_TRUE(Contains(Result.Stdout, "Title:   " + Source.Title + "\n")) << Result.Stdout;
    EXPECT_TRUE(Contains(Result.Stdout, "Genre:   " + std::to_string(Source.Genre) + "\n"));

    const std::string Copy = Dir.File("copy.mp3");
    WriteFileBytes(Copy, ReadFileBytes(Tagged));
    Result = RunCli({"tag", Copy, "--title", "New title", "--genre", "7"});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    TID3Info Written;
    ASSERT_TRUE(ReadID3Tag(Copy, Written));
    TID3Info Expected = Source;
    Expected.Title = "New title";
    Expected.Genre = 7;
    EXPECT_EQ(Written, Expected);
    EXPECT_EQ(WithoutID3v2(ReadFileBytes(Copy)).size(), FileSizeOf(Tagged))
        << "the old ID3v1 tag was replaced";

    const std::string Plain2 = Dir.File("plain.mp3");
    WriteFileBytes(Plain2, ReadFileBytes(Plain));
    ASSERT_EQ(RunCli({"tag", Plain2, "--artist", "Someone"}).ExitCode, 0);
    ASSERT_TRUE(ReadID3Tag(Plain2, Written));
    EXPECT_EQ(Written, (TID3Info{"", "Someone", "", "", "", 255}));
    EXPECT_EQ(WithoutID3v2(ReadFileBytes(Plain2)).size(), FileSizeOf(Plain) + 128);
}

TEST_F(CliJobs, TagKeepsTheTrackNumberUntilALongCommentTakesItsPlace) {
    const std::string Copy = Dir.File("copy.mp3");
    for (const int Track : {1, 13, 32, 255}) {
        SCOPED_TRACE(Track);
        WriteFileBytes(Copy, ReadFileBytes(Plain));
        WriteID3Tag(Copy, {"Old", "", "", "", "Notes" + std::string(24, '\0') + char(Track), 12});
        for (const auto& [Option, Text, Kept] : {std::tuple{"--title", std::string("New"), true},
                                                 {"--comment", std::string(28, 'c'), true},
                                                 {"--comment", std::string(29, 'c'), false}}) {
            ASSERT_EQ(RunCli({"tag", Copy, Option, Text}).ExitCode, 0);
            TID3TagBlock Block;
            ASSERT_TRUE(ReadID3TagBlock(Copy, Block));
            EXPECT_EQ(ID3v11Track(Block), Kept ? Track : 0) << Option << " " << Text;
        }
    }
}

TEST_F(CliJobs, TagOnAFileShorterThanATagIsAFailure) {
    WriteFileBytes(Dir.File("tiny.mp3"), TBytes(100, 0x20));
    auto Result = RunCli({"tag", Dir.File("tiny.mp3"), "--title", "x"});
    EXPECT_EQ(Result.ExitCode, 1);
    EXPECT_TRUE(Contains(Result.Stderr, Dir.File("tiny.mp3")));
    EXPECT_EQ(FileSizeOf(Dir.File("tiny.mp3")), 100);
}

TEST_F(CliJobs, CtrlCSigtermAndSighupStopASplitAndKeepWhatItWrote) {
    // About 96 MiB of the tagged fixture over and over: a split of several
    // tenths of a second. Every kept part must still end with the tag.
    const auto Seed = ReadFileBytes(Tagged);
    TBytes Big;
    Big.reserve(96u << 20);
    while (Big.size() < (96u << 20))
        Big.insert(Big.end(), Seed.begin(), Seed.end());
    const std::string Source = Dir.File("long.mp3");
    WriteFileBytes(Source, Big);
    const auto SourceHash = std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(Big.data()), Big.size()));
    Big.clear();
    TID3Info SourceTag, PartTag;
    ASSERT_TRUE(ReadID3Tag(Source, SourceTag));

    struct TCase {
        int Signal;
        int ExitCode;
        const char* Message;
    };
    for (const auto& Case : {TCase{SIGINT, 130, "Interrupted; what was written so far is kept.\n"},
                             TCase{SIGTERM, 143, "Terminated; what was written so far is kept.\n"},
                             TCase{SIGHUP, 129, "Hangup; what was written so far is kept.\n"}}) {
        SCOPED_TRACE(Case.Signal);
        const std::string Folder = Dir.File("parts" + std::to_string(Case.Signal));
        TRunningProcess Split(SEGMORA_CLI_PATH, {"split", Source, "--parts", "8", "--folder",
                                                 Folder, "--prefix", "p"});
        WaitFor([&] { return FileExists(Folder + "/p1.mp3"); }, 30);
        if (Ended(Split.Pid()))
            GTEST_SKIP() << "the split ended before the signal could be sent";
        Split.Signal(Case.Signal);
        auto Result = Split.Wait();

        ASSERT_EQ(Result.ExitCode, Case.ExitCode) << Result.Stderr;
        EXPECT_EQ(Result.Stderr, Case.Message);
        EXPECT_FALSE(FileExists(Folder + "/p8.mp3")) << "the split stopped early";
        TBytes Kept;
        int Parts = 0;
        for (; FileExists(Folder + "/p" + std::to_string(Parts + 1) + ".mp3"); ++Parts) {
            const std::string Part = Folder + "/p" + std::to_string(Parts + 1) + ".mp3";
            ASSERT_TRUE(ReadID3Tag(Part, PartTag)) << Part;
            EXPECT_EQ(PartTag, SourceTag);
            const auto Bytes = OutputAudio(WithoutTag(ReadFileBytes(Part)));
            Kept.insert(Kept.end(), Bytes.begin(), Bytes.end());
        }
        ASSERT_GE(Parts, 1);
        // The kept frames are the source's first audio frames, whole: the
        // Info frame of each copy of the seed is none.
        TMP3Reader Reader;
        Reader.Open(Source);
        size_t At = 0;
        TBytes Frame;
        while (At < Kept.size() && Reader.FindNextFrame(0)) {
            if (Reader.IsInfoFrame())
                continue;
            Frame.resize(static_cast<size_t>(Reader.FrameLength()));
            ASSERT_TRUE(Reader.ReadFrame(Frame.data()));
            ASSERT_LE(At + Frame.size(), Kept.size()) << "a frame was cut in two";
            ASSERT_TRUE(
                std::equal(Frame.begin(), Frame.end(), Kept.begin() + static_cast<long>(At)))
                << "at byte " << At;
            At += Frame.size();
        }
        EXPECT_EQ(At, Kept.size());
    }
    const auto After = ReadFileBytes(Source);
    EXPECT_EQ(std::hash<std::string_view>()(
                  std::string_view(reinterpret_cast<const char*>(After.data()), After.size())),
              SourceHash)
        << "the source is unchanged";
}

TEST_F(CliJobs, TheBarIsDrawnOnATerminalOncePerWholePercent) {
    for (bool Quiet : {false, true}) {
        SCOPED_TRACE(Quiet ? "quiet" : "with bar");
        std::vector<std::string> Args = {"prepare", Tagged, Dir.File("p.mp3"), "--overwrite"};
        if (Quiet)
            Args.push_back("--quiet");
        const auto Run = RunCliOnTerminal(Args);
        const std::string& Screen = Run.Stderr;
        EXPECT_EQ(Run.ExitCode, 0) << Screen;
        const auto Redraws = std::count(Screen.begin(), Screen.end(), '\r');
        if (Quiet) {
            EXPECT_EQ(Screen, "");
        } else {
            EXPECT_TRUE(Contains(Screen, "Preparing... [")) << Screen;
            EXPECT_TRUE(Contains(Screen, "] 100%")) << Screen;
            // 79 frames, but at most one drawing for each of 0..100.
            EXPECT_GE(Redraws, 10);
            EXPECT_LE(Redraws, 101 + 1); // the terminal may turn the last newline into CR LF
        }
    }
}

TEST_F(CliJobs, AFailedJobsBarStopsWhereTheJobFailed) {
    // Part 2's name is taken by a folder: the split fails half way.
    std::filesystem::create_directory(Dir.File("x2.mp3"));
    const auto Run = RunCliOnTerminal(
        {"split", Tagged, "--parts", "2", "--folder", Dir.Path(), "--prefix", "x", "--overwrite"});
    EXPECT_EQ(Run.ExitCode, 1);
    EXPECT_TRUE(Contains(Run.Stderr, "Cannot create file " + Dir.File("x2.mp3"))) << Run.Stderr;
    EXPECT_TRUE(Contains(Run.Stderr, "Splitting... [")) << Run.Stderr;
    EXPECT_FALSE(Contains(Run.Stderr, "100%")) << Run.Stderr;
}
