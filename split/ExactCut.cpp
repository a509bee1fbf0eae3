#include "ExactCut.h"

#include "Errors.h"
#include "FileBufs.h"
#include "FrameClock.h"
#include "FrameWriter.h"
#include "OutputHeader.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

bool HasCrc(const uint8_t* Frame) {
    return (Frame[1] & 0x01) == 0;
}

// Where the frame's main data begins, in bytes before the end of its side
// information: 9 bits for MPEG-1, 8 for the others.
int32_t MainDataBegin(const uint8_t* Frame, const TMP3FrameInfo& Header) {
    const uint8_t* Side = Frame + 4 + (HasCrc(Frame) ? 2 : 0);
    return Header.Version == 1 ? (Side[0] << 1 | Side[1] >> 7) : Side[0];
}

// The bytes behind the header and side information of a frame without a
// CRC: the room its own main data and later frames' take.
int32_t MainDataRoom(const TMP3FrameInfo& Header) {
    return Header.FrameLength - 4 - SideInfoSize(Header.Version, Header.ChannelMode);
}

int32_t DataBytes(const uint8_t* Frame, const TMP3FrameInfo& Header) {
    return MainDataRoom(Header) - (HasCrc(Frame) ? 2 : 0);
}

bool HeaderOf(const uint8_t* Frame, TMP3FrameInfo& Header) {
    return DecodeFrameHeader(FrameHeaderAt(Frame), Header) && Header.Layer == 3;
}

} // namespace

TExactFrames::TExactFrames(const TStreamScan& Scan, int Handle, std::string FileName)
    : FFirstHeader(Scan.FirstHeader), FHandle(Handle), FFileName(std::move(FileName)),
      FFrameSamples(SamplesPerFrame(Scan.First.Version, Scan.First.Layer)),
      FTicksPerSample(TicksPerSecond / std::max(Scan.First.SampleRate, 1)) {
    if (Scan.FrameTicksVary)
        throw Exception("Cannot cut " + FFileName +
                        " to the sample: its sample rate changes between frames.");
    FClock = PlayedClockSpan(Scan);
}

int32_t TExactFrames::DecodedBefore(int64_t FrameSamples) {
    // The filter bank carries two granules (1152 samples) of sound into a
    // frame: one frame of MPEG-1, two of MPEG-2 and 2.5.
    return static_cast<int32_t>(std::max<int64_t>(1, 1152 / FrameSamples));
}

int32_t TExactFrames::FramesNeeded(const std::vector<const uint8_t*>& Before, int32_t Decoded) {
    const auto Count = static_cast<int32_t>(Before.size());
    if (Count <= Decoded)
        return Count;
    TMP3FrameInfo Header;
    if (!HeaderOf(Before[static_cast<size_t>(Decoded - 1)], Header))
        return Decoded;
    int32_t Needed = MainDataBegin(Before[static_cast<size_t>(Decoded - 1)], Header);
    int32_t Frames = Decoded;
    while (Needed > 0 && Frames < Count && HeaderOf(Before[static_cast<size_t>(Frames)], Header)) {
        Needed -= DataBytes(Before[static_cast<size_t>(Frames)], Header);
        ++Frames;
    }
    return Frames;
}

std::vector<uint8_t> TExactFrames::ReservoirFor(const std::vector<const uint8_t*>& Before,
                                                int32_t Decoded) {
    TMP3FrameInfo Header;
    if (static_cast<int32_t>(Before.size()) <= Decoded ||
        !HeaderOf(Before[static_cast<size_t>(Decoded - 1)], Header))
        return {};
    const auto Needed =
        static_cast<size_t>(MainDataBegin(Before[static_cast<size_t>(Decoded - 1)], Header));
    std::vector<uint8_t> Bytes;
    for (size_t K = static_cast<size_t>(Decoded); K < Before.size() && Bytes.size() < Needed; ++K) {
        if (!HeaderOf(Before[K], Header))
            break;
        const int32_t Data = DataBytes(Before[K], Header);
        if (Data <= 0)
            continue;
        const uint8_t* End = Before[K] + Header.FrameLength;
        const size_t Take = std::min(Needed - Bytes.size(), static_cast<size_t>(Data));
        Bytes.insert(Bytes.begin(), End - Take, End);
    }
    // Bytes the source no longer has in front stay zero.
    Bytes.insert(Bytes.begin(), Needed - Bytes.size(), 0);
    return Bytes;
}

std::vector<uint8_t> TExactFrames::SilentFrame(uint32_t First,
                                               const std::vector<uint8_t>& Reservoir) {
    // No CRC, no padding, the mode extension cleared; the first frame's bit
    // rate when its frames hold the reservoir, else the lowest that does.
    uint32_t Header = First | 0x0100;
    Header &= ~(0x02u << 16);
    Header &= ~(0x30u << 24);
    auto WithRate = [&](uint32_t Index) { return (Header & ~(0x0Fu << 20)) | Index << 20; };
    auto Holds = [&](uint32_t Candidate, TMP3FrameInfo& Info) {
        return DecodeFrameHeader(Candidate, Info) &&
               MainDataRoom(Info) >= static_cast<int32_t>(Reservoir.size());
    };
    TMP3FrameInfo Info;
    if ((Header >> 20 & 0x0F) == 0 || !Holds(Header, Info)) {
        uint32_t Index = 1;
        while (Index < 15 && !Holds(WithRate(Index), Info))
            ++Index;
        if (Index == 15)
            return {};
        Header = WithRate(Index);
    }
    // All-zero side information: main data from its own bytes, of no
    // length, so no spectral value; the reservoir's bytes at its end for
    // the frame behind it.
    std::vector<uint8_t> Frame(static_cast<size_t>(Info.FrameLength), 0);
    for (int I = 0; I < 4; ++I)
        Frame[static_cast<size_t>(I)] = static_cast<uint8_t>(Header >> (8 * I));
    std::copy(Reservoir.begin(), Reservoir.end(),
              Frame.end() - static_cast<ptrdiff_t>(Reservoir.size()));
    return Frame;
}

void TExactFrames::Begin(TFrameWriter& Writer, TOutputHeader& Header, int64_t Start) {
    const int64_t Index = FWalked - 1;
    // The frames before the one holding the start, as far as the trail
    // reaches, read back from the source.
    const auto Kept = static_cast<int32_t>(std::min<int64_t>(Index, TrailSize - 1));
    std::vector<std::vector<uint8_t>> Frames(static_cast<size_t>(Kept));
    std::vector<const uint8_t*> Before;
    for (int32_t K = 0; K < Kept; ++K) {
        const TSpan& Span = FTrail[static_cast<size_t>((Index - 1 - K) % TrailSize)];
        std::vector<uint8_t>& Frame = Frames[static_cast<size_t>(K)];
        Frame.resize(static_cast<size_t>(Span.Length));
        ReadExactlyAt(FHandle, Frame.data(), static_cast<uint32_t>(Span.Length), Span.Offset,
                      FFileName);
        Before.push_back(Frame.data());
    }
    const int32_t Decoded = std::min(DecodedBefore(FFrameSamples), Kept);
    int32_t Lead = FramesNeeded(Before, Decoded);
    // The samples in front of the start must fit the delay's twelve bits.
    auto DelayWith = [&](int64_t Frames) {
        return Start - (Index - Frames) * FFrameSamples - DecoderDelaySamples;
    };
    std::vector<uint8_t> Silence;
    if (DelayWith(Lead) > TTrim::Max) {
        // The reservoir reaches too far back: a frame of silence carries the
        // bytes that the first frame decoded takes from the frames before.
        Lead = Decoded;
        Silence = SilentFrame(FFirstHeader, ReservoirFor(Before, Decoded));
    } else if (DelayWith(Lead) < 0 && Index == Lead) {
        // A start within the decoder's own delay at the head of the stream:
        // a frame of silence in front makes room to drop.
        Silence = SilentFrame(FFirstHeader, {});
    }
    if (!Silence.empty()) {
        Writer.Write(Silence.data(), static_cast<uint32_t>(Silence.size()));
        Header.Add(Silence.data(), static_cast<uint32_t>(Silence.size()), -1);
    }
    FDelay = static_cast<int32_t>(
        std::clamp<int64_t>(DelayWith(Lead + (Silence.empty() ? 0 : 1)), 0, TTrim::Max));
    for (int32_t K = Lead - 1; K >= 0; --K) {
        const std::vector<uint8_t>& Frame = Frames[static_cast<size_t>(K)];
        Writer.Write(Frame.data(), static_cast<uint32_t>(Frame.size()));
        Header.Add(Frame.data(), static_cast<uint32_t>(Frame.size()),
                   FTrail[static_cast<size_t>((Index - 1 - K) % TrailSize)].Offset);
    }
    Header.SetTrim({FDelay, DecoderDelaySamples});
}

void TExactFrames::End(TOutputHeader& Header, int64_t End, int64_t FramesEnd) const {
    const int64_t Behind = std::max<int64_t>(0, FramesEnd - End);
    Header.SetTrim({FDelay, static_cast<int32_t>(
                                std::min<int64_t>(Behind + DecoderDelaySamples, TTrim::Max))});
}
