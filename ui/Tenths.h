#pragma once

// The track lines count tenths of a second; the player counts reference
// time in units of 100 ns.

#include "TimeFormat.h"

#include <QString>

#include <cstdint>

constexpr int64_t RefTimePerTenth = 1'000'000;

// A track line position as the windows show it; the display takes the low
// 32 bits of the position.
inline QString FormatTenths(int64_t Tenths) {
    return QString::fromStdString(FormatTime(static_cast<int32_t>(Tenths)));
}
