#include "run/destination_guard.h"

namespace tessaly {

namespace {

constexpr std::string_view kLogSuffix = ".log";

}  // namespace

GuardVerdict DestinationGuard::admit(const std::string& source, const std::string& destination)
{
    // Replace would empty the source itself, and Resume or Append would read what
    // they write; a copy onto its own source is never started.
    const std::optional<FileIdentity> target = m_fs.identity(destination);
    if (target && target == m_fs.identity(source)) return GuardVerdict::SameFile;
    // A file of a log's name copied in the same run would be overwritten by that
    // log, or taken for the copy to continue.
    const bool isLogOfClaimed =
        destination.ends_with(kLogSuffix) &&
        m_claimed.contains(destination.substr(0, destination.size() - kLogSuffix.size()));
    if (isLogOfClaimed || m_claimed.contains(destination + std::string(kLogSuffix))) {
        return GuardVerdict::LogPlace;
    }
    // Two sources with one destination (files of one name from different folders)
    // would end as one file made of both; the later one is not copied.
    if (!m_claimed.insert(destination).second) return GuardVerdict::SameDestination;
    return GuardVerdict::Clear;
}

}  // namespace tessaly
