#include "ImageResourcePack.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

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

// A damaged pack of 1 MB whose 4096 entries have names of almost 1 MB, all overlapping one area.
std::vector<uint8_t> makeOverlappingNamesPack()
{
    constexpr uint32_t kCount = 4096, kArea = (1u << 20) - kCount * 16, kNameLength = kArea - kCount;
    std::vector<uint8_t> bytes (8);
    for (uint32_t i = 0; i < kArea; ++i)
        bytes.push_back ((uint8_t) ((i * 2654435761u) >> 24));

    const auto putWord = [&bytes] (size_t at, uint32_t value) {
        for (size_t i = 0; i < 4; ++i)
            bytes[at + i] = (uint8_t) (value >> (8 * i));
    };
    putWord (0, (uint32_t) bytes.size());
    putWord (4, kCount);
    for (uint32_t k = 0; k < kCount; ++k)
        for (uint32_t field : { 8 + k, kNameLength, 0u, 0u })
        {
            bytes.resize (bytes.size() + 4);
            putWord (bytes.size() - 4, field);
        }
    return bytes;
}

// Opening it: every name is read once, and the directory keeps about the file's size.
void openOverlappingNames (benchmark::State& state)
{
    const auto bytes = makeOverlappingNamesPack();
    const ImageResourcePack::ReadFunction read = [&bytes] (unsigned int offset, unsigned long size, void* destination) {
        if ((uint64_t) offset + size > bytes.size())
            return false;
        std::copy_n (bytes.data() + offset, size, static_cast<uint8_t*> (destination));
        return true;
    };

    size_t directoryBytes = 0;
    for (auto _ : state)
    {
        ImageResourcePack pack (read);
        benchmark::DoNotOptimize (pack.open());
        directoryBytes = pack.directoryBytes();
    }
    state.counters["directoryBytes"] = (double) directoryBytes;
    state.counters["fileBytes"] = (double) bytes.size();
}
BENCHMARK (openOverlappingNames)->Unit (benchmark::kMillisecond);

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
