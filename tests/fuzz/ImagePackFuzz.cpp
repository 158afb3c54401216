// The image pack over fuzz bytes: opened as the application opens resources.bin, then every
// image id asked for, twice (the second answer may come from the cache).

#include "FuzzSupport.h"
#include "ImageResourcePack.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto read = [data, size] (unsigned int offset, unsigned long length, void* destination) {
        if (offset > size || length > size - offset)
            return false;
        std::memcpy (destination, data + offset, length);
        return true;
    };

    if (registerImageResources (read))
        for (int pass = 0; pass < 2; ++pass)
            for (const auto& file : kImageResourceFiles)
            {
                const juce::Image image = getImageResource (file.id);
                FUZZ_CHECK (image.isNull() || (image.getWidth() > 0 && image.getHeight() > 0));
            }

    releaseImageResources();
    return 0;
}
