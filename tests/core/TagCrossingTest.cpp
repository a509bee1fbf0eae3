// Tags wherever a file may hold them, each with byte pairs in its body that
// pass for frame headers: the reader must cross them, never take a frame
// from inside one, and end every frame before the tags at the end.

#include "FrameBuilder.h"
#include "FrameFiles.h"
#include "MP3Read.h"
#include "StreamScan.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

// What UTF-16 text gives: the byte-order marks FF FE 54 00 and FF FE 61 00
// read as Layer I headers, the first 160 bytes long, so the second one
// confirms the first. Lead bytes stand in front of the pair.
TBytes FalsePair(size_t Lead = 11) {
    TBytes Body(Lead, 'x');
    const uint8_t First[] = {0xFF, 0xFE, 0x54, 0x00};
    Body.insert(Body.end(), First, First + 4);
    Body.resize(Body.size() + 156, 'y');
    const uint8_t Second[] = {0xFF, 0xFE, 0x61, 0x00};
    Body.insert(Body.end(), Second, Second + 4);
    Body.resize(Body.size() + 300, 'z');
    return Body;
}

void Syncsafe(TBytes& Out, uint32_t Size) {
    for (int Shift = 21; Shift >= 0; Shift -= 7)
        Out.push_back(static_cast<uint8_t>((Size >> Shift) & 0x7F));
}

// An ID3v2.4 tag around Body; Claimed, when given, is the size its header
// states instead of the true one.
TBytes ID3v2Tag(const TBytes& Body, bool Footer = false, int64_t Claimed = -1) {
    const auto Size = static_cast<uint32_t>(Claimed >= 0 ? Claimed : Body.size());
    TBytes Tag = {'I', 'D', '3', 4, 0, static_cast<uint8_t>(Footer ? 0x10 : 0)};
    Syncsafe(Tag, Size);
    Tag.insert(Tag.end(), Body.begin(), Body.end());
    if (Footer) {
        Tag.insert(Tag.end(), {'3', 'D', 'I', 4, 0, 0x10});
        Syncsafe(Tag, Size);
    }
    return Tag;
}

void LittleEndian(TBytes& Out, uint32_t Value) {
    for (int Shift = 0; Shift < 32; Shift += 8)
        Out.push_back(static_cast<uint8_t>(Value >> Shift));
}

// An APEv2 tag: header, Body as its items, footer.
TBytes ApeTag(const TBytes& Body) {
    auto Block = [&](uint32_t Flags) {
        TBytes Out = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
        LittleEndian(Out, 2000);
        LittleEndian(Out, static_cast<uint32_t>(Body.size() + 32));
        LittleEndian(Out, 1);
        LittleEndian(Out, Flags);
        Out.resize(Out.size() + 8, 0);
        return Out;
    };
    TBytes Tag = Block(0xA0000000u);
    Tag.insert(Tag.end(), Body.begin(), Body.end());
    const TBytes Footer = Block(0x80000000u);
    Tag.insert(Tag.end(), Footer.begin(), Footer.end());
    return Tag;
}

TBytes Lyrics3v2(const TBytes& Body) {
    TBytes Block = {'L', 'Y', 'R', 'I', 'C', 'S', 'B', 'E', 'G', 'I', 'N'};
    Block.insert(Block.end(), Body.begin(), Body.end());
    char Size[7];
    std::snprintf(Size, sizeof Size, "%06zu", Block.size());
    Block.insert(Block.end(), Size, Size + 6);
    for (const char C : std::string("LYRICS200"))
        Block.push_back(static_cast<uint8_t>(C));
    return Block;
}

// The offsets of the whole frames the reader delivers.
std::vector<int64_t> WholeFrames(const std::string& Name) {
    TMP3Reader Reader;
    Reader.Open(Name);
    std::vector<int64_t> Offsets;
    while (Reader.FindNextFrame(0) && Reader.FrameComplete())
        Offsets.push_back(Reader.Position());
    return Offsets;
}

} // namespace

TEST(TagCrossing, NoFrameIsTakenFromATagWhereverItLies) {
    const TBytes Pair = FalsePair();
    struct TCase {
        const char* What;
        std::function<void(TStreamBuilder&)> Build;
    };
    const TCase Cases[] = {
        {"ID3v2 in front", [&](TStreamBuilder& S) { S.Bytes(ID3v2Tag(Pair)).Frames(20); }},
        {"two ID3v2 tags in front",
         [&](TStreamBuilder& S) { S.Bytes(ID3v2Tag(Pair)).Bytes(ID3v2Tag(Pair)).Frames(20); }},
        {"ID3v2 with a footer in front",
         [&](TStreamBuilder& S) { S.Bytes(ID3v2Tag(Pair, true)).Frames(20); }},
        {"files joined: ID3v1, then ID3v2, between frames",
         [&](TStreamBuilder& S) { S.Frames(10).ID3v1().Bytes(ID3v2Tag(Pair)).Frames(10); }},
        {"APEv2 and ID3v1 at the end",
         [&](TStreamBuilder& S) { S.Frames(20).Bytes(ApeTag(Pair)).ID3v1(); }},
        {"Lyrics3v2 and ID3v1 at the end",
         [&](TStreamBuilder& S) { S.Frames(20).Bytes(Lyrics3v2(Pair)).ID3v1(); }},
        {"ID3v2 with a footer at the end",
         [&](TStreamBuilder& S) { S.Frames(20).Bytes(ID3v2Tag(Pair, true)); }},
        {"a frame cut short by an APEv2 tag",
         [&](TStreamBuilder& S) { S.Frames(20).TruncatedFrame(300).Bytes(ApeTag(Pair)); }},
        // The size is wrong: the tag is searched after all, and the frames
        // behind it are found (the tag holding no false pair).
        {"an ID3v2 tag claiming too little",
         [&](TStreamBuilder& S) { S.Bytes(ID3v2Tag(TBytes(500, 'x'), false, 300)).Frames(20); }},
        {"an ID3v2 tag claiming too much",
         [&](TStreamBuilder& S) { S.Bytes(ID3v2Tag(TBytes(500, 'x'), false, 800)).Frames(20); }},
    };
    TTempDir Dir;
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.What);
        TStreamBuilder Stream;
        Case.Build(Stream);
        Stream.WriteTo(Dir.File("tagged.mp3"));
        EXPECT_EQ(WholeFrames(Dir.File("tagged.mp3")), Stream.FrameOffsets());
        // Tags count as neither audio nor junk.
        const TStreamScan Scan = ScanStream(Dir.File("tagged.mp3"));
        EXPECT_EQ(Scan.AudioFrames, static_cast<int64_t>(Stream.FrameOffsets().size()));
        EXPECT_FALSE(Scan.MostlyUnframed());
    }
}

TEST(TagCrossing, ALargeTagAtTheEndLeavesAShortFileItsAudio) {
    // Three seconds of frames behind a cover five times their size.
    TTempDir Dir;
    TStreamBuilder Stream;
    Stream.Frames(116).Bytes(ApeTag(TBytes(240'000, 0x11)));
    Stream.WriteTo(Dir.File("cover.mp3"));
    const TStreamScan Scan = ScanStream(Dir.File("cover.mp3"));
    EXPECT_EQ(Scan.AudioFrames, 116);
    EXPECT_EQ(Scan.AudioLimit, Stream.FrameOffsets().back() + Stream.FrameLengths().back());
    EXPECT_FALSE(Scan.MostlyUnframed());
}

TEST(TagCrossing, TaggedFixturesGiveExactlyTheirAudioFrames) {
    // Tags written by mutagen (UTF-16 text and a cover, ID3v2.4 appended,
    // APEv2 with a binary cover), files joined with their information
    // frames, and Layer II behind a Layer III information frame.
    const auto Tagged = TaggedFixtures();
    ASSERT_GE(Tagged.size(), 8u);
    for (const auto& Fixture : Tagged) {
        SCOPED_TRACE(Fixture.Name);
        TMP3Reader Reader;
        Reader.Open(FixturePath(Fixture.Name));
        std::vector<int64_t> Audio;
        while (Reader.FindNextFrame(0) && Reader.FrameComplete())
            if (!Reader.IsInfoFrame())
                Audio.push_back(Reader.Position());
        EXPECT_EQ(Audio, Fixture.Offsets);

        const TStreamScan Scan = ScanStream(FixturePath(Fixture.Name));
        EXPECT_EQ(Scan.AudioFrames, static_cast<int64_t>(Fixture.Offsets.size()));
        EXPECT_EQ(Scan.AudioStart, Fixture.Offsets.front());
        EXPECT_EQ(Scan.AudioEnd, Fixture.Offsets.back() + int64_t(Fixture.Frames.back().size()));
        EXPECT_FALSE(Scan.MostlyUnframed());
        // A new information frame only for Layer III audio.
        EXPECT_EQ(Scan.OutputsNeedInfoFrame(), Scan.First.Layer == 3);
    }
}
