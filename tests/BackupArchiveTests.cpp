#include "BackupArchive.h"
#include "ByteStreams.h"
#include "KorvantalDataFile.h"
#include "TestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace Korvantal;
using namespace Korvantal::KorvantalData;

namespace
{
const std::string kZipTool = std::string (TOVAREK_SOURCE_DIR) + "/tests/fixtures/zip_tool.py";

// A fresh directory for one test's files, removed when the test ends.
struct TempDirectory
{
    explicit TempDirectory (const std::string& name) : path (TestSupport::makeTempDirectory (name)) {}
    ~TempDirectory() { std::filesystem::remove_all (path); }
    operator const std::string&() const { return path; }
    std::string operator+ (const std::string& tail) const { return path + tail; }
    const std::string path;
};

std::string quoted (const std::string& text)
{
    return "'" + text + "'";
}

struct ListedEntry
{
    std::string name;
    int method = -1;
    std::string time;
    std::string content;
};

// Lists a zip with Python's zipfile (which also checks every entry's CRC).
std::vector<ListedEntry> listWithPython (const std::string& zip, const std::string& dir)
{
    const std::string outDir = dir + "/listed";
    std::filesystem::create_directories (outDir);
    const std::string listing = dir + "/listing.txt";
    EXPECT_EQ (TestSupport::runCommand ("python3 " + quoted (kZipTool) + " list " + quoted (zip) + " " + quoted (outDir)
                                        + " > " + quoted (listing)),
               0);

    std::vector<ListedEntry> entries;
    std::ifstream in (listing);
    std::string line;
    while (std::getline (in, line))
    {
        std::istringstream fields (line);
        std::string index, method;
        ListedEntry entry;
        std::getline (fields, index, '\t');
        std::getline (fields, entry.name, '\t');
        std::getline (fields, method, '\t');
        std::getline (fields, entry.time, '\t');
        entry.method = std::stoi (method);
        const auto bytes = TestSupport::readFileBytes (outDir + "/" + index + ".bin");
        entry.content.assign (bytes.begin(), bytes.end());
        entries.push_back (entry);
    }
    return entries;
}

// Makes a zip with Python's zipfile; each item is stored:NAME=FILE, deflated:NAME=FILE or dir:NAME.
void makeWithPython (const std::string& zip, const std::vector<std::string>& items)
{
    std::string command = "python3 " + quoted (kZipTool) + " make " + quoted (zip);
    for (const auto& item : items)
        command += " " + quoted (item);
    ASSERT_EQ (TestSupport::runCommand (command), 0);
}

std::string writeTextFile (const std::string& path, const std::string& text)
{
    TestSupport::writeFileBytes (path, std::vector<uint8_t> (text.begin(), text.end()));
    return path;
}

FullTovarekMk2Preset makePreset (uint32_t seed)
{
    FullTovarekMk2Preset preset;
    for (uint32_t id = 0; id < 40; ++id)
        preset.parameters[id * 3 + seed] = static_cast<float> (id) * 0.5f + static_cast<float> (seed);
    preset.cabinet.impulse[1][7] = 0.125f * static_cast<float> (seed + 1);
    preset.cabinet.name = "Cab " + std::to_string (seed);
    preset.ampNameAndID = { 100 + seed, "Amp " + std::to_string (seed) };
    return preset;
}

std::string presetText (const FullTovarekMk2Preset& preset, uint32_t index)
{
    TestSupport::ByteOutputStream out;
    EXPECT_TRUE (writeArchivePreset (preset, out, index).ok);
    return out.text;
}

std::string globalsText (const ParameterMap& globals)
{
    TestSupport::ByteOutputStream out;
    EXPECT_TRUE (writeGlobalsFile (globals, out).ok);
    return out.text;
}

TovarekMk2Archive backupArchive()
{
    TovarekMk2Archive archive;
    archive.presets.push_back ({ 0, makePreset (0) });
    archive.presets.push_back ({ 6, makePreset (6) });
    archive.globals = std::make_unique<Globals> (Globals { { 1, 0.5f }, { 40, -2.0f } });
    return archive;
}

void expectSamePreset (const FullTovarekMk2Preset& a, const FullTovarekMk2Preset& b)
{
    EXPECT_EQ (a.parameters, b.parameters);
    EXPECT_EQ (a.cabinet.impulse, b.cabinet.impulse);
    EXPECT_EQ (a.cabinet.name, b.cabinet.name);
    EXPECT_EQ (a.ampNameAndID.id, b.ampNameAndID.id);
    EXPECT_EQ (a.ampNameAndID.name, b.ampNameAndID.name);
}

std::string captureLog (const std::function<void()>& body)
{
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}
} // namespace

// ---------------------------------------------------------------- writing, checked by Python

TEST (BackupArchiveWriter, replacesTheTargetWithVersionImagePresetsAndGlobalsInOrderStoredWithOneTime)
{
    const TempDirectory dir ("bundleOrder");
    const juce::File target (dir + "/Backup.t2u");
    ASSERT_TRUE (target.replaceWithText (std::string (100000, 'x')));
    TovarekMk2Archive archive = backupArchive();
    archive.versionInfo = std::make_unique<FirmwareVersionInfo>();
    archive.versionInfo->systemVersion = { 4, 1, 0, 0 };
    archive.versionInfo->dspVersion = { 4, 2, 0, 0 };
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (std::vector<uint8_t> { 0x54, 0x56, 0x4B, 0x4C, 0x01, 0x0F });
    archive.presets.push_back ({ 12, makePreset (3) });
    ASSERT_TRUE (writeBackupArchive (archive, target).ok);

    const auto entries = listWithPython (target.getFullPathName().toStdString(), dir);
    const char* const names[] = { "ArchiveInfo.txt", "ZelkorAmp.ldr", "Zelkor_TovarekMk2_0.tvp", "Zelkor_TovarekMk2_6.tvp",
                                  "Zelkor_TovarekMk2_12.tvp", "Zelkor_Korvantal_0.glo" };
    ASSERT_EQ (entries.size(), std::size (names));
    for (size_t i = 0; i < entries.size(); ++i)
    {
        EXPECT_EQ (entries[i].name, names[i]);
        EXPECT_EQ (entries[i].method, 0) << entries[i].name;
        EXPECT_EQ (entries[i].time, entries[0].time) << entries[i].name;
    }

    EXPECT_EQ (entries[0].content, "SYSTEM_FW_VERSION : 4.1.0\nDSP_FW_VERSION : 4.2.0\n");
    EXPECT_EQ (entries[1].content, std::string ("\x2A\x6A\xD2\x32\x80\xF0", 6));
    EXPECT_EQ (entries[2].content, presetText (archive.presets[0].preset, 0));
    EXPECT_EQ (entries[3].content, presetText (archive.presets[1].preset, 6));
    EXPECT_EQ (entries[3].content.rfind ("# File Type: Preset data, Index = 6\n", 0), 0u);
    EXPECT_EQ (entries[4].content, presetText (archive.presets[2].preset, 12));
    EXPECT_EQ (entries[5].content, globalsText (*archive.globals));
}

TEST (BackupArchiveWriter, writesAnEmptyArchiveAsAZipWithoutEntriesThatDoesNotReadBack)
{
    const TempDirectory dir ("bundleEmpty");
    const juce::File target (dir + "/Empty.t2u");
    ASSERT_TRUE (writeBackupArchive (TovarekMk2Archive(), target).ok);
    EXPECT_TRUE (listWithPython (target.getFullPathName().toStdString(), dir).empty());

    TovarekMk2Archive back;
    EXPECT_EQ (readBackupArchive (target, back).message, "Not a valid backup file");
}

TEST (BackupArchiveWriter, leavesTheTargetUntouchedWhenAnEntryCannotBeBuilt)
{
    const TempDirectory dir ("bundleTooMany");
    const juce::File target (dir + "/Backup.t2u");
    ASSERT_TRUE (target.replaceWithText ("old backup"));

    TovarekMk2Archive archive = backupArchive();
    for (uint32_t id = 0; id < 200; ++id)
        (*archive.globals)[id] = 1.0f;

    EXPECT_EQ (writeBackupArchive (archive, target).message, "Too many params");
    EXPECT_EQ (target.loadFileAsString(), "old backup");
}

TEST (BackupArchiveWriter, failsToOverwriteATargetInAMissingFolderOrOneThatCannotBeDeleted)
{
    const TempDirectory dir ("bundleNoTarget");
    const juce::File missingFolder (dir + "/missing/Backup.t2u");
    const juce::File folderTarget (dir + "/Backup.t2u");
    ASSERT_TRUE (folderTarget.getChildFile ("inside").create().wasOk());

    EXPECT_EQ (writeBackupArchive (backupArchive(), missingFolder).message, "Failed to overwrite file");
    EXPECT_FALSE (missingFolder.exists());
    EXPECT_EQ (writeBackupArchive (backupArchive(), folderTarget).message, "Failed to overwrite file");
    EXPECT_TRUE (folderTarget.getChildFile ("inside").exists());
}

// ---------------------------------------------------------------- reading our own bundles

TEST (BackupArchiveReader, readsBackTheWritersPresetsInOrderWithTheirIndexes)
{
    const TempDirectory dir ("bundleRoundTrip");
    const juce::File target (dir + "/Backup.t2u");
    TovarekMk2Archive archive = backupArchive();
    archive.presets.push_back ({ 3, makePreset (3) });
    archive.presets.push_back ({ 3, makePreset (4) });
    archive.versionInfo = std::make_unique<FirmwareVersionInfo>();
    archive.versionInfo->dspVersion = { 4, 2, 0, 0 };
    std::vector<uint8_t> image (128032);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t> (i * 31 + (i >> 8));
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (image);
    // Members the preset files do not carry come back as defaults.
    archive.presets[0].preset.ampData.text1 = "not in the file";
    archive.presets[0].preset.finishingFilter[3] = 7;
    ASSERT_TRUE (writeBackupArchive (archive, target).ok);

    TovarekMk2Archive back;
    ASSERT_TRUE (readBackupArchive (target, back).ok);
    ASSERT_EQ (back.presets.size(), 4u);
    const uint32_t indexes[] = { 0, 6, 3, 3 };
    for (size_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ (back.presets[i].index, indexes[i]);
        expectSamePreset (back.presets[i].preset, archive.presets[i].preset);
    }
    EXPECT_EQ (back.presets[0].preset.ampData.text1, "");
    EXPECT_EQ (back.presets[0].preset.finishingFilter, makeDefaultFinishingFilter());
    ASSERT_NE (back.globals, nullptr);
    EXPECT_EQ (*back.globals, *archive.globals);
    ASSERT_NE (back.versionInfo, nullptr);
    EXPECT_EQ (back.versionInfo->dspVersion, archive.versionInfo->dspVersion);
    EXPECT_EQ (back.versionInfo->extraCode, -1);
    ASSERT_NE (back.firmwareImage, nullptr);
    EXPECT_EQ (*back.firmwareImage, image);
}

TEST (BackupArchiveReader, failsOnAMissingFileOneThatIsNoZipOrOneTooLarge)
{
    const TempDirectory dir ("bundleNoZip");
    TovarekMk2Archive archive;
    EXPECT_EQ (readBackupArchive (juce::File (dir + "/nothing.t2u"), archive).message, "Not a valid backup file");

    const juce::File text (dir + "/text.t2u");
    ASSERT_TRUE (text.replaceWithText ("# File Type: Globals data\n\n"));
    EXPECT_EQ (readBackupArchive (text, archive).message, "Not a valid backup file");

    // An end record that puts the zip's directory at the start of a large (sparse) file, which
    // the framework would take into memory whole.
    const std::string large = dir + "/large.t2u";
    const auto largeSize = static_cast<std::uintmax_t> (kMaxBackupFileSize + 1);
    std::ofstream (large).close();
    std::filesystem::resize_file (large, largeSize);
    std::fstream out (large, std::ios::in | std::ios::out | std::ios::binary);
    const char endRecord[22] = { 'P', 'K', 5, 6, 0, 0, 0, 0, 1, 0, 1, 0, 46 };
    out.seekp (static_cast<std::streamoff> (largeSize - sizeof endRecord));
    out.write (endRecord, sizeof endRecord);
    out.close();
    EXPECT_EQ (readBackupArchive (juce::File (large), archive).message, "Not a valid backup file");
    EXPECT_TRUE (archive.presets.empty());
    EXPECT_EQ (archive.globals, nullptr);
}

// ---------------------------------------------------------------- reading Python's bundles

TEST (BackupArchiveReader, skipsHiddenAndMacEntriesFindsEntriesByTheirEndingsAndLetsALaterGlobalsWin)
{
    const TempDirectory dir ("bundlePython");
    const std::string preset = writeTextFile (dir + "/preset.txt", presetText (makePreset (5), 3));
    const std::string globals = writeTextFile (dir + "/globals.txt", globalsText ({ { 9, 9.0f } }));
    const std::string version = writeTextFile (dir + "/version.txt", "DSP_FW_VERSION : 1.2.3\r\n");
    const std::string earlierGlobals = writeTextFile (dir + "/g1.txt", globalsText ({ { 1, 1.0f } }));
    const std::string samePresetIndex = writeTextFile (dir + "/b.txt", presetText (makePreset (2), 3));
    const std::string zip = dir + "/FromPython.t2u";
    makeWithPython (zip, { "stored:a.glo=" + earlierGlobals,
                           "stored:__MACOSX/._Zelkor_TovarekMk2_0.tvp=" + preset,
                           "stored:.hidden.tvp=" + preset,
                           "dir:Backup/",
                           "deflated:Backup/ZELKOR_TOVAREKMK2_3.TVP=" + preset,
                           "stored:Backup/zelkor_korvantal_0.GLO=" + globals,
                           "deflated:info/ARCHIVEINFO.TXT=" + version,
                           "stored:readme.txt=" + version,
                           "stored:y.tvp=" + samePresetIndex });

    TovarekMk2Archive archive;
    Result result;
    const std::string log = captureLog ([&] { result = readBackupArchive (juce::File (zip), archive); });
    ASSERT_TRUE (result.ok) << result.message;

    ASSERT_EQ (archive.presets.size(), 2u);
    EXPECT_EQ (archive.presets[0].index, 3u);
    expectSamePreset (archive.presets[0].preset, makePreset (5));
    EXPECT_EQ (archive.presets[1].index, 3u);
    expectSamePreset (archive.presets[1].preset, makePreset (2));
    ASSERT_NE (archive.globals, nullptr);
    EXPECT_EQ (*archive.globals, (Globals { { 9, 9.0f } }));
    ASSERT_NE (archive.versionInfo, nullptr);
    EXPECT_EQ (archive.versionInfo->dspVersion, (std::array<uint8_t, 4> { 1, 2, 3, 0 }));
    EXPECT_EQ (archive.firmwareImage, nullptr);

    EXPECT_EQ (log, "WARNING: Unrecognized entry in backup archive: 'Backup/'\n"
                    "WARNING: Unrecognized entry in backup archive: 'readme.txt'\n");
}

TEST (BackupArchiveReader, readsAZipOfOnlyHiddenEntriesAsAnEmptyArchive)
{
    const TempDirectory dir ("bundleHidden");
    const std::string preset = writeTextFile (dir + "/preset.txt", presetText (makePreset (1), 1));
    const std::string zip = dir + "/Hidden.t2u";
    makeWithPython (zip, { "dir:__MACOSX/", "stored:__MACOSX/Zelkor_TovarekMk2_1.tvp=" + preset, "stored:._Zelkor_TovarekMk2_1.tvp=" + preset });

    TovarekMk2Archive archive;
    std::string log = captureLog ([&] { EXPECT_TRUE (readBackupArchive (juce::File (zip), archive).ok); });
    EXPECT_TRUE (archive.presets.empty());
    EXPECT_EQ (log, "");
}

TEST (BackupArchiveReader, endsAtAFailedPresetEntryKeepingWhatCameBeforeAndADefaultEntry)
{
    const TempDirectory dir ("bundleBadPreset");
    auto fileText = [] (const DataFile& file) {
        TestSupport::ByteOutputStream out;
        EXPECT_TRUE (writeDataFile (file, out).ok);
        return out.text;
    };
    const std::string good = writeTextFile (dir + "/good.txt", presetText (makePreset (1), 4));
    const std::pair<std::string, std::string> cases[] = {
        { fileText (DataFile (kDataFileTypeAmpModel, 9, 4)), "Not a preset file" },
        { fileText (DataFile (kDataFileTypePreset, 1, 3)), "Too few segments in preset file" },
        { "just text\n", "Reached end of file looking for type" },
    };

    for (const auto& [text, message] : cases)
    {
        const std::string bad = writeTextFile (dir + "/bad.txt", text);
        const std::string zip = dir + "/Bad.t2u";
        makeWithPython (zip, { "stored:Zelkor_TovarekMk2_4.tvp=" + good, "stored:Zelkor_TovarekMk2_5.tvp=" + bad,
                               "stored:Zelkor_Korvantal_0.glo=" + good });

        TovarekMk2Archive archive;
        EXPECT_EQ (readBackupArchive (juce::File (zip), archive).message, message);
        ASSERT_EQ (archive.presets.size(), 2u) << message;
        EXPECT_EQ (archive.presets[0].index, 4u);
        EXPECT_EQ (archive.presets[1].index, 0u) << message;
        EXPECT_TRUE (archive.presets[1].preset.parameters.empty()) << message;
        EXPECT_EQ (archive.globals, nullptr) << "the read ends at the failed entry";
    }
}

TEST (BackupArchiveReader, boundsWhatAnEntryAndAllEntriesInflateTo)
{
    const TempDirectory dir ("bundleBomb");
    const std::string zeros = dir + "/zeros.bin";
    TestSupport::writeFileBytes (zeros, std::vector<uint8_t> (kMaxBackupEntrySize + 1, 0));
    const std::string bomb = dir + "/Bomb.t2u";
    makeWithPython (bomb, { "deflated:ZelkorAmp.ldr=" + zeros });

    // One small compressed preset that the zip's directory lists again and again.
    const std::string text = presetText (makePreset (1), 1);
    const std::string preset = writeTextFile (dir + "/preset.txt", text);
    const std::string repeated = dir + "/Repeated.t2u";
    const size_t presetsThatFit = kMaxBackupContentSize / text.size();
    ASSERT_EQ (TestSupport::runCommand ("python3 " + quoted (kZipTool) + " repeat " + quoted (repeated) + " "
                                        + quoted ("Zelkor_TovarekMk2_1.tvp=" + preset) + " "
                                        + std::to_string (presetsThatFit + 20)),
               0);

    const std::tuple<std::string, std::string, size_t> cases[] = {
        { bomb, "Backup entry too large: 'ZelkorAmp.ldr'", 0 },
        { repeated, "Not a valid backup file", presetsThatFit },
    };
    for (const auto& [zip, message, presets] : cases)
    {
        ASSERT_LT (juce::File (zip).getSize(), 1000000);
        TovarekMk2Archive archive;
        EXPECT_EQ (readBackupArchive (juce::File (zip), archive).message, message);
        EXPECT_EQ (archive.presets.size(), presets) << message;
        EXPECT_EQ (archive.firmwareImage, nullptr) << "no member is made for content beyond the bound";
    }
}
