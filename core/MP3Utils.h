#pragma once

#include <cstdint>

// A decoded MPEG audio frame header.
struct TMP3FrameInfo {
    uint8_t Version;     // 1 = MPEG-1, 2 = MPEG-2, 3 = MPEG-2.5
    uint8_t Layer;       // 1, 2, 3 = Layer I, II, III
    int32_t SampleRate;  // samples per second
    int32_t Bitrate;     // bits per second
    uint8_t ChannelMode; // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int32_t FrameLength; // bytes of the whole frame, header included
    double Duration;     // seconds of audio in the frame
};

// The largest frame DecodeFrameHeader accepts (MPEG-2.5 Layer II, 160 kbit/s,
// 8000 Hz, padded).
constexpr int32_t MaxFrameLength = 2881;

// Decodes the four header bytes as they stand in the file (b0 in the low
// byte of Header). True when they form a valid header; Info is then filled.
// A pure function: the frame reader calls it at every byte it tries.
bool DecodeFrameHeader(uint32_t Header, TMP3FrameInfo& Info);

// How many of the Count bytes at Data are whole frames, walking from a frame
// that starts at Data by each header's length: where a failed write must
// cut an output of frames back to so that it never ends inside one.
uint32_t WholeFramesLength(const uint8_t* Data, uint32_t Count);
