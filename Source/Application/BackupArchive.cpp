#include "BackupArchive.h"

#include "KorvantalDataFile.h"

#include <algorithm>
#include <vector>

namespace Korvantal
{

using namespace KorvantalData;

namespace
{
const char* const kVersionEntryName = "ArchiveInfo.txt";
const char* const kFirmwareEntryName = "ZelkorAmp.ldr";
const char* const kPresetEntryPrefix = "Zelkor_TovarekMk2_";
const char* const kPresetEntryExtension = ".tvp";
const char* const kGlobalsEntryName = "Zelkor_Korvantal_0.glo";
const char* const kGlobalsEntryExtension = ".glo";

// Names the reader skips without a word: hidden files and the folder macOS adds to zips.
const char* const kHiddenPrefix = ".";
const char* const kMacResourcePrefix = "__MACOSX";

constexpr size_t kEntryInitialSize = 256;
constexpr int kStoredCompression = 0;
constexpr int kZipWriteBufferSize = 16384;

// The large reads that take an entry into memory.
constexpr size_t kEntryReadChunkSize = 65536;

enum class EntryKind { Skipped, Version, Firmware, Preset, Globals, Unrecognised };

EntryKind entryKind (const juce::String& name)
{
    if (name.startsWith (kHiddenPrefix) || name.startsWith (kMacResourcePrefix))
        return EntryKind::Skipped;
    if (name.endsWithIgnoreCase (kVersionEntryName))
        return EntryKind::Version;
    if (name.endsWithIgnoreCase (kFirmwareEntryName))
        return EntryKind::Firmware;
    if (name.endsWithIgnoreCase (kPresetEntryExtension))
        return EntryKind::Preset;
    if (name.endsWithIgnoreCase (kGlobalsEntryExtension))
        return EntryKind::Globals;
    return EntryKind::Unrecognised;
}

// Takes the entry's content into memory in large reads: the framework's stream over a stored
// entry reads the file unbuffered, and the data-file readers take a byte at a time. Reads at
// most limit + 1 bytes, so content beyond the limit shows in its size without being inflated.
// The declared sizes of the zip's directory are never trusted for an allocation.
Result readContent (juce::InputStream& input, size_t limit, std::vector<uint8_t>& content)
{
    InStreamWrapper stream (&input);
    content.clear();

    while (content.size() <= limit)
    {
        const size_t size = content.size();
        content.resize (size + std::min (kEntryReadChunkSize, limit + 1 - size));

        size_t got = 0;
        const Result result = stream.read (content.data() + size, content.size() - size, got);
        content.resize (size + (result.ok ? std::min (got, content.size() - size) : 0));

        if (! result.ok)
            return result;
        if (got == 0)
            break;
    }

    return Result::success;
}

Result readEntry (EntryKind kind, IInputStream& stream, TovarekMk2Archive& archive)
{
    switch (kind)
    {
        case EntryKind::Version:
            archive.versionInfo = std::make_unique<FirmwareVersionInfo>();
            return parseFirmwareVersionText (stream, *archive.versionInfo);

        case EntryKind::Firmware:
            archive.firmwareImage = std::make_unique<std::vector<uint8_t>>();
            return readBitReversedStream (stream, *archive.firmwareImage);

        case EntryKind::Preset:
        {
            archive.presets.emplace_back();
            auto& entry = archive.presets.back();
            return readArchivePreset (stream, entry.preset, &entry.index);
        }

        case EntryKind::Globals:
            archive.globals = std::make_unique<Globals>();
            return readGlobalsFile (stream, *archive.globals);

        case EntryKind::Skipped:
        case EntryKind::Unrecognised:
            break;
    }

    return Result::success;
}
} // namespace

ArchiveEntry::ArchiveEntry (const juce::String& entryName)
    : data (kEntryInitialSize), name (entryName), stream (std::make_unique<OutStreamWrapper> (&data))
{
}

IOutputStream& addArchiveEntry (ArchiveEntryList& entries, const juce::String& name)
{
    return *entries.add (new ArchiveEntry (name))->stream;
}

Result writeBackupArchive (const TovarekMk2Archive& archive, const juce::File& target)
{
    ArchiveEntryList entries;
    Result result;

    if (archive.versionInfo != nullptr)
        result = writeFirmwareVersionText (*archive.versionInfo, addArchiveEntry (entries, kVersionEntryName));

    if (result.ok && archive.firmwareImage != nullptr)
        result = writeBitReversedStream (*archive.firmwareImage, addArchiveEntry (entries, kFirmwareEntryName));

    for (size_t i = 0; result.ok && i < archive.presets.size(); ++i)
    {
        const auto& entry = archive.presets[i];
        const juce::String name = juce::String (kPresetEntryPrefix) + juce::String (entry.index) + kPresetEntryExtension;
        result = writeArchivePreset (entry.preset, addArchiveEntry (entries, name), entry.index);
    }

    if (result.ok && archive.globals != nullptr)
        result = writeGlobalsFile (*archive.globals, addArchiveEntry (entries, kGlobalsEntryName));

    if (! result.ok)
        return result;

    return writeZipFile (entries, target);
}

Result writeZipFile (const ArchiveEntryList& entries, const juce::File& target)
{
    juce::ZipFile::Builder builder;
    const juce::Time modificationTime (juce::Time::currentTimeMillis());

    for (const auto* entry : entries)
        builder.addEntry (new juce::MemoryInputStream (entry->data.getData(), entry->data.getDataSize(), false),
                          kStoredCompression, entry->name, modificationTime);

    if (! target.deleteFile())
        return KORVANTAL_ERROR ("Failed to overwrite file");

    juce::FileOutputStream out (target, kZipWriteBufferSize);
    if (out.failedToOpen() || out.getStatus().failed())
        return KORVANTAL_ERROR ("Failed to overwrite file");

    if (! builder.writeToStream (out, nullptr))
        return KORVANTAL_ERROR ("Failed to write zip file");

    // The builder does not check its writes; a full disk shows only in the stream's status.
    out.flush();
    if (out.getStatus().failed())
        return KORVANTAL_ERROR ("Failed to write zip file");

    return Result::success;
}

Result readBackupArchive (const juce::File& file, TovarekMk2Archive& archive)
{
    if (file.getSize() > kMaxBackupFileSize)
        return KORVANTAL_ERROR ("Not a valid backup file");

    juce::ZipFile zip (file);
    return readBackupArchiveZip (zip, archive);
}

Result readBackupArchiveZip (juce::ZipFile& zip, TovarekMk2Archive& archive)
{
    if (zip.getNumEntries() == 0)
        return KORVANTAL_ERROR ("Not a valid backup file");

    std::vector<uint8_t> content;
    size_t contentLeft = kMaxBackupContentSize;

    for (int i = 0; i < zip.getNumEntries(); ++i)
    {
        std::unique_ptr<juce::InputStream> input (zip.createStreamForEntry (i));
        const auto* zipEntry = zip.getEntry (i);

        if (input == nullptr || zipEntry == nullptr)
        {
            logMessage (kLogWarning, "Failed to open stream for archive entry - skipping");
            continue;
        }

        const juce::String name = zipEntry->filename;
        const EntryKind kind = entryKind (name);

        if (kind == EntryKind::Unrecognised)
            logMessage (kLogWarning, "Unrecognized entry in backup archive: '%s'", name.toRawUTF8());
        if (kind == EntryKind::Skipped || kind == EntryKind::Unrecognised)
            continue;

        Result result = readContent (*input, std::min (kMaxBackupEntrySize, contentLeft), content);
        input.reset();
        if (! result.ok)
            return result;

        if (content.size() > kMaxBackupEntrySize)
            return KORVANTAL_ERROR ("Backup entry too large: '%s'", name.toRawUTF8());
        if (content.size() > contentLeft)
            return KORVANTAL_ERROR ("Not a valid backup file");
        contentLeft -= content.size();

        juce::MemoryInputStream memory (content.data(), content.size(), false);
        InStreamWrapper stream (&memory);
        result = readEntry (kind, stream, archive);
        if (! result.ok)
            return result;
    }

    return Result::success;
}

} // namespace Korvantal
