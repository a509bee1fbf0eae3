#include "Processes.h"

#include <gtest/gtest.h>

// The version as the window program gives it: "segmora X.Y.Z" there,
// "segmora-cli X.Y.Z" here, one line on standard output and status 0.
TEST(CliVersion, AnswersWithItsNameAndTheProjectsVersion) {
    const TProcessResult Result = RunCli({"--version"});
    EXPECT_EQ(Result.ExitCode, 0);
    EXPECT_EQ(Result.Stdout, std::string("segmora-cli ") + SEGMORA_VERSION + "\n");
    EXPECT_EQ(Result.Stderr, "");

    const TProcessResult Help = RunCli({"--help"});
    EXPECT_NE(Help.Stdout.find("--version"), std::string::npos) << Help.Stdout;
}

// Only in the program's place: after a command it is an unknown option.
TEST(CliVersion, AfterACommandIsAnUnknownOption) {
    const TProcessResult Result = RunCli({"info", "--version"});
    EXPECT_EQ(Result.ExitCode, 2);
    EXPECT_EQ(Result.Stdout, "");
    EXPECT_NE(Result.Stderr.find("Usage: segmora-cli info"), std::string::npos) << Result.Stderr;
}
