#include "ImageResourcePack.h"

#include "ImagePackFormat.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace
{
using Bytes = std::vector<uint8_t>;

// Bytes are fetched in pieces of at most this size, so a size field of a damaged pack never
// allocates more than the file really holds, plus one piece.
constexpr uint64_t kReadPieceSize = 1u << 20;

// The read function addresses the file with 32-bit offsets.
constexpr uint64_t kLastAddressableOffset = std::numeric_limits<unsigned int>::max();

// Decoders allocate the whole bitmap from the size in the file's header before they read a row,
// so a damaged header could ask for terabytes. Only PNG data is decoded (the pack holds PNG
// files), and only up to this many pixels; the largest artwork, a knob film strip, has about
// nine million.
constexpr uint64_t kMaxImagePixels = 1u << 25;

constexpr uint8_t kPngSignature[8] = { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A };
constexpr size_t kPngWidthOffset = 16;  // after the signature and the IHDR chunk's length and type
constexpr size_t kPngHeightOffset = 20;

bool readBytes (const ImageResourcePack::ReadFunction& read, uint64_t offset, uint64_t size, Bytes& bytes)
{
    bytes.clear();

    for (uint64_t done = 0; done < size;)
    {
        const uint64_t position = offset + done;
        if (position > kLastAddressableOffset)
            return false;

        const uint64_t piece = std::min (kReadPieceSize, size - done);
        bytes.resize ((size_t) (done + piece));

        if (! read ((unsigned int) position, (unsigned long) piece, bytes.data() + done))
            return false;

        done += piece;
    }

    return true;
}

uint32_t readBigEndianWord (const uint8_t* bytes)
{
    return ((uint32_t) bytes[0] << 24) | ((uint32_t) bytes[1] << 16) | ((uint32_t) bytes[2] << 8) | (uint32_t) bytes[3];
}

bool isPngOfSaneSize (const Bytes& bytes)
{
    if (bytes.size() < kPngHeightOffset + 4 || std::memcmp (bytes.data(), kPngSignature, sizeof (kPngSignature)) != 0)
        return false;

    const uint64_t width = readBigEndianWord (bytes.data() + kPngWidthOffset);
    const uint64_t height = readBigEndianWord (bytes.data() + kPngHeightOffset);
    return width * height <= kMaxImagePixels;
}

juce::Image decodeImage (const Bytes& bytes)
{
    if (! isPngOfSaneSize (bytes))
        return {};

    juce::MemoryInputStream stream (bytes.data(), bytes.size(), false);
    return juce::ImageFileFormat::loadFrom (stream);
}

std::unique_ptr<ImageResourcePack>& theImagePack()
{
    // Lives until the process ends and is never destroyed, so no static destructor runs after
    // the framework has shut down.
    static auto* pack = new std::unique_ptr<ImageResourcePack>();
    return *pack;
}
} // namespace

ImageResourcePack::ImageResourcePack (ReadFunction read)
    : _read (std::move (read))
{
}

bool ImageResourcePack::open()
{
    using namespace ImagePackFormat;

    _registry.clear();
    _directory.clear();

    if (! _read)
        return false;

    Bytes header;
    if (! readBytes (_read, 0, kHeaderSize, header))
        return false;

    const uint32_t directoryOffset = readWord (header.data() + kHeaderDirectoryOffset);
    const uint64_t entryCount = readWord (header.data() + kHeaderEntryCount);

    Bytes table;
    if (! readBytes (_read, directoryOffset, entryCount * kEntrySize, table))
        return false;

    for (uint64_t k = 0; k < entryCount; ++k)
    {
        const uint8_t* fields = table.data() + k * kEntrySize;

        DirectoryEntry entry;
        entry.nameOffset = readWord (fields + kEntryNameOffset);
        entry.nameLength = readWord (fields + kEntryNameLength);
        entry.dataOffset = readWord (fields + kEntryDataOffset);
        entry.dataSize = readWord (fields + kEntryDataSize);

        Bytes name;
        if (! readBytes (_read, entry.nameOffset, entry.nameLength, name))
            return false;

        // A later entry of the same name replaces the earlier one.
        _directory[std::string (name.begin(), name.end())] = entry;
    }

    return true;
}

void ImageResourcePack::add (unsigned id, const std::string& fileName)
{
    _registry[id] = Registration { fileName, juce::Image() };
}

juce::Image ImageResourcePack::getImage (unsigned id)
{
    const auto registration = _registry.find (id);
    if (registration == _registry.end())
        return {};

    if (registration->second.image.isValid())
        return registration->second.image;

    const auto entry = _directory.find (registration->second.fileName);
    Bytes bytes;
    if (entry == _directory.end() || ! readBytes (_read, entry->second.dataOffset, entry->second.dataSize, bytes))
    {
        // Missing or unreadable stays so: later requests give a null image without reading.
        _registry.erase (registration);
        return {};
    }

    // A decoding failure caches the null image, so the next request reads and decodes again.
    registration->second.image = decodeImage (bytes);
    return registration->second.image;
}

void ImageResourcePack::clear()
{
    _registry.clear();
}

bool registerImageResources (ImageResourcePack::ReadFunction read)
{
    auto& pack = theImagePack();
    pack = std::make_unique<ImageResourcePack> (std::move (read));

    if (! pack->open())
        return false;

    for (const auto& file : kImageResourceFiles)
        pack->add (file.id, file.fileName);

    return true;
}

void releaseImageResources()
{
    if (auto& pack = theImagePack())
        pack->clear();
}

juce::Image getImageResource (unsigned id)
{
    if (auto& pack = theImagePack())
        return pack->getImage (id);

    return {};
}
