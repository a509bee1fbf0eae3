#pragma once

// Collects the frames a job copies and hands them to the output file in
// large writes: one system call per frame would cost more than the copy
// itself. A job keeps one writer and attaches it to each output file in turn.

#include <cstdint>
#include <memory>

class TFileStream;

class TFrameWriter {
public:
    static constexpr uint32_t DefaultCapacity = 1024 * 1024;

    explicit TFrameWriter(uint32_t Capacity = DefaultCapacity);
    virtual ~TFrameWriter();
    TFrameWriter(const TFrameWriter&) = delete;
    TFrameWriter& operator=(const TFrameWriter&) = delete;

    // Starts collecting for Stream, which must outlive the attachment; the
    // byte count starts at 0. Whatever is still held for a previous stream
    // is dropped, so flush before.
    void Attach(TFileStream& Stream);
    // Forgets the stream without writing; call Flush first to keep the data.
    void Detach();

    // Appends Count bytes for the attached stream; writes the collected
    // bytes out when they would overflow the buffer. Raises the stream's
    // error naming the file when the disk takes fewer bytes than it was given.
    void Write(const void* Data, uint32_t Count);
    // Room for Count more bytes at the end of what is collected, flushing
    // first when the buffer lacks it; lets a frame be read straight into
    // place. Nothing counts until Commit.
    uint8_t* Reserve(uint32_t Count);
    // Takes Count bytes of the reserved room as written.
    void Commit(uint32_t Count);
    // Writes out everything collected so far. After a failed write the
    // writer holds nothing and takes nothing more for this stream: bytes
    // written later behind a gap would no longer be what the job copied.
    // What did reach the file is cut back to its last whole frame, so the
    // output never ends inside one; everything before stays.
    void Flush();
    // Flush for a job that is already failing: writes what it can and keeps
    // quiet, since the job's own error is the one to report.
    void FlushAfterFailure() noexcept;

    // Bytes given to Write since Attach, whether or not they reached the file.
    int64_t BytesWritten() const { return FBytesWritten; }
    bool Failed() const { return FFailed; }
    bool Attached() const { return FStream != nullptr; }
    uint32_t Capacity() const { return FCapacity; }

private:
    void WriteOut(const void* Data, uint32_t Count);
    // After a short write of frames that began at file offset Start: cuts
    // the file to the whole frames among the Reached bytes that got there.
    void CutBackToWholeFrames(int64_t Start, const void* Data, uint32_t Reached);

    TFileStream* FStream = nullptr;
    std::unique_ptr<uint8_t[]> FBuffer;
    uint32_t FCapacity;
    uint32_t FUsed = 0;
    int64_t FBytesWritten = 0;
    bool FFailed = false;
};
