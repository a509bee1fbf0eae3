#include "OutputHeader.h"

#include "ExactCut.h"
#include "FileAccess.h"
#include "FrameWriter.h"
#include "SourceMap.h"

#include <cstring>
#include <vector>

namespace {

// The encoder's extension of an output cut to the sample from a source whose
// frame had none: it names this program, which wrote it, and holds nothing
// but the delay and padding (and the lengths and checksums the builder
// fills in).
TInfoFrame WithOwnExtension(TInfoFrame Info, bool ConstantBitrate) {
    if (Info.Kind != TInfoKind::Xing && Info.Kind != TInfoKind::Info)
        Info = TInfoFrame{};
    if (Info.Kind == TInfoKind::None)
        Info.Kind = ConstantBitrate ? TInfoKind::Info : TInfoKind::Xing;
    if (!Info.HasExtension) {
        Info.HasExtension = true;
        Info.Extension.fill(0);
        std::memcpy(Info.Extension.data(), "Segmora  ", 9);
    }
    return Info;
}

} // namespace

TOutputHeader::TOutputHeader(const TStreamScan& Scan, const TSourceMap& Source, TTrimRule Rule)
    : FScan(Scan), FSource(Source), FRule(Rule) {
    if (Rule == TTrimRule::Exact && TExactFrames::Applies(Scan))
        FBuilder.emplace(WithOwnExtension(Scan.Info, !Scan.BitrateVaries), Scan.FirstHeader,
                         !Scan.BitrateVaries);
    else if (Scan.OutputsNeedInfoFrame())
        FBuilder.emplace(Scan.Info, Scan.FirstHeader, !Scan.BitrateVaries);
}

std::vector<uint8_t> TOutputHeader::Build(bool Whole) const {
    if (FRule == TTrimRule::Exact)
        // Cut short, the output keeps all it got.
        return FBuilder->Build(Whole ? FTrim : TTrim{FTrim.Delay, DecoderDelaySamples});
    const bool StartsAtFirst = FFirst == FScan.AudioStart;
    if (FRule == TTrimRule::Parts && !StartsAtFirst)
        return FBuilder->Build(std::nullopt);
    return FBuilder->Build(StartsAtFirst, Whole && FLast == FScan.LastAudio);
}

void TOutputHeader::Begin(TFrameWriter& Writer) {
    FBegun = false;
    FFirst = FLast = -1;
    FAt = Writer.BytesWritten();
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
    if (FFirst < 0)
        return;
    const std::vector<uint8_t> Frame = Build(true);
    // The last run was read only now: pages the file no longer holds read
    // as zeros.
    if (FSource.Mapped() && FSource.Faulted())
        FSource.RaiseShrunk();
    const int64_t End = Stream.Seek(0, TSeekOrigin::End);
    Stream.Seek(FAt, TSeekOrigin::Begin);
    Stream.WriteBuffer(Frame.data(), static_cast<uint32_t>(Frame.size()));
    Stream.Seek(End, TSeekOrigin::Begin);
}

bool TOutputHeader::FinishOutput(TFrameWriter& Writer, TFileStream& Stream) {
    // The last runs may fail only now, as the output is closed.
    try {
        Writer.Flush();
    } catch (...) {
        FinishAfterFailure(Writer, Stream);
        throw;
    }
    const bool Audio = Writer.BytesWritten() > FAt + Length();
    Finish(Stream);
    // No audio: no tag or frame in front of nothing.
    if (!Audio && Stream.Size() > 0)
        Stream.SetSize(0);
    return Audio;
}

void TOutputHeader::FinishAfterFailure(TFrameWriter& Writer, TFileStream& Stream) noexcept {
    Writer.FlushAfterFailure();
    try {
        if (!Writer.Failed())
            Finish(Stream);
        else
            FinishKept(Stream);
    } catch (...) {
    }
}

void TOutputHeader::FinishKept(TFileStream& Stream) {
    if (!FBegun)
        return;
    FBegun = false;
    // The writer cut the output back to whole frames behind the frame put
    // in front; which of the counted frames are left is read back from the
    // output itself. Writing the frame over its placeholder takes no room.
    const int64_t Size = Stream.Size();
    if (Size <= FAt + FBuilder->Length())
        return;
    FBuilder->Reset();
    std::vector<uint8_t> Buffer(ReadBackSize);
    size_t Held = 0;
    Stream.Seek(FAt + FBuilder->Length(), TSeekOrigin::Begin);
    for (;;) {
        const int32_t Read =
            Stream.Read(Buffer.data() + Held, static_cast<uint32_t>(Buffer.size() - Held));
        if (Read <= 0)
            break;
        Held += static_cast<size_t>(Read);
        size_t At = 0;
        TMP3FrameInfo Frame;
        while (At + 4 <= Held && DecodeFrameHeader(FrameHeaderAt(Buffer.data() + At), Frame) &&
               At + static_cast<size_t>(Frame.FrameLength) <= Held) {
            FBuilder->AddFrame(Buffer.data() + At, static_cast<uint32_t>(Frame.FrameLength));
            At += static_cast<size_t>(Frame.FrameLength);
        }
        std::memmove(Buffer.data(), Buffer.data() + At, Held - At);
        Held -= At;
    }
    const std::vector<uint8_t> Frame = Build(false);
    Stream.Seek(FAt, TSeekOrigin::Begin);
    Stream.WriteBuffer(Frame.data(), static_cast<uint32_t>(Frame.size()));
    Stream.Seek(0, TSeekOrigin::End);
}
