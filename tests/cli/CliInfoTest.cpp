#include "Processes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

struct TFixtureRow {
    std::string Name;
    std::string FirstOffset, Frames, LastOffset, Version, Layer, SampleRate, Bitrate;
};

// The counts that independent tools measured when the fixtures were made.
std::vector<TFixtureRow> FixtureRows() {
    std::ifstream In(FixturePath("fixtures.tsv"));
    std::string Line;
    std::getline(In, Line);
    std::vector<TFixtureRow> Rows;
    while (std::getline(In, Line)) {
        std::vector<std::string> Cells;
        std::stringstream Row(Line);
        for (std::string Cell; std::getline(Row, Cell, '\t');)
            Cells.push_back(Cell);
        if (Cells.size() >= 13)
            Rows.push_back({Cells[0], Cells[2], Cells[3], Cells[4], Cells[9], Cells[10], Cells[11],
                            Cells[12]});
    }
    return Rows;
}

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> Result;
    std::stringstream In(Text);
    for (std::string Line; std::getline(In, Line);)
        Result.push_back(Line);
    return Result;
}

} // namespace

TEST(CliInfo, ReportsEveryFixtureAsTheIndependentToolsCountedIt) {
    const auto Rows = FixtureRows();
    ASSERT_GE(Rows.size(), 9u);
    const char* const Versions[] = {"", "MPEG-1", "MPEG-2", "MPEG-2.5"};
    const char* const Layers[] = {"", "I", "II", "III"};
    for (const auto& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        auto Info = RunCli({"info", FixturePath(Row.Name)});
        ASSERT_EQ(Info.ExitCode, 0) << Info.Stderr;
        const std::string& Out = Info.Stdout;
        EXPECT_NE(Out.find("First frame offset: " + Row.FirstOffset + "\n"), std::string::npos);
        EXPECT_NE(Out.find("Frames: " + Row.Frames + "\n"), std::string::npos) << Out;
        EXPECT_NE(Out.find(std::string("Version: ") + Versions[std::stoi(Row.Version)] + "\n"),
                  std::string::npos);
        EXPECT_NE(Out.find(std::string("Layer: ") + Layers[std::stoi(Row.Layer)] + "\n"),
                  std::string::npos);
        EXPECT_NE(Out.find("Sample rate: " + Row.SampleRate + " Hz"), std::string::npos);
        EXPECT_NE(
            Out.find("Bit rate: " + std::to_string(std::stoi(Row.Bitrate) / 1000) + " kbit/s"),
            std::string::npos);
        EXPECT_NE(Out.find("Play time: "), std::string::npos);

        auto Frames = RunCli({"info", "--frames", FixturePath(Row.Name)});
        ASSERT_EQ(Frames.ExitCode, 0);
        auto FrameLines = Lines(Frames.Stdout);
        ASSERT_EQ(std::to_string(FrameLines.size()), Row.Frames);
        EXPECT_EQ(FrameLines.front().substr(0, FrameLines.front().find('\t')), Row.FirstOffset);
        EXPECT_EQ(FrameLines.back().substr(0, FrameLines.back().find('\t')), Row.LastOffset);
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
}

TEST(CliInfo, FailuresAndUsage) {
    TTempDir Dir;
    auto Missing = RunCli({"info", Dir.File("missing.mp3")});
    EXPECT_EQ(Missing.ExitCode, 1);
    EXPECT_EQ(Missing.Stderr, "Win32 Error.  Code: 2.\nNo such file or directory\n");
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
