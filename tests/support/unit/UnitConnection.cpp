#include "UnitConnection.h"

#include <algorithm>
#include <thread>

namespace SimUnit
{

void RecordingHandler::parameterChanged (uint16_t id, const float& value)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _parameters.push_back ({ id, value });
    _changed.notify_all();
}

void RecordingHandler::currentPresetChanged() {}

void RecordingHandler::connectionStateChanged (int state)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _states.push_back (state);
    _changed.notify_all();
}

void RecordingHandler::statusReceived (const uint8_t* payload, size_t length)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _statuses.emplace_back (payload, payload + length);
    _changed.notify_all();
}

std::vector<RecordingHandler::ParameterReport> RecordingHandler::parameters() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _parameters;
}

std::vector<std::vector<uint8_t>> RecordingHandler::statuses() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _statuses;
}

std::vector<int> RecordingHandler::states() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _states;
}

bool RecordingHandler::waitForParameters (size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock (_mutex);
    return _changed.wait_for (lock, timeout, [&] { return _parameters.size() >= count; });
}

bool RecordingHandler::waitForStatuses (size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock (_mutex);
    return _changed.wait_for (lock, timeout, [&] { return _statuses.size() >= count; });
}

size_t RecordingHandler::stateCount() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _states.size();
}

bool RecordingHandler::waitForState (int state, size_t mark, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock (_mutex);
    return _changed.wait_for (lock, timeout, [&] {
        return _states.size() > mark && std::find (_states.begin() + static_cast<long> (mark), _states.end(), state) != _states.end();
    });
}

UnitConnection::UnitConnection (UnitOptions options, uint32_t protocolVariant)
    : _protocolVariant (protocolVariant)
{
    const std::pair<uint16_t, uint16_t> ids { options.description.vendorId, options.description.productId };
    _unit = std::make_unique<SimulatedUnit> (std::move (options));
    _manager = std::make_unique<Korvantal::USBDeviceManager> (static_cast<Korvantal::USBDeviceManager::Handler*> (this), std::vector<std::pair<uint16_t, uint16_t>> { ids });
    _unit->plug();
    connect();
}

UnitConnection::~UnitConnection()
{
    disconnect();
    _manager.reset();
    _unit.reset();
}

bool UnitConnection::connect (std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;

    while (_protocol == nullptr)
    {
        _manager->scanDevices();

        if (_protocol != nullptr)
            break;

        if (std::chrono::steady_clock::now() >= deadline)
            return false;

        _unit->waitForPlugged (true, std::chrono::milliseconds (10));
        std::this_thread::yield();
    }

    // The transport reports its running state from its reader thread, maybe before the
    // handler was attached, so the protocol's own state is what tells.
    while (_protocol->getState() != Korvantal::KorvantalProtocol::kConnected)
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;

        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    return true;
}

void UnitConnection::disconnect()
{
    if (_protocol != nullptr)
        _protocol->setHandler (nullptr);

    _protocol.reset();
    _transport.reset();

    if (_device != nullptr)
        _device->close();

    _device = nullptr;
}

void UnitConnection::deviceAdded (Korvantal::IUSBHIDDevice* device)
{
    if (_device != nullptr)
        return;

    _device = device;
    _transport = std::make_unique<Korvantal::KorvantalUSBPacketIO> (device);
    _protocol = std::make_unique<Korvantal::KorvantalProtocol> (_transport.get(), _protocolVariant);
    _protocol->setHandler (&_handler);
}

void UnitConnection::deviceRemoved (Korvantal::IUSBHIDDevice* device)
{
    if (device == _device)
        disconnect();
}

} // namespace SimUnit
