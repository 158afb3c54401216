#include "DeviceSafeString.h"

#include <algorithm>

namespace Korvantal
{

bool isDeviceSafeCharacter (unsigned char c)
{
    if (c < 0x20 || c > 0x7E)
        return false;

    return c != '\\' && c != '`' && c != '|' && c != '~';
}

std::string makeDeviceSafeString (const std::string& text, int maxLength)
{
    const size_t length = std::min (text.size(), static_cast<size_t> (std::max (maxLength, 0)));
    std::string result = text.substr (0, length);

    for (char& c : result)
        if (! isDeviceSafeCharacter (static_cast<unsigned char> (c)))
            c = '?';

    return result;
}

} // namespace Korvantal
