#include "TovarekMk2EditorService.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using Korvantal::Result;
using TovarekMk2::TovarekMk2EditorService;
using TovarekMk2::TovarekMk2ParamMap;
using Service = TovarekMk2::TovarekMk2EditorService;

namespace
{
Korvantal::KorvantalData::FirmwareVersionInfo applicationMinimum()
{
    Korvantal::KorvantalData::FirmwareVersionInfo minimum;
    minimum.dspVersion = { 4, 2, 0, 0 };
    return minimum;
}
} // namespace

//==============================================================================
// Without a unit

TEST (EditorServiceStart, beginsDisconnectedWithPlaceholderNamesAndPresetZero)
{
    const auto minimum = applicationMinimum();
    Service service (&minimum);

    EXPECT_EQ (service.getState(), Service::Disconnected);
    EXPECT_EQ (service.getLastError(), "");
    EXPECT_EQ (service.getCurrentPresetIndex(), 0);
    EXPECT_FALSE (service.isModified());

    for (int slot = 0; slot < Service::kUserSlotCount; ++slot)
    {
        EXPECT_EQ (service.getAmpName (slot), "?");
        EXPECT_EQ (service.getCabName (slot), "?");
    }

    Korvantal::KorvantalData::FirmwareVersionInfo versions;
    versions.extraCode = 7;
    EXPECT_FALSE (service.getFirmwareVersionInfo (versions));
    EXPECT_EQ (versions.systemVersion, (std::array<uint8_t, 4> {}));
    EXPECT_EQ (versions.dspVersion, (std::array<uint8_t, 4> {}));
}

TEST (EditorServiceStart, keepsTheProductDelaysUnlessTheyAreShortened)
{
    const Service::Timing timing;
    EXPECT_EQ (timing.settleDelay.count(), 3000);
    EXPECT_EQ (timing.reconnectPoll.count(), 500);
    EXPECT_EQ (timing.reconnectLimit.count(), 29501);
    EXPECT_EQ (timing.readyWait.count(), 3000);
    EXPECT_EQ (Service::kMaxPresetChangeRounds, 16);
}

TEST (EditorServiceStart, answersAnEmptyNameForASlotOutsideTheThree)
{
    Service service (nullptr);
    EXPECT_EQ (service.getAmpName (3), "");
    EXPECT_EQ (service.getAmpName (-1), "");
    EXPECT_EQ (service.getCabName (3), "");
}

TEST (EditorServiceStarters, refuseEveryTaskWhileNotConnectedAndChangeNothing)
{
    Service service (nullptr);
    std::vector<Service::State> states;
    Service::Listener listener;
    listener.stateChanged = [&] (Service::State s) { states.push_back (s); };
    service.addListener (&listener);

    const std::string notConnected = "Cannot start task while not connected";
    Korvantal::KorvantalData::Amp amp;
    Korvantal::KorvantalData::Cabinet cabinet;
    Korvantal::KorvantalData::FullTovarekMk2Preset preset;
    Korvantal::KorvantalData::TovarekMk2Archive archive;

    EXPECT_EQ (service.beginRefreshAll (true).message, notConnected);
    EXPECT_EQ (service.setCurrentAmpData (amp).message, notConnected);
    EXPECT_EQ (service.setAmpData (0, amp).message, notConnected);
    EXPECT_EQ (service.setCurrentCabData (cabinet).message, notConnected);
    EXPECT_EQ (service.setCabData (2, cabinet).message, notConnected);
    EXPECT_EQ (service.setCurrentPresetData (preset).message, notConnected);
    EXPECT_EQ (service.getCurrentPresetData ([] (const auto&) {}).message, notConnected);
    EXPECT_EQ (service.saveCurrentPreset().message, notConnected);
    EXPECT_EQ (service.beginBackup (nullptr, [] (const auto&) {}).message, notConnected);
    EXPECT_EQ (service.beginRestore (archive, nullptr).message, notConnected);
    EXPECT_EQ (service.requestChangePreset (3).message, notConnected);
    EXPECT_EQ (service.setParameterValue (kParamBoostDrive, { TovarekMk2ParamMap::kFloat, 0.25 }).message, notConnected);
    EXPECT_EQ (service.beginFirmwareUpdate (archive, nullptr).message, notConnected);

    // A re-read asked for while disconnected is only remembered.
    EXPECT_TRUE (service.requestRefreshCurrentPreset (true).ok);

    EXPECT_EQ (service.getState(), Service::Disconnected);
    EXPECT_TRUE (states.empty());
    service.removeListener (&listener);
}

TEST (EditorServiceStarters, refuseAPresetIndexOutsideZeroToSix)
{
    Service service (nullptr);
    EXPECT_EQ (service.requestChangePreset (7).message, "Invalid preset index: 7");
    EXPECT_EQ (service.requestChangePreset (-1).message, "Invalid preset index: -1");
}

TEST (EditorServiceStarters, refuseAUserSlotOutsideTheThree)
{
    Service service (nullptr);
    EXPECT_EQ (service.setAmpData (3, {}).message, "Invalid amp slot: 3");
    EXPECT_EQ (service.setCabData (-1, {}).message, "Invalid cabinet slot: -1");
}

TEST (EditorServiceParameters, giveTheDefaultOfAParameterWithNothingStored)
{
    Service service (nullptr);
    Service::ParameterValue value;

    ASSERT_TRUE (service.getParameterValue (kParamReverbType, value).ok);
    EXPECT_EQ (value.type, (uint32_t) TovarekMk2ParamMap::kInteger);
    EXPECT_EQ (value.value, 4.0);

    ASSERT_TRUE (service.getParameterValue (kParamGateThreshold, value).ok);
    EXPECT_EQ (value.type, (uint32_t) TovarekMk2ParamMap::kFloat);
    EXPECT_EQ (value.value, -70.0);
}

TEST (EditorServiceParameters, refuseAnIdThatTheMapDoesNotHold)
{
    Service service (nullptr);
    Service::ParameterValue value { TovarekMk2ParamMap::kFloat, 42.0 };
    EXPECT_EQ (service.getParameterValue (static_cast<TovarekMk2ParamID> (6), value).message, "No scope for parameter");
    EXPECT_EQ (value.value, 42.0);

    Service::ParameterInfo info;
    EXPECT_EQ (service.getParameterInfo (kParamPositionAmp, info).message, "Parameter info not found");
    ASSERT_TRUE (service.getParameterInfo (kParamEchoType, info).ok);
    EXPECT_EQ (info.id, (uint32_t) kParamEchoType);
    EXPECT_EQ (info.options.size(), 5u);
}

TEST (EditorServiceNormalize, fillsDefaultsClampsRoundsAndDropsWhatIsNoPresetParameter)
{
    Service service (nullptr);
    Korvantal::KorvantalData::FullTovarekMk2Preset preset;
    preset.parameters[kParamBoostDrive] = 1.5f;          // above its maximum 1
    preset.parameters[kParamGateThreshold] = -100.0f;    // below its minimum -80
    preset.parameters[kParamReverbType] = 2.5f;          // integer: rounds away from zero
    preset.parameters[kParamEq1Type] = -0.5f;            // integer: -1, its minimum
    preset.parameters[kParamCabLevel] = std::numeric_limits<float>::quiet_NaN();
    preset.parameters[kParamMainLevel] = 0.5f;           // a global
    preset.parameters[kParamStatusLevel] = 0.5f;         // a status value
    preset.parameters[6] = 1.0f;                         // no parameter at all

    ASSERT_TRUE (service.normalizePresetParameters (preset).ok);

    const auto& p = preset.parameters;
    EXPECT_EQ (p.at (kParamBoostDrive), 1.0f);
    EXPECT_EQ (p.at (kParamGateThreshold), -80.0f);
    EXPECT_EQ (p.at (kParamReverbType), 3.0f);
    EXPECT_EQ (p.at (kParamEq1Type), -1.0f);
    EXPECT_EQ (p.at (kParamCabLevel), 0.0f);             // not a number: its default
    EXPECT_EQ (p.at (kParamBoostTone), 0.5f);            // missing: its default
    EXPECT_EQ (p.count (kParamMainLevel), 0u);
    EXPECT_EQ (p.count (kParamStatusLevel), 0u);
    EXPECT_EQ (p.count (6), 0u);

    TovarekMk2ParamMap map;
    size_t presetParameters = 0;
    for (const auto* info : map.getAllParameterInfo())
        if (info->scope == TovarekMk2ParamMap::kPreset)
            ++presetParameters;
    EXPECT_EQ (p.size(), presetParameters);
}

TEST (EditorServiceLifetime, destroysAtOnceWithoutAUnit)
{
    auto service = std::make_unique<Service> (nullptr);
    service.reset();
    SUCCEED();
}
