#pragma once

// A file decoded by libmpg123 to 16-bit samples, channels interleaved:
// untrimmed (every frame's samples, as the frames' clock counts them), or
// gapless (the encoder's delay and padding dropped, as its extension asks).

#include <cstdint>
#include <string>
#include <vector>

struct TDecoded {
    std::vector<int16_t> Samples; // interleaved
    int32_t Channels = 0;
    int32_t Rate = 0;
    int64_t Frames() const {
        return Channels ? static_cast<int64_t>(Samples.size()) / Channels : 0;
    }
};

TDecoded DecodeFile(const std::string& FileName, bool Gapless);
