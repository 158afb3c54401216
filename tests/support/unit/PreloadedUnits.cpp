// Plugs simulated units into the stand-in's bus when the library is loaded, so that a program
// started with LD_PRELOAD=libhidapi_simulated_unit.so finds them through the hidapi functions.
//
//   TOVAREK_SIM_UNITS              number of units (default 1, at most 8)
//   TOVAREK_SIM_SYSTEM_VERSION     system firmware "major.minor.patch" (default 4.1.0)
//   TOVAREK_SIM_DSP_VERSION        DSP firmware (default 4.2.0)
//   TOVAREK_SIM_PRODUCT_ID         USB product id, decimal or 0x hex (default 0x003F)
//   TOVAREK_SIM_REPORT_DELAY_US    time between reports (default 1000, as USB frames)
//   TOVAREK_SIM_RESTART_DELAY_MS   time off the bus after a firmware update (default 3000)
#include "SimulatedUnit.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr long kMaxUnits = 8;

// Never destroyed: the host may still talk to the units while statics are torn down.
std::vector<std::unique_ptr<SimUnit::SimulatedUnit>>* preloadedUnits = nullptr;

long numberFromEnvironment (const char* name, long fallback, long low, long high)
{
    const char* text = std::getenv (name);

    if (text == nullptr || *text == '\0')
        return fallback;

    char* end = nullptr;
    const long value = std::strtol (text, &end, 0);
    return (end == nullptr || *end != '\0' || value < low || value > high) ? fallback : value;
}

SimUnit::Version versionFromEnvironment (const char* name, SimUnit::Version fallback)
{
    const char* text = std::getenv (name);
    unsigned major = 0, minor = 0, patch = 0;

    if (text == nullptr || std::sscanf (text, "%u.%u.%u", &major, &minor, &patch) != 3 || major > 255 || minor > 255 || patch > 255)
        return fallback;

    return { static_cast<uint8_t> (major), static_cast<uint8_t> (minor), static_cast<uint8_t> (patch) };
}

__attribute__ ((constructor)) void plugPreloadedUnits()
{
    SimUnit::UnitOptions options;
    options.systemVersion = versionFromEnvironment ("TOVAREK_SIM_SYSTEM_VERSION", options.systemVersion);
    options.dspVersion = versionFromEnvironment ("TOVAREK_SIM_DSP_VERSION", options.dspVersion);
    options.description.productId = static_cast<uint16_t> (numberFromEnvironment ("TOVAREK_SIM_PRODUCT_ID", 0x003F, 0, 0xFFFF));
    options.reportDelay = std::chrono::microseconds (numberFromEnvironment ("TOVAREK_SIM_REPORT_DELAY_US", 1000, 0, 1000000));
    options.restartDelay = std::chrono::milliseconds (numberFromEnvironment ("TOVAREK_SIM_RESTART_DELAY_MS", 3000, 0, 600000));
    const long count = numberFromEnvironment ("TOVAREK_SIM_UNITS", 1, 0, kMaxUnits);

    preloadedUnits = new std::vector<std::unique_ptr<SimUnit::SimulatedUnit>>();
    auto* units = preloadedUnits;

    for (long i = 0; i < count; ++i)
    {
        options.description.serial = L"SIM" + std::to_wstring (i + 1);
        options.description.product = L"Tovarek Mk2";
        units->push_back (std::make_unique<SimUnit::SimulatedUnit> (options));
        units->back()->plug();
    }
}
} // namespace
