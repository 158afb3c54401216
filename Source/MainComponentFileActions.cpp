#include "MainComponent.h"

#include "BackupArchive.h"
#include "EmbeddedData.h"
#include "IOUtils.h"
#include "KorvantalDataFile.h"
#include "StockAmpTable.h"

// The file menu: backup and restore of the whole unit as a bundle, export and import of the
// edit buffer's preset, and the firmware update. Dialogs, file reading and task starts run on the
// message thread; the files of a backup or an export are written on the worker by the task's
// completion.

namespace
{
using Korvantal::Result;
using Korvantal::KorvantalData::Amp;
using Korvantal::KorvantalData::FullTovarekMk2Preset;
using Korvantal::KorvantalData::Preset;
using Korvantal::KorvantalData::TovarekMk2Archive;

const char* const kLastDirectoryKey = "lastDirectory";

enum FileMenuItem : int
{
    kMenuBackup = 1,
    kMenuRestore = 2,
    kMenuExportPreset = 3,
    kMenuImportPreset = 4,
    kMenuUpdateFirmware = 5,
    kMenuUpdateFirmwareFromFile = 6
};

constexpr int kExportBufferSize = 16384;

// An exported preset file always names the edit buffer; the index stored in an imported one is ignored.
constexpr uint32_t kExportedPresetIndex = 0;

// Files read whole on the message thread are refused beyond these sizes: the real ones are a
// few hundred kilobytes at most (a 128 KB loader image, preset text of about 150 KB), and a
// wrongly chosen huge file must not be taken into memory.
constexpr juce::int64 kMaxFirmwareFileSize = 1 << 20;
constexpr juce::int64 kMaxPresetFileSize = 4 << 20;

bool isTooLarge (const juce::File& file, juce::int64 limit)
{
    return file.existsAsFile() && file.getSize() > limit;
}

// An older ".pre" file knows no amp: its parameters and cabinet go into a fresh preset whose amp
// is the first stock amp, so that the amp lookup gives it a complete amp model.
void carryOlderPreset (const Preset& older, FullTovarekMk2Preset& preset)
{
    preset.parameters = older.parameters;

    if (older.cabinet != nullptr)
        preset.cabinet = *older.cabinet;

    for (const auto& row : TovarekMk2::StockAmpTable)
    {
        if (row.amp != nullptr)
        {
            preset.ampNameAndID = row.amp->nameAndID;
            return;
        }
    }
}

// The whole stream, bit-reversed; an image of no bytes is no firmware and never goes to the unit.
bool readFirmwareImage (juce::InputStream& input, std::vector<uint8_t>& image)
{
    InStreamWrapper stream (&input);
    return Korvantal::readBitReversedStream (stream, image).ok && ! image.empty();
}

// The framework's file stream gives no bytes and no read error for a file it could not open or
// read: only its status tells, and an unreadable file must not pass for an empty one.
bool readFirmwareFile (const juce::File& file, std::vector<uint8_t>& image)
{
    if (isTooLarge (file, kMaxFirmwareFileSize))
        return false;

    juce::FileInputStream input (file);
    return input.openedOk() && readFirmwareImage (input, image) && ! input.getStatus().failed();
}

bool readCarriedFirmware (std::vector<uint8_t>& image)
{
    const auto carried = TovarekMk2::EmbeddedData::getDspFirmwareImage();
    juce::MemoryInputStream input (carried.data, carried.size, false);
    return readFirmwareImage (input, image);
}

// Either preset format; false when the file cannot be opened, read or parsed.
bool readPresetFromFile (const juce::File& file, FullTovarekMk2Preset& preset)
{
    if (isTooLarge (file, kMaxPresetFileSize))
        return false;

    juce::FileInputStream input (file);
    if (! input.openedOk())
        return false;

    InStreamWrapper stream (&input);
    bool read = false;

    if (file.hasFileExtension ("pre"))
    {
        Preset older;
        read = Korvantal::readPresetFile (stream, older, nullptr).ok;
        if (read)
            carryOlderPreset (older, preset);
    }
    else
    {
        read = Korvantal::readArchivePreset (stream, preset, nullptr).ok;
    }

    return read && ! input.getStatus().failed();
}

// A bundle whose entries are all foreign or hidden reads without error, yet holds nothing to restore.
bool holdsSomethingToRestore (const TovarekMk2Archive& archive)
{
    return ! archive.presets.empty() || archive.globals != nullptr;
}
} // namespace

juce::File MainComponent::getLastDirectory() const
{
    auto directory = juce::File::createFileWithoutCheckingPath (_settings->getValue (kLastDirectoryKey, {}));

    if (directory.existsAsFile())
        directory = directory.getParentDirectory();

    return directory.exists() ? directory : juce::File();
}

juce::File MainComponent::getDefaultFile (const juce::String& fileName) const
{
    auto directory = getLastDirectory();

    if (! directory.exists())
        directory = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);

    return fileName.isEmpty() ? directory : directory.getChildFile (fileName);
}

void MainComponent::setLastDirectory (const juce::File& chosen)
{
    // A file to be saved does not exist yet; its folder is still what to remember.
    const auto directory = chosen.isDirectory() ? chosen : chosen.getParentDirectory();
    _settings->setValue (kLastDirectoryKey, directory.getFullPathName());
}

int MainComponent::runModalMenu (juce::PopupMenu& menu)
{
    return menu.show();
}

juce::File MainComponent::runModalFileChooser (const FileRequest& request)
{
    juce::FileChooser chooser (juce::translate (request.title), request.initialFile, request.patterns,
                               true, false, nullptr);

    const bool chosen = request.save ? chooser.browseForFileToSave (true) : chooser.browseForFileToOpen (nullptr);
    return chosen ? chooser.getResult() : juce::File();
}

bool MainComponent::chooseFile (const FileRequest& request, juce::File& chosen)
{
    chosen = _chooseFile ? _chooseFile (request) : juce::File();

    if (chosen == juce::File())
        return false;

    setLastDirectory (chosen);
    return true;
}

void MainComponent::showFailure (const Result& failure)
{
    setError ("%s", failure.message.c_str());
}

std::function<void (double)> MainComponent::makeProgressCallback()
{
    juce::Component::SafePointer<MainComponent> owner (this);

    return [owner] (double progress)
    {
        juce::MessageManager::callAsync ([owner, progress]
        {
            if (auto* component = owner.getComponent())
                component->onProgress (progress);
        });
    };
}

void MainComponent::reportFromWorker (juce::Component::SafePointer<MainComponent> owner, const Result& result)
{
    if (result.ok)
        return;

    const auto message = result.message;
    juce::MessageManager::callAsync ([owner, message]
    {
        if (auto* component = owner.getComponent())
            component->setError ("%s", message.c_str());
    });
}

void MainComponent::showFileMenu()
{
    const auto state = _service->getState();
    const bool idle = state == Service::Idle;
    const bool updatable = idle || state == Service::FirmwareTooOld || state == Service::Error;

    juce::PopupMenu menu;
    menu.addItem (kMenuBackup, "Backup", idle, false);
    menu.addItem (kMenuRestore, "Restore", idle, false);
    menu.addItem (kMenuExportPreset, "Export Preset", idle, false);
    menu.addItem (kMenuImportPreset, "Import Preset", idle, false);
    menu.addItem (kMenuUpdateFirmware, "Update Firmware", updatable, false);
    menu.addItem (kMenuUpdateFirmwareFromFile, "Update Firmware from File", updatable, false);

    switch (_runMenu ? _runMenu (menu) : 0)
    {
        case kMenuBackup:                 backupToFile(); break;
        case kMenuRestore:                restoreFromFile(); break;
        case kMenuExportPreset:           exportPreset(); break;
        case kMenuImportPreset:           importPreset(); break;
        case kMenuUpdateFirmware:         updateFirmware (false); break;
        case kMenuUpdateFirmwareFromFile: updateFirmware (true); break;
        default:                          break;
    }
}

void MainComponent::backupToFile()
{
    juce::File file;
    if (! chooseFile ({ "Save Backup Bundle", getDefaultFile ("Backup.t2u"), "*.t2u", true }, file))
        return;

    juce::Component::SafePointer<MainComponent> owner (this);
    const auto completion = [owner, file] (const TovarekMk2Archive& archive)
    {
        reportFromWorker (owner, saveBackupArchive (file, archive));
    };

    if (! _service->beginBackup (makeProgressCallback(), completion).ok)
        showFailure (KORVANTAL_ERROR ("Failed to start backup"));
}

Result MainComponent::saveBackupArchive (const juce::File& file, const TovarekMk2Archive& archive)
{
    if (! Korvantal::writeBackupArchive (archive, file).ok)
        return KORVANTAL_ERROR ("Failed to save archive");

    return Result::success;
}

void MainComponent::restoreFromFile()
{
    juce::File file;
    if (! chooseFile ({ "Restore Backup Bundle", getLastDirectory(), "*.t2u", false }, file))
        return;

    TovarekMk2Archive archive;
    if (! Korvantal::readBackupArchive (file, archive).ok || ! holdsSomethingToRestore (archive))
    {
        showFailure (KORVANTAL_ERROR ("Failed to load backup"));
        return;
    }

    // A bundle names each preset's amp only by its id; an unknown one is sent as the bundle has it.
    for (auto& entry : archive.presets)
        if (! getAmpDataForId (_service, entry.preset).ok)
            Korvantal::logMessage (Korvantal::kLogWarning, "Failed to get amp data for preset %d in bundle", (int) entry.index);

    if (! _service->beginRestore (archive, makeProgressCallback()).ok)
        showFailure (KORVANTAL_ERROR ("Failed to start restore"));
}

void MainComponent::exportPreset()
{
    juce::File file;
    if (! chooseFile ({ "Export Preset", getDefaultFile ("Preset.t2p"), "*.t2p", true }, file))
        return;

    juce::Component::SafePointer<MainComponent> owner (this);
    const auto completion = [owner, file] (const FullTovarekMk2Preset& preset)
    {
        reportFromWorker (owner, savePresetFile (file, preset));
    };

    if (! _service->getCurrentPresetData (completion).ok)
        showFailure (KORVANTAL_ERROR ("Failed to export preset"));
}

Result MainComponent::savePresetFile (const juce::File& file, const FullTovarekMk2Preset& preset)
{
    juce::FileOutputStream output (file, kExportBufferSize);
    if (output.getStatus().failed())
        return KORVANTAL_ERROR ("Failed to overwrite file");

    // The stream opens at the end of an existing file; a shorter export must leave nothing behind.
    output.setPosition (0);
    output.truncate();

    OutStreamWrapper stream (&output);
    const bool written = Korvantal::writeArchivePreset (preset, stream, kExportedPresetIndex).ok;

    // A full disk shows only when the buffer goes out: a file cut short is no saved preset.
    output.flush();
    if (! written || output.getStatus().failed())
        return KORVANTAL_ERROR ("Failed to save preset");

    return Result::success;
}

void MainComponent::importPreset()
{
    juce::File file;
    if (! chooseFile ({ "Import Preset", getLastDirectory(), "*.t2p;*.pre", false }, file))
        return;

    FullTovarekMk2Preset preset;
    if (! readPresetFromFile (file, preset))
    {
        showFailure (KORVANTAL_ERROR ("Failed to load preset"));
        return;
    }

    if (! getAmpDataForId (_service, preset).ok)
    {
        showFailure (KORVANTAL_ERROR ("Failed to get amp data for preset"));
        return;
    }

    if (! _service->setCurrentPresetData (preset).ok)
        showFailure (KORVANTAL_ERROR ("Failed to import preset"));
}

void MainComponent::updateFirmware (bool fromFile)
{
    TovarekMk2Archive archive;
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>>();
    bool loaded = false;

    if (fromFile)
    {
        juce::File file;
        if (! chooseFile ({ "Select Firmware", getDefaultFile ("DSP Firmware.ldr"), "*.ldr", false }, file))
            return;

        loaded = readFirmwareFile (file, *archive.firmwareImage);
    }
    else
    {
        loaded = readCarriedFirmware (*archive.firmwareImage);
    }

    if (! loaded)
    {
        showFailure (KORVANTAL_ERROR ("Failed to load firmware"));
        return;
    }

    if (! _service->beginFirmwareUpdate (archive, makeProgressCallback()).ok)
        showFailure (KORVANTAL_ERROR ("Failed to start firmware update"));
}

Result MainComponent::getAmpDataForId (Service* service, FullTovarekMk2Preset& preset)
{
    const uint32_t ampId = preset.ampNameAndID.id;

    size_t row = 0;
    if (! TovarekMk2::findStockAmpRow (ampId, row).ok)
        return KORVANTAL_ERROR ("Failed to find amp data for id:%d", (int) ampId);

    Amp amp;
    const auto copied = TovarekMk2::copyStockAmp (row, amp);
    if (! copied.ok)
        return copied;

    preset.ampData = amp.data;
    preset.ampNameAndID = amp.nameAndID;
    preset.finishingFilter = amp.finishingFilter;
    return service->normalizePresetParameters (preset);
}
