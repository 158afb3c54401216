#include "PresetUpgrade.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using namespace Korvantal;
using Korvantal::KorvantalData::ParameterMap;

namespace
{
uint32_t bitsOf (float value)
{
    uint32_t bits;
    std::memcpy (&bits, &value, 4);
    return bits;
}

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

    EXPECT_EQ (at (map, 211), 0.0f);
    EXPECT_EQ (at (map, 23), 16.0f);
    EXPECT_EQ (at (map, 167), 0.0f);
    EXPECT_EQ (at (map, 188), 0.0f);
    EXPECT_NEAR (at (map, 168), 30.0f, 1e-4f);   // 10^1.4771212
    EXPECT_NEAR (at (map, 209), 144.8f, 0.001f); // 10^2.1607685
    EXPECT_EQ (at (map, 238), 393728.0f);
}

TEST (PresetUpgrade, derivesEveryNewParameterFromTheOldValuesAndKeepsTheOthers)
{
    const float a = 0.1f, b = 0.2f, c = 0.3f, d = 0.4f, e = 0.6f, f = 0.7f;
    ParameterMap old = oldPreset (1.0f, 1.0f);
    old[1] = 5.5f;
    old[300] = -3.0f;
    const ParameterMap map = upgraded (old);

    // Products of single-precision values are exact patterns; the powers are computed in double
    // precision beside the test (30 x 100^0.4 and 10^(0.6019101 x 0.6 + 2.1607685)).
    const std::pair<uint32_t, float> exact[] = {
        { 162, a }, { 163, f }, { 164, 1.0f }, { 165, b }, { 166, c }, { 169, 20000.0f }, { 170, 2.0f },
        { 171, 1.0f }, { 172, 0.0f }, { 173, -1.0f }, { 174, 0.0f }, { 175, 0.0f }, { 176, 1.0f },
        { 177, 90.0f }, { 178, -120.0f }, { 179, -1.0f }, { 180, 180.0f }, { 181, -120.0f },
        { 182, 1.0f }, { 183, 270.0f }, { 185, a }, { 186, f }, { 187, 1.0f },
        { 189, b }, { 190, c }, { 191, d }, { 192, 1.0f }, { 193, 0.0f }, { 194, 0.5f }, { 195, 0.0f },
        { 196, 0.0f }, { 197, 0.0f }, { 199, a }, { 200, 1.0f }, { 201, 1.0f }, { 202, b }, { 203, c },
        { 204, d }, { 205, 0.0f }, { 206, 0.5f }, { 207, 0.0f }, { 208, 1.0f }, { 210, 1.0f }, { 212, a },
        { 213, b }, { 214, c }, { 215, e }, { 216, 0.5f }, { 217, 0.0f }, { 218, d }, { 219, 0.5f },
        // Sources other than 23 are kept, as is anything else.
        { 1, 5.5f }, { 22, 1.0f }, { 25, a }, { 26, b }, { 27, c }, { 28, d }, { 95, e }, { 112, f }, { 300, -3.0f },
    };
    for (const auto& [id, value] : exact)
        EXPECT_EQ (bitsOf (at (map, id)), bitsOf (value)) << "parameter " << id;

    EXPECT_EQ (bitsOf (at (map, 167)), 0x3C9374BDu); // 0.03 x 0.6
    EXPECT_EQ (bitsOf (at (map, 188)), 0x3BC49BA6u); // 0.01 x 0.6
    EXPECT_NEAR (at (map, 168), 189.287203f, 2e-4f);
    EXPECT_NEAR (at (map, 209), 332.594115f, 4e-4f);
}

TEST (PresetUpgrade, convertsVersionsUpTo132353AndMinusOneAndOnlyStampsAnyOther)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, bool> versions[] = {
        { 0.0f, true }, { 1.0f, true }, { 132352.0f, true }, { 132353.0f, true }, { 132353.4f, true },
        { -1.0f, true }, { -0.6f, true }, { nan, true }, { inf, true }, { 4294967296.0f, true }, // no number, 2^32: 0
        { 132353.5f, false }, { 132354.0f, false }, { 393728.0f, false }, { 458752.0f, false },
        { -2.0f, false }, { -1.5f, false },
    };

    for (const auto& [version, converted] : versions)
    {
        ParameterMap old = oldPreset (1.0f, 1.0f);
        old[238] = version;
        const ParameterMap map = upgraded (old);
        EXPECT_EQ (wasConverted (map), converted) << version;

        old[238] = 393728.0f;
        EXPECT_TRUE (converted || map == old) << version;
    }

    // Out of every range: no undefined conversion, and the current version after.
    for (const float version : { -inf, 1e30f, -1e30f })
        EXPECT_EQ (at (upgraded ({ { 238, version }, { 22, version }, { 23, version } }), 238), 393728.0f) << version;
}

TEST (PresetUpgrade, theRoundedSelectorRoutesTheOldOnStateRoundedHalvesAwayFromZeroAndSetsParameter23)
{
    const std::tuple<float, float, uint32_t, float> routings[] = {
        // selector, old on state, the id it is routed to (0: none), the new value of 23
        { 0.0f, 1.0f, 211, 16.0f }, { 1.0f, 1.0f, 161, 2.0f }, { 2.0f, 1.0f, 184, 4.0f }, { 3.0f, 1.0f, 198, 8.0f },
        { 2.6f, 1.0f, 198, 8.0f }, { 7.0f, 1.0f, 0, 2.0f }, { -1.0f, 1.0f, 0, 2.0f }, { 4.0f, 1.0f, 0, 2.0f },
        { 1e9f, 1.0f, 0, 2.0f }, { 1.0f, 0.4f, 0, 2.0f }, { 1.0f, 0.5f, 161, 2.0f }, { 1.0f, -0.4f, 0, 2.0f },
        { 1.0f, -0.5f, 161, 2.0f }, { 1.0f, 3.0f, 161, 2.0f }, { 1.0f, 0.0f, 0, 2.0f },
    };

    for (const auto& [selector, on, routedId, newOn] : routings)
    {
        const ParameterMap map = upgraded (oldPreset (selector, on));
        EXPECT_EQ (at (map, 23), newOn) << selector;

        for (const uint32_t id : kRoutingIds)
            EXPECT_EQ (at (map, id), id == routedId ? 1.0f : 0.0f) << "selector " << selector << " on " << on << " id " << id;
    }
}
