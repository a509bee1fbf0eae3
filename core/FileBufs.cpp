#include "FileBufs.h"

#include "Errors.h"
#include "FileAccess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
constexpr int64_t WindowAlignMask = ~static_cast<int64_t>(4095);
}

TFileReadBuffer::TFileReadBuffer(int Handle, uint32_t BufferSize)
    : FHandle(Handle), FBufferSize(BufferSize) {
    // A window starts up to 4095 bytes before the request and serves up to
    // half the buffer: anything smaller would copy from beyond its end.
    if (BufferSize < MinBufferSize)
        throw Exception("The read buffer must hold at least " + std::to_string(MinBufferSize) +
                        " bytes");
    FFileSize = FileSeek(FHandle, 0, TSeekOrigin::End);
    if (FFileSize < 0)
        throw Exception("Unable to receive file size");
    FBuffer = std::make_unique_for_overwrite<uint8_t[]>(BufferSize);
}

TFileReadBuffer::~TFileReadBuffer() = default;

int32_t TFileReadBuffer::Read(void* Dest, uint32_t Count, int64_t Position) {
    if (Position >= FFileSize || Position < 0)
        return 0;
    if (Count > FBufferSize / 2) {
        ++FReadCalls;
        return FileReadAt(FHandle, Dest, Count, Position);
    }
    if (FWindowPos < 0 || FWindowPos > Position ||
        Position + Count > FWindowPos + static_cast<int64_t>(FBufferSize))
        LoadWindow(Position);
    int64_t N = Count;
    if (Position + N > FFileSize)
        N = FFileSize - Position;
    std::memcpy(Dest, FBuffer.get() + (Position - FWindowPos), static_cast<size_t>(N));
    return static_cast<int32_t>(N);
}

int64_t TFileReadBuffer::FindByte(uint8_t Byte, int64_t From, int64_t Until) {
    Until = std::min(Until, FFileSize);
    From = std::max<int64_t>(From, 0);
    if (From >= Until)
        return From;
    while (From < Until) {
        if (FWindowPos < 0 || FWindowPos > From ||
            From >= FWindowPos + static_cast<int64_t>(FBufferSize)) {
            // A hole in a sparse file reads as zeros: pass over it unread.
            if (Byte != 0) {
                const int64_t Data = FileNextData(FHandle, From, FFileSize);
                if (Data > From)
                    From = Data;
                if (From >= Until)
                    break;
            }
            LoadWindow(From);
        }
        const int64_t WindowEnd = std::min(FWindowPos + static_cast<int64_t>(FBufferSize), Until);
        const uint8_t* Start = FBuffer.get() + (From - FWindowPos);
        const auto* Hit = static_cast<const uint8_t*>(
            std::memchr(Start, Byte, static_cast<size_t>(WindowEnd - From)));
        if (Hit != nullptr)
            return From + (Hit - Start);
        From = WindowEnd;
    }
    return Until;
}

void TFileReadBuffer::LoadWindow(int64_t Position) {
    const int64_t Window = Position & WindowAlignMask;
    const int64_t N = std::min<int64_t>(FBufferSize, FFileSize - Window);
    ++FReadCalls;
    FWindowPos = -1;
    ReadExactlyAt(FHandle, FBuffer.get(), static_cast<uint32_t>(N), Window, FFileName);
    FWindowPos = Window;
}

void RaiseReadFailure(int Code, const std::string& FileName) {
    throw Exception("Unable to read file\n" +
                    (Code != 0 ? SysErrorMessage(Code)
                               : std::string("The file ended early: it was cut short while it "
                                             "was read.")) +
                    (FileName.empty() ? "" : "\nFile: " + FileName));
}

void ReadExactlyAt(int Handle, void* Dest, uint32_t Count, int64_t Position,
                   const std::string& FileName) {
    errno = 0;
    const int32_t Got = FileReadAt(Handle, Dest, Count, Position);
    // A short count without an error: the file got shorter under us.
    if (Got < 0 || static_cast<uint32_t>(Got) < Count)
        RaiseReadFailure(Got < 0 ? errno : 0, FileName);
}
