#pragma once

// The source's tag as the outputs carry it on: the leading ID3v2 tag of an
// MP3 file (or its ID3v1 tag when it has none), read once, and the ID3v2.3
// tag that each output starts with, built from it. Pictures and the other
// frames go along, the user's fields go over them, and the chapters are
// moved to the output's clock. Text is UTF-8 throughout.

#include "ID3v1.h"
#include "TagBlocks.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The fields a tag dialog shows. An unset field is not given; one given
// empty removes the field.
struct TTagFields {
    std::optional<std::string> Title = std::nullopt;
    std::optional<std::string> Artist = std::nullopt;
    std::optional<std::string> Album = std::nullopt;
    std::optional<std::string> Year = std::nullopt;
    std::optional<std::string> Comment = std::nullopt;
    std::optional<std::string> Track = std::nullopt; // "3" or "3/12"
    std::optional<std::string> Genre = std::nullopt; // by name: "Ambient"

    bool operator==(const TTagFields&) const = default;
};

// A chapter, in milliseconds from the first audio frame.
struct TChapter {
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    std::string Title;

    bool operator==(const TChapter&) const = default;
};

// Which output a tag is for, and where its audio lies on the source's clock.
struct TOutputPlace {
    int32_t Part = 0; // from 1; 0 for a saved segment
    int32_t PartCount = 0;
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    // Whether a part's title gets " (Part/PartCount)"; not for a title that
    // already names the part (a cue sheet's, a chapter's).
    bool NumberTitle = true;
    // The part's own title and artist (a cue sheet's track, a chapter),
    // over the source's; a field the user typed goes over them.
    std::optional<std::string> Title = std::nullopt;
    std::optional<std::string> Artist = std::nullopt;

    static TOutputPlace PartOf(int32_t Part, int32_t PartCount, int64_t StartMs, int64_t EndMs) {
        return {Part, PartCount, StartMs, EndMs, true, std::nullopt, std::nullopt};
    }
    static TOutputPlace Segment(int64_t StartMs, int64_t EndMs) {
        return {0, 0, StartMs, EndMs, false, std::nullopt, std::nullopt};
    }
};

class TSourceTag {
public:
    // No tag.
    TSourceTag();

    // The tag of the file open as Handle, read at absolute positions: the
    // handle's file position is left alone. An ID3v2 tag whose size reaches
    // past the end of the file counts as none. EOSError when a read fails.
    static TSourceTag FromHandle(int Handle);
    // The same for a file by its name, opened for reading with writers kept
    // out; EOSError when it can't be opened.
    static TSourceTag FromFile(const std::string& FileName);
    // The same from a whole file's bytes.
    static TSourceTag FromBytes(std::span<const uint8_t> File);
    // The same through Read, for a file of FileSize bytes.
    static TSourceTag Read(const TReadAt& Read, int64_t FileSize);

    // Nothing to carry on: no tag, or an ID3v1 tag without text.
    bool Empty() const { return !FRaw && !FFromID3v1; }
    bool FromID3v2() const { return FRaw != nullptr; }
    const TTagFields& Fields() const { return FFields; }
    // By start time.
    const std::vector<TChapter>& Chapters() const { return FChapters; }

private:
    friend class TOutputTags;
    friend std::vector<uint8_t> RenderFileTag(const TSourceTag&, const TTagFields&);
    struct TRaw;
    // Shared: the tag's bytes, a cover among them, are never copied again.
    std::shared_ptr<const TRaw> FRaw;
    bool FFromID3v1 = false;
    TTagFields FFields;
    std::vector<TChapter> FChapters;
};

// An output's tag as the pieces to write one after the other. Some are the
// output's own, the others (the pictures above all) are shared by every
// output of the job and belong to the TOutputTags that rendered them: the
// pieces are good while it lives.
class TRenderedTag {
public:
    // In order, empty ones left out: the header, the text frames, the
    // chapters, the pictures, the padding.
    std::vector<std::span<const uint8_t>> Pieces() const;
    // The pieces joined.
    std::vector<uint8_t> Bytes() const;

private:
    friend class TOutputTags;
    std::vector<uint8_t> FHead; // the tag's header and the output's text frames
    std::span<const uint8_t> FShared;
    std::vector<uint8_t> FChapters;
    std::span<const std::span<const uint8_t>> FPictures;
    std::vector<uint8_t> FPadding;
};

// The ID3v2.3 tags of one job's outputs, all from one source: its frames,
// Overrides over them, a part's track "Part/PartCount" and numbered title,
// the chapters that overlap the output cut to it and moved to its start,
// the tables of contents listing only those. Frames that tell times or byte
// positions of the whole source (length, synchronised lyrics, seek tables)
// are left out. The frames that are the same in every output are rendered
// once, here; a picture's bytes are those read from the source, shared
// rather than copied. Padding as TagLib gives a rewritten tag: the
// source tag's room beyond the frames when that is at most 1% of its bytes
// (at least 1 KiB, at most 1 MiB), else 1 KiB.
class TOutputTags {
public:
    TOutputTags(const TSourceTag& Source, const TTagFields& Overrides);
    ~TOutputTags();
    TOutputTags(const TOutputTags&) = delete;
    TOutputTags& operator=(const TOutputTags&) = delete;

    // The tag of the output at Place; empty when there is nothing to write:
    // numbering alone makes no tag.
    TRenderedTag Render(const TOutputPlace& Place) const;

private:
    struct TShared;
    std::unique_ptr<const TShared> FShared;
};

// One output's tag, whole: TOutputTags(Source, Overrides).Render(Place).
std::vector<uint8_t> RenderOutputTag(const TSourceTag& Source, const TTagFields& Overrides,
                                     const TOutputPlace& Place);

// The genres with names, by their ID3v1 numbers: "Blues" is 0.
const std::vector<std::string>& GenreNames();
// A genre given by name (in any case) or by its number, spelled as the list
// spells it; nullopt when it is neither.
std::optional<std::string> GenreByNameOrNumber(const std::string& Text);
// The ID3v1 number of a named genre; 255, "none", for any other text.
uint8_t GenreNumber(const std::string& Name);

// Writes Fields over the file's ID3v2 tag (made from its ID3v1 tag when it
// has none), every other frame kept as it stands, and ID3v1 as its ID3v1
// tag when given (see WriteID3Tag). A new ID3v2 tag changes the file's
// length: the file is then written anew beside itself, the tag in front of
// its other bytes as they were, and renamed over it, so that a failure
// leaves it as it was. The file is held without sharing meanwhile. A file
// shorter than an ID3v1 tag is refused before anything is written.
void WriteFileTags(const std::string& FileName, const TTagFields& Fields,
                   const std::optional<TID3Info>& ID3v1);
