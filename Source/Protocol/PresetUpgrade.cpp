#include "PresetUpgrade.h"

#include <cmath>
#include <utility>

namespace Korvantal
{

namespace
{
using KorvantalData::ParameterMap;

constexpr uint32_t kSelectorParam = 22; // which of four routings the old layout used
constexpr uint32_t kOnParam = 23;       // on/off of the old layout; a routing mask in the new one
constexpr uint32_t kVersionUnset = 0xFFFFFFFF; // -1: written by tools that never set a version

// The four routing switches of the new layout; the selector turns on at most one.
constexpr uint32_t kRoutingParams[] = { 161, 184, 198, 211 };

struct Routing
{
    uint32_t selector;
    uint32_t switchParam; // receives the old on/off state
    float newOnValue;     // parameter 23 in the new layout
};

constexpr Routing kRoutings[] = {
    { 0, 211, 16.0f },
    { 1, 161,  2.0f },
    { 2, 184,  4.0f },
    { 3, 198,  8.0f },
};
constexpr float kUnknownRoutingOnValue = 2.0f;

// An absent parameter reads as 0.0 and is not added.
float valueOf (const ParameterMap& parameters, uint32_t id)
{
    const auto found = parameters.find (id);
    return found != parameters.end() ? found->second : 0.0f;
}

// Rounds halves away from zero and takes the result modulo 2^32, so -1 becomes 0xFFFFFFFF.
// A value from a file may be anything: NaN and infinities count as 0.
uint32_t roundedUnsigned (float value)
{
    const double rounded = std::round (double (value));

    if (! std::isfinite (rounded))
        return 0;

    constexpr double kModulus = 4294967296.0;
    double wrapped = std::fmod (rounded, kModulus); // exact for every float
    if (wrapped < 0)
        wrapped += kModulus;

    return static_cast<uint32_t> (wrapped);
}

bool needsConversion (const ParameterMap& parameters)
{
    const uint32_t version = roundedUnsigned (valueOf (parameters, kPresetFormatVersionParam));
    return version <= kLastOldPresetFormat || version == kVersionUnset;
}

struct OldValues
{
    uint32_t selector;
    float on;
    float a, b, c, d, e, f;
};

OldValues readOldValues (const ParameterMap& p)
{
    return { roundedUnsigned (valueOf (p, kSelectorParam)),
             std::round (valueOf (p, kOnParam)) != 0.0f ? 1.0f : 0.0f,
             valueOf (p, 25), valueOf (p, 26), valueOf (p, 27), valueOf (p, 28),
             valueOf (p, 95), valueOf (p, 112) };
}

void setRouting (ParameterMap& parameters, const OldValues& old)
{
    for (const uint32_t id : kRoutingParams)
        parameters[id] = 0.0f;

    float newOnValue = kUnknownRoutingOnValue;

    for (const Routing& routing : kRoutings)
        if (routing.selector == old.selector)
        {
            parameters[routing.switchParam] = old.on;
            newOnValue = routing.newOnValue;
        }

    parameters[kOnParam] = newOnValue;
}

// Parameters 162 to 219 of the new layout, derived from the old values in single precision.
void setNewLayout (ParameterMap& parameters, const OldValues& o)
{
    const float cutoff = std::pow (10.0f, 2.0f * o.d + 1.4771212f); // 30 x 100^d
    const float frequency = std::pow (10.0f, 0.6019101f * o.e + 2.1607685f);

    const std::pair<uint32_t, float> layout[] = {
        { 162, o.a },
        { 163, o.f },
        { 164, 1.0f },
        { 165, o.b },
        { 166, o.c },
        { 167, 0.03f * o.e },
        { 168, cutoff },
        { 169, 20000.0f },
        { 170, 2.0f },
        { 171, 1.0f },
        { 172, 0.0f },
        { 173, -1.0f },
        { 174, 0.0f },
        { 175, 0.0f },
        { 176, 1.0f },
        { 177, 90.0f },
        { 178, -120.0f },
        { 179, -1.0f },
        { 180, 180.0f },
        { 181, -120.0f },
        { 182, 1.0f },
        { 183, 270.0f },
        { 185, o.a },
        { 186, o.f },
        { 187, 1.0f },
        { 188, 0.01f * o.e },
        { 189, o.b },
        { 190, o.c },
        { 191, o.d },
        { 192, 1.0f },
        { 193, 0.0f },
        { 194, 0.5f },
        { 195, 0.0f },
        { 196, 0.0f },
        { 197, 0.0f },
        { 199, o.a },
        { 200, 1.0f },
        { 201, 1.0f },
        { 202, o.b },
        { 203, o.c },
        { 204, o.d },
        { 205, 0.0f },
        { 206, 0.5f },
        { 207, 0.0f },
        { 208, 1.0f },
        { 209, frequency },
        { 210, 1.0f },
        { 212, o.a },
        { 213, o.b },
        { 214, o.c },
        { 215, o.e },
        { 216, 0.5f },
        { 217, 0.0f },
        { 218, o.d },
        { 219, 0.5f },
    };

    for (const auto& [id, value] : layout)
        parameters[id] = value;
}
} // namespace

Result upgradePresetParameters (KorvantalData::ParameterMap& parameters)
{
    if (needsConversion (parameters))
    {
        const OldValues old = readOldValues (parameters);
        setRouting (parameters, old);
        setNewLayout (parameters, old);
    }

    parameters[kPresetFormatVersionParam] = float (kCurrentPresetFormat);
    return Result::success;
}

} // namespace Korvantal
