#pragma once

#include "TovarekMk2ParamID.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace TovarekMk2
{

// The fixed description of every parameter of the unit: scope, kind, range, default, knob
// taper, value-text format and choice names. Filled by the constructor and never changed
// afterwards, so any thread may read it without a lock once it is built.
class TovarekMk2ParamMap
{
public:
    // The effect blocks of the signal chain; also the index of the block's FX panel.
    enum BlockID : uint32_t
    {
        AMP = 0,
        CAB = 1,
        BST = 2,
        REV = 3,
        ECO = 4,
        GTE = 5,
        CMP = 6,
        EQ  = 7
    };
    static constexpr uint32_t kBlockCount = 8;

    // Values of ParameterValue::type and ParameterInfo::valueType.
    enum ValueType : uint32_t
    {
        kInteger = 0,
        kFloat   = 1
    };

    // Values of ParameterInfo::scope: the value set a parameter belongs to.
    enum Scope : uint32_t
    {
        kPreset = 0,  // the current preset's parameter set
        kGlobal = 1,  // the unit's globals record
        kStatus = 2   // reported in status packets; kept in neither
    };

    // ParameterInfo::taper of the logarithmic (frequency) knobs; every other taper is linear.
    static constexpr uint32_t kTaperLogarithmic = 2;

    // A tagged value; an integer is held as a whole double.
    struct ParameterValue
    {
        uint32_t type = kInteger;
        double value = 0.0;
    };

    // One named choice of a stepped parameter.
    struct ParameterOption
    {
        std::string name;
        ParameterValue value;
    };

    // A zero-filled info (the default) stands for a parameter that is not known.
    struct ParameterInfo
    {
        uint32_t id = 0;
        uint32_t valueKey = 0;       // key in the value maps and parameter sets; equals id
        uint16_t wireId = 0;         // id in a set-parameter packet; low 16 bits of id
        uint32_t scope = kPreset;
        uint32_t valueType = kInteger;
        ParameterValue min, max, defaultValue;
        uint32_t taper = 0;
        int32_t decimals = 0;        // digits after the point in the value text, 0 to 9
        double displayScale = 0.0;   // applied before the value is shown (100 for %, 1000 for ms)
        const char* unit = nullptr;  // static text, or null for none
        std::vector<ParameterOption> options;
    };

    // Builds the map from the static parameter table.
    TovarekMk2ParamMap();

    // The description of the id, or null when the unit has no such parameter. The pointer
    // lives as long as the map.
    const ParameterInfo* findParameterInfo (TovarekMk2ParamID id) const;

    // Every description, in ascending id order.
    std::vector<const ParameterInfo*> getAllParameterInfo() const;

private:
    std::map<int32_t, ParameterInfo> _infos;
};

// The text the user interface shows for a block.
const char* getBlockLabel (TovarekMk2ParamMap::BlockID block);

// The parameter that switches a block on and off; for a value that is no block, an id that
// the map does not hold.
TovarekMk2ParamID getBlockEnableParameter (TovarekMk2ParamMap::BlockID block);

// Conversions between a parameter's value and what its controls show. They use only the
// fields of the info, so they work on a copy taken when a control was built. A zero-filled
// info gives finite results.

// The value of a knob at position 0..1: linear over [min, max], or logarithmic for the
// logarithmic taper. Not rounded and not clamped.
double knobPositionToValue (const TovarekMk2ParamMap::ParameterInfo& info, double position);

// The inverse of knobPositionToValue, not clamped (the knob clamps). Where no position
// exists (an empty range, a value at or below zero on a logarithmic knob, NaN) it gives 0.
double valueToKnobPosition (const TovarekMk2ParamMap::ParameterInfo& info, double value);

// The value times the display scale with the info's decimals, then a space and the unit
// when there is one: 0.375 s shows as "375 ms".
std::string formatValueText (const TovarekMk2ParamMap::ParameterInfo& info, double value);

// The value of a number the user typed in display units (divided by the display scale),
// clamped into [min, max].
double valueFromShownNumber (const TovarekMk2ParamMap::ParameterInfo& info, double shownNumber);

// The first option whose value equals the value, both truncated to integers; null when none.
const TovarekMk2ParamMap::ParameterOption* findOptionForValue (const TovarekMk2ParamMap::ParameterInfo& info,
                                                               double value);

// The value one option step away (step -1 or +1) from the current value truncated, held
// within the truncated [min, max]: the arrows of a choice stop at the ends.
double stepOptionValue (const TovarekMk2ParamMap::ParameterInfo& info, double current, int step);

} // namespace TovarekMk2
