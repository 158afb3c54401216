// Writes the 26 stock amp-model data files into the given directory.
#include "StockAmpModelGenerator.h"

#include <cstdio>
#include <fstream>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    for (size_t row = 0; row < TovarekTools::kStockAmpModelCount; ++row)
    {
        const std::string path = std::string (argv[1]) + "/" + TovarekTools::stockAmpModelFileName (row);
        const std::string text = TovarekTools::makeStockAmpModelFile (row);
        std::ofstream file (path, std::ios::binary | std::ios::trunc);
        file.write (text.data(), static_cast<std::streamsize> (text.size()));
        if (! file)
        {
            std::fprintf (stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
