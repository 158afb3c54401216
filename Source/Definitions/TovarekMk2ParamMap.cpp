#include "TovarekMk2ParamMap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace TovarekMk2
{

namespace
{

using Map = TovarekMk2ParamMap;

// One row of the unit's parameter table, as the unit defines it; the step only sets the
// number of decimals of the value text.
struct ParameterTableRow
{
    uint32_t id;
    uint32_t scope;
    uint32_t valueType;
    uint32_t taper;
    double min, max, defaultValue;
    const char* const* optionNames;  // null-terminated; choice k has the value lround (min) + k
    double step;
    const char* unit;
    double displayScale;
};

constexpr uint32_t kPreset = Map::kPreset;
constexpr uint32_t kGlobal = Map::kGlobal;
constexpr uint32_t kStatus = Map::kStatus;
constexpr uint32_t kInteger = Map::kInteger;
constexpr uint32_t kFloat = Map::kFloat;

const char* const kBoostTypes[]        = { "SCREAMER", "OVERDRIVE", "DISTORTION", "FUZZ", "CLEAN", nullptr };
const char* const kFilterTypes[]       = { "NONE", "GAIN ONLY", "LOWPASS 1", "HIGHPASS 1", "LOW SHELF 1", "HIGH SHELF 1",
                                           "LOWPASS 2", "HIGHPASS 2", "LOW SHELF 2", "HIGH SHELF 2", "BANDPASS", "NOTCH",
                                           "PEAKING", nullptr };
const char* const kCompressorTypes[]   = { "STUDIO", "PEDAL", nullptr };
const char* const kReverbTypes[]       = { "SMALL HALL", "MED. HALL", "LARGE HALL", "SPRING 1", "SPRING 2", "PLATE",
                                           "CAVERN", nullptr };
const char* const kEchoTypes[]         = { "DIGITAL", "ANALOG", "TAPE", "DARK TAPE", "SOFT DIGITAL", nullptr };
const char* const kTapModes[]          = { "QUARTER", "DOUBLETIME", "TRIPLETS", "SIXTEENTHS", "DOTTED EIGHTHS", nullptr };
const char* const kOutputSelections[]  = { "NONE", "MAIN ONLY", "AUX ONLY", "BOTH", nullptr };
const char* const kFootswitchModes[]   = { "BYPASS", "EFFECT", "EFFECT+TAP", "FAV 1-2", "FAV 3", "FAV INC", "FAV DEC",
                                           nullptr };
const char* const kFxLevelSelections[] = { "NONE", "DELAY ONLY", "REVERB ONLY", "DELAY & REVERB", nullptr };
const char* const kLoadModes[]         = { "WYSIWYG", "LAST", "FAVORITE SWITCH", "FAVORITE 1", "FAVORITE 2", "FAVORITE 3",
                                           nullptr };

// clang-format off
const ParameterTableRow kParameterTable[] =
{
    // id                      scope    type      tp min    max    default options             step  unit    scale
    { kParamBoostOn,           kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 0
    { kParamBoostType,         kPreset, kInteger, 0, 0,     4,     1,      kBoostTypes,        1,    nullptr,    1 },  // 1
    { kParamBoostDrive,        kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 2
    { kParamBoostTone,         kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 3
    { kParamBoostLevel,        kPreset, kFloat,   1, -24,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 4
    { kParamBoostPostLevel,    kPreset, kFloat,   1, -24,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 5
    { kParamEq1On,             kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 16
    { kParamEq1PrePost,        kPreset, kInteger, 0, 0,     1,     1,      nullptr,            1,    nullptr,    1 },  // 17
    { kParamEq1Type,           kPreset, kInteger, 0, -1,    11,    0,      kFilterTypes,       1,    nullptr,    1 },  // 18
    { kParamEq1Freq,           kPreset, kFloat,   2, 20,    20000, 1000,   nullptr,            1,    "Hz",       1 },  // 19
    { kParamEq1Q,              kPreset, kFloat,   1, 0.5,   10,    0.7071, nullptr,            0.01, nullptr,    1 },  // 20
    { kParamEq1Level,          kPreset, kFloat,   1, -12,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 21
    { kParamEq2On,             kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 32
    { kParamEq2PrePost,        kPreset, kInteger, 0, 0,     1,     1,      nullptr,            1,    nullptr,    1 },  // 33
    { kParamEq2Type,           kPreset, kInteger, 0, -1,    11,    0,      kFilterTypes,       1,    nullptr,    1 },  // 34
    { kParamEq2Freq,           kPreset, kFloat,   2, 20,    20000, 1000,   nullptr,            1,    "Hz",       1 },  // 35
    { kParamEq2Q,              kPreset, kFloat,   1, 0.5,   10,    0.7071, nullptr,            0.01, nullptr,    1 },  // 36
    { kParamEq2Level,          kPreset, kFloat,   1, -12,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 37
    { kParamEq3On,             kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 48
    { kParamEq3PrePost,        kPreset, kInteger, 0, 0,     1,     1,      nullptr,            1,    nullptr,    1 },  // 49
    { kParamEq3Type,           kPreset, kInteger, 0, -1,    11,    0,      kFilterTypes,       1,    nullptr,    1 },  // 50
    { kParamEq3Freq,           kPreset, kFloat,   2, 20,    20000, 1000,   nullptr,            1,    "Hz",       1 },  // 51
    { kParamEq3Q,              kPreset, kFloat,   1, 0.5,   10,    0.7071, nullptr,            0.01, nullptr,    1 },  // 52
    { kParamEq3Level,          kPreset, kFloat,   1, -12,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 53
    { kParamGateOn,            kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 64
    { kParamGateThreshold,     kPreset, kFloat,   1, -80,   0,     -70,    nullptr,            0.1,  "dB",       1 },  // 65
    { kParamGateRatio,         kPreset, kFloat,   1, 1,     5,     2,      nullptr,            0.1,  ": 1",      1 },  // 66
    { kParamGateAttack,        kPreset, kFloat,   1, 0,     0.03,  0.001,  nullptr,            1,    "ms",    1000 },  // 67
    { kParamGateRelease,       kPreset, kFloat,   1, 0.01,  1,     0.03,   nullptr,            1,    "ms",    1000 },  // 68
    { kParamCabOn,             kPreset, kInteger, 0, 0,     1,     1,      nullptr,            1,    nullptr,    1 },  // 96
    { kParamCabRolloff,        kPreset, kFloat,   2, 1000,  20000, 20000,  nullptr,            1,    "Hz",       1 },  // 97
    { kParamCabPeaking,        kPreset, kFloat,   1, 0.5,   10,    0.7071, nullptr,            0.01, nullptr,    1 },  // 98
    { kParamCabBottom,         kPreset, kFloat,   1, -12,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 99
    { kParamCabAir,            kPreset, kFloat,   1, -12,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 100
    { kParamCabLevel,          kPreset, kFloat,   1, -24,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 101
    { kParamAmpOn,             kPreset, kInteger, 1, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 112
    { kParamAmpLevel,          kPreset, kFloat,   1, -24,   24,    0,      nullptr,            0.1,  "dB",       1 },  // 113
    { kParamAmpDamping,        kPreset, kFloat,   1, 0,     1,     1,      nullptr,            1,    "%",      100 },  // 114
    { kParamAmpKnobBottom0,    kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 115
    { kParamAmpKnobBottom1,    kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 116
    { kParamAmpKnobTop0,       kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 117
    { kParamAmpKnobTop1,       kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 118
    { kParamAmpKnobTop2,       kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 119
    { kParamAmpKnobTop3,       kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 120
    { kParamAmpResonance,      kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 121
    { kParamCompOn,            kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 128
    { kParamCompType,          kPreset, kInteger, 0, 0,     1,     0,      kCompressorTypes,   1,    nullptr,    1 },  // 130
    { kParamCompLevel,         kPreset, kFloat,   1, -12,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 133
    { kParamCompAttack,        kPreset, kFloat,   1, 0.01,  0.1,   0.01,   nullptr,            1,    "ms",    1000 },  // 135
    { kParamCompRelease,       kPreset, kFloat,   1, 0.03,  0.35,  0.1,    nullptr,            1,    "ms",    1000 },  // 136
    { kParamCompDetector,      kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 137
    { kParamCompAmount,        kPreset, kFloat,   1, 0,     1,     0,      nullptr,            1,    "%",      100 },  // 139
    { kParamReverbOn,          kPreset, kInteger, 0, 0,     1,     1,      nullptr,            1,    nullptr,    1 },  // 144
    { kParamReverbType,        kPreset, kInteger, 0, 0,     6,     4,      kReverbTypes,       1,    nullptr,    1 },  // 145
    { kParamReverbDecay,       kPreset, kFloat,   1, 0,     1,     0.7,    nullptr,            1,    "%",      100 },  // 146
    { kParamReverbLoDamp,      kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 147
    { kParamReverbHiDamp,      kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 148
    { kParamReverbDiffusion,   kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 149
    { kParamReverbPredelay,    kPreset, kFloat,   1, 0,     0.1,   0,      nullptr,            1,    "ms",    1000 },  // 150
    { kParamReverbDryLevel,    kPreset, kFloat,   1, -120,  12,    0,      nullptr,            0.1,  "dB",       1 },  // 151
    { kParamReverbLevel,       kPreset, kFloat,   1, -120,  12,    0,      nullptr,            0.1,  "dB",       1 },  // 152
    { kParamPreToneOn,         kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 160
    { kParamPreToneType,       kPreset, kInteger, 0, -1,    11,    0,      kFilterTypes,       1,    nullptr,    1 },  // 161
    { kParamPreToneFreq,       kPreset, kFloat,   2, 20,    20000, 1000,   nullptr,            1,    "Hz",       1 },  // 162
    { kParamPreToneQ,          kPreset, kFloat,   1, 0.5,   10,    0.7071, nullptr,            0.01, nullptr,    1 },  // 163
    { kParamPreToneLevel,      kPreset, kFloat,   1, -12,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 164
    { kParamPreToneRolloff,    kPreset, kFloat,   2, 20,    1000,  45,     nullptr,            1,    "Hz",       1 },  // 165
    { kParamEqOn,              kPreset, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 176
    { kParamEchoOn,            kPreset, kInteger, 0, 0,     1,     1,      nullptr,            1,    nullptr,    1 },  // 192
    { kParamEchoType,          kPreset, kInteger, 0, 0,     4,     0,      kEchoTypes,         1,    nullptr,    1 },  // 193
    { kParamEchoDelay,         kPreset, kFloat,   1, 0.001, 1.365, 0.375,  nullptr,            1,    "ms",    1000 },  // 194
    { kParamEchoRepeats,       kPreset, kFloat,   1, 0,     1,     0.5,    nullptr,            1,    "%",      100 },  // 195
    { kParamEchoLevel,         kPreset, kFloat,   1, -40,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 197
    { kParamEchoTails,         kGlobal, kInteger, 0, 0,     1,     1,      nullptr,            1,    nullptr,    1 },  // 198
    { kParamEchoSpillover,     kGlobal, kInteger, 0, 0,     1,     1,      nullptr,            1,    nullptr,    1 },  // 199
    { kParamEchoTapMode,       kGlobal, kInteger, 0, 0,     4,     0,      kTapModes,          1,    nullptr,    1 },  // 200
    { kParamStatusLevel,       kStatus, kFloat,   1, 0,     1,     1,      nullptr,            1,    "%",      100 },  // 214
    { kParamAmpKnobBottom2,    kPreset, kFloat,   1, 0,     1,     1,      nullptr,            1,    "%",      100 },  // 224
    { kParamMainLevel,         kGlobal, kFloat,   1, -24,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 256
    { kParamXlrLevel,          kGlobal, kFloat,   1, -24,   12,    0,      nullptr,            0.1,  "dB",       1 },  // 257
    { kParamLevelTarget,       kGlobal, kInteger, 0, 0,     3,     3,      kOutputSelections,  1,    nullptr,    1 },  // 258
    { kParamFootswitchAGate,   kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 262
    { kParamFootswitchAComp,   kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 263
    { kParamFootswitchABoost,  kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 264
    { kParamFootswitchAAmp,    kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 265
    { kParamFootswitchAEq,     kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 266
    { kParamFootswitchAReverb, kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 267
    { kParamFootswitchACab,    kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 268
    { kParamFootswitchAEcho,   kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 288
    { kParamLockPots,          kGlobal, kInteger, 0, 0,     1,     0,      nullptr,            1,    nullptr,    1 },  // 290
    { kParamCabinetOut,        kGlobal, kInteger, 0, 0,     3,     3,      kOutputSelections,  1,    nullptr,    1 },  // 291
    { kParamFootswitchAMode,   kGlobal, kInteger, 0, 0,     6,     0,      kFootswitchModes,   1,    nullptr,    1 },  // 292
    { kParamFootswitchBMode,   kGlobal, kInteger, 0, 0,     6,     1,      kFootswitchModes,   1,    nullptr,    1 },  // 293
    { kParamFootswitchBGate,   kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 294
    { kParamFootswitchBComp,   kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 295
    { kParamFootswitchBBoost,  kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 296
    { kParamFootswitchBAmp,    kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 297
    { kParamFootswitchBEq,     kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 298
    { kParamFootswitchBReverb, kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 299
    { kParamFootswitchBCab,    kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 300
    { kParamFootswitchBEcho,   kPreset, kInteger, 0, 0,     2,     0,      nullptr,            1,    nullptr,    1 },  // 301
    { kParamFxLevelSelect,     kGlobal, kInteger, 0, 0,     3,     3,      kFxLevelSelections, 1,    nullptr,    1 },  // 302
    { kParamLoadMode,          kGlobal, kInteger, 0, 0,     5,     0,      kLoadModes,         1,    nullptr,    1 },  // 303
};
// clang-format on

struct BlockRow
{
    const char* label;
    TovarekMk2ParamID enableParameter;
};

// Indexed by BlockID.
const BlockRow kBlocks[Map::kBlockCount] =
{
    { "AMP", kParamAmpOn     },
    { "CAB", kParamCabOn     },
    { "BST", kParamBoostOn   },
    { "REV", kParamReverbOn  },
    { "ECO", kParamEchoOn    },
    { "GTE", kParamGateOn    },
    { "CMP", kParamCompOn    },
    { "EQ",  kParamEqOn      },
};

constexpr int32_t kMaxDecimals = 9;

// Digits after the point for a value step: 1 gives 0, 0.1 gives 1, 0.01 gives 2. Clamped
// before the conversion, so no step can make it overflow.
int32_t decimalsForStep (double step)
{
    const double digits = std::ceil (-std::log10 (step));
    if (! (digits >= 0.0))
        return 0;
    if (digits >= 10.0)
        return kMaxDecimals;
    return static_cast<int32_t> (digits);
}

// The row's bound as the unit holds it: a 32-bit float, or an integer truncated toward zero.
Map::ParameterValue narrowedValue (uint32_t valueType, double value)
{
    if (valueType == kFloat)
        return { kFloat, static_cast<double> (static_cast<float> (value)) };
    if (valueType == kInteger)
        return { kInteger, std::trunc (value) };
    return { kInteger, 0.0 };
}

Map::ParameterInfo makeInfo (const ParameterTableRow& row)
{
    Map::ParameterInfo info;
    info.id = row.id;
    info.valueKey = row.id;
    info.wireId = static_cast<uint16_t> (row.id & 0xFFFFu);
    info.scope = row.scope;
    info.valueType = row.valueType;
    info.min = narrowedValue (row.valueType, row.min);
    info.max = narrowedValue (row.valueType, row.max);
    info.defaultValue = narrowedValue (row.valueType, row.defaultValue);
    info.taper = row.taper;
    info.decimals = decimalsForStep (row.step);
    info.displayScale = row.displayScale;
    info.unit = row.unit;

    if (row.optionNames != nullptr)
    {
        // Choices count up from the unrounded table minimum, so "NONE" of the filter types is -1.
        const double first = static_cast<double> (std::lround (row.min));
        for (size_t k = 0; row.optionNames[k] != nullptr; ++k)
            info.options.push_back ({ row.optionNames[k], { kInteger, first + static_cast<double> (k) } });
    }
    return info;
}

bool isLogarithmic (const Map::ParameterInfo& info)
{
    // A logarithmic range needs both ends above zero; any other falls back to linear.
    return info.taper == Map::kTaperLogarithmic && info.min.value > 0.0 && info.max.value > 0.0;
}

} // namespace

TovarekMk2ParamMap::TovarekMk2ParamMap()
{
    for (const auto& row : kParameterTable)
        _infos[static_cast<int32_t> (row.id)] = makeInfo (row);
}

const TovarekMk2ParamMap::ParameterInfo* TovarekMk2ParamMap::findParameterInfo (TovarekMk2ParamID id) const
{
    const auto found = _infos.find (static_cast<int32_t> (id));
    return found == _infos.end() ? nullptr : &found->second;
}

std::vector<const TovarekMk2ParamMap::ParameterInfo*> TovarekMk2ParamMap::getAllParameterInfo() const
{
    std::vector<const ParameterInfo*> all;
    all.reserve (_infos.size());
    for (const auto& entry : _infos)
        all.push_back (&entry.second);
    return all;
}

const char* getBlockLabel (TovarekMk2ParamMap::BlockID block)
{
    return block < Map::kBlockCount ? kBlocks[block].label : "";
}

TovarekMk2ParamID getBlockEnableParameter (TovarekMk2ParamMap::BlockID block)
{
    return block < Map::kBlockCount ? kBlocks[block].enableParameter : TovarekMk2ParamID (0xFFFFFFFFu);
}

double knobPositionToValue (const TovarekMk2ParamMap::ParameterInfo& info, double position)
{
    const double lo = info.min.value;
    const double hi = info.max.value;
    if (isLogarithmic (info))
        return std::exp (std::log (lo) + position * (std::log (hi) - std::log (lo)));
    return lo + position * (hi - lo);
}

double valueToKnobPosition (const TovarekMk2ParamMap::ParameterInfo& info, double value)
{
    double position = 0.0;
    if (isLogarithmic (info))
    {
        if (value > 0.0)
            position = (std::log (value) - std::log (info.min.value))
                       / (std::log (info.max.value) - std::log (info.min.value));
    }
    else
    {
        position = (value - info.min.value) / (info.max.value - info.min.value);
    }
    // An empty range or a NaN leaves the knob at its start instead of handing it a NaN.
    return std::isfinite (position) ? position : 0.0;
}

std::string formatValueText (const TovarekMk2ParamMap::ParameterInfo& info, double value)
{
    char format[16];
    std::snprintf (format, sizeof (format), "%%.%df", std::clamp (info.decimals, 0, kMaxDecimals));

    const double shown = value * info.displayScale;
    const int length = std::snprintf (nullptr, 0, format, shown);
    if (length <= 0)
        return {};
    std::string text (static_cast<size_t> (length) + 1, '\0');
    std::snprintf (text.data(), text.size(), format, shown);
    text.resize (static_cast<size_t> (length));

    if (info.unit != nullptr)
        text += std::string (" ") + info.unit;
    return text;
}

double valueFromShownNumber (const TovarekMk2ParamMap::ParameterInfo& info, double shownNumber)
{
    const double value = shownNumber / info.displayScale;
    if (std::isnan (value))
        return info.min.value;
    return std::max (info.min.value, std::min (info.max.value, value));
}

const TovarekMk2ParamMap::ParameterOption* findOptionForValue (const TovarekMk2ParamMap::ParameterInfo& info,
                                                               double value)
{
    const double wanted = std::trunc (value);
    for (const auto& option : info.options)
        if (std::trunc (option.value.value) == wanted)
            return &option;
    return nullptr;
}

double stepOptionValue (const TovarekMk2ParamMap::ParameterInfo& info, double current, int step)
{
    const double lo = std::trunc (info.min.value);
    const double hi = std::trunc (info.max.value);
    if (std::isnan (current))
        return lo;
    return std::max (lo, std::min (hi, std::trunc (current) + step));
}

} // namespace TovarekMk2
