#include "FXPanelLayouts.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

using namespace TovarekMk2::FXPanelLayouts;

namespace
{
// One item as text: its kind, its parameter id unless 0, its caption in quotes, its two options
// (label=value) when it has any, and its width in columns.
std::string describe (const Item& item)
{
    static const char* const kinds[] = { "spacer", "knob", "choice", "header", "switch", "amp", "cabinet", "inline" };
    std::ostringstream out;
    out << (item.kind < std::size (kinds) ? kinds[item.kind] : "kind " + std::to_string (item.kind));
    if (item.paramId != 0)
        out << " " << item.paramId;
    if (item.label != nullptr)
        out << " '" << item.label << "'";
    if (item.option0Label != nullptr || item.option1Label != nullptr || item.option0Value != 0.0 || item.option1Value != 0.0)
        out << " " << (item.option0Label != nullptr ? item.option0Label : "<null>") << "=" << item.option0Value << "/"
            << (item.option1Label != nullptr ? item.option1Label : "<null>") << "=" << item.option1Value;
    out << " " << item.width;
    return out.str();
}

std::string describe (const Row& row)
{
    std::string text;
    for (const Item& item : row)
        text += (text.empty() ? "" : ", ") + describe (item);
    return text;
}

// The nine panels as the unit's editor shows them, row by row, items left to right; a switch's
// buttons in the layout's order, not by value.
const std::vector<std::vector<std::string>> kExpectedPanels = {
    { "header 'AMP' 4", "amp 4", "spacer 0.5, knob 113 'LEVEL' 1, knob 114 'DAMPING' 1, knob 121 'RESONANCE' 1" },
    { "header 'CABINET' 4", "cabinet 4", "knob 97 'ROLLOFF' 1, knob 98 'PEAKING' 1, knob 99 'BOTTOM' 1, knob 100 'AIR' 1" },
    { "header 'BOOST' 4", "spacer 1, choice 1 2",
      "knob 2 'DRIVE' 1, knob 3 'TONE' 1, knob 4 'LEVEL' 1, knob 5 'POSTLVL' 1" },
    { "header 'REVERB' 4", "spacer 1, choice 145 2",
      "knob 146 'DECAY' 1, knob 151 'DRY LEVEL' 1, spacer 1, knob 152 'LEVEL' 1",
      "knob 147 'LO DAMP' 1, knob 148 'HI DAMP' 1, knob 149 'DIFFUSION' 1, knob 150 'PREDELAY' 1" },
    { "header 'ECHO' 4", "spacer 1, choice 193 2",
      "spacer 0.5, knob 194 'DELAY' 1, knob 195 'REPEATS' 1, knob 197 'LEVEL' 1", "spacer 1, choice 200 'TAP MODE:' 2",
      "spacer 1, switch 198 'TAILS' ON=1/OFF=0 1, switch 199 'SPILLOVER' ON=1/OFF=0 1" },
    { "header 'NOISE GATE' 4", "knob 65 'THRESH' 1, knob 66 'RATIO' 1, knob 67 'ATTACK' 1, knob 68 'RELEASE' 1" },
    { "header 'COMPRESSOR' 4", "spacer 1, choice 130 2",
      "spacer 0.5, knob 139 'AMOUNT' 1, knob 135 'ATTACK' 1, knob 133 'LEVEL' 1",
      "spacer 0.5, knob 136 'RELEASE' 1, spacer 1, switch 137 'DETECTOR' PEAK=0/RMS=1 1" },
    { "header 'PreTone:' 4", "spacer 0.5, inline 160 ON=1/OFF=0 1, choice 161 2",
      "knob 165 'ROLLOFF' 1, knob 164 'LEVEL' 1, knob 162 'FREQ' 1, knob 163 'Q' 1",
      "header 'Parametric EQ 1:' 4", "spacer 0.5, choice 18 2, inline 17 PRE=0/POST=1 1",
      "switch 16 'ENABLE' ON=1/OFF=0 1, knob 21 'LEVEL' 1, knob 19 'FREQ' 1, knob 20 'Q' 1",
      "header 'Parametric EQ 2:' 4", "spacer 0.5, choice 34 2, inline 33 PRE=0/POST=1 1",
      "switch 32 'ENABLE' ON=1/OFF=0 1, knob 37 'LEVEL' 1, knob 35 'FREQ' 1, knob 36 'Q' 1",
      "header 'Parametric EQ 3:' 4", "spacer 0.5, choice 50 2, inline 49 PRE=0/POST=1 1",
      "switch 48 'ENABLE' ON=1/OFF=0 1, knob 53 'LEVEL' 1, knob 51 'FREQ' 1, knob 52 'Q' 1" },
    { "header 'GLOBAL SETTINGS' 4",
      "knob 256 'MAINLVL' 1, knob 257 'XLRLVL' 1, spacer 1, switch 290 'LOCK POTS' LOCKED=1/UNLOCKED=0 1",
      "spacer 1, choice 291 'CABINET OUT:' 2", "spacer 1, choice 258 'LEVEL:' 2", "spacer 1, choice 292 'FS A MODE:' 2",
      "spacer 1, choice 293 'FS B MODE:' 2", "spacer 1, choice 302 'FX LEVEL SELECT:' 2",
      "spacer 1, choice 303 'LOAD MODE:' 2" },
};
} // namespace

static_assert (std::is_trivially_copyable_v<Item>);

TEST (FXPanelLayouts, holdsTheNinePanelsRowByRowAndNothingBeyond)
{
    ASSERT_EQ (kExpectedPanels.size(), size_t (kPanelCount));
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
    {
        const Layout* layout = getLayout (panel);
        ASSERT_NE (layout, nullptr) << panel;
        std::vector<std::string> rows;
        for (const Row& row : *layout)
            rows.push_back (describe (row));
        EXPECT_EQ (rows, kExpectedPanels[panel]) << "panel " << panel;
    }
    EXPECT_EQ (getLayout (9), nullptr);
    EXPECT_EQ (getLayout (100), nullptr);
    EXPECT_EQ (getLayout (std::numeric_limits<uint32_t>::max()), nullptr);
}
