#include "USBDeviceManager.h"

#include <hidapi/hidapi.h>

#include <algorithm>

namespace Korvantal
{

namespace
{
constexpr uint16_t kUnitVendorId = 0x04D8;
constexpr uint16_t kUnitProductId = 0x003F;
constexpr uint16_t kUnitAlternateProductId = 0x003C;
constexpr unsigned short kAnyId = 0;   // hid_enumerate: no filter
} // namespace

// ---- HIDDevice ----

USBDeviceManager::HIDDevice::HIDDevice (hid_device* handle, const hid_device_info* info)
    : _handle (handle),
      _path (info->path != nullptr ? info->path : ""),
      _vendorId (info->vendor_id),
      _productId (info->product_id)
{
}

USBDeviceManager::HIDDevice::~HIDDevice()
{
    close();
}

int USBDeviceManager::HIDDevice::read (uint8_t* buffer, uint32_t length, int timeoutMs)
{
    // No lock: the owner never closes the device while its reader runs.
    hid_device* handle = _handle.load();
    if (handle == nullptr)
        return -1;
    return hid_read_timeout (handle, buffer, length, timeoutMs);
}

int USBDeviceManager::HIDDevice::write (const uint8_t* buffer, uint32_t length)
{
    std::lock_guard<std::mutex> lock (_mutex);
    hid_device* handle = _handle.load();
    if (handle == nullptr)
        return -1;
    return hid_write (handle, buffer, length) >= 0 ? static_cast<int> (length) : -1;
}

void USBDeviceManager::HIDDevice::close()
{
    std::lock_guard<std::mutex> lock (_mutex);
    hid_device* handle = _handle.exchange (nullptr);
    if (handle != nullptr)
        hid_close (handle);
}

bool USBDeviceManager::HIDDevice::isOpenWithPath (const hid_device_info& info)
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _handle.load() != nullptr && info.path != nullptr && _path == info.path;
}

bool USBDeviceManager::HIDDevice::isOpen()
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _handle.load() != nullptr;
}

bool USBDeviceManager::HIDDevice::wasRemovalReported()
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _removalReported;
}

bool USBDeviceManager::HIDDevice::markRemovalReported()
{
    std::lock_guard<std::mutex> lock (_mutex);
    const bool first = ! _removalReported;
    _removalReported = true;
    return first;
}

// ---- USBDeviceManager ----

std::vector<USBDeviceManager::DeviceIds> USBDeviceManager::unitDeviceIds()
{
    return { { kUnitVendorId, kUnitProductId }, { kUnitVendorId, kUnitAlternateProductId } };
}

USBDeviceManager::USBDeviceManager (Handler* handler, const std::vector<DeviceIds>& acceptedIds)
    : _handler (handler), _acceptedIds (acceptedIds)
{
}

USBDeviceManager::~USBDeviceManager() = default;

bool USBDeviceManager::isAccepted (uint16_t vendorId, uint16_t productId) const
{
    return std::find (_acceptedIds.begin(), _acceptedIds.end(), DeviceIds { vendorId, productId })
           != _acceptedIds.end();
}

USBDeviceManager::HIDDevice* USBDeviceManager::findOpenAt (const hid_device_info& entry) const
{
    // A device whose removal was reported is gone for good, even if its owner has
    // not closed it yet: what shows at its path now is a new plug (hidraw reuses
    // nodes), which must be opened and reported instead of hiding behind the stale one.
    for (const std::unique_ptr<HIDDevice>& device : _devices)
        if (device->isOpenWithPath (entry) && ! device->wasRemovalReported())
            return device.get();
    return nullptr;
}

void USBDeviceManager::scanDevices()
{
    std::list<HIDDevice*> notSeen;
    for (const std::unique_ptr<HIDDevice>& device : _devices)
        notSeen.push_back (device.get());
    std::list<std::unique_ptr<HIDDevice>> added;

    hid_device_info* entries = hid_enumerate (kAnyId, kAnyId);
    for (const hid_device_info* entry = entries; entry != nullptr; entry = entry->next)
    {
        if (! isAccepted (entry->vendor_id, entry->product_id) || entry->path == nullptr)
            continue;
        if (HIDDevice* known = findOpenAt (*entry))
        {
            notSeen.remove (known);
            continue;
        }
        // A device that cannot be opened now is tried again by the next scan.
        if (hid_device* handle = hid_open_path (entry->path))
            added.push_back (std::make_unique<HIDDevice> (handle, entry));
    }
    hid_free_enumeration (entries);

    reportAdded (added);
    reportRemoved (notSeen);
}

void USBDeviceManager::reportAdded (std::list<std::unique_ptr<HIDDevice>>& added)
{
    while (! added.empty())
    {
        _devices.splice (_devices.end(), added, added.begin());
        if (_handler != nullptr)
            _handler->deviceAdded (_devices.back().get());
    }
}

void USBDeviceManager::reportRemoved (std::list<HIDDevice*>& notSeen)
{
    for (HIDDevice* device : notSeen)
    {
        if (device->markRemovalReported() && _handler != nullptr)
            _handler->deviceRemoved (device);

        // Normally the handler has closed it in deviceRemoved; a device still open
        // stays listed until a later scan finds it closed.
        if (! device->isOpen())
            _devices.remove_if ([device] (const std::unique_ptr<HIDDevice>& listed) { return listed.get() == device; });
    }
}

} // namespace Korvantal
