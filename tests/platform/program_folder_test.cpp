#include "platform/program_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tessaly {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolder, ExecutableFolderOnlyWhenItHoldsLanguageFiles)
{
    const fs::path root = fs::temp_directory_path() / ("tessaly-pf-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "bin" / "notes.lng.txt");  // a folder, not a language file
    fs::create_directories(root / "bin" / "folder.lng");
    fs::create_directories(root / "share" / "tessaly");
    std::ofstream(root / "bin" / "readme.txt") << "x";

    EXPECT_EQ(programFolderFor(root / "bin"), root / "share" / "tessaly");
    EXPECT_FALSE(holdsLanguageFiles(root / "bin"));

    std::ofstream(root / "bin" / "Deutsch.LNG") << "Deutsch\n";
    EXPECT_TRUE(holdsLanguageFiles(root / "bin"));
    EXPECT_EQ(programFolderFor(root / "bin"), root / "bin");
    EXPECT_FALSE(holdsLanguageFiles(root / "missing"));
    fs::remove_all(root);
}

TEST(ProgramFolder, BuildTreeFindsTheDataFolder)
{
    const char* data = std::getenv("TESSALY_DATA_DIR");
    ASSERT_NE(data, nullptr) << "TESSALY_DATA_DIR is not set";
    // The tests run from build/bin, which holds no language files.
    EXPECT_TRUE(fs::equivalent(programFolder(), data));
}

}  // namespace
}  // namespace tessaly
