// Damaged files fed to the readers: truncated and bit-flipped copies of one good preset file
// and one good bundle. Every read must end cleanly, with success or a failure that says why;
// the sanitizer builds catch any read past a buffer or runaway allocation.
#include "BackupArchive.h"
#include "ByteStreams.h"
#include "KorvantalDataFile.h"

#include <gtest/gtest.h>
#include <random>

using namespace Korvantal;
using namespace Korvantal::KorvantalData;
using TestSupport::ByteInputStream;

namespace
{
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

juce::MemoryBlock goodBundle()
{
    TovarekMk2Archive archive;
    archive.versionInfo = std::make_unique<FirmwareVersionInfo>();
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (std::vector<uint8_t> (300, 0x5A));
    archive.presets.push_back ({ 1, goodPreset() });
    archive.globals = std::make_unique<Globals> (Globals { { 3, 3.0f } });

    const juce::File file = juce::File::createTempFile (".t2u");
    EXPECT_TRUE (writeBackupArchive (archive, file).ok);
    juce::MemoryBlock bytes;
    EXPECT_TRUE (file.loadFileAsData (bytes));
    file.deleteFile();
    return bytes;
}

// Runs every reader that could meet such a file; none may crash, and a failure carries a message.
void readAsEveryDataFile (const std::string& text)
{
    auto check = [] (const Result& result) { EXPECT_TRUE (result.ok || ! result.message.empty()); };

    { ByteInputStream in (text); DataFile file; check (readDataFile (in, file)); }
    { ByteInputStream in (text); FullTovarekMk2Preset p; uint32_t i = 0; check (readArchivePreset (in, p, &i)); }
    { ByteInputStream in (text); Preset p; check (readPresetFile (in, p, nullptr)); }
    { ByteInputStream in (text); Cabinet c; check (readCabinetFile (in, c, nullptr)); }
    { ByteInputStream in (text); ParameterMap g; check (readGlobalsFile (in, g)); }
    { ByteInputStream in (text); Amp a; check (readAmpFile (in, a, nullptr)); }
    { ByteInputStream in (text); FirmwareVersionInfo v; check (parseFirmwareVersionText (in, v)); }
}

Result readBundle (const void* data, size_t size, TovarekMk2Archive& archive)
{
    juce::ZipFile zip (new juce::MemoryInputStream (data, size, false), true);
    return readBackupArchiveZip (zip, archive);
}

bool samePreset (const FullTovarekMk2Preset& a, const FullTovarekMk2Preset& b)
{
    return a.parameters == b.parameters && a.cabinet.impulse == b.cabinet.impulse && a.cabinet.name == b.cabinet.name
           && a.ampNameAndID.id == b.ampNameAndID.id && a.ampNameAndID.name == b.ampNameAndID.name;
}
} // namespace

TEST (BadPresetFile, failsWhenCutBeforeItsLastSegmentEndsAndReadsTheSameAfter)
{
    const std::string text = goodPresetText();
    const std::string lastEnd = "# Data Segment 3 End - Do Not Delete\n";
    const size_t segmentsEnd = text.find (lastEnd) + lastEnd.size();
    const FullTovarekMk2Preset expected = goodPreset();

    for (size_t length = 0; length <= text.size(); length += (length < 300 || length + 300 > text.size()) ? 1 : 61)
    {
        ByteInputStream in (text.substr (0, length));
        FullTovarekMk2Preset preset;
        const Result result = readArchivePreset (in, preset, nullptr);

        if (length <= segmentsEnd)
        {
            EXPECT_FALSE (result.ok) << length;
            EXPECT_FALSE (result.message.empty());
        }
        else
        {
            EXPECT_TRUE (result.ok) << length << ": " << result.message;
            EXPECT_TRUE (samePreset (preset, expected)) << length;
        }
    }
}

TEST (BadPresetFile, survivesFlippedBitsInEveryReader)
{
    const std::string text = goodPresetText();
    std::mt19937 random (7);

    // Every bit of the header and the first size line, then random bits anywhere.
    for (size_t bit = 0; bit < 8 * 80; ++bit)
    {
        std::string damaged = text;
        damaged[bit / 8] = static_cast<char> (damaged[bit / 8] ^ (1 << (bit % 8)));
        readAsEveryDataFile (damaged);
    }

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

TEST (BadPresetFile, survivesArbitraryBytes)
{
    std::mt19937 random (11);
    for (int round = 0; round < 200; ++round)
    {
        std::string junk (random() % 2000, '\0');
        for (auto& c : junk)
            c = static_cast<char> (random());
        readAsEveryDataFile (junk);
        readAsEveryDataFile ("# File Type: Preset data, Index = 1\n# Data Segment 0 Start\n" + junk);
    }
}

TEST (BadBundle, readsTheGoodBundleBeforeItIsDamaged)
{
    const juce::MemoryBlock bundle = goodBundle();
    TovarekMk2Archive archive;
    ASSERT_TRUE (readBundle (bundle.getData(), bundle.getSize(), archive).ok);
    ASSERT_EQ (archive.presets.size(), 1u);
    EXPECT_TRUE (samePreset (archive.presets[0].preset, goodPreset()));
}

TEST (BadBundle, endsCleanlyWhenTruncatedAnywhere)
{
    const juce::MemoryBlock bundle = goodBundle();
    const size_t size = bundle.getSize();

    testing::internal::CaptureStdout();
    for (size_t length = 0; length < size; length += (length + 400 > size || length < 100) ? 1 : 97)
    {
        TovarekMk2Archive archive;
        const Result result = readBundle (bundle.getData(), length, archive);
        EXPECT_TRUE (result.ok || ! result.message.empty()) << length;
        // The zip's directory sits at its end: a copy cut before it lists nothing.
        if (length + 200 < size)
        {
            EXPECT_EQ (result.message, "Not a valid backup file") << length;
        }
    }
    testing::internal::GetCapturedStdout();
}

TEST (BadBundle, endsCleanlyWithFlippedBits)
{
    const juce::MemoryBlock bundle = goodBundle();
    const size_t size = bundle.getSize();
    std::mt19937 random (3);

    auto readFlipped = [&] (const std::vector<size_t>& bits) {
        juce::MemoryBlock damaged (bundle);
        auto* bytes = static_cast<uint8_t*> (damaged.getData());
        for (size_t bit : bits)
            bytes[bit / 8] = static_cast<uint8_t> (bytes[bit / 8] ^ (1u << (bit % 8)));
        TovarekMk2Archive archive;
        const Result result = readBundle (damaged.getData(), damaged.getSize(), archive);
        EXPECT_TRUE (result.ok || ! result.message.empty());
    };

    testing::internal::CaptureStdout();
    // Every bit of the directory at the end and of the first local header.
    const size_t directoryBytes = std::min<size_t> (size, 300);
    for (size_t bit = 8 * (size - directoryBytes); bit < 8 * size; ++bit)
        readFlipped ({ bit });
    for (size_t bit = 0; bit < 8 * 64; ++bit)
        readFlipped ({ bit });
    for (int round = 0; round < 100; ++round)
        readFlipped ({ random() % (8 * size), random() % (8 * size) });
    testing::internal::GetCapturedStdout();
}
