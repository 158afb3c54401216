#include "KorvantalProtocol.h"

#include "KorvantalProtocolCodes.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

namespace Korvantal
{

using namespace ProtocolCodes;
namespace Data = KorvantalData;

namespace
{

// The one place that frames a packet: [code][payload length][payload].
Result makePacket (Code code, const uint8_t* payload, size_t payloadLength, Packet& packet)
{
    if (payloadLength > kMaxPayload)
        return KORVANTAL_ERROR ("Payload too big");

    packet.bytes[kCodeOffset] = byte (code);
    packet.bytes[kLengthOffset] = static_cast<uint8_t> (payloadLength);

    if (payloadLength > 0)
        std::memcpy (packet.bytes.data() + kPayloadOffset, payload, payloadLength);

    packet.size = kHeaderSize + payloadLength;
    return Result::success;
}

Packet makeEmptyPacket (Code code)
{
    Packet packet;
    makePacket (code, nullptr, 0, packet);
    return packet;
}

void putLE16 (uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t> (value & 0xFF);
    at[1] = static_cast<uint8_t> ((value >> 8) & 0xFF);
}

void putLE32 (uint8_t* at, uint32_t value)
{
    putLE16 (at, value & 0xFFFF);
    putLE16 (at + 2, value >> 16);
}

Packet makeBlockReadRequest (uint32_t type, uint32_t index)
{
    uint8_t payload[kBlockReadRequestPayload] = {};
    payload[0] = static_cast<uint8_t> (type);
    putLE16 (payload + 1, index);
    Packet packet;
    makePacket (Code::BlockReadRequest, payload, sizeof (payload), packet);
    return packet;
}

Packet makeBlockWriteEnd (uint32_t type, uint32_t index, size_t size, uint16_t checksum)
{
    uint8_t payload[kBlockWriteEndPayload] = {};
    payload[0] = static_cast<uint8_t> (type);
    putLE16 (payload + 1, index);
    putLE16 (payload + 3, static_cast<uint32_t> (size / Data::kWordSize));
    putLE16 (payload + 5, checksum);
    Packet packet;
    makePacket (Code::TransferEnd, payload, sizeof (payload), packet);
    return packet;
}

Packet makeFirmwareStart (uint32_t dsp)
{
    uint8_t payload[kFirmwareStartPayload] = {};
    payload[0] = static_cast<uint8_t> (dsp);
    putLE32 (payload + 1, kFirmwareStartKey);
    Packet packet;
    makePacket (Code::FirmwareStart, payload, sizeof (payload), packet);
    return packet;
}

Packet makeProgramChange (uint32_t program)
{
    const uint8_t payload[kProgramChangePayload] = { static_cast<uint8_t> (program & 0xFF) };
    Packet packet;
    makePacket (Code::ProgramChange, payload, sizeof (payload), packet);
    return packet;
}

Packet makeSetParameter (int id, float value)
{
    uint8_t payload[kSetParameterPayload] = {};
    putLE16 (payload, static_cast<uint32_t> (id) & 0xFFFF);
    putLE32 (payload + kParameterReportValueOffset, Data::floatToBits (value));
    Packet packet;
    makePacket (Code::SetParameter, payload, sizeof (payload), packet);
    return packet;
}

const std::vector<uint8_t> kAckOrNack { byte (Code::Ack), byte (Code::Nack) };
const std::vector<uint8_t> kReadStartAnswers { byte (Code::TransferStart), byte (Code::Nack) };
const std::vector<uint8_t> kReadChunkAnswers { byte (Code::TransferData), byte (Code::TransferEnd), byte (Code::Nack) };
const std::vector<uint8_t> kProgramAnswers { byte (Code::ProgramAnswer), byte (Code::Nack) };

uint8_t answerCode (const uint8_t* answer) { return answer[kCodeOffset]; }
uint8_t answerPayloadLength (const uint8_t* answer) { return answer[kLengthOffset]; }
bool isCode (const uint8_t* answer, Code code) { return answerCode (answer) == byte (code); }

} // namespace

uint16_t blockChecksum (const uint8_t* data, size_t size, uint16_t start)
{
    uint16_t sum = start;

    for (size_t i = 0; i < size; ++i)
        sum = static_cast<uint16_t> (((sum >> 1) | (sum << 15)) + data[i]);

    return sum;
}

KorvantalProtocol::KorvantalProtocol (IDevicePacketIO* transport, uint32_t protocolVariant)
    : _transport (transport), _protocolVariant (protocolVariant)
{
    _transport->setHandler (this);
}

KorvantalProtocol::~KorvantalProtocol()
{
    // Once this returns no transport callback runs or follows.
    _transport->setHandler (nullptr);
}

Result KorvantalProtocol::setHandler (Handler* handler)
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    _handler = handler;
    return Result::success;
}

uint32_t KorvantalProtocol::getState() const
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    return _state;
}

void KorvantalProtocol::clearError()
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    std::lock_guard<std::mutex> lock (_stateMutex);

    if (_state == kError)
        _state = kConnected;
}

void KorvantalProtocol::failConnection()
{
    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (_state == kConnected)
            _state = kError;
    }

    // reset takes no transport lock, so this is safe from inside packetReceived too.
    _transport->reset();
}

void KorvantalProtocol::connectionStateChanged (int state)
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    _state = state == 1 ? kConnected : state == 0 ? kDisconnected : kError;
    _stateChanged.notify_all();

    if (_handler != nullptr)
        _handler->connectionStateChanged (static_cast<int> (_state));
}

void KorvantalProtocol::packetReceived (const uint8_t* data, size_t length)
{
    if (length < kHeaderSize)
    {
        KORVANTAL_ERROR ("Short packet/msg!");
        failConnection();
        return;
    }

    const size_t packetLength = kHeaderSize + data[kLengthOffset];

    if (packetLength > length)
    {
        KORVANTAL_ERROR ("Packet/msg length mismatch! (%d != %d)", static_cast<int> (length), static_cast<int> (packetLength));
        failConnection();
        return;
    }

    if (offerToPending (data, packetLength))
        _stateChanged.notify_all();
}

bool KorvantalProtocol::offerToPending (const uint8_t* data, size_t packetLength)
{
    std::lock_guard<std::mutex> lock (_stateMutex);
    bool taken = false;

    for (auto& pending : _pendingMatchers)
        if (pending.match (data, packetLength))
        {
            taken = true;
            break;
        }

    const uint8_t code = data[kCodeOffset];
    const uint8_t payloadLength = data[kLengthOffset];

    if (code == byte (Code::ParameterReport) && payloadLength >= kParameterReportMinPayload)
    {
        if (_handler != nullptr)
        {
            const uint8_t* payload = data + kPayloadOffset;
            const auto id = static_cast<uint16_t> (payload[0] | (payload[1] << 8));
            const float value = Data::bitsToFloat (Data::readWord (payload, kParameterReportValueOffset));
            _handler->parameterChanged (id, value);
        }
    }
    else if (code == byte (Code::Status))
    {
        if (_handler != nullptr)
            _handler->statusReceived (data + kPayloadOffset, payloadLength);
    }
    else if (! taken)
    {
        logMessage (kLogWarning, "Unhandled packet!");
    }

    return taken;
}

Result KorvantalProtocol::doPacketTransactionWithTimeout (MessageBuffer& answer, std::vector<uint8_t> expectedCodes,
                                                          uint32_t timeoutMs, bool& answered, RequestSender sendRequest)
{
    answered = false;
    Result result = Result::success;
    bool matched = false;

    // Runs under the state lock on the reader thread; the transaction's locals outlive it
    // because the matcher is removed before this function returns.
    uint64_t token = 0;
    Matcher matcher = [&] (const uint8_t* packet, size_t length) {
        if (std::find (expectedCodes.begin(), expectedCodes.end(), packet[kCodeOffset]) == expectedCodes.end())
            return false;

        if (answer.capacity >= length)
        {
            std::memcpy (answer.data, packet, length);
            result = Result::success;
        }
        else
        {
            result = KORVANTAL_ERROR ("Buffer too small: %d > %d", static_cast<int> (length), static_cast<int> (answer.capacity));
        }

        // The waiter is woken by packetReceived once the state lock is free, so it does not
        // wake only to block on the lock the reader still holds.
        matched = true;
        return true;
    };

    {
        std::lock_guard<std::mutex> lock (_stateMutex);

        if (_state != kConnected)
            return KORVANTAL_ERROR ("Invalid state");

        token = ++_nextMatcherToken;
        _pendingMatchers.push_back ({ token, matcher });
    }

    const Result sent = sendRequest (0);

    std::unique_lock<std::mutex> lock (_stateMutex);

    if (! sent.ok)
    {
        result = sent;
    }
    else
    {
        // One deadline for the whole wait, so that wake-ups without news never extend it.
        // A malformed packet moves the state to 2 without waking this wait, which then ends
        // at its time-out like silence does.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

        while (! matched)
        {
            if (_state != kConnected)
            {
                result = KORVANTAL_ERROR ("Disconnect/error while waiting");
                break;
            }

            if (timeoutMs < 1 || _stateChanged.wait_until (lock, deadline) == std::cv_status::timeout)
            {
                if (! matched)
                    result = Result::success;
                break;
            }
        }
    }

    answered = matched;
    _pendingMatchers.erase (std::find_if (_pendingMatchers.begin(), _pendingMatchers.end(),
                                          [token] (const PendingMatcher& p) { return p.token == token; }));
    return result;
}

Result KorvantalProtocol::doPacketTransaction (MessageBuffer& answer, std::vector<uint8_t> expectedCodes, RequestSender sendRequest)
{
    bool answered = false;
    const Result result = doPacketTransactionWithTimeout (answer, std::move (expectedCodes), kRequestTimeoutMs,
                                                          answered, std::move (sendRequest));

    if (result.ok && ! answered)
        return KORVANTAL_ERROR ("Timeout");

    return result;
}

Result KorvantalProtocol::ping (bool& alive)
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    uint8_t buffer[kMaxPacketSize] = {};
    MessageBuffer answer { buffer, sizeof (buffer) };
    bool answered = false;
    const Packet request = makeEmptyPacket (Code::Ping);

    const Result result = doPacketTransactionWithTimeout (answer, kAckOrNack, kPingTimeoutMs, answered,
                                                          [&] (int) { return _transport->sendPacket (request.bytes.data(), request.size); });

    if (! result.ok)
    {
        alive = false;
        failConnection();
        return result;
    }

    alive = answered && isCode (buffer, Code::Ack);
    return Result::success;
}

Result KorvantalProtocol::getFirmwareVersionInfo (KorvantalData::FirmwareVersionInfo& info)
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    uint8_t buffer[kMaxPacketSize] = {};
    MessageBuffer answer { buffer, sizeof (buffer) };
    const Packet request = makeEmptyPacket (Code::Version);

    const Result result = doPacketTransaction (answer, kAckOrNack,
                                               [&] (int) { return _transport->sendPacket (request.bytes.data(), request.size); });

    if (! result.ok)
        return result;

    if (isCode (buffer, Code::Nack))
        return KORVANTAL_ERROR ("Got NACK for version request");

    if (! isCode (buffer, Code::Ack))
    {
        const Result error = KORVANTAL_ERROR ("Internal error");
        failConnection();
        return error;
    }

    const uint8_t payloadLength = answerPayloadLength (buffer);
    const uint8_t* payload = buffer + kPayloadOffset;

    if (payloadLength < kVersionMinPayload || payload[0] != byte (Code::Version))
        return KORVANTAL_ERROR ("Malformed version response");

    info.systemVersion = { payload[1], payload[2], payload[3], 0 };
    info.dspVersion = { payload[4], payload[5], payload[6], 0 };
    info.extraCode = kVersionNoExtraCode;

    if (payloadLength >= kVersionExtraCodePayload && payload[7] <= kVersionMaxExtraCode)
        info.extraCode = payload[7];

    return Result::success;
}

Result KorvantalProtocol::transact (MessageBuffer& answer, const std::vector<uint8_t>& expectedCodes, const Packet& request)
{
    return doPacketTransaction (answer, expectedCodes,
                                [&] (int) { return _transport->sendPacket (request.bytes.data(), request.size); });
}

Result KorvantalProtocol::failAndDrop (Result failure)
{
    failConnection();
    return failure;
}

Result KorvantalProtocol::readData (uint32_t type, uint32_t index, void* buffer, size_t size, size_t& received)
{
    uint8_t answerBytes[kMaxPacketSize] = {};
    MessageBuffer answer { answerBytes, sizeof (answerBytes) };

    Result result = transact (answer, kReadStartAnswers, makeBlockReadRequest (type, index));

    if (! result.ok)
        return failAndDrop (result);

    if (isCode (answerBytes, Code::Nack))
        return failAndDrop (KORVANTAL_ERROR ("Got NACK waiting for TRANSFER_START"));

    if (! isCode (answerBytes, Code::TransferStart))
        return failAndDrop (KORVANTAL_ERROR ("Internal error"));

    auto* place = static_cast<uint8_t*> (buffer);
    size_t count = 0;
    size_t room = size;
    const Packet next = makeEmptyPacket (Code::Ack);

    for (;;)
    {
        result = transact (answer, kReadChunkAnswers, next);

        if (! result.ok)
            return failAndDrop (result);

        if (isCode (answerBytes, Code::TransferData))
        {
            // Bytes beyond the block are dropped, so decoders never read past it.
            const size_t n = std::min<size_t> (room, answerPayloadLength (answerBytes));
            std::memcpy (place, answerBytes + kPayloadOffset, n);
            place += n;
            room -= n;
            count += n;
            continue;
        }

        if (isCode (answerBytes, Code::TransferEnd))
        {
            received = count;
            return Result::success;
        }

        if (isCode (answerBytes, Code::Nack))
            return failAndDrop (KORVANTAL_ERROR ("Got unexpected NACK during read transfer"));

        return failAndDrop (KORVANTAL_ERROR ("Internal error"));
    }
}

Result KorvantalProtocol::sendData (uint32_t type, uint32_t index, const void* data, size_t size)
{
    uint8_t answerBytes[kMaxPacketSize] = {};
    MessageBuffer answer { answerBytes, sizeof (answerBytes) };

    Result result = transact (answer, kAckOrNack, makeEmptyPacket (Code::TransferStart));

    if (! result.ok)
        return failAndDrop (result);

    // A refused start leaves the unit idle and the connection usable.
    if (isCode (answerBytes, Code::Nack))
        return KORVANTAL_ERROR ("Got NACK waiting for TRANSFER_START");

    if (! isCode (answerBytes, Code::Ack))
        return failAndDrop (KORVANTAL_ERROR ("Internal error"));

    const auto* remaining = static_cast<const uint8_t*> (data);
    size_t left = size;
    uint16_t checksum = 0;
    bool endSent = false;

    while (! endSent)
    {
        Packet packet;
        size_t n = 0;

        if (left > 0)
        {
            n = std::min (left, kMaxPayload);
            checksum = blockChecksum (remaining, n, checksum);
            makePacket (Code::TransferData, remaining, n, packet);
        }
        else
        {
            packet = makeBlockWriteEnd (type, index, size, checksum);
            endSent = true;
        }

        result = transact (answer, kAckOrNack, packet);

        if (! result.ok)
            return failAndDrop (result);

        remaining += n;
        left -= n;

        if (isCode (answerBytes, Code::Nack))
            return failAndDrop (KORVANTAL_ERROR ("Got NACK during write transfer"));

        if (! isCode (answerBytes, Code::Ack))
            return failAndDrop (KORVANTAL_ERROR ("Internal error"));
    }

    return Result::success;
}

Result KorvantalProtocol::sendBlock (uint32_t type, uint32_t index, const void* data, size_t size)
{
    return sendData (type, index, data, size);
}

Result KorvantalProtocol::sendFirmwareForSingleDSP (uint32_t dsp, const uint8_t* image, size_t size, Progress progress)
{
    uint8_t answerBytes[kMaxPacketSize] = {};
    MessageBuffer answer { answerBytes, sizeof (answerBytes) };

    Result result = transact (answer, kAckOrNack, makeFirmwareStart (dsp));

    if (! result.ok)
        return failAndDrop (result);

    if (isCode (answerBytes, Code::Nack))
        return KORVANTAL_ERROR ("Got NACK for firmware start");

    if (! isCode (answerBytes, Code::Ack))
        return failAndDrop (KORVANTAL_ERROR ("Internal error"));

    size_t sent = 0;

    // At least one chunk goes out, an empty one for an empty image.
    do
    {
        const size_t n = std::min (size - sent, kMaxPayload);
        Packet packet;
        makePacket (Code::FirmwareChunk, image + sent, n, packet);

        result = doPacketTransaction (answer, kAckOrNack, [&] (int) {
            const Result written = _transport->sendPacket (packet.bytes.data(), packet.size);

            if (written.ok)
            {
                sent += n;

                if (progress)
                    progress (size == 0 ? 1.0 : static_cast<double> (sent) / static_cast<double> (size));
            }

            return written;
        });

        if (! result.ok)
            return failAndDrop (result);

        if (isCode (answerBytes, Code::Nack))
            return failAndDrop (KORVANTAL_ERROR ("Got NACK during write transfer"));

        if (! isCode (answerBytes, Code::Ack))
            return failAndDrop (KORVANTAL_ERROR ("Internal error"));
    }
    while (sent < size);

    return Result::success;
}

Result KorvantalProtocol::updateFirmware (const std::vector<uint8_t>& image, Progress progress)
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    return sendFirmwareForSingleDSP (0, image.data(), image.size(), std::move (progress));
}

Result KorvantalProtocol::setCurrentPreset (uint32_t program)
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    uint8_t answerBytes[kMaxPacketSize] = {};
    MessageBuffer answer { answerBytes, sizeof (answerBytes) };

    const Result result = transact (answer, kAckOrNack, makeProgramChange (program));

    if (! result.ok)
        return failAndDrop (result);

    if (isCode (answerBytes, Code::Ack))
        return Result::success;

    if (isCode (answerBytes, Code::Nack))
        return failAndDrop (KORVANTAL_ERROR ("Got NACK for program change"));

    return failAndDrop (KORVANTAL_ERROR ("Internal error"));
}

Result KorvantalProtocol::getCurrentPreset (uint32_t& program)
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    uint8_t answerBytes[kMaxPacketSize] = {};
    MessageBuffer answer { answerBytes, sizeof (answerBytes) };

    const Result result = transact (answer, kProgramAnswers, makeEmptyPacket (Code::ProgramRequest));

    if (! result.ok)
        return failAndDrop (result);

    if (isCode (answerBytes, Code::ProgramAnswer))
    {
        // The payload length is not examined: an answer without its byte reads the zeroed buffer, 0.
        program = answerBytes[kPayloadOffset];
        return Result::success;
    }

    if (isCode (answerBytes, Code::Nack))
        return failAndDrop (KORVANTAL_ERROR ("Got NACK for program request"));

    return failAndDrop (KORVANTAL_ERROR ("Internal error"));
}

Result KorvantalProtocol::setParameter (int id, const float& value)
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    const Packet packet = makeSetParameter (id, value);
    return _transport->sendPacket (packet.bytes.data(), packet.size);
}

Result KorvantalProtocol::requestStatus()
{
    const Packet packet = makeEmptyPacket (Code::Status);
    return _transport->sendPacket (packet.bytes.data(), packet.size);
}

Result KorvantalProtocol::readTyped (BlockType type, uint32_t index, size_t size, const Decoder& decode)
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    // Zeroed, so a block that came short decodes as zeros rather than stale stack bytes.
    std::array<uint8_t, Data::kCabinetIRBlockSize> block {};
    size_t received = 0;
    const Result result = readData (static_cast<uint32_t> (type), index, block.data(), std::min (size, block.size()), received);

    if (! result.ok)
        return result;

    return decode (block.data(), received);
}

Result KorvantalProtocol::sendTyped (BlockType type, uint32_t index, size_t size, const Encoder& encode)
{
    std::lock_guard<std::mutex> operation (_operationMutex);
    std::array<uint8_t, Data::kCabinetIRBlockSize> block {};
    const Result encoded = encode (block.data());

    if (! encoded.ok)
        return encoded;

    return sendBlock (static_cast<uint32_t> (type), index, block.data(), std::min (size, block.size()));
}

Result KorvantalProtocol::readPreset (uint32_t index, ParameterMap& parameters)
{
    // Only what arrived is decoded: a short answer must not yield pairs from beyond it.
    return readTyped (BlockType::Preset, index, Data::kPresetBlockSize,
                      [&] (const uint8_t* block, size_t received) { return Data::decodeParamBlock (block, received, parameters); });
}

Result KorvantalProtocol::sendPreset (uint32_t index, const ParameterMap& parameters)
{
    const size_t pairs = sendsShortPresets (_protocolVariant) ? Data::kShortPresetParamPairs : Data::kPresetParamPairs;
    return sendTyped (BlockType::Preset, index, pairs * Data::kParamPairSize,
                      [&] (uint8_t* block) { return Data::encodeParamBlock (parameters, block, pairs); });
}

Result KorvantalProtocol::readGlobals (ParameterMap& parameters)
{
    return readTyped (BlockType::Globals, kGlobalsIndex, Data::kGlobalsBlockSize,
                      [&] (const uint8_t* block, size_t received) { return Data::decodeParamBlock (block, received, parameters); });
}

Result KorvantalProtocol::sendGlobals (const ParameterMap& parameters)
{
    return sendTyped (BlockType::Globals, kGlobalsIndex, Data::kGlobalsBlockSize,
                      [&] (uint8_t* block) { return Data::encodeParamBlock (parameters, block, Data::kGlobalsParamPairs); });
}

Result KorvantalProtocol::readAmpNameAndID (uint32_t index, KorvantalData::AmpNameAndID& nameAndID)
{
    return readTyped (BlockType::AmpNameAndID, index, Data::kAmpNameAndIDBlockSize,
                      [&] (const uint8_t* block, size_t) { return Data::decodeAmpNameAndID (block, nameAndID); });
}

Result KorvantalProtocol::sendAmpNameAndID (uint32_t index, const KorvantalData::AmpNameAndID& nameAndID)
{
    return sendTyped (BlockType::AmpNameAndID, index, Data::kAmpNameAndIDBlockSize,
                      [&] (uint8_t* block) { return Data::encodeAmpNameAndID (nameAndID, block); });
}

Result KorvantalProtocol::readAmpData (uint32_t index, KorvantalData::AmpData& data)
{
    return readTyped (BlockType::AmpData, index, Data::kAmpDataBlockSize,
                      [&] (const uint8_t* block, size_t) { return Data::decodeAmpData (block, data); });
}

Result KorvantalProtocol::sendAmpData (uint32_t index, const KorvantalData::AmpData& data)
{
    return sendTyped (BlockType::AmpData, index, Data::kAmpDataBlockSize,
                      [&] (uint8_t* block) { return Data::encodeAmpData (data, block); });
}

Result KorvantalProtocol::readFinishingFilter (uint32_t index, FinishingFilter& filter)
{
    return readTyped (BlockType::FinishingFilter, index, Data::kFinishingFilterBlockSize,
                      [&] (const uint8_t* block, size_t) { return Data::decodeFinishingFilter (block, filter); });
}

Result KorvantalProtocol::sendFinishingFilter (uint32_t index, const FinishingFilter& filter)
{
    return sendTyped (BlockType::FinishingFilter, index, Data::kFinishingFilterBlockSize,
                      [&] (uint8_t* block) { return Data::encodeFinishingFilter (filter, block); });
}

Result KorvantalProtocol::readCabName (uint32_t index, std::string& name)
{
    const bool longForm = _protocolVariant == kLongCabinetNameVariant;
    const size_t length = longForm ? Data::kTextFieldLength : Data::kCabinetNameLength;
    return readTyped (BlockType::CabinetName, index, longForm ? Data::kLongCabinetNameBlockSize : Data::kCabinetNameBlockSize,
                      [&] (const uint8_t* block, size_t) { return Data::decodeName (block, name, length); });
}

Result KorvantalProtocol::sendCabName (uint32_t index, const std::string& name)
{
    const bool longForm = _protocolVariant == kLongCabinetNameVariant;
    // The long block's last word stays zero: the text field covers only the 255 words before it.
    return sendTyped (BlockType::CabinetName, index, longForm ? Data::kLongCabinetNameBlockSize : Data::kCabinetNameBlockSize,
                      [&] (uint8_t* block) { return longForm ? Data::encodeText (name, block) : Data::encodeNameSegment (name, block); });
}

Result KorvantalProtocol::readCabData (uint32_t index, Impulse& impulse)
{
    return readTyped (BlockType::CabinetData, index, Data::kCabinetIRBlockSize,
                      [&] (const uint8_t* block, size_t) { return Data::decodeCabinetIR (block, impulse); });
}

Result KorvantalProtocol::sendCabData (uint32_t index, const Impulse& impulse)
{
    return sendTyped (BlockType::CabinetData, index, Data::kCabinetIRBlockSize,
                      [&] (uint8_t* block) { return Data::encodeCabinetIR (impulse, block); });
}

} // namespace Korvantal
