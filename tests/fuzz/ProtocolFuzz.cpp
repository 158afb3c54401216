// The protocol's handling of what the unit sends, every request answered with fuzz-chosen packets,
// unprompted parameter and status packets among them. Either the test thread runs a few
// operations in a fuzz-chosen order, or the editor service is the protocol's handler and its
// worker runs the full refresh and one more task.

#include "FuzzSupport.h"
#include "KorvantalProtocol.h"
#include "TovarekMk2EditorService.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <condition_variable>
#include <mutex>

using namespace Korvantal;
using namespace Korvantal::ProtocolCodes;
namespace Data = Korvantal::KorvantalData;

namespace
{
// The codes that end the wait of a transaction that sent `request`; empty when none is awaited.
std::vector<uint8_t> answersTo (uint8_t request)
{
    switch (static_cast<Code> (request))
    {
        case Code::BlockReadRequest: return { byte (Code::TransferStart), byte (Code::Nack) };
        case Code::Ack:              return { byte (Code::TransferData), byte (Code::TransferEnd), byte (Code::Nack) };
        case Code::ProgramRequest:   return { byte (Code::ProgramAnswer), byte (Code::Nack) };
        case Code::SetParameter:
        case Code::Status:           return {};
        default:                     return { byte (Code::Ack), byte (Code::Nack) };
    }
}

// A unit that answers from inside sendPacket, on the sending thread, so it needs no reader thread
// of its own. A request left unanswered fails the link at once: silence would wait out the
// protocol's time-out.
class FuzzedUnit : public IDevicePacketIO
{
public:
    explicit FuzzedUnit (FuzzedDataProvider& input) : _input (input) {}

    Result setHandler (Handler* handler) override
    {
        _handler = handler;
        if (handler != nullptr)
            handler->connectionStateChanged (kRunning);
        return Result::success;
    }

    Result sendPacket (const uint8_t* data, size_t length) override
    {
        FUZZ_CHECK (length >= kHeaderSize && length <= kMaxPacketSize && length == kHeaderSize + data[kLengthOffset]);
        const auto expected = answersTo (data[kCodeOffset]);
        bool ended = expected.empty();

        for (int n = _input.ConsumeIntegralInRange (0, 3); n > 0; --n)
            ended = deliver (expected) || ended;

        if (! ended)
            _handler->connectionStateChanged (kError);
        return Result::success;
    }

    Result reset() override { return Result::success; }

private:
    // Delivers one packet; true when it ends the waiting transaction (a match or a malformed packet).
    bool deliver (const std::vector<uint8_t>& expected)
    {
        std::vector<uint8_t> packet;
        switch (_input.ConsumeIntegralInRange (0, 3))
        {
            case 0: packet = _input.ConsumeBytes<uint8_t> (_input.ConsumeIntegralInRange<size_t> (0, kMaxPacketSize)); break;
            case 1: packet = framed (expected.empty() ? byte (Code::Ack) : expected[_input.ConsumeIntegralInRange<size_t> (0, expected.size() - 1)]); break;
            case 2: packet = framed (byte (Code::ParameterReport)); break;
            default: packet = framed (byte (Code::Status)); break;
        }
        _handler->packetReceived (packet.data(), packet.size());

        const bool malformed = packet.size() < kHeaderSize || kHeaderSize + packet[kLengthOffset] > packet.size();
        return malformed || std::find (expected.begin(), expected.end(), packet[kCodeOffset]) != expected.end();
    }

    std::vector<uint8_t> framed (uint8_t code)
    {
        auto payload = _input.ConsumeBytes<uint8_t> (_input.ConsumeIntegralInRange<size_t> (0, kMaxPayload));
        payload.insert (payload.begin(), { code, static_cast<uint8_t> (payload.size()) });
        return payload;
    }

    FuzzedDataProvider& _input;
    Handler* _handler = nullptr;
};

struct CountingHandler : KorvantalProtocol::Handler
{
    void parameterChanged (uint16_t, const float&) override { ++calls; }
    void currentPresetChanged() override { ++calls; }
    void connectionStateChanged (int) override { ++calls; }
    void statusReceived (const uint8_t* payload, size_t length) override
    {
        // The payload is the packet's: reading all of it must stay inside what arrived.
        calls += std::count (payload, payload + length, 0);
    }
    size_t calls = 0;
};

void runOperation (KorvantalProtocol& protocol, FuzzedDataProvider& input)
{
    const uint32_t index = input.ConsumeIntegralInRange (0, 7);
    Data::ParameterMap parameters;
    std::string name;
    switch (input.ConsumeIntegralInRange (0, 13))
    {
        case 0: { bool alive = false; protocol.ping (alive); break; }
        case 1: { Data::FirmwareVersionInfo info; protocol.getFirmwareVersionInfo (info); break; }
        case 2: protocol.readPreset (index, parameters); break;
        case 3: protocol.readGlobals (parameters); break;
        case 4: { Data::AmpNameAndID amp; protocol.readAmpNameAndID (index, amp); FUZZ_CHECK (amp.name.size() <= Data::kAmpNameLength); break; }
        case 5: { Data::AmpData amp; protocol.readAmpData (index, amp); break; }
        case 6: { Data::FinishingFilter filter; protocol.readFinishingFilter (index, filter); break; }
        case 7: protocol.readCabName (index, name); FUZZ_CHECK (name.size() <= Data::kTextFieldLength); break;
        case 8: { Data::Impulse impulse; protocol.readCabData (index, impulse); break; }
        case 9: { uint32_t program = 0; protocol.getCurrentPreset (program); break; }
        case 10: protocol.setCurrentPreset (index); break;
        case 11: protocol.sendPreset (index, { { 1, 0.5f }, { 238, 393728.0f } }); break;
        case 12: protocol.sendCabName (index, "Fuzz"); break;
        default: protocol.updateFirmware (std::vector<uint8_t> (input.ConsumeIntegralInRange (0, 200), 0x5A), nullptr); break;
    }
    // A status request awaits no answer, so what comes back reaches the handler unprompted only.
    protocol.requestStatus();
}

using Service = TovarekMk2::TovarekMk2EditorService;

// Counts the ends of the service's tasks: the first idle, error or too-old state after a task began.
class TaskEnds
{
public:
    TaskEnds()
    {
        listener.stateChanged = [this] (Service::State state) {
            std::lock_guard<std::mutex> lock (_mutex);
            if (state == Service::Refreshing || state == Service::Reading || state == Service::BackingUp)
                _running = true;
            else if (_running && (state == Service::Idle || state == Service::Error || state == Service::FirmwareTooOld))
            {
                _running = false;
                ++_ends;
                _changed.notify_all();
            }
        };
    }

    // Bounded, so that a task the service never ends shows as a slow run, not a false hang.
    void waitFor (int ends)
    {
        std::unique_lock<std::mutex> lock (_mutex);
        _changed.wait_for (lock, std::chrono::seconds (2), [&] { return _ends >= ends; });
    }

    Service::Listener listener;

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    bool _running = false;
    int _ends = 0;
};

// Only the service's worker uses the input from here on: the test thread merely waits.
void runThroughService (KorvantalProtocol& protocol, int task)
{
    Service service (nullptr, Service::Timing { {}, {}, {}, {} });
    TaskEnds ends;
    service.addListener (&ends.listener);
    service.setProtocol (&protocol);
    ends.waitFor (1);

    Result started { false, {} };
    if (task == 1)
        started = service.getCurrentPresetData ([] (const Service::FullTovarekMk2Preset&) {});
    else if (task == 2)
        started = service.beginBackup (nullptr, [] (const Service::TovarekMk2Archive&) {});
    if (started.ok)
        ends.waitFor (2);

    service.setProtocol (nullptr);
    service.removeListener (&ends.listener);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    FuzzedDataProvider input (data, size);
    const bool throughService = input.ConsumeBool();
    const int task = input.ConsumeIntegralInRange (0, 2);
    FuzzedUnit unit (input);
    KorvantalProtocol protocol (&unit, input.ConsumeIntegralInRange (1, 3));

    if (throughService)
    {
        runThroughService (protocol, task);
        return 0;
    }

    CountingHandler handler;
    protocol.setHandler (&handler);
    while (input.remaining_bytes() > 0)
    {
        protocol.clearError(); // a failed link comes back for the next operation
        runOperation (protocol, input);
    }
    protocol.setHandler (nullptr);
    return 0;
}
