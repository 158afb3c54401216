#include "KorvantalData.h"

#include <algorithm>
#include <cstring>

namespace Korvantal::KorvantalData
{

namespace
{
template <typename T>
std::unique_ptr<T> copyOrNull (const std::unique_ptr<T>& source)
{
    return source != nullptr ? std::make_unique<T> (*source) : nullptr;
}

// Zeroes the field's words, then stores one character per word up to the capacity or
// the text's first zero byte; a full field has no terminating word.
void encodeTextField (const std::string& text, uint8_t* block, size_t capacity)
{
    std::memset (block, 0, capacity * kWordSize);

    const size_t length = std::min (text.size(), capacity);

    for (size_t i = 0; i < length; ++i)
    {
        const auto c = static_cast<uint8_t> (text[i]);

        if (c == 0)
            break;

        writeWord (block, i * kWordSize, c);
    }
}
} // namespace

Impulse makeUnitImpulse()
{
    Impulse impulse {};

    for (auto& channel : impulse)
        channel[0] = 1.0f;

    return impulse;
}

FinishingFilter makeDefaultFinishingFilter()
{
    FinishingFilter filter {};
    filter[0] = kFloatOneBits;
    return filter;
}

Amp::Amp (const Amp& other)
    : data (other.data),
      nameAndID (other.nameAndID),
      impulse (other.impulse),
      finishingFilter (other.finishingFilter),
      extraData (copyOrNull (other.extraData))
{
}

Amp& Amp::operator= (const Amp& other)
{
    if (this != &other)
    {
        Amp copy (other);
        *this = std::move (copy);
    }

    return *this;
}

TovarekMk2Archive::TovarekMk2Archive (const TovarekMk2Archive& other)
    : versionInfo (copyOrNull (other.versionInfo)),
      firmwareImage (copyOrNull (other.firmwareImage)),
      presets (other.presets),
      globals (copyOrNull (other.globals))
{
}

TovarekMk2Archive& TovarekMk2Archive::operator= (const TovarekMk2Archive& other)
{
    if (this != &other)
    {
        TovarekMk2Archive copy (other);
        *this = std::move (copy);
    }

    return *this;
}

Preset::Preset (const Preset& other)
    : parameters (other.parameters),
      name (other.name),
      cabinet (copyOrNull (other.cabinet))
{
}

Preset& Preset::operator= (const Preset& other)
{
    if (this != &other)
    {
        Preset copy (other);
        *this = std::move (copy);
    }

    return *this;
}

uint32_t readWord (const uint8_t* block, size_t offset)
{
    const uint8_t* p = block + offset;
    return static_cast<uint32_t> (p[0])
         | static_cast<uint32_t> (p[1]) << 8
         | static_cast<uint32_t> (p[2]) << 16
         | static_cast<uint32_t> (p[3]) << 24;
}

void writeWord (uint8_t* block, size_t offset, uint32_t word)
{
    uint8_t* p = block + offset;
    p[0] = static_cast<uint8_t> (word);
    p[1] = static_cast<uint8_t> (word >> 8);
    p[2] = static_cast<uint8_t> (word >> 16);
    p[3] = static_cast<uint8_t> (word >> 24);
}

// memcpy keeps every pattern, NaN payloads and -0.0 included.
uint32_t floatToBits (float value)
{
    uint32_t bits;
    std::memcpy (&bits, &value, sizeof bits);
    return bits;
}

float bitsToFloat (uint32_t bits)
{
    float value;
    std::memcpy (&value, &bits, sizeof value);
    return value;
}

Result encodeParamBlock (const ParameterMap& parameters, uint8_t* block, size_t pairCount)
{
    if (parameters.size() > pairCount)
        return KORVANTAL_ERROR ("Too many params");

    // The map is already in ascending unsigned id order.
    size_t offset = 0;

    for (const auto& [id, value] : parameters)
    {
        writeWord (block, offset, id);
        writeWord (block, offset + kWordSize, floatToBits (value));
        offset += kParamPairSize;
    }

    for (; offset < pairCount * kParamPairSize; offset += kParamPairSize)
    {
        writeWord (block, offset, kParamEndId);
        writeWord (block, offset + kWordSize, 0);
    }

    return Result::success;
}

Result decodeParamBlock (const uint8_t* block, size_t sizeInBytes, ParameterMap& parameters)
{
    parameters.clear();

    const size_t pairCount = sizeInBytes / kParamPairSize;

    for (size_t i = 0; i < pairCount; ++i)
    {
        const size_t offset = i * kParamPairSize;
        const uint32_t id = readWord (block, offset);

        if (id == kParamEndId)
            break;

        // Blocks hold ascending ids, so the end is almost always the right place.
        parameters.insert_or_assign (parameters.end(), id, bitsToFloat (readWord (block, offset + kWordSize)));
    }

    return Result::success;
}

Result encodeCabinetIR (const Impulse& impulse, uint8_t* block)
{
    size_t offset = 0;

    for (const auto& channel : impulse)
        for (const float sample : channel)
        {
            writeWord (block, offset, floatToBits (sample));
            offset += kWordSize;
        }

    return Result::success;
}

Result decodeCabinetIR (const uint8_t* block, Impulse& impulse)
{
    size_t offset = 0;

    for (auto& channel : impulse)
        for (float& sample : channel)
        {
            sample = bitsToFloat (readWord (block, offset));
            offset += kWordSize;
        }

    return Result::success;
}

Result encodeNameSegment (const std::string& name, uint8_t* block)
{
    std::memset (block, 0, kCabinetNameBlockSize);
    encodeTextField (name, block, kCabinetNameLength);
    return Result::success;
}

Result encodeText (const std::string& text, uint8_t* block)
{
    encodeTextField (text, block, kTextFieldLength);
    return Result::success;
}

Result decodeName (const uint8_t* block, std::string& text, size_t maxCharacters)
{
    text.clear();

    for (size_t i = 0; i < maxCharacters; ++i)
    {
        // Only the low byte carries the character.
        const auto c = static_cast<char> (readWord (block, i * kWordSize) & 0xFF);

        if (c == 0)
            break;

        text.push_back (c);
    }

    return Result::success;
}

Result encodeAmpNameAndID (const AmpNameAndID& nameAndID, uint8_t* block)
{
    writeWord (block, 0, nameAndID.id);
    encodeTextField (nameAndID.name, block + kWordSize, kAmpNameLength);
    return Result::success;
}

Result decodeAmpNameAndID (const uint8_t* block, AmpNameAndID& nameAndID)
{
    nameAndID.id = readWord (block, 0);
    return decodeName (block + kWordSize, nameAndID.name, kAmpNameLength);
}

Result encodeAmpData (const AmpData& data, uint8_t* block)
{
    const Result params = encodeParamBlock (data.parameters, block, kAmpDataParamPairs);

    if (! params.ok)
        return params;

    // The zero word after each text field belongs to no field.
    std::memset (block + kAmpDataText1Offset, 0, kAmpDataBlockSize - kAmpDataText1Offset);
    encodeText (data.text1, block + kAmpDataText1Offset);
    encodeText (data.text2, block + kAmpDataText2Offset);
    return Result::success;
}

Result decodeAmpData (const uint8_t* block, AmpData& data)
{
    decodeParamBlock (block, kAmpDataText1Offset, data.parameters);
    decodeName (block + kAmpDataText1Offset, data.text1, kTextFieldLength);
    decodeName (block + kAmpDataText2Offset, data.text2, kTextFieldLength);
    return Result::success;
}

Result encodeFinishingFilter (const FinishingFilter& filter, uint8_t* block)
{
    for (size_t i = 0; i < filter.size(); ++i)
        writeWord (block, i * kWordSize, filter[i]);

    return Result::success;
}

Result decodeFinishingFilter (const uint8_t* block, FinishingFilter& filter)
{
    for (size_t i = 0; i < filter.size(); ++i)
        filter[i] = readWord (block, i * kWordSize);

    return Result::success;
}

} // namespace Korvantal::KorvantalData
