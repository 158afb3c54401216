#pragma once

#include <cstddef>
#include <cstdint>

// The data files the program carries, as their exact bytes (no terminating zero).
// Constant from static initialisation on; any thread may read them.
namespace TovarekMk2::EmbeddedData
{

struct EmbeddedFile
{
    const uint8_t* data = nullptr;
    size_t size = 0;
};

constexpr size_t kStockAmpModelFileCount = 26;

// The stock amp-model data file of a row (0 to 25), in row order of the stock amp table;
// an empty file beyond the last row.
EmbeddedFile getStockAmpModelFile (size_t row);

// The DSP loader image, 128,032 bytes, in its ".ldr" file form: every byte's bit order is
// reversed from what the unit receives, as in a firmware file; read it like one.
constexpr size_t kDspFirmwareImageSize = 128032;
EmbeddedFile getDspFirmwareImage();

} // namespace TovarekMk2::EmbeddedData
