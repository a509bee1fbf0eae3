#include "CliSupport.h"
#include "Commands.h"
#include "FrameClock.h"
#include "MP3Read.h"
#include "StreamScan.h"

#include <cstdio>
#include <string>
#include <vector>

const char* const InfoUsage =
    "Usage: segmora-cli info [--frames] FILE\n"
    "Shows the first frame's offset, version, layer, bit rate, sample rate and\n"
    "channel mode; the information frame (Xing, Info or VBRI) when the first\n"
    "frame is one, what it claims and whether that matches the frames; the number\n"
    "of audio frames and their play time in seconds. The information frame is\n"
    "no audio: it counts in neither.\n\n"
    "  --frames  print one line per whole frame instead, the information frame\n"
    "            included: its offset and its length in bytes, separated by a tab\n";

namespace {

const char* VersionName(uint8_t Version) {
    switch (Version) {
    case 1:
        return "MPEG-1";
    case 2:
        return "MPEG-2";
    default:
        return "MPEG-2.5";
    }
}

const char* LayerName(uint8_t Layer) {
    static const char* const Names[] = {"?", "I", "II", "III"};
    return Names[Layer & 3];
}

const char* ChannelModeName(uint8_t Mode) {
    static const char* const Names[] = {"stereo", "joint stereo", "dual channel", "single channel"};
    return Names[Mode & 3];
}

const char* KindName(TInfoKind Kind) {
    switch (Kind) {
    case TInfoKind::Xing:
        return "Xing";
    case TInfoKind::Info:
        return "Info";
    case TInfoKind::VBRI:
        return "VBRI";
    default:
        return "none";
    }
}

// What the information frame claims, and each claim that the frames belie.
void PrintInfoFrame(const TStreamScan& Scan, uint16_t MusicCRC) {
    const TInfoFrame& Info = Scan.Info;
    if (!Scan.HasInfoFrame()) {
        std::printf("Information frame: none\n");
        return;
    }
    std::printf("Information frame: %s, %d bytes at %lld\n", KindName(Info.Kind), Scan.InfoLength,
                static_cast<long long>(Scan.InfoOffset));
    std::string Claims;
    std::string Wrong;
    auto Claim = [&](const std::string& What, bool Holds, const std::string& Truth) {
        Claims += (Claims.empty() ? "" : ", ") + What;
        if (!Holds)
            Wrong += (Wrong.empty() ? "" : "; ") + What + " claimed, " + Truth + " found";
    };
    if (Info.HasFrames)
        Claim(std::to_string(Info.Frames) + " frames", Info.Frames == Scan.AudioFrames,
              std::to_string(Scan.AudioFrames));
    // Counted from the information frame to the end of the last frame.
    const int64_t Bytes = Scan.AudioFrames > 0 ? Scan.AudioEnd - Scan.InfoOffset : Scan.InfoLength;
    if (Info.HasBytes)
        Claim(std::to_string(Info.Bytes) + " bytes", Info.Bytes == Bytes, std::to_string(Bytes));
    if (Info.HasToc)
        Claims += ", seek table";
    if (Info.HasExtension) {
        const std::string Encoder(reinterpret_cast<const char*>(Info.Extension.data()), 9);
        Claims += ", encoder \"" + Encoder.substr(0, Encoder.find('\0')) + "\" delay " +
                  std::to_string(Info.Delay) + " padding " + std::to_string(Info.Padding);
        Claim("music length " + std::to_string(Info.MusicLength), Info.MusicLength == Bytes,
              std::to_string(Bytes));
        auto Hex = [](uint16_t Value) {
            char Text[8];
            std::snprintf(Text, sizeof Text, "%04X", Value);
            return std::string(Text);
        };
        Claim("music CRC " + Hex(Info.MusicCRC), Info.MusicCRC == MusicCRC, Hex(MusicCRC));
        if (!Info.TagCRCValid)
            Wrong += std::string(Wrong.empty() ? "" : "; ") + "its own CRC does not verify";
    }
    std::printf("  claims: %s\n", Claims.empty() ? "nothing" : Claims.c_str());
    std::printf("  matches the frames: %s\n", Wrong.empty() ? "yes" : ("no: " + Wrong).c_str());
}

} // namespace

int RunInfo(const std::vector<std::string>& Args) {
    TCommandArgs Parsed(Args, {"--frames"}, {});
    const std::string FileName = Parsed.ExpectPositional(1)[0];
    const bool ListFrames = Parsed.Has("--frames");

    TMP3Reader Reader;
    Reader.Open(FileName);
    const TStreamScan Scan = ScanStream(Reader);
    Reader.Open(FileName);
    std::vector<uint8_t> Frame(MaxFrameLength);
    uint16_t MusicCRC = 0;
    bool HaveFirst = false;
    int64_t FirstOffset = 0;
    uint8_t Version = 0, Layer = 0, ChannelMode = 0;
    int32_t Bitrate = 0, SampleRate = 0;

    // The frames a cutter would copy: found, and read whole.
    while (Reader.FindNextFrame(0)) {
        if (static_cast<size_t>(Reader.FrameLength()) > Frame.size())
            Frame.resize(static_cast<size_t>(Reader.FrameLength()));
        if (!Reader.ReadFrame(Frame.data()))
            break;
        if (!HaveFirst) {
            HaveFirst = true;
            FirstOffset = Reader.Position();
            Version = Reader.Version();
            Layer = Reader.Layer();
            Bitrate = Reader.Bitrate();
            SampleRate = Reader.SampleRate();
            ChannelMode = Reader.ChannelMode();
        }
        if (!IsInfoFrameAt(Scan, Reader.Position()))
            MusicCRC = Crc16(Frame.data(), static_cast<size_t>(Reader.FrameLength()), MusicCRC);
        if (ListFrames)
            std::printf("%lld\t%d\n", static_cast<long long>(Reader.Position()),
                        Reader.FrameLength());
    }
    Reader.Close();
    if (ListFrames)
        return ExitOk;

    std::printf("File: %s\n", FileName.c_str());
    std::printf("Size: %lld bytes\n", static_cast<long long>(Reader.FileSize()));
    if (HaveFirst) {
        std::printf("First frame offset: %lld\n", static_cast<long long>(FirstOffset));
        std::printf("Version: %s\n", VersionName(Version));
        std::printf("Layer: %s\n", LayerName(Layer));
        std::printf("Bit rate: %d kbit/s\n", Bitrate / 1000);
        std::printf("Sample rate: %d Hz\n", SampleRate);
        std::printf("Channel mode: %s\n", ChannelModeName(ChannelMode));
    } else {
        std::printf("First frame offset: none (no frame found)\n");
    }
    PrintInfoFrame(Scan, MusicCRC);
    std::printf("Frames: %lld\n", static_cast<long long>(Scan.AudioFrames));
    std::printf("Play time: %.3f s\n", TicksToSeconds(Scan.Ticks));
    return ExitOk;
}
