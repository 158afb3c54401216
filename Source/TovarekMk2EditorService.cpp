#include "TovarekMk2EditorService.h"

#include "TovarekMk2EditorServiceDetail.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace TovarekMk2
{

namespace
{
// The unit's own position reports, outside the parameter map.
constexpr uint16_t kPositionAmp = kParamPositionAmp;
constexpr uint16_t kPositionCabinet = kParamPositionCabinet;
constexpr uint16_t kPositionPreset = kParamPositionPreset;
constexpr uint16_t kPositionPresetAlt = kParamPositionPresetAlt;
constexpr uint16_t kPositionUnused4 = kParamPositionUnused4;
constexpr uint16_t kPositionUnused5 = kParamPositionUnused5;

// A status report's payload and the bytes the service reads from it.
constexpr size_t kStatusPayloadLength = 12;
constexpr size_t kStatusLevelByte = 6;
constexpr size_t kStatusAmpByte = 8;
constexpr size_t kStatusCabinetByte = 9;
constexpr size_t kStatusFavouriteSwitchByte = 10;
constexpr size_t kStatusLoadedFavouriteByte = 11;
constexpr double kStatusLevelFullScale = 255.0;

// Rounds halves away from zero; a value from the unit that is not a number or out of range
// becomes 0 or the nearest int instead of undefined behaviour.
int roundToInt (double value)
{
    if (std::isnan (value))
        return 0;

    const double rounded = std::round (value);
    if (rounded <= static_cast<double> (INT_MIN))
        return INT_MIN;
    if (rounded >= static_cast<double> (INT_MAX))
        return INT_MAX;
    return static_cast<int> (rounded);
}

// A 1-based number the unit reports as a 0-based index. Clamped first, so that no float the unit
// sends can overflow it, nor the program number (index + 1) computed from it later.
int indexFromNumber (float number)
{
    return std::max (roundToInt (number), INT_MIN + 1) - 1;
}

// A raw stored value as the parameter's kind; false for a kind that has no conversion.
bool convertStoredValue (uint32_t valueType, float stored, TovarekMk2ParamMap::ParameterValue& out)
{
    if (valueType == TovarekMk2ParamMap::kFloat)
    {
        out = { TovarekMk2ParamMap::kFloat, static_cast<double> (stored) };
        return true;
    }

    if (valueType == TovarekMk2ParamMap::kInteger)
    {
        out = { TovarekMk2ParamMap::kInteger, std::round (static_cast<double> (stored)) };
        return true;
    }

    return false;
}

// A version as one number: major in the top byte, so versions order by major, minor, patch.
uint32_t versionNumber (const std::array<uint8_t, 4>& version)
{
    return (static_cast<uint32_t> (version[0]) << 24) | (static_cast<uint32_t> (version[1]) << 16)
         | (static_cast<uint32_t> (version[2]) << 8) | static_cast<uint32_t> (version[3]);
}

bool isZeroVersion (const std::array<uint8_t, 4>& version)
{
    return versionNumber (version) == 0;
}
} // namespace

//==============================================================================
// Construction and connection

TovarekMk2EditorService::TovarekMk2EditorService (const FirmwareVersionInfo* minimumFirmware)
    : TovarekMk2EditorService (minimumFirmware, Timing())
{
}

TovarekMk2EditorService::TovarekMk2EditorService (const FirmwareVersionInfo* minimumFirmware, Timing timing)
    : _timing (timing),
      _ampNames (kUserSlotCount, "?"),
      _cabNames (kUserSlotCount, "?")
{
    if (minimumFirmware != nullptr)
    {
        _minimumFirmware = *minimumFirmware;
    }
    else
    {
        _minimumFirmware.systemVersion = {};
        _minimumFirmware.dspVersion = {};
        _minimumFirmware.extraCode = -1;
    }
}

TovarekMk2EditorService::~TovarekMk2EditorService()
{
    setProtocol (nullptr);
    // _taskQueue, the last member, is destroyed first: it cancels, lets a running body finish
    // and joins the worker while every field a body touches still exists.
}

Korvantal::Result TovarekMk2EditorService::setProtocol (KorvantalProtocol* protocol)
{
    logMessage (kLogDebug, protocol != nullptr ? "connect" : "disconnect");

    KorvantalProtocol* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        previous = _protocol;
    }

    // Handler calls go without _stateMutex: the protocol calls its handler under its own lock,
    // and the handler takes _stateMutex.
    if (previous != nullptr)
        previous->setHandler (nullptr);

    {
        std::unique_lock<std::mutex> lock (_stateMutex);
        _protocol = protocol;

        // The caller destroys the previous protocol once this returns, so the worker must have
        // left any call on it. Its calls end promptly once the transport has failed.
        if (previous != nullptr && previous != protocol)
            _protocolCallEnded.wait (lock, [&]
            {
                return _protocolInCall != previous || _protocolCallThread == std::this_thread::get_id();
            });
    }

    if (protocol != nullptr)
    {
        protocol->setHandler (this);

        bool updateWaiting = false;
        {
            std::lock_guard<std::mutex> lock (_stateMutex);
            updateWaiting = _firmwareUpdateInProgress;
            _firmwareUpdateInProgress = false;
        }

        // A firmware update waiting for the unit to come back goes on by itself.
        if (updateWaiting)
            return Result::success;

        setState (Idle);
        return beginRefreshAll (true);
    }

    bool updateWaiting = false;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        updateWaiting = _firmwareUpdateInProgress;
    }

    if (! updateWaiting)
    {
        cancelQueuedTasks();
        setState (Disconnected);
    }

    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::disconnect()
{
    return setProtocol (nullptr);
}

//==============================================================================
// Listeners

void TovarekMk2EditorService::addListener (Listener* listener)
{
    std::lock_guard<std::mutex> lock (_listenerMutex);
    _listeners.push_back (listener);
}

void TovarekMk2EditorService::removeListener (Listener* listener)
{
    std::lock_guard<std::mutex> lock (_listenerMutex);
    _listeners.erase (std::remove (_listeners.begin(), _listeners.end(), listener), _listeners.end());
}

void TovarekMk2EditorService::notifyStateChanged (State state)
{
    std::lock_guard<std::mutex> lock (_listenerMutex);
    for (auto* listener : _listeners)
        if (listener->stateChanged)
            listener->stateChanged (state);
}

void TovarekMk2EditorService::notifyDataRefreshed()
{
    std::lock_guard<std::mutex> lock (_listenerMutex);
    for (auto* listener : _listeners)
        if (listener->dataRefreshed)
            listener->dataRefreshed();
}

void TovarekMk2EditorService::notifyParameterChanged (TovarekMk2ParamID id, const ParameterValue& value)
{
    std::lock_guard<std::mutex> lock (_listenerMutex);
    for (auto* listener : _listeners)
        if (listener->parameterValueChanged)
            listener->parameterValueChanged (id, value);
}

//==============================================================================
// Getters

TovarekMk2EditorService::State TovarekMk2EditorService::getState() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _state;
}

std::string TovarekMk2EditorService::getLastError() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _lastError;
}

bool TovarekMk2EditorService::getFirmwareVersionInfo (FirmwareVersionInfo& out) const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    out = _deviceFirmware;
    return _protocol != nullptr;
}

int TovarekMk2EditorService::getCurrentPresetIndex() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _currentPresetIndex;
}

bool TovarekMk2EditorService::isModified() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _modified;
}

int TovarekMk2EditorService::getCurrentAmpIndex() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _currentAmpIndex;
}

int TovarekMk2EditorService::getCurrentCabIndex() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _currentCabIndex;
}

std::string TovarekMk2EditorService::getCurrentAmpName() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _currentAmpName;
}

std::string TovarekMk2EditorService::getCurrentCabName() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _currentCabName;
}

std::string TovarekMk2EditorService::getAmpName (int slot) const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return isUserSlot (slot) ? _ampNames[static_cast<size_t> (slot)] : std::string();
}

std::string TovarekMk2EditorService::getCabName (int slot) const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return isUserSlot (slot) ? _cabNames[static_cast<size_t> (slot)] : std::string();
}

Korvantal::Result TovarekMk2EditorService::getParameterValue (TovarekMk2ParamID id, ParameterValue& out) const
{
    const ParameterInfo* info = _paramMap.findParameterInfo (id);

    std::lock_guard<std::mutex> lock (_stateMutex);
    const ParameterMapValues* values = info != nullptr ? valuesForScope (info->scope) : nullptr;

    if (values == nullptr)
        return KORVANTAL_ERROR ("No scope for parameter");

    const auto stored = values->find (info->valueKey);

    if (stored == values->end())
        out = info->defaultValue;
    else
        convertStoredValue (info->valueType, stored->second, out); // another kind leaves out alone

    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::getParameterInfo (TovarekMk2ParamID id, ParameterInfo& out) const
{
    const ParameterInfo* info = _paramMap.findParameterInfo (id);

    if (info == nullptr)
        return KORVANTAL_ERROR ("Parameter info not found");

    out = *info;
    return Result::success;
}

TovarekMk2EditorService::ParameterMapValues* TovarekMk2EditorService::valuesForScope (uint32_t scope)
{
    switch (scope)
    {
        case TovarekMk2ParamMap::kPreset: return &_presetValues;
        case TovarekMk2ParamMap::kGlobal: return &_globalValues;
        case TovarekMk2ParamMap::kStatus: return &_statusValues;
        default:                          return nullptr;
    }
}

const TovarekMk2EditorService::ParameterMapValues* TovarekMk2EditorService::valuesForScope (uint32_t scope) const
{
    return const_cast<TovarekMk2EditorService*> (this)->valuesForScope (scope);
}

void TovarekMk2EditorService::markModified()
{
    _modified = true;
    ++_modifiedMarks;
}

//==============================================================================
// Task starters

Korvantal::Result TovarekMk2EditorService::startTask (State state, Body body)
{
    KorvantalProtocol* protocol = nullptr;
    uint64_t cancelsAtStart = 0;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (_protocol == nullptr)
            return KORVANTAL_ERROR ("Cannot start task while not connected");

        if (_state != Idle)
            return KORVANTAL_ERROR ("Cannot start task while busy");

        _state = state;
        protocol = _protocol;
        cancelsAtStart = _cancelCount;
    }

    notifyStateChanged (state);
    queueStartedTask (protocol, cancelsAtStart, std::move (body));
    return Result::success;
}

void TovarekMk2EditorService::queueStartedTask (KorvantalProtocol* protocol, uint64_t cancelsAtStart, Body body)
{
    // Queued only after the listeners have heard of the starter's state, so they never hear the
    // task's own states first. The state already refuses other starters; a detach, a new attach
    // or a cancelAll in between (a communication error on the reader thread) has cancelled or
    // replaced what the task was for, as it would have cancelled the task had it been queued.
    std::lock_guard<std::mutex> lock (_stateMutex);

    if (_protocol == protocol && _cancelCount == cancelsAtStart)
        _taskQueue.push (std::move (body), nullptr);
}

void TovarekMk2EditorService::cancelQueuedTasks()
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    ++_cancelCount;
    _taskQueue.cancelAll();
}

Korvantal::Result TovarekMk2EditorService::runTask (Body body)
{
    return startTask (Idle, std::move (body));
}

Korvantal::Result TovarekMk2EditorService::beginRefreshAll (bool checkDevice)
{
    return startTask (Refreshing, [this, checkDevice] (Task&) { return refreshAllBody (checkDevice); });
}

Korvantal::Result TovarekMk2EditorService::setCurrentAmpData (const Amp& amp)
{
    return startTask (Sending, [this, amp] (Task&) { return sendAmpBody (kEditBufferIndex, amp, -1); });
}

Korvantal::Result TovarekMk2EditorService::setAmpData (int slot, const Amp& amp)
{
    if (! isUserSlot (slot))
        return KORVANTAL_ERROR ("Invalid amp slot: %d", slot);

    return startTask (Sending, [this, slot, amp] (Task&) { return sendAmpBody (slot + kFirstUserSlotIndex, amp, slot); });
}

Korvantal::Result TovarekMk2EditorService::setCurrentCabData (const Cabinet& cabinet)
{
    return startTask (Sending, [this, cabinet] (Task&) { return sendCabBody (kEditBufferIndex, cabinet, -1); });
}

Korvantal::Result TovarekMk2EditorService::setCabData (int slot, const Cabinet& cabinet)
{
    if (! isUserSlot (slot))
        return KORVANTAL_ERROR ("Invalid cabinet slot: %d", slot);

    return startTask (Sending, [this, slot, cabinet] (Task&)
    {
        return sendCabBody (slot + kFirstUserSlotIndex, cabinet, slot);
    });
}

Korvantal::Result TovarekMk2EditorService::setPresetDataInternal (int index, const FullTovarekMk2Preset& preset, bool fullRefresh)
{
    return startTask (Sending, [this, index, preset, fullRefresh] (Task&)
    {
        return setPresetDataBody (index, preset, fullRefresh);
    });
}

Korvantal::Result TovarekMk2EditorService::setCurrentPresetData (const FullTovarekMk2Preset& preset)
{
    return setPresetDataInternal (kEditBufferIndex, preset, false);
}

Korvantal::Result TovarekMk2EditorService::getPresetDataInternal (int index,
                                                                  std::function<void (const FullTovarekMk2Preset&)> callback)
{
    return startTask (Reading, [this, index, callback] (Task&) { return getPresetDataBody (index, callback); });
}

Korvantal::Result TovarekMk2EditorService::getCurrentPresetData (std::function<void (const FullTovarekMk2Preset&)> callback)
{
    return getPresetDataInternal (kEditBufferIndex, std::move (callback));
}

Korvantal::Result TovarekMk2EditorService::saveCurrentPreset()
{
    return startTask (Reading, [this] (Task&) { return saveCurrentPresetBody(); });
}

Korvantal::Result TovarekMk2EditorService::beginBackup (std::function<void (double)> progress,
                                                        std::function<void (const TovarekMk2Archive&)> completion)
{
    return startTask (BackingUp, [this, progress, completion] (Task&) { return backupBody (progress, completion); });
}

Korvantal::Result TovarekMk2EditorService::beginRestore (const TovarekMk2Archive& archive, std::function<void (double)> progress)
{
    // The body writes each entry at its own index: one outside the unit's presets would reach
    // blocks that are no preset of the unit, so the whole archive is refused before anything is sent.
    for (const auto& entry : archive.presets)
        if (entry.index >= static_cast<uint32_t> (kPresetCount))
            return KORVANTAL_ERROR ("Invalid preset index in archive: %u", entry.index);

    return startTask (Restoring, [this, archive, progress] (Task&) { return restoreBody (archive, progress); });
}

Korvantal::Result TovarekMk2EditorService::requestChangePreset (int index)
{
    if (static_cast<unsigned> (index) >= static_cast<unsigned> (kPresetCount))
        return KORVANTAL_ERROR ("Invalid preset index: %d", index);

    logMessage (kLogDebug, "TovarekMk2EditorService: requestChangePreset(%d)", index);

    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        _requestedPresetIndex = index;

        // The running change picks up the new target after its current round.
        if (_changeInFlight)
            return Result::success;
    }

    return runTask ([this] (Task& task) { return changePresetBody (task); });
}

Korvantal::Result TovarekMk2EditorService::setParameterValue (TovarekMk2ParamID id, const ParameterValue& value)
{
    logMessage (kLogDebug, "TovarekMk2EditorService: setParameterValue(%d,%f)", static_cast<int> (id), static_cast<double> (static_cast<float> (value.value)));
    return runTask ([this, id, value] (Task&) { return applyParameterValue (id, value, true); });
}

Korvantal::Result TovarekMk2EditorService::beginFirmwareUpdate (const TovarekMk2Archive& archive,
                                                                std::function<void (double)> progress)
{
    KorvantalProtocol* protocol = nullptr;
    uint64_t cancelsAtStart = 0;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (_protocol == nullptr)
            return KORVANTAL_ERROR ("Cannot start task while not connected");

        // An update is the way out of a unit that is too old or in error.
        if (_state != Idle && _state != FirmwareTooOld && _state != Error)
            return KORVANTAL_ERROR ("Cannot start task while busy");

        _state = UpdatingFirmware;
        protocol = _protocol;
        cancelsAtStart = _cancelCount;
    }

    notifyStateChanged (UpdatingFirmware);
    queueStartedTask (protocol, cancelsAtStart, [this, archive, progress] (Task& task) { return firmwareUpdateBody (task, archive, progress); });
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::requestRefreshCurrentPreset (bool full)
{
    std::lock_guard<std::mutex> lock (_stateMutex);

    if (_protocol == nullptr || _state != Idle)
    {
        // Run by the next task that ends with processPendingRefresh, or by the next re-read.
        _refreshPending = true;
        _refreshPendingFull = full;
        _refreshPendingMarks = _modifiedMarks;
    }
    else
    {
        _taskQueue.push ([this, full, marks = _modifiedMarks] (Task&) { return refreshCurrentPresetBody (full, marks); }, nullptr);
    }

    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::cancelAll()
{
    logMessage (kLogDebug, "TovarekMk2EditorService: cancelAll");
    cancelQueuedTasks();
    return Result::success;
}

//==============================================================================
// Parameter model

Korvantal::Result TovarekMk2EditorService::normalizePresetParameters (FullTovarekMk2Preset& preset) const
{
    ParameterMapValues normalized;

    for (const ParameterInfo* info : _paramMap.getAllParameterInfo())
    {
        if (info->scope != TovarekMk2ParamMap::kPreset)
            continue;

        double value = info->defaultValue.value;
        const auto stored = preset.parameters.find (info->valueKey);

        if (stored != preset.parameters.end())
        {
            ParameterValue converted;
            value = convertStoredValue (info->valueType, stored->second, converted) ? converted.value : 0.0;
        }

        // A value that is not a number would pass the clamp unchanged and reach the unit.
        if (std::isnan (value))
            value = info->defaultValue.value;

        value = std::min (std::max (value, info->min.value), info->max.value);
        normalized[info->valueKey] = static_cast<float> (value);
    }

    preset.parameters = std::move (normalized);
    return Result::success;
}

Korvantal::Result TovarekMk2EditorService::applyParameterValue (TovarekMk2ParamID id, const ParameterValue& value, bool send)
{
    const ParameterInfo* info = _paramMap.findParameterInfo (id);

    if (info == nullptr)
        return KORVANTAL_ERROR ("Parameter not found");

    const float raw = static_cast<float> (value.value);

    if (send)
        TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& protocol)
        {
            return protocol.setParameter (info->wireId, raw);
        }));

    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (ParameterMapValues* values = valuesForScope (info->scope))
        {
            (*values)[info->valueKey] = raw;

            if (info->scope == TovarekMk2ParamMap::kPreset)
                markModified();
        }
    }

    notifyParameterChanged (id, value);
    return Result::success;
}

bool TovarekMk2EditorService::isFirmwareSupported (const FirmwareVersionInfo& device) const
{
    FirmwareVersionInfo minimum;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        minimum = _minimumFirmware;
    }

    if (! isZeroVersion (minimum.systemVersion)
        && versionNumber (device.systemVersion) < versionNumber (minimum.systemVersion))
        return false;

    if (isZeroVersion (minimum.dspVersion))
        return true;

    return versionNumber (device.dspVersion) >= versionNumber (minimum.dspVersion);
}

//==============================================================================
// Handler operations (reader thread)

void TovarekMk2EditorService::parameterChanged (uint16_t id, const float& value)
{
    const int reportedIndex = indexFromNumber (value);

    switch (id)
    {
        case kPositionAmp:
        {
            {
                std::lock_guard<std::mutex> lock (_stateMutex);
                _currentAmpIndex = reportedIndex;
                markModified();
                logMessage (kLogDebug, "TovarekMk2EditorService: _currentAmpIndex %d", _currentAmpIndex);
            }
            requestRefreshCurrentPreset (false);
            return;
        }

        case kPositionCabinet:
        {
            {
                std::lock_guard<std::mutex> lock (_stateMutex);
                _currentCabIndex = reportedIndex;
                markModified();
                logMessage (kLogDebug, "TovarekMk2EditorService: _currentCabIndex %d", _currentCabIndex);
            }
            requestRefreshCurrentPreset (false);
            return;
        }

        case kPositionPreset:
        case kPositionPresetAlt:
        {
            {
                std::lock_guard<std::mutex> lock (_stateMutex);
                _currentPresetIndex = reportedIndex;
                logMessage (kLogDebug, "TovarekMk2EditorService: _currentPresetIndex %d", _currentPresetIndex);
            }
            requestRefreshCurrentPreset (true);
            return;
        }

        case kPositionUnused4:
        case kPositionUnused5:
            return;

        default:
            break;
    }

    const ParameterInfo* found = _paramMap.findParameterInfo (static_cast<TovarekMk2ParamID> (id));
    const ParameterInfo* info = found != nullptr ? _paramMap.findParameterInfo (static_cast<TovarekMk2ParamID> (found->id))
                                                 : nullptr;

    if (info == nullptr || valuesForScope (info->scope) == nullptr)
        return;

    ParameterValue reported;
    if (! convertStoredValue (info->valueType, value, reported))
        reported = { TovarekMk2ParamMap::kInteger, 0.0 };

    bool stored = false;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        // During a task the unit's own reports would race the task's reads: re-read afterwards.
        if (_state == Idle)
        {
            (*valuesForScope (info->scope))[info->valueKey] = value;
            stored = true;

            // A re-read in flight took its snapshot before this report: it must not undo it.
            if (_reReadInFlight)
                _reportedDuringReRead[info->scope][info->valueKey] = value;
        }
        else
        {
            _refreshPending = true;
        }

        if (info->scope == TovarekMk2ParamMap::kPreset)
            markModified();
    }

    if (stored)
        notifyParameterChanged (static_cast<TovarekMk2ParamID> (info->id), reported);
}

void TovarekMk2EditorService::currentPresetChanged()
{
    requestRefreshCurrentPreset (true);
}

void TovarekMk2EditorService::connectionStateChanged (int state)
{
    bool updateInProgress = false;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        updateInProgress = _firmwareUpdateInProgress;
    }

    // The unit restarts during a firmware update; that loss is expected.
    if (state == KorvantalProtocol::kError && ! updateInProgress)
    {
        setError ("A communication error occurred");
        cancelAll();
    }
}

void TovarekMk2EditorService::statusReceived (const uint8_t* payload, size_t length)
{
    if (payload == nullptr || length != kStatusPayloadLength)
        return;

    const int ampNumber = payload[kStatusAmpByte];
    const int cabNumber = payload[kStatusCabinetByte];
    const int favouriteSwitch = payload[kStatusFavouriteSwitchByte];
    const int loadedFavourite = payload[kStatusLoadedFavouriteByte];

    bool full = false;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        logMessage (kLogDebug, "ampIndex = %d, cabIndex = %d, favSwIdx = %d, loadedFavIdx = %d",
                    ampNumber - 1, cabNumber - 1, favouriteSwitch - 1, loadedFavourite - 1);

        // Numbers are 1-based; 0 means "not reported".
        full = loadedFavourite != 0 && _currentPresetIndex != loadedFavourite - 1;
        changed = full;

        if (favouriteSwitch != 0 && _favouriteSwitchIndex != favouriteSwitch - 1)
        {
            _favouriteSwitchIndex = favouriteSwitch - 1;
            changed = full || favouriteSwitch != loadedFavourite;
        }

        if (ampNumber != 0 && _currentAmpIndex != ampNumber - 1)
        {
            _currentAmpIndex = ampNumber - 1;
            changed = true;
        }

        if (cabNumber != 0 && _currentCabIndex != cabNumber - 1)
        {
            _currentCabIndex = cabNumber - 1;
            changed = true;
        }
    }

    const ParameterValue level { TovarekMk2ParamMap::kFloat, payload[kStatusLevelByte] / kStatusLevelFullScale };
    applyParameterValue (kParamStatusLevel, level, false);

    if (changed)
        requestRefreshCurrentPreset (full);
}

//==============================================================================
// State

void TovarekMk2EditorService::setState (State state)
{
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        _state = state;
    }

    notifyStateChanged (state);
}

void TovarekMk2EditorService::setError (const char* text)
{
    logMessage (kLogError, "EdSvc error: %s", text != nullptr ? text : "");

    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        _lastError = text != nullptr ? text : "";

        // A task that was running when the unit was detached fails at its next step; the unit is
        // gone, so the service stays disconnected. Tested and set in one go, so a detach cannot
        // fall in between.
        if (_protocol == nullptr && _state == Disconnected)
            return;

        _state = Error;
    }

    notifyStateChanged (Error);
}

Korvantal::Result TovarekMk2EditorService::processPendingRefresh()
{
    bool pending = false;
    bool full = false;
    uint64_t marks = 0;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        pending = _refreshPending;
        full = _refreshPendingFull;
        marks = _refreshPendingMarks;
        _refreshPending = false;
        _refreshPendingFull = false;
    }

    return pending ? refreshGlobals (full, marks) : Result::success;
}

Korvantal::Result TovarekMk2EditorService::withProtocol (const std::function<Result (KorvantalProtocol&)>& call)
{
    KorvantalProtocol* protocol = nullptr;
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        protocol = _protocol;

        if (protocol != nullptr)
        {
            _protocolInCall = protocol;
            _protocolCallThread = std::this_thread::get_id();
        }
    }

    if (protocol == nullptr)
        return KORVANTAL_ERROR ("Not connected");

    const Result result = call (*protocol);

    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        _protocolInCall = nullptr;
    }

    _protocolCallEnded.notify_all();
    return result;
}

void TovarekMk2EditorService::sleepFor (std::chrono::milliseconds duration) const
{
    std::this_thread::sleep_for (duration);
}

} // namespace TovarekMk2
