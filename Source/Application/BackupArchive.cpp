#include "BackupArchive.h"

#include "KorvantalDataFile.h"

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

// Passes reads through until more than kMaxBackupEntrySize bytes have arrived.
class BoundedInputStream : public IInputStream
{
public:
    BoundedInputStream (IInputStream& inner, const juce::String& name) : _inner (inner), _name (name) {}

    Result read (void* buffer, size_t size, size_t& bytesRead) override
    {
        const Result result = _inner.read (buffer, size, bytesRead);
        if (! result.ok)
            return result;

        _total += bytesRead;
        if (_total > kMaxBackupEntrySize)
            return KORVANTAL_ERROR ("Backup entry too large: '%s'", _name.toRawUTF8());

        return Result::success;
    }

    bool isExhausted() override { return _inner.isExhausted(); }

private:
    IInputStream& _inner;
    const juce::String& _name;
    size_t _total = 0;
};

Result readEntry (const juce::String& name, IInputStream& stream, TovarekMk2Archive& archive)
{
    if (name.startsWith (kHiddenPrefix) || name.startsWith (kMacResourcePrefix))
        return Result::success;

    if (name.endsWithIgnoreCase (kVersionEntryName))
    {
        archive.versionInfo = std::make_unique<FirmwareVersionInfo>();
        return parseFirmwareVersionText (stream, *archive.versionInfo);
    }

    if (name.endsWithIgnoreCase (kFirmwareEntryName))
    {
        archive.firmwareImage = std::make_unique<std::vector<uint8_t>>();
        return readBitReversedStream (stream, *archive.firmwareImage);
    }

    if (name.endsWithIgnoreCase (kPresetEntryExtension))
    {
        archive.presets.emplace_back();
        auto& entry = archive.presets.back();
        return readArchivePreset (stream, entry.preset, &entry.index);
    }

    if (name.endsWithIgnoreCase (kGlobalsEntryExtension))
    {
        archive.globals = std::make_unique<Globals>();
        return readGlobalsFile (stream, *archive.globals);
    }

    logMessage (kLogWarning, "Unrecognized entry in backup archive: '%s'", name.toRawUTF8());
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
    juce::ZipFile zip (file);
    return readBackupArchiveZip (zip, archive);
}

Result readBackupArchiveZip (juce::ZipFile& zip, TovarekMk2Archive& archive)
{
    if (zip.getNumEntries() == 0)
        return KORVANTAL_ERROR ("Not a valid backup file");

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
        InStreamWrapper wrapper (input.get());
        BoundedInputStream bounded (wrapper, name);

        const Result result = readEntry (name, bounded, archive);
        input.reset();

        if (! result.ok)
            return result;
    }

    return Result::success;
}

} // namespace Korvantal
