#pragma once

#include "SimulatedHidBus.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A simulated Tovarek Mk2 at the 64-byte report level, on the hidapi stand-in's bus. It keeps
// every block by (type, index), answers the host's requests as the unit does, sends unprompted
// parameter and status reports when a test works its controls, takes a firmware image and
// restarts with it, and injects faults at the step a test chooses.
//
// Threads: the bus calls onHostWrite on the host's writing thread; it only records and queues
// the packet. The model's own thread handles packets and sends every report, so answers never
// come from inside hid_write, as with the real unit. Every public function may be called from
// any thread; the unit's lock guards its state and is never held while the bus is called.
// Lifetime: the creator owns the unit. It plugs itself in without handing the bus ownership and
// unplugs itself when destroyed; destroy it only once no host handle writes to it any more.
namespace SimUnit
{

struct Version
{
    uint8_t major = 0, minor = 0, patch = 0;
};

// What goes wrong, at the chosen step.
enum class FaultKind
{
    Refuse,           // answer C1 00 instead of handling the request
    Replace,          // answer with `packet` instead of handling the request
    Silence,          // drop the request: no answer, no change
    ShortReport,      // answer with a 1-byte report
    LengthPastReport, // the normal answer, its length byte claiming more than the report holds
    UnexpectedPacket, // send `packet` first, then the normal answer
    LateAnswer,       // the normal answer, `delay` later, while later answers go out on time
    Unplug,           // unplug instead of answering
    Delay,            // the normal answer, `delay` later, holding back the answers after it
};

struct Fault
{
    Fault (FaultKind kind_, uint8_t code_ = 0, int occurrence_ = 1, std::chrono::microseconds delay_ = {},
           std::vector<uint8_t> packet_ = {})
        : kind (kind_), code (code_), occurrence (occurrence_), delay (delay_), packet (std::move (packet_))
    {
    }

    FaultKind kind;
    uint8_t code;          // the host packet code that triggers it; 0 for any code
    int occurrence;        // the n-th such packet after the fault was injected (1-based)
    std::chrono::microseconds delay;
    std::vector<uint8_t> packet; // UnexpectedPacket: sent first; Replace: sent instead (padded to 64)
};

struct UnitOptions
{
    SimHid::DeviceDescription description;
    Version systemVersion { 4, 1, 0 };
    Version dspVersion { 4, 2, 0 };
    std::optional<uint8_t> extraCode;                // eighth version payload byte, when set
    std::chrono::microseconds reportDelay { 0 };     // each report waits this long after the previous one
    std::chrono::milliseconds restartDelay { 100 };  // unplugged time after a firmware update
};

class SimulatedUnit : public SimHid::SimulatedDevice
{
public:
    static constexpr uint32_t kPresetSlots = 8;   // index 0 is the edit buffer, 1 to 7 the programs
    static constexpr size_t kReportSize = 64;
    static constexpr size_t kStatusPayloadSize = 12;

    explicit SimulatedUnit (UnitOptions options = {});
    ~SimulatedUnit() override;

    SimulatedUnit (const SimulatedUnit&) = delete;
    SimulatedUnit& operator= (const SimulatedUnit&) = delete;

    // Plugs into the bus and returns the path; a second plug while plugged returns the same path.
    std::string plug();
    void unplug();
    std::string path() const;
    bool isPlugged() const;
    bool waitForPlugged (bool plugged, std::chrono::milliseconds timeout) const;
    int restartCount() const;

    void setVersions (Version system, Version dsp, std::optional<uint8_t> extraCode = std::nullopt);
    Version dspVersion() const;
    void setReportDelay (std::chrono::microseconds delay);
    void setRestartDelay (std::chrono::milliseconds delay);

    void injectFault (Fault fault);
    void clearFaults();

    // Blocks by device type and index; a preset block is kept at its full 4096 bytes.
    std::vector<uint8_t> block (uint8_t type, uint32_t index) const;
    void setBlock (uint8_t type, uint32_t index, std::vector<uint8_t> bytes);
    uint8_t currentProgram() const;
    // The value stored for a parameter in the edit buffer's preset block, if any.
    std::optional<float> editBufferParameter (uint32_t id) const;

    // Status report fields: level, amp, cabinet, favourite-switch and loaded favourite numbers.
    struct Status
    {
        uint8_t level = 128, amp = 1, cabinet = 1, favouriteSwitch = 1, loadedFavourite = 0;
    };
    void setStatus (Status status);

    // "On the unit": a knob turned (stored in the edit buffer, reported with 0xCF), a footswitch
    // pressed (loads the program, reported like a program change), or any raw report.
    void turnKnob (uint16_t id, float value);
    void pressFootswitch (uint8_t program);
    void sendReport (std::vector<uint8_t> report);

    // Every packet the host wrote, report id removed, exactly as long as written.
    std::vector<std::vector<uint8_t>> hostPackets() const;
    void clearHostPackets();
    bool waitForHostPackets (size_t count, std::chrono::milliseconds timeout) const;
    // True once every received packet is handled and every scheduled report is out.
    bool waitUntilIdle (std::chrono::milliseconds timeout) const;

    void onHostWrite (const uint8_t* data, size_t length) override;

private:
    using Clock = std::chrono::steady_clock;
    using Report = std::vector<uint8_t>;

    enum class Outgoing { Report, Unplug, Replug };

    struct Scheduled
    {
        Outgoing what = Outgoing::Report;
        Report report;
    };

    struct Incoming
    {
        Clock::time_point arrival;
        Report packet;                  // a host packet, or empty for an action
        std::function<void()> action;   // runs under the lock on the model's thread
    };

    enum class Transfer { None, BlockRead, BlockWrite, Firmware };

    void run();
    void handle (const Report& packet, Clock::time_point arrival);
    std::vector<Report> answer (const Report& packet);
    std::optional<Fault> takeFault (uint8_t code);
    void schedule (Report report, Clock::time_point arrival, std::chrono::microseconds extra, bool holdLater = true);
    void scheduleAction (Outgoing what, Clock::time_point due);
    void enqueue (Incoming incoming);

    Report answerBlockReadRequest (const uint8_t* payload, size_t length);
    Report answerReadChunk();
    Report answerWriteChunk (const uint8_t* payload, size_t length);
    Report answerWriteEnd (const uint8_t* payload, size_t length);
    Report answerFirmwareStart (const uint8_t* payload, size_t length);
    Report answerFirmwareChunk (const uint8_t* payload, size_t length);
    std::vector<Report> loadProgram (uint8_t program);
    void storeEditBufferParameter (uint32_t id, uint32_t valueBits);
    Report makeStatusReport() const;
    Report makeVersionAnswer() const;

    bool isValidSlot (uint8_t type, uint32_t index) const;
    bool isValidWriteSize (uint8_t type, size_t size) const;

    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    UnitOptions _options;                              // versions and delays; guarded by _mutex
    std::string _path;
    bool _plugged = false;
    bool _stopping = false;
    int _restarts = 0;

    std::deque<Incoming> _inbox;
    std::multimap<Clock::time_point, Scheduled> _outbox; // equal times keep their order
    Clock::time_point _lastDue {};
    bool _busy = false;                                 // the thread is handling or sending

    std::vector<std::pair<Fault, int>> _faults;         // with the count of matching packets seen
    std::vector<Report> _hostPackets;

    std::map<std::pair<uint8_t, uint32_t>, std::vector<uint8_t>> _blocks;
    uint8_t _program = 1;
    Status _status;

    Transfer _transfer = Transfer::None;
    std::vector<uint8_t> _transferData;                 // block being read or written, firmware image
    size_t _transferPosition = 0;
    std::array<uint8_t, 3> _pendingDspVersion {};
    bool _firmwareAccepted = false;                     // the packet being handled completed an image

    std::thread _thread;                                // last: starts after every field is ready
};

} // namespace SimUnit
