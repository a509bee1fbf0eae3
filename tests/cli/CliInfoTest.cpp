#include "FrameFiles.h"
#include "Processes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> Result;
    std::stringstream In(Text);
    for (std::string Line; std::getline(In, Line);)
        Result.push_back(Line);
    return Result;
}

} // namespace

TEST(CliInfo, ReportsEveryFixtureAsTheIndependentToolsCountedIt) {
    const auto Rows = Fixtures();
    ASSERT_GE(Rows.size(), 9u);
    const char* const Versions[] = {"", "MPEG-1", "MPEG-2", "MPEG-2.5"};
    const char* const Layers[] = {"", "I", "II", "III"};
    for (const auto& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        auto Info = RunCli({"info", FixturePath(Row.Name)});
        ASSERT_EQ(Info.ExitCode, 0) << Info.Stderr;
        const std::string& Out = Info.Stdout;
        auto Has = [&](const std::string& Line) { return Out.find(Line + "\n") != Out.npos; };
        EXPECT_TRUE(Has("First frame offset: " + std::to_string(Row.FirstOffset))) << Out;
        // The information frame is no audio: it is named, not counted.
        EXPECT_TRUE(Has("Frames: " + std::to_string(Row.Frames - Row.InfoFrame)));
        EXPECT_EQ(Out.find("Information frame: none") == Out.npos, Row.InfoFrame != 0);
        // Junk put between the frames, or a last frame cut off, after lame
        // wrote the counts.
        const bool Damaged = Row.Name == "junk-between.mp3" || Row.Name == "truncated-last.mp3";
        if (Row.InfoFrame != 0) {
            EXPECT_EQ(Has("  matches the frames: yes"), !Damaged) << Out;
        }
        EXPECT_TRUE(Has(std::string("Version: ") + Versions[Row.Version]));
        EXPECT_TRUE(Has(std::string("Layer: ") + Layers[Row.Layer]));
        EXPECT_TRUE(Has("Sample rate: " + std::to_string(Row.SampleRate) + " Hz"));
        EXPECT_TRUE(Has("Bit rate: " + std::to_string(Row.Bitrate / 1000) + " kbit/s"));
        EXPECT_NE(Out.find("Play time: "), std::string::npos);

        auto Frames = RunCli({"info", "--frames", FixturePath(Row.Name)});
        ASSERT_EQ(Frames.ExitCode, 0);
        auto FrameLines = Lines(Frames.Stdout);
        ASSERT_EQ(static_cast<int64_t>(FrameLines.size()), Row.Frames);
        EXPECT_EQ(std::stoll(FrameLines.front()), Row.FirstOffset);
        EXPECT_EQ(std::stoll(FrameLines.back()), Row.LastOffset);
        // Nothing but "offset<TAB>length" on standard output, each frame
        // starting where the last one ended unless junk lay between.
        long long Expected = -1;
        for (const auto& Line : FrameLines) {
            long long Offset = 0, Length = 0;
            char Tail = 0;
            ASSERT_EQ(std::sscanf(Line.c_str(), "%lld\t%lld%c", &Offset, &Length, &Tail), 2)
                << Line;
            if (Row.Name != "junk-between.mp3" && Expected >= 0) {
                EXPECT_EQ(Offset, Expected);
            }
            Expected = Offset + Length;
        }
    }
}

TEST(CliInfo, PlayTimeIsTheSumOfTheFramesPlayTimes) {
    auto Info = RunCli({"info", FixturePath("layer2.mp3")});
    EXPECT_NE(Info.Stdout.find("Play time: 2.016 s\n"), std::string::npos) << Info.Stdout;
    // 116 audio frames of 1152 samples at 44100 Hz; the Info frame takes none.
    Info = RunCli({"info", FixturePath("cbr-128-info.mp3")});
    EXPECT_NE(Info.Stdout.find("Play time: 3.030 s\n"), std::string::npos) << Info.Stdout;
    Info = RunCli({"info", FixturePath("truncated-last.mp3")});
    EXPECT_NE(Info.Stdout.find("  matches the frames: no: 78 frames claimed, 77 found; "),
              std::string::npos)
        << Info.Stdout;
}

TEST(CliInfo, OutputThatCannotBeWrittenIsAFailure) {
    // Standard output on a full device: the frame list is lost, so the
    // command must not end as if it had been delivered.
    for (const std::vector<std::string>& Args :
         {std::vector<std::string>{"info", "--frames", FixturePath("layer2.mp3")},
          {"info", FixturePath("layer2.mp3")},
          {"info", "--help"},
          {"--version"}}) {
        std::vector<std::string> Shell = {"-c", "exec \"$@\" > /dev/full", "sh", SEGMORA_CLI_PATH};
        Shell.insert(Shell.end(), Args.begin(), Args.end());
        auto Result = RunProcess("/bin/sh", Shell);
        EXPECT_EQ(Result.ExitCode, 1) << testing::PrintToString(Args);
        EXPECT_NE(Result.Stderr.find("cannot write to standard output"), std::string::npos)
            << Result.Stderr;
    }
}

TEST(CliInfo, FailuresAndUsage) {
    TTempDir Dir;
    auto Missing = RunCli({"info", Dir.File("missing.mp3")});
    EXPECT_EQ(Missing.ExitCode, 1);
    EXPECT_EQ(Missing.Stderr, "System error.  Code: 2.\nNo such file or directory\nFile: " +
                                  Dir.File("missing.mp3") + "\n");
    EXPECT_TRUE(Missing.Stdout.empty());

    for (const std::vector<std::string>& Bad : {std::vector<std::string>{},
                                                {"info"},
                                                {"info", "a.mp3", "b.mp3"},
                                                {"info", "--bogus", "a"},
                                                {"no-such-command"}}) {
        auto Result = RunCli(Bad);
        EXPECT_EQ(Result.ExitCode, 2) << testing::PrintToString(Bad);
        EXPECT_NE(Result.Stderr.find("Usage: segmora-cli"), std::string::npos);
    }
    for (const std::vector<std::string>& Help : {std::vector<std::string>{"--help"},
                                                 {"info", "--help"},
                                                 {"split", "--help"},
                                                 {"cut", "-h"},
                                                 {"prepare", "--help"},
                                                 {"tag", "--help"},
                                                 {"play", "--help"}}) {
        auto Result = RunCli(Help);
        EXPECT_EQ(Result.ExitCode, 0) << testing::PrintToString(Help);
        EXPECT_NE(Result.Stdout.find("Usage: segmora-cli"), std::string::npos);
    }
}

TEST(CliInfo, WhatIsNotMpegAudioIsRefusedByEveryCommandAndNothingIsMade) {
    TTempDir Dir;
    TBytes Random(200'000);
    uint32_t State = 12345;
    for (auto& Byte : Random)
        Byte = static_cast<uint8_t>((State = State * 1103515245 + 12345) >> 16);
    WriteFileBytes(Dir.File("random.mp3"), Random);
    const std::string Keep = Dir.File("keep.mp3");
    const TBytes Kept(5000, 0x42);
    for (const std::string& Source : {Dir.File("random.mp3"), FixturePath("wav-renamed.mp3"),
                                     FixturePath("free-format.mp3"), FixturePath("cover.jpg")}) {
        SCOPED_TRACE(Source);
        WriteFileBytes(Keep, Kept);
        const std::vector<std::vector<std::string>> Commands = {
            {"info", Source},
            {"prepare", Source, Keep, "--overwrite"},
            {"cut", Source, "--start", "0", "--end", "1", "--out", Keep, "--overwrite"},
            {"split", Source, "--parts", "2", "--folder", Dir.File("parts"), "--prefix", "p"},
        };
        for (const auto& Command : Commands) {
            SCOPED_TRACE(Command[0]);
            const auto Result = RunCli(Command);
            EXPECT_EQ(Result.ExitCode, 1);
            EXPECT_NE(Result.Stderr.find("Not an MPEG audio file: " + Source), std::string::npos)
                << Result.Stderr;
            EXPECT_EQ(ReadFileBytes(Keep), Kept);
            EXPECT_FALSE(FileExists(Dir.File("parts/p1.mp3")));
        }
    }
}

TEST(CliInfo, TaggedFixturesCountTheirAudioFramesOnly) {
    for (const auto& Fixture : TaggedFixtures()) {
        SCOPED_TRACE(Fixture.Name);
        const auto Info = RunCli({"info", FixturePath(Fixture.Name)});
        ASSERT_EQ(Info.ExitCode, 0) << Info.Stderr;
        EXPECT_NE(Info.Stdout.find("Frames: " + std::to_string(Fixture.Offsets.size()) + "\n"),
                  std::string::npos)
            << Info.Stdout;
    }
}
