// The editor service's task bodies: what runs on the worker thread once a starter has
// accepted an operation.
#include "TovarekMk2EditorServiceDetail.h"

#include "DeviceSafeString.h"

#include <algorithm>
#include <climits>
#include <memory>

namespace TovarekMk2
{

namespace
{
// The major system version that identifies the unit.
constexpr int kSupportedDeviceType = 4;

// Characters of a cabinet name the unit keeps.
constexpr int kCabinetNameCharacters = static_cast<int> (Data::kCabinetNameLength);

// Backup and restore report progress in sevenths, one per preset index.
constexpr double kProgressSteps = 7.0;
} // namespace

//==============================================================================
// Task bodies (worker thread)

// What one re-read of the edit buffer takes from the unit.
struct TovarekMk2EditorService::EditBufferSnapshot
{
    ParameterMapValues globals;
    uint32_t program = 0;
    ParameterMapValues presetValues;
    Data::AmpNameAndID amp;
    std::string cabName;
};

Korvantal::Result TovarekMk2EditorService::refreshGlobals (bool full)
{
    uint64_t marks = 0;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        marks = _modifiedMarks;
    }

    return refreshGlobals (full, marks);
}

Korvantal::Result TovarekMk2EditorService::refreshGlobals (bool full, uint64_t marksWhenAsked)
{
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        _refreshPending = false;
        _refreshPendingFull = false;
        _reReadInFlight = true;
    }

    EditBufferSnapshot snapshot;
    const Result read = readEditBuffer (snapshot);

    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (read.ok)
            storeEditBuffer (snapshot, full, marksWhenAsked);

        _reReadInFlight = false;
        _reportedDuringReRead.clear();
    }

    TOVAREK_LOG_ONLY_STEP (read);
    notifyDataRefreshed();
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::readEditBuffer (EditBufferSnapshot& snapshot)
{
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readGlobals (snapshot.globals); }), "Failed to get globals");
    TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.getCurrentPreset (snapshot.program); }));
    TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readPreset (kEditBufferIndex, snapshot.presetValues); }));
    TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpNameAndID (kEditBufferIndex, snapshot.amp); }));
    TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabName (kEditBufferIndex, snapshot.cabName); }));
    return Result::success;
}

void TovarekMk2EditorService::storeEditBuffer (EditBufferSnapshot& snapshot, bool full, uint64_t marksWhenAsked)
{
    // Program 0 is the preset the favourite switch selects. A program beyond any int is clamped,
    // so that neither this index nor the program number computed from it overflows.
    _currentPresetIndex = snapshot.program == 0 ? _favouriteSwitchIndex
                                                : static_cast<int> (std::min<uint32_t> (snapshot.program, INT_MAX)) - 1;
    _presetValues = std::move (snapshot.presetValues);
    _currentAmpName = snapshot.amp.name;
    _currentCabName = snapshot.cabName;
    _globalValues = std::move (snapshot.globals);

    // The unit reported these after the snapshot was taken: they are newer than it.
    for (const auto& [scope, values] : _reportedDuringReRead)
        for (const auto& [key, value] : values)
            (*valuesForScope (scope))[key] = value;

    // An edit marked after the re-read was asked for (a knob turned on the unit after it changed
    // preset, or during the re-read) leaves the edit buffer differing from its preset.
    if (full && _modifiedMarks == marksWhenAsked)
        _modified = false;
}

Korvantal::Result TovarekMk2EditorService::readDeviceVersions (FirmwareVersionInfo& versions)
{
    versions = FirmwareVersionInfo();
    const Result read = withProtocol ([&] (KorvantalProtocol& p) { return p.getFirmwareVersionInfo (versions); });

    if (read.ok)
    {
        logMessage (kLogDebug, "TovarekMk2EditorService: System version: %d.%d.%d",
                    versions.systemVersion[0], versions.systemVersion[1], versions.systemVersion[2]);
        logMessage (kLogDebug, "TovarekMk2EditorService: DSP version: %d.%d.%d",
                    versions.dspVersion[0], versions.dspVersion[1], versions.dspVersion[2]);
    }
    else
    {
        logMessage (kLogWarning, "Failed to get version information - assuming invalid version");
        versions = FirmwareVersionInfo();
        versions.extraCode = -1;
    }

    std::lock_guard<std::mutex> lock (_stateMutex);
    _deviceFirmware = versions;
    return read;
}

Korvantal::Result TovarekMk2EditorService::refreshAllBody (bool checkDevice)
{
    logMessage (kLogDebug, "Starting refresh");
    setState (Refreshing);

    if (checkDevice)
    {
        sleepFor (_timing.settleDelay);

        FirmwareVersionInfo versions;
        readDeviceVersions (versions); // a failure leaves type 0, which the type check rejects

        bool alive = false;
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.ping (alive); }), "Failed to connect (1)");

        if (! alive)
        {
            setError ("Failed to connect (2)");
            return KORVANTAL_ERROR ("Failed to connect (2)");
        }

        const int deviceType = versions.systemVersion[0];

        if (deviceType != kSupportedDeviceType)
        {
            logMessage (kLogWarning, "Rejected connection to device with reported type %d", deviceType);
            setError ("Connected device is not supported");
            return KORVANTAL_ERROR ("Connected device is not supported");
        }

        logMessage (kLogDebug, "TovarekMk2EditorService: Accepted connection to device with reported type %d", deviceType);

        if (! isFirmwareSupported (versions))
        {
            setState (FirmwareTooOld);
            return Result::success;
        }
    }

    TOVAREK_ERROR_STEP (refreshGlobals (true), "Failed to refresh preset");

    for (int slot = 0; slot < kUserSlotCount; ++slot)
    {
        const uint32_t index = static_cast<uint32_t> (slot + kFirstUserSlotIndex);

        Data::AmpNameAndID amp;
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpNameAndID (index, amp); }),
                            "Failed to get amp name and ID");

        std::string cabName;
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabName (index, cabName); }),
                            "Failed to get cabinet name");

        std::lock_guard<std::mutex> lock (_stateMutex);
        _ampNames[static_cast<size_t> (slot)] = amp.name;
        _cabNames[static_cast<size_t> (slot)] = cabName;
    }

    setState (Idle);
    notifyDataRefreshed();
    processPendingRefresh();
    // The unit answers with a status report that reaches statusReceived.
    return withProtocol ([] (KorvantalProtocol& p) { return p.requestStatus(); });
}

Korvantal::Result TovarekMk2EditorService::sendAmpBody (int index, const Amp& amp, int slot)
{
    logMessage (kLogDebug, "Sending amp");
    setState (Sending);

    const uint32_t device = static_cast<uint32_t> (index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendAmpData (device, amp.data); }),
                        "Failed to send amp data");
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendFinishingFilter (device, amp.finishingFilter); }),
                        "Failed to send finishing filter data");
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendAmpNameAndID (device, amp.nameAndID); }),
                        "Failed to send amp name and ID");

    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (isUserSlot (slot))
        {
            _ampNames[static_cast<size_t> (slot)] = amp.nameAndID.name;
        }
        else
        {
            _currentAmpName = amp.nameAndID.name;
            markModified();
        }
    }

    setState (Idle);
    notifyDataRefreshed();
    processPendingRefresh();
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::sendCabBody (int index, const Cabinet& cabinet, int slot)
{
    logMessage (kLogDebug, "Sending cab");
    setState (Sending);

    const uint32_t device = static_cast<uint32_t> (index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendCabData (device, cabinet.impulse); }),
                        "Failed to send cab data");

    const std::string name = Korvantal::makeDeviceSafeString (cabinet.name, kCabinetNameCharacters);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendCabName (device, name); }),
                        "Failed to send cab name");

    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (isUserSlot (slot))
        {
            _cabNames[static_cast<size_t> (slot)] = name;
        }
        else
        {
            _currentCabName = name;
            markModified();
        }
    }

    setState (Idle);
    notifyDataRefreshed();
    processPendingRefresh();
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::setPresetDataBody (int index, const FullTovarekMk2Preset& preset, bool fullRefresh)
{
    logMessage (kLogDebug, "Starting setPresetData");
    setState (Sending);

    const uint32_t device = static_cast<uint32_t> (index);

    logMessage (kLogDebug, "Sending preset %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendPreset (device, preset.parameters); }),
                        "Failed to set preset data");
    logMessage (kLogDebug, "Sending ampData %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendAmpData (device, preset.ampData); }),
                        "Failed to set amp data");
    logMessage (kLogDebug, "Sending finishingFilter %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendFinishingFilter (device, preset.finishingFilter); }),
                        "Failed to set finishing filter data");
    logMessage (kLogDebug, "Sending ampNameAndID %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendAmpNameAndID (device, preset.ampNameAndID); }),
                        "Failed to set amp name and ID");
    logMessage (kLogDebug, "Sending cabData %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendCabData (device, preset.cabinet.impulse); }),
                        "Failed to set cabinet data");
    logMessage (kLogDebug, "Sending cabName %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendCabName (device, preset.cabinet.name); }),
                        "Failed to set cabinet name");

    setState (Idle);
    refreshGlobals (fullRefresh);
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::getPresetDataBody (int index,
                                                              const std::function<void (const FullTovarekMk2Preset&)>& callback)
{
    logMessage (kLogDebug, "Starting getPresetData");
    setState (Reading);

    const uint32_t device = static_cast<uint32_t> (index);
    FullTovarekMk2Preset preset;

    logMessage (kLogDebug, "Read preset %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readPreset (device, preset.parameters); }),
                        "Failed to get preset data");
    logMessage (kLogDebug, "Read ampData %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpData (device, preset.ampData); }),
                        "Failed to get amp data");
    logMessage (kLogDebug, "Read finishingFilter %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readFinishingFilter (device, preset.finishingFilter); }),
                        "Failed to get finishing filter data");
    logMessage (kLogDebug, "Read ampNameAndID %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpNameAndID (device, preset.ampNameAndID); }),
                        "Failed to get amp name and ID");
    logMessage (kLogDebug, "Read cabData %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabData (device, preset.cabinet.impulse); }),
                        "Failed to get cabinet data");
    logMessage (kLogDebug, "Read cabName %d", index);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabName (device, preset.cabinet.name); }),
                        "Failed to get cabinet name");

    setState (Idle);
    processPendingRefresh();

    if (callback)
        callback (preset);

    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::saveCurrentPresetBody()
{
    logMessage (kLogDebug, "Starting saveCurrentPreset");
    setState (Sending);

    int presetIndex = 0;
    ParameterMapValues values;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        presetIndex = _currentPresetIndex;
        values = _presetValues;
    }

    // The preset's blocks lie at its program number; the other blocks come from the edit buffer.
    const int target = presetIndex + 1;
    const uint32_t device = static_cast<uint32_t> (target);
    const uint32_t source = kEditBufferIndex;

    logMessage (kLogDebug, "Write preset data %d", target);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendPreset (device, values); }),
                        "Failed to set preset data");

    Data::AmpData ampData;
    logMessage (kLogDebug, "Read ampData %d", kEditBufferIndex);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpData (source, ampData); }),
                        "Failed to get amp data");
    logMessage (kLogDebug, "Write ampData %d", target);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendAmpData (device, ampData); }),
                        "Failed to set amp data");

    Data::FinishingFilter filter = Data::makeDefaultFinishingFilter();
    logMessage (kLogDebug, "Read finishingFilter %d", kEditBufferIndex);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readFinishingFilter (source, filter); }),
                        "Failed to get finishing filter data");
    logMessage (kLogDebug, "Write finishingFilter %d", target);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendFinishingFilter (device, filter); }),
                        "Failed to set finishing filter data");

    Data::AmpNameAndID amp;
    logMessage (kLogDebug, "Read ampNameAndID %d", kEditBufferIndex);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpNameAndID (source, amp); }),
                        "Failed to get amp name and ID");
    logMessage (kLogDebug, "Write ampNameAndID %d", target);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendAmpNameAndID (device, amp); }),
                        "Failed to set amp name and ID");

    Data::Impulse impulse = Data::makeUnitImpulse();
    logMessage (kLogDebug, "Read cabData %d", kEditBufferIndex);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabData (source, impulse); }),
                        "Failed to get cabinet data");
    logMessage (kLogDebug, "Write cabData %d", target);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendCabData (device, impulse); }),
                        "Failed to set cabinet data");

    std::string cabName;
    logMessage (kLogDebug, "Read cabName %d", kEditBufferIndex);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabName (source, cabName); }),
                        "Failed to get cabinet name");
    logMessage (kLogDebug, "Write cabName %d", target);
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendCabName (device, cabName); }),
                        "Failed to set cabinet name");

    setState (Idle);
    refreshGlobals (true); // clears the modified mark once the unit has been re-read
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::backupBody (const std::function<void (double)>& progress,
                                                       const std::function<void (const TovarekMk2Archive&)>& completion)
{
    logMessage (kLogDebug, "Starting backup");
    setState (BackingUp);

    TovarekMk2Archive archive;
    archive.globals = std::make_unique<Data::Globals>();
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readGlobals (*archive.globals); }),
                        "Failed to get globals");

    for (int i = 0; i < kPresetCount; ++i)
    {
        archive.presets.emplace_back();
        auto& entry = archive.presets.back();
        entry.index = static_cast<uint32_t> (i);
        auto& preset = entry.preset;
        const uint32_t device = entry.index;

        logMessage (kLogDebug, "Backup preset %d", i);
        if (progress)
            progress (i / kProgressSteps);

        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readPreset (device, preset.parameters); }),
                            "Failed to get preset data");
        logMessage (kLogDebug, "Backup ampData %d", i);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpData (device, preset.ampData); }),
                            "Failed to get amp data");
        logMessage (kLogDebug, "Backup finishingFilter %d", i);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readFinishingFilter (device, preset.finishingFilter); }),
                            "Failed to get finishing filter data");
        logMessage (kLogDebug, "Backup ampNameAndID %d", i);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpNameAndID (device, preset.ampNameAndID); }),
                            "Failed to get amp name and ID");
        logMessage (kLogDebug, "Backup cabData %d", i);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabData (device, preset.cabinet.impulse); }),
                            "Failed to get cabinet data");
        logMessage (kLogDebug, "Backup cabName %d", i);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabName (device, preset.cabinet.name); }),
                            "Failed to get cabinet name");
    }

    setState (Idle);
    processPendingRefresh();

    if (completion)
        completion (archive);

    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::restoreBody (const TovarekMk2Archive& archive, const std::function<void (double)>& progress)
{
    logMessage (kLogDebug, "Starting restore");
    setState (Restoring);

    if (archive.globals != nullptr)
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendGlobals (*archive.globals); }),
                            "Failed to set globals");

    for (const auto& entry : archive.presets)
    {
        const auto& preset = entry.preset;
        const uint32_t device = entry.index;
        const int idx = static_cast<int> (entry.index);

        logMessage (kLogDebug, "Restoring preset %d", idx);
        if (progress)
            progress (idx / kProgressSteps);

        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendPreset (device, preset.parameters); }),
                            "Failed to set preset data");
        logMessage (kLogDebug, "Restoring ampData %d", idx);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendAmpData (device, preset.ampData); }),
                            "Failed to set amp data");
        logMessage (kLogDebug, "Restoring finishingFilter %d", idx);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendFinishingFilter (device, preset.finishingFilter); }),
                            "Failed to set finishing filter data");
        logMessage (kLogDebug, "Restoring ampNameAndID %d", idx);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendAmpNameAndID (device, preset.ampNameAndID); }),
                            "Failed to set amp name and ID");
        logMessage (kLogDebug, "Restoring cabData %d", idx);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendCabData (device, preset.cabinet.impulse); }),
                            "Failed to set cabinet data");
        logMessage (kLogDebug, "Restoring cabName %d", idx);
        TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.sendCabName (device, preset.cabinet.name); }),
                            "Failed to set cabinet name");
    }

    setState (Idle);
    refreshGlobals (true);
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::changePresetBody (Task& task)
{
    const Result result = changePresetRounds (task);

    // A finished change has already cleared the flag together with its last comparison.
    std::lock_guard<std::mutex> lock (_stateMutex);
    _changeInFlight = false;
    return result;
}

Korvantal::Result TovarekMk2EditorService::changePresetRounds (Task& task)
{
    for (int round = 0; round < kMaxPresetChangeRounds; ++round)
    {
        if (task.isCancelled())
            return Result::success;

        int target = 0;
        {
            std::lock_guard<std::mutex> lock (_stateMutex);
            _changeInFlight = true;
            target = _requestedPresetIndex;
        }

        TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p)
        {
            return p.setCurrentPreset (static_cast<uint32_t> (target + 1));
        }));
        TOVAREK_LOG_ONLY_STEP (refreshGlobals (true));

        bool done = false;
        {
            std::lock_guard<std::mutex> lock (_stateMutex);
            done = _currentPresetIndex == _requestedPresetIndex;

            // Cleared together with the comparison: a request made after it queues a new change
            // instead of moving the target of a change that is already over.
            if (done)
                _changeInFlight = false;
        }

        notifyDataRefreshed();

        if (done)
            return Result::success;
    }

    // A unit that keeps reporting another program (its favourite switch, say) must not hold
    // the worker for ever.
    return KORVANTAL_ERROR ("Preset change given up after %d rounds: the unit reports another preset",
                            kMaxPresetChangeRounds);
}

Korvantal::Result TovarekMk2EditorService::firmwareUpdateBody (Task& task, const TovarekMk2Archive& archive,
                                                               const std::function<void (double)>& progress)
{
    logMessage (kLogDebug, "Starting update");

    // A protocol left in its error state by the failure that made the update necessary talks again.
    withProtocol ([] (KorvantalProtocol& p)
    {
        p.clearError();
        return Result::success;
    });

    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        _firmwareUpdateInProgress = true;
    }

    setState (UpdatingFirmware);

    if (archive.firmwareImage == nullptr)
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        _firmwareUpdateInProgress = false;
    }
    else
    {
        const Result sent = withProtocol ([&] (KorvantalProtocol& p) { return p.updateFirmware (*archive.firmwareImage, progress); });

        if (! sent.ok)
        {
            {
                std::lock_guard<std::mutex> lock (_stateMutex);
                _firmwareUpdateInProgress = false;
            }
            TOVAREK_ERROR_STEP (sent, "Failed to update DSP firmware");
        }

        logMessage (kLogDebug, "Reconnecting");
        setState (Reconnecting);
        TOVAREK_LOG_ONLY_STEP (waitForReconnect (task));

        logMessage (kLogDebug, "Waiting for ready");
        sleepFor (_timing.readyWait);
    }

    logMessage (kLogDebug, "Update complete");

    // A unit lost again while it got ready has been detached (or has failed the connection), and
    // one attached since has queued its own refresh: then the state is no longer the update's to
    // end. Tested and set in one go, so that a detach cannot fall in between.
    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (_protocol == nullptr || (_state != UpdatingFirmware && _state != Reconnecting))
            return Result::success;

        _state = Idle;
    }

    notifyStateChanged (Idle);
    beginRefreshAll (true);
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::waitForReconnect (Task& task)
{
    // The unit restarts with the new firmware; attaching its new protocol clears the flag.
    for (std::chrono::milliseconds waited { 0 };; waited += _timing.reconnectPoll)
    {
        sleepFor (_timing.reconnectPoll);

        {
            std::lock_guard<std::mutex> lock (_stateMutex);

            if (! _firmwareUpdateInProgress)
                return Result::success;

            // Given up in the same lock as the look, so an attach cannot slip in between.
            if (waited < _timing.reconnectLimit && ! task.isCancelled())
                continue;

            _firmwareUpdateInProgress = false;
        }

        if (waited >= _timing.reconnectLimit)
        {
            setError ("Timeout waiting for reconnect");
            return KORVANTAL_ERROR ("Timeout waiting for reconnect");
        }

        return KORVANTAL_ERROR ("Task cancelled");
    }
}

Korvantal::Result TovarekMk2EditorService::refreshCurrentPresetBody (bool full, uint64_t marksWhenAsked)
{
    TOVAREK_LOG_ONLY_STEP (refreshGlobals (full, marksWhenAsked));
    notifyDataRefreshed();
    return Result::success;
}

} // namespace TovarekMk2
