#include "run/destination_guard.h"

namespace tessaly {

namespace {

constexpr std::string_view kLogSuffix = ".log";

}  // namespace

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
    const std::string logPath = destination + std::string(kLogSuffix);
    const bool isLogOfClaimed =
        destination.ends_with(kLogSuffix) &&
        m_claimed.contains(destination.substr(0, destination.size() - kLogSuffix.size()));
    if (isLogOfClaimed || m_claimed.contains(logPath) || isNoted(m_logs, target) ||
        isNoted(m_copies, m_fs.identity(logPath))) {
        return GuardVerdict::LogPlace;
    }
    // Two sources with one destination (files of one name from different folders,
    // or of names that differ in case only on an output that ignores case) would end
    // as one file made of both; the later one is not copied.
    if (isNoted(m_copies, target) || !m_claimed.insert(destination).second) {
        return GuardVerdict::SameDestination;
    }
    return GuardVerdict::Clear;
}

void DestinationGuard::noteOpened(const std::string& destination)
{
    if (const std::optional<FileIdentity> copy = m_fs.identity(destination)) {
        m_copies[{copy->device, copy->inode}] = destination;
    }
    const std::string logPath = destination + std::string(kLogSuffix);
    if (const std::optional<FileIdentity> log = m_fs.identity(logPath)) {
        m_logs[{log->device, log->inode}] = logPath;
    }
}

void DestinationGuard::reset()
{
    m_claimed.clear();
    m_copies.clear();
    m_logs.clear();
}

}  // namespace tessaly
