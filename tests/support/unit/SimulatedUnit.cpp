#include "SimulatedUnit.h"

#include "LoaderImage.h"

#include <algorithm>
#include <cstring>
#include <sys/prctl.h>

namespace SimUnit
{

namespace
{
// The unit's wire numbers, written out here apart from the product's own header, so that
// a wrong constant there shows up as a disagreement with the unit.
constexpr uint8_t kFirmwareStart = 0xB1;
constexpr uint8_t kFirmwareChunk = 0xB2;
constexpr uint8_t kPing = 0xB4;
constexpr uint8_t kVersion = 0xB5;
constexpr uint8_t kAck = 0xC0;
constexpr uint8_t kNack = 0xC1;
constexpr uint8_t kTransferStart = 0xC2;
constexpr uint8_t kTransferData = 0xC3;
constexpr uint8_t kTransferEnd = 0xC4;
constexpr uint8_t kBlockRead = 0xC5;
constexpr uint8_t kSetParameter = 0xC7;
constexpr uint8_t kProgramChange = 0xC9;
constexpr uint8_t kProgramRequest = 0xCA;
constexpr uint8_t kProgramAnswer = 0xCC;
constexpr uint8_t kStatus = 0xCE;
constexpr uint8_t kParameterReport = 0xCF;

constexpr size_t kMaxPayload = 62;
constexpr uint32_t kFirmwareKey = 0x6D1AF358;
constexpr uint32_t kParamEnd = 0xFFFFFFFF;
constexpr uint16_t kPresetPositionId = 0x1002;
constexpr size_t kLargestBlock = 8192;
constexpr size_t kLargestImage = 1 << 20;
// Time between the last firmware acknowledgement and the unit dropping off the bus, so the
// host has read the acknowledgement first.
constexpr std::chrono::milliseconds kRestartUnplugDelay { 50 };
// The last stretch before a report is due is spun rather than slept, so 1 ms frames stay 1 ms.
constexpr std::chrono::microseconds kSpinBeforeDue { 150 };

enum BlockType : uint8_t { kGlobals = 1, kPreset = 3, kAmpName = 5, kAmpData = 6, kFilter = 8, kCabName = 9, kCabData = 10 };
constexpr BlockType kPresetBlockTypes[] = { kPreset, kAmpName, kAmpData, kFilter, kCabName, kCabData };

uint32_t readLE16 (const uint8_t* at) { return static_cast<uint32_t> (at[0] | (at[1] << 8)); }

uint32_t readLE32 (const uint8_t* at)
{
    return readLE16 (at) | (readLE16 (at + 2) << 16);
}

void writeLE32 (uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t> (value >> (8 * i));
}

uint32_t bitsOf (float value)
{
    uint32_t bits = 0;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

std::vector<uint8_t> makeReport (uint8_t code, const std::vector<uint8_t>& payload = {})
{
    std::vector<uint8_t> report (SimulatedUnit::kReportSize, 0);
    report[0] = code;
    report[1] = static_cast<uint8_t> (payload.size());
    std::copy (payload.begin(), payload.end(), report.begin() + 2);
    return report;
}

// Input reports are always whole 64-byte reports.
std::vector<uint8_t> padded (std::vector<uint8_t> report)
{
    if (report.size() < SimulatedUnit::kReportSize)
        report.resize (SimulatedUnit::kReportSize, 0);

    return report;
}

std::vector<uint8_t> makeParameterReport (uint16_t id, uint32_t valueBits)
{
    std::vector<uint8_t> payload (8, 0);
    payload[0] = static_cast<uint8_t> (id & 0xFF);
    payload[1] = static_cast<uint8_t> (id >> 8);
    writeLE32 (payload.data() + 4, valueBits);
    return makeReport (kParameterReport, payload);
}

// The block checksum: rotate the 16-bit sum right by one, then add the byte.
uint16_t checksum (const std::vector<uint8_t>& data)
{
    uint16_t sum = 0;

    for (uint8_t b : data)
        sum = static_cast<uint16_t> (((sum & 1) << 15 | sum >> 1) + b);

    return sum;
}

std::map<uint32_t, uint32_t> readPairs (const std::vector<uint8_t>& block)
{
    std::map<uint32_t, uint32_t> pairs;

    for (size_t at = 0; at + 8 <= block.size(); at += 8)
    {
        const uint32_t id = readLE32 (block.data() + at);

        if (id == kParamEnd)
            break;

        pairs[id] = readLE32 (block.data() + at + 4);
    }

    return pairs;
}

std::vector<uint8_t> makePairBlock (const std::map<uint32_t, uint32_t>& pairs, size_t size)
{
    std::vector<uint8_t> block (size, 0);
    size_t at = 0;

    for (const auto& [id, bits] : pairs)
    {
        if (at + 8 > size)
            break;

        writeLE32 (block.data() + at, id);
        writeLE32 (block.data() + at + 4, bits);
        at += 8;
    }

    for (; at + 8 <= size; at += 8)
        writeLE32 (block.data() + at, kParamEnd);

    return block;
}

std::vector<uint8_t> makeTextWords (const std::string& text, size_t words)
{
    std::vector<uint8_t> field (words * 4, 0);

    for (size_t i = 0; i < text.size() && i < words; ++i)
        field[i * 4] = static_cast<uint8_t> (text[i]);

    return field;
}

std::map<std::pair<uint8_t, uint32_t>, std::vector<uint8_t>> makeDefaultBlocks()
{
    std::map<std::pair<uint8_t, uint32_t>, std::vector<uint8_t>> blocks;
    blocks[{ kGlobals, 0 }] = makePairBlock ({ { 1, bitsOf (0.5f) }, { 2, bitsOf (1.0f) } }, 1024);

    for (uint32_t i = 0; i < SimulatedUnit::kPresetSlots; ++i)
    {
        const std::string n = std::to_string (i);
        blocks[{ kPreset, i }] = makePairBlock ({ { 0x10, bitsOf (static_cast<float> (i)) }, { 0x20, bitsOf (0.25f) } }, 4096);

        std::vector<uint8_t> ampName (4, 0);
        writeLE32 (ampName.data(), 100 + i);
        const auto nameWords = makeTextWords ("Amp " + n, 16);
        ampName.insert (ampName.end(), nameWords.begin(), nameWords.end());
        blocks[{ kAmpName, i }] = ampName;

        std::vector<uint8_t> ampData = makePairBlock ({ { 1, bitsOf (static_cast<float> (i)) } }, 2048);
        const auto text1 = makeTextWords ("Circuit " + n, 256);
        const auto text2 = makeTextWords ("Notes " + n, 256);
        ampData.insert (ampData.end(), text1.begin(), text1.end());
        ampData.insert (ampData.end(), text2.begin(), text2.end());
        blocks[{ kAmpData, i }] = ampData;

        std::vector<uint8_t> filter (4096, 0);
        writeLE32 (filter.data(), bitsOf (1.0f));
        writeLE32 (filter.data() + 4, i);
        blocks[{ kFilter, i }] = filter;

        blocks[{ kCabName, i }] = makeTextWords ("Cab " + n, 16);

        std::vector<uint8_t> impulse (8192, 0);
        writeLE32 (impulse.data(), bitsOf (1.0f));
        writeLE32 (impulse.data() + 4096, bitsOf (1.0f));
        writeLE32 (impulse.data() + 4, bitsOf (static_cast<float> (i) / 10.0f));
        blocks[{ kCabData, i }] = impulse;
    }

    return blocks;
}
} // namespace

SimulatedUnit::SimulatedUnit (UnitOptions options)
    : _options (std::move (options)), _blocks (makeDefaultBlocks())
{
    _thread = std::thread ([this] { run(); });
}

SimulatedUnit::~SimulatedUnit()
{
    // The thread stops first, so a pending restart cannot plug the unit in again.
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _stopping = true;
    }

    _changed.notify_all();
    _thread.join();
    unplug();
}

std::string SimulatedUnit::plug()
{
    SimHid::DeviceDescription description;

    {
        std::lock_guard<std::mutex> lock (_mutex);

        if (_plugged)
            return _path;

        description = _options.description;
    }

    // The bus gets a pointer it does not own: the creator owns the unit.
    const std::string path = SimHid::Bus::instance().plug (description, std::shared_ptr<SimHid::SimulatedDevice> (this, [] (SimHid::SimulatedDevice*) {}));

    std::lock_guard<std::mutex> lock (_mutex);
    _path = path;
    _plugged = true;
    _changed.notify_all();
    return path;
}

void SimulatedUnit::unplug()
{
    std::string path;

    {
        std::lock_guard<std::mutex> lock (_mutex);

        if (! _plugged)
            return;

        _plugged = false;
        path = _path;
        _changed.notify_all();
    }

    SimHid::Bus::instance().unplug (path);
}

std::string SimulatedUnit::path() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _path;
}

bool SimulatedUnit::isPlugged() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _plugged;
}

bool SimulatedUnit::waitForPlugged (bool plugged, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock (_mutex);
    return _changed.wait_for (lock, timeout, [&] { return _plugged == plugged; });
}

int SimulatedUnit::restartCount() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _restarts;
}

void SimulatedUnit::setVersions (Version system, Version dsp, std::optional<uint8_t> extraCode)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _options.systemVersion = system;
    _options.dspVersion = dsp;
    _options.extraCode = extraCode;
}

Version SimulatedUnit::dspVersion() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _options.dspVersion;
}

void SimulatedUnit::setReportDelay (std::chrono::microseconds delay)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _options.reportDelay = delay;
}

void SimulatedUnit::setRestartDelay (std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _options.restartDelay = delay;
}

void SimulatedUnit::injectFault (Fault fault)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _faults.emplace_back (std::move (fault), 0);
}

void SimulatedUnit::clearFaults()
{
    std::lock_guard<std::mutex> lock (_mutex);
    _faults.clear();
}

std::vector<uint8_t> SimulatedUnit::block (uint8_t type, uint32_t index) const
{
    std::lock_guard<std::mutex> lock (_mutex);
    const auto found = _blocks.find ({ type, index });
    return found == _blocks.end() ? std::vector<uint8_t> {} : found->second;
}

void SimulatedUnit::setBlock (uint8_t type, uint32_t index, std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _blocks[{ type, index }] = std::move (bytes);
}

uint8_t SimulatedUnit::currentProgram() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _program;
}

std::optional<float> SimulatedUnit::editBufferParameter (uint32_t id) const
{
    std::lock_guard<std::mutex> lock (_mutex);
    const auto pairs = readPairs (_blocks.at ({ kPreset, 0 }));
    const auto found = pairs.find (id);

    if (found == pairs.end())
        return std::nullopt;

    float value = 0;
    std::memcpy (&value, &found->second, sizeof (value));
    return value;
}

void SimulatedUnit::setStatus (Status status)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _status = status;
}

void SimulatedUnit::turnKnob (uint16_t id, float value)
{
    enqueue ({ Clock::now(), {}, [this, id, value] {
                  storeEditBufferParameter (id, bitsOf (value));
                  schedule (makeParameterReport (id, bitsOf (value)), Clock::now(), {});
              } });
}

void SimulatedUnit::pressFootswitch (uint8_t program)
{
    enqueue ({ Clock::now(), {}, [this, program] {
                  auto reports = loadProgram (program);

                  // The acknowledgement answers a host's program change; a footswitch has none.
                  for (size_t i = 1; i < reports.size(); ++i)
                      schedule (std::move (reports[i]), Clock::now(), {});
              } });
}

void SimulatedUnit::sendReport (std::vector<uint8_t> report)
{
    enqueue ({ Clock::now(), {}, [this, report] { schedule (report, Clock::now(), {}); } });
}

std::vector<std::vector<uint8_t>> SimulatedUnit::hostPackets() const
{
    std::lock_guard<std::mutex> lock (_mutex);
    return _hostPackets;
}

void SimulatedUnit::clearHostPackets()
{
    std::lock_guard<std::mutex> lock (_mutex);
    _hostPackets.clear();
}

bool SimulatedUnit::waitForHostPackets (size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock (_mutex);
    return _changed.wait_for (lock, timeout, [&] { return _hostPackets.size() >= count; });
}

bool SimulatedUnit::waitUntilIdle (std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock (_mutex);
    return _changed.wait_for (lock, timeout, [&] { return _inbox.empty() && _outbox.empty() && ! _busy; });
}

void SimulatedUnit::onHostWrite (const uint8_t* data, size_t length)
{
    if (length < 1)
        return;

    Report packet (data + 1, data + length); // without the report id
    std::lock_guard<std::mutex> lock (_mutex);
    _hostPackets.push_back (packet);
    _inbox.push_back ({ Clock::now(), std::move (packet), {} });
    _changed.notify_all();
}

void SimulatedUnit::enqueue (Incoming incoming)
{
    std::lock_guard<std::mutex> lock (_mutex);
    _inbox.push_back (std::move (incoming));
    _changed.notify_all();
}

void SimulatedUnit::run()
{
    // Wake-ups as close to the due time as the kernel allows.
    prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    std::unique_lock<std::mutex> lock (_mutex);

    while (! _stopping)
    {
        if (! _inbox.empty())
        {
            Incoming incoming = std::move (_inbox.front());
            _inbox.pop_front();

            if (incoming.action)
                incoming.action();
            else
                handle (incoming.packet, incoming.arrival);

            continue;
        }

        if (_outbox.empty())
        {
            _changed.notify_all(); // idle
            _changed.wait (lock);
            continue;
        }

        const auto due = _outbox.begin()->first;
        const auto now = Clock::now();

        if (now < due - kSpinBeforeDue)
        {
            _changed.wait_until (lock, due - kSpinBeforeDue);
            continue;
        }

        if (now < due)
        {
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
            continue;
        }

        Scheduled next = std::move (_outbox.begin()->second);
        _outbox.erase (_outbox.begin());
        _busy = true;
        const std::string path = _path;
        const bool plugged = _plugged;
        const SimHid::DeviceDescription description = _options.description;

        if (next.what == Outgoing::Unplug)
            _plugged = false;

        lock.unlock();
        auto& bus = SimHid::Bus::instance();
        std::string newPath;

        switch (next.what)
        {
            case Outgoing::Report:
                if (plugged)
                    bus.sendInputReport (path, next.report.data(), next.report.size());
                break;

            case Outgoing::Unplug:
                if (plugged)
                    bus.unplug (path);
                break;

            case Outgoing::Replug:
                newPath = bus.plug (description, std::shared_ptr<SimHid::SimulatedDevice> (this, [] (SimHid::SimulatedDevice*) {}));
                break;
        }

        lock.lock();
        _busy = false;

        if (next.what == Outgoing::Replug)
        {
            _path = newPath;
            _plugged = true;
            ++_restarts;
        }

        _changed.notify_all();
    }
}

std::optional<Fault> SimulatedUnit::takeFault (uint8_t code)
{
    for (auto it = _faults.begin(); it != _faults.end(); ++it)
    {
        if (it->first.code != 0 && it->first.code != code)
            continue;

        if (++it->second == it->first.occurrence)
        {
            Fault fault = std::move (it->first);
            _faults.erase (it);
            return fault;
        }
    }

    return std::nullopt;
}

void SimulatedUnit::schedule (Report report, Clock::time_point arrival, std::chrono::microseconds extra, bool holdLater)
{
    const Clock::time_point due = std::max (arrival, _lastDue) + _options.reportDelay + extra;

    if (holdLater)
        _lastDue = due;

    _outbox.emplace (due, Scheduled { Outgoing::Report, std::move (report) });
    _changed.notify_all();
}

void SimulatedUnit::scheduleAction (Outgoing what, Clock::time_point due)
{
    _outbox.emplace (due, Scheduled { what, {} });
    _changed.notify_all();
}

void SimulatedUnit::handle (const Report& packet, Clock::time_point arrival)
{
    if (packet.empty())
        return;

    const std::optional<Fault> fault = takeFault (packet[0]);
    _firmwareAccepted = false;
    std::chrono::microseconds extra { 0 };
    bool holdLater = true;

    if (fault)
    {
        switch (fault->kind)
        {
            case FaultKind::Refuse:
                _transfer = Transfer::None;
                schedule (makeReport (kNack), arrival, {});
                return;

            case FaultKind::Replace:
                _transfer = Transfer::None;
                schedule (padded (fault->packet), arrival, {});
                return;

            case FaultKind::Silence:
                return;

            case FaultKind::ShortReport:
                schedule (Report { kNack }, arrival, {});
                return;

            case FaultKind::Unplug:
                scheduleAction (Outgoing::Unplug, std::max (arrival, _lastDue));
                return;

            case FaultKind::UnexpectedPacket:
                schedule (padded (fault->packet), arrival, {});
                break;

            case FaultKind::LengthPastReport:
            case FaultKind::Delay:
                extra = fault->delay;
                break;

            case FaultKind::LateAnswer:
                extra = fault->delay;
                holdLater = false;
                break;
        }
    }

    std::vector<Report> answers = answer (packet);

    if (fault && fault->kind == FaultKind::LengthPastReport && ! answers.empty())
    {
        answers.front().resize (kReportSize, 0);
        answers.front()[1] = static_cast<uint8_t> (kReportSize - 1);
    }

    for (auto& report : answers)
        schedule (std::move (report), arrival, extra, holdLater);

    // A firmware image taken whole: acknowledge, drop off the bus, come back with the new version.
    if (_firmwareAccepted)
    {
        _options.dspVersion = { _pendingDspVersion[0], _pendingDspVersion[1], _pendingDspVersion[2] };
        const auto unplugAt = _lastDue + kRestartUnplugDelay;
        scheduleAction (Outgoing::Unplug, unplugAt);
        scheduleAction (Outgoing::Replug, unplugAt + _options.restartDelay);
    }
}

std::vector<SimulatedUnit::Report> SimulatedUnit::answer (const Report& packet)
{
    const uint8_t code = packet[0];
    const size_t length = packet.size() >= 2 ? packet[1] : 0;

    if (packet.size() < 2 || packet.size() < 2 + length)
        return { makeReport (kNack) };

    const uint8_t* payload = packet.data() + 2;

    switch (code)
    {
        case kPing:
            return { makeReport (kAck) };

        case kVersion:
            return { makeVersionAnswer() };

        case kBlockRead:
            return { answerBlockReadRequest (payload, length) };

        case kAck:
            if (_transfer == Transfer::BlockRead)
                return { answerReadChunk() };
            return { makeReport (kNack) };

        case kTransferStart:
            _transfer = Transfer::BlockWrite;
            _transferData.clear();
            return { makeReport (kAck) };

        case kTransferData:
            return { answerWriteChunk (payload, length) };

        case kTransferEnd:
            return { answerWriteEnd (payload, length) };

        case kFirmwareStart:
            return { answerFirmwareStart (payload, length) };

        case kFirmwareChunk:
            return { answerFirmwareChunk (payload, length) };

        case kSetParameter:
            if (length >= 8)
                storeEditBufferParameter (readLE16 (payload), readLE32 (payload + 4));
            return {};

        case kProgramChange:
            if (length >= 1 && payload[0] >= 1 && payload[0] < kPresetSlots)
                return loadProgram (payload[0]);
            return { makeReport (kNack) };

        case kProgramRequest:
            return { makeReport (kProgramAnswer, { _program }) };

        case kStatus:
            return { makeStatusReport() };

        default:
            return { makeReport (kNack) };
    }
}

SimulatedUnit::Report SimulatedUnit::answerBlockReadRequest (const uint8_t* payload, size_t length)
{
    _transfer = Transfer::None;

    if (length < 3)
        return makeReport (kNack);

    const auto found = _blocks.find ({ payload[0], readLE16 (payload + 1) });

    if (found == _blocks.end())
        return makeReport (kNack);

    _transfer = Transfer::BlockRead;
    _transferData = found->second;
    _transferPosition = 0;
    return makeReport (kTransferStart);
}

SimulatedUnit::Report SimulatedUnit::answerReadChunk()
{
    if (_transferPosition >= _transferData.size())
    {
        _transfer = Transfer::None;
        return makeReport (kTransferEnd);
    }

    const size_t n = std::min (kMaxPayload, _transferData.size() - _transferPosition);
    const auto from = _transferData.begin() + static_cast<std::ptrdiff_t> (_transferPosition);
    _transferPosition += n;
    return makeReport (kTransferData, std::vector<uint8_t> (from, from + static_cast<std::ptrdiff_t> (n)));
}

SimulatedUnit::Report SimulatedUnit::answerWriteChunk (const uint8_t* payload, size_t length)
{
    if (_transfer != Transfer::BlockWrite || _transferData.size() + length > kLargestBlock)
    {
        _transfer = Transfer::None;
        return makeReport (kNack);
    }

    _transferData.insert (_transferData.end(), payload, payload + length);
    return makeReport (kAck);
}

SimulatedUnit::Report SimulatedUnit::answerWriteEnd (const uint8_t* payload, size_t length)
{
    const bool writing = _transfer == Transfer::BlockWrite;
    _transfer = Transfer::None;

    if (! writing || length < 7)
        return makeReport (kNack);

    const uint8_t type = payload[0];
    const uint32_t index = readLE16 (payload + 1);
    const size_t words = readLE16 (payload + 3);
    const uint32_t sum = readLE16 (payload + 5);

    if (! isValidSlot (type, index) || words * 4 != _transferData.size()
        || ! isValidWriteSize (type, _transferData.size()) || sum != checksum (_transferData))
        return makeReport (kNack);

    std::vector<uint8_t> stored = _transferData;

    // A short preset block fills the front of the slot; the rest holds no parameters.
    if (type == kPreset && stored.size() < 4096)
    {
        const auto tail = makePairBlock ({}, 4096 - stored.size());
        stored.insert (stored.end(), tail.begin(), tail.end());
    }

    _blocks[{ type, index }] = std::move (stored);
    return makeReport (kAck);
}

SimulatedUnit::Report SimulatedUnit::answerFirmwareStart (const uint8_t* payload, size_t length)
{
    _transfer = Transfer::None;

    if (length != 5 || payload[0] != 0 || readLE32 (payload + 1) != kFirmwareKey)
        return makeReport (kNack);

    _transfer = Transfer::Firmware;
    _transferData.clear();
    return makeReport (kAck);
}

SimulatedUnit::Report SimulatedUnit::answerFirmwareChunk (const uint8_t* payload, size_t length)
{
    if (_transfer != Transfer::Firmware || _transferData.size() + length > kLargestImage)
    {
        _transfer = Transfer::None;
        return makeReport (kNack);
    }

    _transferData.insert (_transferData.end(), payload, payload + length);

    // The header says where the image ends; without a valid header a short chunk ends it.
    size_t total = 0;
    const bool declared = declaredLoaderSize (_transferData, total);
    const bool last = (declared && _transferData.size() >= total) || length < kMaxPayload;

    if (! last)
        return makeReport (kAck);

    _transfer = Transfer::None;
    _firmwareAccepted = checkLoaderImage (_transferData, _pendingDspVersion);
    return _firmwareAccepted ? makeReport (kAck) : makeReport (kNack);
}

std::vector<SimulatedUnit::Report> SimulatedUnit::loadProgram (uint8_t program)
{
    for (BlockType type : kPresetBlockTypes)
        _blocks[{ type, 0 }] = _blocks[{ type, program }];

    _program = program;
    _status.loadedFavourite = program;
    return { makeReport (kAck), makeParameterReport (kPresetPositionId, bitsOf (static_cast<float> (program))), makeStatusReport() };
}

void SimulatedUnit::storeEditBufferParameter (uint32_t id, uint32_t valueBits)
{
    auto& editBuffer = _blocks[{ kPreset, 0 }];
    auto pairs = readPairs (editBuffer);
    pairs[id] = valueBits;

    if (pairs.size() <= editBuffer.size() / 8)
        editBuffer = makePairBlock (pairs, editBuffer.size());
}

SimulatedUnit::Report SimulatedUnit::makeStatusReport() const
{
    std::vector<uint8_t> payload (kStatusPayloadSize, 0);
    payload[6] = _status.level;
    payload[8] = _status.amp;
    payload[9] = _status.cabinet;
    payload[10] = _status.favouriteSwitch;
    payload[11] = _status.loadedFavourite;
    return makeReport (kStatus, payload);
}

SimulatedUnit::Report SimulatedUnit::makeVersionAnswer() const
{
    const Version& s = _options.systemVersion;
    const Version& d = _options.dspVersion;
    std::vector<uint8_t> payload { kVersion, s.major, s.minor, s.patch, d.major, d.minor, d.patch };

    if (_options.extraCode)
        payload.push_back (*_options.extraCode);

    return makeReport (kAck, payload);
}

bool SimulatedUnit::isValidSlot (uint8_t type, uint32_t index) const
{
    if (type == kGlobals)
        return index == 0;

    return std::find (std::begin (kPresetBlockTypes), std::end (kPresetBlockTypes), type) != std::end (kPresetBlockTypes)
           && index < kPresetSlots;
}

bool SimulatedUnit::isValidWriteSize (uint8_t type, size_t size) const
{
    switch (type)
    {
        case kGlobals:  return size == 1024;
        case kPreset:   return size == 1024 || size == 4096;
        case kAmpName:  return size == 68;
        case kAmpData:  return size == 4096;
        case kFilter:   return size == 4096;
        case kCabName:  return size == 64 || size == 1024;
        case kCabData:  return size == 8192;
        default:        return false;
    }
}

} // namespace SimUnit
