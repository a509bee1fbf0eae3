#include "Processes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// segmora-cli play, run as a user would: real playback, in real time.

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point Start) {
    return std::chrono::duration<double>(TClock::now() - Start).count();
}

// The first start on a fresh machine builds GStreamer's plugin registry,
// which takes a while; timed runs come after it.
void WarmUp() {
    RunCli({"play", "/nonexistent/segmora-warm-up.mp3"});
}

} // namespace

TEST(CliPlay, PlaysThePartBetweenTheMarksAndEnds) {
    WarmUp();
    const auto Start = TClock::now();
    auto Run = RunCli({"play", FixturePath("cbr-128-info.mp3"), "--start", "1", "--end", "2.2"});
    const double Took = SecondsSince(Start);
    EXPECT_EQ(Run.ExitCode, 0) << Run.Stderr;
    // Off a terminal nothing is shown.
    EXPECT_EQ(Run.Stdout, "");
    EXPECT_EQ(Run.Stderr, "");
    EXPECT_GT(Took, 1.0);
    EXPECT_LT(Took, 2.8) << "the whole file would take 3 s";
}

TEST(CliPlay, AFileThatCannotBePlayedEndsWithThePlayersMessage) {
    TTempDir Dir;
    WriteTextFile(Dir.File("words.mp3"), 1480);

    auto Run = RunCli({"play", Dir.File("words.mp3")});
    EXPECT_EQ(Run.ExitCode, 1);
    EXPECT_EQ(Run.Stderr, "Not an MPEG audio file: " + Dir.File("words.mp3") +
                              "\nNo run of MPEG audio frames makes up most of it.\n");

    auto Missing = RunCli({"play", Dir.File("gone.mp3")});
    EXPECT_EQ(Missing.ExitCode, 1);
    EXPECT_EQ(Missing.Stderr, "Unable to open file. An object or name was not found.\n");

    auto Reversed = RunCli({"play", FixturePath("cbr-128-info.mp3"), "--start", "2", "--end", "1"});
    EXPECT_EQ(Reversed.ExitCode, 2);
    // The file plays 3.0302 s: a start is held to it by the millisecond.
    auto Late = RunCli({"play", FixturePath("cbr-128-info.mp3"), "--start", "3.031"});
    EXPECT_EQ(Late.ExitCode, 1);
    EXPECT_EQ(Late.Stderr, "The start lies past the end of the file (00:03.030)\n");
}

TEST(CliPlay, CtrlCEndsPlaybackWithSuccessAndSigtermAsStopped) {
    WarmUp();
    for (const auto& [Signal, ExitCode] : {std::pair{SIGINT, 0}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(Signal);
        const auto Start = TClock::now();
        TRunningProcess Play(SEGMORA_CLI_PATH, {"play", FixturePath("cbr-128-info.mp3")});
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        Play.Signal(Signal);
        auto Run = Play.Wait();
        EXPECT_EQ(Run.ExitCode, ExitCode) << Run.Stderr;
        EXPECT_LT(SecondsSince(Start), 2.5) << "the whole file would take 3 s";
    }
}

TEST(CliPlay, OnATerminalThePositionIsShownOnceASecond) {
    WarmUp();
    const auto [ExitCode, Stdout, Screen] =
        RunCliOnTerminal({"play", FixturePath("cbr-128-info.mp3"), "--end", "2.5"});
    EXPECT_EQ(ExitCode, 0) << Screen;
    // At the start, after one and two seconds, and where it stopped; each
    // drawn over the one before.
    const auto Shown = [&](const std::string& Text) {
        return Screen.find("\r" + Text + " / 00:03.0 ") != std::string::npos;
    };
    EXPECT_TRUE(Shown("00:00.0")) << Screen;
    EXPECT_TRUE(Shown("00:02.5")) << Screen;
    EXPECT_EQ(Screen.substr(Screen.size() - std::min<size_t>(Screen.size(), 20)),
              "00:02.5 / 00:03.0 \r\n")
        << "the last position ends the line";
    size_t Lines = 0;
    for (size_t At = Screen.find(" / 00:03.0 "); At != std::string::npos;
         At = Screen.find(" / 00:03.0 ", At + 1))
        ++Lines;
    EXPECT_GE(Lines, 3u) << Screen;
    EXPECT_LE(Lines, 5u) << Screen;
}
