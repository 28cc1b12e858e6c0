// Symbolic links where the copy, its log or a folder of the copy belongs: the
// engine refuses the file before it creates or writes anything.
#include "tests/engine/engine_fixture.h"

namespace tessaly::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class LinkInWayTest : public EngineTest
{
protected:
    LinkInWayTest()
    {
        medium.addFile("/src/a", source);
        medium.addFile("/elsewhere/target", target);
    }

    // Refused with LinkInWay, nothing asked, the link's target untouched.
    void expectRefused(const std::string& path, const std::string& output = "/out",
                       const std::string& base = "")
    {
        EXPECT_FALSE(engine->startFile(path, output, base));
        EXPECT_EQ(engine->status(), EngineStatus::LinkInWay);
        EXPECT_FALSE(engine->busy());
        EXPECT_TRUE(askedKinds().empty());
        EXPECT_EQ(medium.contents("/elsewhere/target"), target);
    }

    const Bytes source = pattern(20480);
    const Bytes target = pattern(3000, 7);
};

TEST_F(LinkInWayTest, ALinkAtTheCopyIsRefusedUnderEveryPolicy)
{
    medium.addSymlink("/out/a", "/elsewhere/target");
    for (const ExistingPolicy policy : {ExistingPolicy::Replace, ExistingPolicy::Append,
                                        ExistingPolicy::Resume, ExistingPolicy::Skip}) {
        SCOPED_TRACE(static_cast<int>(policy));
        setSetting(*engine, &EngineSettings::existingPolicy, policy);
        expectRefused("/src/a");
        EXPECT_FALSE(medium.hasFile("/out/a.log"));
    }
    // A link that leads nowhere would create its target.
    medium.removeFile("/out/a");
    medium.addSymlink("/out/a", "/elsewhere/new");
    expectRefused("/src/a");
    EXPECT_FALSE(medium.exists("/elsewhere/new"));
    EXPECT_FALSE(medium.hasFile("/out/a.log"));
}

TEST_F(LinkInWayTest, ALinkAtTheLogIsRefusedBeforeTheCopyIsMade)
{
    medium.addSymlink("/out/a.log", "/elsewhere/target");
    expectRefused("/src/a");
    EXPECT_FALSE(medium.hasFile("/out/a"));
    // Beside an existing copy the copy stays as it was, under every policy.
    const Bytes earlier = pattern(4096, 3);
    medium.addFile("/out/a", earlier);
    for (const ExistingPolicy policy : {ExistingPolicy::Replace, ExistingPolicy::Append,
                                        ExistingPolicy::Resume, ExistingPolicy::Skip}) {
        SCOPED_TRACE(static_cast<int>(policy));
        setSetting(*engine, &EngineSettings::existingPolicy, policy);
        expectRefused("/src/a");
        EXPECT_EQ(medium.contents("/out/a"), earlier);
    }
}

TEST_F(LinkInWayTest, ALinkedFolderBelowTheOutputFolderIsRefusedAtAnyLevel)
{
    medium.addFile("/disk/sub/f", source);
    medium.addFile("/disk/x/y/z/g", source);
    medium.addFolder("/out/x");
    medium.addSymlink("/out/sub", "/elsewhere");
    medium.addSymlink("/out/x/y", "/elsewhere");
    expectRefused("/disk/sub/f", "/out", "/disk");
    EXPECT_FALSE(medium.exists("/elsewhere/f"));
    expectRefused("/disk/x/y/z/g", "/out", "/disk");
    EXPECT_FALSE(medium.exists("/elsewhere/z"));
    // A level replaced by a link after a file of the run went into its folder.
    medium.addFile("/disk/w/f", source);
    medium.addFile("/disk/w/h", source);
    ASSERT_TRUE(copy("/disk/w/f", "/out", "/disk")) << "made /out/w";
    medium.addSymlink("/out/w", "/elsewhere");
    expectRefused("/disk/w/h", "/out", "/disk");
    EXPECT_FALSE(medium.exists("/elsewhere/h"));
}

TEST_F(LinkInWayTest, TheOutputFolderAndTheSourceMayBeLinks)
{
    medium.addFolder("/real-out");
    medium.addSymlink("/chosen", "/real-out");
    medium.addSymlink("/src/l", "/src/a");
    ASSERT_TRUE(copy("/src/l", "/chosen", ""));
    EXPECT_EQ(engine->status(), EngineStatus::Ok);
    EXPECT_EQ(medium.contents("/real-out/l"), source);
    // A tree below a linked output folder is made inside it.
    medium.addFile("/disk/sub/f", source);
    ASSERT_TRUE(copy("/disk/sub/f", "/chosen/", "/disk/"));
    EXPECT_EQ(medium.contents("/real-out/sub/f"), source);
}

}  // namespace
}  // namespace tessaly::testing
