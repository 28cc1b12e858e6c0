#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
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

}  // namespace tessaly::testing
