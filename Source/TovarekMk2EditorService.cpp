#include "TovarekMk2EditorService.h"

#include "DeviceSafeString.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

// Ends a task body when its step failed: the service shows the message in its error state and
// the body's Result carries the same message, logged here at the step.
#define TOVAREK_ERROR_STEP(stepResult, message)            \
    do                                                     \
    {                                                      \
        if (! (stepResult).ok)                             \
        {                                                  \
            setError (message);                            \
            return KORVANTAL_ERROR ("%s", message);        \
        }                                                  \
    } while (false)

// Ends a task body with the step's own failure; it reaches only the log.
#define TOVAREK_LOG_ONLY_STEP(stepResult)                  \
    do                                                     \
    {                                                      \
        const Korvantal::Result stepOutcome = (stepResult); \
        if (! stepOutcome.ok)                              \
            return stepOutcome;                            \
    } while (false)

namespace TovarekMk2
{

using Korvantal::KorvantalProtocol;
using Korvantal::logMessage;
using Korvantal::kLogDebug;
using Korvantal::kLogError;
using Korvantal::kLogWarning;
namespace Data = Korvantal::KorvantalData;

namespace
{
// The major system version that identifies the unit.
constexpr int kSupportedDeviceType = 4;

// Device block indexes: the edit buffer, and the first user amp and cabinet slot.
constexpr int kEditBufferIndex = 0;
constexpr int kFirstUserSlotIndex = 4;

// Characters of a cabinet name the unit keeps.
constexpr int kCabinetNameCharacters = static_cast<int> (Data::kCabinetNameLength);

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

// Backup and restore report progress in sevenths, one per preset index.
constexpr double kProgressSteps = 7.0;

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

bool isUserSlot (int slot)
{
    return slot >= 0 && slot < TovarekMk2EditorService::kUserSlotCount;
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
    }
    else
    {
        _taskQueue.push ([this, full] (Task&) { return refreshCurrentPresetBody (full); }, nullptr);
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
                _modified = true;
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
    const int position = roundToInt (value);

    switch (id)
    {
        case kPositionAmp:
        {
            {
                std::lock_guard<std::mutex> lock (_stateMutex);
                _currentAmpIndex = position - 1;
                _modified = true;
                logMessage (kLogDebug, "TovarekMk2EditorService: _currentAmpIndex %d", _currentAmpIndex);
            }
            requestRefreshCurrentPreset (false);
            return;
        }

        case kPositionCabinet:
        {
            {
                std::lock_guard<std::mutex> lock (_stateMutex);
                _currentCabIndex = position - 1;
                _modified = true;
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
                _currentPresetIndex = position - 1;
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
        }
        else
        {
            _refreshPending = true;
        }

        if (info->scope == TovarekMk2ParamMap::kPreset)
            _modified = true;
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
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        pending = _refreshPending;
        full = _refreshPendingFull;
        _refreshPending = false;
        _refreshPendingFull = false;
    }

    return pending ? refreshGlobals (full) : Result::success;
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

//==============================================================================
// Task bodies (worker thread)

Korvantal::Result TovarekMk2EditorService::refreshGlobals (bool full)
{
    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        _refreshPending = false;
        _refreshPendingFull = false;
    }

    ParameterMapValues globals;
    TOVAREK_ERROR_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readGlobals (globals); }), "Failed to get globals");

    uint32_t program = 0;
    TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.getCurrentPreset (program); }));

    ParameterMapValues presetValues;
    TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readPreset (kEditBufferIndex, presetValues); }));

    Data::AmpNameAndID amp;
    TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readAmpNameAndID (kEditBufferIndex, amp); }));

    std::string cabName;
    TOVAREK_LOG_ONLY_STEP (withProtocol ([&] (KorvantalProtocol& p) { return p.readCabName (kEditBufferIndex, cabName); }));

    {
        std::lock_guard<std::mutex> lock (_stateMutex);
        // Program 0 is the preset the favourite switch selects.
        _currentPresetIndex = program == 0 ? _favouriteSwitchIndex : static_cast<int> (program) - 1;
        _presetValues = std::move (presetValues);
        _currentAmpName = amp.name;
        _currentCabName = cabName;
        _globalValues = std::move (globals);

        if (full)
            _modified = false;
    }

    notifyDataRefreshed();
    return Result::success;
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
            _modified = true;
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
            _modified = true;
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
    setState (Idle);
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

Korvantal::Result TovarekMk2EditorService::refreshCurrentPresetBody (bool full)
{
    TOVAREK_LOG_ONLY_STEP (refreshGlobals (full));
    notifyDataRefreshed();
    return Result::success;
}

} // namespace TovarekMk2
