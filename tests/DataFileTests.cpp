#include "ByteStreams.h"
#include "KorvantalDataFile.h"

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

// A preset file as another tool would write it: text before the header, Windows line ends,
// blank lines inside segments, no size or checksum lines.
std::string toleratedPresetText()
{
    return "Exported by hand\r\n"
           "\r\n"
           "# File Type: Preset data, Index = 4\r\n"
           "# Data Segment 0 Start - Do Not Delete\r\n"
           "0x04030201\r\n"
           "\r\n"
           "   \t\r\n"
           "0xdeadbeef\r\n"
           "# Data Segment 0 End - Do Not Delete\r\n"
           "# Data Segment 1 Start - Do Not Delete\r\n"
           "# Data Segment 1 End - Do Not Delete\r\n"
           "trailing comment\r\n";
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

TEST (DataFileWriter, writesTheGlobalsHeaderWithoutAnIndex)
{
    const DataFile file (kDataFileTypeGlobals, 9, 0);
    EXPECT_EQ (writeToText (file), "# File Type: Globals data\n\n");
}

TEST (DataFileWriter, writesAFileWithoutSegmentsAsTheHeaderAndOneEmptyLine)
{
    EXPECT_EQ (writeToText (DataFile (kDataFileTypeCabinet, 1, 0)), "# File Type: User Cabinet data, Index = 1\n\n");
    EXPECT_EQ (writeToText (DataFile (kDataFileTypeAmpModel, 12, 0)), "# File Type: Amp_Model data, Index = 12\n\n");
}

TEST (DataFileWriter, printsTheIndexAsASignedDecimal)
{
    EXPECT_EQ (writeToText (DataFile (kDataFileTypePreset, 0xFFFFFFFF, 0)), "# File Type: Preset data, Index = -1\n\n");
}

TEST (DataFileWriter, writesOnlyWholeWordsButChecksumsEveryByte)
{
    DataFile file (kDataFileTypePreset, 0, 1);
    file.segments[0] = bytes ({ 0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB });

    const std::string text = writeToText (file);
    EXPECT_NE (text.find ("Data Segment 0: 6 bytes excluding CRC\n"), std::string::npos);
    EXPECT_NE (text.find ("Start - Do Not Delete\n0x12345678\n# Data Segment 0 End"), std::string::npos);

    // Python-computed BSD sums: 0x2124 over all six bytes, 0x8050 over the whole word alone.
    EXPECT_NE (text.find ("CRC = 0x2124\n"), std::string::npos);

    DataFile back;
    ASSERT_TRUE (readFromText (text, back).ok);
    ASSERT_EQ (back.segments.size(), 1u);
    EXPECT_EQ (back.segments[0], bytes ({ 0x78, 0x56, 0x34, 0x12 }));
}

TEST (DataFileWriter, writesTheChecksumOfAnEmptySegmentWithFourDigits)
{
    DataFile file (kDataFileTypePreset, 0, 1);
    EXPECT_NE (writeToText (file).find ("\nCRC = 0x0000\n"), std::string::npos);
}

TEST (DataFileWriter, writesEachLineAsTextThenALineFeedInASecondWrite)
{
    ByteOutputStream out;
    ASSERT_TRUE (writeDataFileLine (out, "x=%d", 42).ok);
    ASSERT_EQ (out.writes.size(), 2u);
    EXPECT_EQ (out.writes[0], "x=42");
    EXPECT_EQ (out.writes[1], "\n");
}

TEST (DataFileWriter, cutsAFormattedLineAt511Characters)
{
    ByteOutputStream out;
    const std::string longText (600, 'z');
    ASSERT_TRUE (writeDataFileLine (out, "%s", longText.c_str()).ok);
    EXPECT_EQ (out.text, std::string (511, 'z') + "\n");
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

TEST (SegmentChecksum, matchesTheBsdSumExamples)
{
    const auto abc = bytes ({ 'a', 'b', 'c' });
    EXPECT_EQ (segmentChecksum (abc.data(), abc.size()), 0x40AC);

    const auto one = bytes ({ 0x01, 0x00, 0x00, 0x00 });
    EXPECT_EQ (segmentChecksum (one.data(), one.size()), 0x2000);

    EXPECT_EQ (segmentChecksum (nullptr, 0), 0x0000);
}

TEST (SegmentChecksum, rotatesTheLowBitIntoTheTopBeforeEachAdd)
{
    // 0xFF: sum 0xFF; then 0x00: 0xFF rotated = 0x807F; then 0x00: 0xC03F.
    const auto data = bytes ({ 0xFF, 0x00, 0x00 });
    EXPECT_EQ (segmentChecksum (data.data(), data.size()), 0xC03F);
}

// ---------------------------------------------------------------- lines

TEST (DataFileLine, dropsCarriageReturnsAnywhereAndEndsAtALineFeed)
{
    ByteInputStream in ("a\rb\r\ncd\n\nlast");
    std::string line = "stale";
    ASSERT_TRUE (readDataFileLine (in, line).ok);
    EXPECT_EQ (line, "ab");
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

TEST (DataFileLine, readsOneByteAtATime)
{
    ByteInputStream in ("abc\nrest");
    std::string line;
    ASSERT_TRUE (readDataFileLine (in, line).ok);
    EXPECT_EQ (in.readCalls, 4u);
    EXPECT_EQ (in.position(), 4u);
}

TEST (DataFileLine, passesAFailedReadUp)
{
    ByteInputStream in ("abcdef\n", 2);
    std::string line;
    const Result result = readDataFileLine (in, line);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Stream read failed");
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
    for (uint32_t type = 0; type < 4; ++type)
    {
        DataFile file (type, 5, 3);
        file.segments[0] = bytes ({ 1, 2, 3, 4, 5, 6, 7, 8 });
        file.segments[2] = std::vector<uint8_t> (4096, 0xA5);

        DataFile back (kDataFileTypeGlobals, 77, 9);
        ASSERT_TRUE (readFromText (writeToText (file), back).ok);
        EXPECT_EQ (back.type, type);
        EXPECT_EQ (back.index, type == kDataFileTypeGlobals ? 0u : 5u);
        EXPECT_EQ (back.segments, file.segments);
    }
}

TEST (DataFileReader, readsRandomSegmentsBackUnchanged)
{
    std::srand (1234);
    for (int round = 0; round < 20; ++round)
    {
        DataFile file (kDataFileTypeAmpModel, static_cast<uint32_t> (std::rand()), 1 + static_cast<size_t> (std::rand() % 5));
        for (auto& segment : file.segments)
        {
            segment.resize (4 * static_cast<size_t> (std::rand() % 300));
            for (auto& b : segment)
                b = static_cast<uint8_t> (std::rand());
        }

        DataFile back;
        ASSERT_TRUE (readFromText (writeToText (file), back).ok);
        EXPECT_EQ (back.index, file.index);
        EXPECT_EQ (back.segments, file.segments);
    }
}

TEST (DataFileReader, readsWindowsLineEndingsLikeItsOwnOutput)
{
    DataFile own (kDataFileTypePreset, 4, 2);
    own.segments[0] = bytes ({ 0x01, 0x02, 0x03, 0x04, 0xEF, 0xBE, 0xAD, 0xDE });

    DataFile tolerated;
    ASSERT_TRUE (readFromText (toleratedPresetText(), tolerated).ok);

    DataFile fromOwn;
    ASSERT_TRUE (readFromText (writeToText (own), fromOwn).ok);
    EXPECT_EQ (tolerated.type, fromOwn.type);
    EXPECT_EQ (tolerated.index, fromOwn.index);
    EXPECT_EQ (tolerated.segments, fromOwn.segments);
}

TEST (DataFileReader, neverReadsTheChecksumLines)
{
    DataFile file (kDataFileTypePreset, 0, 1);
    file.segments[0] = bytes ({ 9, 9, 9, 9 });
    std::string text = writeToText (file);
    const size_t at = text.find ("CRC = 0x");
    ASSERT_NE (at, std::string::npos);
    text.replace (at, 12, "CRC = 0xffff");

    DataFile back;
    ASSERT_TRUE (readFromText (text, back).ok);
    EXPECT_EQ (back.segments, file.segments);
}

TEST (DataFileReader, appendsShortWordsLeastSignificantByteFirstAndIgnoresOtherLines)
{
    DataFile file;
    ASSERT_TRUE (readFromText ("# File Type: Preset data, Index = 0\n"
                               "# Data Segment 0 Start\n"
                               "0x1\n"
                               "1234\n"
                               "  0xAbC  trailing\n"
                               "0x\n"
                               "0X5\n"
                               "# Data Segment 0 End\n"
                               "\n",
                               file)
                    .ok);
    ASSERT_EQ (file.segments.size(), 1u);
    EXPECT_EQ (file.segments[0], bytes ({ 0x01, 0, 0, 0, 0xBC, 0x0A, 0, 0 }));
}

TEST (DataFileReader, keepsTheLowThirtyTwoBitsOfAWiderWord)
{
    DataFile file;
    ASSERT_TRUE (readFromText ("# File Type: Preset data, Index = 0\n"
                               "# Data Segment 0 Start\n"
                               "0x123456789a\n"
                               "0x000000000000000b\n"
                               "# Data Segment 0 End\n\n",
                               file)
                    .ok);
    ASSERT_EQ (file.segments.size(), 1u);
    EXPECT_EQ (file.segments[0], bytes ({ 0x9A, 0x78, 0x56, 0x34, 0x0B, 0, 0, 0 }));
}

TEST (DataFileReader, takesAHexPrefixAfterTheWordMarkerAsScanfDoes)
{
    // A doubled prefix is read past, like scanf's %x does; a prefix without a digit after it
    // leaves the value 0.
    DataFile file;
    ASSERT_TRUE (readFromText ("# File Type: Preset data, Index = 0\n"
                               "# Data Segment 0 Start\n"
                               "0x0x1f\n"
                               "0x 0X5\n"
                               "0x-0x1\n"
                               "0x0xg\n"
                               "# Data Segment 0 End\n\n",
                               file)
                    .ok);
    ASSERT_EQ (file.segments.size(), 1u);
    EXPECT_EQ (file.segments[0], bytes ({ 0x1F, 0, 0, 0, 0x05, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0 }));
}

TEST (DataFileReader, endsASegmentAtASecondStartLineAndWaitsForTheNextSegmentLine)
{
    DataFile file;
    ASSERT_TRUE (readFromText ("# File Type: Preset data, Index = 0\n"
                               "# Data Segment 0 Start\n"
                               "# Data Segment 1 Start\n"
                               "0x11\n"
                               "# Data Segment 7 Start\n"
                               "0x22\n"
                               "# Data Segment 1 End\n"
                               "\n",
                               file)
                    .ok);
    ASSERT_EQ (file.segments.size(), 2u);
    EXPECT_TRUE (file.segments[0].empty());
    EXPECT_EQ (file.segments[1], bytes ({ 0x22, 0, 0, 0 }));
}

TEST (DataFileReader, acceptsScanfStyleWhiteSpaceInTheMarkerLines)
{
    DataFile file;
    ASSERT_TRUE (readFromText ("   #File   Type:Amp_Model data,Index=-2\n"
                               "\t#DataSegment   3\n"
                               " 0x7\n"
                               "#Data Segment 3\n"
                               "\n",
                               file)
                    .ok);
    EXPECT_EQ (file.type, kDataFileTypeAmpModel);
    EXPECT_EQ (file.index, 0xFFFFFFFEu);
    ASSERT_EQ (file.segments.size(), 1u);
}

TEST (DataFileReader, ignoresASegmentLineWithoutANumber)
{
    DataFile file;
    ASSERT_TRUE (readFromText ("# File Type: Preset data, Index = 0\n"
                               "# Data Segment Start\n"
                               "0x1\n",
                               file)
                    .ok);
    EXPECT_TRUE (file.segments.empty());
}

TEST (DataFileReader, readsTheWritersFileWithoutSegmentsAsNoSegments)
{
    DataFile file (kDataFileTypePreset, 0, 3);
    ASSERT_TRUE (readFromText ("# File Type: Preset data, Index = 8\n\n", file).ok);
    EXPECT_EQ (file.index, 8u);
    EXPECT_TRUE (file.segments.empty());
}

// ---------------------------------------------------------------- the header

TEST (DataFileHeader, skipsLinesBeforeTheHeader)
{
    DataFile file;
    ASSERT_TRUE (readFromText ("garbage\n# File Type\n#File Type: , Index = 3\n\n# File Type: User Cabinet data, Index = 2\n\n", file).ok);
    EXPECT_EQ (file.type, kDataFileTypeCabinet);
    EXPECT_EQ (file.index, 2u);
}

TEST (DataFileHeader, failsWithMissingIndexForAPresetHeaderWithoutOne)
{
    DataFile file;
    const Result result = readFromText ("# File Type: Preset data\n\n", file);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Missing index");

    EXPECT_EQ (readFromText ("# File Type: Amp_Model data, Index = x\n\n", file).message, "Missing index");
    EXPECT_EQ (readFromText ("# File Type: User Cabinet data, Idx = 1\n\n", file).message, "Missing index");
}

TEST (DataFileHeader, acceptsAGlobalsHeaderWithAnIndexAsIndexZero)
{
    DataFile file;
    ASSERT_TRUE (readFromText ("# File Type: Globals data, Index = 5\n\n", file).ok);
    EXPECT_EQ (file.type, kDataFileTypeGlobals);
    EXPECT_EQ (file.index, 0u);
}

TEST (DataFileHeader, comparesTheTypeTextExactly)
{
    DataFile file;
    EXPECT_EQ (readFromText ("# File Type: Preset data , Index = 0\n\n", file).message, "Invalid file type string");
    EXPECT_EQ (readFromText ("# File Type: preset data, Index = 0\n\n", file).message, "Invalid file type string");
    EXPECT_EQ (readFromText ("# File Type: Globals\n\n", file).message, "Invalid file type string");
}

TEST (DataFileHeader, boundsTheTypeTextAt255Characters)
{
    DataFile file;
    const std::string longType = "Preset data" + std::string (300, 'x');
    EXPECT_EQ (readFromText ("# File Type: " + longType + ", Index = 0\n\n", file).message, "Invalid file type string");

    const std::string huge (1 << 20, 'y');
    EXPECT_EQ (readFromText ("# File Type: " + huge + "\n\n", file).message, "Invalid file type string");
}

TEST (DataFileHeader, failsWhenTheInputEndsRightAfterTheHeader)
{
    DataFile file;
    EXPECT_EQ (readFromText ("# File Type: Preset data, Index = 0\n", file).message, "Reached end of file looking for type");
    EXPECT_EQ (readFromText ("# File Type: Preset data, Index = 0", file).message, "Reached end of file looking for type");
    EXPECT_EQ (readFromText ("", file).message, "Reached end of file looking for type");
    EXPECT_EQ (readFromText ("no header here\n\n\n", file).message, "Reached end of file looking for type");
}

// ---------------------------------------------------------------- truncation and failures

TEST (DataFileReader, failsWhenTheLastLineIsASegmentsEndLine)
{
    DataFile file;
    const Result result = readFromText ("# File Type: Preset data, Index = 0\n"
                                        "# Data Segment 0 Start\n"
                                        "0x1\n"
                                        "# Data Segment 0 End\n",
                                        file);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Reached end of file inside segment");
    EXPECT_TRUE (file.segments.empty());
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
std::string writeFileText (const DataFile& file)
{
    return writeToText (file);
}

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
    ByteInputStream in (writeFileText (file));
    return reader (in);
}

std::vector<uint8_t> encodedParams (const ParameterMap& map, size_t pairs)
{
    std::vector<uint8_t> block (pairs * 8);
    EXPECT_TRUE (encodeParamBlock (map, block.data(), pairs).ok);
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
    EXPECT_EQ (file.segments[0], encodedParams (preset.parameters, 512));
    EXPECT_EQ (file.segments[1].size(), 8192u);
    EXPECT_EQ (file.segments[2], nameWords ("A long cabinet ", 64));
    auto amp = nameWords ("Amp", 68, 1);
    amp[0] = 0x02;
    amp[1] = 0x01;
    EXPECT_EQ (file.segments[3], amp);
    EXPECT_NE (out.text.find ("Data Segment 3: 68 bytes excluding CRC\n"), std::string::npos);
}

TEST (ArchivePresetFile, refusesMoreThan512ParametersBeforeWritingAnything)
{
    FullTovarekMk2Preset preset;
    for (uint32_t id = 0; id < 513; ++id)
        preset.parameters[id] = 1.0f;

    ByteOutputStream out;
    const Result result = writeArchivePreset (preset, out, 0);
    EXPECT_EQ (result.message, "Too many params");
    EXPECT_TRUE (out.text.empty());
}

TEST (ArchivePresetFile, checksTheSegmentCountBeforeTheType)
{
    FullTovarekMk2Preset preset;
    uint32_t index = 42;
    auto read = [&] (const DataFile& file) {
        return readTyped (file, [&] (IInputStream& in) { return readArchivePreset (in, preset, &index); });
    };

    EXPECT_EQ (read (fileWithSegments (kDataFileTypeAmpModel, 1, { 4096, 8192, 64 })).message, "Too few segments in preset file");
    EXPECT_EQ (read (fileWithSegments (kDataFileTypeAmpModel, 1, { 4096, 8192, 64, 68 })).message, "Not a preset file");
    EXPECT_EQ (read (DataFile (kDataFileTypePreset, 1, 0)).message, "Too few segments in preset file");
    EXPECT_EQ (index, 42u);
}

TEST (ArchivePresetFile, decodesAShortParameterSegmentButNoShortBlock)
{
    FullTovarekMk2Preset preset;
    DataFile file = fileWithSegments (kDataFileTypePreset, 2, { 0, 8192, 64, 67 });
    file.segments[0] = encodedParams ({ { 3, 1.5f } }, 2);

    uint32_t index = 0;
    const Result result = readTyped (file, [&] (IInputStream& in) { return readArchivePreset (in, preset, &index); });
    EXPECT_EQ (result.message, "Segment too small");
    EXPECT_EQ (index, 2u);
    EXPECT_EQ (preset.parameters, (ParameterMap { { 3, 1.5f } }));
    EXPECT_EQ (preset.cabinet.name, std::string ("cdefghijklmnopq"));
}

TEST (ArchivePresetFile, acceptsANullIndexPointer)
{
    FullTovarekMk2Preset preset;
    const DataFile file = fileWithSegments (kDataFileTypePreset, 2, { 4096, 8192, 64, 68 });
    EXPECT_TRUE (readTyped (file, [&] (IInputStream& in) { return readArchivePreset (in, preset, nullptr); }).ok);
}

// ---------------------------------------------------------------- older preset files

TEST (OldPresetFile, readsTheNameFromTheFirstSixteenWords)
{
    DataFile file (kDataFileTypePreset, 3, 2);
    file.segments[0] = encodedParams ({ { 238, 393728.0f }, { 5, 2.0f } }, 4);
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
    file.segments[0] = encodedParams ({ { 238, 132353.0f }, { 22, 1.0f }, { 23, 1.0f }, { 25, 0.3f } }, 8);
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

TEST (OldPresetFile, failsOnShortOrMissingSegments)
{
    Preset preset;
    auto read = [&] (const DataFile& file) {
        return readTyped (file, [&] (IInputStream& in) { return readPresetFile (in, preset, nullptr); }).message;
    };
    EXPECT_EQ (read (fileWithSegments (kDataFileTypePreset, 0, { 16 })), "Too few segments in preset file");
    EXPECT_EQ (read (fileWithSegments (kDataFileTypeCabinet, 0, { 16, 68 })), "Not a preset file");
    EXPECT_EQ (read (fileWithSegments (kDataFileTypePreset, 0, { 16, 64 })), "Segment too small");
    EXPECT_EQ (read (fileWithSegments (kDataFileTypePreset, 0, { 16, 68, 8188, 64 })), "Segment too small");
    EXPECT_EQ (read (fileWithSegments (kDataFileTypePreset, 0, { 16, 68, 8192, 60 })), "Segment too small");
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

TEST (CabinetFile, failsOnTooFewSegmentsThenOnTheType)
{
    Cabinet cabinet;
    auto read = [&] (const DataFile& file) {
        return readTyped (file, [&] (IInputStream& in) { return readCabinetFile (in, cabinet, nullptr); }).message;
    };
    EXPECT_EQ (read (fileWithSegments (kDataFileTypePreset, 0, { 8192 })), "Too few segments in cabinet file");
    EXPECT_EQ (read (fileWithSegments (kDataFileTypePreset, 0, { 8192, 64 })), "Not a cabinet file");
    EXPECT_EQ (read (fileWithSegments (kDataFileTypeCabinet, 0, { 8190, 64 })), "Segment too small");
    EXPECT_EQ (read (fileWithSegments (kDataFileTypeCabinet, 0, { 8192, 63 })), "Segment too small");
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
    EXPECT_EQ (file.segments[0], encodedParams (globals, 128));

    ParameterMap back { { 77, 1.0f } };
    ByteInputStream in (out.text);
    ASSERT_TRUE (readGlobalsFile (in, back).ok);
    EXPECT_EQ (back, globals);
}

TEST (GlobalsFile, refusesMoreThan128Entries)
{
    ParameterMap globals;
    for (uint32_t id = 0; id < 129; ++id)
        globals[id] = 0.0f;
    ByteOutputStream out;
    EXPECT_EQ (writeGlobalsFile (globals, out).message, "Too many params");
    EXPECT_TRUE (out.text.empty());
}

TEST (GlobalsFile, failsOnNoSegmentThenOnTheType)
{
    ParameterMap globals;
    auto read = [&] (const DataFile& file) {
        return readTyped (file, [&] (IInputStream& in) { return readGlobalsFile (in, globals); }).message;
    };
    EXPECT_EQ (read (DataFile (kDataFileTypePreset, 0, 0)), "Too few segments in globals file");
    EXPECT_EQ (read (DataFile (kDataFileTypePreset, 0, 1)), "Not a globals file");
    EXPECT_EQ (read (DataFile (kDataFileTypeGlobals, 0, 1)), "");
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

TEST (AmpFile, failsOnTooFewSegmentsThenOnTheType)
{
    Amp amp;
    auto read = [&] (const DataFile& file) {
        return readTyped (file, [&] (IInputStream& in) { return readAmpFile (in, amp, nullptr); }).message;
    };
    EXPECT_EQ (read (ampFile (3)), "Too few segments in amp file");
    DataFile preset = ampFile (4);
    preset.type = kDataFileTypePreset;
    EXPECT_EQ (read (preset), "Not an amp file");
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

TEST (FirmwareVersionText, resetsTheRecordAndReadsADspLineAlone)
{
    FirmwareVersionInfo info;
    info.systemVersion = { 9, 9, 9, 9 };
    info.extraCode = 2;
    ByteInputStream in ("DSP_FW_VERSION : 1.2.3");
    ASSERT_TRUE (parseFirmwareVersionText (in, info).ok);
    EXPECT_EQ (info.systemVersion, (std::array<uint8_t, 4> { 0, 0, 0, 0 }));
    EXPECT_EQ (info.dspVersion, (std::array<uint8_t, 4> { 1, 2, 3, 0 }));
    EXPECT_EQ (info.extraCode, -1);
}

TEST (FirmwareVersionText, toleratesSpacingAndLetsALaterLineWin)
{
    FirmwareVersionInfo info;
    ByteInputStream in ("junk\r\n"
                        "  SYSTEM_FW_VERSION:4 . 1 .0\r\n"
                        "DSP_FW_VERSION : 7.7\r\n"
                        "SYSTEM_FW_VERSION : 260.2.3 trailing\r\n"
                        "DSP_FW_VERSION : 5.6.7\r\n");
    ASSERT_TRUE (parseFirmwareVersionText (in, info).ok);
    EXPECT_EQ (info.systemVersion, (std::array<uint8_t, 4> { 4, 2, 3, 0 }));
    EXPECT_EQ (info.dspVersion, (std::array<uint8_t, 4> { 5, 6, 7, 0 }));
}

TEST (FirmwareVersionText, leavesTheResetRecordForAnEmptyStreamAndPassesReadFailuresUp)
{
    FirmwareVersionInfo info;
    info.dspVersion = { 1, 1, 1, 1 };
    ByteInputStream empty ("");
    ASSERT_TRUE (parseFirmwareVersionText (empty, info).ok);
    EXPECT_EQ (info.dspVersion, (std::array<uint8_t, 4> { 0, 0, 0, 0 }));

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
