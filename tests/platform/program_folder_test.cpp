#include "platform/program_folder.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tessaly {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolder, ExecutableFolderOnlyWhenItHoldsLanguageFiles)
{
    const fs::path root = tessaly::testing::freshTestFolder("tessaly-pf");
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

TEST(ProgramFolder, AStoredPathWithoutLanguageFilesGivesWayToTheProgramFolder)
{
    const fs::path root = tessaly::testing::freshTestFolder("tessaly-pf");
    fs::create_directories(root / "old");
    fs::create_directories(root / "program");
    std::ofstream(root / "program" / "english.lng") << "English\n";

    // The folder of an earlier build, since emptied: the program's own files win.
    EXPECT_EQ(chooseProgramFolder((root / "old").string(), root / "program"), root / "program");
    EXPECT_EQ(chooseProgramFolder((root / "gone").string(), root / "program"), root / "program");
    EXPECT_EQ(chooseProgramFolder("", root / "program"), root / "program");
    // A stored folder that holds language files is kept, even beside a program folder.
    std::ofstream(root / "old" / "deutsch.lng") << "Deutsch\n";
    EXPECT_EQ(chooseProgramFolder((root / "old").string(), root / "program"), root / "old");
    // With nothing better to offer, the stored folder stands, so its failure is reported.
    EXPECT_EQ(chooseProgramFolder((root / "gone").string(), root / "none"), root / "gone");
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
