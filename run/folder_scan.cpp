#include "run/folder_scan.h"

#include <vector>

#include "engine/destination.h"

namespace tessaly {

namespace {

std::string withoutSeparator(std::string path)
{
    while (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
    return path;
}

class Scanner
{
public:
    Scanner(FileSystem& fs, const std::string& excluded, const std::atomic<bool>& stop,
            const ScanSink& sink)
        : m_fs(fs),
          m_excluded(excluded.empty() ? excluded : withoutSeparator(excluded)),
          m_stop(stop),
          m_sink(sink)
    {
    }

    // False when the stop flag ended the scan.
    bool scan(const std::string& folder)
    {
        if (m_stop.load()) return false;
        if (folder == m_excluded) return true;
        std::vector<FolderEntry> entries;
        const bool complete = m_fs.listFolder(folder, &entries);
        const std::string prefix = withSeparator(folder);
        for (const FolderEntry& entry : entries) {
            if (m_stop.load()) return false;
            if (entry.kind == EntryKind::Folder && !entry.link) {
                if (!scan(prefix + entry.name)) return false;
            } else if (entry.kind == EntryKind::File && m_sink.file) {
                m_sink.file(prefix + entry.name, entry.size);
            }
        }
        if (!complete && m_sink.unreadableFolder) m_sink.unreadableFolder(folder);
        return true;
    }

private:
    FileSystem& m_fs;
    const std::string m_excluded;
    const std::atomic<bool>& m_stop;
    const ScanSink& m_sink;
};

}  // namespace

bool scanFolder(FileSystem& fs, const std::string& folder, const std::string& excluded,
                const std::atomic<bool>& stop, const ScanSink& sink)
{
    return Scanner(fs, excluded, stop, sink).scan(withoutSeparator(folder));
}

bool scanPaths(FileSystem& fs, const std::vector<std::string>& paths, const std::string& excluded,
               const std::atomic<bool>& stop, const ScanSink& sink)
{
    for (const std::string& path : paths) {
        if (stop.load()) return false;
        if (!fs.isDirectory(path)) {
            sink.file(path, fs.fileSize(path).value_or(0));
        } else if (!scanFolder(fs, path, excluded, stop, sink)) {
            return false;
        }
    }
    return true;
}

}  // namespace tessaly
