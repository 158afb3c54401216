#include "FXPanelLayouts.h"

namespace TovarekMk2::FXPanelLayouts
{

namespace
{

// Headers, spacers and the amp-model and cabinet rows bind no parameter.
constexpr TovarekMk2ParamID kNone = TovarekMk2ParamID (0);

// clang-format off
// Indexed by panel: the BlockID order (AMP, CAB, BST, REV, ECO, GTE, CMP, EQ), then the
// global settings. Items: kind, parameter, caption, width, then the switch options.
std::vector<Layout> makeLayouts()
{
    return {
        { // AMP
            { { Header,      kNone,                "AMP",        4   } },
            { { AmpModelRow, kNone,                nullptr,      4   } },
            { { Spacer,      kNone,                nullptr,      0.5 },
              { Knob,        kParamAmpLevel,       "LEVEL",      1   },
              { Knob,        kParamAmpDamping,     "DAMPING",    1   },
              { Knob,        kParamAmpResonance,   "RESONANCE",  1   } },
        },
        { // CAB
            { { Header,      kNone,                "CABINET",    4   } },
            { { CabinetRow,  kNone,                nullptr,      4   } },
            { { Knob,        kParamCabRolloff,     "ROLLOFF",    1   },
              { Knob,        kParamCabPeaking,     "PEAKING",    1   },
              { Knob,        kParamCabBottom,      "BOTTOM",     1   },
              { Knob,        kParamCabAir,         "AIR",        1   } },
        },
        { // BST
            { { Header,      kNone,                "BOOST",      4   } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamBoostType,      nullptr,      2   } },
            { { Knob,        kParamBoostDrive,     "DRIVE",      1   },
              { Knob,        kParamBoostTone,      "TONE",       1   },
              { Knob,        kParamBoostLevel,     "LEVEL",      1   },
              { Knob,        kParamBoostPostLevel, "POSTLVL",    1   } },
        },
        { // REV
            { { Header,      kNone,                "REVERB",     4   } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamReverbType,     nullptr,      2   } },
            { { Knob,        kParamReverbDecay,    "DECAY",      1   },
              { Knob,        kParamReverbDryLevel, "DRY LEVEL",  1   },
              { Spacer,      kNone,                nullptr,      1   },
              { Knob,        kParamReverbLevel,    "LEVEL",      1   } },
            { { Knob,        kParamReverbLoDamp,   "LO DAMP",    1   },
              { Knob,        kParamReverbHiDamp,   "HI DAMP",    1   },
              { Knob,        kParamReverbDiffusion,"DIFFUSION",  1   },
              { Knob,        kParamReverbPredelay, "PREDELAY",   1   } },
        },
        { // ECO
            { { Header,      kNone,                "ECHO",       4   } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamEchoType,       nullptr,      2   } },
            { { Spacer,      kNone,                nullptr,      0.5 },
              { Knob,        kParamEchoDelay,      "DELAY",      1   },
              { Knob,        kParamEchoRepeats,    "REPEATS",    1   },
              { Knob,        kParamEchoLevel,      "LEVEL",      1   } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamEchoTapMode,    "TAP MODE:",  2   } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Switch,      kParamEchoTails,      "TAILS",      1,  "ON",   1, "OFF", 0 },
              { Switch,      kParamEchoSpillover,  "SPILLOVER",  1,  "ON",   1, "OFF", 0 } },
        },
        { // GTE
            { { Header,      kNone,                "NOISE GATE", 4   } },
            { { Knob,        kParamGateThreshold,  "THRESH",     1   },
              { Knob,        kParamGateRatio,      "RATIO",      1   },
              { Knob,        kParamGateAttack,     "ATTACK",     1   },
              { Knob,        kParamGateRelease,    "RELEASE",    1   } },
        },
        { // CMP
            { { Header,      kNone,                "COMPRESSOR", 4   } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamCompType,       nullptr,      2   } },
            { { Spacer,      kNone,                nullptr,      0.5 },
              { Knob,        kParamCompAmount,     "AMOUNT",     1   },
              { Knob,        kParamCompAttack,     "ATTACK",     1   },
              { Knob,        kParamCompLevel,      "LEVEL",      1   } },
            { { Spacer,      kNone,                nullptr,      0.5 },
              { Knob,        kParamCompRelease,    "RELEASE",    1   },
              { Spacer,      kNone,                nullptr,      1   },
              { Switch,      kParamCompDetector,   "DETECTOR",   1,  "PEAK", 0, "RMS", 1 } },
        },
        { // EQ
            { { Header,       kNone,               "PreTone:",   4   } },
            { { Spacer,       kNone,               nullptr,      0.5 },
              { InlineSwitch, kParamPreToneOn,     nullptr,      1,  "ON",   1, "OFF",  0 },
              { Choice,       kParamPreToneType,   nullptr,      2   } },
            { { Knob,         kParamPreToneRolloff,"ROLLOFF",    1   },
              { Knob,         kParamPreToneLevel,  "LEVEL",      1   },
              { Knob,         kParamPreToneFreq,   "FREQ",       1   },
              { Knob,         kParamPreToneQ,      "Q",          1   } },
            { { Header,       kNone,               "Parametric EQ 1:", 4 } },
            { { Spacer,       kNone,               nullptr,      0.5 },
              { Choice,       kParamEq1Type,       nullptr,      2   },
              { InlineSwitch, kParamEq1PrePost,    nullptr,      1,  "PRE",  0, "POST", 1 } },
            { { Switch,       kParamEq1On,         "ENABLE",     1,  "ON",   1, "OFF",  0 },
              { Knob,         kParamEq1Level,      "LEVEL",      1   },
              { Knob,         kParamEq1Freq,       "FREQ",       1   },
              { Knob,         kParamEq1Q,          "Q",          1   } },
            { { Header,       kNone,               "Parametric EQ 2:", 4 } },
            { { Spacer,       kNone,               nullptr,      0.5 },
              { Choice,       kParamEq2Type,       nullptr,      2   },
              { InlineSwitch, kParamEq2PrePost,    nullptr,      1,  "PRE",  0, "POST", 1 } },
            { { Switch,       kParamEq2On,         "ENABLE",     1,  "ON",   1, "OFF",  0 },
              { Knob,         kParamEq2Level,      "LEVEL",      1   },
              { Knob,         kParamEq2Freq,       "FREQ",       1   },
              { Knob,         kParamEq2Q,          "Q",          1   } },
            { { Header,       kNone,               "Parametric EQ 3:", 4 } },
            { { Spacer,       kNone,               nullptr,      0.5 },
              { Choice,       kParamEq3Type,       nullptr,      2   },
              { InlineSwitch, kParamEq3PrePost,    nullptr,      1,  "PRE",  0, "POST", 1 } },
            { { Switch,       kParamEq3On,         "ENABLE",     1,  "ON",   1, "OFF",  0 },
              { Knob,         kParamEq3Level,      "LEVEL",      1   },
              { Knob,         kParamEq3Freq,       "FREQ",       1   },
              { Knob,         kParamEq3Q,          "Q",          1   } },
        },
        { // global settings
            { { Header,      kNone,                "GLOBAL SETTINGS",  4 } },
            { { Knob,        kParamMainLevel,      "MAINLVL",    1   },
              { Knob,        kParamXlrLevel,       "XLRLVL",     1   },
              { Spacer,      kNone,                nullptr,      1   },
              { Switch,      kParamLockPots,       "LOCK POTS",  1,  "LOCKED", 1, "UNLOCKED", 0 } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamCabinetOut,     "CABINET OUT:",     2 } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamLevelTarget,    "LEVEL:",           2 } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamFootswitchAMode,"FS A MODE:",       2 } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamFootswitchBMode,"FS B MODE:",       2 } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamFxLevelSelect,  "FX LEVEL SELECT:", 2 } },
            { { Spacer,      kNone,                nullptr,      1   },
              { Choice,      kParamLoadMode,       "LOAD MODE:",       2 } },
        },
    };
}
// clang-format on

} // namespace

const Layout* getLayout (uint32_t panelIndex)
{
    // Built on first use rather than at static initialisation, so no other static's
    // constructor can see it half made.
    static const std::vector<Layout> layouts = makeLayouts();
    return panelIndex < layouts.size() ? &layouts[panelIndex] : nullptr;
}

} // namespace TovarekMk2::FXPanelLayouts
