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
    "no audio: it counts in neither, nor do tags, wherever they lie. A file that\n"
    "is mostly not MPEG audio frames is refused (exit status 1).\n\n"
    "  --frames  print one line per whole frame instead, information frames\n"
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
void PrintInfoFrame(const TStreamScan& Scan) {
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
        Claim("music CRC " + Hex(Info.MusicCRC), Info.MusicCRC == Scan.MusicCRC,
              Hex(Scan.MusicCRC));
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
    // One walk tells everything; the audio bytes are read only when the
    // information frame has a music CRC to check them against.
    const TStreamScan Scan = ScanStream(Reader, !ListFrames);
    RefuseUnlessAudio(Scan, FileName);
    if (ListFrames) {
        // The frames a cutter would copy (found, and whole), and the
        // information frames it would not.
        Reader.Rewind();
        while (Reader.FindNextFrame(0) && Reader.FrameComplete())
            std::printf("%lld\t%d\n", static_cast<long long>(Reader.Position()),
                        Reader.FrameLength());
        return ExitOk;
    }
    Reader.Close();

    std::printf("File: %s\n", EscapeControls(FileName, TTextKind::Name).c_str());
    std::printf("Size: %lld bytes\n", static_cast<long long>(Scan.FileSize));
    if (Scan.FirstFrameOffset >= 0) {
        const TMP3FrameInfo& First = Scan.FirstFrame;
        std::printf("First frame offset: %lld\n", static_cast<long long>(Scan.FirstFrameOffset));
        std::printf("Version: %s\n", VersionName(First.Version));
        std::printf("Layer: %s\n", LayerName(First.Layer));
        std::printf("Bit rate: %d kbit/s\n", First.Bitrate / 1000);
        std::printf("Sample rate: %d Hz\n", First.SampleRate);
        std::printf("Channel mode: %s\n", ChannelModeName(First.ChannelMode));
    } else {
        std::printf("First frame offset: none (no frame found)\n");
    }
    PrintInfoFrame(Scan);
    std::printf("Frames: %lld\n", static_cast<long long>(Scan.AudioFrames));
    std::printf("Play time: %.3f s\n", TicksToSeconds(Scan.Ticks));
    return ExitOk;
}
