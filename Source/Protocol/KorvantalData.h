#pragma once

#include "KorvantalResult.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The unit's data records and the codecs that turn them into its fixed-size blocks of
// little-endian 32-bit words and back. The protocol sends these blocks over USB and the
// data files store the very same bytes as segments, so the layouts live only here.
//
// Encoders write into a caller-supplied block of the stated size; decoders read a
// caller-supplied block of the stated size. Callers check sizes before decoding.
// Values cross as unchanged 32-bit patterns: no codec converts or rounds a float.
// Records and codecs hold no shared state; a record belongs to whoever holds it.
namespace Korvantal::KorvantalData
{

constexpr size_t kWordSize = 4;
constexpr size_t kParamPairSize = 8;

// Pairs of the parameter blocks.
constexpr size_t kPresetParamPairs = 512;      // preset block, 4096 bytes
constexpr size_t kAmpDataParamPairs = 256;     // parameter part of the amp-data block
constexpr size_t kGlobalsParamPairs = 128;     // globals block, 1024 bytes
constexpr size_t kShortPresetParamPairs = 128; // preset block as this editor's protocol variants send it

// Id that ends a parameter block; unused pairs hold (kParamEndId, 0).
constexpr uint32_t kParamEndId = 0xFFFFFFFF;

constexpr size_t kImpulseChannels = 2;
constexpr size_t kImpulseLength = 1024;        // samples per channel, 48000 Hz
constexpr size_t kFinishingFilterWords = 1024;

// Characters each text field holds, one per word.
constexpr size_t kAmpNameLength = 16;
constexpr size_t kCabinetNameLength = 15;
constexpr size_t kTextFieldLength = 255;
constexpr size_t kOldPresetNameLength = 16;    // name block of an older ".pre" preset file

// Block sizes in bytes.
constexpr size_t kPresetBlockSize = kPresetParamPairs * kParamPairSize;           // 4096
constexpr size_t kShortPresetBlockSize = kShortPresetParamPairs * kParamPairSize; // 1024
constexpr size_t kGlobalsBlockSize = kGlobalsParamPairs * kParamPairSize;         // 1024
constexpr size_t kAmpNameAndIDBlockSize = (1 + kAmpNameLength) * kWordSize;       // 68
constexpr size_t kAmpDataBlockSize = 4096;
constexpr size_t kFinishingFilterBlockSize = kFinishingFilterWords * kWordSize;   // 4096
constexpr size_t kCabinetNameBlockSize = 64;
constexpr size_t kLongCabinetNameBlockSize = 1024;
constexpr size_t kCabinetIRBlockSize = kImpulseChannels * kImpulseLength * kWordSize; // 8192
constexpr size_t kTextFieldSize = kTextFieldLength * kWordSize;                   // 1020

// Offsets inside the amp-data block.
constexpr size_t kAmpDataText1Offset = kAmpDataParamPairs * kParamPairSize;       // 2048
constexpr size_t kAmpDataText2Offset = 3072;

// Bit pattern of 1.0, the finishing filter's pass-through coefficient.
constexpr uint32_t kFloatOneBits = 0x3F800000;

// A parameter set: 32-bit parameter id to value, ordered by unsigned id.
using ParameterMap = std::map<uint32_t, float>;

// The unit's global settings (at most kGlobalsParamPairs entries fit its block).
using Globals = ParameterMap;

// Channel 0 (left) then channel 1 (right), 1024 samples each, 48000 Hz.
using Impulse = std::array<std::array<float, kImpulseLength>, kImpulseChannels>;

// The finishing filter's float coefficients as bit patterns.
using FinishingFilter = std::array<uint32_t, kFinishingFilterWords>;

// A unit impulse on both channels: sample 0 is 1.0, every other sample 0.0.
Impulse makeUnitImpulse();

// Word 0 is 1.0 (0x3F800000), every other word 0.
FinishingFilter makeDefaultFinishingFilter();

// One cabinet (speaker impulse response) as the unit stores it.
struct Cabinet
{
    Impulse impulse = makeUnitImpulse();
    std::string name; // the unit stores at most kCabinetNameLength characters
};

// The name and identifier of an amp model; presets refer to their amp model by the id.
struct AmpNameAndID
{
    uint32_t id = 0;
    std::string name; // the unit stores at most kAmpNameLength characters
};

// An amp model's coefficient set and two texts the system does not interpret.
struct AmpData
{
    ParameterMap parameters; // at most kAmpDataParamPairs entries fit its block
    std::string text1;       // at most kTextFieldLength characters each
    std::string text2;
};

// One amp model as loaded from an amp-model file and sent to the unit's amp blocks.
struct Amp
{
    AmpData data;
    AmpNameAndID nameAndID;
    Impulse impulse = makeUnitImpulse();
    FinishingFilter finishingFilter = makeDefaultFinishingFilter();
    std::unique_ptr<AmpData> extraData; // only from a fifth file segment; never sent

    Amp() = default;
    Amp (const Amp& other);
    Amp& operator= (const Amp& other);
    Amp (Amp&&) noexcept = default;
    Amp& operator= (Amp&&) noexcept = default;
};

// Everything one preset slot of the unit holds (its six device blocks).
struct FullTovarekMk2Preset
{
    ParameterMap parameters;
    Cabinet cabinet;
    AmpNameAndID ampNameAndID;
    AmpData ampData;
    FinishingFilter finishingFilter = makeDefaultFinishingFilter();
};

// The unit's firmware versions: major, minor, patch and a zero byte each.
struct FirmwareVersionInfo
{
    std::array<uint8_t, 4> systemVersion {}; // the major number doubles as the device type
    std::array<uint8_t, 4> dspVersion {};
    int32_t extraCode = -1; // 0, 1 or 2 as the unit reports it; -1 for any other value or none
};
static_assert (sizeof (FirmwareVersionInfo) == 12, "FirmwareVersionInfo is 12 bytes of plain data");

// The content of a backup bundle, also the carrier of a firmware image to the update.
// Every member is optional; a copy copies the present ones.
struct TovarekMk2Archive
{
    struct PresetEntry
    {
        uint32_t index = 0; // the device preset index it was read from and is written back to
        FullTovarekMk2Preset preset;
    };

    std::unique_ptr<FirmwareVersionInfo> versionInfo;
    std::unique_ptr<std::vector<uint8_t>> firmwareImage; // as the unit receives it (bit order already reversed)
    std::vector<PresetEntry> presets;                     // in the order added
    std::unique_ptr<Globals> globals;

    TovarekMk2Archive() = default;
    TovarekMk2Archive (const TovarekMk2Archive& other);
    TovarekMk2Archive& operator= (const TovarekMk2Archive& other);
    TovarekMk2Archive (TovarekMk2Archive&&) noexcept = default;
    TovarekMk2Archive& operator= (TovarekMk2Archive&&) noexcept = default;
};

// The content of an older single-preset file (".pre").
struct Preset
{
    ParameterMap parameters;
    std::string name;
    std::unique_ptr<Cabinet> cabinet; // null when the file holds none

    Preset() = default;
    Preset (const Preset& other);
    Preset& operator= (const Preset& other);
    Preset (Preset&&) noexcept = default;
    Preset& operator= (Preset&&) noexcept = default;
};

// Little-endian word access at a byte offset; the caller guarantees 4 bytes are there.
uint32_t readWord (const uint8_t* block, size_t offset);
void writeWord (uint8_t* block, size_t offset, uint32_t word);

uint32_t floatToBits (float value);
float bitsToFloat (uint32_t bits);

// Writes pairCount pairs (8 x pairCount bytes): the map's entries in ascending id order,
// then (kParamEndId, 0). Fails with "Too many params", leaving the block untouched, when the
// map holds more than pairCount entries.
Result encodeParamBlock (const ParameterMap& parameters, uint8_t* block, size_t pairCount);

// Clears the map and reads sizeInBytes / 8 pairs, stopping at the first id kParamEndId;
// a later duplicate id wins. Never fails.
Result decodeParamBlock (const uint8_t* block, size_t sizeInBytes, ParameterMap& parameters);

// Impulse block of kCabinetIRBlockSize bytes: channel 0's samples, then channel 1's.
Result encodeCabinetIR (const Impulse& impulse, uint8_t* block);
Result decodeCabinetIR (const uint8_t* block, Impulse& impulse);

// Cabinet name block of kCabinetNameBlockSize bytes: up to 15 characters, word 15 zero.
Result encodeNameSegment (const std::string& name, uint8_t* block);

// Text field of kTextFieldSize bytes (255 words). Writes exactly those bytes: a caller
// with a larger block (the long cabinet name block) zeroes the rest itself.
Result encodeText (const std::string& text, uint8_t* block);

// Reads up to maxCharacters words (kOldPresetNameLength, kCabinetNameLength or
// kTextFieldLength), taking each word's low byte and stopping at a zero byte.
// The text replaces the previous content. Never fails.
Result decodeName (const uint8_t* block, std::string& text, size_t maxCharacters);

// Amp name-and-id block of kAmpNameAndIDBlockSize bytes: word 0 the id, words 1 to 16 the name.
Result encodeAmpNameAndID (const AmpNameAndID& nameAndID, uint8_t* block);
Result decodeAmpNameAndID (const uint8_t* block, AmpNameAndID& nameAndID);

// Amp-data block of kAmpDataBlockSize bytes: parameter block of 256 pairs, then text1 and
// text2 at 2048 and 3072, each followed by a zero word. Fails with "Too many params" (block
// untouched) when the map holds more than 256 entries.
Result encodeAmpData (const AmpData& data, uint8_t* block);
Result decodeAmpData (const uint8_t* block, AmpData& data);

// Finishing-filter block of kFinishingFilterBlockSize bytes: the 1024 words unchanged.
Result encodeFinishingFilter (const FinishingFilter& filter, uint8_t* block);
Result decodeFinishingFilter (const uint8_t* block, FinishingFilter& filter);

} // namespace Korvantal::KorvantalData
