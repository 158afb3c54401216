#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Every number on the unit's wire, named once. A packet is [code][payload length][payload],
// carried one per 64-byte HID report; multi-byte numbers are little-endian.
namespace Korvantal::ProtocolCodes
{

// Packet codes. Some codes mean different things in the two directions.
enum class Code : uint8_t
{
    FirmwareStart   = 0xB1, // to the unit: DSP number and the start key
    FirmwareChunk   = 0xB2, // to the unit: up to 62 image bytes
    Ping            = 0xB4,
    Version         = 0xB5, // to the unit: request; also the first payload byte of the answer
    Ack             = 0xC0, // from the unit: acknowledge; to the unit: next chunk of a block read
    Nack            = 0xC1, // from the unit: refusal
    TransferStart   = 0xC2, // to the unit: block write start; from the unit: block read start
    TransferData    = 0xC3, // both: one chunk of a block
    TransferEnd     = 0xC4, // both: end of a block
    BlockReadRequest = 0xC5,
    SetParameter    = 0xC7,
    ProgramChange   = 0xC9,
    ProgramRequest  = 0xCA,
    ProgramAnswer   = 0xCC,
    Status          = 0xCE, // to the unit: request; from the unit: unprompted status report
    ParameterReport = 0xCF, // from the unit, unprompted: a parameter changed on the unit
};

constexpr uint8_t byte (Code c) { return static_cast<uint8_t> (c); }

// Packet framing.
constexpr size_t kMaxPacketSize = 64;
constexpr size_t kHeaderSize = 2;                                // code and payload length
constexpr size_t kMaxPayload = kMaxPacketSize - kHeaderSize;     // 62
constexpr size_t kCodeOffset = 0;
constexpr size_t kLengthOffset = 1;
constexpr size_t kPayloadOffset = 2;

// One packet as it goes to the transport: the first `size` bytes are sent.
struct Packet
{
    std::array<uint8_t, kMaxPacketSize> bytes {};
    size_t size = 0;
};
static_assert (sizeof (Packet::bytes) == kMaxPacketSize, "a packet fills at most one report");

// Device block types; their sizes are those of the records' codecs (KorvantalData.h).
enum class BlockType : uint8_t
{
    Globals         = 1,
    Preset          = 3,
    AmpNameAndID    = 5,
    AmpData         = 6,
    FinishingFilter = 8,
    CabinetName     = 9,
    CabinetData     = 10,
};

// Payload sizes of the fixed-size requests.
constexpr uint8_t kBlockReadRequestPayload = 5;   // type, index (16 bits), two zero bytes
constexpr uint8_t kBlockWriteEndPayload = 7;      // type, index, word count, checksum (16 bits each)
constexpr uint8_t kFirmwareStartPayload = 5;      // DSP number, start key
constexpr uint8_t kProgramChangePayload = 1;
constexpr uint8_t kSetParameterPayload = 8;       // id (16 bits), two zero bytes, float bits

// The fixed word that follows the DSP number in the firmware start packet.
constexpr uint32_t kFirmwareStartKey = 0x6D1AF358;

// Version answer: C0, L, B5, system major/minor/patch, DSP major/minor/patch[, extra code].
constexpr uint8_t kVersionMinPayload = 7;
constexpr uint8_t kVersionExtraCodePayload = 8;
constexpr int32_t kVersionMaxExtraCode = 2;
constexpr int32_t kVersionNoExtraCode = -1;

// Unprompted parameter report: id (16 bits), two unread bytes, float bits.
constexpr uint8_t kParameterReportMinPayload = 8;
constexpr size_t kParameterReportValueOffset = 4;  // within the payload

// The globals block has only one slot.
constexpr uint32_t kGlobalsIndex = 0;

// Time-outs.
constexpr uint32_t kRequestTimeoutMs = 60000;
constexpr uint32_t kPingTimeoutMs = 3000;

// Protocol variants that send the short (1024-byte) preset block: those whose value with
// bit 1 set is 3, i.e. 1 and 3. Variant 2 uses the long cabinet name block.
constexpr uint32_t kApplicationProtocolVariant = 3; // what the application builds every protocol with
constexpr uint32_t kLongCabinetNameVariant = 2;
constexpr bool sendsShortPresets (uint32_t variant) { return (variant | 2u) == 3u; }

} // namespace Korvantal::ProtocolCodes
