#include "KorvantalUSBPacketIO.h"
#include "USBDeviceManager.h"

#include "SimulatedHidBus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace
{
using namespace std::chrono_literals;
using Korvantal::IDevicePacketIO;
using Korvantal::IUSBHIDDevice;
using Korvantal::KorvantalUSBPacketIO;
using Korvantal::USBDeviceManager;

constexpr auto kBound = 5s;   // generous bound for events that should come at once

// Records what the transport reports, with waits bounded in time.
class RecordingPacketHandler : public IDevicePacketIO::Handler
{
public:
    void connectionStateChanged (int state) override
    {
        std::lock_guard<std::mutex> lock (_mutex);
        noteCallLocked();
        _states.push_back (state);
        _changed.notify_all();
    }

    void packetReceived (const uint8_t* data, size_t length) override
    {
        if (onPacket)
            onPacket();
        std::lock_guard<std::mutex> lock (_mutex);
        noteCallLocked();
        _packets.emplace_back (data, data + length);
        _packetThreads.push_back (std::this_thread::get_id());
        _changed.notify_all();
    }

    // From now on any callback counts as a violation.
    void markDetached()
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _detached = true;
    }

    bool waitForState (int state)
    {
        std::unique_lock<std::mutex> lock (_mutex);
        return _changed.wait_for (lock, kBound, [&] {
            return std::find (_states.begin(), _states.end(), state) != _states.end();
        });
    }

    bool waitForPackets (size_t count)
    {
        std::unique_lock<std::mutex> lock (_mutex);
        return _changed.wait_for (lock, kBound, [&] { return _packets.size() >= count; });
    }

    std::vector<int> states() const
    {
        std::lock_guard<std::mutex> lock (_mutex);
        return _states;
    }

    // What followed the reader's start; a handler attached before it first hears 0.
    std::vector<int> statesSinceRunning() const
    {
        std::lock_guard<std::mutex> lock (_mutex);
        auto running = std::find (_states.begin(), _states.end(), IDevicePacketIO::kRunning);
        return std::vector<int> (running, _states.end());
    }

    std::vector<std::vector<uint8_t>> packets() const
    {
        std::lock_guard<std::mutex> lock (_mutex);
        return _packets;
    }

    std::vector<std::thread::id> packetThreads() const
    {
        std::lock_guard<std::mutex> lock (_mutex);
        return _packetThreads;
    }

    size_t callsAfterDetach() const
    {
        std::lock_guard<std::mutex> lock (_mutex);
        return _callsAfterDetach;
    }

    std::function<void()> onPacket;   // set before the handler is attached

private:
    void noteCallLocked()
    {
        if (_detached)
            ++_callsAfterDetach;
    }

    mutable std::mutex _mutex;
    std::condition_variable _changed;
    std::vector<int> _states;
    std::vector<std::vector<uint8_t>> _packets;
    std::vector<std::thread::id> _packetThreads;
    bool _detached = false;
    size_t _callsAfterDetach = 0;
};

// Keeps the HID device the manager opens for the unit, as the application does.
struct KeepingHandler : USBDeviceManager::Handler
{
    void deviceAdded (IUSBHIDDevice* added) override { device = added; }
    void deviceRemoved (IUSBHIDDevice*) override {}
    IUSBHIDDevice* device = nullptr;
};

// A plugged unit, found and opened through the device manager.
struct TransportTest : ::testing::Test
{
    void SetUp() override
    {
        bus.reset();
        path = bus.plug (SimHid::DeviceDescription {}, unit);
        manager.scanDevices();
        ASSERT_NE (keeper.device, nullptr);
    }

    void TearDown() override
    {
        // The owner's order: transport first (joining the reader), then the device.
        transport.reset();
        keeper.device->close();
        EXPECT_EQ (bus.openHandleCount(), 0u);
        bus.reset();
    }

    void startTransport()
    {
        transport = std::make_unique<KorvantalUSBPacketIO> (keeper.device);
        transport->setHandler (&handler);
        ASSERT_TRUE (handler.waitForState (IDevicePacketIO::kRunning));
    }

    void sendReport (const std::vector<uint8_t>& report)
    {
        bus.sendInputReport (path, report.data(), report.size());
    }

    SimHid::Bus& bus = SimHid::Bus::instance();
    std::shared_ptr<SimHid::RecordingDevice> unit = std::make_shared<SimHid::RecordingDevice>();
    std::string path;
    KeepingHandler keeper;
    USBDeviceManager manager { &keeper, USBDeviceManager::unitDeviceIds() };
    RecordingPacketHandler handler;
    std::unique_ptr<KorvantalUSBPacketIO> transport;
};

// An HID device whose writes accept a set count, for what the simulated bus cannot do.
class ScriptedDevice : public IUSBHIDDevice
{
public:
    explicit ScriptedDevice (int writeResult, int readResult = 0) : _writeResult (writeResult), _readResult (readResult) {}

    int read (uint8_t* buffer, uint32_t length, int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock (_mutex);
        _changed.wait_for (lock, std::chrono::milliseconds (timeoutMs), [this] { return _closed || _armed; });
        if (_closed)
            return -1;
        if (! _armed)
            return 0;
        _armed = false;
        std::fill (buffer, buffer + length, 0xAB);
        return _readResult;
    }
    // Lets the next read return the scripted read result.
    void arm()
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _armed = true;
        _changed.notify_all();
    }
    int write (const uint8_t*, uint32_t) override { return _writeResult; }
    void close() override
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _closed = true;
        _changed.notify_all();
    }
    uint16_t getVendorId() override { return 0x04D8; }
    uint16_t getProductId() override { return 0x003F; }

private:
    const int _writeResult;
    const int _readResult;
    std::mutex _mutex;
    std::condition_variable _changed;
    bool _armed = false;
    bool _closed = false;
};

using PacketTransportFraming = TransportTest;
using PacketTransportReader = TransportTest;
using PacketTransportTeardown = TransportTest;

} // namespace

TEST_F (PacketTransportFraming, putsReportIdZeroInFrontOfThePacket)
{
    startTransport();
    const uint8_t ping[2] = { 0xB4, 0x00 };
    EXPECT_TRUE (transport->sendPacket (ping, sizeof (ping)).ok);
    ASSERT_EQ (unit->writeCount(), 1u);
    EXPECT_EQ (unit->writes()[0], (std::vector<uint8_t> { 0x00, 0xB4, 0x00 }));
}

TEST_F (PacketTransportFraming, sendsA64BytePacketAsA65ByteReport)
{
    startTransport();
    std::vector<uint8_t> packet (64);
    for (size_t i = 0; i < packet.size(); ++i)
        packet[i] = static_cast<uint8_t> (i + 1);
    EXPECT_TRUE (transport->sendPacket (packet.data(), packet.size()).ok);

    std::vector<uint8_t> expected { 0x00 };
    expected.insert (expected.end(), packet.begin(), packet.end());
    ASSERT_EQ (unit->writeCount(), 1u);
    EXPECT_EQ (unit->writes()[0], expected);
}

TEST_F (PacketTransportFraming, refusesA65BytePacketAndWritesNothing)
{
    startTransport();
    std::vector<uint8_t> packet (65, 0x11);
    const Korvantal::Result result = transport->sendPacket (packet.data(), packet.size());
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Packet too large");
    EXPECT_EQ (bus.writeCount(), 0u);
}

TEST_F (PacketTransportFraming, sendsAnEmptyPacketAsTheReportIdAlone)
{
    startTransport();
    EXPECT_TRUE (transport->sendPacket (nullptr, 0).ok);
    ASSERT_EQ (unit->writeCount(), 1u);
    EXPECT_EQ (unit->writes()[0], (std::vector<uint8_t> { 0x00 }));
}

TEST_F (PacketTransportFraming, reportsAFailedWriteWithItsResultAndKeepsRunning)
{
    startTransport();
    bus.setWriteResult (path, -1);
    const uint8_t ping[2] = { 0xB4, 0x00 };
    const Korvantal::Result result = transport->sendPacket (ping, sizeof (ping));
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "hid_write failed with -1");
    EXPECT_EQ (handler.states().back(), IDevicePacketIO::kRunning);
}

TEST_F (PacketTransportFraming, failsAWriteToAnUnpluggedDevice)
{
    startTransport();
    bus.unplug (path);
    const uint8_t ping[2] = { 0xB4, 0x00 };
    EXPECT_EQ (transport->sendPacket (ping, sizeof (ping)).message, "hid_write failed with -1");
}

TEST (PacketTransportFaultyDevice, reportsAWriteThatTookFewerBytesThanTheReportAsIncomplete)
{
    for (int accepted : { 0, 2 })   // a 2-byte packet makes a 3-byte report
    {
        ScriptedDevice device (accepted);
        {
            KorvantalUSBPacketIO transport (&device);
            const uint8_t ping[2] = { 0xB4, 0x00 };
            const Korvantal::Result result = transport.sendPacket (ping, sizeof (ping));
            EXPECT_FALSE (result.ok);
            EXPECT_EQ (result.message, "hid_write incomplete");
            device.close();   // ends the reader at once
        }
    }
}

TEST (PacketTransportFaultyDevice, neverHandsUpMoreThanOneReportOfBytes)
{
    ScriptedDevice device (0, 1000);   // a faulty device claiming more bytes than it was asked for
    RecordingPacketHandler handler;
    {
        KorvantalUSBPacketIO transport (&device);
        transport.setHandler (&handler);
        device.arm();
        ASSERT_TRUE (handler.waitForPackets (1));
        device.close();
        ASSERT_TRUE (handler.waitForState (IDevicePacketIO::kError));
        transport.setHandler (nullptr);
    }
    EXPECT_EQ (handler.packets()[0].size(), 64u);
}

TEST_F (PacketTransportReader, reportsRunningToAHandlerAttachedAfterTheStart)
{
    startTransport();
    RecordingPacketHandler late;
    transport->setHandler (&late);
    EXPECT_EQ (late.states(), (std::vector<int> { IDevicePacketIO::kRunning }));   // synchronously
    transport->setHandler (nullptr);   // before `late` goes
}

TEST_F (PacketTransportReader, deliversEachWholeReportOnTheReaderThreadInOrder)
{
    startTransport();
    std::vector<uint8_t> first (64, 0x00);
    first[0] = 0xC0;   // a 2-byte packet followed by filler bytes
    const std::vector<uint8_t> second { 0xCE, 0x01, 0x07 };
    sendReport (first);
    sendReport (second);

    ASSERT_TRUE (handler.waitForPackets (2));
    EXPECT_EQ (handler.packets()[0], first);
    EXPECT_EQ (handler.packets()[1], second);
    EXPECT_NE (handler.packetThreads()[0], std::this_thread::get_id());
}

TEST_F (PacketTransportReader, reportsErrorOnceWhenTheDeviceIsUnpluggedAndNothingAfter)
{
    startTransport();
    bus.unplug (path);
    ASSERT_TRUE (handler.waitForState (IDevicePacketIO::kError));
    transport.reset();   // joins the ended reader at once
    EXPECT_EQ (handler.statesSinceRunning(), (std::vector<int> { IDevicePacketIO::kRunning, IDevicePacketIO::kError }));
}

TEST_F (PacketTransportReader, reportsErrorToAHandlerAttachedAfterTheFailure)
{
    startTransport();
    bus.unplug (path);
    ASSERT_TRUE (handler.waitForState (IDevicePacketIO::kError));
    RecordingPacketHandler late;
    transport->setHandler (&late);
    EXPECT_EQ (late.states(), (std::vector<int> { IDevicePacketIO::kError }));
    transport->setHandler (nullptr);   // before `late` goes
}

TEST_F (PacketTransportReader, acceptsResetFromInsideAPacketCallback)
{
    handler.onPacket = [this] { EXPECT_TRUE (transport->reset().ok); };
    startTransport();
    sendReport ({ 0xC1, 0x00 });
    EXPECT_TRUE (handler.waitForPackets (1));   // would dead-lock if reset took the transport lock
}

TEST_F (PacketTransportReader, sendsWhileTheReaderWaitsForInput)
{
    startTransport();
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
    {
        senders.emplace_back ([this, t] {
            for (int i = 0; i < 50; ++i)
            {
                const uint8_t packet[3] = { 0xC7, 0x01, static_cast<uint8_t> (t) };
                EXPECT_TRUE (transport->sendPacket (packet, sizeof (packet)).ok);
            }
        });
    }
    for (int i = 0; i < 50; ++i)
        sendReport ({ 0xCF, 0x00 });
    for (std::thread& sender : senders)
        sender.join();
    EXPECT_EQ (unit->writeCount(), 200u);
    EXPECT_TRUE (handler.waitForPackets (50));
}

TEST_F (PacketTransportTeardown, stopsWithStateZeroWhenDestroyedWhilePlugged)
{
    startTransport();
    const auto start = std::chrono::steady_clock::now();
    transport.reset();   // the reader is blocked in a read
    EXPECT_LT (std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ (handler.statesSinceRunning(), (std::vector<int> { IDevicePacketIO::kRunning, IDevicePacketIO::kStopped }));
}

TEST_F (PacketTransportTeardown, survivesDestructionRightAfterConstruction)
{
    transport = std::make_unique<KorvantalUSBPacketIO> (keeper.device);
    transport.reset();
    EXPECT_EQ (bus.openHandleCount (path), 1u);   // the device stays open for its owner
}

TEST_F (PacketTransportTeardown, neverCallsADetachedHandlerWhileReportsKeepComing)
{
    startTransport();
    std::atomic<bool> stop { false };
    std::thread device ([this, &stop] {
        while (! stop)
            sendReport ({ 0xCF, 0x08, 1, 0, 0, 0, 0, 0, 0x80, 0x3F });
    });
    ASSERT_TRUE (handler.waitForPackets (10));
    transport->setHandler (nullptr);
    handler.markDetached();
    const size_t seen = handler.packets().size();
    RecordingPacketHandler next;
    transport->setHandler (&next);
    EXPECT_TRUE (next.waitForPackets (10));   // the reader went on delivering, to the new handler only
    stop = true;
    device.join();
    EXPECT_EQ (handler.callsAfterDetach(), 0u);
    EXPECT_EQ (handler.packets().size(), seen);
    transport->setHandler (nullptr);
}

TEST_F (PacketTransportTeardown, endsCleanlyWhenTheDeviceIsUnpluggedDuringDestruction)
{
    startTransport();
    std::thread unplugger ([this] { bus.unplug (path); });
    transport.reset();
    unplugger.join();
    const std::vector<int> states = handler.statesSinceRunning();
    ASSERT_EQ (states.size(), 2u);   // running, then either stopped or error, never both
    EXPECT_TRUE (states[1] == IDevicePacketIO::kStopped || states[1] == IDevicePacketIO::kError);
}
