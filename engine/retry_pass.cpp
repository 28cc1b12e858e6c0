#include "engine/retry_pass.h"

#include <algorithm>
#include <vector>

namespace tessaly {

RetryPass::RetryPass(PassCopy copy, const std::atomic<bool>& stop)
    : m_units(std::move(copy)), m_stop(stop)
{
}

PassResult RetryPass::run(const RegionMap& regions, std::uint32_t passes,
                          const std::function<void(std::uint32_t pass, std::size_t left)>& progress)
{
    PassResult result;
    result.regions = regions;
    const std::uint64_t base = m_units.copy().destinationBase;
    const auto wanted = [base](const Region& r) {
        return r.offset >= base && r.length <= kRetryRegionLimit;
    };
    for (std::uint32_t pass = 1; pass <= passes && result.end == PassEnd::Done; ++pass) {
        std::vector<Region> toRead;
        RegionMap next;
        for (const Region& r : result.regions) {
            if (wanted(r)) {
                toRead.push_back(r);
            } else {
                next.add(r.offset, r.length);
            }
        }
        if (toRead.empty()) break;
        const bool backward = pass % 2 == 1;
        if (backward) std::reverse(toRead.begin(), toRead.end());
        std::size_t left = toRead.size();
        for (const Region& r : toRead) {
            if (result.end != PassEnd::Done) {
                next.add(r.offset, r.length);
                continue;
            }
            if (progress) progress(pass, left--);
            result.end = retryRegion(r, backward, next);
        }
        result.regions = std::move(next);
    }
    if (progress) progress(0, 0);
    return result;
}

PassEnd RetryPass::retryRegion(const Region& region, bool backward, RegionMap& out)
{
    const std::uint32_t sector = m_units.copy().sectorSize;
    const std::uint64_t units = (region.length + sector - 1) / sector;
    PassEnd why = PassEnd::Done;
    for (std::uint64_t i = 0; i < units; ++i) {
        const std::uint64_t k = backward ? units - 1 - i : i;
        const std::uint64_t start = region.offset + k * sector;
        const std::uint64_t length = std::min<std::uint64_t>(sector, region.end() - start);
        // Once the pass ends, the units not read yet stay filled as they are.
        if (why == PassEnd::Done && m_stop.load()) why = PassEnd::Stopped;
        if (why != PassEnd::Done) {
            out.add(start, length);
            continue;
        }
        const UnitRecovery::Unit got =
            m_units.recover(start, static_cast<std::uint32_t>(length));
        why = passEndAfter(got);
        if (got != UnitRecovery::Unit::Read) out.add(start, length);
    }
    return why;
}

}  // namespace tessaly
