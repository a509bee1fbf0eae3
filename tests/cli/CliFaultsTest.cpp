#include "CliTestSupport.h"
#include "Errors.h"
#include "FileAccess.h"
#include "FrameBuilder.h"
#include "FrameFiles.h"
#include "ID3v1.h"
#include "MP3Read.h"
#include "Processes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

// segmora-cli under faults injected for real: a file-size limit, signals, a
// second process, a pipe. After each, the source is unchanged, every output
// ends on a whole frame, and the status and message are the documented ones.

namespace {

// The file is whole frames, between the tags when Tagged: the frame reader
// takes every byte between them as a frame, and none is cut short.
void ExpectWholeFrames(const std::string& File, bool Tagged) {
    SCOPED_TRACE(File);
    auto Bytes = WithoutID3v2(ReadFileBytes(File));
    TID3Info Tag;
    ASSERT_EQ(ReadID3Tag(File, Tag), Tagged);
    if (Tagged)
        Bytes.resize(Bytes.size() - ID3TagSize);
    EXPECT_EQ(Concat(ReaderFrames(File)), Bytes);
}

// segmora-cli that must end within 10 s; a hang is killed and reported.
TProcessResult RunCliWithin(const std::vector<std::string>& Args) {
    TRunningProcess Process(SEGMORA_CLI_PATH, Args);
    if (WaitFor([&] { return Ended(Process.Pid()); }, 10))
        return Process.Wait();
    Process.Signal(SIGKILL);
    auto Result = Process.Wait();
    Result.Stderr += "\n(killed: still running after 10 s)";
    return Result;
}

class CliFaults : public TCliTest {};

} // namespace

TEST_F(CliFaults, AStopSignalDuringALongSearchEndsTheJobAtOnceWithNothingLeft) {
    // 128 MiB where no frame starts, then frames: a search of a second or
    // so. Without a stop check in the search the job would copy a frame
    // behind the junk and keep a part holding it.
    TStreamBuilder Stream;
    for (int I = 0; I < 64 * 1024; ++I)
        Stream.Bytes(std::vector<uint8_t>(1024, 0xFF)).Junk(1024);
    Stream.Frames(50).ID3v1("Late");
    const std::string Source = Dir.File("late.mp3");
    Stream.WriteTo(Source);
    TRunningProcess Split(SEGMORA_CLI_PATH, {"split", Source, "--parts", "2", "--folder",
                                             Dir.Path(), "--prefix", "p"});
    WaitFor([&] { return FileExists(Dir.File("p1.mp3")); }, 30);
    if (Ended(Split.Pid()))
        GTEST_SKIP() << "the split ended before the signal could be sent";
    Split.Signal(SIGTERM);
    const auto Result = Split.Wait();
    EXPECT_EQ(Result.ExitCode, 143) << Result.Stderr;
    EXPECT_EQ(Result.Stderr, "Terminated; what was written so far is kept.\n");
    EXPECT_FALSE(FileExists(Dir.File("p1.mp3"))) << "no frame was copied, no empty part left";
}

TEST_F(CliFaults, TwoSplitsIntoOneFolderNeverMixTheirParts) {
    const std::string Cli = SEGMORA_CLI_PATH;
    for (int Round = 0; Round < 5; ++Round) {
        SCOPED_TRACE(Round);
        const std::string Folder = Dir.File("race" + std::to_string(Round));
        std::filesystem::create_directory(Folder);
        TRunningProcess First(
            Cli, {"split", Tagged, "--parts", "3", "--folder", Folder, "--prefix", "p", "--quiet"});
        TRunningProcess Second(
            Cli, {"split", Plain, "--parts", "3", "--folder", Folder, "--prefix", "p", "--quiet"});
        const auto A = First.Wait();
        const auto B = Second.Wait();
        ASSERT_EQ(A.ExitCode + B.ExitCode, 1) << A.Stderr << B.Stderr;
        const std::string Winner = A.ExitCode == 0 ? Tagged : Plain;
        const std::string& LoserError = A.ExitCode == 0 ? B.Stderr : A.Stderr;
        // Refused by the check before the job or by the creation itself.
        EXPECT_TRUE(Contains(LoserError, Folder + "/p") && Contains(LoserError, "exists"))
            << LoserError;
        TBytes Frames;
        for (int Part = 1; Part <= 3; ++Part) {
            const std::string Name = Folder + "/p" + std::to_string(Part) + ".mp3";
            ExpectWholeFrames(Name, Winner == Tagged);
            // The audio of each part, behind the part's own information frame.
            const auto Joined = OutputAudio(Concat(ReaderFrames(Name)));
            Frames.insert(Frames.end(), Joined.begin(), Joined.end());
        }
        EXPECT_EQ(Frames, Concat(AudioFrames(Winner))) << "every part from the one source";
    }
}

TEST_F(CliFaults, AFileInUseByAnotherProcessIsRefusedWithTheInUseMessage) {
    const std::string Source = Dir.File("source.mp3");
    WriteFileBytes(Source, ReadFileBytes(Tagged));
    const auto Before = ReadFileBytes(Source);
    const std::string InUse = SysErrorMessage(ERROR_SHARING_VIOLATION);
    {
        // This process reads the source as a job does: writers are kept out.
        TMP3Reader Reader;
        Reader.Open(Source);
        for (const std::vector<std::string>& Args : std::vector<std::vector<std::string>>{
                 {"tag", Source, "--title", "Changed"},
                 {"cut", Plain, "--start", "0", "--end", "1", "--out", Source, "--overwrite"},
                 {"prepare", Plain, Source, "--overwrite"}}) {
            SCOPED_TRACE(Args[0]);
            const auto Result = RunCli(Args);
            EXPECT_EQ(Result.ExitCode, 1);
            EXPECT_TRUE(Contains(Result.Stderr, InUse)) << Result.Stderr;
            EXPECT_EQ(ReadFileBytes(Source), Before);
        }
        EXPECT_EQ(RunCli({"info", Source}).ExitCode, 0) << "readers share the file";
    }
    {
        // An output being written keeps everyone out, readers included.
        TFileStream Output(Source, fmOpenReadWrite | fmShareExclusive);
        const auto Result =
            RunCli({"split", Source, "--parts", "2", "--folder", Dir.File("parts")});
        EXPECT_EQ(Result.ExitCode, 1);
        EXPECT_TRUE(Contains(Result.Stderr, InUse)) << Result.Stderr;
        EXPECT_TRUE(Contains(Result.Stderr, Source)) << Result.Stderr;
        EXPECT_FALSE(FileExists(Dir.File("parts")));
    }
    EXPECT_EQ(RunCli({"tag", Source, "--title", "Free again"}).ExitCode, 0);
}

TEST_F(CliFaults, ClearAnswersNameTheFileAndTheCauseAndLeaveNothingBehind) {
    const auto Before = ReadFileBytes(Tagged);
    const std::string Long(300, 'n');
    WriteFileBytes(Dir.File("x2.mp3"), Before);
    const std::string Junk = Dir.File("junk.mp3");
    WriteFileBytes(Junk, TBytes(20000, 0x20));
    const std::string NotMpeg =
        "Not an MPEG audio file: " + Junk + "\nNo run of MPEG audio frames makes up most of it.";
    // A pipe is refused at once by every command, not read until it ends.
    const std::string Pipe = Dir.File("pipe.mp3");
    ASSERT_EQ(mkfifo(Pipe.c_str(), 0600), 0);
    const std::string NotAFile = "System error.  Code: " + std::to_string(ERROR_NOT_A_FILE) +
                                 ".\n" + SysErrorMessage(ERROR_NOT_A_FILE) + "\nFile: " + Pipe;
    struct TCase {
        std::vector<std::string> Args;
        std::string Error;
    };
    for (const auto& Case : std::vector<TCase>{
             {{"info", Pipe}, NotAFile},
             {{"split", Pipe, "--parts", "2", "--folder", Dir.File("parts")}, NotAFile},
             {{"cut", Pipe, "--start", "0", "--end", "1", "--out", Dir.File("o.mp3")}, NotAFile},
             {{"prepare", Pipe, Dir.File("o.mp3")}, NotAFile},
             {{"tag", Pipe}, NotAFile},
             {{"tag", Pipe, "--title", "x"}, NotAFile},
             // A split's folder is made only for a source that can be cut.
             {{"split", "/proc/self/status", "--parts", "2", "--folder", Dir.File("parts")},
              "Unable to receive file size"},
             {{"split", Tagged, "--parts", "2", "--folder", Dir.File("junk.mp3/parts")},
              "Cannot create folder " + Dir.File("junk.mp3/parts") + ": Not a directory"},
             // A job that writes no audio frame.
             {{"cut", Tagged, "--start", "100", "--end", "200", "--out", Dir.File("o.mp3")},
              "No audio frame was written: no frame of " + Tagged + " ends between the marks, so " +
                  Dir.File("o.mp3") + " was not made."},
             {{"split", Junk, "--parts", "2", "--folder", Dir.Path(), "--prefix", "j"}, NotMpeg},
             {{"prepare", Junk, Dir.File("o.mp3")}, NotMpeg},
             // The cause behind "Cannot create file".
             {{"cut", Tagged, "--start", "0", "--end", "1", "--out", "/dev/null", "--overwrite"},
              "Cannot create file /dev/null\nIt is not a regular file but a device."},
             {{"prepare", Tagged, Pipe},
              "Cannot create file " + Pipe + "\nIt is not a regular file but a pipe."},
             {{"cut", Tagged, "--start", "0", "--end", "1", "--out", Dir.File("none/o.mp3")},
              "Cannot create file " + Dir.File("none/o.mp3") + "\nNo such file or directory"},
             {{"cut", Tagged, "--start", "0", "--end", "1", "--out", Dir.File(Long)},
              "Cannot create file " + Dir.File(Long) + "\n" + strerror(ENAMETOOLONG)},
             {{"cut", Dir.File("x2.mp3"), "--start", "0", "--end", "1", "--out",
               Dir.File("./x2.mp3"), "--overwrite"},
              "Cannot create file " + Dir.File("./x2.mp3") + "\n" +
                  SysErrorMessage(ERROR_SHARING_VIOLATION)},
             // Part names, all checked before part 1.
             {{"split", Tagged, "--parts", "2", "--folder", Dir.Path(), "--prefix", "a/b"},
              "The prefix of the parts must not hold \"/\": a/b"},
             {{"split", Tagged, "--parts", "2", "--folder", Dir.Path(), "--prefix", Long},
              "Cannot create file " + Dir.File(Long + "1.mp3") + "\n" + strerror(ENAMETOOLONG)},
             {{"split", Dir.File("x2.mp3"), "--parts", "3", "--folder", Dir.Path(), "--prefix", "x",
               "--overwrite"},
              "Cannot create file " + Dir.File("x2.mp3") + "\nIt is the source file."},
         }) {
        SCOPED_TRACE(Case.Args[0] + " " + Case.Args[1]);
        const auto Result = RunCliWithin(Case.Args);
        EXPECT_EQ(Result.ExitCode, 1);
        EXPECT_EQ(Result.Stderr, Case.Error + "\n");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 3)
            << "nothing but x2.mp3, junk.mp3 and the pipe";
    }
    EXPECT_EQ(ReadFileBytes(Dir.File("x2.mp3")), Before);
    EXPECT_EQ(ReadFileBytes(Tagged), Before);
}

TEST_F(CliFaults, FileNamesAreShownWithTheirControlCharactersEscaped) {
    // ESC, CR, the C1 code CSI in UTF-8, a byte that begins no UTF-8
    // character and a backslash are escaped; letters beyond ASCII are not.
    const std::string Name = Dir.File("r\xD1\x80\xC3\xA9\x1B[2J\r\xC2\x9B\xFF\\.mp3");
    const std::string Shown = Dir.File("r\xD1\x80\xC3\xA9\\x1B[2J\\x0D\\xC2\\x9B\\xFF\\\\.mp3");
    EXPECT_EQ(RunCli({"tag", Name}).Stderr,
              "System error.  Code: 2.\nNo such file or directory\nFile: " + Shown + "\n");
    WriteFileBytes(Name, ReadFileBytes(Plain));
    EXPECT_EQ(RunCli({"tag", Name}).Stdout, Shown + " has no ID3v1 tag\n");
    EXPECT_TRUE(Contains(RunCli({"info", Name}).Stdout, "File: " + Shown + "\n"));
}

TEST_F(CliFaults, TagTextIsTextEvenWhenItLooksLikeAnOptionOrDrivesATerminal) {
    const std::string Copy = Dir.File("copy.mp3");
    WriteFileBytes(Copy, ReadFileBytes(Plain));
    ASSERT_EQ(RunCli({"tag", Copy, "--title", "-h", "--artist", "--help"}).ExitCode, 0);
    TID3Info Tag;
    ASSERT_TRUE(ReadID3Tag(Copy, Tag));
    EXPECT_EQ(Tag.Title + " " + Tag.Artist, "-h --help");
    EXPECT_TRUE(Contains(RunCli({"tag", Copy, "-h"}).Stdout, "Usage: segmora-cli tag"));

    // A title that would clear the screen and a comment with track 9.
    WriteID3Tag(Copy,
                {"Red\x1b[2J\x9b"
                 "31m\\",
                 "", "", "", "Side A" + std::string(22, '\0') + std::string("\0\x09", 2), 12});
    const auto Shown = RunCli({"tag", Copy});
    EXPECT_EQ(Shown.ExitCode, 0);
    EXPECT_EQ(Shown.Stdout, "Title:   Red\\x1B[2J\\x9B31m\\\\\nArtist:  \nAlbum:   \nYear:    \n"
                            "Comment: Side A\nTrack:   9\nGenre:   12\n"
                            "ID3v2 tag:\n  Title:   -h\n  Artist:  --help\n");
}
