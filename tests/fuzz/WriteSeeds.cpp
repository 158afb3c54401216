// Writes the seed files of the data-file, record and bundle fuzzers with the product's own
// writers. Run by make_corpus.sh; its output is committed under corpus/.

#include "BackupArchive.h"
#include "ByteStreams.h"
#include "KorvantalDataFile.h"
#include "PresetUpgrade.h"

using namespace Korvantal;
using namespace Korvantal::KorvantalData;

namespace
{
// An older preset's parameters: a layout version the upgrade converts, and its routing.
const ParameterMap kOldPreset { { 22, 2.0f }, { 23, 1.0f }, { 25, 0.25f }, { 95, 3.0f }, { 112, -6.0f },
                                { kPresetFormatVersionParam, static_cast<float> (kLastOldPresetFormat) } };
const ParameterMap kGlobals { { 1, 0.5f }, { 2, 12.0f }, { 7, -3.5f }, { 40, 1.0f } };

void save (const juce::File& file, const std::string& bytes)
{
    if (! file.getParentDirectory().createDirectory() || ! file.replaceWithData (bytes.data(), bytes.size()))
        std::abort();
}

std::string dataFileText (const DataFile& file)
{
    TestSupport::ByteOutputStream out;
    writeDataFile (file, out);
    return out.text;
}

FullTovarekMk2Preset makePreset()
{
    FullTovarekMk2Preset preset;
    preset.parameters = kOldPreset;
    preset.parameters[kPresetFormatVersionParam] = static_cast<float> (kCurrentPresetFormat);
    preset.cabinet.name = "Seed Cab";
    preset.ampNameAndID = { 3, "Seed Amp" };
    return preset;
}

TovarekMk2Archive makeBundle (bool firmware, bool preset)
{
    TovarekMk2Archive archive;
    archive.versionInfo = std::make_unique<FirmwareVersionInfo> (FirmwareVersionInfo { { 4, 2, 0, 0 }, { 4, 2, 1, 0 }, 1 });
    if (firmware)
        archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (std::vector<uint8_t> { 0x01, 0x80, 0x5A, 0xC3, 0x00, 0xFF });
    if (preset)
        archive.presets.push_back ({ 2, makePreset() });
    archive.globals = std::make_unique<Globals> (kGlobals);
    return archive;
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    const juce::File corpus = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);

    TestSupport::ByteOutputStream globals, preset, version;
    writeGlobalsFile (kGlobals, globals);
    writeArchivePreset (makePreset(), preset, 1);
    writeFirmwareVersionText (*makeBundle (false, false).versionInfo, version);
    DataFile older (kDataFileTypePreset, 5, 0);
    older.writeSegmentParams (kOldPreset, 16);
    older.writeSegmentName (1, "Old Preset");
    save (corpus.getChildFile ("DataFile/globals.glo"), globals.text);
    save (corpus.getChildFile ("DataFile/preset.t2p"), preset.text);
    save (corpus.getChildFile ("DataFile/version.txt"), version.text);
    save (corpus.getChildFile ("DataFile/older.pre"), dataFileText (older));

    std::string block (64 * kParamPairSize, '\0');
    encodeParamBlock (kOldPreset, reinterpret_cast<uint8_t*> (block.data()), 64);
    save (corpus.getChildFile ("KorvantalData/older-preset.bin"), block);
    block.assign (kAmpNameAndIDBlockSize, '\0');
    encodeAmpNameAndID ({ 7, "Seed Amp" }, reinterpret_cast<uint8_t*> (block.data()));
    save (corpus.getChildFile ("KorvantalData/amp-name.bin"), block);

    const auto bundles = corpus.getChildFile ("BackupArchive");
    bundles.createDirectory();
    return writeBackupArchive (makeBundle (false, false), bundles.getChildFile ("globals.t2u")).ok
               && writeBackupArchive (makeBundle (true, false), bundles.getChildFile ("firmware.t2u")).ok
               && writeBackupArchive (makeBundle (false, true), bundles.getChildFile ("preset.t2u")).ok
               ? 0 : 1;
}
