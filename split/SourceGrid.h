#pragma once

// The frame grid a split plan is laid on (SplitPlan.h), read off a source's
// frames. Only a source whose audio frames all last alike has one: where
// the sample rate or the layer changes, times no longer fall on one grid.

#include "SplitPlan.h"

#include <string>

// The grid of FileName's audio frames, information frames left out.
// Raises Exception naming the file when it is no MPEG audio or when its
// audio frames differ in length; EOSError when it can't be read.
TFrameGrid ReadFrameGrid(const std::string& FileName);
