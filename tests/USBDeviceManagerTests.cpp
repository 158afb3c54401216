#include "USBDeviceManager.h"

#include "SimulatedHidBus.h"

#include <gtest/gtest.h>
#include <hidapi/hidapi.h>

namespace
{
using Korvantal::IUSBHIDDevice;
using Korvantal::USBDeviceManager;

struct Event
{
    bool added;
    IUSBHIDDevice* device;
    bool operator== (const Event& other) const { return added == other.added && device == other.device; }
};

// Records the manager's reports; closes a removed device when told to, as the application does.
struct RecordingHandler : USBDeviceManager::Handler
{
    void deviceAdded (IUSBHIDDevice* device) override { events.push_back ({ true, device }); }
    void deviceRemoved (IUSBHIDDevice* device) override
    {
        events.push_back ({ false, device });
        if (closeOnRemoval)
            device->close();
    }

    std::vector<IUSBHIDDevice*> added() const
    {
        std::vector<IUSBHIDDevice*> result;
        for (const Event& event : events)
            if (event.added)
                result.push_back (event.device);
        return result;
    }

    bool closeOnRemoval = true;
    std::vector<Event> events;
};

SimHid::DeviceDescription unitWithProduct (uint16_t productId)
{
    SimHid::DeviceDescription description;
    description.vendorId = 0x04D8;
    description.productId = productId;
    return description;
}

struct ManagerTest : ::testing::Test
{
    void SetUp() override { bus.reset(); }
    void TearDown() override
    {
        manager.reset();
        EXPECT_EQ (bus.openHandleCount(), 0u);
        EXPECT_EQ (bus.foreignPathAttemptCount(), 0u);
        EXPECT_EQ (bus.liveEnumerationCount(), 0u);
        bus.reset();
    }

    std::string plugUnit (uint16_t productId = 0x003F, std::shared_ptr<SimHid::RecordingDevice> unit = nullptr)
    {
        return bus.plug (unitWithProduct (productId), unit ? unit : std::make_shared<SimHid::RecordingDevice>());
    }

    SimHid::Bus& bus = SimHid::Bus::instance();
    RecordingHandler handler;
    std::unique_ptr<USBDeviceManager> manager =
        std::make_unique<USBDeviceManager> (&handler, USBDeviceManager::unitDeviceIds());
};

using DeviceManagerDiscovery = ManagerTest;
using DeviceManagerRemoval = ManagerTest;
using HIDDevice = ManagerTest;

} // namespace

TEST_F (DeviceManagerDiscovery, looksForNothingBeforeTheFirstScanAndReportsAStillPluggedDeviceOnce)
{
    plugUnit();
    EXPECT_EQ (bus.enumerateCount(), 0u);
    EXPECT_EQ (bus.openHandleCount(), 0u);
    for (int scan = 0; scan < 5; ++scan)
        manager->scanDevices();
    EXPECT_EQ (handler.events.size(), 1u);
    EXPECT_EQ (bus.openAttemptCount(), 1u);
    EXPECT_EQ (bus.enumerateCount(), 5u);
}
TEST_F (DeviceManagerDiscovery, opensOnlyTheUnitsTwoProductIdsInEnumerationOrder)
{
    bus.plug (unitWithProduct (0x0040), nullptr);
    const std::string first = plugUnit (0x003C);
    SimHid::DeviceDescription other;
    other.vendorId = 0x1234;
    other.productId = 0x003F;
    bus.plug (other, nullptr);
    const std::string second = plugUnit (0x003F);

    manager->scanDevices();

    ASSERT_EQ (handler.events.size(), 2u);
    EXPECT_TRUE (handler.events[0].added && handler.events[1].added);
    EXPECT_EQ (handler.events[0].device->getProductId(), 0x003C);
    EXPECT_EQ (handler.events[1].device->getProductId(), 0x003F);
    EXPECT_EQ (handler.events[1].device->getVendorId(), 0x04D8);
    EXPECT_EQ (bus.openAttemptCount(), 2u);
    EXPECT_EQ (bus.openHandleCount (first), 1u);
    EXPECT_EQ (bus.openHandleCount (second), 1u);
    EXPECT_EQ (manager->deviceCount(), 2u);

    manager.reset(); // closes both (checked on tear-down) without reporting a removal
    EXPECT_EQ (handler.events.size(), 2u);
}

TEST_F (DeviceManagerDiscovery, acceptsNothingWithAnEmptyIdList)
{
    plugUnit();
    manager = std::make_unique<USBDeviceManager> (&handler, std::vector<USBDeviceManager::DeviceIds> {});
    manager->scanDevices();
    EXPECT_TRUE (handler.events.empty());
    EXPECT_EQ (bus.openAttemptCount(), 0u);
}

TEST_F (DeviceManagerDiscovery, skipsADeviceThatCannotBeOpenedAndTriesAgainNextScan)
{
    const std::string path = plugUnit();
    bus.setOpenRefused (path, true);
    manager->scanDevices();
    EXPECT_TRUE (handler.events.empty());
    EXPECT_EQ (manager->deviceCount(), 0u);

    bus.setOpenRefused (path, false);
    manager->scanDevices();
    EXPECT_EQ (handler.added().size(), 1u);
}

TEST_F (DeviceManagerDiscovery, worksWithoutAHandler)
{
    const std::string path = plugUnit();
    manager = std::make_unique<USBDeviceManager> (nullptr, USBDeviceManager::unitDeviceIds());
    manager->scanDevices();
    EXPECT_EQ (manager->deviceCount(), 1u);
    bus.unplug (path);
    manager->scanDevices();   // reported to nobody; stays listed until closed
    EXPECT_EQ (manager->deviceCount(), 1u);
}

// Told once; freed by the scan that finds it closed, whether its owner closed it when told or later.
TEST_F (DeviceManagerRemoval, reportsAnUnpluggedDeviceOnceAndFreesItOnceClosed)
{
    for (bool closeOnRemoval : { true, false })
    {
        SCOPED_TRACE (closeOnRemoval);
        handler.events.clear();
        handler.closeOnRemoval = closeOnRemoval;
        const std::string path = plugUnit();
        manager->scanDevices();
        IUSBHIDDevice* device = handler.events.at (0).device;
        bus.unplug (path);
        manager->scanDevices();
        manager->scanDevices();
        EXPECT_EQ (handler.events, (std::vector<Event> { { true, device }, { false, device } }));
        EXPECT_EQ (manager->deviceCount(), closeOnRemoval ? 0u : 1u);

        if (! closeOnRemoval)
            device->close();   // the owner closes it later
        manager->scanDevices();
        EXPECT_EQ (handler.events.size(), 2u);
        EXPECT_EQ (manager->deviceCount(), 0u);
        EXPECT_EQ (bus.openHandleCount(), 0u);
    }
}
TEST_F (DeviceManagerRemoval, countsEveryListedDeviceGoneWhenNoHidDeviceIsLeft)
{
    const std::string first = plugUnit (0x003F);
    const std::string second = plugUnit (0x003C);
    manager->scanDevices();
    bus.reset();   // hid_enumerate now returns null
    manager->scanDevices();

    ASSERT_EQ (handler.events.size(), 4u);
    EXPECT_EQ (handler.events[2], (Event { false, handler.events[0].device }));
    EXPECT_EQ (handler.events[3], (Event { false, handler.events[1].device }));
    EXPECT_EQ (manager->deviceCount(), 0u);
}

TEST_F (DeviceManagerRemoval, reportsAdditionsBeforeRemovalsWithinOneScan)
{
    const std::string old = plugUnit (0x003F);
    manager->scanDevices();
    IUSBHIDDevice* oldDevice = handler.events.at (0).device;
    bus.unplug (old);
    plugUnit (0x003C);
    manager->scanDevices();

    ASSERT_EQ (handler.events.size(), 3u);
    EXPECT_TRUE (handler.events[1].added);
    EXPECT_EQ (handler.events[1].device->getProductId(), 0x003C);
    EXPECT_EQ (handler.events[2], (Event { false, oldDevice }));
}

TEST_F (DeviceManagerRemoval, replacesADeviceClosedWhileStillPluggedWithAFreshOne)
{
    const std::string path = plugUnit();
    manager->scanDevices();
    IUSBHIDDevice* old = handler.events.at (0).device;
    old->close();
    manager->scanDevices();

    ASSERT_EQ (handler.events.size(), 3u);
    EXPECT_TRUE (handler.events[1].added);
    EXPECT_NE (handler.events[1].device, old);
    EXPECT_EQ (handler.events[2], (Event { false, old }));
    EXPECT_EQ (manager->deviceCount(), 1u);
    EXPECT_EQ (bus.openHandleCount (path), 1u);

    manager->scanDevices();   // the fresh one is now simply present
    EXPECT_EQ (handler.events.size(), 3u);
}

// hidraw reuses the node: the unit plugged back at it is opened and reported, whether the owner
// closed the old device before (then freed) or not yet (then kept until closed).
TEST_F (DeviceManagerRemoval, findsAUnitPluggedBackAtTheSameNodeWhetherTheOldDeviceIsClosedOrNot)
{
    handler.closeOnRemoval = false;
    for (bool closedFirst : { true, false })
    {
        SCOPED_TRACE (closedFirst);
        handler.events.clear();
        const std::string path = plugUnit();
        manager->scanDevices();
        IUSBHIDDevice* old = handler.events.at (0).device;
        bus.unplug (path);
        manager->scanDevices();
        if (closedFirst)
            old->close();
        bus.plug (unitWithProduct (0x003F), std::make_shared<SimHid::RecordingDevice>(), path);
        manager->scanDevices();

        ASSERT_EQ (handler.events.size(), 3u);
        EXPECT_EQ (handler.events[1], (Event { false, old }));
        EXPECT_TRUE (handler.events[2].added);
        EXPECT_EQ (manager->deviceCount(), closedFirst ? 1u : 2u);

        if (! closedFirst)
            old->close();
        manager->scanDevices();
        EXPECT_EQ (handler.events.size(), 3u);
        EXPECT_EQ (manager->deviceCount(), 1u);
        const uint8_t report[2] = { 0x00, 0xB4 };
        EXPECT_EQ (handler.events[2].device->write (report, sizeof (report)), 2);
        bus.unplug (path);
        manager = std::make_unique<USBDeviceManager> (&handler, USBDeviceManager::unitDeviceIds());
    }
}
TEST_F (HIDDevice, writesTheReportAsGivenAndReturnsItsLengthOrMinusOne)
{
    auto unit = std::make_shared<SimHid::RecordingDevice>();
    const std::string path = plugUnit (0x003F, unit);
    manager->scanDevices();
    IUSBHIDDevice* device = handler.events.at (0).device;

    const uint8_t report[3] = { 0x00, 0xB4, 0x00 };
    EXPECT_EQ (device->write (report, sizeof (report)), 3);
    EXPECT_EQ (unit->writes(), (std::vector<std::vector<uint8_t>> { { 0x00, 0xB4, 0x00 } }));
    bus.setWriteResult (path, 1); // hidapi's count is not passed on, only that it is not negative
    EXPECT_EQ (device->write (report, sizeof (report)), 3);
    bus.setWriteResult (path, -1);
    EXPECT_EQ (device->write (report, sizeof (report)), -1);
    bus.setWriteResult (path, std::nullopt);
    bus.unplug (path);
    EXPECT_EQ (device->write (report, sizeof (report)), -1);
}
TEST_F (HIDDevice, readsReportsAndTimesOutWithZero)
{
    const std::string path = plugUnit();
    manager->scanDevices();
    IUSBHIDDevice* device = handler.events.at (0).device;
    uint8_t buffer[64] = {};
    EXPECT_EQ (device->read (buffer, sizeof (buffer), 0), 0);
    const uint8_t report[3] = { 0xC0, 0x01, 0x05 };
    bus.sendInputReport (path, report, sizeof (report));
    EXPECT_EQ (device->read (buffer, sizeof (buffer), 1000), 3);
    EXPECT_EQ (buffer[2], 0x05);
    bus.unplug (path);
    EXPECT_LT (device->read (buffer, sizeof (buffer), 1000), 0);
}

TEST_F (HIDDevice, failsReadsAndWritesOnceClosedWithoutReachingHidapi)
{
    const std::string path = plugUnit();
    manager->scanDevices();
    IUSBHIDDevice* device = handler.events.at (0).device;
    device->close();
    device->close();
    uint8_t buffer[64] = {};
    const uint8_t report[2] = { 0x00, 0xB4 };
    EXPECT_EQ (device->read (buffer, sizeof (buffer), 0), -1);
    EXPECT_EQ (device->write (report, sizeof (report)), -1);
    EXPECT_EQ (bus.writeCount(), 0u);
    EXPECT_EQ (bus.openHandleCount(), 0u);
}
