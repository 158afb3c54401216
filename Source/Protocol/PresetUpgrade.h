#pragma once

#include "KorvantalData.h"

namespace Korvantal
{

// Parameter 238 of a preset holds the format version of its parameter layout.
constexpr uint32_t kPresetFormatVersionParam = 238;
constexpr uint32_t kLastOldPresetFormat = 0x20501;     // 132353: the newest layout still converted
constexpr uint32_t kCurrentPresetFormat = 0x60200;     // 393728: what every upgraded preset ends with

// Rewrites the parameter map of an older ".pre" preset into the current layout when its
// format version is missing, at most kLastOldPresetFormat, or -1; then stamps
// kCurrentPresetFormat in every case. Source parameters other than 23 keep their values.
// Has no failure of its own. Holds no state: callable from any thread on a map it owns.
Result upgradePresetParameters (KorvantalData::ParameterMap& parameters);

} // namespace Korvantal
