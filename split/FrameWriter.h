#pragma once

// Collects the frames a job copies and hands them to the output file in
// large writes: one system call per frame would cost more than the copy
// itself. A job keeps one writer and attaches it to each output file in turn.
//
// Frames come in by AppendFrame, one call per frame. From a mapped source
// they are not copied at all: frames that follow each other in the source
// make one run of source bytes, written from the mapping in one call when
// the run ends (at junk, at a flush, at MaxRun bytes). With write-behind,
// those calls are made by a thread of the writer's own, in order, while the
// job walks on to the next run: the copy into the output and the job's work
// on the frames overlap. Runs of at most MaxRun bytes in all wait for that
// thread. Bytes of the job's own (Write, Reserve) go through the buffer,
// written on the job's thread once the runs before them are out. Either way
// the output gets every byte in the order it came. Each AppendFrame takes
// one whole frame, so BytesWritten after it is a frame boundary of the
// output; a run holds whole frames back to back, each starting with its
// header in the source.
//
// A failed write of a run is raised by the writer's next call that hands
// over or writes bytes, at the latest by Flush (at once without the thread);
// the output is cut back and the runs queued behind it are dropped, as if
// the job had stopped at it.

#include "MP3Read.h"

#include <cstdint>
#include <memory>

class TFileStream;

class TFrameWriter {
public:
    static constexpr uint32_t DefaultCapacity = 1024 * 1024;
    // The longest run of mapped source bytes written in one call, and the
    // most bytes of runs that wait for the writer's thread. With the run
    // being written and the one being collected, that keeps what is still
    // to be written within TSourceMap::KeptBehind of the reader, so that its
    // pages are mapped when they are written; only much junk between short
    // runs reaches further back, and those pages are then mapped again.
    static constexpr uint32_t MaxRun = 512 * 1024;

    explicit TFrameWriter(uint32_t Capacity = DefaultCapacity);
    virtual ~TFrameWriter();
    TFrameWriter(const TFrameWriter&) = delete;
    TFrameWriter& operator=(const TFrameWriter&) = delete;

    // Starts collecting for Stream, which must outlive the attachment; the
    // byte count starts at 0. Whatever is still held for a previous stream
    // is dropped, so flush before.
    void Attach(TFileStream& Stream);
    // Whether runs are written by the writer's thread. By default they are
    // wherever the process may use a second processor, which then copies
    // while the job walks on; on a single one the handing over would only
    // cost. Set it before the first run: once the thread has taken runs, it
    // takes all of them.
    void SetWriteBehind(bool Value) { FWriteBehind = Value; }
    // Forgets the stream without writing what is still collected (call
    // Flush first to keep it); waits for the runs already handed over.
    void Detach();

    // Appends the reader's current frame, whole, and gives its bytes, to be
    // looked at before the writer is used again; nullptr when the file ends
    // inside the frame (nothing is appended then). From a mapped source the
    // bytes are those of the mapping, written when their run is: the reader
    // must stay open until Flush or Detach. Raises "Unable to read file"
    // when the frame's bytes are gone.
    const uint8_t* AppendFrame(TMP3Reader& Reader) {
        // The usual case, kept inline: the frame follows the run in the
        // source.
        const auto Length = static_cast<uint32_t>(Reader.FrameLength());
        if (FRunLength > 0 && Reader.Position() == FRunStart + FRunLength &&
            &Reader.Map() == FRunSource && Length <= MaxRun - FRunLength &&
            Reader.FrameComplete()) {
            FRunLength += Length;
            FBytesWritten += Length;
            return Reader.Map().Data() + Reader.Position();
        }
        return AppendFrameSlow(Reader);
    }
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

    // Bytes given to Write, Commit and AppendFrame since Attach, whether or
    // not they reached the file.
    int64_t BytesWritten() const { return FBytesWritten; }
    // True once a write failed and was raised (a run's failure is raised by
    // the next call that hands over bytes, or by Flush).
    bool Failed() const { return FFailed; }
    bool Attached() const { return FStream != nullptr; }
    uint32_t Capacity() const { return FCapacity; }

private:
    class TBackground;
    struct TRun;

    const uint8_t* AppendFrameSlow(TMP3Reader& Reader);
    // Waits for the runs handed over; raises the failure of one of them.
    void WaitForRuns();
    // Raises the failure of a run written meanwhile, once.
    void TakeRunFailure();
    // Writes one run to Stream, on the writer's thread.
    static void WriteRun(const TRun& Run);
    void WriteOut(const void* Data, uint32_t Count);
    // A write of frames that began at file offset Start took only Written
    // bytes (-1: none, errno telling why): cuts the file back to its whole
    // frames and raises the stream's error.
    [[noreturn]] static void RaiseShortWrite(TFileStream& Stream, int64_t Start, const void* Data,
                                             int32_t Written);
    // After a short write of frames that began at file offset Start: cuts
    // the file to the whole frames among the Reached bytes that got there.
    static void CutBackToWholeFrames(TFileStream& Stream, int64_t Start, const void* Data,
                                     uint32_t Reached);
    void FlushBuffer();
    void FlushRun();

    TFileStream* FStream = nullptr;
    std::unique_ptr<uint8_t[]> FBuffer;
    uint32_t FCapacity;
    uint32_t FUsed = 0;
    int64_t FBytesWritten = 0;
    bool FFailed = false;
    // The run of mapped source bytes not yet written: FRunLength bytes from
    // FRunStart of FRunSource. Only one of the run and the buffer holds
    // bytes at any time.
    const TSourceMap* FRunSource = nullptr;
    int64_t FRunStart = 0;
    uint32_t FRunLength = 0;
    bool FWriteBehind;
    // Started with the first run handed over.
    std::unique_ptr<TBackground> FBackground;
};
