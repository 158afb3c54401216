#pragma once

// The bus state shared by the Bus class and the hidapi functions of the stand-in.

#include "SimulatedHidBus.h"

#include <hidapi/hidapi.h>

#include <deque>
#include <map>
#include <set>
#include <unordered_set>

namespace SimHid
{

using Clock = std::chrono::steady_clock;

// One plugging of a device. A re-plugged device is a new endpoint, so handles
// of the old one stay dead.
struct Endpoint
{
    std::string path;
    DeviceDescription description;
    std::shared_ptr<SimulatedDevice> device;
    bool plugged = true;                 // bus mutex
    int readsInProgress = 0;             // bus mutex
    std::mutex writeMutex;               // serialises onHostWrite calls
};

} // namespace SimHid

// The opaque handle type of hidapi. Every field is guarded by the bus mutex.
struct hid_device_
{
    std::shared_ptr<SimHid::Endpoint> endpoint;
    std::deque<std::vector<uint8_t>> queue;
    std::condition_variable arrived;     // a report was queued or the device went away
    bool nonBlocking = false;
    hid_device_info* info = nullptr;     // built on demand by hid_get_device_info
};

namespace SimHid
{

struct Bus::Impl
{
    // Every call below takes the bus mutex itself.
    hid_device_info* enumerate (unsigned short vendorId, unsigned short productId);
    void freeEnumeration (hid_device_info* list);
    hid_device* open (const char* path);
    hid_device* open (unsigned short vendorId, unsigned short productId, const wchar_t* serial);
    void close (hid_device* handle);
    int write (hid_device* handle, const unsigned char* data, size_t length);
    int read (hid_device* handle, unsigned char* data, size_t length, int timeoutMs);
    int setNonBlocking (hid_device* handle, bool nonBlocking);
    int blockingTimeout (hid_device* handle);
    bool isUsable (hid_device* handle);
    hid_device_info* deviceInfo (hid_device* handle);
    std::wstring descriptionString (hid_device* handle, std::wstring DeviceDescription::*field, bool& ok);

    void unplugLocked (const std::string& path, std::vector<std::shared_ptr<SimulatedDevice>>& released);
    std::shared_ptr<Endpoint> findPluggedLocked (const std::string& path) const;
    bool isLiveLocked (hid_device* handle) const;

    mutable std::mutex mutex;
    mutable std::condition_variable handlesChanged;   // a handle opened or closed, a read began
    std::vector<std::shared_ptr<Endpoint>> endpoints;   // plugged devices, in plug order
    std::unordered_set<hid_device*> handles;
    std::set<std::string> knownPaths;                  // every path ever plugged
    std::map<std::string, bool> openRefused;
    std::map<std::string, int> writeResults;
    std::map<std::string, size_t> writesByPath;
    std::pair<size_t, int> lastReadRequest { 0, 0 };
    size_t writesDuringRead = 0;
    size_t nextPathNumber = 0;
    size_t writes = 0;
    size_t enumerations = 0;
    size_t liveEnumerations = 0;
    size_t openAttempts = 0;
    size_t foreignPathAttempts = 0;
    int inits = 0;
};

} // namespace SimHid
