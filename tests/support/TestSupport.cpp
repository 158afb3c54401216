#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace TestSupport
{

std::string makeTempDirectory (const std::string& testName)
{
    namespace fs = std::filesystem;
    const char* base = std::getenv ("TOVAREK_TEST_TMP");
    fs::path dir = fs::path (base != nullptr ? base : fs::temp_directory_path().string())
                   / ("tovarek-" + std::to_string (::getpid()) + "-" + testName);
    fs::remove_all (dir);
    fs::create_directories (dir);
    return dir.string();
}

std::vector<uint8_t> readFileBytes (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    return std::vector<uint8_t> (std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>());
}

void writeFileBytes (const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out (path, std::ios::binary | std::ios::trunc);
    out.write (reinterpret_cast<const char*> (bytes.data()), static_cast<std::streamsize> (bytes.size()));
}

int runCommand (const std::string& command)
{
    const int status = std::system (command.c_str());
    return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
}

} // namespace TestSupport
