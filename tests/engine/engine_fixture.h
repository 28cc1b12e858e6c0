#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/copy_engine.h"
#include "tests/support/engine_settings_edit.h"
#include "tests/support/log_bytes.h"
#include "tests/support/scripted_medium.h"

namespace tessaly::testing {

// A clock that stands still unless a test moves it (at), and can run a hook on every
// reading (the worker reads it when it counts bytes), so that tests can act at an exact
// point of a copy.
class HookedTicks : public TickSource
{
public:
    std::uint32_t now() const override
    {
        if (hook) hook();
        return at.load();
    }
    std::function<void()> hook;
    std::atomic<std::uint32_t> at{1000};
};

}  // namespace tessaly::testing

namespace tessaly {

// What only tests change in a CopyEngine.
class CopyEngineTestAccess
{
public:
    static void setThreadStarter(CopyEngine& engine, ThreadStarter starter)
    {
        engine.setThreadStarter(std::move(starter));
    }
};

}  // namespace tessaly

namespace tessaly::testing {

// A CopyEngine over a ScriptedMedium whose questions are recorded and answered by
// `answer` (default: decline more copies, allow everything else).
class EngineTest : public ::testing::Test
{
protected:
    EngineTest()
    {
        medium.addFolder("/out");
        engine = std::make_unique<CopyEngine>(medium, ticks);
        setSetting(*engine, &EngineSettings::rereadCount, 1);
        engine->setQueryCallback([this](EngineQuery& query) {
            {
                std::lock_guard lock(mutex);
                kinds.push_back(query.kind);
                statusesSeen.push_back(engine->status());
            }
            if (answer) return answer(query);
            return query.kind == QueryKind::NoLog || query.kind == QueryKind::Existing;
        });
    }

    // Bytes that differ from sector to sector, so misplaced data shows.
    static std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed = 1)
    {
        std::vector<std::uint8_t> bytes(size);
        std::uint32_t x = seed * 2654435761u + 1;
        for (auto& b : bytes) {
            x = x * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(x >> 16);
        }
        return bytes;
    }

    bool copy(const std::string& source, const std::string& output = "/out",
              const std::string& base = "")
    {
        if (!engine->startFile(source, output, base)) return false;
        waitIdle();
        return true;
    }

    void waitIdle()
    {
        while (!engine->waitUntilIdle(1000)) {
        }
    }

    // The expected log: header, then the records (the end record included).
    static std::vector<std::uint8_t> logBytes(const std::string& name, std::int32_t fill,
                                              const std::vector<BadRegion>& records)
    {
        return copyLogBytes(name, fill, records);
    }

    // The annotation block of a new log: mark, count, the source's annotation (1 + 6 words).
    static constexpr std::size_t kSourceBlockBytes = 9 * CopyLog::kRecordSize;

    // The log at path without its annotation block (see withoutAnnotations).
    std::vector<std::uint8_t> logOf(const std::string& path) const
    {
        return withoutAnnotations(medium.contents(path));
    }

    // Where the copy of a source continued at end began to read: past the reads of the
    // source check before it (at most 64, each below end).
    std::uint64_t continuedAt(const std::string& path, std::uint64_t end) const
    {
        const std::vector<std::uint64_t> offsets = medium.readOffsets(path);
        std::size_t i = 0;
        while (i < offsets.size() && i < 64 && offsets[i] < end) ++i;
        return i < offsets.size() ? offsets[i] : ~std::uint64_t{0};
    }
    std::vector<QueryKind> askedKinds()
    {
        std::lock_guard lock(mutex);
        return kinds;
    }

    ScriptedMedium medium;
    HookedTicks ticks;
    std::function<bool(EngineQuery&)> answer;
    std::mutex mutex;
    std::vector<QueryKind> kinds;
    std::vector<EngineStatus> statusesSeen;
    std::unique_ptr<CopyEngine> engine;  // last: it goes first, while the above still live
};

inline std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::size_t begin,
                                       std::size_t end)
{
    return {bytes.begin() + static_cast<std::ptrdiff_t>(begin),
            bytes.begin() + static_cast<std::ptrdiff_t>(end)};
}

}  // namespace tessaly::testing
