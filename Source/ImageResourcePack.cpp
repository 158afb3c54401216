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

// ---- PNG decoding ----------------------------------------------------------------------------
// The framework's own PNG loader cannot be used: over the system's libpng its error handler
// returns into libpng, which then jumps through a stale buffer on the first damaged chunk. This
// decoder drives libpng the way that loader does, with the same transforms and the framework's
// own premultiplication, so a sound PNG gives the very pixels the framework would show; but
// libpng's errors jump out of the read for good, and a damaged PNG gives a null image.

// The PNG bytes being read. Plain data: libpng's error jump passes over the frames using it.
struct PngSource
{
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t position = 0;
};

void readPngBytes (png_structp png, png_bytep destination, size_t length)
{
    auto& source = *static_cast<PngSource*> (png_get_io_ptr (png));
    if (length > source.size - source.position)
        png_error (png, "PNG data cut short");

    std::memcpy (destination, source.data + source.position, length);
    source.position += length;
}

// libpng must never get control back from its error handler: jump to the running read step.
[[noreturn]] void leavePngRead (png_structp png, png_const_charp)
{
    png_longjmp (png, 1);
}

void ignorePngWarning (png_structp, png_const_charp) {}

struct PngLayout
{
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool hasAlpha = false;
};

// The two read steps below call setjmp, so no object with a destructor may live in them.

// Reads the header and asks for the framework loader's transforms: 16-bit samples cut to 8 bits,
// palette and grey expanded to RGB, nothing else (no gamma correction). False when libpng fails.
bool readPngHeader (png_structp png, png_infop info, PngSource* source, PngLayout* layout)
{
    if (setjmp (png_jmpbuf (png)) != 0)
        return false;

    png_set_read_fn (png, source, readPngBytes);
    png_read_info (png, info);

    int depth = 0, colourType = 0, transparentCount = 0;
    png_get_IHDR (png, info, &layout->width, &layout->height, &depth, &colourType, nullptr, nullptr, nullptr);
    png_get_tRNS (png, info, nullptr, &transparentCount, nullptr);
    layout->hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || transparentCount != 0;

    if (depth == 16)
        png_set_strip_16 (png);
    if (colourType == PNG_COLOR_TYPE_PALETTE || depth < 8)
        png_set_expand (png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb (png);
    return true;
}

// Reads every row into the bitmap, interlaced images pass by pass as png_read_image does: 8-bit
// RGBA when the image has alpha (a transparency chunk expanded to it), else 8-bit RGB. The
// framework's loader also adds an opaque alpha to RGB rows, only to drop it when it copies them
// into its RGB bitmap. False when libpng fails, or when the rows would not fit the bitmap's.
bool readPngRows (png_structp png, png_infop info, uint8_t* firstLine, size_t lineStride, int pixelStride, png_uint_32 height)
{
    if (setjmp (png_jmpbuf (png)) != 0)
        return false;

    if (png_get_valid (png, info, PNG_INFO_tRNS) != 0)
        png_set_expand (png);

    const int passes = png_set_interlace_handling (png);
    png_read_update_info (png, info);

    if (png_get_bit_depth (png, info) != 8 || png_get_channels (png, info) != pixelStride
        || png_get_rowbytes (png, info) > lineStride)
        return false;

    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row (png, firstLine + y * lineStride, nullptr);

    png_read_end (png, info);
    return true;
}

// libpng's RGBA or RGB rows, turned in place into the framework's pixels: its ARGB byte order,
// premultiplied by its own PixelARGB, or its RGB byte order.
void convertToFrameworkPixels (const juce::Image::BitmapData& pixels, bool hasAlpha)
{
    for (int y = 0; y < pixels.height; ++y)
    {
        uint8_t* pixel = pixels.getLinePointer (y);
        for (int x = 0; x < pixels.width; ++x, pixel += pixels.pixelStride)
        {
            const uint8_t red = pixel[0], green = pixel[1], blue = pixel[2];
            if (hasAlpha)
            {
                const uint8_t alpha = pixel[3];
                auto* argb = reinterpret_cast<juce::PixelARGB*> (pixel);
                argb->setARGB (alpha, red, green, blue);
                argb->premultiply();
            }
            else
            {
                reinterpret_cast<juce::PixelRGB*> (pixel)->setARGB (0, red, green, blue);
            }
        }
    }
}

// Owns libpng's read and info structures.
struct PngReader
{
    PngReader()
        : png (png_create_read_struct (PNG_LIBPNG_VER_STRING, nullptr, leavePngRead, ignorePngWarning)),
          info (png != nullptr ? png_create_info_struct (png) : nullptr)
    {
    }

    ~PngReader() { png_destroy_read_struct (&png, &info, nullptr); }

    PngReader (const PngReader&) = delete;
    PngReader& operator= (const PngReader&) = delete;

    png_structp png;
    png_infop info;
};

juce::Image decodePng (const Bytes& bytes)
{
    PngReader reader;
    if (reader.info == nullptr)
        return {};

    PngSource source { bytes.data(), bytes.size(), 0 };
    PngLayout layout;
    if (! readPngHeader (reader.png, reader.info, &source, &layout))
        return {};

    // Before anything of the header's size is allocated; in 64 bits, so no product wraps.
    if ((uint64_t) layout.width * layout.height > kMaxImagePixels)
        return {};

    // The rows are decoded straight into the bitmap and converted there: no second copy.
    juce::Image image (layout.hasAlpha ? juce::Image::ARGB : juce::Image::RGB, (int) layout.width, (int) layout.height, false);
    {
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readWrite);
        if (! readPngRows (reader.png, reader.info, pixels.data, (size_t) pixels.lineStride, pixels.pixelStride, layout.height))
            return {};

        convertToFrameworkPixels (pixels, layout.hasAlpha);
    }
    image.getProperties()->set ("originalImageHadAlpha", layout.hasAlpha);
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
