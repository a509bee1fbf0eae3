#pragma once

// What tests compare outputs against: the frames the reader finds in a file,
// joined, and the committed fixtures with the counts that independent tools
// measured when they were made (tests/data/fixtures.tsv).

#include <cstdint>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

// Every frame the reader delivers whole, in order.
std::vector<TBytes> ReaderFrames(const std::string& FileName);
// The frames without a leading information frame: the audio a job copies.
std::vector<TBytes> AudioFrames(const std::string& FileName);
// True when the first frame of File names itself an information frame
// ("Xing" or "Info" within its first 48 bytes, "VBRI" at byte 36).
bool StartsWithInfoFrame(const TBytes& File);
// File without the ID3v2 tag at its start, when it has one.
TBytes WithoutID3v2(const TBytes& File);
// A job's output without the ID3v2 tag and the information frame at its
// start, when it has them.
TBytes OutputAudio(const TBytes& File);
TBytes OutputAudio(const std::string& FileName);
// Pieces From to To - 1, back to back.
TBytes Concat(const std::vector<TBytes>& Pieces, size_t From = 0, size_t To = SIZE_MAX);
TBytes Concat(const TBytes& A, const TBytes& B);

struct TFixture {
    std::string Name;
    int64_t Size = 0;
    int64_t FirstOffset = 0;
    int64_t Frames = 0; // frames delivered whole
    int64_t LastOffset = 0;
    int64_t FramesEnd = 0; // where the last whole frame ends
    double Seconds = 0;
    int64_t FfprobePackets = 0;
    int InfoFrame = 0;
    int Version = 0, Layer = 0, SampleRate = 0, Bitrate = 0;
};
// The rows of fixtures.tsv.
std::vector<TFixture> Fixtures();

// A fixture with tags, joined files or a foreign information frame, and the
// audio frames it holds as it was built (tagged.tsv): tags and information
// frames left out.
struct TTaggedFixture {
    std::string Name;
    std::vector<int64_t> Offsets;
    std::vector<TBytes> Frames;
};
std::vector<TTaggedFixture> TaggedFixtures();
