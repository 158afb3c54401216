// The version page, as the update check takes it from the network: read, cut, decoded, scanned.
#include "UpdateCheck.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    juce::MemoryInputStream page (data, size, false);
    const juce::String text = UpdateCheck::readVersionText (page);

    // No byte read gives more than one character.
    if (text.length() > static_cast<int> (UpdateCheck::kMaxPageBytes))
        std::abort();

    // The framework's reading of the whole page: a short page reads the same, and a long one,
    // cut, still announces the same version.
    juce::MemoryInputStream wholePage (data, size, false);
    const juce::String whole = wholePage.readEntireStreamAsString();
    if (size <= UpdateCheck::kMaxPageBytes && text != whole)
        std::abort();
    if (UpdateCheck::parseLatestVersion (text) != UpdateCheck::parseLatestVersion (whole))
        std::abort();
    return 0;
}
