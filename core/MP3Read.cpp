#include "MP3Read.h"

#include "Errors.h"
#include "FileAccess.h"

#include <algorithm>

TMP3Reader::~TMP3Reader() {
    Close();
}

void TMP3Reader::Open(const std::string& FileName) {
    // A reader still open would otherwise keep its file's writers out until
    // the program ends.
    Close();
    FHandle = FileOpen(FileName, fmOpenRead | fmShareDenyWrite);
    if (FHandle < 0)
        RaiseLastOSError(FileName);
    try {
        FPosition = 0;
        FBuffer = std::make_unique<TFileReadBuffer>(FHandle, WindowSize);
        FBuffer->SetFileName(FileName);
        FFileSize = FBuffer->FileSize();
        FFrameFound = false;
    } catch (...) {
        Close();
        throw;
    }
}

void TMP3Reader::Close() {
    FBuffer.reset();
    if (FHandle >= 0)
        FileClose(FHandle);
    FHandle = -1;
    FFrameFound = false;
}

bool TMP3Reader::ReadHeader(int64_t At, uint32_t& Header) {
    uint8_t Bytes[4];
    if (FBuffer->Read(Bytes, 4, At) < 4)
        return false;
    Header = static_cast<uint32_t>(Bytes[0]) | static_cast<uint32_t>(Bytes[1]) << 8 |
             static_cast<uint32_t>(Bytes[2]) << 16 | static_cast<uint32_t>(Bytes[3]) << 24;
    return true;
}

bool TMP3Reader::IsFrameAt(int64_t At) {
    uint32_t Header;
    TMP3FrameInfo Scratch;
    return ReadHeader(At, Header) && DecodeFrameHeader(Header, Scratch);
}

bool TMP3Reader::FindNextFrame(int64_t Limit) {
    // A closed reader keeps the last file's size for its callers to report,
    // but has nothing left to search.
    if (!FBuffer)
        return false;
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
            FPosition = FBuffer->FindByte(0xFF, FPosition, Stop);
            if (Limit != 0 && FPosition > Limit)
                break;
        }
        uint32_t Header;
        if (!ReadHeader(FPosition, Header))
            break;
        if (DecodeFrameHeader(Header, Scratch) &&
            (FFrameFound || IsFrameAt(FPosition + Scratch.FrameLength))) {
            FFrame = Scratch;
            FFrameFound = true;
            return true;
        }
        ++FPosition;
        FFrameFound = false;
    }
    FFrameFound = false;
    return false;
}

bool TMP3Reader::ReadFrame(void* Dest) {
    if (!FFrameFound)
        throw Exception("Frame is not found");
    return FBuffer->Read(Dest, static_cast<uint32_t>(FFrame.FrameLength), FPosition) ==
           FFrame.FrameLength;
}
