#include "cli/copy_list.h"

#include <filesystem>
#include <system_error>

#include "platform/file_system.h"

namespace tessaly::cli {

namespace {

namespace fs = std::filesystem;

void addFile(CopyList& list, std::string path, std::string baseFolder, std::uint64_t size)
{
    // A file named twice (a folder and a file in it, or the same folder twice) is
    // copied once: a second copy would only meet the finished first one.
    for (const CopyItem& item : list.items) {
        if (item.source == path && item.baseFolder == baseFolder) return;
    }
    list.totalSize += size;
    list.items.push_back({std::move(path), std::move(baseFolder), size});
}

void scanFolder(const fs::path& folder, const std::string& base, CopyList& list)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        list.unreadableFolders.push_back(folder.string());
        return;
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code stEc;
        if (entry.is_symlink(stEc) && entry.is_directory(stEc)) continue;
        if (entry.is_directory(stEc)) {
            scanFolder(entry.path(), base, list);
            continue;
        }
        // Pipes, sockets and devices inside a tree are no files to salvage, and
        // opening a pipe would wait for a writer for ever.
        if (!entry.is_regular_file(stEc)) continue;
        std::error_code sizeEc;
        const std::uintmax_t size = entry.file_size(sizeEc);
        addFile(list, entry.path().string(), base, sizeEc ? 0 : size);
    }
    if (ec) list.unreadableFolders.push_back(folder.string());
}

}  // namespace

std::string destinationFor(const CopyItem& item, const std::string& outputFolder)
{
    const std::size_t slash = item.source.rfind('/');
    const std::string sourceFolder =
        slash == std::string::npos ? std::string() : item.source.substr(0, slash + 1);
    const std::string name = item.source.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string relative;
    if (!item.baseFolder.empty()) {
        std::string base = item.baseFolder;
        if (base.back() != '/') base += '/';
        if (sourceFolder.starts_with(base)) relative = sourceFolder.substr(base.size());
    }
    std::string path = outputFolder;
    if (path.empty() || path.back() != '/') path += '/';
    return path + relative + name;
}

CopyList buildCopyList(const std::vector<std::string>& sources)
{
    CopyList list;
    for (const std::string& source : sources) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(fs::path(source), ec).lexically_normal();
        if (!ec && fs::is_directory(absolute, ec)) {
            const fs::path folder = fs::canonical(absolute, ec);
            if (ec) {
                list.unreadableFolders.push_back(absolute.string());
                continue;
            }
            scanFolder(folder, volumeRoot(folder.string()), list);
            continue;
        }
        std::error_code sizeEc;
        const std::uintmax_t size = fs::file_size(absolute, sizeEc);
        addFile(list, ec ? source : absolute.string(), std::string(), sizeEc ? 0 : size);
    }
    return list;
}

}  // namespace tessaly::cli
