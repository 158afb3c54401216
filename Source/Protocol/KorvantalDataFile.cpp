#include "KorvantalDataFile.h"

#include "PresetUpgrade.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Korvantal
{

using namespace KorvantalData;

namespace
{
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';

constexpr const char* kTypeTexts[] = { "Preset data", "User Cabinet data", "Globals data", "Amp_Model data" };
constexpr uint32_t kTypeCount = sizeof (kTypeTexts) / sizeof (kTypeTexts[0]);

// Patterns follow scanf: a blank matches any run of white space, including none.
constexpr const char* kHeaderPattern = " # File Type : ";
constexpr const char* kIndexPattern = ", Index = ";
constexpr const char* kSegmentPattern = " # Data Segment ";
constexpr const char* kWordPattern = " 0x";

// The lines the writer produces.
constexpr const char* kHeaderWithIndexFormat = "# File Type: %s, Index = %d";
constexpr const char* kHeaderFormat = "# File Type: %s";
constexpr const char* kSegmentSizeFormat = "Data Segment %d: %d bytes excluding CRC";
constexpr const char* kSegmentStartFormat = "# Data Segment %d Start - Do Not Delete";
constexpr const char* kSegmentEndFormat = "# Data Segment %d End - Do Not Delete";
constexpr const char* kWordFormat = "0x%08x";
constexpr const char* kChecksumFormat = "CRC = 0x%04x";

constexpr size_t kWordBytes = 4;

// The segments of the typed files.
constexpr size_t kPresetFileMinSegments = 2;      // older ".pre": parameters, name, [cabinet impulse, cabinet name]
constexpr size_t kPresetFileCabinetSegments = 4;
constexpr size_t kArchivePresetSegments = 4;      // parameters, cabinet impulse, cabinet name, amp name and id
constexpr size_t kCabinetFileSegments = 2;        // impulse, name
constexpr size_t kGlobalsFileSegments = 1;
constexpr size_t kAmpFileSegments = 4;            // amp data, name and id, impulse, finishing filter
constexpr size_t kAmpFileExtraDataSegment = 4;    // optional fifth segment

// The older preset file's name block; only its first 16 words are read.
constexpr size_t kOldPresetNameBlockSize = kAmpNameAndIDBlockSize;

constexpr size_t kWholeStreamChunkSize = 256;

constexpr const char* kSystemVersionFormat = "SYSTEM_FW_VERSION : %u.%u.%u";
constexpr const char* kDspVersionFormat = "DSP_FW_VERSION : %u.%u.%u";
constexpr const char* kSystemVersionPattern = " SYSTEM_FW_VERSION : ";
constexpr const char* kDspVersionPattern = " DSP_FW_VERSION : ";

bool isSpace (char c)
{
    return std::isspace (static_cast<unsigned char> (c)) != 0;
}

void skipSpaces (const char*& p)
{
    while (isSpace (*p))
        ++p;
}

// Matches the pattern's literal text at p, advancing p past it; false when it differs.
bool matchPattern (const char*& p, const char* pattern)
{
    for (; *pattern != '\0'; ++pattern)
    {
        if (*pattern == ' ')
            skipSpaces (p);
        else if (*p == *pattern)
            ++p;
        else
            return false;
    }

    return true;
}

// Like scanf's %d: white space, an optional sign, at least one decimal digit. Numbers beyond
// 32 bits keep their low 32 bits.
bool scanDecimal (const char*& p, uint32_t& value)
{
    skipSpaces (p);
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;

    if (! std::isdigit (static_cast<unsigned char> (*p)))
        return false;

    uint32_t result = 0;
    for (; std::isdigit (static_cast<unsigned char> (*p)); ++p)
        result = result * 10u + static_cast<uint32_t> (*p - '0');

    value = negative ? 0u - result : result;
    return true;
}

int hexDigitValue (char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Like scanf's %x: white space, an optional sign, an optional "0x" prefix, at least one
// hexadecimal digit. A value wider than 32 bits keeps its low 32 bits (its last eight digits).
bool scanHex (const char*& p, uint32_t& value)
{
    skipSpaces (p);
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;

    // The prefix counts only with a digit after it; "0xg" reads as the digit 0.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexDigitValue (p[2]) >= 0)
        p += 2;

    if (hexDigitValue (*p) < 0)
        return false;

    uint32_t result = 0;
    for (int digit = hexDigitValue (*p); digit >= 0; digit = hexDigitValue (*++p))
        result = (result << 4) | static_cast<uint32_t> (digit);

    value = negative ? 0u - result : result;
    return true;
}

Result writeEmptyLine (IOutputStream& stream)
{
    return writeDataFileLine (stream, "%s", "");
}

// " # Data Segment %d": the words "Start" and "End" are never examined.
bool isSegmentLine (const std::string& line)
{
    const char* p = line.c_str();
    uint32_t number = 0;
    return matchPattern (p, kSegmentPattern) && scanDecimal (p, number);
}

bool scanWordLine (const std::string& line, uint32_t& word)
{
    const char* p = line.c_str();
    return matchPattern (p, kWordPattern) && scanHex (p, word);
}

void appendWord (std::vector<uint8_t>& segment, uint32_t word)
{
    for (size_t i = 0; i < kWordBytes; ++i)
        segment.push_back (static_cast<uint8_t> (word >> (8 * i)));
}

// One line, and whether the data ended while reading it. A source whose end test lags behind
// its reads would otherwise keep the reader looping on empty lines.
Result readLine (IInputStream& stream, std::string& line, bool& reachedEnd)
{
    line.clear();
    reachedEnd = false;

    for (;;)
    {
        char byte = 0;
        size_t got = 0;
        const Result result = stream.read (&byte, 1, got);

        if (! result.ok)
            return result;

        if (got == 0)
        {
            reachedEnd = true;
            return Result::success;
        }

        if (byte == kLineFeed)
            return Result::success;

        if (byte != kCarriageReturn)
            line.push_back (byte);
    }
}

struct Header
{
    bool typeConverted = false;
    bool indexConverted = false;
    const char* typeBegin = nullptr;
    size_t typeLength = 0;
    uint32_t index = 0;
};

// " # File Type : %[^,], Index = %d"
Header scanHeader (const std::string& line)
{
    Header header;
    const char* p = line.c_str();

    if (! matchPattern (p, kHeaderPattern))
        return header;

    header.typeBegin = p;
    while (*p != '\0' && *p != ',')
        ++p;
    header.typeLength = static_cast<size_t> (p - header.typeBegin);
    header.typeConverted = header.typeLength > 0;

    if (header.typeConverted)
        header.indexConverted = matchPattern (p, kIndexPattern) && scanDecimal (p, header.index);

    return header;
}

bool findType (const Header& header, uint32_t& type)
{
    if (header.typeLength > kMaxDataFileTypeTextLength)
        return false;

    for (uint32_t t = 0; t < kTypeCount; ++t)
    {
        if (std::strlen (kTypeTexts[t]) == header.typeLength
            && std::memcmp (kTypeTexts[t], header.typeBegin, header.typeLength) == 0)
        {
            type = t;
            return true;
        }
    }

    return false;
}

Result readHeader (IInputStream& stream, DataFile& file, std::string& line)
{
    for (;;)
    {
        bool reachedEnd = false;
        const Result result = readLine (stream, line, reachedEnd);
        if (! result.ok)
            return result;

        if (reachedEnd || stream.isExhausted())
            return KORVANTAL_ERROR ("Reached end of file looking for type");

        const Header header = scanHeader (line);
        if (! header.typeConverted)
            continue;

        uint32_t type = 0;
        if (! findType (header, type))
            return KORVANTAL_ERROR ("Invalid file type string");

        if (type == kDataFileTypeGlobals)
        {
            file.type = type;
            file.index = 0;
            return Result::success;
        }

        if (! header.indexConverted)
            return KORVANTAL_ERROR ("Missing index");

        file.type = type;
        file.index = header.index;
        return Result::success;
    }
}

// Reads word lines up to the segment's end line (or the next start line) into the segment.
Result readSegment (IInputStream& stream, std::vector<uint8_t>& segment, std::string& line)
{
    for (;;)
    {
        bool reachedEnd = false;
        const Result result = readLine (stream, line, reachedEnd);
        if (! result.ok)
            return result;

        if (reachedEnd || stream.isExhausted())
            return KORVANTAL_ERROR ("Reached end of file inside segment");

        if (isBlankLine (line))
            continue;

        if (isSegmentLine (line))
            return Result::success;

        uint32_t word = 0;
        if (scanWordLine (line, word))
            appendWord (segment, word);
    }
}

Result writeSegment (IOutputStream& stream, size_t number, const std::vector<uint8_t>& segment)
{
    const int n = static_cast<int> (number);
    Result result = writeEmptyLine (stream);
    if (result.ok) result = writeEmptyLine (stream);
    if (result.ok) result = writeDataFileLine (stream, kSegmentSizeFormat, n, static_cast<int> (segment.size()));
    if (result.ok) result = writeEmptyLine (stream);
    if (result.ok) result = writeDataFileLine (stream, kSegmentStartFormat, n);

    // Only whole words are written; the checksum still covers a trailing part word.
    const size_t wholeWords = segment.size() / kWordBytes;
    for (size_t w = 0; result.ok && w < wholeWords; ++w)
        result = writeDataFileLine (stream, kWordFormat, readWord (segment.data(), w * kWordBytes));

    if (result.ok) result = writeDataFileLine (stream, kSegmentEndFormat, n);
    if (result.ok) result = writeEmptyLine (stream);
    if (result.ok) result = writeDataFileLine (stream, kChecksumFormat,
                                               static_cast<unsigned> (segmentChecksum (segment.data(), segment.size())));
    if (result.ok) result = writeEmptyLine (stream);
    return result;
}

// The typed readers' common start: parse, then check segment count before type.
Result readTypedFile (IInputStream& stream, DataFile& file, size_t minimumSegments, uint32_t type,
                      const char* tooFewMessage, const char* wrongTypeMessage)
{
    const Result result = readDataFile (stream, file);
    if (! result.ok)
        return result;

    if (file.segments.size() < minimumSegments)
        return KORVANTAL_ERROR ("%s", tooFewMessage);

    if (file.type != type)
        return KORVANTAL_ERROR ("%s", wrongTypeMessage);

    return Result::success;
}

void storeIndex (const DataFile& file, uint32_t* index)
{
    if (index != nullptr)
        *index = file.index;
}

// " SYSTEM_FW_VERSION : %d . %d . %d" and its DSP twin: all three numbers must convert.
bool scanVersionLine (const std::string& line, const char* pattern, std::array<uint8_t, 4>& version)
{
    const char* p = line.c_str();
    uint32_t major = 0, minor = 0, patch = 0;

    if (! (matchPattern (p, pattern) && scanDecimal (p, major) && matchPattern (p, " .")
           && scanDecimal (p, minor) && matchPattern (p, " .") && scanDecimal (p, patch)))
        return false;

    version = { static_cast<uint8_t> (major), static_cast<uint8_t> (minor), static_cast<uint8_t> (patch), 0 };
    return true;
}

uint8_t reverseBits (uint8_t b)
{
    b = static_cast<uint8_t> ((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t> ((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t> ((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}
} // namespace

// ---- segment helpers

std::vector<uint8_t>& DataFile::sizedSegment (size_t i, size_t size)
{
    if (segments.size() <= i)
        segments.resize (i + 1);

    segments[i].resize (size, 0);
    return segments[i];
}

const uint8_t* DataFile::segmentOfAtLeast (size_t i, size_t minimumSize) const
{
    if (i >= segments.size() || segments[i].size() < minimumSize)
        return nullptr;

    return segments[i].data();
}

Result DataFile::readSegmentCabinetIR (size_t i, Impulse& impulse) const
{
    const uint8_t* block = segmentOfAtLeast (i, kCabinetIRBlockSize);
    if (block == nullptr)
        return KORVANTAL_ERROR ("Segment too small");

    return decodeCabinetIR (block, impulse);
}

Result DataFile::readSegmentName (size_t i, std::string& name) const
{
    const uint8_t* block = segmentOfAtLeast (i, kCabinetNameBlockSize);
    if (block == nullptr)
        return KORVANTAL_ERROR ("Segment too small");

    return decodeName (block, name, kCabinetNameLength);
}

Result DataFile::readSegmentAmpNameAndID (size_t i, AmpNameAndID& nameAndID) const
{
    const uint8_t* block = segmentOfAtLeast (i, kAmpNameAndIDBlockSize);
    if (block == nullptr)
        return KORVANTAL_ERROR ("Segment too small");

    return decodeAmpNameAndID (block, nameAndID);
}

Result DataFile::writeSegmentParams (const ParameterMap& parameters, size_t pairCount)
{
    return encodeParamBlock (parameters, sizedSegment (0, pairCount * kParamPairSize).data(), pairCount);
}

Result DataFile::writeSegmentCabinetIR (size_t i, const Impulse& impulse)
{
    return encodeCabinetIR (impulse, sizedSegment (i, kCabinetIRBlockSize).data());
}

Result DataFile::writeSegmentName (size_t i, const std::string& name)
{
    return encodeNameSegment (name, sizedSegment (i, kCabinetNameBlockSize).data());
}

Result DataFile::writeSegmentAmpNameAndID (size_t i, const AmpNameAndID& nameAndID)
{
    return encodeAmpNameAndID (nameAndID, sizedSegment (i, kAmpNameAndIDBlockSize).data());
}

// ---- the text format

const char* dataFileTypeText (uint32_t type)
{
    return type < kTypeCount ? kTypeTexts[type] : nullptr;
}

Result readDataFileLine (IInputStream& stream, std::string& line)
{
    bool reachedEnd = false;
    return readLine (stream, line, reachedEnd);
}

bool isBlankLine (const std::string& line)
{
    for (char c : line)
        if (! isSpace (c))
            return false;
    return true;
}

Result writeDataFileLine (IOutputStream& stream, const char* format, ...)
{
    char text[kMaxDataFileLineLength + 1];

    va_list args;
    va_start (args, format);
    const int length = std::vsnprintf (text, sizeof (text), format, args);
    va_end (args);

    const size_t size = length < 0 ? 0 : std::min (static_cast<size_t> (length), kMaxDataFileLineLength);
    const Result result = stream.write (text, size);
    if (! result.ok)
        return result;

    return stream.write (&kLineFeed, 1);
}

Result readDataFile (IInputStream& stream, DataFile& file)
{
    file.segments.clear();

    std::string line;
    Result result = readHeader (stream, file, line);
    if (! result.ok)
        return result;

    bool reachedEnd = false;
    while (! reachedEnd && ! stream.isExhausted())
    {
        result = readLine (stream, line, reachedEnd);
        if (! result.ok)
            return result;

        if (isBlankLine (line) || ! isSegmentLine (line))
            continue;

        std::vector<uint8_t> segment;
        result = readSegment (stream, segment, line);
        if (! result.ok)
            return result;

        file.segments.push_back (std::move (segment));
    }

    return Result::success;
}

Result writeDataFile (const DataFile& file, IOutputStream& stream)
{
    const char* typeText = dataFileTypeText (file.type);
    if (typeText == nullptr)
        return KORVANTAL_ERROR ("Invalid file type %u", file.type);

    Result result = file.type == kDataFileTypeGlobals
                        ? writeDataFileLine (stream, kHeaderFormat, typeText)
                        : writeDataFileLine (stream, kHeaderWithIndexFormat, typeText, static_cast<int> (file.index));

    if (result.ok)
        result = writeEmptyLine (stream);

    for (size_t i = 0; result.ok && i < file.segments.size(); ++i)
        result = writeSegment (stream, i, file.segments[i]);

    return result;
}

// ---- typed files

Result readPresetFile (IInputStream& stream, Preset& preset, uint32_t* index)
{
    DataFile file;
    Result result = readTypedFile (stream, file, kPresetFileMinSegments, kDataFileTypePreset,
                                   "Too few segments in preset file", "Not a preset file");
    if (! result.ok)
        return result;

    storeIndex (file, index);

    result = decodeParamBlock (file.segments[0].data(), file.segments[0].size(), preset.parameters);
    if (! result.ok)
        return result;

    const uint8_t* nameBlock = file.segmentOfAtLeast (1, kOldPresetNameBlockSize);
    if (nameBlock == nullptr)
        return KORVANTAL_ERROR ("Segment too small");

    result = decodeName (nameBlock, preset.name, kOldPresetNameLength);
    if (! result.ok)
        return result;

    // A third segment alone is no cabinet: it takes both the impulse and the name.
    if (file.segments.size() < kPresetFileCabinetSegments)
    {
        preset.cabinet.reset();
    }
    else
    {
        preset.cabinet = std::make_unique<Cabinet>();
        result = file.readSegmentCabinetIR (2, preset.cabinet->impulse);
        if (result.ok)
            result = file.readSegmentName (3, preset.cabinet->name);
        if (! result.ok)
            return result;
    }

    return upgradePresetParameters (preset.parameters);
}

Result readArchivePreset (IInputStream& stream, FullTovarekMk2Preset& preset, uint32_t* index)
{
    DataFile file;
    Result result = readTypedFile (stream, file, kArchivePresetSegments, kDataFileTypePreset,
                                   "Too few segments in preset file", "Not a preset file");
    if (! result.ok)
        return result;

    storeIndex (file, index);

    result = decodeParamBlock (file.segments[0].data(), file.segments[0].size(), preset.parameters);
    if (result.ok) result = file.readSegmentCabinetIR (1, preset.cabinet.impulse);
    if (result.ok) result = file.readSegmentName (2, preset.cabinet.name);
    if (result.ok) result = file.readSegmentAmpNameAndID (3, preset.ampNameAndID);
    return result;
}

Result writeArchivePreset (const FullTovarekMk2Preset& preset, IOutputStream& stream, uint32_t index)
{
    DataFile file (kDataFileTypePreset, index, kArchivePresetSegments);

    Result result = file.writeSegmentParams (preset.parameters, kPresetParamPairs);
    if (result.ok) result = file.writeSegmentCabinetIR (1, preset.cabinet.impulse);
    if (result.ok) result = file.writeSegmentName (2, preset.cabinet.name);
    if (result.ok) result = file.writeSegmentAmpNameAndID (3, preset.ampNameAndID);
    if (! result.ok)
        return result;

    return writeDataFile (file, stream);
}

Result readCabinetFile (IInputStream& stream, Cabinet& cabinet, uint32_t* index)
{
    DataFile file;
    Result result = readTypedFile (stream, file, kCabinetFileSegments, kDataFileTypeCabinet,
                                   "Too few segments in cabinet file", "Not a cabinet file");
    if (! result.ok)
        return result;

    storeIndex (file, index);

    result = file.readSegmentCabinetIR (0, cabinet.impulse);
    if (result.ok)
        result = file.readSegmentName (1, cabinet.name);
    return result;
}

Result readGlobalsFile (IInputStream& stream, ParameterMap& globals)
{
    DataFile file;
    const Result result = readTypedFile (stream, file, kGlobalsFileSegments, kDataFileTypeGlobals,
                                         "Too few segments in globals file", "Not a globals file");
    if (! result.ok)
        return result;

    return decodeParamBlock (file.segments[0].data(), file.segments[0].size(), globals);
}

Result writeGlobalsFile (const ParameterMap& globals, IOutputStream& stream)
{
    DataFile file (kDataFileTypeGlobals, 0, kGlobalsFileSegments);

    const Result result = file.writeSegmentParams (globals, kGlobalsParamPairs);
    if (! result.ok)
        return result;

    return writeDataFile (file, stream);
}

Result readAmpFile (IInputStream& stream, Amp& amp, uint32_t* index)
{
    DataFile file;
    Result result = readTypedFile (stream, file, kAmpFileSegments, kDataFileTypeAmpModel,
                                   "Too few segments in amp file", "Not an amp file");
    if (! result.ok)
        return result;

    storeIndex (file, index);

    const uint8_t* dataBlock = file.segmentOfAtLeast (0, kAmpDataBlockSize);
    if (dataBlock == nullptr)
        return KORVANTAL_ERROR ("Segment too small");
    result = decodeAmpData (dataBlock, amp.data);
    if (! result.ok)
        return result;

    result = file.readSegmentAmpNameAndID (1, amp.nameAndID);
    if (result.ok)
        result = file.readSegmentCabinetIR (2, amp.impulse);
    if (! result.ok)
        return result;

    const uint8_t* filterBlock = file.segmentOfAtLeast (3, kFinishingFilterBlockSize);
    if (filterBlock == nullptr)
        return KORVANTAL_ERROR ("Segment too small");
    result = decodeFinishingFilter (filterBlock, amp.finishingFilter);
    if (! result.ok)
        return result;

    if (file.segments.size() <= kAmpFileExtraDataSegment)
    {
        amp.extraData.reset();
        return Result::success;
    }

    amp.extraData = std::make_unique<AmpData>();
    const uint8_t* extraBlock = file.segmentOfAtLeast (kAmpFileExtraDataSegment, kAmpDataBlockSize);
    if (extraBlock == nullptr)
        return KORVANTAL_ERROR ("Segment too small");

    return decodeAmpData (extraBlock, *amp.extraData);
}

Result parseFirmwareVersionText (IInputStream& stream, FirmwareVersionInfo& info)
{
    info = FirmwareVersionInfo {};

    std::string line;
    bool reachedEnd = false;
    while (! reachedEnd && ! stream.isExhausted())
    {
        const Result result = readLine (stream, line, reachedEnd);
        if (! result.ok)
            return result;

        if (! scanVersionLine (line, kSystemVersionPattern, info.systemVersion))
            scanVersionLine (line, kDspVersionPattern, info.dspVersion);
    }

    return Result::success;
}

Result writeFirmwareVersionText (const FirmwareVersionInfo& info, IOutputStream& stream)
{
    const auto& s = info.systemVersion;
    const auto& d = info.dspVersion;

    const Result result = writeDataFileLine (stream, kSystemVersionFormat, unsigned (s[0]), unsigned (s[1]), unsigned (s[2]));
    if (! result.ok)
        return result;

    return writeDataFileLine (stream, kDspVersionFormat, unsigned (d[0]), unsigned (d[1]), unsigned (d[2]));
}

Result readWholeStream (IInputStream& stream, std::vector<uint8_t>& bytes)
{
    bytes.clear();

    uint8_t chunk[kWholeStreamChunkSize];
    for (;;)
    {
        size_t got = 0;
        const Result result = stream.read (chunk, sizeof (chunk), got);
        if (! result.ok)
            return result;

        if (got == 0)
            return Result::success;

        bytes.insert (bytes.end(), chunk, chunk + std::min (got, sizeof (chunk)));
    }
}

void reverseBitsInPlace (std::vector<uint8_t>& bytes)
{
    for (auto& b : bytes)
        b = reverseBits (b);
}

Result readBitReversedStream (IInputStream& stream, std::vector<uint8_t>& bytes)
{
    const Result result = readWholeStream (stream, bytes);
    if (! result.ok)
        return result;

    reverseBitsInPlace (bytes);
    return Result::success;
}

Result writeBitReversedStream (const std::vector<uint8_t>& bytes, IOutputStream& stream)
{
    std::vector<uint8_t> reversed (bytes);
    reverseBitsInPlace (reversed);
    return stream.write (reversed.data(), reversed.size());
}

uint16_t segmentChecksum (const uint8_t* bytes, size_t size)
{
    uint16_t sum = 0;
    for (size_t i = 0; i < size; ++i)
    {
        sum = static_cast<uint16_t> ((sum >> 1) | ((sum & 1u) << 15));
        sum = static_cast<uint16_t> (sum + bytes[i]);
    }
    return sum;
}

} // namespace Korvantal
