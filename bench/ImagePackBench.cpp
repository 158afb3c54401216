#include "ImageResourcePack.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace
{
using FilePointer = std::unique_ptr<FILE, int (*) (FILE*)>;

FilePointer openPack()
{
    return FilePointer (std::fopen (TOVAREK_IMAGE_PACK_FILE, "rb"), &std::fclose);
}

// The application's reader over the open pack file.
ImageResourcePack::ReadFunction fileReader (FILE* file)
{
    return [file] (unsigned int offset, unsigned long size, void* destination) {
        std::fseek (file, (long) offset, SEEK_SET);
        return std::fread (destination, 1, size, file) == size;
    };
}

// Start-up's share: header, directory and names only.
void openDirectory (benchmark::State& state)
{
    auto file = openPack();
    for (auto _ : state)
    {
        ImageResourcePack pack (fileReader (file.get()));
        benchmark::DoNotOptimize (pack.open());
    }
}
BENCHMARK (openDirectory);

// First use of one image: read and decode.
void loadImageCold (benchmark::State& state)
{
    auto file = openPack();
    const auto id = (unsigned) state.range (0);
    ImageResourcePack pack (fileReader (file.get()));
    if (! pack.open())
        state.SkipWithError ("no image pack");

    for (auto _ : state)
    {
        pack.add (id, kImageResourceFiles[id].fileName); // drops the cached image
        benchmark::DoNotOptimize (pack.getImage (id));
    }
}
BENCHMARK (loadImageCold)->Arg (kImageBody)->Arg (kImageLargeDialFilm)->Arg (kImageFXBlockOn)->Unit (benchmark::kMillisecond);

// Every later use: the cached image.
void loadImageCached (benchmark::State& state)
{
    auto file = openPack();
    ImageResourcePack pack (fileReader (file.get()));
    if (! pack.open())
        state.SkipWithError ("no image pack");
    pack.add (kImageLargeDialFilm, kImageResourceFiles[kImageLargeDialFilm].fileName);

    for (auto _ : state)
        benchmark::DoNotOptimize (pack.getImage (kImageLargeDialFilm));
}
BENCHMARK (loadImageCached);
} // namespace
