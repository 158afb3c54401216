#pragma once

#include "KorvantalResult.h"

#include <cstddef>

namespace Korvantal
{

// Byte source for the data-file readers, so they depend on neither files nor the framework.
class IInputStream
{
public:
    virtual ~IInputStream() = default;

    // Reads up to size bytes; 0 bytes with an ok Result means the end of the data.
    virtual Result read (void* buffer, size_t size, size_t& bytesRead) = 0;
    virtual bool isExhausted() = 0;
};

// Byte sink for the data-file writers.
class IOutputStream
{
public:
    virtual ~IOutputStream() = default;

    // Writes all size bytes.
    virtual Result write (const void* data, size_t size) = 0;
};

} // namespace Korvantal
