#pragma once

// The user's side of preparing a source the player refused: the question,
// the name of the copy and the copy itself under a progress dialog.

#include <QString>

// For a file that begins with "ID3" only: asks whether to prepare it, asks
// for the copy's name and copies the file's frames there under a progress
// dialog ("Preparing...") that can cancel the copy. True when a complete
// copy was made; PreparedName then names it. False when the file has no
// ID3v2 header, the user declined or cancelled; PreparedName names the
// partial copy when the copy was started. Failures of the header test and
// the copy are raised to the caller.
bool PrepareMP3File(const QString& FileName, QString& PreparedName);
