#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// An in-process USB bus behind the hidapi C functions, so that tests and
// benchmarks run the product's HID code against simulated devices and can never
// reach real hardware. It behaves as hidapi over hidraw does: every open handle
// gets its own copy of each input report, a device that is unplugged makes
// pending and later reads and writes fail with -1, and a handle kept across an
// unplug stays dead even when the device is plugged in again.
//
// Threads: every function may be called from any thread. The bus calls
// SimulatedDevice::onHostWrite on the thread of the host's hid_write, without
// any bus lock held, so a device may queue input reports or unplug itself from
// inside it.
namespace SimHid
{

// A device on the simulated bus; the stand-in calls it on the thread of the host's hid_write.
class SimulatedDevice
{
public:
    virtual ~SimulatedDevice() = default;

    // One output report from the host, exactly as passed to hid_write (report id
    // byte first, then the packet bytes). Calls for one plugged device never overlap.
    virtual void onHostWrite (const uint8_t* data, size_t length) = 0;
};

struct DeviceDescription
{
    uint16_t vendorId = 0x04D8;
    uint16_t productId = 0x003F;
    std::wstring serial, product;
    std::wstring manufacturer;
    int interfaceNumber = 0;
};

class Bus
{
public:
    static Bus& instance();

    // Plugs a device in and returns its path. An empty path gets a fresh one
    // ("sim-hid:N"); a given path lets a test model hidraw reusing a node. Plugging
    // at a path that is already plugged unplugs the old device first.
    std::string plug (const DeviceDescription&, std::shared_ptr<SimulatedDevice>, const std::string& path = {});

    // Pending and later hid_read_timeout and hid_write on its handles return -1.
    void unplug (const std::string& path);

    // Queues one input report from the device to every open handle of it
    // (delivered by hid_read_timeout, in order). Dropped when no handle is open.
    void sendInputReport (const std::string& path, const uint8_t* report, size_t length);

    // Unplugs everything and clears counters and options (between tests).
    // Handles still open stay counted until closed.
    void reset();

    // Fault injection: hid_open_path on the path returns null while refused.
    void setOpenRefused (const std::string& path, bool refused);
    // Fault injection: hid_write on the path returns this value (without
    // reaching the device) until cleared with std::nullopt.
    void setWriteResult (const std::string& path, std::optional<int> result);

    bool isPlugged (const std::string& path) const;
    size_t openHandleCount() const;                            // all live handles, stale ones included
    size_t openHandleCount (const std::string& path) const;    // handles of the device plugged there
    size_t writeCount() const;                                 // hid_write calls that reached a device
    size_t writeCount (const std::string& path) const;
    size_t enumerateCount() const;                             // hid_enumerate calls
    size_t liveEnumerationCount() const;                       // lists not yet freed
    size_t openAttemptCount() const;                           // hid_open_path calls
    size_t foreignPathAttemptCount() const;                    // hid_open_path of a path never on the bus
    int initCount() const;                                     // hid_init minus hid_exit calls

    // The length and time-out of the latest hid_read_timeout call (0, 0 before any).
    std::pair<size_t, int> lastReadRequest() const;
    // Blocks until this many hid_read_timeout calls on handles of the device plugged there are in progress.
    bool waitForReadsInProgress (const std::string& path, int count, std::chrono::milliseconds timeout) const;
    // hid_write calls that reached a device while a read of one of its handles was in progress.
    size_t writesDuringReadCount() const;

    // The state behind the hidapi functions (SimulatedHidBusInternal.h).
    struct Impl;
    Impl& impl() { return *_impl; }

private:
    Bus();
    std::unique_ptr<Impl> _impl;
};

// A device that records every output report, for tests that check bytes on the wire.
class RecordingDevice : public SimulatedDevice
{
public:
    void onHostWrite (const uint8_t* data, size_t length) override;

    std::vector<std::vector<uint8_t>> writes() const;
    size_t writeCount() const;

private:
    mutable std::mutex _mutex;                  // guards _writes
    std::vector<std::vector<uint8_t>> _writes;
};

} // namespace SimHid
