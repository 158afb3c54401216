#pragma once

#include <cstdint>

namespace Korvantal
{

// One opened USB HID device, as the packet transport reads and writes it.
// Threads: `read` may run on one thread (the transport's reader) while `write`
// runs on another; `close` must not run while a `read` is in progress.
class IUSBHIDDevice
{
public:
    virtual ~IUSBHIDDevice() = default;

    // Bytes read, 0 when nothing arrived within the time-out, negative on error.
    virtual int read (uint8_t* buffer, uint32_t length, int timeoutMs) = 0;
    // `length` on success, -1 on failure. The first byte is the report id.
    virtual int write (const uint8_t* buffer, uint32_t length) = 0;
    // Later reads and writes fail; a second call does nothing.
    virtual void close() = 0;
    virtual uint16_t getVendorId() = 0;
    virtual uint16_t getProductId() = 0;
};

} // namespace Korvantal
