#include "SourceTag.h"

#include "Errors.h"
#include "FileAccess.h"
#include "ID3v1.h"
#include "Latin1Text.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

namespace ID3v2 = TagLib::ID3v2;
using TagLib::ByteVector;

struct TSourceTag::TRaw {
    TagLib::ByteVector Bytes;
};

namespace {

using TField = std::optional<std::string> TTagFields::*;

// The fields kept in text frames of their own; the comment and the genre
// need more than the frame's text.
constexpr std::pair<TField, const char*> TextFrames[] = {
    {&TTagFields::Title, "TIT2"}, {&TTagFields::Artist, "TPE1"}, {&TTagFields::Album, "TALB"},
    {&TTagFields::Year, "TDRC"},  {&TTagFields::Track, "TRCK"},
};

// Frames that tell times or byte positions of the whole source: wrong in
// any part of it.
constexpr const char* WholeSourceFrames[] = {"TLEN", "TSIZ", "ETCO", "MLLT", "SYTC",
                                             "SYLT", "POSS", "SEEK", "ASPI"};

// A chapter's byte offsets are not given: its times are what counts.
constexpr unsigned int NoOffset = 0xFFFFFFFF;

// The frames an output changes: its numbering, its own title and artist,
// and its chapters.
constexpr const char* PerOutputFrames[] = {"TIT2", "TPE1", "TRCK", "CHAP", "CTOC"};

// The padding of a rewritten tag, as TagLib gives it.
constexpr int64_t MinPadding = 1024;
constexpr int64_t MaxPadding = 1024 * 1024;

// In an ID3v2.3 frame's header: the ID, then the size.
constexpr unsigned int FrameIdSize = 4;
constexpr unsigned int FrameHeaderSize = 10;

bool IsChapterFrame(const ByteVector& Id) {
    return Id == "CHAP" || Id == "CTOC";
}

bool IsPerOutputFrame(const ByteVector& Id) {
    return std::any_of(std::begin(PerOutputFrames), std::end(PerOutputFrames),
                       [&Id](const char* Changes) { return Id == Changes; });
}

std::string Utf8(const TagLib::String& Text) {
    return Text.to8Bit(true);
}

TagLib::String FromUtf8(const std::string& Text) {
    return TagLib::String(Text, TagLib::String::UTF8);
}

// TagLib reads a tag only out of a file: this one holds the tag alone.
class TTagOnlyFile : public TagLib::File {
public:
    explicit TTagOnlyFile(TagLib::IOStream* Stream) : File(Stream) {}
    TagLib::Tag* tag() const override { return nullptr; }
    TagLib::AudioProperties* audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

// The tag parsed from its bytes, which its frames share rather than copy.
struct TParsedTag {
    explicit TParsedTag(const TagLib::ByteVector& Bytes)
        : Stream(Bytes), File(&Stream), Tag(&File, 0) {}
    TagLib::ByteVectorStream Stream;
    TTagOnlyFile File;
    ID3v2::Tag Tag;
};

std::span<const uint8_t> SpanOf(const ByteVector& Bytes) {
    return {reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size()};
}

ByteVector BytesOf(std::span<const uint8_t> Span) {
    return ByteVector(reinterpret_cast<const char*>(Span.data()),
                      static_cast<unsigned int>(Span.size()));
}

// The frames of an ID3v2.3 tag rendered by TagLib, in order: each its
// header (ID, size as a big-endian number, flags) and its content.
std::vector<std::span<const uint8_t>> FramesOf(const ByteVector& Tag) {
    std::vector<std::span<const uint8_t>> Frames;
    const auto* Data = reinterpret_cast<const uint8_t*>(Tag.data());
    const int64_t End =
        Tag.size() >= ID3v2HeaderSize ? std::min<int64_t>(ID3v2TagSize(Data), Tag.size()) : 0;
    int64_t At = ID3v2HeaderSize;
    // The padding's zeros end them.
    while (At + FrameHeaderSize <= End && Data[At] != 0) {
        const int64_t Size = FrameHeaderSize + BytesOf({Data + At + FrameIdSize, 4}).toUInt();
        if (At + Size > End)
            break;
        Frames.emplace_back(Data + At, static_cast<size_t>(Size));
        At += Size;
    }
    return Frames;
}

ByteVector IdOf(std::span<const uint8_t> Frame) {
    return BytesOf(Frame.first(FrameIdSize));
}

// A picture frame rendered with a number for its picture ends with it:
// the picture comes last.
constexpr unsigned int NumberSize = 4;

ByteVector PictureNumber(size_t Number) {
    return ByteVector::fromUInt(static_cast<unsigned int>(Number));
}

size_t NumberAtTheEnd(std::span<const uint8_t> Frame) {
    if (Frame.size() < FrameHeaderSize + NumberSize)
        return SIZE_MAX;
    return BytesOf(Frame.last(NumberSize)).toUInt();
}

// The header of an ID3v2.3 tag of Size bytes after it.
ByteVector TagHeaderV3(int64_t Size) {
    ID3v2::Header Header;
    Header.setMajorVersion(3);
    Header.setTagSize(static_cast<unsigned int>(Size));
    return Header.render();
}

std::optional<std::string> FrameText(const ID3v2::Tag& Tag, const char* Id) {
    const ID3v2::FrameList& Frames = Tag.frameList(Id);
    if (Frames.isEmpty())
        return std::nullopt;
    return Utf8(Frames.front()->toString());
}

void SetText(ID3v2::Tag& Tag, const char* Id, const std::optional<std::string>& Value) {
    if (!Value)
        return;
    Tag.removeFrames(Id);
    if (Value->empty())
        return;
    // TagLib widens Latin-1 to UTF-16 for text that needs it.
    auto* Frame = new ID3v2::TextIdentificationFrame(Id, TagLib::String::Latin1);
    Frame->setText(FromUtf8(*Value));
    Tag.addFrame(Frame);
}

// Players show the comment without a description; the others (a player's
// volume data and the like) are not the user's.
std::vector<ID3v2::CommentsFrame*> ShownComments(const ID3v2::Tag& Tag) {
    std::vector<ID3v2::CommentsFrame*> Shown;
    for (ID3v2::Frame* Frame : Tag.frameList("COMM"))
        if (auto* Comment = dynamic_cast<ID3v2::CommentsFrame*>(Frame))
            if (Comment->description().isEmpty())
                Shown.push_back(Comment);
    return Shown;
}

TTagFields FieldsOf(const ID3v2::Tag& Tag) {
    TTagFields Fields;
    for (const auto& [Field, Id] : TextFrames)
        Fields.*Field = FrameText(Tag, Id);
    if (const auto Shown = ShownComments(Tag); !Shown.empty())
        Fields.Comment = Utf8(Shown.front()->text());
    // genre() turns ID3v1 genre numbers into names.
    if (!Tag.frameList("TCON").isEmpty())
        Fields.Genre = Utf8(Tag.genre());
    return Fields;
}

void ApplyFields(ID3v2::Tag& Tag, const TTagFields& Fields) {
    for (const auto& [Field, Id] : TextFrames)
        SetText(Tag, Id, Fields.*Field);
    SetText(Tag, "TCON", Fields.Genre);
    if (!Fields.Comment)
        return;
    for (ID3v2::CommentsFrame* Comment : ShownComments(Tag))
        Tag.removeFrame(Comment);
    if (!Fields.Comment->empty()) {
        auto* Comment = new ID3v2::CommentsFrame(TagLib::String::Latin1);
        Comment->setText(FromUtf8(*Fields.Comment));
        Tag.addFrame(Comment);
    }
}

std::optional<std::string> NonEmpty(const std::string& Text) {
    return Text.empty() ? std::nullopt : std::optional(Latin1ToUtf8(Text));
}

TTagFields FieldsOfID3v1(const TID3Info& Info, const TID3TagBlock& Block) {
    TTagFields Fields{NonEmpty(Info.Title), NonEmpty(Info.Artist),  NonEmpty(Info.Album),
                      NonEmpty(Info.Year),  NonEmpty(Info.Comment), std::nullopt,
                      std::nullopt};
    if (const uint8_t Track = ID3v11Track(Block))
        Fields.Track = std::to_string(Track);
    Fields.Genre = NonEmpty(Utf8(TagLib::ID3v1::genre(Info.Genre)));
    return Fields;
}

std::vector<TChapter> ChaptersOf(const ID3v2::Tag& Tag) {
    std::vector<TChapter> Chapters;
    for (const ID3v2::Frame* Frame : Tag.frameList("CHAP"))
        if (const auto* Chapter = dynamic_cast<const ID3v2::ChapterFrame*>(Frame)) {
            const ID3v2::FrameList& Titles = Chapter->embeddedFrameList("TIT2");
            Chapters.push_back({Chapter->startTime(), Chapter->endTime(),
                                Titles.isEmpty() ? "" : Utf8(Titles.front()->toString())});
        }
    std::stable_sort(Chapters.begin(), Chapters.end(),
                     [](const TChapter& A, const TChapter& B) { return A.StartMs < B.StartMs; });
    return Chapters;
}

// Keeps the chapters that overlap [Start, End), cut to it and moved to start
// at 0 (one without length only when it lies inside). The tables of contents
// then list only what is left; a table left empty goes too, and so leaves
// the table that listed it.
void KeepChapters(ID3v2::Tag& Tag, int64_t Start, int64_t End) {
    std::set<TagLib::ByteVector> Kept;
    const ID3v2::FrameList Chapters = Tag.frameList("CHAP");
    for (ID3v2::Frame* Frame : Chapters) {
        auto* Chapter = dynamic_cast<ID3v2::ChapterFrame*>(Frame);
        const int64_t From = Chapter ? Chapter->startTime() : End;
        const int64_t To = Chapter ? Chapter->endTime() : End;
        if (From >= End || (To <= Start && From < Start)) {
            Tag.removeFrame(Frame);
            continue;
        }
        const int64_t NewFrom = std::max(From, Start) - Start;
        Chapter->setStartTime(static_cast<unsigned int>(NewFrom));
        Chapter->setEndTime(
            static_cast<unsigned int>(std::max(std::min(To, End) - Start, NewFrom)));
        Chapter->setStartOffset(NoOffset);
        Chapter->setEndOffset(NoOffset);
        Kept.insert(Chapter->elementID());
    }
    for (bool Changed = true; Changed;) {
        Changed = false;
        std::set<TagLib::ByteVector> Tables;
        for (ID3v2::Frame* Frame : Tag.frameList("CTOC"))
            if (auto* Table = dynamic_cast<ID3v2::TableOfContentsFrame*>(Frame))
                Tables.insert(Table->elementID());
        const ID3v2::FrameList Frames = Tag.frameList("CTOC");
        for (ID3v2::Frame* Frame : Frames) {
            auto* Table = dynamic_cast<ID3v2::TableOfContentsFrame*>(Frame);
            TagLib::ByteVectorList Entries;
            if (Table)
                for (const TagLib::ByteVector& Id : Table->childElements())
                    if (Kept.contains(Id) || Tables.contains(Id))
                        Entries.append(Id);
            if (Entries.isEmpty()) {
                Tag.removeFrame(Frame);
                Changed = true;
            } else if (Entries.size() != Table->entryCount()) {
                Table->setChildElements(Entries);
            }
        }
    }
}

} // namespace

TSourceTag::TSourceTag() = default;

TSourceTag TSourceTag::FromFile(const std::string& FileName) {
    const int Handle = FileOpen(FileName, fmOpenRead | fmShareDenyWrite);
    if (Handle < 0)
        RaiseLastOSError(FileName);
    struct TClose {
        int Handle;
        ~TClose() { FileClose(Handle); }
    } Close{Handle};
    return FromHandle(Handle);
}

TSourceTag TSourceTag::FromHandle(int Handle) {
    const int64_t Size = FileSize(Handle);
    if (Size < 0)
        RaiseLastOSError();
    return Read(
        [Handle](int64_t At, uint8_t* Dest, uint32_t Count) {
            const int32_t Got = FileReadAt(Handle, Dest, Count, At);
            if (Got < 0)
                RaiseLastOSError();
            return static_cast<uint32_t>(Got) == Count;
        },
        Size);
}

TSourceTag TSourceTag::FromBytes(std::span<const uint8_t> File) {
    return Read(
        [File](int64_t At, uint8_t* Dest, uint32_t Count) {
            if (At < 0 || static_cast<uint64_t>(At) + Count > File.size())
                return false;
            std::memcpy(Dest, File.data() + At, Count);
            return true;
        },
        static_cast<int64_t>(File.size()));
}

TSourceTag TSourceTag::Read(const TReadAt& Read, int64_t FileSize) {
    TSourceTag Source;
    uint8_t Head[ID3v2HeaderSize];
    const int64_t Size =
        FileSize >= ID3v2HeaderSize && Read(0, Head, ID3v2HeaderSize) ? ID3v2TagSize(Head) : -1;
    if (Size > 0 && Size <= FileSize) {
        TagLib::ByteVector Bytes(static_cast<unsigned int>(Size), '\0');
        if (Read(0, reinterpret_cast<uint8_t*>(Bytes.data()), static_cast<uint32_t>(Size))) {
            const TParsedTag Parsed(Bytes);
            if (!Parsed.Tag.frameList().isEmpty()) {
                Source.FRaw = std::make_shared<const TRaw>(TRaw{Bytes});
                Source.FFields = FieldsOf(Parsed.Tag);
                Source.FChapters = ChaptersOf(Parsed.Tag);
                return Source;
            }
        }
    }
    TID3TagBlock Block;
    if (FileSize >= ID3TagSize && Read(FileSize - ID3TagSize, Block.data(), ID3TagSize) &&
        std::memcmp(Block.data(), "TAG", 3) == 0) {
        TID3Info Info;
        UnpackID3Tag(Block, Info);
        // A tag of zeros says nothing, least of all genre 0, "Blues".
        Source.FFromID3v1 = ID3InfoHasText(Info);
        if (Source.FFromID3v1)
            Source.FFields = FieldsOfID3v1(Info, Block);
    }
    return Source;
}

// The tag of the whole file itself, Overrides over the source's.
std::vector<uint8_t> RenderFileTag(const TSourceTag& Source, const TTagFields& Overrides) {
    TParsedTag Parsed(Source.FRaw ? Source.FRaw->Bytes : TagLib::ByteVector());
    ID3v2::Tag& Tag = Parsed.Tag;
    if (Source.FFromID3v1)
        ApplyFields(Tag, Source.FFields);
    ApplyFields(Tag, Overrides);
    if (Tag.frameList().isEmpty())
        return {};
    const ByteVector Rendered = Tag.render(ID3v2::v3);
    const std::span<const uint8_t> Bytes = SpanOf(Rendered);
    return {Bytes.begin(), Bytes.end()};
}

std::vector<std::span<const uint8_t>> TRenderedTag::Pieces() const {
    std::vector<std::span<const uint8_t>> All{FHead, FShared, FChapters};
    All.insert(All.end(), FPictures.begin(), FPictures.end());
    All.push_back(FPadding);
    std::erase_if(All, [](std::span<const uint8_t> Piece) { return Piece.empty(); });
    return All;
}

std::vector<uint8_t> TRenderedTag::Bytes() const {
    std::vector<uint8_t> All;
    for (const std::span<const uint8_t> Piece : Pieces())
        All.insert(All.end(), Piece.begin(), Piece.end());
    return All;
}

struct TOutputTags::TShared {
    TShared(const TSourceTag& Source, const TTagFields& Overrides);

    // Whether frames other than chapters and their tables are left: if not,
    // an output without chapters gets no tag.
    bool KeptFrames = false;
    // The user's title and artist win over an output's own.
    bool TitleTyped = false;
    bool ArtistTyped = false;
    // An ID3v2.3 tag of the frames an output changes, read anew for each.
    ByteVector PerOutput;
    // The other frames rendered, pictures aside.
    std::vector<uint8_t> Frames;
    // Each picture frame rendered without its picture, its size telling the
    // picture's in, then the picture: bytes read from the source.
    std::vector<ByteVector> PictureBytes;
    std::vector<std::span<const uint8_t>> Pictures;
    int64_t PicturesSize = 0;
    // For the padding: the source tag's size after its header, and its bytes.
    int64_t SourceTagSize = 0;
    int64_t SourceLength = 0;
};

TOutputTags::TShared::TShared(const TSourceTag& Source, const TTagFields& Overrides) {
    TParsedTag Job(Source.FRaw ? Source.FRaw->Bytes : ByteVector());
    ID3v2::Tag& Tag = Job.Tag;
    if (Source.FFromID3v1)
        ApplyFields(Tag, Source.FFields);
    ApplyFields(Tag, Overrides);
    TitleTyped = Overrides.Title.has_value();
    ArtistTyped = Overrides.Artist.has_value();
    for (const char* Id : WholeSourceFrames)
        Tag.removeFrames(Id);
    for (const ID3v2::Frame* Frame : Tag.frameList())
        KeptFrames = KeptFrames || !IsChapterFrame(Frame->frameID());
    SourceTagSize = Tag.header()->tagSize();
    SourceLength = Job.File.length();

    // TagLib converts frames to ID3v2.3 (a year, say, goes to the frame
    // ID3v2.3 has for it) only when it renders a whole tag. So the tag is
    // rendered once, each picture replaced by its number, and taken apart.
    std::vector<ByteVector> Data;
    for (ID3v2::Frame* Frame : Tag.frameList("APIC"))
        if (auto* Picture = dynamic_cast<ID3v2::AttachedPictureFrame*>(Frame)) {
            Data.push_back(Picture->picture());
            Picture->setPicture(PictureNumber(Data.size() - 1));
        }
    const ByteVector V3 = Tag.render(ID3v2::v3);
    std::vector<uint8_t> Changing;
    for (const std::span<const uint8_t> Frame : FramesOf(V3)) {
        const ByteVector Id = IdOf(Frame);
        const size_t Number = Id == "APIC" ? NumberAtTheEnd(Frame) : SIZE_MAX;
        if (IsPerOutputFrame(Id)) {
            Changing.insert(Changing.end(), Frame.begin(), Frame.end());
        } else if (Number < Data.size()) {
            // TagLib would copy the picture several times over for each
            // output: the frame is kept without it, its size counting it in.
            ByteVector Head = BytesOf(Frame.first(Frame.size() - NumberSize));
            const ByteVector Size =
                ByteVector::fromUInt(Head.size() - FrameHeaderSize + Data[Number].size());
            std::copy(Size.begin(), Size.end(), Head.begin() + FrameIdSize);
            PicturesSize += Head.size() + Data[Number].size();
            PictureBytes.push_back(Head);
            PictureBytes.push_back(Data[Number]);
        } else {
            Frames.insert(Frames.end(), Frame.begin(), Frame.end());
        }
    }
    for (const ByteVector& Bytes : PictureBytes)
        Pictures.push_back(SpanOf(Bytes));
    if (!Changing.empty()) {
        PerOutput = TagHeaderV3(static_cast<int64_t>(Changing.size()));
        PerOutput.append(BytesOf(Changing));
    }
}

TOutputTags::TOutputTags(const TSourceTag& Source, const TTagFields& Overrides)
    : FShared(std::make_unique<const TShared>(Source, Overrides)) {}

TOutputTags::~TOutputTags() = default;

TRenderedTag TOutputTags::Render(const TOutputPlace& Place) const {
    const TShared& Shared = *FShared;
    TParsedTag Own(Shared.PerOutput);
    ID3v2::Tag& Tag = Own.Tag;
    KeepChapters(Tag, Place.StartMs, Place.EndMs);
    if (!Shared.TitleTyped)
        SetText(Tag, "TIT2", Place.Title);
    if (!Shared.ArtistTyped)
        SetText(Tag, "TPE1", Place.Artist);
    TRenderedTag Rendered;
    if (!Shared.KeptFrames && Tag.frameList().isEmpty())
        return Rendered;
    if (Place.Part > 0) {
        const std::string Number =
            std::to_string(Place.Part) + "/" + std::to_string(Place.PartCount);
        if (const auto Title = FrameText(Tag, "TIT2");
            Title && !Title->empty() && Place.NumberTitle)
            SetText(Tag, "TIT2", *Title + " (" + Number + ")");
        SetText(Tag, "TRCK", Number);
    }
    Rendered.FHead.resize(ID3v2HeaderSize);
    const ByteVector V3 = Tag.render(ID3v2::v3);
    for (const std::span<const uint8_t> Frame : FramesOf(V3)) {
        std::vector<uint8_t>& To =
            IsChapterFrame(IdOf(Frame)) ? Rendered.FChapters : Rendered.FHead;
        To.insert(To.end(), Frame.begin(), Frame.end());
    }
    Rendered.FShared = Shared.Frames;
    Rendered.FPictures = Shared.Pictures;

    const int64_t FramesSize = static_cast<int64_t>(Rendered.FHead.size()) - ID3v2HeaderSize +
                               static_cast<int64_t>(Shared.Frames.size()) +
                               static_cast<int64_t>(Rendered.FChapters.size()) +
                               Shared.PicturesSize;
    const int64_t Room = Shared.SourceTagSize - FramesSize;
    const int64_t MostRoom = std::clamp(Shared.SourceLength / 100, MinPadding, MaxPadding);
    Rendered.FPadding.resize(static_cast<size_t>(Room > 0 && Room <= MostRoom ? Room : MinPadding));
    const ByteVector Header =
        TagHeaderV3(FramesSize + static_cast<int64_t>(Rendered.FPadding.size()));
    std::copy(Header.begin(), Header.end(), Rendered.FHead.begin());
    return Rendered;
}

std::vector<uint8_t> RenderOutputTag(const TSourceTag& Source, const TTagFields& Overrides,
                                     const TOutputPlace& Place) {
    return TOutputTags(Source, Overrides).Render(Place).Bytes();
}

const std::vector<std::string>& GenreNames() {
    static const std::vector<std::string> Names = [] {
        std::vector<std::string> List;
        for (const TagLib::String& Name : TagLib::ID3v1::genreList())
            List.push_back(Utf8(Name));
        return List;
    }();
    return Names;
}

std::optional<std::string> GenreByNameOrNumber(const std::string& Text) {
    const auto& Names = GenreNames();
    if (!Text.empty() && Text.size() <= 3 &&
        std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; })) {
        const size_t Number = std::stoul(Text);
        if (Number < Names.size())
            return Names[Number];
        return std::nullopt;
    }
    auto Lower = [](std::string Word) {
        for (char& C : Word)
            C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
        return Word;
    };
    for (const std::string& Name : Names)
        if (Lower(Name) == Lower(Text))
            return Name;
    return std::nullopt;
}

uint8_t GenreNumber(const std::string& Name) {
    const auto& Names = GenreNames();
    const auto Found = std::find(Names.begin(), Names.end(), Name);
    return Found == Names.end() ? 255 : static_cast<uint8_t>(Found - Names.begin());
}

namespace {

class THandle {
public:
    explicit THandle(int Handle) : FHandle(Handle) {}
    ~THandle() {
        if (FHandle >= 0)
            FileClose(FHandle);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    int Get() const { return FHandle; }

private:
    int FHandle;
};

// Writes Count bytes or raises the failure naming FileName.
void WriteAll(int Handle, const uint8_t* Data, size_t Count, const std::string& FileName) {
    while (Count > 0) {
        const auto Chunk = static_cast<uint32_t>(std::min<size_t>(Count, 1 << 20));
        errno = 0;
        const int32_t Written = FileWrite(Handle, Data, Chunk);
        if (Written <= 0)
            throw Exception("Unable to write file " + FileName + ": " +
                            SysErrorMessage(errno ? errno : ENOSPC));
        Data += Written;
        Count -= static_cast<size_t>(Written);
    }
}

} // namespace

void WriteFileTags(const std::string& FileName, const TTagFields& Fields,
                   const std::optional<TID3Info>& ID3v1) {
    const THandle File(FileOpen(FileName, fmOpenReadWrite | fmShareExclusive));
    if (File.Get() < 0)
        RaiseLastOSError(FileName);
    const int64_t Size = FileSize(File.Get());
    if (Size < 0)
        RaiseLastOSError(FileName);
    if (Size < ID3TagSize)
        throw Exception(
            FormatMessage("No tag was written: %s is shorter than 128 bytes", FileName));
    const TSourceTag Source = TSourceTag::FromHandle(File.Get());
    const std::vector<uint8_t> Tag = RenderFileTag(Source, Fields);
    // The old tag's bytes, frames or not, give way to the new one.
    uint8_t Head[ID3v2HeaderSize];
    int64_t OldSize = FileReadAt(File.Get(), Head, ID3v2HeaderSize, 0) == ID3v2HeaderSize
                          ? ID3v2TagSize(Head)
                          : -1;
    if (OldSize < 0 || OldSize > Size)
        OldSize = 0;
    if (Tag.empty() && OldSize == 0) {
        if (ID3v1)
            WriteID3Tag(FileName, *ID3v1);
        return;
    }
    // Through a link the file it leads to is replaced, not the link.
    char* Resolved = realpath(FileName.c_str(), nullptr);
    if (Resolved == nullptr)
        RaiseLastOSError(FileName);
    const std::string Target = Resolved;
    std::free(Resolved);
    const std::string Folder = Target.substr(0, Target.rfind('/') + 1);
    std::string Temp = Folder + ".segmora-tag-XXXXXX";
    const THandle New(mkstemp(Temp.data()));
    if (New.Get() < 0)
        RaiseLastOSError(Temp);
    try {
        struct stat Old {};
        if (fstat(File.Get(), &Old) == 0)
            fchmod(New.Get(), Old.st_mode & 07777);
        WriteAll(New.Get(), Tag.data(), Tag.size(), FileName);
        std::vector<uint8_t> Buffer(1 << 20);
        for (int64_t At = OldSize; At < Size;) {
            const auto Count = static_cast<uint32_t>(std::min<int64_t>(Size - At, 1 << 20));
            const int32_t Got = FileReadAt(File.Get(), Buffer.data(), Count, At);
            if (Got <= 0)
                RaiseLastOSError(FileName);
            WriteAll(New.Get(), Buffer.data(), static_cast<size_t>(Got), FileName);
            At += Got;
        }
        if (ID3v1 && SeekID3TagPlace(New.Get())) {
            TID3TagBlock Block;
            PackID3Tag(*ID3v1, Block);
            WriteAll(New.Get(), Block.data(), Block.size(), FileName);
        }
        if (fsync(New.Get()) != 0)
            RaiseLastOSError(FileName);
        if (std::rename(Temp.c_str(), Target.c_str()) != 0)
            RaiseLastOSError(FileName);
    } catch (...) {
        unlink(Temp.c_str());
        throw;
    }
}
