#pragma once

// The ways `split` cuts a file, as its options name them: by size (--parts),
// or by a plan (SplitPlan.h) made from the source and the mode's options.

#include "CliSupport.h"
#include "Segmora.h"
#include "SplitPlan.h"

#include <optional>
#include <set>
#include <string>

// The flags and the options taking a value that the modes add to split's.
extern const std::set<std::string> SplitModeFlags;
extern const std::set<std::string> SplitModeOptions;

// The one mode given ("--parts", "--cue", ...); a usage error when none or
// more than one is, or when an option of one mode comes with another.
std::string SplitModeOf(const TCommandArgs& Parsed);

// What makes the plan of Mode for Source from its frames; none for the
// split by size. The options are read at once (a usage error costs no
// walk); the plan is made when the frames are known: by the split's own
// walk, or by ReadFrameGrid for a dry run. The modes that listen to the
// source read its loudness overview then (see SourceOverview). The planner
// raises Exception, naming the file, when the cue sheet can't give a plan
// or the plan holds no part.
std::optional<TSegmora::TPlanner> SplitPlanner(const TCommandArgs& Parsed, const std::string& Mode,
                                               const std::string& Source);
