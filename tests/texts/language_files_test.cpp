// Checks the language files that ship with the programs, as copied into the data folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "texts/language_table.h"
#include "texts/text_encoding.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kLastTextId = 195;
// Ids that no window or message uses; their lines only keep the numbering.
const std::set<std::uint32_t> kUnusedIds = {0,   11,  68,  101, 102, 103, 104, 105,
                                            106, 107, 108, 109, 110, 113, 114, 115,
                                            118, 123, 124, 125, 152,
                                            // held for texts to come, a block each
                                            164, 165, 166,
                                            167,
                                            174,
                                            195};

fs::path dataFolder()
{
    const char* dir = std::getenv("TESSALY_DATA_DIR");
    return dir ? fs::path(dir) : fs::path();
}

std::vector<std::string> shippedFiles()
{
    LanguageTable table;
    std::vector<std::string> files;
    const std::size_t n = table.enumerateLanguages(dataFolder());
    for (std::size_t i = 0; i < n; ++i) files.push_back(*table.languageFile(i));
    return files;
}

// The printf conversions of a text, in order ("%s", "%d", "%%", ...).
std::string conversions(const std::string& text)
{
    std::string found;
    for (std::size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 2)) {
        found += text.substr(i, 2);
    }
    return found;
}

TEST(ShippedLanguages, AllThreeArePresent)
{
    ASSERT_FALSE(dataFolder().empty()) << "TESSALY_DATA_DIR is not set";
    const std::vector<std::string> files = shippedFiles();
    const std::set<std::string> names(files.begin(), files.end());
    EXPECT_TRUE(names.count("english.lng"));
    EXPECT_TRUE(names.count("deutsch.lng"));
    EXPECT_TRUE(names.count("russian.lng"));
}

TEST(ShippedLanguages, EveryIdHasATextWithTheSameFormats)
{
    LanguageTable english;
    ASSERT_TRUE(english.loadLanguage(dataFolder(), "english.lng"));
    for (const std::string& file : shippedFiles()) {
        SCOPED_TRACE(file);
        std::string bytes(fs::file_size(dataFolder() / file), '\0');
        std::ifstream(dataFolder() / file, std::ios::binary).read(bytes.data(), bytes.size());
        EXPECT_TRUE(isValidUtf8(bytes));

        LanguageTable table;
        ASSERT_TRUE(table.loadLanguage(dataFolder(), file));
        EXPECT_FALSE(table.name().empty());
        ASSERT_EQ(table.textCount(), kLastTextId + 1);
        const std::string filler = table.text(0);
        for (std::uint32_t id = 0; id <= kLastTextId; ++id) {
            SCOPED_TRACE(id);
            const std::string text = table.text(id);
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(conversions(text), conversions(english.text(id)));
            // A line lost or doubled would move the filler onto a text in use.
            EXPECT_EQ(text == filler, kUnusedIds.count(id) == 1);
        }
    }
}

TEST(ShippedLanguages, EnglishKeepsItsNumbering)
{
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguage(dataFolder(), "english.lng"));
    EXPECT_EQ(table.name(), "English");
    EXPECT_EQ(table.text(1), "File");
    EXPECT_EQ(table.text(31), "Add files to list");
    EXPECT_EQ(table.text(47), "Automatically delete log if it no longer needed");
    EXPECT_EQ(table.text(131), "Retry the edges of unread areas at the end");
    EXPECT_EQ(table.text(65), "Last good");
    EXPECT_EQ(table.text(76), "Skip");
    EXPECT_EQ(table.text(79), "Data from");
    EXPECT_EQ(table.text(81), "State");
    EXPECT_EQ(table.text(100), "Ask for confirmation if log doesn't exist, but needing");
    EXPECT_EQ(table.text(112), "Continue copying");
    EXPECT_EQ(table.text(116), "Speed");
    EXPECT_EQ(table.text(126), "Bytes");
    EXPECT_EQ(table.text(130), "Current position");
}

}  // namespace
}  // namespace tessaly
