#include "CliProgress.h"
#include "CliSupport.h"
#include "Commands.h"
#include "Errors.h"
#include "FileAccess.h"
#include "ID3v1.h"
#include "Latin1Text.h"
#include "MP3Prepare.h"
#include "Segmora.h"
#include "SourceGrid.h"
#include "SourceTag.h"
#include "SplitModes.h"
#include "TimeFormat.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

const char* const SplitUsage =
    "Usage: segmora-cli split SOURCE MODE --folder DIR [--prefix P] [--name-pattern P]\n"
    "                     [TAG OPTIONS] [--pad] [--no-tags] [--exact] [--overwrite]\n"
    "                     [--dry-run] [--quiet]\n"
    "Cuts the whole file into parts, frame by frame, named DIR/P1.mp3, DIR/P2.mp3,\n"
    "... Every part starts with an ID3v2.3 tag made from the source's (its cover\n"
    "and other frames too, the tag options over it, track \"i/N\", the title\n"
    "followed by \" (i/N)\", the chapters that lie in the part) and ends with the\n"
    "source's ID3v1 tag when the source has one.\n\n"
    "MODE is one of:\n"
    "  --parts N        N parts of about equal size, 2 to 999\n"
    "  --equal-time N   N parts of equal play time, 2 to 999\n"
    "  --every T        parts of T each, the last one shorter\n"
    "    --quiet-within T   each cut moves to the quietest place within T of it\n"
    "  --silence        a cut in the middle of every silence\n"
    "    --threshold DB     quieter than this is silence, in dBFS (-40)\n"
    "    --min-silence T    silence that lasts at least this long (0.5)\n"
    "    --min-part T       no part shorter: a cut that would make one is skipped\n"
    "    --drop-silence     the silence itself is left out of the parts\n"
    "  --at T1,T2,...   a cut at each time\n"
    "  --cue FILE       a part for each track of the cue sheet FILE\n"
    "  --chapters       a part for each of the source's chapters\n"
    "Every cut lies on the frame boundary nearest to its time. The parts of --cue\n"
    "and --chapters take the track's or chapter's title (and performer) for\n"
    "their title, not numbered, and are named by --name-pattern. --silence and\n"
    "--quiet-within listen to the source: they use the loudness picture the\n"
    "window keeps, or decode the file first and keep the picture for the window.\n"
    "The modes other than --parts need frames of one length: a source whose\n"
    "sample rate changes is refused.\n\n"
    "T is MM:SS, HH:MM:SS or seconds, each with up to three decimals: 01:15.5,\n"
    "1:02:03.4, 75, 75.5, 10.237.\n\n"
    "  --folder DIR        folder of the parts; created with its parents when\n"
    "                      missing, once SOURCE was read through\n"
    "  --prefix P          start of the part names; the source's name without its\n"
    "                      extension followed by \"-\" when not given\n"
    "  --name-pattern P    names of the parts of --cue and --chapters: {nn} is the\n"
    "                      number with two digits (more from 100 parts on), {n}\n"
    "                      the number, {title} the title with \"/\" and control\n"
    "                      characters as \"_\" and leading dots left out;\n"
    "                      \"{nn} - {title}\" when not given. A part without a title\n"
    "                      is named P and its number\n"
    "  --pad               part numbers led by zeros to the width of N: P01 to P12\n"
    "  --no-tags           no tag at all: the parts hold their frames alone\n"
    "  --exact             cut to the sample (Layer III only): played back to back\n"
    "                      by a gapless player, the parts give the source's samples;\n"
    "                      times count from the first sample a player plays\n"
    "  --overwrite         replace part files that exist; without it they are\n"
    "                      refused\n"
    "  --dry-run           only print each part's start, end and file name; nothing\n"
    "                      is written and no folder made\n"
    "  --quiet             no progress bar\n\n"
    "Tag options: --title T  --artist A  --album A  --year Y  --comment C\n"
    "  --track N  --genre G (a name, \"Ambient\", or an ID3v1 number)\n"
    "  A typed --title or --artist goes over the track's or chapter's own.\n";

const char* const CutUsage =
    "Usage: segmora-cli cut SOURCE --start TIME --end TIME --out FILE [TAG OPTIONS]\n"
    "                   [--no-tags] [--exact] [--overwrite] [--quiet]\n"
    "Saves the frames that end after the start and by the end as a new file; a\n"
    "time within half a millisecond of a frame boundary stands for it.\n\n"
    "TIME is MM:SS, HH:MM:SS or seconds, each with up to three decimals: 01:15.5,\n"
    "1:02:03.4, 75, 75.5, 10.237. The start must lie before the end.\n\n"
    "  --start TIME   start mark\n"
    "  --end TIME     end mark\n"
    "  --out FILE     the new file\n"
    "  --no-tags      no tag at all: FILE holds its frames alone\n"
    "  --exact        cut to the sample (Layer III only): a gapless player plays\n"
    "                 exactly the samples between the marks, which count from\n"
    "                 the first sample a player plays\n"
    "  --overwrite    replace FILE when it exists; without it, it is refused\n"
    "  --quiet        no progress bar\n\n"
    "FILE starts with an ID3v2.3 tag made from the source's (its cover, its\n"
    "chapters that lie in FILE), the tag options over it, in UTF-8 as typed.\n"
    "Tag options (an ID3v1 tag with genre 255 is also written when one gives text):\n"
    "  --title T  --artist A  --album A  --year Y  --comment C\n"
    "  --track N  --genre G (a name, \"Ambient\", or an ID3v1 number)\n"
    "  the ID3v1 tag takes them in ISO-8859-1, a character outside it as \"?\"\n";

const char* const PrepareUsage =
    "Usage: segmora-cli prepare SOURCE OUT [--overwrite] [--quiet]\n"
    "Copies only the MPEG audio frames of SOURCE into OUT: no ID3v2 tag, no junk\n"
    "between frames, no ID3v1 tag.\n\n"
    "  --overwrite  replace OUT when it exists; without it, it is refused\n"
    "  --quiet      no progress bar\n";

const char* const TagUsage =
    "Usage: segmora-cli tag FILE [--title T] [--artist A] [--album A] [--year Y]\n"
    "                       [--comment C] [--track N] [--genre G]\n"
    "Without options, prints the file's ID3v1 tag or says there is none, with\n"
    "control characters shown as \\xNN and the ID3v1.1 track number when the\n"
    "comment holds one; then its ID3v2 tag, when it has one. With any option,\n"
    "writes both tags. The ID3v1 tag goes over the old one, or behind the last\n"
    "byte. The fields not given keep what the old tags held (genre 255 without\n"
    "an ID3v1 tag), the track number too: a comment of up to 28 bytes keeps it, a\n"
    "longer one takes its place. The ID3v2 tag (version 2.3) keeps every other\n"
    "frame, the cover too; writing it rewrites the file: a new file is written\n"
    "beside it and renamed over it, the audio byte for byte as it was.\n\n"
    "  --title T, --artist A, --album A, --comment C  up to 30 bytes each in ID3v1\n"
    "  --year Y   up to 4 bytes in ID3v1\n"
    "  --track N  \"3\" or \"3/12\"; ID3v1 keeps the number in front, up to 255\n"
    "  --genre G  a genre's name (\"Ambient\") or number, 0 to 255\n"
    "The ID3v1 tag holds ISO-8859-1 text, one byte per character: the options'\n"
    "UTF-8 text is converted to it (a character outside it becomes \"?\"), and a\n"
    "tag is shown in UTF-8. The ID3v2 tag takes the text as typed.\n";

namespace {

// The tag's text fields, each with the option that gives it.
const struct {
    const char* Option;
    std::string TID3Info::*ID3v1;
    std::optional<std::string> TTagFields::*ID3v2;
} TagFields[] = {{"--title", &TID3Info::Title, &TTagFields::Title},
                 {"--artist", &TID3Info::Artist, &TTagFields::Artist},
                 {"--album", &TID3Info::Album, &TTagFields::Album},
                 {"--year", &TID3Info::Year, &TTagFields::Year},
                 {"--comment", &TID3Info::Comment, &TTagFields::Comment}};

const std::set<std::string> TagOptions = [] {
    std::set<std::string> Names = {"--track", "--genre"};
    for (const auto& Field : TagFields)
        Names.insert(Field.Option);
    return Names;
}();

// Fails early when the source can't be read, before any output exists.
void CheckSourceReadable(const std::string& Source) {
    const int Handle = FileOpen(Source, fmOpenRead | fmShareDenyWrite);
    if (Handle < 0)
        RaiseLastOSError(Source);
    FileClose(Handle);
}

// The tag as the user reads it: every field escaped, since a tag must not
// drive the terminal, and the ID3v1.1 track number apart from the comment.
void PrintTag(const TID3TagBlock& Block) {
    const uint8_t Track = ID3v11Track(Block);
    TID3TagBlock Fields = Block;
    if (Track != 0)
        Fields[126] = 0;
    TID3Info Tag;
    UnpackID3Tag(Fields, Tag);
    // Escaped while still ISO-8859-1, where 0x80 to 0x9F are control codes
    // too; what is left is then shown in UTF-8.
    auto Shown = [](const std::string& Field) { return Latin1ToUtf8(EscapeControls(Field)); };
    std::printf("Title:   %s\nArtist:  %s\nAlbum:   %s\nYear:    %s\nComment: %s\n",
                Shown(Tag.Title).c_str(), Shown(Tag.Artist).c_str(), Shown(Tag.Album).c_str(),
                Shown(Tag.Year).c_str(), Shown(Tag.Comment).c_str());
    if (Track != 0)
        std::printf("Track:   %d\n", Track);
    std::printf("Genre:   %d\n", Tag.Genre);
}

void RefuseExisting(const std::string& FileName) {
    std::error_code Error;
    // No --overwrite would help with a folder, a device or a pipe.
    if (IsNonRegularFile(FileName))
        throw Exception(CreateFileError(
            FileName, fs::is_directory(FileName, Error) ? EISDIR : ERROR_NOT_A_FILE));
    if (fs::exists(fs::symlink_status(FileName, Error)))
        throw Exception(FormatMessage("File %s exists; give --overwrite to replace it", FileName));
}

// The option's text as the tag stores it, in ISO-8859-1; says so on
// standard error when characters had to become "?".
std::optional<std::string> TagText(const TCommandArgs& Parsed, const std::string& Option) {
    auto Value = Parsed.Value(Option);
    if (!Value)
        return Value;
    bool Lost = false;
    std::string Bytes = Utf8ToLatin1(*Value, &Lost);
    if (Lost)
        std::fprintf(stderr,
                     "segmora-cli: %s: characters outside ISO-8859-1 were written as \"?\"\n",
                     Option.c_str());
    return Bytes;
}

// The track number an ID3v1.1 tag can hold: the number in front of "3/12";
// 0 for none.
uint8_t ID3v1Track(const std::string& Track) {
    int Number = 0;
    for (char C : Track) {
        if (C < '0' || C > '9' || Number > 255)
            break;
        Number = Number * 10 + (C - '0');
    }
    return Number <= 255 ? static_cast<uint8_t>(Number) : 0;
}

// --genre as a name or a number: the number the ID3v1 tag takes, and the
// name the ID3v2 tag takes when the number has one.
std::pair<uint8_t, std::optional<std::string>> ParseGenre(const std::string& Text) {
    if (!Text.empty() && Text.find_first_not_of("0123456789") == std::string::npos) {
        const auto Number = static_cast<uint8_t>(ParseNumber("--genre", Text, 0, 255));
        return {Number, GenreByNameOrNumber(std::to_string(Number))};
    }
    const auto Name = GenreByNameOrNumber(Text);
    if (!Name)
        throw TUsageError("--genre needs a genre's name or a number from 0 to 255: " + Text);
    return {GenreNumber(*Name), Name};
}

// The tag options given go into Tag; the other fields stay.
void TakeTagTexts(const TCommandArgs& Parsed, TID3Info& Tag) {
    for (const auto& Field : TagFields)
        if (auto Value = TagText(Parsed, Field.Option))
            Tag.*Field.ID3v1 = *Value;
    if (auto Track = Parsed.Value("--track"))
        Tag.Track = ID3v1Track(*Track);
    if (auto Genre = Parsed.Value("--genre"))
        Tag.Genre = ParseGenre(*Genre).first;
}

// The same options for the ID3v2 tag, which takes the text as typed.
TTagFields TagFieldsOf(const TCommandArgs& Parsed) {
    TTagFields Fields;
    for (const auto& Field : TagFields)
        Fields.*Field.ID3v2 = Parsed.Value(Field.Option);
    Fields.Track = Parsed.Value("--track");
    if (auto Genre = Parsed.Value("--genre"))
        Fields.Genre = ParseGenre(*Genre).second;
    return Fields;
}

// The ID3v2 tag's fields, escaped, each that is there.
void PrintID3v2(const TSourceTag& Tag) {
    const TTagFields& Fields = Tag.Fields();
    std::printf("ID3v2 tag:\n");
    const std::pair<const char*, const std::optional<std::string>*> Lines[] = {
        {"Title:  ", &Fields.Title}, {"Artist: ", &Fields.Artist},  {"Album:  ", &Fields.Album},
        {"Year:   ", &Fields.Year},  {"Comment:", &Fields.Comment}, {"Track:  ", &Fields.Track},
        {"Genre:  ", &Fields.Genre}};
    for (const auto& [Label, Field] : Lines)
        if (*Field)
            std::printf("  %s %s\n", Label, EscapeControls(**Field, TTextKind::Name).c_str());
    if (!Tag.Chapters().empty())
        std::printf("  Chapters: %zu\n", Tag.Chapters().size());
}

// Runs the job under a progress bar on the terminal (none with --quiet);
// Ctrl+C asks it to stop. A source that --exact can't cut to the sample is
// still cut, at whole frames, and the user is told so.
int RunJob(TSegmora& Segmora, const TCommandArgs& Parsed, bool Selection) {
    TCliFrontEnd FrontEnd(Parsed.Has("--quiet"));
    Segmora.SetFrontEnd(&FrontEnd);
    Segmora.SetExact(Parsed.Has("--exact"));
    InstallInterruptHandler();
    Segmora.Execute(Selection);
    if (Segmora.Exact() && !Segmora.ExactApplied())
        std::fprintf(
            stderr, "segmora-cli: %s\n",
            TSegmora::ExactNotAppliedText(EscapeControls(Segmora.SourceFile(), TTextKind::Name))
                .c_str());
    return FrontEnd.Finish();
}

} // namespace

int RunSplit(const std::vector<std::string>& Args) {
    std::set<std::string> Options = {"--folder", "--prefix"};
    Options.insert(TagOptions.begin(), TagOptions.end());
    Options.insert(SplitModeOptions.begin(), SplitModeOptions.end());
    std::set<std::string> Flags = {"--overwrite", "--quiet", "--no-tags", "--pad", "--exact"};
    Flags.insert(SplitModeFlags.begin(), SplitModeFlags.end());
    TCommandArgs Parsed(Args, Flags, Options);
    const std::string Source = Parsed.ExpectPositional(1)[0];
    const std::string Mode = SplitModeOf(Parsed);
    const auto Parts =
        Mode == "--parts"
            ? static_cast<int32_t>(ParseNumber("--parts", Required(Parsed, "--parts"), 2, 999))
            : 0;
    const std::string Folder = Required(Parsed, "--folder");
    const std::string Prefix =
        Parsed.Value("--prefix").value_or(fs::path(Source).stem().string() + "-");
    const auto Pattern = Parsed.Value("--name-pattern");
    if (Pattern && (Pattern->empty() || Pattern->find('/') != std::string::npos))
        throw TUsageError("--name-pattern needs a name without \"/\", such as \"{nn} - {title}\"");

    CheckSourceReadable(Source);

    TSegmora Segmora;
    // Created by the job once the source proved usable.
    Segmora.SetCreateFolder(true);
    Segmora.SetOverwrite(Parsed.Has("--overwrite"));
    Segmora.SetSourceFile(Source);
    Segmora.SetFolder(Folder);
    Segmora.SetPrefix(Prefix);
    Segmora.SetPartCount(Parts);
    Segmora.SetPadNumbers(Parsed.Has("--pad"));
    Segmora.SetTagFields(TagFieldsOf(Parsed));
    Segmora.SetNoTags(Parsed.Has("--no-tags"));
    if (Pattern)
        Segmora.SetNamePattern(*Pattern);
    const std::optional<TSegmora::TPlanner> Planner = SplitPlanner(Parsed, Mode, Source);
    if (Parsed.Has("--dry-run")) {
        // The times as the job counts them: cutting to the sample, from the
        // first sample played.
        const bool Exact = Parsed.Has("--exact");
        TClockSpan Clock = TClockSpan::Frames();
        if (Planner || Exact) {
            const TFrameGrid Grid = ReadFrameGrid(Source, Exact);
            Clock = Grid.Clock();
            if (Planner)
                Segmora.SetPlan((*Planner)(Grid, TSourceTag::FromFile(Source).Chapters()));
        }
        const TSplitPlan Plan = Segmora.Plan() ? *Segmora.Plan() : Segmora.PlanBySize();
        for (size_t I = 0; I < Plan.Parts.size(); ++I) {
            const TPlannedPart& Part = Plan.Parts[I];
            std::printf(
                "%s  %s  %s\n", FormatTimeMs(TicksToNearestMs(Clock.Of(Part.Start)), true).c_str(),
                FormatTimeMs(TicksToNearestMs(Clock.Of(Part.End)), true).c_str(),
                EscapeControls(Segmora.PartFileName(static_cast<int32_t>(I) + 1), TTextKind::Name)
                    .c_str());
        }
        return ExitOk;
    }
    // Every name is checked before the first part is written, by the job:
    // a plan's names are known only once it has walked the source.
    if (Planner)
        Segmora.SetPlanner(*Planner);
    if (!Parsed.Has("--overwrite"))
        Segmora.SetPartNameCheck(RefuseExisting);
    return RunJob(Segmora, Parsed, false);
}

int RunCut(const std::vector<std::string>& Args) {
    std::set<std::string> Options = {"--start", "--end", "--out"};
    Options.insert(TagOptions.begin(), TagOptions.end());
    TCommandArgs Parsed(Args, {"--overwrite", "--quiet", "--no-tags", "--exact"}, Options);
    const std::string Source = Parsed.ExpectPositional(1)[0];
    const int64_t Start = ParseTimeOption("--start", Required(Parsed, "--start"));
    const int64_t End = ParseTimeOption("--end", Required(Parsed, "--end"));
    const std::string Out = Required(Parsed, "--out");
    if (Start >= End)
        throw TUsageError("the start must lie before the end");

    // As the save dialog fills the record: genre 255 unless one is given,
    // the texts as typed.
    TID3Info Tag;
    Tag.Genre = 255;
    TakeTagTexts(Parsed, Tag);
    const TTagFields Fields = TagFieldsOf(Parsed);

    CheckSourceReadable(Source);
    if (!Parsed.Has("--overwrite"))
        RefuseExisting(Out);

    TSegmora Segmora;
    Segmora.SetOverwrite(Parsed.Has("--overwrite"));
    Segmora.SetSourceFile(Source);
    Segmora.SetDestFile(Out);
    Segmora.SetSelStart(Start);
    Segmora.SetSelEnd(End);
    Segmora.SetID3Info(Tag);
    Segmora.SetTagFields(Fields);
    Segmora.SetNoTags(Parsed.Has("--no-tags"));
    return RunJob(Segmora, Parsed, true);
}

int RunPrepare(const std::vector<std::string>& Args) {
    TCommandArgs Parsed(Args, {"--overwrite", "--quiet"}, {});
    const auto& Names = Parsed.ExpectPositional(2);
    const std::string Source = Names[0];
    const std::string Out = Names[1];

    CheckSourceReadable(Source);
    if (!Parsed.Has("--overwrite"))
        RefuseExisting(Out);

    TCliFrontEnd FrontEnd(Parsed.Has("--quiet"));
    InstallInterruptHandler();
    {
        auto Progress = FrontEnd.BeginJob("Preparing...",
                                          "The selected file is being prepared. Please wait...");
        CopyMP3Frames(Source, Out, *Progress, Parsed.Has("--overwrite"));
    }
    return FrontEnd.Finish();
}

int RunTag(const std::vector<std::string>& Args) {
    const std::set<std::string>& Options = TagOptions;
    TCommandArgs Parsed(Args, {}, Options);
    const std::string FileName = Parsed.ExpectPositional(1)[0];

    bool Writing = false;
    for (const auto& Option : Options)
        Writing = Writing || Parsed.Value(Option).has_value();

    if (!Writing) {
        TID3TagBlock Block;
        if (!ReadID3TagBlock(FileName, Block))
            std::printf("%s has no ID3v1 tag\n", EscapeControls(FileName, TTextKind::Name).c_str());
        else
            PrintTag(Block);
        const TSourceTag Tag = TSourceTag::FromFile(FileName);
        if (Tag.FromID3v2())
            PrintID3v2(Tag);
        return ExitOk;
    }
    TID3Info Tag;
    Tag.Genre = 255;
    ReadID3Tag(FileName, Tag);
    const uint8_t OldTrack = Tag.Track;
    TakeTagTexts(Parsed, Tag);
    if (!Parsed.Value("--track"))
        Tag.Track = OldTrack;
    if (Tag.Track != 0 && Tag.Comment.size() > 28 && Parsed.Value("--comment"))
        std::fprintf(stderr,
                     "segmora-cli: --comment: a comment longer than 28 bytes takes the place of "
                     "track number %d\n",
                     Tag.Track);
    WriteFileTags(FileName, TagFieldsOf(Parsed), Tag);
    // The writer leaves a file shorter than a tag alone without a word;
    // saying nothing here would report a tag that was never written.
    TID3Info Written;
    if (!ReadID3Tag(FileName, Written))
        throw Exception(
            FormatMessage("No tag was written: %s is shorter than 128 bytes", FileName));
    return ExitOk;
}
