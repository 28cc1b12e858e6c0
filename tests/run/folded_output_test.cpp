// An output folder that ignores case (FAT, exFAT, NTFS, casefolded folders): names
// that differ in case only reach one copy, and the run must see that.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/file_step.h"
#include "tests/support/engine_settings_edit.h"
#include "tests/support/scripted_medium.h"

namespace tessaly {
namespace {

using Bytes = std::vector<std::uint8_t>;

FileEntry entryOf(const std::string& path, std::uint64_t size)
{
    return FileEntry{std::make_shared<const std::string>(), path, size};
}

class FoldedOutputTest : public ::testing::Test
{
protected:
    FoldedOutputTest() : engine(medium), step(engine, medium)
    {
        medium.setFoldCase(true);
        medium.addFolder("/out");
        step.beginRun();
    }

    StepResult copy(const std::string& source)
    {
        return step.copy(entryOf(source, medium.contents(source).size()), "/out", nullptr);
    }

    testing::ScriptedMedium medium;
    CopyEngine engine;
    FileStep step;
};

TEST_F(FoldedOutputTest, NamesThatDifferInCaseOnlyGetOneCopy)
{
    medium.addFile("/one/Data.img", std::string(20000, 'A'));
    medium.addFile("/two/data.img", std::string(30000, 'b'));
    medium.addFile("/three/DATA.IMG", std::string(30000, 'c'));
    EXPECT_EQ(copy("/one/Data.img").outcome, FileOutcome::Done);
    for (const char* later : {"/two/data.img", "/three/DATA.IMG"}) {
        SCOPED_TRACE(later);
        const StepResult second = copy(later);
        EXPECT_EQ(second.outcome, FileOutcome::Refused);
        EXPECT_EQ(second.verdict, GuardVerdict::SameDestination);
    }
    EXPECT_EQ(medium.text("/out/Data.img"), std::string(20000, 'A'));
    // A new run may copy it again, under the existing-file policy.
    step.beginRun();
    setSetting(engine, &EngineSettings::existingPolicy, ExistingPolicy::Replace);
    EXPECT_EQ(copy("/two/data.img").outcome, FileOutcome::Done);
    EXPECT_EQ(medium.text("/out/DATA.img"), std::string(30000, 'b'));
}

TEST_F(FoldedOutputTest, ACopyWhereAnotherCopysLogLiesIsRefusedEitherWay)
{
    // The logs stay, so that the names can be compared by what they reach.
    setSetting(engine, &EngineSettings::deleteLogIfNoErrors, false);
    medium.addFile("/one/x.bin", std::string(2048, 'x'));
    medium.addFile("/two/X.BIN.LOG", std::string(100, 'l'));
    medium.addFile("/one/y.bin.LOG", std::string(100, 'y'));
    medium.addFile("/two/Y.bin", std::string(2048, 'Y'));
    EXPECT_EQ(copy("/one/x.bin").outcome, FileOutcome::Done);
    const Bytes log = medium.contents("/out/x.bin.log");
    StepResult onLog = copy("/two/X.BIN.LOG");
    EXPECT_EQ(onLog.outcome, FileOutcome::Refused);
    EXPECT_EQ(onLog.verdict, GuardVerdict::LogPlace);
    EXPECT_EQ(medium.contents("/out/x.bin.log"), log);

    EXPECT_EQ(copy("/one/y.bin.LOG").outcome, FileOutcome::Done);
    onLog = copy("/two/Y.bin");
    EXPECT_EQ(onLog.outcome, FileOutcome::Refused);
    EXPECT_EQ(onLog.verdict, GuardVerdict::LogPlace);
    EXPECT_EQ(medium.text("/out/y.bin.LOG"), std::string(100, 'y'));
}

// An inode number is given anew once its file is gone: a log deleted at the end of
// a clean copy must not make a later copy that gets its number look like that log.
TEST(DestinationGuardIdentity, AClaimHoldsOnlyWhileItsFileIsThere)
{
    testing::ScriptedMedium medium;
    medium.setFoldCase(true);
    medium.addFile("/out/a.bin", "a");
    medium.addFile("/out/a.bin.log", "log");
    DestinationGuard guard(medium);
    EXPECT_EQ(guard.admit("/src/a.bin", "/out/a.bin"), GuardVerdict::Clear);
    guard.noteOpened("/out/a.bin");
    EXPECT_EQ(guard.admit("/src/A.BIN.log", "/out/A.BIN.log"), GuardVerdict::LogPlace);
    // The same file under a hard link stands for the copy as well.
    medium.addLink("/out/b.bin", "/out/a.bin");
    EXPECT_EQ(guard.admit("/src/b.bin", "/out/b.bin"), GuardVerdict::SameDestination);
    // The log gone, and its number given to a new file at another name: that file
    // is no log of a copy of this run.
    medium.addLink("/out/c.bin", "/out/a.bin.log");
    medium.removeFile("/out/a.bin.log");
    EXPECT_EQ(guard.admit("/src/c.bin", "/out/c.bin"), GuardVerdict::Clear);
}

}  // namespace
}  // namespace tessaly
