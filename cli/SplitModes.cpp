#include "SplitModes.h"

#include "Errors.h"
#include "FrameClock.h"
#include "OverviewBuilder.h"
#include "OverviewCache.h"
#include "SourceGrid.h"
#include "SourceTag.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {

// Each mode, and the options that only go with it.
struct TMode {
    const char* Name;
    std::set<std::string> Options;
};
const TMode Modes[] = {
    {"--parts", {}},
    {"--equal-time", {}},
    {"--every", {"--quiet-within"}},
    {"--silence", {"--threshold", "--min-silence", "--min-part", "--drop-silence"}},
    {"--at", {}},
    {"--cue", {"--name-pattern"}},
    {"--chapters", {"--name-pattern"}},
};

bool Given(const TCommandArgs& Parsed, const std::string& Name) {
    return Parsed.Has(Name) || Parsed.Value(Name).has_value();
}

int64_t TicksOption(const TCommandArgs& Parsed, const std::string& Option, int64_t DefaultMs) {
    const auto Text = Parsed.Value(Option);
    return MsToTicks(Text ? ParseTimeOption(Option, *Text) : DefaultMs);
}

double DecibelOption(const TCommandArgs& Parsed, const std::string& Option, double Default) {
    const auto Text = Parsed.Value(Option);
    if (!Text)
        return Default;
    char* End = nullptr;
    const double Value = std::strtod(Text->c_str(), &End);
    if (Text->empty() || *End != '\0' || !std::isfinite(Value) || Value > 0 || Value < -96)
        throw TUsageError(Option + " needs a level in dBFS from -96 to 0, such as -40, not '" +
                          *Text + "'");
    return Value;
}

// The loudness overview of Source: the one the window keeps, when it is
// still the file's, else decoded now and kept for the window.
std::shared_ptr<const TLoudnessOverview> SourceOverview(const std::string& Source) {
    TOverviewBuilder Builder(Source, OverviewFolder());
    Builder.Start();
    // Ctrl+C stops the decoding as it stops a job.
    InstallInterruptHandler();
    while (Builder.State() == TOverviewBuilder::TState::Running) {
        if (Interrupted())
            Builder.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Builder.Wait();
    if (Builder.State() == TOverviewBuilder::TState::Stopped)
        throw Exception("Stopped while " + Source + " was decoded: no part was made.");
    if (Builder.State() != TOverviewBuilder::TState::Done || !Builder.Overview())
        throw Exception("Cannot decode " + Source + " to find its quiet places: no part was made.");
    return Builder.Overview();
}

std::vector<int64_t> MarkTicks(const std::string& List) {
    std::vector<int64_t> Marks;
    size_t From = 0;
    while (From <= List.size()) {
        const size_t Comma = std::min(List.find(',', From), List.size());
        Marks.push_back(MsToTicks(ParseTimeOption("--at", List.substr(From, Comma - From))));
        From = Comma + 1;
    }
    return Marks;
}

} // namespace

const std::set<std::string> SplitModeFlags = {"--silence", "--drop-silence", "--chapters",
                                              "--dry-run"};
const std::set<std::string> SplitModeOptions = {
    "--parts",       "--equal-time", "--every", "--quiet-within", "--threshold",
    "--min-silence", "--min-part",   "--at",    "--cue",          "--name-pattern"};

std::string SplitModeOf(const TCommandArgs& Parsed) {
    const TMode* Chosen = nullptr;
    for (const TMode& Mode : Modes) {
        if (!Given(Parsed, Mode.Name))
            continue;
        if (Chosen)
            throw TUsageError(std::string(Chosen->Name) + " and " + Mode.Name +
                              " are two ways to split: give only one");
        Chosen = &Mode;
    }
    if (!Chosen)
        throw TUsageError("give one way to split: --parts, --equal-time, --every, --silence, "
                          "--at, --cue or --chapters");
    for (const TMode& Mode : Modes)
        for (const std::string& Option : Mode.Options)
            if (Given(Parsed, Option) && !Chosen->Options.contains(Option))
                throw TUsageError(Option + " goes with " + Mode.Name + ", not with " +
                                  Chosen->Name);
    return Chosen->Name;
}

std::optional<TSegmora::TPlanner> SplitPlanner(const TCommandArgs& Parsed, const std::string& Mode,
                                               const std::string& Source) {
    if (Mode == "--parts")
        return std::nullopt;
    // Options are read before the source, so that a usage error costs no walk.
    const std::string Value =
        Mode == "--silence" || Mode == "--chapters" ? std::string() : Required(Parsed, Mode);
    TSplitRequest Request;
    if (Mode == "--equal-time") {
        Request.Way = TSplitWay::EqualTime;
        Request.Parts = static_cast<int32_t>(ParseNumber(Mode, Value, 2, 999));
    } else if (Mode == "--every") {
        Request.Way = TSplitWay::Every;
        Request.EveryTicks = MsToTicks(ParseTimeOption(Mode, Value));
        if (Request.EveryTicks <= 0)
            throw TUsageError("--every needs a time above 0");
        Request.QuietWithinTicks = TicksOption(Parsed, "--quiet-within", 0);
    } else if (Mode == "--silence") {
        Request.Way = TSplitWay::AtSilences;
        TSilenceOptions& Silence = Request.Silence;
        Silence.ThresholdDb = DecibelOption(Parsed, "--threshold", Silence.ThresholdDb);
        Silence.MinSilenceTicks =
            TicksOption(Parsed, "--min-silence", TicksToMs(Silence.MinSilenceTicks));
        Silence.MinPartTicks = TicksOption(Parsed, "--min-part", 0);
        Silence.DropSilence = Parsed.Has("--drop-silence");
    } else if (Mode == "--at") {
        Request.Way = TSplitWay::AtMarks;
        Request.MarkTicks = MarkTicks(Value);
    } else if (Mode == "--cue") {
        Request.Way = TSplitWay::CueSheet;
        Request.CueFile = Value;
    } else {
        Request.Way = TSplitWay::Chapters;
    }

    // The plan itself waits for the source's frames.
    return [Request, Source](const TFrameGrid& Grid, const std::vector<TChapter>& Chapters) {
        const std::shared_ptr<const TLoudnessOverview> Loudness =
            Request.NeedsLoudness() ? SourceOverview(Source) : nullptr;
        const TSplitPlan Plan = PlanSplit(Request, Grid, Loudness.get(), Chapters);
        if (Plan.Parts.empty())
            throw Exception("No part to make: the plan for " + Source + " holds none.");
        return Plan;
    };
}
