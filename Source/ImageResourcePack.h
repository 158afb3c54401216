#pragma once

#include "ImageResourceIds.h"

#include <juce_graphics/juce_graphics.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The user interface's bitmaps, read from the image pack through a read function and decoded on
// first use; each decoded image is kept until `clear`. The application opens the pack once at
// start-up and keeps the file open: only the header, the directory and the names are read then.
// The names are kept once, however the entries overlap them, so the directory never holds more
// than about three times the bytes of the file. Message thread only; takes no lock.
class ImageResourcePack
{
public:
    // Copies `size` bytes starting at file offset `offset` into `destination`;
    // true only when all `size` bytes were copied.
    using ReadFunction = std::function<bool (unsigned int offset, unsigned long size, void* destination)>;

    struct DirectoryEntry
    {
        uint32_t nameOffset = 0;
        uint32_t nameLength = 0;
        uint32_t dataOffset = 0;
        uint32_t dataSize = 0;
    };

    explicit ImageResourcePack (ReadFunction read);

    // Empties the registry and reads the directory. True when the whole directory was read
    // (also for a pack of zero entries).
    bool open();

    // Registers the file name under the id; a name registered before is replaced and its
    // cached image dropped.
    void add (unsigned id, const std::string& fileName);

    // The id's image, read and decoded on first use, pixel for pixel as the framework's PNG
    // loader would give it. Null when the id is not registered or its entry is missing or
    // unreadable (the registration is then dropped for good); null too when the bytes are not a
    // PNG of a sane size or do not decode, which is tried again on the next request.
    juce::Image getImage (unsigned id);

    // Drops every registration and cached image; the directory and the read function stay.
    void clear();

    // The bytes the directory keeps: the names' buffer and the table of entries.
    size_t directoryBytes() const;

private:
    struct Registration
    {
        std::string fileName;
        juce::Image image;
    };

    // An entry with the place of its name in `_names`.
    struct NamedEntry
    {
        DirectoryEntry entry;
        size_t namePosition = 0;
    };

    const DirectoryEntry* findEntry (const std::string& fileName) const;

    std::map<uint32_t, Registration> _registry;
    ReadFunction _read;
    std::vector<uint8_t> _names;      // every byte of the file that some name covers, read once
    std::vector<NamedEntry> _entries; // in directory order; a later entry of a name wins
};

// Creates the one pack over the read function and opens it; on success registers the ids of
// kImageResourceFiles. False, with nothing registered, when the pack cannot be opened.
bool registerImageResources (ImageResourcePack::ReadFunction read);

// Drops every registration and image (the last step of shut-down); the pack stays.
void releaseImageResources();

// The image of the id; null before `registerImageResources` or when the pack lacks it.
juce::Image getImageResource (unsigned id);
