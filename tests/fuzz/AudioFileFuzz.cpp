// The WAV and AIFF reader through each of its entry points, and the cabinet importer, which
// drives the resampler with whatever rate and length the file claims.

#include "AudioFileReader.h"
#include "FuzzSupport.h"
#include "UserCabinetImporter.h"

using namespace Korvantal;

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const FuzzSupport::MemoryFile file (data, size);
    const char* path = file.path.c_str();

    AudioData audio;
    if (decodeAudioFile (path, audio, true) == waverror::none)
        FUZZ_CHECK (audio.left.size() == static_cast<size_t> (audio.frameCount) && audio.right.size() == audio.left.size());

    AudioData header;
    decodeAudioFile (path, header, false);

    double* left = nullptr;
    double* right = nullptr;
    int frameCount = 0;
    int sampleRate = 0;
    bool mono = false;
    readWavFile (path, &left, &right, &frameCount, &sampleRate, &mono);
    readAiffFile (path, &left, &right, &frameCount, &sampleRate, &mono);
    delete[] left;
    delete[] right;

    KorvantalData::Impulse impulse;
    importCabinetImpulse (path, impulse);
    return 0;
}
