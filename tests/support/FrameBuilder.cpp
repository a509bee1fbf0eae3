#include "FrameBuilder.h"

#include "TestFiles.h"

#include <stdexcept>

namespace {

int BitrateIndex(const TFrameSpec& Spec) {
    static const int Mpeg1[3][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
    static const int Mpeg2[3][15] = {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    const int* Row = Spec.Version == 1 ? Mpeg1[Spec.Layer - 1] : Mpeg2[Spec.Layer - 1];
    for (int I = 1; I < 15; ++I)
        if (Row[I] == Spec.Kbps)
            return I;
    throw std::invalid_argument("no such bit rate for this version and layer");
}

int SampleRateIndex(const TFrameSpec& Spec) {
    static const int Rates[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    for (int I = 0; I < 3; ++I)
        if (Rates[Spec.Version - 1][I] == Spec.SampleRate)
            return I;
    throw std::invalid_argument("no such sample rate for this version");
}

} // namespace

std::array<uint8_t, 4> BuildHeader(const TFrameSpec& Spec) {
    static const uint8_t VersionBits[4] = {0, 3, 2, 0}; // by Version; 2.5 is 0
    static const uint8_t LayerBits[4] = {0, 3, 2, 1};
    uint8_t B1 = 0xE0 | static_cast<uint8_t>(VersionBits[Spec.Version] << 3) |
                 static_cast<uint8_t>(LayerBits[Spec.Layer] << 1) | 0x01;
    uint8_t B2 = static_cast<uint8_t>(BitrateIndex(Spec) << 4 | SampleRateIndex(Spec) << 2 |
                                      (Spec.Padding ? 2 : 0));
    uint8_t B3 = static_cast<uint8_t>(Spec.ChannelMode << 6);
    return {0xFF, B1, B2, B3};
}

int FrameLengthOf(const TFrameSpec& Spec) {
    int P = Spec.Padding ? 1 : 0;
    double Bits = Spec.Kbps * 1000.0;
    if (Spec.Layer == 1)
        return (static_cast<int>(12.0 * Bits / Spec.SampleRate) + P) * 4;
    if (Spec.Layer == 2 || Spec.Version == 1)
        return static_cast<int>(144.0 * Bits / Spec.SampleRate) + P;
    return static_cast<int>(72.0 * Bits / Spec.SampleRate) + P;
}

double FrameDurationOf(const TFrameSpec& Spec) {
    int Samples = Spec.Layer == 1 ? 384 : (Spec.Layer == 2 || Spec.Version == 1) ? 1152 : 576;
    return static_cast<double>(Samples) / Spec.SampleRate;
}

std::vector<uint8_t> BuildFrame(const TFrameSpec& Spec, uint8_t Seed) {
    std::vector<uint8_t> Frame(static_cast<size_t>(FrameLengthOf(Spec)));
    auto Header = BuildHeader(Spec);
    std::copy(Header.begin(), Header.end(), Frame.begin());
    for (size_t I = 4; I < Frame.size(); ++I)
        Frame[I] = static_cast<uint8_t>((I * 7 + Seed * 13) % 0xF0);
    return Frame;
}

TStreamBuilder& TStreamBuilder::Frames(int Count, const TFrameSpec& Spec) {
    for (int I = 0; I < Count; ++I) {
        auto Frame = BuildFrame(Spec, FSeed++);
        FOffsets.push_back(static_cast<int64_t>(FData.size()));
        FLengths.push_back(static_cast<int>(Frame.size()));
        FData.insert(FData.end(), Frame.begin(), Frame.end());
    }
    return *this;
}

TStreamBuilder& TStreamBuilder::Junk(size_t Count, uint8_t Byte) {
    FData.insert(FData.end(), Count, Byte);
    return *this;
}

TStreamBuilder& TStreamBuilder::Bytes(const std::vector<uint8_t>& Data) {
    FData.insert(FData.end(), Data.begin(), Data.end());
    return *this;
}

TStreamBuilder& TStreamBuilder::Text(const std::string& Data) {
    FData.insert(FData.end(), Data.begin(), Data.end());
    return *this;
}

TStreamBuilder& TStreamBuilder::TruncatedFrame(size_t Keep, const TFrameSpec& Spec) {
    auto Frame = BuildFrame(Spec, FSeed++);
    FData.insert(FData.end(), Frame.begin(), Frame.begin() + static_cast<long>(Keep));
    return *this;
}

TStreamBuilder& TStreamBuilder::ID3v2(uint32_t Size) {
    Text("ID3");
    Bytes({4, 0, 0});
    // Synchsafe size: seven bits a byte.
    Bytes({static_cast<uint8_t>((Size >> 21) & 0x7F), static_cast<uint8_t>((Size >> 14) & 0x7F),
           static_cast<uint8_t>((Size >> 7) & 0x7F), static_cast<uint8_t>(Size & 0x7F)});
    return Junk(Size);
}

TStreamBuilder& TStreamBuilder::ID3v1(const std::string& Title) {
    std::vector<uint8_t> Tag(128, 0);
    Tag[0] = 'T';
    Tag[1] = 'A';
    Tag[2] = 'G';
    for (size_t I = 0; I < Title.size() && I < 30; ++I)
        Tag[3 + I] = static_cast<uint8_t>(Title[I]);
    Tag[127] = 12;
    return Bytes(Tag);
}

std::vector<uint8_t> TStreamBuilder::FrameBytes() const {
    std::vector<uint8_t> Result;
    for (size_t I = 0; I < FOffsets.size(); ++I)
        Result.insert(Result.end(), FData.begin() + FOffsets[I],
                      FData.begin() + FOffsets[I] + FLengths[I]);
    return Result;
}

void TStreamBuilder::WriteTo(const std::string& Path) const {
    WriteFileBytes(Path, FData);
}
