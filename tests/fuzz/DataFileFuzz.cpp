// Every reader of the text data files and the texts that travel with them, on the same bytes.

#include "FuzzSupport.h"
#include "KorvantalDataFile.h"

using namespace Korvantal;
namespace Data = Korvantal::KorvantalData;

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    uint32_t index = 0;

    DataFile file;
    auto plain = FuzzSupport::streamOf (data, size);
    if (readDataFile (plain, file).ok)
    {
        // What was read is written back and reads the same.
        TestSupport::ByteOutputStream written;
        FUZZ_CHECK (writeDataFile (file, written).ok);
        DataFile again;
        auto rewritten = FuzzSupport::streamOf (reinterpret_cast<const uint8_t*> (written.text.data()), written.text.size());
        FUZZ_CHECK (readDataFile (rewritten, again).ok && again.segments == file.segments && again.type == file.type);
    }

    Data::Preset oldPreset;
    auto pre = FuzzSupport::streamOf (data, size);
    readPresetFile (pre, oldPreset, &index);

    Data::FullTovarekMk2Preset preset;
    auto t2p = FuzzSupport::streamOf (data, size);
    readArchivePreset (t2p, preset, &index);

    Data::Cabinet cabinet;
    auto cab = FuzzSupport::streamOf (data, size);
    readCabinetFile (cab, cabinet, &index);

    Data::ParameterMap globals;
    auto glo = FuzzSupport::streamOf (data, size);
    readGlobalsFile (glo, globals);

    Data::Amp amp;
    auto ampFile = FuzzSupport::streamOf (data, size);
    readAmpFile (ampFile, amp, &index);

    Data::FirmwareVersionInfo versions;
    auto versionText = FuzzSupport::streamOf (data, size);
    parseFirmwareVersionText (versionText, versions);

    std::vector<uint8_t> image;
    auto ldr = FuzzSupport::streamOf (data, size);
    FUZZ_CHECK (readBitReversedStream (ldr, image).ok && image.size() == size);
    return 0;
}
