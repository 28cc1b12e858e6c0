#include "engine/trim_pass.h"

#include <algorithm>
#include <optional>

#include "engine/copy_log.h"

namespace tessaly {

UnitRecovery::UnitRecovery(PassCopy copy)
    : m_copy(std::move(copy)), m_buffer(2 * std::size_t{m_copy.sectorSize}, 0)
{
}

PassEnd passEndAfter(UnitRecovery::Unit unit)
{
    switch (unit) {
        case UnitRecovery::Unit::NotReady:
            return PassEnd::NotReady;
        case UnitRecovery::Unit::WriteFailed:
            return PassEnd::WriteFailed;
        default:
            return PassEnd::Done;
    }
}

RegionMap joinedRegions(const RegionMap& map, std::vector<BadRegion> more)
{
    for (const Region& r : map) more.push_back({r.offset, r.length});
    return RegionMap(more);
}

TrimPass::TrimPass(Copy copy, const std::atomic<bool>& stop)
    : m_units(std::move(copy)), m_stop(stop)
{
}

PassResult TrimPass::run(const RegionMap& regions,
                         const std::function<void(std::size_t left)>& progress, std::uint64_t from)
{
    PassResult result;
    const std::uint64_t keepBelow = std::max(m_units.copy().destinationBase, from);
    const auto firstOwn =
        std::partition_point(regions.begin(), regions.end(),
                             [keepBelow](const Region& r) { return r.offset < keepBelow; });
    for (auto it = regions.begin(); it != firstOwn; ++it) result.regions.add(it->offset, it->length);
    std::size_t left = static_cast<std::size_t>(regions.end() - firstOwn);
    for (auto it = firstOwn; it != regions.end(); ++it, --left) {
        if (result.end != PassEnd::Done) {
            result.regions.add(it->offset, it->length);
            continue;
        }
        if (progress) progress(left);
        result.end = trimRegion(it, regions, result);
    }
    if (progress) progress(0);
    return result;
}

PassEnd TrimPass::trimRegion(RegionMap::const_iterator it, const RegionMap& regions,
                             PassResult& result)
{
    const Region& region = *it;
    const std::uint32_t sector = m_units.copy().sectorSize;
    const std::uint64_t end = region.end();
    const auto unitStart = [&](std::uint64_t k) { return region.offset + k * sector; };
    const auto unitLength = [&](std::uint64_t k) {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(sector, end - unitStart(k)));
    };
    const std::uint64_t units = (region.length + sector - 1) / sector;
    // The units [first, last) are still filled. A unit that fails forward ends the
    // forward reads and is not tried again backward.
    std::uint64_t first = 0;
    std::uint64_t last = units;
    // What is filled while [first, last) of this region is: the region is trimmed again
    // from its first unit still filled.
    const auto standing = [&] {
        std::vector<BadRegion> more{
            {unitStart(first), std::min(end, unitStart(last)) - unitStart(first)}};
        for (auto later = it + 1; later != regions.end(); ++later)
            more.push_back({later->offset, later->length});
        return joinedRegions(result.regions, std::move(more));
    };
    PassEnd why = PassEnd::Done;
    // Reads unit k; false when it stays filled, with why set when the pass must end.
    const auto take = [&](std::uint64_t k) {
        if (m_stop.load()) {
            why = PassEnd::Stopped;
            return false;
        }
        if (!m_units.offerCheckpoint(standing, {0, 0, unitStart(first)})) {
            why = PassEnd::CheckpointFailed;
            return false;
        }
        const UnitRecovery::Unit got = m_units.recover(unitStart(k), unitLength(k));
        why = passEndAfter(got);
        return got == UnitRecovery::Unit::Read;
    };
    while (first < last && take(first)) ++first;
    if (why == PassEnd::Done) {
        while (last > first + 1 && take(last - 1)) --last;
    }
    if (first < last) {
        const std::uint64_t from = unitStart(first);
        result.regions.add(from, std::min(end, unitStart(last)) - from);
    }
    result.at = {0, 0, unitStart(first)};
    return why;
}

bool UnitRecovery::offerCheckpoint(const std::function<RegionMap()>& regions, const PassPoint& at)
{
    if (!m_copy.checkpointDue || !m_copy.checkpointDue()) return true;
    return m_copy.checkpoint(regions(), at);
}

UnitRecovery::Unit UnitRecovery::recover(std::uint64_t offset, std::uint32_t length)
{
    if (m_copy.reads != nullptr) {
        // A unit filled without a read of its own failed first with its chunk.
        std::uint32_t& reads = (*m_copy.reads)[offset];
        if (reads >= m_copy.budget) return Unit::Failed;
        ++reads;
    }
    const std::uint64_t sourceOffset = offset - m_copy.destinationBase;
    bool notReady = false;
    for (SourceReader* source : m_copy.sources) {
        if (readWhole(*source, sourceOffset, length)) {
            if (m_copy.counted) m_copy.counted(length);
            PlainFile& out = *m_copy.destination;
            // A write that stops short is not cut back: the bytes behind it are the copy's.
            if (out.seek(static_cast<std::int64_t>(offset), Whence::Begin) < 0 || out.write(m_buffer.data(), length) != length)
                return Unit::WriteFailed;
            return Unit::Read;
        }
        notReady = notReady || isNotReady(source->lastError());
    }
    if (notReady) return Unit::NotReady;
    if (m_copy.counted) m_copy.counted(length);
    return Unit::Failed;
}

bool UnitRecovery::readWhole(SourceReader& source, std::uint64_t sourceOffset, std::uint32_t length)
{
    if (source.seek(static_cast<std::int64_t>(sourceOffset), Whence::Begin) < 0) return false;
    std::uint32_t got = 0;
    while (got < length) {
        // Whole sectors are asked for; the last one of the file gives what it has.
        const std::uint32_t n = source.read(m_buffer.data() + got, m_copy.sectorSize);
        if (n == 0) return false;
        got += n;
    }
    return true;
}

bool replaceLog(FileSystem& fs, const std::string& logPath, const RegionMap& regions,
                std::uint64_t endOffset, const std::optional<PassPoint>& reached)
{
    PlainFile old(fs);
    if (!old.openExisting(logPath, Access::Read)) return false;
    CopyLog oldLog;
    oldLog.bind(&old);
    const std::int64_t fillType = oldLog.readHeader();
    const std::string name = oldLog.readName();
    std::optional<std::vector<LogAnnotation>> annotations = oldLog.readAnnotations();
    old.close();
    if (annotations) {
        std::erase_if(*annotations, [](const LogAnnotation& a) {
            return a.kind == static_cast<std::uint16_t>(AnnotationKind::PassReached);
        });
        if (reached) annotations->push_back(passAnnotation(*reached));
    }
    if (fillType < 0 || name.empty() || !annotations) return false;
    LogForm form = oldLog.form();
    if (logFormFor(std::max(endOffset, regions.reach())) == LogForm::Wide) form = LogForm::Wide;
    std::optional<std::vector<BadRegion>> records = regions.toRecords(form);
    if (!records) return false;

    records->push_back({endOffset, 0});
    return writeLogByRename(fs, logPath, name, static_cast<std::int32_t>(fillType), form, *records,
                            nullptr, *annotations);
}

}  // namespace tessaly
