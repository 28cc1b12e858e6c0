#include "platform/program_folder.h"

#include <cctype>
#include <string>
#include <system_error>

namespace tessaly {
namespace {

bool endsWithLng(const std::string& name)
{
    if (name.size() < 4) return false;
    const std::string tail = name.substr(name.size() - 4);
    return tail[0] == '.' && std::tolower(static_cast<unsigned char>(tail[1])) == 'l' &&
           std::tolower(static_cast<unsigned char>(tail[2])) == 'n' &&
           std::tolower(static_cast<unsigned char>(tail[3])) == 'g';
}

}  // namespace

bool holdsLanguageFiles(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (endsWithLng(it->path().filename().string()) && it->is_regular_file(typeError)) {
            return true;
        }
    }
    return false;
}

std::filesystem::path programFolderFor(const std::filesystem::path& executableFolder)
{
    if (holdsLanguageFiles(executableFolder)) return executableFolder;
    return (executableFolder / ".." / "share" / "tessaly").lexically_normal();
}

std::filesystem::path programFolder()
{
    std::error_code ec;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || executable.empty()) return {};
    return programFolderFor(executable.parent_path());
}

}  // namespace tessaly

namespace tessaly {

std::filesystem::path chooseProgramFolder(const std::string& storedPath,
                                          const std::filesystem::path& programFolder)
{
    if (storedPath.empty()) return programFolder;
    if (holdsLanguageFiles(storedPath) || !holdsLanguageFiles(programFolder)) return storedPath;
    return programFolder;
}

}  // namespace tessaly
