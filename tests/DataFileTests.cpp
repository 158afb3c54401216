#include "ByteStreams.h"
#include "KorvantalDataFile.h"

#include <functional>
#include <gtest/gtest.h>

using namespace Korvantal;
using TestSupport::ByteInputStream;
using TestSupport::ByteOutputStream;

namespace
{
std::vector<uint8_t> bytes (std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back (static_cast<uint8_t> (v));
    return out;
}

std::string writeToText (const DataFile& file)
{
    ByteOutputStream out;
    const Result result = writeDataFile (file, out);
    EXPECT_TRUE (result.ok) << result.message;
    return out.text;
}

Result readFromText (const std::string& text, DataFile& file)
{
    ByteInputStream in (text);
    return readDataFile (in, file);
}
} // namespace

// ---------------------------------------------------------------- the writer

TEST (DataFileWriter, writesEveryLineOfATwoSegmentFileExactly)
{
    DataFile file (kDataFileTypePreset, 3, 2);
    file.segments[0] = bytes ({ 0x01, 0x00, 0x00, 0x00, 0xEF, 0xBE, 0xAD, 0xDE });
    file.segments[1] = bytes ({ 'a', 'b', 'c' });

    EXPECT_EQ (writeToText (file),
               "# File Type: Preset data, Index = 3\n"
               "\n"
               "\n"
               "\n"
               "Data Segment 0: 8 bytes excluding CRC\n"
               "\n"
               "# Data Segment 0 Start - Do Not Delete\n"
               "0x00000001\n"
               "0xdeadbeef\n"
               "# Data Segment 0 End - Do Not Delete\n"
               "\n"
               "CRC = 0xe381\n"
               "\n"
               "\n"
               "\n"
               "Data Segment 1: 3 bytes excluding CRC\n"
               "\n"
               "# Data Segment 1 Start - Do Not Delete\n"
               "# Data Segment 1 End - Do Not Delete\n"
               "\n"
               "CRC = 0x40ac\n"
               "\n");
}

TEST (DataFileWriter, writesHeadersPartWordsAndChecksumsExactly)
{
    DataFile partWord (kDataFileTypePreset, 0, 1);
    partWord.segments[0] = bytes ({ 0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB });
    const std::string emptySegment = "\n\n\nData Segment 0: 0 bytes excluding CRC\n\n# Data Segment 0 Start - Do Not Delete\n"
                                     "# Data Segment 0 End - Do Not Delete\n\nCRC = 0x0000\n\n";
    const std::pair<DataFile, std::string> rows[] = {
        { DataFile (kDataFileTypeGlobals, 9, 0), "# File Type: Globals data\n\n" }, // no index
        { DataFile (kDataFileTypeCabinet, 1, 0), "# File Type: User Cabinet data, Index = 1\n\n" },
        { DataFile (kDataFileTypeAmpModel, 12, 0), "# File Type: Amp_Model data, Index = 12\n\n" },
        { DataFile (kDataFileTypePreset, 0xFFFFFFFF, 0), "# File Type: Preset data, Index = -1\n\n" }, // signed
        { DataFile (kDataFileTypePreset, 0, 1), "# File Type: Preset data, Index = 0\n" + emptySegment },
        // Only whole words are written; the checksum (Python's BSD sum) covers all six bytes.
        { partWord, "# File Type: Preset data, Index = 0\n\n\n\nData Segment 0: 6 bytes excluding CRC\n\n"
                    "# Data Segment 0 Start - Do Not Delete\n0x12345678\n# Data Segment 0 End - Do Not Delete\n\n"
                    "CRC = 0x2124\n\n" },
    };

    for (const auto& [file, text] : rows)
        EXPECT_EQ (writeToText (file), text);
}

TEST (DataFileWriter, writesEachLineAsTextCutAt511CharactersThenALineFeedInASecondWrite)
{
    ByteOutputStream out;
    ASSERT_TRUE (writeDataFileLine (out, "x=%d", 42).ok);
    EXPECT_EQ (out.writes, (std::vector<std::string> { "x=42", "\n" }));

    const std::string longText (600, 'z');
    ASSERT_TRUE (writeDataFileLine (out, "%s", longText.c_str()).ok);
    EXPECT_EQ (out.text, "x=42\n" + std::string (511, 'z') + "\n");
}

TEST (DataFileWriter, stopsAtTheFirstRefusedWriteAndKeepsWhatWasWritten)
{
    DataFile file (kDataFileTypePreset, 0, 1);
    file.segments[0] = bytes ({ 1, 2, 3, 4 });

    ByteOutputStream out (3); // header text, its line feed, then the empty line is refused
    const Result result = writeDataFile (file, out);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Stream write failed");
    EXPECT_EQ (out.text, "# File Type: Preset data, Index = 0\n");
}

TEST (DataFileWriter, refusesATypeItHasNoTextFor)
{
    ByteOutputStream out;
    EXPECT_FALSE (writeDataFile (DataFile (7, 0, 0), out).ok);
    EXPECT_TRUE (out.text.empty());
}

// ---------------------------------------------------------------- the checksum

TEST (SegmentChecksum, rotatesTheLowBitIntoTheTopBeforeEachAdd)
{
    // 0xFF, 0x00, 0x00: 0xFF; rotated 0x807F; rotated 0xC03F.
    const std::pair<std::vector<uint8_t>, uint16_t> rows[] = {
        { bytes ({ 'a', 'b', 'c' }), 0x40AC }, { bytes ({ 0x01, 0x00, 0x00, 0x00 }), 0x2000 },
        { bytes ({ 0xFF, 0x00, 0x00 }), 0xC03F }, { {}, 0x0000 },
    };
    for (const auto& [data, sum] : rows)
        EXPECT_EQ (segmentChecksum (data.data(), data.size()), sum) << data.size();
}

// ---------------------------------------------------------------- lines

TEST (DataFileLine, dropsCarriageReturnsAnywhereAndEndsAtALineFeedReadOneByteAtATime)
{
    ByteInputStream in ("a\rb\r\ncd\n\nlast");
    std::string line = "stale";
    ASSERT_TRUE (readDataFileLine (in, line).ok);
    EXPECT_EQ (line, "ab");
    EXPECT_EQ (in.readCalls, 5u); // nothing taken past the line feed
    EXPECT_EQ (in.position(), 5u);
    ASSERT_TRUE (readDataFileLine (in, line).ok);
    EXPECT_EQ (line, "cd");
    ASSERT_TRUE (readDataFileLine (in, line).ok);
    EXPECT_EQ (line, "");
    ASSERT_TRUE (readDataFileLine (in, line).ok);
    EXPECT_EQ (line, "last");
    EXPECT_TRUE (in.isExhausted());
    ASSERT_TRUE (readDataFileLine (in, line).ok);
    EXPECT_EQ (line, "");
}

TEST (DataFileLine, treatsEmptyAndWhiteSpaceOnlyLinesAsBlank)
{
    EXPECT_TRUE (isBlankLine (""));
    EXPECT_TRUE (isBlankLine (" \t \v\f"));
    EXPECT_FALSE (isBlankLine ("  x "));
}

// ---------------------------------------------------------------- reading back

TEST (DataFileReader, readsBackWhatTheWriterWroteForEveryType)
{
    std::srand (1234);
    for (int round = 0; round < 20; ++round)
    {
        const auto type = static_cast<uint32_t> (round % 4);
        DataFile file (type, static_cast<uint32_t> (std::rand()), static_cast<size_t> (std::rand() % 5));
        for (auto& segment : file.segments) // some empty
        {
            segment.resize (4 * static_cast<size_t> (std::rand() % 300));
            for (auto& b : segment)
                b = static_cast<uint8_t> (std::rand());
        }

        DataFile back (kDataFileTypeGlobals, 77, 9);
        ASSERT_TRUE (readFromText (writeToText (file), back).ok);
        EXPECT_EQ (back.type, type);
        EXPECT_EQ (back.index, type == kDataFileTypeGlobals ? 0u : file.index);
        EXPECT_EQ (back.segments, file.segments);
    }
}

TEST (DataFileReader, looksOnlyAtMarkerAndWordLinesAsScanfWould)
{
    const std::string header = "# File Type: Preset data, Index = 0\n";
    const std::pair<std::string, std::vector<std::vector<uint8_t>>> rows[] = {
        // Another tool's file: text before the header, Windows line ends, blank lines inside
        // segments, no size or checksum lines.
        { "Exported by hand\r\n\r\n# File Type: Preset data, Index = 0\r\n# Data Segment 0 Start - Do Not Delete\r\n"
          "0x04030201\r\n\r\n   \t\r\n0xdeadbeef\r\n# Data Segment 0 End - Do Not Delete\r\n"
          "# Data Segment 1 Start - Do Not Delete\r\n# Data Segment 1 End - Do Not Delete\r\ntrailing comment\r\n",
          { bytes ({ 0x01, 0x02, 0x03, 0x04, 0xEF, 0xBE, 0xAD, 0xDE }), {} } },
        // A wrong checksum line changes nothing: it is never read.
        { header + "# Data Segment 0 Start\n0x09090909\n# Data Segment 0 End\n\nCRC = 0xffff\n\n", { bytes ({ 9, 9, 9, 9 }) } },
        // Short words, least significant byte first; "1234", "0x" and other lines are no words.
        { header + "# Data Segment 0 Start\n0x1\n1234\n  0xAbC  trailing\n0x\n0X5\n# Data Segment 0 End\n\n",
          { bytes ({ 0x01, 0, 0, 0, 0xBC, 0x0A, 0, 0 }) } },
        // A wider word keeps its low 32 bits.
        { header + "# Data Segment 0 Start\n0x123456789a\n0x000000000000000b\n# Data Segment 0 End\n\n",
          { bytes ({ 0x9A, 0x78, 0x56, 0x34, 0x0B, 0, 0, 0 }) } },
        // A doubled prefix is read past like scanf's %x; a prefix without a digit after it reads 0.
        { header + "# Data Segment 0 Start\n0x0x1f\n0x 0X5\n0x-0x1\n0x0xg\n# Data Segment 0 End\n\n",
          { bytes ({ 0x1F, 0, 0, 0, 0x05, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0 }) } },
        // A second start line ends the first segment; none begins until the next marker line.
        { header + "# Data Segment 0 Start\n# Data Segment 1 Start\n0x11\n# Data Segment 7 Start\n0x22\n# Data Segment 1 End\n\n",
          { {}, bytes ({ 0x22, 0, 0, 0 }) } },
        // White space as scanf matches it, in the header and the marker lines.
        { "   #File   Type:Preset data,Index=0\n\t#DataSegment   3\n 0x7\n#Data Segment 3\n\n", { bytes ({ 7, 0, 0, 0 }) } },
        { header + "# Data Segment Start\n0x1\n", {} }, // a marker without a number
        { header + "\n", {} },                          // the writer's file without segments
    };

    for (const auto& [text, segments] : rows)
    {
        DataFile file (kDataFileTypeAmpModel, 3, 2);
        const Result result = readFromText (text, file);
        EXPECT_TRUE (result.ok) << text << result.message;
        EXPECT_EQ (file.type, kDataFileTypePreset) << text;
        EXPECT_EQ (file.index, 0u) << text;
        EXPECT_EQ (file.segments, segments) << text;
    }
}

// ---------------------------------------------------------------- the header

TEST (DataFileHeader, findsTheHeaderAfterOtherLinesAndChecksItsTypeAndIndex)
{
    const std::string typeTooLong = "Preset data" + std::string (300, 'x');
    const std::string huge (1 << 20, 'y');
    const std::tuple<std::string, std::string, uint32_t, uint32_t> rows[] = {
        // text, failure ("" for none), type, index
        { "garbage\n# File Type\n#File Type: , Index = 3\n\n# File Type: User Cabinet data, Index = 2\n\n", "", kDataFileTypeCabinet, 2 },
        { "# File Type: Globals data, Index = 5\n\n", "", kDataFileTypeGlobals, 0 },
        { "# File Type: Amp_Model data,Index=-2\n\n", "", kDataFileTypeAmpModel, 0xFFFFFFFE },
        { "# File Type: Preset data\n\n", "Missing index", 0, 0 },
        { "# File Type: Amp_Model data, Index = x\n\n", "Missing index", 0, 0 },
        { "# File Type: User Cabinet data, Idx = 1\n\n", "Missing index", 0, 0 },
        { "# File Type: Preset data , Index = 0\n\n", "Invalid file type string", 0, 0 }, // the blank belongs to the text
        { "# File Type: preset data, Index = 0\n\n", "Invalid file type string", 0, 0 },
        { "# File Type: Globals\n\n", "Invalid file type string", 0, 0 },
        { "# File Type: " + typeTooLong + ", Index = 0\n\n", "Invalid file type string", 0, 0 },
        { "# File Type: " + huge + "\n\n", "Invalid file type string", 0, 0 },
        { "# File Type: Preset data, Index = 0\n", "Reached end of file looking for type", 0, 0 },
        { "# File Type: Preset data, Index = 0", "Reached end of file looking for type", 0, 0 },
        { "", "Reached end of file looking for type", 0, 0 },
        { "no header here\n\n\n", "Reached end of file looking for type", 0, 0 },
        { "# File Type: Preset data, Index = 0\n# Data Segment 0 Start\n0x1\n# Data Segment 0 End\n",
          "Reached end of file inside segment", 0, 0 }, // the end line is the last line
    };

    for (const auto& [text, message, type, index] : rows)
    {
        DataFile file;
        const Result result = readFromText (text, file);
        EXPECT_EQ (result.message, message) << text.substr (0, 60);
        EXPECT_EQ (result.ok, message.empty());
        EXPECT_TRUE (! result.ok || (file.type == type && file.index == index)) << text.substr (0, 60);
        EXPECT_TRUE (file.segments.empty());
    }
}

TEST (DataFileReader, failsWhenTheInputEndsInsideASegmentAndKeepsTheSegmentsBefore)
{
    DataFile file;
    const Result result = readFromText ("# File Type: Preset data, Index = 0\n"
                                        "# Data Segment 0 Start\n0x1\n# Data Segment 0 End\n\n"
                                        "# Data Segment 1 Start\n0x2\n0x3",
                                        file);
    EXPECT_EQ (result.message, "Reached end of file inside segment");
    ASSERT_EQ (file.segments.size(), 1u);
    EXPECT_EQ (file.segments[0], bytes ({ 1, 0, 0, 0 }));
}

TEST (DataFileReader, passesAFailedReadUpWherever)
{
    DataFile own (kDataFileTypePreset, 0, 2);
    own.segments[0] = bytes ({ 1, 2, 3, 4 });
    const std::string text = writeToText (own);

    for (size_t failAt = 0; failAt < text.size(); failAt += 7)
    {
        ByteInputStream in (text, failAt);
        DataFile file;
        const Result result = readDataFile (in, file);
        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, "Stream read failed") << failAt;
    }
}

namespace
{
// A source whose end test never turns true; only its reads report the end.
class LaggingEndStream : public IInputStream
{
public:
    explicit LaggingEndStream (std::string text) : _inner (std::move (text)) {}
    Result read (void* buffer, size_t size, size_t& bytesRead) override { return _inner.read (buffer, size, bytesRead); }
    bool isExhausted() override { return false; }

private:
    ByteInputStream _inner;
};
} // namespace

TEST (DataFileReader, stopsAtTheEndOfASourceWhoseEndTestLags)
{
    DataFile file;
    LaggingEndStream noHeader ("nothing\n");
    EXPECT_EQ (readDataFile (noHeader, file).message, "Reached end of file looking for type");

    LaggingEndStream complete ("# File Type: Preset data, Index = 1\n\n# Data Segment 0 Start\n0x1\n# Data Segment 0 End\n\n");
    ASSERT_TRUE (readDataFile (complete, file).ok);
    EXPECT_EQ (file.segments.size(), 1u);
}

// ================================================================ typed files

using namespace Korvantal::KorvantalData;

namespace
{
DataFile parse (const std::string& text)
{
    DataFile file;
    const Result result = readFromText (text, file);
    EXPECT_TRUE (result.ok) << result.message;
    return file;
}

float randomFloat()
{
    return static_cast<float> (std::rand()) / static_cast<float> (RAND_MAX) * 2.0f - 1.0f;
}

std::string randomName (size_t length)
{
    std::string name;
    for (size_t i = 0; i < length; ++i)
        name.push_back (static_cast<char> ('A' + std::rand() % 26));
    return name;
}

FullTovarekMk2Preset randomPreset()
{
    FullTovarekMk2Preset preset;
    const int count = std::rand() % 513;
    for (int i = 0; i < count; ++i)
        preset.parameters[static_cast<uint32_t> (std::rand() % 100000)] = randomFloat();
    while (preset.parameters.size() > kPresetParamPairs)
        preset.parameters.erase (preset.parameters.begin());
    for (auto& channel : preset.cabinet.impulse)
        for (auto& sample : channel)
            sample = randomFloat();
    preset.cabinet.name = randomName (static_cast<size_t> (std::rand() % 16));
    preset.ampNameAndID.id = static_cast<uint32_t> (std::rand());
    preset.ampNameAndID.name = randomName (static_cast<size_t> (std::rand() % 17));
    return preset;
}

// A file whose segments have the given sizes, each byte a function of its position.
DataFile fileWithSegments (uint32_t type, uint32_t index, std::initializer_list<size_t> sizes)
{
    DataFile file (type, index, 0);
    for (size_t size : sizes)
    {
        std::vector<uint8_t> segment (size, 0);
        for (size_t i = 0; i < size; i += 4)
            segment[i] = static_cast<uint8_t> ('a' + (i / 4 + file.segments.size()) % 26);
        file.segments.push_back (segment);
    }
    return file;
}

template <typename Reader>
Result readTyped (const DataFile& file, Reader reader)
{
    ByteInputStream in (writeToText (file));
    return reader (in);
}

// A parameter block built byte by byte: (id, value bits) pairs, then end pairs (0xFFFFFFFF, 0).
std::vector<uint8_t> paramBlock (std::initializer_list<std::pair<uint32_t, uint32_t>> pairs, size_t pairCount)
{
    std::vector<uint8_t> block;
    auto word = [&] (uint32_t w) {
        for (int shift = 0; shift < 32; shift += 8)
            block.push_back (static_cast<uint8_t> (w >> shift));
    };
    for (const auto& [id, bits] : pairs)
        word (id), word (bits);
    while (block.size() < 8 * pairCount)
        word (0xFFFFFFFF), word (0);
    return block;
}

std::vector<uint8_t> nameWords (const std::string& name, size_t blockSize, size_t firstWord = 0)
{
    std::vector<uint8_t> block (blockSize, 0);
    for (size_t i = 0; i < name.size(); ++i)
        block[(firstWord + i) * 4] = static_cast<uint8_t> (name[i]);
    return block;
}
} // namespace

// ---------------------------------------------------------------- four-segment preset files

TEST (ArchivePresetFile, readsRandomPresetsBackWithTheirIndex)
{
    std::srand (99);
    for (int round = 0; round < 10; ++round)
    {
        const FullTovarekMk2Preset preset = randomPreset();
        const auto index = static_cast<uint32_t> (round);

        ByteOutputStream out;
        ASSERT_TRUE (writeArchivePreset (preset, out, index).ok);

        // The members the file does not carry stay as they were.
        FullTovarekMk2Preset back;
        back.ampData.text1 = "kept";
        back.finishingFilter[5] = 0x12345678;
        uint32_t readIndex = 999;
        ByteInputStream in (out.text);
        ASSERT_TRUE (readArchivePreset (in, back, &readIndex).ok);

        EXPECT_EQ (readIndex, index);
        EXPECT_EQ (back.parameters, preset.parameters);
        EXPECT_EQ (back.cabinet.impulse, preset.cabinet.impulse);
        EXPECT_EQ (back.cabinet.name, preset.cabinet.name);
        EXPECT_EQ (back.ampNameAndID.id, preset.ampNameAndID.id);
        EXPECT_EQ (back.ampNameAndID.name, preset.ampNameAndID.name);
        EXPECT_EQ (back.ampData.text1, "kept");
        EXPECT_EQ (back.finishingFilter[5], 0x12345678u);
    }
}

TEST (ArchivePresetFile, writesFourSegmentsOfTheBlockSizes)
{
    FullTovarekMk2Preset preset;
    preset.parameters[7] = 0.5f;
    preset.cabinet.name = "A long cabinet name";
    preset.ampNameAndID = { 0x0102, "Amp" };

    ByteOutputStream out;
    ASSERT_TRUE (writeArchivePreset (preset, out, 6).ok);
    EXPECT_EQ (out.text.rfind ("# File Type: Preset data, Index = 6\n", 0), 0u);

    const DataFile file = parse (out.text);
    ASSERT_EQ (file.segments.size(), 4u);
    EXPECT_EQ (file.segments[0], paramBlock ({ { 7, 0x3F000000 } }, 512));
    EXPECT_EQ (file.segments[1].size(), 8192u);
    EXPECT_EQ (file.segments[2], nameWords ("A long cabinet ", 64));
    auto amp = nameWords ("Amp", 68, 1);
    amp[0] = 0x02;
    amp[1] = 0x01;
    EXPECT_EQ (file.segments[3], amp);
    EXPECT_NE (out.text.find ("Data Segment 3: 68 bytes excluding CRC\n"), std::string::npos);
}

TEST (ArchivePresetFile, decodesAShortParameterSegmentButNoShortBlock)
{
    FullTovarekMk2Preset preset;
    DataFile file = fileWithSegments (kDataFileTypePreset, 2, { 0, 8192, 64, 67 });
    file.segments[0] = paramBlock ({ { 3, 0x3FC00000 } }, 2);

    uint32_t index = 0;
    const Result result = readTyped (file, [&] (IInputStream& in) { return readArchivePreset (in, preset, &index); });
    EXPECT_EQ (result.message, "Segment too small");
    EXPECT_EQ (index, 2u);
    EXPECT_EQ (preset.parameters, (ParameterMap { { 3, 1.5f } }));
    EXPECT_EQ (preset.cabinet.name, std::string ("cdefghijklmnopq"));
}

// ---------------------------------------------------------------- older preset files

TEST (OldPresetFile, readsTheNameFromTheFirstSixteenWords)
{
    DataFile file (kDataFileTypePreset, 3, 2);
    file.segments[0] = paramBlock ({ { 5, 0x40000000 }, { 238, 0x48C04000 } }, 4); // 2.0, 393728.0
    file.segments[1] = nameWords ("SeventeenLetters!", 68);

    Preset preset;
    preset.cabinet = std::make_unique<Cabinet>();
    uint32_t index = 0;
    ASSERT_TRUE (readTyped (file, [&] (IInputStream& in) { return readPresetFile (in, preset, &index); }).ok);
    EXPECT_EQ (index, 3u);
    EXPECT_EQ (preset.name, "SeventeenLetters");
    EXPECT_EQ (preset.parameters, (ParameterMap { { 238, 393728.0f }, { 5, 2.0f } }));
    EXPECT_EQ (preset.cabinet, nullptr);
}

TEST (OldPresetFile, upgradesAnOlderParameterLayout)
{
    DataFile file (kDataFileTypePreset, 0, 2);
    file.segments[0] = paramBlock ({ { 22, 0x3F800000 }, { 23, 0x3F800000 }, { 25, 0x3E99999A }, { 238, 0x48014040 } }, 8); // 1, 1, 0.3, 132353
    file.segments[1].resize (68);

    Preset preset;
    ASSERT_TRUE (readTyped (file, [&] (IInputStream& in) { return readPresetFile (in, preset, nullptr); }).ok);
    EXPECT_EQ (preset.parameters.at (238), 393728.0f);
    EXPECT_EQ (preset.parameters.at (161), 1.0f);
    EXPECT_EQ (preset.parameters.at (23), 2.0f);
    EXPECT_EQ (preset.parameters.at (162), 0.3f);

    // The four-segment preset file is taken as it is.
    DataFile archive = fileWithSegments (kDataFileTypePreset, 0, { 0, 8192, 64, 68 });
    archive.segments[0] = file.segments[0];
    FullTovarekMk2Preset full;
    ASSERT_TRUE (readTyped (archive, [&] (IInputStream& in) { return readArchivePreset (in, full, nullptr); }).ok);
    EXPECT_EQ (full.parameters.at (238), 132353.0f);
    EXPECT_EQ (full.parameters.count (161), 0u);
}

TEST (OldPresetFile, ignoresAThirdSegmentAloneAndReadsACabinetFromFour)
{
    Preset preset;
    DataFile three = fileWithSegments (kDataFileTypePreset, 0, { 16, 68, 8192 });
    ASSERT_TRUE (readTyped (three, [&] (IInputStream& in) { return readPresetFile (in, preset, nullptr); }).ok);
    EXPECT_EQ (preset.cabinet, nullptr);

    DataFile four = fileWithSegments (kDataFileTypePreset, 0, { 16, 68, 8192, 64, 12 });
    four.segments[3] = nameWords ("My Cab", 64);
    ASSERT_TRUE (readTyped (four, [&] (IInputStream& in) { return readPresetFile (in, preset, nullptr); }).ok);
    ASSERT_NE (preset.cabinet, nullptr);
    EXPECT_EQ (preset.cabinet->name, "My Cab");
    EXPECT_EQ (readWord (four.segments[2].data(), 4), floatToBits (preset.cabinet->impulse[0][1]));
}

// ---------------------------------------------------------------- cabinet files

TEST (CabinetFile, readsTheImpulseThenTheFifteenCharacterName)
{
    DataFile file (kDataFileTypeCabinet, 5, 2);
    file.segments[0].resize (8192, 0);
    writeWord (file.segments[0].data(), 4 * 1024, floatToBits (-0.25f)); // channel 1, sample 0
    file.segments[1] = nameWords ("Sixteen chars ok", 64);

    Cabinet cabinet;
    uint32_t index = 0;
    ASSERT_TRUE (readTyped (file, [&] (IInputStream& in) { return readCabinetFile (in, cabinet, &index); }).ok);
    EXPECT_EQ (index, 5u);
    EXPECT_EQ (cabinet.impulse[0][0], 0.0f);
    EXPECT_EQ (cabinet.impulse[1][0], -0.25f);
    EXPECT_EQ (cabinet.name, "Sixteen chars o");
}

// ---------------------------------------------------------------- globals files

TEST (GlobalsFile, writesOneBlockOf128PairsUnderAHeaderWithoutIndex)
{
    const ParameterMap globals { { 1, 0.25f }, { 0x1000, -3.0f } };
    ByteOutputStream out;
    ASSERT_TRUE (writeGlobalsFile (globals, out).ok);
    EXPECT_EQ (out.text.rfind ("# File Type: Globals data\n\n\n\nData Segment 0: 1024 bytes excluding CRC\n", 0), 0u);

    const DataFile file = parse (out.text);
    ASSERT_EQ (file.segments.size(), 1u);
    EXPECT_EQ (file.segments[0], paramBlock ({ { 1, 0x3E800000 }, { 0x1000, 0xC0400000 } }, 128));

    ParameterMap back { { 77, 1.0f } };
    ByteInputStream in (out.text);
    ASSERT_TRUE (readGlobalsFile (in, back).ok);
    EXPECT_EQ (back, globals);
}

TEST (TypedFiles, refuseMoreParametersThanTheirBlockHoldsBeforeWritingAnything)
{
    FullTovarekMk2Preset preset;
    ParameterMap globals;
    for (uint32_t id = 0; id < 513; ++id)
        preset.parameters[id] = 1.0f;
    for (uint32_t id = 0; id < 129; ++id)
        globals[id] = 0.0f;

    ByteOutputStream presetOut, globalsOut;
    EXPECT_EQ (writeArchivePreset (preset, presetOut, 0).message, "Too many params");
    EXPECT_EQ (writeGlobalsFile (globals, globalsOut).message, "Too many params");
    EXPECT_TRUE (presetOut.text.empty() && globalsOut.text.empty());
}

// ---------------------------------------------------------------- amp-model files

namespace
{
DataFile ampFile (size_t segmentCount)
{
    DataFile file (kDataFileTypeAmpModel, 14, 0);
    AmpData data;
    data.parameters[9] = 9.0f;
    data.text1 = "R1 10k";
    file.segments.emplace_back (4096);
    EXPECT_TRUE (encodeAmpData (data, file.segments.back().data()).ok);
    file.segments.emplace_back (68);
    EXPECT_TRUE (encodeAmpNameAndID ({ 21, "Plexi" }, file.segments.back().data()).ok);
    file.segments.emplace_back (8192, 0);
    file.segments.emplace_back (4096, 0);
    writeWord (file.segments.back().data(), 4 * 1023, 0xCAFEF00D);
    if (segmentCount > 4)
    {
        AmpData extra;
        extra.text2 = "extra";
        file.segments.emplace_back (4096);
        EXPECT_TRUE (encodeAmpData (extra, file.segments.back().data()).ok);
    }
    file.segments.resize (segmentCount);
    return file;
}
} // namespace

TEST (AmpFile, readsFourSegmentsAndFreesAPreviousExtraData)
{
    Amp amp;
    amp.extraData = std::make_unique<AmpData>();
    uint32_t index = 0;
    ASSERT_TRUE (readTyped (ampFile (4), [&] (IInputStream& in) { return readAmpFile (in, amp, &index); }).ok);
    EXPECT_EQ (index, 14u);
    EXPECT_EQ (amp.data.parameters, (ParameterMap { { 9, 9.0f } }));
    EXPECT_EQ (amp.data.text1, "R1 10k");
    EXPECT_EQ (amp.nameAndID.id, 21u);
    EXPECT_EQ (amp.nameAndID.name, "Plexi");
    EXPECT_EQ (amp.impulse[0][0], 0.0f);
    EXPECT_EQ (amp.finishingFilter[0], 0u);
    EXPECT_EQ (amp.finishingFilter[1023], 0xCAFEF00Du);
    EXPECT_EQ (amp.extraData, nullptr);
}

TEST (AmpFile, readsAFifthSegmentIntoFreshExtraData)
{
    Amp amp;
    amp.extraData = std::make_unique<AmpData>();
    amp.extraData->parameters[1] = 1.0f;
    DataFile file = ampFile (5);
    file.segments.emplace_back (3); // a sixth segment is ignored
    ASSERT_TRUE (readTyped (file, [&] (IInputStream& in) { return readAmpFile (in, amp, nullptr); }).ok);
    ASSERT_NE (amp.extraData, nullptr);
    EXPECT_TRUE (amp.extraData->parameters.empty());
    EXPECT_EQ (amp.extraData->text2, "extra");
}

TEST (AmpFile, keepsWhatWasDecodedBeforeAShortSegment)
{
    Amp amp;
    DataFile file = ampFile (4);
    file.segments[2].resize (8188);
    EXPECT_EQ (readTyped (file, [&] (IInputStream& in) { return readAmpFile (in, amp, nullptr); }).message, "Segment too small");
    EXPECT_EQ (amp.nameAndID.name, "Plexi");
    EXPECT_EQ (amp.impulse[0][0], 1.0f);

    DataFile shortExtra = ampFile (5);
    shortExtra.segments[4].resize (4092);
    EXPECT_EQ (readTyped (shortExtra, [&] (IInputStream& in) { return readAmpFile (in, amp, nullptr); }).message, "Segment too small");
}

// ---------------------------------------------------------------- firmware-version text

TEST (FirmwareVersionText, writesTwoLines)
{
    FirmwareVersionInfo info;
    info.systemVersion = { 4, 1, 200, 0 };
    info.dspVersion = { 4, 2, 0, 0 };
    ByteOutputStream out;
    ASSERT_TRUE (writeFirmwareVersionText (info, out).ok);
    EXPECT_EQ (out.text, "SYSTEM_FW_VERSION : 4.1.200\nDSP_FW_VERSION : 4.2.0\n");
}

TEST (FirmwareVersionText, resetsTheRecordToleratesSpacingAndLetsALaterLineWin)
{
    using Version = std::array<uint8_t, 4>;
    const std::tuple<std::string, Version, Version> rows[] = {
        { "DSP_FW_VERSION : 1.2.3", { 0, 0, 0, 0 }, { 1, 2, 3, 0 } },
        { "junk\r\n  SYSTEM_FW_VERSION:4 . 1 .0\r\nDSP_FW_VERSION : 7.7\r\nSYSTEM_FW_VERSION : 260.2.3 trailing\r\n"
          "DSP_FW_VERSION : 5.6.7\r\n",
          { 4, 2, 3, 0 }, { 5, 6, 7, 0 } },
        { "", { 0, 0, 0, 0 }, { 0, 0, 0, 0 } },
    };
    for (const auto& [text, system, dsp] : rows)
    {
        FirmwareVersionInfo info;
        info.systemVersion = info.dspVersion = { 9, 9, 9, 9 };
        info.extraCode = 2;
        ByteInputStream in (text);
        ASSERT_TRUE (parseFirmwareVersionText (in, info).ok) << text;
        EXPECT_EQ (info.systemVersion, system) << text;
        EXPECT_EQ (info.dspVersion, dsp) << text;
        EXPECT_EQ (info.extraCode, -1) << text;
    }

    FirmwareVersionInfo info;
    ByteInputStream failing ("DSP_FW_VERSION : 1.2.3\n", 5);
    EXPECT_EQ (parseFirmwareVersionText (failing, info).message, "Stream read failed");
}

// ---------------------------------------------------------------- bit-reversed streams

TEST (BitReversedStream, reversesTheBitOrderOfEveryByte)
{
    std::vector<uint8_t> data { 0xB4, 0x01, 0x0F, 0x12, 0x00, 0xFF };
    reverseBitsInPlace (data);
    EXPECT_EQ (data, (std::vector<uint8_t> { 0x2D, 0x80, 0xF0, 0x48, 0x00, 0xFF }));

    std::vector<uint8_t> all (256);
    for (size_t i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t> (i);
    std::vector<uint8_t> twice = all;
    reverseBitsInPlace (twice);
    for (size_t i = 0; i < 256; ++i)
        for (int bit = 0; bit < 8; ++bit)
            EXPECT_EQ ((all[i] >> bit) & 1, (twice[i] >> (7 - bit)) & 1);
    reverseBitsInPlace (twice);
    EXPECT_EQ (twice, all);
}

TEST (BitReversedStream, readsIn256ByteChunksUntilAReadYieldsNothing)
{
    std::string file (600, '\0');
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<char> (i * 7);
    ByteInputStream in (file);

    std::vector<uint8_t> image { 1, 2, 3 };
    ASSERT_TRUE (readBitReversedStream (in, image).ok);
    EXPECT_EQ (in.readCalls, 4u);
    ASSERT_EQ (image.size(), 600u);
    EXPECT_EQ (image[1], 0xE0); // 0x07 reversed
}

TEST (BitReversedStream, keepsWhatArrivedBeforeAFailedRead)
{
    ByteInputStream in (std::string (1000, '\x01'), 512);
    std::vector<uint8_t> image;
    EXPECT_EQ (readWholeStream (in, image).message, "Stream read failed");
    EXPECT_EQ (image.size(), 512u);
}

TEST (BitReversedStream, writesOneReversedCopyAndReadsBackTheSameBytes)
{
    const std::vector<uint8_t> image { 0x54, 0x56, 0x4B, 0x4C, 0x04, 0x02 };
    ByteOutputStream out;
    ASSERT_TRUE (writeBitReversedStream (image, out).ok);
    ASSERT_EQ (out.writes.size(), 1u);
    EXPECT_EQ (out.writes[0], std::string ("\x2A\x6A\xD2\x32\x20\x40", 6));
    EXPECT_EQ (image[0], 0x54);

    ByteInputStream in (out.text);
    std::vector<uint8_t> back;
    ASSERT_TRUE (readBitReversedStream (in, back).ok);
    EXPECT_EQ (back, image);
}

// ---------------------------------------------------------------- typed files: counts, types, sizes

TEST (TypedFiles, checkTheSegmentCountThenTheTypeThenTheBlockSizes)
{
    FullTovarekMk2Preset full;
    Preset older;
    Cabinet cabinet;
    ParameterMap globals;
    Amp amp;
    uint32_t index = 42;
    using Reader = std::function<Result (IInputStream&)>;
    const Reader archivePreset = [&] (IInputStream& in) { return readArchivePreset (in, full, &index); };
    const Reader oldPreset = [&] (IInputStream& in) { return readPresetFile (in, older, &index); };
    const Reader cabinetFile = [&] (IInputStream& in) { return readCabinetFile (in, cabinet, &index); };
    const Reader globalsFile = [&] (IInputStream& in) { return readGlobalsFile (in, globals); };
    const Reader ampFile = [&] (IInputStream& in) { return readAmpFile (in, amp, &index); };
    DataFile presetTyped = fileWithSegments (kDataFileTypePreset, 0, { 4096, 68, 8192, 4096 });

    const std::tuple<const char*, Reader, DataFile, std::string> rows[] = {
        { "archive", archivePreset, fileWithSegments (kDataFileTypeAmpModel, 1, { 4096, 8192, 64 }), "Too few segments in preset file" },
        { "archive", archivePreset, fileWithSegments (kDataFileTypeAmpModel, 1, { 4096, 8192, 64, 68 }), "Not a preset file" },
        { "archive", archivePreset, DataFile (kDataFileTypePreset, 1, 0), "Too few segments in preset file" },
        { "old", oldPreset, fileWithSegments (kDataFileTypePreset, 0, { 16 }), "Too few segments in preset file" },
        { "old", oldPreset, fileWithSegments (kDataFileTypeCabinet, 0, { 16, 68 }), "Not a preset file" },
        { "old", oldPreset, fileWithSegments (kDataFileTypePreset, 0, { 16, 64 }), "Segment too small" },
        { "old", oldPreset, fileWithSegments (kDataFileTypePreset, 0, { 16, 68, 8188, 64 }), "Segment too small" },
        { "old", oldPreset, fileWithSegments (kDataFileTypePreset, 0, { 16, 68, 8192, 60 }), "Segment too small" },
        { "cabinet", cabinetFile, fileWithSegments (kDataFileTypePreset, 0, { 8192 }), "Too few segments in cabinet file" },
        { "cabinet", cabinetFile, fileWithSegments (kDataFileTypePreset, 0, { 8192, 64 }), "Not a cabinet file" },
        { "cabinet", cabinetFile, fileWithSegments (kDataFileTypeCabinet, 0, { 8190, 64 }), "Segment too small" },
        { "cabinet", cabinetFile, fileWithSegments (kDataFileTypeCabinet, 0, { 8192, 63 }), "Segment too small" },
        { "globals", globalsFile, DataFile (kDataFileTypePreset, 0, 0), "Too few segments in globals file" },
        { "globals", globalsFile, DataFile (kDataFileTypePreset, 0, 1), "Not a globals file" },
        { "globals", globalsFile, DataFile (kDataFileTypeGlobals, 0, 1), "" },
        { "amp", ampFile, fileWithSegments (kDataFileTypeAmpModel, 0, { 4096, 68, 8192 }), "Too few segments in amp file" },
        { "amp", ampFile, presetTyped, "Not an amp file" },
        { "amp", ampFile, fileWithSegments (kDataFileTypeAmpModel, 0, { 4092, 68, 8192, 4096 }), "Segment too small" },
        { "amp", ampFile, fileWithSegments (kDataFileTypeAmpModel, 0, { 4096, 68, 8192, 4092 }), "Segment too small" },
    };

    for (const auto& [reader, read, file, message] : rows)
    {
        index = 42;
        const Result result = readTyped (file, read);
        EXPECT_EQ (result.message, message) << reader << " reader, " << file.segments.size() << " segments";
        // The index is stored only once count and type are accepted.
        const bool accepted = message.empty() || message == "Segment too small";
        EXPECT_TRUE (accepted || index == 42) << reader << ": " << message;
    }
}
