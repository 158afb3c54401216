#include "ServiceConnector.h"

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace TestSupport
{

namespace
{
constexpr uint32_t kProtocolVariant = 3;
constexpr std::chrono::milliseconds kReaderStartLimit { 5000 };
} // namespace

ServiceConnector::ServiceConnector (TovarekMk2::TovarekMk2EditorService* service, uint16_t vendorId, uint16_t productId)
    : _service (service)
{
    Korvantal::USBDeviceManager::Handler* handler = this;
    _manager = std::make_unique<Korvantal::USBDeviceManager> (
        handler, std::vector<std::pair<uint16_t, uint16_t>> { { vendorId, productId } });
}

ServiceConnector::~ServiceConnector()
{
    if (_service != nullptr && _protocol != nullptr)
        _service->setProtocol (nullptr);

    dropConnection();
    _manager.reset();
}

void ServiceConnector::scan()
{
    _manager->scanDevices();
}

void ServiceConnector::deviceAdded (Korvantal::IUSBHIDDevice* device)
{
    if (_device != nullptr)
        return;

    _device = device;
    _transport = std::make_unique<Korvantal::KorvantalUSBPacketIO> (device);
    _protocol = std::make_unique<Korvantal::KorvantalProtocol> (_transport.get(), kProtocolVariant);

    // The product's 3 s settling delay covers the reader thread's start; the tests' shortened one does not.
    const auto deadline = std::chrono::steady_clock::now() + kReaderStartLimit;
    while (_protocol->getState() != Korvantal::KorvantalProtocol::kConnected && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for (std::chrono::milliseconds (1));

    if (_service != nullptr)
        _service->setProtocol (_protocol.get());

    ++_attaches;
}

void ServiceConnector::deviceRemoved (Korvantal::IUSBHIDDevice* device)
{
    if (device != _device)
        return;

    if (_service != nullptr)
        _service->setProtocol (nullptr);

    dropConnection();
    ++_detaches;
}

void ServiceConnector::dropConnection()
{
    _protocol.reset();
    _transport.reset();

    if (_device != nullptr)
        _device->close();

    _device = nullptr;
}

} // namespace TestSupport
