#pragma once

#include "TovarekMk2ParamID.h"

#include <cstdint>
#include <vector>

// What the FX panel shows for each effect block and for the global settings, as data: rows
// of items placed left to right, a panel being 4 columns wide. Constant for the life of the
// program; read on the message thread.
namespace TovarekMk2::FXPanelLayouts
{

enum ItemKind : uint32_t
{
    Spacer       = 0,  // only advances the position; so does any kind above InlineSwitch
    Knob         = 1,
    Choice       = 2,  // placed from one column left of its position, its caption in that column
    Header       = 3,
    Switch       = 4,  // captioned two-way switch
    AmpModelRow  = 5,
    CabinetRow   = 6,
    InlineSwitch = 7   // uncaptioned compact two-way switch beside a choice
};

// One cell of a panel row. The options are used by the switch kinds only: the first button
// shows option0Label and sets option0Value, the second option1Label and option1Value.
struct Item
{
    uint32_t kind = Spacer;
    TovarekMk2ParamID paramId = TovarekMk2ParamID (0);  // 0 for kinds that bind none
    const char* label = nullptr;
    double width = 0.0;  // in panel columns
    const char* option0Label = nullptr;
    double option0Value = 0.0;
    const char* option1Label = nullptr;
    double option1Value = 0.0;
};

using Row = std::vector<Item>;
using Layout = std::vector<Row>;

constexpr uint32_t kPanelColumns = 4;
constexpr uint32_t kGlobalSettingsPanel = 8;  // panels 0 to 7 are the blocks, by BlockID
constexpr uint32_t kPanelCount = 9;

// The layout of a panel, or null for an index above kGlobalSettingsPanel.
const Layout* getLayout (uint32_t panelIndex);

} // namespace TovarekMk2::FXPanelLayouts
