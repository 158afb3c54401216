// The hot-plug scan runs every second on the message thread, so one pass must
// stay far below a frame: target under 5 ms with 20 HID devices on the bus.

#include "KorvantalUSBPacketIO.h"
#include "USBDeviceManager.h"

#include "SimulatedHidBus.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

namespace
{
using Korvantal::IDevicePacketIO;
using Korvantal::IUSBHIDDevice;
using Korvantal::KorvantalUSBPacketIO;
using Korvantal::USBDeviceManager;

constexpr int kDeviceCount = 20;

struct CountingHandler : USBDeviceManager::Handler
{
    void deviceAdded (IUSBHIDDevice* device) override { ++added; last = device; }
    void deviceRemoved (IUSBHIDDevice* device) override { device->close(); }
    int added = 0;
    IUSBHIDDevice* last = nullptr;
};

// Plugs 20 devices, `units` of them with the unit's ids and the rest other HID gear.
void plugDevices (int units)
{
    SimHid::Bus& bus = SimHid::Bus::instance();
    bus.reset();
    for (int i = 0; i < kDeviceCount; ++i)
    {
        SimHid::DeviceDescription description;
        if (i >= units)
        {
            description.vendorId = 0x046D;
            description.productId = static_cast<uint16_t> (0xC000 + i);
        }
        description.serial = L"SN" + std::to_wstring (i);
        description.product = L"Device " + std::to_wstring (i);
        bus.plug (description, std::make_shared<SimHid::RecordingDevice>());
    }
}

// The usual pass: nothing changed since the last scan.
void scanSteadyState (benchmark::State& state)
{
    plugDevices (static_cast<int> (state.range (0)));
    CountingHandler handler;
    USBDeviceManager manager (&handler, USBDeviceManager::unitDeviceIds());
    manager.scanDevices();
    for (auto _ : state)
        manager.scanDevices();
    state.counters["devicesOpen"] = static_cast<double> (manager.deviceCount());
    SimHid::Bus::instance().reset();
}
BENCHMARK (scanSteadyState)->Arg (1)->Arg (kDeviceCount)->Unit (benchmark::kMicrosecond);

// The pass that finds and opens every accepted device at once.
void scanFirstPass (benchmark::State& state)
{
    plugDevices (static_cast<int> (state.range (0)));
    for (auto _ : state)
    {
        CountingHandler handler;
        USBDeviceManager manager (&handler, USBDeviceManager::unitDeviceIds());
        manager.scanDevices();
        state.PauseTiming();   // closing the devices is not part of the pass
        benchmark::DoNotOptimize (handler.added);
        state.ResumeTiming();
    }
    SimHid::Bus::instance().reset();
}
BENCHMARK (scanFirstPass)->Arg (kDeviceCount)->Unit (benchmark::kMicrosecond);

// Answers every packet with itself, from inside the host's write.
struct EchoUnit : SimHid::SimulatedDevice
{
    void onHostWrite (const uint8_t* data, size_t length) override
    {
        SimHid::Bus::instance().sendInputReport (path, data + 1, length - 1);
    }
    std::string path;
};

struct WaitingHandler : IDevicePacketIO::Handler
{
    void connectionStateChanged (int) override {}
    void packetReceived (const uint8_t*, size_t) override
    {
        std::lock_guard<std::mutex> lock (mutex);
        ++received;
        arrived.notify_one();
    }
    void waitFor (size_t count)
    {
        std::unique_lock<std::mutex> lock (mutex);
        arrived.wait (lock, [&] { return received >= count; });
    }
    std::mutex mutex;
    std::condition_variable arrived;
    size_t received = 0;
};

// One packet out and its answer handed up by the reader thread, without USB frame pacing.
void transportRoundTrip (benchmark::State& state)
{
    SimHid::Bus& bus = SimHid::Bus::instance();
    bus.reset();
    auto unit = std::make_shared<EchoUnit>();
    unit->path = bus.plug (SimHid::DeviceDescription {}, unit);
    CountingHandler keeper;
    USBDeviceManager manager (&keeper, USBDeviceManager::unitDeviceIds());
    manager.scanDevices();
    WaitingHandler handler;
    {
        KorvantalUSBPacketIO transport (keeper.last);
        transport.setHandler (&handler);
        const uint8_t packet[64] = { 0xB4, 0x00 };
        size_t sent = 0;
        for (auto _ : state)
        {
            transport.sendPacket (packet, sizeof (packet));
            handler.waitFor (++sent);
        }
        transport.setHandler (nullptr);
        bus.unplug (unit->path);   // ends the reader at once
    }
    bus.reset();
}
BENCHMARK (transportRoundTrip)->Unit (benchmark::kMicrosecond)->UseRealTime();

} // namespace
