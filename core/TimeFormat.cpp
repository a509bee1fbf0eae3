#include "TimeFormat.h"

#include <cstdio>
#include <vector>

std::string FormatTime(int32_t Tenths) {
    const int32_t Hours = Tenths / 36000;
    const int32_t Minutes = (Tenths / 600) % 60;
    const int32_t Seconds = (Tenths / 10) % 60;
    const int32_t Rest = Tenths % 10;
    char Text[64];
    if (Hours > 0)
        std::snprintf(Text, sizeof Text, "%2d:%2d:%2d.%d", Hours, Minutes, Seconds, Rest);
    else
        std::snprintf(Text, sizeof Text, "%2d:%2d.%d", Minutes, Seconds, Rest);
    std::string Result = Text;
    for (char& C : Result)
        if (C == ' ')
            C = '0';
    return Result;
}

namespace {

// A run of decimal digits, at most MaxDigits long.
bool ParseDigits(const std::string& Text, size_t MaxDigits, int64_t& Value) {
    if (Text.empty() || Text.size() > MaxDigits)
        return false;
    Value = 0;
    for (char C : Text) {
        if (C < '0' || C > '9')
            return false;
        Value = Value * 10 + (C - '0');
    }
    return true;
}

// Whole seconds and a fraction of at most MaxDecimals digits, the fraction
// given in thousandths.
std::optional<int64_t> ParseTime(const std::string& Text, size_t MaxDecimals,
                                 int64_t& Thousandths) {
    std::string Whole = Text;
    Thousandths = 0;
    if (auto Dot = Text.find('.'); Dot != std::string::npos) {
        const std::string Fraction = Text.substr(Dot + 1);
        if (!ParseDigits(Fraction, MaxDecimals, Thousandths))
            return std::nullopt;
        for (size_t Digits = Fraction.size(); Digits < 3; ++Digits)
            Thousandths *= 10;
        Whole = Text.substr(0, Dot);
    }
    std::vector<std::string> Fields;
    size_t Start = 0;
    for (;;) {
        size_t Colon = Whole.find(':', Start);
        Fields.push_back(Whole.substr(Start, Colon - Start));
        if (Colon == std::string::npos)
            break;
        Start = Colon + 1;
    }
    int64_t Hours = 0, Minutes = 0, Seconds = 0;
    switch (Fields.size()) {
    case 1: // plain seconds
        if (!ParseDigits(Fields[0], 12, Seconds))
            return std::nullopt;
        break;
    case 2:
        if (!ParseDigits(Fields[0], 9, Minutes) || !ParseDigits(Fields[1], 2, Seconds) ||
            Seconds > 59)
            return std::nullopt;
        break;
    case 3:
        if (!ParseDigits(Fields[0], 7, Hours) || !ParseDigits(Fields[1], 2, Minutes) ||
            !ParseDigits(Fields[2], 2, Seconds) || Minutes > 59 || Seconds > 59)
            return std::nullopt;
        break;
    default:
        return std::nullopt;
    }
    return (Hours * 60 + Minutes) * 60 + Seconds;
}

} // namespace

std::optional<int64_t> ParseTimeText(const std::string& Text) {
    int64_t Thousandths = 0;
    const auto Seconds = ParseTime(Text, 1, Thousandths);
    if (!Seconds)
        return std::nullopt;
    return *Seconds * 10 + Thousandths / 100;
}

std::optional<int64_t> ParseTimeMs(const std::string& Text) {
    int64_t Thousandths = 0;
    const auto Seconds = ParseTime(Text, 3, Thousandths);
    if (!Seconds)
        return std::nullopt;
    return *Seconds * 1000 + Thousandths;
}

std::string FormatTimeMs(int64_t Ms, bool Millis) {
    if (!Millis)
        return FormatTime(static_cast<int32_t>(Ms / 100));
    const int64_t Hours = Ms / 3'600'000;
    const int64_t Minutes = (Ms / 60'000) % 60;
    const int64_t Seconds = (Ms / 1000) % 60;
    const int64_t Rest = Ms % 1000;
    char Text[64];
    if (Hours > 0)
        std::snprintf(Text, sizeof Text, "%02lld:%02lld:%02lld.%03lld",
                      static_cast<long long>(Hours), static_cast<long long>(Minutes),
                      static_cast<long long>(Seconds), static_cast<long long>(Rest));
    else
        std::snprintf(Text, sizeof Text, "%02lld:%02lld.%03lld", static_cast<long long>(Minutes),
                      static_cast<long long>(Seconds), static_cast<long long>(Rest));
    return Text;
}
