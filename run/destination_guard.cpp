#include "run/destination_guard.h"

#include <algorithm>
#include <vector>

#include "engine/destination.h"
#include "run/case_fold.h"

namespace tessaly {

bool DestinationGuard::listedAsNamed(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == 0 ? std::string(1, '/') : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    // A folder that cannot be listed whole counts as not listing the name: refusing
    // one file is better than mixing two into one copy.
    std::vector<FolderEntry> entries;
    m_fs.listFolder(folder, &entries);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const FolderEntry& e) { return e.name == name; });
}

DestinationGuard::Claim DestinationGuard::claimedUnderOtherCase(const std::string& path,
                                                                const std::string& folded)
{
    const auto it = m_folded.find(folded);
    if (it == m_folded.end() || it->second.first == path) return Claim::None;
    const std::optional<FileIdentity> reached = m_fs.identity(path);
    if (!reached) return Claim::None;
    // Without a slash no folder can be listed; such a path is never a destination.
    if (path.find('/') == std::string::npos) return Claim::None;
    const bool same = reached == m_fs.identity(it->second.first) || !listedAsNamed(path);
    return same ? it->second.second : Claim::None;
}

bool DestinationGuard::isNoted(const Noted& noted, const std::optional<FileIdentity>& target)
{
    if (!target) return false;
    const auto it = noted.find({target->device, target->inode});
    return it != noted.end() && m_fs.identity(it->second) == target;
}

GuardVerdict DestinationGuard::admit(const std::string& source, const std::string& destination)
{
    // Replace would empty the source itself, and Resume or Append would read what
    // they write; a copy onto its own source is never started.
    const std::optional<FileIdentity> target = m_fs.identity(destination);
    if (target && target == m_fs.identity(source)) return GuardVerdict::SameFile;
    // A file of a log's name copied in the same run would be overwritten by that
    // log, or taken for the copy to continue.
    const std::string logPath = logPathOf(destination);
    const bool isLogOfClaimed =
        destination.ends_with(kLogSuffix) &&
        m_claimed.contains(destination.substr(0, destination.size() - kLogSuffix.size()));
    // ".log" folds to itself, and folding goes character by character.
    const std::string folded = foldCase(destination);
    const std::string foldedLog = folded + std::string(kLogSuffix);
    const Claim reached = claimedUnderOtherCase(destination, folded);
    if (isLogOfClaimed || m_claimed.contains(logPath) || isNoted(m_logs, target) ||
        isNoted(m_copies, m_fs.identity(logPath)) || reached == Claim::Log ||
        claimedUnderOtherCase(logPath, foldedLog) == Claim::Copy) {
        return GuardVerdict::LogPlace;
    }
    // Two sources with one destination (files of one name from different folders,
    // or of names that differ in case only on an output that ignores case) would end
    // as one file made of both; the later one is not copied.
    if (isNoted(m_copies, target) || reached == Claim::Copy ||
        !m_claimed.insert(destination).second) {
        return GuardVerdict::SameDestination;
    }
    m_folded[folded] = {destination, Claim::Copy};
    m_folded[foldedLog] = {logPath, Claim::Log};
    return GuardVerdict::Clear;
}

void DestinationGuard::noteOpened(const std::string& destination,
                                  const std::optional<FileIdentity>& copy,
                                  const std::optional<FileIdentity>& log)
{
    // What the engine does not hold (a copy left under Skip, a log it did not make) is
    // noted as it stands at the place.
    const std::string logPath = logPathOf(destination);
    if (const auto c = copy ? copy : m_fs.identity(destination))
        m_copies[{c->device, c->inode}] = destination;
    if (const auto l = log ? log : m_fs.identity(logPath)) m_logs[{l->device, l->inode}] = logPath;
}

void DestinationGuard::reset()
{
    m_claimed.clear();
    m_copies.clear();
    m_logs.clear();
    m_folded.clear();
}

}  // namespace tessaly
