#pragma once

// One walk over a file's frames that tells what the jobs, the player and the
// info command need to know before they start: whether the first frame is
// an information frame, where the audio frames begin and end, how long they
// play on the frames' clock, and whether their bit rate varies.

#include "InfoFrame.h"
#include "MP3Read.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

struct TStreamScan {
    // The information frame, when the first frame the reader finds is one.
    TInfoFrame Info;
    int64_t InfoOffset = -1;
    int32_t InfoLength = 0;
    // The audio frames: whole frames, the information frame left out.
    int64_t AudioFrames = 0;
    int64_t AudioBytes = 0;   // their bytes, without what lies between them
    int64_t AudioStart = -1;  // offset of the first
    int64_t AudioEnd = -1;    // just behind the last
    int64_t LastAudio = -1;   // offset of the last
    int64_t Ticks = 0;        // their play time on the frames' clock
    uint32_t FirstHeader = 0; // the first's header bytes, b0 in the low byte
    TMP3FrameInfo First{};
    bool BitrateVaries = false;
    // Whether the audio frames differ in play time (the sample rate or the
    // layer changes), and where on the frames' clock the first walk met the
    // first such frame (-1: not met, or met only by the second half's walk).
    bool FrameTicksVary = false;
    int64_t FrameTicksChangeAt = -1;
    int64_t FileSize = 0;
    // Every information frame's offset, in order: the first frame's and any
    // met between audio frames (files joined).
    std::vector<int64_t> InfoFrames;
    // Where the tags at the end of the file begin.
    int64_t AudioLimit = 0;
    // Bytes of the tags crossed between the audio frames (files joined).
    int64_t TagBytes = 0;
    // The first whole frame found, the information frame when there is one.
    int64_t FirstFrameOffset = -1;
    TMP3FrameInfo FirstFrame{};
    // The CRC of the audio frames' bytes, as the encoder's extension keeps
    // it; only when asked for and the information frame has an extension.
    bool HasMusicCRC = false;
    uint16_t MusicCRC = 0;

    bool HasInfoFrame() const { return Info.Kind != TInfoKind::None; }
    // Outputs get a fresh information frame when the source had one, or
    // when the bit rate of its Layer III frames varies: players would
    // otherwise guess the length from the first frame's rate.
    // Only Layer III has one: any other decoder would play it as a frame.
    bool OutputsNeedInfoFrame() const {
        return AudioFrames > 0 && First.Layer == 3 && (HasInfoFrame() || BitrateVaries);
    }
    // Too little of the file is frames to take them for its audio: a
    // free-format stream, whose frames the reader cannot find, leaves only
    // stray matches.
    bool MostlyUnframed() const;
};

// Walks the open reader from the start to the end of the file; the reader is
// left at the end. Errors of the reader pass to the caller. The reader's
// search check is also asked every SearchCheckBytes of the walk: when it
// says stop, the scan ends there, incomplete.
// Information frames are no audio: the first frame's is kept in Info, and
// any other (files joined) is passed over. WithMusicCRC
// also reads every audio frame's bytes for MusicCRC, when the information
// frame has an extension to compare it with.
//
// A mapped file of ScanInHalvesMinSize or more is walked without the CRC in
// two halves at once where the process may use a second processor, as
// ScanStreamInHalves does from its middle on.
TStreamScan ScanStream(TMP3Reader& Reader, bool WithMusicCRC = false);
constexpr int64_t ScanInHalvesMinSize = 32 * 1024 * 1024;
// The same scan as ScanStream without the CRC, but when the reader is
// mapped, a second thread walks the frames from SecondFrom on while the
// calling thread walks up to there. The calling thread's walk hands over
// where it meets a frame the second walk took too: from a frame on, the
// frames that follow depend on the bytes alone. When it meets none, it
// walks on alone. The reader's search check is asked on the calling thread
// only, also for the stretches the second walk searched; an error of the
// second walk is raised there too.
TStreamScan ScanStreamInHalves(TMP3Reader& Reader, int64_t SecondFrom);
TStreamScan ScanStream(const std::string& FileName);

// Tells a job walking the frames in order whether the frame at an offset is
// one of the scan's information frames, at the cost of a comparison: the
// walk need not look into the frame's bytes again.
class TInfoFrameSkip {
public:
    explicit TInfoFrameSkip(const TStreamScan& Scan) : FOffsets(Scan.InfoFrames) {}
    bool operator()(int64_t At) {
        while (FNext < FOffsets.size() && FOffsets[FNext] < At)
            ++FNext;
        return FNext < FOffsets.size() && FOffsets[FNext] == At;
    }

private:
    const std::vector<int64_t>& FOffsets;
    size_t FNext = 0;
};

// Where the clock of a cut to the sample runs on the frames' clock, in
// ticks: the times of such a cut count from the first sample a gapless
// player plays of a Layer III source (its extension's delay dropped) and
// end at the last (its padding dropped). Other sources are cut at whole
// frames, on the frames' clock itself: their span is the whole of it.
struct TClockSpan {
    int64_t Origin = 0;
    int64_t End = 0;

    // The frames' clock itself, without end: every time as it stands.
    static constexpr TClockSpan Frames() { return {0, std::numeric_limits<int64_t>::max()}; }

    // A time on the frames' clock as this clock counts it, within its span.
    int64_t Of(int64_t Ticks) const {
        return std::clamp(Ticks, Origin, std::max(Origin, End)) - Origin;
    }
};
TClockSpan PlayedClockSpan(const TStreamScan& Scan);

// Raises "Not an MPEG audio file" naming FileName when the scan found too
// little of it to be frames (MostlyUnframed): whatever opens a source for
// playing or cutting refuses it so.
void RefuseUnlessAudio(const TStreamScan& Scan, const std::string& FileName);
