#include "IOUtils.h"

#include <algorithm>
#include <climits>

Korvantal::Result InStreamWrapper::read (void* buffer, size_t size, size_t& bytesRead)
{
    // The framework reads at most INT_MAX bytes in one call; a caller asking more gets a short read.
    const int wanted = static_cast<int> (std::min (size, static_cast<size_t> (INT_MAX)));
    const int got = _stream->read (buffer, wanted);

    if (got < 0)
        return KORVANTAL_ERROR ("Stream read failed");

    bytesRead = static_cast<size_t> (got);
    return Korvantal::Result::success;
}

bool InStreamWrapper::isExhausted()
{
    return _stream->isExhausted();
}

Korvantal::Result OutStreamWrapper::write (const void* data, size_t size)
{
    if (! _stream->write (data, size))
        return KORVANTAL_ERROR ("Stream write failed");

    return Korvantal::Result::success;
}
