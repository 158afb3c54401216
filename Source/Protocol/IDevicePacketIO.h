#pragma once

#include "KorvantalResult.h"

#include <cstddef>
#include <cstdint>

namespace Korvantal
{

// A packet link to the unit (provisional until the transport lands).
class IDevicePacketIO
{
public:
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void connectionStateChanged (int state) = 0;
        virtual void packetReceived (const uint8_t* data, size_t length) = 0;
    };

    virtual ~IDevicePacketIO() = default;
    virtual Result setHandler (Handler* handler) = 0;
    virtual Result sendPacket (const uint8_t* data, size_t length) = 0;
    virtual Result reset() = 0;
};

} // namespace Korvantal
