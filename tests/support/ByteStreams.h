#pragma once

#include "KorvantalStreams.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace TestSupport
{

// In-memory byte source for the data-file readers. Can fail its reads from a given
// offset on, like a file that vanishes half-way.
class ByteInputStream : public Korvantal::IInputStream
{
public:
    explicit ByteInputStream (std::string bytes, size_t failFrom = SIZE_MAX)
        : _bytes (std::move (bytes)), _failFrom (failFrom)
    {
    }

    Korvantal::Result read (void* buffer, size_t size, size_t& bytesRead) override
    {
        ++readCalls;
        if (_position >= _failFrom)
            return KORVANTAL_ERROR ("Stream read failed");

        bytesRead = std::min (size, _bytes.size() - _position);
        std::memcpy (buffer, _bytes.data() + _position, bytesRead);
        _position += bytesRead;
        return Korvantal::Result::success;
    }

    bool isExhausted() override { return _position >= _bytes.size(); }

    size_t position() const { return _position; }
    size_t readCalls = 0;

private:
    std::string _bytes;
    size_t _position = 0;
    size_t _failFrom;
};

// In-memory byte sink that records every write separately. Refuses writes from the
// given write number on, like a full disk.
class ByteOutputStream : public Korvantal::IOutputStream
{
public:
    explicit ByteOutputStream (size_t refuseFromWrite = SIZE_MAX) : _refuseFromWrite (refuseFromWrite) {}

    Korvantal::Result write (const void* data, size_t size) override
    {
        if (writes.size() >= _refuseFromWrite)
            return KORVANTAL_ERROR ("Stream write failed");

        writes.emplace_back (static_cast<const char*> (data), size);
        text.append (static_cast<const char*> (data), size);
        return Korvantal::Result::success;
    }

    std::string text;
    std::vector<std::string> writes;

private:
    size_t _refuseFromWrite;
};

} // namespace TestSupport
