#include "SplitPlan.h"

#include "Errors.h"
#include "Latin1Text.h"
#include "LoudnessOverview.h"

#include <libcue.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>

int64_t TFrameGrid::Nearest(int64_t Ticks) const {
    return std::clamp<int64_t>(NearestFrameBoundary(Ticks, FrameTicks), 0, TotalTicks());
}

int64_t TFrameGrid::At(int64_t Time) const {
    if (Time <= 0)
        return 0;
    if (Time >= Clock().End - Origin)
        return TotalTicks();
    return Nearest(Origin + Time);
}

namespace {

// Parts from the start to the end of the audio, cut at Cuts (in order);
// a cut that falls on no new boundary inside the audio makes no part.
TSplitPlan PartsBetween(const TFrameGrid& Grid, const std::vector<int64_t>& Cuts) {
    TSplitPlan Plan;
    int64_t Start = 0;
    for (const int64_t Cut : Cuts)
        if (Cut > Start && Cut < Grid.TotalTicks()) {
            Plan.Parts.push_back({Start, Cut, {}, {}});
            Start = Cut;
        }
    if (Grid.TotalTicks() > Start)
        Plan.Parts.push_back({Start, Grid.TotalTicks(), {}, {}});
    return Plan;
}

// Half the stretch of audio whose loudness a cut of PlanEvery is judged by.
constexpr int64_t QuietWindowTicks = TicksPerSecond / 20;

// The boundary within [From, To] and strictly between After and Before
// whose surroundings are quietest, the nearest to Nominal among equals;
// Nominal when no candidate has been decoded. The window around each
// candidate holds the same number of blocks, and levels are compared in
// the overview's own steps, so that a steady sound ties everywhere and the
// cut stays put.
int64_t QuietestBoundary(const TFrameGrid& Grid, const TLoudnessOverview& Loudness, int64_t Nominal,
                         int64_t From, int64_t To, int64_t After, int64_t Before) {
    const int64_t Frame = Grid.FrameTicks;
    const int64_t Block = Loudness.BlockTicks();
    if (Frame <= 0 || Block <= 0)
        return Nominal;
    const int64_t WindowBlocks = std::max<int64_t>(1, QuietWindowTicks / Block);
    const int64_t Known = std::min(Loudness.KnownBlocks(), Loudness.BlockCount());
    const std::vector<TOverviewCell>& Cells = Loudness.Level(0);
    const int64_t First = std::max(From, After + 1);
    const int64_t Last = std::min({To, Before - 1, Grid.TotalTicks()});

    int64_t Best = Nominal;
    int BestStep = 256;
    for (int64_t At = (First + Frame - 1) / Frame * Frame; At <= Last; At += Frame) {
        const int64_t Middle = At / Block;
        const int64_t Lo = std::max<int64_t>(0, Middle - WindowBlocks);
        const int64_t Hi = std::min(Loudness.BlockCount(), Middle + WindowBlocks);
        if (Hi > Known || Hi <= Lo)
            continue;
        double Power = 0;
        for (int64_t I = Lo; I < Hi; ++I) {
            const double Rms = TLoudnessOverview::FromStep(Cells[static_cast<size_t>(I)].Rms);
            Power += Rms * Rms;
        }
        const int Step = TLoudnessOverview::ToStep(std::sqrt(Power / static_cast<double>(Hi - Lo)));
        if (Step < BestStep ||
            (Step == BestStep && std::abs(At - Nominal) < std::abs(Best - Nominal))) {
            Best = At;
            BestStep = Step;
        }
    }
    return Best;
}

struct TSilence {
    int64_t Start, End; // ticks
};

// Stretches of at least MinTicks whose blocks are all quieter than
// ThresholdDb. Blocks not decoded yet count as sound.
//
// A block's RMS, not its peak, decides: a click, a breath or the encoder's
// pre-echo lifts the peak of a pause far above what anyone hears as sound,
// while the RMS of a block that short still rises at once for a word or a
// note.
std::vector<TSilence> FindSilences(const TLoudnessOverview& Loudness, double ThresholdDb,
                                   int64_t MinTicks) {
    const double Threshold = std::pow(10.0, ThresholdDb / 20);
    const int64_t Known = std::min(Loudness.KnownBlocks(), Loudness.BlockCount());
    const std::vector<TOverviewCell>& Cells = Loudness.Level(0);
    const int64_t Block = Loudness.BlockTicks();
    std::vector<TSilence> Silences;
    int64_t RunStart = -1;
    for (int64_t I = 0; I <= Known; ++I) {
        const bool Quiet =
            I < Known && TLoudnessOverview::FromStep(Cells[static_cast<size_t>(I)].Rms) < Threshold;
        if (Quiet && RunStart < 0)
            RunStart = I;
        if (!Quiet && RunStart >= 0) {
            const TSilence Silence{RunStart * Block, std::min(I * Block, Loudness.Duration())};
            if (Silence.End - Silence.Start >= MinTicks)
                Silences.push_back(Silence);
            RunStart = -1;
        }
    }
    return Silences;
}

// Closes a cue sheet parsed by libcue.
struct TCdDelete {
    void operator()(Cd* Sheet) const { cd_delete(Sheet); }
};

// Cue sheets from older rippers are in a Windows code page, not UTF-8;
// taking them as Latin-1 keeps the letters most of them use.
bool IsUtf8(std::string_view Text) {
    char32_t Char = 0;
    size_t At = 0;
    while (At < Text.size()) {
        const size_t Length = Utf8CharAt(Text, At, Char);
        if (Length == 0)
            return false;
        At += Length;
    }
    return true;
}

std::string CueText(const Cdtext* Text, Pti Field) {
    const char* Value = Text ? cdtext_get(Field, Text) : nullptr;
    return Value ? Value : "";
}

// 1/75 s, a CD sector, in ticks: exact, as 75 divides the tick rate.
constexpr int64_t TicksPerCueFrame = TicksPerSecond / 75;
static_assert(TicksPerCueFrame * 75 == TicksPerSecond);

} // namespace

TSplitPlan PlanEqualTime(const TFrameGrid& Grid, int32_t Parts) {
    if (Parts < 1)
        throw Exception("The number of parts must be at least 1, not " + std::to_string(Parts));
    if (Grid.Frames < Parts)
        throw Exception("Cannot split the audio into " + std::to_string(Parts) +
                        " parts of equal time: it holds only " + std::to_string(Grid.Frames) +
                        " audio frames. No part was made.");
    // Counted in frames, the nearest boundary to k/N of the whole rounds
    // as Nearest does (halves up) and no product of ticks can overflow.
    std::vector<int64_t> Cuts;
    for (int64_t K = 1; K < Parts; ++K)
        Cuts.push_back((2 * K * Grid.Frames + Parts) / (2 * int64_t{Parts}) * Grid.FrameTicks);
    return PartsBetween(Grid, Cuts);
}

TSplitPlan PlanEvery(const TFrameGrid& Grid, int64_t EveryTicks, const TLoudnessOverview* Loudness,
                     int64_t SearchTicks) {
    if (EveryTicks <= 0)
        throw Exception("The length of the parts must be above 0.");
    const int64_t Total = Grid.TotalTicks();
    std::vector<int64_t> Cuts;
    int64_t Previous = 0;
    for (int64_t Time = EveryTicks; Grid.Origin + Time < Total; Time += EveryTicks) {
        const int64_t At = Grid.Origin + Time;
        int64_t Cut = Grid.At(Time);
        // A cut may move up to the next one's place but not onto it, so
        // that the next can still stay where it belongs.
        if (Loudness && SearchTicks > 0)
            Cut = QuietestBoundary(Grid, *Loudness, Cut, At - SearchTicks, At + SearchTicks,
                                   Previous, Grid.At(Time + EveryTicks));
        if (Cut > Previous && Cut < Total) {
            Cuts.push_back(Cut);
            Previous = Cut;
        }
    }
    return PartsBetween(Grid, Cuts);
}

TSplitPlan PlanAtSilences(const TFrameGrid& Grid, const TLoudnessOverview& Loudness,
                          const TSilenceOptions& Options) {
    const int64_t Total = Grid.TotalTicks();
    const int64_t MinPart = std::max(Options.MinPartTicks, Grid.FrameTicks);
    const bool Drop = Options.DropSilence;
    TSplitPlan Plan;
    int64_t Start = 0;
    int64_t AudioEnd = Total;
    for (const TSilence& Silence :
         FindSilences(Loudness, Options.ThresholdDb, Options.MinSilenceTicks)) {
        // Silence at either end of the file parts nothing from anything:
        // no cut there, only a trim when silence is left out.
        if (Silence.Start <= 0) {
            if (Drop)
                Start = Grid.Nearest(Silence.End);
            continue;
        }
        if (Silence.End >= std::min(Total, Loudness.Duration()) &&
            Loudness.KnownBlocks() >= Loudness.BlockCount()) {
            if (Drop)
                AudioEnd = Grid.Nearest(Silence.Start);
            continue;
        }
        const int64_t End = Grid.Nearest(Drop ? Silence.Start : (Silence.Start + Silence.End) / 2);
        if (End - Start < MinPart)
            continue;
        Plan.Parts.push_back({Start, End, {}, {}});
        Start = Drop ? Grid.Nearest(Silence.End) : End;
    }
    if (AudioEnd - Start >= MinPart || Plan.Parts.empty()) {
        if (AudioEnd > Start)
            Plan.Parts.push_back({Start, AudioEnd, {}, {}});
    } else {
        // Too short a last part: its cut is skipped, as any other.
        Plan.Parts.back().End = AudioEnd;
    }
    return Plan;
}

TSplitPlan PlanAtMarks(const TFrameGrid& Grid, std::vector<int64_t> MarkTicks) {
    std::sort(MarkTicks.begin(), MarkTicks.end());
    std::vector<int64_t> Cuts;
    for (const int64_t Mark : MarkTicks)
        if (Mark > 0 && Grid.Origin + Mark < Grid.TotalTicks())
            Cuts.push_back(Grid.At(Mark));
    return PartsBetween(Grid, Cuts);
}

TSplitPlan PlanFromCueSheet(const TFrameGrid& Grid, const std::string& CueFile) {
    const std::string Cannot = "Cannot split by the cue sheet " + CueFile;
    std::ifstream In(CueFile, std::ios::binary);
    if (!In)
        throw Exception(WithCause(Cannot, errno));
    std::string Text{std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
    if (In.bad())
        throw Exception(WithCause(Cannot, errno));
    if (Text.starts_with("\xEF\xBB\xBF"))
        Text.erase(0, 3);
    if (!IsUtf8(Text))
        Text = Latin1ToUtf8(Text);

    const std::unique_ptr<Cd, TCdDelete> Sheet(cue_parse_string(Text.c_str()));
    const int Tracks = Sheet ? cd_get_ntrack(Sheet.get()) : 0;
    if (Tracks < 1)
        throw Exception(Cannot + ": it is no cue sheet, or lists no track.");
    const std::string DiscPerformer = CueText(cd_get_cdtext(Sheet.get()), PTI_PERFORMER);
    const char* FirstFile = track_get_filename(cd_get_track(Sheet.get(), 1));

    TSplitPlan Plan;
    Plan.Titled = true;
    std::vector<int64_t> Starts;
    for (int Number = 1; Number <= Tracks; ++Number) {
        const Track* Item = cd_get_track(Sheet.get(), Number);
        const char* File = track_get_filename(Item);
        // Each file's times start from 0: tracks of another file can't be
        // placed in this one.
        if ((File == nullptr) != (FirstFile == nullptr) || (File && std::string(File) != FirstFile))
            throw Exception(Cannot + ": it lists tracks of more than one audio file.");
        const long Start = track_get_start(Item);
        if (Start < 0)
            throw Exception(Cannot + ": track " + std::to_string(Number) + " has no INDEX 01.");
        if (!Starts.empty() && Start * TicksPerCueFrame <= Starts.back())
            throw Exception(Cannot + ": track " + std::to_string(Number) +
                            " does not start after the track before it.");
        Starts.push_back(Start * TicksPerCueFrame);
        const Cdtext* Text = track_get_cdtext(Item);
        std::string Performer = CueText(Text, PTI_PERFORMER);
        Plan.Parts.push_back(
            {0, 0, CueText(Text, PTI_TITLE), Performer.empty() ? DiscPerformer : Performer});
    }
    if (Grid.Origin + Starts.front() >= Grid.TotalTicks())
        throw Exception(Cannot + ": its first track starts after the end of the audio.");

    // A pregap (INDEX 00) lies before its track's INDEX 01 and so plays at
    // the end of the track before.
    for (size_t I = 0; I < Plan.Parts.size(); ++I) {
        Plan.Parts[I].Start = Grid.At(Starts[I]);
        Plan.Parts[I].End = I + 1 < Starts.size() ? Grid.At(Starts[I + 1]) : Grid.TotalTicks();
    }
    std::erase_if(Plan.Parts, [](const TPlannedPart& Part) { return Part.End <= Part.Start; });
    return Plan;
}

TSplitPlan PlanFromChapters(const TFrameGrid& Grid, const std::vector<TChapter>& Chapters) {
    if (Chapters.empty())
        throw Exception("Cannot split by chapters: the file has none.");
    std::vector<TChapter> Sorted = Chapters;
    std::stable_sort(Sorted.begin(), Sorted.end(),
                     [](const TChapter& A, const TChapter& B) { return A.StartMs < B.StartMs; });
    TSplitPlan Plan;
    Plan.Titled = true;
    int64_t Previous = 0;
    for (const TChapter& Chapter : Sorted) {
        // Chapters that overlap share their frames with none: a later one
        // begins where the one before ends.
        const int64_t Start = std::max(Grid.At(MsToTicks(Chapter.StartMs)), Previous);
        const int64_t End = Grid.At(MsToTicks(Chapter.EndMs));
        if (End <= Start)
            continue;
        Plan.Parts.push_back({Start, End, Chapter.Title, {}});
        Previous = End;
    }
    if (Plan.Parts.empty())
        throw Exception("Cannot split by chapters: none of them holds an audio frame.");
    return Plan;
}

TSplitPlan PlanSplit(const TSplitRequest& Request, const TFrameGrid& Grid,
                     const TLoudnessOverview* Loudness, const std::vector<TChapter>& Chapters) {
    switch (Request.Way) {
    case TSplitWay::EqualTime:
        return PlanEqualTime(Grid, Request.Parts);
    case TSplitWay::Every:
        return PlanEvery(Grid, Request.EveryTicks, Loudness, Request.QuietWithinTicks);
    case TSplitWay::AtSilences:
        if (!Loudness)
            throw Exception("Cannot split at silences before the file's loudness is known.");
        return PlanAtSilences(Grid, *Loudness, Request.Silence);
    case TSplitWay::AtMarks:
        return PlanAtMarks(Grid, Request.MarkTicks);
    case TSplitWay::CueSheet:
        return PlanFromCueSheet(Grid, Request.CueFile);
    case TSplitWay::Chapters:
        return PlanFromChapters(Grid, Chapters);
    }
    return {};
}
