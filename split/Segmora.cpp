#include "Segmora.h"

#include "Errors.h"
#include "FileAccess.h"
#include "FrameClock.h"
#include "FrameWriter.h"
#include "OutputHeader.h"
#include "StreamScan.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <system_error>
#include <unistd.h>
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

// A job's output that holds nothing (no frame reached it) is not left
// behind as an empty .mp3. Runs on the way out, so it must not throw.
void RemoveIfEmpty(const std::unique_ptr<TFileStream>& Output) noexcept {
    if (Output && Output->Size() == 0)
        FileDelete(Output->FileName());
}

// Which frames a selection holds, by the time each one ends on the frames'
// clock. A mark in whole milliseconds stands for the frame boundary within
// half a millisecond of it, so each mark is moved half a millisecond on:
// a frame ending on the start's boundary held none of the selection's
// sound and stays out, and an end mark rounded down from a boundary keeps
// the frame that ends there.
class TSelectedFrames {
public:
    TSelectedFrames(int64_t StartMs, int64_t EndMs)
        : FAfter(BoundaryTicks(StartMs)), FThrough(BoundaryTicks(EndMs)) {}

    bool EndsAfterStart(int64_t FrameEnd) const { return FrameEnd > FAfter; }
    bool EndsByEnd(int64_t FrameEnd) const { return FrameEnd <= FThrough; }
    // The last moment a selected frame may end.
    int64_t Through() const { return FThrough; }

private:
    static int64_t BoundaryTicks(int64_t Ms) {
        // Far beyond any file, yet safe from overflow in ticks.
        constexpr int64_t Reach = std::numeric_limits<int64_t>::max() / MsToTicks(1) / 2;
        return MsToTicks(std::clamp(Ms, -Reach, Reach)) + HalfMsTicks;
    }

    int64_t FAfter;
    int64_t FThrough;
};

} // namespace

TSegmora::TSegmora() = default;

TSegmora::~TSegmora() = default;

bool TSegmora::Execute(bool Selection) {
    if (FFrontEnd == nullptr) {
        Selection ? SaveSelection() : SplitByParts();
        return !FStopped;
    }
    FProgressForm =
        FFrontEnd->BeginJob("Splitting...", "The selected file is being splited. Please wait...");
    TOnExit Release([this] { FProgressForm.reset(); });
    try {
        Selection ? SaveSelection() : SplitByParts();
    } catch (const std::exception& E) {
        FFrontEnd->ShowJobError(E.what());
        return false;
    }
    return !FStopped;
}

std::string TSegmora::PartFileName(const std::string& Folder, const std::string& Prefix,
                                   int32_t Number, int32_t PadTo) {
    // A folder typed with its trailing separator must not give "dir//name".
    std::string Name = Folder;
    if (Name.empty() || Name.back() != '/')
        Name += '/';
    std::string Digits = std::to_string(Number);
    const size_t Width = PadTo > 0 ? std::to_string(PadTo).size() : 0;
    if (Digits.size() < Width)
        Digits.insert(0, Width - Digits.size(), '0');
    return Name + Prefix + Digits + ".mp3";
}

std::string TSegmora::PartFileName(int32_t Number) const {
    return PartFileName(FFolder, FPrefix, Number, FPadNumbers ? FPartCount : 0);
}

uint32_t TSegmora::OutputMode() const {
    return fmCreate | fmShareExclusive | (FOverwrite ? 0 : fmCreateNew);
}

std::unique_ptr<TFileStream> TSegmora::CreatePartFile(int32_t Number) {
    return std::make_unique<TFileStream>(PartFileName(Number), OutputMode());
}

void TSegmora::WriteOutputTag(TFrameWriter& Writer, const TOutputPlace& Place) {
    if (FNoTags)
        return;
    // What the outputs share, a cover above all, is rendered once a job.
    if (!FOutputTags)
        FOutputTags = std::make_unique<TOutputTags>(FSourceTag, FTagFields);
    const TRenderedTag Tag = FOutputTags->Render(Place);
    for (const std::span<const uint8_t> Piece : Tag.Pieces())
        Writer.Write(Piece.data(), static_cast<uint32_t>(Piece.size()));
}

int64_t TSegmora::PartEndTicks(TMP3Reader& Ahead, const TStreamScan& Scan, int64_t PartSize,
                               int64_t FramesLeft, int32_t Number, int64_t StartTicks) {
    if (Number >= FPartCount)
        return Scan.Ticks;
    // The walk follows the job's own: from the first frame, or from the
    // last frame of the part before, which it then passes.
    if (Number == 1) {
        Ahead.Rewind();
    } else {
        Ahead.SearchFrom(FReader.Position());
        if (!Ahead.FindNextFrame(0))
            return StartTicks;
    }
    TInfoFrameSkip IsInfoFrame(Scan);
    int64_t Ticks = StartTicks;
    int64_t Bytes = 0;
    while (Ahead.FindNextFrame(0)) {
        if (IsInfoFrame(Ahead.Position()))
            continue;
        if (!Ahead.FrameComplete())
            break;
        Ticks += Ahead.FrameTicks();
        Bytes += Ahead.FrameLength();
        --FramesLeft;
        if (PartIsFull(Bytes, PartSize, FramesLeft, Number))
            break;
    }
    return Ticks;
}

void TSegmora::OpenSource() {
    FStopped = false;
    FReader.Open(FSourceFile);
    FReader.SetSearchCheck([this] { return Cancelled(); });
}

void TSegmora::CloseSource() {
    FReader.SetSearchCheck(nullptr);
    FReader.Close();
    // A cover may be large: it is not kept beyond the job.
    FOutputTags.reset();
    FSourceTag = TSourceTag();
}

void TSegmora::CheckPartNames() const {
    if (FPrefix.find('/') != std::string::npos)
        throw Exception("The prefix of the parts must not hold \"/\": " + FPrefix);
    long NameMax = pathconf(FFolder.empty() ? "/" : FFolder.c_str(), _PC_NAME_MAX);
    if (NameMax <= 0)
        NameMax = NAME_MAX;
    // Two parts that are one file (linked) would be written over each other.
    const auto Source = FileIdOf(FSourceFile);
    std::map<TFileId, int32_t> Existing;
    for (int32_t Number = 1; Number <= FPartCount; ++Number) {
        const std::string Name = PartFileName(Number);
        const std::string Leaf = Name.substr(Name.rfind('/') + 1);
        if (Leaf.size() > static_cast<size_t>(NameMax) || Name.size() >= PATH_MAX)
            throw Exception(WithCause(FormatMessage("Cannot create file %s", Name), ENAMETOOLONG));
        const auto Id = FileIdOf(Name);
        if (!Id)
            continue;
        if (Id == Source)
            throw Exception(FormatMessage("Cannot create file %s", Name) +
                            "\nIt is the source file.");
        if (const auto [Earlier, New] = Existing.emplace(*Id, Number); !New)
            throw Exception(FormatMessage("Cannot create file %s", Name) +
                            "\nIt is the same file as " + PartFileName(Earlier->second) + ".");
    }
}

void TSegmora::MakeFolder() const {
    if (!FCreateFolder)
        return;
    std::error_code Error;
    std::filesystem::create_directories(FFolder, Error);
    if (Error || !std::filesystem::is_directory(FFolder))
        throw Exception(FormatMessage("Cannot create folder %s", FFolder) +
                        (Error ? ": " + Error.message() : ""));
}

TStreamScan TSegmora::ScanSource() {
    TStreamScan Scan = ScanStream(FReader);
    // A scan cut short by a stop tells nothing about the source.
    if (!FStopped)
        RefuseUnlessAudio(Scan, FSourceFile);
    FReader.Rewind();
    return Scan;
}

void TSegmora::ReportProgress(double Percent) {
    if (FProgressForm)
        FProgressForm->SetProgress(Percent);
}

bool TSegmora::Cancelled() {
    FStopped = FStopped || (FProgressForm && FProgressForm->IsCancelled());
    return FStopped;
}

void TSegmora::SplitByParts() {
    // The part size divides by the count: a count below one would divide by
    // zero or make no sense of the part numbers.
    if (FPartCount < 1)
        throw Exception("The number of parts must be at least 1, not " +
                        std::to_string(FPartCount));
    OpenSource();
    TOnExit CloseReader([this] { CloseSource(); });
    // Read once, through the job's own handle: the name may meanwhile lead
    // to another file, or to none, while the open source still reads.
    TID3Info SourceTag;
    const bool HasSourceTag = !FNoTags && ReadID3TagFromHandle(FReader.Handle(), SourceTag);
    FSourceTag = FNoTags ? TSourceTag() : TSourceTag::FromHandle(FReader.Handle());
    CheckPartNames();
    const TStreamScan Scan = ScanSource();
    if (FStopped)
        return;
    // Every part gets a frame at least, or none is made.
    if (Scan.AudioFrames < FPartCount)
        throw Exception("Cannot split " + FSourceFile + " into " + std::to_string(FPartCount) +
                        " parts: it holds only " + std::to_string(Scan.AudioFrames) +
                        " audio frames. No part was made.");
    MakeFolder();
    const int64_t FileSize = FReader.FileSize();
    // The parts share the audio: tags and junk around it are never copied.
    const int64_t PartSize = (Scan.AudioEnd - Scan.AudioStart) / FPartCount;
    TPercentOf Percent(FileSize);

    TFrameWriter Writer;
    TOutputHeader Header(Scan, FReader.Map());
    int32_t PartNumber = 1;
    // Flushes the collected frames, adds the source's tag and closes the
    // part. A part whose write failed keeps the frames that reached it,
    // described by its header, and gets no tag behind the gap. A part left
    // without a frame (the source changed under the job, or the job
    // stopped) is removed: a job leaves no empty file.
    auto FinishPart = [&](std::unique_ptr<TFileStream>& Part) {
        if (!Part)
            return;
        std::unique_ptr<TFileStream> Closing = std::move(Part);
        TOnExit Detach([&Writer] { Writer.Detach(); });
        TOnExit DropEmpty([&] { RemoveIfEmpty(Closing); });
        if (Writer.Failed()) {
            Header.FinishAfterFailure(Writer, *Closing);
            return;
        }
        if (Header.FinishOutput(Writer, *Closing) && HasSourceTag)
            WriteID3TagToStream(*Closing, SourceTag);
        Closing->CheckNotLost();
    };

    int64_t FramesLeft = Scan.AudioFrames;
    // A part's tag holds the chapters that lie in it, so its end must be
    // known before its first frame: only then is the way ahead walked, over
    // the headers alone. Without chapters nothing is added to the job.
    const bool Chapters = !FNoTags && !FSourceTag.Chapters().empty();
    TMP3Reader Ahead;
    if (Chapters) {
        Ahead.OpenSameFile(FReader);
        Ahead.SetSearchCheck([this] { return Cancelled(); });
    }
    int64_t PartStart = 0;
    std::unique_ptr<TFileStream> Part;
    auto BeginPart = [&] {
        Part = CreatePartFile(PartNumber);
        Writer.Attach(*Part);
        const int64_t PartEnd =
            Chapters ? PartEndTicks(Ahead, Scan, PartSize, FramesLeft, PartNumber, PartStart)
                     : PartStart;
        WriteOutputTag(Writer, TOutputPlace::PartOf(PartNumber, FPartCount, TicksToMs(PartStart),
                                                    TicksToMs(PartEnd)));
        PartStart = PartEnd;
        Header.Begin(Writer);
    };
    BeginPart();
    TInfoFrameSkip IsInfoFrame(Scan);
    try {
        while (FReader.FindNextFrame(0)) {
            if (IsInfoFrame(FReader.Position()))
                continue;
            if (Header.CopyFrame(Writer, FReader) == nullptr)
                break;
            --FramesLeft;
            if (PartNumber < FPartCount &&
                PartIsFull(Writer.BytesWritten() - Header.At() - Header.Length(), PartSize,
                           FramesLeft, PartNumber)) {
                FinishPart(Part);
                ++PartNumber;
                BeginPart();
            }
            ReportProgress(Percent(FReader.Position()));
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
    const bool NoFrame = PartNumber == 1 && Writer.BytesWritten() <= Header.At() + Header.Length();
    FinishPart(Part);
    if (NoFrame && !FStopped)
        throw Exception("No audio frame was written: no MPEG audio frame was found in " +
                        FSourceFile + ", so no part was made.");
}

void TSegmora::SaveSelection() {
    OpenSource();
    TOnExit CloseReader([this] { CloseSource(); });
    FSourceTag = FNoTags ? TSourceTag() : TSourceTag::FromHandle(FReader.Handle());
    const TStreamScan Scan = ScanSource();
    if (FStopped)
        return;

    // Exact sums: a frame ending on a boundary ends on it.
    const TSelectedFrames Selected(FSelStart, FSelEnd);
    int64_t Time = 0;
    TTimePercent Percent(FSelEnd);
    TInfoFrameSkip IsInfoFrame(Scan);
    // The next audio frame, its end time counted: false at the end of the
    // frames, at a frame cut short, and at the first frame that ends after
    // the end mark.
    auto NextFrame = [&] {
        while (FReader.FindNextFrame(0)) {
            if (IsInfoFrame(FReader.Position()))
                continue;
            if (!FReader.FrameComplete())
                return false;
            Time += FReader.FrameTicks();
            return Selected.EndsByEnd(Time);
        }
        return false;
    };
    // The frames before the start mark are only walked over: their bytes
    // are never read. The output is made only once its first frame is
    // known, so that a selection without a frame replaces no file.
    bool Found = false;
    while (!Found && NextFrame()) {
        Found = Selected.EndsAfterStart(Time);
        if (!Found) {
            ReportProgress(Percent(TicksToSeconds(Time)));
            if (Cancelled())
                return;
        }
    }
    if (!Found)
        throw Exception("No audio frame was written: no frame of " + FSourceFile +
                        " ends between the marks, so " + FDestFile + " was not made.");

    auto Dest = std::make_unique<TFileStream>(FDestFile, OutputMode());
    TOnExit DropEmpty([&Dest] { RemoveIfEmpty(Dest); });
    TFrameWriter Writer;
    Writer.Attach(*Dest);
    TOnExit Detach([&Writer] { Writer.Detach(); });
    // The output ends on the last frame that ends by the end mark: frames
    // of one stream last alike.
    const int64_t StartTicks = Time - FReader.FrameTicks();
    const int64_t FrameTicks = FReader.FrameTicks();
    const int64_t End = Selected.Through();
    const int64_t EndTicks =
        FrameTicks > 0
            ? std::min(Scan.Ticks, StartTicks + (End - StartTicks) / FrameTicks * FrameTicks)
            : End;
    WriteOutputTag(Writer, TOutputPlace::Segment(TicksToMs(StartTicks), TicksToMs(EndTicks)));
    TOutputHeader Header(Scan, FReader.Map());
    Header.Begin(Writer);
    try {
        // The reader stands on the first frame to copy.
        do {
            // A frame the file lost since its end was checked ends the copy.
            if (Header.CopyFrame(Writer, FReader) == nullptr)
                break;
            ReportProgress(Percent(TicksToSeconds(Time)));
            if (Cancelled())
                break;
        } while (NextFrame());
    } catch (...) {
        Header.FinishAfterFailure(Writer, *Dest);
        throw;
    }
    const bool Audio = Header.FinishOutput(Writer, *Dest);
    if (!Audio && !FStopped)
        throw Exception("No audio frame was written: no frame of " + FSourceFile +
                        " ends between the marks, so " + FDestFile + " was not made.");
    // The output holds only frames, so its last 128 bytes are audio even
    // when they happen to begin with "TAG": the tag is appended, never laid
    // over them. Fewer than 128 bytes, or no audio frame, get no tag.
    if (!FNoTags && ID3InfoHasText(FID3Info) && Audio &&
        Writer.BytesWritten() - Header.At() >= ID3TagSize)
        WriteID3TagToStream(*Dest, FID3Info);
    Dest->CheckNotLost();
}
