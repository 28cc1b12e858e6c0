// The engine's settings: replaced and read whole, and taken up by a file being copied
// where they always were.
#include <algorithm>
#include <limits>
#include <thread>

#include "engine/destination.h"
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class EngineSettingsTest : public EngineTest
{
protected:
    EngineSettingsTest() { setSetting(*engine, &EngineSettings::trimPass, false); }
};

TEST_F(EngineSettingsTest, FreshEngineHasTheDefaultsAndNormalisesWhatItIsGiven)
{
    CopyEngine fresh(medium, ticks);
    EngineSettings expected;
    expected.reservedFolder = withSeparator(expected.reservedFolder);
    EXPECT_EQ(fresh.settings(), expected);

    fresh.setSettings({.optimizeFor = 0.25f, .reservedFolder = "/save"});
    EXPECT_EQ(fresh.settings().reservedFolder, "/save/");
    for (const float outside : {-0.1f, 1.5f, std::numeric_limits<float>::quiet_NaN()}) {
        fresh.setSettings({.optimizeFor = outside, .reservedFolder = ""});
        EXPECT_EQ(fresh.settings().optimizeFor, 0.25f) << outside;  // kept
        EXPECT_EQ(fresh.settings().reservedFolder, "");
    }
    fresh.setSettings({.optimizeFor = 1.0f});
    EXPECT_EQ(fresh.settings().optimizeFor, 1.0f);  // held as given, not as a fill factor
    // More passes than the most a copy gets (a typed command line) count as the most.
    for (const std::uint32_t passes : {0u, kMaxRetryPasses, kMaxRetryPasses + 1, ~0u}) {
        fresh.setSettings({.retryPasses = passes});
        EXPECT_EQ(fresh.settings().retryPasses, std::min(passes, kMaxRetryPasses));
    }
}

// The fill type of a file is the one its log's header records: a change during the
// copy holds from the next file on, so a copy never mixes fills of Nothing (which
// leave the bytes out) with fills written in place.
TEST_F(EngineSettingsTest, FillTypeChangedDuringAFileHoldsFromTheNextFile)
{
    const Bytes source = pattern(20480);
    medium.addFile("/src/a", source);
    medium.markBad("/src/a", 2048, 512);
    medium.markBad("/src/a", 8192, 512);
    bool changed = false;
    ticks.hook = [&] {
        if (!changed && engine->filledBytes() > 0) {
            changed = true;
            setSetting(*engine, &EngineSettings::fillType, FillType::Nothing);
        }
    };
    setSetting(*engine, &EngineSettings::deleteLogIfNoErrors, false);
    ASSERT_TRUE(copy("/src/a"));
    ticks.hook = nullptr;
    ASSERT_TRUE(changed);
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    Bytes expected = source;
    std::fill(expected.begin() + 2048, expected.begin() + 2560, 0);
    std::fill(expected.begin() + 8192, expected.begin() + 8704, 0);
    EXPECT_EQ(medium.contents("/out/a"), expected);
    EXPECT_EQ(logOf("/out/a.log"),
              logBytes("a", 0, {{2048, 512}, {8192, 512}, {20480, 0}}));

    medium.addFile("/src/b", source);
    medium.markBad("/src/b", 2048, 512);
    ASSERT_TRUE(copy("/src/b"));
    EXPECT_EQ(medium.contents("/out/b").size(), 20480u - 512);
    EXPECT_EQ(logOf("/out/b.log"), logBytes("b", 4, {{2048, 512}, {20480, 0}}));
}

// The fill's value, like the attempts and the fill factor, is taken up at once.
TEST_F(EngineSettingsTest, FillValueChangedDuringAFileTakesEffectAtTheNextFill)
{
    const Bytes source = pattern(20480);
    medium.addFile("/src/a", source);
    medium.markBad("/src/a", 2048, 512);
    medium.markBad("/src/a", 8192, 512);
    engine->setSettings(
        {.fillType = FillType::Value, .fillValue = 0xAA, .rereadCount = 1, .trimPass = false});
    bool changed = false;
    ticks.hook = [&] {
        if (!changed && engine->filledBytes() > 0) {
            changed = true;
            setSetting(*engine, &EngineSettings::fillValue, 0xBB);
        }
    };
    ASSERT_TRUE(copy("/src/a"));
    ticks.hook = nullptr;
    Bytes expected = source;
    std::fill(expected.begin() + 2048, expected.begin() + 2560, 0xAA);
    std::fill(expected.begin() + 8192, expected.begin() + 8704, 0xBB);
    EXPECT_EQ(medium.contents("/out/a"), expected);
}

// Settings replaced from one thread while others read them and a file is copied:
// every reader sees one whole set or the other, never a mix of both.
TEST_F(EngineSettingsTest, SettingsAreReplacedAndReadWhole)
{
    const EngineSettings first{.autoRereads = false,
                               .fillString = "first",
                               .fillType = FillType::Value,
                               .fillValue = 1,
                               .optimizeFor = 0.0f,
                               .reservedFolder = "/one/",
                               .rereadCount = 1};
    const EngineSettings second{.autoRereads = false,
                                .fillString = "second",
                                .fillType = FillType::String,
                                .fillValue = 2,
                                .optimizeFor = 1.0f,
                                .reservedFolder = "/two/",
                                .rereadCount = 2,
                                .trimPass = false};
    engine->setSettings(first);
    const Bytes source = pattern(204800);
    medium.addFile("/src/a", source);
    for (std::uint32_t at = 4096; at < 204800; at += 8192) medium.markBad("/src/a", at, 512);

    std::atomic<bool> done{false};
    std::atomic<int> mixed{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const EngineSettings seen = engine->settings();
                if (seen != first && seen != second) mixed.fetch_add(1);
            }
        });
    }
    ASSERT_TRUE(engine->startFile("/src/a", "/out", ""));
    for (int i = 0; i < 2000; ++i) engine->setSettings(i % 2 == 0 ? second : first);
    waitIdle();
    done.store(true);
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_EQ(engine->settings(), first);
    EXPECT_EQ(medium.contents("/out/a").size(), source.size());
}

}  // namespace
}  // namespace tessaly::testing
