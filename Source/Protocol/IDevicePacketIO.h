#pragma once

#include "KorvantalResult.h"

#include <cstddef>
#include <cstdint>

namespace Korvantal
{

// A packet link to the unit, as the protocol sees it: packets of at most 64
// bytes out, received packets and link states back through the handler.
// Threads: the handler is called on the link's reader thread; see the implementation.
class IDevicePacketIO
{
public:
    // Link states passed to connectionStateChanged.
    enum State : int
    {
        kStopped = 0,
        kRunning = 1,
        kError = 2
    };

    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void connectionStateChanged (int state) = 0;
        // The data is valid only during the call; copy what must be kept.
        virtual void packetReceived (const uint8_t* data, size_t length) = 0;
    };

    virtual ~IDevicePacketIO() = default;

    // Null detaches; once it returns, no callback runs or follows.
    virtual Result setHandler (Handler* handler) = 0;
    virtual Result sendPacket (const uint8_t* data, size_t length) = 0;
    // Called by the protocol after each protocol error, possibly from inside packetReceived.
    virtual Result reset() = 0;
};

} // namespace Korvantal
