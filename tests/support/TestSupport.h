#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport
{

// A fresh, empty directory for one test's files, under TOVAREK_TEST_TMP or else the system's
// temporary directory (TMPDIR). It is removed when the test ends, pass or fail; one made outside a
// test (for a whole suite) when the program ends.
std::string makeTempDirectory (const std::string& testName);

std::vector<uint8_t> readFileBytes (const std::string& path);
void writeFileBytes (const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command and returns its exit status (for independent tools: sox, python3).
int runCommand (const std::string& command);

} // namespace TestSupport
