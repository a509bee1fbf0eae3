#include "CliTestSupport.h"
#include "ID3v1.h"
#include "MutagenTags.h"
#include "Processes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

// What the options give in UTF-8 lands in the tag one byte per character, as
// every tag reader decodes it; a character outside ISO-8859-1 becomes "?" and
// the field is named on standard error.
TEST(CliTagText, TagAndCutWriteIso8859_1) {
    TTempDir Dir;
    const std::string Tagged = Dir.File("tagged.mp3"), Cut = Dir.File("cut.mp3");
    WriteFileBytes(Tagged, ReadFileBytes(FixturePath("cbr-128-info.mp3")));
    auto Result = RunCli({"tag", Tagged, "--title", "Beyonc\xC3\xA9", "--artist", "\xC3\x9C",
                          "--comment", "done \xE2\x9C\x93", "--year", "\xC3\xA9t\xC3\xA9!"});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_TRUE(Contains(Result.Stderr, "--comment") && !Contains(Result.Stderr, "--title"))
        << Result.Stderr;
    TID3Info Tag;
    ASSERT_TRUE(ReadID3Tag(Tagged, Tag));
    EXPECT_EQ(Tag, (TID3Info{"Beyonc\xE9", "\xDC", "", "\xE9t\xE9!", "done ?", 255}));

    // Thirty two-byte characters fill the field exactly, none cut in half.
    std::string Long;
    for (int I = 0; I < 31; ++I)
        Long += "\xC3\xA9";
    Result = RunCli({"cut", FixturePath("cbr-128-info.mp3"), "--start", "0", "--end", "1", "--out",
                     Cut, "--title", "\xE2\x9C\x93 \xC3\x9C", "--album", Long, "--quiet"});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Stderr;
    EXPECT_TRUE(Contains(Result.Stderr, "--title") && !Contains(Result.Stderr, "--album"))
        << Result.Stderr;
    ASSERT_TRUE(ReadID3Tag(Cut, Tag));
    EXPECT_EQ(Tag.Title, "? \xDC");
    EXPECT_EQ(Tag.Album, std::string(30, '\xE9'));

    SKIP_WITHOUT_MUTAGEN();
    const std::string Read = MutagenReadID3v1(Tagged);
    for (const char* Line : {"TIT2=Beyonc\xC3\xA9\n", "TPE1=\xC3\x9C\n", "COMM=done ?\n"})
        EXPECT_TRUE(Contains(Read, Line)) << Read;
    EXPECT_TRUE(Contains(MutagenReadID3v1(Cut), "TIT2=? \xC3\x9C\n"));

    // A tag another program wrote in ISO-8859-1 shows in UTF-8.
    ASSERT_TRUE(MutagenTaggedCopy(Tagged));
    Result = RunCli({"tag", Tagged});
    EXPECT_TRUE(Contains(Result.Stdout, "Title:   Beyonc\xC3\xA9\nArtist:  \xC3\x9C"
                                        "ber\nAlbum:   \xC2\xBD\n"))
        << Result.Stdout;
}

} // namespace
