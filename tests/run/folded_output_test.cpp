// An output folder that ignores case (FAT, exFAT, NTFS, casefolded folders): names
// that differ in case only reach one copy, and the run must see that.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/case_fold.h"
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
// Names an output that ignores case takes for one, and names it keeps apart.
TEST(FoldCase, NamesThatDifferInCaseOnlyFoldAlike)
{
    const struct
    {
        const char* a;
        const char* b;
        bool alike;
    } pairs[] = {
        {"Data.IMG", "data.img", true},
        {"AZ@[", "az@[", true},  // ASCII: A to Z only
        {"@[", "`{", false},
        {"\u00c4rger \u00d8l \u00de.txt", "\u00e4rger \u00f8l \u00fe.txt", true},  // Latin-1
        {"\u0141\u00f3d\u017a \u0152\u0178", "\u0142\u00f3d\u017a \u0153\u00ff", true},  // Ext-A
        {"\u03a3\u039f\u03a6\u0399\u0391\u03a3", "\u03c3\u03bf\u03c6\u03b9\u03b1\u03c2", true},  // final sigma
        {"\u038a\u03b8\u03b1\u03ba\u03b7", "\u03af\u03b8\u03b1\u03ba\u03b7", true},
        {"\u0416\u0423\u041a \u0401\u0416 \u0490", "\u0436\u0443\u043a \u0451\u0436 \u0491", true},
        {"\u00b5m", "\u03bcm", true},               // micro sign
        {"\u1e9e", "\u00df", true},                 // capital sharp s
        {"stra\u00dfe", "strasse", false},           // simple folding: one character for one
        {"\u0130", "i", false},                      // dotted capital I has no simple folding
        {"\u00c4", "A", false},
        {"a\xc4" "b", "A\xc4" "B", true},              // not UTF-8: the byte stays
        {"\xc3\x84\x80", "\xc3\xa4\x80", true},
    };
    for (const auto& p : pairs) {
        SCOPED_TRACE(std::string(p.a) + " / " + p.b);
        EXPECT_EQ(foldCase(p.a) == foldCase(p.b), p.alike);
    }
    EXPECT_EQ(foldCase("\xc4\x80\xff"), "\xc4\x81\xff");  // U+0100 folds; a stray byte stays
}

TEST(DestinationGuardIdentity, AClaimHoldsOnlyWhileItsFileIsThere)
{
    testing::ScriptedMedium medium;
    medium.setFoldCase(true);
    medium.addFile("/out/a.bin", "a");
    medium.addFile("/out/a.bin.log", "log");
    DestinationGuard guard(medium);
    EXPECT_EQ(guard.admit("/src/a.bin", "/out/a.bin"), GuardVerdict::Clear);
    guard.noteOpened("/out/a.bin", medium.identity("/out/a.bin"), medium.identity("/out/a.bin.log"));
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
