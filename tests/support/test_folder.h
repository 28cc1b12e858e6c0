#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tessaly::testing {

// An empty folder below the system's temporary folder, named after the prefix, the
// process and the running test, so that tests running side by side never meet.
// The caller removes it when the test ends.
inline std::filesystem::path freshTestFolder(const std::string& prefix)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() /
                            (prefix + "-" + std::to_string(::getpid()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// The whole file's bytes; empty when it cannot be read.
inline std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The file's size; 0 when it has none.
inline std::uint64_t sizeOf(const std::string& path)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

// What a shell command line printed on its standard output, and its exit status
// (-1 when it did not exit by itself).
struct CommandResult
{
    int status = -1;
    std::string out;
};

inline CommandResult runCommand(const std::string& command)
{
    CommandResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

}  // namespace tessaly::testing
