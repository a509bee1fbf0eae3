#include "FrameBuilder.h"
#include "InfoFrame.h"
#include "JobTestSupport.h"
#include "MP3Prepare.h"
#include "Segmora.h"
#include "TestFiles.h"
#include "ThrownMessage.h"

#include <gtest/gtest.h>

// A job writing onto a full disk ends with a message that names the file,
// and what reached the disk before stays: a prefix of what was to be written
// that ends on a whole frame. Each case runs on a full tmpfs and under a
// file-size limit (EFBIG, with SIGXFSZ left at its default).

namespace {

std::string JoinedErrors(const TRecordingFrontEnd& FrontEnd) {
    std::string Result;
    for (const auto& Error : FrontEnd.Errors)
        Result += Error + "\n";
    return Result;
}

class FullDisk : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        // About 420 KB of frames behind a tag: far more than the disk holds.
        Stream.Bytes(EncoderInfo).Frames(1000).ID3v1("Full");
        Stream.WriteTo(Source);
    }

    // The message, then the file's bytes: the output's own header, then a
    // prefix of Expected, which the frame reader takes whole to its last
    // byte.
    void ExpectCutShort(const std::string& Message, const std::string& File,
                        const TBytes& Expected) {
        EXPECT_NE(Message.find("Unable to write file " + File), std::string::npos) << Message;
        // The tag in front is no frame of the header's.
        const auto Written = WithoutID3v2(ReadFileBytes(File));
        const auto Frames = ReaderFrames(File);
        ASSERT_GT(Frames.size(), 1u);
        TInfoFrame Header;
        ASSERT_TRUE(ParseInfoFrame(Frames[0].data(), Frames[0].size(), Header));
        EXPECT_EQ(Header.Frames, Frames.size() - 1) << "the header counts the frames kept";
        EXPECT_EQ(Header.Bytes, Written.size());
        const TBytes Audio = Concat(Frames, 1);
        ASSERT_LT(Audio.size(), Expected.size());
        EXPECT_TRUE(std::equal(Audio.begin(), Audio.end(), Expected.begin()))
            << "the file holds exactly what the job wrote, in order";
        EXPECT_EQ(Concat(Frames), Written) << "the file ends on a whole frame";
    }

    // Cuts the first 60 s of Source to cut.mp3 on the full disk with Tag.
    std::string CutSelection(const TID3Info& Tag) {
        return Disk.Run([&] {
            TRecordingFrontEnd FrontEnd;
            TSegmora Segmora;
            Segmora.SetFrontEnd(&FrontEnd);
            Segmora.SetSourceFile(Source);
            Segmora.SetDestFile(Disk.File("cut.mp3"));
            Segmora.SetSelStart(0);
            Segmora.SetSelEnd(60'000);
            Segmora.SetID3Info(Tag);
            Segmora.Execute(true);
            return JoinedErrors(FrontEnd);
        });
    }

    // An encoder's information frame: in front of a source it gives every
    // output a header that checksums its audio, so that the runs are written
    // by the writer's thread.
    const TBytes EncoderInfo = ReaderFrames(FixturePath("cbr-128-info.mp3")).front();
    TTempDir Dir;
    std::string Source = Dir.File("source.mp3");
    TStreamBuilder Stream;
    TTinyDisk Disk{64 * 1024, GetParam()};
};

} // namespace

TEST_P(FullDisk, SplitStopsAtThePartThatDidNotFit) {
    const std::string Message = Disk.Run([&] {
        TRecordingFrontEnd FrontEnd;
        TSegmora Segmora;
        Segmora.SetFrontEnd(&FrontEnd);
        Segmora.SetSourceFile(Source);
        Segmora.SetFolder(Disk.Path());
        Segmora.SetPrefix("p");
        Segmora.SetPartCount(2);
        Segmora.Execute(false);
        return JoinedErrors(FrontEnd);
    });
    ExpectCutShort(Message, Disk.File("p1.mp3"), Stream.FrameBytes());
    EXPECT_FALSE(FileExists(Disk.File("p2.mp3"))) << "no part follows a failed one";
}

TEST_P(FullDisk, SelectionEndsWithoutATag) {
    TID3Info Tag;
    Tag.Title = "Never";
    const std::string Message = CutSelection(Tag);
    ExpectCutShort(Message, Disk.File("cut.mp3"), Stream.FrameBytes());
}

TEST_P(FullDisk, FramesOnlyCopyReportsTheShortWrite) {
    const std::string Message = Disk.Run([&] {
        TRecordingFrontEnd FrontEnd;
        TRecordingProgress Progress(FrontEnd);
        return ThrownMessage([&] { CopyMP3Frames(Source, Disk.File("copy.mp3"), Progress); });
    });
    ExpectCutShort(Message, Disk.File("copy.mp3"), Stream.FrameBytes());
}

TEST_P(FullDisk, NoFrameFollowsTheGapOfAFailedWrite) {
    // One long run of frames that the disk cannot hold, then short runs
    // between junk (two frames each, so that the reader finds them again):
    // the short runs are on their way while the long one fails. It is cut
    // back to its whole frames, and a short run would fit into the room
    // that frees. What reached the file behind the copy's own header must
    // be the source's frames from the first on. (Runs kept after the
    // failure would show every time; a failure taken before the queue is
    // empty only now and then, as it depends on how the two threads meet.)
    TStreamBuilder Uneven;
    Uneven.Bytes(EncoderInfo).Frames(170);
    for (int I = 0; I < 100; ++I)
        Uneven.Junk(3, 0x11).Frames(2, {.Kbps = 32});
    Uneven.WriteTo(Source);
    const TBytes Expected = Uneven.FrameBytes();
    for (int Round = 0; Round < 20; ++Round) {
        const std::string Message = Disk.Run([&] {
            TRecordingFrontEnd FrontEnd;
            TRecordingProgress Progress(FrontEnd);
            return ThrownMessage(
                [&] { CopyMP3Frames(Source, Disk.File("copy.mp3"), Progress, true); });
        });
        ASSERT_NE(Message.find("Unable to write file"), std::string::npos) << Message;
        const TBytes Audio = Concat(ReaderFrames(Disk.File("copy.mp3")), 1);
        ASSERT_GT(Audio.size(), 0u);
        ASSERT_TRUE(std::equal(Audio.begin(), Audio.end(), Expected.begin())) << "round " << Round;
    }
}

TEST_P(FullDisk, TagWriterReportsATagThatDidNotFit) {
    // A file that leaves room for only a part of a tag: the part that
    // fits is taken back off.
    const TBytes Audio(64 * 1024 - 50, 0x41);
    WriteFileBytes(Disk.File("full.mp3"), Audio);
    TID3Info Tag;
    Tag.Title = "No room";
    const std::string Message =
        Disk.Run([&] { return ThrownMessage([&] { WriteID3Tag(Disk.File("full.mp3"), Tag); }); });
    EXPECT_NE(Message.find("Unable to write file " + Disk.File("full.mp3")), std::string::npos)
        << Message;
    EXPECT_EQ(ReadFileBytes(Disk.File("full.mp3")), Audio) << "the file is as it was";
}

TEST_P(FullDisk, ASelectionsTagThatDoesNotFitIsCutOffItsFrames) {
    // Whole frames that fit, with less room behind them than a tag needs.
    TStreamBuilder Fits;
    Fits.Frames(65536 / 417);
    ASSERT_GT(Fits.FrameBytes().size() + ID3TagSize, 65536u);
    Fits.WriteTo(Source);
    const std::string Message = CutSelection(TID3Info{"Too late", "", "", "", "", 255});
    EXPECT_NE(Message.find("Unable to write file " + Disk.File("cut.mp3")), std::string::npos)
        << Message;
    EXPECT_EQ(ReadFileBytes(Disk.File("cut.mp3")), Fits.FrameBytes()) << "no torn tag";
}

INSTANTIATE_TEST_SUITE_P(FullTmpfsOrFileSizeLimit, FullDisk, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& Info) {
                             return Info.param ? "Tmpfs" : "FileSizeLimit";
                         });
