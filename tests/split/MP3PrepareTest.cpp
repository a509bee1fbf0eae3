#include "MP3Prepare.h"
#include "Errors.h"
#include "FileAccess.h"
#include "FrameBuilder.h"
#include "JobTestSupport.h"
#include "TestFiles.h"
#include "ThrownMessage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

class Preparation : public testing::Test {
protected:
    TTempDir Dir;
    std::string Out = Dir.File("prepared.mp3");
    TRecordingFrontEnd Record;
    TRecordingProgress Progress{Record};
};

} // namespace

TEST_F(Preparation, ID3v2HeaderIsThreeExactLetters) {
    WriteFileBytes(Dir.File("a"), {'I', 'D', '3', 4, 0});
    WriteFileBytes(Dir.File("b"), {'i', 'd', '3', 4, 0});
    WriteFileBytes(Dir.File("c"), {'I', 'D'});
    WriteFileBytes(Dir.File("d"), {});
    EXPECT_TRUE(HasID3v2Header(Dir.File("a")));
    EXPECT_FALSE(HasID3v2Header(Dir.File("b")));
    EXPECT_FALSE(HasID3v2Header(Dir.File("c")));
    EXPECT_FALSE(HasID3v2Header(Dir.File("d")));
    EXPECT_EQ(OpenFileCount(), 0);
    try {
        HasID3v2Header(Dir.File("none"));
        FAIL() << "no error for a missing file";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Cannot open file " + Dir.File("none") + "\n" + strerror(ENOENT));
    }
}

TEST_F(Preparation, ID3v2HeaderTestLetsAWriterKeepTheFile) {
    WriteFileBytes(Dir.File("a"), {'I', 'D', '3'});
    const int Writer = FileOpen(Dir.File("a"), fmOpenReadWrite | fmShareDenyNone);
    ASSERT_GE(Writer, 0);
    EXPECT_TRUE(HasID3v2Header(Dir.File("a")));
    FileClose(Writer);
}

TEST_F(Preparation, TagsAroundAThousandFramesAreLeftBehind) {
    TStreamBuilder Stream;
    Stream.ID3v2(5000).Frames(1000).ID3v1("Gone");
    Stream.WriteTo(Dir.File("source.mp3"));
    CopyMP3Frames(Dir.File("source.mp3"), Out, Progress);
    EXPECT_EQ(ReadFileBytes(Out), Stream.FrameBytes());
    ASSERT_EQ(Record.Progress.size(), 1000u);
    EXPECT_EQ(Record.Progress[0], 1); // 5010 * 100 div 428138
    EXPECT_EQ(Record.Progress.back(), 99);
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(Preparation, EveryFixtureCopiesToItsFramesAlone) {
    for (const auto& Fixture : Fixtures()) {
        SCOPED_TRACE(Fixture.Name);
        const std::string Source = FixturePath(Fixture.Name);
        CopyMP3Frames(Source, Out, Progress);
        const auto Frames = ReaderFrames(Source);
        ASSERT_EQ(static_cast<int64_t>(Frames.size()), Fixture.Frames);
        // The source's information frame is replaced by one of the copy's
        // own; a source without one gets none.
        EXPECT_EQ(StartsWithInfoFrame(ReadFileBytes(Out)), Fixture.InfoFrame != 0);
        EXPECT_EQ(OutputAudio(Out), Concat(AudioFrames(Source)));
        if (Fixture.Name != "junk-between.mp3") {
            // Contiguous frames: the copy is one stretch of the source.
            const auto Bytes = ReadFileBytes(Source);
            const size_t Info = Fixture.InfoFrame != 0 ? Frames.front().size() : 0;
            EXPECT_EQ(OutputAudio(Out),
                      TBytes(Bytes.begin() + Fixture.FirstOffset + static_cast<long>(Info),
                             Bytes.begin() + Fixture.FramesEnd));
        }
    }
}

TEST_F(Preparation, CancellingKeepsThePartialCopy) {
    TStreamBuilder Stream;
    Stream.Frames(500);
    Stream.WriteTo(Dir.File("source.mp3"));
    Record.CancelWhen = [](int Polls) { return Polls == 123; };
    CopyMP3Frames(Dir.File("source.mp3"), Out, Progress);
    EXPECT_EQ(ReadFileBytes(Out), Concat(ReaderFrames(Dir.File("source.mp3")), 0, 123));
}

TEST_F(Preparation, ASourceWithoutFramesIsRefusedBeforeTheCopyIsTouched) {
    WriteFileBytes(Dir.File("source.mp3"), TBytes(5000, 0x20));
    WriteFileBytes(Out, TBytes(100, 1));
    try {
        CopyMP3Frames(Dir.File("source.mp3"), Out, Progress);
        FAIL() << "a copy without a frame passed for a success";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Not an MPEG audio file: " + Dir.File("source.mp3") +
                                   "\nNo run of MPEG audio frames makes up most of it.");
    }
    EXPECT_EQ(ReadFileBytes(Out), TBytes(100, 1));
}

TEST_F(Preparation, ACopyOntoTheSourceFailsAndTheSourceStays) {
    const auto Original = ReadFileBytes(FixturePath("id3v2-front.mp3"));
    WriteFileBytes(Dir.File("source.mp3"), Original);
    std::filesystem::create_directory(Dir.File("sub"));
    const std::string Other = Dir.File("sub/../source.mp3");
    try {
        CopyMP3Frames(Dir.File("source.mp3"), Other, Progress);
        FAIL() << "the copy replaced its own source";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(),
                  "Cannot create file " + Other + "\n" + SysErrorMessage(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(ReadFileBytes(Dir.File("source.mp3")), Original);
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(Preparation, AMissingSourceFailsBeforeTheCopyExists) {
    EXPECT_THROW(CopyMP3Frames(Dir.File("none.mp3"), Out, Progress), EOSError);
    EXPECT_FALSE(FileExists(Out));
}

TEST_F(Preparation, TaggedFixturesCopyToTheirAudioFramesAlone) {
    for (const auto& Fixture : TaggedFixtures()) {
        SCOPED_TRACE(Fixture.Name);
        CopyMP3Frames(FixturePath(Fixture.Name), Out, Progress, true);
        EXPECT_EQ(OutputAudio(Out), Concat(Fixture.Frames));
    }
}

TEST_F(Preparation, ACopyRemovedWhileItIsWrittenIsAFailure) {
    Record.OnProgress = [&](double) { std::filesystem::remove(Out); };
    EXPECT_EQ(ThrownMessage([&] { CopyMP3Frames(FixturePath("id3v1-end.mp3"), Out, Progress); }),
              Out + " was lost: it was removed while it was written.");
}
