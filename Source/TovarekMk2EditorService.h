#pragma once

#include "KorvantalData.h"
#include "KorvantalProtocol.h"
#include "KorvantalResult.h"
#include "TaskQueue.h"
#include "TovarekMk2ParamMap.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TovarekMk2
{

// The editor's live model of the connected unit and the only way the editor reaches it:
// the attached protocol, what the unit is doing for the editor, the parameter values and
// names mirrored from it, and every device operation as a task on one worker thread.
//
// Threads: the message thread constructs and destroys it, attaches and detaches the protocol,
// manages listeners, starts tasks and reads the getters (any thread may read them). The
// protocol's reader thread calls the Handler operations. The worker runs the task bodies,
// which alone call the protocol's operations.
//
// Locks: _stateMutex guards every field below it except the listener list and the queue; it is
// taken before the task queue's mutex and is never held while a protocol, a listener or a
// caller's callback is called. _listenerMutex guards the listener list and is held while
// listeners run, which may call the getters (listener lock, then state lock) but must not add
// or remove listeners, nor start a task (its starter tells the listeners, on the same lock).
class TovarekMk2EditorService : private Korvantal::KorvantalProtocol::Handler
{
public:
    using ParamMap = TovarekMk2ParamMap;
    using ParameterInfo = TovarekMk2ParamMap::ParameterInfo;
    using ParameterValue = TovarekMk2ParamMap::ParameterValue;
    using Amp = Korvantal::KorvantalData::Amp;
    using Cabinet = Korvantal::KorvantalData::Cabinet;
    using FullTovarekMk2Preset = Korvantal::KorvantalData::FullTovarekMk2Preset;
    using TovarekMk2Archive = Korvantal::KorvantalData::TovarekMk2Archive;
    using FirmwareVersionInfo = Korvantal::KorvantalData::FirmwareVersionInfo;
    using Result = Korvantal::Result;

    enum State : uint32_t
    {
        Disconnected = 0,
        Idle = 1,
        Busy = 2, // entered by no operation; the status display still knows it
        Refreshing = 3,
        Sending = 4,
        Reading = 5,
        Restoring = 6,
        BackingUp = 7,
        UpdatingFirmware = 8,
        Reconnecting = 9,
        FirmwareTooOld = 10,
        Error = 11
    };

    // Callbacks a listener fills as it needs; empty ones are skipped. They run on the thread
    // that caused the change, under the listener lock.
    struct Listener
    {
        std::function<void()> dataRefreshed;
        std::function<void (State)> stateChanged;
        std::function<void (TovarekMk2ParamID, const ParameterValue&)> parameterValueChanged;
    };

    // The delays of the device operations. Tests shorten them; the product keeps these.
    struct Timing
    {
        std::chrono::milliseconds settleDelay { 3000 };     // before a refresh with device checks talks to the unit
        std::chrono::milliseconds reconnectPoll { 500 };    // between looks for the unit after a firmware update
        std::chrono::milliseconds reconnectLimit { 29501 }; // the update fails once the polls have waited this long
        std::chrono::milliseconds readyWait { 3000 };       // after the unit is back, before it is refreshed
    };

    // Preset change rounds before the change gives up on a unit that keeps reporting another program.
    static constexpr int kMaxPresetChangeRounds = 16;

    // Presets 0 to 6; the unit's program number is the preset number + 1.
    static constexpr int kPresetCount = 7;
    // User amp and cabinet slots 0 to 2 live at device indexes 4 to 6.
    static constexpr int kUserSlotCount = 3;

    // minimumFirmware may be null (no limit). The worker thread starts here.
    explicit TovarekMk2EditorService (const FirmwareVersionInfo* minimumFirmware);
    TovarekMk2EditorService (const FirmwareVersionInfo* minimumFirmware, Timing timing);
    // Detaches, then stops the queue: queued tasks are skipped, a running one finishes first.
    ~TovarekMk2EditorService() override;

    TovarekMk2EditorService (const TovarekMk2EditorService&) = delete;
    TovarekMk2EditorService& operator= (const TovarekMk2EditorService&) = delete;

    // Attaches a protocol (queues the full refresh) or, with null, detaches. Detaching returns
    // only once the worker has left any call on the old protocol, so the caller may then destroy it.
    Result setProtocol (Korvantal::KorvantalProtocol* protocol);
    Result disconnect();

    void addListener (Listener* listener);
    void removeListener (Listener* listener);

    // Getters: copies taken under the state lock.
    State getState() const;
    std::string getLastError() const;
    bool getFirmwareVersionInfo (FirmwareVersionInfo& out) const;
    int getCurrentPresetIndex() const;
    bool isModified() const;
    int getCurrentAmpIndex() const;
    int getCurrentCabIndex() const;
    std::string getCurrentAmpName() const;
    std::string getCurrentCabName() const;
    std::string getAmpName (int slot) const; // slot 0 to 2; empty for any other
    std::string getCabName (int slot) const;
    Result getParameterValue (TovarekMk2ParamID id, ParameterValue& out) const;
    Result getParameterInfo (TovarekMk2ParamID id, ParameterInfo& out) const;

    // Task starters: each returns at once; success means only that the task was queued. A task's
    // outcome shows through the state, getLastError and the callbacks. Callbacks run on the worker.
    Result beginRefreshAll (bool checkDevice);
    Result setCurrentAmpData (const Amp& amp);
    Result setAmpData (int slot, const Amp& amp);
    Result setCurrentCabData (const Cabinet& cabinet);
    Result setCabData (int slot, const Cabinet& cabinet);
    Result setPresetDataInternal (int index, const FullTovarekMk2Preset& preset, bool fullRefresh);
    Result setCurrentPresetData (const FullTovarekMk2Preset& preset);
    Result getPresetDataInternal (int index, std::function<void (const FullTovarekMk2Preset&)> callback);
    Result getCurrentPresetData (std::function<void (const FullTovarekMk2Preset&)> callback);
    Result saveCurrentPreset();
    Result beginBackup (std::function<void (double)> progress, std::function<void (const TovarekMk2Archive&)> completion);
    Result beginRestore (const TovarekMk2Archive& archive, std::function<void (double)> progress);
    Result requestChangePreset (int index);
    Result setParameterValue (TovarekMk2ParamID id, const ParameterValue& value);
    Result beginFirmwareUpdate (const TovarekMk2Archive& archive, std::function<void (double)> progress);
    Result requestRefreshCurrentPreset (bool full);
    Result cancelAll();

    // Rebuilds the preset's parameters from the map's preset parameters: stored or default
    // values, clamped to their ranges; everything else is dropped.
    Result normalizePresetParameters (FullTovarekMk2Preset& preset) const;

private:
    using Task = Korvantal::TaskQueue::Task;
    using Body = std::function<Result (Task&)>;
    using ParameterMapValues = Korvantal::KorvantalData::ParameterMap;

    // KorvantalProtocol::Handler, on the reader thread under the protocol's state lock.
    void parameterChanged (uint16_t id, const float& value) override;
    void currentPresetChanged() override;
    void connectionStateChanged (int state) override;
    void statusReceived (const uint8_t* payload, size_t length) override;

    // Starting tasks.
    Result startTask (State state, Body body);
    Result runTask (Body body);
    void queueStartedTask (Korvantal::KorvantalProtocol* protocol, uint64_t cancelsAtStart, Body body);
    void cancelQueuedTasks();

    // State and notifications.
    void setState (State state);
    void setError (const char* text);
    void notifyStateChanged (State state);
    void notifyDataRefreshed();
    void notifyParameterChanged (TovarekMk2ParamID id, const ParameterValue& value);

    // Parameter model.
    Result applyParameterValue (TovarekMk2ParamID id, const ParameterValue& value, bool send);
    ParameterMapValues* valuesForScope (uint32_t scope); // caller holds _stateMutex
    const ParameterMapValues* valuesForScope (uint32_t scope) const;
    void markModified(); // caller holds _stateMutex
    bool isFirmwareSupported (const FirmwareVersionInfo& device) const;
    Result processPendingRefresh();

    // Calls the attached protocol on the worker, so that detaching can wait until the call is over.
    // Fails without calling when no protocol is attached.
    Result withProtocol (const std::function<Result (Korvantal::KorvantalProtocol&)>& call);
    // A step whose failure puts the service into Error with the message.
    Result errorStep (const Result& result, const char* message);
    void sleepFor (std::chrono::milliseconds duration) const;

    // Task bodies (worker thread).
    struct EditBufferSnapshot;
    // A full re-read clears the modified mark only if nothing marked it since `marksWhenAsked`
    // (`_modifiedMarks` when the re-read was asked for); the one-argument form is asked for now.
    Result refreshGlobals (bool full);
    Result refreshGlobals (bool full, uint64_t marksWhenAsked);
    Result readEditBuffer (EditBufferSnapshot& snapshot);
    void storeEditBuffer (EditBufferSnapshot& snapshot, bool full, uint64_t marksWhenAsked); // caller holds _stateMutex
    Result refreshAllBody (bool checkDevice);
    Result readDeviceVersions (FirmwareVersionInfo& versions);
    Result sendAmpBody (int index, const Amp& amp, int slot);
    Result sendCabBody (int index, const Cabinet& cabinet, int slot);
    Result setPresetDataBody (int index, const FullTovarekMk2Preset& preset, bool fullRefresh);
    Result getPresetDataBody (int index, const std::function<void (const FullTovarekMk2Preset&)>& callback);
    Result saveCurrentPresetBody();
    Result backupBody (const std::function<void (double)>& progress,
                       const std::function<void (const TovarekMk2Archive&)>& completion);
    Result restoreBody (const TovarekMk2Archive& archive, const std::function<void (double)>& progress);
    Result changePresetBody (Task& task);
    Result changePresetRounds (Task& task);
    Result firmwareUpdateBody (Task& task, const TovarekMk2Archive& archive, const std::function<void (double)>& progress);
    Result waitForReconnect (Task& task);
    Result refreshCurrentPresetBody (bool full, uint64_t marksWhenAsked);

    Korvantal::KorvantalProtocol* _protocol = nullptr;
    const ParamMap _paramMap;
    const Timing _timing;
    mutable std::mutex _stateMutex;
    std::mutex _listenerMutex;
    std::vector<Listener*> _listeners; // guarded by _listenerMutex

    // Guarded by _stateMutex.
    State _state = Disconnected;
    bool _changeInFlight = false;
    int _requestedPresetIndex = -1;
    int _currentPresetIndex = 0;
    ParameterMapValues _presetValues;
    std::string _currentAmpName;
    std::string _currentCabName;
    ParameterMapValues _globalValues;
    ParameterMapValues _statusValues;
    bool _firmwareUpdateInProgress = false;
    FirmwareVersionInfo _minimumFirmware;
    FirmwareVersionInfo _deviceFirmware;
    std::string _lastError;
    bool _refreshPending = false;
    bool _refreshPendingFull = false;
    uint64_t _refreshPendingMarks = 0; // _modifiedMarks when the pending full re-read was asked for
    bool _modified = false;
    // Counts markModified calls: a full re-read asked for before an edit must not clear its mark.
    uint64_t _modifiedMarks = 0;
    std::vector<std::string> _ampNames;
    std::vector<std::string> _cabNames;
    int _favouriteSwitchIndex = 0;
    int _currentAmpIndex = 0;
    int _currentCabIndex = 0;
    // A re-read of the edit buffer is under way, and what the unit reported meanwhile (by scope,
    // then value key): those values are newer than the re-read's snapshot and win over it.
    bool _reReadInFlight = false;
    std::map<uint32_t, ParameterMapValues> _reportedDuringReRead;
    // Counts cancelAll calls, so a starter can tell that one came between its state change and its push.
    uint64_t _cancelCount = 0;

    // The protocol the worker is calling right now (null when none) and the calling thread;
    // guarded by _stateMutex, signalled through _protocolCallEnded when the call returns.
    Korvantal::KorvantalProtocol* _protocolInCall = nullptr;
    std::thread::id _protocolCallThread;
    std::condition_variable _protocolCallEnded;

    // Last member: it is stopped and joined first, while everything a task body uses still exists.
    Korvantal::TaskQueue _taskQueue;
};

} // namespace TovarekMk2
