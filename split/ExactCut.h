#pragma once

// Cutting to the sample. A Layer III frame's sound is not decoded from its
// bytes alone: its main data may begin in the frames before it (the bit
// reservoir, up to 511 bytes back), and the decoder's filter bank carries
// the previous frame's sound into it. An output that is to play from a
// sample inside the source therefore starts with those earlier frames, and
// its information frame's extension tells a gapless decoder how many
// samples to drop in front (the delay) and behind (the padding). Such a
// decoder drops the delay plus its own 529 samples at the start, and the
// padding less those 529 at the end.
//
// Samples are counted on the frames' clock: sample S of the source is the
// S-th sample its audio frames decode to, untrimmed, the information frame
// taking none.

#include "FrameClock.h"
#include "InfoFrame.h"
#include "StreamScan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TFrameWriter;
class TOutputHeader;

class TExactFrames {
public:
    // For the source of Scan, read through Handle (for the frames copied in
    // front of an output). Raises Exception when the frames of a Layer III
    // source differ in length: their samples then can't be counted alike.
    TExactFrames(const TStreamScan& Scan, int Handle, std::string FileName);

    // Whether the source's layer (III) has a bit reservoir and a decoder
    // delay that its extension can state.
    static bool Applies(const TStreamScan& Scan) {
        return Scan.AudioFrames > 0 && Scan.First.Layer == 3;
    }

    // Each audio frame walked, in order, whether it is copied or passed by.
    void Walk(int64_t Offset, int32_t Length) {
        FTrail[static_cast<size_t>(FWalked % TrailSize)] = {Offset, Length};
        ++FWalked;
    }
    // Where the frame walked last starts and ends, in samples.
    int64_t WalkedStart() const { return (FWalked - 1) * FFrameSamples; }
    int64_t WalkedEnd() const { return FWalked * FFrameSamples; }
    // The sample nearest to Ticks on the frames' clock.
    int64_t SampleAt(int64_t Ticks) const {
        return (Ticks + FTicksPerSample / 2) / FTicksPerSample;
    }
    int64_t TicksOf(int64_t Sample) const { return Sample * FTicksPerSample; }
    // What a player plays of the source, on the frames' clock: the source's
    // own delay and padding are not heard when its extension is one that
    // decoders trim. The marks of a cut to the sample count from its start.
    const TClockSpan& Clock() const { return FClock; }
    // The same in samples.
    int64_t PlayedStart() const { return FClock.Origin / FTicksPerSample; }
    int64_t PlayedEnd() const { return FClock.End / FTicksPerSample; }
    // The sample a mark of Ms milliseconds stands for, within those played.
    int64_t MarkSample(int64_t Ms) const {
        return std::clamp(PlayedStart() + SampleAt(MsToTicks(std::max<int64_t>(Ms, 0))),
                          PlayedStart(), PlayedEnd());
    }

    // Starts an output whose first sample Start lies in the frame walked
    // last: writes through Writer and counts in Header the frames its sound
    // is decoded from, which go in front of it. Header then gets the delay
    // that drops the samples before Start.
    void Begin(TFrameWriter& Writer, TOutputHeader& Header, int64_t Start);
    // Ends the output under way: FramesEnd is the sample behind its last
    // frame, End the one behind the last sample it is to play. Header gets
    // the padding that drops the samples between them.
    void End(TOutputHeader& Header, int64_t End, int64_t FramesEnd) const;

    // How many frames before a frame the decoder must have decoded for its
    // sound to come out right: the filter bank carries two granules (1152
    // samples) of sound into it.
    static int32_t DecodedBefore(int64_t FrameSamples);
    // How many frames in front of a frame its decoding needs, Before holding
    // the frames before it, the nearest first: the Decoded frames right
    // before, and those the earliest of them takes its main data from.
    static int32_t FramesNeeded(const std::vector<const uint8_t*>& Before, int32_t Decoded);
    // The bytes that the earliest of the Decoded frames in Before takes from
    // the frames before it, in order.
    static std::vector<uint8_t> ReservoirFor(const std::vector<const uint8_t*>& Before,
                                             int32_t Decoded);
    // A frame of digital silence with the header of First (b0 in the low
    // byte), which decoders play as zeros and which leaves their state as
    // it was at the start of the stream; Reservoir at its end, for the
    // frame behind it to take its main data from. Empty when no bit rate
    // makes a frame that holds it.
    static std::vector<uint8_t> SilentFrame(uint32_t First, const std::vector<uint8_t>& Reservoir);

private:
    static constexpr int64_t TrailSize = 16;
    struct TSpan {
        int64_t Offset = 0;
        int32_t Length = 0;
    };

    uint32_t FFirstHeader;
    int FHandle;
    std::string FFileName;
    int64_t FFrameSamples;
    int64_t FTicksPerSample;
    TClockSpan FClock;
    std::array<TSpan, TrailSize> FTrail{};
    int64_t FWalked = 0;
    // Where the output under way starts: its first frame, lead-in
    // included, and the delay in front of its first sample.
    int32_t FDelay = 0;
};
