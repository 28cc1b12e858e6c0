#include "ui/language_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <system_error>
#include <utility>

#include "ui/text_encoding.h"

namespace tessaly {
namespace {

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

// Splits a language file into its lines as the bytes arrive, so a file is never held
// whole in memory and no line grows beyond kMaxLanguageLine.
class LanguageParser
{
public:
    void feed(std::string_view bytes)
    {
        for (const char c : bytes) {
            if (isLineBreak(c)) {
                if (m_lineOpen) endLine();
                continue;
            }
            if (!m_lineOpen) {
                m_lineOpen = true;
                m_line.clear();
            }
            // Bytes beyond the limit are dropped up to the next line break: the line
            // keeps its place, so every later text keeps its id.
            if (m_line.size() < kMaxLanguageLine) m_line.push_back(c);
        }
    }

    LanguageTexts finish()
    {
        if (m_lineOpen) endLine();
        return std::move(m_table);
    }

private:
    void endLine()
    {
        m_lineOpen = false;
        if (!m_haveName) {
            m_table.name = std::move(m_line);
            m_haveName = true;
        } else {
            m_table.texts.push_back(std::move(m_line));
        }
        m_line = std::string();
    }

    LanguageTexts m_table;
    std::string m_line;
    bool m_lineOpen = true;  // the first line starts at the first byte, even if it is empty
    bool m_haveName = false;
};

struct FileCloser
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openForReading(const std::filesystem::path& path)
{
    return FilePtr(std::fopen(path.c_str(), "rb"));
}

// The whole file parsed, or nothing when it cannot be opened or read or holds no byte.
std::optional<LanguageTexts> readLanguageFile(const std::filesystem::path& path)
{
    const FilePtr file = openForReading(path);
    if (!file) return std::nullopt;
    LanguageParser parser;
    std::array<char, 64 * 1024> chunk{};
    std::size_t total = 0;
    for (;;) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (n > 0) parser.feed(std::string_view(chunk.data(), n));
        total += n;
        if (n < chunk.size()) break;
    }
    if (std::ferror(file.get()) || total == 0) return std::nullopt;
    return parser.finish();
}

// name less a UTF-8 character cut short at its end, when the rest is UTF-8 that holds
// other non-ASCII characters (a Windows-1252 name rarely passes for that).
std::string_view withoutCutCharacter(std::string_view name)
{
    if (isValidUtf8(name)) return name;
    std::size_t lead = name.size();
    while (lead > 0 && name.size() - lead < 3 &&
           (static_cast<unsigned char>(name[lead - 1]) & 0xC0) == 0x80) {
        --lead;
    }
    if (lead == 0) return name;
    --lead;
    const auto first = static_cast<unsigned char>(name[lead]);
    const std::size_t needed = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
    const std::string_view rest = name.substr(0, lead);
    const bool hasOtherNonAscii =
        std::any_of(rest.begin(), rest.end(), [](char c) { return (c & 0x80) != 0; });
    if (needed > name.size() - lead && hasOtherNonAscii && isValidUtf8(rest)) return rest;
    return name;
}

}  // namespace

std::optional<LanguageTexts> parseLanguage(std::string_view bytes)
{
    if (bytes.empty()) return std::nullopt;
    LanguageParser parser;
    parser.feed(bytes);
    return parser.finish();
}

std::string languageDisplayName(std::string_view head)
{
    head = head.substr(0, kLanguageDisplayNameBytes);
    std::size_t end = 0;
    while (end < head.size() && !isLineBreak(head[end])) ++end;
    std::string_view name = head.substr(0, end);
    // A UTF-8 name cut at the limit may end inside a character; drop that part, or the
    // whole name would be taken for Windows-1252 and shown garbled.
    if (end == kLanguageDisplayNameBytes) name = withoutCutCharacter(name);
    return std::string(name);
}

bool isLanguageFileName(std::string_view name)
{
    constexpr std::string_view kExtension = ".lng";
    if (name.size() < kExtension.size()) return false;
    const std::string_view tail = name.substr(name.size() - kExtension.size());
    for (std::size_t i = 0; i < kExtension.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kExtension[i]) return false;
    }
    return true;
}

LanguageTable::LanguageTable() = default;
LanguageTable::~LanguageTable() = default;

bool LanguageTable::loadLanguage(const std::string& file)
{
    std::optional<LanguageTexts> loaded = readLanguageFile(file);
    if (!loaded) return false;
    loaded->path = file;
    install(std::move(*loaded));
    return true;
}

bool LanguageTable::loadLanguage(const std::filesystem::path& folder, const std::string& fileName)
{
    std::optional<LanguageTexts> loaded = readLanguageFile(folder / fileName);
    if (!loaded) return false;
    loaded->path = fileName;
    install(std::move(*loaded));
    return true;
}

void LanguageTable::install(LanguageTexts&& texts)
{
    auto table = std::make_shared<const LanguageTexts>(std::move(texts));
    // Readers that still hold the old table keep it alive; it goes with the last of them.
    std::lock_guard lock(m_lock);
    m_texts.swap(table);
}

std::shared_ptr<const LanguageTexts> LanguageTable::snapshot() const
{
    std::lock_guard lock(m_lock);
    return m_texts;
}

std::string LanguageTable::text(std::uint32_t id) const
{
    const auto table = snapshot();
    return table ? table->text(id) : std::string();
}

std::uint32_t LanguageTable::textCount() const
{
    const auto table = snapshot();
    return table ? static_cast<std::uint32_t>(table->texts.size()) : 0;
}

std::string LanguageTable::name() const
{
    const auto table = snapshot();
    return table ? table->name : std::string();
}

std::string LanguageTable::path() const
{
    const auto table = snapshot();
    return table ? table->path : std::string();
}

std::size_t LanguageTable::enumerateLanguages(const std::filesystem::path& folder)
{
    std::vector<LanguageEntry> found;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string fileName = it->path().filename().string();
        if (!isLanguageFileName(fileName)) continue;
        // A folder named like a language file cannot be opened as one.
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const FilePtr file = openForReading(it->path());
        if (!file) continue;
        std::array<char, kLanguageDisplayNameBytes> head{};
        const std::size_t n = std::fread(head.data(), 1, head.size(), file.get());
        found.push_back({fileName, languageDisplayName(std::string_view(head.data(), n))});
    }
    std::lock_guard lock(m_lock);
    m_languages = std::move(found);
    return m_languages.size();
}

std::size_t LanguageTable::languageCount() const
{
    std::lock_guard lock(m_lock);
    return m_languages.size();
}

std::optional<std::string> LanguageTable::languageName(std::size_t i) const
{
    std::lock_guard lock(m_lock);
    if (i >= m_languages.size()) return std::nullopt;
    return m_languages[i].displayName;
}

std::optional<std::string> LanguageTable::languageFile(std::size_t i) const
{
    std::lock_guard lock(m_lock);
    if (i >= m_languages.size()) return std::nullopt;
    return m_languages[i].fileName;
}

LanguageLoad loadProgramLanguage(LanguageTable& table, const std::filesystem::path& folder,
                                 const std::string& wanted, std::string& loadedFile)
{
    if (table.enumerateLanguages(folder) == 0) {
        return LanguageLoad::NoFiles;
    }
    if (table.loadLanguage(folder, wanted)) {
        loadedFile = wanted;
        return LanguageLoad::Loaded;
    }
    const std::string first = table.languageFile(0).value_or(std::string());
    if (!table.loadLanguage(folder, first)) {
        return LanguageLoad::Unloadable;
    }
    loadedFile = first;
    return LanguageLoad::Loaded;
}

}  // namespace tessaly
