#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/bad_region.h"
#include "engine/copy_log.h"
#include "engine/plain_file.h"
#include "engine/region_map.h"
#include "engine/source_reader.h"

namespace tessaly {

// How a pass at a file's end (the trim pass, a retry pass) ended.
enum class PassEnd : std::int32_t
{
    Done = 0,              // every region was read
    Stopped = 1,           // the stop request ended it
    NotReady = 2,          // the medium was removed
    WriteFailed = 3,       // a sector read could not be written to the destination
    CheckpointFailed = 4,  // a checkpoint could not be written (PassCopy::checkpoint)
};

// What a pass at a file's end leaves.
struct PassResult
{
    RegionMap regions;  // the filled regions that remain
    PassEnd end = PassEnd::Done;
    // Where a pass that did not end Done stopped: its next unit is the first not read.
    PassPoint at;
};

// A copy as the passes at the end of a file see it.
struct PassCopy
{
    std::vector<SourceReader*> sources;  // every open source, the main file first
    PlainFile* destination = nullptr;
    std::uint32_t sectorSize = 512;
    std::uint64_t destinationBase = 0;  // destination offset of source offset 0
    // Told the bytes of each unit tried, read or not, for the copy's rate meters.
    std::function<void(std::uint32_t bytes)> counted = nullptr;
    // Asked before each unit whether the engine wants a checkpoint now; when it does,
    // checkpoint is told the filled regions as they stand and the point the pass has
    // reached. False from checkpoint ends the pass (CheckpointFailed).
    std::function<bool()> checkpointDue = nullptr;
    std::function<bool(const RegionMap& regions, const PassPoint& at)> checkpoint = nullptr;
    // The sector reads of each unit (by copy offset) since its first failure (the failed
    // read of its chunk, or of itself), seeded by the main pass and counted on by every
    // pass: a unit that has had budget of them is not read again. None: no budget.
    std::map<std::uint64_t, std::uint32_t>* reads = nullptr;
    std::uint32_t budget = 0;
};

// Reads one unit (a sector, or the short last one of the file) of a filled region
// again, every source tried, and writes what it gets over the unit's fill.
class UnitRecovery
{
public:
    enum class Unit
    {
        Read,
        Failed,
        NotReady,
        WriteFailed
    };

    explicit UnitRecovery(PassCopy copy);

    // Reads the destination bytes [offset, offset + length) from the first source that
    // gives them whole and writes them over their fill. NotReady when no source gave
    // them and one of them has gone away.
    Unit recover(std::uint64_t offset, std::uint32_t length);
    const PassCopy& copy() const { return m_copy; }
    // Offers a checkpoint at at when one is due; regions gives the filled regions as they
    // stand. False when the checkpoint failed.
    bool offerCheckpoint(const std::function<RegionMap()>& regions, const PassPoint& at);

private:
    bool readWhole(SourceReader& source, std::uint64_t sourceOffset, std::uint32_t length);

    PassCopy m_copy;
    std::vector<std::uint8_t> m_buffer;  // two sectors: an unaligned read may overrun one
};

// The regions of map and those of more as one map, sorted once (a checkpoint's regions).
RegionMap joinedRegions(const RegionMap& map, std::vector<BadRegion> more);

// How a pass ends when unit recovery gives unit; Done while it may go on.
PassEnd passEndAfter(UnitRecovery::Unit unit);

// The pass that runs after a copy's main pass has covered the whole file: it reads
// the edges of each filled region again, one attempt per sector, every source tried
// at a sector before it counts as unreadable, and writes each sector it gets over
// its fill. From a region's start it reads forward until a sector fails, then from
// its end backward until a sector fails; what lies between stays filled.
class TrimPass
{
public:
    using Copy = PassCopy;

    // stop is read before every sector; a raised stop ends the pass at once.
    TrimPass(Copy copy, const std::atomic<bool>& stop);

    // Trims the filled regions (destination offsets). Regions that start before the
    // destination base belong to an earlier copy under Append and are kept as they are,
    // as are those before from, which a run before trimmed. progress is told, before
    // each region, how many regions are left to trim, itself included, and 0 at the end.
    PassResult run(const RegionMap& regions,
                   const std::function<void(std::size_t left)>& progress = {},
                   std::uint64_t from = 0);

private:
    // Trims the region *it of regions; the part still filled goes to result.regions,
    // and where the pass stopped to result.at.
    PassEnd trimRegion(RegionMap::const_iterator it, const RegionMap& regions, PassResult& result);

    UnitRecovery m_units;
    const std::atomic<bool>& m_stop;
};

// Replaces the log at logPath by one with the same header and annotations, the regions' records and
// the end record (endOffset, 0), through writeLogByRename. The log keeps its form while that form
// can say where the copy ends. Its record of the passes goes; reached, when given, takes its place.
// False when the old header cannot be read, or the new log cannot be written or renamed; the old
// log is then left as it is.
bool replaceLog(FileSystem& fs, const std::string& logPath, const RegionMap& regions,
                std::uint64_t endOffset, const std::optional<PassPoint>& reached = std::nullopt);

}  // namespace tessaly
