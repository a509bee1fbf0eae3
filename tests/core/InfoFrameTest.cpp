#include "InfoFrame.h"

#include "FrameBuilder.h"
#include "FrameFiles.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A frame's first four bytes, b0 in the low byte.
uint32_t HeaderOf(const TBytes& Frame) {
    uint32_t Header;
    std::memcpy(&Header, Frame.data(), 4);
    return Header;
}

} // namespace

// What lame wrote, as mutagen and the fixture script read it: the frame
// counts, the extension's delay and padding, and both CRCs of lame's own
// reckoning, which anchor the checksum the outputs are given.
TEST(InfoFrame, ReadsWhatLameWroteAndItsChecksumsVerify) {
    const struct {
        const char* Name;
        TInfoKind Kind;
        uint32_t Frames;
        int32_t Padding;
    } Cases[] = {{"cbr-128-info.mp3", TInfoKind::Info, 116, 756},
                 {"vbr.mp3", TInfoKind::Xing, 116, 756},
                 {"mpeg2-l3.mp3", TInfoKind::Info, 117, 666},
                 {"mpeg25-l3.mp3", TInfoKind::Info, 44, 768}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        const auto Frames = ReaderFrames(FixturePath(Case.Name));
        TInfoFrame Info, Not;
        ASSERT_TRUE(ParseInfoFrame(Frames[0].data(), Frames[0].size(), Info));
        EXPECT_EQ(Info.Kind, Case.Kind);
        EXPECT_EQ(Info.Frames, Case.Frames);
        EXPECT_EQ(Info.Bytes, FileSizeOf(FixturePath(Case.Name)));
        ASSERT_TRUE(Info.HasExtension && Info.HasToc);
        EXPECT_TRUE(ExtensionTrimmedByDecoders(Info));
        EXPECT_EQ(Info.Delay, 576);
        EXPECT_EQ(Info.Padding, Case.Padding);
        EXPECT_TRUE(Info.TagCRCValid);
        const TBytes Audio = Concat(Frames, 1);
        EXPECT_EQ(Crc16(Audio.data(), Audio.size()), Info.MusicCRC);
        EXPECT_FALSE(ParseInfoFrame(Frames[1].data(), Frames[1].size(), Not)) << "audio is none";
    }
    const auto Plain = ReaderFrames(FixturePath("layer2.mp3"));
    TInfoFrame Info;
    EXPECT_FALSE(ParseInfoFrame(Plain[0].data(), Plain[0].size(), Info));
}

// A built frame read back: a frame of its own length that counts the
// output's own frames and bytes and whose table points at them. Its CRCs and
// the encoder's delay and padding are checked on real outputs, in the
// cutter's tests and the outputs' independent checks.
TEST(InfoFrame, BuiltFramesDescribeTheirOutput) {
    const auto Source = ReaderFrames(FixturePath("vbr.mp3"));
    TInfoFrame SourceInfo;
    ASSERT_TRUE(ParseInfoFrame(Source[0].data(), Source[0].size(), SourceInfo));
    const std::vector<TBytes> Audio(Source.begin() + 11, Source.begin() + 61);
    for (const bool Varying : {false, true}) { // the two ways of sizing the frame
        SCOPED_TRACE(Varying);
        TInfoFrameBuilder Builder(SourceInfo, HeaderOf(Source[1]), !Varying);
        Builder.Reset();
        for (const auto& Frame : Audio)
            Builder.AddFrame(Frame.data(), static_cast<uint32_t>(Frame.size()));
        const std::vector<uint8_t> Built = Builder.Build(true, false);
        TMP3FrameInfo Header;
        ASSERT_TRUE(DecodeFrameHeader(HeaderOf(Built), Header));
        EXPECT_EQ(Header.FrameLength, Builder.Length());
        EXPECT_EQ(static_cast<int32_t>(Built.size()), Builder.Length());
        EXPECT_EQ(Header.SampleRate, 44100);

        TInfoFrame Back;
        ASSERT_TRUE(ParseInfoFrame(Built.data(), Built.size(), Back));
        EXPECT_EQ(Back.Kind, TInfoKind::Xing);
        EXPECT_EQ(Back.Frames, 50u);
        EXPECT_EQ(Back.Bytes, Built.size() + Concat(Audio).size());
        // Entry 50 points at frame 25, counted from the built frame.
        const size_t Before = Built.size() + Concat(Audio, 0, 25).size();
        EXPECT_EQ(Back.Toc[50], Before * 256 / Back.Bytes);
        EXPECT_EQ(Back.Toc[0], Built.size() * 256 / Back.Bytes);
        EXPECT_TRUE(std::is_sorted(Back.Toc.begin(), Back.Toc.end()));
    }
}

// The seek table of a long output comes from a bounded sample of frame
// starts: exact while every start fits, nearly always exact and never more
// than one step of 256 off beyond, and
// the sample never grows past its capacity.
TEST(InfoFrame, TheSeekTableOfALongOutputComesFromABoundedSample) {
    // Frames of three lengths in an uneven pattern, as a VBR stream has.
    std::vector<std::vector<uint8_t>> Kinds;
    for (const int Kbps : {32, 128, 320})
        Kinds.push_back(BuildFrame(TFrameSpec{.Kbps = Kbps}));
    const auto First = BuildHeader(TFrameSpec{});
    uint32_t FirstHeader;
    std::memcpy(&FirstHeader, First.data(), 4);
    for (const uint64_t Count :
         {uint64_t{4096}, uint64_t{4097}, uint64_t{100003}, uint64_t{1000000}}) {
        SCOPED_TRACE(Count);
        TInfoFrameBuilder Builder(TInfoFrame{}, FirstHeader, false);
        Builder.Reset();
        std::vector<uint64_t> Starts;
        uint64_t Bytes = 0;
        for (uint64_t I = 0; I < Count; ++I) {
            const auto& Frame = Kinds[(I * 7 + I / 1000) % 3];
            Starts.push_back(Bytes);
            Bytes += Frame.size();
            Builder.AddFrame(Frame.data(), static_cast<uint32_t>(Frame.size()));
            ASSERT_LE(Builder.SampleSize(), TInfoFrameBuilder::SampleCapacity);
        }
        EXPECT_EQ(Builder.Frames(), Count);
        const std::vector<uint8_t> Built = Builder.Build(false, false);
        TInfoFrame Back;
        ASSERT_TRUE(ParseInfoFrame(Built.data(), Built.size(), Back));
        const uint64_t Total = Built.size() + Bytes;
        EXPECT_EQ(Back.Bytes, Total);
        int Off = 0;
        for (size_t I = 0; I < 100; ++I) {
            const uint64_t Exact =
                std::min<uint64_t>(255, (Built.size() + Starts[I * Count / 100]) * 256 / Total);
            EXPECT_NEAR(Back.Toc[I], Exact, 1) << I;
            Off += Back.Toc[I] != Exact;
        }
        // Interpolated entries land on the exact one nearly always.
        EXPECT_LE(Off, Count <= TInfoFrameBuilder::SampleCapacity ? 0 : 2);
        EXPECT_TRUE(std::is_sorted(Back.Toc.begin(), Back.Toc.end()));
    }
}

// Frames counted in place are checksummed in runs: back-to-back frames
// together, a frame left out or one past the run's bound starting a new run;
// the music CRC is that of the frames counted, in order, whatever the runs.
TEST(InfoFrame, TheMusicCrcOfFramesCountedInPlaceIsThatOfTheFramesCounted) {
    const auto Source = ReaderFrames(FixturePath("vbr.mp3"));
    TInfoFrame SourceInfo;
    ASSERT_TRUE(ParseInfoFrame(Source[0].data(), Source[0].size(), SourceInfo));
    std::vector<uint8_t> Mapped(TInfoFrameBuilder::MaxPendingBytes * 3);
    for (size_t I = 0; I < Mapped.size(); ++I)
        Mapped[I] = static_cast<uint8_t>(I * 29 + (I >> 11));
    TInfoFrameBuilder Builder(SourceInfo, HeaderOf(Source[1]), true);
    Builder.Reset();
    TBytes Counted;
    size_t Index = 0;
    for (size_t At = 0; At + 417 <= Mapped.size(); At += 417, ++Index) {
        if (Index % 97 == 13)
            continue; // junk between frames
        const bool InPlace = Index % 251 != 7;
        Builder.AddFrame(Mapped.data() + At, 417, InPlace);
        Counted.insert(Counted.end(), Mapped.begin() + At, Mapped.begin() + At + 417);
    }
    const std::vector<uint8_t> Built = Builder.Build(false, false);
    TInfoFrame Back;
    ASSERT_TRUE(ParseInfoFrame(Built.data(), Built.size(), Back));
    EXPECT_EQ(Back.MusicCRC, Crc16(Counted.data(), Counted.size()));
    EXPECT_EQ(Back.Bytes, Built.size() + Counted.size());
}

TEST(InfoFrame, TheMusicCrcFoldedOrLookedUpIsTheBitByBitDefinition) {
    // CRC-16 (0x8005, reflected): the check value of "123456789", and every
    // length up to a few folding rounds, at every alignment and from several
    // starting values, against the bit-by-bit definition.
    const std::string Check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(Check.data()), Check.size()), 0xBB3D);
    std::vector<uint8_t> Data(3000);
    for (size_t I = 0; I < Data.size(); ++I)
        Data[I] = static_cast<uint8_t>(I * 131 + (I >> 3) * 7 + (I >> 9));
    auto OneByOne = [](const uint8_t* At, size_t Count, uint16_t Crc) {
        for (size_t I = 0; I < Count; ++I) {
            Crc ^= At[I];
            for (int Bit = 0; Bit < 8; ++Bit)
                Crc = static_cast<uint16_t>((Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1);
        }
        return Crc;
    };
    for (size_t Count = 0; Count < 400; ++Count)
        for (uint16_t Start : {0x0000, 0x209B, 0xFFFF}) {
            const uint8_t* At = Data.data() + Count % 16;
            const uint16_t Expected = OneByOne(At, Count, Start);
            ASSERT_EQ(Crc16(At, Count, Start), Expected) << Count;
            ASSERT_EQ(Crc16Portable(At, Count, Start), Expected) << Count;
        }
    // A frame at a time, as the jobs take it, equals the whole at once.
    uint16_t Chained = 0x1234;
    for (size_t At = 0; At < Data.size(); At += 417)
        Chained = Crc16(Data.data() + At, std::min<size_t>(417, Data.size() - At), Chained);
    EXPECT_EQ(Chained, OneByOne(Data.data(), Data.size(), 0x1234));
}
