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
using Bytes = std::vector<uint8_t>;

constexpr auto kBound = 5s;   // generous bound for events that should come at once

// Records what the transport reports, with waits bounded in time.
class RecordingPacketHandler : public IDevicePacketIO::Handler
{
public:
    void connectionStateChanged (int state) override
    {
        record ([&] { _states.push_back (state); });
    }

    void packetReceived (const uint8_t* data, size_t length) override
    {
        if (onPacket)
            onPacket();
        record ([&] {
            _packets.emplace_back (data, data + length);
            _packetThread = std::this_thread::get_id();
        });
    }

    // From now on any callback counts as a violation.
    void markDetached() { locked ([this] { return _detached = true; }); }

    bool waitForState (int state)
    {
        return waitUntil ([&] { return std::find (_states.begin(), _states.end(), state) != _states.end(); });
    }

    bool waitForPackets (size_t count) { return waitUntil ([&] { return _packets.size() >= count; }); }

    std::vector<int> states() const { return locked ([this] { return _states; }); }
    std::vector<Bytes> packets() const { return locked ([this] { return _packets; }); }
    std::thread::id packetThread() const { return locked ([this] { return _packetThread; }); }
    size_t callsAfterDetach() const { return locked ([this] { return _callsAfterDetach; }); }

    // What followed the reader's start; a handler attached before it first hears 0.
    std::vector<int> statesSinceRunning() const
    {
        const auto all = states();
        return std::vector<int> (std::find (all.begin(), all.end(), IDevicePacketIO::kRunning), all.end());
    }

    std::function<void()> onPacket;   // set before the handler is attached

private:
    template <typename Read>
    auto locked (Read read) const -> decltype (read())
    {
        std::lock_guard<std::mutex> lock (_mutex);
        return read();
    }

    template <typename Change>
    void record (Change change)
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _callsAfterDetach += _detached ? 1 : 0;
        change();
        _changed.notify_all();
    }

    template <typename Done>
    bool waitUntil (Done done)
    {
        std::unique_lock<std::mutex> lock (_mutex);
        return _changed.wait_for (lock, kBound, done);
    }

    mutable std::mutex _mutex;
    std::condition_variable _changed;
    std::vector<int> _states;
    std::vector<Bytes> _packets;
    std::thread::id _packetThread;
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
struct PacketTransport : ::testing::Test
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
        // The owner's order: transport first (joining the reader), then the device. Unplugged
        // first, the reader ends at once instead of at its next read time-out.
        bus.unplug (path);
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

    void sendReport (const Bytes& report) { bus.sendInputReport (path, report.data(), report.size()); }

    Korvantal::Result sendPing() { return transport->sendPacket (kPing, sizeof (kPing)); }

    static constexpr uint8_t kPing[2] = { 0xB4, 0x00 };
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

Bytes numbered (size_t length)
{
    Bytes bytes (length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t> (i + 1);
    return bytes;
}

} // namespace

// A packet goes out as report id 0 and the packet, unpadded; more than 64 bytes go nowhere.
TEST_F (PacketTransport, framesEachPacketAsOneReportWithIdZero)
{
    Bytes sixtyFive { 0x00 };
    const Bytes sixtyFour = numbered (64);
    sixtyFive.insert (sixtyFive.end(), sixtyFour.begin(), sixtyFour.end());
    const std::tuple<Bytes, std::string, std::vector<Bytes>> rows[] = {
        { { 0xB4, 0x00 }, "", { { 0x00, 0xB4, 0x00 } } },
        { {}, "", { { 0x00 } } },
        { sixtyFour, "", { sixtyFive } },
        { numbered (65), "Packet too large", {} },
    };

    startTransport();
    for (const auto& [packet, failure, reports] : rows)
    {
        SCOPED_TRACE (packet.size());
        const size_t before = unit->writeCount();
        const Korvantal::Result result = transport->sendPacket (packet.empty() ? nullptr : packet.data(), packet.size());
        EXPECT_EQ (result.message, failure);
        const auto writes = unit->writes();
        EXPECT_EQ (std::vector<Bytes> (writes.begin() + static_cast<long> (before), writes.end()), reports);
    }
}

TEST_F (PacketTransport, reportsAFailedWriteWithItsResultAndKeepsRunning)
{
    startTransport();
    bus.setWriteResult (path, -1);
    EXPECT_EQ (sendPing().message, "hid_write failed with -1");
    EXPECT_EQ (handler.statesSinceRunning(), (std::vector<int> { IDevicePacketIO::kRunning }));
    bus.setWriteResult (path, std::nullopt);
    bus.unplug (path);
    EXPECT_EQ (sendPing().message, "hid_write failed with -1");
}

TEST (PacketTransportFaultyDevice, reportsAWriteThatTookFewerBytesThanTheReportAsIncomplete)
{
    for (int accepted : { 0, 2 })   // a 2-byte packet makes a 3-byte report
    {
        ScriptedDevice device (accepted);
        KorvantalUSBPacketIO transport (&device);
        const uint8_t ping[2] = { 0xB4, 0x00 };
        EXPECT_EQ (transport.sendPacket (ping, sizeof (ping)).message, "hid_write incomplete");
        device.close();   // ends the reader at once
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

// The reader reads whole reports of 64 bytes with a one-second time-out, and waits in its read
// without any lock, so a packet goes out while it waits.
TEST_F (PacketTransport, readsWholeReportsAndSendsWhileTheReaderWaitsForInput)
{
    startTransport();
    ASSERT_TRUE (bus.waitForReadsInProgress (path, 1, kBound));
    EXPECT_EQ (bus.lastReadRequest(), (std::pair<size_t, int> { 64, 1000 }));
    // Three tries: a read may time out and start again just as a write goes out. A reader that
    // held a lock through its read would let no write through while it waits.
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_TRUE (bus.waitForReadsInProgress (path, 1, kBound));
        EXPECT_TRUE (sendPing().ok);
    }
    EXPECT_GE (bus.writesDuringReadCount(), 1u);
}

TEST_F (PacketTransport, reportsItsStateAtOnceToAHandlerAttachedLater)
{
    startTransport();
    for (int state : { IDevicePacketIO::kRunning, IDevicePacketIO::kError })
    {
        if (state == IDevicePacketIO::kError)
        {
            bus.unplug (path);
            ASSERT_TRUE (handler.waitForState (IDevicePacketIO::kError));
        }
        RecordingPacketHandler late;
        transport->setHandler (&late);
        EXPECT_EQ (late.states(), (std::vector<int> { state }));   // synchronously
        transport->setHandler (&handler);   // before `late` goes
    }
}

TEST_F (PacketTransport, deliversEachWholeReportOnTheReaderThreadInOrder)
{
    startTransport();
    Bytes first (64, 0x00);
    first[0] = 0xC0;   // a 2-byte packet followed by filler bytes
    const Bytes second { 0xCE, 0x01, 0x07 };
    sendReport (first);
    sendReport (second);

    ASSERT_TRUE (handler.waitForPackets (2));
    EXPECT_EQ (handler.packets(), (std::vector<Bytes> { first, second }));
    EXPECT_NE (handler.packetThread(), std::this_thread::get_id());
}

TEST_F (PacketTransport, acceptsResetFromInsideAPacketCallback)
{
    handler.onPacket = [this] { EXPECT_TRUE (transport->reset().ok); };
    startTransport();
    sendReport ({ 0xC1, 0x00 });
    EXPECT_TRUE (handler.waitForPackets (1));   // would dead-lock if reset took the transport lock
}

TEST_F (PacketTransport, reportsErrorOnceWhenTheDeviceIsUnpluggedAndNothingAfter)
{
    startTransport();
    testing::internal::CaptureStdout();
    bus.unplug (path);
    ASSERT_TRUE (handler.waitForState (IDevicePacketIO::kError));
    EXPECT_NE (testing::internal::GetCapturedStdout().find (": HID read error: -1\n"), std::string::npos);
    const auto start = std::chrono::steady_clock::now();
    transport.reset();
    EXPECT_LT (std::chrono::steady_clock::now() - start, 500ms) << "the ended reader is joined at once";
    EXPECT_EQ (handler.statesSinceRunning(), (std::vector<int> { IDevicePacketIO::kRunning, IDevicePacketIO::kError }));
}

TEST_F (PacketTransport, stopsWithStateZeroWhenDestroyedWhilePlugged)
{
    startTransport();
    const auto start = std::chrono::steady_clock::now();
    transport.reset();   // the reader is blocked in a read
    EXPECT_LT (std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ (handler.statesSinceRunning(), (std::vector<int> { IDevicePacketIO::kRunning, IDevicePacketIO::kStopped }));
}

TEST_F (PacketTransport, survivesDestructionRightAfterConstruction)
{
    transport = std::make_unique<KorvantalUSBPacketIO> (keeper.device);
    transport.reset();
    EXPECT_EQ (bus.openHandleCount (path), 1u);   // the device stays open for its owner
}

TEST_F (PacketTransport, neverCallsADetachedHandlerWhileReportsKeepComing)
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
