#pragma once

#include "IOUtils.h"
#include "KorvantalData.h"

#include <juce_core/juce_core.h>

#include <memory>

// The backup bundle (".t2u"): a zip whose entries lie at its root, stored uncompressed, each
// member of a TovarekMk2Archive in one of the data-file formats:
//   "ArchiveInfo.txt"             firmware-version text           when versionInfo is set
//   "ZelkorAmp.ldr"               bit-reversed firmware image     when firmwareImage is set
//   "Zelkor_TovarekMk2_<i>.tvp"   four-segment preset file        one per preset, in order
//   "Zelkor_Korvantal_0.glo"      globals file                    when globals is set
// No shared state: each operation runs on its caller's thread (the message thread for reading,
// the thread that completes a backup for writing) over an archive and files the caller owns.
namespace Korvantal
{

// Largest entry content the reader takes in; the real ones are tens of kilobytes (a firmware
// image 128 KB), and a compressed entry must not be able to inflate without bound.
constexpr size_t kMaxBackupEntrySize = 8 * 1024 * 1024;

// Largest content of all the entries the reader takes in together. A backup's is a quarter of a
// megabyte; a zip directory may list one compressed entry thousands of times, and each listing
// would otherwise be inflated and parsed again.
constexpr size_t kMaxBackupContentSize = 8 * 1024 * 1024;

// Largest bundle file the reader opens ("Not a valid backup file" beyond): the framework takes
// the zip's directory into memory from wherever the file's end record says it begins to the
// end of the file.
constexpr juce::int64 kMaxBackupFileSize = 32 * 1024 * 1024;

// One entry's content, written into memory before the zip is built so that the target file is
// replaced only once every entry exists. Members are destroyed stream, name, then data.
struct ArchiveEntry
{
    explicit ArchiveEntry (const juce::String& entryName);

    juce::MemoryOutputStream data;
    juce::String name;
    std::unique_ptr<OutStreamWrapper> stream; // over data; the format writers write through it
};

using ArchiveEntryList = juce::OwnedArray<ArchiveEntry>;

// Builds every entry, then replaces the target with the zip. A failure while building leaves
// the target untouched.
Result writeBackupArchive (const KorvantalData::TovarekMk2Archive& archive, const juce::File& target);

// Reads a bundle file into the archive (added to, not cleared: callers pass an empty one).
// A file larger than kMaxBackupFileSize is refused before it is opened.
Result readBackupArchive (const juce::File& file, KorvantalData::TovarekMk2Archive& archive);

// Reads the zip's entries into the archive, recognising them by their name endings (case
// ignored); names beginning with "." or "__MACOSX" are skipped, others logged and skipped.
// Each recognised entry is taken into memory first: one larger than kMaxBackupEntrySize fails
// with "Backup entry too large: '<name>'", and content beyond kMaxBackupContentSize in all
// fails with "Not a valid backup file", before the entry's member is made. On a failed entry
// the archive keeps what was read, including the member being filled.
Result readBackupArchiveZip (juce::ZipFile& zip, KorvantalData::TovarekMk2Archive& archive);

// Appends an entry of that name to the list and returns the stream to write its content to.
IOutputStream& addArchiveEntry (ArchiveEntryList& entries, const juce::String& name);

// Writes the entries, in list order and uncompressed, with one modification time, as a zip file.
Result writeZipFile (const ArchiveEntryList& entries, const juce::File& target);

} // namespace Korvantal
