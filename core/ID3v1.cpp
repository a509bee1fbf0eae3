#include "ID3v1.h"

#include "Errors.h"
#include "FileAccess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

struct TFieldPlace {
    std::string TID3Info::*Field;
    size_t Offset;
    size_t Width;
};

constexpr std::array<TFieldPlace, 5> FieldPlaces = {{
    {&TID3Info::Title, 3, 30},   // bytes 3 to 32
    {&TID3Info::Artist, 33, 30}, // bytes 33 to 62
    {&TID3Info::Album, 63, 30},  // bytes 63 to 92
    {&TID3Info::Year, 93, 4},    // bytes 93 to 96
    {&TID3Info::Comment, 97, 30} // bytes 97 to 126
}};
constexpr size_t GenreOffset = 127;
constexpr size_t TrackOffset = 126;
constexpr size_t CommentWithTrack = 28;

bool StartsWithTag(const uint8_t* Bytes) {
    return std::memcmp(Bytes, "TAG", 3) == 0;
}

// Only the ends are trimmed: a zero byte inside the text keeps what follows
// it, so a comment with a track number behind a zero byte reads back whole.
std::string TrimmedField(const uint8_t* Bytes, size_t Width) {
    size_t First = 0, Last = Width;
    while (First < Last && Bytes[First] <= 32)
        ++First;
    while (Last > First && Bytes[Last - 1] <= 32)
        --Last;
    return std::string(reinterpret_cast<const char*>(Bytes) + First, Last - First);
}

// Closes a raw handle on every way out of a function.
class THandleGuard {
public:
    explicit THandleGuard(int Handle) : FHandle(Handle) {}
    ~THandleGuard() { FileClose(FHandle); }
    THandleGuard(const THandleGuard&) = delete;
    THandleGuard& operator=(const THandleGuard&) = delete;

private:
    int FHandle;
};

// The last 128 bytes when they begin with "TAG", read at their absolute
// position so that the handle's file position does not matter.
bool ReadTagBlockAt(int Handle, TID3TagBlock& Block) {
    const int64_t Size = FileSize(Handle);
    return Size >= ID3TagSize &&
           FileReadAt(Handle, Block.data(), ID3TagSize, Size - ID3TagSize) == ID3TagSize &&
           StartsWithTag(Block.data());
}

int OpenForTagReading(const std::string& FileName) {
    const int Handle = FileOpen(FileName, fmOpenRead | fmShareDenyWrite);
    if (Handle < 0)
        RaiseLastOSError(FileName);
    return Handle;
}

} // namespace

bool ReadID3TagBlock(const std::string& FileName, TID3TagBlock& Block) {
    const int Handle = OpenForTagReading(FileName);
    THandleGuard Guard(Handle);
    return ReadTagBlockAt(Handle, Block);
}

void UnpackID3Tag(const TID3TagBlock& Block, TID3Info& Info) {
    for (const auto& Place : FieldPlaces)
        Info.*Place.Field = TrimmedField(Block.data() + Place.Offset, Place.Width);
    Info.Genre = Block[GenreOffset];
    Info.Track = ID3v11Track(Block);
}

uint8_t ID3v11Track(const TID3TagBlock& Block) {
    return Block[TrackOffset - 1] == 0 ? Block[TrackOffset] : 0;
}

bool ReadID3TagFromHandle(int Handle, TID3Info& Info) {
    TID3TagBlock Block;
    if (!ReadTagBlockAt(Handle, Block))
        return false;
    UnpackID3Tag(Block, Info);
    return true;
}

bool ReadID3Tag(const std::string& FileName, TID3Info& Info) {
    const int Handle = OpenForTagReading(FileName);
    THandleGuard Guard(Handle);
    return ReadID3TagFromHandle(Handle, Info);
}

bool ID3InfoHasText(const TID3Info& Info) {
    for (const auto& Place : FieldPlaces)
        if (!(Info.*Place.Field).empty())
            return true;
    return false;
}

void PackID3Tag(const TID3Info& Info, TID3TagBlock& Block) {
    Block.fill(0);
    std::memcpy(Block.data(), "TAG", 3);
    for (const auto& Place : FieldPlaces) {
        const std::string& Text = Info.*Place.Field;
        std::memcpy(Block.data() + Place.Offset, Text.data(), std::min(Text.size(), Place.Width));
    }
    if (Info.Track != 0 && Info.Comment.size() <= CommentWithTrack)
        Block[TrackOffset] = Info.Track;
    Block[GenreOffset] = Info.Genre;
}

bool SeekID3TagPlace(int Handle) {
    if (FileSeek(Handle, -ID3TagSize, TSeekOrigin::End) < 0)
        return false;
    TID3TagBlock Block;
    if (FileRead(Handle, Block.data(), ID3TagSize) != ID3TagSize)
        return false;
    if (StartsWithTag(Block.data()))
        return FileSeek(Handle, -ID3TagSize, TSeekOrigin::End) >= 0;
    return FileSeek(Handle, 0, TSeekOrigin::End) >= 0;
}

void WriteID3Tag(const std::string& FileName, const TID3Info& Info) {
    const int Handle = FileOpen(FileName, fmOpenReadWrite | fmShareExclusive);
    if (Handle < 0)
        RaiseLastOSError(FileName);
    THandleGuard Guard(Handle);
    if (!SeekID3TagPlace(Handle))
        return;
    // What a failed write must put back: the length, and the old tag's bytes
    // when the new one goes over them.
    const int64_t OldSize = FileSize(Handle);
    const int64_t Place = FileSeek(Handle, 0, TSeekOrigin::Current);
    TID3TagBlock Old;
    const bool Replacing = OldSize >= 0 && Place >= 0 && Place < OldSize &&
                           FileReadAt(Handle, Old.data(), ID3TagSize, Place) == ID3TagSize;
    TID3TagBlock Block;
    PackID3Tag(Info, Block);
    // A full disk would otherwise leave a torn tag behind a report of success.
    errno = 0;
    if (FileWrite(Handle, Block.data(), ID3TagSize) != ID3TagSize) {
        const int Code = errno;
        if (OldSize >= 0) {
            FileTruncate(Handle, OldSize);
            if (Replacing && FileSeek(Handle, Place, TSeekOrigin::Begin) == Place)
                FileWrite(Handle, Old.data(), ID3TagSize);
        }
        throw Exception("Unable to write file " + FileName + ": " +
                        (Code != 0 ? SysErrorMessage(Code) : "the disk is full"));
    }
}

void WriteID3TagToStream(TFileStream& Stream, const TID3Info& Info) {
    TID3TagBlock Block;
    PackID3Tag(Info, Block);
    Stream.WriteBuffer(Block.data(), ID3TagSize);
}
