#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSupport
{

namespace
{
namespace fs = std::filesystem;

// Removes the folders makeTempDirectory made: a test's when that test ends, pass or fail (the
// fixture is gone by then), and any made outside a test (a whole suite's) when the program ends.
class TempDirectoryRemover : public testing::EmptyTestEventListener
{
public:
    static TempDirectoryRemover& instance()
    {
        // The listener list owns it and deletes it after the program's last event.
        static auto* const remover = [] {
            auto* created = new TempDirectoryRemover;
            testing::UnitTest::GetInstance()->listeners().Append (created);
            return created;
        }();
        return *remover;
    }

    void add (const fs::path& dir)
    {
        std::lock_guard<std::mutex> lock (_mutex);
        (testing::UnitTest::GetInstance()->current_test_info() != nullptr ? _ofTest : _ofProgram).insert (dir);
    }

    void OnTestEnd (const testing::TestInfo&) override { removeAll (_ofTest); }
    void OnTestProgramEnd (const testing::UnitTest&) override { removeAll (_ofProgram); }

private:
    void removeAll (std::set<fs::path>& dirs)
    {
        std::lock_guard<std::mutex> lock (_mutex);
        for (const auto& dir : dirs)
        {
            std::error_code error;
            fs::remove_all (dir, error);
            if (error) // the test's result is already out: say so beside it
                std::fprintf (stderr, "cannot remove %s: %s\n", dir.c_str(), error.message().c_str());
        }
        dirs.clear();
    }

    std::mutex _mutex; // guards both sets
    std::set<fs::path> _ofTest, _ofProgram;
};
} // namespace

std::string makeTempDirectory (const std::string& testName)
{
    const char* base = std::getenv ("TOVAREK_TEST_TMP");
    fs::path dir = fs::path (base != nullptr ? base : fs::temp_directory_path().string())
                   / ("tovarek-" + std::to_string (::getpid()) + "-" + testName);
    TempDirectoryRemover::instance().add (dir);
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
