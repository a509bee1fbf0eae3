#pragma once

// The ID3v1 tag: a 128-byte record at the very end of an MP3 file holding
// title, artist, album, year, comment and a genre number. Free functions read
// it from a file, test it for text, pack it and write it into a file or onto
// an open output stream.

#include <array>
#include <cstdint>
#include <string>

class TFileStream;

// The tag's record. Text fields are single-byte strings; on disk each is cut
// at its width or filled up with zero bytes.
struct TID3Info {
    std::string Title;   // 30 bytes
    std::string Artist;  // 30 bytes
    std::string Album;   // 30 bytes
    std::string Year;    // 4 bytes
    std::string Comment; // 30 bytes
    uint8_t Genre = 0;   // passed through as a number
    // ID3v1.1: a comment of at most 28 bytes leaves room for a track number
    // (1 to 255; 0 for none) in its last byte, behind a zero byte.
    uint8_t Track = 0;

    bool operator==(const TID3Info&) const = default;
};

constexpr int32_t ID3TagSize = 128;
using TID3TagBlock = std::array<uint8_t, ID3TagSize>;

// True when the file's last 128 bytes begin with "TAG"; Info is then filled
// with the trimmed fields. False leaves Info as it was. The file is opened
// for reading, letting other readers in and keeping writers out; EOSError
// when it can't be opened.
bool ReadID3Tag(const std::string& FileName, TID3Info& Info);

// The same through a handle already open for reading (the cutter's reader):
// the tag of the file the job holds, whatever became of its name since.
bool ReadID3TagFromHandle(int Handle, TID3Info& Info);
// The raw 128 bytes of the file's tag, for a display of every byte; false
// when the file has no tag. Opens as ReadID3Tag.
bool ReadID3TagBlock(const std::string& FileName, TID3TagBlock& Block);
// The trimmed fields of a tag's bytes, and its track number. A track number
// above 32 also stays in the comment, behind its zero bytes: the trimming
// takes off only bytes up to 32.
void UnpackID3Tag(const TID3TagBlock& Block, TID3Info& Info);
// The ID3v1.1 track number: byte 126 when byte 125 is zero and byte 126 is
// not; 0 when the comment takes all 30 bytes.
uint8_t ID3v11Track(const TID3TagBlock& Block);

// True when any of the five text fields is not empty; the genre plays no part.
bool ID3InfoHasText(const TID3Info& Info);

// Puts the tag into the named file: over a tag that is there, else behind
// the last byte. A file shorter than 128 bytes is left alone. The file is
// opened for reading and writing without sharing; EOSError when it can't be,
// and an error naming the file when the disk takes fewer than 128 bytes. A
// tag that could not be written whole leaves the file as it was: its length
// and the bytes of an old tag are put back.
void WriteID3Tag(const std::string& FileName, const TID3Info& Info);

// Writes the 128-byte tag at the stream's current position; a tag that did
// not fit is cut off again before the error is raised.
void WriteID3TagToStream(TFileStream& Stream, const TID3Info& Info);

// Moves the file's position to where a tag goes: onto the old tag if the
// last 128 bytes begin with "TAG", else to the end. False for a file shorter
// than 128 bytes, or when a seek or the read fails.
bool SeekID3TagPlace(int Handle);

// The tag's 128 bytes for Info; the track number only behind a comment that
// leaves room for it.
void PackID3Tag(const TID3Info& Info, TID3TagBlock& Block);
