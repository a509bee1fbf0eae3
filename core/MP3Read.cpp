#include "MP3Read.h"

#include "Errors.h"
#include "FileAccess.h"

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
    TakeHandle(Handle, FileName, -1);
}

void TMP3Reader::OpenSameFile(const TMP3Reader& Other) {
    Close();
    const int Handle = FileDuplicate(Other.FHandle);
    if (Handle < 0)
        RaiseLastOSError(Other.FFileName);
    TakeHandle(Handle, Other.FFileName, Other.FFileSize);
}

void TMP3Reader::TakeHandle(int Handle, const std::string& FileName, int64_t Size) {
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
        FMap.Map(FHandle, FFileSize, FileName);
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
    TMP3FrameInfo Scratch;
    int64_t NextCheck = FPosition + SearchCheckBytes;
    while (FPosition < FFileSize) {
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
            int64_t Stop = std::max(FPosition, FFileSize - 3);
            if (Limit != 0 && Limit < Stop)
                Stop = std::max(FPosition, Limit + 1);
            if (FSearchCheck)
                Stop = std::min(Stop, NextCheck);
            if constexpr (Mapped)
                FPosition = FindByteInMap(0xFF, FPosition, Stop);
            else
                FPosition = FBuffer->FindByte(0xFF, FPosition, Stop);
            if (Limit != 0 && FPosition > Limit)
                break;
        }
        uint32_t Header;
        if constexpr (Mapped) {
            if (FPosition + 4 > FFileSize)
                break;
            Header = MappedHeader(FPosition);
        } else if (!ReadHeader(FPosition, Header)) {
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
        if (At + 4 > FFileSize)
            return false;
        Header = MappedHeader(At);
    } else if (!ReadHeader(At, Header)) {
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
    if (!FMap.Mapped())
        return FBuffer->Read(Dest, static_cast<uint32_t>(FFrame.FrameLength), FPosition) ==
               FFrame.FrameLength;
    const int64_t Count = std::min<int64_t>(FFrame.FrameLength, FFileSize - FPosition);
    std::memcpy(Dest, FMap.Data() + FPosition, static_cast<size_t>(Count));
    if (FMap.Faulted())
        FMap.RaiseShrunk();
    return Count == FFrame.FrameLength;
}
