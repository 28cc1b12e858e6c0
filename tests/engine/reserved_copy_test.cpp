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
    setSetting(*engine, &EngineSettings::reservedPlacement, ReservedPlacement::InFolder);
    setSetting(*engine, &EngineSettings::reservedFolder, "/save");
    EXPECT_EQ(engine->settings().reservedFolder, "/save/");
    ASSERT_TRUE(copy("/src/docs/report.doc", "/out", "/src"));
    EXPECT_EQ(engine->destinationPath(), "/out/docs/report.doc");
    EXPECT_GT(medium.readCount("/save/docs/report.doc"), 0);
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(medium.contents("/out/docs/report.doc"), source);
}

// Under Append the copy being written holds an earlier copy, fills included, at the
// offsets the loop reads: it is never taken as a copy of its own source.
TEST_F(ReservedCopyTest, TheDestinationIsNeverReadAsACopy)
{
    Bytes earlier = source;
    std::fill(earlier.begin() + 6144, earlier.begin() + 7168, 0xAA);  // an earlier fill
    for (const auto placement : {ReservedPlacement::InFolder, ReservedPlacement::Ask}) {
        SCOPED_TRACE(static_cast<int>(placement));
        medium.addFile("/out/report.doc", earlier);
        medium.removeFile("/out/report.doc.log");
        setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Append);
        setSetting(*engine, &EngineSettings::reservedPlacement, placement);
        setSetting(*engine, &EngineSettings::reservedFolder, "/out");
        int asked = 0;
        answer = [&asked](EngineQuery& q) {
            if (q.kind == QueryKind::NoLog || q.kind == QueryKind::Existing) return 1;
            if (asked++ > 0) return 0;  // declines once its answer was refused
            q.path = "/out/report.doc";
            return 1;
        };
        statusesSeen.clear();
        ASSERT_TRUE(copy("/src/docs/report.doc", "/out", ""));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        EXPECT_EQ(asked, 2);
        EXPECT_EQ(statusesSeen.back(), EngineStatus::CopyAlreadyUsed);
        // The two sectors filled one by one end as one region after the trim pass.
        EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{40960 + 6144, 1024}}));
        EXPECT_EQ(slice(medium.contents("/out/report.doc"), 40960 + 6144, 40960 + 7168),
                  Bytes(1024, 0));
    }
}

TEST_F(ReservedCopyTest, AskedCopiesAreRetriedUntilOneOpensOrTheUserDeclines)
{
    medium.addFile("/elsewhere/report.doc", source);
    setSetting(*engine, &EngineSettings::reservedPlacement, ReservedPlacement::Ask);
    for (const bool found : {true, false}) {
        SCOPED_TRACE(found);
        std::vector<std::string> replies = {"/src/docs/report.doc", "/nowhere/report.doc",
                                            found ? "/elsewhere/report.doc" : ""};
        std::size_t next = 0;
        std::vector<std::string> handedBack;  // the path each question arrives with
        answer = [&](EngineQuery& q) {
            if (q.kind == QueryKind::Existing) return 1;
            handedBack.push_back(q.path);
            const std::string reply = next < replies.size() ? replies[next++] : "";
            if (reply.empty()) return 0;
            q.path = reply;
            return 1;
        };
        {
            std::lock_guard lock(mutex);
            kinds.clear();
            statusesSeen.clear();
        }
        setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
        ASSERT_TRUE(copy("/src/docs/report.doc"));
        EXPECT_EQ(engine->status(), EngineStatus::Ok);
        const std::vector<EngineStatus> seen(statusesSeen.end() - 3, statusesSeen.end());
        EXPECT_EQ(seen, (std::vector<EngineStatus>{EngineStatus::Ok, EngineStatus::CopyAlreadyUsed,
                                                   EngineStatus::CopyOpenFailed}));
        // A question asked again names the copy that could not be used.
        EXPECT_EQ(std::vector<std::string>(handedBack.begin(), handedBack.begin() + 3),
                  (std::vector<std::string>{"", "/src/docs/report.doc", "/nowhere/report.doc"}));
        if (found) {
            EXPECT_TRUE(engine->badRegions().empty());
            EXPECT_EQ(medium.contents("/out/report.doc"), source);
        } else {
            EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{6144, 1024}}));
        }
    }
}

TEST_F(ReservedCopyTest, ACopyThatOpensClearsTheComplaintAboutTheAnswerBefore)
{
    medium.addFile("/elsewhere/report.doc", source);
    medium.markBad("/elsewhere/report.doc", 20480, 512);
    medium.markBad("/src/docs/report.doc", 20480, 512);
    for (const std::string first : {"/src/docs/report.doc", "/nowhere/report.doc"}) {
        SCOPED_TRACE(first);
        std::vector<std::string> replies = {first, "/elsewhere/report.doc"};
        std::size_t next = 0;
        answer = [&](EngineQuery& q) {
            if (q.kind == QueryKind::Existing) return 1;
            if (next >= replies.size()) return 0;
            q.path = replies[next];
            ++next;
            return 1;
        };
        {
            std::lock_guard lock(mutex);
            statusesSeen.clear();
        }
        setSetting(*engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
        ASSERT_TRUE(copy("/src/docs/report.doc"));
        const EngineStatus complaint = first == "/nowhere/report.doc"
                                           ? EngineStatus::CopyOpenFailed
                                           : EngineStatus::CopyAlreadyUsed;
        // The last question comes when both files fail at 20480.
        const std::vector<EngineStatus> seen(statusesSeen.end() - 3, statusesSeen.end());
        EXPECT_EQ(seen, (std::vector<EngineStatus>{EngineStatus::Ok, complaint, EngineStatus::Ok}));
        EXPECT_EQ(engine->badRegions(), (std::vector<BadRegion>{{20480, 512}}));
    }
}

TEST_F(ReservedCopyTest, ALongAnswerIsTakenWhole)
{
    const std::string longPath = "/copies/" + std::string(300, 'x');
    medium.addFile(longPath, source);
    medium.addFile(longPath.substr(0, 260), pattern(40960, 12));
    setSetting(*engine, &EngineSettings::reservedPlacement, ReservedPlacement::BesideSource);
    int asked = 0;
    answer = [&](EngineQuery& q) {
        if (++asked > 1) return false;
        q.path = longPath;
        return true;
    };
    ASSERT_TRUE(copy("/src/docs/report.doc"));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(engine->badRegions().empty());
    EXPECT_EQ(medium.contents("/out/report.doc"), source);
}

}  // namespace
}  // namespace tessaly::testing
