#include "TagBlocks.h"

#include "ID3v1.h"

#include <cstring>

namespace {

bool Is(const uint8_t* Bytes, const char* Text) {
    return std::memcmp(Bytes, Text, std::strlen(Text)) == 0;
}

uint32_t LittleEndian32(const uint8_t* Bytes) {
    return Bytes[0] | Bytes[1] << 8 | Bytes[2] << 16 | static_cast<uint32_t>(Bytes[3]) << 24;
}

// The 28-bit size of an ID3v2 header or footer: four bytes of seven bits;
// -1 when a byte has its top bit set.
int64_t SyncsafeSize(const uint8_t* Bytes) {
    int64_t Size = 0;
    for (int Index = 0; Index < 4; ++Index) {
        if (Bytes[Index] & 0x80)
            return -1;
        Size = Size << 7 | Bytes[Index];
    }
    return Size;
}

// The version, revision and size of an ID3v2 header ("ID3") or footer
// ("3DI"): versions 2 to 4. The size leaves out the header and the footer.
int64_t ID3v2BodySize(const uint8_t* Bytes, const char* Mark) {
    if (!Is(Bytes, Mark) || Bytes[3] < 2 || Bytes[3] > 4 || Bytes[4] == 0xFF)
        return -1;
    return SyncsafeSize(Bytes + 6);
}

constexpr uint8_t ID3v2FooterFlag = 0x10;
constexpr int64_t ApeFooterSize = 32;
constexpr uint32_t ApeHasHeader = 0x80000000u;
constexpr int64_t LyricsEndSize = 15; // six digits of size, "LYRICS200"
constexpr int LyricsSizeDigits = 6;

} // namespace

int64_t ID3v2TagSize(const uint8_t* Head) {
    const int64_t Body = ID3v2BodySize(Head, "ID3");
    if (Body < 0)
        return -1;
    const bool Footer = Head[3] >= 4 && (Head[5] & ID3v2FooterFlag) != 0;
    return ID3v2HeaderSize + Body + (Footer ? ID3v2HeaderSize : 0);
}

int64_t TrailingTagStart(const TReadAt& Read, int64_t End) {
    uint8_t Bytes[ApeFooterSize];
    if (End >= ID3TagSize && Read(End - ID3TagSize, Bytes, 3) && Is(Bytes, "TAG"))
        return End - ID3TagSize;

    if (End >= ApeFooterSize && Read(End - ApeFooterSize, Bytes, ApeFooterSize) &&
        Is(Bytes, "APETAGEX")) {
        // The size counts the items and the footer; a header may come first.
        const int64_t Size = LittleEndian32(Bytes + 12);
        const int64_t Start =
            End - Size - ((LittleEndian32(Bytes + 20) & ApeHasHeader) ? ApeFooterSize : 0);
        if (Size >= ApeFooterSize && Start >= 0)
            return Start;
    }

    if (End >= LyricsEndSize && Read(End - LyricsEndSize, Bytes, LyricsEndSize) &&
        Is(Bytes + LyricsSizeDigits, "LYRICS200")) {
        // The size counts from "LYRICSBEGIN" up to the size field.
        int64_t Size = 0;
        bool Digits = true;
        for (int Index = 0; Index < LyricsSizeDigits; ++Index) {
            Digits = Digits && Bytes[Index] >= '0' && Bytes[Index] <= '9';
            Size = Size * 10 + (Bytes[Index] - '0');
        }
        const int64_t Start = End - LyricsEndSize - Size;
        if (Digits && Start >= 0 && Read(Start, Bytes, 11) && Is(Bytes, "LYRICSBEGIN"))
            return Start;
    }

    if (End >= 2 * ID3v2HeaderSize && Read(End - ID3v2HeaderSize, Bytes, ID3v2HeaderSize)) {
        const int64_t Body = ID3v2BodySize(Bytes, "3DI");
        const int64_t Start = End - 2 * ID3v2HeaderSize - Body;
        if (Body >= 0 && Start >= 0 && Read(Start, Bytes, ID3v2HeaderSize) &&
            ID3v2TagSize(Bytes) == End - Start)
            return Start;
    }
    return -1;
}
