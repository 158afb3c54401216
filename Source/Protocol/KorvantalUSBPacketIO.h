#pragma once

#include "IDevicePacketIO.h"
#include "IUSBHIDDevice.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace Korvantal
{

// The packet transport over one opened HID device: a reader thread hands each
// received report up as a packet, packets go out as output reports with report
// id 0 in front, and the handler hears whether the link is stopped (0),
// running (1) or broken (2).
//
// Threads: created, given a handler and destroyed on the owner's thread (the
// message thread); sendPacket from any thread (the service's worker); the
// handler runs on the reader thread.
// Lock: _lock guards _handler, _state, the start and stop of _running, and every
// device write. It is held while the handler runs, so a handler must not call
// sendPacket or setHandler of the same transport. Lock order: _lock, then
// whatever the handler takes; on the sending side _lock, then the device's own.
class KorvantalUSBPacketIO : public IDevicePacketIO
{
public:
    static constexpr size_t kMaxPacketSize = 64;
    static constexpr size_t kReportSize = 64;          // one input report
    static constexpr uint8_t kReportId = 0;
    static constexpr int kReadTimeoutMs = 1000;         // also bounds how long destruction waits

    // Does not own the device; the owner closes it after destroying the transport.
    // Starts the reader thread and returns without waiting for it.
    explicit KorvantalUSBPacketIO (IUSBHIDDevice* device);
    // Stops and joins the reader (within one read time-out). Must not run on the reader thread.
    ~KorvantalUSBPacketIO() override;

    KorvantalUSBPacketIO (const KorvantalUSBPacketIO&) = delete;
    KorvantalUSBPacketIO& operator= (const KorvantalUSBPacketIO&) = delete;

    // Reports the current state to a new handler at once.
    Result setHandler (Handler* handler) override;
    // Sends the packet as one report of length + 1 bytes; does not look at the state.
    Result sendPacket (const uint8_t* data, size_t length) override;
    // Does nothing; takes no lock, since the protocol calls it from inside packetReceived.
    Result reset() override;

private:
    void start();
    void stop();
    void readerLoop();
    void setState (uint32_t state);

    IUSBHIDDevice* _device;
    std::mutex _lock;
    std::thread _reader;
    std::atomic<bool> _running { false };   // read by the reader on every pass without the lock
    Handler* _handler = nullptr;
    uint32_t _state = kStopped;
};

} // namespace Korvantal
