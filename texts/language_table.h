#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace tessaly {

// The longest line a language file may hold. Longer lines are cut to this many bytes
// and the rest of the line is dropped, so the numbering of the texts is kept and a
// damaged file cannot make the table grow beyond this per line.
inline constexpr std::size_t kMaxLanguageLine = 9999;

// The display name of a language is at most this many bytes of its first line.
inline constexpr std::size_t kLanguageDisplayNameBytes = 30;

// One loaded language file. Never changed once built, so a thread that holds it can
// read any text while another thread loads a new language.
struct LanguageTexts
{
    std::string name;                // the first line of the file
    std::string path;                // the file argument of the load that built it
    std::vector<std::string> texts;  // index = text id

    // The text of id; the name line for an id at or beyond the count.
    const std::string& text(std::uint32_t id) const { return id < texts.size() ? texts[id] : name; }
};

// A language file found by enumerateLanguages.
struct LanguageEntry
{
    std::string fileName;     // the name in the folder, without the folder
    std::string displayName;  // up to 30 bytes of its first line
};

// Parses the bytes of a language file into a table: any run of CR and LF bytes is one
// line break; the first line is the name, every further line one text, byte for byte.
// Returns nothing for an empty input.
std::optional<LanguageTexts> parseLanguage(std::string_view bytes);

// The display name of a language from the first bytes of its file: the bytes up to the
// first CR or LF, at most 30 of them, less a UTF-8 character the limit cut in two.
std::string languageDisplayName(std::string_view head);

// True when name ends in ".lng", in any case (the way the file search matches it).
bool isLanguageFileName(std::string_view name);

// The language the programs show their texts in. Texts are bytes, looked up by id.
// Thread safety: loadLanguage and enumerateLanguages belong to the user-interface
// thread; text, textCount and snapshot may be called from any thread at any time. A
// load swaps in a new immutable table, and the old one lives on as long as any reader
// still holds it.
class LanguageTable
{
public:
    // Reads its files through the system's file system, or through fs.
    LanguageTable();
    explicit LanguageTable(FileSystem& fs);
    virtual ~LanguageTable();
    LanguageTable(const LanguageTable&) = delete;
    LanguageTable& operator=(const LanguageTable&) = delete;

    // Reads the whole file and replaces every text at once. False when the file cannot
    // be opened or read, or is empty; the table is then unchanged.
    bool loadLanguage(const std::string& file);
    // The same for a file name resolved in folder (an absolute name is used as it is);
    // path() then gives fileName.
    bool loadLanguage(const std::filesystem::path& folder, const std::string& fileName);

    // The text of id; the name line for an id at or beyond textCount(); empty before
    // the first load. A copy, so it stays valid across a language switch.
    std::string text(std::uint32_t id) const;
    std::uint32_t textCount() const;
    // The first line of the loaded file; empty before the first load.
    std::string name() const;
    // The file argument of the last successful load; empty before it.
    std::string path() const;
    // The loaded table itself, kept alive for as long as the caller holds it.
    std::shared_ptr<const LanguageTexts> snapshot() const;

    // Lists the language files ("*.lng", any case) of folder in the order the file
    // system returns them; files that cannot be opened are left out. Returns the count.
    std::size_t enumerateLanguages(const std::filesystem::path& folder);
    std::size_t languageCount() const;
    // Display name and file name of entry i; nothing when i is not below the count.
    std::optional<std::string> languageName(std::size_t i) const;
    std::optional<std::string> languageFile(std::size_t i) const;

private:
    void install(LanguageTexts&& texts);

    FileSystem& m_fs;

    mutable std::mutex m_lock;  // guards the two members below; held only to copy or swap
    std::shared_ptr<const LanguageTexts> m_texts;
    std::vector<LanguageEntry> m_languages;
};

// How a program's start found its language.
enum class LanguageLoad : int
{
    Loaded = 0,      // the wanted file, or the first one found
    NoFiles = 1,     // folder holds no language file
    Unloadable = 2,  // neither the wanted file nor the first one could be loaded
};

// Lists the language files of folder and loads wanted, else the first file listed. On
// Loaded, loadedFile names the file that was taken.
LanguageLoad loadProgramLanguage(LanguageTable& table, const std::filesystem::path& folder,
                                 const std::string& wanted, std::string& loadedFile);

}  // namespace tessaly
