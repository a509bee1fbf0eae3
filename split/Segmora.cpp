#include "Segmora.h"

#include "Errors.h"
#include "ExactCut.h"
#include "FileAccess.h"
#include "FrameClock.h"
#include "FrameWriter.h"
#include "Latin1Text.h"
#include "OutputHeader.h"
#include "SourceGrid.h"
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
        : TSelectedFrames(BoundaryTicks(StartMs), BoundaryTicks(EndMs), 0) {}
    // To the sample: the frames that hold a sample from Start on and before
    // End, times of samples on the frames' clock.
    static TSelectedFrames Holding(int64_t Start, int64_t End, int64_t FrameTicks) {
        return TSelectedFrames(Start, End + FrameTicks - 1, 0);
    }

    bool EndsAfterStart(int64_t FrameEnd) const { return FrameEnd > FAfter; }
    bool EndsByEnd(int64_t FrameEnd) const { return FrameEnd <= FThrough; }
    // The last moment a selected frame may end.
    int64_t Through() const { return FThrough; }

private:
    TSelectedFrames(int64_t After, int64_t Through, int) : FAfter(After), FThrough(Through) {}
    static int64_t BoundaryTicks(int64_t Ms) {
        // Far beyond any file, yet safe from overflow in ticks.
        constexpr int64_t Reach = std::numeric_limits<int64_t>::max() / MsToTicks(1) / 2;
        return MsToTicks(std::clamp(Ms, -Reach, Reach)) + HalfMsTicks;
    }

    int64_t FAfter;
    int64_t FThrough;
};

// Number led by zeros to Width digits.
std::string Padded(int32_t Number, size_t Width) {
    std::string Digits = std::to_string(Number);
    if (Digits.size() < Width)
        Digits.insert(0, Width - Digits.size(), '0');
    return Digits;
}

// Folder/Name.mp3.
std::string InFolder(const std::string& Folder, const std::string& Name) {
    // A folder typed with its trailing separator must not give "dir//name".
    std::string Path = Folder;
    if (Path.empty() || Path.back() != '/')
        Path += '/';
    return Path + Name + ".mp3";
}

} // namespace

// One split's parts, written one after the other through one writer: each
// starts with its ID3v2 tag and information frame and ends with the
// source's ID3v1 tag. A part open when the writer goes is finished as far
// as it got, without a word: the failure that ended the job is the one to
// report.
class TSegmora::TPartWriter {
public:
    TPartWriter(TSegmora& Job, const TStreamScan& Scan)
        : FJob(Job), FExact(Job.FExactFrames.get()),
          FHeader(Scan, Job.FReader.Map(), FExact ? TTrimRule::Exact : TTrimRule::Parts) {}
    ~TPartWriter() {
        try {
            Finish();
        } catch (...) {
        }
    }
    TPartWriter(const TPartWriter&) = delete;
    TPartWriter& operator=(const TPartWriter&) = delete;

    // The open part's number; 0 when none is open.
    int32_t Number() const { return FPart ? FNumber : 0; }
    // Whether any part got an audio frame.
    bool WroteAudio() const { return FWroteAudio; }
    // Audio bytes of the source's in the open part, the frames in front of
    // a part cut to the sample left out.
    int64_t AudioBytes() const {
        return FWriter.BytesWritten() - FHeader.At() - FHeader.Length() - FLeadBytes;
    }

    void Begin(int32_t Number, const TOutputPlace& Place) {
        FPart = FJob.CreatePartFile(Number);
        FNumber = Number;
        FLeadBytes = -1;
        FWriter.Attach(*FPart);
        FJob.WriteOutputTag(FWriter, Place);
        FHeader.Begin(FWriter);
    }

    // Copies the frame the reader stands on into the open part; false when
    // the frame is cut short or could not be read.
    bool Copy() {
        if (FExact && FLeadBytes < 0) {
            const int64_t Before = FWriter.BytesWritten();
            FExact->Begin(FWriter, FHeader, std::max(FExact->WalkedStart(), FExact->PlayedStart()));
            FLeadBytes = FWriter.BytesWritten() - Before;
        }
        if (FHeader.CopyFrame(FWriter, FJob.FReader) == nullptr)
            return false;
        if (FExact)
            FFramesEnd = FExact->WalkedEnd();
        FWroteAudio = true;
        return true;
    }

    // Flushes the collected frames, adds the source's tag and closes the
    // part. A part whose write failed keeps the frames that reached it,
    // described by its header, and gets no tag behind the gap. A part left
    // without a frame (the source changed under the job, or the job
    // stopped) is removed: a job leaves no empty file.
    void Finish() {
        if (!FPart)
            return;
        std::unique_ptr<TFileStream> Closing = std::move(FPart);
        TOnExit Detach([this] { FWriter.Detach(); });
        TOnExit DropEmpty([&] { RemoveIfEmpty(Closing); });
        if (FWriter.Failed()) {
            FHeader.FinishAfterFailure(FWriter, *Closing);
            return;
        }
        if (FExact && FLeadBytes >= 0)
            FExact->End(FHeader, std::min(FFramesEnd, FExact->PlayedEnd()), FFramesEnd);
        if (FHeader.FinishOutput(FWriter, *Closing) && FJob.FSourceID3v1)
            WriteID3TagToStream(*Closing, *FJob.FSourceID3v1);
        Closing->CheckNotLost();
    }

private:
    TSegmora& FJob;
    TExactFrames* FExact;
    TFrameWriter FWriter;
    TOutputHeader FHeader;
    std::unique_ptr<TFileStream> FPart;
    int32_t FNumber = 0;
    // Cut to the sample: the bytes of the frames put in front of the open
    // part's own (-1 before its first frame), and the sample behind its
    // last frame.
    int64_t FLeadBytes = 0;
    int64_t FFramesEnd = 0;
    bool FWroteAudio = false;
};

TSegmora::TSegmora() = default;

TSegmora::~TSegmora() = default;

void TSegmora::RunJob(bool Selection) {
    if (Selection)
        SaveSelection();
    else if (FPlan || FPlanner)
        SplitByPlan();
    else
        SplitByParts();
}

bool TSegmora::Execute(bool Selection) {
    if (FFrontEnd == nullptr) {
        RunJob(Selection);
        return !FStopped;
    }
    FProgressForm =
        FFrontEnd->BeginJob("Splitting...", "The selected file is being splited. Please wait...");
    TOnExit Release([this] { FProgressForm.reset(); });
    try {
        RunJob(Selection);
    } catch (const std::exception& E) {
        FFrontEnd->ShowJobError(E.what());
        return false;
    }
    return !FStopped;
}

std::string TSegmora::PartFileName(const std::string& Folder, const std::string& Prefix,
                                   int32_t Number, int32_t PadTo) {
    const size_t Width = PadTo > 0 ? std::to_string(PadTo).size() : 0;
    return InFolder(Folder, Prefix + Padded(Number, Width));
}

std::string TSegmora::FileNameTitle(const std::string& Title) {
    std::string Name;
    size_t At = 0;
    while (At < Title.size()) {
        const TTextChar Char = TextCharAt(Title, At);
        const size_t Length = Char.Length;
        if (Name.size() + Length > MaxTitleBytes)
            break;
        if (Char.Char == '.' && Name.empty()) {
            // A leading dot would hide the file.
        } else if (Char.Control() || Char.Char == '/') {
            Name += '_';
        } else {
            Name.append(Title, At, Length);
        }
        At += Length;
    }
    return Name;
}

std::string TSegmora::TitledFileName(const std::string& Folder, const std::string& Pattern,
                                     int32_t Number, int32_t Count, const std::string& Title) {
    const std::string Safe = FileNameTitle(Title);
    if (Safe.empty())
        return {};
    const std::pair<std::string, std::string> Fields[] = {
        {"{nn}", Padded(Number, std::max<size_t>(2, std::to_string(Count).size()))},
        {"{n}", std::to_string(Number)},
        {"{title}", Safe}};
    std::string Name;
    for (size_t At = 0; At < Pattern.size();) {
        const auto Field = std::find_if(std::begin(Fields), std::end(Fields), [&](const auto& F) {
            return Pattern.compare(At, F.first.size(), F.first) == 0;
        });
        if (Field == std::end(Fields)) {
            Name += Pattern[At++];
        } else {
            Name += Field->second;
            At += Field->first.size();
        }
    }
    return InFolder(Folder, Name);
}

int32_t TSegmora::PartTotal() const {
    return FPlan ? static_cast<int32_t>(FPlan->Parts.size()) : FPartCount;
}

std::string TSegmora::PartFileName(int32_t Number) const {
    const int32_t Count = PartTotal();
    if (FPlan && FPlan->Titled && Number >= 1 && Number <= Count) {
        std::string Name = TitledFileName(FFolder, FNamePattern, Number, Count,
                                          FPlan->Parts[static_cast<size_t>(Number - 1)].Title);
        if (!Name.empty())
            return Name;
    }
    return PartFileName(FFolder, FPrefix, Number, FPadNumbers ? Count : 0);
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

std::vector<int64_t> TSegmora::PartEnds(TMP3Reader& Reader, const TStreamScan& Scan) {
    const int64_t PartSize = PartSizeOf(Scan, FPartCount);
    int64_t FramesLeft = Scan.AudioFrames;
    std::vector<int64_t> Ends;
    int64_t Ticks = 0;
    int64_t Bytes = 0;
    Reader.Rewind();
    TInfoFrameSkip IsInfoFrame(Scan);
    while (static_cast<int32_t>(Ends.size()) + 1 < FPartCount && Reader.FindNextFrame(0)) {
        if (IsInfoFrame(Reader.Position()))
            continue;
        if (!Reader.FrameComplete())
            break;
        Ticks += Reader.FrameTicks();
        Bytes += Reader.FrameLength();
        --FramesLeft;
        if (PartIsFull(Bytes, PartSize, FramesLeft, static_cast<int32_t>(Ends.size()) + 1)) {
            Ends.push_back(Ticks);
            Bytes = 0;
        }
    }
    Ends.push_back(Scan.Ticks);
    return Ends;
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
    FSourceID3v1.reset();
    FExactFrames.reset();
}

void TSegmora::StartExact(const TStreamScan& Scan) {
    FExactApplied = !FExact || TExactFrames::Applies(Scan);
    if (FExact && FExactApplied)
        FExactFrames = std::make_unique<TExactFrames>(Scan, FReader.Handle(), FSourceFile);
}

int64_t TSegmora::JobMs(int64_t Ticks) const {
    return TicksToMs(FExactFrames ? FExactFrames->Clock().Of(Ticks) : Ticks);
}

void TSegmora::CheckPartNames() const {
    if (FPrefix.find('/') != std::string::npos)
        throw Exception("The prefix of the parts must not hold \"/\": " + FPrefix);
    if (FPlan && FPlan->Titled && FNamePattern.find('/') != std::string::npos)
        throw Exception("The name pattern of the parts must not hold \"/\": " + FNamePattern);
    long NameMax = pathconf(FFolder.empty() ? "/" : FFolder.c_str(), _PC_NAME_MAX);
    if (NameMax <= 0)
        NameMax = NAME_MAX;
    // Two parts that are one file (linked) would be written over each other.
    const auto Source = FileIdOf(FSourceFile);
    std::map<TFileId, int32_t> Existing;
    // A name pattern may give two parts one name.
    std::map<std::string, int32_t> Names;
    for (int32_t Number = 1; Number <= PartTotal(); ++Number) {
        const std::string Name = PartFileName(Number);
        if (FPartNameCheck)
            FPartNameCheck(Name);
        if (const auto [Earlier, New] = Names.emplace(Name, Number); !New)
            throw Exception(FormatMessage("Cannot create file %s", Name) + "\nPart " +
                            std::to_string(Earlier->second) + " has the same name.");
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

TStreamScan TSegmora::OpenSplit() {
    // Read once, through the job's own handle: the name may meanwhile lead
    // to another file, or to none, while the open source still reads.
    TID3Info SourceID3v1;
    if (!FNoTags && ReadID3TagFromHandle(FReader.Handle(), SourceID3v1))
        FSourceID3v1 = SourceID3v1;
    FSourceTag = FNoTags ? TSourceTag() : TSourceTag::FromHandle(FReader.Handle());
    if (!FPlanner) {
        CheckPartNames();
        return ScanSource();
    }
    TStreamScan Scan = ScanSource();
    if (!FStopped) {
        // The tag was read for the outputs, unless they get none.
        FPlan = FPlanner(FrameGridOf(Scan, FSourceFile, FExact),
                         FNoTags ? TSourceTag::FromHandle(FReader.Handle()).Chapters()
                                 : FSourceTag.Chapters());
        CheckPlan();
        CheckPartNames();
    }
    return Scan;
}

void TSegmora::CheckPlan() const {
    if (FPlan->Parts.empty())
        throw Exception("The plan for " + FSourceFile + " holds no part, so no part was made.");
}

template <class TFrame> void TSegmora::WalkAudioFrames(const TStreamScan& Scan, TFrame Frame) {
    TPercentOf Percent(FReader.FileSize());
    TInfoFrameSkip IsInfoFrame(Scan);
    while (FReader.FindNextFrame(0)) {
        if (IsInfoFrame(FReader.Position()))
            continue;
        if (FExactFrames)
            FExactFrames->Walk(FReader.Position(), FReader.FrameLength());
        if (!Frame())
            break;
        ReportProgress(Percent(FReader.Position()));
        if (Cancelled())
            break;
    }
}

void TSegmora::CheckPartCount(const TStreamScan* Scan) const {
    // The part size divides by the count: a count below one would divide by
    // zero or make no sense of the part numbers.
    if (FPartCount < 1)
        throw Exception("The number of parts must be at least 1, not " +
                        std::to_string(FPartCount));
    // Every part gets a frame at least, or none is made.
    if (Scan && Scan->AudioFrames < FPartCount)
        throw Exception("Cannot split " + FSourceFile + " into " + std::to_string(FPartCount) +
                        " parts: it holds only " + std::to_string(Scan->AudioFrames) +
                        " audio frames. No part was made.");
}

TSplitPlan TSegmora::PlanBySize() {
    CheckPartCount(nullptr);
    OpenSource();
    TOnExit CloseReader([this] { CloseSource(); });
    const TStreamScan Scan = OpenSplit();
    CheckPartCount(&Scan);
    TSplitPlan Plan;
    int64_t Start = 0;
    for (const int64_t End : PartEnds(FReader, Scan)) {
        Plan.Parts.push_back({Start, End, {}, {}});
        Start = End;
    }
    return Plan;
}

void TSegmora::SplitByParts() {
    CheckPartCount(nullptr);
    OpenSource();
    TOnExit CloseReader([this] { CloseSource(); });
    const TStreamScan Scan = OpenSplit();
    if (FStopped)
        return;
    CheckPartCount(&Scan);
    StartExact(Scan);
    MakeFolder();
    // The parts share the audio: tags and junk around it are never copied.
    const int64_t PartSize = PartSizeOf(Scan, FPartCount);
    int64_t FramesLeft = Scan.AudioFrames;
    // A part's tag holds the chapters that lie in it, so the parts' ends
    // must be known before their first frames: only then is the way ahead
    // walked, over the headers alone. Without chapters nothing is added to
    // the job.
    std::vector<int64_t> Ends;
    if (!FNoTags && !FSourceTag.Chapters().empty()) {
        TMP3Reader Ahead;
        Ahead.OpenSameFile(FReader);
        Ahead.SetSearchCheck([this] { return Cancelled(); });
        Ends = PartEnds(Ahead, Scan);
        if (FStopped)
            return;
    }
    TPartWriter Parts(*this, Scan);
    auto BeginPart = [&](int32_t Number) {
        const auto Index = static_cast<size_t>(Number - 1);
        const int64_t Start = Index > 0 && Index <= Ends.size() ? Ends[Index - 1] : 0;
        const int64_t End = Index < Ends.size() ? Ends[Index] : Start;
        Parts.Begin(Number, TOutputPlace::PartOf(Number, FPartCount, JobMs(Start), JobMs(End)));
    };
    BeginPart(1);
    WalkAudioFrames(Scan, [&] {
        if (!Parts.Copy())
            return false;
        --FramesLeft;
        const int32_t Number = Parts.Number();
        if (Number < FPartCount && PartIsFull(Parts.AudioBytes(), PartSize, FramesLeft, Number)) {
            Parts.Finish();
            BeginPart(Number + 1);
        }
        return true;
    });
    Parts.Finish();
    if (!Parts.WroteAudio() && !FStopped)
        throw Exception("No audio frame was written: no MPEG audio frame was found in " +
                        FSourceFile + ", so no part was made.");
}

void TSegmora::SplitByPlan() {
    if (!FPlanner)
        CheckPlan();
    OpenSource();
    TOnExit CloseReader([this] { CloseSource(); });
    const TStreamScan Scan = OpenSplit();
    if (FStopped)
        return;
    const std::vector<TPlannedPart>& Planned = FPlan->Parts;
    // A plan made for another file may lie wholly beyond this one's audio.
    if (Planned.front().Start >= Scan.Ticks)
        throw Exception("No audio frame of " + FSourceFile +
                        " lies in the planned parts, so no part was made.");
    StartExact(Scan);
    MakeFolder();
    const auto Count = static_cast<int32_t>(Planned.size());
    TPartWriter Parts(*this, Scan);
    size_t Next = 0; // the planned part the frames have reached
    int64_t Time = 0;
    WalkAudioFrames(Scan, [&] {
        Time += FReader.FrameTicks();
        while (Next < Planned.size() && Time > Planned[Next].End)
            ++Next;
        if (Next == Planned.size())
            return false;
        const TPlannedPart& Part = Planned[Next];
        // Frames between parts (silence left out) are passed by.
        if (Time <= Part.Start)
            return true;
        const auto Number = static_cast<int32_t>(Next) + 1;
        if (Parts.Number() != Number) {
            Parts.Finish();
            TOutputPlace Place =
                TOutputPlace::PartOf(Number, Count, JobMs(Part.Start), JobMs(Part.End));
            Place.NumberTitle = !FPlan->Titled;
            if (!Part.Title.empty())
                Place.Title = Part.Title;
            if (!Part.Performer.empty())
                Place.Artist = Part.Performer;
            Parts.Begin(Number, Place);
        }
        return Parts.Copy();
    });
    Parts.Finish();
    if (!Parts.WroteAudio() && !FStopped)
        throw Exception("No audio frame was written: no frame of " + FSourceFile +
                        " lies in the planned parts, so no part was made.");
}

void TSegmora::SaveSelection() {
    OpenSource();
    TOnExit CloseReader([this] { CloseSource(); });
    FSourceTag = FNoTags ? TSourceTag() : TSourceTag::FromHandle(FReader.Handle());
    const TStreamScan Scan = ScanSource();
    if (FStopped)
        return;
    StartExact(Scan);
    TExactFrames* Exact = FExactFrames.get();
    auto NoFrame = [this] {
        return Exception("No audio frame was written: no frame of " + FSourceFile +
                         " ends between the marks, so " + FDestFile + " was not made.");
    };

    // Exact sums: a frame ending on a boundary ends on it. To the sample,
    // the marks count the samples the player plays, from the first.
    int64_t First = 0;
    int64_t Behind = 0;
    if (Exact) {
        First = Exact->MarkSample(FSelStart);
        Behind = std::max(First, Exact->MarkSample(FSelEnd));
        if (Behind == First)
            throw NoFrame();
    }
    const TSelectedFrames Selected =
        Exact ? TSelectedFrames::Holding(Exact->TicksOf(First), Exact->TicksOf(Behind),
                                         Scan.First.Ticks)
              : TSelectedFrames(FSelStart, FSelEnd);
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
            if (Exact)
                Exact->Walk(FReader.Position(), FReader.FrameLength());
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
        throw NoFrame();

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
    if (Exact)
        WriteOutputTag(Writer, TOutputPlace::Segment(JobMs(Exact->TicksOf(First)),
                                                     JobMs(Exact->TicksOf(Behind))));
    else
        WriteOutputTag(Writer, TOutputPlace::Segment(TicksToMs(StartTicks), TicksToMs(EndTicks)));
    TOutputHeader Header(Scan, FReader.Map(), Exact ? TTrimRule::Exact : TTrimRule::Source);
    Header.Begin(Writer);
    int64_t FramesEnd = 0; // behind the last frame copied, in samples
    try {
        if (Exact)
            Exact->Begin(Writer, Header, First);
        // The reader stands on the first frame to copy.
        do {
            // A frame the file lost since its end was checked ends the copy.
            if (Header.CopyFrame(Writer, FReader) == nullptr)
                break;
            if (Exact)
                FramesEnd = Exact->WalkedEnd();
            ReportProgress(Percent(TicksToSeconds(Time)));
            if (Cancelled())
                break;
        } while (NextFrame());
    } catch (...) {
        Header.FinishAfterFailure(Writer, *Dest);
        throw;
    }
    if (Exact)
        Exact->End(Header, Behind, FramesEnd);
    const bool Audio = Header.FinishOutput(Writer, *Dest);
    if (!Audio && !FStopped)
        throw NoFrame();
    // The output holds only frames, so its last 128 bytes are audio even
    // when they happen to begin with "TAG": the tag is appended, never laid
    // over them. Fewer than 128 bytes, or no audio frame, get no tag.
    if (!FNoTags && ID3InfoHasText(FID3Info) && Audio &&
        Writer.BytesWritten() - Header.At() >= ID3TagSize)
        WriteID3TagToStream(*Dest, FID3Info);
    Dest->CheckNotLost();
}
