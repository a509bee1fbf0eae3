#include "Segmora.h"

#include "Errors.h"
#include "FileAccess.h"
#include "FrameWriter.h"

#include <cmath>
#include <utility>

namespace {

// Runs an action on every way out of a scope: closing the reader, detaching
// the writer, freeing the progress display.
template <class TAction> class TOnExit {
public:
    explicit TOnExit(TAction Action) : FAction(std::move(Action)) {}
    ~TOnExit() { FAction(); }
    TOnExit(const TOnExit&) = delete;
    TOnExit& operator=(const TOnExit&) = delete;

private:
    TAction FAction;
};

} // namespace

TSegmora::TSegmora() = default;

TSegmora::~TSegmora() = default;

void TSegmora::Execute(bool Selection) {
    if (FFrontEnd == nullptr) {
        Selection ? SaveSelection() : SplitByParts();
        return;
    }
    FProgressForm =
        FFrontEnd->BeginJob("Splitting...", "The selected file is being splited. Please wait...");
    TOnExit Release([this] { FProgressForm.reset(); });
    try {
        Selection ? SaveSelection() : SplitByParts();
    } catch (const std::exception& E) {
        FFrontEnd->ShowJobError(E.what());
    }
}

std::string TSegmora::PartFileName(const std::string& Folder, const std::string& Prefix,
                                   int32_t Number) {
    // A folder typed with its trailing separator must not give "dir//name".
    std::string Name = Folder;
    if (Name.empty() || Name.back() != '/')
        Name += '/';
    return Name + Prefix + std::to_string(Number) + ".mp3";
}

std::string TSegmora::PartFileName(int32_t Number) const {
    return PartFileName(FFolder, FPrefix, Number);
}

std::unique_ptr<TFileStream> TSegmora::CreatePartFile(int32_t Number) {
    return std::make_unique<TFileStream>(PartFileName(Number), fmCreate | fmShareExclusive);
}

void TSegmora::WriteSourceTag(TFileStream& Stream) {
    TID3Info Tag;
    if (ReadID3Tag(FSourceFile, Tag))
        WriteID3TagToStream(Stream, Tag);
}

bool TSegmora::ReadFrameInto(TFrameWriter& Writer) {
    return FReader.ReadFrame(Writer.Reserve(static_cast<uint32_t>(FReader.FrameLength())));
}

void TSegmora::ReportProgress(double Percent) {
    if (FProgressForm)
        FProgressForm->SetProgress(Percent);
}

bool TSegmora::Cancelled() {
    return FProgressForm && FProgressForm->IsCancelled();
}

void TSegmora::SplitByParts() {
    // The part size divides by the count: a count below one would divide by
    // zero or make no sense of the part numbers.
    if (FPartCount < 1)
        throw Exception("The number of parts must be at least 1, not " +
                        std::to_string(FPartCount));
    FReader.Open(FSourceFile);
    TOnExit CloseReader([this] { FReader.Close(); });
    const int64_t FileSize = FReader.FileSize();
    const int64_t PartSize = FileSize / FPartCount;

    TFrameWriter Writer;
    // Flushes the collected frames, adds the source's tag and closes the
    // part. A part whose write failed gets no tag behind the gap.
    auto FinishPart = [&](std::unique_ptr<TFileStream>& Part) {
        if (!Part)
            return;
        std::unique_ptr<TFileStream> Closing = std::move(Part);
        TOnExit Detach([&Writer] { Writer.Detach(); });
        if (Writer.Failed())
            return;
        Writer.Flush();
        WriteSourceTag(*Closing);
    };

    int32_t PartNumber = 1;
    std::unique_ptr<TFileStream> Part = CreatePartFile(PartNumber);
    Writer.Attach(*Part);
    try {
        while (FReader.FindNextFrame(0)) {
            if (!ReadFrameInto(Writer))
                break;
            Writer.Commit(static_cast<uint32_t>(FReader.FrameLength()));
            if (PartNumber < FPartCount && Writer.BytesWritten() >= PartSize) {
                FinishPart(Part);
                ++PartNumber;
                Part = CreatePartFile(PartNumber);
                Writer.Attach(*Part);
            }
            ReportProgress(static_cast<double>(FReader.Position() * 100 / FileSize));
            if (Cancelled())
                break;
        }
    } catch (...) {
        // The job's own failure is the one to report; closing the part is
        // only tried.
        try {
            FinishPart(Part);
        } catch (...) {
        }
        throw;
    }
    FinishPart(Part);
}

void TSegmora::SaveSelection() {
    FReader.Open(FSourceFile);
    TOnExit CloseReader([this] { FReader.Close(); });
    auto Dest = std::make_unique<TFileStream>(FDestFile, fmCreate | fmShareExclusive);
    TFrameWriter Writer;
    Writer.Attach(*Dest);
    TOnExit Detach([&Writer] { Writer.Detach(); });

    double Time = 0.0;
    try {
        while (FReader.FindNextFrame(0)) {
            if (!ReadFrameInto(Writer))
                break;
            Time += FReader.FrameDuration();
            if (FSelEnd < Time * 10)
                break;
            if (FSelStart <= Time * 10)
                Writer.Commit(static_cast<uint32_t>(FReader.FrameLength()));
            ReportProgress(std::nearbyint(Time * 1000 / FSelEnd));
            if (Cancelled())
                break;
        }
    } catch (...) {
        Writer.FlushAfterFailure();
        throw;
    }
    Writer.Flush();
    // The output holds only frames, so its last 128 bytes are audio even
    // when they happen to begin with "TAG": the tag is appended, never laid
    // over them. Fewer than 128 bytes get no tag.
    if (ID3InfoHasText(FID3Info) && Writer.BytesWritten() >= ID3TagSize)
        WriteID3TagToStream(*Dest, FID3Info);
}
