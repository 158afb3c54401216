#include "StockAmpModelGenerator.h"

#include "AmpModelLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace TovarekTools
{

namespace
{

constexpr double kSampleRate = 48000.0;
constexpr double kPi = 3.14159265358979323846;

// Word counts of the four segments: amp data, name and id, impulse, finishing filter.
constexpr size_t kAmpDataWords = 1024;
constexpr size_t kNameAndIdWords = 17;
constexpr size_t kImpulseWords = 2048;
constexpr size_t kFinishingFilterWords = 1024;
constexpr size_t kImpulseLength = 1024;
constexpr size_t kAddressCount = 256;
constexpr size_t kTextWords = 255;
constexpr size_t kNameCharacters = 16;

// What sets one stock amp apart: its circuit in a few numbers.
struct AmpVoice
{
    int preampStages;         // enabled preamp stages, 0 for a power amp alone
    double stageGain;         // gain of the first stage; later stages a little less
    double drive;             // 0 clean to 1 saturated
    double brightness;        // 0 dark to 1 bright
    double inputHighpass;     // Hz
    const char* preampValve;
    const char* toneStack;    // text of the tone-stack components
    int tonePosition;         // stage after which the tone stack sits
    const char* powerValve;
    int powerValveCount;
    double watts;
    double supplyVolts;
    bool valveRectifier;
    double speakerResonance;  // Hz
    double cabinetTop;        // Hz, where the speaker rolls off
};

struct StockAmpSource
{
    int fileIndex;        // the header's index; not the amp id
    uint32_t ampId;
    const char* ampName;  // the amp's own name, sent to the unit
    bool carriageReturns; // the impulse lines of this file end in "\r\n"
    bool extraCoefficients; // this file also sets coefficients 172 and 173
    AmpVoice voice;
};

const char* const kBritishStack = "R1=33k Rb=1M Rm=25k Rt=220k C1=470p C2=22n C3=22n";
const char* const kAmericanStack = "R1=100k Rb=250k Rm=10k Rt=250k C1=250p C2=100n C3=47n";
const char* const kTopBoostStack = "Rb=1M Rt=1M C1=100p C2=22n C3=47n Rcut=100k";
const char* const kBassStack = "R1=100k Rb=1M Rm=10k Rt=250k C1=500p C2=22n C3=10n Rbright=1M";
const char* const kModernStack = "R1=47k Rb=1M Rm=25k Rt=250k C1=500p C2=22n C3=22n";
const char* const kNoStack = "none";

// clang-format off
const StockAmpSource kSources[kStockAmpModelCount] = {
    //  N    id    own name        CR     172/173  stages gain  drive bright  inHP    preamp    tone stack       pos  power    n   watts  volts  vrect  speaker top
    {   40,  10,   "Plexi",        false, false, { 3,    38.0, 0.45, 0.70,  60.0,  "12AX7",  kBritishStack,   2,  "EL34",  4,  100.0, 460.0, false,  95.0, 5200.0 } },
    {   45,  12,   "Brit 800",     false, false, { 4,    42.0, 0.60, 0.65,  70.0,  "12AX7",  kBritishStack,   3,  "EL34",  2,   50.0, 440.0, false, 100.0, 5000.0 } },
    {   50,  13,   "Hot Brit",     false, false, { 5,    45.0, 0.80, 0.60,  80.0,  "12AX7",  kBritishStack,   3,  "EL34",  4,  100.0, 470.0, false, 100.0, 4800.0 } },
    {   15,  20,   "D Luxe",       false, false, { 2,    30.0, 0.25, 0.55,  40.0,  "12AX7",  kAmericanStack,  1,  "6V6GT", 2,   22.0, 420.0, true,   85.0, 5600.0 } },
    {   20,  21,   "'59 Bman",     false, false, { 3,    34.0, 0.40, 0.60,  45.0,  "12AY7",  kAmericanStack,  2,  "6L6GC", 2,   45.0, 430.0, true,   80.0, 5400.0 } },
    {   10,  23,   "US Clean",     false, false, { 2,    28.0, 0.10, 0.75,  35.0,  "12AX7",  kAmericanStack,  1,  "6L6GC", 4,  100.0, 460.0, false,  75.0, 6200.0 } },
    {   12,  24,   "65 Clean",     false, false, { 2,    29.0, 0.15, 0.70,  38.0,  "12AX7",  kAmericanStack,  1,  "6L6GC", 2,   40.0, 440.0, true,   78.0, 6000.0 } },
    {   16,  25,   "D Luxe2",      false, false, { 2,    32.0, 0.30, 0.50,  42.0,  "12AX7",  kAmericanStack,  1,  "6V6GT", 2,   22.0, 410.0, true,   88.0, 5300.0 } },
    {   30,  30,   "Top Boost",    false, false, { 3,    36.0, 0.35, 0.85,  55.0,  "ECC83",  kTopBoostStack,  2,  "EL84",  4,   30.0, 330.0, true,  110.0, 6400.0 } },
    {   31,  31,   "Top Boost 2",  false, false, { 3,    38.0, 0.45, 0.80,  55.0,  "ECC83",  kTopBoostStack,  2,  "EL84",  4,   30.0, 340.0, true,  105.0, 6100.0 } },
    {   25,  40,   "Rumble",       true,  false, { 2,    26.0, 0.20, 0.40,  25.0,  "12AX7",  kBassStack,      1,  "6550",  4,  300.0, 560.0, false,  55.0, 4200.0 } },
    {   55,  41,   "Marc IV Lead", false, true,  { 5,    48.0, 0.85, 0.65,  90.0,  "12AX7",  kModernStack,    1,  "6L6GC", 4,   85.0, 470.0, false, 100.0, 5000.0 } },
    {   56,  42,   "Marc IV EQ",   false, true,  { 4,    44.0, 0.70, 0.60,  85.0,  "12AX7",  kModernStack,    1,  "6L6GC", 4,   85.0, 470.0, false, 100.0, 5000.0 } },
    {   26,  43,   "Rumble Brite", true,  false, { 2,    28.0, 0.25, 0.65,  30.0,  "12AX7",  kBassStack,      1,  "6550",  4,  300.0, 560.0, false,  60.0, 4800.0 } },
    {   41,  668,  "Wendholt BE",  false, false, { 4,    44.0, 0.70, 0.70,  75.0,  "12AX7",  kBritishStack,   3,  "EL34",  4,  100.0, 470.0, false, 100.0, 5000.0 } },
    {   42,  669,  "Wendholt HBE", false, false, { 5,    47.0, 0.85, 0.65,  85.0,  "12AX7",  kBritishStack,   3,  "EL34",  4,  100.0, 470.0, false, 100.0, 4900.0 } },
    {   80,  70,   "Vostermil",    false, false, { 5,    46.0, 0.80, 0.55,  80.0,  "12AX7",  kModernStack,    3,  "KT88",  4,  120.0, 500.0, false, 100.0, 4800.0 } },
    {   60,  72,   "Recto",        false, false, { 5,    47.0, 0.90, 0.50,  90.0,  "12AX7",  kModernStack,    4,  "6L6GC", 4,  100.0, 480.0, true,   95.0, 4600.0 } },
    {   65,  73,   "5051",         false, false, { 5,    46.0, 0.85, 0.60,  85.0,  "12AX7",  kModernStack,    4,  "6L6GC", 4,  120.0, 480.0, false,  95.0, 4700.0 } },
    {   63,  74,   "SLO",          false, false, { 4,    45.0, 0.75, 0.55,  80.0,  "12AX7",  kModernStack,    3,  "6L6GC", 4,  100.0, 470.0, false,  95.0, 4800.0 } },
    {   70,  80,   "Arkhan",       false, false, { 5,    48.0, 0.90, 0.60,  95.0,  "12AX7",  kModernStack,    4,  "6L6GC", 4,  120.0, 490.0, false, 100.0, 4700.0 } },
    {  150,  90,   "SV Tee",       false, false, { 2,    24.0, 0.15, 0.45,  20.0,  "12AX7",  kBassStack,      1,  "6146",  6,  300.0, 660.0, false,  50.0, 4000.0 } },
    {  200,  990,  "Power EL34",   false, false, { 0,     1.0, 0.00, 0.50,  20.0,  "none",   kNoStack,        0,  "EL34",  4,  100.0, 460.0, false,  90.0, 5500.0 } },
    {  205,  991,  "Power 6L6",    false, false, { 0,     1.0, 0.00, 0.50,  20.0,  "none",   kNoStack,        0,  "6L6GC", 4,  100.0, 460.0, false,  85.0, 5700.0 } },
    {  210,  992,  "Power EL84",   false, false, { 0,     1.0, 0.00, 0.50,  20.0,  "none",   kNoStack,        0,  "EL84",  4,   30.0, 330.0, true,  105.0, 6000.0 } },
    {  215,  993,  "Power KT88",   false, false, { 0,     1.0, 0.00, 0.50,  20.0,  "none",   kNoStack,        0,  "KT88",  4,  150.0, 520.0, false,  90.0, 5400.0 } },
};
// clang-format on

// A second-order section at 48 kHz, normalised so that a0 = 1.
struct Biquad
{
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;

    double process (double x, double state[4]) const
    {
        const double y = b0 * x + b1 * state[0] + b2 * state[1] - a1 * state[2] - a2 * state[3];
        state[1] = state[0];
        state[0] = x;
        state[3] = state[2];
        state[2] = y;
        return y;
    }
};

Biquad normalised (double b0, double b1, double b2, double a0, double a1, double a2)
{
    return { b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0 };
}

Biquad lowPass (double frequency, double q)
{
    const double w = 2.0 * kPi * frequency / kSampleRate;
    const double alpha = std::sin (w) / (2.0 * q);
    const double c = std::cos (w);
    return normalised ((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

Biquad highPass (double frequency, double q)
{
    const double w = 2.0 * kPi * frequency / kSampleRate;
    const double alpha = std::sin (w) / (2.0 * q);
    const double c = std::cos (w);
    return normalised ((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

Biquad peak (double frequency, double q, double gainDb)
{
    const double a = std::pow (10.0, gainDb / 40.0);
    const double w = 2.0 * kPi * frequency / kSampleRate;
    const double alpha = std::sin (w) / (2.0 * q);
    const double c = std::cos (w);
    return normalised (1 + alpha * a, -2 * c, 1 - alpha * a, 1 + alpha / a, -2 * c, 1 - alpha / a);
}

// The six filter blocks of the chain: input high-pass, bright peak, coupling high-pass,
// treble roll-off, mid voicing, output low-pass. A power amp alone passes everything.
Biquad filterBlock (const AmpVoice& voice, uint32_t instance)
{
    if (voice.preampStages == 0)
        return {};
    switch (instance)
    {
        case 0: return highPass (voice.inputHighpass, 0.707);
        case 1: return peak (2500.0 + 1500.0 * voice.brightness, 0.8, 1.0 + 5.0 * voice.brightness);
        case 2: return highPass (90.0 + 60.0 * voice.drive, 0.6);
        case 3: return lowPass (7000.0 + 5000.0 * voice.brightness, 0.707);
        case 4: return peak (650.0 + 200.0 * voice.drive, 0.9, -2.0 - 4.0 * voice.drive);
        default: return lowPass (9000.0 + 3000.0 * voice.brightness, 0.6);
    }
}

double filterCoefficient (const Biquad& filter, const std::string& name)
{
    if (name == "b0") return filter.b0;
    if (name == "b1") return filter.b1;
    if (name == "b2") return filter.b2;
    if (name == "a0") return 1.0;
    if (name == "a1") return filter.a1;
    if (name == "a2") return filter.a2;
    return 0.0; // "b3": the blocks are second order
}

struct ValveConstants
{
    double mu, kg1, kp, kvb;
};

ValveConstants valveConstants (const char* valve)
{
    if (std::strcmp (valve, "12AY7") == 0)
        return { 45.0, 1460.0, 300.0, 300.0 };
    if (std::strcmp (valve, "12AT7") == 0)
        return { 60.0, 460.0, 300.0, 300.0 };
    return { 100.0, 1060.0, 600.0, 300.0 }; // 12AX7, ECC83
}

// Cathode resistor and bypass capacitor of each preamp stage.
constexpr double kCathodeResistor[5] = { 2700.0, 1500.0, 820.0, 10000.0, 39000.0 };
constexpr double kCathodeCapacitor[5] = { 0.68e-6, 22e-6, 0.47e-6, 1e-6, 0.22e-6 };

double stageCoefficient (const AmpVoice& voice, uint32_t stage, const std::string& name)
{
    const bool enabled = static_cast<int> (stage) < voice.preampStages;
    const ValveConstants valve = valveConstants (voice.preampValve);
    const double asymmetry = (stage % 2 == 0 ? 0.08 : -0.06) * (0.5 + voice.drive);

    if (name == "enable") return enabled ? 1.0 : 0.0;
    if (name == "x1") return -0.60 - 0.25 * (1.0 - voice.drive);
    if (name == "y1") return -0.55 - 0.20 * (1.0 - voice.drive);
    if (name == "x2") return 0.70 + 0.20 * (1.0 - voice.drive);
    if (name == "y2") return 0.62 + 0.18 * (1.0 - voice.drive);
    if (name == "clipping") return 0.35 + 0.5 * voice.drive + 0.03 * stage;
    if (name == "symmetry") return 0.5 + asymmetry;
    if (name == "frequency") return 1.0 / (2.0 * kPi * kCathodeResistor[stage] * kCathodeCapacitor[stage]);
    if (name == "feedback") return 0.02 + 0.04 * stage * (1.0 - voice.drive);
    if (name == "tig") return enabled ? voice.stageGain * (1.0 - 0.12 * stage) : 1.0;
    if (name == "mig") return valve.mu;
    if (name == "mgk") return valve.kg1;
    if (name == "mip") return valve.kp;
    if (name == "bip") return valve.kvb;
    if (name == "lowcut") return voice.inputHighpass + 15.0 * stage;
    if (name == "highcut") return 9000.0 + 4000.0 * voice.brightness - 600.0 * stage;
    if (name == "offsetNull") return stage % 2 == 0 ? 1.0 : 0.0;
    return 0.0;
}

double potentiometerCoefficient (const AmpVoice& voice, const std::string& name)
{
    const double position = voice.preampStages > 1 ? 1.0 : 0.0;
    if (name == "position") return position;
    if (name == "Rpot") return 1.0e6;
    if (name == "taper") return 2.0; // audio taper
    if (name == "idxCW") return position + 1.0;
    if (name == "idxCCW") return position;
    return 0.0;
}

double toneStackCoefficient (const AmpVoice& voice, const std::string& name)
{
    const bool bass = voice.toneStack == kBassStack;
    const bool american = voice.toneStack == kAmericanStack;
    if (name == "position") return voice.tonePosition;
    if (name == "bassRpot") return bass || !american ? 1.0e6 : 250.0e3;
    if (name == "bassTaper") return 2.0;
    if (name == "bassIdxCW") return 1.0;
    if (name == "bassIdxCCW") return 2.0;
    if (name == "midRpos") return american || bass ? 10.0e3 : 25.0e3;
    if (name == "midTaper") return 1.0;
    if (name == "midIdxCW") return 3.0;
    if (name == "midIdxCCW") return 4.0;
    if (name == "trebleRpos") return american || bass ? 250.0e3 : 220.0e3;
    if (name == "trebleTaper") return 2.0;
    if (name == "trebleIdxCW") return 5.0;
    if (name == "trebleIdxCCW") return 6.0;
    return 0.0;
}

double powerStageCoefficient (const AmpVoice& voice, const std::string& name)
{
    const bool pentode84 = std::strcmp (voice.powerValve, "EL84") == 0;
    if (name == "Ri") return 1.0e3;
    if (name == "Ci") return 0.022e-6;
    if (name == "Rb") return 220.0e3;
    if (name == "Vb") return pentode84 ? -11.0 : -0.085 * voice.supplyVolts;
    if (name == "Rg") return 1.5e3;
    if (name == "PresFreq") return 3000.0 + 1500.0 * voice.brightness;
    if (name == "PresLevel") return 0.5;
    if (name == "P") return voice.watts;
    if (name == "Flow") return 0.6 * voice.speakerResonance;
    if (name == "Fhigh") return 1.2 * voice.cabinetTop;
    if (name == "Z0") return 8.0;
    if (name == "Zpeak") return 35.0 + 0.05 * voice.watts;
    if (name == "Zfrequency") return voice.speakerResonance;
    if (name == "Zq") return 2.5;
    if (name == "ZLs") return 0.45e-3;
    if (name == "ZRs") return 6.2;
    if (name == "feedback") return voice.preampStages == 0 ? 0.0 : 0.15 - 0.1 * voice.drive;
    if (name == "Rrectifier") return voice.valveRectifier ? 200.0 : 10.0;
    if (name == "Csupply") return voice.valveRectifier ? 32e-6 : 100e-6;
    if (name == "Vpp") return voice.supplyVolts;
    if (name == "gain") return 1.0;
    if (name == "vg0") return pentode84 ? -8.0 : -0.06 * voice.supplyVolts;
    if (name == "ip0") return 0.025 * voice.powerValveCount / 2.0;
    if (name == "sagFactor") return voice.valveRectifier ? 0.45 : 0.15;
    if (name == "level") return 0.7;
    if (name == "clip") return 1.0;
    return 0.0;
}

double coefficientValue (const StockAmpSource& source, const TovarekMk2::AmpModelParameterEntry& entry)
{
    const std::string name = entry.name;
    switch (entry.path[0])
    {
        case TovarekMk2::kFilterBlockNode: return filterCoefficient (filterBlock (source.voice, entry.path[1]), name);
        case TovarekMk2::kPreampStageNode: return stageCoefficient (source.voice, entry.path[1], name);
        case TovarekMk2::kPotentiometerNode: return potentiometerCoefficient (source.voice, name);
        case TovarekMk2::kToneStackNode: return toneStackCoefficient (source.voice, name);
        case TovarekMk2::kPowerStageNode: return powerStageCoefficient (source.voice, name);
        default: return source.voice.preampStages == 0 ? 1.0 : 0.5; // output normalisation
    }
}

uint32_t floatBits (double value)
{
    const float single = static_cast<float> (value);
    uint32_t bits = 0;
    std::memcpy (&bits, &single, sizeof (bits));
    return bits;
}

std::string componentValue (double value, const char* unit)
{
    struct Prefix { double scale; const char* symbol; };
    static const Prefix prefixes[] = { { 1e6, "M" }, { 1e3, "k" }, { 1.0, "" }, { 1e-6, "u" }, { 1e-9, "n" }, { 1e-12, "p" } };
    for (const auto& prefix : prefixes)
    {
        if (value >= prefix.scale)
        {
            char text[32];
            std::snprintf (text, sizeof (text), "%g%s%s", value / prefix.scale, prefix.symbol, unit);
            return text;
        }
    }
    return "0";
}

void append (std::string& text, const char* format, ...) __attribute__ ((format (printf, 2, 3)));

void append (std::string& text, const char* format, ...)
{
    char line[256];
    va_list args;
    va_start (args, format);
    std::vsnprintf (line, sizeof (line), format, args);
    va_end (args);
    text += line;
}

std::string preampDescription (const AmpVoice& voice)
{
    if (voice.preampStages == 0)
        return "Power amp only; input Rg=1M";
    std::string text;
    for (int stage = 0; stage < voice.preampStages; ++stage)
        append (text, "V%d%c %s Rp=100k Rk=%s Ck=%s; ", stage / 2 + 1, 'A' + stage % 2, voice.preampValve,
                componentValue (kCathodeResistor[stage], "").c_str(), componentValue (kCathodeCapacitor[stage], "").c_str());
    append (text, "Coupling 22n/1M; Gain pot 1M audio");
    return text;
}

std::string powerDescription (const AmpVoice& voice)
{
    std::string text;
    append (text, "Tone stack: %s; PI 12AX7 long-tail; Power %dx%s %gW B+=%gV; Rectifier %s; OT Z=8R",
            voice.toneStack, voice.powerValveCount, voice.powerValve, voice.watts, voice.supplyVolts,
            voice.valveRectifier ? "valve" : "solid state");
    return text;
}

// A speaker and microphone response: a band-limited cascade driven by an impulse and a short
// decaying noise burst (the cabinet's early reflections), then faded out and scaled to a 0.9 peak.
std::vector<float> speakerImpulse (const AmpVoice& voice, uint32_t seed)
{
    const Biquad cascade[] = {
        highPass (0.8 * voice.speakerResonance, 0.707),
        peak (voice.speakerResonance * 1.2, 1.4, 5.0),
        peak (2200.0 + 1200.0 * voice.brightness, 1.2, 4.0),
        lowPass (voice.cabinetTop, 0.707),
        lowPass (voice.cabinetTop * 1.3, 0.9),
    };
    double states[5][4] = {};

    uint32_t state = seed;
    auto noise = [&state]
    {
        state = state * 1664525u + 1013904223u;
        return static_cast<double> (state >> 8) / 8388608.0 - 1.0;
    };

    std::vector<double> response (kImpulseLength);
    double peakLevel = 0.0;
    for (size_t n = 0; n < kImpulseLength; ++n)
    {
        double x = (n == 0 ? 1.0 : 0.0) + 0.25 * noise() * std::exp (-static_cast<double> (n) / 96.0);
        for (size_t f = 0; f < 5; ++f)
            x = cascade[f].process (x, states[f]);
        const double fade = n < 768 ? 1.0 : 0.5 * (1.0 + std::cos (kPi * static_cast<double> (n - 768) / 256.0));
        response[n] = x * fade * std::exp (-static_cast<double> (n) / 300.0);
        peakLevel = std::max (peakLevel, std::fabs (response[n]));
    }

    std::vector<float> samples (kImpulseLength);
    for (size_t n = 0; n < kImpulseLength; ++n)
        samples[n] = static_cast<float> (0.9 * response[n] / peakLevel);
    return samples;
}

// Word 0 is 1.0 (the dry path); a few small taps after it smooth the top end.
std::vector<uint32_t> finishingFilter (const AmpVoice& voice)
{
    std::vector<uint32_t> words (kFinishingFilterWords, 0);
    words[0] = floatBits (1.0);
    for (size_t k = 1; k < 16; ++k)
        words[k] = floatBits (-0.03 * (1.0 - voice.brightness) * std::pow (0.6, static_cast<double> (k)) * std::cos (0.9 * k));
    return words;
}

void appendText (std::vector<uint32_t>& words, const std::string& text, size_t capacity)
{
    if (text.size() > capacity)
    {
        std::fprintf (stderr, "Text longer than %zu characters: %s\n", capacity, text.c_str());
        std::abort();
    }
    for (size_t i = 0; i < capacity; ++i)
        words.push_back (i < text.size() ? static_cast<uint8_t> (text[i]) : 0u);
}

std::vector<uint32_t> ampDataSegment (const StockAmpSource& source)
{
    std::vector<uint32_t> values (kAddressCount, 0);
    for (const auto& entry : TovarekMk2::AmpModelParameterTable)
        if (entry.memory == TovarekMk2::kCoefficientMemory)
            values[entry.address] = floatBits (coefficientValue (source, entry));
    if (source.extraCoefficients)
    {
        values[172] = floatBits (1.0);  // second channel voicing on
        values[173] = floatBits (0.35); // its blend
    }

    std::vector<uint32_t> words;
    for (uint32_t address = 0; address < kAddressCount; ++address)
    {
        words.push_back (address);
        words.push_back (values[address]);
    }
    appendText (words, preampDescription (source.voice), kTextWords);
    words.push_back (0);
    appendText (words, powerDescription (source.voice), kTextWords);
    words.push_back (0);
    return words;
}

std::vector<uint32_t> nameAndIdSegment (const StockAmpSource& source)
{
    std::vector<uint32_t> words { source.ampId };
    appendText (words, source.ampName, kNameCharacters);
    return words;
}

std::vector<uint32_t> impulseSegment (const StockAmpSource& source, size_t row)
{
    std::vector<uint32_t> words;
    for (uint32_t channel = 0; channel < 2; ++channel)
        for (float sample : speakerImpulse (source.voice, 0x5EED0000u + static_cast<uint32_t> (row) * 2 + channel))
            words.push_back (floatBits (sample));
    return words;
}

void appendSegment (std::string& file, int number, const std::vector<uint32_t>& words, bool carriageReturns)
{
    append (file, "# Data Segment %d Start - Do Not Delete\n", number);
    for (uint32_t word : words)
        append (file, carriageReturns ? "0x%08x\r\n" : "0x%08x\n", word);
    append (file, "# Data Segment %d End - Do Not Delete\n", number);
}

} // namespace

std::string makeStockAmpModelFile (size_t row)
{
    if (row >= kStockAmpModelCount)
        return {};
    const StockAmpSource& source = kSources[row];

    const std::vector<uint32_t> segments[] = {
        ampDataSegment (source),
        nameAndIdSegment (source),
        impulseSegment (source, row),
        finishingFilter (source.voice),
    };
    const size_t expectedWords[] = { kAmpDataWords, kNameAndIdWords, kImpulseWords, kFinishingFilterWords };

    std::string file;
    append (file, "# File Type: Amp_Model data, Index = %d\n\n\n\n", source.fileIndex);
    append (file, "Data Segment 0: %zu bytes excluding CRC\n\n", kAmpDataWords * 4);
    for (int i = 0; i < 4; ++i)
    {
        if (segments[i].size() != expectedWords[i])
        {
            std::fprintf (stderr, "Segment %d of row %zu has %zu words\n", i, row, segments[i].size());
            std::abort();
        }
        if (i > 0)
            file += "\n\n";
        appendSegment (file, i, segments[i], source.carriageReturns && i == 2);
    }
    file += "\n";
    return file;
}

std::string stockAmpModelFileName (size_t row)
{
    char name[32];
    std::snprintf (name, sizeof (name), "StockAmpModel%02zu.txt", row);
    return name;
}

} // namespace TovarekTools
