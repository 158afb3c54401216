#pragma once

#include "IUSBHIDDevice.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct hid_device_;
struct hid_device_info;

namespace Korvantal
{

// Finds the unit on USB and follows it being plugged and unplugged: each scan
// enumerates the HID devices, opens the newly seen ones whose ids are accepted,
// and tells the handler which devices were added and which are gone.
// Threads: the manager and its scan run on one thread (the message thread) and
// take no lock of their own; each HIDDevice guards itself.
class USBDeviceManager
{
public:
    using DeviceIds = std::pair<uint16_t, uint16_t>;   // (vendor id, product id)

    // Called from inside scanDevices. Device pointers stay owned by the manager.
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void deviceAdded (IUSBHIDDevice* device) = 0;
        // Told once per device; closing the device here lets the next scan free it.
        virtual void deviceRemoved (IUSBHIDDevice* device) = 0;
    };

    // An opened hidapi device.
    // Lock: _mutex guards the handle's writes and close, the path test and removalReported.
    // `read` takes no lock, so a blocked reader never holds back a write.
    class HIDDevice : public IUSBHIDDevice
    {
    public:
        HIDDevice (hid_device_* handle, const hid_device_info* info);
        ~HIDDevice() override;

        int read (uint8_t* buffer, uint32_t length, int timeoutMs) override;
        int write (const uint8_t* buffer, uint32_t length) override;
        void close() override;
        uint16_t getVendorId() override { return _vendorId; }
        uint16_t getProductId() override { return _productId; }

        // True while open and enumerated at the entry's path.
        bool isOpenWithPath (const hid_device_info& info);
        bool isOpen();
        bool wasRemovalReported();
        // Sets removalReported; true when it was not yet set.
        bool markRemovalReported();

    private:
        // Atomic only so that a read racing a misplaced close sees null, not a torn pointer.
        std::atomic<hid_device_*> _handle;
        std::string _path;
        bool _removalReported = false;
        std::mutex _mutex;
        uint16_t _vendorId = 0;
        uint16_t _productId = 0;
    };

    // The ids the application accepts: the unit's two product ids.
    static std::vector<DeviceIds> unitDeviceIds();

    // Nothing is enumerated until the first scan. An empty id list accepts nothing.
    USBDeviceManager (Handler* handler, const std::vector<DeviceIds>& acceptedIds);
    // Destroys (and so closes) every listed device; the handler is not called.
    ~USBDeviceManager();

    // One hot-plug pass: additions are reported before removals.
    void scanDevices();

    size_t deviceCount() const { return _devices.size(); }

private:
    bool isAccepted (uint16_t vendorId, uint16_t productId) const;
    HIDDevice* findOpenAt (const hid_device_info& entry) const;
    void reportAdded (std::list<std::unique_ptr<HIDDevice>>& added);
    void reportRemoved (std::list<HIDDevice*>& notSeen);

    Handler* _handler;
    std::vector<DeviceIds> _acceptedIds;
    std::list<std::unique_ptr<HIDDevice>> _devices;   // in the order opened
};

} // namespace Korvantal
