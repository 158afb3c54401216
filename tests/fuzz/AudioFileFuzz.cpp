// The WAV and AIFF reader through each of its entry points, and the cabinet importer, which
// drives the resampler with whatever rate and length the file claims.

#include "AudioFileReader.h"
#include "FuzzSupport.h"
#include "UserCabinetImporter.h"

#include <algorithm>
#include <cstring>

using namespace Korvantal;

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const FuzzSupport::MemoryFile file (data, size);
    const char* path = file.path.c_str();

    AudioData audio;
    const bool read = decodeAudioFile (path, audio, true) == waverror::none;
    if (read)
        FUZZ_CHECK (audio.left.size() == static_cast<size_t> (audio.frameCount) && audio.right.size() == audio.left.size());

    // A frame limit decides how many frames are decoded, never whether a file is refused (these
    // inputs are far shorter than kMaximumFrameCount): the same outcome, the first frames bit for bit.
    constexpr int32_t kLimit = 3;
    AudioData start;
    FUZZ_CHECK ((decodeAudioFile (path, start, true, kLimit) == waverror::none) == read);
    if (read)
    {
        const size_t frames = static_cast<size_t> (std::min (audio.frameCount, kLimit));
        FUZZ_CHECK (start.frameCount == static_cast<int32_t> (frames) && start.left.size() == frames && start.right.size() == frames);
        FUZZ_CHECK (frames == 0 || std::memcmp (start.left.data(), audio.left.data(), frames * sizeof (double)) == 0);
        FUZZ_CHECK (frames == 0 || std::memcmp (start.right.data(), audio.right.data(), frames * sizeof (double)) == 0);
    }

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
