// tessaly-cli languages, run from the layouts the programs are found in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/test_folder.h"

namespace {

namespace fs = std::filesystem;

using tessaly::testing::CommandResult;

// The command's standard output and error together.
CommandResult runCommand(const std::string& command)
{
    return tessaly::testing::runCommand(command + " 2>&1");
}

class LanguagesCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* bin = std::getenv("TESSALY_BIN_DIR");
        const char* data = std::getenv("TESSALY_DATA_DIR");
        ASSERT_TRUE(bin && data) << "TESSALY_BIN_DIR and TESSALY_DATA_DIR must be set";
        m_bin = bin;
        m_data = data;
        m_root = tessaly::testing::freshTestFolder("tessaly-layout");
        fs::create_directories(m_root / "bin");
        fs::copy_file(m_bin / "tessaly-cli", m_root / "bin" / "tessaly-cli");
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path m_bin, m_data, m_root;
};

TEST_F(LanguagesCommandTest, FindsTheDataFolderBesideTheProgram)
{
    fs::create_directories(m_root / "share" / "tessaly");
    for (const char* name : {"english.lng", "deutsch.lng", "russian.lng"}) {
        fs::copy_file(m_data / name, m_root / "share" / "tessaly" / name);
    }
    const CommandResult r = runCommand((m_root / "bin" / "tessaly-cli").string() + " languages");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Program folder: " + (m_root / "share" / "tessaly").string()),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("english.lng"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Deutsch"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9"),
              std::string::npos)
        << r.out;
}

TEST_F(LanguagesCommandTest, PrefersLanguageFilesBesideTheProgram)
{
    fs::create_directories(m_root / "share" / "tessaly");
    fs::copy_file(m_data / "english.lng", m_root / "share" / "tessaly" / "english.lng");
    std::ofstream(m_root / "bin" / "mine.lng") << "Mine\ntext\n";
    const CommandResult r = runCommand((m_root / "bin" / "tessaly-cli").string() + " languages");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Mine"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("english.lng"), std::string::npos) << r.out;
}

// A named pipe where a language file belongs is passed over at once: neither the
// listing nor a command that reads its texts from english.lng waits for a writer.
TEST_F(LanguagesCommandTest, ANamedPipeAmongTheLanguageFilesHoldsNothingUp)
{
    std::ofstream(m_root / "bin" / "mine.lng") << "Mine\ntext\n";
    ASSERT_EQ(::mkfifo((m_root / "bin" / "english.lng").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((m_root / "bin" / "other.lng").c_str(), 0600), 0);
    const std::string cli = "timeout -s KILL 10 " + (m_root / "bin" / "tessaly-cli").string();
    const CommandResult r = runCommand(cli + " languages");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Mine"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("english.lng"), std::string::npos) << r.out;
    const CommandResult map = runCommand(cli + " map " + (m_root / "none.log").string());
    EXPECT_EQ(map.status, 2) << map.out;
    EXPECT_NE(map.out.find("none.log"), std::string::npos) << map.out;
}

TEST_F(LanguagesCommandTest, SaysSoWhenThereIsNone)
{
    const CommandResult r = runCommand((m_root / "bin" / "tessaly-cli").string() + " languages");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("no language files"), std::string::npos) << r.out;
}

TEST_F(LanguagesCommandTest, InstalledProgramFindsItsLanguageFiles)
{
    const fs::path prefix = m_root / "prefix";
    const CommandResult install =
        runCommand(std::string(TESSALY_CMAKE_COMMAND) + " --install \"" + TESSALY_BUILD_DIR +
                   "\" --prefix \"" + prefix.string() + "\"");
    ASSERT_EQ(install.status, 0) << install.out;
    const CommandResult r = runCommand((prefix / "bin" / "tessaly-cli").string() + " languages");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find((prefix / "share" / "tessaly").string()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("english.lng"), std::string::npos) << r.out;
}

}  // namespace
