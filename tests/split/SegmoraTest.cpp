#include "Segmora.h"
#include "Errors.h"
#include "FileAccess.h"
#include "FrameBuilder.h"
#include "InfoFrame.h"
#include "JobTestSupport.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

// A cutter wired to a recording front end, with its output in a temporary
// folder.
class Cutter : public testing::Test {
protected:
    void SetUp() override { Segmora.SetFrontEnd(&FrontEnd); }

    void Split(const std::string& Source, int32_t Parts, const std::string& Prefix = "part-") {
        Segmora.SetSourceFile(Source);
        Segmora.SetFolder(Dir.Path());
        Segmora.SetPrefix(Prefix);
        Segmora.SetPartCount(Parts);
        Segmora.Execute(false);
    }

    // Start and End in milliseconds.
    void Select(const std::string& Source, int64_t Start, int64_t End, const TID3Info& Tag = {}) {
        Segmora.SetSourceFile(Source);
        Segmora.SetDestFile(Out);
        Segmora.SetSelStart(Start);
        Segmora.SetSelEnd(End);
        Segmora.SetID3Info(Tag);
        Segmora.Execute(true);
    }

    // Writes 3000 frames to source.mp3, which shrinks to Size bytes under
    // the reader once 1000 frames were reported: the reader's next window
    // comes up short. Returns the source's frames as they were.
    std::vector<TBytes> ShrinkingSource(off_t Size) {
        TStreamBuilder Stream;
        Stream.Frames(3000);
        Stream.WriteTo(Dir.File("source.mp3"));
        FrontEnd.OnProgress = [this, Size](double) {
            if (FrontEnd.Progress.size() == 1000) {
                ASSERT_EQ(truncate(Dir.File("source.mp3").c_str(), Size), 0);
            }
        };
        return ReaderFrames(Dir.File("source.mp3"));
    }

    // The job reported the one failure a shrunken source gives.
    void ExpectSourceEndedEarly() {
        ASSERT_EQ(FrontEnd.Errors.size(), 1u);
        EXPECT_EQ(FrontEnd.Errors[0], "Unable to read file\nThe file ended early: it was cut short "
                                      "while it was read.\nFile: " +
                                          Dir.File("source.mp3"));
    }

    std::string Part(int Number) const {
        return Dir.File("part-" + std::to_string(Number) + ".mp3");
    }

    // The parts on disk are the expected frames, each followed by Tag and,
    // when InfoFrame, behind an information frame of its own.
    void ExpectParts(const std::vector<TBytes>& Expected, const std::optional<TBytes>& Tag,
                     bool InfoFrame = false) {
        for (size_t I = 0; I < Expected.size(); ++I) {
            SCOPED_TRACE("part " + std::to_string(I + 1));
            ASSERT_TRUE(FileExists(Part(static_cast<int>(I + 1))));
            const TBytes Bytes = ReadFileBytes(Part(static_cast<int>(I + 1)));
            EXPECT_EQ(StartsWithInfoFrame(Bytes), InfoFrame);
            EXPECT_EQ(OutputAudio(Bytes), Tag ? Concat(Expected[I], *Tag) : Expected[I]);
        }
        EXPECT_FALSE(FileExists(Part(static_cast<int>(Expected.size() + 1))));
    }

    TTempDir Dir;
    std::string Out = Dir.File("selection.mp3");
    TRecordingFrontEnd FrontEnd;
    TSegmora Segmora;
};

TID3Info YearOnly() {
    TID3Info Tag;
    Tag.Year = "2024";
    Tag.Genre = 255;
    return Tag;
}

TBytes PackedTag(const TID3Info& Info) {
    TID3TagBlock Block;
    PackID3Tag(Info, Block);
    return TBytes(Block.begin(), Block.end());
}

} // namespace

TEST_F(Cutter, ExecuteShowsTheJobAndReportsAFailureWhileTheDisplayIsUp) {
    Split(Dir.File("missing.mp3"), 3);
    EXPECT_EQ(FrontEnd.Caption, "Splitting...");
    EXPECT_EQ(FrontEnd.Text, "The selected file is being splited. Please wait...");
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_EQ(FrontEnd.Errors[0], EOSError(ENOENT, Dir.File("missing.mp3")).Message());
    EXPECT_TRUE(FrontEnd.AliveAtError);
    EXPECT_FALSE(FrontEnd.ProgressAlive);
    EXPECT_FALSE(FileExists(Part(1))) << "the source fails before any output exists";
    EXPECT_EQ(OpenFileCount(), 0);

    TSegmora Bare; // without a front end the failure reaches the caller
    Bare.SetSourceFile(Dir.File("missing.mp3"));
    Bare.SetDestFile(Out);
    EXPECT_THROW(Bare.Execute(true), EOSError);
}

// Splitting by parts.

TEST_F(Cutter, EveryFixtureSplitsIntoPartsThatJoinToItsFramesEachEndingWithItsTag) {
    for (const auto& Fixture : Fixtures()) {
        for (int32_t Parts : {2, 3, 7}) {
            SCOPED_TRACE(Fixture.Name + " in " + std::to_string(Parts));
            const std::string Source = FixturePath(Fixture.Name);
            const auto Frames = AudioFrames(Source);
            ASSERT_EQ(static_cast<int64_t>(Frames.size()), Fixture.Frames - Fixture.InfoFrame);
            std::filesystem::remove_all(Dir.Path());
            std::filesystem::create_directory(Dir.Path());
            FrontEnd.Progress.clear();

            Split(Source, Parts);
            EXPECT_TRUE(FrontEnd.Errors.empty());
            const auto Expected = ExpectedParts(Frames, AudioSpanOf(Fixture), Parts);
            ASSERT_EQ(static_cast<int32_t>(Expected.size()), Parts);
            ExpectParts(Expected, PackedTagOf(Source), Fixture.InfoFrame != 0);
            EXPECT_EQ(Concat(Expected), Concat(Frames));
            EXPECT_EQ(FrontEnd.Progress.size(), Frames.size()) << "one report per frame";
            EXPECT_TRUE(std::is_sorted(FrontEnd.Progress.begin(), FrontEnd.Progress.end()));
        }
    }
    EXPECT_EQ(OpenFileCount(), 0);
}

// A later part that said "delay 0" would have gapless decoders drop 529
// samples at its start that no other part holds: it says nothing instead.
TEST_F(Cutter, OnlyTheFirstPartKeepsTheEncodersExtension) {
    Split(FixturePath("id3v1-end.mp3"), 3);
    for (int I = 0; I < 3; ++I) {
        const auto Frames = ReaderFrames(Part(I + 1));
        TInfoFrame Info;
        ASSERT_TRUE(ParseInfoFrame(Frames[0].data(), Frames[0].size(), Info));
        EXPECT_EQ(Info.HasExtension, I == 0) << "part " << I + 1;
        if (I == 0) {
            EXPECT_EQ(std::make_pair(Info.Delay, Info.Padding), std::make_pair(576, 0));
        }
    }
    Select(FixturePath("id3v1-end.mp3"), 0, 1000); // from the first frame, not to the last
    const auto Frames = ReaderFrames(Out);
    TInfoFrame Info;
    ASSERT_TRUE(ParseInfoFrame(Frames[0].data(), Frames[0].size(), Info));
    EXPECT_EQ(std::make_pair(Info.Delay, Info.Padding), std::make_pair(576, 0));
}

TEST_F(Cutter, TenMillionBytesInThreeParts) {
    // 23980 frames of 417 bytes and 340 bytes of junk: the junk is no audio,
    // so PartSize is 9,999,660 / 3 = 3,333,220.
    TStreamBuilder Stream;
    Stream.Frames(23980).Junk(340);
    ASSERT_EQ(Stream.Data().size(), 10'000'000u);
    Stream.WriteTo(Dir.File("source.mp3"));

    Split(Dir.File("source.mp3"), 3);
    EXPECT_EQ(FileSizeOf(Part(1)), 7994 * 417); // 3,333,498: the first frame end past 3,333,220
    EXPECT_EQ(FileSizeOf(Part(2)), 7994 * 417);
    EXPECT_EQ(FileSizeOf(Part(3)), 7992 * 417);
    EXPECT_EQ(
        Concat(Concat(ReadFileBytes(Part(1)), ReadFileBytes(Part(2))), ReadFileBytes(Part(3))),
        Stream.FrameBytes());
    EXPECT_FALSE(FileExists(Part(4)));
    EXPECT_EQ(FrontEnd.Progress.back(), 99);
}

TEST_F(Cutter, EveryPartGetsAFrameOrNoPartIsMade) {
    // Five 72-byte MPEG-2.5 frames: 360 bytes, so PartSize is 0 for 999 parts,
    // which can't each get one: nothing is made.
    const TFrameSpec Tiny{3, 3, 8, 8000};
    TStreamBuilder Stream;
    Stream.Frames(5, Tiny);
    Stream.WriteTo(Dir.File("source.mp3"));
    Split(Dir.File("source.mp3"), 999);
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_EQ(FrontEnd.Errors[0], "Cannot split " + Dir.File("source.mp3") +
                                      " into 999 parts: it holds only 5 audio frames. No part "
                                      "was made.");
    EXPECT_FALSE(FileExists(Part(1)));
    Split(Dir.File("source.mp3"), 5);
    for (int I = 1; I <= 5; ++I)
        EXPECT_EQ(ReadFileBytes(Part(I)), BuildFrame(Tiny, static_cast<uint8_t>(I - 1)));
    EXPECT_FALSE(FileExists(Part(6)));
    for (int I = 1; I <= 5; ++I)
        std::filesystem::remove(Part(I));

    // Junk, 4 frames (1668 bytes of audio) and a tag in 3: PartSize 556 would
    // end the frames with part 2, so part 2 closes early to leave one for 3.
    TStreamBuilder Boundary;
    Boundary.Junk(4042).Frames(4).ID3v1("Boundary");
    Boundary.WriteTo(Dir.File("source.mp3"));
    Split(Dir.File("source.mp3"), 3);
    const auto Tag = PackedTagOf(Dir.File("source.mp3"));
    ASSERT_TRUE(Tag);
    const auto Frames = ReaderFrames(Dir.File("source.mp3"));
    ExpectParts({Concat(Frames, 0, 2), Concat(Frames, 2, 3), Concat(Frames, 3, 4)}, Tag);
}

TEST_F(Cutter, PartSizesComeFromTheAudioSoTagsAndJunkShiftNoPart) {
    // A 420 KB picture in front, or 100 KB of junk behind: neither is
    // copied, and the four parts share the audio alone.
    for (const bool JunkBehind : {false, true}) {
        SCOPED_TRACE(JunkBehind ? "junk behind" : "tag in front");
        TStreamBuilder Stream;
        if (JunkBehind)
            Stream.Frames(1000).Junk(100'000);
        else
            Stream.ID3v2(420'000).Frames(1000);
        Stream.WriteTo(Dir.File("source.mp3"));
        Split(Dir.File("source.mp3"), 4);
        const auto Frames = ReaderFrames(Dir.File("source.mp3"));
        ASSERT_EQ(Concat(Frames), Stream.FrameBytes());
        ExpectParts(ExpectedParts(Frames, static_cast<int64_t>(Stream.FrameBytes().size()), 4), {});
        EXPECT_EQ(FileSizeOf(Part(4)), 250 * 417);
    }
}

TEST_F(Cutter, ExistingPartsAreReplaced) {
    WriteFileBytes(Part(1), TBytes(200'000, 0x11));
    WriteFileBytes(Part(2), TBytes(200'000, 0x22));
    const std::string Source = FixturePath("id3v1-end.mp3");
    Split(Source, 2);
    ExpectParts(ExpectedParts(AudioFrames(Source), AudioSpanOf(FixtureNamed("id3v1-end.mp3")), 2),
                PackedTagOf(Source), true);
}

TEST_F(Cutter, CancellingAfterPartTwoStartedKeepsTwoTaggedParts) {
    const std::string Source = FixturePath("id3v1-end.mp3");
    const auto Frames = AudioFrames(Source);
    const auto Expected = ExpectedParts(Frames, AudioSpanOf(FixtureNamed("id3v1-end.mp3")), 3);
    // Stop at the first frame of part 2.
    size_t Count = 0, Bytes = 0;
    while (Bytes < Expected[0].size())
        Bytes += Frames[Count++].size();
    ASSERT_EQ(Bytes, Expected[0].size());
    FrontEnd.CancelWhen = [&](int Polls) { return Polls == static_cast<int>(Count) + 1; };

    Split(Source, 3);
    EXPECT_TRUE(FrontEnd.Errors.empty()) << "cancelling is no failure";
    ExpectParts({Expected[0], Frames[Count]}, PackedTagOf(Source), true);
}

TEST_F(Cutter, APartAtTheSourcesOwnPathFailsAndLeavesTheSourceAlone) {
    const auto Original = ReadFileBytes(FixturePath("id3v1-end.mp3"));
    WriteFileBytes(Dir.File("song1.mp3"), Original);
    std::filesystem::create_directory(Dir.File("sub"));
    for (const std::string& Folder : {Dir.Path(), Dir.File("sub/..")}) {
        SCOPED_TRACE(Folder);
        FrontEnd.Errors.clear();
        Segmora.SetSourceFile(Dir.File("song1.mp3"));
        Segmora.SetFolder(Folder);
        Segmora.SetPrefix("song");
        Segmora.SetPartCount(2);
        Segmora.Execute(false);
        ASSERT_EQ(FrontEnd.Errors.size(), 1u);
        EXPECT_EQ(FrontEnd.Errors[0],
                  "Cannot create file " + Folder + "/song1.mp3\nIt is the source file.");
        EXPECT_EQ(ReadFileBytes(Dir.File("song1.mp3")), Original);
        EXPECT_FALSE(FileExists(Dir.File("song2.mp3")));
    }
}

TEST_F(Cutter, APartLinkedToAnotherOrToTheSourceIsRefusedBeforeAnyIsWritten) {
    const std::string Source = Dir.File("source.mp3");
    WriteFileBytes(Source, ReadFileBytes(FixturePath("id3v1-end.mp3")));
    for (const auto& [Linked, Symbolic, Target, Cause] :
         {std::tuple{2, false, Part(1), "It is the same file as " + Part(1) + "."},
          {3, true, Part(1), "It is the same file as " + Part(1) + "."},
          {2, false, Source, std::string("It is the source file.")}}) {
        SCOPED_TRACE(Linked);
        for (int Number = 1; Number <= 3; ++Number)
            std::filesystem::remove(Part(Number));
        WriteFileBytes(Part(1), {1});
        Symbolic ? std::filesystem::create_symlink(Target, Part(Linked))
                 : std::filesystem::create_hard_link(Target, Part(Linked));
        FrontEnd.Errors.clear();
        Split(Source, 3);
        ASSERT_EQ(FrontEnd.Errors.size(), 1u);
        EXPECT_EQ(FrontEnd.Errors[0], "Cannot create file " + Part(Linked) + "\n" + Cause);
        EXPECT_EQ(ReadFileBytes(Part(1)), TBytes{1}) << "nothing was written";
    }
}

TEST_F(Cutter, AReadFailureKeepsEveryFrameCopiedBeforeIt) {
    const auto Frames = ShrinkingSource(600'000);
    Split(Dir.File("source.mp3"), 4); // part 1 closes at frame 750
    ExpectSourceEndedEarly();
    const size_t Copied = FrontEnd.Progress.size();
    EXPECT_GT(Copied, 1000u);
    EXPECT_EQ(Concat(ReadFileBytes(Part(1)), ReadFileBytes(Part(2))), Concat(Frames, 0, Copied))
        << "the collected frames reach the file on the way out";
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(Cutter, ASourceCutToAFewBytesUnderTheSplitFailsWithoutLosingTheProcess) {
    // The frames collected for part 2 are gone from the source by the time
    // they are written: a read failure, and what is left in the parts is
    // the source's frames as they were.
    const auto Frames = ShrinkingSource(100);
    Split(Dir.File("source.mp3"), 4);
    ExpectSourceEndedEarly();
    // Part 2 lost its frames and, left empty, was removed.
    const auto Written =
        Concat(ReadFileBytes(Part(1)), FileExists(Part(2)) ? ReadFileBytes(Part(2)) : TBytes{});
    const auto All = Concat(Frames);
    EXPECT_GE(Written.size(), Concat(Frames, 0, 750).size()) << "part 1 was complete";
    ASSERT_LE(Written.size(), All.size());
    EXPECT_TRUE(std::equal(Written.begin(), Written.end(), All.begin()));
    EXPECT_FALSE(FileExists(Part(3)));
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(Cutter, WithEveryMappingTakenTheJobsCopyThroughTheReadWindow) {
    TStreamBuilder Stream;
    Stream.ID3v2(500).Frames(700).Junk(99, 0xFF).Frames(300).ID3v1("Window");
    Stream.WriteTo(Dir.File("source.mp3"));
    const auto Frames = ReaderFrames(Dir.File("source.mp3"));
    std::vector<std::unique_ptr<TMP3Reader>> Holders;
    for (int I = 0; I < TSourceMap::MaxMaps; ++I) {
        Holders.push_back(std::make_unique<TMP3Reader>());
        Holders.back()->Open(Dir.File("source.mp3"));
    }
    Split(Dir.File("source.mp3"), 3);
    EXPECT_TRUE(FrontEnd.Errors.empty());
    ExpectParts(ExpectedParts(Frames, FileSizeOf(Dir.File("source.mp3")), 3),
                PackedTagOf(Dir.File("source.mp3")));
    Select(Dir.File("source.mp3"), 10'000, 20'000);
    EXPECT_EQ(WithoutID3v2(ReadFileBytes(Out)), Concat(Frames, 382, 765)) << "10 s to 20 s";
}

TEST_F(Cutter, APartCountBelowOneIsRefused) {
    Split(FixturePath("id3v1-end.mp3"), 0);
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_FALSE(FileExists(Part(1)));
}

TEST(PartNames, FolderPrefixNumberWithoutPadding) {
    EXPECT_EQ(TSegmora::PartFileName("/out", "song-", 3), "/out/song-3.mp3");
    EXPECT_EQ(TSegmora::PartFileName("/out/", "", 12), "/out/12.mp3");
    EXPECT_EQ(TSegmora::PartFileName("/", "a", 999), "/a999.mp3");
    // Led by zeros to the count's width.
    const struct {
        int32_t Number, PadTo;
        const char* Name;
    } Padded[] = {{1, 12, "/o/s-01.mp3"},   {12, 12, "/o/s-12.mp3"},    {3, 9, "/o/s-3.mp3"},
                  {7, 100, "/o/s-007.mp3"}, {100, 100, "/o/s-100.mp3"}, {5, 0, "/o/s-5.mp3"}};
    for (const auto& Case : Padded)
        EXPECT_EQ(TSegmora::PartFileName("/o", "s-", Case.Number, Case.PadTo), Case.Name);
}

// Splitting by a plan.

namespace {

constexpr int64_t Frame44k = 368'640; // an MPEG-1 Layer III frame at 44100 Hz

// Frames From to To - 1 of a part, as a planned part of whole frames.
TPlannedPart FramesPart(int64_t From, int64_t To, const std::string& Title = {}) {
    return {From * Frame44k, To * Frame44k, Title, {}};
}

std::vector<TBytes> Slices(const std::vector<TBytes>& Frames,
                           const std::vector<std::pair<size_t, size_t>>& Ranges) {
    std::vector<TBytes> Result;
    for (const auto& [From, To] : Ranges)
        Result.push_back(Concat(Frames, From, To));
    return Result;
}

} // namespace

TEST_F(Cutter, APlanGivesEachPartTheFramesEndingInItAndLeavesTheGapsOut) {
    const std::string Source = FixturePath("id3v1-end.mp3");
    const auto Frames = AudioFrames(Source);
    const size_t Last = Frames.size();
    const struct {
        const char* Name;
        std::vector<std::pair<size_t, size_t>> Ranges;
    } Cases[] = {
        {"back to back", {{0, 10}, {10, 50}, {50, Last}}},
        {"silence left out", {{0, 10}, {15, 50}, {60, Last - 3}}},
        {"one frame each", {{0, 1}, {1, 2}}},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        std::filesystem::remove_all(Dir.Path());
        TSplitPlan Plan;
        for (const auto& [From, To] : Case.Ranges)
            Plan.Parts.push_back(FramesPart(static_cast<int64_t>(From), static_cast<int64_t>(To)));
        Segmora.SetCreateFolder(true);
        Segmora.SetPlan(Plan);
        Split(Source, 0);
        EXPECT_TRUE(FrontEnd.Errors.empty()) << FrontEnd.Errors.front();
        ExpectParts(Slices(Frames, Case.Ranges), PackedTagOf(Source), true);
    }
}

TEST_F(Cutter, APlannedPartBeyondTheAudioIsNotMadeAndAPlanWithoutPartsMakesNothing) {
    const std::string Source = FixturePath("cbr-128-info.mp3");
    const auto Frames = AudioFrames(Source);
    const auto End = static_cast<int64_t>(Frames.size());
    Segmora.SetPlan(TSplitPlan{{FramesPart(0, 5), FramesPart(End + 10, End + 20)}, false});
    Split(Source, 0);
    EXPECT_TRUE(FrontEnd.Errors.empty());
    ExpectParts({Concat(Frames, 0, 5)}, std::nullopt, true);

    std::filesystem::remove_all(Dir.Path());
    Segmora.SetCreateFolder(true);
    for (const TSplitPlan& Plan :
         {TSplitPlan{}, TSplitPlan{{FramesPart(End + 1, End + 2)}, false}}) {
        FrontEnd.Errors.clear();
        Segmora.SetPlan(Plan);
        Split(Source, 0);
        ASSERT_EQ(FrontEnd.Errors.size(), 1u);
        EXPECT_NE(FrontEnd.Errors[0].find("no part was made"), std::string::npos)
            << FrontEnd.Errors[0];
    }
    EXPECT_FALSE(std::filesystem::exists(Dir.Path())) << "not even the folder";
}

TEST_F(Cutter, TitledPartsAreNamedByThePatternAndTwoOfOneNameAreRefusedFirst) {
    const std::string Source = FixturePath("cbr-128-info.mp3");
    Segmora.SetPlan(TSplitPlan{
        {FramesPart(0, 5, "Intro"), FramesPart(5, 9, "../AC/DC"), FramesPart(9, 12, "")}, true});
    Split(Source, 0, "p");
    EXPECT_TRUE(FrontEnd.Errors.empty());
    for (const char* Name : {"01 - Intro.mp3", "02 - _AC_DC.mp3", "p3.mp3"})
        EXPECT_TRUE(FileExists(Dir.File(Name))) << Name;

    std::filesystem::remove_all(Dir.Path());
    std::filesystem::create_directory(Dir.Path());
    Segmora.SetPlan(TSplitPlan{{FramesPart(0, 5, "Same"), FramesPart(5, 9, "Same")}, true});
    Segmora.SetNamePattern("{title}");
    Split(Source, 0);
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_NE(FrontEnd.Errors[0].find("Part 1 has the same name"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(Dir.Path()));
}

TEST(PartNames, TitledByThePatternWithTheTitleMadeFitForAName) {
    const struct {
        const char* Pattern;
        int32_t Number, Count;
        std::string Title, Name;
    } Cases[] = {
        {"{nn} - {title}", 3, 12, "Song", "/o/03 - Song.mp3"},
        {"{nn} - {title}", 3, 100, "Song", "/o/003 - Song.mp3"},
        {"{nn} - {title}", 12, 9, "Song", "/o/12 - Song.mp3"},
        {"{n}. {title} [{n}]", 3, 12, "Song", "/o/3. Song [3].mp3"},
        {"{title}", 1, 2, "AC/DC\tLive\x7F", "/o/AC_DC_Live_.mp3"},
        {"{title}", 1, 2, "..hidden.", "/o/hidden..mp3"},
        {"{title}", 1, 2, "Déjà vu ✓", "/o/Déjà vu ✓.mp3"},
        {"{title}", 1, 2, "broken \xC3(", "/o/broken _(.mp3"},
        {"{title}", 1, 2, "...", ""},
        {"{title}", 1, 2, "", ""},
        {"{title}", 1, 2, std::string(300, 'x'), "/o/" + std::string(200, 'x') + ".mp3"},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(TSegmora::TitledFileName("/o", Case.Pattern, Case.Number, Case.Count, Case.Title),
                  Case.Name)
            << Case.Title;
    // A character is never cut in two.
    EXPECT_EQ(TSegmora::FileNameTitle(std::string(199, 'x') + "é"), std::string(199, 'x'));
}

// Saving a selection.

TEST_F(Cutter, TenToTwentySecondsTakesFrames383To765) {
    TStreamBuilder Stream;
    Stream.Frames(1000);
    Stream.WriteTo(Dir.File("source.mp3"));
    Select(Dir.File("source.mp3"), 10'000, 20'000);
    std::vector<TBytes> Frames;
    for (int I = 0; I < 1000; ++I)
        Frames.push_back(BuildFrame({}, static_cast<uint8_t>(I)));
    EXPECT_EQ(ReadFileBytes(Out), Concat(Frames, 382, 765));
    // The 766th frame is read, found to end past the mark, and not reported.
    EXPECT_EQ(FrontEnd.Progress.size(), 765u);
    EXPECT_EQ(FrontEnd.Progress[0], 0);       // 0.026 s of 20 s
    EXPECT_EQ(FrontEnd.Progress.back(), 100); // 19.984 s rounds up
}

TEST_F(Cutter, FromZeroTheFirstFrameCountsAndAFrameEndingOnTheMarkIsWritten) {
    // MPEG-1 Layer III at 48000 Hz: 24 ms frames. Find the frame whose end,
    // summed in doubles, lands exactly on a tenth.
    const TFrameSpec Spec{1, 3, 128, 48000};
    double Time = 0;
    int OnMark = 0;
    for (int I = 1; I <= 1000 && OnMark == 0; ++I) {
        Time += FrameDurationOf(Spec);
        if (Time * 10 == std::floor(Time * 10))
            OnMark = I;
    }
    ASSERT_GT(OnMark, 0);
    TStreamBuilder Stream;
    Stream.Frames(OnMark + 5, Spec);
    Stream.WriteTo(Dir.File("source.mp3"));
    std::vector<TBytes> Frames = ReaderFrames(Dir.File("source.mp3"));

    Select(Dir.File("source.mp3"), 0, std::lround(Time * 1000));
    EXPECT_EQ(ReadFileBytes(Out), Concat(Frames, 0, static_cast<size_t>(OnMark)));
}

TEST_F(Cutter, AnEndMarkPastTheLastFrameTakesTheRest) {
    const std::string Source = FixturePath("junk-between.mp3");
    Select(Source, 100, 60'000'000);
    const auto Frames = AudioFrames(Source);
    // Audio frame k ends at k * 26.12 ms, so frames 4 on end at or after
    // 0.1 s; the Info frame takes no time.
    EXPECT_EQ(OutputAudio(Out), Concat(Frames, 3));
    EXPECT_TRUE(FrontEnd.Errors.empty());
}

TEST_F(Cutter, SelectionTagRules) {
    const std::string Source = FixturePath("cbr-128-info.mp3");
    const auto Frames = AudioFrames(Source);
    const TBytes Audio = Concat(Frames, 0, 38); // frames ending by 1.0 s

    Select(Source, 0, 1000, TID3Info{"", "", "", "", "", 12});
    EXPECT_EQ(OutputAudio(Out), Audio) << "no text, no tag";

    Select(Source, 0, 1000, YearOnly());
    EXPECT_EQ(OutputAudio(Out), Concat(Audio, PackedTag(YearOnly())));
    TID3Info Back;
    ASSERT_TRUE(ReadID3Tag(Out, Back));
    EXPECT_EQ(Back.Genre, 255);
    EXPECT_EQ(Back.Year, "2024");
}

TEST_F(Cutter, ACancelledSelectionStillGetsItsTag) {
    const std::string Source = FixturePath("cbr-128-info.mp3");
    const auto Frames = AudioFrames(Source);
    FrontEnd.CancelWhen = [](int Polls) { return Polls == 20; };
    Select(Source, 0, 3000, YearOnly());
    EXPECT_EQ(OutputAudio(Out), Concat(Concat(Frames, 0, 20), PackedTag(YearOnly())));
}

TEST_F(Cutter, FewerThanATagsBytesOfAudioGetNoTag) {
    const TFrameSpec Small{3, 3, 8, 8000}; // 72 bytes, 72 ms
    TStreamBuilder Stream;
    Stream.Frames(20, Small);
    Stream.WriteTo(Dir.File("source.mp3"));
    Select(Dir.File("source.mp3"), 0, 100, YearOnly()); // one frame
    EXPECT_EQ(ReadFileBytes(Out), BuildFrame(Small, 0));
    Select(Dir.File("source.mp3"), 0, 200, YearOnly()); // two: 144 bytes
    EXPECT_EQ(FileSizeOf(Out), 144 + 128);
}

TEST_F(Cutter, AudioThatHappensToReadTAGIsNeverOverwritten) {
    std::vector<TBytes> Frames;
    for (int I = 0; I < 10; ++I)
        Frames.push_back(BuildFrame({}, static_cast<uint8_t>(I)));
    // The selection's last frame, not the source's: a source whose last 128
    // bytes begin with "TAG" ends in a tag, as every reader takes it.
    TBytes& Last = Frames[6];
    std::memcpy(Last.data() + Last.size() - 128, "TAG", 3);
    WriteFileBytes(Dir.File("source.mp3"), Concat(Frames));

    Select(Dir.File("source.mp3"), 0, 200, YearOnly()); // seven end by 0.2 s
    EXPECT_EQ(ReadFileBytes(Out), Concat(Concat(Frames, 0, 7), PackedTag(YearOnly())));
}

TEST_F(Cutter, ASelectionWithoutAFrameEndFailsAndLeavesNoFile) {
    const TFrameSpec Long{3, 2, 8, 8000}; // 144 ms frames
    TStreamBuilder Stream;
    Stream.Frames(20, Long);
    Stream.WriteTo(Dir.File("source.mp3"));
    Select(Dir.File("source.mp3"), 300, 400, YearOnly()); // frames end at 288 and 432 ms
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_EQ(FrontEnd.Errors[0], "No audio frame was written: no frame of " +
                                      Dir.File("source.mp3") + " ends between the marks, so " +
                                      Out + " was not made.");
    EXPECT_FALSE(FileExists(Out));

    // A source without frames: no part, not even part 1 with the tag alone.
    TStreamBuilder Junk;
    Junk.Junk(9000).ID3v1("Nothing");
    Junk.WriteTo(Dir.File("source.mp3"));
    FrontEnd.Errors.clear();
    Split(Dir.File("source.mp3"), 3);
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_EQ(FrontEnd.Errors[0], "Not an MPEG audio file: " + Dir.File("source.mp3") +
                                      "\nNo run of MPEG audio frames makes up most of it.");
    EXPECT_FALSE(FileExists(Part(1)));

    // Nor is an information frame left behind for a source that has one.
    FrontEnd.Errors.clear();
    Select(FixturePath("mpeg25-l3.mp3"), 100, 100, YearOnly()); // 72 ms frames
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_FALSE(FileExists(Out));
}

TEST_F(Cutter, ASelectionAtTheSourcesOwnPathFailsUnderEverySpelling) {
    const auto Original = ReadFileBytes(FixturePath("id3v1-end.mp3"));
    const std::string Source = Dir.File("song.mp3");
    WriteFileBytes(Source, Original);
    std::filesystem::create_symlink(Source, Dir.File("link.mp3"));
    for (const std::string& Spelling : {Source, Dir.File("./song.mp3"), Dir.File("link.mp3")}) {
        SCOPED_TRACE(Spelling);
        FrontEnd.Errors.clear();
        Out = Spelling;
        Select(Source, 0, 1000, YearOnly());
        ASSERT_EQ(FrontEnd.Errors.size(), 1u);
        EXPECT_EQ(FrontEnd.Errors[0], "Cannot create file " + Spelling + "\n" +
                                          SysErrorMessage(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(ReadFileBytes(Source), Original);
    }
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(Cutter, AReadFailureEndsTheSelectionWithItsFramesButNoTag) {
    const auto Frames = ShrinkingSource(600'000);
    Select(Dir.File("source.mp3"), 0, 100'000, YearOnly());
    ExpectSourceEndedEarly();
    EXPECT_EQ(ReadFileBytes(Out), Concat(Frames, 0, FrontEnd.Progress.size()));
}

// What a job leaves behind when its world changes under it.

TEST_F(Cutter, TheSourceDeletedOrReplacedMidSplitStillGivesEveryPartItsTag) {
    const std::string Original = FixturePath("id3v1-end.mp3");
    const auto Expected =
        ExpectedParts(AudioFrames(Original), AudioSpanOf(FixtureNamed("id3v1-end.mp3")), 3);
    const auto Tag = PackedTagOf(Original);
    ASSERT_TRUE(Tag);
    for (bool Replace : {false, true}) {
        SCOPED_TRACE(Replace ? "replaced" : "deleted");
        const std::string Source = Dir.File("source.mp3");
        WriteFileBytes(Source, ReadFileBytes(Original));
        FrontEnd.Errors.clear();
        FrontEnd.Progress.clear();
        FrontEnd.OnProgress = [&](double) {
            if (FrontEnd.Progress.size() != 3)
                return;
            if (Replace) {
                TStreamBuilder Other;
                Other.Frames(5).ID3v1("Someone else");
                Other.WriteTo(Dir.File("other.mp3"));
                std::filesystem::rename(Dir.File("other.mp3"), Source);
            } else {
                std::filesystem::remove(Source);
            }
        };
        Split(Source, 3);
        EXPECT_TRUE(FrontEnd.Errors.empty()) << FrontEnd.Errors[0];
        ExpectParts(Expected, Tag, true);
    }
}

TEST_F(Cutter, AnOutputRemovedWhileItIsWrittenFailsTheJobNamingIt) {
    // The parts' folder, or the selection itself, goes once it exists.
    for (const std::string& Lost : {Dir.File("p1.mp3"), Out}) {
        std::filesystem::create_directory(Dir.Path());
        FrontEnd.Errors.clear();
        FrontEnd.OnProgress = [&](double) {
            if (FileExists(Lost))
                std::filesystem::remove_all(Lost == Out ? Out : Dir.Path());
        };
        if (Lost == Out)
            Select(FixturePath("id3v1-end.mp3"), 0, 9'999'900);
        else
            Split(FixturePath("id3v1-end.mp3"), 3, "p");
        EXPECT_EQ(FrontEnd.Errors, std::vector<std::string>{
                                       Lost + " was lost: it was removed while it was written."});
    }
}

TEST_F(Cutter, WithoutOverwriteAnExistingOutputIsLeftAloneAtItsCreation) {
    // Another process may make the file after every check before the job.
    WriteFileBytes(Part(2), TBytes{2, 2});
    WriteFileBytes(Out, TBytes{9});
    Segmora.SetOverwrite(false);
    const std::string Source = FixturePath("id3v1-end.mp3");
    Split(Source, 2);
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_EQ(FrontEnd.Errors[0], "Cannot create file " + Part(2) + "\n" + strerror(EEXIST));
    EXPECT_EQ(ReadFileBytes(Part(2)), TBytes({2, 2}));
    EXPECT_TRUE(FileExists(Part(1)));

    FrontEnd.Errors.clear();
    Select(Source, 0, 1000);
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_EQ(FrontEnd.Errors[0], "Cannot create file " + Out + "\n" + strerror(EEXIST));
    EXPECT_EQ(ReadFileBytes(Out), TBytes{9});
}

TEST_F(Cutter, FramesEndingExactlyOnAnEndMarkAreKeptAndOnAStartMarkLeftOut) {
    // Summed in doubles, some of these ends fell a hair past the mark and the
    // frame was lost; summed in whole samples each lands on it.
    struct TCase {
        TFrameSpec Spec;
        int64_t Mark;  // ms
        size_t Frames; // the frames that end by the mark
    };
    for (const TCase& Case : {TCase{{1, 2, 192, 48000}, 600, 25}, // Layer II, 24 ms
                              TCase{{1, 1, 128, 32000}, 300, 25}, // Layer I, 12 ms
                              TCase{{3, 3, 8, 8000}, 3600, 50},   // MPEG-2.5, 72 ms
                              TCase{{1, 3, 128, 44100}, 12'800, 490}}) {
        SCOPED_TRACE(std::to_string(Case.Spec.SampleRate) + " to " + std::to_string(Case.Mark));
        TStreamBuilder Stream;
        Stream.Frames(static_cast<int>(Case.Frames) + 3, Case.Spec);
        Stream.WriteTo(Dir.File("source.mp3"));
        const auto Frames = ReaderFrames(Dir.File("source.mp3"));
        Select(Dir.File("source.mp3"), 0, Case.Mark);
        EXPECT_EQ(ReadFileBytes(Out), Concat(Frames, 0, Case.Frames));
        // As start mark, the same boundary begins with the frame after it:
        // the one ending there holds nothing of the selection.
        Select(Dir.File("source.mp3"), Case.Mark, Case.Mark + 100);
        const TBytes Bytes = ReadFileBytes(Out);
        ASSERT_GE(Bytes.size(), Frames[Case.Frames].size());
        EXPECT_EQ(TBytes(Bytes.begin(), Bytes.begin() + static_cast<long>(Frames[0].size())),
                  Frames[Case.Frames]);
    }
}

TEST_F(Cutter, MillisecondMarksTakeTheFramesEndingBetweenTheBoundariesTheyStandFor) {
    // Frame k ends at k * 26.1224 ms in cbr-128-info.mp3 (behind its Info
    // frame), at k * 24 ms in layer2.mp3.
    const struct {
        const char* Source;
        int64_t Start, End; // ms
        size_t First, Last; // audio frames First to Last - 1, from 0
    } Cases[] = {
        // Rounded down from the ends of frames 10 (261.22) and 60 (1567.35):
        // the start leaves frame 10 out, the end keeps frame 60.
        {"cbr-128-info.mp3", 261, 1567, 10, 60},
        {"cbr-128-info.mp3", 182, 1000, 6, 38},  // 0.86 ms short of frame 7's end
        {"cbr-128-info.mp3", 500, 1500, 19, 57}, // tenths: as they always were
        {"layer2.mp3", 240, 480, 10, 20},        // on boundaries: frame 11 starts at 240
        {"layer2.mp3", 239, 481, 9, 20},         // a millisecond off stands for none
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(std::string(Case.Source) + " " + std::to_string(Case.Start));
        const auto Frames = AudioFrames(FixturePath(Case.Source));
        Select(FixturePath(Case.Source), Case.Start, Case.End);
        EXPECT_EQ(OutputAudio(Out), Concat(Frames, Case.First, Case.Last));
    }
}

TEST_F(Cutter, AVaryingBitRateWithoutInformationFrameGetsOneAndAConstantOneNone) {
    TStreamBuilder Varying;
    Varying.Frames(100, {1, 3, 128, 44100}).Frames(100, {1, 3, 192, 44100});
    Varying.WriteTo(Dir.File("vbr.mp3"));
    TStreamBuilder Constant;
    Constant.Frames(200, {1, 3, 128, 44100});
    Constant.WriteTo(Dir.File("cbr.mp3"));
    for (const bool Vbr : {true, false}) {
        SCOPED_TRACE(Vbr ? "varying" : "constant");
        const std::string Source = Dir.File(Vbr ? "vbr.mp3" : "cbr.mp3");
        Split(Source, 2);
        const auto Frames = ReaderFrames(Source);
        ExpectParts(ExpectedParts(Frames, static_cast<int64_t>(Concat(Frames).size()), 2), {}, Vbr);
        Select(Source, 1000, 3000);
        EXPECT_EQ(StartsWithInfoFrame(ReadFileBytes(Out)), Vbr);
    }
}

TEST_F(Cutter, AStreamOfStrayFramesIsNotCut) {
    // Two frames amid 40 KB of junk: what a reader finds in a stream whose
    // frames it cannot walk.
    TStreamBuilder Stream;
    Stream.Junk(20'000, 0x55).Frames(2).Junk(20'000, 0x55);
    Stream.WriteTo(Dir.File("source.mp3"));
    Split(Dir.File("source.mp3"), 2);
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_NE(FrontEnd.Errors[0].find("Not an MPEG audio file"), std::string::npos);
    EXPECT_FALSE(FileExists(Part(1)));
    Select(Dir.File("source.mp3"), 0, 1000);
    EXPECT_EQ(FrontEnd.Errors.size(), 2u);
    EXPECT_FALSE(FileExists(Out));
}

TEST_F(Cutter, AJobThatWouldWriteNothingLeavesAnExistingOutputAlone) {
    // The window asked, and the user said replace: but no frame ends between
    // the marks, or the source has none, so there is nothing to replace it
    // with.
    const TBytes Kept(3000, 0x42);
    WriteFileBytes(Out, Kept);
    Select(FixturePath("cbr-128-info.mp3"), 90'000, 100'000, YearOnly()); // 3 s of audio
    ASSERT_EQ(FrontEnd.Errors.size(), 1u);
    EXPECT_EQ(ReadFileBytes(Out), Kept);

    WriteFileBytes(Dir.File("source.mp3"), TBytes(9000, 0x20));
    WriteFileBytes(Part(1), Kept);
    Select(Dir.File("source.mp3"), 0, 1000);
    Split(Dir.File("source.mp3"), 2);
    EXPECT_EQ(FrontEnd.Errors.size(), 3u);
    EXPECT_EQ(ReadFileBytes(Out), Kept);
    EXPECT_EQ(ReadFileBytes(Part(1)), Kept);
}

TEST_F(Cutter, AStopDuringTheFirstPassEndsTheJobBeforeAnyOutput) {
    // Large enough for the first pass to ask in its walk, not only in a
    // search: nothing is copied, nothing is made.
    TStreamBuilder Stream;
    Stream.Frames(30'000);
    Stream.WriteTo(Dir.File("source.mp3"));
    FrontEnd.CancelWhen = [](int) { return true; };
    Split(Dir.File("source.mp3"), 2);
    Select(Dir.File("source.mp3"), 0, 10'000);
    EXPECT_TRUE(FrontEnd.Errors.empty());
    EXPECT_TRUE(FrontEnd.Progress.empty());
    EXPECT_FALSE(FileExists(Part(1)));
    EXPECT_FALSE(FileExists(Out));
}

TEST_F(Cutter, TaggedFixturesGiveOutputsOfTheirAudioFramesAlone) {
    // No tag byte and no information frame of the source reaches an output,
    // wherever it lay; every output holds the audio frames in order.
    for (const auto& Fixture : TaggedFixtures()) {
        SCOPED_TRACE(Fixture.Name);
        const std::string Source = FixturePath(Fixture.Name);
        const TBytes Audio = Concat(Fixture.Frames);
        const auto Tag = PackedTagOf(Source);
        Split(Source, 3);
        TBytes Joined;
        for (int I = 1; I <= 3; ++I) {
            TBytes Bytes = ReadFileBytes(Part(I));
            if (Tag)
                Bytes.resize(Bytes.size() - ID3TagSize);
            Joined = Concat(Joined, OutputAudio(Bytes));
        }
        EXPECT_EQ(Joined, Audio);
        Select(Source, 0, 100'000);
        EXPECT_EQ(OutputAudio(Out), Audio);
        EXPECT_TRUE(FrontEnd.Errors.empty());
        // Layer II gets no information frame: it would play as a frame.
        if (Fixture.Name == "layer2-behind-info.mp3") {
            EXPECT_EQ(ReadFileBytes(Out), Audio);
        }
    }
}
