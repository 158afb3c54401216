#include "ImageResourcePack.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<uint8_t>;

void appendWord (Bytes& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back ((uint8_t) (value >> (8 * i)));
}

void putWord (Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + (size_t) i] = (uint8_t) (value >> (8 * i));
}

// A PNG of the given size, encoded by the framework.
Bytes makePng (int width, int height)
{
    juce::Image image (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
    image.setPixelAt (0, 0, juce::Colours::red);
    juce::MemoryOutputStream stream;
    juce::PNGImageFormat().writeImageToStream (image, stream);
    const auto* data = static_cast<const uint8_t*> (stream.getData());
    return Bytes (data, data + stream.getDataSize());
}

struct Entry
{
    std::string name;
    Bytes data;
};

// Lays a pack out the way a different writer might: header, data, names, then the directory
// at the end, so no offset is where a naive reader would guess it.
Bytes makePack (const std::vector<Entry>& entries)
{
    Bytes pack (8, 0);
    std::vector<uint32_t> dataOffsets, nameOffsets;

    for (const auto& entry : entries)
    {
        dataOffsets.push_back ((uint32_t) pack.size());
        pack.insert (pack.end(), entry.data.begin(), entry.data.end());
    }
    for (const auto& entry : entries)
    {
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

// An in-memory pack behind a read function that counts its calls and can be made to fail.
struct FakeFile
{
    explicit FakeFile (Bytes content) : bytes (std::move (content)) {}

    ImageResourcePack::ReadFunction reader()
    {
        return [this] (unsigned int offset, unsigned long size, void* destination) {
            ++reads;
            if (failing || (unsigned long long) offset + size > bytes.size())
                return false;
            std::copy (bytes.begin() + offset, bytes.begin() + (long) (offset + size), static_cast<uint8_t*> (destination));
            return true;
        };
    }

    Bytes bytes;
    int reads = 0;
    bool failing = false;
};

// Releases the process-wide registry when a test that registered it ends, even on failure.
struct RegistryRelease
{
    ~RegistryRelease() { releaseImageResources(); }
};

const Bytes kGarbage { 'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e' };
} // namespace

// ---- Directory -------------------------------------------------------------------------------

TEST (ImagePackDirectory, opensAPackOfZeroEntriesAndFindsNothingInIt)
{
    FakeFile file (makePack ({}));
    ImageResourcePack pack (file.reader());

    ASSERT_TRUE (pack.open());
    pack.add (0, "TovarekV2Body@2x.png");
    EXPECT_FALSE (pack.getImage (0).isValid());
}

TEST (ImagePackDirectory, failsOnAnEmptyOrShortFile)
{
    for (size_t size : { 0, 4, 7 })
    {
        FakeFile file (Bytes (size, 0));
        ImageResourcePack pack (file.reader());
        EXPECT_FALSE (pack.open()) << size << " bytes";
    }
}

TEST (ImagePackDirectory, failsWhenTheDirectoryRunsPastTheEndOfTheFile)
{
    Bytes bytes = makePack ({ { "a.png", makePng (2, 2) } });
    bytes.pop_back();
    FakeFile file (bytes);
    ImageResourcePack pack (file.reader());

    EXPECT_FALSE (pack.open());
}

TEST (ImagePackDirectory, failsOnAHugeEntryCountWithoutAllocatingForIt)
{
    Bytes bytes = makePack ({ { "a.png", makePng (2, 2) } });
    putWord (bytes, 4, 0xFFFFFFFFu);
    FakeFile file (bytes);
    ImageResourcePack pack (file.reader());

    EXPECT_FALSE (pack.open());
}

TEST (ImagePackDirectory, failsWhenANameLiesOutsideTheFile)
{
    Bytes bytes = makePack ({ { "a.png", makePng (2, 2) }, { "b.png", makePng (3, 3) } });
    const size_t directory = bytes.size() - 32;
    putWord (bytes, directory + 16 + 4, 0xFFFFFF00u); // second name's length
    FakeFile file (bytes);
    ImageResourcePack pack (file.reader());

    EXPECT_FALSE (pack.open());
}

TEST (ImagePackDirectory, keepsTheEntriesReadBeforeANameThatFails)
{
    Bytes bytes = makePack ({ { "a.png", makePng (2, 2) }, { "b.png", makePng (3, 3) } });
    const size_t directory = bytes.size() - 32;
    putWord (bytes, directory + 16, 0xFFFFFFF0u); // second name's offset
    FakeFile file (bytes);
    ImageResourcePack pack (file.reader());

    ASSERT_FALSE (pack.open());
    pack.add (0, "a.png");
    pack.add (1, "b.png");
    EXPECT_EQ (pack.getImage (0).getWidth(), 2);
    EXPECT_FALSE (pack.getImage (1).isValid());
}

TEST (ImagePackDirectory, failsOnAFailingReadFunction)
{
    FakeFile file (makePack ({ { "a.png", makePng (2, 2) } }));
    file.failing = true;
    ImageResourcePack pack (file.reader());

    EXPECT_FALSE (pack.open());
    EXPECT_FALSE (ImageResourcePack ({}).open());
}

TEST (ImagePackDirectory, usesTheLaterOfTwoEntriesOfTheSameName)
{
    FakeFile file (makePack ({ { "a.png", makePng (2, 2) }, { "a.png", makePng (5, 3) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (7, "a.png");

    const auto image = pack.getImage (7);
    EXPECT_EQ (image.getWidth(), 5);
    EXPECT_EQ (image.getHeight(), 3);
}

TEST (ImagePackDirectory, comparesNamesWithTheirCase)
{
    FakeFile file (makePack ({ { "Knob.png", makePng (2, 2) }, { "knob.png", makePng (4, 4) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (1, "Knob.png");
    pack.add (2, "knob.png");
    pack.add (3, "KNOB.png");

    EXPECT_EQ (pack.getImage (1).getWidth(), 2);
    EXPECT_EQ (pack.getImage (2).getWidth(), 4);
    EXPECT_FALSE (pack.getImage (3).isValid());
}

TEST (ImagePackDirectory, reopeningEmptiesTheRegistry)
{
    FakeFile file (makePack ({ { "a.png", makePng (2, 2) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");
    ASSERT_TRUE (pack.getImage (0).isValid());

    ASSERT_TRUE (pack.open());
    EXPECT_FALSE (pack.getImage (0).isValid());
}

// ---- Loading images --------------------------------------------------------------------------

TEST (ImagePackLoading, readsAnImageOnceAndSharesItsPixels)
{
    FakeFile file (makePack ({ { "a.png", makePng (6, 4) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");
    const int readsAfterOpen = file.reads;

    const auto first = pack.getImage (0);
    const int readsForImage = file.reads - readsAfterOpen;
    const auto second = pack.getImage (0);

    EXPECT_EQ (readsForImage, 1);
    EXPECT_EQ (file.reads - readsAfterOpen, 1);
    EXPECT_EQ (first.getPixelAt (0, 0), juce::Colours::red);
    EXPECT_TRUE (first == second); // one pixel buffer
}

TEST (ImagePackLoading, givesNullForAnIdNeverRegistered)
{
    FakeFile file (makePack ({ { "a.png", makePng (2, 2) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");

    EXPECT_FALSE (pack.getImage (1).isValid());
}

TEST (ImagePackLoading, retriesDataThatIsNotAnImage)
{
    FakeFile file (makePack ({ { "junk.png", kGarbage }, { "empty.png", {} } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "junk.png");
    pack.add (1, "empty.png");

    int before = file.reads;
    EXPECT_FALSE (pack.getImage (0).isValid());
    EXPECT_FALSE (pack.getImage (0).isValid());
    EXPECT_EQ (file.reads - before, 2);

    EXPECT_FALSE (pack.getImage (1).isValid());
    EXPECT_FALSE (pack.getImage (1).isValid());
}

TEST (ImagePackLoading, dropsAnEntryWhoseDataCannotBeReadForGood)
{
    FakeFile file (makePack ({ { "a.png", makePng (2, 2) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");

    file.failing = true;
    EXPECT_FALSE (pack.getImage (0).isValid());

    file.failing = false;
    const int before = file.reads;
    EXPECT_FALSE (pack.getImage (0).isValid());
    EXPECT_EQ (file.reads, before);
}

TEST (ImagePackLoading, dropsAnEntryWhoseDataRunsPastTheEndOfTheFile)
{
    Bytes bytes = makePack ({ { "a.png", makePng (2, 2) } });
    putWord (bytes, bytes.size() - 4, 0xFFFFFFF0u); // data size
    FakeFile file (bytes);
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");

    EXPECT_FALSE (pack.getImage (0).isValid());
}

TEST (ImagePackLoading, refusesAPngWhoseHeaderAsksForAnImmenseBitmap)
{
    Bytes png = makePng (2, 2);
    // IHDR width and height (big-endian) at 16 and 20, then its CRC over type and data at 29.
    const auto putBigEndian = [&] (size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            png[at + (size_t) i] = (uint8_t) (value >> (24 - 8 * i));
    };
    putBigEndian (16, 1000000);
    putBigEndian (20, 1000000);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 12; i < 29; ++i)
    {
        crc ^= png[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    putBigEndian (29, ~crc);

    FakeFile file (makePack ({ { "huge.png", png } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "huge.png");

    EXPECT_FALSE (pack.getImage (0).isValid());
}

TEST (ImagePackLoading, decodesPngDataOnly)
{
    juce::Image image (juce::Image::RGB, 4, 4, true, juce::SoftwareImageType());
    juce::MemoryOutputStream stream;
    ASSERT_TRUE (juce::JPEGImageFormat().writeImageToStream (image, stream));
    const auto* data = static_cast<const uint8_t*> (stream.getData());

    FakeFile file (makePack ({ { "photo.jpg", Bytes (data, data + stream.getDataSize()) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "photo.jpg");

    EXPECT_FALSE (pack.getImage (0).isValid());
}

TEST (ImagePackLoading, givesANewNameToAnIdAndForgetsItsImage)
{
    FakeFile file (makePack ({ { "a.png", makePng (2, 2) }, { "b.png", makePng (3, 3) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");
    ASSERT_EQ (pack.getImage (0).getWidth(), 2);

    pack.add (0, "b.png");
    EXPECT_EQ (pack.getImage (0).getWidth(), 3);
}

TEST (ImagePackLoading, clearDropsEveryImageButKeepsTheDirectory)
{
    FakeFile file (makePack ({ { "a.png", makePng (2, 2) } }));
    ImageResourcePack pack (file.reader());
    ASSERT_TRUE (pack.open());
    pack.add (0, "a.png");
    ASSERT_TRUE (pack.getImage (0).isValid());

    pack.clear();
    EXPECT_FALSE (pack.getImage (0).isValid());

    pack.add (0, "a.png");
    EXPECT_TRUE (pack.getImage (0).isValid());
}

// ---- The registry ----------------------------------------------------------------------------

TEST (ImageRegistry, registersNothingWhenThePackCannotBeOpened)
{
    RegistryRelease release;
    FakeFile file (Bytes (3, 0));

    EXPECT_FALSE (registerImageResources (file.reader()));
    const int before = file.reads;
    for (unsigned id = 0; id <= 31; ++id)
        EXPECT_FALSE (getImageResource (id).isValid()) << id;
    EXPECT_EQ (file.reads, before);
}

TEST (ImageRegistry, looksUpEachIdByItsFixedFileName)
{
    RegistryRelease release;
    FakeFile file (makePack ({ { "Invert.png", makePng (9, 8) }, { "CloseOn.png", makePng (7, 6) } }));

    ASSERT_TRUE (registerImageResources (file.reader()));
    EXPECT_EQ (getImageResource (kImageInvert).getWidth(), 9);
    EXPECT_EQ (getImageResource (kImageCloseOn).getHeight(), 6);
    EXPECT_FALSE (getImageResource (kImageBody).isValid());
    EXPECT_FALSE (getImageResource (31).isValid());
}

TEST (ImageRegistry, givesNullForEveryIdAfterRelease)
{
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
        if (file == nullptr)
            return false;
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

    for (const auto& expected : kExpectedSizes)
    {
        const auto image = getImageResource (expected.id);
        ASSERT_TRUE (image.isValid()) << expected.id;
        EXPECT_EQ (image.getWidth(), expected.width) << expected.id;
        EXPECT_EQ (image.getHeight(), expected.height) << expected.id;
    }
    EXPECT_FALSE (getImageResource (31).isValid());
}

TEST (GeneratedImagePack, keepsTheLayoutAnIndependentReaderExpects)
{
    const std::string script = std::string (TOVAREK_SOURCE_DIR) + "/tests/fixtures/image_pack_check.py";
    std::string names;
    for (const auto& file : kImageResourceFiles)
        names += std::string (" '") + file.fileName + "'";

    EXPECT_EQ (TestSupport::runCommand ("python3 '" + script + "' '" + TOVAREK_IMAGE_PACK_FILE + "'" + names), 0);
}

TEST (GeneratedImagePack, drawsTheOnBlockButtonLightEnoughToTint)
{
    RegistryRelease release;
    std::unique_ptr<FILE, int (*) (FILE*)> file (std::fopen (TOVAREK_IMAGE_PACK_FILE, "rb"), &std::fclose);
    ASSERT_NE (file, nullptr);
    ASSERT_TRUE (registerImageResources (fileReader (file.get())));

    const auto on = getImageResource (kImageFXBlockOn);
    const auto centre = on.getPixelAt (on.getWidth() / 2, on.getHeight() / 2);
    EXPECT_EQ (centre.getAlpha(), 255);
    EXPECT_GT (centre.getBrightness(), 0.75f);
    EXPECT_NEAR (centre.getSaturation(), 0.0f, 0.05f);
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
