#pragma once

// Folder checks and creation for the dialogs.

#include <QString>

// True when Name exists and is a folder (a link to a folder counts).
bool DirectoryExists(const QString& Name);

// Creates Dir and every missing parent, from the top down; true when Dir
// exists as a folder afterwards. Raises Exception "Unable to create
// directory" for an empty path.
bool ForceDirectories(const QString& Dir);
