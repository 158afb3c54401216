#pragma once

#include "KorvantalResult.h"
#include "KorvantalStreams.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The text data-file format: a header naming the file's type and index, then segments of
// little-endian 32-bit words, one "0x%08x" word per line, each followed by a checksum line.
// A segment holds exactly the bytes of one device block, so a file is a set of device blocks
// a person can read and compare.
//
// The writer produces one exact layout; the reader is tolerant: it looks only at the header,
// the segment start and end lines and the word lines, and never verifies a checksum.
// Nothing here holds shared state; every operation runs on its caller's thread.
namespace Korvantal
{

// The file types; the header's type text is compared exactly, case included.
enum DataFileType : uint32_t
{
    kDataFileTypePreset = 0,   // "Preset data"
    kDataFileTypeCabinet = 1,  // "User Cabinet data"
    kDataFileTypeGlobals = 2,  // "Globals data" (the header carries no index)
    kDataFileTypeAmpModel = 3  // "Amp_Model data"
};

// Longest type text the reader holds; a longer one is invalid like any other unknown text.
constexpr size_t kMaxDataFileTypeTextLength = 255;

// Longest line writeDataFileLine formats; longer text is cut.
constexpr size_t kMaxDataFileLineLength = 511;

// The parsed form of a text data file.
struct DataFile
{
    uint32_t type = kDataFileTypePreset;
    uint32_t index = 0; // 0 for globals files
    std::vector<std::vector<uint8_t>> segments; // in file order; the typed readers check lengths

    DataFile() = default;
    DataFile (uint32_t fileType, uint32_t fileIndex, size_t segmentCount)
        : type (fileType), index (fileIndex), segments (segmentCount)
    {
    }
};

// The header's text for a type, or nullptr for a value that is no type.
const char* dataFileTypeText (uint32_t type);

// Reads one line a byte at a time: carriage returns are dropped, a line feed or the end of
// the data ends the line (neither is stored). A failed read ends it with that Result.
Result readDataFileLine (IInputStream& stream, std::string& line);

// True for an empty line or one of white space only.
bool isBlankLine (const std::string& line);

// Formats printf-style (at most kMaxDataFileLineLength characters), writes the text, then
// writes one line feed as a second write.
Result writeDataFileLine (IOutputStream& stream, const char* format, ...)
    __attribute__ ((format (printf, 2, 3)));

// Parses a whole text data file; the file's previous segments are dropped first.
// On failure the file keeps what was parsed before it.
Result readDataFile (IInputStream& stream, DataFile& file);

// Writes the file in the exact layout. The first failed write ends it; what was written stays.
Result writeDataFile (const DataFile& file, IOutputStream& stream);

// The 16-bit BSD checksum written after each segment: rotate right by one bit, add the byte.
uint16_t segmentChecksum (const uint8_t* bytes, size_t size);

} // namespace Korvantal
