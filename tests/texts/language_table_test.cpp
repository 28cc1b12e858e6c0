#include "texts/language_table.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class LanguageTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = testing::freshTestFolder("tessaly-lang");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string write(const std::string& name, const std::string& bytes)
    {
        const fs::path p = m_dir / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }

    fs::path m_dir;
};

TEST_F(LanguageTableTest, AnyRunOfLineBreaksIsOneBreak)
{
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguage(write("a.lng", "A\r\n\r\n\r\nB\nC")));
    EXPECT_EQ(table.name(), "A");
    EXPECT_EQ(table.textCount(), 2u);
    EXPECT_EQ(table.text(0), "B");
    EXPECT_EQ(table.text(1), "C");
    EXPECT_EQ(table.text(2), "A");  // beyond the texts: the name line
    EXPECT_EQ(table.text(0xFFFFFFFFu), "A");

    ASSERT_TRUE(table.loadLanguage(write("b.lng", "N\n\r\r\nX\r\r\r\n\n")));
    EXPECT_EQ(table.textCount(), 1u);
    EXPECT_EQ(table.text(0), "X");
}

TEST_F(LanguageTableTest, LinesAreTakenByteForByte)
{
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguage(write("a.lng", "\r\nfirst\n   \n trailing \n%s\tx")));
    EXPECT_EQ(table.name(), "");  // a file that begins with a line break has an empty name
    ASSERT_EQ(table.textCount(), 4u);
    EXPECT_EQ(table.text(0), "first");
    EXPECT_EQ(table.text(1), "   ");
    EXPECT_EQ(table.text(2), " trailing ");
    EXPECT_EQ(table.text(3), "%s\tx");
    EXPECT_EQ(table.text(4), "");  // the empty name line
}

TEST_F(LanguageTableTest, FailedLoadKeepsEverything)
{
    LanguageTable table;
    EXPECT_EQ(table.text(0), "");  // before any load
    EXPECT_EQ(table.textCount(), 0u);
    EXPECT_FALSE(table.loadLanguage(write("empty.lng", "")));
    EXPECT_FALSE(table.loadLanguage((m_dir / "missing.lng").string()));
    EXPECT_FALSE(table.loadLanguage(m_dir.string()));  // a folder is no language file
    EXPECT_EQ(table.path(), "");

    const std::string good = write("good.lng", "Good\none\ntwo\n");
    ASSERT_TRUE(table.loadLanguage(good));
    EXPECT_FALSE(table.loadLanguage(write("empty2.lng", "")));
    EXPECT_FALSE(table.loadLanguage(m_dir, "missing.lng"));
    EXPECT_EQ(table.name(), "Good");
    EXPECT_EQ(table.path(), good);
    EXPECT_EQ(table.textCount(), 2u);
    EXPECT_EQ(table.text(1), "two");
}

TEST_F(LanguageTableTest, LoadByFolderAndNameKeepsTheName)
{
    write("x.lng", "X\nt0\n");
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguage(m_dir, "x.lng"));
    EXPECT_EQ(table.path(), "x.lng");
    EXPECT_EQ(table.text(0), "t0");
}

TEST_F(LanguageTableTest, OverLongLineIsCutAndKeepsTheNumbering)
{
    const std::string longName(kMaxLanguageLine + 50, 'n');
    const std::string longText(3 * kMaxLanguageLine, 't');
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguage(write("long.lng", longName + "\n" + longText + "\r\nafter\n")));
    EXPECT_EQ(table.name(), longName.substr(0, kMaxLanguageLine));
    ASSERT_EQ(table.textCount(), 2u);
    EXPECT_EQ(table.text(0), longText.substr(0, kMaxLanguageLine));
    EXPECT_EQ(table.text(1), "after");

    // The cut holds across the reader's chunk boundaries too.
    const std::string hugeText(200 * 1024 + 7, 'h');
    ASSERT_TRUE(table.loadLanguage(write("huge.lng", "H\n" + hugeText + "\nz")));
    EXPECT_EQ(table.text(0).size(), kMaxLanguageLine);
    EXPECT_EQ(table.text(1), "z");
}

TEST_F(LanguageTableTest, GarbageFileLoadsWithinLimits)
{
    std::mt19937 random(1234);
    std::string bytes(300 * 1024, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    std::size_t expectedLines = 0;  // lines other than the name
    bool inLine = true;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool lineBreak = bytes[i] == '\r' || bytes[i] == '\n';
        if (!lineBreak && !inLine) ++expectedLines;
        inLine = !lineBreak;
    }
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguage(write("garbage.lng", bytes)));
    EXPECT_EQ(table.textCount(), expectedLines);
    for (std::uint32_t id = 0; id < table.textCount(); ++id) {
        const std::string t = table.text(id);
        ASSERT_FALSE(t.empty());
        ASSERT_LE(t.size(), kMaxLanguageLine);
        ASSERT_EQ(t.find_first_of("\r\n"), std::string::npos);
    }
}

TEST_F(LanguageTableTest, EnumerationListsLanguageFilesWithDisplayNames)
{
    write("thirty.lng", std::string(40, 'L') + "\nx\n");
    write("short.LNG", "Short\r\ntext\n");
    write("empty.lng", "");
    write("notes.txt", "Not a language\n");
    write("lng", "no extension\n");
    fs::create_directory(m_dir / "folder.lng");

    LanguageTable table;
    ASSERT_EQ(table.enumerateLanguages(m_dir), 3u);
    std::set<std::pair<std::string, std::string>> found;
    for (std::size_t i = 0; i < 3; ++i)
        found.insert({*table.languageFile(i), *table.languageName(i)});
    EXPECT_EQ(found, (std::set<std::pair<std::string, std::string>>{
                         {"thirty.lng", std::string(kLanguageDisplayNameBytes, 'L')},
                         {"short.LNG", "Short"},
                         {"empty.lng", ""}}));
    EXPECT_FALSE(table.languageName(3).has_value());
    EXPECT_FALSE(table.languageFile(3).has_value());

    // The name line that text() falls back on is the whole first line.
    ASSERT_TRUE(table.loadLanguage(m_dir, "thirty.lng"));
    EXPECT_EQ(table.text(5), std::string(40, 'L'));

    EXPECT_EQ(table.enumerateLanguages(m_dir / "nowhere"), 0u);
    EXPECT_FALSE(table.languageFile(0).has_value());
}

TEST_F(LanguageTableTest, NamesDifferingInCaseAreBothListedInSearchOrder)
{
    write("english.lng", "lower\n");
    write("English.lng", "Upper\n");
    std::vector<std::string> order;  // the file system's own order
    for (const auto& e : fs::directory_iterator(m_dir)) order.push_back(e.path().filename());

    LanguageTable table;
    ASSERT_EQ(table.enumerateLanguages(m_dir), 2u);
    EXPECT_EQ(*table.languageFile(0), order[0]);
    EXPECT_EQ(*table.languageFile(1), order[1]);
    EXPECT_EQ(*table.languageName(0), order[0] == "english.lng" ? "lower" : "Upper");
}

// Opens each pipe for writing, again and again, once the test has waited too long, so
// that a reader stuck on one ends and the test fails instead of hanging.
class PipeRescue
{
public:
    explicit PipeRescue(std::vector<fs::path> pipes)
        : m_thread([this, pipes = std::move(pipes)] {
              for (int i = 0; i < 300 && !m_done; ++i) usleep(10000);
              while (!m_done) {
                  m_fired = true;
                  for (const fs::path& pipe : pipes) {
                      const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
                      if (fd >= 0) ::close(fd);
                  }
                  usleep(10000);
              }
          })
    {
    }
    ~PipeRescue() { finish(); }
    // True when a reader had to be set free.
    bool finish()
    {
        m_done = true;
        if (m_thread.joinable()) m_thread.join();
        return m_fired;
    }

private:
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_fired{false};
    std::thread m_thread;
};

TEST_F(LanguageTableTest, NamedPipesAmongLanguageFilesNeverHoldTheReader)
{
    write("english.lng", "English\nOne\n");
    ASSERT_EQ(::mkfifo((m_dir / "pipe.lng").c_str(), 0600), 0);
    fs::create_symlink(m_dir / "pipe.lng", m_dir / "linked.lng");
    PipeRescue rescue({m_dir / "pipe.lng"});

    LanguageTable table;
    ASSERT_EQ(table.enumerateLanguages(m_dir), 1u);
    EXPECT_EQ(*table.languageFile(0), "english.lng");
    EXPECT_FALSE(table.loadLanguage(m_dir, "pipe.lng"));
    EXPECT_FALSE(table.loadLanguage(m_dir, "linked.lng"));
    EXPECT_FALSE(table.loadLanguage((m_dir / "pipe.lng").string()));
    std::string loaded;
    EXPECT_EQ(loadProgramLanguage(table, m_dir, "pipe.lng", loaded), LanguageLoad::Loaded);
    EXPECT_EQ(loaded, "english.lng");
    EXPECT_FALSE(rescue.finish()) << "a read of a named pipe waited for a writer";
}

TEST(LanguageParsing, DisplayNameAndFileNames)
{
    EXPECT_EQ(languageDisplayName("Deutsch\r\nDatei"), "Deutsch");
    EXPECT_EQ(languageDisplayName("\nname"), "");
    EXPECT_EQ(languageDisplayName(std::string(31, 'x') + "\n"), std::string(30, 'x'));
    // A UTF-8 character cut by the limit goes whole; "Русский язык, вариант" has its
    // 30th byte inside the "р".
    EXPECT_EQ(languageDisplayName("\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9 "
                                  "\xD1\x8F\xD0\xB7\xD1\x8B\xD0\xBA, \xD0\xB2\xD0\xB0\xD1\x80"
                                  "\xD0\xB8\xD0\xB0\xD0\xBD\xD1\x82"),
              "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9 "
              "\xD1\x8F\xD0\xB7\xD1\x8B\xD0\xBA, \xD0\xB2\xD0\xB0");
    // A Windows-1252 name keeps its 30 bytes.
    EXPECT_EQ(languageDisplayName(std::string(29, 'x') + "\xE9\xE9"),
              std::string(29, 'x') + "\xE9");
    EXPECT_EQ(languageDisplayName("\xE9t\xE9" + std::string(27, 'x')),
              "\xE9t\xE9" + std::string(27, 'x'));
    EXPECT_TRUE(isLanguageFileName("a.lng"));
    EXPECT_TRUE(isLanguageFileName("A.LnG"));
    EXPECT_FALSE(isLanguageFileName("a.lngx"));
    EXPECT_FALSE(isLanguageFileName("alng"));
    EXPECT_FALSE(parseLanguage("").has_value());
    const auto onlyBreaks = parseLanguage("\r\n\n");
    ASSERT_TRUE(onlyBreaks.has_value());
    EXPECT_EQ(onlyBreaks->name, "");
    EXPECT_TRUE(onlyBreaks->texts.empty());
}

// Copy threads read texts while the user switches languages; a reader must only ever
// see a whole text of one of the two files, and the switch must not free a text in use.
TEST_F(LanguageTableTest, TextsStayWholeWhileLanguagesSwitch)
{
    std::string first = "First";
    std::string second = "Second";
    for (int id = 0; id < 200; ++id) {
        first += "\nfirst text " + std::to_string(id);
        second += "\nsecond text number " + std::to_string(id);
    }
    write("first.lng", first);
    write("second.lng", second);
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguage(m_dir, "first.lng"));

    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&, r] {
            std::uint32_t id = static_cast<std::uint32_t>(r);
            while (!done.load()) {
                id = (id + 7) % 200;
                const std::string t = table.text(id);
                const auto held = table.snapshot();
                const std::string& kept = held->text(id);
                if (t != "first text " + std::to_string(id) &&
                    t != "second text number " + std::to_string(id)) {
                    ++bad;
                }
                if (kept.rfind(held->name == "First" ? "first" : "second", 0) != 0) ++bad;
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(table.loadLanguage(m_dir, i % 2 ? "first.lng" : "second.lng"));
    }
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace tessaly
