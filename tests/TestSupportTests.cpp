// The test support library itself: what it promises every test.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace
{
const char* const kChildRole = std::getenv ("TOVAREK_TEMP_CHILD");

// In the child run, a folder made outside any test, as one for a whole suite would be.
const std::string kSuiteFolder = kChildRole != nullptr ? TestSupport::makeTempDirectory ("suite") : "";
} // namespace

// This program runs itself with TOVAREK_TEST_TMP pointing at an empty folder, once with a test that
// passes and once with one that fails: both leave the folder empty.
TEST (TempDirectories, goWhenTheirTestEndsPassOrFail)
{
    if (kChildRole != nullptr) // the child run
    {
        const std::string dir = TestSupport::makeTempDirectory ("test");
        TestSupport::writeFileBytes (dir + "/file", { 1, 2, 3 });
        EXPECT_TRUE (fs::is_regular_file (dir + "/file"));
        EXPECT_TRUE (fs::is_directory (kSuiteFolder)) << "the suite's folder lasts while its tests run";
        EXPECT_STREQ (kChildRole, "pass");
        return;
    }

    const std::string base = TestSupport::makeTempDirectory ("parent");
    const std::string self = fs::read_symlink ("/proc/self/exe").string();
    const std::pair<const char*, int> runs[] = { { "pass", 0 }, { "fail", 1 } };
    for (const auto& [role, status] : runs)
    {
        const std::string command = "TOVAREK_TEST_TMP='" + base + "' TOVAREK_TEMP_CHILD=" + role
                                    + " '" + self + "' --gtest_filter=TempDirectories.goWhenTheirTestEndsPassOrFail > /dev/null 2>&1";
        EXPECT_EQ (TestSupport::runCommand (command), status) << role;
        EXPECT_TRUE (fs::is_empty (base)) << role << ": " << (fs::is_empty (base) ? "" : fs::directory_iterator (base)->path().string());
    }
}
