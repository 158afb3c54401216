#include "TovarekMk2ParamMap.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>

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

const double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

// ---------------------------------------------------------------------------------------------
// The table

TEST (ParamMap, matchesTheFingerprintOfTheUnitsParameterTable)
{
    // One canonical line per parameter in ascending id order (id, scope, type, taper, min, max,
    // default, decimals, scale, unit, options), hashed with 64-bit FNV-1a. The expected hash was
    // computed by an independent script from the unit's own parameter list (floats narrowed to 32
    // bits, decimals from the step, option values counted from the minimum), so any wrong field
    // of any row, a missing row or a wrong order fails; the text is printed to find the row.
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
    EXPECT_EQ (hash, 0x1387a005562776feull) << text;
}

TEST (ParamMap, typesEveryValueByItsParameterAndFindsEachInfoByItsIdAndNothingElse)
{
    // What the fingerprint leaves out: the value types of the range, the default and the options,
    // and the two other ids.
    for (const Info* i : paramMap().getAllParameterInfo())
    {
        EXPECT_EQ (paramMap().findParameterInfo (TovarekMk2ParamID (i->id)), i) << i->id;
        EXPECT_EQ (i->valueKey, i->id);
        EXPECT_EQ (i->wireId, i->id);
        EXPECT_EQ (i->min.type, i->valueType) << i->id;
        EXPECT_EQ (i->max.type, i->valueType) << i->id;
        EXPECT_EQ (i->defaultValue.type, i->valueType) << i->id;
        for (const auto& option : i->options)
            EXPECT_EQ (option.value.type, TovarekMk2ParamMap::kInteger) << i->id;
    }
    for (uint32_t id : { 6u, 15u, 22u, 102u, 129u, 196u, 215u, 304u, 0x1000u, 0x1001u, 0x1002u, 0x1003u, 0x1004u,
                         0x1005u, 0xFFFFFFFFu })
        EXPECT_EQ (paramMap().findParameterInfo (TovarekMk2ParamID (id)), nullptr) << id;
}

// ---------------------------------------------------------------------------------------------
// What the fields mean to their users

TEST (ValueText, scalesRoundsAndAddsTheUnit)
{
    const struct { uint32_t id; double value; const char* text; } rows[] = {
        { kParamEchoDelay, 0.375, "375 ms" },        { kParamBoostDrive, 0.5, "50 %" },
        { kParamBoostDrive, 1.0, "100 %" },          { kParamGateRatio, 2.0, "2.0 : 1" },
        { kParamEq1Q, 0.707099974155426, "0.71" },   { kParamGateThreshold, -70.0, "-70.0 dB" },
        { kParamEq1Freq, 632.4555, "632 Hz" },
    };
    for (const auto& row : rows)
        EXPECT_EQ (TovarekMk2::formatValueText (info (row.id), row.value), row.text) << row.id << " " << row.value;
    EXPECT_EQ (TovarekMk2::formatValueText (Info(), 123.0), "0"); // an unknown parameter
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

TEST (KnobMapping, mapsPositionsToValuesByTaper)
{
    Info linearFrequency = info (kParamEq1Freq);
    linearFrequency.taper = 1;
    Info logarithmicLevel = info (kParamBoostLevel); // no positive range: stays linear
    logarithmicLevel.taper = TovarekMk2ParamMap::kTaperLogarithmic;
    const struct { const char* what; const Info& of; double position, value; } rows[] = {
        { "log 20..20000 Hz, middle: the geometric mean", info (kParamEq1Freq), 0.5, 632.455532033676 },
        { "log 20..20000 Hz, start", info (kParamEq1Freq), 0.0, 20.0 },
        { "log 20..20000 Hz, end", info (kParamEq1Freq), 1.0, 20000.0 },
        { "log 20..20000 Hz, the default 1000 Hz", info (kParamEq1Freq), 0.5663233347786729, 1000.0 },
        { "linear 20..20000 Hz, middle: the arithmetic mean", linearFrequency, 0.5, 10010.0 },
        { "linear -24..12 dB, start", info (kParamBoostLevel), 0.0, -24.0 },
        { "linear -24..12 dB, three quarters", info (kParamBoostLevel), 0.75, 3.0 },
        { "linear -24..12 dB, 0 dB", info (kParamBoostLevel), 24.0 / 36.0, 0.0 },
        { "log taper over -24..12 dB", logarithmicLevel, 0.5, -6.0 },
        { "beyond the end: not clamped", info (kParamBoostDrive), 1.5, 1.5 },
        { "before the start: not clamped", info (kParamBoostDrive), -0.5, -0.5 },
    };
    for (const auto& row : rows)
    {
        EXPECT_NEAR (TovarekMk2::knobPositionToValue (row.of, row.position), row.value, 1e-6 * (1.0 + std::fabs (row.value)))
            << row.what;
        EXPECT_NEAR (TovarekMk2::valueToKnobPosition (row.of, row.value), row.position, 1e-9) << row.what;
    }
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

TEST (KnobMapping, givesPositionZeroWhereNoPositionExists)
{
    const struct { const char* what; const Info& of; double value; } rows[] = {
        { "log, zero", info (kParamEq1Freq), 0.0 },      { "log, negative", info (kParamEq1Freq), -5.0 },
        { "log, NaN", info (kParamEq1Freq), kNaN },      { "linear, NaN", info (kParamBoostDrive), kNaN },
        { "empty range, 0", Info(), 0.0 },               { "empty range, 3", Info(), 3.0 },
    };
    for (const auto& row : rows)
        EXPECT_EQ (TovarekMk2::valueToKnobPosition (row.of, row.value), 0.0) << row.what;
    EXPECT_EQ (TovarekMk2::knobPositionToValue (Info(), 0.7), 0.0);
}

TEST (EnteredValue, dividesByTheDisplayScaleAndClampsIntoTheRange)
{
    const struct { uint32_t id; double shown, value; } rows[] = {
        { kParamBoostDrive, 75.0, 0.75 },      { kParamBoostDrive, 500.0, 1.0 },    { kParamBoostDrive, 0.0, 0.0 },
        { kParamBoostDrive, -3.0, 0.0 },       { kParamEchoDelay, 500.0, 0.5 },     { kParamGateThreshold, 0.0, 0.0 },
        { kParamGateThreshold, -90.0, -80.0 }, { kParamGateThreshold, kNaN, -80.0 },
    };
    for (const auto& row : rows)
        EXPECT_DOUBLE_EQ (TovarekMk2::valueFromShownNumber (info (row.id), row.shown), row.value) << row.id << " " << row.shown;
    EXPECT_EQ (TovarekMk2::valueFromShownNumber (Info(), 5.0), 0.0);
}

TEST (OptionLookup, findsTheOptionByTruncatedValue)
{
    const struct { uint32_t id; double value; const char* name; } rows[] = {
        { kParamEq1Type, -1.0, "NONE" },      { kParamEq1Type, 11.9, "PEAKING" },
        { kParamEq1Type, -0.5, "GAIN ONLY" }, // truncated toward zero: 0, not -1
        { kParamEq1Type, 12.0, nullptr },     { kParamEq1Type, -2.0, nullptr },
        { kParamEq1Type, kNaN, nullptr },     { kParamBoostDrive, 0.0, nullptr },
    };
    for (const auto& row : rows)
    {
        const auto* option = TovarekMk2::findOptionForValue (info (row.id), row.value);
        EXPECT_EQ (option == nullptr ? std::string ("<none>") : option->name,
                   row.name == nullptr ? std::string ("<none>") : std::string (row.name))
            << row.id << " " << row.value;
    }
}

TEST (OptionLookup, stepsWithinTheRangeWithoutWrapping)
{
    const struct { double current; int step; double next; } rows[] = {
        { 11.0, +1, 11.0 }, { -1.0, -1, -1.0 }, { 5.9, +1, 6.0 }, { 5.9, -1, 4.0 }, { 40.0, -1, 11.0 }, { kNaN, +1, -1.0 },
    };
    for (const auto& row : rows)
        EXPECT_EQ (TovarekMk2::stepOptionValue (info (kParamEq1Type), row.current, row.step), row.next)
            << row.current << " " << row.step;
}

// ---------------------------------------------------------------------------------------------
// Blocks

TEST (Blocks, nameEachBlockAndItsOnOffParameterAndNothingBeyondTheLast)
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
    const auto beyond = TovarekMk2ParamMap::BlockID (8);
    EXPECT_STREQ (TovarekMk2::getBlockLabel (beyond), "");
    EXPECT_EQ (paramMap().findParameterInfo (TovarekMk2::getBlockEnableParameter (beyond)), nullptr);
}
