#pragma once

// Synthetic MPEG audio frames for structural tests: one builder, used by
// every test that needs frames no encoder would make on purpose.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TFrameSpec {
    uint8_t Version = 1; // 1 = MPEG-1, 2 = MPEG-2, 3 = MPEG-2.5
    uint8_t Layer = 3;
    int Kbps = 128;
    int SampleRate = 44100;
    bool Padding = false;
    uint8_t ChannelMode = 1;
};

// The four header bytes of a frame as they stand in the file.
std::array<uint8_t, 4> BuildHeader(const TFrameSpec& Spec);
// Frame length in bytes as the decoder computes it.
int FrameLengthOf(const TFrameSpec& Spec);
// Play time in seconds of one frame.
double FrameDurationOf(const TFrameSpec& Spec);
// A whole frame: the header, then a body of Fill bytes that never holds 0xFF
// (so no false sync lies inside it). Seed varies the body.
std::vector<uint8_t> BuildFrame(const TFrameSpec& Spec, uint8_t Seed = 0);

// A byte image built piece by piece, that remembers where each frame went.
class TStreamBuilder {
public:
    TStreamBuilder& Frames(int Count, const TFrameSpec& Spec = {});
    TStreamBuilder& Junk(size_t Count, uint8_t Byte = 0x00);
    TStreamBuilder& Bytes(const std::vector<uint8_t>& Data);
    TStreamBuilder& Text(const std::string& Data);
    // A frame cut short: its first Keep bytes.
    TStreamBuilder& TruncatedFrame(size_t Keep, const TFrameSpec& Spec = {});
    // An ID3v2 tag header with Size bytes of body (zeros).
    TStreamBuilder& ID3v2(uint32_t Size);
    // A 128-byte ID3v1 tag with the given title.
    TStreamBuilder& ID3v1(const std::string& Title = "Title");

    const std::vector<uint8_t>& Data() const { return FData; }
    const std::vector<int64_t>& FrameOffsets() const { return FOffsets; }
    const std::vector<int>& FrameLengths() const { return FLengths; }
    // The bytes of every whole frame, back to back.
    std::vector<uint8_t> FrameBytes() const;
    void WriteTo(const std::string& Path) const;

private:
    std::vector<uint8_t> FData;
    std::vector<int64_t> FOffsets;
    std::vector<int> FLengths;
    uint8_t FSeed = 0;
};
