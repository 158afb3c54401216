// Writes the DSP loader image in its ".ldr" file form.
#include "LoaderImageGenerator.h"

#include <cstdio>
#include <fstream>
#include <string>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: %s OUTPUT_FILE\n", argv[0]);
        return 2;
    }
    const std::vector<uint8_t> bytes = TovarekTools::toLoaderFileForm (TovarekTools::makeLoaderImage());
    std::ofstream file (argv[1], std::ios::binary | std::ios::trunc);
    file.write (reinterpret_cast<const char*> (bytes.data()), static_cast<std::streamsize> (bytes.size()));
    if (! file)
    {
        std::fprintf (stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
