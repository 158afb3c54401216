#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport
{

// A fresh, empty directory under the build tree for one test's files.
std::string makeTempDirectory (const std::string& testName);

std::vector<uint8_t> readFileBytes (const std::string& path);
void writeFileBytes (const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command and returns its exit status (for independent tools: sox, python3).
int runCommand (const std::string& command);

} // namespace TestSupport
