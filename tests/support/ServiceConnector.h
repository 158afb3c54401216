#pragma once

#include "KorvantalProtocol.h"
#include "KorvantalUSBPacketIO.h"
#include "TovarekMk2EditorService.h"
#include "USBDeviceManager.h"

#include <cstdint>
#include <memory>

namespace TestSupport
{

// The application's side of the service for tests: each scan looks for the unit's ids on the
// stand-in bus; when the unit appears it builds transport and protocol and hands the protocol to the
// service, and when it goes it detaches them and tears them down in the application's order.
// The test thread plays the message thread.
class ServiceConnector : private Korvantal::USBDeviceManager::Handler
{
public:
    ServiceConnector (TovarekMk2::TovarekMk2EditorService* service, uint16_t vendorId, uint16_t productId);
    ~ServiceConnector() override;

    // One tick of the application's timer.
    void scan();
    Korvantal::KorvantalProtocol* protocol() const { return _protocol.get(); }
    // How many protocols it has handed to the service and taken back: a wait for the next attach
    // or detach counts them, where the protocol pointer may still be one an earlier step left.
    int attachCount() const { return _attaches; }
    int detachCount() const { return _detaches; }

    // Forgets the service before it is destroyed, so a later unplug does not reach it.
    void forgetService() { _service = nullptr; }

private:
    void deviceAdded (Korvantal::IUSBHIDDevice* device) override;
    void deviceRemoved (Korvantal::IUSBHIDDevice* device) override;
    void dropConnection();

    TovarekMk2::TovarekMk2EditorService* _service;
    std::unique_ptr<Korvantal::USBDeviceManager> _manager;
    Korvantal::IUSBHIDDevice* _device = nullptr;
    std::unique_ptr<Korvantal::KorvantalUSBPacketIO> _transport;
    std::unique_ptr<Korvantal::KorvantalProtocol> _protocol;
    int _attaches = 0; // scans run on the thread that reads these
    int _detaches = 0;
};

} // namespace TestSupport
