#include "KorvantalDataFile.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Korvantal
{

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
// 32 bits keep their low 32 bits, the way the unit's own tools treat them.
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

// Like scanf's %x: white space, an optional sign, at least one hexadecimal digit. A value
// wider than 32 bits keeps its low 32 bits (its last eight digits).
bool scanHex (const char*& p, uint32_t& value)
{
    skipSpaces (p);
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;

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

uint32_t readWordAt (const std::vector<uint8_t>& segment, size_t offset)
{
    uint32_t word = 0;
    for (size_t i = 0; i < kWordBytes; ++i)
        word |= static_cast<uint32_t> (segment[offset + i]) << (8 * i);
    return word;
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
        result = writeDataFileLine (stream, kWordFormat, readWordAt (segment, w * kWordBytes));

    if (result.ok) result = writeDataFileLine (stream, kSegmentEndFormat, n);
    if (result.ok) result = writeEmptyLine (stream);
    if (result.ok) result = writeDataFileLine (stream, kChecksumFormat,
                                               static_cast<unsigned> (segmentChecksum (segment.data(), segment.size())));
    if (result.ok) result = writeEmptyLine (stream);
    return result;
}
} // namespace

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
