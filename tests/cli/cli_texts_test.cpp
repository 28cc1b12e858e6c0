#include "cli/cli_texts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "texts/language_table.h"

namespace tessaly::cli {
namespace {

// The built-in texts stand in for english.lng when it is missing, so they must
// say what the file says.
TEST(CliTexts, BuiltInTextsAreThoseOfTheEnglishLanguageFile)
{
    const char* dataDir = std::getenv("TESSALY_DATA_DIR");
    ASSERT_NE(dataDir, nullptr);
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguage(std::string(dataDir) + "/english.lng"));
    for (int id = 0; id <= 195; ++id) {
        const std::string builtIn = CliTexts::builtIn(id);
        if (!builtIn.empty()) {
            EXPECT_EQ(builtIn, table.text(id)) << "text id " << id;
        }
    }
}

TEST(CliTexts, TheLoadedFileWinsAndGapsFallBack)
{
    const auto texts = parseLanguage("Test\n0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\nDatei\n");
    ASSERT_TRUE(texts);
    const CliTexts cli(std::make_shared<const LanguageTexts>(*texts));
    EXPECT_EQ(cli.text(text::kFileWord), "Datei");
    EXPECT_EQ(cli.text(text::kWriteFailed), "Writing failed.");
    EXPECT_EQ(CliTexts().text(text::kFileWord), "File");
}

}  // namespace
}  // namespace tessaly::cli
