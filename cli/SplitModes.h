#pragma once

// The ways `split` cuts a file, as its options name them: by size (--parts),
// or by a plan (SplitPlan.h) made from the source and the mode's options.

#include "CliSupport.h"
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

// The plan of Mode for Source; none for the split by size. Reads the
// source's frames, and for the modes that listen to it its loudness
// overview (see SourceOverview). Raises Exception, naming the file, when
// the source or the cue sheet can't give one, or the plan holds no part.
std::optional<TSplitPlan> PlanSplit(const TCommandArgs& Parsed, const std::string& Mode,
                                    const std::string& Source);

// Where the window keeps loudness overviews: $XDG_CACHE_HOME (when it is an
// absolute path, else ~/.cache) + "/quenby/segmora/overviews"; empty when
// neither is known.
std::string OverviewFolder();
