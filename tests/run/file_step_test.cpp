#include "run/file_step.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "run/damage_report.h"
#include "run/failure_message.h"
#include "tests/support/log_bytes.h"
#include "tests/support/scripted_medium.h"

namespace tessaly {
namespace {

FileEntry entryOf(const std::string& path, std::uint64_t size, const std::string& base = {})
{
    return FileEntry{std::make_shared<const std::string>(base), path, size};
}

TEST(DestinationGuard, RefusesTheSourceItselfAndCopiesThatWouldMeet)
{
    testing::ScriptedMedium medium;
    medium.addFile("/src/a.bin", "a");
    medium.addLink("/out/a.bin", "/src/a.bin");  // the output folder is the source's folder
    DestinationGuard guard(medium);
    EXPECT_EQ(guard.admit("/src/a.bin", "/out/a.bin"), GuardVerdict::SameFile);
    EXPECT_EQ(guard.admit("/src/x/b.bin", "/out/b.bin"), GuardVerdict::Clear);
    EXPECT_EQ(guard.admit("/src/y/b.bin", "/out/b.bin"), GuardVerdict::SameDestination);
    // A copy where a copy's log belongs, in either order.
    EXPECT_EQ(guard.admit("/src/b.bin.log", "/out/b.bin.log"), GuardVerdict::LogPlace);
    EXPECT_EQ(guard.admit("/src/c.bin.log", "/out/c.bin.log"), GuardVerdict::Clear);
    EXPECT_EQ(guard.admit("/src/c.bin", "/out/c.bin"), GuardVerdict::LogPlace);
    // A refused file claims nothing: the same-file refusal left /out/a.bin free.
    medium.removeFile("/out/a.bin");
    EXPECT_EQ(guard.admit("/src/z/a.bin", "/out/a.bin"), GuardVerdict::Clear);
    guard.reset();
    EXPECT_EQ(guard.admit("/src/y/b.bin", "/out/b.bin"), GuardVerdict::Clear);
}

// A 16 GiB copy taken up 512 bytes before its end, where its percent already rounds to
// 100: only the status and the byte counts tell how it ended, for the line, the wait
// for the medium, the figures and the report alike.
TEST(FileCompletion, ComesFromTheStatusAndTheBytesNotFromARoundedPercent)
{
    constexpr std::uint64_t kSize = std::uint64_t{16} << 30;
    constexpr std::uint64_t kLast = kSize - 512;
    enum class Fault { None, Removal, Stop, TrimWriteFails };
    const struct
    {
        Fault fault;
        FileOutcome outcome;
        EngineStatus status;
        ReportState report;
    } cases[] = {
        {Fault::None, FileOutcome::Done, EngineStatus::Ok, ReportState::Complete},
        {Fault::Removal, FileOutcome::NotReady, EngineStatus::NotReady, ReportState::Unfinished},
        {Fault::Stop, FileOutcome::Stopped, EngineStatus::Stopped, ReportState::Unfinished},
        // The trim pass reads the filled last sector and cannot write it: at the end, not Ok.
        {Fault::TrimWriteFails, FileOutcome::Failed, EngineStatus::WriteFailed, ReportState::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        testing::ScriptedMedium medium;
        medium.setRemovableMedium("/src/");
        medium.addSparseFile("/src/big", kSize);
        medium.addSparseFile("/out/big", kLast);
        medium.addFile("/out/big.log", testing::wideLogBytes("big", 0, {{kLast, 0}}));
        CopyEngine engine(medium);
        EngineSettings settings;
        settings.autoRereads = false;
        settings.rereadCount = 2;
        if (c.fault == Fault::Stop) medium.markBad("/src/big", kLast, 512);
        if (c.fault == Fault::TrimWriteFails) {
            settings.rereadCount = 1;
            medium.markWeak("/src/big", kLast, 512, 1);
            medium.setWriteLimit("/out/big", 512);  // the fill goes in, the trim's read not
        }
        engine.setSettings(settings);
        medium.setReadHook("/src/big", [&](std::uint64_t offset) {
            if (offset != kLast) return;
            if (c.fault == Fault::Removal) medium.removeMedium();
            if (c.fault == Fault::Stop) engine.requestStop(false);
        });
        FileStep step(engine, medium);
        const FileEntry entry = entryOf("/src/big", kSize);
        const StepResult result = step.copy(entry, "/out", {});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.figures.complete, c.fault == Fault::None);
        EXPECT_EQ(reportLineOf(entry, &result, medium).state, c.report);
    }
}

// A line's icon says how its copy ended; a copy with unread parts is not shown as whole.
TEST(EntryEnd, IconAndStateByOutcome)
{
    struct Row
    {
        FileOutcome outcome;
        std::uint64_t filled;
        std::size_t regions;
        bool skipped;
        EntryIcon icon;
        EntryState state;
    };
    const Row rows[] = {
        {FileOutcome::Done, 0, 0, false, EntryIcon::Copied, EntryState::Done},
        {FileOutcome::Done, 512, 1, false, EntryIcon::Damaged, EntryState::Done},
        {FileOutcome::Done, 0, 1, false, EntryIcon::Damaged, EntryState::Done},  // fill Nothing
        {FileOutcome::Done, 512, 1, true, EntryIcon::Copied, EntryState::Done},  // left alone
        {FileOutcome::Stopped, 512, 1, false, EntryIcon::Interrupted, EntryState::Unfinished},
        {FileOutcome::NotReady, 0, 0, false, EntryIcon::Interrupted, EntryState::Unfinished},
        {FileOutcome::Failed, 0, 0, false, EntryIcon::Failed, EntryState::Unfinished},
    };
    for (const Row& row : rows) {
        StepResult step;
        step.outcome = row.outcome;
        step.figures.filled = row.filled;
        step.figures.regions = row.regions;
        step.figures.skippedExisting = row.skipped;
        const EntryEnd end = entryEndOf(step);
        EXPECT_EQ(end.icon, static_cast<int>(row.icon)) << static_cast<int>(row.outcome) << " " << row.filled;
        EXPECT_EQ(end.state, row.state);
    }
}

// A failure of the copy or its log names the copy or the log, not the source, which
// the run never writes to.
TEST(FailureMessage, TextsAroundThePathByStatus)
{
    const auto shown = [](EngineStatus status) {
        const auto message = failureMessage(status, "/src/a.bin", "/out/a.bin");
        return message ? composeRunMessage(*message, [](int id) { return std::to_string(id); })
                       : std::string("-");
    };
    EXPECT_EQ(shown(EngineStatus::SourceOpenFailed), "14 /src/a.bin\n24");
    EXPECT_EQ(shown(EngineStatus::DestinationOpenFailed), "14 /out/a.bin\n24\n\n25");
    EXPECT_EQ(shown(EngineStatus::DestinationCreateFailed), "26 /out/a.bin\n27\n\n25");
    EXPECT_EQ(shown(EngineStatus::LogOpenFailed), "14 /out/a.bin.log\n24\n\n28");
    EXPECT_EQ(shown(EngineStatus::LogCreateFailed), "26 /out/a.bin.log\n27\n\n28");
    EXPECT_EQ(shown(EngineStatus::DiskFull), "29 /src/a.bin");
    EXPECT_EQ(shown(EngineStatus::WriteFailed), "30");
    EXPECT_EQ(shown(EngineStatus::FreeSpaceUnknown), "14 /src/a.bin\n119");
    EXPECT_EQ(shown(EngineStatus::WorkerStartFailed), "14 /src/a.bin\n120");
    EXPECT_EQ(shown(EngineStatus::DestinationTooSmall), "14 /src/a.bin\n161");
    EXPECT_EQ(shown(EngineStatus::LogUpdateFailed), "14 /src/a.bin\n163");
    EXPECT_EQ(shown(EngineStatus::SourceChanged), "14 /src/a.bin\n168");
    EXPECT_EQ(shown(EngineStatus::CopyNotProven), "14 /src/a.bin\n169");
    // A device this user may not read: the note says how to get access.
    const auto denied = failureMessage(EngineStatus::SourceOpenFailed, "/dev/sdb", "/out/sdb.img", true);
    ASSERT_TRUE(denied);
    EXPECT_EQ(composeRunMessage(*denied, [](int id) { return std::to_string(id); }),
              "14 /dev/sdb\n24\n\n162");
    for (EngineStatus quiet : {EngineStatus::Ok, EngineStatus::Stopped, EngineStatus::NotReady,
                               EngineStatus::NoLogRefused, EngineStatus::ExistingRefused}) {
        EXPECT_EQ(shown(quiet), "-") << statusName(quiet);
    }
}

class FileStepTest : public ::testing::Test
{
protected:
    FileStepTest() : engine(medium), step(engine, medium) { medium.addFolder("/out"); }

    StepResult copy(const FileEntry& entry)
    {
        return step.copy(entry, "/out", [this](const EngineSnapshot& now) { percents.push_back(filePercentOf(now)); });
    }

    testing::ScriptedMedium medium;
    CopyEngine engine;
    FileStep step;
    std::vector<int> percents;
};

TEST_F(FileStepTest, ACompleteCopyIsDoneBelowItsRelativeFolder)
{
    medium.addFile("/disk/docs/a.bin", std::string(300000, 'a'));
    const StepResult result = copy(entryOf("/disk/docs/a.bin", 300000, "/disk/"));
    EXPECT_EQ(result.outcome, FileOutcome::Done);
    EXPECT_EQ(result.status, EngineStatus::Ok);
    EXPECT_EQ(result.destination, "/out/docs/a.bin");
    EXPECT_EQ(result.destinationPosition, 300000u);
    EXPECT_EQ(result.figures.copied, 300000u);
    EXPECT_TRUE(result.figures.complete);
    ASSERT_FALSE(percents.empty());  // the last one after the worker has ended
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(medium.text("/out/docs/a.bin"), std::string(300000, 'a'));
}

// Appended behind a copy that holds a fill, a file read whole counts as read whole: the
// earlier copy's fill and regions are not the appended file's (the CLI's summary, the
// report and the window's "Not read" column take these figures).
TEST_F(FileStepTest, AnAppendedFileCountsOnlyItsOwnFills)
{
    medium.addFile("/src/a.bin", std::string(65536, 'a'));
    medium.markBad("/src/a.bin", 1024, 512);
    ASSERT_EQ(copy(entryOf("/src/a.bin", 65536)).figures.filled, 512u);
    medium.addFile("/src/a.bin", std::string(65536, 'b'));
    EngineSettings settings = engine.settings();
    settings.existingPolicy = ExistingPolicy::Append;
    engine.setSettings(settings);
    step.beginRun();
    const StepResult appended = copy(entryOf("/src/a.bin", 65536));
    EXPECT_EQ(appended.status, EngineStatus::Ok);
    EXPECT_EQ(appended.figures.copied, 65536u);
    EXPECT_EQ(appended.figures.filled, 0u);
    EXPECT_EQ(appended.figures.regions, 0u);
    EXPECT_EQ(medium.contents("/out/a.bin").size(), 2 * 65536u);
}

TEST_F(FileStepTest, RefusedAndUnstartedFilesShowNoProgress)
{
    medium.addFile("/out/self.bin", "keep");
    const StepResult self = copy(entryOf("/out/self.bin", 4));
    EXPECT_EQ(self.outcome, FileOutcome::Refused);
    EXPECT_EQ(self.verdict, GuardVerdict::SameFile);
    EXPECT_EQ(medium.text("/out/self.bin"), "keep");

    const StepResult missing = copy(entryOf("/src/missing.bin", 0));
    EXPECT_EQ(missing.outcome, FileOutcome::NotStarted);
    EXPECT_EQ(missing.status, EngineStatus::SourceOpenFailed);
    EXPECT_TRUE(percents.empty());
}

TEST_F(FileStepTest, ARaisedStopEndsTheFileAsStopped)
{
    // The question for another copy holds the worker until the step has seen the
    // stop and passed it on, so the stop always lands in the middle.
    medium.addFile("/src/a.bin", std::string(200000, 'a'));
    medium.markBad("/src/a.bin", 51200, 512);
    std::atomic<bool> stop{false};
    std::atomic<int> refreshesAfterStop{0};
    engine.setQueryCallback([&](EngineQuery&) {
        stop = true;
        while (refreshesAfterStop < 2) sleepMs(1);
        return false;
    });
    const StepResult result = step.copy(
        entryOf("/src/a.bin", 200000), "/out",
        [&](const EngineSnapshot&) {
            if (stop) ++refreshesAfterStop;
        },
        &stop);
    EXPECT_EQ(result.outcome, FileOutcome::Stopped);
    EXPECT_EQ(result.status, EngineStatus::Stopped);
    EXPECT_FALSE(result.figures.complete);
    EXPECT_LT(result.filePercent, 100);
}

// A file that holds the copying thread is shown by the watch, also once the watch has
// slept through more than a second without a file.
TEST_F(FileStepTest, AHeldFileIsShownWhileItIsHeldAlsoAfterAnIdleSecond)
{
    medium.addFile("/src/a.bin", std::string(200000, 'a'));
    medium.markBad("/src/a.bin", 51200, 512);
    for (const int idleMs : {0, 1500}) {
        SCOPED_TRACE(idleMs);
        sleepMs(idleMs);
        step.beginRun();
        std::atomic<int> shownWhileHeld{0};
        std::atomic<bool> held{false};
        engine.setQueryCallback([&](EngineQuery&) {
            held = true;
            for (int waited = 0; shownWhileHeld < 2 && waited < 5000; ++waited) sleepMs(1);
            held = false;
            return false;
        });
        const StepResult result = step.copy(entryOf("/src/a.bin", 200000), "/out",
                                            [&](const EngineSnapshot& now) {
                                                if (held) ++shownWhileHeld;
                                                EXPECT_TRUE(now.busy || !held);
                                            });
        EXPECT_EQ(result.outcome, FileOutcome::Done);
        EXPECT_GE(shownWhileHeld, 2);
        medium.removeFile("/out/a.bin");
        medium.removeFile("/out/a.bin.log");
    }
}

TEST_F(FileStepTest, ASourceThatShrankSinceItsCopyIsNotTakenAsCopied)
{
    // The log of the first copy ends at 3000 bytes; a source of 1000 bytes under the
    // same name is not the file it was made from: refused, nothing counted as copied.
    medium.addFile("/src/a.bin", std::string(3000, 'a'));
    medium.markBad("/src/a.bin", 1024, 512);  // so that the log stays
    ASSERT_EQ(copy(entryOf("/src/a.bin", 3000)).figures.copied, 2488u);
    medium.addFile("/src/a.bin", std::string(1000, 'a'));
    step.beginRun();  // a later run
    const StepResult result = copy(entryOf("/src/a.bin", 1000));
    EXPECT_EQ(result.status, EngineStatus::SourceChanged);  // its log recorded 3000 bytes
    EXPECT_EQ(result.outcome, FileOutcome::NotStarted);
    EXPECT_EQ(result.figures.copied, 0u);
    EXPECT_EQ(medium.contents("/out/a.bin").size(), 3000u);
}

TEST_F(FileStepTest, ADeviceBecomesAnImageAndADeniedOneSaysSo)
{
    medium.addFile("/dev/sdb", std::string(40960, 'd'));
    medium.markBlockDevice("/dev/sdb");
    const StepResult imaged = copy(entryOf("/dev/sdb", 40960));
    EXPECT_EQ(imaged.outcome, FileOutcome::Done);
    EXPECT_EQ(imaged.destination, "/out/sdb.img");
    EXPECT_FALSE(imaged.deviceAccessDenied);
    EXPECT_EQ(medium.text("/out/sdb.img"), std::string(40960, 'd'));

    medium.addFile("/dev/sdc", std::string(4096, 'c'));
    medium.markBlockDevice("/dev/sdc");
    medium.failOpen("/dev/sdc");
    const StepResult denied = copy(entryOf("/dev/sdc", 4096));
    EXPECT_EQ(denied.outcome, FileOutcome::NotStarted);
    EXPECT_EQ(denied.status, EngineStatus::SourceOpenFailed);
    EXPECT_TRUE(denied.deviceAccessDenied);
    EXPECT_FALSE(medium.hasFile("/out/sdc.img"));

    // A file that cannot be read is no matter of device access.
    medium.addFile("/src/locked.bin", "x");
    medium.failOpen("/src/locked.bin");
    EXPECT_FALSE(copy(entryOf("/src/locked.bin", 1)).deviceAccessDenied);
}

// A medium that goes away at 100000 bytes of a 300000-byte file, for the waits below.
class MediumWaitTest : public FileStepTest
{
protected:
    MediumWaitTest()
    {
        medium.setRemovableMedium("/src/");
        medium.addFile("/src/a.bin", original);
        medium.setRemovalAfter(100000);
        // The copy is continued whatever the policy: Append would put the continued
        // bytes behind the copy. The question about the existing copy is not asked again.
        EngineSettings settings;
        settings.existingPolicy = ExistingPolicy::Append;
        engine.setSettings(settings);
        engine.setQueryCallback([this](EngineQuery& query) {
            questions.push_back(query.kind);
            return true;
        });
    }

    // Waits with tries every 10 ms; atTry(n) runs after the n-th report (0: the first,
    // as the wait begins).
    void waitWith(std::uint32_t limitMs, std::function<void(int)> atTry)
    {
        step.setMediumWait({true, limitMs, 10}, [this, atTry](const WaitStatus& status) {
            reports.push_back(status);
            atTry(static_cast<int>(reports.size()) - 1);
        });
    }

    StepResult copyA() { return step.copy(entryOf("/src/a.bin", 300000), "/out", {}, &stop); }

    std::string original = [] {
        std::string bytes(300000, 0);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 511);
        return bytes;
    }();
    std::atomic<bool> stop{false};
    std::vector<WaitStatus> reports;
    std::vector<QueryKind> questions;
};

TEST_F(MediumWaitTest, TheSameMediumBackContinuesTheFileExactly)
{
    waitWith(0, [this](int n) {
        if (n == 3) medium.insertMedium();
    });
    const StepResult result = copyA();
    EXPECT_EQ(result.outcome, FileOutcome::Done);
    EXPECT_EQ(result.waitEnd, WaitEnd::Returned);
    EXPECT_TRUE(result.figures.complete);
    EXPECT_TRUE(medium.text("/out/a.bin") == original);
    EXPECT_TRUE(questions.empty());
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports.front().waitedMs, 0u);
    EXPECT_GT(reports.back().waitedMs, reports[1].waitedMs);
    for (const WaitStatus& r : reports) EXPECT_FALSE(r.otherMedium);
    // Resumed where the copy ended: the first 100000 bytes were read once.
    const std::vector<std::uint64_t> offsets = medium.readOffsets("/src/a.bin");
    EXPECT_EQ(std::count(offsets.begin(), offsets.end(), 0u), 2);  // the copy, and the source check
}

TEST_F(MediumWaitTest, AnotherMediumIsNeverCopiedIntoTheCopyAndTheWaitGoesOn)
{
    std::string copyBefore;
    std::string logBefore;
    waitWith(0, [&](int n) {
        if (n == 0) {
            copyBefore = medium.text("/out/a.bin");
            logBefore = medium.text("/out/a.bin.log");
            medium.addFile("/src/a.bin", std::string(300000, 'x'));  // another disc, same name
            medium.insertMedium();
        }
        if (n == 3) {
            EXPECT_EQ(medium.text("/out/a.bin"), copyBefore);
            EXPECT_EQ(medium.text("/out/a.bin.log"), logBefore);
            medium.addFile("/src/a.bin", original);
        }
    });
    const StepResult result = copyA();
    ASSERT_GE(reports.size(), 4u);
    EXPECT_TRUE(reports[1].otherMedium);
    EXPECT_TRUE(reports[3].otherMedium);
    EXPECT_EQ(result.outcome, FileOutcome::Done);
    EXPECT_TRUE(medium.text("/out/a.bin") == original);
    EXPECT_TRUE(questions.empty());
}

TEST_F(MediumWaitTest, AStopOrTheLimitEndsTheWaitWithTheCopyContinuable)
{
    waitWith(0, [this](int n) {
        if (n == 2) stop = true;
    });
    const StepResult stopped = copyA();
    EXPECT_EQ(stopped.outcome, FileOutcome::NotReady);
    EXPECT_EQ(stopped.waitEnd, WaitEnd::Stopped);
    EXPECT_EQ(reports.size(), 3u);

    stop = false;
    reports.clear();
    waitWith(100, [](int) {});
    step.beginRun();
    const StepResult timedOut = copyA();  // the medium is still out: not even started
    EXPECT_EQ(timedOut.waitEnd, WaitEnd::None);
    EXPECT_EQ(timedOut.status, EngineStatus::SourceOpenFailed);

    medium.insertMedium();
    medium.setRemovalAfter(100000);
    engine.setSettings({});  // a later run takes the copy up under Resume
    step.beginRun();
    const StepResult limited = copyA();
    EXPECT_EQ(limited.outcome, FileOutcome::NotReady);
    EXPECT_EQ(limited.waitEnd, WaitEnd::TimedOut);
    ASSERT_FALSE(reports.empty());
    EXPECT_GE(reports.back().waitedMs, 100u);
    EXPECT_LT(reports.back().waitedMs, 5000u);

    // The copy the waits left goes on in a later run.
    medium.insertMedium();
    step.beginRun();
    step.setMediumWait({});
    EXPECT_EQ(copyA().outcome, FileOutcome::Done);
    EXPECT_TRUE(medium.text("/out/a.bin") == original);
}

// The medium comes back, the copy goes on, and it goes away again; after that it comes
// back only to go at once. The wait starts over where the copy got further, never
// otherwise: its limit ends it (a stop after many tries stands in for a wait without end).
TEST_F(MediumWaitTest, AMediumLostAgainDuringTheWaitIsStillEndedByTheLimit)
{
    waitWith(150, [this](int n) {
        medium.insertMedium();
        medium.setRemovalAfter(n == 1 ? 160000 : 4096);
        if (n > 400) stop = true;
    });
    const StepResult result = copyA();
    EXPECT_EQ(result.waitEnd, WaitEnd::TimedOut);
    EXPECT_EQ(result.outcome, FileOutcome::NotReady);
    EXPECT_GT(result.destinationPosition, 100000u);
    EXPECT_LT(result.destinationPosition, 300000u);
    EXPECT_EQ(medium.contents("/out/a.bin").size(), result.destinationPosition);
    EXPECT_TRUE(medium.text("/out/a.bin") == original.substr(0, result.destinationPosition));
    ASSERT_FALSE(reports.empty());
    EXPECT_GE(reports.back().waitedMs, 150u);
}

}  // namespace
}  // namespace tessaly
