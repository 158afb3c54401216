#include "SimulatedHidBusInternal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace SimHid
{

namespace
{
const char* const kPathPrefix = "sim-hid:";
constexpr unsigned short kUsagePageVendor = 0xFF00;
constexpr unsigned short kUsageVendor = 0x0001;

char* copyString (const std::string& text)
{
    char* copy = new char[text.size() + 1];
    std::memcpy (copy, text.c_str(), text.size() + 1);
    return copy;
}

wchar_t* copyString (const std::wstring& text)
{
    wchar_t* copy = new wchar_t[text.size() + 1];
    std::wmemcpy (copy, text.c_str(), text.size() + 1);
    return copy;
}

hid_device_info* makeInfo (const Endpoint& endpoint)
{
    const DeviceDescription& description = endpoint.description;
    hid_device_info* info = new hid_device_info {};
    info->path = copyString (endpoint.path);
    info->vendor_id = description.vendorId;
    info->product_id = description.productId;
    info->serial_number = copyString (description.serial);
    info->release_number = 0x0100;
    info->manufacturer_string = copyString (description.manufacturer);
    info->product_string = copyString (description.product);
    info->usage_page = kUsagePageVendor;
    info->usage = kUsageVendor;
    info->interface_number = description.interfaceNumber;
    info->next = nullptr;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

void freeInfo (hid_device_info* info)
{
    delete[] info->path;
    delete[] info->serial_number;
    delete[] info->manufacturer_string;
    delete[] info->product_string;
    delete info;
}

bool matches (const DeviceDescription& description, unsigned short vendorId, unsigned short productId)
{
    return (vendorId == 0 || vendorId == description.vendorId)
        && (productId == 0 || productId == description.productId);
}
} // namespace

// ---- Bus ----

Bus::Bus() : _impl (std::make_unique<Impl>()) {}

Bus& Bus::instance()
{
    // Never destroyed: reader threads of a test program (or of a process that
    // preloads the stand-in) may still be inside it while statics are torn down.
    static Bus* bus = new Bus();
    return *bus;
}

std::string Bus::plug (const DeviceDescription& description, std::shared_ptr<SimulatedDevice> device,
                       const std::string& path)
{
    std::vector<std::shared_ptr<SimulatedDevice>> released;
    std::string chosen;
    {
        std::lock_guard<std::mutex> lock (_impl->mutex);
        chosen = path.empty() ? kPathPrefix + std::to_string (_impl->nextPathNumber++) : path;
        _impl->unplugLocked (chosen, released);
        auto endpoint = std::make_shared<Endpoint>();
        endpoint->path = chosen;
        endpoint->description = description;
        endpoint->device = std::move (device);
        _impl->endpoints.push_back (endpoint);
        _impl->knownPaths.insert (chosen);
    }
    return chosen;   // released devices are destroyed here, outside the lock
}

void Bus::unplug (const std::string& path)
{
    std::vector<std::shared_ptr<SimulatedDevice>> released;
    std::lock_guard<std::mutex> lock (_impl->mutex);
    _impl->unplugLocked (path, released);
}

void Bus::sendInputReport (const std::string& path, const uint8_t* report, size_t length)
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    std::shared_ptr<Endpoint> endpoint = _impl->findPluggedLocked (path);
    if (endpoint == nullptr)
        return;

    for (hid_device* handle : _impl->handles)
    {
        if (handle->endpoint != endpoint)
            continue;
        handle->queue.emplace_back (report, report + length);
        handle->arrived.notify_all();
    }
}

void Bus::reset()
{
    std::vector<std::shared_ptr<SimulatedDevice>> released;
    std::lock_guard<std::mutex> lock (_impl->mutex);
    while (! _impl->endpoints.empty())
        _impl->unplugLocked (_impl->endpoints.front()->path, released);
    _impl->knownPaths.clear();
    _impl->openRefused.clear();
    _impl->writeResults.clear();
    _impl->writesByPath.clear();
    _impl->nextPathNumber = 0;
    _impl->writes = 0;
    _impl->enumerations = 0;
    _impl->openAttempts = 0;
    _impl->foreignPathAttempts = 0;
    _impl->lastReadRequest = { 0, 0 };
    _impl->writesDuringRead = 0;
}

void Bus::setOpenRefused (const std::string& path, bool refused)
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    _impl->openRefused[path] = refused;
}

void Bus::setWriteResult (const std::string& path, std::optional<int> result)
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    if (result.has_value())
        _impl->writeResults[path] = *result;
    else
        _impl->writeResults.erase (path);
}

bool Bus::isPlugged (const std::string& path) const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->findPluggedLocked (path) != nullptr;
}

size_t Bus::openHandleCount() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->handles.size();
}

size_t Bus::openHandleCount (const std::string& path) const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    std::shared_ptr<Endpoint> endpoint = _impl->findPluggedLocked (path);
    return static_cast<size_t> (std::count_if (_impl->handles.begin(), _impl->handles.end(),
        [&endpoint] (hid_device* handle) { return endpoint != nullptr && handle->endpoint == endpoint; }));
}

size_t Bus::writeCount() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->writes;
}

size_t Bus::writeCount (const std::string& path) const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    auto found = _impl->writesByPath.find (path);
    return found == _impl->writesByPath.end() ? 0 : found->second;
}

size_t Bus::enumerateCount() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->enumerations;
}

size_t Bus::liveEnumerationCount() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->liveEnumerations;
}

size_t Bus::openAttemptCount() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->openAttempts;
}

size_t Bus::foreignPathAttemptCount() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->foreignPathAttempts;
}

int Bus::initCount() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->inits;
}

std::pair<size_t, int> Bus::lastReadRequest() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->lastReadRequest;
}

bool Bus::waitForReadsInProgress (const std::string& path, int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock (_impl->mutex);
    return _impl->handlesChanged.wait_for (lock, timeout, [this, &path, count] {
        const std::shared_ptr<Endpoint> endpoint = _impl->findPluggedLocked (path);
        return endpoint != nullptr && endpoint->readsInProgress >= count;
    });
}

size_t Bus::writesDuringReadCount() const
{
    std::lock_guard<std::mutex> lock (_impl->mutex);
    return _impl->writesDuringRead;
}

// ---- Bus::Impl: the hidapi side ----

void Bus::Impl::unplugLocked (const std::string& path, std::vector<std::shared_ptr<SimulatedDevice>>& released)
{
    auto found = std::find_if (endpoints.begin(), endpoints.end(),
                               [&path] (const std::shared_ptr<Endpoint>& endpoint) { return endpoint->path == path; });
    if (found == endpoints.end())
        return;

    std::shared_ptr<Endpoint> endpoint = *found;
    endpoints.erase (found);
    endpoint->plugged = false;
    released.push_back (std::move (endpoint->device));
    for (hid_device* handle : handles)
        if (handle->endpoint == endpoint)
            handle->arrived.notify_all();
}

std::shared_ptr<Endpoint> Bus::Impl::findPluggedLocked (const std::string& path) const
{
    for (const std::shared_ptr<Endpoint>& endpoint : endpoints)
        if (endpoint->path == path)
            return endpoint;
    return nullptr;
}

bool Bus::Impl::isLiveLocked (hid_device* handle) const
{
    return handle != nullptr && handles.count (handle) != 0;
}

hid_device_info* Bus::Impl::enumerate (unsigned short vendorId, unsigned short productId)
{
    std::lock_guard<std::mutex> lock (mutex);
    ++enumerations;
    hid_device_info* first = nullptr;
    hid_device_info** tail = &first;
    for (const std::shared_ptr<Endpoint>& endpoint : endpoints)
    {
        if (! matches (endpoint->description, vendorId, productId))
            continue;
        *tail = makeInfo (*endpoint);
        tail = &(*tail)->next;
    }
    if (first != nullptr)
        ++liveEnumerations;
    return first;
}

void Bus::Impl::freeEnumeration (hid_device_info* list)
{
    if (list == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock (mutex);
        --liveEnumerations;
    }
    while (list != nullptr)
    {
        hid_device_info* next = list->next;
        freeInfo (list);
        list = next;
    }
}

hid_device* Bus::Impl::open (const char* path)
{
    std::lock_guard<std::mutex> lock (mutex);
    ++openAttempts;
    if (path == nullptr)
        return nullptr;

    std::shared_ptr<Endpoint> endpoint = findPluggedLocked (path);
    if (endpoint == nullptr)
    {
        if (knownPaths.count (path) == 0)
        {
            // Never silently: a test that reaches for a real device is broken.
            ++foreignPathAttempts;
            std::fprintf (stderr, "hidapi stand-in: refusing to open \"%s\", which is not a simulated device\n", path);
        }
        return nullptr;
    }
    auto refused = openRefused.find (path);
    if (refused != openRefused.end() && refused->second)
        return nullptr;

    hid_device* handle = new hid_device();
    handle->endpoint = endpoint;
    handles.insert (handle);
    handlesChanged.notify_all();
    return handle;
}

hid_device* Bus::Impl::open (unsigned short vendorId, unsigned short productId, const wchar_t* serial)
{
    std::string path;
    {
        std::lock_guard<std::mutex> lock (mutex);
        for (const std::shared_ptr<Endpoint>& endpoint : endpoints)
        {
            if (matches (endpoint->description, vendorId, productId)
                && (serial == nullptr || endpoint->description.serial == serial))
            {
                path = endpoint->path;
                break;
            }
        }
    }
    return path.empty() ? nullptr : open (path.c_str());
}

void Bus::Impl::close (hid_device* handle)
{
    if (handle == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock (mutex);
        if (handles.erase (handle) == 0)
        {
            std::fprintf (stderr, "hidapi stand-in: hid_close of an unknown or already closed handle\n");
            return;
        }
        handlesChanged.notify_all();
    }
    if (handle->info != nullptr)
        freeInfo (handle->info);
    delete handle;
}

int Bus::Impl::write (hid_device* handle, const unsigned char* data, size_t length)
{
    std::shared_ptr<Endpoint> endpoint;
    std::shared_ptr<SimulatedDevice> device;
    {
        std::lock_guard<std::mutex> lock (mutex);
        if (! isLiveLocked (handle) || data == nullptr || length == 0 || ! handle->endpoint->plugged)
            return -1;
        endpoint = handle->endpoint;
        auto forced = writeResults.find (endpoint->path);
        if (forced != writeResults.end())
            return forced->second;
        ++writes;
        ++writesByPath[endpoint->path];
        if (endpoint->readsInProgress > 0)
            ++writesDuringRead;
        device = endpoint->device;
    }
    if (device != nullptr)
    {
        std::lock_guard<std::mutex> writeLock (endpoint->writeMutex);
        device->onHostWrite (data, length);
    }
    return static_cast<int> (length);
}

int Bus::Impl::read (hid_device* handle, unsigned char* data, size_t length, int timeoutMs)
{
    std::unique_lock<std::mutex> lock (mutex);
    if (! isLiveLocked (handle) || data == nullptr)
        return -1;

    lastReadRequest = { length, timeoutMs };
    const std::shared_ptr<Endpoint> endpoint = handle->endpoint;
    ++endpoint->readsInProgress;
    handlesChanged.notify_all();
    struct Leave
    {
        Endpoint& endpoint;
        ~Leave() { --endpoint.readsInProgress; }
    } leave { *endpoint };

    const bool forever = timeoutMs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds (forever ? 0 : timeoutMs);
    for (;;)
    {
        // hidraw reports the loss of the device even when reports are still queued.
        if (! handle->endpoint->plugged)
            return -1;

        if (! handle->queue.empty())
        {
            const std::vector<uint8_t>& report = handle->queue.front();
            const size_t count = std::min (length, report.size());
            std::memcpy (data, report.data(), count);
            handle->queue.pop_front();
            return static_cast<int> (count);
        }
        if (! forever && Clock::now() >= deadline)
            return 0;

        if (forever)
            handle->arrived.wait (lock);
        else
            handle->arrived.wait_until (lock, deadline);
    }
}

int Bus::Impl::setNonBlocking (hid_device* handle, bool nonBlocking)
{
    std::lock_guard<std::mutex> lock (mutex);
    if (! isLiveLocked (handle))
        return -1;
    handle->nonBlocking = nonBlocking;
    return 0;
}

int Bus::Impl::blockingTimeout (hid_device* handle)
{
    std::lock_guard<std::mutex> lock (mutex);
    return isLiveLocked (handle) && handle->nonBlocking ? 0 : -1;
}

bool Bus::Impl::isUsable (hid_device* handle)
{
    std::lock_guard<std::mutex> lock (mutex);
    return isLiveLocked (handle) && handle->endpoint->plugged;
}

hid_device_info* Bus::Impl::deviceInfo (hid_device* handle)
{
    std::lock_guard<std::mutex> lock (mutex);
    if (! isLiveLocked (handle))
        return nullptr;
    if (handle->info == nullptr)
        handle->info = makeInfo (*handle->endpoint);
    return handle->info;
}

std::wstring Bus::Impl::descriptionString (hid_device* handle, std::wstring DeviceDescription::*field, bool& ok)
{
    std::lock_guard<std::mutex> lock (mutex);
    ok = isLiveLocked (handle) && handle->endpoint->plugged;
    return ok ? handle->endpoint->description.*field : std::wstring();
}

// ---- RecordingDevice ----

void RecordingDevice::onHostWrite (const uint8_t* data, size_t length)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _writes.emplace_back (data, data + length);
}

std::vector<std::vector<uint8_t>> RecordingDevice::writes() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _writes;
}

size_t RecordingDevice::writeCount() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _writes.size();
}

} // namespace SimHid
