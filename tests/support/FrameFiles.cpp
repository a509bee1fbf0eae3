#include "FrameFiles.h"

#include "MP3Read.h"
#include "TagBlocks.h"
#include "TestFiles.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::vector<TBytes> ReaderFrames(const std::string& FileName) {
    TMP3Reader Reader;
    Reader.Open(FileName);
    std::vector<TBytes> Frames;
    while (Reader.FindNextFrame(0)) {
        TBytes Frame(static_cast<size_t>(Reader.FrameLength()));
        if (!Reader.ReadFrame(Frame.data()))
            break;
        Frames.push_back(std::move(Frame));
    }
    return Frames;
}

TBytes WithoutID3v2(const TBytes& File) {
    // Counted by its header's size.
    const int64_t Size = File.size() >= ID3v2HeaderSize ? ID3v2TagSize(File.data()) : 0;
    if (Size <= 0 || static_cast<size_t>(Size) > File.size())
        return File;
    return TBytes(File.begin() + Size, File.end());
}

bool StartsWithInfoFrame(const TBytes& Output) {
    const TBytes File = WithoutID3v2(Output);
    auto Holds = [&](const char* Tag, size_t From, size_t To) {
        const auto End = File.begin() + static_cast<std::ptrdiff_t>(std::min(To, File.size()));
        const auto Begin = File.begin() + static_cast<std::ptrdiff_t>(std::min(From, File.size()));
        return std::search(Begin, End, Tag, Tag + 4) != End;
    };
    return Holds("Xing", 4, 48) || Holds("Info", 4, 48) || Holds("VBRI", 36, 40);
}

std::vector<TBytes> AudioFrames(const std::string& FileName) {
    auto Frames = ReaderFrames(FileName);
    if (!Frames.empty() && StartsWithInfoFrame(Frames.front()))
        Frames.erase(Frames.begin());
    return Frames;
}

TBytes OutputAudio(const TBytes& Output) {
    const TBytes File = WithoutID3v2(Output);
    TMP3FrameInfo Info;
    uint32_t Header = 0;
    if (File.size() >= 4)
        std::memcpy(&Header, File.data(), 4);
    if (!StartsWithInfoFrame(File) || !DecodeFrameHeader(Header, Info) ||
        static_cast<size_t>(Info.FrameLength) > File.size())
        return File;
    return TBytes(File.begin() + Info.FrameLength, File.end());
}

TBytes OutputAudio(const std::string& FileName) {
    return OutputAudio(ReadFileBytes(FileName));
}

TBytes Concat(const std::vector<TBytes>& Pieces, size_t From, size_t To) {
    TBytes Result;
    for (size_t I = From; I < Pieces.size() && I < To; ++I)
        Result.insert(Result.end(), Pieces[I].begin(), Pieces[I].end());
    return Result;
}

TBytes Concat(const TBytes& A, const TBytes& B) {
    TBytes Result = A;
    Result.insert(Result.end(), B.begin(), B.end());
    return Result;
}

std::vector<TFixture> Fixtures() {
    std::ifstream In(FixturePath("fixtures.tsv"));
    if (!In)
        throw std::runtime_error("fixtures.tsv is missing");
    std::vector<TFixture> Result;
    std::string Line;
    std::getline(In, Line); // header
    while (std::getline(In, Line)) {
        std::istringstream Row(Line);
        TFixture F;
        Row >> F.Name >> F.Size >> F.FirstOffset >> F.Frames >> F.LastOffset >> F.FramesEnd >>
            F.Seconds >> F.FfprobePackets >> F.InfoFrame >> F.Version >> F.Layer >> F.SampleRate >>
            F.Bitrate;
        if (!F.Name.empty())
            Result.push_back(F);
    }
    return Result;
}

std::vector<TTaggedFixture> TaggedFixtures() {
    std::ifstream In(FixturePath("tagged.tsv"));
    if (!In)
        throw std::runtime_error("tagged.tsv is missing");
    std::vector<TTaggedFixture> Result;
    TBytes File;
    std::string Line;
    std::getline(In, Line); // header
    while (std::getline(In, Line)) {
        std::istringstream Row(Line);
        std::string Name;
        int64_t Offset = 0, Length = 0;
        if (!(Row >> Name >> Offset >> Length))
            continue;
        if (Result.empty() || Result.back().Name != Name) {
            Result.push_back({Name, {}, {}});
            File = ReadFileBytes(FixturePath(Name));
        }
        Result.back().Offsets.push_back(Offset);
        Result.back().Frames.emplace_back(File.begin() + Offset, File.begin() + Offset + Length);
    }
    return Result;
}
