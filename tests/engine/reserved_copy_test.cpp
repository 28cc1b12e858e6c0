#include <cstring>

#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ReservedCopyTest : public EngineTest
{
protected:
    ReservedCopyTest()
    {
        medium.addFile("/src/docs/report.doc", source);
        medium.markBad("/src/docs/report.doc", 6144, 1024);
    }
    const Bytes source = pattern(40960, 11);
};

TEST_F(ReservedCopyTest, NumberedCopiesBesideTheSourceStopAtTheFirstGap)
{
    Bytes second = source;
    second[6144] ^= 0xFF;  // would show if the third copy were read
    medium.addFile("/src/docs/report.doc.cp1", source);
    medium.addFile("/src/docs/report.doc.cp3", second);
    medium.markBad("/src/docs/report.doc.cp1", 30720, 512);
    ASSERT_TRUE(copy("/src/docs/report.doc"));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.readCount("/src/docs/report.doc.cp3"), 0);
    EXPECT_GT(medium.readCount("/src/docs/report.doc.cp1"), 0);
    // The main file's failure is covered by the copy; the copy's own failure
    // sends the loop back to the main file.
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(medium.contents("/out/report.doc"), source);
    EXPECT_FALSE(medium.hasFile("/out/report.doc.log"));
    EXPECT_TRUE(askedKinds().empty());
}

TEST_F(ReservedCopyTest, TheReservedFolderHoldsTheCopyUnderTheRelativeFolder)
{
    medium.addFile("/save/docs/report.doc", source);
    engine->setReservedPlacement(static_cast<std::int32_t>(ReservedPlacement::InFolder));
    engine->setReservedFolder("/save");
    EXPECT_EQ(engine->reservedFolder(), "/save/");
    ASSERT_TRUE(copy("/src/docs/report.doc", "/out", "/src"));
    EXPECT_EQ(engine->destinationPath(), "/out/docs/report.doc");
    EXPECT_GT(medium.readCount("/save/docs/report.doc"), 0);
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(medium.contents("/out/docs/report.doc"), source);
}

TEST_F(ReservedCopyTest, AskedCopiesAreRetriedUntilOneOpensOrTheUserDeclines)
{
    medium.addFile("/elsewhere/report.doc", source);
    engine->setReservedPlacement(static_cast<std::int32_t>(ReservedPlacement::Ask));
    for (const bool found : {true, false}) {
        SCOPED_TRACE(found);
        std::vector<std::string> replies = {"/src/docs/report.doc", "/nowhere/report.doc",
                                            found ? "/elsewhere/report.doc" : ""};
        std::size_t next = 0;
        answer = [&](EngineQuery& q) {
            if (q.kind == 3) return 1;
            EXPECT_EQ(q.bufferSize, kQueryBufferSize);
            const std::string reply = next < replies.size() ? replies[next++] : "";
            if (reply.empty()) return 0;
            std::memcpy(q.buffer, reply.c_str(), reply.size() + 1);
            return 1;
        };
        {
            std::lock_guard lock(mutex);
            kinds.clear();
            statusesSeen.clear();
        }
        engine->setExistingPolicy(static_cast<std::int32_t>(ExistingPolicy::Replace));
        ASSERT_TRUE(copy("/src/docs/report.doc"));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        const std::vector<EngineStatus> seen(statusesSeen.end() - 3, statusesSeen.end());
        EXPECT_EQ(seen, (std::vector<EngineStatus>{EngineStatus::Ok, EngineStatus::CopyAlreadyUsed,
                                                   EngineStatus::CopyOpenFailed}));
        if (found) {
            EXPECT_TRUE(engine->badRegions().empty());
            EXPECT_EQ(medium.contents("/out/report.doc"), source);
        } else {
            EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{6144, 512}, {6656, 512}}));
        }
    }
}

TEST_F(ReservedCopyTest, AnAnswerFillingTheWholeBufferIsCutAtItsEnd)
{
    engine->setReservedPlacement(static_cast<std::int32_t>(ReservedPlacement::BesideSource));
    int asked = 0;
    answer = [&](EngineQuery& q) {
        if (++asked > 1) return 0;
        std::memset(q.buffer, 'x', static_cast<std::size_t>(q.bufferSize));  // no terminating zero
        return 1;
    };
    ASSERT_TRUE(copy("/src/docs/report.doc"));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(engine->badRegions().size(), 2u);
}

}  // namespace
}  // namespace tessaly::testing
