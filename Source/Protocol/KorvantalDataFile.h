#pragma once

#include "KorvantalData.h"
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

    // Decode segment i after checking it holds at least the block's bytes ("Segment too small").
    Result readSegmentCabinetIR (size_t i, KorvantalData::Impulse& impulse) const;
    Result readSegmentName (size_t i, std::string& name) const; // cabinet name block, 15 characters
    Result readSegmentAmpNameAndID (size_t i, KorvantalData::AmpNameAndID& nameAndID) const;

    // Set the segment (added when missing) to exactly the block's length, new bytes zero,
    // then encode into it. The parameters always go to segment 0, as a block of pairCount pairs.
    Result writeSegmentParams (const KorvantalData::ParameterMap& parameters, size_t pairCount);
    Result writeSegmentCabinetIR (size_t i, const KorvantalData::Impulse& impulse);
    Result writeSegmentName (size_t i, const std::string& name);
    Result writeSegmentAmpNameAndID (size_t i, const KorvantalData::AmpNameAndID& nameAndID);

    // The segment, resized to exactly size bytes (added when missing).
    std::vector<uint8_t>& sizedSegment (size_t i, size_t size);
    // Segment i when it exists and holds at least minimumSize bytes, else nullptr.
    const uint8_t* segmentOfAtLeast (size_t i, size_t minimumSize) const;
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

// Parses a whole text data file; the file's previous segments are dropped first. Segments are
// numbered by their order in the file, whatever their lines say; a word wider than 32 bits
// keeps its low 32 bits. On failure the file keeps what was parsed before it.
Result readDataFile (IInputStream& stream, DataFile& file);

// Writes the file in the exact layout. The first failed write ends it; what was written stays.
Result writeDataFile (const DataFile& file, IOutputStream& stream);

// ---- Typed files. Each reader parses the whole file with readDataFile first and returns its
// failure unchanged; it checks the segment count before the type. An index pointer, when not
// null, receives the header's index once type and segment count are accepted. On failure a
// record keeps what was decoded into it before.

// Older single-preset file (".pre"): parameters, name, optional cabinet; then the preset upgrade.
Result readPresetFile (IInputStream& stream, KorvantalData::Preset& preset, uint32_t* index);

// Preset data file in the four-segment layout (".t2p" exports, the bundle's ".tvp" entries):
// parameters, cabinet impulse, cabinet name, amp name and id. The amp data and finishing
// filter are not part of the file and are left as they were; no upgrade is applied.
Result readArchivePreset (IInputStream& stream, KorvantalData::FullTovarekMk2Preset& preset, uint32_t* index);
Result writeArchivePreset (const KorvantalData::FullTovarekMk2Preset& preset, IOutputStream& stream, uint32_t index);

// Cabinet file (".cab"): impulse, then name. The system writes none.
Result readCabinetFile (IInputStream& stream, KorvantalData::Cabinet& cabinet, uint32_t* index);

// Globals file (the bundle's ".glo" entry): one parameter block of 128 pairs.
Result readGlobalsFile (IInputStream& stream, KorvantalData::ParameterMap& globals);
Result writeGlobalsFile (const KorvantalData::ParameterMap& globals, IOutputStream& stream);

// Amp-model file: amp data, name and id, impulse, finishing filter, optional extra amp data.
Result readAmpFile (IInputStream& stream, KorvantalData::Amp& amp, uint32_t* index);

// Firmware-version text (the bundle's "ArchiveInfo.txt"): "SYSTEM_FW_VERSION : a.b.c" and
// "DSP_FW_VERSION : a.b.c". Reading resets the record first; a later line overrides an earlier one.
Result parseFirmwareVersionText (IInputStream& stream, KorvantalData::FirmwareVersionInfo& info);
Result writeFirmwareVersionText (const KorvantalData::FirmwareVersionInfo& info, IOutputStream& stream);

// DSP firmware images travel with the bit order of every byte reversed (".ldr" files, the
// bundle's firmware entry). Reading yields the bytes as the unit receives them.
Result readBitReversedStream (IInputStream& stream, std::vector<uint8_t>& bytes);
Result writeBitReversedStream (const std::vector<uint8_t>& bytes, IOutputStream& stream);

// Empties the vector and appends everything the stream delivers, in 256-byte reads, until a
// read yields nothing. On a failed read the vector keeps what arrived before.
Result readWholeStream (IInputStream& stream, std::vector<uint8_t>& bytes);
void reverseBitsInPlace (std::vector<uint8_t>& bytes);

// The 16-bit BSD checksum written after each segment: rotate right by one bit, add the byte.
uint16_t segmentChecksum (const uint8_t* bytes, size_t size);

} // namespace Korvantal
