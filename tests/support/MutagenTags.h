#pragma once

// ID3v1 tags as another program sees them: mutagen, run by the system's
// Python, reads and writes them in ISO-8859-1 as every tag reader does.

#include <string>

// True when /usr/bin/python3 can import mutagen.
bool MutagenAvailable();
#define SKIP_WITHOUT_MUTAGEN()                                                                     \
    if (!MutagenAvailable())                                                                       \
    GTEST_SKIP() << "/usr/bin/python3 with mutagen is missing"

// The file's ID3v1 tag as mutagen decodes it, one "KEY=text" line (UTF-8)
// each for TIT2, TPE1, TALB, TDRC and COMM, empty fields included; "no tag"
// when there is none.
std::string MutagenReadID3v1(const std::string& FileName);

// Writes FileName as a copy of cbr-128-info.mp3 to which mutagen appended an
// ID3v1 tag: title "Beyoncé", artist "Über", album "½"; false when it failed.
bool MutagenTaggedCopy(const std::string& FileName);
