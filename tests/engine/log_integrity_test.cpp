// The copy log stays true to its copy: whatever a run meets (a full disk, a kill at
// any write, a crafted or stale log, a file beside the copy named like a scratch
// file), the copy ends right outside the regions its log lists, or the run says why.
#include <algorithm>
#include <functional>
#include <map>

#include "engine/copy_log.h"
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// bytes with [offset, offset + length) set to zero, as a fill of zeros leaves it.
Bytes zeroed(Bytes bytes, std::size_t offset, std::size_t length)
{
    for (std::size_t i = offset; i < offset + length && i < bytes.size(); ++i) bytes[i] = 0;
    return bytes;
}

class LogIntegrityTest : public EngineTest
{
protected:
    LogIntegrityTest()
    {
        setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
        // The fills here are made up over readable sources, which the trim would read.
        setSetting(*engine, &EngineSettings::trimPass, false);
        medium.addFile("/src/a", source);
    }

    // The regions a log file lists, end records left out; nullopt when it has no
    // readable name.
    std::optional<std::vector<BadRegion>> listed(const std::string& logPath)
    {
        PlainFile file(medium);
        if (!file.openExisting(logPath, Access::Read)) return std::nullopt;
        CopyLog log;
        log.bind(&file);
        std::vector<BadRegion> regions;
        if (log.readRegions(regions) < 0) return std::nullopt;
        std::erase_if(regions, [](const BadRegion& r) { return r.length == 0; });
        return regions;
    }

    // Every byte of the copy outside the regions its log lists is the source's byte.
    void expectRightOutsideListed(const std::string& copyPath, const std::string& logPath)
    {
        const Bytes copy = medium.contents(copyPath);
        ASSERT_LE(copy.size(), source.size());
        const auto regions = listed(logPath);
        ASSERT_TRUE(regions.has_value());
        std::vector<bool> filled(copy.size(), false);
        for (const BadRegion& r : *regions) {
            for (std::uint64_t i = r.offset; i < std::uint64_t{r.offset} + r.length && i < copy.size(); ++i)
                filled[i] = true;
        }
        for (std::size_t i = 0; i < copy.size(); ++i) {
            if (!filled[i] && copy[i] != source[i]) {
                ADD_FAILURE() << "byte " << i << " is wrong and not listed";
                return;
            }
        }
    }

    std::vector<std::string> filesIn(const std::string& folder)
    {
        std::vector<FolderEntry> entries;
        medium.listFolder(folder, &entries);
        std::vector<std::string> names;
        for (const FolderEntry& e : entries) names.push_back(e.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    const Bytes source = pattern(20480, 11);
};

// The trim pass writes its new log under a fresh name, on the medium before the
// rename: a copied file named like the old scratch name survives, and nothing is
// left behind.
TEST_F(LogIntegrityTest, TheTrimReplacesItsLogWithoutTouchingOtherFiles)
{
    const Bytes other = pattern(3000, 2);
    for (const char* name : {"/out/a.log.new", "/out/a.log.tmp", "/out/.a.log"})
        medium.addFile(name, other);
    setSetting(*engine, &EngineSettings::trimPass, true);
    medium.markWeak("/src/a", 10240, 512, 2);
    std::vector<std::string> renamedFrom;
    medium.setRenameHook([&](const std::string& from, const std::string& to) {
        EXPECT_EQ(to, "/out/a.log");
        EXPECT_GT(medium.syncCount(from), 0) << "renamed before it reached the medium";
        renamedFrom.push_back(from);
    });
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    ASSERT_EQ(renamedFrom.size(), 1u);
    EXPECT_EQ(medium.contents("/out/a"), source);
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{20480, 0}}));
    for (const char* name : {"/out/a.log.new", "/out/a.log.tmp", "/out/.a.log"})
        EXPECT_EQ(medium.contents(name), other) << name;
    EXPECT_EQ(filesIn("/out"),
              (std::vector<std::string>{".a.log", "a", "a.log", "a.log.new", "a.log.tmp"}));
}

// A rerun over a log that cannot be continued writes the regions it still lists into
// a new log. Killed at any write of that log or at its rename, the log beside the copy
// still lists them, and the run after it ends with every byte right or listed.
TEST_F(LogIntegrityTest, AKillWhileTheEarlierFillsAreRewrittenLosesNone)
{
    const Bytes unfinished = logBytes("a", 0, {{1024, 512}, {2048, 1024}});  // never ended
    const Bytes filledCopy = zeroed(zeroed(slice(source, 0, 6144), 1024, 512), 2048, 1024);
    std::map<std::string, Bytes> left;  // the files as the kill leaves them
    const auto kill = [&] {
        if (!left.empty()) return;
        left["/out/a"] = medium.contents("/out/a");
        left["/out/a.log"] = logOf("/out/a.log");
    };
    for (const bool atRename : {false, true}) {
        SCOPED_TRACE(atRename ? "killed at the rename" : "killed at a write of the log");
        left.clear();
        medium.addFile("/out/a", filledCopy);
        medium.addFile("/out/a.log", unfinished);
        if (atRename) {
            medium.setRenameHook([&](const std::string&, const std::string&) { kill(); });
        } else {
            medium.setWriteHook("/out/a.log", [&](std::uint64_t) { kill(); });
        }
        ASSERT_TRUE(copy("/src/a"));
        medium.setRenameHook(nullptr);
        medium.setWriteHook("/out/a.log", nullptr);
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        EXPECT_EQ(engine->filledBytes(), 1536);
        EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{1024, 512}, {2048, 1024}, {20480, 0}}));
        if (left.empty()) continue;  // no write reached the log's own name before the rename
        EXPECT_EQ(left["/out/a.log"], unfinished);
        for (const auto& [path, bytes] : left) medium.addFile(path, bytes);
        ASSERT_TRUE(copy("/src/a"));
        EXPECT_EQ(engine->filledBytes(), 1536);
        expectRightOutsideListed("/out/a", "/out/a.log");
    }
}

// A fill is written only once its record is in the log: when the log cannot take the
// record (its volume is full), the file ends there with LogWriteFailed, the copy
// holding nothing unlisted, and a later run goes on from there.
TEST_F(LogIntegrityTest, AFillWhoseRecordCannotBeWrittenIsNotWritten)
{
    medium.markBad("/src/a", 4096, 512);
    medium.markBad("/src/a", 12288, 512);
    const std::size_t header = logBytes("a", 0, {}).size() + kSourceBlockBytes;
    medium.setWriteLimit("/out/a.log", header + CopyLog::kRecordSize);  // the first record only
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::LogWriteFailed);
    EXPECT_EQ(medium.contents("/out/a").size(), 12288u);
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{4096, 512}}));
    expectRightOutsideListed("/out/a", "/out/a.log");

    medium.setWriteLimit("/out/a.log", std::uint64_t{1} << 30);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->filledBytes(), 1024);
    EXPECT_EQ(medium.contents("/out/a").size(), source.size());
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{4096, 512}, {12288, 512}, {20480, 0}}));
    expectRightOutsideListed("/out/a", "/out/a.log");
}

// The end record that closes a run must be one: a whole record after the name, equal
// to the copy's size, within the source. Any other log would continue the copy shifted
// or half; it counts as no usable log, and the copy goes on after its last byte with
// the regions the log still lists.
TEST_F(LogIntegrityTest, AnEndRecordThatDoesNotFitTheCopyMakesTheLogUnusable)
{
    struct Case
    {
        const char* name;
        Bytes log;
        std::size_t copySize = 8192;
    };
    Bytes trailing = logBytes("a", 0, {{512, 512}, {8192, 0}});
    trailing.insert(trailing.end(), {0, 0, 0});
    const Case cases[] = {
        {"three trailing bytes", trailing},
        {"a record cut short", [] {
             Bytes b = logBytes("a", 0, {{512, 512}, {8192, 0}});
             b.resize(b.size() - 3);
             return b;
         }()},
        {"end before the copy's end", logBytes("a", 0, {{512, 512}, {4096, 0}})},
        {"end beyond the copy's end", logBytes("a", 0, {{512, 512}, {12288, 0}})},
        {"end beyond the copy's end and the source", logBytes("a", 0, {{512, 512}, {40960, 0}}),
         20480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard lock(mutex);
            kinds.clear();
        }
        medium.addFile("/out/a", zeroed(slice(source, 0, c.copySize), 512, 512));
        medium.addFile("/out/a.log", c.log);
        ASSERT_TRUE(copy("/src/a"));
        EXPECT_EQ(askedKinds(), (std::vector<QueryKind>{QueryKind::Existing, QueryKind::NoLog}));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        EXPECT_EQ(engine->filledBytes(), 512);
        EXPECT_EQ(medium.contents("/out/a").size(), source.size());
        expectRightOutsideListed("/out/a", "/out/a.log");
        EXPECT_EQ(slice(medium.contents("/out/a"), 1024, source.size()), slice(source, 1024, source.size()));
    }

    // Under the fill Nothing the copy lacks just the bytes of the regions: shorter by
    // more or less, it is not the copy the log describes. Going on after its last byte,
    // its bytes would stand at the source's offsets, which they do not: it is refused.
    Bytes withoutRegion = slice(source, 0, 512);
    const Bytes rest = slice(source, 1024, 8192);
    withoutRegion.insert(withoutRegion.end(), rest.begin(), rest.end());
    for (const std::uint32_t end : {8192u, 9216u, 7680u}) {
        SCOPED_TRACE(end);
        const std::string name = "n" + std::to_string(end);
        medium.addFile("/src/" + name, source);
        medium.addFile("/out/" + name, withoutRegion);
        medium.addFile("/out/" + name + ".log", logBytes(name, 4, {{512, 512}, {end, 0}}));
        {
            std::lock_guard lock(mutex);
            kinds.clear();
        }
        const bool fits = end == 8192;
        ASSERT_EQ(copy("/src/" + name), fits);
        EXPECT_EQ(askedKinds().size(), fits ? 1u : 2u);
        if (fits) {
            EXPECT_EQ(continuedAt("/src/" + name, 8192), 8192u);
        } else {
            EXPECT_EQ(engine->status(), EngineStatus::SourceMismatch);
            EXPECT_EQ(medium.contents("/out/" + name), withoutRegion);
        }
    }
}

// Without a usable log the fills that the old log lists below the copy's end stay
// listed, merged, in the new log; those at or past it are written anew.
TEST_F(LogIntegrityTest, GoingOnWithoutAUsableLogKeepsItsFills)
{
    medium.addFile("/out/a", zeroed(slice(source, 0, 8192), 512, 1536));
    medium.addFile("/out/a.log",
                   logBytes("a", 0, {{1024, 1024}, {512, 1024}, {7680, 4096}, {4096, 0}}));
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(engine->filledBytes(), 1536 + 512);
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{512, 1536}, {7680, 512}, {20480, 0}}));
    expectRightOutsideListed("/out/a", "/out/a.log");
}

// The log that the trim rewrites cannot be written: the old one stays the truth, the run
// reports the regions it lists and says that the log could not be updated.
TEST_F(LogIntegrityTest, ALogThePassesCannotRewriteStaysTheTruth)
{
    setSetting(*engine, &EngineSettings::trimPass, true);
    // One retry pass: the budget of reads per sector then lets the trim read the sector
    // whose chunk and sector read failed.
    setSetting(*engine, &EngineSettings::retryPasses, 1u);
    struct Case
    {
        const char* name;  // of the source and its copy
        std::function<void()> fault;
    };
    int writesAt4096 = 0;
    const Case cases[] = {
        // The disk fills up once the trim writes the sector it read back.
        {"full", [&] {
             medium.setWriteHook("/out/full", [&](std::uint64_t at) {
                 if (at == 4096 && ++writesAt4096 == 2) medium.setQuota(0);
             });
         }},
        {"unsynced", [&] { medium.failSyncs("/out/.tessaly-"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        medium.addFile("/src/" + name, source);
        medium.markWeak("/src/" + name, 4096, 512, 2);  // read back by the trim
        medium.markBad("/src/" + name, 12288, 512);
        c.fault();
        ASSERT_TRUE(copy("/src/" + name));
        medium.setQuota(std::uint64_t{1} << 30);
        EXPECT_EQ(engine->status(), EngineStatus::LogUpdateFailed);
        EXPECT_EQ(engine->filledBytes(), 1024);
        EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{4096, 512}, {12288, 512}}));
        EXPECT_EQ(logOf("/out/" + name + ".log"),
                  logBytes(name, 0, {{4096, 512}, {12288, 512}, {20480, 0}}));
    }
    EXPECT_EQ(filesIn("/out"),
              (std::vector<std::string>{"full", "full.log", "unsynced", "unsynced.log"}));
}

// A copy that cannot be put on the medium (its sync fails, or its log's) is not called
// whole: its log gets no end record and is not deleted, and the next run takes over
// the regions it lists.
TEST_F(LogIntegrityTest, ACopyThatDoesNotReachTheMediumIsNotReportedWhole)
{
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, true);
    const struct
    {
        const char* name;
        bool filled;  // the copy has a fill: its log is synced first
        EngineStatus status;
    } cases[] = {{"clean", false, EngineStatus::WriteFailed},
                 {"filled", true, EngineStatus::LogWriteFailed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        medium.addFile("/src/" + name, source);
        if (c.filled) medium.markBad("/src/" + name, 4096, 512);
        medium.failSyncs("/out/" + name);  // the copy and its log
        ASSERT_TRUE(copy("/src/" + name));
        EXPECT_EQ(engine->status(), c.status);
        const std::vector<BadRegion> listed =
            c.filled ? std::vector<BadRegion>{{4096, 512}} : std::vector<BadRegion>{};
        EXPECT_EQ(logOf("/out/" + name + ".log"), logBytes(name, 0, listed));
    }
}

// A run removes the scratch logs that a killed run left in its copy's folder: only files
// named as the log's writer names them, not through a link, not one a writer holds.
TEST_F(LogIntegrityTest, ARunRemovesStaleScratchLogsAndNothingElse)
{
    enum Kind { Stale, Held, Link, Folder };
    struct Case
    {
        const char* name;
        Kind kind;
    };
    const Case cases[] = {
        {".tessaly-0123456789abcdef.log.tmp", Stale},
        {".tessaly-fedcba9876543210.log.tmp", Held},
        {".tessaly-1111111111111111.log.tmp", Link},
        {".tessaly-2222222222222222.log.tmp", Folder},
        {".tessaly-0123456789ABCDEF.log.tmp", Stale},
        {".tessaly-0123456789abcde.log.tmp", Stale},
        {".tessaly-0123456789abcdef0.log.tmp", Stale},
        {".tessaly-0123456789abcdeg.log.tmp", Stale},
        {"tessaly-0123456789abcdef.log.tmp", Stale},
        {".tessaly-0123456789abcdef.log", Stale},
        {"a.tessaly-0123456789abcdef.log.tmp", Stale},
    };
    const Bytes other = pattern(100, 3);
    medium.addFile("/keep/target", other);
    std::unique_ptr<File> held;
    for (const Case& c : cases) {
        const std::string path = std::string("/out/") + c.name;
        if (c.kind == Link) medium.addSymlink(path, "/keep/target");
        if (c.kind == Folder) medium.addFolder(path);
        if (c.kind != Stale && c.kind != Held) continue;
        medium.addFile(path, other);
        if (c.kind == Held) {
            held = medium.open(path, Disposition::OpenExisting, Access::Write, nullptr);
            ASSERT_TRUE(held && held->tryLock());
        }
    }
    ASSERT_TRUE(copy("/src/a"));
    for (const Case& c : cases) {
        const std::string path = std::string("/out/") + c.name;
        const bool removable = &c == &cases[0];  // the only name of the form that is stale
        EXPECT_EQ(medium.exists(path) || medium.isSymlink(path), !removable) << c.name;
    }
    EXPECT_EQ(medium.contents("/keep/target"), other);
}

// A log made unusable by one bad field still lists fills that are in its copy. Going on
// without it (the NoLog question allowed, as --yes does) carries what its records say
// where they can be trusted; where nothing can be, the whole copy counts as filled. The
// copy is never right only outside regions that its new log fails to list.
TEST_F(LogIntegrityTest, AnUnusableLogsFillsStayListed)
{
    const std::vector<BadRegion> regions = {{1024, 512}, {8192, 0}};
    const auto withMagic = [](Bytes log, const char* magic) {
        std::copy(magic, magic + 4, log.begin());
        return log;
    };
    struct Case
    {
        const char* name;
        Bytes log;
    };
    const Case cases[] = {
        {"name length 0", copyLogBytes("a", 0, regions, 0)},
        {"name length past the file", copyLogBytes("a", 0, regions, 259)},
        {"fill type out of range", logBytes("a", 9, regions)},
        {"negative fill type", logBytes("a", -1, regions)},
        {"unknown magic", withMagic(logBytes("a", 0, regions), "ACX")},
        {"wide magic over narrow records", withMagic(logBytes("a", 0, regions), "AC64")},
        {"narrow magic over wide records", withMagic(wideLogBytes("a", 0, regions), "ACL")},
        {"a record of 2^63 bytes",
         wideLogBytes("a", 0, {{1024, std::uint64_t{1} << 63}, {8192, 0}})},
        {"a record past the end record", logBytes("a", 0, {{1024, 512}, {4096, 8192}, {8192, 0}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        medium.addFile("/out/a", zeroed(slice(source, 0, 8192), 1024, 512));
        medium.addFile("/out/a.log", c.log);
        ASSERT_TRUE(copy("/src/a"));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        EXPECT_GE(engine->filledBytes(), 512);
        expectRightOutsideListed("/out/a", "/out/a.log");
    }
}

}  // namespace
}  // namespace tessaly::testing
