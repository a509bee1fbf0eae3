#include "StreamScan.h"

#include "FrameClock.h"

#include <vector>

namespace {

uint32_t HeaderOf(const uint8_t* Frame) {
    return static_cast<uint32_t>(Frame[0]) | static_cast<uint32_t>(Frame[1]) << 8 |
           static_cast<uint32_t>(Frame[2]) << 16 | static_cast<uint32_t>(Frame[3]) << 24;
}

} // namespace

bool TStreamScan::MostlyUnframed() const {
    // What is not frames at either end is allowed for: tags in front and
    // behind. Half of what lies between must be frames.
    const int64_t Span = AudioStart >= 0 ? FileSize - AudioStart : FileSize;
    return AudioFrames == 0 || AudioBytes * 2 < Span - 128;
}

TStreamScan ScanStream(TMP3Reader& Reader, bool WithMusicCRC) {
    TStreamScan Scan;
    Scan.FileSize = Reader.FileSize();
    std::vector<uint8_t> Frame(MaxFrameLength);
    bool First = true;
    while (Reader.FindNextFrame(0)) {
        const int64_t At = Reader.Position();
        const int32_t Length = Reader.FrameLength();
        if (At + Length > Scan.FileSize)
            break;
        if (First || Scan.AudioFrames == 0) {
            // The header bytes of the first audio frame, and the whole first
            // frame to tell whether it is an information frame.
            if (!Reader.ReadFrame(Frame.data()))
                break;
            if (First) {
                Scan.FirstFrameOffset = At;
                DecodeFrameHeader(HeaderOf(Frame.data()), Scan.FirstFrame);
            }
            if (First && ParseInfoFrame(Frame.data(), static_cast<size_t>(Length), Scan.Info)) {
                Scan.InfoOffset = At;
                Scan.InfoLength = Length;
                First = false;
                continue;
            }
            Scan.FirstHeader = HeaderOf(Frame.data());
            DecodeFrameHeader(Scan.FirstHeader, Scan.First);
            Scan.AudioStart = At;
            Scan.HasMusicCRC = WithMusicCRC && Scan.Info.HasExtension;
        }
        if (Scan.HasMusicCRC) {
            // In place from the mapping; a source shrunk under it fails
            // the read rather than giving the zeros laid over the gone pages.
            const TSourceMap& Map = Reader.Map();
            const uint8_t* Bytes = Frame.data();
            if (Map.Mapped())
                Bytes = Map.Data() + At;
            else if (Scan.AudioFrames > 0 && !Reader.ReadFrame(Frame.data()))
                break;
            Scan.MusicCRC = Crc16(Bytes, static_cast<size_t>(Length), Scan.MusicCRC);
            if (Map.Mapped() && Map.Faulted())
                Map.RaiseShrunk();
        }
        First = false;
        if (Reader.Bitrate() != Scan.First.Bitrate)
            Scan.BitrateVaries = true;
        ++Scan.AudioFrames;
        Scan.AudioBytes += Length;
        Scan.LastAudio = At;
        Scan.AudioEnd = At + Length;
        Scan.Ticks += FrameTicks(Reader.Version(), Reader.Layer(), Reader.SampleRate());
    }
    return Scan;
}

TStreamScan ScanStream(const std::string& FileName) {
    TMP3Reader Reader;
    Reader.Open(FileName);
    return ScanStream(Reader);
}
