#include "SimulatedHidBus.h"

#include <gtest/gtest.h>
#include <hidapi/hidapi.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>

namespace
{
using namespace std::chrono_literals;

constexpr auto kBound = 5s;   // generous bound for waits that should end at once

struct BusTest : ::testing::Test
{
    void SetUp() override { SimHid::Bus::instance().reset(); }
    void TearDown() override { SimHid::Bus::instance().reset(); }

    SimHid::Bus& bus = SimHid::Bus::instance();
};

SimHid::DeviceDescription description (uint16_t vendorId, uint16_t productId, const std::wstring& serial = L"")
{
    SimHid::DeviceDescription d;
    d.vendorId = vendorId;
    d.productId = productId;
    d.serial = serial;
    d.product = L"Simulated";
    return d;
}

std::vector<uint16_t> listedProductIds (hid_device_info* list)
{
    std::vector<uint16_t> ids;
    for (hid_device_info* entry = list; entry != nullptr; entry = entry->next)
        ids.push_back (entry->product_id);
    return ids;
}

// Reads on a thread of its own, so a test can observe it blocking and being woken. The thread is
// detached: a read that is never woken fails the test's bounded wait instead of hanging its end.
std::future<int> readAsync (hid_device* handle, unsigned char* buffer, size_t length, int timeoutMs)
{
    std::packaged_task<int()> read ([=] { return hid_read_timeout (handle, buffer, length, timeoutMs); });
    std::future<int> result = read.get_future();
    std::thread (std::move (read)).detach();
    return result;
}

using StandInEnumeration = BusTest;
using StandInReports = BusTest;
using StandInLifecycle = BusTest;

} // namespace

TEST_F (StandInEnumeration, listsPluggedDevicesInPlugOrderWithTheirDescription)
{
    auto d = description (0x04D8, 0x003F, L"A1");
    d.manufacturer = L"Maker";
    d.interfaceNumber = 2;
    const std::string first = bus.plug (d, nullptr);
    const std::string second = bus.plug (description (0x1234, 0x0001), nullptr);

    hid_device_info* list = hid_enumerate (0, 0);
    ASSERT_NE (list, nullptr);
    EXPECT_STREQ (list->path, first.c_str());
    EXPECT_EQ (list->vendor_id, 0x04D8);
    EXPECT_EQ (list->product_id, 0x003F);
    EXPECT_STREQ (list->serial_number, L"A1");
    EXPECT_STREQ (list->manufacturer_string, L"Maker");
    EXPECT_STREQ (list->product_string, L"Simulated");
    EXPECT_EQ (list->interface_number, 2);
    ASSERT_NE (list->next, nullptr);
    EXPECT_STREQ (list->next->path, second.c_str());
    EXPECT_EQ (list->next->next, nullptr);
    EXPECT_EQ (bus.liveEnumerationCount(), 1u);
    hid_free_enumeration (list);
    EXPECT_EQ (bus.liveEnumerationCount(), 0u);
}

TEST_F (StandInEnumeration, filtersByVendorAndProductWithZeroMeaningAnyAndListsOnlyPluggedDevices)
{
    EXPECT_EQ (hid_enumerate (0, 0), nullptr) << "an empty bus";
    bus.plug (description (0x04D8, 0x003F), nullptr);
    bus.unplug (bus.plug (description (0x04D8, 0x003C), nullptr));
    bus.plug (description (0x04D8, 0x0040), nullptr);
    bus.plug (description (0x1111, 0x003F), nullptr);

    const std::tuple<uint16_t, uint16_t, std::vector<uint16_t>> rows[] = {
        { 0, 0, { 0x003F, 0x0040, 0x003F } }, { 0x04D8, 0, { 0x003F, 0x0040 } }, { 0, 0x003F, { 0x003F, 0x003F } },
        { 0x04D8, 0x0040, { 0x0040 } },       { 0x2222, 0, {} },
    };
    for (const auto& [vendorId, productId, listed] : rows)
    {
        hid_device_info* list = hid_enumerate (vendorId, productId);
        EXPECT_EQ (listedProductIds (list), listed) << vendorId << ":" << productId;
        EXPECT_EQ (list == nullptr, listed.empty());
        hid_free_enumeration (list);
    }
    hid_free_enumeration (nullptr);
    EXPECT_EQ (bus.liveEnumerationCount(), 0u);
    EXPECT_EQ (bus.enumerateCount(), 6u);
}
TEST_F (StandInLifecycle, refusesRealDevicePathsLoudlyAndAnOpenWhenToldTo)
{
    EXPECT_EQ (hid_open_path ("/dev/hidraw0"), nullptr);
    EXPECT_EQ (bus.foreignPathAttemptCount(), 1u);
    const std::string path = bus.plug (description (0x04D8, 0x003F), nullptr);
    bus.setOpenRefused (path, true);
    EXPECT_EQ (hid_open_path (path.c_str()), nullptr);
    bus.setOpenRefused (path, false);
    hid_device* handle = hid_open_path (path.c_str());
    EXPECT_NE (handle, nullptr);
    hid_close (handle);
    EXPECT_EQ (bus.foreignPathAttemptCount(), 1u) << "a refused simulated path is no foreign one";
}
TEST_F (StandInLifecycle, opensByPathOrByIdsAndSerialAndCountsHandles)
{
    const std::string first = bus.plug (description (0x04D8, 0x003F, L"one"), nullptr);
    const std::string second = bus.plug (description (0x04D8, 0x003F, L"two"), nullptr);
    hid_device* byPath = hid_open_path (first.c_str());
    hid_device* bySerial = hid_open (0x04D8, 0x003F, L"two");
    ASSERT_NE (byPath, nullptr);
    ASSERT_NE (bySerial, nullptr);
    EXPECT_EQ (bus.openHandleCount(), 2u);
    EXPECT_EQ (bus.openHandleCount (second), 1u);
    wchar_t serial[8] = {};
    EXPECT_EQ (hid_get_serial_number_string (bySerial, serial, 8), 0);
    EXPECT_STREQ (serial, L"two");
    hid_device_info* info = hid_get_device_info (bySerial);
    ASSERT_NE (info, nullptr);
    EXPECT_STREQ (info->path, second.c_str());
    hid_close (byPath);
    hid_close (bySerial);
    EXPECT_EQ (bus.openHandleCount(), 0u);
    EXPECT_EQ (hid_open (0x04D8, 0x003F, L"three"), nullptr);
    EXPECT_EQ (bus.openAttemptCount(), 2u);
}
// The loss is reported even with a report still queued for the old handle.
TEST_F (StandInLifecycle, keepsAHandleStaleAfterTheDeviceIsPluggedInAgainAtTheSamePath)
{
    auto device = std::make_shared<SimHid::RecordingDevice>();
    const std::string path = bus.plug (description (0x04D8, 0x003F), device);
    hid_device* old = hid_open_path (path.c_str());
    ASSERT_NE (old, nullptr);
    const unsigned char report[2] = { 0, 0xB4 };
    bus.sendInputReport (path, report, sizeof (report));
    bus.unplug (path);
    unsigned char buffer[64] = {};
    EXPECT_EQ (hid_read_timeout (old, buffer, sizeof (buffer), 0), -1);
    EXPECT_EQ (bus.plug (description (0x04D8, 0x003F), device, path), path);

    EXPECT_EQ (hid_read_timeout (old, buffer, sizeof (buffer), 0), -1);
    EXPECT_EQ (hid_write (old, report, sizeof (report)), -1);
    EXPECT_EQ (device->writeCount(), 0u);

    hid_device* fresh = hid_open_path (path.c_str());
    ASSERT_NE (fresh, nullptr);
    EXPECT_EQ (hid_write (fresh, report, sizeof (report)), 2);
    EXPECT_EQ (device->writeCount(), 1u);
    hid_close (old);
    hid_close (fresh);
}

TEST_F (StandInReports, passesHostWritesToTheDeviceExactly)
{
    auto device = std::make_shared<SimHid::RecordingDevice>();
    const std::string path = bus.plug (description (0x04D8, 0x003F), device);
    hid_device* handle = hid_open_path (path.c_str());
    const unsigned char report[4] = { 0x00, 0xB5, 0x00, 0x7F };
    EXPECT_EQ (hid_write (handle, report, sizeof (report)), 4);
    bus.setWriteResult (path, 1); // an injected result, without reaching the device
    EXPECT_EQ (hid_write (handle, report, sizeof (report)), 1);
    EXPECT_EQ (device->writes(), (std::vector<std::vector<uint8_t>> { { 0x00, 0xB5, 0x00, 0x7F } }));
    EXPECT_EQ (bus.writeCount(), 1u);
    EXPECT_EQ (bus.writeCount (path), 1u);
    hid_close (handle);
}

// Dropped while no handle is open; then in order to every handle, cut to the reader's buffer.
TEST_F (StandInReports, deliversInputReportsInOrderToEveryOpenHandle)
{
    const std::string path = bus.plug (description (0x04D8, 0x003F), nullptr);
    const uint8_t a[3] = { 0xC0, 0x00, 0x11 };
    const uint8_t b[2] = { 0xCE, 0x00 };
    bus.sendInputReport (path, b, sizeof (b));
    hid_device* first = hid_open_path (path.c_str());
    hid_device* second = hid_open_path (path.c_str());
    bus.sendInputReport (path, a, sizeof (a));
    bus.sendInputReport (path, b, sizeof (b));
    bus.sendInputReport (path, a, sizeof (a));

    for (hid_device* handle : { first, second })
    {
        unsigned char buffer[64] = {};
        ASSERT_EQ (hid_read_timeout (handle, buffer, sizeof (buffer), 0), 3);
        EXPECT_EQ (0, std::memcmp (buffer, a, sizeof (a)));
        ASSERT_EQ (hid_read_timeout (handle, buffer, sizeof (buffer), 0), 2);
        EXPECT_EQ (0, std::memcmp (buffer, b, sizeof (b)));
        unsigned char small[2] = {};
        ASSERT_EQ (hid_read_timeout (handle, small, sizeof (small), 0), 2);
        EXPECT_EQ (small[1], 0x00);
        EXPECT_EQ (hid_read_timeout (handle, buffer, sizeof (buffer), 0), 0);
    }
    hid_close (first);
    hid_close (second);
}
TEST_F (StandInReports, timesOutWithZeroAndWakesABlockedReadWhenAReportArrives)
{
    const std::string path = bus.plug (description (0x04D8, 0x003F), nullptr);
    hid_device* handle = hid_open_path (path.c_str());
    unsigned char buffer[64] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ (hid_read_timeout (handle, buffer, sizeof (buffer), 20), 0);
    EXPECT_GE (std::chrono::steady_clock::now() - start, 20ms);

    std::future<int> pending = readAsync (handle, buffer, sizeof (buffer), -1);
    EXPECT_TRUE (bus.waitForReadsInProgress (path, 1, kBound)); // the read waits before the report comes
    const uint8_t report[2] = { 0xCC, 0x00 };
    bus.sendInputReport (path, report, sizeof (report));
    ASSERT_EQ (pending.wait_for (kBound), std::future_status::ready);
    EXPECT_EQ (pending.get(), 2);
    EXPECT_EQ (buffer[0], 0xCC);
    hid_close (handle);
}
TEST_F (StandInReports, failsAPendingAndEveryLaterReadAndWriteOnceUnplugged)
{
    auto device = std::make_shared<SimHid::RecordingDevice>();
    const std::string path = bus.plug (description (0x04D8, 0x003F), device);
    hid_device* handle = hid_open_path (path.c_str());
    unsigned char buffer[64] = {};
    std::future<int> forever = readAsync (handle, buffer, sizeof (buffer), -1);
    std::future<int> timed = readAsync (handle, buffer, sizeof (buffer), 60000);
    EXPECT_TRUE (bus.waitForReadsInProgress (path, 2, kBound)); // both reads pending
    bus.unplug (path);
    ASSERT_EQ (forever.wait_for (kBound), std::future_status::ready);
    ASSERT_EQ (timed.wait_for (kBound), std::future_status::ready);
    EXPECT_EQ (forever.get(), -1);
    EXPECT_EQ (timed.get(), -1);

    EXPECT_EQ (hid_read_timeout (handle, buffer, sizeof (buffer), 0), -1);
    const unsigned char report[2] = { 0, 0xB4 };
    EXPECT_EQ (hid_write (handle, report, sizeof (report)), -1);
    EXPECT_EQ (device->writeCount(), 0u);
    EXPECT_EQ (bus.openHandleCount(), 1u);   // still the owner's to close
    hid_close (handle);
    EXPECT_EQ (bus.openHandleCount(), 0u);
}

TEST_F (StandInReports, letsADeviceAnswerFromInsideAHostWrite)
{
    // The simulated unit answers on the writer's thread; the bus must not hold its lock then.
    struct EchoDevice : SimHid::SimulatedDevice
    {
        std::string path;
        void onHostWrite (const uint8_t* data, size_t length) override
        {
            SimHid::Bus::instance().sendInputReport (path, data + 1, length - 1);
        }
    };
    auto echo = std::make_shared<EchoDevice>();
    echo->path = bus.plug (description (0x04D8, 0x003F), echo);
    hid_device* handle = hid_open_path (echo->path.c_str());
    const unsigned char report[3] = { 0x00, 0xB4, 0x00 };
    ASSERT_EQ (hid_write (handle, report, sizeof (report)), 3);
    unsigned char buffer[64] = {};
    EXPECT_EQ (hid_read_timeout (handle, buffer, sizeof (buffer), 1000), 2);
    EXPECT_EQ (buffer[0], 0xB4);
    hid_close (handle);
}

TEST_F (StandInReports, staysConsistentUnderConcurrentWritersReadersAndHotPlug)
{
    auto device = std::make_shared<SimHid::RecordingDevice>();
    const std::string path = bus.plug (description (0x04D8, 0x003F), device);
    hid_device* handle = hid_open_path (path.c_str());
    std::atomic<bool> stop { false };
    std::thread reader ([&] {
        unsigned char buffer[64];
        while (hid_read_timeout (handle, buffer, sizeof (buffer), 1000) >= 0) {}
    });
    std::thread sender ([&] {
        const uint8_t report[64] = {};
        while (! stop)
            bus.sendInputReport (path, report, sizeof (report));
    });
    std::thread enumerator ([&] {
        while (! stop)
            hid_free_enumeration (hid_enumerate (0, 0));
    });
    const unsigned char out[65] = {};
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ (hid_write (handle, out, sizeof (out)), 65);
    bus.unplug (path);
    reader.join();   // ends through the unplug
    stop = true;
    sender.join();
    enumerator.join();
    EXPECT_EQ (device->writeCount(), 200u);
    hid_close (handle);
}

TEST_F (StandInLifecycle, countsInitAndExit)
{
    EXPECT_EQ (hid_init(), 0);
    EXPECT_EQ (bus.initCount(), 1);
    EXPECT_EQ (hid_exit(), 0);
    EXPECT_EQ (bus.initCount(), 0);
}
