#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Raises "Unable to read file" for a read that came up short, with its
// cause: the system's error Code, or for Code 0 the file having been cut
// short while it was read; and FileName when it is not empty.
[[noreturn]] void RaiseReadFailure(int Code, const std::string& FileName);
// Reads Count bytes of the open file Handle from Position, or raises as
// RaiseReadFailure.
void ReadExactlyAt(int Handle, void* Dest, uint32_t Count, int64_t Position,
                   const std::string& FileName);

// Random-access reads of small pieces of one open file, served from a memory
// window so that a scan trying every byte position touches the file only once
// per window. Windows start on 4096-byte boundaries; requests larger than
// half the buffer bypass the window.
class TFileReadBuffer {
public:
    // Smallest buffer whose windows hold every request they serve.
    static constexpr uint32_t MinBufferSize = 8192;

    // Takes the file's size at once ("Unable to receive file size" when it
    // can't). The handle is not owned and must stay open, and the file
    // unchanged, while the object lives. BufferSize is at least
    // MinBufferSize.
    TFileReadBuffer(int Handle, uint32_t BufferSize);
    virtual ~TFileReadBuffer();
    TFileReadBuffer(const TFileReadBuffer&) = delete;
    TFileReadBuffer& operator=(const TFileReadBuffer&) = delete;

    // Copies up to Count bytes from Position; the number copied (0 at or past
    // the end). A window load that comes up short raises "Unable to read
    // file"; a direct read reports a short read by its count, -1 for an error.
    int32_t Read(void* Dest, uint32_t Count, int64_t Position);

    // The position of the first byte equal to Byte at or after From and
    // before Until, read through the window; Until (at most FileSize) when
    // there is none, From when From is not before Until. No window is loaded
    // for bytes at or behind Until. Lets a scan pass over data that can't
    // hold a frame at memory speed.
    int64_t FindByte(uint8_t Byte, int64_t From, int64_t Until);

    // The name that read failures give with their cause.
    void SetFileName(const std::string& Name) { FFileName = Name; }

    int64_t FileSize() const { return FFileSize; }
    int64_t WindowPos() const { return FWindowPos; }
    uint32_t BufferSize() const { return FBufferSize; }
    // Number of system reads so far; lets tests see when the file is touched.
    int64_t ReadCalls() const { return FReadCalls; }

private:
    void LoadWindow(int64_t Position);

    int FHandle;
    std::unique_ptr<uint8_t[]> FBuffer;
    int64_t FWindowPos = -1;
    uint32_t FBufferSize;
    int64_t FFileSize = 0;
    int64_t FReadCalls = 0;
    std::string FFileName;
};
