// The source's tag read through an open handle, and the tags rendered for
// the outputs read back by mutagen, a reader of its own.

#include "SourceTag.h"
#include "FileAccess.h"
#include "MutagenTags.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace {

using TLines = std::vector<std::string>;

std::string KeyOf(const std::string& Line) {
    return Line.substr(0, Line.find('='));
}

// Lines of Read whose key is one of Keys, sorted.
TLines Only(const std::string& Read, const std::set<std::string>& Keys) {
    TLines Lines;
    std::istringstream In(Read);
    for (std::string Line; std::getline(In, Line);)
        if (Keys.contains(KeyOf(Line)))
            Lines.push_back(Line);
    std::sort(Lines.begin(), Lines.end());
    return Lines;
}

} // namespace

TEST(SourceTagRead, LeadingID3v2ElseID3v1ThroughTheHandleLeavingItsPosition) {
    const struct {
        const char* File;
        bool ID3v2;
        TTagFields Fields;
    } Cases[] = {
        {"tag-utf16-cover.mp3",
         true,
         {"The Tag Before the Audio – UTF-16 Text, a JPEG Cover", "Segmora Tests",
          "a Tag the Frame Reader Must Skip", "2024",
          "Made by make-tagged.py from cbr-128-info.mp3"}},
        {"id3v1-end.mp3",
         false,
         {"Fixture With End Tag",
          "Segmora Tests",
          "Fixtures",
          "2024",
          "made by make-fixtures.sh",
          {},
          "Ambient"}},
        {"cbr-128-info.mp3", false, {}},
        {"tag-v24-appended.mp3", false, {}}, // behind the audio: not the leading tag
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.File);
        const int Handle = FileOpen(FixturePath(Case.File), fmOpenRead);
        ASSERT_GE(Handle, 0);
        FileSeek(Handle, 5, TSeekOrigin::Begin);
        const TSourceTag Tag = TSourceTag::FromHandle(Handle);
        EXPECT_EQ(FileSeek(Handle, 0, TSeekOrigin::Current), 5);
        FileClose(Handle);
        EXPECT_EQ(Tag.FromID3v2(), Case.ID3v2);
        EXPECT_EQ(Tag.Empty(), Case.Fields == TTagFields{});
        EXPECT_EQ(Tag.Fields(), Case.Fields);
    }
}

TEST(SourceTag, Utf8TextAndChaptersReadAndRenderedAsMutagenReadsThem) {
    SKIP_WITHOUT_MUTAGEN();
    TTempDir Dir;
    ASSERT_TRUE(MutagenChapteredCopy(Dir.File("chaptered.mp3")));
    const TSourceTag Chaptered = TSourceTag::FromBytes(ReadFileBytes(Dir.File("chaptered.mp3")));
    EXPECT_EQ(Chaptered.Fields().Title, MutagenUnicodeTitle);
    EXPECT_EQ(
        Chaptered.Chapters(),
        (std::vector<TChapter>{{0, 1000, "One"}, {1000, 2000, "Two ✓"}, {2000, 3000, "Three"}}));

    const TSourceTag ID3v1 = TSourceTag::FromBytes(ReadFileBytes(FixturePath("id3v1-end.mp3")));
    const TSourceTag None;
    const std::string Title = MutagenUnicodeTitle;
    auto Unnumbered = TOutputPlace::PartOf(2, 3, 0, 3000);
    Unnumbered.NumberTitle = false;
    // A cue sheet's track: its own title and performer, not numbered.
    auto Track = Unnumbered;
    Track.Title = "Own";
    Track.Artist = "Performer";
    // Each case checks exactly the lines it names the frames of, and that
    // the frames in Gone are not there.
    const struct {
        const TSourceTag& Source;
        TTagFields Fields;
        TOutputPlace Place;
        TLines Expected;
        std::set<std::string> Gone = {};
    } Cases[] = {
        {Chaptered,
         {},
         TOutputPlace::PartOf(2, 3, 800, 2200),
         {"version=2.3", "TIT2=" + Title + " (2/3)", "TPE1=Ærø", "TALB=Chapters", "TRCK=2/3",
          "TYER=2024", "TCON=Ambient", "COMM=Three chapters", "APIC=image/jpeg",
          "CHAP=ch0 0-200 One", "CHAP=ch1 200-1200 Two ✓", "CHAP=ch2 1200-1400 Three",
          "CTOC=toc ch0 ch1 ch2"},
         {"TLEN"}},
        {Chaptered,
         {},
         TOutputPlace::Segment(1000, 2000),
         {"TIT2=" + Title, "TRCK=3/7", "CHAP=ch1 0-1000 Two ✓", "CTOC=toc ch1"}},
        {Chaptered, {}, TOutputPlace::Segment(3000, 4000), {"TPE1=Ærø"}, {"CHAP", "CTOC"}},
        {Chaptered,
         {.Title = "Typed", .Genre = "Jazz"},
         TOutputPlace::PartOf(2, 3, 0, 3000),
         {"TIT2=Typed (2/3)", "TCON=Jazz"}},
        {Chaptered, {.Title = "Typed"}, Unnumbered, {"TIT2=Typed", "TRCK=2/3"}},
        {Chaptered, {.Title = "", .Comment = ""}, Unnumbered, {"TPE1=Ærø"}, {"TIT2", "COMM"}},
        {ID3v1,
         {},
         TOutputPlace::PartOf(1, 2, 0, 1000),
         {"TIT2=Fixture With End Tag (1/2)", "TRCK=1/2", "TCON=Ambient", "TYER=2024"}},
        {None, {}, TOutputPlace::PartOf(1, 2, 0, 1000), {"no tag"}},
        {Chaptered, {}, Track, {"TIT2=Own", "TPE1=Performer", "TALB=Chapters", "TRCK=2/3"}},
        {Chaptered, {.Artist = "Typed"}, Track, {"TIT2=Own", "TPE1=Typed"}},
        {None, {}, Track, {"version=2.3", "TIT2=Own", "TPE1=Performer", "TRCK=2/3"}},
        {None, {.Title = Title}, TOutputPlace::Segment(0, 1000), {"version=2.3", "TIT2=" + Title}},
    };
    const auto Audio = ReadFileBytes(FixturePath("cbr-128-info.mp3"));
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Expected.front());
        std::vector<uint8_t> Output = RenderOutputTag(Case.Source, Case.Fields, Case.Place);
        Output.insert(Output.end(), Audio.begin(), Audio.end());
        WriteFileBytes(Dir.File("out.mp3"), Output);
        const std::string Read = MutagenReadID3v2(Dir.File("out.mp3"), Dir.File("cover.out"));
        std::set<std::string> Keys = Case.Gone;
        for (const std::string& Line : Case.Expected)
            Keys.insert(KeyOf(Line));
        TLines Expected = Case.Expected;
        std::sort(Expected.begin(), Expected.end());
        EXPECT_EQ(Only(Read, Keys), Expected) << Read;
        if (Keys.contains("APIC")) {
            EXPECT_EQ(ReadFileBytes(Dir.File("cover.out")),
                      ReadFileBytes(FixturePath("cover.jpg")));
        }
    }
}

TEST(SourceTagGenres, ByNameInAnyCaseOrByNumberSpelledAsTheListSpellsThem) {
    ASSERT_GE(GenreNames().size(), 148u);
    EXPECT_EQ(GenreNames()[0], "Blues");
    const struct {
        const char* Given;
        std::optional<std::string> Name;
        uint8_t Number;
    } Cases[] = {{"Ambient", "Ambient", 26}, {"hip-hop", "Hip-Hop", 7},
                 {"0", "Blues", 0},          {"17", "Rock", 17},
                 {"255", std::nullopt, 255}, {"Nowhere", std::nullopt, 255},
                 {"", std::nullopt, 255}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Given);
        EXPECT_EQ(GenreByNameOrNumber(Case.Given), Case.Name);
        EXPECT_EQ(GenreNumber(Case.Name.value_or(Case.Given)), Case.Number);
    }
}

namespace {

// Where the frames of an ID3v2.3 tag end, each frame's size leading to the
// next and zeros after the last; -1 when a frame runs past the size in the
// tag's header or a byte of the padding is not zero.
int64_t FramesEnd(const std::vector<uint8_t>& Tag) {
    const int64_t End = ID3v2TagSize(Tag.data());
    int64_t At = ID3v2HeaderSize;
    while (At + 10 <= End && Tag[At] != 0)
        At +=
            10 + (int64_t{Tag[At + 4]} << 24 | Tag[At + 5] << 16 | Tag[At + 6] << 8 | Tag[At + 7]);
    if (At > End || std::any_of(Tag.begin() + At, Tag.begin() + End, [](uint8_t B) { return B; }))
        return -1;
    return At;
}

} // namespace

TEST(SourceTagOutputs, OutputsOfOneJobEachHoldTheCoverOnceInATagAsLongAsItsHeaderSays) {
    SKIP_WITHOUT_MUTAGEN();
    TTempDir Dir;
    ASSERT_TRUE(MutagenChapteredCopy(Dir.File("chaptered.mp3")));
    const TOutputTags Tags(TSourceTag::FromBytes(ReadFileBytes(Dir.File("chaptered.mp3"))),
                           {.Album = "Typed"});
    const auto Cover = ReadFileBytes(FixturePath("cover.jpg"));
    const struct {
        TOutputPlace Place;
        std::vector<TChapter> Chapters;
    } Cases[] = {
        {TOutputPlace::PartOf(1, 3, 0, 1000), {{0, 1000, "One"}}},
        {TOutputPlace::PartOf(2, 3, 500, 2000), {{0, 500, "One"}, {500, 1500, "Two ✓"}}},
        // Again: no output changes what the next ones share.
        {TOutputPlace::PartOf(1, 3, 0, 1000), {{0, 1000, "One"}}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Chapters.back().EndMs);
        const std::vector<uint8_t> Tag = Tags.Render(Case.Place).Bytes();
        ASSERT_GE(Tag.size(), 10u);
        EXPECT_EQ(ID3v2TagSize(Tag.data()), static_cast<int64_t>(Tag.size()));
        EXPECT_GT(FramesEnd(Tag), 0) << "each frame's size leads to the next";
        int Covers = 0;
        for (auto At = Tag.begin();
             (At = std::search(At, Tag.end(), Cover.begin(), Cover.end())) != Tag.end(); ++At)
            ++Covers;
        EXPECT_EQ(Covers, 1);
        const TSourceTag Back = TSourceTag::FromBytes(Tag);
        EXPECT_EQ(Back.Fields().Title, std::string(MutagenUnicodeTitle) + " (" +
                                           std::to_string(Case.Place.Part) + "/3)");
        EXPECT_EQ(Back.Fields().Album, "Typed");
        EXPECT_EQ(Back.Chapters(), Case.Chapters);
    }
}

TEST(SourceTagOutputs, PaddingIsTheSourceTagsRoomLeftOverIfAtMostOnePercentElseOneKiB) {
    const auto Audio = ReadFileBytes(FixturePath("cbr-128-info.mp3"));
    // A source behind a tag of Fields, made with 1 KiB of padding.
    auto SourceOf = [&Audio](const TTagFields& Fields) {
        std::vector<uint8_t> File = RenderOutputTag(TSourceTag(), Fields, {});
        File.insert(File.end(), Audio.begin(), Audio.end());
        return File;
    };
    const std::string Long(300000, 'x'); // a tag of 300 KB: 3000 bytes are 1%
    const auto Small = SourceOf({.Title = "Song", .Comment = "Words"});
    const auto Big = SourceOf({.Title = "Song", .Comment = Long});
    // Each as a part: its numbering adds 20 bytes or so.
    const struct {
        const char* Name;
        const std::vector<uint8_t>& Source;
        TTagFields Overrides;
        bool KeepsTheSourceTagsSize; // else 1 KiB of padding
    } Cases[] = {
        {"the numbering takes from the padding", Small, {}, true},
        {"longer than the source's tag", Small, {.Title = Long}, false},
        {"1000 bytes left over, 1% is 3000", Big, {.Comment = Long.substr(1000)}, true},
        {"all of 300 KB left over", Big, {.Comment = ""}, false},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        const std::vector<uint8_t> Tag = RenderOutputTag(
            TSourceTag::FromBytes(Case.Source), Case.Overrides, TOutputPlace::PartOf(1, 2, 0, 1));
        const int64_t Frames = Tag.size() >= 10 ? FramesEnd(Tag) : -1;
        ASSERT_GT(Frames, 0);
        if (Case.KeepsTheSourceTagsSize)
            EXPECT_EQ(Tag.size(), static_cast<size_t>(ID3v2TagSize(Case.Source.data())));
        else
            EXPECT_EQ(static_cast<int64_t>(Tag.size()) - Frames, 1024);
    }
}
