#include "Latin1Text.h"

#include <algorithm>

namespace {

bool IsContinuation(unsigned char Byte) {
    return (Byte & 0xC0) == 0x80;
}

// Bytes of the sequence a lead byte opens and the least code point that
// needs that many (shorter spellings are ill-formed); 0 for a byte that
// can't open one.
struct TLead {
    size_t Length;
    char32_t Least;
    char32_t Bits;
};

TLead LeadOf(unsigned char Byte) {
    if (Byte < 0x80)
        return {1, 0, Byte};
    if ((Byte & 0xE0) == 0xC0)
        return {2, 0x80, Byte & 0x1Fu};
    if ((Byte & 0xF0) == 0xE0)
        return {3, 0x800, Byte & 0x0Fu};
    if ((Byte & 0xF8) == 0xF0)
        return {4, 0x10000, Byte & 0x07u};
    return {0, 0, 0};
}

} // namespace

size_t Utf8CharAt(std::string_view Text, size_t At, char32_t& Char) {
    const TLead Lead = LeadOf(static_cast<unsigned char>(Text[At]));
    char32_t Value = Lead.Bits;
    for (size_t I = 1; I < Lead.Length; ++I) {
        if (At + I >= Text.size() || !IsContinuation(static_cast<unsigned char>(Text[At + I])))
            return 0;
        Value = (Value << 6) | (static_cast<unsigned char>(Text[At + I]) & 0x3Fu);
    }
    const bool WellFormed = Lead.Length > 0 && Value >= Lead.Least && Value <= 0x10FFFF &&
                            (Value < 0xD800 || Value > 0xDFFF);
    if (!WellFormed)
        return 0;
    Char = Value;
    return Lead.Length;
}

TTextChar TextCharAt(std::string_view Text, size_t At, bool Utf8) {
    TTextChar Result;
    Result.Char = static_cast<unsigned char>(Text[At]);
    if (Utf8 && Result.Char >= 0x80) {
        Result.Length = Utf8CharAt(Text, At, Result.Char);
        Result.Broken = Result.Length == 0;
        Result.Length = std::max<size_t>(Result.Length, 1);
    }
    return Result;
}

std::string Utf8ToLatin1(std::string_view Utf8, bool* Lost) {
    std::string Result;
    Result.reserve(Utf8.size());
    bool Replaced = false;
    size_t At = 0;
    while (At < Utf8.size()) {
        char32_t Char = 0;
        const size_t Length = Utf8CharAt(Utf8, At, Char);
        if (Length > 0 && Char <= 0xFF) {
            Result += static_cast<char>(Char);
        } else {
            Result += '?';
            Replaced = true;
        }
        // A broken sequence gives up only its lead byte.
        At += Length > 0 ? Length : 1;
    }
    if (Lost && Replaced)
        *Lost = true;
    return Result;
}

std::string Latin1ToUtf8(std::string_view Latin1) {
    std::string Result;
    Result.reserve(Latin1.size() * 2);
    for (char Byte : Latin1) {
        const auto Char = static_cast<unsigned char>(Byte);
        if (Char < 0x80) {
            Result += Byte;
        } else {
            Result += static_cast<char>(0xC0 | (Char >> 6));
            Result += static_cast<char>(0x80 | (Char & 0x3F));
        }
    }
    return Result;
}
