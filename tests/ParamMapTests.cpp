#include "TovarekMk2ParamMap.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <set>

using TovarekMk2::TovarekMk2ParamMap;
using Info = TovarekMk2ParamMap::ParameterInfo;

namespace
{

const TovarekMk2ParamMap& paramMap()
{
    static const TovarekMk2ParamMap map;
    return map;
}

const Info& info (uint32_t id)
{
    const Info* found = paramMap().findParameterInfo (TovarekMk2ParamID (id));
    if (found == nullptr)
    {
        ADD_FAILURE() << "no parameter " << id;
        static const Info none;
        return none;
    }
    return *found;
}

std::string unitOf (const Info& i)
{
    return i.unit == nullptr ? std::string ("<none>") : std::string (i.unit);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

// ---------------------------------------------------------------------------------------------
// Lookups

TEST (ParamMap, holds103ParametersInStrictlyAscendingIdOrderFrom0To303)
{
    const auto all = paramMap().getAllParameterInfo();
    ASSERT_EQ (all.size(), 103u);
    EXPECT_EQ (all.front()->id, 0u);
    EXPECT_EQ (all.back()->id, 303u);
    for (size_t k = 1; k < all.size(); ++k)
        EXPECT_LT (all[k - 1]->id, all[k]->id) << "at " << k;
}

TEST (ParamMap, findsNothingForIdsOutsideTheTable)
{
    for (uint32_t id : { 6u, 15u, 22u, 102u, 129u, 196u, 215u, 304u, 0x1000u, 0x1001u, 0x1002u, 0x1003u, 0x1004u,
                         0x1005u, 0xFFFFFFFFu })
        EXPECT_EQ (paramMap().findParameterInfo (TovarekMk2ParamID (id)), nullptr) << id;
}

TEST (ParamMap, findsTheStatusLevelAndTheLastIdWithTheirOwnDescriptions)
{
    const Info& level = info (kParamStatusLevel);
    EXPECT_EQ (level.id, 214u);
    EXPECT_EQ (level.scope, TovarekMk2ParamMap::kStatus);
    EXPECT_EQ (level.valueType, TovarekMk2ParamMap::kFloat);

    const Info& loadMode = info (kParamLoadMode);
    EXPECT_EQ (loadMode.id, 303u);
    EXPECT_EQ (loadMode.scope, TovarekMk2ParamMap::kGlobal);
}

TEST (ParamMap, returnsTheSameStoredInfoForEveryLookup)
{
    const auto all = paramMap().getAllParameterInfo();
    for (const Info* i : all)
        EXPECT_EQ (paramMap().findParameterInfo (TovarekMk2ParamID (i->id)), i) << i->id;
}

TEST (ParamMap, keysAndWireIdsEqualTheId)
{
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        EXPECT_EQ (i->valueKey, i->id);
        EXPECT_EQ (i->wireId, i->id);
    }
}

TEST (ParamMap, countsNinetyPresetTwelveGlobalAndOneStatusParameter)
{
    int perScope[3] = {};
    int floatsPerScope[3] = {};
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        ASSERT_LT (i->scope, 3u) << i->id;
        ++perScope[i->scope];
        if (i->valueType == TovarekMk2ParamMap::kFloat)
            ++floatsPerScope[i->scope];
        else
            EXPECT_EQ (i->valueType, TovarekMk2ParamMap::kInteger) << i->id;
    }
    EXPECT_EQ (perScope[0], 90);
    EXPECT_EQ (perScope[1], 12);
    EXPECT_EQ (perScope[2], 1);
    EXPECT_EQ (floatsPerScope[0], 50);
    EXPECT_EQ (floatsPerScope[1], 2);
    EXPECT_EQ (floatsPerScope[2], 1);
}

TEST (ParamMap, givesTheLogarithmicTaperToTheSixFrequencyKnobsOnly)
{
    std::set<uint32_t> logarithmic;
    int linearContinuous = 0;
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        if (i->taper == TovarekMk2ParamMap::kTaperLogarithmic)
        {
            logarithmic.insert (i->id);
            EXPECT_GT (i->min.value, 0.0) << i->id;
            EXPECT_STREQ (i->unit, "Hz");
        }
        else if (i->taper == 1)
            ++linearContinuous;
        else
            EXPECT_EQ (i->taper, 0u);
    }
    EXPECT_EQ (logarithmic, (std::set<uint32_t> { 19, 35, 51, 97, 162, 165 }));
    EXPECT_EQ (linearContinuous, 48);
    // The amp's on/off is the one integer parameter with taper 1.
    EXPECT_EQ (info (kParamAmpOn).taper, 1u);
    EXPECT_EQ (info (kParamAmpOn).valueType, TovarekMk2ParamMap::kInteger);
}

TEST (ParamMap, matchesTheFingerprintOfTheUnitsParameterTable)
{
    // One canonical line per parameter (id, scope, type, taper, min, max, default, decimals,
    // scale, unit, options), hashed with 64-bit FNV-1a. The expected hash was computed by an
    // independent script from the unit's own parameter list, so any wrong field of any row fails.
    std::string text;
    char line[256];
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        std::snprintf (line, sizeof (line), "%u %u %u %u %.17g %.17g %.17g %d %.17g %s", i->id, i->scope,
                       i->valueType, i->taper, i->min.value, i->max.value, i->defaultValue.value, i->decimals,
                       i->displayScale, i->unit == nullptr ? "-" : i->unit);
        text += line;
        for (size_t k = 0; k < i->options.size(); ++k)
            text += (k == 0 ? " |" : ",") + i->options[k].name + "=" + std::to_string (int (i->options[k].value.value));
        text += "\n";
    }
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text)
        hash = (hash ^ c) * 0x100000001b3ull;
    EXPECT_EQ (text.size(), 4071u);
    EXPECT_EQ (hash, 0x1387a005562776feull);
}

TEST (ParamMap, describesTheThreeParametricBandsAndThePreToneFilterAlike)
{
    const auto sameDescription = [] (const Info& a, const Info& b) {
        EXPECT_EQ (a.scope, b.scope) << a.id << " vs " << b.id;
        EXPECT_EQ (a.valueType, b.valueType) << a.id << " vs " << b.id;
        EXPECT_EQ (a.taper, b.taper) << a.id << " vs " << b.id;
        EXPECT_EQ (a.min.value, b.min.value) << a.id << " vs " << b.id;
        EXPECT_EQ (a.max.value, b.max.value) << a.id << " vs " << b.id;
        EXPECT_EQ (a.defaultValue.value, b.defaultValue.value) << a.id << " vs " << b.id;
        EXPECT_EQ (a.decimals, b.decimals) << a.id << " vs " << b.id;
        EXPECT_EQ (a.displayScale, b.displayScale) << a.id << " vs " << b.id;
        EXPECT_EQ (unitOf (a), unitOf (b)) << a.id << " vs " << b.id;
        EXPECT_EQ (a.options.size(), b.options.size()) << a.id << " vs " << b.id;
    };
    for (uint32_t k = 0; k < 6; ++k)
    {
        sameDescription (info (16 + k), info (32 + k));
        sameDescription (info (16 + k), info (48 + k));
    }
    // Pre-tone on, type, frequency, Q and level against band 1's.
    sameDescription (info (160), info (16));
    for (uint32_t k = 0; k < 4; ++k)
        sameDescription (info (161 + k), info (18 + k));
}

// ---------------------------------------------------------------------------------------------
// Ranges and defaults

TEST (ParamMap, narrowsFloatDefaultsToThirtyTwoBits)
{
    for (uint32_t id : { 20u, 36u, 52u, 98u, 163u })
    {
        EXPECT_EQ (info (id).defaultValue.type, TovarekMk2ParamMap::kFloat);
        EXPECT_EQ (info (id).defaultValue.value, 0.707099974155426) << id;
        EXPECT_NE (info (id).defaultValue.value, 0.7071) << id;
    }
    EXPECT_EQ (info (kParamReverbDecay).defaultValue.value, 0.699999988079071);
    EXPECT_EQ (info (kParamEchoDelay).defaultValue.value, 0.375);
    EXPECT_EQ (info (kParamEchoDelay).max.value, double (1.365f));
    EXPECT_EQ (info (kParamEchoDelay).min.value, double (0.001f));
}

TEST (ParamMap, typesTheMinimumOfAFloatParameterAsFloatEvenWhenItIsWhole)
{
    const Info& attack = info (kParamGateAttack);
    EXPECT_EQ (attack.min.type, TovarekMk2ParamMap::kFloat);
    EXPECT_EQ (attack.min.value, 0.0);
    EXPECT_EQ (attack.max.type, TovarekMk2ParamMap::kFloat);
    EXPECT_EQ (attack.max.value, double (0.03f));
}

TEST (ParamMap, holdsIntegerRangesAsWholeIntegerValues)
{
    const Info& type = info (kParamEq1Type);
    EXPECT_EQ (type.min.type, TovarekMk2ParamMap::kInteger);
    EXPECT_EQ (type.min.value, -1.0);
    EXPECT_EQ (type.max.type, TovarekMk2ParamMap::kInteger);
    EXPECT_EQ (type.max.value, 11.0);
    EXPECT_EQ (type.defaultValue.type, TovarekMk2ParamMap::kInteger);
    EXPECT_EQ (type.defaultValue.value, 0.0);
}

TEST (ParamMap, keepsEveryDefaultInsideItsRange)
{
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        EXPECT_LT (i->min.value, i->max.value) << i->id;
        EXPECT_GE (i->defaultValue.value, i->min.value) << i->id;
        EXPECT_LE (i->defaultValue.value, i->max.value) << i->id;
        EXPECT_EQ (i->min.type, i->valueType);
        EXPECT_EQ (i->max.type, i->valueType);
        EXPECT_EQ (i->defaultValue.type, i->valueType);
    }
}

TEST (ParamMap, makesEveryBlocksFirstIdAZeroToOneIntegerSwitch)
{
    for (uint32_t id : { 0u, 16u, 32u, 48u, 64u, 96u, 112u, 128u, 144u, 160u, 176u, 192u })
    {
        EXPECT_EQ (info (id).valueType, TovarekMk2ParamMap::kInteger) << id;
        EXPECT_EQ (info (id).min.value, 0.0) << id;
        EXPECT_EQ (info (id).max.value, 1.0) << id;
        EXPECT_TRUE (info (id).options.empty()) << id;
    }
}

TEST (ParamMap, givesTheSixteenFootswitchAssignmentsTheRangeNotAssignedToInvert)
{
    const uint32_t ids[] = { 262, 263, 264, 265, 266, 267, 268, 288, 294, 295, 296, 297, 298, 299, 300, 301 };
    for (uint32_t id : ids)
    {
        EXPECT_EQ (info (id).scope, TovarekMk2ParamMap::kPreset) << id;
        EXPECT_EQ (info (id).valueType, TovarekMk2ParamMap::kInteger) << id;
        EXPECT_EQ (info (id).min.value, 0.0) << id;
        EXPECT_EQ (info (id).max.value, 2.0) << id;
        EXPECT_EQ (info (id).defaultValue.value, 0.0) << id;
    }
}

// ---------------------------------------------------------------------------------------------
// Options

TEST (ParamMap, numbersTheFilterTypesFromMinusOneForNoneToElevenForPeaking)
{
    const auto& options = info (kParamEq1Type).options;
    ASSERT_EQ (options.size(), 13u);
    EXPECT_EQ (options.front().name, "NONE");
    EXPECT_EQ (options.front().value.value, -1.0);
    EXPECT_EQ (options[1].name, "GAIN ONLY");
    EXPECT_EQ (options[1].value.value, 0.0);
    EXPECT_EQ (options.back().name, "PEAKING");
    EXPECT_EQ (options.back().value.value, 11.0);
    for (const auto& option : options)
        EXPECT_EQ (option.value.type, TovarekMk2ParamMap::kInteger);
}

TEST (ParamMap, numbersTheLoadModesFromWysiwygToFavoriteThree)
{
    const auto& options = info (kParamLoadMode).options;
    ASSERT_EQ (options.size(), 6u);
    EXPECT_EQ (options.front().name, "WYSIWYG");
    EXPECT_EQ (options.front().value.value, 0.0);
    EXPECT_EQ (options.back().name, "FAVORITE 3");
    EXPECT_EQ (options.back().value.value, 5.0);
}

TEST (ParamMap, coversEachChoiceParametersWholeRangeWithConsecutiveOptionValues)
{
    std::set<uint32_t> withOptions;
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        if (i->options.empty())
            continue;
        withOptions.insert (i->id);
        EXPECT_EQ (i->valueType, TovarekMk2ParamMap::kInteger) << i->id;
        for (size_t k = 0; k < i->options.size(); ++k)
            EXPECT_EQ (i->options[k].value.value, i->min.value + double (k)) << i->id << " option " << k;
        EXPECT_EQ (i->options.back().value.value, i->max.value) << i->id;
    }
    EXPECT_EQ (withOptions,
               (std::set<uint32_t> { 1, 18, 34, 50, 130, 145, 161, 193, 200, 258, 291, 292, 293, 302, 303 }));
}

TEST (ParamMap, sharesOneOptionListBetweenTheFourFilterTypesAndBetweenTheTwoOutputChoices)
{
    const auto names = [] (uint32_t id) {
        std::vector<std::string> out;
        for (const auto& option : info (id).options)
            out.push_back (option.name);
        return out;
    };
    EXPECT_EQ (names (34), names (18));
    EXPECT_EQ (names (50), names (18));
    EXPECT_EQ (names (161), names (18));
    EXPECT_EQ (names (291), names (258));
    EXPECT_EQ (names (293), names (292));
    EXPECT_EQ (names (292), (std::vector<std::string> { "BYPASS", "EFFECT", "EFFECT+TAP", "FAV 1-2", "FAV 3",
                                                        "FAV INC", "FAV DEC" }));
    EXPECT_EQ (names (145), (std::vector<std::string> { "SMALL HALL", "MED. HALL", "LARGE HALL", "SPRING 1",
                                                        "SPRING 2", "PLATE", "CAVERN" }));
}

// ---------------------------------------------------------------------------------------------
// Value text format

TEST (ParamMap, derivesDecimalsFromTheStep)
{
    int perDecimals[10] = {};
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        ASSERT_GE (i->decimals, 0);
        ASSERT_LE (i->decimals, 9);
        ++perDecimals[i->decimals];
        if (i->unit != nullptr && std::strcmp (i->unit, "dB") == 0)
        {
            EXPECT_EQ (i->decimals, 1) << i->id;
        }
    }
    EXPECT_EQ (perDecimals[0], 80);
    EXPECT_EQ (perDecimals[1], 18);
    EXPECT_EQ (perDecimals[2], 5);
    for (uint32_t id : { 20u, 36u, 52u, 98u, 163u })
        EXPECT_EQ (info (id).decimals, 2) << id;
    EXPECT_EQ (info (kParamGateRatio).decimals, 1);
    EXPECT_EQ (info (kParamEchoDelay).decimals, 0);
}

TEST (ParamMap, scalesPercentagesByAHundredAndMillisecondsByAThousand)
{
    std::map<std::string, int> perUnit;
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        const std::string unit = unitOf (*i);
        ++perUnit[unit];
        const double expectedScale = unit == "%" ? 100.0 : unit == "ms" ? 1000.0 : 1.0;
        EXPECT_EQ (i->displayScale, expectedScale) << i->id;
    }
    EXPECT_EQ (perUnit["<none>"], 55);
    EXPECT_EQ (perUnit["%"], 18);
    EXPECT_EQ (perUnit["dB"], 17);
    EXPECT_EQ (perUnit["Hz"], 6);
    EXPECT_EQ (perUnit["ms"], 6);
    EXPECT_EQ (perUnit[": 1"], 1);
}

TEST (ValueText, showsTheEchoDelayInWholeMilliseconds)
{
    EXPECT_EQ (TovarekMk2::formatValueText (info (kParamEchoDelay), 0.375), "375 ms");
}

TEST (ValueText, showsAFractionAsAPercentage)
{
    EXPECT_EQ (TovarekMk2::formatValueText (info (kParamBoostDrive), 0.5), "50 %");
    EXPECT_EQ (TovarekMk2::formatValueText (info (kParamBoostDrive), 1.0), "100 %");
}

TEST (ValueText, showsTheGateRatioWithOneDecimalAndItsUnit)
{
    EXPECT_EQ (TovarekMk2::formatValueText (info (kParamGateRatio), 2.0), "2.0 : 1");
}

TEST (ValueText, showsAQualityFactorWithTwoDecimalsAndNoUnit)
{
    const Info& q = info (kParamEq1Q);
    EXPECT_EQ (TovarekMk2::formatValueText (q, q.defaultValue.value), "0.71");
}

TEST (ValueText, showsNegativeLevelsAndFrequencies)
{
    EXPECT_EQ (TovarekMk2::formatValueText (info (kParamGateThreshold), -70.0), "-70.0 dB");
    EXPECT_EQ (TovarekMk2::formatValueText (info (kParamEq1Freq), 632.4555), "632 Hz");
}

TEST (ValueText, showsAnUnknownParameterAsABareZero)
{
    EXPECT_EQ (TovarekMk2::formatValueText (Info(), 123.0), "0");
}

TEST (ValueText, holdsTheWholeTextOfAHugeValue)
{
    Info wide;
    wide.decimals = 9;
    wide.displayScale = 1.0;
    wide.unit = "Hz";
    const std::string text = TovarekMk2::formatValueText (wide, 1e300);
    EXPECT_EQ (text.size(), 301u + 1u + 9u + 3u);
    EXPECT_EQ (text.substr (text.size() - 13), ".000000000 Hz");
}

// ---------------------------------------------------------------------------------------------
// Knob mapping

TEST (KnobMapping, putsTheGeometricMeanAtTheMiddleOfALogarithmicKnob)
{
    const Info& freq = info (kParamEq1Freq);
    EXPECT_NEAR (TovarekMk2::knobPositionToValue (freq, 0.5), 632.455532, 1e-6);
    EXPECT_NEAR (TovarekMk2::knobPositionToValue (freq, 0.0), 20.0, 1e-9);
    EXPECT_NEAR (TovarekMk2::knobPositionToValue (freq, 1.0), 20000.0, 1e-7);
}

TEST (KnobMapping, putsTheArithmeticMeanAtTheMiddleOfALinearKnobOverTheSameRange)
{
    Info freq = info (kParamEq1Freq);
    freq.taper = 1;
    EXPECT_DOUBLE_EQ (TovarekMk2::knobPositionToValue (freq, 0.5), 10010.0);
}

TEST (KnobMapping, showsTheDefaultThousandHertzJustPastTheMiddle)
{
    const double position = TovarekMk2::valueToKnobPosition (info (kParamEq1Freq), 1000.0);
    EXPECT_NEAR (position, std::log (50.0) / std::log (1000.0), 1e-12);
    EXPECT_NEAR (position, 0.5663, 5e-5);
}

TEST (KnobMapping, mapsALinearKnobOntoItsRange)
{
    const Info& level = info (kParamBoostLevel);  // -24 .. 12 dB
    EXPECT_DOUBLE_EQ (TovarekMk2::knobPositionToValue (level, 0.0), -24.0);
    EXPECT_DOUBLE_EQ (TovarekMk2::knobPositionToValue (level, 0.75), 3.0);
    EXPECT_DOUBLE_EQ (TovarekMk2::valueToKnobPosition (level, 0.0), 24.0 / 36.0);
}

TEST (KnobMapping, returnsEveryValueToItsPositionOnEveryContinuousParameter)
{
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        if (i->valueType != TovarekMk2ParamMap::kFloat)
            continue;
        for (double p : { 0.0, 0.1, 0.37, 0.5, 0.99, 1.0 })
            EXPECT_NEAR (TovarekMk2::valueToKnobPosition (*i, TovarekMk2::knobPositionToValue (*i, p)), p, 1e-9)
                << i->id << " at " << p;
    }
}

TEST (KnobMapping, leavesPositionsOutsideTheRangeUnclamped)
{
    EXPECT_DOUBLE_EQ (TovarekMk2::valueToKnobPosition (info (kParamBoostDrive), 1.5), 1.5);
    EXPECT_DOUBLE_EQ (TovarekMk2::valueToKnobPosition (info (kParamBoostDrive), -0.5), -0.5);
    EXPECT_DOUBLE_EQ (TovarekMk2::knobPositionToValue (info (kParamBoostDrive), 2.0), 2.0);
}

TEST (KnobMapping, givesPositionZeroWhereNoPositionExists)
{
    const Info& freq = info (kParamEq1Freq);
    EXPECT_EQ (TovarekMk2::valueToKnobPosition (freq, 0.0), 0.0);
    EXPECT_EQ (TovarekMk2::valueToKnobPosition (freq, -5.0), 0.0);
    EXPECT_EQ (TovarekMk2::valueToKnobPosition (freq, kNaN), 0.0);
    EXPECT_EQ (TovarekMk2::valueToKnobPosition (info (kParamBoostDrive), kNaN), 0.0);
    // An unknown parameter has the empty range 0 .. 0.
    EXPECT_EQ (TovarekMk2::valueToKnobPosition (Info(), 0.0), 0.0);
    EXPECT_EQ (TovarekMk2::valueToKnobPosition (Info(), 3.0), 0.0);
    EXPECT_EQ (TovarekMk2::knobPositionToValue (Info(), 0.7), 0.0);
}

TEST (KnobMapping, treatsALogarithmicTaperWithoutAPositiveRangeAsLinear)
{
    Info odd = info (kParamBoostLevel);
    odd.taper = TovarekMk2ParamMap::kTaperLogarithmic;
    EXPECT_DOUBLE_EQ (TovarekMk2::knobPositionToValue (odd, 0.5), -6.0);
    EXPECT_DOUBLE_EQ (TovarekMk2::valueToKnobPosition (odd, -6.0), 0.5);
}

// ---------------------------------------------------------------------------------------------
// Typed values and choices

TEST (EnteredValue, dividesByTheDisplayScaleAndClampsIntoTheRange)
{
    const Info& drive = info (kParamBoostDrive);
    EXPECT_DOUBLE_EQ (TovarekMk2::valueFromShownNumber (drive, 75.0), 0.75);
    EXPECT_EQ (TovarekMk2::valueFromShownNumber (drive, 500.0), 1.0);
    EXPECT_EQ (TovarekMk2::valueFromShownNumber (drive, 0.0), 0.0);
    EXPECT_EQ (TovarekMk2::valueFromShownNumber (drive, -3.0), 0.0);
    EXPECT_DOUBLE_EQ (TovarekMk2::valueFromShownNumber (info (kParamEchoDelay), 500.0), 0.5);
    EXPECT_EQ (TovarekMk2::valueFromShownNumber (info (kParamGateThreshold), 0.0), 0.0);
    EXPECT_EQ (TovarekMk2::valueFromShownNumber (info (kParamGateThreshold), -90.0), -80.0);
}

TEST (EnteredValue, turnsANaNIntoTheMinimum)
{
    EXPECT_EQ (TovarekMk2::valueFromShownNumber (info (kParamGateThreshold), kNaN), -80.0);
    EXPECT_EQ (TovarekMk2::valueFromShownNumber (Info(), 5.0), 0.0);
}

TEST (OptionLookup, findsTheOptionByTruncatedValue)
{
    const Info& type = info (kParamEq1Type);
    ASSERT_NE (TovarekMk2::findOptionForValue (type, -1.0), nullptr);
    EXPECT_EQ (TovarekMk2::findOptionForValue (type, -1.0)->name, "NONE");
    EXPECT_EQ (TovarekMk2::findOptionForValue (type, 11.9)->name, "PEAKING");
    // Truncation toward zero: -0.5 selects the option 0, not -1.
    EXPECT_EQ (TovarekMk2::findOptionForValue (type, -0.5)->name, "GAIN ONLY");
    EXPECT_EQ (TovarekMk2::findOptionForValue (type, 12.0), nullptr);
    EXPECT_EQ (TovarekMk2::findOptionForValue (type, -2.0), nullptr);
    EXPECT_EQ (TovarekMk2::findOptionForValue (type, kNaN), nullptr);
    EXPECT_EQ (TovarekMk2::findOptionForValue (info (kParamBoostDrive), 0.0), nullptr);
}

TEST (OptionLookup, stepsWithinTheRangeWithoutWrapping)
{
    const Info& type = info (kParamEq1Type);
    EXPECT_EQ (TovarekMk2::stepOptionValue (type, 11.0, +1), 11.0);
    EXPECT_EQ (TovarekMk2::stepOptionValue (type, -1.0, -1), -1.0);
    EXPECT_EQ (TovarekMk2::stepOptionValue (type, 5.9, +1), 6.0);
    EXPECT_EQ (TovarekMk2::stepOptionValue (type, 5.9, -1), 4.0);
    EXPECT_EQ (TovarekMk2::stepOptionValue (type, 40.0, -1), 11.0);
    EXPECT_EQ (TovarekMk2::stepOptionValue (type, kNaN, +1), -1.0);
}

// ---------------------------------------------------------------------------------------------
// Blocks

TEST (Blocks, nameEachBlockAndItsOnOffParameter)
{
    using B = TovarekMk2ParamMap::BlockID;
    const struct { B block; const char* label; uint32_t enable; } expected[] = {
        { B::AMP, "AMP", 112 }, { B::CAB, "CAB", 96 },  { B::BST, "BST", 0 },   { B::REV, "REV", 144 },
        { B::ECO, "ECO", 192 }, { B::GTE, "GTE", 64 },  { B::CMP, "CMP", 128 }, { B::EQ, "EQ", 176 },
    };
    for (uint32_t k = 0; k < TovarekMk2ParamMap::kBlockCount; ++k)
    {
        EXPECT_EQ (uint32_t (expected[k].block), k);
        EXPECT_STREQ (TovarekMk2::getBlockLabel (expected[k].block), expected[k].label);
        EXPECT_EQ (uint32_t (TovarekMk2::getBlockEnableParameter (expected[k].block)), expected[k].enable);
    }
}

TEST (Blocks, giveNoLabelAndNoKnownParameterBeyondTheLastBlock)
{
    const auto beyond = TovarekMk2ParamMap::BlockID (8);
    EXPECT_STREQ (TovarekMk2::getBlockLabel (beyond), "");
    EXPECT_EQ (paramMap().findParameterInfo (TovarekMk2::getBlockEnableParameter (beyond)), nullptr);
}
