// The device blocks' decoders, each given exactly its block (the fuzz bytes, zero-padded or cut),
// and the preset upgrade of whatever parameters decode.

#include "FuzzSupport.h"
#include "KorvantalData.h"
#include "PresetUpgrade.h"

#include <algorithm>

using namespace Korvantal;
using namespace Korvantal::KorvantalData;

namespace
{
// Exactly `size` bytes on the heap, so a read past the block is an ASan report.
std::vector<uint8_t> blockOf (const uint8_t* data, size_t dataSize, size_t size)
{
    std::vector<uint8_t> block (size);
    std::copy_n (data, std::min (dataSize, size), block.begin());
    return block;
}

std::vector<std::pair<uint32_t, uint32_t>> bitsOf (const ParameterMap& parameters)
{
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (const auto& [id, value] : parameters)
        pairs.emplace_back (id, floatToBits (value));
    return pairs;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    // A parameter block of the bytes' own length: what decodes encodes back to the same values.
    const auto params = blockOf (data, size, size);
    ParameterMap parameters;
    decodeParamBlock (params.data(), params.size(), parameters);
    const size_t pairs = size / kParamPairSize;
    std::vector<uint8_t> encoded (pairs * kParamPairSize);
    FUZZ_CHECK (encodeParamBlock (parameters, encoded.data(), pairs).ok);
    ParameterMap decoded;
    decodeParamBlock (encoded.data(), encoded.size(), decoded);
    FUZZ_CHECK (bitsOf (decoded) == bitsOf (parameters));

    FUZZ_CHECK (upgradePresetParameters (parameters).ok);
    FUZZ_CHECK (parameters.count (kPresetFormatVersionParam) == 1
                && parameters[kPresetFormatVersionParam] == static_cast<float> (kCurrentPresetFormat));

    Impulse impulse;
    decodeCabinetIR (blockOf (data, size, kCabinetIRBlockSize).data(), impulse);

    std::string name;
    for (size_t length : { kOldPresetNameLength, kCabinetNameLength })
        decodeName (blockOf (data, size, kCabinetNameBlockSize).data(), name, length);
    decodeName (blockOf (data, size, kTextFieldSize).data(), name, kTextFieldLength);

    AmpNameAndID nameAndID;
    decodeAmpNameAndID (blockOf (data, size, kAmpNameAndIDBlockSize).data(), nameAndID);
    FUZZ_CHECK (nameAndID.name.size() <= kAmpNameLength);

    AmpData ampData;
    decodeAmpData (blockOf (data, size, kAmpDataBlockSize).data(), ampData);
    FUZZ_CHECK (ampData.parameters.size() <= kAmpDataParamPairs);

    FinishingFilter filter;
    decodeFinishingFilter (blockOf (data, size, kFinishingFilterBlockSize).data(), filter);
    return 0;
}
