#include "engine/engine_impl.h"

namespace tessaly {
namespace {

// A continued copy of this size or more is compared with its source at this many more
// sectors, spread evenly (sourceMatchesCopy).
constexpr std::uint64_t kDenseCheckFrom = std::uint64_t{1} << 20;
constexpr std::uint64_t kDenseCheckSectors = 16;
// A continued copy is compared with its source over this many bytes at its start and
// at its end, as far as it holds read data there.
constexpr std::uint64_t kEdgeCheckBytes = std::uint64_t{1} << 20;

// The regions the log lists, end records left out, and the sum of their lengths;
// -1 when the log's name cannot be read.
std::int64_t readFilledRegions(CopyLog& log, std::vector<BadRegion>& regions)
{
    const std::int64_t sum = log.readRegions(regions);
    std::erase_if(regions, [](const BadRegion& r) { return r.length == 0; });
    return sum;
}

// True when the source open now may be the one a log recorded: the same size, and the
// same modification time and medium wherever both are known.
bool sameSource(const SourceStamp& recorded, const SourceStamp& now)
{
    const auto agree = [](std::uint64_t a, std::uint64_t b) { return a == 0 || b == 0 || a == b; };
    return recorded.size == now.size && agree(recorded.modifiedNs, now.modifiedNs) &&
           agree(recorded.volume, now.volume);
}

// What an unusable log still tells of the fills of its copy, whose size is copySize: the
// regions of its records, as far as they lie in the copy, when every record starts where
// a run of the copier puts one (in the copy; a record of length 0 only last). Otherwise,
// and when its header, name or annotations cannot be read, nothing of it can be trusted
// and the whole copy counts as filled.
std::vector<BadRegion> salvagedRegions(CopyLog& log, std::int64_t logFill, std::uint64_t copySize)
{
    std::vector<BadRegion> records;
    bool trusted = logFill >= 0 && log.readRecords(records);
    // Under the fill Nothing the copy lacks its regions' bytes: they reach that much further.
    std::uint64_t limit = copySize;
    if (logFill == static_cast<std::int64_t>(FillType::Nothing)) {
        for (const BadRegion& r : records) limit += std::min(r.length, UINT64_MAX - limit);
    }
    for (std::size_t i = 0; trusted && i < records.size(); ++i) {
        const BadRegion& r = records[i];
        trusted = r.length == 0 ? i + 1 == records.size() : r.offset < limit;
    }
    if (!trusted) records.assign(1, BadRegion{0, copySize});
    std::erase_if(records, [](const BadRegion& r) { return r.length == 0; });
    return records;
}

}  // namespace

bool CopyEngine::Impl::prepareExisting()
{
    // A log that is missing or cannot be opened shows in the status while the user is asked.
    bool hasLog = false;
    if (!fs.exists(file.logPath)) {
        fail(EngineStatus::LogMissing);
    } else if (!file.logFile.openExisting(file.logPath, Access::ReadWrite)) {
        fail(EngineStatus::LogOpenFailed);
    } else if (!file.logFile.file()->tryLock()) {
        file.logFile.close();
        fail(EngineStatus::DestinationInUse);
        return false;
    } else {
        hasLog = true;
    }
    // A copy continued after its medium came back was admitted by the user already;
    // the source check of Resume tells the same medium from another.
    const ExistingPolicy chosen =
        file.continuing ? ExistingPolicy::Resume : setting(&EngineSettings::existingPolicy);
    if (chosen != ExistingPolicy::Skip && !file.continuing &&
        ask(QueryKind::Existing) == std::optional(false)) {
        fail(EngineStatus::ExistingRefused);
        return false;
    }
    switch (chosen) {
        case ExistingPolicy::Replace:
            // Emptied once the file is sure to be copied (prepareAndStart): a refusal
            // for its size or the free space leaves the copy as it was.
            file.replacing = true;
            return true;
        case ExistingPolicy::Skip:
            shared.skipping = true;
            file.mainSource.seek(0, Whence::End);
            return true;
        case ExistingPolicy::Append:
        case ExistingPolicy::Resume:
            if (hasLog) {
                const LogUse use = prepareWithLog(chosen);
                if (use != LogUse::Unusable) return use == LogUse::Continued;
            }
            return prepareWithoutLog(chosen, hasLog);
    }
    // An unknown policy touches nothing: the destination is left as it is.
    shared.skipping = true;
    file.mainSource.seek(0, Whence::End);
    return true;
}

// Continues from the log's end record. An unusable log is left as it is, so that a
// refusal to go on without it changes nothing; the regions it still lists readably are
// kept for the copy that goes on without it. Resume, and an Append that its log shows cut
// short, go on with the source of the copy: another one is refused before anything is
// written. Any other Append starts behind the copy's last byte.
CopyEngine::Impl::LogUse CopyEngine::Impl::prepareWithLog(ExistingPolicy chosen)
{
    file.log.bind(&file.logFile);
    const std::int64_t logFill = file.log.readHeader();
    const std::int64_t end = logFill < 0 ? -1 : file.log.readEndPosition();
    std::vector<BadRegion> earlier;
    const std::int64_t listedBytes = logFill < 0 ? -1 : readFilledRegions(file.log, earlier);
    const std::vector<LogAnnotation> annotations =
        file.log.readAnnotations().value_or(std::vector<LogAnnotation>{});
    const std::optional<std::uint64_t> loggedBase = appendBaseOf(annotations);
    const std::uint64_t base = loggedBase.value_or(0);
    // A fill the engine does not know tells nothing of how the copy's bytes stand.
    const bool fillKnown = logFill <= static_cast<std::int64_t>(kLastFillType);
    const RegionMap filled(earlier);
    // A log whose regions pass its own end record does not describe the copy it lies beside.
    if (listedBytes < 0 || !fillKnown || end < 0 || !endFitsCopy(end, logFill, listedBytes) ||
        recordsReach(earlier) > static_cast<std::uint64_t>(end) ||
        base > static_cast<std::uint64_t>(end)) {
        const auto copySize =
            static_cast<std::uint64_t>(std::max<std::int64_t>(file.destination.size(), 0));
        file.droppedEnd.reset();
        file.unfinishedRegions = salvagedRegions(file.log, logFill, copySize);
        const std::optional<SourceStamp> recorded = sourceStampOf(annotations);
        if (loggedBase && base <= copySize && (!recorded || sameSource(*recorded, file.stamp)))
            file.unfinishedBase = base;
        file.log.unbind();
        setBase(0);
        return LogUse::Unusable;
    }
    const std::optional<SourceStamp> recorded = sourceStampOf(annotations);
    const std::uint64_t runSize = recorded ? recorded->size : file.mainSource.fileSize();
    // A log that records the phases of a copy not yet read whole was cut short too.
    const bool cutShort =
        static_cast<std::uint64_t>(end) - base < runSize || phasePointOf(annotations).has_value();
    file.loggedAnnotations = annotations;
    if (chosen == ExistingPolicy::Resume || (loggedBase && cutShort)) {
        if (!continueLog(filled, base, static_cast<std::uint64_t>(end), logFill,
                         chosen == ExistingPolicy::Resume)) {
            file.log.unbind();
            return LogUse::Refused;
        }
        file.annotations = annotations;
        takePassRecord(static_cast<std::uint64_t>(end));
        takePhaseRecord(earlier, static_cast<std::uint64_t>(end), logFill);
    } else {
        setBase(file.destination.seek(0, Whence::End));
        file.appending = true;
        file.annotations = freshAnnotations();
    }
    // The copy goes on with the fill its log names: one copy never mixes fills
    // written in place with fills left out, whatever the setting says now.
    file.fillType = static_cast<FillType>(logFill);
    file.destination.seek(0, Whence::End);
    file.log.dropEndRecord();
    file.droppedEnd = static_cast<std::uint64_t>(end);
    shared.filledBytes.store(earlierFills(RegionMap(earlier)));
    {
        std::lock_guard lock(shared.regionsMutex);
        shared.regions = std::move(earlier);
    }
    return LogUse::Continued;
}

// The source must be the one the copy was made from: the one its log recorded (size,
// time, medium), and one whose bytes agree with the copy's. Then it is read on from the
// end record. Resume with the whole file read has only the fills to read again.
bool CopyEngine::Impl::continueLog(const RegionMap& filled, std::uint64_t base, std::uint64_t end,
                                   std::int64_t logFill, bool resume)
{
    const bool withoutFills = logFill == static_cast<std::int64_t>(FillType::Nothing);
    const std::optional<SourceStamp> recorded = sourceStampOf(file.loggedAnnotations);
    if (recorded && !sameSource(*recorded, file.stamp)) {
        fail(EngineStatus::SourceChanged);
        return false;
    }
    if (!sourceMatchesCopy(filled, base, end, withoutFills)) {
        fail(EngineStatus::SourceMismatch);
        return false;
    }
    setBase(static_cast<std::int64_t>(base));
    file.mainSource.seek(static_cast<std::int64_t>(end - base), Whence::Begin);
    // Without fills in place (Nothing) the passes have nowhere to write.
    shared.triesAgain.store(resume && filled.meets(base, end) && !withoutFills &&
                            end - base >= file.mainSource.fileSize());
    return true;
}

// A run that only reads the fills again goes on with the passes where the log's record
// says, when the record fits the copy (its pass within its count, its offset within the
// copy; else the passes begin anew). Any other run drops the record: the log is rewritten
// without it before anything is copied.
void CopyEngine::Impl::takePassRecord(std::uint64_t end)
{
    file.passRecord = passPointOf(file.annotations);
    if (!file.passRecord) return;
    if (!shared.triesAgain.load()) {
        std::erase_if(file.annotations, [](const LogAnnotation& a) {
            return a.kind == static_cast<std::uint16_t>(AnnotationKind::PassReached);
        });
        file.passRecord.reset();
        return;
    }
    if (file.passRecord->pass <= file.passRecord->passes && file.passRecord->offset <= end)
        file.passResume = file.passRecord;
}

// The end record is where the copy ends: the run that wrote it wrote every byte before
// it, fills too; under the fill Nothing every byte but its regions' (listedBytes). A
// log whose end disagrees with its copy, or that would send Resume past the source,
// belongs to another state of the copy and would continue it shifted.
bool CopyEngine::Impl::endFitsCopy(std::int64_t end, std::int64_t logFill, std::int64_t listedBytes)
{
    const std::int64_t copySize = file.destination.size();
    if (copySize < 0) return false;
    if (logFill == static_cast<std::int64_t>(FillType::Nothing)) return end == copySize + listedBytes;
    return end == copySize;
}

// Goes on after the copy's last byte. Under Resume the source must be the file the copy
// was made from; a copy that has no log at all and is as long as its source is whole when
// every byte of it equals the source's (its log was deleted because nothing had to be
// filled): it is taken as it is, unasked. One that is not found equal cannot be told from
// a copy whose fills went unlisted, and is refused (CopyNotProven).
bool CopyEngine::Impl::prepareWithoutLog(ExistingPolicy chosen, bool logFound)
{
    const std::int64_t end = std::max<std::int64_t>(file.destination.seek(0, Whence::End), 0);
    const RegionMap below =
        RegionMap(file.unfinishedRegions).overlap(0, static_cast<std::uint64_t>(end));
    const bool resume = chosen == ExistingPolicy::Resume;
    const bool whole = resume && !logFound &&
                       static_cast<std::uint64_t>(end) == file.mainSource.fileSize();
    // Resume, and an Append whose run was cut off behind its base, go on with the source
    // where the copy ends.
    const bool goesOn = resume || (chosen == ExistingPolicy::Append && file.unfinishedBase);
    const std::uint64_t base = goesOn ? file.unfinishedBase.value_or(0) : 0;
    if (whole && compareWithCopy({}, 0, 0, static_cast<std::uint64_t>(end), false) != Match::Same) {
        fail(EngineStatus::CopyNotProven);
        return false;
    }
    if (!whole && !file.continuing && ask(QueryKind::NoLog) == std::optional(false)) {
        fail(EngineStatus::NoLogRefused);
        return false;
    }
    if (goesOn && !whole &&
        !sourceMatchesCopy(below, base, static_cast<std::uint64_t>(end), false)) {
        fail(EngineStatus::SourceMismatch);
        return false;
    }
    file.destination.seek(end, Whence::Begin);  // the check moved it
    if (whole) clearStatus();  // the missing log is no complaint here
    setBase(static_cast<std::int64_t>(goesOn ? base : static_cast<std::uint64_t>(end)));
    file.appending = chosen == ExistingPolicy::Append || (goesOn && file.unfinishedBase);
    if (goesOn) file.mainSource.seek(end - static_cast<std::int64_t>(base), Whence::Begin);
    // The copy goes on after its last byte: what the old log lists before it is still
    // filled, whatever else was wrong with the log.
    file.unfinishedRegions = *below.toRecords(LogForm::Wide);
    if (!below.empty()) {
        shared.filledBytes.store(earlierFills(below));
        std::lock_guard lock(shared.regionsMutex);
        shared.regions = file.unfinishedRegions;
    }
    return true;
}

// Compares what the copy holds as read data (outside every filled region, below end)
// with the source at the same offsets: its first and last kEdgeCheckBytes whole, and
// between them a few sectors: the last before end, the first, two between, and for a copy
// of kDenseCheckFrom bytes or more (an image of a card, where another card of the same
// size may agree in those) kDenseCheckSectors more spread evenly over it. A source shorter
// than the copy, or one byte that differs, is another file than the one the copy was made
// from. What the source cannot read now is passed over; a copy that cannot be read where
// it should hold data fails the check. filled and end are destination offsets; the copy
// of source offset 0 is at base. Without fills (the fill Nothing) the copy lacks the
// filled regions' bytes, so a source offset lies in the copy that many bytes earlier.
bool CopyEngine::Impl::sourceMatchesCopy(const RegionMap& filled, std::uint64_t base,
                                         std::uint64_t end, bool withoutFills)
{
    const std::uint64_t reach = end - base;  // source bytes the copy covers
    if (reach > file.mainSource.fileSize()) return false;
    RegionMap fills;
    for (const Region& r : filled.overlap(base, end)) fills.add(r.offset - base, r.length);
    const std::uint64_t sector = std::max<std::uint32_t>(file.mainSource.bytesPerSector(), 1);
    const auto down = [&](std::uint64_t at) { return at / sector * sector; };
    // The edges are compared whole; the sampled places between them.
    const std::uint64_t head = std::min(kEdgeCheckBytes, reach);
    const std::uint64_t tail = std::max(head, reach - std::min(reach, kEdgeCheckBytes));
    if (compareWithCopy(fills, base, 0, head, withoutFills) == Match::Differs ||
        compareWithCopy(fills, base, tail, reach, withoutFills) == Match::Differs) {
        return false;
    }
    std::vector<std::uint64_t> places = {reach == 0 ? 0 : down(reach - 1), std::uint64_t{0},
                                         down(reach / 3), down(reach / 3 * 2)};
    if (reach >= kDenseCheckFrom) {
        for (std::uint64_t k = 1; k <= kDenseCheckSectors; ++k)
            places.push_back(down(reach / (kDenseCheckSectors + 1) * k));
    }
    for (std::uint64_t at : places) {
        // Past the filled regions that meet the sector, to the next sector of read data.
        while (const std::optional<Region> region = fills.firstMeeting(at, at + sector)) {
            at = down(region->end() + sector - 1);
        }
        if (at >= head && at < tail &&
            compareWithCopy(fills, base, at, std::min(at + sector, reach), withoutFills) ==
                Match::Differs)
            return false;
    }
    return true;
}

CopyEngine::Impl::Match CopyEngine::Impl::compareWithCopy(const RegionMap& fills,
                                                          std::uint64_t base, std::uint64_t from,
                                                          std::uint64_t to, bool withoutFills)
{
    const std::uint64_t step = std::max<std::uint32_t>(file.mainSource.chunkSize(), 1);
    const std::uint64_t sector = std::max<std::uint32_t>(file.mainSource.bytesPerSector(), 1);
    // The source is read in whole sectors, as past the cache it must be.
    std::vector<std::uint8_t> fromSource(step + sector);
    std::vector<std::uint8_t> fromCopy(step);
    bool unread = false;
    for (std::uint64_t at = from; at < to;) {
        if (const std::optional<Region> fill = fills.firstMeeting(at, at + 1)) {
            at = fill->end();
            continue;
        }
        std::uint64_t stop = std::min(to, at + step);
        if (const std::optional<Region> next = fills.firstMeeting(at, stop)) stop = next->offset;
        const auto want = static_cast<std::uint32_t>(stop - at);
        const auto whole = static_cast<std::uint32_t>((want + sector - 1) / sector * sector);
        const std::uint32_t got =
            file.mainSource.seek(static_cast<std::int64_t>(at), Whence::Begin) < 0
                ? 0
                : std::min(file.mainSource.read(fromSource.data(), whole), want);
        if (got == 0) {
            unread = true;  // nothing to compare
            at = stop;
            continue;
        }
        const std::uint64_t inCopy = base + (withoutFills ? at - fills.bytesBelow(at) : at);
        if (file.destination.seek(static_cast<std::int64_t>(inCopy), Whence::Begin) < 0 ||
            file.destination.read(fromCopy.data(), got) != got ||
            !std::equal(fromSource.begin(), fromSource.begin() + got, fromCopy.begin())) {
            return Match::Differs;
        }
        at += got;
    }
    return unread ? Match::Unread : Match::Same;
}

// A run over a copy whose log records its phases goes on with them where the record
// says, when the record fits the copy (one with fills in place, whole up to the source's
// end, its points within it): the regions from its boundary on are then areas not
// tried, no fills. A record that does not fit goes, and every region counts as filled
// (the passes read them again).
void CopyEngine::Impl::takePhaseRecord(std::vector<BadRegion>& regions, std::uint64_t end,
                                       std::int64_t logFill)
{
    const std::optional<PhasePoint> point = phasePointOf(file.annotations);
    if (!point) return;
    const bool inPlace = logFill == static_cast<std::int64_t>(FillType::Zeros) ||
                         logFill == static_cast<std::int64_t>(FillType::Value) ||
                         logFill == static_cast<std::int64_t>(FillType::String);
    const bool fits = inPlace && end - file.base >= file.mainSource.fileSize() &&
                      (point->phase == 1 || point->phase == 2) &&
                      file.base <= point->boundary && point->boundary <= point->cursor &&
                      point->cursor <= end;
    if (!fits) {
        std::erase_if(file.annotations, [](const LogAnnotation& a) {
            return a.kind == static_cast<std::uint16_t>(AnnotationKind::NotTried);
        });
        return;
    }
    file.notTried.clear();
    std::erase_if(regions, [&](const BadRegion& r) {
        if (r.offset < point->boundary) return false;
        file.notTried.add(r.offset - file.base, r.length);
        return true;
    });
    file.phaseResume = point;
    shared.triesAgain.store(false);
}

}  // namespace tessaly
