#include "run/copy_list.h"

#include "run/folder_scan.h"

namespace tessaly {

bool isAtOrBelow(const std::string& path, const std::string& folder)
{
    if (path.empty() || folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

std::optional<SourceFolder> resolveSourceFolder(FileSystem& fs, const std::string& folder)
{
    std::optional<std::string> resolved = fs.canonicalPath(folder);
    if (!resolved) return std::nullopt;
    auto base = std::make_shared<const std::string>(volumeRoot(*resolved));
    return SourceFolder{std::move(*resolved), std::move(base)};
}

std::string excludedOutputFolder(FileSystem& fs, const std::string& outputFolder)
{
    if (outputFolder.empty()) return {};
    const std::string absolute = absolutePath(outputFolder);
    return fs.canonicalPath(absolute).value_or(absolute);
}

CopyListBuilder::CopyListBuilder(FileSystem& fs, const std::string& outputFolder,
                                 const std::atomic<bool>& stop)
    : m_fs(fs),
      m_excluded(excludedOutputFolder(fs, outputFolder)),
      m_stop(stop),
      m_noBase(std::make_shared<const std::string>())
{
}

void CopyListBuilder::addSource(const std::string& source)
{
    const std::string absolute = absolutePath(source);
    if (m_fs.isDirectory(absolute)) {
        addFolder(absolute);
        return;
    }
    addFile(absolute, m_noBase, m_fs.fileSize(absolute).value_or(0));
}

void CopyListBuilder::addFolder(const std::string& folder)
{
    const std::optional<SourceFolder> source = resolveSourceFolder(m_fs, folder);
    if (!source) {
        m_list.unreadableFolders.push_back(folder);
        return;
    }
    const ScanSink sink{
        [&](const std::string& path, std::uint64_t size) { addFile(path, source->base, size); },
        [&](const std::string& unreadable) { m_list.unreadableFolders.push_back(unreadable); }};
    const std::size_t before = m_list.entries.size();
    scanFolder(m_fs, source->resolved, m_excluded, m_stop, sink);
    if (m_list.entries.size() == before && isAtOrBelow(m_excluded, source->resolved)) {
        m_list.foldersHoldingOutput.push_back(folder);
    }
}

void CopyListBuilder::addFile(std::string path,
                              const std::shared_ptr<const std::string>& baseFolder,
                              std::uint64_t size)
{
    // A file named twice (a folder and a file in it, or the same folder twice) is
    // copied once: a second copy would only meet the finished first one.
    std::string key = *baseFolder;
    key += '\0';
    key += path;
    if (!m_listed.insert(std::move(key)).second) return;
    m_list.totalSize += size;
    m_list.entries.push_back(FileEntry{baseFolder, std::move(path), size, EntryState::Fresh});
}

CopyList buildCopyList(FileSystem& fs, const std::vector<std::string>& sources,
                       const std::string& outputFolder, const std::atomic<bool>& stop)
{
    CopyListBuilder builder(fs, outputFolder, stop);
    for (const std::string& source : sources) {
        if (stop.load()) break;
        builder.addSource(source);
    }
    return builder.take();
}

}  // namespace tessaly
