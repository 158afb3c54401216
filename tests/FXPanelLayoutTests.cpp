#include "FXPanelLayouts.h"
#include "TovarekMk2ParamMap.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <set>
#include <thread>
#include <type_traits>

using namespace TovarekMk2::FXPanelLayouts;
using TovarekMk2::TovarekMk2ParamMap;

namespace
{

const TovarekMk2ParamMap& paramMap()
{
    static const TovarekMk2ParamMap map;
    return map;
}

const Layout& layout (uint32_t panel)
{
    const Layout* found = getLayout (panel);
    if (found == nullptr)
    {
        ADD_FAILURE() << "no layout " << panel;
        static const Layout none;
        return none;
    }
    return *found;
}

// Calls the visitor with each item and the column it starts at, as the panel builder
// advances: every item moves the position by its width, whatever its kind.
template <typename Visitor>
void forEachPlacedItem (const Layout& rows, Visitor visit)
{
    for (size_t r = 0; r < rows.size(); ++r)
    {
        double column = 0.0;
        for (size_t k = 0; k < rows[r].size(); ++k)
        {
            visit (r, k, column, rows[r][k]);
            column += rows[r][k].width;
        }
    }
}

std::string text (const char* s)
{
    return s == nullptr ? std::string ("<null>") : std::string (s);
}

} // namespace

static_assert (std::is_trivially_copyable_v<Item>);

TEST (FXPanelLayouts, hasNoLayoutBeyondTheGlobalSettingsPanel)
{
    EXPECT_EQ (getLayout (9), nullptr);
    EXPECT_EQ (getLayout (100), nullptr);
    EXPECT_EQ (getLayout (std::numeric_limits<uint32_t>::max()), nullptr);
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
        EXPECT_NE (getLayout (panel), nullptr) << panel;
}

TEST (FXPanelLayouts, returnsTheSameLayoutEveryTime)
{
    EXPECT_EQ (getLayout (3), getLayout (3));
    EXPECT_NE (getLayout (3), getLayout (4));
}

TEST (FXPanelLayouts, buildsOneSetOfLayoutsWhenFirstAskedFromSeveralThreads)
{
    const Layout* seen[4] = {};
    std::vector<std::thread> threads;
    for (auto& slot : seen)
        threads.emplace_back ([&slot] { slot = getLayout (7); });
    for (auto& thread : threads)
        thread.join();
    for (const Layout* layoutSeen : seen)
    {
        EXPECT_EQ (layoutSeen, getLayout (7));
        ASSERT_NE (layoutSeen, nullptr);
        EXPECT_EQ (layoutSeen->size(), 12u);
    }
}

TEST (FXPanelLayouts, holdsFortyFourRowsAcrossTheNinePanels)
{
    const size_t expected[kPanelCount] = { 3, 3, 3, 4, 5, 2, 4, 12, 8 };
    size_t total = 0;
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
    {
        EXPECT_EQ (layout (panel).size(), expected[panel]) << panel;
        total += layout (panel).size();
    }
    EXPECT_EQ (total, 44u);
}

TEST (FXPanelLayouts, opensEveryPanelWithItsTitle)
{
    const char* titles[kPanelCount] = { "AMP",        "CABINET",    "BOOST",    "REVERB",         "ECHO",
                                        "NOISE GATE", "COMPRESSOR", "PreTone:", "GLOBAL SETTINGS" };
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
    {
        ASSERT_FALSE (layout (panel).empty());
        ASSERT_EQ (layout (panel)[0].size(), 1u) << panel;
        EXPECT_EQ (layout (panel)[0][0].kind, uint32_t (Header));
        EXPECT_EQ (text (layout (panel)[0][0].label), titles[panel]);
    }
}

TEST (FXPanelLayouts, fitsEveryRowIntoFourColumns)
{
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
        for (const Row& row : layout (panel))
        {
            EXPECT_FALSE (row.empty());
            EXPECT_LE (row.size(), 4u) << panel;
            double width = 0.0;
            for (const Item& item : row)
                width += item.width;
            EXPECT_LE (width, double (kPanelColumns)) << panel;
        }
    // The AMP knob row leaves half a column; the EQ switch-and-knob rows fill all four.
    double ampKnobs = 0.0;
    for (const Item& item : layout (TovarekMk2ParamMap::AMP)[2])
        ampKnobs += item.width;
    EXPECT_EQ (ampKnobs, 3.5);
    for (size_t r : { 5u, 8u, 11u })
    {
        double width = 0.0;
        for (const Item& item : layout (TovarekMk2ParamMap::EQ)[r])
            width += item.width;
        EXPECT_EQ (width, 4.0) << r;
    }
}

TEST (FXPanelLayouts, givesEachKindItsWidth)
{
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
        for (const Row& row : layout (panel))
            for (const Item& item : row)
                switch (item.kind)
                {
                    case Spacer:       EXPECT_TRUE (item.width == 0.5 || item.width == 1.0); break;
                    case Knob:         EXPECT_EQ (item.width, 1.0); break;
                    case Choice:       EXPECT_EQ (item.width, 2.0); break;
                    case Header:       EXPECT_EQ (item.width, 4.0); break;
                    case Switch:       EXPECT_EQ (item.width, 1.0); break;
                    case AmpModelRow:  EXPECT_EQ (item.width, 4.0); break;
                    case CabinetRow:   EXPECT_EQ (item.width, 4.0); break;
                    case InlineSwitch: EXPECT_EQ (item.width, 1.0); break;
                    default:           ADD_FAILURE() << "unknown kind " << item.kind; break;
                }
}

TEST (FXPanelLayouts, bindsOnlyParametersOfTheRightKind)
{
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
        for (const Row& row : layout (panel))
            for (const Item& item : row)
            {
                const auto* info = paramMap().findParameterInfo (item.paramId);
                ASSERT_NE (info, nullptr) << "panel " << panel << " id " << item.paramId;
                const bool bindsNone = item.kind == Spacer || item.kind == Header || item.kind == AmpModelRow
                                       || item.kind == CabinetRow;
                if (bindsNone)
                {
                    EXPECT_EQ (uint32_t (item.paramId), 0u);
                }
                if (item.kind == Knob)
                {
                    EXPECT_EQ (info->valueType, TovarekMk2ParamMap::kFloat) << item.paramId;
                }
                if (item.kind == Choice)
                {
                    EXPECT_FALSE (info->options.empty()) << item.paramId;
                }
                if (item.kind == Switch || item.kind == InlineSwitch)
                {
                    // The two buttons set the two ends of a 0..1 integer parameter.
                    EXPECT_EQ (info->valueType, TovarekMk2ParamMap::kInteger) << item.paramId;
                    EXPECT_EQ (std::set<double> ({ item.option0Value, item.option1Value }),
                               std::set<double> ({ info->min.value, info->max.value }))
                        << item.paramId;
                }
                else
                {
                    EXPECT_EQ (item.option0Label, nullptr);
                    EXPECT_EQ (item.option1Label, nullptr);
                    EXPECT_EQ (item.option0Value, 0.0);
                    EXPECT_EQ (item.option1Value, 0.0);
                }
            }
}

TEST (FXPanelLayouts, showsEveryParameterThatHasAPanelPlaceExactlyOnce)
{
    std::multiset<uint32_t> shown;
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
        for (const Row& row : layout (panel))
            for (const Item& item : row)
                if (item.paramId != 0)
                    shown.insert (item.paramId);
    const std::multiset<uint32_t> expected = { 1,   2,   3,   4,   5,   16,  17,  18,  19,  20,  21,  32,  33,  34,
                                               35,  36,  37,  48,  49,  50,  51,  52,  53,  65,  66,  67,  68,  97,
                                               98,  99,  100, 113, 114, 121, 130, 133, 135, 136, 137, 139, 145, 146,
                                               147, 148, 149, 150, 151, 152, 160, 161, 162, 163, 164, 165, 193, 194,
                                               195, 197, 198, 199, 200, 256, 257, 258, 290, 291, 292, 293, 302, 303 };
    EXPECT_EQ (shown, expected);
}

TEST (FXPanelLayouts, captionsOnlyTheChoicesOfTheEchoTapModeAndTheGlobalSettings)
{
    std::set<uint32_t> uncaptioned, captioned;
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
        for (const Row& row : layout (panel))
            for (const Item& item : row)
                if (item.kind == Choice)
                    (item.label == nullptr ? uncaptioned : captioned).insert (item.paramId);
    EXPECT_EQ (uncaptioned, (std::set<uint32_t> { 1, 145, 193, 130, 161, 18, 34, 50 }));
    EXPECT_EQ (captioned, (std::set<uint32_t> { 200, 291, 258, 292, 293, 302, 303 }));
}

TEST (FXPanelLayouts, placesEveryChoiceAfterASpacerOrAnInlineSwitch)
{
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
        forEachPlacedItem (layout (panel), [&] (size_t r, size_t k, double column, const Item& item) {
            if (item.kind != Choice)
                return;
            ASSERT_GT (k, 0u) << panel << " row " << r;
            const uint32_t before = layout (panel)[r][k - 1].kind;
            EXPECT_TRUE (before == Spacer || before == InlineSwitch) << panel << " row " << r;
            // A captioned choice has the column left of it free for its caption.
            if (item.label != nullptr)
            {
                EXPECT_EQ (column, 1.0) << item.paramId;
            }
        });
}

TEST (FXPanelLayouts, placesTheEqualiserChoicesHalfAColumnIn)
{
    std::vector<std::pair<uint32_t, double>> choices;
    forEachPlacedItem (layout (TovarekMk2ParamMap::EQ), [&] (size_t, size_t, double column, const Item& item) {
        if (item.kind == Choice)
            choices.emplace_back (item.paramId, column);
    });
    const std::vector<std::pair<uint32_t, double>> expected = { { 161, 1.5 }, { 18, 0.5 }, { 34, 0.5 }, { 50, 0.5 } };
    EXPECT_EQ (choices, expected);
    // Placed from one column left: the pre-tone list from column 0.5, the band lists from -0.5,
    // which the panel builder truncates to -70 pixels.
    EXPECT_EQ (std::trunc ((0.5 - 1.0) * 141.0), -70.0);
}

TEST (FXPanelLayouts, shiftsTheKnobsAfterAHalfSpacerByHalfAColumn)
{
    std::vector<double> columns;
    forEachPlacedItem (layout (TovarekMk2ParamMap::AMP), [&] (size_t, size_t, double column, const Item& item) {
        if (item.kind == Knob)
            columns.push_back (column);
    });
    EXPECT_EQ (columns, (std::vector<double> { 0.5, 1.5, 2.5 }));
}

TEST (FXPanelLayouts, buildsTheEqualiserFromFourHeadersFourSwitchRowsAndFourKnobRows)
{
    int headers = 0, inlineSwitchRows = 0, knobRows = 0;
    for (const Row& row : layout (TovarekMk2ParamMap::EQ))
    {
        bool hasInline = false, hasKnob = false;
        for (const Item& item : row)
        {
            hasInline = hasInline || item.kind == InlineSwitch;
            hasKnob = hasKnob || item.kind == Knob;
        }
        headers += row.front().kind == Header ? 1 : 0;
        inlineSwitchRows += hasInline ? 1 : 0;
        knobRows += hasKnob ? 1 : 0;
    }
    EXPECT_EQ (headers, 4);
    EXPECT_EQ (inlineSwitchRows, 4);
    EXPECT_EQ (knobRows, 4);
}

TEST (FXPanelLayouts, listsEachSwitchsButtonsInTheLayoutsOrderNotByValue)
{
    const Item& tails = layout (TovarekMk2ParamMap::ECO)[4][1];
    EXPECT_EQ (tails.paramId, kParamEchoTails);
    EXPECT_EQ (text (tails.label), "TAILS");
    EXPECT_EQ (text (tails.option0Label), "ON");
    EXPECT_EQ (tails.option0Value, 1.0);
    EXPECT_EQ (text (tails.option1Label), "OFF");
    EXPECT_EQ (tails.option1Value, 0.0);

    const Item& lock = layout (kGlobalSettingsPanel)[1][3];
    EXPECT_EQ (lock.paramId, kParamLockPots);
    EXPECT_EQ (text (lock.option0Label), "LOCKED");
    EXPECT_EQ (lock.option0Value, 1.0);
    EXPECT_EQ (text (lock.option1Label), "UNLOCKED");
    EXPECT_EQ (lock.option1Value, 0.0);

    const Item& detector = layout (TovarekMk2ParamMap::CMP)[3][3];
    EXPECT_EQ (detector.paramId, kParamCompDetector);
    EXPECT_EQ (text (detector.option0Label), "PEAK");
    EXPECT_EQ (detector.option0Value, 0.0);
    EXPECT_EQ (text (detector.option1Label), "RMS");
    EXPECT_EQ (detector.option1Value, 1.0);

    const Item& prePost = layout (TovarekMk2ParamMap::EQ)[4][2];
    EXPECT_EQ (prePost.kind, uint32_t (InlineSwitch));
    EXPECT_EQ (prePost.paramId, kParamEq1PrePost);
    EXPECT_EQ (prePost.label, nullptr);
    EXPECT_EQ (text (prePost.option0Label), "PRE");
    EXPECT_EQ (text (prePost.option1Label), "POST");
}

TEST (FXPanelLayouts, putsTheAmpModelAndCabinetRowsUnderTheirTitles)
{
    EXPECT_EQ (layout (TovarekMk2ParamMap::AMP)[1][0].kind, uint32_t (AmpModelRow));
    EXPECT_EQ (layout (TovarekMk2ParamMap::CAB)[1][0].kind, uint32_t (CabinetRow));
    for (uint32_t panel = 0; panel < kPanelCount; ++panel)
        for (const Row& row : layout (panel))
            for (const Item& item : row)
                if (item.kind == AmpModelRow || item.kind == CabinetRow)
                {
                    EXPECT_TRUE (panel <= TovarekMk2ParamMap::CAB) << panel;
                }
}

TEST (FXPanelLayouts, captionsTheKnobsOfTheGatePanelInOrder)
{
    std::vector<std::string> captions;
    std::vector<uint32_t> ids;
    for (const Item& item : layout (TovarekMk2ParamMap::GTE)[1])
    {
        captions.push_back (text (item.label));
        ids.push_back (item.paramId);
    }
    EXPECT_EQ (captions, (std::vector<std::string> { "THRESH", "RATIO", "ATTACK", "RELEASE" }));
    EXPECT_EQ (ids, (std::vector<uint32_t> { 65, 66, 67, 68 }));
}
