// The language file loader with the input as a language file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "texts/language_table.h"
#include "texts/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto table = tessaly::parseLanguage(bytes);
    FUZZ_CHECK(table.has_value() == (size > 0));
    FUZZ_CHECK(tessaly::languageDisplayName(bytes).size() <= tessaly::kLanguageDisplayNameBytes);
    if (!table) return 0;
    FUZZ_CHECK(table->name.find_first_of("\r\n") == std::string::npos);
    std::size_t kept = table->name.size();
    for (const std::string& text : table->texts) {
        FUZZ_CHECK(text.size() <= tessaly::kMaxLanguageLine);
        FUZZ_CHECK(text.find_first_of("\r\n") == std::string::npos);
        const std::string shown = tessaly::textToUtf8(text);
        FUZZ_CHECK(tessaly::isValidUtf8(shown));
        kept += text.size();
    }
    FUZZ_CHECK(kept <= size);
    FUZZ_CHECK(table->text(static_cast<std::uint32_t>(table->texts.size())) == table->name);
    return 0;
}
