#pragma once

// The frames' clock: play time counted exactly, in ticks of 1/14,112,000 s.
// That rate is the least common multiple of every MPEG audio sample rate, so
// each frame lasts a whole number of ticks and no sum of frames ever rounds.
// A frame that ends exactly on a mark ends on it, whatever came before.

#include <cstdint>

constexpr int64_t TicksPerSecond = 14'112'000;

// Samples in one frame of the given version (1, 2, 3 = MPEG-1, 2, 2.5) and
// layer.
constexpr int32_t SamplesPerFrame(uint8_t Version, uint8_t Layer) {
    if (Layer == 1)
        return 384;
    if (Layer == 2 || Version == 1)
        return 1152;
    return 576;
}

constexpr int64_t SamplesToTicks(int64_t Samples, int32_t SampleRate) {
    return SampleRate > 0 ? Samples * (TicksPerSecond / SampleRate) : 0;
}

constexpr int64_t FrameTicks(uint8_t Version, uint8_t Layer, int32_t SampleRate) {
    return SamplesToTicks(SamplesPerFrame(Version, Layer), SampleRate);
}

// A mark in tenths of a second.
constexpr int64_t TenthsToTicks(int64_t Tenths) {
    return Tenths * (TicksPerSecond / 10);
}

// Reference time (100 ns units) is 625/882 of a tick count; rounded to the
// nearest unit.
constexpr int64_t TicksToRefTime(int64_t Ticks) {
    return Ticks >= 0 ? (Ticks * 625 + 441) / 882 : -((-Ticks * 625 + 441) / 882);
}

constexpr int64_t RefTimeToTicks(int64_t RefTime) {
    return RefTime >= 0 ? (RefTime * 882 + 312) / 625 : -((-RefTime * 882 + 312) / 625);
}

// A mark in milliseconds.
constexpr int64_t MsToTicks(int64_t Ms) {
    return Ms * (TicksPerSecond / 1000);
}

// Half a millisecond: how far a mark in whole milliseconds may lie from
// the frame boundary it stands for.
constexpr int64_t HalfMsTicks = TicksPerSecond / 2000;

// The frame boundary nearest to Ticks, for frames of FrameTicks from 0;
// Ticks itself when the frames' length is unknown.
constexpr int64_t NearestFrameBoundary(int64_t Ticks, int64_t FrameTicks) {
    if (FrameTicks <= 0)
        return Ticks;
    const int64_t Below = Ticks >= 0 ? Ticks / FrameTicks * FrameTicks : 0;
    return Ticks - Below >= FrameTicks - (Ticks - Below) ? Below + FrameTicks : Below;
}

// Whole milliseconds, rounded to the nearest (halves up).
constexpr int64_t TicksToNearestMs(int64_t Ticks) {
    return Ticks >= 0 ? (Ticks + HalfMsTicks) / (TicksPerSecond / 1000)
                      : -((-Ticks + HalfMsTicks) / (TicksPerSecond / 1000));
}

// A mark in milliseconds moved onto the nearest frame boundary, in whole
// milliseconds again: within half a millisecond of the boundary.
constexpr int64_t SnapMsToFrame(int64_t Ms, int64_t FrameTicks) {
    return TicksToNearestMs(NearestFrameBoundary(MsToTicks(Ms), FrameTicks));
}

// Whole milliseconds, truncated.
constexpr int64_t TicksToMs(int64_t Ticks) {
    return Ticks * 1000 / TicksPerSecond;
}

constexpr double TicksToSeconds(int64_t Ticks) {
    return static_cast<double>(Ticks) / TicksPerSecond;
}
