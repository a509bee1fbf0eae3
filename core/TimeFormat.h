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
