#include "ID3v1.h"
#include "MutagenTags.h"
#include "Processes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

bool Contains(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
}

class CliTagText : public testing::Test {
protected:
    std::string CopyOf(const std::string& Fixture, const std::string& Name) {
        WriteFileBytes(Dir.File(Name), ReadFileBytes(FixturePath(Fixture)));
        return Dir.File(Name);
    }
    TTempDir Dir;
};

} // namespace

// What the options give in UTF-8 lands in the tag one byte per character, as
// every tag reader decodes it; a character outside ISO-8859-1 becomes "?" and
// the field is named on standard error.
TEST_F(CliTagText, TagAndCutWriteIso8859_1) {
    const std::string Tagged = CopyOf("cbr-128-info.mp3", "tagged.mp3");
    auto Result = RunCli({"tag", Tagged, "--title", "Beyonc\xC3\xA9", "--artist", "\xC3\x9C",
                          "--comment", "done \xE2\x9C\x93", "--year", "\xC3\xA9t\xC3\xA9!"});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_TRUE(Contains(Result.Stderr, "--comment")) << Result.Stderr;
    EXPECT_FALSE(Contains(Result.Stderr, "--title")) << Result.Stderr;
    TID3Info Tag;
    ASSERT_TRUE(ReadID3Tag(Tagged, Tag));
    EXPECT_EQ(Tag, (TID3Info{"Beyonc\xE9", "\xDC", "", "\xE9t\xE9!", "done ?", 255}));

    // Thirty two-byte characters fill the field exactly, none cut in half.
    std::string Long;
    for (int I = 0; I < 31; ++I)
        Long += "\xC3\xA9";
    const std::string Cut = Dir.File("cut.mp3");
    Result = RunCli({"cut", FixturePath("cbr-128-info.mp3"), "--start", "0", "--end", "1", "--out",
                     Cut, "--title", "\xE2\x9C\x93 \xC3\x9C", "--album", Long, "--quiet"});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_TRUE(Contains(Result.Stderr, "--title")) << Result.Stderr;
    EXPECT_FALSE(Contains(Result.Stderr, "--album")) << Result.Stderr;
    ASSERT_TRUE(ReadID3Tag(Cut, Tag));
    EXPECT_EQ(Tag.Title, "? \xDC");
    EXPECT_EQ(Tag.Album, std::string(30, '\xE9'));

    if (!MutagenAvailable())
        GTEST_SKIP() << "/usr/bin/python3 with mutagen is missing";
    const std::string Read = MutagenReadID3v1(Tagged);
    for (const char* Line : {"TIT2=Beyonc\xC3\xA9\n", "TPE1=\xC3\x9C\n", "COMM=done ?\n"})
        EXPECT_TRUE(Contains(Read, Line)) << Read;
    EXPECT_TRUE(Contains(MutagenReadID3v1(Cut), "TIT2=? \xC3\x9C\n"));
}

// A tag another program wrote in ISO-8859-1 shows in UTF-8.
TEST_F(CliTagText, TagShowsIso8859_1AsUtf8) {
    if (!MutagenAvailable())
        GTEST_SKIP() << "/usr/bin/python3 with mutagen is missing";
    const std::string File = CopyOf("cbr-128-info.mp3", "other.mp3");
    ASSERT_TRUE(MutagenWriteID3v1(File, "Beyonc\xC3\xA9",
                                  "\xC3\x9C"
                                  "ber",
                                  "\xC2\xBD"));
    auto Result = RunCli({"tag", File});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_TRUE(Contains(Result.Stdout, "Title:   Beyonc\xC3\xA9\n")) << Result.Stdout;
    EXPECT_TRUE(Contains(Result.Stdout, "Artist:  \xC3\x9C"
                                        "ber\n"))
        << Result.Stdout;
    EXPECT_TRUE(Contains(Result.Stdout, "Album:   \xC2\xBD\n")) << Result.Stdout;
}
