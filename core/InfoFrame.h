#pragma once

// The information frame some encoders put in front of the audio: a frame
// with a valid header whose payload describes the stream instead of holding
// sound. "Xing" (variable bit rate) and "Info" (constant) stand behind the
// Layer III side information, optionally followed by the encoder's extension
// (encoder delay and padding, music length and two CRCs); "VBRI" stands 32
// bytes behind the header. Decoders skip such a frame, so it takes no time
// and is never copied as audio: each output gets a fresh one built for its
// own frames.

#include "MP3Utils.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

enum class TInfoKind { None, Xing, Info, VBRI };

// What the encoder's extension tells a gapless decoder to drop: Delay
// samples in front of the sound (besides the decoder's own 529) and Padding
// behind it (less those 529). Twelve bits each.
struct TTrim {
    int32_t Delay = 0;
    int32_t Padding = 0;
    static constexpr int32_t Max = 4095;
};

// The decoder's own delay in front of the sound of a Layer III stream, which
// gapless decoders drop along with the encoder's delay.
constexpr int32_t DecoderDelaySamples = 529;

struct TInfoFrame {
    TInfoKind Kind = TInfoKind::None;
    // What the frame claims; each field only when its flag is set.
    bool HasFrames = false;
    bool HasBytes = false;
    bool HasToc = false;
    bool HasQuality = false;
    uint32_t Frames = 0; // audio frames, the information frame left out
    uint32_t Bytes = 0;  // the information frame and the audio behind it
    std::array<uint8_t, 100> Toc{};
    uint32_t Quality = 0;
    // The encoder's extension of a Xing/Info frame: 36 bytes as found.
    bool HasExtension = false;
    std::array<uint8_t, 36> Extension{};
    int32_t Delay = 0;   // samples the encoder put in front of the sound
    int32_t Padding = 0; // samples it added behind
    uint32_t MusicLength = 0;
    uint16_t MusicCRC = 0;
    uint16_t TagCRC = 0;
    bool TagCRCValid = false; // TagCRC matches the frame's bytes before it
    // VBRI's delay and quality fields.
    uint16_t VbriDelay = 0;
    uint16_t VbriQuality = 0;
};

// CRC-16 with the polynomial 0x8005, bits reflected, starting from Crc: the
// checksum of the encoder's extension.
// Folds sixteen bytes per carry-less multiplication where the processor has
// one, and looks up a table otherwise (Crc16Portable, everywhere the same).
uint16_t Crc16(const uint8_t* Data, size_t Count, uint16_t Crc = 0);
uint16_t Crc16Portable(const uint8_t* Data, size_t Count, uint16_t Crc = 0);

// Bytes of Layer III side information behind the header.
int32_t SideInfoSize(uint8_t Version, uint8_t ChannelMode);

// True when the whole frame in Frame (Length bytes, header included) is an
// information frame; Info then holds what it says.
bool ParseInfoFrame(const uint8_t* Frame, size_t Length, TInfoFrame& Info);

bool ParseInfoFrame(const uint8_t* Frame, size_t Length);

// A first look, at two places of the frame, for the mark of an information
// frame: "VBRI" 32 bytes behind the header, or "Xing" or "Info" behind a
// Layer III frame's side information. Frame is the frame's Length bytes,
// Header its decoded header. Only ParseInfoFrame tells for sure.
inline bool LooksLikeInfoFrame(const uint8_t* Frame, size_t Length, const TMP3FrameInfo& Header) {
    // Called for every frame of a walk: four-byte words, no call.
    auto Word = [Frame](size_t At) {
        uint32_t Value;
        std::memcpy(&Value, Frame + At, 4);
        return Value;
    };
    auto Mark = [](const char* Text) {
        uint32_t Value;
        std::memcpy(&Value, Text, 4);
        return Value;
    };
    if (Header.Layer == 3) {
        const bool Mono = Header.ChannelMode == 3;
        const size_t At = 4 + (Header.Version == 1 ? (Mono ? 17 : 32) : (Mono ? 9 : 17));
        if (Length >= At + 4 && (Word(At) == Mark("Xing") || Word(At) == Mark("Info")))
            return true;
    }
    constexpr size_t VbriAt = 36;
    return Length >= VbriAt + 4 && Word(VbriAt) == Mark("VBRI");
}

// True when the extension was written by the encoder whose delay the
// pipeline trims (its name starts with "LAME").
bool ExtensionTrimmedByDecoders(const TInfoFrame& Info);
// True when the frame has an extension that names its encoder: gapless
// decoders that trust such a name (some trust any) drop its delay and
// padding, and so does the player.
inline bool ExtensionStatesTrim(const TInfoFrame& Info) {
    return Info.HasExtension && (Info.Kind == TInfoKind::Xing || Info.Kind == TInfoKind::Info);
}

// The samples a gapless player plays of the Total that the audio frames
// decode to, untrimmed: from Start to End, the extension's delay (with the
// decoder's own) and padding dropped when it states them.
struct TPlayedSpan {
    int64_t Start = 0;
    int64_t End = 0;
};
inline TPlayedSpan PlayedSpan(const TInfoFrame& Info, int64_t Total) {
    if (!ExtensionStatesTrim(Info))
        return {0, Total};
    const int64_t Start = std::min<int64_t>(Total, Info.Delay + DecoderDelaySamples);
    return {Start,
            Total - std::clamp<int64_t>(Info.Padding - DecoderDelaySamples, 0, Total - Start)};
}

// Collects what an output's information frame must say about the output's
// own audio frames, and builds the frame: an Info frame for a source that had
// one, otherwise a Xing frame, with the source's extension when it had one.
// A VBRI source gets a Xing frame too: decoders that don't know VBRI play it
// as a frame, and the first frame of an output that starts inside the stream
// would then take the VBRI fields for the bytes it borrows from frames left
// behind, and play them as noise. Source is the source's information frame
// (Kind None when it had none); FirstAudio is the four header bytes of the
// source's first audio frame as they stand in the file (b0 in the low byte),
// whose version, layer, rate and mode the built frame takes.
class TInfoFrameBuilder {
public:
    TInfoFrameBuilder(const TInfoFrame& Source, uint32_t FirstAudio, bool ConstantBitrate);

    // Bytes of the frame Build returns, the same for every output.
    int32_t Length() const { return FLength; }
    // Starts a new output.
    void Reset();
    // Counts one audio frame of the output, in order. A frame InPlace stays
    // readable where it is until Build or Reset: frames lying back to back
    // are then checksummed together, in runs of up to MaxPendingBytes, a
    // pass over each run instead of a call per frame.
    void AddFrame(const uint8_t* Frame, uint32_t Length, bool InPlace = false) {
        // The usual case, kept inline: a frame whose start is not sampled
        // and that needs no checksum or extends the pending run.
        if ((FFrames & (FStride - 1)) != 0 &&
            (!FSource.HasExtension || ExtendsPending(Frame, Length, InPlace))) {
            ++FFrames;
            FAudioBytes += Length;
            if (FSource.HasExtension)
                FPendingLength += Length;
            return;
        }
        AddFrameSlow(Frame, Length, InPlace);
    }
    static constexpr uint32_t MaxPendingBytes = 128 * 1024;
    uint32_t Frames() const { return static_cast<uint32_t>(FFrames); }
    uint64_t AudioBytes() const { return FAudioBytes; }
    // The seek table needs only where a hundred frames start. The builder
    // keeps the start of every Stride()-th frame, at most SampleCapacity of
    // them: when the sample is full, every second start is dropped and the
    // stride doubles. Up to SampleCapacity frames the table is exact; beyond,
    // an entry between two kept starts is interpolated between them.
    static constexpr size_t SampleCapacity = 4096;
    size_t SampleSize() const { return FSample.size(); }
    uint64_t Stride() const { return FStride; }
    // The frame for the output counted so far. The encoder's delay is kept
    // only when the output starts with the source's first audio frame, its
    // padding only when it ends with the last.
    std::vector<uint8_t> Build(bool StartsAtFirst, bool EndsAtLast) const;
    // The same with the extension's delay and padding given; without Trim,
    // the place of the extension is left blank, so that no decoder trims
    // anything on its word.
    std::vector<uint8_t> Build(std::optional<TTrim> Trim) const;

private:
    void AddFrameSlow(const uint8_t* Frame, uint32_t Length, bool InPlace);
    // True when the frame lies in place right behind the pending run, and
    // the run has room for it.
    bool ExtendsPending(const uint8_t* Frame, uint32_t Length, bool InPlace) const {
        return InPlace && FPending != nullptr && Frame == FPending + FPendingLength &&
               Length <= MaxPendingBytes - FPendingLength;
    }
    void WriteXing(uint8_t* Frame, std::optional<TTrim> Trim) const;
    // Where audio frame Index starts: exact when the sample holds it.
    uint64_t StartOf(uint64_t Index) const;

    TInfoFrame FSource;
    uint32_t FHeader = 0; // the built frame's header, b0 in the low byte
    int32_t FLength = 0;
    int32_t FSideInfo = 0;
    // Where every FStride-th audio frame starts, from the first one.
    std::vector<uint64_t> FSample;
    uint64_t FStride = 1;
    uint64_t FFrames = 0;
    uint64_t FAudioBytes = 0;
    uint16_t FMusicCRC = 0; // of the frames before the pending run
    const uint8_t* FPending = nullptr;
    uint32_t FPendingLength = 0;
};
