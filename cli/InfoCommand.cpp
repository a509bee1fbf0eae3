#include "CliSupport.h"
#include "Commands.h"
#include "MP3Read.h"

#include <cstdio>
#include <vector>

const char* const InfoUsage =
    "Usage: segmora-cli info [--frames] FILE\n"
    "Shows the first frame's offset, version, layer, bit rate, sample rate and\n"
    "channel mode, the number of frames and the total play time in seconds.\n\n"
    "  --frames  print one line per whole frame instead: its offset and its\n"
    "            length in bytes, separated by a tab\n";

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

} // namespace

int RunInfo(const std::vector<std::string>& Args) {
    TCommandArgs Parsed(Args, {"--frames"}, {});
    const std::string FileName = Parsed.ExpectPositional(1)[0];
    const bool ListFrames = Parsed.Has("--frames");

    TMP3Reader Reader;
    Reader.Open(FileName);
    std::vector<uint8_t> Frame(MaxFrameLength);
    int64_t Count = 0;
    double PlayTime = 0.0;
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
        ++Count;
        PlayTime += Reader.FrameDuration();
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
    std::printf("Frames: %lld\n", static_cast<long long>(Count));
    std::printf("Play time: %.3f s\n", PlayTime);
    return ExitOk;
}
