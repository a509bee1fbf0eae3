#include "MP3Utils.h"

#include "FrameClock.h"

#include <array>

namespace {

constexpr uint32_t SyncMaskByte1 = 0xE0;

// Kilobits per second by [version - 1][layer - 1][index]. 0 and -1 mark the
// free-format and forbidden indexes, both refused.
constexpr std::array<std::array<std::array<int32_t, 16>, 3>, 3> BitrateTable{{
    {{
        // MPEG-1 Layer I
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
        // MPEG-1 Layer II
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
        // MPEG-1 Layer III
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},
    }},
    {{
        // MPEG-2 Layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
        // MPEG-2 Layer II
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
        // MPEG-2 Layer III
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
    }},
    {{
        // MPEG-2.5 Layer I, as MPEG-2
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
        // MPEG-2.5 Layer II, as MPEG-2
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
        // MPEG-2.5 Layer III, as MPEG-2
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
    }},
}};

// Hz by [version - 1][index]; index 3 is reserved.
constexpr std::array<std::array<int32_t, 4>, 3> SampleRateTable{{
    {44100, 48000, 32000, -1}, // MPEG-1
    {22050, 24000, 16000, -1}, // MPEG-2
    {11025, 12000, 8000, -1},  // MPEG-2.5
}};

// The header's version bits to our numbering; 0 marks the reserved value.
constexpr std::array<uint8_t, 4> VersionFromBits{3, 0, 2, 1};
// The header's layer bits to the layer number; 0 marks the reserved value.
constexpr std::array<uint8_t, 4> LayerFromBits{0, 3, 2, 1};

// Decodes the fields of b1 and b2 that decide validity, length and play
// time; the channel mode of b3 is added by the caller.
constexpr bool DecodeRateFields(uint32_t B1, uint32_t B2, TMP3FrameInfo& Info) {
    const uint8_t Version = VersionFromBits[(B1 >> 3) & 0x03];
    if (Version == 0)
        return false;
    const uint8_t Layer = LayerFromBits[(B1 >> 1) & 0x03];
    if (Layer == 0)
        return false;
    const int32_t Bitrate = BitrateTable[Version - 1][Layer - 1][(B2 >> 4) & 0x0F] * 1000;
    if (Bitrate <= 0)
        return false;
    const int32_t SampleRate = SampleRateTable[Version - 1][(B2 >> 2) & 0x03];
    if (SampleRate < 0)
        return false;
    const int32_t Padding = (B2 >> 1) & 0x01;

    Info.Version = Version;
    Info.Layer = Layer;
    Info.Bitrate = Bitrate;
    Info.SampleRate = SampleRate;

    // Layer I counts its length in slots of four bytes, the others in bytes:
    // an eighth of a byte per sample and bit per second of the rate.
    const int32_t Samples = SamplesPerFrame(Version, Layer);
    if (Layer == 1)
        Info.FrameLength = (static_cast<int32_t>(12.0 * Bitrate / SampleRate) + Padding) * 4;
    else
        Info.FrameLength = static_cast<int32_t>(Samples / 8.0 * Bitrate / SampleRate) + Padding;
    Info.Duration = static_cast<double>(Samples) / SampleRate;
    Info.Ticks = static_cast<int32_t>(FrameTicks(Version, Layer, SampleRate));
    return true;
}

constexpr std::array<MP3HeaderTable::TDecodedFields, MP3HeaderTable::Entries> BuildFieldTable() {
    std::array<MP3HeaderTable::TDecodedFields, MP3HeaderTable::Entries> Table{};
    for (uint32_t VersionLayer = 0; VersionLayer < 16; ++VersionLayer)
        for (uint32_t B2 = 0; B2 < 256; ++B2) {
            auto& Entry = Table[VersionLayer << 8 | B2];
            Entry.Valid = DecodeRateFields(SyncMaskByte1 | VersionLayer << 1, B2, Entry.Info);
        }
    return Table;
}

} // namespace

// Every combination of b1's version and layer bits and of b2, decoded once:
// the frame reader decodes at every 0xFF byte it meets, and a look-up costs
// far less than the divisions.
constinit const std::array<MP3HeaderTable::TDecodedFields, MP3HeaderTable::Entries>
    MP3HeaderTable::FieldTable = BuildFieldTable();

uint32_t WholeFramesLength(const uint8_t* Data, uint32_t Count) {
    uint32_t At = 0;
    TMP3FrameInfo Info;
    while (Count - At >= 4) {
        if (!DecodeFrameHeader(FrameHeaderAt(Data + At), Info) ||
            static_cast<uint32_t>(Info.FrameLength) > Count - At)
            break;
        At += static_cast<uint32_t>(Info.FrameLength);
    }
    return At;
}
