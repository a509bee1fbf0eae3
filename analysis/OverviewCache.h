#pragma once

// Finished overviews kept between runs, a file each in a folder the caller
// names (the window: the user's cache folder). A kept overview belongs to a
// file by its path, size and modification time: when any differs, or the
// kept file is damaged, it is not used.

#include "LoudnessOverview.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct TOverviewKey {
    std::string Path; // absolute
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    bool operator==(const TOverviewKey&) const = default;
};

// The key of FileName as it is now; none when it can't be looked at.
std::optional<TOverviewKey> OverviewKeyOf(const std::string& FileName);

// Where the program keeps overviews, the window and the command line alike:
// $XDG_CACHE_HOME (when it is an absolute path, else ~/.cache) +
// "/quenby/segmora/overviews"; empty when neither is known.
std::string OverviewFolder();

// Where the overview of the file with Key is kept under Folder.
std::string OverviewCacheFile(const std::string& Folder, const TOverviewKey& Key);

// Keeps a complete Overview for Key, replacing the file at once (written
// beside it, then renamed). False when it could not.
bool SaveOverview(const std::string& Folder, const TOverviewKey& Key,
                  const TLoudnessOverview& Overview);

// The overview kept for Key; null when there is none that is whole and
// still the file's.
std::unique_ptr<TLoudnessOverview> LoadOverview(const std::string& Folder, const TOverviewKey& Key);
