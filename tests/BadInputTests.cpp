// Damaged files fed to the readers: truncated, bit-flipped and arbitrary copies of one good
// preset file and one good bundle. Each damage must show as the failure its reader names or as
// a change confined to the damaged part; the sanitizer builds also catch any read past a buffer
// or runaway allocation on the way.
#include "BackupArchive.h"
#include "ByteStreams.h"
#include "KorvantalDataFile.h"

#include <gtest/gtest.h>
#include <random>
#include <set>

using namespace Korvantal;
using namespace Korvantal::KorvantalData;
using TestSupport::ByteInputStream;

namespace
{
const std::string kNoType = "Reached end of file looking for type";
const std::string kInSegment = "Reached end of file inside segment";
const std::set<std::string> kParserFailures { kNoType, "Invalid file type string", "Missing index", kInSegment };
const std::set<std::string> kHeaderFailures { kNoType, "Invalid file type string", "Missing index" };

FullTovarekMk2Preset goodPreset()
{
    FullTovarekMk2Preset preset;
    for (uint32_t id = 0; id < 300; ++id)
        preset.parameters[id * 2 + 1] = static_cast<float> (id) / 7.0f;
    preset.cabinet.impulse[0][3] = 0.75f;
    preset.cabinet.name = "Good Cab";
    preset.ampNameAndID = { 42, "Good Amp" };
    return preset;
}

std::string goodPresetText()
{
    TestSupport::ByteOutputStream out;
    EXPECT_TRUE (writeArchivePreset (goodPreset(), out, 2).ok);
    return out.text;
}

const Globals kGoodGlobals { { 3, 3.0f } };

juce::MemoryBlock goodBundle()
{
    TovarekMk2Archive archive;
    archive.versionInfo = std::make_unique<FirmwareVersionInfo>();
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (std::vector<uint8_t> (300, 0x5A));
    archive.presets.push_back ({ 1, goodPreset() });
    archive.globals = std::make_unique<Globals> (kGoodGlobals);

    const juce::File file = juce::File::createTempFile (".t2u");
    EXPECT_TRUE (writeBackupArchive (archive, file).ok);
    juce::MemoryBlock bytes;
    EXPECT_TRUE (file.loadFileAsData (bytes));
    file.deleteFile();
    return bytes;
}

bool samePreset (const FullTovarekMk2Preset& a, const FullTovarekMk2Preset& b)
{
    return a.parameters == b.parameters && a.cabinet.impulse == b.cabinet.impulse && a.cabinet.name == b.cabinet.name
           && a.ampNameAndID.id == b.ampNameAndID.id && a.ampNameAndID.name == b.ampNameAndID.name;
}

Result parse (const std::string& text, DataFile& file)
{
    ByteInputStream in (text);
    return readDataFile (in, file);
}

// What a typed reader must answer for a parsed file: the parser's own failure unchanged, then
// its segment count, then its type, then the sizes of the segments it decodes ("" for success).
std::string expectedMessage (const Result& parsed, const DataFile& file, size_t segments, uint32_t type,
                             const std::string& tooFew, const std::string& wrongType, std::vector<size_t> sizes)
{
    if (! parsed.ok)
        return parsed.message;
    if (file.segments.size() < segments)
        return tooFew;
    if (file.type != type)
        return wrongType;
    for (size_t i = 0; i < sizes.size() && i < file.segments.size(); ++i)
        if (file.segments[i].size() < sizes[i])
            return "Segment too small";
    return "";
}

// Runs every reader that could meet such a file and checks each answer against the parsed file.
void readAsEveryDataFile (const std::string& text)
{
    DataFile file;
    const Result parsed = parse (text, file);
    EXPECT_TRUE (parsed.ok || kParserFailures.count (parsed.message) == 1) << parsed.message;

    const size_t n = file.segments.size();
    const std::string tooFewPreset = "Too few segments in preset file";
    auto message = [&] (auto read) {
        ByteInputStream in (text);
        return read (in).message;
    };

    FullTovarekMk2Preset full;
    EXPECT_EQ (message ([&] (IInputStream& in) { return readArchivePreset (in, full, nullptr); }),
               expectedMessage (parsed, file, 4, kDataFileTypePreset, tooFewPreset, "Not a preset file", { 0, 8192, 64, 68 }));
    Preset older;
    EXPECT_EQ (message ([&] (IInputStream& in) { return readPresetFile (in, older, nullptr); }),
               expectedMessage (parsed, file, 2, kDataFileTypePreset, tooFewPreset, "Not a preset file",
                                n >= 4 ? std::vector<size_t> { 0, 68, 8192, 64 } : std::vector<size_t> { 0, 68 }));
    Cabinet cabinet;
    EXPECT_EQ (message ([&] (IInputStream& in) { return readCabinetFile (in, cabinet, nullptr); }),
               expectedMessage (parsed, file, 2, kDataFileTypeCabinet, "Too few segments in cabinet file", "Not a cabinet file", { 8192, 64 }));
    ParameterMap globals;
    EXPECT_EQ (message ([&] (IInputStream& in) { return readGlobalsFile (in, globals); }),
               expectedMessage (parsed, file, 1, kDataFileTypeGlobals, "Too few segments in globals file", "Not a globals file", {}));
    Amp amp;
    EXPECT_EQ (message ([&] (IInputStream& in) { return readAmpFile (in, amp, nullptr); }),
               expectedMessage (parsed, file, 4, kDataFileTypeAmpModel, "Too few segments in amp file", "Not an amp file",
                                { 4096, 68, 8192, 4096, 4096 }));
    FirmwareVersionInfo version;
    EXPECT_TRUE (message ([&] (IInputStream& in) { return parseFirmwareVersionText (in, version); }).empty());
}

// Where each word line of a data file sits: its offset, its segment and its word number there,
// found from the text's own marker lines.
struct WordLine
{
    size_t offset, segment, word;
};

std::vector<WordLine> wordLines (const std::string& text)
{
    std::vector<WordLine> lines;
    size_t segment = 0, word = 0;
    bool inside = false;
    for (size_t at = 0, end = 0; at < text.size(); at = end + 1)
    {
        end = text.find ('\n', at);
        const std::string line = text.substr (at, end - at);
        if (line.rfind ("# Data Segment", 0) == 0)
        {
            inside = line.find ("Start") != std::string::npos;
            segment += inside ? 0 : 1;
            word = 0;
        }
        else if (inside && line.rfind ("0x", 0) == 0)
        {
            lines.push_back ({ at, segment, word++ });
        }
    }
    return lines;
}

Result readBundle (const void* data, size_t size, TovarekMk2Archive& archive)
{
    juce::ZipFile zip (new juce::MemoryInputStream (data, size, false), true);
    return readBackupArchiveZip (zip, archive);
}

// A damaged bundle either fails with a reader's own text or yields only entries that read back
// as they were written (an entry it could no longer find is simply absent). The firmware image
// and the version text have no structure that would show damage; they are read, not compared.
// Returns what is wrong, so that the callers can report it after the reader's log is captured.
std::string checkFailureOrGoodEntries (const void* data, size_t size, const std::string& damage)
{
    const std::set<std::string> ownFailures { "Not a valid backup file", "Too few segments in preset file", "Not a preset file",
                                              "Segment too small", "Too few segments in globals file", "Not a globals file" };
    TovarekMk2Archive archive;
    const Result result = readBundle (data, size, archive);
    bool good = result.ok || ownFailures.count (result.message) == 1 || kParserFailures.count (result.message) == 1;

    if (result.ok)
    {
        good = good && archive.presets.size() <= 1 && (archive.globals == nullptr || *archive.globals == kGoodGlobals);
        for (const auto& entry : archive.presets)
            good = good && entry.index == 1 && samePreset (entry.preset, goodPreset());
    }
    return good ? "" : damage + ": '" + result.message + "'\n";
}
} // namespace

TEST (BadPresetFile, failsWhenCutBeforeItsLastSegmentEndsAndReadsTheSameAfter)
{
    const std::string text = goodPresetText();
    const std::string lastEnd = "# Data Segment 3 End - Do Not Delete\n";
    const size_t headerEnd = text.find ('\n');
    const size_t segmentsEnd = text.find (lastEnd) + lastEnd.size();

    for (size_t length = 0; length <= text.size(); length += (length < 300 || length + 300 > text.size()) ? 1 : 61)
    {
        const std::string cut = text.substr (0, length);
        if (length % 5 == 0)
            readAsEveryDataFile (cut);

        ByteInputStream in (cut);
        FullTovarekMk2Preset preset;
        const Result result = readArchivePreset (in, preset, nullptr);
        const bool expected = length <= headerEnd + 1 ? result.message == kNoType
                              : length <= segmentsEnd ? result.message == kInSegment || result.message == "Too few segments in preset file"
                                                      : result.ok && samePreset (preset, goodPreset());
        EXPECT_TRUE (expected) << length << ": " << result.message;
    }
}

TEST (BadPresetFile, aFlippedBitInAWordChangesOnlyThatWordOrDropsItsLine)
{
    const std::string text = goodPresetText();
    DataFile good;
    ASSERT_TRUE (parse (text, good).ok);
    const std::vector<WordLine> words = wordLines (text);
    ASSERT_EQ (words.size(), (4096 + 8192 + 64 + 68) / 4u);
    std::mt19937 random (5);

    for (int round = 0; round < 300; ++round)
    {
        const WordLine& line = words[random() % words.size()];
        std::string damaged = text;
        const size_t at = line.offset + 2 + random() % 8; // one of the eight digits
        damaged[at] = static_cast<char> (damaged[at] ^ (1 << (random() % 8)));
        const std::string where = "segment " + std::to_string (line.segment) + " word " + std::to_string (line.word);

        DataFile file;
        ASSERT_TRUE (parse (damaged, file).ok) << where;
        ASSERT_EQ (file.segments.size(), good.segments.size()) << where;
        for (size_t s = 0; s < good.segments.size(); ++s)
        {
            std::vector<uint8_t> expected = good.segments[s];
            if (s == line.segment && file.segments[s].size() == expected.size())
                std::copy_n (file.segments[s].begin() + long (4 * line.word), 4, expected.begin() + long (4 * line.word));
            else if (s == line.segment)
                expected.erase (expected.begin() + long (4 * line.word), expected.begin() + long (4 * line.word + 4));
            EXPECT_EQ (file.segments[s], expected) << where << ", segment " << s;
        }
        if (round % 4 == 0)
            readAsEveryDataFile (damaged);
    }
}

TEST (BadPresetFile, aFlippedBitInTheHeaderFailsItOrLeavesThePresetAsItWas)
{
    const std::string text = goodPresetText();
    // Every bit of the header and the first size line.
    for (size_t bit = 0; bit < 8 * 80; ++bit)
    {
        std::string damaged = text;
        damaged[bit / 8] = static_cast<char> (damaged[bit / 8] ^ (1 << (bit % 8)));

        ByteInputStream in (damaged);
        FullTovarekMk2Preset preset;
        const Result result = readArchivePreset (in, preset, nullptr);
        EXPECT_TRUE (result.ok ? samePreset (preset, goodPreset()) : kHeaderFailures.count (result.message) == 1)
            << bit << ": " << result.message;
        if (bit % 4 == 0)
            readAsEveryDataFile (damaged);
    }
}

TEST (BadPresetFile, everyReaderAgreesWithTheParserOnRandomDamage)
{
    const std::string text = goodPresetText();
    std::mt19937 random (7);
    for (int round = 0; round < 100; ++round)
    {
        std::string damaged = text;
        for (int flips = 1 + static_cast<int> (random() % 8); flips > 0; --flips)
        {
            const size_t at = random() % damaged.size();
            damaged[at] = static_cast<char> (damaged[at] ^ (1 << (random() % 8)));
        }
        readAsEveryDataFile (damaged);
    }
}

TEST (BadPresetFile, arbitraryBytesHoldNoHeaderAndNoSegmentEnd)
{
    std::mt19937 random (11);
    for (int round = 0; round < 200; ++round)
    {
        std::string junk (random() % 2000, '\0');
        for (auto& c : junk)
            c = static_cast<char> (random());
        if (junk.find ("Type") != std::string::npos || junk.find ("Segment") != std::string::npos)
            continue;

        const std::string inSegment = "# File Type: Preset data, Index = 1\n# Data Segment 0 Start\n" + junk;
        DataFile file;
        EXPECT_EQ (parse (junk, file).message, kNoType) << round;
        EXPECT_EQ (parse (inSegment, file).message, kInSegment) << round;
        readAsEveryDataFile (junk);
        readAsEveryDataFile (inSegment);
    }
}

TEST (BadBundle, aTruncatedBundleFailsOrLeavesTheEntriesAsTheyWere)
{
    const juce::MemoryBlock bundle = goodBundle();
    const size_t size = bundle.getSize();
    TovarekMk2Archive whole; // undamaged, it reads back whole
    ASSERT_TRUE (readBundle (bundle.getData(), size, whole).ok);
    ASSERT_EQ (whole.presets.size(), 1u);
    EXPECT_TRUE (samePreset (whole.presets[0].preset, goodPreset()));
    ASSERT_NE (whole.globals, nullptr);
    EXPECT_EQ (*whole.globals, kGoodGlobals);

    std::string wrong;
    testing::internal::CaptureStdout();
    for (size_t length = 0; length < size; length += (length + 400 > size || length < 100) ? 1 : 97)
        wrong += checkFailureOrGoodEntries (bundle.getData(), length, "length " + std::to_string (length));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ (wrong, "");
}

TEST (BadBundle, aFlippedBitInTheZipStructureFailsOrLeavesTheEntriesAsTheyWere)
{
    const juce::MemoryBlock bundle = goodBundle();
    const size_t size = bundle.getSize();

    std::string wrong;
    auto readFlipped = [&] (size_t bit) {
        juce::MemoryBlock damaged (bundle);
        auto* bytes = static_cast<uint8_t*> (damaged.getData());
        bytes[bit / 8] = static_cast<uint8_t> (bytes[bit / 8] ^ (1u << (bit % 8)));
        wrong += checkFailureOrGoodEntries (damaged.getData(), damaged.getSize(), "bit " + std::to_string (bit));
    };

    testing::internal::CaptureStdout();
    // Every bit of the directory at the end and of each entry's local header (30 bytes and the name).
    const size_t directoryBytes = std::min<size_t> (size, 300);
    for (size_t bit = 8 * (size - directoryBytes); bit < 8 * size; ++bit)
        readFlipped (bit);
    const std::string zip (static_cast<const char*> (bundle.getData()), size);
    size_t headers = 0;
    for (size_t at = zip.find ("PK\x03\x04"); at != std::string::npos; at = zip.find ("PK\x03\x04", at + 1), ++headers)
        for (size_t bit = 8 * at; bit < 8 * (at + 30 + static_cast<uint8_t> (zip[at + 26])); ++bit)
            readFlipped (bit);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ (headers, 4u);
    EXPECT_EQ (wrong, "");
}
