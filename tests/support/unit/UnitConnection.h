#pragma once

#include "KorvantalProtocol.h"
#include "KorvantalUSBPacketIO.h"
#include "SimulatedUnit.h"
#include "USBDeviceManager.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

// The whole device stack of the editor over one simulated unit: the real device manager, HID
// device, packet transport and protocol, built and torn down in the application's order.
namespace SimUnit
{

// Records what the protocol tells its handler; waits with bounded time-outs.
class RecordingHandler : public Korvantal::KorvantalProtocol::Handler
{
public:
    struct ParameterReport
    {
        uint16_t id;
        float value;
    };

    void parameterChanged (uint16_t id, const float& value) override;
    void currentPresetChanged() override;
    void connectionStateChanged (int state) override;
    void statusReceived (const uint8_t* payload, size_t length) override;

    std::vector<ParameterReport> parameters() const;
    std::vector<std::vector<uint8_t>> statuses() const;
    std::vector<int> states() const;

    // Each wait is for a count, or for a state recorded after the first `mark` states (take the
    // mark with stateCount() before the step that causes it): a state an earlier step left does
    // not end the wait.
    bool waitForParameters (size_t count, std::chrono::milliseconds timeout) const;
    bool waitForStatuses (size_t count, std::chrono::milliseconds timeout) const;
    size_t stateCount() const;
    bool waitForState (int state, size_t mark, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex _mutex; // guards the three lists
    mutable std::condition_variable _changed;
    std::vector<ParameterReport> _parameters;
    std::vector<std::vector<uint8_t>> _statuses;
    std::vector<int> _states;
};

class UnitConnection : private Korvantal::USBDeviceManager::Handler
{
public:
    static constexpr std::chrono::milliseconds kWait { 5000 };

    explicit UnitConnection (UnitOptions options = {}, uint32_t protocolVariant = 3);
    ~UnitConnection() override;

    SimulatedUnit& unit() { return *_unit; }
    Korvantal::KorvantalProtocol& protocol() { return *_protocol; }
    Korvantal::KorvantalUSBPacketIO& transport() { return *_transport; }
    RecordingHandler& handler() { return _handler; }
    bool isConnected() const { return _protocol != nullptr; }

    // Scans until the unit's device is open and a protocol runs over it; false after the time-out.
    bool connect (std::chrono::milliseconds timeout = kWait);
    // What the application does when the unit is gone: protocol, transport, then close the device.
    void disconnect();

private:
    void deviceAdded (Korvantal::IUSBHIDDevice* device) override;
    void deviceRemoved (Korvantal::IUSBHIDDevice* device) override;

    std::unique_ptr<SimulatedUnit> _unit;
    uint32_t _protocolVariant;
    RecordingHandler _handler;
    std::unique_ptr<Korvantal::USBDeviceManager> _manager;
    Korvantal::IUSBHIDDevice* _device = nullptr;
    std::unique_ptr<Korvantal::KorvantalUSBPacketIO> _transport;
    std::unique_ptr<Korvantal::KorvantalProtocol> _protocol;
};

} // namespace SimUnit
