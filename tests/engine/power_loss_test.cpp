// Data before the claim: a power loss right after any sync point of a run leaves a copy
// whose log lists every byte it lacks. Each byte of the copy outside the regions of the
// log that survives (all of them, when no readable log does) is the source's.
#include <functional>
#include <optional>

#include "engine/copy_log.h"
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class PowerLossTest : public EngineTest
{
protected:
    // One copy run over a medium of its own, answered as EngineTest answers.
    struct Machine
    {
        ScriptedMedium medium;
        HookedTicks ticks;
        CopyEngine engine{medium, ticks};

        Machine()
        {
            medium.addFolder("/out");
            setSetting(engine, &EngineSettings::rereadCount, 1);
            engine.setQueryCallback([](EngineQuery& query) {
                return query.kind == QueryKind::NoLog || query.kind == QueryKind::Existing;
            });
            engine.beginRun();  // as the programs do: the copy's folder is synced through a handle
        }
        void copy()
        {
            ASSERT_TRUE(engine.startFile("/src/a", "/out", ""));
            while (!engine.waitUntilIdle(1000)) {
            }
        }
    };

    // The first byte of /out/a that differs from the source and that /out/a.log does not
    // list (a log without a readable name lists nothing); nullopt when there is none.
    std::optional<std::size_t> wrongUnlisted(ScriptedMedium& out) const
    {
        const Bytes copy = out.contents("/out/a");
        std::vector<BadRegion> regions;
        PlainFile file(out);
        if (file.openExisting("/out/a.log", Access::Read)) {
            CopyLog log;
            log.bind(&file);
            if (log.readRegions(regions) < 0) regions.clear();
        }
        for (std::size_t i = 0; i < copy.size(); ++i) {
            const bool listed = std::any_of(regions.begin(), regions.end(), [i](const BadRegion& r) {
                return i >= r.offset && i - r.offset < r.length;
            });
            if (!listed && (i >= source.size() || copy[i] != source[i])) return i;
        }
        return std::nullopt;
    }

    const Bytes source = pattern(20480, 5);
};

TEST_F(PowerLossTest, EverySyncPointLeavesTheCopyListedByItsLog)
{
    // A sector weak twice is filled by the main pass and read back by the trim; one weak
    // twice behind the first failure, by the first retry pass (see the trim's tests).
    struct Case
    {
        const char* name;
        std::function<void(Machine&)> before;  // the medium and the runs before the one under test
    };
    const auto from = [this](Machine& m) { m.medium.addFile("/src/a", source); };
    const Case cases[] = {
        {"fills in a new copy",
         [&](Machine& m) {
             from(m);
             m.medium.markBad("/src/a", 4096, 512);
             m.medium.markBad("/src/a", 12288, 512);
         }},
        {"the passes read part of the fills back",
         [&](Machine& m) {
             from(m);
             m.medium.markWeak("/src/a", 4096, 512, 2);
             m.medium.markBad("/src/a", 12288, 512);
         }},
        {"the trim and a retry pass read every fill back, and the log goes",
         [&](Machine& m) {
             from(m);
             m.medium.markWeak("/src/a", 4096, 512, 2);
             m.medium.markWeak("/src/a", 12288, 512, 2);
         }},
        {"a rerun over a finished copy reads its fills back, and the log goes",
         [&](Machine& m) {
             from(m);
             m.medium.markWeak("/src/a", 4096, 512, 2);
             m.medium.markWeak("/src/a", 12288, 512, 1);
             setSetting(m.engine, &EngineSettings::trimPass, false);
             m.copy();
             setSetting(m.engine, &EngineSettings::trimPass, true);
         }},
        {"the passes write a checkpoint before each sector they read",
         [&](Machine& m) {
             from(m);
             m.medium.markWeak("/src/a", 4096, 1024, 2);
             m.medium.markBad("/src/a", 12288, 1024);
             m.medium.setReadHook("/src/a", [&m](std::uint64_t) { m.ticks.at += 30000; });
         }},
        {"the easy data first, its log replaced before each read",
         [&](Machine& m) {
             from(m);
             m.medium.markBad("/src/a", 4096, 1024);
             m.medium.markWeak("/src/a", 12288, 512, 2);
             setSetting(m.engine, &EngineSettings::easyFirst, true);
             setSetting(m.engine, &EngineSettings::easyFirstAbove, std::uint64_t{0});
             m.medium.setReadHook("/src/a", [&m](std::uint64_t) { m.ticks.at += 30000; });
         }},
        {"the easy data first, going on after a copy cut short",
         [&](Machine& m) {
             from(m);
             m.medium.markBad("/src/a", 12288, 512);
             m.medium.addFile("/out/a", slice(source, 0, 4096));
             m.medium.addFile("/out/a.log", logBytes("a", 0, {{4096, 0}}));
             setSetting(m.engine, &EngineSettings::easyFirst, true);
             setSetting(m.engine, &EngineSettings::easyFirstAbove, std::uint64_t{0});
         }},
        {"Replace over a copy with fills elsewhere",
         [&](Machine& m) {
             from(m);
             m.medium.markBad("/src/a", 4096, 512);
             m.copy();
             from(m);  // the same file, read where it failed before
             m.medium.markBad("/src/a", 12288, 512);
             setSetting(m.engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
         }},
        {"a copy without its log goes on with a new one",
         [&](Machine& m) {
             from(m);
             m.medium.addFile("/out/a", slice(source, 0, 8192));
             m.medium.markBad("/src/a", 12288, 512);
         }},
    };
    for (const Case& c : cases) {
        int points = -1;  // the first run counts them
        for (int k = 0; points < 0 || k <= points; ++k) {
            SCOPED_TRACE(::testing::Message() << c.name << ", power lost after sync point " << k);
            Machine m;
            c.before(m);
            m.medium.trackDurability();
            m.medium.setPowerLossAfter(k);
            m.copy();
            EXPECT_EQ(m.engine.status(), EngineStatus::Ok);
            if (points < 0) points = m.medium.syncPoints();
            m.medium.losePower();
            EXPECT_EQ(wrongUnlisted(m.medium), std::nullopt);
        }
        EXPECT_GE(points, 3) << c.name;
    }
}

}  // namespace
}  // namespace tessaly::testing
