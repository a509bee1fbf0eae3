#pragma once

// Preparing a source that the player can't open: a copy that holds nothing
// but the source's MPEG audio frames, back to back, without the ID3v2 tag in
// front, junk between frames or the ID3v1 tag behind.

#include "JobProgress.h"

#include <string>

// True when the file's first three bytes are "ID3" (case matters). Raises
// "Cannot open file %s" when the file can't be opened.
bool HasID3v2Header(const std::string& FileName);

// Writes every whole frame of Source, in order, into a new file Dest (an
// existing one is emptied), reporting the share of the source passed after
// each frame and stopping after the frame at which Progress says to stop.
// What was written stays when the copy is cancelled or fails; a copy that got
// no frame is removed, and when the source holds none that is an error.
// Without Overwrite an existing Dest is refused at its creation.
void CopyMP3Frames(const std::string& Source, const std::string& Dest, IJobProgress& Progress,
                   bool Overwrite = true);
