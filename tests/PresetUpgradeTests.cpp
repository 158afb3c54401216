#include "PresetUpgrade.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using namespace Korvantal;
using Korvantal::KorvantalData::ParameterMap;

namespace
{
float floatOf (uint32_t bits)
{
    float value;
    std::memcpy (&value, &bits, 4);
    return value;
}

uint32_t bitsOf (float value)
{
    uint32_t bits;
    std::memcpy (&bits, &value, 4);
    return bits;
}

// The single-precision constants of the conversion, taken from their bit patterns.
const float k0_03 = floatOf (0x3CF5C28F);
const float k0_01 = floatOf (0x3C23D70A);
const float kLog10Of30 = floatOf (0x3FBD124F);
const float kFrequencySlope = floatOf (0x3F1A16C8);
const float kFrequencyOffset = floatOf (0x400A4A08);

constexpr uint32_t kRoutingIds[] = { 161, 184, 198, 211 };

float at (const ParameterMap& map, uint32_t id)
{
    const auto found = map.find (id);
    EXPECT_NE (found, map.end()) << "parameter " << id << " missing";
    return found != map.end() ? found->second : std::numeric_limits<float>::quiet_NaN();
}

ParameterMap upgraded (ParameterMap map)
{
    EXPECT_TRUE (upgradePresetParameters (map).ok);
    return map;
}

bool wasConverted (const ParameterMap& map)
{
    return map.count (168) == 1;
}

// An old preset with every source parameter set.
ParameterMap oldPreset (float selector, float on)
{
    return { { 22, selector }, { 23, on }, { 25, 0.1f }, { 26, 0.2f }, { 27, 0.3f }, { 28, 0.4f },
             { 95, 0.6f }, { 112, 0.7f }, { 238, 132353.0f } };
}
} // namespace

TEST (PresetUpgrade, anEmptyMapGainsTheWholeNewLayoutAndTheCurrentVersion)
{
    const ParameterMap map = upgraded ({});

    EXPECT_EQ (map.size(), 61u); // 161 to 219, 23 and 238
    for (uint32_t id = 161; id <= 219; ++id)
        EXPECT_EQ (map.count (id), 1u) << id;
    EXPECT_EQ (map.count (22), 0u) << "reading a source parameter never adds it";
    EXPECT_EQ (map.count (25), 0u);

    EXPECT_EQ (at (map, 211), 0.0f);
    EXPECT_EQ (at (map, 23), 16.0f);
    EXPECT_EQ (at (map, 167), 0.0f);
    EXPECT_EQ (at (map, 188), 0.0f);
    EXPECT_NEAR (at (map, 168), 30.0f, 1e-4f);
    EXPECT_NEAR (at (map, 209), 144.8f, 0.05f);
    EXPECT_EQ (at (map, 238), 393728.0f);
}

TEST (PresetUpgrade, derivesEveryNewParameterFromTheOldValues)
{
    const float a = 0.1f, b = 0.2f, c = 0.3f, d = 0.4f, e = 0.6f, f = 0.7f;
    const ParameterMap map = upgraded (oldPreset (1.0f, 1.0f));

    const std::pair<uint32_t, float> expected[] = {
        { 162, a }, { 163, f }, { 164, 1.0f }, { 165, b }, { 166, c }, { 167, k0_03 * e },
        { 168, std::pow (10.0f, 2.0f * d + kLog10Of30) }, { 169, 20000.0f }, { 170, 2.0f },
        { 171, 1.0f }, { 172, 0.0f }, { 173, -1.0f }, { 174, 0.0f }, { 175, 0.0f }, { 176, 1.0f },
        { 177, 90.0f }, { 178, -120.0f }, { 179, -1.0f }, { 180, 180.0f }, { 181, -120.0f },
        { 182, 1.0f }, { 183, 270.0f }, { 185, a }, { 186, f }, { 187, 1.0f }, { 188, k0_01 * e },
        { 189, b }, { 190, c }, { 191, d }, { 192, 1.0f }, { 193, 0.0f }, { 194, 0.5f }, { 195, 0.0f },
        { 196, 0.0f }, { 197, 0.0f }, { 199, a }, { 200, 1.0f }, { 201, 1.0f }, { 202, b }, { 203, c },
        { 204, d }, { 205, 0.0f }, { 206, 0.5f }, { 207, 0.0f }, { 208, 1.0f },
        { 209, std::pow (10.0f, kFrequencySlope * e + kFrequencyOffset) }, { 210, 1.0f }, { 212, a },
        { 213, b }, { 214, c }, { 215, e }, { 216, 0.5f }, { 217, 0.0f }, { 218, d }, { 219, 0.5f },
    };

    for (const auto& [id, value] : expected)
        EXPECT_EQ (bitsOf (at (map, id)), bitsOf (value)) << "parameter " << id;

    EXPECT_NEAR (at (map, 168), 30.0f * std::pow (100.0f, d), 1e-3f); // 30 x 100^d
}

TEST (PresetUpgrade, keepsTheSourceParametersAndAnyOthers)
{
    ParameterMap old = oldPreset (2.0f, 1.0f);
    old[1] = 5.5f;
    old[300] = -3.0f;

    const ParameterMap map = upgraded (old);
    for (const uint32_t id : { 1u, 22u, 25u, 26u, 27u, 28u, 95u, 112u, 300u })
        EXPECT_EQ (bitsOf (at (map, id)), bitsOf (old.at (id))) << id;
}

TEST (PresetUpgrade, convertsVersionsUpTo132353AndMinusOneOnly)
{
    for (const float version : { 0.0f, 1.0f, 132352.0f, 132353.0f, 132353.4f, -1.0f, -0.6f })
        EXPECT_TRUE (wasConverted (upgraded ({ { 238, version } }))) << version;

    for (const float version : { 132353.5f, 132354.0f, 393728.0f, 458752.0f, -2.0f, -1.5f })
        EXPECT_FALSE (wasConverted (upgraded ({ { 238, version } }))) << version;
}

TEST (PresetUpgrade, aNewerMapOnlyHasItsVersionSetToTheCurrentOne)
{
    for (const float version : { 132354.0f, 393728.0f, 458752.0f, -2.0f })
    {
        ParameterMap old = oldPreset (1.0f, 1.0f);
        old[238] = version;

        ParameterMap expected = old;
        expected[238] = 393728.0f;
        EXPECT_EQ (upgraded (old), expected) << version;
    }
}

TEST (PresetUpgrade, selectorRoutesTheOldOnStateAndSetsParameter23)
{
    const std::tuple<float, uint32_t, float> routings[] = {
        { 0.0f, 211, 16.0f }, { 1.0f, 161, 2.0f }, { 2.0f, 184, 4.0f }, { 3.0f, 198, 8.0f },
        { 2.6f, 198, 8.0f }, // the selector is rounded
    };

    for (const auto& [selector, routedId, newOn] : routings)
    {
        const ParameterMap map = upgraded (oldPreset (selector, 1.0f));
        EXPECT_EQ (at (map, 23), newOn) << selector;

        for (const uint32_t id : kRoutingIds)
            EXPECT_EQ (at (map, id), id == routedId ? 1.0f : 0.0f) << "selector " << selector << " id " << id;
    }
}

TEST (PresetUpgrade, anUnknownSelectorTurnsNoRoutingOn)
{
    for (const float selector : { 7.0f, -1.0f, 4.0f, 1e9f })
    {
        const ParameterMap map = upgraded (oldPreset (selector, 1.0f));
        EXPECT_EQ (at (map, 23), 2.0f) << selector;

        for (const uint32_t id : kRoutingIds)
            EXPECT_EQ (at (map, id), 0.0f) << "selector " << selector << " id " << id;
    }
}

TEST (PresetUpgrade, theOldOnStateIsItsValueRoundedHalvesAwayFromZero)
{
    const std::pair<float, float> cases[] = {
        { 0.4f, 0.0f }, { 0.5f, 1.0f }, { -0.4f, 0.0f }, { -0.5f, 1.0f }, { 3.0f, 1.0f }, { 0.0f, 0.0f },
    };

    for (const auto& [on, routed] : cases)
        EXPECT_EQ (at (upgraded (oldPreset (1.0f, on)), 161), routed) << on;
}

TEST (PresetUpgrade, survivesVersionsThatAreNoNumberOrOutOfRange)
{
    // Whatever a file holds: no crash, no undefined conversion, and the current version after.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();

    for (const float version : { nan, inf, -inf, 1e30f, -1e30f, 4294967296.0f })
    {
        const ParameterMap map = upgraded ({ { 238, version }, { 22, version }, { 23, version } });
        EXPECT_EQ (at (map, 238), 393728.0f) << version;
    }

    // NaN counts as 0, like an absent version; 2^32 wraps to 0.
    EXPECT_TRUE (wasConverted (upgraded ({ { 238, nan } })));
    EXPECT_TRUE (wasConverted (upgraded ({ { 238, 4294967296.0f } })));
}
