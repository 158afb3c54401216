#include "LoaderImage.h"
#include "ServiceConnector.h"
#include "SimulatedUnit.h"
#include "TovarekMk2EditorService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
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
    EXPECT_EQ (service.getAmpName (3), ""); // no such slot
    EXPECT_EQ (service.getCabName (-1), "");

    Korvantal::KorvantalData::FirmwareVersionInfo versions;
    versions.extraCode = 7;
    EXPECT_FALSE (service.getFirmwareVersionInfo (versions));
    EXPECT_EQ (versions.systemVersion, (std::array<uint8_t, 4> {}));
    EXPECT_EQ (versions.dspVersion, (std::array<uint8_t, 4> {}));
}

TEST (EditorServiceParameters, giveTheDefaultOfAParameterWithNothingStoredAndRefuseAnIdTheMapDoesNotHold)
{
    Service service (nullptr);
    Service::ParameterValue value;

    ASSERT_TRUE (service.getParameterValue (kParamReverbType, value).ok);
    EXPECT_EQ (value.type, (uint32_t) TovarekMk2ParamMap::kInteger);
    EXPECT_EQ (value.value, 4.0);

    ASSERT_TRUE (service.getParameterValue (kParamGateThreshold, value).ok);
    EXPECT_EQ (value.type, (uint32_t) TovarekMk2ParamMap::kFloat);
    EXPECT_EQ (value.value, -70.0);

    value = { TovarekMk2ParamMap::kFloat, 42.0 };
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

    EXPECT_EQ (p.size(), 90u); // every preset parameter of the unit's 103
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
constexpr uint8_t kAmpNameBlock = 5, kAmpDataBlock = 6, kFilterBlock = 8, kCabNameBlock = 9, kCabDataBlock = 10;

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
    static const char* const names[] { "Disconnected", "Idle", "Busy", "Refreshing", "Sending", "Reading", "Restoring",
                                       "BackingUp", "UpdatingFirmware", "Reconnecting", "FirmwareTooOld", "Error" };
    return state <= Service::Error ? names[state] : "?";
}

// Everything the service tells its listener, in order, as text ("Idle", "data", "param 146"),
// with bounded waits. Other threads may add test events of their own.
class Recorder
{
public:
    explicit Recorder (Service& service) : _service (&service)
    {
        _listener.stateChanged = [this] (Service::State s) { add (stateName (s)); };
        _listener.dataRefreshed = [this] { add ("data"); };
        _listener.parameterValueChanged = [this] (TovarekMk2ParamID id, const Service::ParameterValue& value)
        {
            add ("param " + std::to_string ((int) id), { { id, value } });
        };
        _service->addListener (&_listener);
    }

    ~Recorder()
    {
        if (_service != nullptr)
            _service->removeListener (&_listener);
    }

    // Goes on recording while the service is destroyed, and outlives it.
    void outliveService() { _service = nullptr; }

    void add (const std::string& event, std::vector<std::pair<TovarekMk2ParamID, Service::ParameterValue>> parameters = {})
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _events.push_back (event);
        _parameters.insert (_parameters.end(), parameters.begin(), parameters.end());
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

    bool waitForCount (const std::string& event, size_t count, std::chrono::milliseconds timeout = kWait)
    {
        std::unique_lock<std::mutex> lock (_mutex);
        return _changed.wait_for (lock, timeout, [&] { return (size_t) std::count (_events.begin(), _events.end(), event) >= count; });
    }

    bool waitFor (const std::string& event) { return waitForCount (event, 1); }

private:
    Service* _service;
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
        auto word = [&] (size_t at) { return at + 1 < p.size() ? (int) (p[at] | (p[at + 1] << 8)) : -1; };
        auto byte = [&] (size_t at) { return at < p.size() ? (int) p[at] : -1; };

        switch (byte (0))
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
    if (done.wait_for (kWait) == std::future_status::ready)
        return done.get();
    std::fprintf (stderr, "Action did not return within the time limit\n");
    std::fflush (stderr);
    std::_Exit (1);
}

// A service over one simulated unit, connected as the application connects it; the test thread
// is the message thread.
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
        // The unit goes first, so that a call still waiting for its answer ends at once; then the
        // application's order: the service, the connection, the devices. Bounded, so that a
        // service that never lets go fails the test instead of hanging it.
        expectReturnsInTime ([this]
        {
            _unit->unplug();
            destroyService();
            _connector.reset();
            _unit.reset();
        });
    }

    Service& service() { return *_service; }
    SimUnit::SimulatedUnit& unit() { return *_unit; }
    Recorder& recorder() { return *_recorder; }
    Korvantal::KorvantalProtocol* protocol() { return _connector->protocol(); }

    bool scanUntil (const std::function<bool()>& condition, std::chrono::milliseconds timeout = kWait)
    {
        // Scans at the timer's period, shortened.
        for (const auto deadline = std::chrono::steady_clock::now() + timeout;; std::this_thread::sleep_for (1ms))
        {
            _connector->scan();
            if (condition())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
        }
    }

    // Plugs the unit in and scans until the service has been handed a new protocol.
    bool connect()
    {
        const int attaches = _connector->attachCount();
        _unit->plug();
        return scanUntil ([&] { return _connector->attachCount() > attaches; });
    }

    // Unplugs the unit and scans until the service has let its protocol go.
    bool unplugAndDetach()
    {
        const int detaches = _connector->detachCount();
        _unit->unplug();
        return scanUntil ([&] { return _connector->detachCount() > detaches; });
    }

    int attachCount() const { return _connector->attachCount(); }

    // Connects and waits for the full refresh to end: the unit's status report is the last thing it causes.
    bool connectAndRefresh()
    {
        const std::string statusTold = "param " + std::to_string ((int) kParamStatusLevel);
        const size_t told = _recorder->count (statusTold);

        if (! connect())
            return false;

        return _recorder->waitForCount (statusTold, told + 1) && _service->getState() == Service::Idle;
    }

    // Connects, refreshes, clears what that recorded and starts an update to an image carrying DSP 4.3.0.
    bool connectAndStartUpdate (size_t imageSize = 600, std::function<void (double)> progress = nullptr)
    {
        if (! connectAndRefresh())
            return false;
        _unit->clearHostPackets();
        _recorder->clear();
        Data::TovarekMk2Archive archive;
        archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (SimUnit::makeLoaderImage ({ 4, 3, 0 }, imageSize));
        return _service->beginFirmwareUpdate (archive, std::move (progress)).ok;
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

    // Marks the edit buffer modified with a knob set, then forgets what that sent and recorded.
    // Once the set is told the worker has nothing left to do.
    bool markModified()
    {
        _recorder->clear();
        const std::string told = "param " + std::to_string ((int) kParamBoostDrive);
        if (! _service->setParameterValue (kParamBoostDrive, { TovarekMk2ParamMap::kFloat, 0.5 }).ok || ! _recorder->waitFor (told))
            return false;

        _unit->clearHostPackets();
        _recorder->clear();
        return true;
    }

    // A parameter's value as the service holds it; not a number when the service refuses it.
    double valueOf (TovarekMk2ParamID id)
    {
        Service::ParameterValue value;
        return _service->getParameterValue (id, value).ok ? value.value : std::nan ("");
    }

    // Destroys the service; the recorder goes on recording until the worker has been joined.
    void destroyService()
    {
        _connector->forgetService();
        _recorder->outliveService();
        _service.reset();
    }

private:
    Data::FirmwareVersionInfo _minimum;
    std::unique_ptr<SimUnit::SimulatedUnit> _unit;
    std::unique_ptr<Service> _service;
    std::unique_ptr<Recorder> _recorder;
    std::unique_ptr<TestSupport::ServiceConnector> _connector;
};

// Destroys the rig's service, within the time limit, when it goes out of scope. Declared after
// the locals that a test's callbacks and listeners use, it joins the worker before they go, also
// when a failed assertion ends the test early.
struct ServiceStopper
{
    ServiceRig& rig;
    ~ServiceStopper() { expectReturnsInTime ([this] { rig.destroyService(); }); }
};

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

// A block's 32-bit little-endian word, and the text of one character per word from a word on,
// read by the unit's layout rather than by the product's codecs.
uint32_t wordAt (const std::vector<uint8_t>& block, size_t word)
{
    const size_t at = word * 4;
    return at + 4 <= block.size() ? (uint32_t) (block[at] | block[at + 1] << 8 | block[at + 2] << 16 | (uint32_t) block[at + 3] << 24) : 0;
}

std::string textAt (const std::vector<uint8_t>& block, size_t word)
{
    std::string text;
    for (size_t at = word * 4; at < block.size() && block[at] != 0; at += 4)
        text += (char) block[at];
    return text;
}

Data::TovarekMk2Archive archiveWithPresets (const std::vector<uint32_t>& indexes)
{
    Data::TovarekMk2Archive archive;
    for (uint32_t index : indexes)
    {
        Data::TovarekMk2Archive::PresetEntry entry;
        entry.index = index;
        entry.preset.ampNameAndID = { 50 + index, "Restored " + std::to_string (index) };
        entry.preset.cabinet = makeCabinet ("Cab R" + std::to_string (index));
        archive.presets.push_back (entry);
    }
    return archive;
}

const std::vector<std::string> kFullRefreshRequests {
    "version", "ping",
    "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0",
    "read 5/4", "read 9/4", "read 5/5", "read 9/5", "read 5/6", "read 9/6",
    "status?"
};

// A service refreshed from a connected unit, its packets and events cleared.
struct ConnectedService : testing::Test
{
    void SetUp() override
    {
        ASSERT_TRUE (rig.connectAndRefresh());
        rig.unit().clearHostPackets();
        rig.recorder().clear();
    }

    ServiceRig rig;
};
} // namespace

using EditorServiceParametersLive = ConnectedService;
using EditorServiceTasks = ConnectedService;
using EditorServiceChangePreset = ConnectedService;
using EditorServiceConnection = ConnectedService;
using EditorServiceLifetime = ConnectedService;

TEST (EditorServiceRefresh, readsVersionsGlobalsEditBufferAndSlotNamesThenAsksForStatus)
{
    ServiceRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    auto& service = rig.service();

    EXPECT_EQ (requests (rig.unit().hostPackets()), kFullRefreshRequests);
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Idle", "Refreshing", "Refreshing", "Idle" }));

    // DSP 4.2.0 is the minimum itself.
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
    EXPECT_FLOAT_EQ ((float) rig.valueOf (kParamStatusLevel), 128 / 255.0f);

    // Without the device checks: no delay, no version, no ping.
    rig.unit().clearHostPackets();
    rig.recorder().clear();
    ASSERT_TRUE (service.beginRefreshAll (false).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("param 214"));
    EXPECT_EQ (requests (rig.unit().hostPackets()),
               std::vector<std::string> (kFullRefreshRequests.begin() + 2, kFullRefreshRequests.end()));
}

// Nothing is read from a unit of another type or with firmware below the minimum.
TEST (EditorServiceRefresh, checksTheUnitsTypeThenItsFirmwareBeforeReadingAnything)
{
    struct Row
    {
        const char* name;
        SimUnit::Version system, dsp;
        std::array<uint8_t, 4> minimumSystem; // all zero: no limit
        Service::State outcome;
    };
    const Row rows[] {
        { "a unit of another type",          { 3, 9, 9 }, { 4, 2, 0 }, {},             Service::Error },
        { "DSP just below the minimum",      { 4, 1, 0 }, { 4, 1, 9 }, {},             Service::FirmwareTooOld },
        { "system below the named minimum",  { 4, 1, 0 }, { 4, 9, 0 }, { 4, 1, 1, 0 }, Service::FirmwareTooOld },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        SimUnit::UnitOptions options;
        options.systemVersion = row.system;
        options.dspVersion = row.dsp;
        auto minimum = applicationMinimum();
        minimum.systemVersion = row.minimumSystem;
        ServiceRig rig (options, fastTiming(), minimum);
        ASSERT_TRUE (rig.connect());
        ASSERT_TRUE (rig.recorder().waitFor (stateName (row.outcome)));

        EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "version", "ping" }));
        const bool tooOld = row.outcome == Service::FirmwareTooOld;
        EXPECT_EQ (rig.service().getLastError(), tooOld ? "" : "Connected device is not supported");
        EXPECT_TRUE (rig.service().beginFirmwareUpdate ({}, nullptr).ok); // the way out of both
    }
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

TEST_F (EditorServiceParametersLive, sendsASetParameterPacketStoresAndTells)
{
    ASSERT_TRUE (rig.service().setParameterValue (kParamReverbDecay, { TovarekMk2ParamMap::kFloat, 0.75 }).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("param 146"));

    // C7 08, id 146 little-endian, two zero bytes, 0.75f as its four bytes.
    const auto packets = rig.unit().hostPackets();
    ASSERT_EQ (packets.size(), 1u);
    EXPECT_EQ (std::vector<uint8_t> (packets[0].begin(), packets[0].begin() + 10),
               (std::vector<uint8_t> { 0xC7, 0x08, 0x92, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x3F }));

    EXPECT_EQ (rig.valueOf (kParamReverbDecay), 0.75);
    EXPECT_TRUE (rig.service().isModified());
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Idle" }));
}

namespace
{
// Every task starter, with arguments that an idle, connected service accepts. The firmware update
// comes last: it is the one accepted after an error.
struct Starter
{
    std::string name;
    std::function<Result (Service&)> start;
    std::string refusal; // for the starters refused for their arguments: the message, in any state
};

const std::vector<Starter> kStarters {
    { "beginRefreshAll",       [] (Service& s) { return s.beginRefreshAll (false); }, "" },
    { "setCurrentAmpData",     [] (Service& s) { return s.setCurrentAmpData ({}); }, "" },
    { "setAmpData",            [] (Service& s) { return s.setAmpData (2, {}); }, "" },
    { "setCurrentCabData",     [] (Service& s) { return s.setCurrentCabData ({}); }, "" },
    { "setCabData",            [] (Service& s) { return s.setCabData (0, {}); }, "" },
    { "setPresetDataInternal", [] (Service& s) { return s.setPresetDataInternal (3, {}, true); }, "" },
    { "setCurrentPresetData",  [] (Service& s) { return s.setCurrentPresetData ({}); }, "" },
    { "getPresetDataInternal", [] (Service& s) { return s.getPresetDataInternal (2, [] (const auto&) {}); }, "" },
    { "getCurrentPresetData",  [] (Service& s) { return s.getCurrentPresetData ([] (const auto&) {}); }, "" },
    { "saveCurrentPreset",     [] (Service& s) { return s.saveCurrentPreset(); }, "" },
    { "beginBackup",           [] (Service& s) { return s.beginBackup (nullptr, [] (const auto&) {}); }, "" },
    { "beginRestore",          [] (Service& s) { return s.beginRestore (archiveWithPresets ({ 0, 6 }), nullptr); }, "" },
    { "requestChangePreset",   [] (Service& s) { return s.requestChangePreset (6); }, "" },
    { "setParameterValue",     [] (Service& s) { return s.setParameterValue (kParamReverbDecay, { TovarekMk2ParamMap::kFloat, 0.5 }); }, "" },
    { "beginFirmwareUpdate",   [] (Service& s) { return s.beginFirmwareUpdate ({}, nullptr); }, "" },
};

const std::vector<Starter> kBadArguments {
    { "setAmpData 3",             [] (Service& s) { return s.setAmpData (3, {}); }, "Invalid amp slot: 3" },
    { "setAmpData -1",            [] (Service& s) { return s.setAmpData (-1, {}); }, "Invalid amp slot: -1" },
    { "setCabData 3",             [] (Service& s) { return s.setCabData (3, {}); }, "Invalid cabinet slot: 3" },
    { "setCabData -1",            [] (Service& s) { return s.setCabData (-1, {}); }, "Invalid cabinet slot: -1" },
    { "requestChangePreset 7",    [] (Service& s) { return s.requestChangePreset (7); }, "Invalid preset index: 7" },
    { "requestChangePreset -1",   [] (Service& s) { return s.requestChangePreset (-1); }, "Invalid preset index: -1" },
    { "restore an entry at 7",    [] (Service& s) { return s.beginRestore (archiveWithPresets ({ 2, 7 }), nullptr); },
      "Invalid preset index in archive: 7" },
};

// Walks the starters; each must fail with `message` (for the bad arguments: with their own).
void expectRefused (Service& service, const std::vector<Starter>& starters, const std::string& message, const char* when)
{
    for (const auto& starter : starters)
        EXPECT_EQ (starter.start (service).message, starter.refusal.empty() ? message : starter.refusal) << starter.name << ", " << when;
}
} // namespace

// A refused start changes nothing and queues nothing; argument checks come before the state's.
TEST (EditorServiceStarters, refuseAsTheStateAndTheirArgumentsSay)
{
    ServiceRig rig;
    auto& service = rig.service();
    expectRefused (service, kStarters, "Cannot start task while not connected", "not connected");
    expectRefused (service, kBadArguments, "", "not connected");
    EXPECT_EQ (service.getState(), Service::Disconnected);
    EXPECT_TRUE (rig.recorder().events().empty());

    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    expectRefused (service, kBadArguments, "", "idle");
    ASSERT_TRUE (rig.drainWorker());
    EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "set 214" })) << "only the drain's own";

    // A backup held in its first progress report; the reads after it are refused, so it fails.
    std::promise<void> held, release;
    auto released = release.get_future().share();
    const ServiceStopper stopper { rig };
    ASSERT_TRUE (service.beginBackup ([&] (double p)
    {
        if (p == 0.0)
        {
            held.set_value();
            released.wait_for (kWait);
        }
    }, [] (const auto&) {}).ok);
    ASSERT_EQ (held.get_future().wait_for (kWait), std::future_status::ready);
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Refuse, 0xC5, 1));
    expectRefused (service, kStarters, "Cannot start task while busy", "backing up");
    expectRefused (service, kBadArguments, "", "backing up");
    release.set_value();
    ASSERT_TRUE (rig.recorder().waitFor ("Error"));
    EXPECT_EQ (service.getLastError(), "Failed to get preset data");

    // In Error only a firmware update starts; it clears the protocol's error and refreshes.
    expectRefused (service, std::vector<Starter> (kStarters.begin(), kStarters.end() - 1), "Cannot start task while busy", "error");
    rig.unit().clearHostPackets();
    rig.recorder().clear();
    ASSERT_TRUE (kStarters.back().start (service).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("param 214"));
    EXPECT_EQ (rig.recorder().states(),
               (std::vector<std::string> { "UpdatingFirmware", "UpdatingFirmware", "Idle", "Refreshing", "Refreshing", "Idle" }));
    EXPECT_EQ (requests (rig.unit().hostPackets()), kFullRefreshRequests);
}

namespace
{
std::vector<uint8_t> parameterReport (uint16_t id, float value)
{
    uint8_t bits[4];
    std::memcpy (bits, &value, sizeof (bits));
    return { 0xCF, 8, (uint8_t) (id & 0xFF), (uint8_t) (id >> 8), 0, 0, bits[0], bits[1], bits[2], bits[3] };
}

// A status report of `length` payload bytes: the level at byte 6; the amp, cabinet, favourite-switch
// and loaded favourite numbers at bytes 8 to 11.
std::vector<uint8_t> statusReport (uint8_t level, uint8_t amp, uint8_t cabinet, uint8_t favouriteSwitch, uint8_t loaded,
                                   size_t length = 12)
{
    std::vector<uint8_t> report (2 + length, 0);
    report[0] = 0xCE;
    report[1] = (uint8_t) length;
    const uint8_t fields[] { level, 0, amp, cabinet, favouriteSwitch, loaded };
    for (size_t i = 0; i < 6 && 6 + i < length; ++i)
        report[2 + 6 + i] = fields[i];
    return report;
}

enum class ReRead { None, KeepsModified, Full };
} // namespace

// What each report from the unit does, row by row from the unit's state after a refresh (program 1,
// amp, cabinet and favourite switch 1); each row follows the rows above it.
TEST_F (EditorServiceParametersLive, followsTheUnitsReportsAsTheTableSays)
{
    struct Row
    {
        const char* name;
        std::vector<uint8_t> report;
        std::string log;                                   // a line it logs; empty: no position or status line
        int ampIndex, cabIndex;                            // afterwards
        ReRead reRead;                                     // the re-read of the edit buffer it queues
        std::vector<std::pair<int, double>> told;          // what the listeners hear
    };
    const float notANumber = std::numeric_limits<float>::quiet_NaN();
    const Row rows[] {
        { "amp position 3",          parameterReport (0x1000, 3.0f),  "_currentAmpIndex 2",        2, 0, ReRead::KeepsModified, {} },
        { "cabinet position 2",      parameterReport (0x1001, 2.0f),  "_currentCabIndex 1",        2, 1, ReRead::KeepsModified, {} },
        { "preset position 6",       parameterReport (0x1002, 6.0f),  "_currentPresetIndex 5",     2, 1, ReRead::Full, {} },
        { "preset position 0, 0x1003", parameterReport (0x1003, 0.0f), "_currentPresetIndex -1",   2, 1, ReRead::Full, {} },
        { "preset position NaN",     parameterReport (0x1002, notANumber), "_currentPresetIndex -1", 2, 1, ReRead::Full, {} },
        { "0x1004 is ignored",       parameterReport (0x1004, 3.0f),  "",                          2, 1, ReRead::None, {} },
        { "0x1005 is ignored",       parameterReport (0x1005, 3.0f),  "",                          2, 1, ReRead::None, {} },
        { "no such parameter",       parameterReport (6, 1.0f),       "",                          2, 1, ReRead::None, {} },
        { "float knob",              parameterReport (kParamGateThreshold, -42.5f), "",            2, 1, ReRead::None, { { kParamGateThreshold, -42.5 } } },
        { "integer knob at 2.5",     parameterReport (kParamReverbType, 2.5f), "",                 2, 1, ReRead::None, { { kParamReverbType, 3.0 } } },
        { "integer knob at -2.5",    parameterReport (kParamEq1Type, -2.5f), "",                   2, 1, ReRead::None, { { kParamEq1Type, -3.0 } } },
        { "amp position -1e10",      parameterReport (0x1000, -1e10f), "_currentAmpIndex -2147483648", INT_MIN, 1, ReRead::KeepsModified, {} },
        { "cabinet position 1e10",   parameterReport (0x1001, 1e10f), "_currentCabIndex 2147483646", INT_MIN, INT_MAX - 1, ReRead::KeepsModified, {} },
        { "status of 11 bytes",      statusReport (255, 5, 4, 3, 3, 11), "",                       INT_MIN, INT_MAX - 1, ReRead::None, {} },
        { "status of 13 bytes",      statusReport (255, 5, 4, 3, 3, 13), "",                       INT_MIN, INT_MAX - 1, ReRead::None, {} },
        { "status with no numbers",  statusReport (51, 0, 0, 0, 0),
          "ampIndex = -1, cabIndex = -1, favSwIdx = -1, loadedFavIdx = -1",                        INT_MIN, INT_MAX - 1, ReRead::None, { { kParamStatusLevel, 0.2 } } },
        { "status moves amp and cabinet", statusReport (255, 5, 4, 1, 0),
          "ampIndex = 4, cabIndex = 3, favSwIdx = 0, loadedFavIdx = -1",                           4, 3, ReRead::KeepsModified, { { kParamStatusLevel, 1.0 } } },
        { "status names the current preset loaded", statusReport (0, 5, 4, 1, 1), "loadedFavIdx = 0", 4, 3, ReRead::None, { { kParamStatusLevel, 0.0 } } },
        { "status loads another preset", statusReport (0, 5, 4, 1, 3), "loadedFavIdx = 2",        4, 3, ReRead::Full, { { kParamStatusLevel, 0.0 } } },
        { "status moves the favourite switch", statusReport (0, 5, 4, 4, 0), "favSwIdx = 3",       4, 3, ReRead::KeepsModified, { { kParamStatusLevel, 0.0 } } },
        { "status moves it onto the loaded preset", statusReport (0, 5, 4, 1, 1), "favSwIdx = 0", 4, 3, ReRead::None, { { kParamStatusLevel, 0.0 } } },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        ASSERT_TRUE (rig.markModified());

        // A report handled after the row's own, on the same reader thread, marks its end.
        testing::internal::CaptureStdout();
        rig.unit().sendReport (row.report);
        rig.unit().sendReport (parameterReport (kParamMainLevel, 0.125f));
        const bool fenced = rig.recorder().waitFor ("param " + std::to_string ((int) kParamMainLevel));
        const auto parameters = rig.recorder().parameters();
        const bool drained = fenced && rig.drainWorker();
        const std::string log = testing::internal::GetCapturedStdout();
        ASSERT_TRUE (drained);

        std::vector<std::pair<int, double>> told;
        for (const auto& [id, value] : parameters)
            if (id != kParamMainLevel)
                told.push_back ({ (int) id, value.value });
        EXPECT_EQ (told, row.told);

        // A knob's value is stored as reported and read back by its kind.
        for (const auto& [id, expected] : row.told)
            EXPECT_TRUE (id == kParamStatusLevel /* the drain has set it since */ || rig.valueOf ((TovarekMk2ParamID) id) == expected) << id;

        if (row.log.empty())
            EXPECT_TRUE (log.find ("_current") == std::string::npos && log.find ("ampIndex =") == std::string::npos) << log;
        else
            EXPECT_NE (log.find (row.log), std::string::npos) << log;

        EXPECT_EQ (rig.service().getCurrentAmpIndex(), row.ampIndex);
        EXPECT_EQ (rig.service().getCurrentCabIndex(), row.cabIndex);
        EXPECT_EQ (countOf (requests (rig.unit().hostPackets()), "program?"), row.reRead == ReRead::None ? 0u : 1u);
        EXPECT_EQ (rig.service().isModified(), row.reRead != ReRead::Full);
        EXPECT_EQ (rig.service().getCurrentPresetIndex(), 0); // the re-reads find the unit on program 1
    }
}

// A knob turned on the unit during a task is not stored, but re-read when the task ends, before
// its completion. One turned while the edit buffer is re-read in Idle is newer than the re-read's
// snapshot: the mirror and the listeners end with it, and the edit buffer stays modified although
// the re-read is a full one.
TEST_F (EditorServiceParametersLive, keepAKnobTurnedDuringABackupOrARereadOfTheEditBuffer)
{
    // Turned while the backup reads preset 1: the unit reports it between two of the backup's answers.
    ASSERT_TRUE (rig.service().beginBackup ([&] (double p)
    {
        if (p > 0.1 && p < 0.2)
            rig.unit().turnKnob (kParamReverbDecay, 0.375f);
    },
    [&] (const auto&) { rig.recorder().add ("backed up"); }).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("backed up"));

    EXPECT_EQ (rig.recorder().events(), (std::vector<std::string> { "BackingUp", "BackingUp", "Idle", "data", "backed up" }));
    EXPECT_EQ (rig.valueOf (kParamReverbDecay), 0.375);

    // The re-read's third block read (the amp name, after the preset) is answered late; the knob
    // is turned on the unit meanwhile, so its report comes before the re-read stores.
    rig.unit().clearHostPackets();
    rig.recorder().clear();
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Delay, 0xC5, 3, 300000us));
    ASSERT_TRUE (rig.service().requestRefreshCurrentPreset (true).ok);
    ASSERT_TRUE (rig.scanUntil ([&] { return countOf (requests (rig.unit().hostPackets()), "read 5/0") == 1; }));
    rig.unit().turnKnob (kParamReverbDecay, 0.625f);
    ASSERT_TRUE (rig.recorder().waitForCount ("data", 2));

    EXPECT_EQ (rig.recorder().events(), (std::vector<std::string> { "param 146", "data", "data" }));
    EXPECT_EQ (rig.valueOf (kParamReverbDecay), 0.625);
    EXPECT_TRUE (rig.service().isModified());
}

// A position or status report during a task asks for a re-read, which runs once the task has
// ended, before its completion; a report of another preset makes it a full one, which clears the
// mark unless a knob was turned after it.
TEST_F (EditorServiceParametersLive, reReadAfterATaskWhatTheUnitMovedDuringIt)
{
    struct Row
    {
        const char* name;
        std::vector<std::vector<uint8_t>> reports;
        bool modifiedAfter;
    };
    const auto presetPosition = parameterReport (0x1002, 1.0f);
    const auto knob = parameterReport (kParamReverbDecay, 0.375f);
    const Row rows[] {
        { "amp position",                  { parameterReport (0x1000, 2.0f) }, true },
        { "preset position",               { presetPosition },                 false },
        { "status moving the cabinet",     { statusReport (64, 0, 2, 0, 0) },  true },
        { "status loading another preset", { statusReport (64, 0, 0, 0, 3) },  false },
        { "a knob, then a preset",         { knob, presetPosition },           false },
        { "a preset, then a knob",         { presetPosition, knob },           true },
    };
    const ServiceStopper stopper { rig };
    const std::vector<std::string> reRead { "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0" };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        ASSERT_TRUE (rig.markModified());

        // Reported while the backup reads preset 1, between two of its answers.
        ASSERT_TRUE (rig.service().beginBackup ([&] (double p)
        {
            if (p > 0.1 && p < 0.2)
                for (const auto& report : row.reports)
                    rig.unit().sendReport (report);
        },
        [&] (const auto&) { rig.recorder().add ("backed up"); }).ok);
        ASSERT_TRUE (rig.recorder().waitFor ("backed up"));

        auto events = rig.recorder().events(); // less the status level, which is told in any state
        events.erase (std::remove (events.begin(), events.end(), "param 214"), events.end());
        EXPECT_EQ (events, (std::vector<std::string> { "BackingUp", "BackingUp", "Idle", "data", "backed up" }));
        const auto sent = requests (rig.unit().hostPackets());
        ASSERT_GE (sent.size(), reRead.size());
        EXPECT_EQ (std::vector<std::string> (sent.end() - (long) reRead.size(), sent.end()), reRead);
        EXPECT_EQ (countOf (sent, "program?"), 1u);
        EXPECT_EQ (rig.service().isModified(), row.modifiedAfter);
    }
}

// On the preset of its favourite switch the unit reports program 0: the re-read takes the
// switch's preset, named by the status report, as the current one.
TEST_F (EditorServiceParametersLive, takeTheFavouriteSwitchsPresetWhenTheUnitReportsProgramZero)
{
    rig.unit().setStatus ({ 128, 1, 1, 5, 0 });
    rig.unit().pressFootswitch (0);
    // Handled after the footswitch's position and status reports, on the same reader thread.
    rig.unit().sendReport (parameterReport (kParamMainLevel, 0.125f));
    ASSERT_TRUE (rig.recorder().waitFor ("param " + std::to_string ((int) kParamMainLevel)));
    ASSERT_TRUE (rig.drainWorker());

    EXPECT_EQ (countOf (requests (rig.unit().hostPackets()), "program?"), 2u); // a re-read for each report
    EXPECT_EQ (rig.service().getCurrentPresetIndex(), 4);
}

TEST_F (EditorServiceTasks, sendAnAmpToAUserSlotThenACabinetToTheEditBuffer)
{
    const auto amp = makeAmp ("Tweed", 42);
    ASSERT_TRUE (rig.service().setAmpData (1, amp).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "write 6/5", "write 8/5", "write 5/5" }));
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Sending", "Sending", "Idle" }));
    // Amp data: (id, value) pairs {1, 2.0f}, {7, -3.5f}, its first text at byte 2048.
    const auto data = rig.unit().block (kAmpDataBlock, 5);
    EXPECT_EQ (std::vector<uint32_t> ({ wordAt (data, 0), wordAt (data, 1), wordAt (data, 2), wordAt (data, 3), wordAt (data, 4) }),
               (std::vector<uint32_t> { 1, 0x40000000, 7, 0xC0600000, 0xFFFFFFFF }));
    EXPECT_EQ (textAt (data, 512), "Circuit of Tweed");
    EXPECT_EQ (wordAt (rig.unit().block (kFilterBlock, 5), 1), 0x12345678u);
    EXPECT_EQ (wordAt (rig.unit().block (kAmpNameBlock, 5), 0), 42u);
    EXPECT_EQ (textAt (rig.unit().block (kAmpNameBlock, 5), 1), "Tweed");
    EXPECT_EQ (rig.service().getAmpName (1), "Tweed");
    EXPECT_FALSE (rig.service().isModified());

    rig.unit().clearHostPackets();
    rig.recorder().clear();
    ASSERT_TRUE (rig.service().setCurrentCabData (makeCabinet ("a~very|long cabinet name")).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()), (std::vector<std::string> { "write 10/0", "write 9/0" }));
    // Channel 0 sample 3 is 0.25f, channel 1 (from byte 4096) sample 5 is -0.5f.
    EXPECT_EQ (wordAt (rig.unit().block (kCabDataBlock, 0), 3), 0x3E800000u);
    EXPECT_EQ (wordAt (rig.unit().block (kCabDataBlock, 0), 1024 + 5), 0xBF000000u);
    // Fifteen characters, '~' and '|' replaced.
    EXPECT_EQ (textAt (rig.unit().block (kCabNameBlock, 0), 0), "a?very?long cab");
    EXPECT_EQ (rig.service().getCurrentCabName(), "a?very?long cab");
    EXPECT_TRUE (rig.service().isModified());
}

// A cancelAll that lands between a starter's state change and its push (a communication error on
// the reader thread) cancels the task just as it would have, had the task been queued first.
TEST_F (EditorServiceTasks, aCancelBetweenTheStartersStateAndItsPushDropsTheTask)
{
    Service::Listener canceller;
    bool cancelled = false;
    const ServiceStopper stopper { rig };
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

TEST_F (EditorServiceTasks, readThePresetOnTheWorkerThenWriteOneAndReReadTheEditBuffer)
{
    Data::FullTovarekMk2Preset received;
    std::thread::id callbackThread;
    const ServiceStopper stopper { rig };
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

    EXPECT_EQ (rig.valueOf (kParamReverbDecay), 0.125);
}

TEST_F (EditorServiceTasks, backUpGlobalsAndSevenPresetsReportingSevenths)
{
    std::vector<double> progress;
    Data::TovarekMk2Archive archive;
    int completions = 0;
    const ServiceStopper stopper { rig };
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

TEST_F (EditorServiceTasks, restoreTheGlobalsThenEntriesInArchiveOrderAtTheirOwnIndexes)
{
    auto archive = archiveWithPresets ({ 6, 2 });
    archive.globals = std::make_unique<Data::Globals> (Data::Globals { { kParamMainLevel, 0.75f } });
    std::vector<double> progress;
    const ServiceStopper stopper { rig };
    ASSERT_TRUE (rig.service().beginRestore (archive, [&] (double p) { progress.push_back (p); }).ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()),
               (std::vector<std::string> { "write 1/0",
                                           "write 3/6", "write 6/6", "write 8/6", "write 5/6", "write 10/6", "write 9/6",
                                           "write 3/2", "write 6/2", "write 8/2", "write 5/2", "write 10/2", "write 9/2",
                                           "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0" }));
    EXPECT_EQ (progress, (std::vector<double> { 6 / 7.0, 2 / 7.0 }));
    EXPECT_EQ (wordAt (rig.unit().block (kAmpNameBlock, 2), 0), 52u);
    EXPECT_EQ (textAt (rig.unit().block (kAmpNameBlock, 2), 1), "Restored 2");
    EXPECT_EQ (textAt (rig.unit().block (kCabNameBlock, 6), 0), "Cab R6");
    EXPECT_EQ (rig.valueOf (kParamMainLevel), 0.75);
}

namespace
{
// A task of the failure rows: the states it tells before its error, and how it starts on a
// connected, refreshed service (the full refresh starts by connecting).
struct TaskUnderTest
{
    std::vector<std::string> states;
    std::function<bool (ServiceRig&)> start;
};

const TaskUnderTest kRefresh { { "Idle", "Refreshing", "Refreshing" }, [] (ServiceRig& rig) { return rig.connect(); } };
const TaskUnderTest kSendAmp { { "Sending", "Sending" }, [] (ServiceRig& rig) { return rig.service().setCurrentAmpData (makeAmp ("Tweed", 42)).ok; } };
const TaskUnderTest kSendCab { { "Sending", "Sending" }, [] (ServiceRig& rig) { return rig.service().setCurrentCabData (makeCabinet ("4x12")).ok; } };
const TaskUnderTest kWritePreset { { "Sending", "Sending" }, [] (ServiceRig& rig) { return rig.service().setPresetDataInternal (3, {}, true).ok; } };
const TaskUnderTest kReadPreset { { "Reading", "Reading" }, [] (ServiceRig& rig)
{
    return rig.service().getPresetDataInternal (2, [&rig] (const auto&) { rig.recorder().add ("called"); }).ok;
} };
const TaskUnderTest kSave { { "Reading", "Sending" }, [] (ServiceRig& rig) { return rig.service().saveCurrentPreset().ok; } };
const TaskUnderTest kBackup { { "BackingUp", "BackingUp" }, [] (ServiceRig& rig)
{
    return rig.service().beginBackup (nullptr, [&rig] (const auto&) { rig.recorder().add ("called"); }).ok;
} };
const TaskUnderTest kRestore { { "Restoring", "Restoring" }, [] (ServiceRig& rig)
{
    auto archive = archiveWithPresets ({ 6, 2 });
    archive.globals = std::make_unique<Data::Globals> (Data::Globals { { kParamMainLevel, 0.75f } });
    return rig.service().beginRestore (archive, nullptr).ok;
} };
const TaskUnderTest kUpdate { { "UpdatingFirmware", "UpdatingFirmware" }, [] (ServiceRig& rig)
{
    Data::TovarekMk2Archive archive;
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (SimUnit::makeLoaderImage ({ 4, 3, 0 }, 600));
    return rig.service().beginFirmwareUpdate (archive, nullptr).ok;
} };

// Host packet codes, as the unit reads them.
constexpr uint8_t kFirmwareStart = 0xB1, kFirmwareChunk = 0xB2, kPing = 0xB4, kVersion = 0xB5, kWriteStart = 0xC2,
                  kBlockRead = 0xC5, kProgramRequest = 0xCA;
} // namespace

// Every error step of every task body: the unit refuses the step's packet (a ping it answers by
// dropping off the bus). The service ends in Error with the step's message, the body sends nothing
// after the step, a mark the edit buffer had stays, the caller's completion is not called; and
// no update is left in progress: a detach then leaves the service Disconnected and a new attach
// refreshes the unit.
TEST (EditorServiceFailures, everyErrorStepEndsItsTaskInErrorWithItsMessage)
{
    using K = SimUnit::FaultKind;
    struct Row
    {
        const TaskUnderTest& task;
        K fault;
        uint8_t code;
        int occurrence;                  // of that code, from the fault's injection
        const char* error;
        std::vector<std::string> then {}; // requests the body still makes after the faulted packet
    };
    // The backup's block reads and the restore's block writes: first the globals, then six for
    // each preset, their n-th being 2 + 6 * entry + step (steps 0 to 5 in block order).
    const Row rows[] {
        { kRefresh,     K::Unplug, kPing,            1, "Failed to connect (1)" },
        { kRefresh,     K::Refuse, kPing,            1, "Failed to connect (2)" },
        { kRefresh,     K::Refuse, kVersion,         1, "Connected device is not supported", { "ping" } },
        { kRefresh,     K::Refuse, kBlockRead,       1, "Failed to refresh preset" },     // globals
        { kRefresh,     K::Refuse, kProgramRequest,  1, "Failed to refresh preset" },
        { kRefresh,     K::Refuse, kBlockRead,       2, "Failed to refresh preset" },     // edit buffer preset
        { kRefresh,     K::Refuse, kBlockRead,       3, "Failed to refresh preset" },     // its amp name
        { kRefresh,     K::Refuse, kBlockRead,       4, "Failed to refresh preset" },     // its cabinet name
        { kRefresh,     K::Refuse, kBlockRead,       5, "Failed to get amp name and ID" },
        { kRefresh,     K::Refuse, kBlockRead,       6, "Failed to get cabinet name" },
        { kSendAmp,     K::Refuse, kWriteStart,      1, "Failed to send amp data" },
        { kSendAmp,     K::Refuse, kWriteStart,      2, "Failed to send finishing filter data" },
        { kSendAmp,     K::Refuse, kWriteStart,      3, "Failed to send amp name and ID" },
        { kSendCab,     K::Refuse, kWriteStart,      1, "Failed to send cab data" },
        { kSendCab,     K::Refuse, kWriteStart,      2, "Failed to send cab name" },
        { kWritePreset, K::Refuse, kWriteStart,      1, "Failed to set preset data" },
        { kWritePreset, K::Refuse, kWriteStart,      2, "Failed to set amp data" },
        { kWritePreset, K::Refuse, kWriteStart,      3, "Failed to set finishing filter data" },
        { kWritePreset, K::Refuse, kWriteStart,      4, "Failed to set amp name and ID" },
        { kWritePreset, K::Refuse, kWriteStart,      5, "Failed to set cabinet data" },
        { kWritePreset, K::Refuse, kWriteStart,      6, "Failed to set cabinet name" },
        { kReadPreset,  K::Refuse, kBlockRead,       1, "Failed to get preset data" },
        { kReadPreset,  K::Refuse, kBlockRead,       2, "Failed to get amp data" },
        { kReadPreset,  K::Refuse, kBlockRead,       3, "Failed to get finishing filter data" },
        { kReadPreset,  K::Refuse, kBlockRead,       4, "Failed to get amp name and ID" },
        { kReadPreset,  K::Refuse, kBlockRead,       5, "Failed to get cabinet data" },
        { kReadPreset,  K::Refuse, kBlockRead,       6, "Failed to get cabinet name" },
        { kSave,        K::Refuse, kWriteStart,      1, "Failed to set preset data" },
        { kSave,        K::Refuse, kBlockRead,       1, "Failed to get amp data" },
        { kSave,        K::Refuse, kWriteStart,      2, "Failed to set amp data" },
        { kSave,        K::Refuse, kBlockRead,       2, "Failed to get finishing filter data" },
        { kSave,        K::Refuse, kWriteStart,      3, "Failed to set finishing filter data" },
        { kSave,        K::Refuse, kBlockRead,       3, "Failed to get amp name and ID" },
        { kSave,        K::Refuse, kWriteStart,      4, "Failed to set amp name and ID" },
        { kSave,        K::Refuse, kBlockRead,       4, "Failed to get cabinet data" },
        { kSave,        K::Refuse, kWriteStart,      5, "Failed to set cabinet data" },
        { kSave,        K::Refuse, kBlockRead,       5, "Failed to get cabinet name" },
        { kSave,        K::Refuse, kWriteStart,      6, "Failed to set cabinet name" },
        { kBackup,      K::Refuse, kBlockRead,       1, "Failed to get globals" },
        { kBackup,      K::Refuse, kBlockRead,       2 + 6 * 0 + 0, "Failed to get preset data" },
        { kBackup,      K::Refuse, kBlockRead,       2 + 6 * 1 + 1, "Failed to get amp data" },
        { kBackup,      K::Refuse, kBlockRead,       2 + 6 * 2 + 2, "Failed to get finishing filter data" },
        { kBackup,      K::Refuse, kBlockRead,       2 + 6 * 3 + 3, "Failed to get amp name and ID" },
        { kBackup,      K::Refuse, kBlockRead,       2 + 6 * 4 + 4, "Failed to get cabinet data" },
        { kBackup,      K::Refuse, kBlockRead,       2 + 6 * 6 + 5, "Failed to get cabinet name" },
        { kRestore,     K::Refuse, kWriteStart,      1, "Failed to set globals" },
        { kRestore,     K::Refuse, kWriteStart,      2 + 6 * 0 + 0, "Failed to set preset data" },
        { kRestore,     K::Refuse, kWriteStart,      2 + 6 * 0 + 1, "Failed to set amp data" },
        { kRestore,     K::Refuse, kWriteStart,      2 + 6 * 0 + 2, "Failed to set finishing filter data" },
        { kRestore,     K::Refuse, kWriteStart,      2 + 6 * 1 + 3, "Failed to set amp name and ID" },
        { kRestore,     K::Refuse, kWriteStart,      2 + 6 * 1 + 4, "Failed to set cabinet data" },
        { kRestore,     K::Refuse, kWriteStart,      2 + 6 * 1 + 5, "Failed to set cabinet name" },
        { kUpdate,      K::Refuse, kFirmwareStart,   1, "Failed to update DSP firmware" },
        { kUpdate,      K::Refuse, kFirmwareChunk,   3, "Failed to update DSP firmware" }, // part-way
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (testing::Message() << row.error << ", packet " << std::hex << (int) row.code << std::dec << " #" << row.occurrence);
        ServiceRig rig;
        const bool refresh = &row.task == &kRefresh;

        // Marked modified, so that a failure that clears the mark shows.
        if (! refresh)
        {
            ASSERT_TRUE (rig.connectAndRefresh());
            ASSERT_TRUE (rig.markModified());
        }

        rig.unit().injectFault (SimUnit::Fault (row.fault, row.code, row.occurrence));
        ASSERT_TRUE (row.task.start (rig));
        ASSERT_TRUE (rig.recorder().waitFor ("Error"));
        // Detached as the application detaches, before the unit goes, so that its going is no
        // communication error for the service; the connector then detaches once more.
        rig.service().disconnect();
        ASSERT_EQ (rig.service().getState(), Service::Disconnected) << "as when no update is left in progress";
        EXPECT_EQ (rig.service().isModified(), ! refresh);
        ASSERT_TRUE (rig.unplugAndDetach());

        // The new attach queues its refresh behind the failed task, so that task has ended once it ends.
        ASSERT_TRUE (rig.connectAndRefresh());
        EXPECT_EQ (rig.service().getLastError(), row.error);
        EXPECT_EQ (rig.recorder().count ("called"), 0u);

        auto states = rig.recorder().states();
        states.erase (std::unique (states.begin(), states.end(), [] (const auto& a, const auto& b) { return a == "Error" && b == a; }), states.end());
        auto expected = row.task.states;
        expected.insert (expected.end(), { "Error", "Disconnected", "Disconnected", "Idle", "Refreshing", "Refreshing", "Idle" });
        EXPECT_EQ (states, expected);

        // After the faulted packet, only what the row names, then the new attach's refresh.
        const auto packets = rig.unit().hostPackets();
        size_t faulted = 0;
        for (int seen = 0; faulted < packets.size(); ++faulted)
            if (! packets[faulted].empty() && packets[faulted][0] == row.code && ++seen == row.occurrence)
                break;
        ASSERT_LT (faulted, packets.size());
        expected = row.then;
        expected.insert (expected.end(), kFullRefreshRequests.begin(), kFullRefreshRequests.end());
        EXPECT_EQ (requests ({ packets.begin() + (long) faulted + 1, packets.end() }), expected);
    }
}

// The last preset: program 7, whose blocks the unit keeps at index 7.
TEST_F (EditorServiceChangePreset, goesToTheLastPresetAndStoresTheEditBufferAtItsProgram)
{
    ASSERT_TRUE (rig.service().requestChangePreset (6).ok);
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.service().getCurrentPresetIndex() == 6; }));
    ASSERT_TRUE (rig.drainWorker());

    const auto packets = rig.unit().hostPackets();
    ASSERT_FALSE (packets.empty());
    EXPECT_EQ (std::vector<uint8_t> (packets[0].begin(), packets[0].begin() + 3), (std::vector<uint8_t> { 0xC9, 0x01, 0x07 }));
    EXPECT_EQ (countOf (requests (packets), "program 7"), 1u);
    EXPECT_EQ (rig.unit().currentProgram(), 7);
    EXPECT_EQ (rig.service().getCurrentAmpName(), "Amp 7");
    EXPECT_EQ (rig.service().getState(), Service::Idle);

    // Stored from the mirror and from index 0 into index 7; the re-read then clears the mark.
    rig.unit().clearHostPackets();
    rig.recorder().clear();
    ASSERT_TRUE (rig.service().saveCurrentPreset().ok);
    ASSERT_TRUE (rig.recorder().waitFor ("data"));

    EXPECT_EQ (requests (rig.unit().hostPackets()),
               (std::vector<std::string> { "write 3/7", "read 6/0", "write 6/7", "read 8/0", "write 8/7", "read 5/0", "write 5/7",
                                           "read 10/0", "write 10/7", "read 9/0", "write 9/7",
                                           "read 1/0", "program?", "read 3/0", "read 5/0", "read 9/0" }));
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Reading", "Sending", "Idle" }));
    for (uint8_t type : { kAmpDataBlock, kFilterBlock, kAmpNameBlock, kCabDataBlock, kCabNameBlock })
        EXPECT_EQ (rig.unit().block (type, 7), rig.unit().block (type, 0)) << "block type " << (int) type;
    EXPECT_FALSE (rig.service().isModified());
}

TEST_F (EditorServiceChangePreset, followsANewTargetWithTheSameTask)
{
    // Asked for preset 5 while the change to 3 is under way (after its first re-read). Safe from a
    // listener only because a change is in flight: the request just moves the target.
    std::atomic<bool> asked { false };
    Service::Listener listener;
    const ServiceStopper stopper { rig };
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

TEST_F (EditorServiceChangePreset, staysIdleWhenTheUnitRefusesAndQueuesTheNextRequestAfresh)
{
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

TEST_F (EditorServiceChangePreset, givesUpAfterSixteenRoundsWhenThePresetNeverSettles)
{
    // The target moves on at every re-read of the change (twice a round), so the preset the unit
    // reports is never the one asked for: 16 rounds make 32 moves, then the change gives up. The
    // listener may ask only while the change is in flight, when a request just moves the target.
    constexpr int kMoves = 2 * Service::kMaxPresetChangeRounds;
    std::atomic<int> moves { 0 };
    std::atomic<int> target { 3 };
    Service::Listener listener;
    const ServiceStopper stopper { rig };
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

TEST_F (EditorServiceConnection, entersErrorOnACommunicationFailureThenDisconnectsAndRecovers)
{
    rig.unit().unplug();
    ASSERT_TRUE (rig.recorder().waitFor ("Error"));
    EXPECT_EQ (rig.service().getLastError(), "A communication error occurred");

    ASSERT_TRUE (rig.unplugAndDetach());
    EXPECT_EQ (rig.service().getState(), Service::Disconnected);
    EXPECT_EQ (rig.service().saveCurrentPreset().message, "Cannot start task while not connected");

    rig.recorder().clear();
    rig.unit().clearHostPackets();
    ASSERT_TRUE (rig.connectAndRefresh());
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "Idle", "Refreshing", "Refreshing", "Idle" }));
    EXPECT_EQ (requests (rig.unit().hostPackets()), kFullRefreshRequests);
}

TEST_F (EditorServiceConnection, detachingWaitsForTheWorkerToLeaveItsProtocolCall)
{
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

TEST_F (EditorServiceLifetime, destroyingWithTasksQueuedAndOneRunningNeverHangs)
{
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

TEST (EditorServiceFirmware, failsWithATimeoutWhenTheUnitDoesNotComeBack)
{
    SimUnit::UnitOptions options;
    options.restartDelay = 600000ms; // never within the test
    auto timing = fastTiming();
    // Far longer than the unit takes to drop off the bus, so the loss always comes first
    // and is taken as the expected restart, never as a communication error.
    timing.reconnectLimit = 1000ms;
    ServiceRig rig (options, timing);
    ASSERT_TRUE (rig.connectAndStartUpdate());
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.recorder().count ("Error") >= 1; }));

    EXPECT_FALSE (rig.unit().isPlugged());
    EXPECT_EQ (rig.service().getLastError(), "Timeout waiting for reconnect");
    EXPECT_EQ (rig.recorder().states(), (std::vector<std::string> { "UpdatingFirmware", "UpdatingFirmware", "Reconnecting", "Error" }));
}

TEST (EditorServiceFirmware, aUnitLostWhileGettingReadyLeavesTheServiceDisconnected)
{
    SimUnit::UnitOptions options;
    options.restartDelay = 30ms;
    auto timing = fastTiming();
    timing.readyWait = 1000ms; // the unit goes again within it: ample for the few calls that take it away
    ServiceRig rig (options, timing);
    ASSERT_TRUE (rig.connectAndStartUpdate());
    ASSERT_TRUE (rig.recorder().waitFor ("Reconnecting"));

    // The unit comes back (the second attach), which starts the wait for it to be ready, and
    // drops off again at once.
    ASSERT_TRUE (rig.scanUntil ([&] { return rig.attachCount() == 2; }));
    rig.recorder().clear();
    ASSERT_TRUE (rig.unplugAndDetach());
    EXPECT_EQ (rig.service().getState(), Service::Disconnected);

    // Destroying the service joins the worker once the update has ended: it must not have made the
    // service idle without a unit.
    expectReturnsInTime ([&] { rig.destroyService(); });
    EXPECT_EQ (countOf (rig.recorder().states(), "Idle"), 0u);
}

TEST (EditorServiceFirmware, destroyingTheServiceDuringTheReconnectWaitEndsTheWait)
{
    SimUnit::UnitOptions options;
    options.restartDelay = 600000ms;
    auto timing = fastTiming();
    timing.reconnectLimit = 600000ms;
    ServiceRig rig (options, timing);
    ASSERT_TRUE (rig.connectAndStartUpdate());
    ASSERT_TRUE (rig.recorder().waitFor ("Reconnecting"));

    testing::internal::CaptureStdout();
    expectReturnsInTime ([&] { rig.destroyService(); });
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE (log.find ("Task cancelled"), std::string::npos);
}

// The application detaches while the image goes out (from the message thread): detaching waits for
// the transfer call to end; the update then waits for the unit, which comes back and is refreshed.
TEST (EditorServiceFirmware, sendsTheImageWaitsForTheUnitToComeBackAndRefreshes)
{
    SimUnit::UnitOptions options;
    options.restartDelay = 30ms;
    ServiceRig rig (options);
    std::promise<void> started;
    std::atomic<bool> first { true };
    std::atomic<double> lastProgress { 0.0 };
    const ServiceStopper stopper { rig };
    ASSERT_TRUE (rig.connectAndStartUpdate (6000, [&] (double p)
    {
        if (first.exchange (false))
            started.set_value();
        lastProgress = p;
        if (p == 1.0)
            rig.recorder().add ("sent");
    }));
    ASSERT_EQ (started.get_future().wait_for (kWait), std::future_status::ready);

    rig.service().setProtocol (nullptr);
    rig.recorder().add ("detached");
    const auto events = rig.recorder().events();
    EXPECT_LT (std::find (events.begin(), events.end(), "sent"), std::find (events.begin(), events.end(), "detached"));

    ASSERT_TRUE (rig.scanUntil ([&] { return rig.recorder().count ("param 214") >= 1; }));
    EXPECT_EQ (rig.recorder().states(),
               (std::vector<std::string> { "UpdatingFirmware", "UpdatingFirmware", "Reconnecting",
                                           "Idle", "Refreshing", "Refreshing", "Idle" }));
    EXPECT_EQ (rig.unit().restartCount(), 1);
    EXPECT_EQ (lastProgress.load(), 1.0);
    Data::FirmwareVersionInfo versions;
    EXPECT_TRUE (rig.service().getFirmwareVersionInfo (versions));
    EXPECT_EQ (versions.dspVersion, (std::array<uint8_t, 4> { 4, 3, 0, 0 }));
    const auto sent = requests (rig.unit().hostPackets());
    EXPECT_EQ (sent.front(), "firmware");
    EXPECT_EQ (std::vector<std::string> (sent.end() - (long) kFullRefreshRequests.size(), sent.end()), kFullRefreshRequests);
}
