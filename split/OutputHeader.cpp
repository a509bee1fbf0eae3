#include "OutputHeader.h"

#include "FileAccess.h"
#include "FrameWriter.h"
#include "SourceMap.h"

#include <vector>

TOutputHeader::TOutputHeader(const TStreamScan& Scan, const TSourceMap& Source)
    : FScan(Scan), FSource(Source) {
    if (Scan.OutputsNeedInfoFrame())
        FBuilder.emplace(Scan.Info, Scan.FirstHeader, !Scan.BitrateVaries);
}

void TOutputHeader::Begin(TFrameWriter& Writer) {
    FBegun = false;
    FFirst = FLast = -1;
    if (!FBuilder)
        return;
    FBuilder->Reset();
    // A valid frame from the start: should the job end early, the output
    // still decodes.
    const std::vector<uint8_t> Frame = FBuilder->Build(false, false);
    Writer.Write(Frame.data(), static_cast<uint32_t>(Frame.size()));
    FBegun = true;
}

void TOutputHeader::Finish(TFileStream& Stream) {
    if (!FBegun)
        return;
    FBegun = false;
    // No audio, no frame to describe it: the output stays empty, as it
    // would be for a source without one.
    if (FFirst < 0) {
        Stream.SetSize(0);
        return;
    }
    const std::vector<uint8_t> Frame =
        FBuilder->Build(FFirst == FScan.AudioStart, FLast == FScan.LastAudio);
    // The last run was read only now: pages the file no longer holds read
    // as zeros.
    if (FSource.Mapped() && FSource.Faulted())
        FSource.RaiseShrunk();
    const int64_t End = Stream.Seek(0, TSeekOrigin::End);
    Stream.Seek(0, TSeekOrigin::Begin);
    Stream.WriteBuffer(Frame.data(), static_cast<uint32_t>(Frame.size()));
    Stream.Seek(End, TSeekOrigin::Begin);
}

bool TOutputHeader::FinishOutput(TFrameWriter& Writer, TFileStream& Stream) {
    Writer.Flush();
    const bool Audio = Writer.BytesWritten() > Length();
    Finish(Stream);
    return Audio;
}

void TOutputHeader::FinishAfterFailure(TFrameWriter& Writer, TFileStream& Stream) noexcept {
    Writer.FlushAfterFailure();
    try {
        if (!Writer.Failed())
            Finish(Stream);
    } catch (...) {
    }
}
