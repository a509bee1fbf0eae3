#pragma once

// The information frame at the start of each output a job writes. When the
// source needs one (see TStreamScan::OutputsNeedInfoFrame), Begin puts a
// frame of the right size in front of the output's audio, Add counts each
// audio frame copied behind it, and Finish writes the frame built for those
// frames over the one put in front. For other sources every call does
// nothing.

#include "FrameWriter.h"
#include "InfoFrame.h"
#include "SourceMap.h"
#include "StreamScan.h"

#include <cstdint>
#include <optional>

class TFileStream;

// What an output's frame tells gapless decoders to drop.
enum class TTrimRule {
    // The source's delay when the output starts with the source's first
    // audio frame, its padding when it ends with the last.
    Source,
    // The parts of a split: the first part as above; the later ones say
    // nothing, so that no decoder drops 529 samples at their start that no
    // other part holds.
    Parts,
    // What SetTrim gives (cutting to the sample). Every Layer III output
    // gets a frame then, with an extension of its own when the source's
    // frame had none.
    Exact,
};

class TOutputHeader {
public:
    // Source is the reader's map: frames handed to Add from inside it stay
    // there, and are checksummed in runs.
    TOutputHeader(const TStreamScan& Scan, const TSourceMap& Source,
                  TTrimRule Rule = TTrimRule::Source);

    bool Active() const { return FBuilder.has_value(); }
    // The delay and padding of the output under way, for the rule Exact.
    void SetTrim(TTrim Value) { FTrim = Value; }
    // Bytes the frame takes at the start of the current output.
    int64_t Length() const { return FBegun ? FBuilder->Length() : 0; }

    // Starts a new output at the writer's next byte: whatever the writer
    // took before (the output's ID3v2 tag) stays in front of the frame.
    void Begin(TFrameWriter& Writer);
    // Where the frame (or, without one, the audio) starts in the output.
    int64_t At() const { return FAt; }
    // Counts the frame at Offset in the source, copied into the output.
    void Add(const uint8_t* Frame, uint32_t Length, int64_t Offset) {
        if (!FBegun)
            return;
        const bool InPlace = FSource.Mapped() && Frame >= FSource.Data() &&
                             Frame + Length <= FSource.Data() + FSource.Size();
        FBuilder->AddFrame(Frame, Length, InPlace);
        if (FFirst < 0)
            FFirst = Offset;
        FLast = Offset;
    }
    // Copies the frame the reader stands on through Writer and counts it.
    // Returns the frame's bytes, or nullptr (nothing copied) when the frame
    // is cut short by the end of the file or could not be read.
    const uint8_t* CopyFrame(TFrameWriter& Writer, TMP3Reader& Reader) {
        const uint8_t* Frame = Writer.AppendFrame(Reader);
        if (Frame != nullptr)
            Add(Frame, static_cast<uint32_t>(Reader.FrameLength()), Reader.Position());
        return Frame;
    }
    // Writes the output's own frame at its place (At() in Stream), once
    // everything else has been flushed to it, and returns to its end. An
    // output that got no audio frame is emptied instead. Raises the read
    // failure when the source shrank under the checksum.
    void Finish(TFileStream& Stream);
    // Flushes Writer and finishes Stream, the output it fills; true when an
    // audio frame reached it. An output without one is emptied, its tag too.
    bool FinishOutput(TFrameWriter& Writer, TFileStream& Stream);
    // The same after a failure: the frames that did arrive stay described by
    // their own header, also when the write itself failed and the output
    // was cut back to the frames that fit. Never raises: the failure is the
    // one to report.
    void FinishAfterFailure(TFrameWriter& Writer, TFileStream& Stream) noexcept;

private:
    // After a failed write: the frame for the frames the output kept.
    void FinishKept(TFileStream& Stream);
    // The frame for the frames counted, by the rule; Whole: the output got
    // every frame it was to get.
    std::vector<uint8_t> Build(bool Whole) const;
    static constexpr size_t ReadBackSize = 256 * 1024;

    const TStreamScan& FScan;
    const TSourceMap& FSource;
    TTrimRule FRule;
    TTrim FTrim;
    std::optional<TInfoFrameBuilder> FBuilder;
    bool FBegun = false;
    int64_t FAt = 0;
    int64_t FFirst = -1;
    int64_t FLast = -1;
};
