#pragma once

#include "IDevicePacketIO.h"
#include "KorvantalData.h"
#include "KorvantalProtocolCodes.h"
#include "KorvantalResult.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace Korvantal
{

// The unit's protocol over a packet transport: framing, request/answer transactions and
// every device operation. Each operation blocks its caller until the unit has answered
// (60000 ms a request, 3000 ms a ping) or the operation has failed.
//
// Threads: operations run on the caller's thread (the editor service's worker); packets and
// transport state changes arrive on the transport's reader thread; the owner (message thread)
// creates and destroys the protocol and attaches its handler.
// Locks: the operation lock (one device operation at a time) is taken before the state lock
// (state, pending matchers, handler). The state lock is never held while a packet is sent, and
// every handler callback runs under it, so a handler must never call back into the protocol.
class KorvantalProtocol : private IDevicePacketIO::Handler
{
public:
    // Callbacks for what the unit sends on its own. All of them run under the state lock,
    // on the reader thread (or the thread that attaches the transport).
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void parameterChanged (uint16_t id, const float& value) = 0;
        virtual void currentPresetChanged() = 0; // never called by the protocol itself
        virtual void connectionStateChanged (int state) = 0;
        virtual void statusReceived (const uint8_t* payload, size_t length) = 0;
    };

    enum State : uint32_t
    {
        kDisconnected = 0,
        kConnected = 1,
        kError = 2
    };

    // Where a transaction puts its answer: the whole packet (code, length, payload).
    struct MessageBuffer
    {
        uint8_t* data = nullptr;
        size_t capacity = 0;
    };

    using ParameterMap = KorvantalData::ParameterMap;
    using Impulse = KorvantalData::Impulse;
    using FinishingFilter = KorvantalData::FinishingFilter;
    using Progress = std::function<void (double)>;
    using RequestSender = std::function<Result (int)>;

    // Attaches itself to the transport, which reports its current state at once.
    KorvantalProtocol (IDevicePacketIO* transport, uint32_t protocolVariant);
    // Detaches from the transport. The owner destroys it only when no operation runs or can start.
    ~KorvantalProtocol() override;

    KorvantalProtocol (const KorvantalProtocol&) = delete;
    KorvantalProtocol& operator= (const KorvantalProtocol&) = delete;

    Result setHandler (Handler* handler);
    uint32_t getState() const;
    uint32_t getProtocolVariant() const { return _protocolVariant; }

    // State 2 becomes 1; used before a firmware update.
    void clearError();

    // Sends one request and waits for an answer whose code is in expectedCodes. Without an answer
    // within timeoutMs it succeeds with `answered` false.
    Result doPacketTransactionWithTimeout (MessageBuffer& answer, std::vector<uint8_t> expectedCodes,
                                           uint32_t timeoutMs, bool& answered, RequestSender sendRequest);
    // The same with the request time-out; no answer is the failure "Timeout".
    Result doPacketTransaction (MessageBuffer& answer, std::vector<uint8_t> expectedCodes, RequestSender sendRequest);

    // State 1 becomes 2, then the transport is reset. Wakes nobody and tells nobody.
    void failConnection();

    Result ping (bool& alive);
    Result getFirmwareVersionInfo (KorvantalData::FirmwareVersionInfo& info);

    Result readPreset (uint32_t index, ParameterMap& parameters);
    Result sendPreset (uint32_t index, const ParameterMap& parameters);
    Result readGlobals (ParameterMap& parameters);
    Result sendGlobals (const ParameterMap& parameters);
    Result readAmpNameAndID (uint32_t index, KorvantalData::AmpNameAndID& nameAndID);
    Result sendAmpNameAndID (uint32_t index, const KorvantalData::AmpNameAndID& nameAndID);
    Result readAmpData (uint32_t index, KorvantalData::AmpData& data);
    Result sendAmpData (uint32_t index, const KorvantalData::AmpData& data);
    Result readFinishingFilter (uint32_t index, FinishingFilter& filter);
    Result sendFinishingFilter (uint32_t index, const FinishingFilter& filter);
    Result readCabName (uint32_t index, std::string& name);
    Result sendCabName (uint32_t index, const std::string& name);
    Result readCabData (uint32_t index, Impulse& impulse);
    Result sendCabData (uint32_t index, const Impulse& impulse);

    Result setCurrentPreset (uint32_t program);
    Result getCurrentPreset (uint32_t& program);
    // One packet, no answer awaited, whatever the state.
    Result setParameter (int id, const float& value);
    // Takes no protocol lock: the unit answers later with an unprompted status report.
    Result requestStatus();
    Result updateFirmware (const std::vector<uint8_t>& image, Progress progress);

    // Generic transfers; callers hold the operation lock.
    Result readData (uint32_t type, uint32_t index, void* buffer, size_t size, size_t& received);
    Result sendData (uint32_t type, uint32_t index, const void* data, size_t size);
    Result sendBlock (uint32_t type, uint32_t index, const void* data, size_t size);
    Result sendFirmwareForSingleDSP (uint32_t dsp, const uint8_t* image, size_t size, Progress progress);

private:
    // IDevicePacketIO::Handler, on the reader thread under the transport lock.
    void connectionStateChanged (int state) override;
    void packetReceived (const uint8_t* data, size_t length) override;

    using Matcher = std::function<bool (const uint8_t*, size_t)>;

    struct PendingMatcher
    {
        uint64_t token;
        Matcher match;
    };

    // Under the state lock: the pending matchers, then the handler for unprompted packets.
    // True when a transaction took the packet.
    bool offerToPending (const uint8_t* data, size_t packetLength);
    // A transaction that sends one ready-made request packet.
    Result transact (MessageBuffer& answer, const std::vector<uint8_t>& expectedCodes, const ProtocolCodes::Packet& request);
    // Fails the connection and passes the failure on.
    Result failAndDrop (Result failure);
    using Decoder = std::function<Result (const uint8_t* block, size_t received)>;
    using Encoder = std::function<Result (uint8_t* block)>;

    // A typed read under the operation lock: the block is decoded only after it was read whole.
    Result readTyped (ProtocolCodes::BlockType type, uint32_t index, size_t size, const Decoder& decode);
    // A typed write under the operation lock: nothing is sent unless the encoder succeeded.
    Result sendTyped (ProtocolCodes::BlockType type, uint32_t index, size_t size, const Encoder& encode);

    mutable std::mutex _stateMutex;
    std::mutex _operationMutex;
    std::condition_variable _stateChanged;
    IDevicePacketIO* _transport;
    std::vector<PendingMatcher> _pendingMatchers; // guarded by _stateMutex
    uint64_t _nextMatcherToken = 0;               // guarded by _stateMutex
    Handler* _handler = nullptr;           // guarded by _stateMutex
    uint32_t _state = kConnected;          // guarded by _stateMutex
    const uint32_t _protocolVariant;
};

// The 16-bit checksum sent at the end of a block write: rotate right by one, add the byte.
uint16_t blockChecksum (const uint8_t* data, size_t size, uint16_t start = 0);

} // namespace Korvantal
