#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the stock amp-model data files the editor carries: one "Amp_Model data" text file per
// stock amp row, the same bytes on every run.
namespace TovarekTools
{

constexpr size_t kStockAmpModelCount = 26;

// The text file of one stock amp row (0 to 25), exactly as it is embedded.
std::string makeStockAmpModelFile (size_t row);

// The file's name on disk, "StockAmpModel00.txt" to "StockAmpModel25.txt".
std::string stockAmpModelFileName (size_t row);

} // namespace TovarekTools
