#pragma once

// Tags as another program sees them: mutagen, run by the system's Python,
// reads and writes ID3v1 tags in ISO-8859-1 as every tag reader does, and
// ID3v2 tags with their pictures and chapters.

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

// The title of the copy below: Latin-1 letters, a dash and a check mark.
extern const char* const MutagenUnicodeTitle;

// Writes FileName as a copy of cbr-128-info.mp3 (3 s) behind an ID3v2.4 tag
// in UTF-8: title MutagenUnicodeTitle, artist "Ærø", album "Chapters", track
// "3/7", year 2024, genre "Ambient", comment "Three chapters", a length
// frame, cover.jpg as the front cover and chapters ch0 "One" (0-1000 ms),
// ch1 "Two ✓" (1000-2000), ch2 "Three" (2000-3000) listed in that order by
// the table of contents "toc"; false when it failed.
bool MutagenChapteredCopy(const std::string& FileName);

// The file's leading ID3v2 tag as mutagen reads it, frames as they stand:
// "version=2.N", then a line per frame in the tag's order, "ID=text" for
// text and comments, "APIC=mime" (the picture's bytes go to PictureFile),
// "CHAP=id start-end title", "CTOC=id child...", the bare ID for others;
// "no tag" when there is none.
std::string MutagenReadID3v2(const std::string& FileName, const std::string& PictureFile);
