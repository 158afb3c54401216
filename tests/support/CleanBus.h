#pragma once

#include "SimulatedHidBus.h"

#include <gtest/gtest.h>

namespace TestSupport
{

// A test fixture base that empties the simulated bus before any member of the fixture is built
// and after all of them are gone, so no unit of one test leaks into the next.
struct CleanBus : ::testing::Test
{
    CleanBus() { SimHid::Bus::instance().reset(); }
    ~CleanBus() override { SimHid::Bus::instance().reset(); }
};

} // namespace TestSupport
