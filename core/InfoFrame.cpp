#include "InfoFrame.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr std::array<uint16_t, 256> BuildCrcTable() {
    std::array<uint16_t, 256> Table{};
    for (uint32_t Byte = 0; Byte < 256; ++Byte) {
        uint32_t Crc = Byte;
        for (int Bit = 0; Bit < 8; ++Bit)
            Crc = (Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1;
        Table[Byte] = static_cast<uint16_t>(Crc);
    }
    return Table;
}

constexpr std::array<uint16_t, 256> CrcTable = BuildCrcTable();

// Slices[K][Byte]: the CRC of Byte followed by K zero bytes, so that
// sixteen bytes are taken in one step of independent look-ups. The music CRC runs
// over every byte a job copies, and one look-up per byte, each waiting for
// the last, took longer than the copy.
constexpr size_t SliceCount = 16;

constexpr std::array<std::array<uint16_t, 256>, SliceCount> BuildCrcSlices() {
    std::array<std::array<uint16_t, 256>, SliceCount> Slices{};
    Slices[0] = BuildCrcTable();
    for (size_t K = 1; K < SliceCount; ++K)
        for (size_t Byte = 0; Byte < 256; ++Byte) {
            const uint16_t Prev = Slices[K - 1][Byte];
            Slices[K][Byte] = static_cast<uint16_t>((Prev >> 8) ^ Slices[0][Prev & 0xFF]);
        }
    return Slices;
}

constexpr std::array<std::array<uint16_t, 256>, SliceCount> CrcSlices = BuildCrcSlices();

constexpr size_t TagSize = 4;
constexpr size_t FlagsSize = 4;
constexpr size_t TocSize = 100;
constexpr size_t ExtensionSize = 36;
// Where the fields of the extension lie, from its start.
constexpr size_t ExtDelayPadding = 21;
constexpr size_t ExtMusicLength = 28;
constexpr size_t ExtMusicCRC = 32;
constexpr size_t ExtTagCRC = 34;
// VBRI stands at a fixed place, whatever the side information's size.
constexpr size_t VbriOffset = 36;
constexpr size_t VbriFixedSize = 26;

constexpr uint32_t XingFlagFrames = 1;
constexpr uint32_t XingFlagBytes = 2;
constexpr uint32_t XingFlagToc = 4;
constexpr uint32_t XingFlagQuality = 8;

uint32_t ReadBE(const uint8_t* At, int Count) {
    uint32_t Value = 0;
    for (int I = 0; I < Count; ++I)
        Value = Value << 8 | At[I];
    return Value;
}

void WriteBE(uint8_t* At, uint32_t Value, int Count) {
    for (int I = Count - 1; I >= 0; --I) {
        At[I] = static_cast<uint8_t>(Value & 0xFF);
        Value >>= 8;
    }
}

// An extension names its encoder in its first bytes; anything else in that
// place is not an extension.
bool LooksLikeExtension(const uint8_t* At) {
    for (int I = 0; I < 4; ++I)
        if (!((At[I] >= 'A' && At[I] <= 'Z') || (At[I] >= 'a' && At[I] <= 'z') ||
              (At[I] >= '0' && At[I] <= '9')))
            return false;
    return true;
}

bool ParseVbri(const uint8_t* Frame, size_t Length, TInfoFrame& Info) {
    if (Length < VbriOffset + VbriFixedSize || std::memcmp(Frame + VbriOffset, "VBRI", 4) != 0)
        return false;
    const uint8_t* At = Frame + VbriOffset + TagSize;
    Info.Kind = TInfoKind::VBRI;
    Info.VbriDelay = static_cast<uint16_t>(ReadBE(At + 2, 2));
    Info.VbriQuality = static_cast<uint16_t>(ReadBE(At + 4, 2));
    Info.Bytes = ReadBE(At + 6, 4);
    Info.Frames = ReadBE(At + 10, 4);
    Info.HasBytes = Info.HasFrames = true;
    return true;
}

} // namespace

uint16_t Crc16Portable(const uint8_t* Data, size_t Count, uint16_t Crc) {
    const auto& S = CrcSlices;
    for (; Count >= SliceCount; Data += SliceCount, Count -= SliceCount) {
        uint16_t Next = static_cast<uint16_t>(S[15][(Crc ^ Data[0]) & 0xFF] ^
                                              S[14][((Crc >> 8) ^ Data[1]) & 0xFF]);
        for (size_t K = 2; K < SliceCount; ++K)
            Next ^= S[SliceCount - 1 - K][Data[K]];
        Crc = Next;
    }
    for (size_t I = 0; I < Count; ++I)
        Crc = static_cast<uint16_t>((Crc >> 8) ^ CrcTable[(Crc ^ Data[I]) & 0xFF]);
    return Crc;
}

#if defined(__x86_64__)
namespace {

// x^N modulo the polynomial x^16 + x^15 + x^2 + 1.
constexpr uint32_t PowerModPoly(int N) {
    uint32_t Rest = 1;
    for (int I = 0; I < N; ++I) {
        Rest <<= 1;
        if (Rest & 0x10000)
            Rest ^= 0x18005;
    }
    return Rest;
}

// The checksum's bits come lowest first: in a 16-byte block loaded into a
// register, bit B stands for x^(127 - B), and each 64-bit half holds its
// polynomial reversed. A constant for x^N is stored as x^(N - 1) reversed
// into 64 bits, so that the carry-less product of two reversed halves lands
// in the same order as a loaded block.
constexpr uint64_t FoldConstant(int N) {
    const uint32_t Rest = PowerModPoly(N - 1);
    uint64_t Reversed = 0;
    for (int Degree = 0; Degree < 16; ++Degree)
        if (Rest >> Degree & 1)
            Reversed |= uint64_t{1} << (63 - Degree);
    return Reversed;
}

// A = H x^64 + L, moved Bits further: H (x^(Bits + 64) mod P) + L (x^Bits
// mod P), below x^80, the same remainder.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i A, __m128i Constants) {
    return _mm_xor_si128(_mm_clmulepi64_si128(A, Constants, 0x00),
                         _mm_clmulepi64_si128(A, Constants, 0x11));
}

// Folds the message 64 bytes at a time in four independent lanes, then the
// lanes and any further 16-byte blocks into one block, whose remainder is
// the message's; the table takes that block and the tail.
__attribute__((target("pclmul,sse4.1"))) uint16_t Crc16Folded(const uint8_t* Data, size_t Count,
                                                              uint16_t Crc) {
    const __m128i By128 = _mm_set_epi64x(static_cast<long long>(FoldConstant(128)),
                                         static_cast<long long>(FoldConstant(192)));
    const __m128i By512 = _mm_set_epi64x(static_cast<long long>(FoldConstant(512)),
                                         static_cast<long long>(FoldConstant(576)));
    auto Load = [](const uint8_t* At) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(At));
    };
    // The starting value enters as the first two bytes' complement.
    __m128i Lane0 = _mm_xor_si128(Load(Data), _mm_cvtsi32_si128(Crc));
    __m128i Lane1 = Load(Data + 16);
    __m128i Lane2 = Load(Data + 32);
    __m128i Lane3 = Load(Data + 48);
    Data += 64;
    Count -= 64;
    for (; Count >= 64; Data += 64, Count -= 64) {
        // The walk through a mapping crosses a page every 4 KiB, where the
        // processor's own prefetching stops.
        _mm_prefetch(reinterpret_cast<const char*>(Data + 2048), _MM_HINT_T0);
        Lane0 = _mm_xor_si128(Fold(Lane0, By512), Load(Data));
        Lane1 = _mm_xor_si128(Fold(Lane1, By512), Load(Data + 16));
        Lane2 = _mm_xor_si128(Fold(Lane2, By512), Load(Data + 32));
        Lane3 = _mm_xor_si128(Fold(Lane3, By512), Load(Data + 48));
    }
    __m128i Block = _mm_xor_si128(Fold(Lane0, By128), Lane1);
    Block = _mm_xor_si128(Fold(Block, By128), Lane2);
    Block = _mm_xor_si128(Fold(Block, By128), Lane3);
    for (; Count >= 16; Data += 16, Count -= 16)
        Block = _mm_xor_si128(Fold(Block, By128), Load(Data));
    alignas(16) uint8_t Last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(Last), Block);
    return Crc16Portable(Data, Count, Crc16Portable(Last, sizeof Last, 0));
}

bool HaveCarrylessMultiply() {
    static const bool Have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return Have;
}

} // namespace
#endif

uint16_t Crc16(const uint8_t* Data, size_t Count, uint16_t Crc) {
#if defined(__x86_64__)
    // Below a few blocks the setup costs more than it saves.
    if (Count >= 128 && HaveCarrylessMultiply())
        return Crc16Folded(Data, Count, Crc);
#endif
    return Crc16Portable(Data, Count, Crc);
}

int32_t SideInfoSize(uint8_t Version, uint8_t ChannelMode) {
    const bool Mono = ChannelMode == 3;
    if (Version == 1)
        return Mono ? 17 : 32;
    return Mono ? 9 : 17;
}

bool ParseInfoFrame(const uint8_t* Frame, size_t Length, TInfoFrame& Info) {
    TMP3FrameInfo Header;
    if (Length < 4 || !DecodeFrameHeader(FrameHeaderAt(Frame), Header))
        return false;
    Info = TInfoFrame{};
    if (ParseVbri(Frame, Length, Info))
        return true;
    if (Header.Layer != 3)
        return false;
    size_t At = 4 + static_cast<size_t>(SideInfoSize(Header.Version, Header.ChannelMode));
    if (Length < At + TagSize + FlagsSize)
        return false;
    if (std::memcmp(Frame + At, "Xing", 4) == 0)
        Info.Kind = TInfoKind::Xing;
    else if (std::memcmp(Frame + At, "Info", 4) == 0)
        Info.Kind = TInfoKind::Info;
    else
        return false;
    const uint32_t Flags = ReadBE(Frame + At + TagSize, 4);
    At += TagSize + FlagsSize;
    auto Field = [&](uint32_t Flag, size_t Size) {
        if ((Flags & Flag) == 0 || Length < At + Size)
            return false;
        At += Size;
        return true;
    };
    if ((Info.HasFrames = Field(XingFlagFrames, 4)))
        Info.Frames = ReadBE(Frame + At - 4, 4);
    if ((Info.HasBytes = Field(XingFlagBytes, 4)))
        Info.Bytes = ReadBE(Frame + At - 4, 4);
    if ((Info.HasToc = Field(XingFlagToc, TocSize)))
        std::memcpy(Info.Toc.data(), Frame + At - TocSize, TocSize);
    if ((Info.HasQuality = Field(XingFlagQuality, 4)))
        Info.Quality = ReadBE(Frame + At - 4, 4);
    if (Length >= At + ExtensionSize && LooksLikeExtension(Frame + At)) {
        const uint8_t* Ext = Frame + At;
        Info.HasExtension = true;
        std::memcpy(Info.Extension.data(), Ext, ExtensionSize);
        const uint32_t DelayPadding = ReadBE(Ext + ExtDelayPadding, 3);
        Info.Delay = static_cast<int32_t>(DelayPadding >> 12);
        Info.Padding = static_cast<int32_t>(DelayPadding & 0xFFF);
        Info.MusicLength = ReadBE(Ext + ExtMusicLength, 4);
        Info.MusicCRC = static_cast<uint16_t>(ReadBE(Ext + ExtMusicCRC, 2));
        Info.TagCRC = static_cast<uint16_t>(ReadBE(Ext + ExtTagCRC, 2));
        Info.TagCRCValid = Crc16(Frame, At + ExtTagCRC) == Info.TagCRC;
    }
    return true;
}

bool ParseInfoFrame(const uint8_t* Frame, size_t Length) {
    TInfoFrame Info;
    return ParseInfoFrame(Frame, Length, Info);
}

bool ExtensionTrimmedByDecoders(const TInfoFrame& Info) {
    return Info.HasExtension && std::memcmp(Info.Extension.data(), "LAME", 4) == 0;
}

TInfoFrameBuilder::TInfoFrameBuilder(const TInfoFrame& Source, uint32_t FirstAudio,
                                     bool ConstantBitrate)
    : FSource(Source) {
    TMP3FrameInfo Audio{};
    DecodeFrameHeader(FirstAudio, Audio);
    FSideInfo = SideInfoSize(Audio.Version, Audio.ChannelMode);
    const size_t Needed = 4 + static_cast<size_t>(FSideInfo) + TagSize + FlagsSize + 4 + 4 +
                          TocSize + 4 + (FSource.HasExtension ? ExtensionSize : 0);

    // Version, layer and rate as the audio; no CRC, no padding; the channel
    // mode and the copyright, original and emphasis bits as the audio, the
    // mode extension cleared.
    const uint32_t B1 = ((FirstAudio >> 8) & 0xFF) | 0x01;
    const uint32_t B2Rate = (FirstAudio >> 16) & 0x0D;
    const uint32_t B3 = (FirstAudio >> 24) & 0xCF;
    auto HeaderWith = [&](uint32_t Index) {
        return 0xFFu | B1 << 8 | (Index << 4 | B2Rate) << 16 | B3 << 24;
    };
    // A constant-rate stream keeps its rate in the header frame, as some
    // players take the first frame's rate for the whole stream; otherwise
    // the smallest frame that holds the fields.
    const uint32_t AudioIndex = (FirstAudio >> 20) & 0x0F;
    TMP3FrameInfo Built{};
    if (ConstantBitrate && DecodeFrameHeader(HeaderWith(AudioIndex), Built) &&
        static_cast<size_t>(Built.FrameLength) >= Needed) {
        FHeader = HeaderWith(AudioIndex);
    } else {
        for (uint32_t Index = 1; Index < 15; ++Index)
            if (DecodeFrameHeader(HeaderWith(Index), Built) &&
                static_cast<size_t>(Built.FrameLength) >= Needed) {
                FHeader = HeaderWith(Index);
                break;
            }
    }
    if (FHeader == 0)
        FHeader = HeaderWith(14);
    DecodeFrameHeader(FHeader, Built);
    FLength = Built.FrameLength;
    FSample.reserve(SampleCapacity);
}

void TInfoFrameBuilder::Reset() {
    FSample.clear();
    FStride = 1;
    FFrames = 0;
    FAudioBytes = 0;
    FMusicCRC = 0;
    FPending = nullptr;
    FPendingLength = 0;
}

// A frame whose start is sampled, or that begins a new run to checksum.
// FStride is a power of two: a mask tells the sampled frames, no division.
void TInfoFrameBuilder::AddFrameSlow(const uint8_t* Frame, uint32_t Length, bool InPlace) {
    if ((FFrames & (FStride - 1)) == 0) {
        if (FSample.size() == SampleCapacity) {
            // The next index is SampleCapacity * FStride, a multiple of
            // the doubled stride too: it is kept.
            for (size_t I = 0; I < SampleCapacity / 2; ++I)
                FSample[I] = FSample[2 * I];
            FSample.resize(SampleCapacity / 2);
            FStride *= 2;
        }
        FSample.push_back(FAudioBytes);
    }
    ++FFrames;
    FAudioBytes += Length;
    if (!FSource.HasExtension)
        return;
    if (ExtendsPending(Frame, Length, InPlace)) {
        FPendingLength += Length;
        return;
    }
    FMusicCRC = Crc16(FPending, FPendingLength, FMusicCRC);
    FPending = nullptr;
    FPendingLength = 0;
    if (InPlace) {
        FPending = Frame;
        FPendingLength = Length;
    } else {
        FMusicCRC = Crc16(Frame, Length, FMusicCRC);
    }
}

uint64_t TInfoFrameBuilder::StartOf(uint64_t Index) const {
    const uint64_t Kept = Index / FStride;
    const uint64_t Rest = Index % FStride;
    if (Rest == 0)
        return FSample[Kept];
    // Between two kept starts, or between the last kept one and the end of
    // the last frame.
    const uint64_t From = FSample[Kept];
    const bool Next = Kept + 1 < FSample.size();
    const uint64_t To = Next ? FSample[Kept + 1] : FAudioBytes;
    const uint64_t Span = (Next ? (Kept + 1) * FStride : FFrames) - Kept * FStride;
    return From + (To - From) * Rest / Span;
}

std::vector<uint8_t> TInfoFrameBuilder::Build(bool StartsAtFirst, bool EndsAtLast) const {
    return Build(TTrim{StartsAtFirst ? FSource.Delay : 0, EndsAtLast ? FSource.Padding : 0});
}

std::vector<uint8_t> TInfoFrameBuilder::Build(std::optional<TTrim> Trim) const {
    std::vector<uint8_t> Frame(static_cast<size_t>(FLength), 0);
    for (int I = 0; I < 4; ++I)
        Frame[static_cast<size_t>(I)] = static_cast<uint8_t>(FHeader >> (8 * I));
    // Zero side information and main data: decoders that don't know the
    // fields play the frame as silence.
    WriteXing(Frame.data(), Trim);
    return Frame;
}

void TInfoFrameBuilder::WriteXing(uint8_t* Frame, std::optional<TTrim> Trim) const {
    const uint64_t Total = static_cast<uint64_t>(FLength) + FAudioBytes;
    const uint64_t Frames = FFrames;
    uint8_t* At = Frame + 4 + FSideInfo;
    std::memcpy(At, FSource.Kind == TInfoKind::Info ? "Info" : "Xing", 4);
    WriteBE(At + 4, XingFlagFrames | XingFlagBytes | XingFlagToc | XingFlagQuality, 4);
    WriteBE(At + 8, static_cast<uint32_t>(Frames), 4);
    WriteBE(At + 12, static_cast<uint32_t>(std::min<uint64_t>(Total, UINT32_MAX)), 4);
    // Entry i: where the frame at i % of the play time starts, in 256ths of
    // the stream's bytes counted from this frame.
    uint8_t* Toc = At + 16;
    for (uint64_t I = 0; I < TocSize; ++I) {
        if (Frames == 0) {
            Toc[I] = static_cast<uint8_t>(I * 256 / TocSize);
            continue;
        }
        const uint64_t Start = static_cast<uint64_t>(FLength) + StartOf(I * Frames / TocSize);
        Toc[I] = static_cast<uint8_t>(std::min<uint64_t>(255, Start * 256 / Total));
    }
    WriteBE(At + 16 + TocSize, FSource.HasQuality ? FSource.Quality : 0, 4);
    if (!FSource.HasExtension || !Trim)
        return;
    uint8_t* Ext = At + 16 + TocSize + 4;
    std::memcpy(Ext, FSource.Extension.data(), ExtensionSize);
    const auto Delay = static_cast<uint32_t>(std::clamp(Trim->Delay, 0, TTrim::Max));
    const auto Padding = static_cast<uint32_t>(std::clamp(Trim->Padding, 0, TTrim::Max));
    WriteBE(Ext + ExtDelayPadding, (Delay & 0xFFF) << 12 | (Padding & 0xFFF), 3);
    WriteBE(Ext + ExtMusicLength, static_cast<uint32_t>(std::min<uint64_t>(Total, UINT32_MAX)), 4);
    WriteBE(Ext + ExtMusicCRC, Crc16(FPending, FPendingLength, FMusicCRC), 2);
    WriteBE(Ext + ExtTagCRC, Crc16(Frame, static_cast<size_t>(Ext + ExtTagCRC - Frame)), 2);
}
