#pragma once

// Where the parts of a split begin and end, for the ways of splitting other
// than by size: equal play time, every T, at silences, at marks, by a cue
// sheet, by the source's chapters. A plan only decides; the cutter then
// writes each part's frames through the same writer as every other job.
//
// Every time of a plan is in ticks on the frames' clock (FrameClock.h),
// counted from the first audio frame, and every cut lies on a frame
// boundary. The times a plan is asked for (every T, marks, a cue sheet's
// indexes, chapters) count from the grid's Origin: the first audio frame,
// or, cutting to the sample, the first sample a player plays. A part
// holds the frames that end after its Start and by its End. The parts
// follow each other in order and never overlap; consecutive parts share
// their boundary unless silence between them was left out. A part that
// would hold no frame is not in the plan.

#include "FrameClock.h"
#include "SourceTag.h"
#include "StreamScan.h"

#include <cstdint>
#include <string>
#include <vector>

class TLoudnessOverview;

// The frames of a source, as far as a plan needs them: frames of one
// length (one sample rate and layer), Frames of them.
struct TFrameGrid {
    int64_t FrameTicks = 0;
    int64_t Frames = 0;
    // Where the times asked for count from, and what the end of the frames
    // holds beyond where they end: both 0 on the frames' clock; cutting to
    // the sample, the delay and padding a player leaves out.
    int64_t Origin = 0;
    int64_t Tail = 0;

    int64_t TotalTicks() const { return FrameTicks * Frames; }
    // The clock the times asked for are on.
    TClockSpan Clock() const { return {Origin, TotalTicks() - Tail}; }
    // The boundary nearest to Ticks, within 0..TotalTicks.
    int64_t Nearest(int64_t Ticks) const;
    // The boundary nearest to a Time asked for, counted from Origin; the
    // start and the end of the clock stand for the frames' own, so that no
    // sound before the first time or after the last is left out.
    int64_t At(int64_t Time) const;
};

struct TPlannedPart {
    int64_t Start = 0; // a frame boundary
    int64_t End = 0;   // a frame boundary after Start
    // From a cue sheet or a chapter; empty for the other modes.
    std::string Title;
    std::string Performer;

    bool operator==(const TPlannedPart&) const = default;
};

struct TSplitPlan {
    std::vector<TPlannedPart> Parts;
    // The parts carry titles of their own (a cue sheet, chapters): their
    // files are named after them and the titles are not numbered.
    bool Titled = false;
};

// N parts of equal play time, each cut on the boundary nearest to k/N of
// the whole.
TSplitPlan PlanEqualTime(const TFrameGrid& Grid, int32_t Parts);

// Parts of EveryTicks, the last one shorter. With a Loudness overview and a
// SearchTicks above 0, each cut moves to the quietest boundary within
// ±SearchTicks of its multiple of EveryTicks.
TSplitPlan PlanEvery(const TFrameGrid& Grid, int64_t EveryTicks,
                     const TLoudnessOverview* Loudness = nullptr, int64_t SearchTicks = 0);

struct TSilenceOptions {
    double ThresholdDb = -40.0;                   // quieter than this, in dBFS
    int64_t MinSilenceTicks = TicksPerSecond / 2; // for at least this long
    int64_t MinPartTicks = 0;                     // no part shorter (the cut is skipped)
    bool DropSilence = false;                     // leave the silence itself out
};

// Cuts in the middle of each stretch of Loudness quieter than the
// threshold for at least the minimum time.
TSplitPlan PlanAtSilences(const TFrameGrid& Grid, const TLoudnessOverview& Loudness,
                          const TSilenceOptions& Options);

// Cuts at the marks (any order, duplicates and marks outside the audio
// ignored), each on its nearest boundary.
TSplitPlan PlanAtMarks(const TFrameGrid& Grid, std::vector<int64_t> MarkTicks);

// The tracks of a cue sheet: each track's INDEX 01 (in 1/75 s) starts a
// part, which ends where the next track's INDEX 01 is; TITLE and PERFORMER
// (the track's, else the sheet's performer) go with it. Raises Exception
// with a message naming the file and what is wrong when it can't be read.
TSplitPlan PlanFromCueSheet(const TFrameGrid& Grid, const std::string& CueFile);

// The source's chapters (ID3v2 CHAP frames), each a part with its title.
TSplitPlan PlanFromChapters(const TFrameGrid& Grid, const std::vector<TChapter>& Chapters);

// One of the ways above with its settings, as the window and the command
// line both ask for a plan.
enum class TSplitWay { EqualTime, Every, AtSilences, AtMarks, CueSheet, Chapters };

struct TSplitRequest {
    TSplitWay Way = TSplitWay::EqualTime;
    int32_t Parts = 2;              // equal time
    int64_t EveryTicks = 0;         // every
    int64_t QuietWithinTicks = 0;   // every: the quiet search's reach, 0 for none
    TSilenceOptions Silence;        // at silences
    std::vector<int64_t> MarkTicks; // at marks
    std::string CueFile;            // by a cue sheet

    // Whether the plan listens to the source: the split at silences, and
    // every T with a quiet search.
    bool NeedsLoudness() const {
        return Way == TSplitWay::AtSilences || (Way == TSplitWay::Every && QuietWithinTicks > 0);
    }
};

// The plan of Request on Grid. Loudness is needed for the split at silences
// and serves every T's quiet search (without it the cuts stay where they
// fall); Chapters are the source's. Raises Exception as the ways above.
TSplitPlan PlanSplit(const TSplitRequest& Request, const TFrameGrid& Grid,
                     const TLoudnessOverview* Loudness, const std::vector<TChapter>& Chapters);
