// Resume compares a continued copy with its source before it writes: a copy is never
// finished from another file of the same name (another disc in the drive).
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SourceCheckTest : public EngineTest
{
protected:
    // The copy of a run stopped at 8192 bytes, with a zero fill at [1024, 1536).
    SourceCheckTest() : source(pattern(20480, 3)), copyBytes(slice(source, 0, 8192))
    {
        setSetting(*engine, &EngineSettings::trimPass, false);
        std::fill(copyBytes.begin() + 1024, copyBytes.begin() + 1536, 0);
        medium.addFile("/out/a", copyBytes);
        medium.addFile("/out/a.log", logBytes("a", 0, {{1024, 512}, {8192, 0}}));
    }

    // The copy and its log are byte for byte what they were, and nothing was asked but
    // whether to go on with the existing copy.
    void expectRefusedUntouched()
    {
        EXPECT_EQ(engine->status(), EngineStatus::SourceMismatch);
        EXPECT_EQ(medium.contents("/out/a"), copyBytes);
        EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{1024, 512}, {8192, 0}}));
        EXPECT_EQ(askedKinds(), std::vector<QueryKind>{QueryKind::Existing});
    }

    const Bytes source;
    Bytes copyBytes;
};

TEST_F(SourceCheckTest, AnotherFileOfTheSameNameIsRefusedAndNothingWritten)
{
    // Another disc: same size, other bytes; or the same bytes but one sector.
    Bytes oneSectorOff = source;
    oneSectorOff[2560 + 7] ^= 0x40;  // in the sector the check takes at a third of the copy
    for (const Bytes& other : {pattern(20480, 4), oneSectorOff}) {
        medium.addFile("/src/a", other);
        {
            std::lock_guard lock(mutex);
            kinds.clear();
        }
        EXPECT_FALSE(copy("/src/a"));
        expectRefusedUntouched();
    }
}

TEST_F(SourceCheckTest, ASourceShorterThanTheCopysEndIsRefused)
{
    medium.addFile("/src/a", slice(source, 0, 6000));
    EXPECT_FALSE(copy("/src/a"));
    expectRefusedUntouched();
    EXPECT_EQ(medium.readCount("/src/a"), 0);
}

// A copy records its source (size, time, medium) in its log when it starts; a copy
// continued from another card is refused even where its bytes agree with the card at
// every sampled place (SourceChanged), and a card with the same record but other bytes
// in the first or last MiB the copy holds is refused by comparing them (SourceMismatch).
// Resume and the wait for the medium (continueFile) check alike.
TEST_F(SourceCheckTest, AContinuedCopyIsRefusedForAnotherSourceThanItsLogRecorded)
{
    const std::uint64_t size = 4u << 20;
    const std::uint64_t unsampled = (3u << 19) + 1000;  // between the sampled places
    const Bytes card = pattern(size, 21);
    struct Case
    {
        const char* name;
        std::uint64_t changedByte;  // ~0: none
        const char* serial;
        std::uint64_t modified;
        std::uint64_t size;
        EngineStatus expected;
    };
    const std::uint64_t none = ~std::uint64_t{0};
    const Case cases[] = {
        {"another card's serial", unsampled, "card-2", 7, size, EngineStatus::SourceChanged},
        {"another modification time", unsampled, "card-1", 8, size, EngineStatus::SourceChanged},
        {"another size", none, "card-1", 7, size + 512, EngineStatus::SourceChanged},
        {"the same record, other bytes in the first MiB", 4000, "card-1", 7, size,
         EngineStatus::SourceMismatch},
        {"the same card", none, "card-1", 7, size, EngineStatus::Ok},
    };
    for (const bool viaWait : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) +
                         (viaWait ? ", continued after a wait" : ", resumed"));
            medium.addFile("/card/b", card);
            medium.setModified("/card/b", 7);
            medium.setVolumeSerial("/card", std::string("card-1"));
            medium.removeFile("/out/b");
            medium.removeFile("/out/b.log");
            ticks.hook = [this] {
                if (engine->position() >= (3u << 20)) engine->requestStop(false);
            };
            ASSERT_TRUE(copy("/card/b"));
            ticks.hook = nullptr;
            ASSERT_EQ(engine->status(), EngineStatus::Stopped);
            const Bytes copied = medium.contents("/out/b");

            Bytes other = card;
            other.resize(c.size, 0x5A);
            if (c.changedByte != none) other[c.changedByte] ^= 1;
            medium.addFile("/card/b", other);
            medium.setModified("/card/b", c.modified);
            medium.setVolumeSerial("/card", std::string(c.serial));
            const bool started = viaWait ? engine->continueFile("/card/b", "/out", "")
                                         : engine->startFile("/card/b", "/out", "");
            waitIdle();
            EXPECT_EQ(engine->status(), c.expected);
            EXPECT_EQ(started, c.expected == EngineStatus::Ok);
            EXPECT_EQ(medium.contents("/out/b"), c.expected == EngineStatus::Ok ? card : copied);
        }
    }
}

// A sector that cannot be read now is passed over, and the filled sectors are never
// compared (the copy holds a fill there, the source may give its data now): the same
// file continues.
TEST_F(SourceCheckTest, UnreadableAndFilledSectorsArePassedOver)
{
    medium.addFile("/src/a", source);
    medium.markBad("/src/a", 7680, 512);  // the last sector before the copy's end
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(continuedAt("/src/a", 8192), 8192u);
    EXPECT_EQ(slice(medium.contents("/out/a"), 8192, 20480), slice(source, 8192, 20480));
    EXPECT_EQ(slice(medium.contents("/out/a"), 0, 1024), slice(source, 0, 1024));
}

// A file copied whole has no log (it was deleted: nothing had to be filled). Running the
// same copy again finds it complete without asking; another file of that name and size
// is refused.
TEST_F(SourceCheckTest, ARerunOverAWholeCopyWithoutALogIsComplete)
{
    medium.addFile("/src/b", source);
    medium.addFile("/out/b", source);
    ASSERT_TRUE(copy("/src/b"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(askedKinds(), std::vector<QueryKind>{QueryKind::Existing});
    EXPECT_EQ(engine->snapshot().position, source.size());
    EXPECT_EQ(medium.contents("/out/b"), source);
    EXPECT_FALSE(medium.exists("/out/b.log"));

    // Every byte is compared: one that differs between the sampled places, or one the
    // source cannot give now, leaves the copy unproven, and it is refused as it is.
    for (const bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "unreadable" : "differs");
        Bytes other = source;
        other[7 * 512 + 100] ^= 1;
        medium.addFile("/src/c", unreadable ? source : other);
        if (unreadable) medium.markBad("/src/c", 7 * 512, 512);
        medium.addFile("/out/c", source);
        EXPECT_FALSE(copy("/src/c"));
        EXPECT_EQ(engine->status(), EngineStatus::CopyNotProven);
        EXPECT_EQ(medium.contents("/out/c"), source);
        EXPECT_FALSE(medium.exists("/out/c.log"));
    }
}

// Append copies the source again behind the copy by design: it is not compared.
TEST_F(SourceCheckTest, AppendIsNotChecked)
{
    medium.addFile("/src/a", pattern(20480, 4));
    setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Append);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(slice(medium.contents("/out/a"), 0, 8192), copyBytes);
}

// A continued copy keeps the fill its log names, whatever the setting is now: fills left
// out (Nothing) and fills written in place never mix in one copy. A log whose fill is
// unknown does not describe the copy.
TEST_F(SourceCheckTest, AContinuedCopyKeepsTheFillOfItsLog)
{
    medium.addFile("/src/a", source);
    medium.markBad("/src/a", 12288, 512);
    setSetting(*engine, &EngineSettings::fillType, FillType::Nothing);
    ASSERT_TRUE(copy("/src/a"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    Bytes expected = copyBytes;
    const Bytes rest = slice(source, 8192, 20480);
    expected.insert(expected.end(), rest.begin(), rest.end());
    std::fill(expected.begin() + 12288, expected.begin() + 12800, 0);  // zeros, as the log says
    EXPECT_EQ(medium.contents("/out/a"), expected);
    EXPECT_EQ(logOf("/out/a.log"), logBytes("a", 0, {{1024, 512}, {12288, 512}, {20480, 0}}));

    medium.addFile("/out/b", copyBytes);
    medium.addFile("/out/b.log", logBytes("b", 9, {{1024, 512}, {8192, 0}}));
    medium.addFile("/src/b", source);
    {
        std::lock_guard lock(mutex);
        kinds.clear();
    }
    answer = [](EngineQuery& q) { return q.kind != QueryKind::NoLog; };
    EXPECT_FALSE(copy("/src/b"));
    EXPECT_EQ(engine->status(), EngineStatus::NoLogRefused);
    EXPECT_EQ(askedKinds(), (std::vector<QueryKind>{QueryKind::Existing, QueryKind::NoLog}));
}

// A copy continued after its medium came back goes on from its log whatever the
// policy, without a question; another file under the name is still refused.
TEST_F(SourceCheckTest, AContinuedFileResumesUnderAnyPolicyUnasked)
{
    for (ExistingPolicy policy : {ExistingPolicy::Replace, ExistingPolicy::Append,
                                  ExistingPolicy::Skip}) {
        setSetting(*engine, &EngineSettings::existingPolicy, policy);
        medium.addFile("/src/a", pattern(20480, 4));
        EXPECT_FALSE(engine->continueFile("/src/a", "/out", ""));
        EXPECT_EQ(engine->status(), EngineStatus::SourceMismatch);
        EXPECT_EQ(medium.contents("/out/a"), copyBytes);
        EXPECT_TRUE(askedKinds().empty());
    }
    medium.addFile("/src/a", source);
    ASSERT_TRUE(engine->continueFile("/src/a", "/out", ""));
    waitIdle();
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(continuedAt("/src/a", 8192), 8192u);
    Bytes expected = source;
    std::fill(expected.begin() + 1024, expected.begin() + 1536, 0);
    EXPECT_EQ(medium.contents("/out/a"), expected);
    EXPECT_TRUE(askedKinds().empty());
    // The policy holds again for the next startFile.
    medium.addFile("/src/b", source);
    EXPECT_TRUE(copy("/src/b"));
    waitIdle();
    EXPECT_TRUE(askedKinds().empty());  // a new copy: nothing to ask
    medium.removeFile("/out/a.log");
    EXPECT_TRUE(copy("/src/a"));  // Skip: asked nothing, left as it is
    waitIdle();
    EXPECT_TRUE(engine->skippedExisting());
}

}  // namespace
}  // namespace tessaly::testing
