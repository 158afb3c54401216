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
