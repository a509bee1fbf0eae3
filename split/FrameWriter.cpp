#include "FrameWriter.h"

#include "Errors.h"
#include "FileAccess.h"
#include "MP3Read.h"
#include "MP3Utils.h"
#include "SourceMap.h"

#include <cerrno>
#include <cstring>

TFrameWriter::TFrameWriter(uint32_t Capacity)
    : FBuffer(std::make_unique_for_overwrite<uint8_t[]>(Capacity)), FCapacity(Capacity) {}

TFrameWriter::~TFrameWriter() = default;

void TFrameWriter::Attach(TFileStream& Stream) {
    Detach();
    FStream = &Stream;
    FBytesWritten = 0;
    FFailed = false;
}

void TFrameWriter::Detach() {
    FStream = nullptr;
    FUsed = 0;
    FRunLength = 0;
}

const uint8_t* TFrameWriter::AppendFrameSlow(TMP3Reader& Reader) {
    const TSourceMap& Source = Reader.Map();
    const auto Length = static_cast<uint32_t>(Reader.FrameLength());
    if (!Source.Mapped() || FStream == nullptr) {
        // Read into the buffer (which also raises when no file is attached).
        uint8_t* Frame = Reserve(Length);
        if (!Reader.ReadFrame(Frame))
            return nullptr;
        Commit(Length);
        return Frame;
    }
    if (!Reader.FrameComplete())
        return nullptr;
    const uint8_t* Frame = Source.Data() + Reader.Position();
    if (FFailed)
        return Frame;
    FBytesWritten += Length;
    FlushRun();
    FlushBuffer();
    FRunSource = &Source;
    FRunStart = Reader.Position();
    FRunLength = Length;
    return Frame;
}

void TFrameWriter::Write(const void* Data, uint32_t Count) {
    if (FStream == nullptr)
        throw Exception("No output file is open");
    if (FFailed || Count == 0)
        return;
    FBytesWritten += Count;
    FlushRun();
    if (Count > FCapacity - FUsed) {
        Flush();
        // Larger than the whole buffer: no point in copying it first.
        if (Count >= FCapacity) {
            WriteOut(Data, Count);
            return;
        }
    }
    std::memcpy(FBuffer.get() + FUsed, Data, Count);
    FUsed += Count;
}

uint8_t* TFrameWriter::Reserve(uint32_t Count) {
    if (FStream == nullptr)
        throw Exception("No output file is open");
    FlushRun();
    if (Count > FCapacity - FUsed)
        Flush();
    if (Count > FCapacity) {
        FBuffer = std::make_unique_for_overwrite<uint8_t[]>(Count);
        FCapacity = Count;
    }
    return FBuffer.get() + FUsed;
}

void TFrameWriter::Commit(uint32_t Count) {
    if (FFailed)
        return;
    FUsed += Count;
    FBytesWritten += Count;
}

void TFrameWriter::Flush() {
    FlushRun();
    FlushBuffer();
}

void TFrameWriter::FlushBuffer() {
    if (FStream == nullptr || FFailed || FUsed == 0)
        return;
    const uint32_t Count = FUsed;
    FUsed = 0;
    WriteOut(FBuffer.get(), Count);
}

void TFrameWriter::FlushRun() {
    if (FStream == nullptr || FFailed || FRunLength == 0)
        return;
    const uint32_t Count = FRunLength;
    FRunLength = 0;
    const uint8_t* Data = FRunSource->Data() + FRunStart;
    const int64_t Start = FStream->Position();
    errno = 0;
    int32_t Written = 0;
    try {
        Written = FRunSource->WriteTo(FStream->Handle(), FRunStart, Count);
    } catch (...) {
        // The source lost bytes of the run, and what went out of it may
        // hold zeros in their place: none of it is kept.
        FFailed = true;
        CutBackToWholeFrames(Start, Data, 0);
        throw;
    }
    if (Written >= 0 && static_cast<uint32_t>(Written) == Count)
        return;
    const int Code = errno;
    FFailed = true;
    CutBackToWholeFrames(Start, Data, Written < 0 ? 0 : static_cast<uint32_t>(Written));
    throw Exception(FStream->WriteErrorMessage(Code));
}

void TFrameWriter::WriteOut(const void* Data, uint32_t Count) {
    const int64_t Start = FStream->Position();
    errno = 0;
    const int32_t Written = FStream->Write(Data, Count);
    if (Written >= 0 && static_cast<uint32_t>(Written) == Count)
        return;
    const int Code = errno;
    FFailed = true;
    FUsed = 0;
    CutBackToWholeFrames(Start, Data, Written < 0 ? 0 : static_cast<uint32_t>(Written));
    throw Exception(FStream->WriteErrorMessage(Code));
}

void TFrameWriter::CutBackToWholeFrames(int64_t Start, const void* Data, uint32_t Reached) {
    if (Start < 0)
        return;
    try {
        FStream->SetSize(Start + WholeFramesLength(static_cast<const uint8_t*>(Data), Reached));
    } catch (const Exception&) {
        // The write's own failure is the one to report.
    }
}

void TFrameWriter::FlushAfterFailure() noexcept {
    try {
        Flush();
    } catch (...) {
    }
}
