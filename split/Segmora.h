#pragma once

// The cutter: writes new MP3 files out of a source by copying whole MPEG
// audio frames byte for byte, never decoding anything. Two jobs: split the
// whole source into parts, each ending with the source's ID3v1 tag (by
// default PartCount files of about equal audio size, or the parts of a
// plan); or save the frames between two time marks into one file that gets
// an ID3v1 tag of the user's own. Every output starts with
// an ID3v2 tag built from the source's (see SourceTag.h), the user's fields
// over it. Each output of a source with an information frame or a varying
// bit rate then has an information frame of its own, right behind the tag.
// The front end fills in the properties, then runs a job with Execute.

#include "ID3v1.h"
#include "JobProgress.h"
#include "MP3Read.h"
#include "SourceTag.h"
#include "SplitPlan.h"
#include "StreamScan.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TExactFrames;
class TFileStream;
class TFrameWriter;

class TSegmora {
public:
    TSegmora();
    virtual ~TSegmora();
    TSegmora(const TSegmora&) = delete;
    TSegmora& operator=(const TSegmora&) = delete;

    const std::string& SourceFile() const { return FSourceFile; }
    void SetSourceFile(const std::string& Value) { FSourceFile = Value; }
    // Destination folder of the parts, as the user typed it.
    const std::string& Folder() const { return FFolder; }
    void SetFolder(const std::string& Value) { FFolder = Value; }
    const std::string& Prefix() const { return FPrefix; }
    void SetPrefix(const std::string& Value) { FPrefix = Value; }
    int32_t PartCount() const { return FPartCount; }
    void SetPartCount(int32_t Value) { FPartCount = Value; }
    // Output file of the selection.
    const std::string& DestFile() const { return FDestFile; }
    void SetDestFile(const std::string& Value) { FDestFile = Value; }
    // The selection's marks, in milliseconds on the frames' clock: from the
    // first audio frame, an information frame taking no time. Each mark
    // stands for the frame boundary within half a millisecond of it; the
    // selection holds the frames that end after the start's boundary and by
    // the end's. Cutting to the sample, the marks (and a plan's times, and
    // the times in the outputs' tags) count on the played clock instead:
    // from the first sample a player plays (PlayedClockSpan), each for its
    // nearest sample.
    int64_t SelStart() const { return FSelStart; }
    void SetSelStart(int64_t Ms) { FSelStart = Ms; }
    int64_t SelEnd() const { return FSelEnd; }
    void SetSelEnd(int64_t Ms) { FSelEnd = Ms; }
    // The tag written behind the selection when it holds any text.
    const TID3Info& ID3Info() const { return FID3Info; }
    void SetID3Info(const TID3Info& Info) { FID3Info = Info; }
    // The user's fields, laid over the source's in every output's ID3v2 tag.
    const TTagFields& TagFields() const { return FTagFields; }
    void SetTagFields(const TTagFields& Value) { FTagFields = Value; }
    // Leaves every tag out: the outputs hold their frames alone.
    bool NoTags() const { return FNoTags; }
    void SetNoTags(bool Value) { FNoTags = Value; }

    // Cut to the sample: each output of a Layer III source starts with the
    // frames that its first frame's sound is decoded from, and carries an
    // encoder header whose delay and padding make a gapless decoder play
    // exactly the samples between its marks (a split's parts, played back
    // to back, play the source). Off, frames are copied from the one
    // holding the start, as always.
    bool Exact() const { return FExact; }
    void SetExact(bool Value) { FExact = Value; }
    // After a job asked for Exact: false when the source's layer (I or II)
    // has no use for it, so that its outputs were cut at whole frames.
    bool ExactApplied() const { return FExactApplied; }
    // What to tell the user then.
    static std::string ExactNotAppliedText(const std::string& SourceFile) {
        return "Cut to the sample applies to Layer III files only: " + SourceFile +
               " was cut at whole frames.";
    }

    // Whether the split creates its folder (with its parents) when it is
    // missing: only once the source was opened and walked, so that a source
    // that can't be cut leaves no empty folder behind. Off, the folder must
    // be there (the window asks before it creates one).
    bool CreateFolder() const { return FCreateFolder; }
    void SetCreateFolder(bool Value) { FCreateFolder = Value; }

    // Whether an output may replace a file of its name (true, as the window
    // asks before the job); false creates only new files and fails on an
    // existing one at the moment of creation.
    bool Overwrite() const { return FOverwrite; }
    void SetOverwrite(bool Value) { FOverwrite = Value; }

    // Whether the part numbers are led by zeros to the width of the count.
    bool PadNumbers() const { return FPadNumbers; }
    void SetPadNumbers(bool Value) { FPadNumbers = Value; }

    // The parts the split writes instead of PartCount parts by size; none
    // to split by size. Each part holds the frames that end after its
    // Start and by its End; frames between parts are left out, and a part
    // that gets no frame is not made.
    const std::optional<TSplitPlan>& Plan() const { return FPlan; }
    void SetPlan(std::optional<TSplitPlan> Value) { FPlan = std::move(Value); }
    // Makes the plan once the split's own walk of the source has found its
    // frames, so that the source is walked once, and is given the source's
    // chapters as the split read them; the plan it makes becomes Plan.
    // Empty: none.
    using TPlanner =
        std::function<TSplitPlan(const TFrameGrid& Grid, const std::vector<TChapter>& Chapters)>;
    void SetPlanner(TPlanner Value) { FPlanner = std::move(Value); }
    // Asked of every part's name, with the split's own checks, before the
    // first part is written; raises to refuse the name.
    using TNameCheck = std::function<void(const std::string& FileName)>;
    void SetPartNameCheck(TNameCheck Value) { FPartNameCheck = std::move(Value); }
    // The parts the split makes: the plan's, or PartCount.
    int32_t PartTotal() const;

    // How the parts of a titled plan are named, without the folder and
    // ".mp3": "{n}" stands for the part's number, "{nn}" for it led by
    // zeros to two digits (to the width of the count from 100 parts on),
    // "{title}" for its title made fit for a file name. A part whose title
    // leaves nothing is named as an untitled part is.
    static constexpr const char* DefaultNamePattern = "{nn} - {title}";
    const std::string& NamePattern() const { return FNamePattern; }
    void SetNamePattern(const std::string& Value) { FNamePattern = Value; }

    // Where jobs show their progress and failures; not owned. Without one,
    // Execute lets a job's failure pass to its caller.
    void SetFrontEnd(IJobFrontEnd* FrontEnd) { FFrontEnd = FrontEnd; }

    // Runs one job under a progress display: the selection when Selection
    // is true, else the split. A failure is handed to the front end's
    // ShowJobError while the display is still up. True when the job ran to
    // its end: not cancelled, and no failure. Whatever was written stays.
    bool Execute(bool Selection);

    // The parts the split by size would make, each's start and end, from a
    // walk over the source's frame headers: nothing is written. Raises what
    // the split would raise before its first part.
    TSplitPlan PlanBySize();

    // Folder + "/" + Prefix + Number + ".mp3": the name of part Number, the
    // number led by zeros to the width of PartCount when PartCount is given
    // (p01 to p12), so that the names sort in order.
    static std::string PartFileName(const std::string& Folder, const std::string& Prefix,
                                    int32_t Number, int32_t PadTo = 0);
    // Part Number's name in this job: by the name pattern for a part of a
    // titled plan, else as above.
    std::string PartFileName(int32_t Number) const;
    // Folder + "/" + Pattern filled in + ".mp3"; empty when Title leaves
    // nothing for a name.
    static std::string TitledFileName(const std::string& Folder, const std::string& Pattern,
                                      int32_t Number, int32_t Count, const std::string& Title);
    // Title as part of a file name: "/" and control characters as "_",
    // leading dots left out, cut at a character to at most MaxTitleBytes.
    static std::string FileNameTitle(const std::string& Title);
    static constexpr size_t MaxTitleBytes = 200;
    // Creates (or, with Overwrite, truncates) part Number, without sharing.
    std::unique_ptr<TFileStream> CreatePartFile(int32_t Number);

private:
    class TPartWriter;

    void RunJob(bool Selection);
    void SaveSelection();
    void SplitByParts();
    void SplitByPlan();
    // Opens the source for a split: reads its tags, checks every part's
    // name and walks it (see ScanSource); with a planner, the names are
    // checked once the walk has made the plan.
    TStreamScan OpenSplit();
    // Refuses a plan without parts.
    void CheckPlan() const;
    // Readies the cut to the sample for the source of Scan, when asked for
    // and its layer has use for it.
    void StartExact(const TStreamScan& Scan);
    // A time on the frames' clock in milliseconds on the job's clock: the
    // frames' own, or cutting to the sample, from the first sample played.
    int64_t JobMs(int64_t Ticks) const;
    // Hands each audio frame of the open source in turn to Frame, the
    // reader standing on it; Frame copies it or passes it by and returns
    // false to end the walk. Reports the progress and asks to stop after
    // each.
    template <class TFrame> void WalkAudioFrames(const TStreamScan& Scan, TFrame Frame);
    // Walks the open source once and goes back to its start; refuses
    // a source whose frames cover too little of it to be its audio.
    TStreamScan ScanSource();
    void ReportProgress(double Percent);
    // Asks the progress display; once it said stop, the answer stays.
    bool Cancelled();
    // Opens the reader for a job: the stop request is also asked during a
    // long search.
    void OpenSource();
    void CloseSource();
    // Every part's name, before the first is written: a prefix that would
    // leave the folder, a name the file system can't take, or a part that
    // would be the source itself or another part.
    void CheckPartNames() const;
    // Creates the folder when CreateFolder asks for it and it is missing.
    void MakeFolder() const;
    uint32_t OutputMode() const;
    // Writes the output's ID3v2 tag through Writer, before anything else.
    void WriteOutputTag(TFrameWriter& Writer, const TOutputPlace& Place);
    // Where each part by size ends on the frames' clock, in ticks: the
    // parts' own rule walked over the frames' headers from the start.
    std::vector<int64_t> PartEnds(TMP3Reader& Reader, const TStreamScan& Scan);
    // The audio bytes of each part by size but the last.
    static int64_t PartSizeOf(const TStreamScan& Scan, int32_t Parts) {
        return (Scan.AudioEnd - Scan.AudioStart) / Parts;
    }
    // Refuses a count of parts by size that the source can't give.
    void CheckPartCount(const TStreamScan* Scan) const;
    // Whether part Number (not the last) is closed behind a frame, holding
    // Bytes of audio with FramesLeft audio frames still to come: at its
    // size, or early when the frames left are only enough for one in each
    // part still to come. The copy and the walk ahead both follow it.
    bool PartIsFull(int64_t Bytes, int64_t PartSize, int64_t FramesLeft, int32_t Number) const {
        return Bytes >= PartSize || FramesLeft <= FPartCount - Number;
    }
    std::string FSourceFile;
    std::string FFolder;
    std::string FPrefix;
    int32_t FPartCount = 2;
    TMP3Reader FReader;
    std::unique_ptr<IJobProgress> FProgressForm;
    std::string FDestFile;
    int64_t FSelEnd = 0;
    int64_t FSelStart = 0;
    TID3Info FID3Info;
    TTagFields FTagFields;
    TSourceTag FSourceTag;
    // The source's ID3v1 tag, which every part of a split ends with.
    std::optional<TID3Info> FSourceID3v1;
    std::optional<TSplitPlan> FPlan;
    TPlanner FPlanner;
    TNameCheck FPartNameCheck;
    std::string FNamePattern = DefaultNamePattern;
    // Made with the job's first output from FSourceTag.
    std::unique_ptr<TOutputTags> FOutputTags;
    bool FNoTags = false;
    bool FExact = false;
    bool FExactApplied = true;
    // The job's cut to the sample, while one runs.
    std::unique_ptr<TExactFrames> FExactFrames;
    bool FPadNumbers = false;
    IJobFrontEnd* FFrontEnd = nullptr;
    bool FOverwrite = true;
    bool FCreateFolder = false;
    bool FStopped = false;
};
