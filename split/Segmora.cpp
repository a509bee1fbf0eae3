#include "Segmora.h"

#include "Errors.h"
#include "FileAccess.h"
#include "FrameWriter.h"

#include <cmath>

namespace {

// Closes the reader on every way out of a job.
class TReaderCloser {
public:
    explicit TReaderCloser(TMP3Reader& Reader) : FReader(Reader) {}
    ~TReaderCloser() { FReader.Close(); }
    TReaderCloser(const TReaderCloser&) = delete;
    TReaderCloser& operator=(const TReaderCloser&) = delete;

private:
    TMP3Reader& FReader;
};

// Detaches the writer from a stream that is about to be closed.
class TWriterDetacher {
public:
    explicit TWriterDetacher(TFrameWriter& Writer) : FWriter(Writer) {}
    ~TWriterDetacher() { FWriter.Detach(); }
    TWriterDetacher(const TWriterDetacher&) = delete;
    TWriterDetacher& operator=(const TWriterDetacher&) = delete;

private:
    TFrameWriter& FWriter;
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
    struct TRelease {
        std::unique_ptr<IJobProgress>& Progress;
        ~TRelease() { Progress.reset(); }
    } Release{FProgressForm};
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
    TReaderCloser CloseReader(FReader);
    const int64_t FileSize = FReader.FileSize();
    const int64_t PartSize = FileSize / FPartCount;

    TFrameWriter Writer;
    // Flushes the collected frames, adds the source's tag and closes the
    // part. A part whose write failed gets no tag behind the gap.
    auto FinishPart = [&](std::unique_ptr<TFileStream>& Part) {
        if (!Part)
            return;
        std::unique_ptr<TFileStream> Closing = std::move(Part);
        TWriterDetacher Detach(Writer);
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
    TReaderCloser CloseReader(FReader);
    auto Dest = std::make_unique<TFileStream>(FDestFile, fmCreate | fmShareExclusive);
    TFrameWriter Writer;
    Writer.Attach(*Dest);
    TWriterDetacher Detach(Writer);

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
