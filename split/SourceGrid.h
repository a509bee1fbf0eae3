#pragma once

// The frame grid a split plan is laid on (SplitPlan.h), read off a source's
// frames. Only a source whose audio frames all last alike has one: where
// the sample rate or the layer changes, times no longer fall on one grid.

#include "SplitPlan.h"
#include "StreamScan.h"

#include <string>

// The grid of a scanned source's audio frames; FileName names it in the
// refusal of a source whose frames differ in length. PlayedClock: its
// times count on the clock of a cut to the sample (PlayedClockSpan).
TFrameGrid FrameGridOf(const TStreamScan& Scan, const std::string& FileName,
                       bool PlayedClock = false);

// The grid of FileName's audio frames, information frames left out.
// Raises Exception naming the file when it is no MPEG audio or when its
// audio frames differ in length; EOSError when it can't be read.
TFrameGrid ReadFrameGrid(const std::string& FileName, bool PlayedClock = false);
