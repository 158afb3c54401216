#include "AmpModelLayout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

using namespace TovarekMk2;

namespace
{

const AmpModelParameterEntry* findCoefficient (uint32_t address)
{
    for (const auto& entry : AmpModelParameterTable)
        if (entry.memory == kCoefficientMemory && entry.address == address)
            return &entry;
    return nullptr;
}

} // namespace

TEST (AmpModelLayout, coefficientMemoryHoldsAddresses0To171EachOnce)
{
    std::multiset<uint32_t> addresses;
    for (const auto& entry : AmpModelParameterTable)
        if (entry.memory == kCoefficientMemory)
            addresses.insert (entry.address);

    ASSERT_EQ (addresses.size(), 172u);
    uint32_t expected = 0;
    for (uint32_t address : addresses)
        EXPECT_EQ (address, expected++);
}

TEST (AmpModelLayout, parameterMemoryHoldsParameters1To145EachOnce)
{
    std::multiset<uint32_t> addresses;
    for (const auto& entry : AmpModelParameterTable)
    {
        EXPECT_TRUE (entry.memory == kCoefficientMemory || entry.memory == kParameterMemory);
        if (entry.memory == kParameterMemory)
            addresses.insert (entry.address);
    }

    ASSERT_EQ (addresses.size(), 145u);
    uint32_t expected = 0x10001;
    for (uint32_t address : addresses)
        EXPECT_EQ (address, expected++);
    EXPECT_EQ (*addresses.rbegin(), 0x10091u);
}

TEST (AmpModelLayout, positionsCoverTheSignalChainEachOnce)
{
    std::multiset<uint32_t> positions;
    for (const auto& entry : AmpModelParameterTable)
        positions.insert (entry.position);

    ASSERT_EQ (positions.size(), kAmpModelParameterCount);
    uint32_t expected = 0;
    for (uint32_t position : positions)
        EXPECT_EQ (position, expected++);
}

TEST (AmpModelLayout, theLast45EntriesStandAtTheirPositions)
{
    for (size_t i = kAmpModelParameterCount - 45; i < kAmpModelParameterCount; ++i)
        EXPECT_EQ (AmpModelParameterTable[i].position, i);
    EXPECT_NE (AmpModelParameterTable[kAmpModelParameterCount - 46].position, kAmpModelParameterCount - 46);
}

TEST (AmpModelLayout, namesTheCoefficientsAtTheEdgesOfTheChain)
{
    const auto* enable = findCoefficient (7);
    ASSERT_NE (enable, nullptr);
    EXPECT_STREQ (enable->name, "enable");
    EXPECT_EQ (enable->valueType, kBooleanValue);
    EXPECT_EQ (enable->path, (std::vector<uint32_t> { kPreampStageNode, 0, kCoefficientGroup, 1023 }));
    EXPECT_EQ (enable->position, 13u);

    const auto* clip = findCoefficient (170);
    ASSERT_NE (clip, nullptr);
    EXPECT_STREQ (clip->name, "clip");
    EXPECT_EQ (clip->path, (std::vector<uint32_t> { kPowerStageNode }));
    EXPECT_EQ (clip->position, 315u);

    const auto* normalize = findCoefficient (171);
    ASSERT_NE (normalize, nullptr);
    EXPECT_STREQ (normalize->name, "normalize");
    EXPECT_EQ (normalize->path, (std::vector<uint32_t> { kOutputNode }));
    EXPECT_EQ (normalize->position, 316u);
}

TEST (AmpModelLayout, theLastPreampStageAndFilterSitAfterThePowerStageInCoefficientMemory)
{
    // Stage 4 and filter 5 come late in the chain but take addresses after the power stage's first 25.
    const auto* stage4Enable = findCoefficient (146);
    ASSERT_NE (stage4Enable, nullptr);
    EXPECT_EQ (stage4Enable->path, (std::vector<uint32_t> { kPreampStageNode, 4, kCoefficientGroup, 1023 }));
    EXPECT_EQ (stage4Enable->position, 221u);

    const auto* filter5b0 = findCoefficient (163);
    ASSERT_NE (filter5b0, nullptr);
    EXPECT_STREQ (filter5b0->name, "b0");
    EXPECT_EQ (filter5b0->path, (std::vector<uint32_t> { kFilterBlockNode, 5, kCoefficientGroup, 1012 }));

    const auto* level = findCoefficient (145);
    ASSERT_NE (level, nullptr);
    EXPECT_STREQ (level->name, "level");
    EXPECT_EQ (level->path, (std::vector<uint32_t> { kPowerStageNode }));
}

TEST (AmpModelLayout, eachPreampStageHas40SettingsAndEachFilterBlock12)
{
    size_t stageCounts[5] = {};
    size_t filterCounts[6] = {};
    for (const auto& entry : AmpModelParameterTable)
    {
        ASSERT_FALSE (entry.path.empty());
        if (entry.path[0] == kPreampStageNode)
        {
            ASSERT_LT (entry.path[1], 5u);
            ++stageCounts[entry.path[1]];
        }
        else if (entry.path[0] == kFilterBlockNode)
        {
            ASSERT_LT (entry.path[1], 6u);
            ++filterCounts[entry.path[1]];
        }
        else
        {
            EXPECT_EQ (entry.path.size(), 1u);
        }
    }
    for (size_t count : stageCounts)
        EXPECT_EQ (count, 40u);
    for (size_t count : filterCounts)
        EXPECT_EQ (count, 12u);
}

TEST (AmpModelLayout, parameterNumbersFollowTheInstances)
{
    // Filter i takes 1 + 5i to 5 + 5i; preamp stage i takes 31 + 23i to 53 + 23i; editTypeSelect first.
    for (const auto& entry : AmpModelParameterTable)
    {
        if (entry.memory != kParameterMemory)
            continue;
        const uint32_t number = entry.address - kParameterAddressBase;
        const uint32_t instance = entry.path[1];
        if (entry.path[0] == kFilterBlockNode)
        {
            EXPECT_GE (number, 1 + 5 * instance);
            EXPECT_LE (number, 5 + 5 * instance);
        }
        else
        {
            ASSERT_EQ (entry.path[0], kPreampStageNode);
            EXPECT_GE (number, 31 + 23 * instance);
            EXPECT_LE (number, 53 + 23 * instance);
        }
        if (entry.path[2] == kEditTypeSelectSetting)
        {
            EXPECT_EQ (entry.path.size(), 3u);
            EXPECT_STREQ (entry.name, "editTypeSelect");
            EXPECT_EQ (entry.valueType, kIntegerValue);
        }
    }
}

TEST (AmpModelLayout, sharedSettingIdsKeepTheirNames)
{
    const std::map<uint32_t, std::string> sharedNames = {
        { 1037, "lowcut" }, { 1038, "highcut" }, { 1028, "clipping" }, { 1029, "symmetry" }, { 1030, "frequency" }
    };
    size_t checked = 0;
    for (const auto& entry : AmpModelParameterTable)
    {
        const auto shared = sharedNames.find (entry.path.back());
        if (shared != sharedNames.end())
        {
            EXPECT_EQ (entry.name, shared->second);
            ++checked;
        }
        if (entry.path.size() == 4 && entry.path[2] == kStageParameterGroupB && entry.path[3] == kStageParameterGroupB)
        {
            EXPECT_STREQ (entry.name, "gain");
        }
    }
    // Per preamp stage: lowcut and highcut in all three groups, the other three in two of them.
    EXPECT_EQ (checked, 5u * (3 + 3 + 2 + 2 + 2));
}
