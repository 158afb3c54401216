#pragma once

// What the fuzz programs share: the fuzz bytes as an input stream or as a file on a path.

#include "ByteStreams.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace FuzzSupport
{

inline TestSupport::ByteInputStream streamOf (const uint8_t* data, size_t size)
{
    return TestSupport::ByteInputStream (std::string (reinterpret_cast<const char*> (data), size));
}

// The bytes as a file in memory, for readers that take a path; closed when this goes.
class MemoryFile
{
public:
    MemoryFile (const uint8_t* data, size_t size) : _fd (memfd_create ("fuzz-input", 0))
    {
        if (_fd < 0 || write (_fd, data, size) != static_cast<ssize_t> (size))
            std::abort();
        path = "/proc/self/fd/" + std::to_string (_fd);
    }
    ~MemoryFile() { close (_fd); }
    MemoryFile (const MemoryFile&) = delete;
    MemoryFile& operator= (const MemoryFile&) = delete;

    std::string path;

private:
    int _fd;
};

// Fails the run like a sanitizer would: a reader broke a rule that holds for every input.
#define FUZZ_CHECK(condition) \
    do { if (! (condition)) { fprintf (stderr, "FUZZ_CHECK failed: %s\n", #condition); std::abort(); } } while (0)

} // namespace FuzzSupport
