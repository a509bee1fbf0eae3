#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The program's time text for a time in tenths of a second: MM:SS.t below
// one hour, HH:MM:SS.t from one hour on.
std::string FormatTime(int32_t Tenths);

// Reads a time text back into tenths of a second, exactly: MM:SS, MM:SS.t,
// HH:MM:SS, HH:MM:SS.t, or plain seconds with an optional tenth ("75",
// "75.5"). Empty when the text is none of these.
std::optional<int64_t> ParseTimeText(const std::string& Text);

// A time in milliseconds as the windows show it: with Millis false exactly
// FormatTime of the whole tenths (MM:SS.t), with Millis true to the
// millisecond (MM:SS.mmm, HH:MM:SS.mmm from one hour on).
std::string FormatTimeMs(int64_t Ms, bool Millis);

// Reads a time text into milliseconds, exactly: the forms of ParseTimeText
// with one to three decimals ("10.237", "1:02.5", "1:02:03.45"). A time in
// tenths means what it always meant: "75.5" is 75,500 ms.
std::optional<int64_t> ParseTimeMs(const std::string& Text);
