#include "ImageResourcePack.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<uint8_t>;

void appendWord (Bytes& bytes, uint32_t value, bool bigEndian = false)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back ((uint8_t) (value >> (bigEndian ? 24 - 8 * i : 8 * i)));
}

void putWord (Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + (size_t) i] = (uint8_t) (value >> (8 * i));
}

uint32_t getWord (const Bytes& bytes, size_t at)
{
    return (uint32_t) bytes[at] | (uint32_t) bytes[at + 1] << 8 | (uint32_t) bytes[at + 2] << 16 | (uint32_t) bytes[at + 3] << 24;
}

// PNG files written here from the format's rules, independently of libpng: chunks with their
// CRC, image data compressed by the framework's zlib stream.
struct Chunk
{
    std::string type;
    Bytes body;
    bool badCrc = false;
};

Bytes pngFile (const std::vector<Chunk>& chunks)
{
    Bytes png { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A };
    for (const auto& chunk : chunks)
    {
        appendWord (png, (uint32_t) chunk.body.size(), true);
        const size_t typeAt = png.size();
        png.insert (png.end(), chunk.type.begin(), chunk.type.end());
        png.insert (png.end(), chunk.body.begin(), chunk.body.end());
        uint32_t crc = 0xFFFFFFFFu;
        for (size_t i = typeAt; i < png.size(); ++i)
        {
            crc ^= png[i];
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        appendWord (png, ~crc ^ (chunk.badCrc ? 1u : 0u), true);
    }
    return png;
}

Bytes zlibStream (const Bytes& raw)
{
    juce::MemoryOutputStream stream;
    juce::GZIPCompressorOutputStream (stream).write (raw.data(), raw.size()); // zlib format, not gzip
    const auto* data = static_cast<const uint8_t*> (stream.getData());
    return Bytes (data, data + stream.getDataSize());
}

Bytes ihdr (uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType)
{
    Bytes body;
    appendWord (body, width, true);
    appendWord (body, height, true);
    body.insert (body.end(), { depth, colourType, 0, 0, 0 });
    return body;
}

// An 8-bit RGBA image from 0xRRGGBBAA words, each row with filter type 0.
std::vector<Chunk> rgbaChunks (uint32_t width, uint32_t height, const std::vector<uint32_t>& pixels)
{
    Bytes raw;
    for (size_t k = 0; k < (size_t) width * height; ++k)
    {
        if (k % width == 0)
            raw.push_back (0);
        appendWord (raw, pixels[k], true);
    }
    return { { "IHDR", ihdr (width, height, 8, 6) }, { "IDAT", zlibStream (raw) }, { "IEND", {} } };
}

Bytes makePng (uint32_t width, uint32_t height)
{
    return pngFile (rgbaChunks (width, height, std::vector<uint32_t> ((size_t) width * height, 0xFF0000FFu)));
}

// A black one-bit grey image whose data holds only its first `rows` rows.
Bytes blackPng (uint32_t width, uint32_t height, uint32_t rows)
{
    return pngFile ({ { "IHDR", ihdr (width, height, 1, 0) },
                      { "IDAT", zlibStream (Bytes ((size_t) rows * (1 + (width + 7) / 8), 0)) }, { "IEND", {} } });
}

// A PNG written by libpng's own writer from pseudo-random samples. With `transparency`, a palette
// image gets an alpha per entry, any other a transparent colour: its first pixel's, which every
// third pixel of 8 or 16 bits then repeats.
struct PngKind
{
    const char* name;
    int colourType, depth;
    bool transparency = false, interlaced = false, linearGamma = false;
    uint32_t width = 37, height = 23;
};

void appendToBytes (png_structp png, png_bytep data, size_t length)
{
    auto& bytes = *static_cast<Bytes*> (png_get_io_ptr (png));
    bytes.insert (bytes.end(), data, data + length);
}

Bytes writePng (const PngKind& kind)
{
    Bytes file;
    png_structp png = png_create_write_struct (PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct (png);
    png_set_write_fn (png, &file, appendToBytes, nullptr);
    png_set_IHDR (png, info, kind.width, kind.height, kind.depth, kind.colourType,
                  kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);

    uint32_t seed = 2024;
    const auto next = [&seed] { return (uint8_t) ((seed = seed * 1664525u + 1013904223u) >> 24); };
    const size_t rowBytes = png_get_rowbytes (png, info);
    Bytes samples (rowBytes * kind.height);
    std::generate (samples.begin(), samples.end(), next);

    const bool palette = kind.colourType == PNG_COLOR_TYPE_PALETTE;
    std::vector<png_color> colours (palette ? (size_t) 1 << kind.depth : 0);
    Bytes alphas (colours.size());
    png_color_16 key {};
    if (palette)
    {
        for (auto& colour : colours)
            colour = { next(), next(), next() };
        std::generate (alphas.begin(), alphas.end(), next);
        png_set_PLTE (png, info, colours.data(), (int) colours.size());
    }
    else if (kind.transparency)
    {
        const size_t pixelBytes = (size_t) png_get_channels (png, info) * (size_t) kind.depth / 8;
        for (size_t at = 3 * pixelBytes; pixelBytes > 0 && at < samples.size(); at += 3 * pixelBytes)
            std::copy_n (samples.begin(), pixelBytes, samples.begin() + (long) at);
        const auto sample = [&] (size_t k) {
            return (png_uint_16) (kind.depth == 16 ? samples[2 * k] << 8 | samples[2 * k + 1] : samples[k] >> (8 - std::min (kind.depth, 8)));
        };
        key = { 0, sample (0), sample (1), sample (2), sample (0) };
    }
    if (kind.transparency)
        png_set_tRNS (png, info, palette ? alphas.data() : nullptr, (int) alphas.size(), &key);
    if (kind.linearGamma)
        png_set_gAMA (png, info, 1.0);

    png_write_info (png, info);
    std::vector<png_bytep> rows;
    for (size_t y = 0; y < kind.height; ++y)
        rows.push_back (samples.data() + y * rowBytes);
    png_write_image (png, rows.data());
    png_write_end (png, nullptr);
    png_destroy_write_struct (&png, &info);
    return file;
}

// A stored pixel as a premultiplied 0xAARRGGBB word; RGB bitmaps hold opaque pixels.
uint32_t storedArgb (const juce::Image::BitmapData& data, int x, int y)
{
    juce::PixelARGB pixel;
    if (data.pixelFormat == juce::Image::RGB)
        pixel.set (*reinterpret_cast<const juce::PixelRGB*> (data.getPixelPointer (x, y)));
    else
        pixel = *reinterpret_cast<const juce::PixelARGB*> (data.getPixelPointer (x, y));
    return pixel.getInARGBMaskOrder();
}

// The framework's loader over the same bytes gives the same size, format and alpha flag, and
// the same stored (premultiplied) value in every pixel.
testing::AssertionResult decodedLikeTheFramework (const juce::Image& image, const Bytes& png)
{
    const auto expected = juce::ImageFileFormat::loadFrom (png.data(), png.size());
    if (! image.isValid() || ! expected.isValid() || image.getBounds() != expected.getBounds())
        return testing::AssertionFailure() << "decoded: " << image.getBounds().toString() << ", by the framework: " << expected.getBounds().toString();

    const juce::Image::BitmapData ours (image, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData theirs (expected, juce::Image::BitmapData::readOnly);
    int differing = 0;
    std::ostringstream first;
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x)
            if (storedArgb (ours, x, y) != storedArgb (theirs, x, y) && differing++ == 0)
                first << std::hex << ", first at " << x << ", " << y << ": " << storedArgb (ours, x, y) << " instead of " << storedArgb (theirs, x, y);

    const auto alphaFlag = [] (const juce::Image& i) { return i.getProperties()->getWithDefault ("originalImageHadAlpha", "none").toString(); };
    if (differing > 0 || image.getFormat() != expected.getFormat() || alphaFlag (image) != alphaFlag (expected))
        return testing::AssertionFailure() << differing << " pixels differ" << first.str() << "; format " << image.getFormat()
                                           << " instead of " << expected.getFormat() << ", alpha flag " << alphaFlag (image) << " instead of " << alphaFlag (expected);
    return testing::AssertionSuccess();
}

// The data of the last entry of that name, read by the format's rules from the whole pack.
Bytes entryData (const Bytes& pack, const std::string& name)
{
    Bytes data;
    for (size_t k = 0, entry = getWord (pack, 0); k < getWord (pack, 4); ++k, entry += 16)
        if (std::string (pack.begin() + getWord (pack, entry), pack.begin() + getWord (pack, entry) + getWord (pack, entry + 4)) == name)
            data.assign (pack.begin() + getWord (pack, entry + 8), pack.begin() + getWord (pack, entry + 8) + getWord (pack, entry + 12));
    return data;
}

// Lowers the process's address-space limit to its size now plus `headroom` while it lives, so
// a decoder that allocates a bitmap for a damaged header's size fails the test at once.
struct AddressSpaceLimit
{
    explicit AddressSpaceLimit (rlim_t headroom)
    {
        getrlimit (RLIMIT_AS, &_saved);
        rlim_t pages = 0;
        std::ifstream ("/proc/self/statm") >> pages;
        rlimit lowered = _saved;
        lowered.rlim_cur = std::min (_saved.rlim_max, pages * (rlim_t) sysconf (_SC_PAGESIZE) + headroom);
        setrlimit (RLIMIT_AS, &lowered);
    }
    ~AddressSpaceLimit() { setrlimit (RLIMIT_AS, &_saved); }

    rlimit _saved {};
};

struct Entry
{
    std::string name;
    Bytes data;
};

// Lays a pack out the way a different writer might: header, each entry's data and name, then
// the directory at the end, so no offset is where a naive reader would guess it.
Bytes makePack (const std::vector<Entry>& entries)
{
    Bytes pack (8, 0);
    std::vector<uint32_t> dataOffsets, nameOffsets;

    for (const auto& entry : entries)
    {
        dataOffsets.push_back ((uint32_t) pack.size());
        pack.insert (pack.end(), entry.data.begin(), entry.data.end());
        nameOffsets.push_back ((uint32_t) pack.size());
        pack.insert (pack.end(), entry.name.begin(), entry.name.end());
    }

    putWord (pack, 0, (uint32_t) pack.size());
    putWord (pack, 4, (uint32_t) entries.size());
    for (size_t k = 0; k < entries.size(); ++k)
    {
        appendWord (pack, nameOffsets[k]);
        appendWord (pack, (uint32_t) entries[k].name.size());
        appendWord (pack, dataOffsets[k]);
        appendWord (pack, (uint32_t) entries[k].data.size());
    }
    return pack;
}

// An in-memory pack behind a read function that counts its calls and bytes and can be made to fail.
struct FakeFile
{
    explicit FakeFile (Bytes content) : bytes (std::move (content)) {}

    ImageResourcePack::ReadFunction reader()
    {
        return [this] (unsigned int offset, unsigned long size, void* destination) {
            ++reads;
            bytesRead += size;
            if (failing || (unsigned long long) offset + size > bytes.size())
                return false;
            std::copy (bytes.begin() + offset, bytes.begin() + (long) (offset + size), static_cast<uint8_t*> (destination));
            return true;
        };
    }

    Bytes bytes;
    int reads = 0;
    unsigned long long bytesRead = 0;
    bool failing = false;
};

// Releases the process-wide registry when a test that registered it ends, even on failure.
struct RegistryRelease
{
    ~RegistryRelease() { releaseImageResources(); }
};
} // namespace

// ---- Directory -------------------------------------------------------------------------------

TEST (ImagePackDirectory, failsOnAnUnreadableHeaderDirectoryOrNameAndKeepsTheEntriesBefore)
{
    // Entries "a.png" and "b.png"; the directory's 32 bytes end the file.
    const Bytes good = makePack ({ { "a.png", makePng (2, 2) }, { "b.png", makePng (3, 3) } });
    const size_t second = good.size() - 16;
    const uint32_t firstNameAt = good[second - 16] | good[second - 15] << 8;
    const struct
    {
        const char* name;
        std::function<void (Bytes&)> damage;
        bool failingReads, opens, keepsFirstEntry;
    } cases[] = {
        { "empty file",               [] (Bytes& b) { b.clear(); },                   false, false, false },
        { "short header",             [] (Bytes& b) { b.resize (7); },                false, false, false },
        { "directory one byte short", [] (Bytes& b) { b.pop_back(); },                false, false, false },
        { "huge entry count",         [] (Bytes& b) { putWord (b, 4, 0xFFFFFFFFu); }, false, false, false },
        { "failing read function",    [] (Bytes&) {},                                 true,  false, false },
        { "zero entries",             [] (Bytes& b) { putWord (b, 4, 0); },           false, true,  false },
        { "name far past the end",    [&] (Bytes& b) { putWord (b, second + 4, 0xFFFFFF00u); },   false, false, true },
        { "name past 32-bit offsets", [&] (Bytes& b) { putWord (b, second, 0xFFFFFFF0u); },       false, false, true },
        { "name 1 byte past the end", [&] (Bytes& b) { putWord (b, second, (uint32_t) b.size() - 4);
                                                       putWord (b, second + 4, 5); },             false, false, true },
        { "name at the last bytes",   [&] (Bytes& b) { putWord (b, second, (uint32_t) b.size() - 4);
                                                       putWord (b, second + 4, 4); },             false, true,  true },
        { "name over the first's and past the end", [&] (Bytes& b) { putWord (b, second, firstNameAt);
                                                       putWord (b, second + 4, 0x7FFFFFFFu); },   false, false, true },
    };

    for (const auto& row : cases)
    {
        FakeFile file (good);
        row.damage (file.bytes);
        file.failing = row.failingReads;
        ImageResourcePack pack (file.reader());

        EXPECT_EQ (pack.open(), row.opens) << row.name;
        pack.add (0, "a.png");
        pack.add (1, "b.png");
        EXPECT_EQ (pack.getImage (0).isValid(), row.keepsFirstEntry) << row.name;
        EXPECT_FALSE (pack.getImage (1).isValid()) << row.name;
    }
    EXPECT_FALSE (ImageResourcePack ({}).open());
}

TEST (ImagePackDirectory, keepsNamesThatOverlapInOneAreaOfTheFileOnlyOnce)
{
    // 4096 entries whose names, each almost 1 MB long, overlap in one area of a 1 MB pack:
    // a copy of each name would take 4 GB. The last entry names the 3 x 3 image, the others 2 x 2.
    constexpr uint32_t kCount = 4096, kArea = (1u << 20) - kCount * 16, kNameLength = kArea - kCount;
    Bytes bytes (8);
    for (uint32_t i = 0; i < kArea; ++i)
        bytes.push_back ((uint8_t) ((i * 2654435761u) >> 24)); // no two names alike
    const Bytes images[] = { makePng (2, 2), makePng (3, 3) };
    const uint32_t imageAt[] = { (uint32_t) bytes.size(), (uint32_t) (bytes.size() + images[0].size()) };
    for (const auto& image : images)
        bytes.insert (bytes.end(), image.begin(), image.end());
    putWord (bytes, 0, (uint32_t) bytes.size());
    putWord (bytes, 4, kCount);
    for (uint32_t k = 0; k < kCount; ++k)
        for (uint32_t field : { 8 + k, kNameLength, imageAt[k + 1 == kCount], (uint32_t) images[k + 1 == kCount].size() })
            appendWord (bytes, field);
    FakeFile file (bytes);
    ImageResourcePack pack (file.reader());

    ASSERT_TRUE (pack.open());
    EXPECT_LE (pack.directoryBytes(), 2 * bytes.size());
    EXPECT_LE (file.bytesRead, bytes.size());

    const auto nameOf = [&] (uint32_t k) { return std::string (bytes.begin() + 8 + k, bytes.begin() + 8 + k + kNameLength); };
    pack.add (0, nameOf (0));
    pack.add (1, nameOf (kCount - 1));
    pack.add (2, nameOf (1).substr (1));
    EXPECT_EQ (pack.getImage (0).getWidth(), 2);
    EXPECT_EQ (pack.getImage (1).getWidth(), 3);
    EXPECT_FALSE (pack.getImage (2).isValid());
}

TEST (ImagePackDirectory, matchesNamesByTheirExactBytesAndTheLaterOfTwoEntriesWins)
{
    // The first and the last entry are written with stand-in names, then pointed at bytes wholly
    // inside the fifth entry's name: "nob.png" in its middle, "Old" at its start.
    FakeFile file (makePack ({ { "#######", makePng (7, 7) }, { "Knob.png", makePng (2, 2) }, { "knob.png", makePng (4, 4) },
                               { "Knob.png", makePng (5, 3) }, { "OldKnob.png.bak", makePng (6, 6) }, { "###", makePng (8, 8) } }));
    const size_t directory = file.bytes.size() - 6 * 16;
    putWord (file.bytes, directory, getWord (file.bytes, directory + 4 * 16) + 4);
    putWord (file.bytes, directory + 5 * 16, getWord (file.bytes, directory + 4 * 16));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());

    const struct
    {
        const char* name;
        int width, height; // 0: no image
    } lookups[] = {
        { "Knob.png", 5, 3 }, { "knob.png", 4, 4 }, { "KNOB.png", 0, 0 }, { "OldKnob.png.bak", 6, 6 },
        { "nob.png", 7, 7 },  { "Old", 8, 8 },      { "#######", 0, 0 },
    };
    for (unsigned id = 0; id < std::size (lookups); ++id)
    {
        pack.add (id, lookups[id].name);
        EXPECT_EQ (pack.getImage (id).getBounds(), juce::Rectangle<int> (lookups[id].width, lookups[id].height)) << lookups[id].name;
    }
}

// ---- Loading images --------------------------------------------------------------------------

TEST (ImagePackLoading, readsAnImageOnceAndDecodesItIntoPremultipliedArgb)
{
    // 0xRRGGBBAA in the file; the framework's ARGB holds each colour premultiplied its own way,
    // as (colour x alpha + 127) / 256 rounded down, when alpha is below 255.
    const std::vector<uint32_t> rgba { 0xFF0000FF, 0xFF400080, 0x0A141E00, 0x0000FFFF, 0xC8643233, 0xFFFFFFFE };
    const uint32_t argb[] = { 0xFFFF0000, 0x807F2000, 0x00000000, 0xFF0000FF, 0x3328140A, 0xFEFDFDFD };
    FakeFile file (makePack ({ { "a.png", pngFile (rgbaChunks (3, 2, rgba)) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");
    const int readsAfterOpen = file.reads;

    const auto image = pack.getImage (0);
    ASSERT_EQ (image.getBounds(), juce::Rectangle<int> (3, 2));
    const juce::Image::BitmapData data (image, juce::Image::BitmapData::readOnly);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ (reinterpret_cast<const juce::PixelARGB*> (data.getPixelPointer (k % 3, k / 3))->getInARGBMaskOrder(), argb[k]) << "pixel " << k;

    EXPECT_TRUE (pack.getImage (0) == image); // one pixel buffer
    EXPECT_EQ (file.reads - readsAfterOpen, 1);
    EXPECT_FALSE (pack.getImage (1).isValid()); // never registered
}

TEST (ImagePackLoading, decodesEveryKindOfPngAsTheFrameworksLoaderDoes)
{
    constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyAlpha = PNG_COLOR_TYPE_GRAY_ALPHA, kRgb = PNG_COLOR_TYPE_RGB,
                  kRgba = PNG_COLOR_TYPE_RGB_ALPHA, kPalette = PNG_COLOR_TYPE_PALETTE;
    const PngKind kinds[] = {
        { "RGB 8",                          kRgb,       8 },
        { "RGB 16",                         kRgb,       16 },
        { "RGB 16, transparent colour",     kRgb,       16, true },
        { "RGBA 8",                         kRgba,      8 },
        { "RGBA 16",                        kRgba,      16 },
        { "grey 1",                         kGrey,      1 },
        { "grey 2, transparent colour",     kGrey,      2,  true },
        { "grey 4",                         kGrey,      4 },
        { "grey 8, transparent colour",     kGrey,      8,  true },
        { "grey 16",                        kGrey,      16 },
        { "grey and alpha 8",               kGreyAlpha, 8 },
        { "grey and alpha 16",              kGreyAlpha, 16 },
        { "palette 4",                      kPalette,   4 },
        { "palette 8 with alphas",          kPalette,   8,  true },
        { "palette 2 with alphas",          kPalette,   2,  true },
        { "RGBA 8 interlaced",              kRgba,      8,  false, true },
        { "RGB 16 interlaced",              kRgb,       16, false, true },
        { "grey 1 interlaced",              kGrey,      1,  false, true },
        { "palette 4 with alphas, interlaced", kPalette, 4, true,  true },
        { "RGBA 8, gAMA 1.0",               kRgba,      8,  false, false, true },
        { "RGB 8, gAMA 1.0",                kRgb,       8,  false, false, true },
        { "grey and alpha 16, gAMA 1.0",    kGreyAlpha, 16, false, false, true },
        { "2^25 pixels, the most decoded",  kGrey,      1,  false, false, false, 8192, 4096 },
    };

    for (const auto& kind : kinds)
    {
        const Bytes png = writePng (kind);
        FakeFile file (makePack ({ { "a.png", png } }));
        ImageResourcePack pack (file.reader());
        ASSERT_TRUE (pack.open());
        pack.add (0, "a.png");
        EXPECT_TRUE (decodedLikeTheFramework (pack.getImage (0), png)) << kind.name;
    }
}

TEST (ImagePackLoading, givesANullImageForDamagedOrNonPngDataAndRetriesIt)
{
    const auto good = [] { return rgbaChunks (4, 3, std::vector<uint32_t> (12, 0x01020304)); };
    const auto damaged = [&] (std::function<void (std::vector<Chunk>&)> change) {
        auto chunks = good();
        change (chunks);
        return pngFile (chunks);
    };
    const auto cut = [&] (size_t length) { Bytes png = pngFile (good()); png.resize (length); return png; };
    juce::MemoryOutputStream jpeg;
    juce::JPEGImageFormat().writeImageToStream (juce::Image (juce::Image::RGB, 4, 4, true), jpeg);
    const auto* jpegBytes = static_cast<const uint8_t*> (jpeg.getData());

    const struct
    {
        const char* name;
        Bytes data;
    } cases[] = {
        { "not an image",               { 'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e' } },
        { "empty",                      {} },
        { "a JPEG",                     Bytes (jpegBytes, jpegBytes + jpeg.getDataSize()) },
        { "IDAT type damaged",          damaged ([] (auto& c) { c[1].type = "I\x01" "AT"; }) },
        { "unknown critical chunk",     damaged ([] (auto& c) { c[1].type = "IDAX"; }) },
        { "bad IDAT CRC",               damaged ([] (auto& c) { c[1].badCrc = true; }) },
        { "bad IHDR CRC",               damaged ([] (auto& c) { c[0].badCrc = true; }) },
        { "bad zlib header",            damaged ([] (auto& c) { c[1].body[0] = 0x79; }) },
        { "bad deflate block type",     damaged ([] (auto& c) { c[1].body[2] |= 0x06; }) },
        { "bad filter type",            damaged ([] (auto& c) { c[1].body[7] = 9; }) },
        { "no IDAT",                    damaged ([] (auto& c) { c.erase (c.begin() + 1); }) },
        { "bit depth 3",                damaged ([] (auto& c) { c[0].body[8] = 3; }) },
        { "huge declared size",         damaged ([] (auto& c) { c[0].body = ihdr (1000000, 1000000, 8, 6); }) },
        // 8283 x 4051 = 2^25 + 1 one-bit pixels: a sound PNG, one pixel over the decoder's limit.
        { "one pixel over the limit",   blackPng (8283, 4051, 4051) },
        // 65536 x 65536 = 2^32 pixels, which a 32-bit product wraps to 0; two rows of data.
        { "2^32 pixels",                blackPng (65536, 65536, 2) },
        { "cut in the signature",       cut (5) },
        { "cut in the image data",      cut (50) },
    };

    for (const auto& row : cases)
    {
        FakeFile file (makePack ({ { "a.png", row.data } }));
        ImageResourcePack pack (file.reader());
        ASSERT_TRUE (pack.open());
        pack.add (0, "a.png");

        const int before = file.reads;
        {
            const AddressSpaceLimit limit (1u << 30); // no damaged header gets its bitmap
            EXPECT_FALSE (pack.getImage (0).isValid()) << row.name;
        }
        const int once = file.reads - before;
        EXPECT_FALSE (pack.getImage (0).isValid()) << row.name;
        EXPECT_EQ (file.reads - before, 2 * once) << row.name; // read again: still registered
    }
}

TEST (ImagePackLoading, dropsAnEntryWhoseDataCannotBeReadForGood)
{
    const struct
    {
        const char* name;
        uint32_t dataOffset, dataSize; // 0: as written
        bool failing;
    } cases[] = {
        { "failing read function",    0,           0,           true },
        { "data size past the end",   0,           0xFFFFFFF0u, false },
        { "data offset past the end", 0xFFFFFFF0u, 0,           false },
        { "data past 32-bit offsets", 0xFFFFFFFFu, 0xFFFFFFFFu, false },
    };

    for (const auto& row : cases)
    {
        FakeFile file (makePack ({ { "a.png", makePng (2, 2) } }));
        for (auto [at, value] : { std::pair { 8, row.dataOffset }, { 4, row.dataSize } })
            if (value != 0)
                putWord (file.bytes, file.bytes.size() - (size_t) at, value);
        ImageResourcePack pack (file.reader());
        ASSERT_TRUE (pack.open()) << row.name;
        pack.add (0, "a.png");

        file.failing = row.failing;
        EXPECT_FALSE (pack.getImage (0).isValid()) << row.name;
        file.failing = false;
        const int before = file.reads;
        EXPECT_FALSE (pack.getImage (0).isValid()) << row.name;
        EXPECT_EQ (file.reads, before) << row.name;
    }
}

TEST (ImagePackLoading, forgetsAnImageOnANewNameOnClearAndOnReopening)
{
    FakeFile file (makePack ({ { "a.png", makePng (2, 2) }, { "b.png", makePng (3, 3) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");
    ASSERT_EQ (pack.getImage (0).getWidth(), 2);
    pack.add (0, "b.png");
    EXPECT_EQ (pack.getImage (0).getWidth(), 3);

    pack.clear(); // the directory stays
    EXPECT_FALSE (pack.getImage (0).isValid());
    pack.add (0, "a.png");
    EXPECT_EQ (pack.getImage (0).getWidth(), 2);

    ASSERT_TRUE (pack.open());
    EXPECT_FALSE (pack.getImage (0).isValid());
}

// ---- The registry ----------------------------------------------------------------------------

TEST (ImageRegistry, looksUpEachIdByItsFixedFileName)
{
    RegistryRelease release;
    FakeFile file (makePack ({ { "Invert.png", makePng (9, 8) }, { "CloseOn.png", makePng (7, 6) } }));

    ASSERT_TRUE (registerImageResources (file.reader()));
    EXPECT_EQ (getImageResource (kImageInvert).getWidth(), 9);
    EXPECT_EQ (getImageResource (kImageCloseOn).getHeight(), 6);
    EXPECT_FALSE (getImageResource (kImageBody).isValid());
}

TEST (ImageRegistry, givesNullForEveryIdWhenThePackCannotBeOpenedAndAfterRelease)
{
    FakeFile broken (Bytes (3, 0));
    EXPECT_FALSE (registerImageResources (broken.reader()));
    const int before = broken.reads;
    for (unsigned id = 0; id <= 31; ++id)
        EXPECT_FALSE (getImageResource (id).isValid()) << id;
    EXPECT_EQ (broken.reads, before);

    std::vector<Entry> entries;
    for (const auto& file : kImageResourceFiles)
        entries.push_back ({ file.fileName, makePng (2, 2) });
    FakeFile file (makePack (entries));

    ASSERT_TRUE (registerImageResources (file.reader()));
    for (unsigned id = 0; id < 31; ++id)
        ASSERT_TRUE (getImageResource (id).isValid()) << id;

    releaseImageResources();
    for (unsigned id = 0; id <= 31; ++id)
        EXPECT_FALSE (getImageResource (id).isValid()) << id;
}

// ---- The pack the program carries ------------------------------------------------------------

namespace
{
struct ExpectedSize
{
    ImageResourceId id;
    int width;
    int height;
};

// Twice the size at which the user interface draws each "@2x" image; the others at that size.
const ExpectedSize kExpectedSizes[] = {
    { kImageBody,                 1248, 1780 },
    { kImageGlobalTab,            1144, 856 },
    { kImageFootswitchesTab,      1144, 856 },
    { kImageAboutTab,             1144, 856 },
    { kImageLargeDialFilm,        272, 272 * kDialFilmFrameCount },
    { kImageFXDialFilm,           292, 312 * kDialFilmFrameCount },
    { kImageSwitchUp,             80, 208 },
    { kImageSwitchCenter,         80, 208 },
    { kImageSwitchDown,           80, 208 },
    { kImageCloseOff,             36, 36 },
    { kImageCloseOn,              36, 36 },
    { kImageMaximizeOff,          36, 36 },
    { kImageMaximizeOn,           36, 36 },
    { kImageMinimizeOff,          36, 36 },
    { kImageMinimizeOn,           36, 36 },
    { kImageReadoutArrowLeftOff,  40, 52 },
    { kImageReadoutArrowLeftOn,   40, 52 },
    { kImageReadoutArrowRightOff, 40, 52 },
    { kImageReadoutArrowRightOn,  40, 52 },
    { kImageListOff,              104, 40 },
    { kImageListOn,               104, 40 },
    { kImageSaveOff,              160, 56 },
    { kImageSaveOn,               160, 56 },
    { kImageFXBlockOff,           132, 132 },
    { kImageFXBlockOn,            132, 132 },
    { kImageFXReadout,            548, 104 },
    { kImageFXRedLine,            1132, 8 },
    { kImageFXScrollBar,          16, 540 },
    { kImageNotAssigned,          32, 32 },
    { kImageAssigned,             32, 32 },
    { kImageInvert,               32, 32 },
};

// The application's reader: seek, then read exactly `size` bytes.
ImageResourcePack::ReadFunction fileReader (FILE* file)
{
    return [file] (unsigned int offset, unsigned long size, void* destination) {
        std::fseek (file, (long) offset, SEEK_SET);
        return std::fread (destination, 1, size, file) == size;
    };
}
} // namespace

TEST (GeneratedImagePack, holdsEveryImageOfTheEditorAtItsSize)
{
    RegistryRelease release;
    std::unique_ptr<FILE, int (*) (FILE*)> file (std::fopen (TOVAREK_IMAGE_PACK_FILE, "rb"), &std::fclose);
    ASSERT_NE (file, nullptr);

    ASSERT_TRUE (registerImageResources (fileReader (file.get())));
    ASSERT_EQ (std::size (kExpectedSizes), kImageResourceFiles.size());
    const Bytes packBytes = TestSupport::readFileBytes (TOVAREK_IMAGE_PACK_FILE);

    for (const auto& expected : kExpectedSizes)
    {
        const auto image = getImageResource (expected.id);
        ASSERT_TRUE (image.isValid()) << expected.id;
        EXPECT_EQ (image.getWidth(), expected.width) << expected.id;
        EXPECT_EQ (image.getHeight(), expected.height) << expected.id;
        EXPECT_TRUE (decodedLikeTheFramework (image, entryData (packBytes, kImageResourceFiles[expected.id].fileName))) << expected.id;
    }
    EXPECT_FALSE (getImageResource (31).isValid());

    // Light enough to tint: the user interface colours the "on" block button.
    const auto on = getImageResource (kImageFXBlockOn);
    const auto centre = on.getPixelAt (on.getWidth() / 2, on.getHeight() / 2);
    EXPECT_EQ (centre.getAlpha(), 255);
    EXPECT_GT (centre.getBrightness(), 0.75f);
    EXPECT_NEAR (centre.getSaturation(), 0.0f, 0.05f);
}

TEST (GeneratedImagePack, keepsTheLayoutAnIndependentReaderExpects)
{
    const std::string script = std::string (TOVAREK_SOURCE_DIR) + "/tests/fixtures/image_pack_check.py";
    std::string names;
    for (const auto& file : kImageResourceFiles)
        names += std::string (" '") + file.fileName + "'";

    EXPECT_EQ (TestSupport::runCommand ("python3 '" + script + "' '" + TOVAREK_IMAGE_PACK_FILE + "'" + names), 0);
}

TEST (GeneratedImagePack, isDrawnTheSameOnEveryRun)
{
    const std::string directory = TestSupport::makeTempDirectory ("ImagePackRerun");
    const std::string pack = directory + "/resources.bin";

    ASSERT_EQ (TestSupport::runCommand ("'" + std::string (TOVAREK_ARTWORK_GENERATOR) + "' '" + directory + "/images' '" + pack + "'"), 0);
    const Bytes again = TestSupport::readFileBytes (pack);
    ASSERT_FALSE (again.empty());
    EXPECT_TRUE (again == TestSupport::readFileBytes (TOVAREK_IMAGE_PACK_FILE));

    std::filesystem::remove_all (directory);
}
