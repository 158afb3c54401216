// The version page, as the update check takes it from the network: read, cut, scanned.
#include "UpdateCheck.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    juce::MemoryInputStream page (data, size, false);
    const juce::String text = UpdateCheck::readVersionText (page);

    if (text.getNumBytesAsUTF8() > UpdateCheck::kMaxResponseLength)
        std::abort();

    UpdateCheck::parseLatestVersion (text);
    UpdateCheck::parseLatestVersion (juce::String::fromUTF8 (reinterpret_cast<const char*> (data), static_cast<int> (size)));
    return 0;
}
