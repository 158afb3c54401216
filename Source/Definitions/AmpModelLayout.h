#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace TovarekMk2
{

// Where an amp model's settings live in the unit's DSP: for every setting its memory and address,
// its place in the model's signal chain, the node it belongs to, its value type and its name.
// Reference data only: the editor moves amp data as whole records and looks nothing up here.
// Built by static initialisation, read-only afterwards, so any thread may read it.

enum AmpModelMemory : uint32_t
{
    kCoefficientMemory = 0, // address 0 to 171: the coefficients an amp-data block carries
    kParameterMemory = 1    // address kParameterAddressBase + parameter number 1 to 145
};

enum AmpModelValueType : uint32_t
{
    kIntegerValue = 0, // integers and selections; stored in amp data as whole floats
    kFloatValue = 1,
    kBooleanValue = 2  // stored in amp data as 0.0 or 1.0
};

constexpr uint32_t kParameterAddressBase = 0x10000;

// Node ids of a setting's path: node type, instance (preamp stages and filter blocks only),
// group (settings inside a group only), then the setting's own id.
enum AmpModelNode : uint32_t
{
    kPreampStageNode = 1001,   // instances 0 to 4
    kFilterBlockNode = 1002,   // instances 0 to 5
    kPotentiometerNode = 1003,
    kToneStackNode = 1004,
    kPowerStageNode = 1005,
    kOutputNode = 1006,
    kCoefficientGroup = 1007,  // the coefficients of a stage or filter block
    kStageParameterGroupA = 1008,
    kStageParameterGroupB = 1009,
    kFilterParameterGroup = 1010,
    kEditTypeSelectSetting = 1011
};

struct AmpModelParameterEntry
{
    uint32_t memory;            // AmpModelMemory
    uint32_t position;          // 0 to 316, signal-chain order
    uint32_t address;
    std::vector<uint32_t> path; // node ids from the model's top node down to the setting
    uint32_t valueType;         // AmpModelValueType
    const char* name;
};

constexpr size_t kAmpModelParameterCount = 317;
constexpr size_t kAmpModelCoefficientCount = 172;

// In this order: filter blocks 0 to 5, preamp stages 0 to 4, potentiometer, tone stack,
// power stage, output (so for the last 45 entries the index equals the position).
extern const AmpModelParameterEntry AmpModelParameterTable[kAmpModelParameterCount];

} // namespace TovarekMk2
