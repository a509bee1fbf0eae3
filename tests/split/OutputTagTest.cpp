// The ID3v2 tag every output starts with, read back by mutagen: the source's
// fields and cover, the user's fields over them, a part's number, the
// chapters that lie in the output on its own clock; and frames byte-equal to
// those of the same job without tags.

#include "FileAccess.h"
#include "FrameClock.h"
#include "JobTestSupport.h"
#include "MutagenTags.h"
#include "Segmora.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

namespace {

using TLines = std::vector<std::string>;

// Lines of mutagen's reading whose frame ID is one of Ids, sorted.
TLines Only(const std::string& Read, const std::set<std::string>& Ids) {
    TLines Lines;
    std::istringstream In(Read);
    for (std::string Line; std::getline(In, Line);)
        if (Ids.contains(Line.substr(0, Line.find('='))))
            Lines.push_back(Line);
    std::sort(Lines.begin(), Lines.end());
    return Lines;
}

TLines Sorted(TLines Lines) {
    std::sort(Lines.begin(), Lines.end());
    return Lines;
}

// The chaptered source's chapters that overlap [Start, End) ms, as mutagen
// shows them once moved to the output's start.
TLines MovedChapters(int64_t Start, int64_t End) {
    const struct {
        const char* Id;
        int64_t From, To;
        const char* Title;
    } Chapters[] = {
        {"ch0", 0, 1000, "One"}, {"ch1", 1000, 2000, "Two ✓"}, {"ch2", 2000, 3000, "Three"}};
    TLines Lines;
    std::string Toc = "CTOC=toc";
    for (const auto& C : Chapters)
        if (C.From < End && C.To > Start) {
            const int64_t From = std::max(C.From, Start) - Start;
            Lines.push_back(std::string("CHAP=") + C.Id + " " + std::to_string(From) + "-" +
                            std::to_string(std::min(C.To, End) - Start) + " " + C.Title);
            Toc += std::string(" ") + C.Id;
        }
    if (!Lines.empty())
        Lines.push_back(Toc);
    return Lines;
}

class OutputTags : public testing::Test {
protected:
    void SetUp() override {
        if (!MutagenAvailable())
            GTEST_SKIP() << "/usr/bin/python3 with mutagen is missing";
        ASSERT_TRUE(MutagenChapteredCopy(Dir.File("chaptered.mp3")));
    }

    // Runs a split (Selection false) or a cut of Source into Folder.
    void Run(const std::string& Source, const std::string& Folder, bool Selection,
             bool NoTags = false, const TTagFields& Fields = {}, const TID3Info& Info = {}) {
        TRecordingFrontEnd FrontEnd;
        TSegmora Segmora;
        Segmora.SetFrontEnd(&FrontEnd);
        Segmora.SetSourceFile(Source);
        Segmora.SetFolder(Folder);
        Segmora.SetPrefix("p");
        Segmora.SetPartCount(3);
        Segmora.SetDestFile(Folder + "/cut.mp3");
        Segmora.SetSelStart(500);
        Segmora.SetSelEnd(2500);
        Segmora.SetNoTags(NoTags);
        Segmora.SetTagFields(Fields);
        Segmora.SetID3Info(Info);
        Segmora.Execute(Selection);
        ASSERT_TRUE(FrontEnd.Errors.empty()) << FrontEnd.Errors.front();
    }

    std::string Read(const std::string& File) {
        return MutagenReadID3v2(File, Dir.File("cover.out"));
    }

    void ExpectCover() {
        EXPECT_EQ(ReadFileBytes(Dir.File("cover.out")), ReadFileBytes(FixturePath("cover.jpg")));
    }

    // The output is the untagged job's output behind its tag, to the byte.
    void ExpectFramesOf(const std::string& Tagged, const std::string& Untagged) {
        const TBytes Bare = ReadFileBytes(Untagged);
        ASSERT_FALSE(Bare.empty());
        EXPECT_EQ(Bare.front(), 0xFF) << "no tag without tags";
        EXPECT_EQ(WithoutID3v2(ReadFileBytes(Tagged)), Bare);
    }

    TTempDir Dir;
};

} // namespace

TEST_F(OutputTags, SplitPartsCarryTheSourceTagNumberedWithTheirChaptersAndTheSameFrames) {
    std::filesystem::create_directory(Dir.File("tagged"));
    std::filesystem::create_directory(Dir.File("bare"));
    Run(Dir.File("chaptered.mp3"), Dir.File("tagged"), false);
    Run(Dir.File("chaptered.mp3"), Dir.File("bare"), false, true);
    int64_t Start = 0;
    int64_t FramesBefore = 0;
    for (int Part = 1; Part <= 3; ++Part) {
        SCOPED_TRACE("part " + std::to_string(Part));
        const std::string Name = "/p" + std::to_string(Part) + ".mp3";
        ExpectFramesOf(Dir.File("tagged") + Name, Dir.File("bare") + Name);
        // The part's clock: its audio frames, the information frame left out,
        // counted from the source's first.
        FramesBefore += static_cast<int64_t>(AudioFrames(Dir.File("bare") + Name).size());
        const int64_t End = TicksToMs(FramesBefore * FrameTicks(1, 3, 44100));
        const std::string Number = std::to_string(Part) + "/3";
        const std::string Tag = Read(Dir.File("tagged") + Name);
        EXPECT_EQ(
            Only(Tag, {"version", "TIT2", "TPE1", "TALB", "TRCK", "APIC"}),
            Sorted({"version=2.3", "TIT2=" + std::string(MutagenUnicodeTitle) + " (" + Number + ")",
                    "TPE1=Ærø", "TALB=Chapters", "TRCK=" + Number, "APIC=image/jpeg"}))
            << Tag;
        ExpectCover();
        EXPECT_EQ(Only(Tag, {"CHAP", "CTOC"}), Sorted(MovedChapters(Start, End))) << Tag;
        EXPECT_EQ(Only(Tag, {"TLEN"}), TLines{}) << "the source's length is no part's";
        Start = End;
    }
}

TEST_F(OutputTags, ACutCarriesTheSourceTagUnderTheUsersFieldsAndItsID3v1AsBefore) {
    TID3Info Info;
    Info.Title = "Cut";
    Info.Genre = 255;
    // Case: the source, the user's fields, the tag lines mutagen shows.
    const struct {
        std::string Source;
        TTagFields Fields;
        TLines Expected;
    } Cases[] = {
        {Dir.File("chaptered.mp3"),
         {},
         {"version=2.3", "TIT2=" + std::string(MutagenUnicodeTitle), "TPE1=Ærø", "TALB=Chapters",
          "APIC=image/jpeg", "CHAP=ch0 0-504 One", "CHAP=ch1 504-1504 Two ✓",
          "CHAP=ch2 1504-1985 Three", "CTOC=toc ch0 ch1 ch2"}},
        {Dir.File("chaptered.mp3"),
         {.Title = "Cut ✓", .Track = "4"},
         {"version=2.3", "TIT2=Cut ✓", "TPE1=Ærø", "TALB=Chapters", "TRCK=4"}},
        {FixturePath("tag-utf16-cover.mp3"),
         {.Album = ""},
         {"version=2.3", "TIT2=The Tag Before the Audio – UTF-16 Text, a JPEG Cover",
          "TPE1=Segmora Tests", "APIC=image/jpeg"}},
        {FixturePath("id3v1-end.mp3"),
         {},
         {"version=2.3", "TIT2=Fixture With End Tag", "TPE1=Segmora Tests", "TALB=Fixtures"}},
        // Mutagen falls back to the ID3v1 tag when there is no ID3v2 tag.
        {FixturePath("cbr-128-info.mp3"), {}, {"version=2.1"}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Source + " " + Case.Expected.back());
        std::filesystem::create_directory(Dir.File("tagged"));
        std::filesystem::create_directory(Dir.File("bare"));
        Run(Case.Source, Dir.File("tagged"), true, false, Case.Fields, Info);
        Run(Case.Source, Dir.File("bare"), true, true, Case.Fields, Info);
        const std::string Tagged = Dir.File("tagged/cut.mp3");
        std::set<std::string> Ids = {"no tag", "version"};
        for (const auto& Line : Case.Expected)
            Ids.insert(Line.substr(0, Line.find('=')));
        const std::string Tag = Read(Tagged);
        EXPECT_EQ(Only(Tag, Ids), Sorted(Case.Expected)) << Tag;
        if (Ids.contains("APIC"))
            ExpectCover();
        TID3Info Back;
        ASSERT_TRUE(ReadID3Tag(Tagged, Back)) << "the ID3v1 tag stays at the end";
        EXPECT_EQ(Back.Title, "Cut");
        // The untagged output is the tagged one without either tag.
        TBytes Frames = WithoutID3v2(ReadFileBytes(Tagged));
        Frames.resize(Frames.size() - ID3TagSize);
        EXPECT_EQ(Frames, ReadFileBytes(Dir.File("bare/cut.mp3")));
        std::filesystem::remove_all(Dir.File("tagged"));
        std::filesystem::remove_all(Dir.File("bare"));
    }
}

TEST_F(OutputTags, TheSameSplitterTagsTheNextJobFromItsOwnSourceAndFields) {
    TRecordingFrontEnd FrontEnd;
    TSegmora Segmora;
    Segmora.SetFrontEnd(&FrontEnd);
    Segmora.SetFolder(Dir.Path());
    Segmora.SetPartCount(2);
    const struct {
        std::string Source;
        const char* Prefix;
        const char* Album;
    } Jobs[] = {{Dir.File("chaptered.mp3"), "a", "First"},
                {FixturePath("id3v1-end.mp3"), "b", "Second"}};
    for (const auto& Job : Jobs) {
        Segmora.SetSourceFile(Job.Source);
        Segmora.SetPrefix(Job.Prefix);
        Segmora.SetTagFields({.Album = Job.Album});
        Segmora.Execute(false);
    }
    ASSERT_TRUE(FrontEnd.Errors.empty()) << FrontEnd.Errors.front();
    const std::string Tag = Read(Dir.File("b1.mp3"));
    EXPECT_EQ(Only(Tag, {"TALB", "TIT2", "APIC", "CHAP"}),
              (TLines{"TALB=Second", "TIT2=Fixture With End Tag (1/2)"}))
        << Tag;
}
