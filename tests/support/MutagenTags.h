#pragma once

// ID3v1 tags as another program sees them: mutagen, run by the system's
// Python, reads and writes them in ISO-8859-1 as every tag reader does.

#include <string>

// True when /usr/bin/python3 can import mutagen.
bool MutagenAvailable();

// The file's ID3v1 tag as mutagen decodes it, one "KEY=text" line (UTF-8)
// each for TIT2, TPE1, TALB, TDRC and COMM, empty fields included; "no tag"
// when there is none.
std::string MutagenReadID3v1(const std::string& FileName);

// Lets mutagen append an ID3v1 tag with these texts (given in UTF-8) to the
// file; false when it failed.
bool MutagenWriteID3v1(const std::string& FileName, const std::string& Title,
                       const std::string& Artist, const std::string& Album);
