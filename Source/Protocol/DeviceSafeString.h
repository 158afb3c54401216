#pragma once

#include <string>

namespace Korvantal
{

// True for the 91 bytes the unit can display: printable ASCII except \ ` | ~.
bool isDeviceSafeCharacter (unsigned char c);

// The first maxLength bytes of text with every byte the unit cannot display replaced by '?'.
std::string makeDeviceSafeString (const std::string& text, int maxLength);

} // namespace Korvantal
