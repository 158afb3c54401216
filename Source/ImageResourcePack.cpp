#include "ImageResourcePack.h"

#include "ImagePackFormat.h"

#include <png.h>

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

// The decoder needs the whole bitmap, whose size comes from the file's header, so a damaged
// header could ask for terabytes. Only PNG data is decoded (the pack holds PNG files), and only
// up to this many pixels; the largest artwork, a knob film strip, has about nine million.
constexpr uint64_t kMaxImagePixels = 1u << 25;

constexpr size_t kRgbaBytesPerPixel = 4;

// Appends the `size` bytes at `offset` to `bytes`, piece by piece, and stops at the first piece
// that cannot be read. Returns how many bytes were appended.
uint64_t appendPieces (const ImageResourcePack::ReadFunction& read, uint64_t offset, uint64_t size, Bytes& bytes)
{
    const size_t start = bytes.size();
    uint64_t done = 0;

    while (done < size)
    {
        const uint64_t position = offset + done;
        if (position > kLastAddressableOffset)
            break;

        const uint64_t piece = std::min (kReadPieceSize, size - done);
        bytes.resize (start + (size_t) (done + piece));
        if (! read ((unsigned int) position, (unsigned long) piece, bytes.data() + start + done))
            break;

        done += piece;
    }

    bytes.resize (start + (size_t) done);
    return done;
}

bool readBytes (const ImageResourcePack::ReadFunction& read, uint64_t offset, uint64_t size, Bytes& bytes)
{
    bytes.clear();
    return appendPieces (read, offset, size, bytes) == size;
}

// Like appendPieces, but when a piece fails, also appends the longest start of it that the read
// function gives (found by halving), so that names ending before the end of the file are kept.
uint64_t appendReadableStart (const ImageResourcePack::ReadFunction& read, uint64_t offset, uint64_t size, Bytes& bytes)
{
    const uint64_t done = appendPieces (read, offset, size, bytes);
    const uint64_t position = offset + done;
    if (done == size || position > kLastAddressableOffset)
        return done;

    const size_t start = bytes.size();
    uint64_t good = 0;
    uint64_t bad = std::min (kReadPieceSize, size - done);
    bytes.resize (start + (size_t) bad);

    while (bad - good > 1)
    {
        const uint64_t middle = good + (bad - good) / 2;
        if (read ((unsigned int) position, (unsigned long) middle, bytes.data() + start))
            good = middle;
        else
            bad = middle;
    }

    // A failed read may have overwritten part of the good start: read it once more.
    if (good > 0 && ! read ((unsigned int) position, (unsigned long) good, bytes.data() + start))
        good = 0;

    bytes.resize (start + (size_t) good);
    return done + good;
}

// A stretch of the file covered by names that overlap or touch, read once into the names' buffer.
struct NameArea
{
    uint64_t begin = 0;
    uint64_t end = 0;
    bool loaded = false;
    size_t position = 0;      // of `begin` in the names' buffer, once loaded
    uint64_t readableEnd = 0; // once loaded
};

std::vector<NameArea> findNameAreas (const std::vector<ImageResourcePack::DirectoryEntry>& entries)
{
    std::vector<std::pair<uint64_t, uint64_t>> spans; // begin, end
    for (const auto& entry : entries)
        if (entry.nameLength > 0)
            spans.emplace_back (entry.nameOffset, (uint64_t) entry.nameOffset + entry.nameLength);

    std::sort (spans.begin(), spans.end());

    std::vector<NameArea> areas;
    for (const auto& [begin, end] : spans)
    {
        if (! areas.empty() && begin <= areas.back().end)
            areas.back().end = std::max (areas.back().end, end);
        else
            areas.push_back ({ begin, end });
    }
    return areas;
}

NameArea& areaHolding (std::vector<NameArea>& areas, uint64_t offset)
{
    const auto after = std::upper_bound (areas.begin(), areas.end(), offset,
                                         [] (uint64_t value, const NameArea& area) { return value < area.begin; });
    return *std::prev (after);
}

uint8_t premultiplied (uint8_t component, uint8_t alpha)
{
    return (uint8_t) ((component * alpha + 127) / 255);
}

// libpng writes straight RGBA; the framework's pixels are premultiplied, in its own byte order.
void convertToPremultipliedArgb (const juce::Image::BitmapData& pixels)
{
    for (int y = 0; y < pixels.height; ++y)
    {
        uint8_t* pixel = pixels.getLinePointer (y);
        for (int x = 0; x < pixels.width; ++x, pixel += pixels.pixelStride)
        {
            const uint8_t red = pixel[0], green = pixel[1], blue = pixel[2], alpha = pixel[3];
            pixel[juce::PixelARGB::indexA] = alpha;
            pixel[juce::PixelARGB::indexR] = premultiplied (red, alpha);
            pixel[juce::PixelARGB::indexG] = premultiplied (green, alpha);
            pixel[juce::PixelARGB::indexB] = premultiplied (blue, alpha);
        }
    }
}

// libpng's simplified reader reports every failure by its result. The framework's own loader
// cannot be used: over the system's libpng its error handler returns into libpng, which then
// aborts the process on the first damaged chunk.
juce::Image decodePng (const Bytes& bytes)
{
    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    if (! png_image_begin_read_from_memory (&png, bytes.data(), bytes.size()))
        return {};

    if ((uint64_t) png.width * png.height > kMaxImagePixels)
    {
        png_image_free (&png);
        return {};
    }

    // Decoded straight into the bitmap, then converted in place: no second copy of the pixels.
    png.format = PNG_FORMAT_RGBA;
    static_assert (sizeof (juce::PixelARGB) == kRgbaBytesPerPixel);
    juce::Image image (juce::Image::ARGB, (int) png.width, (int) png.height, false);
    {
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readWrite);
        const bool decoded = png_image_finish_read (&png, nullptr, pixels.data, pixels.lineStride, nullptr) != 0;
        png_image_free (&png);
        if (! decoded)
            return {};

        convertToPremultipliedArgb (pixels);
    }
    return image;
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
    _names.clear();
    _entries.clear();

    if (! _read)
        return false;

    Bytes header;
    if (! readBytes (_read, 0, kHeaderSize, header))
        return false;

    const uint32_t directoryOffset = readWord (header.data() + kHeaderDirectoryOffset);
    const uint64_t entryCount = readWord (header.data() + kHeaderEntryCount);

    std::vector<DirectoryEntry> table;
    {
        Bytes bytes;
        if (! readBytes (_read, directoryOffset, entryCount * kEntrySize, bytes))
            return false;

        table.resize ((size_t) entryCount);
        for (size_t k = 0; k < table.size(); ++k)
        {
            const uint8_t* fields = bytes.data() + k * kEntrySize;
            table[k] = { readWord (fields + kEntryNameOffset), readWord (fields + kEntryNameLength),
                         readWord (fields + kEntryDataOffset), readWord (fields + kEntryDataSize) };
        }
    }

    // Names may overlap each other anywhere in the file: each stretch they cover is read once,
    // and every entry points into it, so the names never take more room than the file.
    auto areas = findNameAreas (table);
    _entries.reserve (table.size());

    for (const auto& entry : table)
    {
        size_t namePosition = 0;
        if (entry.nameLength > 0)
        {
            auto& area = areaHolding (areas, entry.nameOffset);
            if (! area.loaded)
            {
                area.position = _names.size();
                area.readableEnd = area.begin + appendReadableStart (_read, area.begin, area.end - area.begin, _names);
                area.loaded = true;
            }

            if ((uint64_t) entry.nameOffset + entry.nameLength > area.readableEnd)
            {
                _names.shrink_to_fit();
                return false; // the entries taken before stay
            }

            namePosition = area.position + (size_t) (entry.nameOffset - area.begin);
        }
        _entries.push_back ({ entry, namePosition });
    }

    _names.shrink_to_fit();
    return true;
}

const ImageResourcePack::DirectoryEntry* ImageResourcePack::findEntry (const std::string& fileName) const
{
    // From the end: a later entry of the same name replaces the earlier one.
    for (auto named = _entries.rbegin(); named != _entries.rend(); ++named)
    {
        if (named->entry.nameLength == fileName.size()
            && (fileName.empty() || std::memcmp (_names.data() + named->namePosition, fileName.data(), fileName.size()) == 0))
            return &named->entry;
    }
    return nullptr;
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

    const auto* entry = findEntry (registration->second.fileName);
    Bytes bytes;
    if (entry == nullptr || ! readBytes (_read, entry->dataOffset, entry->dataSize, bytes))
    {
        // Missing or unreadable stays so: later requests give a null image without reading.
        _registry.erase (registration);
        return {};
    }

    // A decoding failure caches the null image, so the next request reads and decodes again.
    registration->second.image = decodePng (bytes);
    return registration->second.image;
}

void ImageResourcePack::clear()
{
    _registry.clear();
}

size_t ImageResourcePack::directoryBytes() const
{
    return _names.capacity() + _entries.capacity() * sizeof (NamedEntry);
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
