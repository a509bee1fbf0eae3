// Both tags through the command line: tag shows and writes them, cut and
// split take the same options and --no-tags; mutagen reads the results.

#include "CliTestSupport.h"
#include "FrameFiles.h"
#include "ID3v1.h"
#include "MutagenTags.h"
#include "Processes.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

namespace {

const std::string Unicode = "Beyoncé – Déjà vu ✓";

// Mutagen's lines for the frame IDs in Ids, sorted.
std::vector<std::string> ID3v2Lines(const std::string& File, const std::string& Cover,
                                    const std::set<std::string>& Ids) {
    std::vector<std::string> Lines;
    std::istringstream In(MutagenReadID3v2(File, Cover));
    for (std::string Line; std::getline(In, Line);)
        if (Ids.contains(Line.substr(0, Line.find('='))))
            Lines.push_back(Line);
    std::sort(Lines.begin(), Lines.end());
    return Lines;
}

class CliTags : public TCliTest {
protected:
    void SetUp() override {
        if (!MutagenAvailable())
            GTEST_SKIP() << "/usr/bin/python3 with mutagen is missing";
    }
    const std::string Covered = FixturePath("tag-utf16-cover.mp3");
};

} // namespace

TEST_F(CliTags, TagWritesBothTagsKeepingTheOtherFieldsTheCoverAndTheFrames) {
    const std::string Copy = Dir.File("copy.mp3");
    WriteFileBytes(Copy, ReadFileBytes(Covered));
    const auto Result = RunCli(
        {"tag", Copy, "--title", Unicode, "--track", "2/9", "--genre", "jazz", "--year", "1999"});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()),
                            std::filesystem::directory_iterator()),
              1)
        << "no file is left beside it";
    EXPECT_EQ(ID3v2Lines(Copy, Dir.File("cover.out"),
                         {"version", "TIT2", "TPE1", "TALB", "TRCK", "TCON", "TYER", "APIC"}),
              (std::vector<std::string>{"APIC=image/jpeg", "TALB=a Tag the Frame Reader Must Skip",
                                        "TCON=Jazz", "TIT2=" + Unicode, "TPE1=Segmora Tests",
                                        "TRCK=2/9", "TYER=1999", "version=2.3"}));
    EXPECT_EQ(ReadFileBytes(Dir.File("cover.out")), ReadFileBytes(FixturePath("cover.jpg")));
    TID3TagBlock Block;
    ASSERT_TRUE(ReadID3TagBlock(Copy, Block));
    TID3Info ID3v1;
    UnpackID3Tag(Block, ID3v1);
    EXPECT_EQ(ID3v1.Title, "Beyonc\xE9 ? D\xE9j\xE0 vu ?");
    EXPECT_EQ(ID3v1.Genre, 8) << "Jazz";
    EXPECT_EQ(ID3v11Track(Block), 2);
    EXPECT_EQ(ReaderFrames(Copy), ReaderFrames(Covered)) << "the frames are untouched";

    // Shown: the ID3v1 tag as before, then the ID3v2 tag in full.
    const auto Shown = RunCli({"tag", Copy}).Stdout;
    EXPECT_TRUE(Contains(Shown, "Genre:   8\nID3v2 tag:\n  Title:   " + Unicode + "\n")) << Shown;
    EXPECT_TRUE(Contains(Shown, "  Track:   2/9\n  Genre:   Jazz\n")) << Shown;
}

TEST_F(CliTags, TagThroughALinkRewritesTheFileItLeadsToAndKeepsTheLink) {
    const std::string Real = Dir.File("real.mp3");
    const std::string Link = Dir.File("link.mp3");
    WriteFileBytes(Real, ReadFileBytes(Covered));
    std::filesystem::create_symlink(Real, Link);
    ASSERT_EQ(RunCli({"tag", Link, "--artist", "Linked"}).ExitCode, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(Link));
    EXPECT_EQ(ID3v2Lines(Real, Dir.File("cover.out"), {"TPE1"}),
              std::vector<std::string>{"TPE1=Linked"});
}

TEST_F(CliTags, GenreByNameOrNumberElseAUsageError) {
    const std::string Copy = Dir.File("copy.mp3");
    const struct {
        const char* Given;
        int Exit;
        int ID3v1;
        const char* ID3v2;
    } Cases[] = {{"Ambient", 0, 26, "TCON=Ambient"},
                 {"17", 0, 17, "TCON=Rock"},
                 {"255", 0, 255, nullptr},
                 {"Nowhere", 2, -1, nullptr},
                 {"256", 2, -1, nullptr}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Given);
        WriteFileBytes(Copy, ReadFileBytes(Plain));
        const auto Result = RunCli({"tag", Copy, "--title", "T", "--genre", Case.Given});
        EXPECT_EQ(Result.ExitCode, Case.Exit) << Result.Stderr;
        if (Case.Exit != 0) {
            EXPECT_EQ(ReadFileBytes(Copy), ReadFileBytes(Plain)) << "nothing written";
            continue;
        }
        TID3Info ID3v1;
        ASSERT_TRUE(ReadID3Tag(Copy, ID3v1));
        EXPECT_EQ(ID3v1.Genre, Case.ID3v1);
        EXPECT_EQ(ID3v2Lines(Copy, Dir.File("cover.out"), {"TCON"}),
                  Case.ID3v2 ? std::vector<std::string>{Case.ID3v2} : std::vector<std::string>{});
    }
}

TEST_F(CliTags, CutAndSplitTakeTheTagOptionsAndNoTagsLeavesEveryTagOut) {
    ASSERT_EQ(RunCli({"cut", Covered, "--start", "0.5", "--end", "1.5", "--out",
                      Dir.File("cut.mp3"), "--artist", "Ærø", "--track", "4", "--quiet"})
                  .ExitCode,
              0);
    EXPECT_EQ(ID3v2Lines(Dir.File("cut.mp3"), Dir.File("cover.out"), {"TPE1", "TRCK", "APIC"}),
              (std::vector<std::string>{"APIC=image/jpeg", "TPE1=Ærø", "TRCK=4"}));
    ASSERT_EQ(RunCli({"split", Covered, "--parts", "2", "--folder", Dir.Path(), "--prefix", "p",
                      "--album", "Ærø", "--quiet"})
                  .ExitCode,
              0);
    EXPECT_EQ(ID3v2Lines(Dir.File("p2.mp3"), Dir.File("cover.out"), {"TALB", "TRCK"}),
              (std::vector<std::string>{"TALB=Ærø", "TRCK=2/2"}));
    ASSERT_EQ(RunCli({"split", Tagged, "--parts", "10", "--folder", Dir.Path(), "--prefix", "n",
                      "--no-tags", "--title", "Ignored", "--pad", "--quiet"})
                  .ExitCode,
              0);
    EXPECT_FALSE(FileExists(Dir.File("n1.mp3"))) << "--pad: n01.mp3 to n10.mp3";
    for (const char* Part : {"n01.mp3", "n09.mp3", "n10.mp3"}) {
        SCOPED_TRACE(Part);
        const auto Bytes = ReadFileBytes(Dir.File(Part));
        EXPECT_EQ(Concat(ReaderFrames(Dir.File(Part))), Bytes) << "frames alone, no tag";
    }
}
