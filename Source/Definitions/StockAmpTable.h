#pragma once

#include "KorvantalData.h"
#include "KorvantalResult.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace TovarekMk2
{

// The 26 stock amp models the editor carries, in menu order: the name the user sees, the
// embedded amp-model data file, and the parsed record. The user of the table (the main
// component) parses every row once when it is built and frees them when it is destroyed.
// Message thread only; no lock.
struct StockAmpEntry
{
    const char* const displayName;
    const char* const text;    // the embedded "Amp_Model data" file; not followed by a zero
    const uint64_t textLength; // read exactly this many bytes
    Korvantal::KorvantalData::Amp* amp; // null until parsed, when parsing failed, or after freeing
};

constexpr size_t kStockAmpCount = 26;

extern StockAmpEntry StockAmpTable[kStockAmpCount];

// Parses rows 0 to 25 in order. A row whose file the reader rejects stays null (the failure
// has been logged); the others still load.
void parseAllStockAmps();

// Parses one entry's text into a new record stored in its amp; on failure the record is
// destroyed and amp set back to null. Returns the reader's Result.
Korvantal::Result parseStockAmpEntry (StockAmpEntry& entry);

// Destroys every parsed record and sets its amp to null.
void freeAllStockAmps();

// Deep-copies a parsed row into destination; "Amp data not found!" for a row of 26 or more or
// a row without a parsed record.
Korvantal::Result copyStockAmp (size_t row, Korvantal::KorvantalData::Amp& destination);

// The first row, in row order, whose parsed record carries ampId; "Amp data not found!" when none.
Korvantal::Result findStockAmpRow (uint32_t ampId, size_t& row);

// The display names in row order; menus number their items row + 1.
std::vector<std::string> getStockAmpMenuTexts();

} // namespace TovarekMk2
