#include "AmpModelLayout.h"
#include "EmbeddedData.h"
#include "StockAmpTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace TovarekMk2;
using Korvantal::KorvantalData::Amp;

namespace
{

// The stock rows as the table must hold them: display name, header index, file length, amp id.
struct ExpectedRow
{
    const char* displayName;
    int fileIndex;
    uint64_t length;
    uint32_t ampId;
};

const ExpectedRow kExpectedRows[kStockAmpCount] = {
    { "Plexi", 40, 45639, 10 },        { "Brit 800", 45, 45639, 12 },     { "Hot Brit", 50, 45639, 13 },
    { "D Luxe", 15, 45639, 20 },       { "59 Bman", 20, 45639, 21 },      { "US Clean", 10, 45639, 23 },
    { "65 Clean", 12, 45639, 24 },     { "D Luxe 2", 16, 45639, 25 },     { "Top Boost", 30, 45639, 30 },
    { "Top Boost 2", 31, 45639, 31 },  { "Rumble", 25, 47687, 40 },       { "Marc IV Lead", 55, 45639, 41 },
    { "Marc IV EQ", 56, 45639, 42 },   { "Rumble Brite", 26, 47687, 43 }, { "Wendholt BE", 41, 45639, 668 },
    { "Wendholt HBE", 42, 45639, 669 }, { "Vostermil", 80, 45639, 70 },   { "Recto", 60, 45639, 72 },
    { "5051", 65, 45639, 73 },         { "SLO", 63, 45639, 74 },          { "Arkhan", 70, 45639, 80 },
    { "SV Tee", 150, 45640, 90 },      { "Power EL34", 200, 45640, 990 }, { "Power 6L6", 205, 45640, 991 },
    { "Power EL84", 210, 45640, 992 }, { "Power KT88", 215, 45640, 993 },
};

std::string rowText (size_t row)
{
    return std::string (StockAmpTable[row].text, StockAmpTable[row].textLength);
}

std::vector<std::string> splitLines (const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find ('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back (text.substr (start, end - start));
    if (start < text.size())
        lines.push_back (text.substr (start));
    return lines;
}

uint32_t bitsOf (float value)
{
    uint32_t bits;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

// Parses the whole table for a test and frees it afterwards, as the main component does.
class StockAmpTableParsed : public ::testing::Test
{
protected:
    void SetUp() override { parseAllStockAmps(); }
    void TearDown() override { freeAllStockAmps(); }
};

} // namespace

TEST (StockAmpTable, holdsTheRowsInMenuOrderWithTheirFileLengths)
{
    for (size_t row = 0; row < kStockAmpCount; ++row)
    {
        SCOPED_TRACE (row);
        EXPECT_STREQ (StockAmpTable[row].displayName, kExpectedRows[row].displayName);
        EXPECT_EQ (StockAmpTable[row].textLength, kExpectedRows[row].length);
        EXPECT_EQ (StockAmpTable[row].amp, nullptr);
        const auto file = EmbeddedData::getStockAmpModelFile (row);
        EXPECT_EQ (static_cast<const void*> (file.data), static_cast<const void*> (StockAmpTable[row].text));
        EXPECT_EQ (file.size, StockAmpTable[row].textLength);
    }
    EXPECT_EQ (EmbeddedData::getStockAmpModelFile (kStockAmpCount).data, nullptr);
    EXPECT_EQ (getStockAmpMenuTexts().size(), kStockAmpCount);
    EXPECT_EQ (getStockAmpMenuTexts()[25], "Power KT88");
}

// Only the impulse lines (segment 2's words) of rows 10 and 13 end with carriage returns.
TEST (StockAmpTable, everyFileHasTheStockShape)
{
    for (size_t row = 0; row < kStockAmpCount; ++row)
    {
        SCOPED_TRACE (row);
        const std::vector<std::string> lines = splitLines (rowText (row));
        ASSERT_EQ (lines.size(), 4134u);
        EXPECT_EQ (lines[0], "# File Type: Amp_Model data, Index = " + std::to_string (kExpectedRows[row].fileIndex));
        EXPECT_EQ (lines[1], "");
        EXPECT_EQ (lines[2], "");
        EXPECT_EQ (lines[3], "");
        EXPECT_EQ (lines[4], "Data Segment 0: 4096 bytes excluding CRC");
        EXPECT_EQ (lines[5], "");

        // Segments of 1024, 17, 2048 and 1024 words, two empty lines between, one after the last.
        const size_t words[4] = { 1024, 17, 2048, 1024 };
        const bool withReturns = row == 10 || row == 13;
        size_t line = 6;
        for (int segment = 0; segment < 4; ++segment)
        {
            EXPECT_EQ (lines[line], "# Data Segment " + std::to_string (segment) + " Start - Do Not Delete");
            for (size_t w = 1; w <= words[segment]; ++w)
            {
                std::string word = lines[line + w];
                ASSERT_EQ (! word.empty() && word.back() == '\r', withReturns && segment == 2) << "line " << line + w;
                if (withReturns && segment == 2)
                    word.pop_back();
                ASSERT_EQ (word.size(), 10u) << "line " << line + w;
                ASSERT_EQ (word.find_first_not_of ("0123456789abcdef", 2), std::string::npos) << word;
                ASSERT_EQ (word.substr (0, 2), "0x");
            }
            line += words[segment] + 1;
            EXPECT_EQ (lines[line], "# Data Segment " + std::to_string (segment) + " End - Do Not Delete");
            line += segment < 3 ? 3 : 2;
            if (segment < 3)
            {
                EXPECT_EQ (lines[line - 2], "");
                EXPECT_EQ (lines[line - 1], "");
            }
        }
        EXPECT_EQ (line, 4134u);
        EXPECT_EQ (lines.back(), "");
        EXPECT_EQ (rowText (row).find ("CRC ="), std::string::npos);
    }
}

TEST_F (StockAmpTableParsed, everyRowParsesWithItsAmpIdAndOwnName)
{
    for (size_t row = 0; row < kStockAmpCount; ++row)
    {
        SCOPED_TRACE (row);
        const Amp* amp = StockAmpTable[row].amp;
        ASSERT_NE (amp, nullptr);
        EXPECT_EQ (amp->nameAndID.id, kExpectedRows[row].ampId);
        EXPECT_EQ (amp->extraData, nullptr);
        if (row == 4)
            EXPECT_EQ (amp->nameAndID.name, "'59 Bman");
        else if (row == 7)
            EXPECT_EQ (amp->nameAndID.name, "D Luxe2");
        else
            EXPECT_EQ (amp->nameAndID.name, kExpectedRows[row].displayName);
    }
}

TEST_F (StockAmpTableParsed, ampDataHoldsAddresses0To255WithOnlyTwoFilesBeyond171)
{
    size_t filesBeyond171 = 0;
    for (size_t row = 0; row < kStockAmpCount; ++row)
    {
        SCOPED_TRACE (row);
        const auto& parameters = StockAmpTable[row].amp->data.parameters;
        ASSERT_EQ (parameters.size(), 256u);
        EXPECT_EQ (parameters.begin()->first, 0u);
        EXPECT_EQ (parameters.rbegin()->first, 255u);

        bool beyond = false;
        for (uint32_t address = 172; address < 256; ++address)
        {
            const float value = parameters.at (address);
            if (address <= 173 && value != 0.0f)
                beyond = true;
            else
                EXPECT_EQ (bitsOf (value), 0u) << address;
        }
        filesBeyond171 += beyond ? 1 : 0;
        for (uint32_t address = 0; address < 172; ++address)
            EXPECT_TRUE (std::isfinite (parameters.at (address))) << address;
    }
    EXPECT_EQ (filesBeyond171, 2u);
}

TEST_F (StockAmpTableParsed, wholeValuedSettingsAreStoredAsWholeFloats)
{
    for (size_t row = 0; row < kStockAmpCount; ++row)
    {
        const auto& parameters = StockAmpTable[row].amp->data.parameters;
        for (const auto& entry : AmpModelParameterTable)
        {
            if (entry.memory != kCoefficientMemory || entry.valueType == kFloatValue)
                continue;
            const float value = parameters.at (entry.address);
            EXPECT_EQ (value, std::round (value)) << "row " << row << " " << entry.name;
            if (entry.valueType == kBooleanValue)
            {
                EXPECT_TRUE (value == 0.0f || value == 1.0f) << "row " << row << " " << entry.name;
            }
        }
    }
}

TEST_F (StockAmpTableParsed, copyByRowGivesAnIndependentRecordUpToRow25)
{
    Amp amp;
    amp.extraData = std::make_unique<Korvantal::KorvantalData::AmpData>();
    ASSERT_TRUE (copyStockAmp (25, amp).ok);
    EXPECT_EQ (amp.nameAndID.id, 993u);
    EXPECT_EQ (amp.nameAndID.name, "Power KT88");
    EXPECT_EQ (amp.extraData, nullptr);
    EXPECT_EQ (amp.data.parameters, StockAmpTable[25].amp->data.parameters);

    amp.nameAndID.id = 1;
    EXPECT_EQ (StockAmpTable[25].amp->nameAndID.id, 993u);
}

// Freeing empties every row: copy and find then fail.
TEST_F (StockAmpTableParsed, copyByRow26OrAnUnparsedRowFails)
{
    Amp amp;
    const Korvantal::Result beyond = copyStockAmp (26, amp);
    EXPECT_FALSE (beyond.ok);
    EXPECT_EQ (beyond.message, "Amp data not found!");
    EXPECT_EQ (amp.nameAndID.id, 0u);

    freeAllStockAmps();
    for (const auto& entry : StockAmpTable)
        EXPECT_EQ (entry.amp, nullptr);
    const Korvantal::Result unparsed = copyStockAmp (0, amp);
    EXPECT_FALSE (unparsed.ok);
    EXPECT_EQ (unparsed.message, "Amp data not found!");
    size_t row = 0;
    EXPECT_FALSE (findStockAmpRow (10, row).ok);
}

TEST_F (StockAmpTableParsed, findByAmpIdGivesTheFirstRowHoldingIt)
{
    size_t row = 99;
    ASSERT_TRUE (findStockAmpRow (10, row).ok);
    EXPECT_EQ (row, 0u);
    ASSERT_TRUE (findStockAmpRow (993, row).ok);
    EXPECT_EQ (row, 25u);
    ASSERT_TRUE (findStockAmpRow (669, row).ok);
    EXPECT_EQ (row, 15u);

    row = 99;
    const Korvantal::Result missing = findStockAmpRow (11, row);
    EXPECT_FALSE (missing.ok);
    EXPECT_EQ (missing.message, "Amp data not found!");
    EXPECT_EQ (row, 99u);

    // The lower of two rows holding the id wins; an unparsed row is skipped.
    StockAmpTable[5].amp->nameAndID.id = 10;
    ASSERT_TRUE (findStockAmpRow (10, row).ok);
    EXPECT_EQ (row, 0u);

    Amp* first = StockAmpTable[0].amp;
    StockAmpTable[0].amp = nullptr;
    EXPECT_TRUE (findStockAmpRow (10, row).ok);
    EXPECT_EQ (row, 5u);
    StockAmpTable[0].amp = first;
}

TEST (StockAmpTable, parsingReadsExactlyTheTextLength)
{
    // A fifth segment right after the file's last byte would become extra data if it were read.
    std::string text = rowText (0);
    const size_t length = text.size();
    text += "# Data Segment 4 Start - Do Not Delete\n";
    for (int i = 0; i < 1024; ++i)
        text += "0x00000001\n";
    text += "# Data Segment 4 End - Do Not Delete\n\n";

    StockAmpEntry entry { "Plexi", text.data(), length, nullptr };
    ASSERT_TRUE (parseStockAmpEntry (entry).ok);
    ASSERT_NE (entry.amp, nullptr);
    EXPECT_EQ (entry.amp->extraData, nullptr);
    EXPECT_EQ (entry.amp->nameAndID.id, 10u);

    delete entry.amp;

    StockAmpEntry whole { "Plexi", text.data(), text.size(), nullptr };
    ASSERT_TRUE (parseStockAmpEntry (whole).ok);
    EXPECT_NE (whole.amp->extraData, nullptr);
    delete whole.amp;
}

TEST (StockAmpTable, aFileTheReaderRejectsLeavesItsRowEmpty)
{
    const std::string text = rowText (3);
    Amp* previous = new Amp();
    StockAmpEntry entry { "D Luxe", text.data(), text.size() / 2, previous };

    const Korvantal::Result result = parseStockAmpEntry (entry);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Reached end of file inside segment");
    EXPECT_EQ (entry.amp, nullptr);
}
