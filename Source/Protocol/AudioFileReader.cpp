#include "AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace Korvantal
{
namespace
{
constexpr size_t kChunkIdSize = 4;
constexpr size_t kChunkHeaderSize = 8;   // identifier and 32-bit size
constexpr size_t kContainerHeaderSize = 12; // "RIFF"/"FORM", size, form type
constexpr uint32_t kFormTypeSize = 4;       // counted in the container size

constexpr size_t kWavFormatMinimumSize = 16;
constexpr size_t kWavExtensibleFormatSize = 40; // up to the end of the sub-format identifier
constexpr size_t kWavSubFormatOffset = 24;      // first two bytes of the sub-format: its format tag

constexpr uint16_t kWavFormatPcm = 1;
constexpr uint16_t kWavFormatFloat = 3;
constexpr uint16_t kWavFormatExtensible = 0xFFFE;

constexpr size_t kAiffCommonSize = 18;
constexpr size_t kAiffSoundHeaderSize = 8; // offset and block size, both required to be 0
constexpr size_t kExtendedSize = 10;

constexpr int kExtendedExponentBias = 16383;
constexpr int kExtendedExponentAllOnes = 32767;
// Exponents whose value fits a double.
constexpr int kExtendedMinimumExponent = 15360;
constexpr int kExtendedMaximumExponent = 17406;
constexpr int kExtendedFractionBits = 63;

enum class ByteOrder
{
    little,
    big
};

uint16_t readU16 (const uint8_t* p, ByteOrder order)
{
    return order == ByteOrder::little ? static_cast<uint16_t> (p[0] | (p[1] << 8))
                                      : static_cast<uint16_t> ((p[0] << 8) | p[1]);
}

uint32_t readU32 (const uint8_t* p, ByteOrder order)
{
    if (order == ByteOrder::little)
        return static_cast<uint32_t> (p[0]) | (static_cast<uint32_t> (p[1]) << 8)
               | (static_cast<uint32_t> (p[2]) << 16) | (static_cast<uint32_t> (p[3]) << 24);

    return (static_cast<uint32_t> (p[0]) << 24) | (static_cast<uint32_t> (p[1]) << 16)
           | (static_cast<uint32_t> (p[2]) << 8) | static_cast<uint32_t> (p[3]);
}

bool hasId (const uint8_t* p, const char* id)
{
    return std::memcmp (p, id, kChunkIdSize) == 0;
}

bool isAcceptedSampleRate (double rate)
{
    return std::any_of (std::begin (kAcceptedSampleRates), std::end (kAcceptedSampleRates),
                        [rate] (int32_t accepted) { return rate == accepted; });
}

bool isAcceptedBitDepth (unsigned bits)
{
    return bits == 8 || bits == 16 || bits == 20 || bits == 24 || bits == 32;
}

// Bytes one sample occupies; 20-bit samples sit in a 24-bit container.
unsigned containerBytes (unsigned bitsPerSample)
{
    return bitsPerSample == 20 ? 3 : bitsPerSample / 8;
}

// An open file that knows its size and refuses every read or skip past its end, so that no
// size taken from the file is trusted before it is compared with what is really there.
class SourceFile
{
public:
    waverror open (const char* path)
    {
        if (path == nullptr)
            return waverror::cannotOpen;

        _file.reset (std::fopen (path, "rb"));

        if (_file == nullptr)
            return waverror::cannotOpen;

        if (std::fseek (_file.get(), 0, SEEK_END) != 0)
            return waverror::malformed;

        const long size = std::ftell (_file.get());

        if (size < 0 || std::fseek (_file.get(), 0, SEEK_SET) != 0)
            return waverror::malformed;

        _size = static_cast<uint64_t> (size);
        return waverror::none;
    }

    uint64_t remaining() const { return _size - _position; }
    uint64_t position() const { return _position; }

    bool read (void* destination, uint64_t count)
    {
        if (count > remaining() || std::fread (destination, 1, count, _file.get()) != count)
            return false;

        _position += count;
        return true;
    }

    // Back to a position already passed, such as the start of a sound-data chunk.
    bool seekTo (uint64_t position)
    {
        if (position > _size || std::fseek (_file.get(), static_cast<long> (position), SEEK_SET) != 0)
            return false;

        _position = position;
        return true;
    }

    bool skip (uint64_t count)
    {
        if (count > remaining() || std::fseek (_file.get(), static_cast<long> (count), SEEK_CUR) != 0)
            return false;

        _position += count;
        return true;
    }

    // The pad byte after an odd-sized chunk; a file that ends without the last one is accepted.
    void skipPadByte()
    {
        if (remaining() > 0)
            skip (1);
    }

private:
    struct Closer
    {
        void operator() (FILE* file) const { std::fclose (file); }
    };

    std::unique_ptr<FILE, Closer> _file;
    uint64_t _size = 0;
    uint64_t _position = 0;
};

// Reads the container header and checks its magic words and form type.
waverror openContainer (SourceFile& file, const char* path, const char* magic, const char* formType,
                        ByteOrder order, uint32_t& containerSize)
{
    if (const waverror error = file.open (path); error != waverror::none)
        return error;

    uint8_t header[kContainerHeaderSize];

    if (! file.read (header, sizeof (header)) || ! hasId (header, magic) || ! hasId (header + 8, formType))
        return waverror::malformed;

    containerSize = readU32 (header + 4, order);
    return containerSize > kFormTypeSize ? waverror::none : waverror::malformed;
}

// Walks the chunks the container size covers. The handler is given each chunk's identifier and
// size and consumes exactly `size` bytes; the pad byte after an odd size is skipped here.
template <typename Handler>
waverror walkChunks (SourceFile& file, uint32_t containerSize, ByteOrder order, Handler&& handle)
{
    int64_t left = static_cast<int64_t> (containerSize) - kFormTypeSize;

    while (left > 0)
    {
        uint8_t header[kChunkHeaderSize];

        if (! file.read (header, sizeof (header)))
            return waverror::malformed;

        const uint32_t size = readU32 (header + kChunkIdSize, order);
        left -= static_cast<int64_t> (kChunkHeaderSize);

        if (const waverror error = handle (header, size); error != waverror::none)
            return error;

        if ((size & 1) != 0)
            file.skipPadByte();

        left -= static_cast<int64_t> (size) + (size & 1);
    }

    return waverror::none;
}

// Where a sound-data chunk's bytes lie. The walk only proves that the file holds them; they are
// decoded after it, when the format is known, in blocks straight into the channels.
struct SoundData
{
    uint64_t offset = 0;
    uint32_t size = 0;
};

waverror skipSoundData (SourceFile& file, uint32_t size, std::optional<SoundData>& sound)
{
    const uint64_t offset = file.position();

    if (! file.skip (size))
        return waverror::malformed;

    sound = SoundData { offset, size };
    return waverror::none;
}

struct SampleLayout
{
    ByteOrder order = ByteOrder::little;
    unsigned bytes = 2;              // container size of one sample
    bool unsignedBytes = false;      // WAV's 8-bit samples
    bool isFloat = false;            // 32-bit IEEE float, used unchanged
    size_t frameStride = 0;          // bytes from one frame to the next
};

double decodeSample (const uint8_t* p, const SampleLayout& layout)
{
    if (layout.isFloat)
    {
        const uint32_t bits = readU32 (p, layout.order);
        float value;
        std::memcpy (&value, &bits, sizeof (value));
        return value;
    }

    if (layout.unsignedBytes)
        return (static_cast<int> (p[0]) - 128) / 128.0;

    uint64_t raw = 0;

    for (unsigned i = 0; i < layout.bytes; ++i)
    {
        const unsigned index = layout.order == ByteOrder::little ? layout.bytes - 1 - i : i;
        raw = (raw << 8) | p[index];
    }

    const unsigned bits = layout.bytes * 8;
    const int64_t half = int64_t { 1 } << (bits - 1);
    const int64_t value = static_cast<int64_t> (raw) >= half ? static_cast<int64_t> (raw) - 2 * half
                                                             : static_cast<int64_t> (raw);
    return static_cast<double> (value) / static_cast<double> (half);
}

// The number of frames to decode of a file that holds frameCount, or nothing when the file is
// refused. Without a limit that is every frame, and a file of more than kMaximumFrameCount is
// refused before anything is sized from it; with one, it is at most the limit.
std::optional<uint32_t> framesToDecode (uint64_t frameCount, std::optional<int32_t> frameLimit)
{
    const int32_t limit = std::clamp (frameLimit.value_or (kMaximumFrameCount), 0, kMaximumFrameCount);

    if (frameCount <= static_cast<uint64_t> (limit))
        return static_cast<uint32_t> (frameCount);
    if (! frameLimit)
        return std::nullopt;

    return static_cast<uint32_t> (limit);
}

// Decodes the first frameCount interleaved frames of the sound data into `data`, reading the file
// a block of whole frames at a time. The caller has checked that frameCount strides fit in the
// sound data and that frameCount is within kMaximumFrameCount.
waverror decodeFrames (SourceFile& file, const SoundData& sound, const SampleLayout& layout, unsigned channels,
                       uint32_t frameCount, AudioData& data)
{
    constexpr size_t kBlockBytes = 1 << 16;
    const size_t framesPerBlock = std::max<size_t> (1, kBlockBytes / layout.frameStride);
    std::vector<uint8_t> block (framesPerBlock * layout.frameStride);
    std::vector<double> left (frameCount);
    std::vector<double> right (frameCount);

    if (! file.seekTo (sound.offset))
        return waverror::malformed;

    for (size_t first = 0; first < left.size(); first += framesPerBlock)
    {
        const size_t frames = std::min (framesPerBlock, left.size() - first);

        if (! file.read (block.data(), frames * layout.frameStride))
            return waverror::malformed;

        for (size_t i = 0; i < frames; ++i)
        {
            const uint8_t* p = block.data() + i * layout.frameStride;
            left[first + i] = decodeSample (p, layout);
            right[first + i] = channels == 2 ? decodeSample (p + layout.bytes, layout) : left[first + i];
        }
    }

    data.left = std::move (left);
    data.right = std::move (right);
    data.frameCount = static_cast<int32_t> (frameCount);
    return waverror::none;
}

struct WavFormat
{
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    std::optional<uint16_t> subFormatTag; // only for the extensible format
};

waverror readWavFormat (SourceFile& file, uint32_t size, std::optional<WavFormat>& format)
{
    if (size < kWavFormatMinimumSize)
        return waverror::malformed;

    uint8_t bytes[kWavExtensibleFormatSize];
    const size_t taken = std::min<size_t> (size, sizeof (bytes));

    if (! file.read (bytes, taken) || ! file.skip (size - taken))
        return waverror::malformed;

    WavFormat f;
    f.tag = readU16 (bytes, ByteOrder::little);
    f.channels = readU16 (bytes + 2, ByteOrder::little);
    f.sampleRate = readU32 (bytes + 4, ByteOrder::little);
    f.byteRate = readU32 (bytes + 8, ByteOrder::little);
    f.blockAlign = readU16 (bytes + 12, ByteOrder::little);
    f.bitsPerSample = readU16 (bytes + 14, ByteOrder::little);

    if (f.tag == kWavFormatExtensible && taken == kWavExtensibleFormatSize)
        f.subFormatTag = readU16 (bytes + kWavSubFormatOffset, ByteOrder::little);

    format = f;
    return waverror::none;
}

// The checks of a WAV format record, in the order their codes are reported.
waverror checkWavFormat (const WavFormat& f, uint32_t dataSize, bool isFloat)
{
    if (f.tag != kWavFormatPcm && f.tag != kWavFormatFloat && f.tag != kWavFormatExtensible)
        return waverror::unsupportedFormat;
    if (f.channels != 1 && f.channels != 2)
        return waverror::unsupportedChannelCount;
    if (! isAcceptedSampleRate (f.sampleRate))
        return waverror::unsupportedSampleRate;
    if (! isAcceptedBitDepth (f.bitsPerSample) || (isFloat && f.bitsPerSample != 32))
        return waverror::unsupportedBitDepth;
    if (f.byteRate != static_cast<uint64_t> (f.sampleRate) * f.blockAlign)
        return waverror::malformed;
    if (f.blockAlign == 0 || f.blockAlign % f.channels != 0)
        return waverror::malformed;
    // A block smaller than its samples would make the decoder run past the data.
    if (f.blockAlign / f.channels < containerBytes (f.bitsPerSample))
        return waverror::malformed;
    if (dataSize % f.blockAlign != 0)
        return waverror::malformed;

    return waverror::none;
}

// Moves a channel into a new[] array, releasing the vector at once so that only one channel is
// ever held twice.
double* takeChannel (std::vector<double>& channel)
{
    double* array = new double[channel.size()];
    std::copy (channel.begin(), channel.end(), array);
    std::vector<double>().swap (channel);
    return array;
}

// Fills the array interface's outputs from a decoded file.
bool deliver (waverror error, AudioData& data, double** left, double** right, int* frameCount, int* sampleRate,
              bool* mono)
{
    if (error != waverror::none)
        return false;

    if (left != nullptr && right != nullptr && frameCount != nullptr)
    {
        delete[] *left;
        delete[] *right;
        *left = takeChannel (data.left);
        *right = takeChannel (data.right);
        *frameCount = data.frameCount;
    }

    if (sampleRate != nullptr)
        *sampleRate = data.sampleRate;
    if (mono != nullptr)
        *mono = data.mono;

    return true;
}

} // namespace

waverror decodeWavFile (const char* path, AudioData& data, bool wantSamples, std::optional<int32_t> frameLimit)
{
    SourceFile file;
    uint32_t riffSize = 0;

    if (const waverror error = openContainer (file, path, "RIFF", "WAVE", ByteOrder::little, riffSize);
        error != waverror::none)
        return error;

    std::optional<WavFormat> format;
    std::optional<SoundData> sound;

    const waverror walked = walkChunks (file, riffSize, ByteOrder::little, [&] (const uint8_t* id, uint32_t size) {
        if (hasId (id, "fmt "))
            return readWavFormat (file, size, format);

        if (hasId (id, "data"))
        {
            if (size < 1)
                return waverror::malformed;

            return skipSoundData (file, size, sound);
        }

        return file.skip (size) ? waverror::none : waverror::malformed;
    });

    if (walked != waverror::none)
        return walked;
    if (! format || ! sound)
        return waverror::malformed;

    const WavFormat& f = *format;
    // The extensible format's sub-format says whether its samples are integers or floats.
    const bool isFloat = f.tag == kWavFormatFloat || (f.tag == kWavFormatExtensible && f.subFormatTag == kWavFormatFloat);

    if (const waverror error = checkWavFormat (f, sound->size, isFloat); error != waverror::none)
        return error;

    const std::optional<uint32_t> frames = framesToDecode (sound->size / f.blockAlign, frameLimit);

    if (! frames)
        return waverror::malformed;

    if (wantSamples)
    {
        SampleLayout layout;
        layout.order = ByteOrder::little;
        layout.bytes = containerBytes (f.bitsPerSample);
        layout.unsignedBytes = f.bitsPerSample == 8;
        layout.isFloat = isFloat;
        layout.frameStride = f.blockAlign;

        if (const waverror error = decodeFrames (file, *sound, layout, f.channels, *frames, data);
            error != waverror::none)
            return error;
    }

    data.sampleRate = static_cast<int32_t> (f.sampleRate);
    data.mono = f.channels == 1;
    return waverror::none;
}

waverror decodeAiffFile (const char* path, AudioData& data, bool wantSamples, std::optional<int32_t> frameLimit)
{
    SourceFile file;
    uint32_t formSize = 0;

    if (const waverror error = openContainer (file, path, "FORM", "AIFF", ByteOrder::big, formSize);
        error != waverror::none)
        return error;

    struct Common
    {
        uint16_t channels = 0;
        uint32_t frameCount = 0;
        uint16_t bitsPerSample = 0;
        double sampleRate = 0.0;
    };

    std::optional<Common> common;
    std::optional<SoundData> sound;

    const waverror walked = walkChunks (file, formSize, ByteOrder::big, [&] (const uint8_t* id, uint32_t size) {
        if (hasId (id, "COMM"))
        {
            uint8_t c[kAiffCommonSize];

            if (size < kAiffCommonSize || ! file.read (c, sizeof (c)) || ! file.skip (size - sizeof (c)))
                return waverror::malformed;

            Common parsed;
            parsed.channels = readU16 (c, ByteOrder::big);
            parsed.frameCount = readU32 (c + 2, ByteOrder::big);
            parsed.bitsPerSample = readU16 (c + 6, ByteOrder::big);

            double rate = 0.0;

            if (! extendedToDouble (c + 8, &rate))
                return waverror::malformed;

            parsed.sampleRate = std::floor (rate + 0.5);
            common = parsed;
            return waverror::none;
        }

        if (hasId (id, "SSND"))
        {
            uint8_t header[kAiffSoundHeaderSize];

            if (size <= kAiffSoundHeaderSize || ! file.read (header, sizeof (header)))
                return waverror::malformed;
            if (readU32 (header, ByteOrder::big) != 0 || readU32 (header + 4, ByteOrder::big) != 0)
                return waverror::malformed;

            return skipSoundData (file, size - static_cast<uint32_t> (kAiffSoundHeaderSize), sound);
        }

        return file.skip (size) ? waverror::none : waverror::malformed;
    });

    if (walked != waverror::none)
        return walked;
    if (! common || ! sound)
        return waverror::malformed;

    const Common& c = *common;

    if (c.channels != 1 && c.channels != 2)
        return waverror::unsupportedChannelCount;
    if (! isAcceptedSampleRate (c.sampleRate))
        return waverror::unsupportedSampleRate;
    if (! isAcceptedBitDepth (c.bitsPerSample))
        return waverror::unsupportedBitDepth;

    // The frame count comes from "COMM"; refuse a file whose sound data does not hold that many.
    const uint64_t frameBytes = static_cast<uint64_t> (c.channels) * containerBytes (c.bitsPerSample);

    if (static_cast<uint64_t> (c.frameCount) * frameBytes > sound->size)
        return waverror::malformed;

    const std::optional<uint32_t> frames = framesToDecode (c.frameCount, frameLimit);

    if (! frames)
        return waverror::malformed;

    if (wantSamples)
    {
        SampleLayout layout;
        layout.order = ByteOrder::big;
        layout.bytes = containerBytes (c.bitsPerSample);
        layout.frameStride = frameBytes;

        if (const waverror error = decodeFrames (file, *sound, layout, c.channels, *frames, data);
            error != waverror::none)
            return error;
    }

    data.sampleRate = static_cast<int32_t> (c.sampleRate);
    data.mono = c.channels == 1;
    return waverror::none;
}

waverror decodeAudioFile (const char* path, AudioData& data, bool wantSamples, std::optional<int32_t> frameLimit)
{
    if (decodeWavFile (path, data, wantSamples, frameLimit) == waverror::none)
        return waverror::none;

    return decodeAiffFile (path, data, wantSamples, frameLimit);
}

bool readAudioFile (const char* path, double** left, double** right, int* frameCount, int* sampleRate, bool* mono)
{
    if (readWavFile (path, left, right, frameCount, sampleRate, mono))
        return true;

    return readAiffFile (path, left, right, frameCount, sampleRate, mono);
}

bool readWavFile (const char* path, double** left, double** right, int* frameCount, int* sampleRate, bool* mono)
{
    AudioData data;
    const bool wantSamples = left != nullptr && right != nullptr && frameCount != nullptr;
    return deliver (decodeWavFile (path, data, wantSamples), data, left, right, frameCount, sampleRate, mono);
}

bool readAiffFile (const char* path, double** left, double** right, int* frameCount, int* sampleRate, bool* mono)
{
    AudioData data;
    const bool wantSamples = left != nullptr && right != nullptr && frameCount != nullptr;
    return deliver (decodeAiffFile (path, data, wantSamples), data, left, right, frameCount, sampleRate, mono);
}

bool extendedToDouble (const unsigned char bytes[kExtendedSize], double* out)
{
    const int exponent = ((bytes[0] & 0x7F) << 8) | bytes[1];

    if (exponent == 0 || exponent == kExtendedExponentAllOnes || exponent < kExtendedMinimumExponent
        || exponent > kExtendedMaximumExponent)
        return false;

    uint64_t mantissaBits = 0;

    for (size_t i = 2; i < kExtendedSize; ++i)
        mantissaBits = (mantissaBits << 8) | bytes[i];

    // The explicit integer bit (the top one) is taken as 1 whatever it holds.
    double mantissa = 1.0;

    for (int k = 1; k <= kExtendedFractionBits; ++k)
        if (((mantissaBits >> (kExtendedFractionBits - k)) & 1) != 0)
            mantissa += std::ldexp (1.0, -k);

    const double value = std::ldexp (mantissa, exponent - kExtendedExponentBias);

    if (out != nullptr)
        *out = (bytes[0] & 0x80) != 0 ? -value : value;

    return true;
}

} // namespace Korvantal
