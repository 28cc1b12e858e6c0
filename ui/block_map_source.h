#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/bad_region.h"
#include "engine/copy_engine.h"
#include "ui/block_map_layout.h"

namespace tessaly {

// Where the block map reads the file being copied from. Called on the map's thread
// while another thread may be copying: progress() is read first, so that every region
// below the position it gives has been added by the time regionsFrom() runs.
class BlockMapSource
{
public:
    virtual ~BlockMapSource() = default;
    virtual BlockMapProgress progress() const = 0;
    // Copies of the regions from index first on (none when first is at the end),
    // ascending by offset.
    virtual std::vector<BadRegion> regionsFrom(std::size_t first) const = 0;
    // Changes when the regions were replaced as a whole (the trim pass at the end of a
    // file), so that a reader following them from an index on starts over.
    virtual std::uint32_t generation() const { return 0; }
    // The areas not tried yet below the position, while the easy data is read first.
    virtual std::vector<Region> notTried() const { return {}; }
};

// The copy engine's file: total is the destination's end, done the destination
// position (while the easy data is read first, how far its first pass has come), both
// with the bytes that were there before an appending copy.
class EngineMapSource : public BlockMapSource
{
public:
    explicit EngineMapSource(const CopyEngine& engine) : m_engine(engine) {}
    BlockMapProgress progress() const override
    {
        return {m_engine.destinationEnd(), m_engine.destinationFrontier(), m_engine.sectorSize()};
    }
    std::vector<BadRegion> regionsFrom(std::size_t first) const override
    {
        return m_engine.badRegionsFrom(first);
    }
    std::uint32_t generation() const override { return m_engine.badRegionsGeneration(); }
    std::vector<Region> notTried() const override { return m_engine.notTriedAreas(); }

private:
    const CopyEngine& m_engine;
};

}  // namespace tessaly
