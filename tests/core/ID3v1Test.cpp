#include "ID3v1.h"
#include "Errors.h"
#include "FileAccess.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<uint8_t> Filler(size_t Count) {
    std::vector<uint8_t> Data(Count);
    for (size_t I = 0; I < Count; ++I)
        Data[I] = static_cast<uint8_t>(I % 251);
    return Data;
}

// A 128-byte tag laid out by hand, so that reading is checked against the
// format rather than against our own packer.
std::vector<uint8_t> RawTag(const std::string& Title, const std::string& Artist,
                            const std::string& Album, const std::string& Year,
                            const std::string& Comment, uint8_t Genre) {
    std::vector<uint8_t> Tag(128, 0);
    std::memcpy(Tag.data(), "TAG", 3);
    std::memcpy(Tag.data() + 3, Title.data(), Title.size());
    std::memcpy(Tag.data() + 33, Artist.data(), Artist.size());
    std::memcpy(Tag.data() + 63, Album.data(), Album.size());
    std::memcpy(Tag.data() + 93, Year.data(), Year.size());
    std::memcpy(Tag.data() + 97, Comment.data(), Comment.size());
    Tag[127] = Genre;
    return Tag;
}

std::vector<uint8_t> Join(std::vector<uint8_t> A, const std::vector<uint8_t>& B) {
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

TID3Info SampleInfo() {
    return {"Title", "Artist", "Album", "1999", "Comment", 17};
}

class ID3Tag : public testing::Test {
protected:
    TTempDir Dir;
    std::string File = Dir.File("song.mp3");
};

} // namespace

TEST(ID3Pack, FieldsLandAtTheirOffsetsCutOrZeroFilled) {
    // A 31-byte title, an empty artist, a year that fills its four bytes.
    const TID3Info Info{std::string(29, 'a') + "bc", "", "Al", "2024", "C", 255};
    TID3TagBlock Block;
    Block.fill(0xEE);
    PackID3Tag(Info, Block);

    EXPECT_EQ(std::memcmp(Block.data(), "TAG", 3), 0);
    EXPECT_EQ(std::string(Block.begin() + 3, Block.begin() + 33), std::string(29, 'a') + "b");
    EXPECT_EQ(std::vector<uint8_t>(Block.begin() + 33, Block.begin() + 63),
              std::vector<uint8_t>(30, 0));
    EXPECT_EQ(Block[63], 'A');
    EXPECT_EQ(Block[64], 'l');
    EXPECT_EQ(Block[65], 0);
    // Four characters fill the year without a terminator; the comment follows.
    EXPECT_EQ(std::string(Block.begin() + 93, Block.begin() + 97), "2024");
    EXPECT_EQ(Block[97], 'C');
    EXPECT_EQ(Block[98], 0);
    EXPECT_EQ(Block[127], 255);
}

TEST(ID3Pack, TextCountsButGenreDoesNot) {
    TID3Info Info;
    Info.Genre = 12;
    EXPECT_FALSE(ID3InfoHasText(Info));
    for (auto Field : {&TID3Info::Title, &TID3Info::Artist, &TID3Info::Album, &TID3Info::Year,
                       &TID3Info::Comment}) {
        TID3Info One;
        // A literal assigned here makes GCC 12 at -O3 warn of an overlapping
        // copy that cannot happen (-Wrestrict); a string built first does not.
        One.*Field = std::string(1, 'x');
        EXPECT_TRUE(ID3InfoHasText(One));
    }
}

TEST_F(ID3Tag, ReadTrimsBothEndsOnly) {
    WriteFileBytes(File, Join(Filler(500), RawTag("  Word  ", "      ", "", "99\t ",
                                                  std::string("ab\0cd", 5), 3)));
    TID3Info Info;
    ASSERT_TRUE(ReadID3Tag(File, Info));
    EXPECT_EQ(Info.Title, "Word");
    EXPECT_EQ(Info.Artist, "");
    EXPECT_EQ(Info.Album, "");
    EXPECT_EQ(Info.Year, "99");
    EXPECT_EQ(Info.Comment, std::string("ab\0cd", 5)) << "a zero inside the text stays";
    EXPECT_EQ(Info.Genre, 3);
}

TEST_F(ID3Tag, TrackNumberBehindAZeroByteIsTrimmedWhenItIsAControlCode) {
    std::string Comment(30, '\0');
    Comment.replace(0, 5, "Notes");
    Comment[29] = 7; // ID3v1.1: zero, then the track number
    WriteFileBytes(File, Join(Filler(10), RawTag("", "", "", "", Comment, 0)));
    TID3Info Info;
    ASSERT_TRUE(ReadID3Tag(File, Info));
    EXPECT_EQ(Info.Comment, "Notes");
    EXPECT_EQ(Info.Track, 7);

    Comment[29] = 'A'; // 65: printable, so kept with the zeros before it
    WriteFileBytes(File, Join(Filler(10), RawTag("", "", "", "", Comment, 0)));
    ASSERT_TRUE(ReadID3Tag(File, Info));
    EXPECT_EQ(Info.Comment, "Notes" + std::string(24, '\0') + "A");
    EXPECT_EQ(Info.Track, 'A');
}

TEST_F(ID3Tag, NoTagLeavesTheRecordAlone) {
    const TID3Info Before = SampleInfo();
    TID3Info Info = Before;
    auto Lower = RawTag("Lower", "", "", "", "", 1);
    std::memcpy(Lower.data(), "tag", 3);
    WriteFileBytes(File, Join(Filler(300), Lower));
    EXPECT_FALSE(ReadID3Tag(File, Info));
    EXPECT_EQ(Info, Before);

    WriteFileBytes(File, Filler(127));
    EXPECT_FALSE(ReadID3Tag(File, Info));
    WriteFileBytes(File, {});
    EXPECT_FALSE(ReadID3Tag(File, Info));
    EXPECT_EQ(Info, Before);
    EXPECT_EQ(OpenFileCount(), 0) << "every way out closes the file";
}

TEST_F(ID3Tag, ExactlyATagIsATag) {
    WriteFileBytes(File, RawTag("Only", "", "", "", "", 0));
    TID3Info Info;
    EXPECT_TRUE(ReadID3Tag(File, Info));
    EXPECT_EQ(Info.Title, "Only");
}

TEST_F(ID3Tag, MissingFileRaisesTheSystemError) {
    TID3Info Info;
    EXPECT_THROW(ReadID3Tag(Dir.File("none.mp3"), Info), EOSError);
    EXPECT_THROW(WriteID3Tag(Dir.File("none.mp3"), Info), EOSError);
    EXPECT_FALSE(FileExists(Dir.File("none.mp3")));
}

TEST_F(ID3Tag, WriteAppendsThenReplacesInPlace) {
    const auto Audio = Filler(1000);
    WriteFileBytes(File, Audio);
    TID3Info Info = SampleInfo();
    WriteID3Tag(File, Info);
    EXPECT_EQ(FileSizeOf(File), 1128);

    Info.Title = "Second";
    Info.Genre = 255;
    WriteID3Tag(File, Info);
    const auto Bytes = ReadFileBytes(File);
    ASSERT_EQ(Bytes.size(), 1128u);
    EXPECT_TRUE(std::equal(Audio.begin(), Audio.end(), Bytes.begin()));
    TID3TagBlock Expected;
    PackID3Tag(Info, Expected);
    EXPECT_TRUE(std::equal(Expected.begin(), Expected.end(), Bytes.begin() + 1000));

    TID3Info Back;
    ASSERT_TRUE(ReadID3Tag(File, Back));
    EXPECT_EQ(Back, Info);
}

TEST_F(ID3Tag, WriteLeavesAFileShorterThanATagAlone) {
    WriteFileBytes(File, Filler(127));
    WriteID3Tag(File, SampleInfo());
    EXPECT_EQ(ReadFileBytes(File), Filler(127));
}

TEST_F(ID3Tag, SharingFollowsTheReadersAndTheWriter) {
    WriteFileBytes(File, Join(Filler(200), RawTag("Held", "", "", "", "", 0)));
    const int Reader = FileOpen(File, fmOpenRead | fmShareDenyWrite);
    ASSERT_GE(Reader, 0);
    TID3Info Info;
    EXPECT_TRUE(ReadID3Tag(File, Info)) << "a second reader is let in";
    EXPECT_THROW(WriteID3Tag(File, SampleInfo()), EOSError) << "the writer is kept out";
    FileClose(Reader);

    const int Writer = FileOpen(File, fmOpenReadWrite | fmShareDenyNone);
    ASSERT_GE(Writer, 0);
    EXPECT_THROW(ReadID3Tag(File, Info), EOSError) << "the reader denies writers";
    FileClose(Writer);
    EXPECT_EQ(Info.Title, "Held");
}

TEST_F(ID3Tag, SeekPlaceFindsTheOldTagOrTheEnd) {
    WriteFileBytes(File, Join(Filler(400), RawTag("x", "", "", "", "", 0)));
    int Handle = FileOpen(File, fmOpenReadWrite | fmShareExclusive);
    ASSERT_TRUE(SeekID3TagPlace(Handle));
    EXPECT_EQ(FileSeek(Handle, 0, TSeekOrigin::Current), 400);
    FileClose(Handle);

    WriteFileBytes(File, Filler(400));
    Handle = FileOpen(File, fmOpenReadWrite | fmShareExclusive);
    ASSERT_TRUE(SeekID3TagPlace(Handle));
    EXPECT_EQ(FileSeek(Handle, 0, TSeekOrigin::Current), 400);
    FileClose(Handle);
}

TEST_F(ID3Tag, StreamWriterPutsTheTagAtTheStreamPosition) {
    {
        TFileStream Stream(File, fmCreate | fmShareExclusive);
        const auto Audio = Filler(50);
        Stream.WriteBuffer(Audio.data(), 50);
        WriteID3TagToStream(Stream, SampleInfo());
    }
    const auto Bytes = ReadFileBytes(File);
    ASSERT_EQ(Bytes.size(), 178u);
    TID3Info Back;
    ASSERT_TRUE(ReadID3Tag(File, Back));
    EXPECT_EQ(Back, SampleInfo());
}
