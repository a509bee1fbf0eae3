#pragma once

#include <array>
#include <cstdint>

// A decoded MPEG audio frame header.
struct TMP3FrameInfo {
    uint8_t Version;     // 1 = MPEG-1, 2 = MPEG-2, 3 = MPEG-2.5
    uint8_t Layer;       // 1, 2, 3 = Layer I, II, III
    int32_t SampleRate;  // samples per second
    int32_t Bitrate;     // bits per second
    uint8_t ChannelMode; // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int32_t FrameLength; // bytes of the whole frame, header included
    int32_t Ticks;       // its play time on the frames' clock (FrameClock.h)
    double Duration;     // seconds of audio in the frame
};

// The largest frame DecodeFrameHeader accepts (MPEG-2.5 Layer II, 160 kbit/s,
// 8000 Hz, padded).
constexpr int32_t MaxFrameLength = 2881;

// What DecodeFrameHeader looks up, one entry per b1 version and layer bits
// and b2; in the header so that the walks over the frames decode inline.
namespace MP3HeaderTable {
struct TDecodedFields {
    bool Valid;
    TMP3FrameInfo Info;
};
constexpr uint32_t Entries = 16 * 256;
extern const std::array<TDecodedFields, Entries> FieldTable;
} // namespace MP3HeaderTable

// The four header bytes at Bytes as they stand in the file, b0 in the low
// byte: what DecodeFrameHeader takes.
inline uint32_t FrameHeaderAt(const uint8_t* Bytes) {
    return static_cast<uint32_t>(Bytes[0]) | static_cast<uint32_t>(Bytes[1]) << 8 |
           static_cast<uint32_t>(Bytes[2]) << 16 | static_cast<uint32_t>(Bytes[3]) << 24;
}

// Decodes the four header bytes as they stand in the file (b0 in the low
// byte of Header). True when they form a valid header; Info is then filled.
// A pure function: the frame reader calls it at every byte it tries.
inline bool DecodeFrameHeader(uint32_t Header, TMP3FrameInfo& Info) {
    const uint32_t B0 = Header & 0xFF;
    const uint32_t B1 = (Header >> 8) & 0xFF;
    const uint32_t B2 = (Header >> 16) & 0xFF;
    const uint32_t B3 = (Header >> 24) & 0xFF;
    // Sync: b0 0xFF and the top three bits of b1.
    if (B0 != 0xFF || (B1 & 0xE0) != 0xE0)
        return false;
    const auto& Entry = MP3HeaderTable::FieldTable[((B1 >> 1) & 0x0F) << 8 | B2];
    if (!Entry.Valid)
        return false;
    Info = Entry.Info;
    Info.ChannelMode = static_cast<uint8_t>((B3 >> 6) & 0x03);
    return true;
}

// How many of the Count bytes at Data are whole frames, walking from a frame
// that starts at Data by each header's length: where a failed write must
// cut an output of frames back to so that it never ends inside one.
uint32_t WholeFramesLength(const uint8_t* Data, uint32_t Count);
