#include "KorvantalUSBPacketIO.h"

#include <algorithm>
#include <cstring>

namespace Korvantal
{

KorvantalUSBPacketIO::KorvantalUSBPacketIO (IUSBHIDDevice* device) : _device (device)
{
    start();
}

KorvantalUSBPacketIO::~KorvantalUSBPacketIO()
{
    stop();
}

void KorvantalUSBPacketIO::start()
{
    std::lock_guard<std::mutex> lock (_lock);
    if (_running)
        return;
    _running = true;
    _reader = std::thread (&KorvantalUSBPacketIO::readerLoop, this);
}

void KorvantalUSBPacketIO::stop()
{
    {
        std::lock_guard<std::mutex> lock (_lock);
        _running = false;
    }
    if (_reader.joinable())
        _reader.join();
}

Result KorvantalUSBPacketIO::setHandler (Handler* handler)
{
    std::lock_guard<std::mutex> lock (_lock);
    _handler = handler;
    if (_handler != nullptr)
        _handler->connectionStateChanged (static_cast<int> (_state));
    return Result::success;
}

Result KorvantalUSBPacketIO::sendPacket (const uint8_t* data, size_t length)
{
    if (length > kMaxPacketSize)
        return KORVANTAL_ERROR ("Packet too large");
    if (data == nullptr && length != 0)
        return KORVANTAL_ERROR ("Packet data missing");

    uint8_t report[kMaxPacketSize + 1];
    report[0] = kReportId;
    if (length != 0)
        std::memcpy (report + 1, data, length);
    const uint32_t reportLength = static_cast<uint32_t> (length + 1);

    int written = 0;
    {
        std::lock_guard<std::mutex> lock (_lock);
        written = _device->write (report, reportLength);
    }
    if (written < 0)
        return KORVANTAL_ERROR ("hid_write failed with %d", written);
    if (static_cast<size_t> (written) <= length)
        return KORVANTAL_ERROR ("hid_write incomplete");
    return Result::success;
}

Result KorvantalUSBPacketIO::reset()
{
    return Result::success;
}

void KorvantalUSBPacketIO::setState (uint32_t state)
{
    std::lock_guard<std::mutex> lock (_lock);
    _state = state;
    if (_handler != nullptr)
        _handler->connectionStateChanged (static_cast<int> (state));
}

void KorvantalUSBPacketIO::readerLoop()
{
    setState (kRunning);
    uint8_t buffer[kReportSize];
    while (_running)
    {
        const int count = _device->read (buffer, kReportSize, kReadTimeoutMs);
        if (count < 0)
        {
            KORVANTAL_ERROR ("HID read error: %d", count);
            setState (kError);
            _running = false;
            return;   // no state 0 after an error
        }
        if (count > 0)
        {
            // A device never returns more than asked; the clamp keeps a faulty one inside the buffer.
            const size_t length = std::min (static_cast<size_t> (count), kReportSize);
            std::lock_guard<std::mutex> lock (_lock);
            if (_handler != nullptr)
                _handler->packetReceived (buffer, length);
        }
    }
    setState (kStopped);
}

} // namespace Korvantal
