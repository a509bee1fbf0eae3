#include "MP3Read.h"

#include "Errors.h"
#include "FileAccess.h"
#include "ID3v1.h"
#include "InfoFrame.h"
#include "TagBlocks.h"

#include <algorithm>
#include <cstring>

TMP3Reader::~TMP3Reader() {
    Close();
}

void TMP3Reader::Open(const std::string& FileName) {
    // A reader still open would otherwise keep its file's writers out until
    // the program ends.
    Close();
    const int Handle = FileOpen(FileName, fmOpenRead | fmShareDenyWrite);
    if (Handle < 0)
        RaiseLastOSError(FileName);
    TakeHandle(Handle, FileName, -1, -1);
}

void TMP3Reader::OpenSameFile(const TMP3Reader& Other) {
    Close();
    const int Handle = FileDuplicate(Other.FHandle);
    if (Handle < 0)
        RaiseLastOSError(Other.FFileName);
    TakeHandle(Handle, Other.FFileName, Other.FFileSize, Other.FAudioLimit);
}

void TMP3Reader::TakeHandle(int Handle, const std::string& FileName, int64_t Size,
                            int64_t Limit) {
    FHandle = Handle;
    try {
        FFileName = FileName;
        FPosition = 0;
        FBuffer = std::make_unique<TFileReadBuffer>(FHandle, WindowSize);
        FBuffer->SetFileName(FileName);
        FFileSize = Size >= 0 ? Size : FBuffer->FileSize();
        FFrameFound = false;
        FHolesCheckedUntil = 0;
        FFollowed = false;
        FTagBytes = 0;
        FAudioLimit = FFileSize;
        FMap.Map(FHandle, FFileSize, FileName);
        FAudioLimit = Limit >= 0 ? Limit : FindTrailingTags();
        // The tags were read from the end: the walk starts from the front.
        FMap.Restart();
    } catch (...) {
        Close();
        throw;
    }
}

void TMP3Reader::Close() {
    FMap.Unmap();
    FBuffer.reset();
    if (FHandle >= 0)
        FileClose(FHandle);
    FHandle = -1;
    FFrameFound = false;
    FFollowed = false;
}

bool TMP3Reader::ReadHeader(int64_t At, uint32_t& Header) {
    uint8_t Bytes[4];
    if (FBuffer->Read(Bytes, 4, At) < 4)
        return false;
    Header = FrameHeaderAt(Bytes);
    return true;
}

bool TMP3Reader::FindNextFrameSlow(int64_t Limit) {
    // A closed reader keeps the last file's size for its callers to report,
    // but has nothing left to search.
    if (!FBuffer)
        return false;
    if (!FMap.Mapped())
        return FindFrame<false>(Limit);
    const bool Found = FindFrame<true>(Limit);
    if (!Found)
        FFollowed = false;
    CheckMappedStep();
    FMap.Follow(FPosition);
    return Found;
}

void TMP3Reader::CheckMappedStep() {
    // A read that met a page the file no longer holds read zeros instead.
    // And a frame taken on its own header, because it follows a frame, is
    // checked against the file having shrunk under the mapping: the bytes
    // past the new end of the file read as zeros up to the end of their
    // page, and would pass for the frame's own. Behind a whole frame lies
    // the next header or, rarely, something else (junk, a tag, the end of
    // the file); only then is the file's size asked.
    if (FMap.Faulted() ||
        (FFrameFound && !FFollowed && FMap.ShrankBelow(FPosition + FFrame.FrameLength))) {
        FFrameFound = false;
        FFollowed = false;
        FMap.RaiseShrunk();
    }
}

// One search over either source of bytes: the read window (Mapped false)
// or the mapping. Only how a 0xFF byte is found and how a header is read
// differ between the two.
template <bool Mapped> bool TMP3Reader::FindFrame(int64_t Limit) {
    if (FFrameFound)
        FPosition += FFrame.FrameLength;
    // Where a search starts, a tag may start: a tag's text holds byte pairs
    // that pass for frame headers, so it is crossed whole, not searched.
    if (FPosition < FAudioLimit && (Limit == 0 || FPosition <= Limit)) {
        const int64_t Behind = CrossTags(FPosition);
        if (Behind != FPosition) {
            FPosition = Behind;
            FFrameFound = false;
        }
    }
    TMP3FrameInfo Scratch;
    int64_t NextCheck = FPosition + SearchCheckBytes;
    while (FPosition < FAudioLimit) {
        if (Limit != 0 && FPosition > Limit)
            break;
        if (FSearchCheck && FPosition >= NextCheck) {
            if (FSearchCheck())
                break;
            NextCheck = FPosition + SearchCheckBytes;
        }
        if (!FFrameFound) {
            // Searching: only a 0xFF byte can start a header, so go straight
            // to the next one, but no further than where the search would
            // stop anyway (the limit, or the last three bytes), and without
            // reading past that point.
            int64_t Stop = std::max(FPosition, FAudioLimit - 3);
            if (Limit != 0 && Limit < Stop)
                Stop = std::max(FPosition, Limit + 1);
            if (FSearchCheck)
                Stop = std::min(Stop, NextCheck);
            if constexpr (Mapped) {
                FPosition = FindByteInMap(0xFF, FPosition, Stop);
                // A long search keeps no more mapped behind it than a walk.
                FMap.Follow(FPosition);
            } else
                FPosition = FBuffer->FindByte(0xFF, FPosition, Stop);
            if (Limit != 0 && FPosition > Limit)
                break;
        }
        uint32_t Header;
        if constexpr (Mapped) {
            if (FPosition + 4 > FAudioLimit)
                break;
            Header = MappedHeader(FPosition);
        } else if (FPosition + 4 > FAudioLimit || !ReadHeader(FPosition, Header)) {
            break;
        }
        if (DecodeFrameHeader(Header, Scratch) &&
            (FFrameFound || IsFrameAt<Mapped>(FPosition + Scratch.FrameLength))) {
            FFrame = Scratch;
            FFrameFound = true;
            if constexpr (Mapped)
                LookBehindFrame();
            return true;
        }
        ++FPosition;
        FFrameFound = false;
    }
    FFrameFound = false;
    return false;
}

template <bool Mapped> bool TMP3Reader::IsFrameAt(int64_t At) {
    TMP3FrameInfo Scratch;
    uint32_t Header;
    if constexpr (Mapped) {
        if (At + 4 > FAudioLimit)
            return false;
        Header = MappedHeader(At);
    } else if (At + 4 > FAudioLimit || !ReadHeader(At, Header)) {
        return false;
    }
    return DecodeFrameHeader(Header, Scratch);
}

// As TFileReadBuffer::FindByte, over the mapping: holes of a sparse file are
// passed over unread, asking the file system once per HoleCheckStep.
int64_t TMP3Reader::FindByteInMap(uint8_t Byte, int64_t From, int64_t Until) {
    Until = std::min(Until, FFileSize);
    // After a fault the rest of the map reads as zeros: no use searching it.
    while (From < Until && !FMap.Faulted()) {
        if (From >= FHolesCheckedUntil) {
            const int64_t Data = FileNextData(FHandle, From, FFileSize);
            if (Data > From)
                From = Data;
            if (From >= Until)
                return Until;
            FHolesCheckedUntil = (From / HoleCheckStep + 1) * HoleCheckStep;
        }
        const int64_t End = std::min(Until, FHolesCheckedUntil);
        const uint8_t* Start = FMap.Data() + From;
        const auto* Hit =
            static_cast<const uint8_t*>(std::memchr(Start, Byte, static_cast<size_t>(End - From)));
        if (Hit != nullptr)
            return From + (Hit - Start);
        From = End;
    }
    return std::max(From, Until);
}

void TMP3Reader::RaiseNoFrame() {
    throw Exception("Frame is not found");
}

bool TMP3Reader::ReadFrame(void* Dest) {
    if (!FFrameFound)
        RaiseNoFrame();
    // A frame that runs into the tags at the end is cut short by them.
    const int64_t Count = std::min<int64_t>(FFrame.FrameLength, FAudioLimit - FPosition);
    if (!FMap.Mapped())
        return FBuffer->Read(Dest, static_cast<uint32_t>(Count), FPosition) == FFrame.FrameLength;
    std::memcpy(Dest, FMap.Data() + FPosition, static_cast<size_t>(Count));
    if (FMap.Faulted())
        FMap.RaiseShrunk();
    return Count == FFrame.FrameLength;
}

bool TMP3Reader::IsInfoFrameSlow() {
    if (!FFrameFound || !FrameComplete())
        return false;
    const auto Length = static_cast<uint32_t>(FFrame.FrameLength);
    uint8_t Frame[MaxFrameLength];
    return ReadBytes(FPosition, Frame, Length) && LooksLikeInfoFrame(Frame, Length, FFrame) &&
           ParseInfoFrame(Frame, Length);
}

bool TMP3Reader::ReadBytes(int64_t At, uint8_t* Dest, uint32_t Count) {
    if (At < 0 || At + Count > FFileSize)
        return false;
    if (!FMap.Mapped())
        return FBuffer->Read(Dest, Count, At) == static_cast<int32_t>(Count);
    std::memcpy(Dest, FMap.Data() + At, Count);
    if (FMap.Faulted())
        FMap.RaiseShrunk();
    return true;
}

int64_t TMP3Reader::FindTrailingTags() {
    int64_t End = FFileSize;
    // The tags stack up from the end: an ID3v1 tag last, an APEv2 or
    // Lyrics3v2 block or an ID3v2 tag with a footer before it, in any order.
    const TReadAt Read = [this](int64_t At, uint8_t* Dest, uint32_t Count) {
        return ReadBytes(At, Dest, Count);
    };
    for (;;) {
        const int64_t Start = TrailingTagStart(Read, End);
        if (Start < 0 || Start >= End)
            return End;
        End = Start;
    }
}

int64_t TMP3Reader::CrossTags(int64_t At) {
    uint8_t Head[ID3v2HeaderSize];
    int64_t Behind = At;
    int64_t Crossed = 0;
    while (Behind < FAudioLimit && ReadBytes(Behind, Head, sizeof Head)) {
        int64_t Size = ID3v2TagSize(Head);
        // An ID3v1 tag of the first file, where two files were joined.
        if (Size < 0 && Behind > 0 && std::memcmp(Head, "TAG", 3) == 0)
            Size = ID3TagSize;
        if (Size < 0 || Size > FAudioLimit - Behind)
            break;
        Behind += Size;
        Crossed += Size;
    }
    if (Crossed == 0)
        return At;
    // A frame, confirmed by the next header, must stand where the sizes say:
    // else a size was wrong, and the tag is searched after all.
    auto FrameAt = [this](int64_t Offset, TMP3FrameInfo& Frame) {
        uint8_t Header[4];
        return Offset + 4 <= FAudioLimit && ReadBytes(Offset, Header, 4) &&
               DecodeFrameHeader(FrameHeaderAt(Header), Frame);
    };
    TMP3FrameInfo First, Second;
    if (Behind < FAudioLimit &&
        !(FrameAt(Behind, First) && FrameAt(Behind + First.FrameLength, Second)))
        return At;
    FTagBytes += Crossed;
    return Behind;
}
