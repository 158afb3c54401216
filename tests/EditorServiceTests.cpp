#include "DeviceSafeString.h"
#include "KorvantalUSBPacketIO.h"
#include "LoaderImage.h"
#include "ServiceConnector.h"
#include "SimulatedUnit.h"
#include "TovarekMk2EditorService.h"
#include "USBDeviceManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Korvantal::Result;
using TovarekMk2::TovarekMk2EditorService;
using TovarekMk2::TovarekMk2ParamMap;
using Service = TovarekMk2::TovarekMk2EditorService;

namespace
{
Korvantal::KorvantalData::FirmwareVersionInfo applicationMinimum()
{
    Korvantal::KorvantalData::FirmwareVersionInfo minimum;
    minimum.dspVersion = { 4, 2, 0, 0 };
    return minimum;
}
} // namespace

//==============================================================================
// Without a unit

TEST (EditorServiceStart, beginsDisconnectedWithPlaceholderNamesAndPresetZero)
{
    const auto minimum = applicationMinimum();
    Service service (&minimum);

    EXPECT_EQ (service.getState(), Service::Disconnected);
    EXPECT_EQ (service.getLastError(), "");
    EXPECT_EQ (service.getCurrentPresetIndex(), 0);
    EXPECT_FALSE (service.isModified());

    for (int slot = 0; slot < Service::kUserSlotCount; ++slot)
    {
        EXPECT_EQ (service.getAmpName (slot), "?");
        EXPECT_EQ (service.getCabName (slot), "?");
    }

    Korvantal::KorvantalData::FirmwareVersionInfo versions;
    versions.extraCode = 7;
    EXPECT_FALSE (service.getFirmwareVersionInfo (versions));
    EXPECT_EQ (versions.systemVersion, (std::array<uint8_t, 4> {}));
    EXPECT_EQ (versions.dspVersion, (std::array<uint8_t, 4> {}));
}

TEST (EditorServiceStart, keepsTheProductDelaysUnlessTheyAreShortened)
{
    const Service::Timing timing;
    EXPECT_EQ (timing.settleDelay.count(), 3000);
    EXPECT_EQ (timing.reconnectPoll.count(), 500);
    EXPECT_EQ (timing.reconnectLimit.count(), 29501);
    EXPECT_EQ (timing.readyWait.count(), 3000);
    EXPECT_EQ (Service::kMaxPresetChangeRounds, 16);
}

TEST (EditorServiceStart, answersAnEmptyNameForASlotOutsideTheThree)
{
    Service service (nullptr);
    EXPECT_EQ (service.getAmpName (3), "");
    EXPECT_EQ (service.getAmpName (-1), "");
    EXPECT_EQ (service.getCabName (3), "");
}

TEST (EditorServiceStarters, refuseEveryTaskWhileNotConnectedAndChangeNothing)
{
    Service service (nullptr);
    std::vector<Service::State> states;
    Service::Listener listener;
    listener.stateChanged = [&] (Service::State s) { states.push_back (s); };
    service.addListener (&listener);

    const std::string notConnected = "Cannot start task while not connected";
    Korvantal::KorvantalData::Amp amp;
    Korvantal::KorvantalData::Cabinet cabinet;
    Korvantal::KorvantalData::FullTovarekMk2Preset preset;
    Korvantal::KorvantalData::TovarekMk2Archive archive;

    EXPECT_EQ (service.beginRefreshAll (true).message, notConnected);
    EXPECT_EQ (service.setCurrentAmpData (amp).message, notConnected);
    EXPECT_EQ (service.setAmpData (0, amp).message, notConnected);
    EXPECT_EQ (service.setCurrentCabData (cabinet).message, notConnected);
    EXPECT_EQ (service.setCabData (2, cabinet).message, notConnected);
    EXPECT_EQ (service.setCurrentPresetData (preset).message, notConnected);
    EXPECT_EQ (service.getCurrentPresetData ([] (const auto&) {}).message, notConnected);
    EXPECT_EQ (service.saveCurrentPreset().message, notConnected);
    EXPECT_EQ (service.beginBackup (nullptr, [] (const auto&) {}).message, notConnected);
    EXPECT_EQ (service.beginRestore (archive, nullptr).message, notConnected);
    EXPECT_EQ (service.requestChangePreset (3).message, notConnected);
    EXPECT_EQ (service.setParameterValue (kParamBoostDrive, { TovarekMk2ParamMap::kFloat, 0.25 }).message, notConnected);
    EXPECT_EQ (service.beginFirmwareUpdate (archive, nullptr).message, notConnected);

    // A re-read asked for while disconnected is only remembered.
    EXPECT_TRUE (service.requestRefreshCurrentPreset (true).ok);

    EXPECT_EQ (service.getState(), Service::Disconnected);
    EXPECT_TRUE (states.empty());
    service.removeListener (&listener);
}

TEST (EditorServiceStarters, refuseAPresetIndexOutsideZeroToSix)
{
    Service service (nullptr);
    EXPECT_EQ (service.requestChangePreset (7).message, "Invalid preset index: 7");
    EXPECT_EQ (service.requestChangePreset (-1).message, "Invalid preset index: -1");
}

TEST (EditorServiceStarters, refuseAUserSlotOutsideTheThree)
{
    Service service (nullptr);
    EXPECT_EQ (service.setAmpData (3, {}).message, "Invalid amp slot: 3");
    EXPECT_EQ (service.setCabData (-1, {}).message, "Invalid cabinet slot: -1");
}

TEST (EditorServiceParameters, giveTheDefaultOfAParameterWithNothingStored)
{
    Service service (nullptr);
    Service::ParameterValue value;

    ASSERT_TRUE (service.getParameterValue (kParamReverbType, value).ok);
    EXPECT_EQ (value.type, (uint32_t) TovarekMk2ParamMap::kInteger);
    EXPECT_EQ (value.value, 4.0);

    ASSERT_TRUE (service.getParameterValue (kParamGateThreshold, value).ok);
    EXPECT_EQ (value.type, (uint32_t) TovarekMk2ParamMap::kFloat);
    EXPECT_EQ (value.value, -70.0);
}

TEST (EditorServiceParameters, refuseAnIdThatTheMapDoesNotHold)
{
    Service service (nullptr);
    Service::ParameterValue value { TovarekMk2ParamMap::kFloat, 42.0 };
    EXPECT_EQ (service.getParameterValue (static_cast<TovarekMk2ParamID> (6), value).message, "No scope for parameter");
    EXPECT_EQ (value.value, 42.0);

    Service::ParameterInfo info;
    EXPECT_EQ (service.getParameterInfo (kParamPositionAmp, info).message, "Parameter info not found");
    ASSERT_TRUE (service.getParameterInfo (kParamEchoType, info).ok);
    EXPECT_EQ (info.id, (uint32_t) kParamEchoType);
    EXPECT_EQ (info.options.size(), 5u);
}

TEST (EditorServiceNormalize, fillsDefaultsClampsRoundsAndDropsWhatIsNoPresetParameter)
{
    Service service (nullptr);
    Korvantal::KorvantalData::FullTovarekMk2Preset preset;
    preset.parameters[kParamBoostDrive] = 1.5f;          // above its maximum 1
    preset.parameters[kParamGateThreshold] = -100.0f;    // below its minimum -80
    preset.parameters[kParamReverbType] = 2.5f;          // integer: rounds away from zero
    preset.parameters[kParamEq1Type] = -0.5f;            // integer: -1, its minimum
    preset.parameters[kParamCabLevel] = std::numeric_limits<float>::quiet_NaN();
    preset.parameters[kParamMainLevel] = 0.5f;           // a global
    preset.parameters[kParamStatusLevel] = 0.5f;         // a status value
    preset.parameters[6] = 1.0f;                         // no parameter at all

    ASSERT_TRUE (service.normalizePresetParameters (preset).ok);

    const auto& p = preset.parameters;
    EXPECT_EQ (p.at (kParamBoostDrive), 1.0f);
    EXPECT_EQ (p.at (kParamGateThreshold), -80.0f);
    EXPECT_EQ (p.at (kParamReverbType), 3.0f);
    EXPECT_EQ (p.at (kParamEq1Type), -1.0f);
    EXPECT_EQ (p.at (kParamCabLevel), 0.0f);             // not a number: its default
    EXPECT_EQ (p.at (kParamBoostTone), 0.5f);            // missing: its default
    EXPECT_EQ (p.count (kParamMainLevel), 0u);
    EXPECT_EQ (p.count (kParamStatusLevel), 0u);
    EXPECT_EQ (p.count (6), 0u);

    TovarekMk2ParamMap map;
    size_t presetParameters = 0;
    for (const auto* info : map.getAllParameterInfo())
        if (info->scope == TovarekMk2ParamMap::kPreset)
            ++presetParameters;
    EXPECT_EQ (p.size(), presetParameters);
}

TEST (EditorServiceLifetime, destroysAtOnceWithoutAUnit)
{
    auto service = std::make_unique<Service> (nullptr);
    service.reset();
    SUCCEED();
}

//==============================================================================
// With a simulated unit, through the real device manager, transport and protocol

namespace
{
using namespace std::chrono_literals;
namespace Data = Korvantal::KorvantalData;

constexpr auto kWait = std::chrono::milliseconds (20000);
constexpr uint16_t kVendorId = 0x04D8;
constexpr uint16_t kProductId = 0x003F;

// Device block types as the unit numbers them.
constexpr uint8_t kGlobalsBlock = 1, kPresetBlock = 3, kAmpNameBlock = 5, kAmpDataBlock = 6, kFilterBlock = 8,
                  kCabNameBlock = 9, kCabDataBlock = 10;

Service::Timing fastTiming()
{
    Service::Timing timing;
    timing.settleDelay = 1ms;
    timing.reconnectPoll = 2ms;
    timing.reconnectLimit = 10000ms;
    timing.readyWait = 1ms;
    return timing;
}

const char* stateName (Service::State state)
{
    switch (state)
    {
        case Service::Disconnected:     return "Disconnected";
        case Service::Idle:             return "Idle";
        case Service::Busy:             return "Busy";
        case Service::Refreshing:       return "Refreshing";
        case Service::Sending:          return "Sending";
        case Service::Reading:          return "Reading";
        case Service::Restoring:        return "Restoring";
        case Service::BackingUp:        return "BackingUp";
        case Service::UpdatingFirmware: return "UpdatingFirmware";
        case Service::Reconnecting:     return "Reconnecting";
        case Service::FirmwareTooOld:   return "FirmwareTooOld";
        case Service::Error:            return "Error";
    }
    return "?";
}

// Everything the service tells its listener, in order, as text ("Idle", "data", "param 146"),
// with bounded waits. Other threads may add test events of their own.
class Recorder
{
public:
    explicit Recorder (Service& service) : _service (service)
    {
        _listener.stateChanged = [this] (Service::State s) { add (stateName (s)); };
        _listener.dataRefreshed = [this] { add ("data"); };
        _listener.parameterValueChanged = [this] (TovarekMk2ParamID id, const Service::ParameterValue& value)
        {
            std::lock_guard<std::mutex> lock (_mutex);
            _parameters.push_back ({ id, value });
            _events.push_back ("param " + std::to_string ((int) id));
            _changed.notify_all();
        };
        _service.addListener (&_listener);
    }

    ~Recorder() { _service.removeListener (&_listener); }

    void add (const std::string& event)
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _events.push_back (event);
        _changed.notify_all();
    }

    std::vector<std::string> events() const
    {
        std::lock_guard<std::mutex> lock (_mutex);
        return _events;
    }

    // Only the events that name a state.
    std::vector<std::string> states() const
    {
        std::vector<std::string> result;
        for (const auto& e : events())
            for (uint32_t s = 0; s <= Service::Error; ++s)
                if (e == stateName ((Service::State) s))
                    result.push_back (e);
        return result;
    }

    std::vector<std::pair<TovarekMk2ParamID, Service::ParameterValue>> parameters() const
    {
        std::lock_guard<std::mutex> lock (_mutex);
        return _parameters;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _events.clear();
        _parameters.clear();
    }

    size_t count (const std::string& event) const
    {
        const auto all = events();
        return (size_t) std::count (all.begin(), all.end(), event);
    }

    bool waitForCount (const std::string& event, size_t count)
    {
        std::unique_lock<std::mutex> lock (_mutex);
        return _changed.wait_for (lock, kWait, [&] { return (size_t) std::count (_events.begin(), _events.end(), event) >= count; });
    }

    bool waitFor (const std::string& event) { return waitForCount (event, 1); }

private:
    Service& _service;
    Service::Listener _listener;
    mutable std::mutex _mutex;
    std::condition_variable _changed;
    std::vector<std::string> _events;
    std::vector<std::pair<TovarekMk2ParamID, Service::ParameterValue>> _parameters;
};

// The requests among the host's packets, as text: "version", "read 3/0", "write 6/5",
// "program 4", "program?", "status?", "set 146", "firmware". Chunks and acknowledgements are left out.
std::vector<std::string> requests (const std::vector<std::vector<uint8_t>>& packets)
{
    std::vector<std::string> result;

    for (const auto& p : packets)
    {
        if (p.empty())
            continue;

        auto word = [&] (size_t at) { return at + 1 < p.size() ? (int) (p[at] | (p[at + 1] << 8)) : -1; };
        auto byte = [&] (size_t at) { return at < p.size() ? (int) p[at] : -1; };

        switch (p[0])
        {
            case 0xB5: result.push_back ("version"); break;
            case 0xB4: result.push_back ("ping"); break;
            case 0xB1: result.push_back ("firmware"); break;
            case 0xC5: result.push_back ("read " + std::to_string (byte (2)) + "/" + std::to_string (word (3))); break;
            case 0xC4: result.push_back ("write " + std::to_string (byte (2)) + "/" + std::to_string (word (3))); break;
            case 0xC9: result.push_back ("program " + std::to_string (byte (2))); break;
            case 0xCA: result.push_back ("program?"); break;
            case 0xCE: result.push_back ("status?"); break;
            case 0xC7: result.push_back ("set " + std::to_string (word (2))); break;
            default: break;
        }
    }

    return result;
}

size_t countOf (const std::vector<std::string>& list, const std::string& item)
{
    return (size_t) std::count (list.begin(), list.end(), item);
}

// Fails the whole program when the action does not return in time: a hung thread cannot be
// recovered from inside a test.
void expectReturnsInTime (std::function<void()> action)
{
    auto done = std::async (std::launch::async, std::move (action));

    if (done.wait_for (kWait) != std::future_status::ready)
    {
        std::fprintf (stderr, "Action did not return within the time limit\n");
        std::fflush (stderr);
        std::_Exit (1);
    }

    done.get();
}

// The application's side of the service over one simulated unit: it scans for the unit, builds
// transport and protocol when it appears and hands the protocol to the service, and detaches and
// destroys them in the application's order when it goes. The test thread is the message thread.
class ServiceRig
{
public:
    explicit ServiceRig (SimUnit::UnitOptions options = {}, Service::Timing timing = fastTiming(),
                         Data::FirmwareVersionInfo minimum = applicationMinimum())
        : _minimum (minimum)
    {
        options.description.vendorId = kVendorId;
        options.description.productId = kProductId;
        _unit = std::make_unique<SimUnit::SimulatedUnit> (std::move (options));
        _service = std::make_unique<Service> (&_minimum, timing);
        _recorder = std::make_unique<Recorder> (*_service);
        _connector = std::make_unique<TestSupport::ServiceConnector> (_service.get(), kVendorId, kProductId);
    }

    ~ServiceRig()
    {
        // The application's shut-down order: the service, then the connection, then the devices.
        destroyService();
        _connector.reset();
        _unit.reset();
    }

    Service& service() { return *_service; }
    SimUnit::SimulatedUnit& unit() { return *_unit; }
    Recorder& recorder() { return *_recorder; }
    Korvantal::KorvantalProtocol* protocol() { return _connector->protocol(); }

    // One tick of the application's timer.
    void scan() { _connector->scan(); }

    bool scanUntil (const std::function<bool()>& condition, std::chrono::milliseconds timeout = kWait)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;

        for (;;)
        {
            scan();

            if (condition())
                return true;

            if (std::chrono::steady_clock::now() >= deadline)
                return false;

            std::this_thread::sleep_for (1ms); // the timer's period, shortened
        }
    }

    // Plugs the unit in and scans until the service has its protocol.
    bool connect()
    {
        _unit->plug();
        return scanUntil ([this] { return _connector->protocol() != nullptr; });
    }

    // Connects and waits for the full refresh to end: the unit's status report is the last thing it causes.
    bool connectAndRefresh()
    {
        if (! connect())
            return false;

        return _recorder->waitFor ("param " + std::to_string ((int) kParamStatusLevel))
               && _service->getState() == Service::Idle;
    }

    // Returns once every task queued so far has run: a set-parameter task queued behind them
    // sends its packet only then. Only while the service is idle.
    bool drainWorker()
    {
        const auto before = countOf (requests (_unit->hostPackets()), "set 214");

        if (! _service->setParameterValue (kParamStatusLevel, { TovarekMk2ParamMap::kFloat, 0.5 }).ok)
            return false;

        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (countOf (requests (_unit->hostPackets()), "set 214") <= before)
        {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            _unit->waitForHostPackets (_unit->hostPackets().size() + 1, 10ms);
        }

        return true;
    }

    void destroyService()
    {
        _connector->forgetService();
        _recorder.reset();
        _service.reset();
    }

private:
    Data::FirmwareVersionInfo _minimum;
    std::unique_ptr<SimUnit::SimulatedUnit> _unit;
    std::unique_ptr<Service> _service;
    std::unique_ptr<Recorder> _recorder;
    std::unique_ptr<TestSupport::ServiceConnector> _connector;
};

SimUnit::UnitOptions unitWithVersions (SimUnit::Version system, SimUnit::Version dsp)
{
    SimUnit::UnitOptions options;
    options.systemVersion = system;
    options.dspVersion = dsp;
    return options;
}

Data::Amp makeAmp (const std::string& name, uint32_t id)
{
    Data::Amp amp;
    amp.data.parameters = { { 1, 2.0f }, { 7, -3.5f } };
    amp.data.text1 = "Circuit of " + name;
    amp.nameAndID = { id, name };
    amp.finishingFilter[1] = 0x12345678;
    return amp;
}

Data::Cabinet makeCabinet (const std::string& name)
{
    Data::Cabinet cabinet;
    cabinet.name = name;
    cabinet.impulse[0][3] = 0.25f;
    cabinet.impulse[1][5] = -0.5f;
    return cabinet;
}

std::vector<uint8_t> encoded (Korvantal::Result (*encoder) (const Data::AmpData&, uint8_t*), const Data::AmpData& data)
{
    std::vector<uint8_t> block (Data::kAmpDataBlockSize);
    encoder (data, block.data());
    return block;
}

std::vector<uint8_t> ampNameBlock (const Data::AmpNameAndID& nameAndID)
{
    std::vector<uint8_t> block (Data::kAmpNameAndIDBlockSize);
    Data::encodeAmpNameAndID (nameAndID, block.data());
    return block;
}

std::vector<uint8_t> cabNameBlock (const std::string& name)
{
    std::vector<uint8_t> block (Data::kCabinetNameBlockSize);
    Data::encodeNameSegment (name, block.data());
    return block;
}

std::vector<uint8_t> impulseBlock (const Data::Impulse& impulse)
{
    std::vector<uint8_t> block (Data::kCabinetIRBlockSize);
    Data::encodeCabinetIR (impulse, block.data());
    return block;
}

std::vector<uint8_t> filterBlock (const Data::FinishingFilter& filter)
{
    std::vector<uint8_t> block (Data::kFinishingFilterBlockSize);
    Data::encodeFinishingFilter (filter, block.data());
    return block;
}

const std::vector<std::string> kFullRefreshRequests {
    "version", "ping",
    "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0",
    "read 5/4", "read 9/4", "read 5/5", "read 9/5", "read 5/6", "read 9/6",
    "status?"
};
} // namespace

TEST (EditorServiceRefresh, readsVersionsGlobalsEditBufferAndSlotNamesThenAsksForStatus)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    auto& service = rig.service();

    EXPECT_EQ (requests (rig.unit().hostPackets()), kFullRefreshRequests);
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Idle", "Refreshing", "Refreshing", "Idle" }));

    Data::FirmwareVersionInfo versions;
    EXPECT_TRUE (service.getFirmwareVersionInfo (versions));
    EXPECT_EQ (versions.systemVersion, (std::array<uint8_t, 4> { 4, 1, 0, 0 }));
    EXPECT_EQ (versions.dspVersion, (std::array<uint8_t, 4> { 4, 2, 0, 0 }));

    EXPECT_EQ (service.getCurrentPresetIndex(), 0); // the unit is on program 1
    EXPECT_EQ (service.getCurrentAmpName(), "Amp 0");
    EXPECT_EQ (service.getCurrentCabName(), "Cab 0");
    EXPECT_FALSE (service.isModified());

    for (int slot = 0; slot < 3; ++slot)
    {
        EXPECT_EQ (service.getAmpName (slot), "Amp " + std::to_string (slot + 4));
        EXPECT_EQ (service.getCabName (slot), "Cab " + std::to_string (slot + 4));
    }

    // The edit buffer holds 0x20 (an integer parameter) as 0.25; it reads back rounded.
    Service::ParameterValue value;
    ASSERT_TRUE (service.getParameterValue (kParamEq2On, value).ok);
    EXPECT_EQ (value.type, (uint32_t) TovarekMk2ParamMap::kInteger);
    EXPECT_EQ (value.value, 0.0);

    // The status report's level byte 128 became the status level.
    ASSERT_TRUE (service.getParameterValue (kParamStatusLevel, value).ok);
    EXPECT_FLOAT_EQ ((float) value.value, 128 / 255.0f);
}

TEST (EditorServiceRefresh, rejectsAUnitOfAnotherTypeWithoutReadingAnything)
{
    ServiceRig rig (unitWithVersions ({ 3, 9, 9 }, { 4, 2, 0 }));
    ASSERT_TRUE (rig.connect());
    ASSERT_TRUE (rig.recorder().waitFor ("Error"));

    EXPECT_EQ (rig.service().getLastError(), "Connected device is not supported");
    EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "version", "ping" }));
    EXPECT_EQ (rig.service().getAmpName (0), "?");
}

TEST (EditorServiceRefresh, stopsAtFirmwareTooOldBelowTheMinimumDspVersion)
{
    ServiceRig rig (unitWithVersions ({ 4, 1, 0 }, { 4, 1, 9 }));
    ASSERT_TRUE (rig.connect());
    ASSERT_TRUE (rig.recorder().waitFor ("FirmwareTooOld"));

    EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "version", "ping" }));
    EXPECT_EQ (rig.service().getCurrentAmpName(), "");

    // Only a firmware update may start from here.
    EXPECT_EQ (rig.service().beginRefreshAll (false).message, "Cannot start task while busy");
    EXPECT_EQ (rig.service().requestChangePreset (1).message, "Cannot start task while busy");
    EXPECT_TRUE (rig.service().beginFirmwareUpdate ({}, nullptr).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("Idle"));
}

TEST (EditorServiceRefresh, comparesTheSystemVersionWhenTheMinimumNamesOne)
{
    Data::FirmwareVersionInfo minimum = applicationMinimum();
    minimum.systemVersion = { 4, 1, 1, 0 };
    ServiceRig rig (unitWithVersions ({ 4, 1, 0 }, { 4, 9, 0 }), fastTiming(), minimum);
    ASSERT_TRUE (rig.connect());
    ASSERT_TRUE (rig.recorder().waitFor ("FirmwareTooOld"));
    EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "version", "ping" }));
}

TEST (EditorServiceRefresh, withoutDeviceChecksSkipsVersionAndPing)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    ASSERT_TRUE (rig.service().beginRefreshAll (false).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("param 214"));

    EXPECT_EQ (requests (rig.unit().hostPackets()),
               std::vector<std::string> (kFullRefreshRequests.begin() + 2, kFullRefreshRequests.end()));
}

TEST (EditorServiceRefresh, keepsTheSlotNamesReadBeforeAFailureAndShowsTheError)
{
    ServiceRig rig;
    // The seventh block read of the refresh is slot 1's amp name (index 5).
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Refuse, 0xC5, 7));
    ASSERT_TRUE (rig.connect());
    ASSERT_TRUE (rig.recorder().waitFor ("Error"));

    EXPECT_EQ (rig.service().getLastError(), "Failed to get amp name and ID");
    EXPECT_EQ (rig.service().getAmpName (0), "Amp 4");
    EXPECT_EQ (rig.service().getCabName (0), "Cab 4");
    EXPECT_EQ (rig.service().getAmpName (1), "?");
    EXPECT_EQ (rig.service().getAmpName (2), "?");
}

TEST (EditorServiceParametersLive, sendsASetParameterPacketStoresAndTells)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    ASSERT_TRUE (rig.service().setParameterValue (kParamReverbDecay, { TovarekMk2ParamMap::kFloat, 0.75 }).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("param 146"));

    // C7 08, id 146 little-endian, two zero bytes, 0.75f as its four bytes.
    const auto packets = rig.unit().hostPackets();
    ASSERT_EQ (packets.size(), 1u);
    EXPECT_EQ (std::vector<uint8_t> (packets[0].begin(), packets[0].begin() + 10),
               (std::vector<uint8_t> { 0xC7, 0x08, 0x92, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x3F }));

    Service::ParameterValue value;
    ASSERT_TRUE (rig.service().getParameterValue (kParamReverbDecay, value).ok);
    EXPECT_EQ (value.value, 0.75);
    EXPECT_TRUE (rig.service().isModified());
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Idle" }));
}

TEST (EditorServiceParametersLive, storesAKnobTurnedOnTheUnitAndRoundsIntegerKinds)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    rig.unit().turnKnob (kParamGateThreshold, -42.5f);
    rig.unit().turnKnob (kParamReverbType, 2.5f);
    rig.unit().turnKnob (kParamEq1Type, -2.5f);
    ASSERT_TRUE (rig.recorder().waitForCount ("param 18", 1));

    const auto reported = rig.recorder().parameters();
    ASSERT_EQ (reported.size(), 3u);
    EXPECT_EQ (reported[0].first, kParamGateThreshold);
    EXPECT_EQ (reported[0].second.value, -42.5);
    EXPECT_EQ (reported[1].second.type, (uint32_t) TovarekMk2ParamMap::kInteger);
    EXPECT_EQ (reported[1].second.value, 3.0);
    EXPECT_EQ (reported[2].second.value, -3.0);

    Service::ParameterValue value;
    ASSERT_TRUE (rig.service().getParameterValue (kParamReverbType, value).ok);
    EXPECT_EQ (value.value, 3.0);
    ASSERT_TRUE (rig.service().getParameterValue (kParamEq1Type, value).ok);
    EXPECT_EQ (value.value, -3.0);
    EXPECT_TRUE (rig.service().isModified());
}

TEST (EditorServiceParametersLive, dropsReportsOfUnknownIdsAndStatusOfTheWrongLength)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    rig.unit().turnKnob (6, 1.0f);                                   // no such parameter
    rig.unit().sendReport ({ 0xCE, 11, 0, 0, 0, 0, 0, 0, 255, 0, 3, 3, 3 });       // 11 bytes
    rig.unit().sendReport ({ 0xCE, 13, 0, 0, 0, 0, 0, 0, 255, 0, 3, 3, 3, 3, 0 }); // 13 bytes
    rig.unit().sendReport ({ 0xCE, 12, 0, 0, 0, 0, 0, 0, 51, 0, 0, 0, 0, 0 });     // all numbers 0
    ASSERT_TRUE (rig.recorder().waitFor ("param 214"));

    EXPECT_EQ (rig.recorder().events(), (std::vector<std::string> { "param 214" }));
    Service::ParameterValue value;
    ASSERT_TRUE (rig.service().getParameterValue (kParamStatusLevel, value).ok);
    EXPECT_FLOAT_EQ ((float) value.value, 0.2f);
    EXPECT_EQ (rig.service().getCurrentAmpIndex(), 0);
    EXPECT_EQ (rig.service().getCurrentPresetIndex(), 0);
}

TEST (EditorServiceParametersLive, followsPositionReportsAndReReadsTheEditBuffer)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    // The footswitch loads program 3: a 0x1002 report, then a status report naming it.
    rig.unit().pressFootswitch (3);
    ASSERT_TRUE (rig.recorder().waitForCount ("data", 2));
    ASSERT_TRUE (rig.drainWorker());

    EXPECT_EQ (rig.service().getCurrentPresetIndex(), 2);
    EXPECT_EQ (rig.service().getCurrentAmpName(), "Amp 3");
    EXPECT_FALSE (rig.service().isModified());
    const auto sent = requests (rig.unit().hostPackets());
    EXPECT_EQ (std::vector<std::string> (sent.begin(), sent.begin() + 5),
               (std::vector<std::string> { "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0" }));

    // 0x1002 with 0 gives -1 until the re-read it asks for (held back here) puts program 3 back.
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Delay, 0xCA, 1, 500000us));
    rig.unit().sendReport ({ 0xCF, 8, 0x02, 0x10, 0, 0, 0, 0, 0, 0 });
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.service().getCurrentPresetIndex() == -1; }));
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.service().getCurrentPresetIndex() == 2; }));
}

TEST (EditorServiceParametersLive, followsAmpAndCabinetMovesWithAReReadThatKeepsTheModifiedMark)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    rig.unit().sendReport ({ 0xCF, 8, 0x00, 0x10, 0, 0, 0x00, 0x00, 0x40, 0x40 }); // 0x1000: amp 3
    ASSERT_TRUE (rig.recorder().waitForCount ("data", 2));
    EXPECT_EQ (rig.service().getCurrentAmpIndex(), 2);
    EXPECT_TRUE (rig.service().isModified());

    rig.unit().sendReport ({ 0xCF, 8, 0x01, 0x10, 0, 0, 0x00, 0x00, 0x00, 0x40 }); // 0x1001: cabinet 2
    ASSERT_TRUE (rig.recorder().waitForCount ("data", 4));
    EXPECT_EQ (rig.service().getCurrentCabIndex(), 1);

    // A status report that moves the amp (byte 8) and the cabinet (byte 9) asks for a re-read too.
    rig.unit().sendReport ({ 0xCE, 12, 0, 0, 0, 0, 0, 0, 255, 0, 5, 4, 1, 0 });
    ASSERT_TRUE (rig.recorder().waitForCount ("data", 6));
    EXPECT_EQ (rig.service().getCurrentAmpIndex(), 4);
    EXPECT_EQ (rig.service().getCurrentCabIndex(), 3);
    EXPECT_TRUE (rig.service().isModified());
}

TEST (EditorServiceTasks, sendAnAmpToAUserSlotInBlockOrder)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    const auto amp = makeAmp ("Tweed", 42);
    ASSERT_TRUE (rig.service().setAmpData (1, amp).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "write 6/5", "write 8/5", "write 5/5" }));
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Sending", "Sending", "Idle" }));
    EXPECT_EQ (rig.unit().block (kAmpDataBlock, 5), encoded (Data::encodeAmpData, amp.data));
    EXPECT_EQ (rig.unit().block (kFilterBlock, 5), filterBlock (amp.finishingFilter));
    EXPECT_EQ (rig.unit().block (kAmpNameBlock, 5), ampNameBlock (amp.nameAndID));
    EXPECT_EQ (rig.service().getAmpName (1), "Tweed");
    EXPECT_FALSE (rig.service().isModified());
}

// A cancelAll that lands between a starter's state change and its push (a communication error on
// the reader thread) cancels the task just as it would have, had the task been queued first.
TEST (EditorServiceTasks, aCancelBetweenTheStartersStateAndItsPushDropsTheTask)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();

    Service::Listener canceller;
    bool cancelled = false;
    canceller.stateChanged = [&] (Service::State state)
    {
        if (state == Service::Sending && ! cancelled)
        {
            cancelled = true;
            rig.service().cancelAll();
        }
    };
    rig.service().addListener (&canceller);

    ASSERT_TRUE (rig.service().setAmpData (1, makeAmp ("Tweed", 42)).ok);
    rig.service().removeListener (&canceller);
    EXPECT_TRUE (cancelled);

    // A task queued in spite of the cancel would reach the unit within microseconds; this bound can
    // only let such a fault pass on a stalled machine, never fail a correct service.
    EXPECT_FALSE (rig.unit().waitForHostPackets (1, 500ms));
    EXPECT_TRUE (requests (rig.unit().hostPackets()).empty());
}

TEST (EditorServiceTasks, sendACabinetToTheEditBufferWithADeviceSafeName)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    const auto cabinet = makeCabinet ("a very long cabinet name~");
    ASSERT_TRUE (rig.service().setCurrentCabData (cabinet).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "write 10/0", "write 9/0" }));
    const std::string safe = Korvantal::makeDeviceSafeString (cabinet.name, 15);
    EXPECT_EQ (safe.size(), 15u);
    EXPECT_EQ (rig.unit().block (kCabDataBlock, 0), impulseBlock (cabinet.impulse));
    EXPECT_EQ (rig.unit().block (kCabNameBlock, 0), cabNameBlock (safe));
    EXPECT_EQ (rig.service().getCurrentCabName(), safe);
    EXPECT_TRUE (rig.service().isModified());
}

TEST (EditorServiceTasks, writeAPresetThenReReadTheEditBuffer)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    Data::FullTovarekMk2Preset preset;
    preset.parameters = { { kParamReverbDecay, 0.125f } };
    preset.ampData = makeAmp ("Plexi", 9).data;
    preset.ampNameAndID = { 9, "Plexi" };
    preset.cabinet = makeCabinet ("4x12");
    ASSERT_TRUE (rig.service().setCurrentPresetData (preset).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()),
               (std::vector<std::string> { "write 3/0", "write 6/0", "write 8/0", "write 5/0", "write 10/0", "write 9/0",
                                           "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0" }));
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Sending", "Sending", "Idle" }));
    EXPECT_EQ (rig.service().getCurrentAmpName(), "Plexi");
    EXPECT_EQ (rig.service().getCurrentCabName(), "4x12");

    Service::ParameterValue value;
    ASSERT_TRUE (rig.service().getParameterValue (kParamReverbDecay, value).ok);
    EXPECT_EQ (value.value, 0.125);
}

TEST (EditorServiceTasks, readAPresetAndHandItToTheCallbackOnTheWorker)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    Data::FullTovarekMk2Preset received;
    std::thread::id callbackThread;
    ASSERT_TRUE (rig.service().getCurrentPresetData ([&] (const Data::FullTovarekMk2Preset& preset)
    {
        received = preset;
        callbackThread = std::this_thread::get_id();
        rig.recorder().add ("read");
    }).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("read"));

    EXPECT_EQ (requests (rig.unit().hostPackets()),
               (std::vector<std::string> { "read 3/0", "read 6/0", "read 8/0", "read 5/0", "read 10/0", "read 9/0" }));
    EXPECT_EQ (rig.recorder().events(), (std::vector<std::string> { "Reading", "Reading", "Idle", "read" }));
    EXPECT_NE (callbackThread, std::this_thread::get_id());
    EXPECT_EQ (received.ampNameAndID.name, "Amp 0");
    EXPECT_EQ (received.ampNameAndID.id, 100u);
    EXPECT_EQ (received.cabinet.name, "Cab 0");
    EXPECT_EQ (received.ampData.text1, "Circuit 0");
    EXPECT_EQ (received.finishingFilter[1], 0u);
    EXPECT_EQ (received.parameters.at (0x20), 0.25f);
}

TEST (EditorServiceTasks, storeTheEditBufferAtTheCurrentProgramFromIndexZero)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    ASSERT_TRUE (rig.service().saveCurrentPreset().ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()),
               (std::vector<std::string> { "write 3/1", "read 6/0", "write 6/1", "read 8/0", "write 8/1", "read 5/0", "write 5/1",
                                           "read 10/0", "write 10/1", "read 9/0", "write 9/1",
                                           "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0" }));
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Reading", "Sending", "Idle" }));
    for (uint8_t type : { kAmpDataBlock, kFilterBlock, kAmpNameBlock, kCabDataBlock, kCabNameBlock })
        EXPECT_EQ (rig.unit().block (type, 1), rig.unit().block (type, 0)) << "block type " << (int) type;
}

TEST (EditorServiceTasks, backUpGlobalsAndSevenPresetsReportingSevenths)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    std::vector<double> progress;
    Data::TovarekMk2Archive archive;
    int completions = 0;
    ASSERT_TRUE (rig.service().beginBackup ([&] (double p) { progress.push_back (p); },
                                            [&] (const Data::TovarekMk2Archive& a)
                                            {
                                                archive = a;
                                                ++completions;
                                                rig.recorder().add ("backed up");
                                            }).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("backed up"));

    std::vector<std::string> expected { "read 1/0" };
    for (int i = 0; i < 7; ++i)
        for (int type : { 3, 6, 8, 5, 10, 9 })
            expected.push_back ("read " + std::to_string (type) + "/" + std::to_string (i));
    EXPECT_EQ (requests (rig.unit().hostPackets()), expected);

    ASSERT_EQ (progress.size(), 7u);
    for (int i = 0; i < 7; ++i)
        EXPECT_DOUBLE_EQ (progress[(size_t) i], i / 7.0);

    EXPECT_EQ (completions, 1);
    ASSERT_NE (archive.globals, nullptr);
    EXPECT_EQ (archive.globals->at (1), 0.5f);
    EXPECT_EQ (archive.versionInfo, nullptr);
    EXPECT_EQ (archive.firmwareImage, nullptr);
    ASSERT_EQ (archive.presets.size(), 7u);
    for (uint32_t i = 0; i < 7; ++i)
    {
        EXPECT_EQ (archive.presets[i].index, i);
        EXPECT_EQ (archive.presets[i].preset.ampNameAndID.name, "Amp " + std::to_string (i));
        EXPECT_EQ (archive.presets[i].preset.parameters.at (0x10), (float) i);
    }
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "BackingUp", "BackingUp", "Idle" }));
}

TEST (EditorServiceTasks, restoreEntriesInArchiveOrderAtTheirOwnIndexes)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    Data::TovarekMk2Archive archive; // no globals
    for (uint32_t index : { 6u, 2u })
    {
        Data::TovarekMk2Archive::PresetEntry entry;
        entry.index = index;
        entry.preset.ampNameAndID = { 50 + index, "Restored " + std::to_string (index) };
        entry.preset.cabinet = makeCabinet ("Cab R" + std::to_string (index));
        archive.presets.push_back (entry);
    }

    std::vector<double> progress;
    ASSERT_TRUE (rig.service().beginRestore (archive, [&] (double p) { progress.push_back (p); }).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()),
               (std::vector<std::string> { "write 3/6", "write 6/6", "write 8/6", "write 5/6", "write 10/6", "write 9/6",
                                           "write 3/2", "write 6/2", "write 8/2", "write 5/2", "write 10/2", "write 9/2",
                                           "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0" }));
    ASSERT_EQ (progress.size(), 2u);
    EXPECT_DOUBLE_EQ (progress[0], 6 / 7.0);
    EXPECT_DOUBLE_EQ (progress[1], 2 / 7.0);
    EXPECT_EQ (rig.unit().block (kAmpNameBlock, 2), ampNameBlock (archive.presets[1].preset.ampNameAndID));
    EXPECT_EQ (rig.unit().block (kCabNameBlock, 6), cabNameBlock ("Cab R6"));
}

TEST (EditorServiceTasks, restoreWritesTheGlobalsFirstWhenTheArchiveHasThem)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    Data::TovarekMk2Archive archive;
    archive.globals = std::make_unique<Data::Globals> (Data::Globals { { kParamMainLevel, 0.75f } });
    ASSERT_TRUE (rig.service().beginRestore (archive, nullptr).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()),
               (std::vector<std::string> { "write 1/0", "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0" }));
    Service::ParameterValue value;
    ASSERT_TRUE (rig.service().getParameterValue (kParamMainLevel, value).ok);
    EXPECT_EQ (value.value, 0.75);
}

TEST (EditorServiceTasks, refuseToStartWhileAnotherRuns)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().setReportDelay (200us);

    ASSERT_TRUE (rig.service().beginBackup (nullptr, [&] (const auto&) { rig.recorder().add ("backed up"); }).ok);
    EXPECT_EQ (rig.service().saveCurrentPreset().message, "Cannot start task while busy");
    EXPECT_EQ (rig.service().setParameterValue (kParamReverbDecay, { TovarekMk2ParamMap::kFloat, 0.1 }).message,
               "Cannot start task while busy");
    EXPECT_EQ (rig.service().beginFirmwareUpdate ({}, nullptr).message, "Cannot start task while busy");
    ASSERT_TRUE (rig.recorder().waitFor ("backed up"));
}

TEST (EditorServiceTasks, holdAKnobReportDuringABackupAndReReadBeforeTheCompletion)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    // Turned while the backup reads preset 1: the unit reports it between two of the backup's answers.
    ASSERT_TRUE (rig.service().beginBackup ([&] (double p)
    {
        if (p > 0.1 && p < 0.2)
            rig.unit().turnKnob (kParamReverbDecay, 0.375f);
    },
    [&] (const auto&) { rig.recorder().add ("backed up"); }).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("backed up"));

    // Not told while busy; the re-read after the backup brought it in before the completion.
    EXPECT_EQ (rig.recorder().events(), (std::vector<std::string> { "BackingUp", "BackingUp", "Idle", "data", "backed up" }));
    Service::ParameterValue value;
    ASSERT_TRUE (rig.service().getParameterValue (kParamReverbDecay, value).ok);
    EXPECT_EQ (value.value, 0.375);
}

TEST (EditorServiceTasks, failAStepIntoTheErrorStateWithItsMessage)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    // The third block write start of a preset write (finishing filter) is refused.
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Refuse, 0xC2, 3));
    ASSERT_TRUE (rig.service().setPresetDataInternal (3, Data::FullTovarekMk2Preset(), false).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("Error"));

    EXPECT_EQ (rig.service().getLastError(), "Failed to set finishing filter data");
    EXPECT_EQ (rig.service().getState(), Service::Error);
    EXPECT_EQ (rig.service().saveCurrentPreset().message, "Cannot start task while busy");
}

TEST (EditorServiceChangePreset, sendsTheProgramNumberAndEndsWhenTheUnitIsThere)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    ASSERT_TRUE (rig.service().requestChangePreset (3).ok);
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.service().getCurrentPresetIndex() == 3; }));
    ASSERT_TRUE (rig.drainWorker());

    const auto packets = rig.unit().hostPackets();
    ASSERT_FALSE (packets.empty());
    EXPECT_EQ (std::vector<uint8_t> (packets[0].begin(), packets[0].begin() + 3), (std::vector<uint8_t> { 0xC9, 0x01, 0x04 }));
    EXPECT_EQ (countOf (requests (packets), "program 4"), 1u);
    EXPECT_EQ (rig.unit().currentProgram(), 4);
    EXPECT_EQ (rig.service().getCurrentAmpName(), "Amp 4");
    EXPECT_EQ (rig.service().getState(), Service::Idle);
}

TEST (EditorServiceChangePreset, followsANewTargetWithTheSameTask)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();

    // Asked for preset 5 while the change to 3 is under way (after its first re-read). Safe from a
    // listener only because a change is in flight: the request just moves the target.
    std::atomic<bool> asked { false };
    Service::Listener listener;
    listener.dataRefreshed = [&]
    {
        if (! asked.exchange (true))
        {
            EXPECT_TRUE (rig.service().requestChangePreset (5).ok);
        }
    };
    rig.service().addListener (&listener);
    ASSERT_TRUE (rig.service().requestChangePreset (3).ok);
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.service().getCurrentPresetIndex() == 5; }));
    ASSERT_TRUE (rig.drainWorker());
    rig.service().removeListener (&listener);

    const auto sent = requests (rig.unit().hostPackets());
    std::vector<std::string> programs;
    for (const auto& r : sent)
        if (r.rfind ("program ", 0) == 0)
            programs.push_back (r);
    EXPECT_EQ (programs, (std::vector<std::string> { "program 4", "program 6" }));
    EXPECT_EQ (rig.unit().currentProgram(), 6);
}

TEST (EditorServiceChangePreset, staysIdleWhenTheUnitRefusesAndQueuesTheNextRequestAfresh)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Refuse, 0xC9, 1));
    ASSERT_TRUE (rig.service().requestChangePreset (3).ok);
    ASSERT_TRUE (rig.unit().waitForHostPackets (1, kWait));
    ASSERT_TRUE (rig.unit().waitUntilIdle (kWait));

    // The refusal failed the protocol's connection; the unit is still there, so clear it as an
    // update would, then the next request must start a change of its own.
    ASSERT_TRUE (rig.drainWorker());
    EXPECT_EQ (rig.service().getState(), Service::Idle);
    EXPECT_EQ (rig.service().getLastError(), "");
    rig.protocol()->clearError();
    ASSERT_TRUE (rig.service().requestChangePreset (2).ok);
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.service().getCurrentPresetIndex() == 2; }));
    EXPECT_EQ (rig.unit().currentProgram(), 3);
}

TEST (EditorServiceChangePreset, givesUpAfterSixteenRoundsWhenThePresetNeverSettles)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();

    // The target moves on at every re-read of the change (twice a round), so the preset the unit
    // reports is never the one asked for: 16 rounds make 32 moves, then the change gives up. The
    // listener may ask only while the change is in flight, when a request just moves the target.
    constexpr int kMoves = 2 * Service::kMaxPresetChangeRounds;
    std::atomic<int> moves { 0 };
    std::atomic<int> target { 3 };
    Service::Listener listener;
    listener.dataRefreshed = [&]
    {
        if (moves.load() < kMoves)
        {
            ++moves;
            target = (target + 1) % 6;
            EXPECT_TRUE (rig.service().requestChangePreset (target).ok);
        }
    };
    rig.service().addListener (&listener);

    testing::internal::CaptureStdout();
    const bool started = rig.service().requestChangePreset (3).ok;
    const bool gaveUp = rig.scanUntil ([&] { return moves.load() == kMoves; });
    const bool drained = gaveUp && rig.drainWorker();
    const std::string log = testing::internal::GetCapturedStdout();
    rig.service().removeListener (&listener);

    ASSERT_TRUE (started);
    ASSERT_TRUE (gaveUp);
    ASSERT_TRUE (drained);
    size_t programChanges = 0;
    for (const auto& r : requests (rig.unit().hostPackets()))
        if (r.rfind ("program ", 0) == 0)
            ++programChanges;
    EXPECT_EQ (programChanges, 16u);
    EXPECT_NE (log.find ("Preset change given up after 16 rounds"), std::string::npos);
    EXPECT_EQ (rig.service().getState(), Service::Idle);

    // The flag is down again: the next request starts a new change, which succeeds.
    ASSERT_TRUE (rig.service().requestChangePreset (1).ok);
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.unit().currentProgram() == 2 && rig.service().getCurrentPresetIndex() == 1; }));
}

TEST (EditorServiceConnection, entersErrorOnACommunicationFailureThenDisconnectsAndRecovers)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    rig.unit().unplug();
    ASSERT_TRUE (rig.recorder().waitFor ("Error"));
    EXPECT_EQ (rig.service().getLastError(), "A communication error occurred");

    ASSERT_TRUE (rig.scanUntil ([&] { return rig.protocol() == nullptr; }));
    EXPECT_EQ (rig.service().getState(), Service::Disconnected);
    EXPECT_EQ (rig.service().saveCurrentPreset().message, "Cannot start task while not connected");

    rig.recorder().clear();
    rig.unit().clearHostPackets();
    ASSERT_TRUE (rig.connectAndRefresh());
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Idle", "Refreshing", "Refreshing", "Idle" }));
    EXPECT_EQ (requests (rig.unit().hostPackets()), kFullRefreshRequests);
}

TEST (EditorServiceConnection, detachingWaitsForTheWorkerToLeaveItsProtocolCall)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    // The worker sits in a preset read whose first answer comes late.
    rig.unit().clearHostPackets();
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Delay, 0xC5, 1, 300000us));
    ASSERT_TRUE (rig.service().getCurrentPresetData ([] (const auto&) {}).ok);
    ASSERT_TRUE (rig.unit().waitForHostPackets (1, kWait));

    rig.service().setProtocol (nullptr);

    // Had detaching not waited, it would have returned before the first chunk was asked for:
    // a 4096-byte read asks 68 times (67 chunks, then the end).
    const auto packets = rig.unit().hostPackets();
    EXPECT_EQ (packets.front()[0], 0xC5);
    EXPECT_GE (std::count_if (packets.begin(), packets.end(), [] (const auto& p) { return p[0] == 0xC0; }), 68);

    // The task's next step finds no protocol and fails as that step, without leaving Disconnected.
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.service().getLastError() == "Failed to get amp data"; }));
    EXPECT_EQ (rig.service().getState(), Service::Disconnected);
}

TEST (EditorServiceLifetime, destroyingWithTasksQueuedAndOneRunningNeverHangs)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();

    // A change of preset holds the worker in its program change; set-parameter tasks queue behind it.
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Delay, 0xC9, 1, 300000us));
    ASSERT_TRUE (rig.service().requestChangePreset (4).ok);
    ASSERT_TRUE (rig.unit().waitForHostPackets (1, kWait));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE (rig.service().setParameterValue (kParamReverbDecay, { TovarekMk2ParamMap::kFloat, 0.1 * i }).ok);
    ASSERT_TRUE (rig.service().requestRefreshCurrentPreset (true).ok);

    expectReturnsInTime ([&] { rig.destroyService(); });

    EXPECT_EQ (countOf (requests (rig.unit().hostPackets()), "set 146"), 0u);
}

TEST (EditorServiceFirmware, sendsTheImageWaitsForTheUnitToComeBackAndRefreshes)
{
    SimUnit::UnitOptions options;
    options.restartDelay = 30ms;
    ServiceRig rig (options);
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    Data::TovarekMk2Archive archive;
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (SimUnit::makeLoaderImage ({ 4, 3, 0 }, 6000));
    std::vector<double> progress;
    ASSERT_TRUE (rig.service().beginFirmwareUpdate (archive, [&] (double p) { progress.push_back (p); }).ok);

    // The application keeps scanning: the unit goes away and comes back with the new firmware.
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.recorder().count ("param 214") >= 1; }));

    EXPECT_EQ (rig.unit().restartCount(), 1);
    EXPECT_EQ (rig.recorder().states(),
               (std::vector<std::string> { "UpdatingFirmware", "UpdatingFirmware", "Reconnecting",
                                           "Idle", "Refreshing", "Refreshing", "Idle" }));
    ASSERT_FALSE (progress.empty());
    EXPECT_EQ (progress.back(), 1.0);

    Data::FirmwareVersionInfo versions;
    EXPECT_TRUE (rig.service().getFirmwareVersionInfo (versions));
    EXPECT_EQ (versions.dspVersion, (std::array<uint8_t, 4> { 4, 3, 0, 0 }));
    const auto sent = requests (rig.unit().hostPackets());
    EXPECT_EQ (sent.front(), "firmware");
    EXPECT_EQ (std::vector<std::string> (sent.end() - (long) kFullRefreshRequests.size(), sent.end()), kFullRefreshRequests);
}

TEST (EditorServiceFirmware, failsWithATimeoutWhenTheUnitDoesNotComeBack)
{
    SimUnit::UnitOptions options;
    options.restartDelay = 600000ms; // never within the test
    auto timing = fastTiming();
    // Far longer than the unit takes to drop off the bus, so the loss always comes first
    // and is taken as the expected restart, never as a communication error.
    timing.reconnectLimit = 1000ms;
    ServiceRig rig (options, timing);
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    Data::TovarekMk2Archive archive;
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (SimUnit::makeLoaderImage ({ 4, 3, 0 }, 600));
    ASSERT_TRUE (rig.service().beginFirmwareUpdate (archive, nullptr).ok);
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.recorder().count ("Error") >= 1; }));

    EXPECT_FALSE (rig.unit().isPlugged());
    EXPECT_EQ (rig.service().getLastError(), "Timeout waiting for reconnect");
    const auto states = rig.recorder().states();
    ASSERT_GE (states.size(), 3u);
    EXPECT_EQ (states.front(), "UpdatingFirmware");
    EXPECT_EQ (std::count (states.begin(), states.end(), "Reconnecting"), 1);
    EXPECT_EQ (std::count (states.begin(), states.end(), "Error"), 1);
    EXPECT_EQ (states.back(), "Error");
}

TEST (EditorServiceFirmware, withoutAnImageGoesStraightToIdleAndRefreshes)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.recorder().clear();

    ASSERT_TRUE (rig.service().beginFirmwareUpdate ({}, nullptr).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("param 214"));

    EXPECT_EQ (rig.recorder().states(),
               (std::vector<std::string> { "UpdatingFirmware", "UpdatingFirmware", "Idle", "Refreshing", "Refreshing", "Idle" }));
    EXPECT_EQ (requests (rig.unit().hostPackets()), kFullRefreshRequests);
}

TEST (EditorServiceFirmware, isAcceptedAfterAnErrorAndClearsTheProtocolsErrorFirst)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    // A refused read start fails the protocol's connection and the task's step.
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Refuse, 0xC5, 1));
    ASSERT_TRUE (rig.service().getCurrentPresetData ([] (const auto&) {}).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("Error"));
    EXPECT_EQ (rig.protocol()->getState(), (uint32_t) Korvantal::KorvantalProtocol::kError);

    rig.unit().clearHostPackets();
    ASSERT_TRUE (rig.service().beginFirmwareUpdate ({}, nullptr).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("param 214"));
    EXPECT_EQ (requests (rig.unit().hostPackets()), kFullRefreshRequests);
}

TEST (EditorServiceFirmware, destroyingTheServiceDuringTheReconnectWaitEndsTheWait)
{
    SimUnit::UnitOptions options;
    options.restartDelay = 600000ms;
    auto timing = fastTiming();
    timing.reconnectLimit = 600000ms;
    ServiceRig rig (options, timing);
    ASSERT_TRUE (rig.connectAndRefresh());

    Data::TovarekMk2Archive archive;
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (SimUnit::makeLoaderImage ({ 4, 3, 0 }, 600));
    ASSERT_TRUE (rig.service().beginFirmwareUpdate (archive, nullptr).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("Reconnecting"));

    testing::internal::CaptureStdout();
    expectReturnsInTime ([&] { rig.destroyService(); });
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE (log.find ("Task cancelled"), std::string::npos);
}

TEST (EditorServiceFirmware, detachingWhileTheImageIsSentWaitsForTheTransferToEnd)
{
    SimUnit::UnitOptions options;
    options.restartDelay = 30ms;
    ServiceRig rig (options);
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.recorder().clear();

    // The application loses the unit while the image goes out: it detaches from the message thread.
    Data::TovarekMk2Archive archive;
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (SimUnit::makeLoaderImage ({ 4, 3, 0 }, 6000));
    std::promise<void> started;
    std::atomic<bool> first { true };
    ASSERT_TRUE (rig.service().beginFirmwareUpdate (archive, [&] (double p)
    {
        if (first.exchange (false))
            started.set_value();
        if (p == 1.0)
            rig.recorder().add ("sent");
    }).ok);
    ASSERT_EQ (started.get_future().wait_for (kWait), std::future_status::ready);

    rig.service().setProtocol (nullptr);
    rig.recorder().add ("detached");

    // Detaching waited for the transfer call to end.
    const auto events = rig.recorder().events();
    const auto sent = std::find (events.begin(), events.end(), "sent");
    const auto detached = std::find (events.begin(), events.end(), "detached");
    EXPECT_LT (sent, detached);

    // The update task then waits for the unit, which comes back and is refreshed.
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.recorder().count ("param 214") >= 1; }));
    EXPECT_EQ (rig.recorder().states(),
               (std::vector<std::string> { "UpdatingFirmware", "UpdatingFirmware", "Reconnecting",
                                           "Idle", "Refreshing", "Refreshing", "Idle" }));
}

