#include "engine/retry_pass.h"

#include <algorithm>
#include <vector>

namespace tessaly {

RetryPass::RetryPass(PassCopy copy, const std::atomic<bool>& stop)
    : m_units(std::move(copy)), m_stop(stop)
{
}

PassResult RetryPass::run(const RegionMap& regions, std::uint32_t passes,
                          const std::function<void(std::uint32_t pass, std::size_t left)>& progress,
                          const std::optional<PassPoint>& from)
{
    PassResult result;
    result.regions = regions;
    const std::uint64_t base = m_units.copy().destinationBase;
    const auto wanted = [base](const Region& r) {
        return r.offset >= base && r.length <= kRetryRegionLimit;
    };
    const std::uint32_t firstPass = from ? from->pass : 1;
    for (std::uint32_t pass = firstPass; pass <= passes && result.end == PassEnd::Done; ++pass) {
        const bool backward = passGoesBackward(pass);
        // What a run before read of this pass: a forward pass everything before done,
        // a backward one everything from it on.
        const std::uint64_t done = from && pass == firstPass ? from->offset
                                   : backward                ? UINT64_MAX
                                                             : 0;
        Round round{pass, passes, {}, 0, {}};
        bool anyWanted = false;
        for (const Region& r : result.regions) {
            if (!wanted(r)) {
                round.next.add(r.offset, r.length);
                continue;
            }
            anyWanted = true;
            const std::uint64_t lo = backward ? r.offset : std::max(r.offset, done);
            const std::uint64_t hi = backward ? std::min(r.end(), done) : r.end();
            if (lo >= hi) {
                round.next.add(r.offset, r.length);  // read by the run before
                continue;
            }
            round.toRead.push_back({lo, hi - lo});
            round.next.add(r.offset, lo - r.offset);
            round.next.add(hi, r.end() - hi);
        }
        if (!anyWanted) break;
        if (backward) std::reverse(round.toRead.begin(), round.toRead.end());
        for (; round.current < round.toRead.size(); ++round.current) {
            const Region& r = round.toRead[round.current];
            if (result.end != PassEnd::Done) {
                round.next.add(r.offset, r.length);
                continue;
            }
            if (progress) progress(pass, round.toRead.size() - round.current);
            result.end = retryRegion(round, result.at);
        }
        result.regions = std::move(round.next);
    }
    if (progress) progress(0, 0);
    return result;
}

PassEnd RetryPass::retryRegion(Round& round, PassPoint& at)
{
    const Region& region = round.toRead[round.current];
    const bool backward = passGoesBackward(round.pass);
    const std::uint32_t sector = m_units.copy().sectorSize;
    const std::uint64_t units = (region.length + sector - 1) / sector;
    const auto unitStart = [&](std::uint64_t k) { return region.offset + k * sector; };
    const auto unitEnd = [&](std::uint64_t k) {
        return std::min(unitStart(k) + sector, region.end());
    };
    PassEnd why = PassEnd::Done;
    for (std::uint64_t i = 0; i < units; ++i) {
        const std::uint64_t k = backward ? units - 1 - i : i;
        const std::uint64_t start = unitStart(k);
        const std::uint64_t length = unitEnd(k) - start;
        // What is filled before unit k is read: the units of this region not read yet
        // (before it and it, backward; it and after it, forward) and the regions after.
        const auto standing = [&] {
            std::vector<BadRegion> more{backward
                                            ? BadRegion{region.offset, unitEnd(k) - region.offset}
                                            : BadRegion{start, region.end() - start}};
            for (std::size_t j = round.current + 1; j < round.toRead.size(); ++j)
                more.push_back({round.toRead[j].offset, round.toRead[j].length});
            return joinedRegions(round.next, std::move(more));
        };
        // Once the pass ends, the units not read yet stay filled as they are.
        if (why == PassEnd::Done) {
            at = {round.pass, round.passes, backward ? unitEnd(k) : start};
            if (m_stop.load()) {
                why = PassEnd::Stopped;
            } else if (!m_units.offerCheckpoint(standing, at)) {
                why = PassEnd::CheckpointFailed;
            }
        }
        if (why != PassEnd::Done) {
            round.next.add(start, length);
            continue;
        }
        const UnitRecovery::Unit got = m_units.recover(start, static_cast<std::uint32_t>(length));
        why = passEndAfter(got);
        if (got != UnitRecovery::Unit::Read) round.next.add(start, length);
    }
    return why;
}

}  // namespace tessaly
