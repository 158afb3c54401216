// The backup bundle reader over a zip of fuzz bytes, read from its file as the editor does.

#include "BackupArchive.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const FuzzSupport::MemoryFile file (data, size);
    Korvantal::KorvantalData::TovarekMk2Archive archive;
    Korvantal::readBackupArchive (juce::File (file.path), archive);
    return 0;
}
