#include "AmpModelLayout.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using namespace TovarekMk2;

namespace
{
// The layout rebuilt from the unit's description of its amp models: the settings of each node
// in order, the signal-chain order, the order in which the nodes take coefficient addresses,
// and the parameter numbers per instance.
enum Memory : uint32_t { C = 0, P = 1 };
enum Type : uint32_t { I = 0, F = 1, B = 2 };
enum : uint32_t { kStage = 1001, kFilter = 1002, kPot = 1003, kTone = 1004, kPower = 1005, kOutput = 1006 };

struct Setting
{
    Memory memory;
    Type type;
    const char* name;
    uint32_t group; // 0: none (the node's own settings, or editTypeSelect)
    uint32_t id;
};

const std::vector<Setting> kFilterSettings = {
    { P, I, "editTypeSelect", 0, 1011 }, { C, F, "b0", 1007, 1012 },  { C, F, "b1", 1007, 1013 },
    { C, F, "b2", 1007, 1014 },          { C, F, "b3", 1007, 1015 },  { C, F, "a0", 1007, 1016 },
    { C, F, "a1", 1007, 1017 },          { C, F, "a2", 1007, 1018 },  { P, I, "type", 1010, 1019 },
    { P, F, "level", 1010, 1020 },       { P, F, "freq", 1010, 1021 }, { P, F, "q", 1010, 1022 },
};

const std::vector<Setting> kStageSettings = {
    { P, I, "editTypeSelect", 0, 1011 }, { C, B, "enable", 1007, 1023 },   { C, F, "x1", 1007, 1024 },
    { C, F, "y1", 1007, 1025 },          { C, F, "x2", 1007, 1026 },       { C, F, "y2", 1007, 1027 },
    { C, F, "clipping", 1007, 1028 },    { C, F, "symmetry", 1007, 1029 }, { C, F, "frequency", 1007, 1030 },
    { C, F, "feedback", 1007, 1031 },    { C, F, "tig", 1007, 1032 },      { C, F, "mig", 1007, 1033 },
    { C, F, "mgk", 1007, 1034 },         { C, F, "mip", 1007, 1035 },      { C, F, "bip", 1007, 1036 },
    { C, F, "lowcut", 1007, 1037 },      { C, F, "highcut", 1007, 1038 },  { C, I, "offsetNull", 1007, 1039 },
    { P, F, "Rp", 1008, 1040 },          { P, F, "Rk", 1008, 1041 },       { P, F, "Ck", 1008, 1042 },
    { P, F, "Rg1", 1008, 1043 },         { P, F, "Rg2", 1008, 1044 },      { P, F, "iclip", 1008, 1045 },
    { P, F, "vclip", 1008, 1046 },       { P, F, "v0", 1008, 1047 },       { P, F, "clipA", 1008, 1048 },
    { P, F, "clipB", 1008, 1049 },       { P, F, "lowcut", 1008, 1037 },   { P, F, "highcut", 1008, 1038 },
    { P, F, "gain", 1009, 1009 },        { P, B, "invert", 1009, 1050 },   { P, F, "clipping", 1009, 1028 },
    { P, F, "symmetry", 1009, 1029 },    { P, F, "offset", 1009, 1051 },   { P, B, "dynamic", 1009, 1052 },
    { P, F, "frequency", 1009, 1030 },   { P, F, "shelf", 1009, 1053 },    { P, F, "lowcut", 1009, 1037 },
    { P, F, "highcut", 1009, 1038 },
};

// The single nodes' settings are all coefficients, told apart by name.
std::vector<Setting> coefficients (std::vector<std::pair<const char*, Type>> names)
{
    std::vector<Setting> settings;
    for (const auto& [name, type] : names)
        settings.push_back ({ C, type, name, 0, 0 });
    return settings;
}

struct Node
{
    uint32_t type;
    int instance; // -1 for the single nodes
    std::vector<Setting> settings;
};

std::string describe (uint32_t memory, uint32_t position, uint32_t address, const std::vector<uint32_t>& path,
                      uint32_t type, const std::string& name)
{
    std::ostringstream out;
    out << "memory " << memory << " position " << position << " address " << address << " type " << type << " '"
        << name << "' path";
    for (const uint32_t node : path)
        out << " " << node;
    return out.str();
}

// Every record, keyed by (node type, instance, index within the node), described as text.
std::map<std::vector<int>, std::string> expectedRecords()
{
    const auto filter = [] (int i) { return Node { kFilter, i, kFilterSettings }; };
    const auto stage = [] (int i) { return Node { kStage, i, kStageSettings }; };
    const Node pot { kPot, -1, coefficients ({ { "position", I }, { "Rpot", F }, { "taper", I }, { "idxCW", I }, { "idxCCW", I } }) };
    const Node tone { kTone, -1, coefficients ({ { "position", I }, { "bassRpot", F }, { "bassTaper", I }, { "bassIdxCW", I },
                                                 { "bassIdxCCW", I }, { "midRpos", F }, { "midTaper", I }, { "midIdxCW", I },
                                                 { "midIdxCCW", I }, { "trebleRpos", F }, { "trebleTaper", I },
                                                 { "trebleIdxCW", I }, { "trebleIdxCCW", I } }) };
    std::vector<std::pair<const char*, Type>> powerNames;
    for (const char* name : { "Ri", "Ci", "Rb", "Vb", "Rg", "PresFreq", "PresLevel", "P", "Flow", "Fhigh", "Z0", "Zpeak",
                              "Zfrequency", "Zq", "ZLs", "ZRs", "feedback", "Rrectifier", "Csupply", "Vpp", "gain", "vg0",
                              "ip0", "sagFactor", "level", "clip" })
        powerNames.emplace_back (name, F);
    const Node power { kPower, -1, coefficients (powerNames) };
    const Node output { kOutput, -1, coefficients ({ { "normalize", F } }) };

    const std::vector<Node> chain = { filter (0), stage (0), filter (1), stage (1), filter (2), stage (2), filter (3), stage (3),
                                      filter (4), stage (4), filter (5), pot, tone, power, output };
    // Coefficient addresses in this order of (node, first setting, last setting + 1).
    const std::vector<std::tuple<Node, size_t, size_t>> addressOrder = {
        { filter (0), 0, 12 }, { stage (0), 0, 40 }, { filter (1), 0, 12 }, { stage (1), 0, 40 }, { filter (2), 0, 12 },
        { stage (2), 0, 40 },  { filter (3), 0, 12 }, { stage (3), 0, 40 }, { filter (4), 0, 12 }, { pot, 0, 5 },
        { tone, 0, 13 },       { power, 0, 25 },     { stage (4), 0, 40 },  { filter (5), 0, 12 }, { power, 25, 26 },
        { output, 0, 1 },
    };

    std::map<std::vector<int>, uint32_t> positions, addresses;
    uint32_t position = 0, coefficient = 0;
    for (const Node& node : chain)
        for (size_t k = 0; k < node.settings.size(); ++k)
            positions[{ (int) node.type, node.instance, (int) k }] = position++;
    for (const auto& [node, first, end] : addressOrder)
        for (size_t k = first; k < end; ++k)
            if (node.settings[k].memory == C)
                addresses[{ (int) node.type, node.instance, (int) k }] = coefficient++;

    std::map<std::vector<int>, std::string> records;
    for (const Node& node : chain)
    {
        uint32_t number = node.type == kFilter ? 1 + 5 * node.instance : 31 + 23 * node.instance;
        for (size_t k = 0; k < node.settings.size(); ++k)
        {
            const Setting& s = node.settings[k];
            const std::vector<int> key { (int) node.type, node.instance, (int) k };
            std::vector<uint32_t> path { node.type };
            if (node.instance >= 0)
            {
                path.push_back ((uint32_t) node.instance);
                if (s.group != 0)
                    path.push_back (s.group);
                path.push_back (s.id);
            }
            const uint32_t address = s.memory == C ? addresses.at (key) : 0x10000 + number++;
            records[key] = describe (s.memory, positions.at (key), address, path, s.type, s.name);
        }
    }
    return records;
}
} // namespace

TEST (AmpModelLayout, holdsEverySettingOfTheUnitsAmpModelsWhereTheUnitKeepsIt)
{
    const auto expected = expectedRecords();
    ASSERT_EQ (expected.size(), kAmpModelParameterCount);

    // The table's order: the six filter blocks, the five preamp stages, then the single nodes.
    std::map<std::vector<int>, int> seen;
    size_t index = 0;
    for (const uint32_t nodeType : { kFilter, kStage, kPot, kTone, kPower, kOutput })
    {
        const int instances = nodeType == kFilter ? 6 : nodeType == kStage ? 5 : 1;
        for (int instance = 0; instance < instances; ++instance)
            for (int k = 0; expected.count ({ (int) nodeType, nodeType <= kFilter ? instance : -1, k }) != 0; ++k, ++index)
            {
                ASSERT_LT (index, kAmpModelParameterCount);
                const auto& entry = AmpModelParameterTable[index];
                EXPECT_EQ (describe (entry.memory, entry.position, entry.address, entry.path, entry.valueType, entry.name),
                           expected.at ({ (int) nodeType, nodeType <= kFilter ? instance : -1, k }))
                    << "entry " << index;
            }
    }
    EXPECT_EQ (index, kAmpModelParameterCount);
}
