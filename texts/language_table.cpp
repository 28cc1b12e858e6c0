#include "texts/language_table.h"

#include <algorithm>
#include <array>
#include <utility>

#include "texts/text_encoding.h"

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

// The whole file parsed, or nothing when it cannot be opened or read or holds no byte.
// Only a regular file opens: a named pipe or a device fails at once instead of waiting.
std::optional<LanguageTexts> readLanguageFile(FileSystem& fs, const std::string& path)
{
    const std::unique_ptr<File> file = fs.open(path, Disposition::OpenExisting, Access::Read, nullptr);
    if (!file) return std::nullopt;
    LanguageParser parser;
    std::array<char, 64 * 1024> chunk{};
    std::size_t total = 0;
    for (;;) {
        const IoResult r = file->read(chunk.data(), chunk.size());
        if (r.error != 0) return std::nullopt;
        if (r.bytes == 0) break;
        parser.feed(std::string_view(chunk.data(), r.bytes));
        total += r.bytes;
    }
    if (total == 0) return std::nullopt;
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

LanguageTable::LanguageTable() : m_fs(systemFileSystem()) {}
LanguageTable::LanguageTable(FileSystem& fs) : m_fs(fs) {}
LanguageTable::~LanguageTable() = default;

bool LanguageTable::loadLanguage(const std::string& file)
{
    std::optional<LanguageTexts> loaded = readLanguageFile(m_fs, file);
    if (!loaded) return false;
    loaded->path = file;
    install(std::move(*loaded));
    return true;
}

bool LanguageTable::loadLanguage(const std::filesystem::path& folder, const std::string& fileName)
{
    std::optional<LanguageTexts> loaded = readLanguageFile(m_fs, (folder / fileName).string());
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
    std::vector<FolderEntry> entries;
    m_fs.listFolder(folder.string(), &entries);  // what could be read is listed
    for (const FolderEntry& entry : entries) {
        // A folder or a pipe named like a language file cannot be read as one.
        if (entry.kind != EntryKind::File || !isLanguageFileName(entry.name)) continue;
        const std::unique_ptr<File> file =
            m_fs.open((folder / entry.name).string(), Disposition::OpenExisting, Access::Read, nullptr);
        if (!file) continue;
        std::array<char, kLanguageDisplayNameBytes> head{};
        const IoResult r = file->read(head.data(), head.size());
        found.push_back({entry.name, languageDisplayName(std::string_view(head.data(), r.bytes))});
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
