#include "engine/trim_pass.h"

#include <algorithm>

#include "engine/copy_log.h"

namespace tessaly {

std::vector<BadRegion> mergeRegions(std::vector<BadRegion> regions)
{
    std::erase_if(regions, [](const BadRegion& r) { return r.length == 0; });
    std::sort(regions.begin(), regions.end(),
              [](const BadRegion& a, const BadRegion& b) { return a.offset < b.offset; });
    std::vector<BadRegion> merged;
    for (const BadRegion& r : regions) {
        const std::uint64_t end = std::uint64_t{r.offset} + r.length;
        if (!merged.empty()) {
            BadRegion& last = merged.back();
            const std::uint64_t lastEnd = std::uint64_t{last.offset} + last.length;
            if (r.offset <= lastEnd) {
                last.length = static_cast<std::uint32_t>(std::max(lastEnd, end) - last.offset);
                continue;
            }
        }
        merged.push_back(r);
    }
    return merged;
}

TrimPass::TrimPass(Copy copy, const std::atomic<bool>& stop)
    : m_copy(std::move(copy)), m_stop(stop), m_buffer(2 * std::size_t{m_copy.sectorSize}, 0)
{
}

TrimResult TrimPass::run(const std::vector<BadRegion>& regions,
                         const std::function<void(std::size_t left)>& progress)
{
    TrimResult result;
    std::vector<BadRegion> merged = mergeRegions(regions);
    const std::uint32_t base = m_copy.destinationBase;
    const auto firstOwn = std::partition_point(
        merged.begin(), merged.end(), [base](const BadRegion& r) { return r.offset < base; });
    result.regions.assign(merged.begin(), firstOwn);
    std::size_t left = static_cast<std::size_t>(merged.end() - firstOwn);
    for (auto it = firstOwn; it != merged.end(); ++it, --left) {
        if (result.end != TrimEnd::Done) {
            result.regions.push_back(*it);
            continue;
        }
        if (progress) progress(left);
        result.end = trimRegion(*it, result.regions);
    }
    if (progress) progress(0);
    return result;
}

TrimEnd TrimPass::trimRegion(const BadRegion& region, std::vector<BadRegion>& out)
{
    const std::uint32_t sector = m_copy.sectorSize;
    const std::uint64_t end = std::uint64_t{region.offset} + region.length;
    const auto unitStart = [&](std::uint64_t k) { return region.offset + k * sector; };
    const auto unitLength = [&](std::uint64_t k) {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(sector, end - unitStart(k)));
    };
    const std::uint64_t units = (std::uint64_t{region.length} + sector - 1) / sector;
    TrimEnd why = TrimEnd::Done;
    // Reads unit k; false when it stays filled, with why set when the pass must end.
    const auto take = [&](std::uint64_t k) {
        if (m_stop.load()) {
            why = TrimEnd::Stopped;
            return false;
        }
        const Unit got = recoverUnit(static_cast<std::uint32_t>(unitStart(k)), unitLength(k));
        if (got == Unit::NotReady) why = TrimEnd::NotReady;
        if (got == Unit::WriteFailed) why = TrimEnd::WriteFailed;
        return got == Unit::Read;
    };
    // The units [first, last) are still filled. A unit that fails forward ends the
    // forward reads and is not tried again backward.
    std::uint64_t first = 0;
    std::uint64_t last = units;
    while (first < last && take(first)) ++first;
    if (why == TrimEnd::Done) {
        while (last > first + 1 && take(last - 1)) --last;
    }
    if (first < last) {
        const std::uint64_t from = unitStart(first);
        const std::uint64_t to = std::min(end, unitStart(last));
        out.push_back({static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to - from)});
    }
    return why;
}

TrimPass::Unit TrimPass::recoverUnit(std::uint32_t offset, std::uint32_t length)
{
    const std::uint32_t sourceOffset = offset - m_copy.destinationBase;
    bool notReady = false;
    for (SourceReader* source : m_copy.sources) {
        if (readWhole(*source, sourceOffset, length)) {
            PlainFile& out = *m_copy.destination;
            // A write that stops short is not cut back: the bytes behind it are the copy's.
            if (out.seek(offset, Whence::Begin) < 0 || out.write(m_buffer.data(), length) != length)
                return Unit::WriteFailed;
            return Unit::Read;
        }
        notReady = notReady || isNotReady(source->lastError());
    }
    return notReady ? Unit::NotReady : Unit::Failed;
}

bool TrimPass::readWhole(SourceReader& source, std::uint32_t sourceOffset, std::uint32_t length)
{
    if (source.seek(sourceOffset, Whence::Begin) < 0) return false;
    std::uint32_t got = 0;
    while (got < length) {
        // Whole sectors are asked for; the last one of the file gives what it has.
        const std::uint32_t n = source.read(m_buffer.data() + got, m_copy.sectorSize);
        if (n == 0) return false;
        got += n;
    }
    return true;
}

bool replaceLog(FileSystem& fs, const std::string& logPath, const std::vector<BadRegion>& regions,
                std::uint32_t endOffset)
{
    PlainFile old(fs);
    if (!old.openExisting(logPath, Access::Read)) return false;
    CopyLog oldLog;
    oldLog.bind(&old);
    const std::int64_t fillType = oldLog.readHeader();
    const std::string name = oldLog.readName();
    old.close();
    if (fillType < 0 || name.empty()) return false;

    std::vector<BadRegion> records = regions;
    records.push_back({endOffset, 0});
    return writeLogByRename(fs, logPath, name, static_cast<std::int32_t>(fillType), records);
}

}  // namespace tessaly
