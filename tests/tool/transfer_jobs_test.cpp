#include "tool/transfer_jobs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "platform/posix_file_system.h"
#include "tests/tool/tool_test_support.h"
#include "texts/text_ids.h"

namespace tessaly {
namespace {

using testing::Bytes;
using testing::logBytes;
using testing::pattern;
using testing::readFile;
using testing::ScriptedUi;
using testing::TempDir;
using testing::writeFile;

// The system's files, with writes that can be cut short or made to fail once a
// budget of bytes is spent, as on a full disk.
class LimitedWriteFileSystem : public PosixFileSystem
{
public:
    std::size_t maxBytesPerWrite = SIZE_MAX;
    std::size_t writeBudget = SIZE_MAX;
    std::function<void()> beforeWrite;  // runs before every write

    std::unique_ptr<File> open(const std::string& path, Disposition disposition, Access access,
                               SysError* error) override
    {
        std::unique_ptr<File> file = PosixFileSystem::open(path, disposition, access, error);
        if (!file) return file;
        return std::make_unique<LimitedFile>(std::move(file), *this);
    }

private:
    class LimitedFile : public File
    {
    public:
        LimitedFile(std::unique_ptr<File> file, LimitedWriteFileSystem& fs)
            : m_file(std::move(file)), m_fs(fs)
        {
        }
        IoResult read(void* buffer, std::size_t n) override { return m_file->read(buffer, n); }
        IoResult write(const void* buffer, std::size_t n) override
        {
            if (m_fs.beforeWrite) m_fs.beforeWrite();
            const std::size_t allowed = std::min({n, m_fs.maxBytesPerWrite, m_fs.writeBudget});
            if (allowed == 0) return {0, ENOSPC};
            const IoResult r = m_file->write(buffer, allowed);
            m_fs.writeBudget -= r.bytes;
            return r;
        }
        std::int64_t seek(std::int64_t d, Whence w) override { return m_file->seek(d, w); }
        std::int64_t offset() const override { return m_file->offset(); }
        std::int64_t size() override { return m_file->size(); }
        bool truncate(std::uint64_t length) override { return m_file->truncate(length); }
        std::optional<FileIdentity> identity() override { return m_file->identity(); }

    private:
        std::unique_ptr<File> m_file;
        LimitedWriteFileSystem& m_fs;
    };
};

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t length)
{
    return Bytes(bytes.begin() + offset, bytes.begin() + offset + length);
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class TransferJobTest : public ::testing::Test
{
protected:
    TransferOutcome get(const std::string& logName = "data.bin.log")
    {
        return runGet({logName, dir.path(), TransferKind::Get}, files, ui);
    }
    TransferOutcome put(const std::string& logName = "data.bin.log")
    {
        return runPut({logName, dir.path(), TransferKind::Put}, files, ui);
    }
    void writeLog(const std::vector<BadRegion>& records, const std::string& name = "data.bin")
    {
        writeFile(dir / "data.bin.log", logBytes(name, records));
    }
    void expectAllClosed() const
    {
        EXPECT_FALSE(files.logFile.isOpen());
        EXPECT_FALSE(files.inputFile.isOpen());
        EXPECT_FALSE(files.outputFile.isOpen());
        EXPECT_FALSE(files.log.isBound());
    }

    TempDir dir;
    TransferFiles files;
    ScriptedUi ui;
    const Bytes good = pattern(10000, 7);
};

TEST_F(TransferJobTest, LogWithOnlyTheEndRecordMovesNothingAndEndsDone)
{
    writeLog({{10000, 0}});
    writeFile(dir / "data.bin", good);
    ui.progress = {42};  // a job never resets the bar

    EXPECT_EQ(get(), TransferOutcome::Done);
    EXPECT_TRUE(std::filesystem::exists(dir / "data.bin.mrd"));
    EXPECT_TRUE(readFile(dir / "data.bin.mrd").empty());
    EXPECT_EQ(ui.states, (std::vector<int>{text::kGetRunning, text::kDone}));
    EXPECT_EQ(ui.progress, std::vector<int>{42});
    EXPECT_EQ(ui.dataFrom, "data.bin");
    EXPECT_EQ(ui.dataTo, "data.bin.mrd");
    expectAllClosed();

    ui.states.clear();
    EXPECT_EQ(put(), TransferOutcome::Done);
    EXPECT_EQ(readFile(dir / "data.bin"), good);
    EXPECT_EQ(ui.states, (std::vector<int>{text::kPutRunning, text::kDone}));
    EXPECT_EQ(ui.dataFrom, "data.bin.mrd");
    EXPECT_EQ(ui.dataTo, "data.bin");
    expectAllClosed();
}

TEST_F(TransferJobTest, GetThenPutRestoresThreeRegionsInLogOrder)
{
    // Logged out of order and overlapping: each region is moved by itself.
    const std::vector<BadRegion> regions = {{4096, 512}, {100, 900}, {600, 1000}};
    writeLog({regions[0], regions[1], regions[2], {10000, 0}});
    writeFile(dir / "data.bin", good);
    writeFile(dir / "data.bin.mrd", pattern(50000, 3));  // an older transfer file is replaced

    ASSERT_EQ(get(), TransferOutcome::Done);
    EXPECT_EQ(readFile(dir / "data.bin.mrd"),
              concat({slice(good, 4096, 512), slice(good, 100, 900), slice(good, 600, 1000)}));
    // The bar counts bytes: 512, then 1412 of 2412.
    EXPECT_EQ(ui.progress, (std::vector<int>{21, 58, 100}));

    Bytes damaged = good;
    for (const BadRegion& r : regions) std::fill_n(damaged.begin() + r.offset, r.length, 0xEE);
    damaged.resize(damaged.size());
    writeFile(dir / "data.bin", damaged);
    ASSERT_EQ(put(), TransferOutcome::Done);
    EXPECT_EQ(readFile(dir / "data.bin"), good);
    expectAllClosed();
}

// One region larger than the job's buffer moves the bar as its bytes go, not only
// when it is done.
TEST_F(TransferJobTest, ARegionLargerThanTheBufferMovesTheBarOnTheWay)
{
    const Bytes large = pattern(3'000'000, 4);
    writeLog({{0, 3'000'000}, {3'000'000, 0}});
    writeFile(dir / "data.bin", large);
    ASSERT_EQ(get(), TransferOutcome::Done);
    EXPECT_EQ(ui.progress, (std::vector<int>{33, 66, 99, 100}));
}

// A run that never ended (killed, or its end record could not be written) leaves no
// end record: its last record is a fill like the others and is moved with them, or
// Put would end Done with that region still filled.
TEST_F(TransferJobTest, TheLastRegionOfALogWithoutEndRecordIsMovedToo)
{
    writeLog({{0, 10}, {20, 10}});
    writeFile(dir / "data.bin", good);
    ASSERT_EQ(get(), TransferOutcome::Done);
    EXPECT_EQ(readFile(dir / "data.bin.mrd"), concat({slice(good, 0, 10), slice(good, 20, 10)}));
    EXPECT_EQ(ui.progress, (std::vector<int>{50, 100}));

    Bytes damaged = good;
    std::fill_n(damaged.begin(), 10, 0);
    std::fill_n(damaged.begin() + 20, 10, 0);
    writeFile(dir / "data.bin", damaged);
    ASSERT_EQ(put(), TransferOutcome::Done);
    EXPECT_EQ(readFile(dir / "data.bin"), good);
}

TEST_F(TransferJobTest, ShortLogNameIsIgnoredSilently)
{
    writeFile(dir / "a.lo", logBytes("data.bin", {{0, 10}, {10, 0}}));
    writeFile(dir / "data.bin", good);
    EXPECT_EQ(get("a.lo"), TransferOutcome::Ignored);
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_TRUE(ui.states.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "data.bin.mrd"));
}

TEST_F(TransferJobTest, UnreadableLogsAreReported)
{
    EXPECT_EQ(get("missing.log"), TransferOutcome::Failed);
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0], (JobMessage{text::kFileWord, "missing.log", text::kCannotOpen}));

    // Name length 0, and a log that ends inside the name.
    for (const Bytes& log : {logBytes("", {{0, 0}}), logBytes("data.bin", {}, 40)}) {
        ui.errors.clear();
        writeFile(dir / "data.bin.log", log);
        EXPECT_EQ(put(), TransferOutcome::Failed);
        ASSERT_EQ(ui.errors.size(), 1u);
        EXPECT_EQ(ui.errors[0], (JobMessage{text::kNoFileName, "", -1}));
        expectAllClosed();
    }
}

TEST_F(TransferJobTest, NameLengthUpTo259IsReadAnd260IsRefused)
{
    PlainFile logFile;
    CopyLog log;
    log.bind(&logFile);
    char buffer[kDataFileNameCapacity];

    writeFile(dir / "long.log", logBytes(std::string(259, 'n'), {{0, 0}}));
    ASSERT_TRUE(logFile.openExisting(dir / "long.log", Access::Read));
    ASSERT_TRUE(readDataFileName(log, buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), std::string(259, 'n'));

    writeFile(dir / "long.log", logBytes(std::string(260, 'n'), {{0, 0}}));
    ASSERT_TRUE(logFile.openExisting(dir / "long.log", Access::Read));
    EXPECT_FALSE(readDataFileName(log, buffer, sizeof buffer));

    EXPECT_EQ(get("long.log"), TransferOutcome::Failed);
    EXPECT_EQ(ui.errors.at(0).firstText, text::kNoFileName);
}

// A log is data from anywhere: its name must not lead the job out of its folder.
TEST_F(TransferJobTest, NamesThatAreNoPlainFileNameAreRefused)
{
    std::filesystem::create_directory(dir / "sub");
    writeFile(dir / "sub/victim", good);
    writeFile(dir / "victim.mrd", pattern(100, 9));
    const std::string crafted[] = {"../victim",  "sub/victim", "sub\\victim",
                                   ".",          "..",         std::string("victim.mrd\0x", 12),
                                   "/etc/passwd"};
    for (const std::string& name : crafted) {
        SCOPED_TRACE(name);
        ui.errors.clear();
        writeFile(dir / "sub/evil.log", logBytes(name, {{0, 100}, {100, 0}}));
        EXPECT_EQ(runPut({"evil.log", dir / "sub", TransferKind::Put}, files, ui),
                  TransferOutcome::Failed);
        EXPECT_EQ(runGet({"evil.log", dir / "sub", TransferKind::Get}, files, ui),
                  TransferOutcome::Failed);
        EXPECT_EQ(ui.errors, (std::vector<JobMessage>(2, JobMessage{text::kNoFileName, "", -1})));
        EXPECT_TRUE(ui.notices.empty());
    }
    EXPECT_EQ(readFile(dir / "sub/victim"), good);
    EXPECT_EQ(readFile(dir / "victim.mrd"), pattern(100, 9));
    EXPECT_FALSE(std::filesystem::exists(dir / "victim.mrd.mrd"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), {}), 2);
}

TEST_F(TransferJobTest, MissingDataFileIsLocatedInAnotherFolder)
{
    writeLog({{10, 20}, {100, 0}});
    std::filesystem::create_directory(dir / "elsewhere");
    writeFile(dir / "elsewhere/renamed.bin", good);
    ui.locateAnswer = dir / "elsewhere/renamed.bin";

    ASSERT_EQ(get(), TransferOutcome::Done);
    EXPECT_EQ(ui.notices,
              (std::vector<JobMessage>{{text::kFileWord, "data.bin", text::kMissingForGet}}));
    EXPECT_EQ(ui.locateTitles, std::vector<int>{text::kLocateForGet});
    EXPECT_EQ(ui.locateFolders, std::vector<std::string>{dir.path()});
    EXPECT_EQ(ui.dataFrom, "renamed.bin");
    EXPECT_EQ(readFile(dir / "elsewhere/renamed.bin.mrd"), slice(good, 10, 20));
    EXPECT_FALSE(std::filesystem::exists(dir / "data.bin.mrd"));

    // Put looks for the transfer file beside the located data file.
    ui.notices.clear();
    writeFile(dir / "elsewhere/renamed.bin", Bytes(100, 0));
    ASSERT_EQ(put(), TransferOutcome::Done);
    EXPECT_EQ(ui.notices.at(0).secondText, text::kMissingForPut);
    EXPECT_EQ(ui.locateTitles.back(), text::kLocateForPut);
    EXPECT_EQ(slice(readFile(dir / "elsewhere/renamed.bin"), 10, 20), slice(good, 10, 20));
}

TEST_F(TransferJobTest, CancelledOrUnopenableLocateEndsTheJob)
{
    writeLog({{10, 20}, {100, 0}});
    EXPECT_EQ(get(), TransferOutcome::Cancelled);
    EXPECT_EQ(ui.notices.size(), 1u);
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_TRUE(ui.states.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "data.bin.mrd"));
    expectAllClosed();

    ui.locateAnswer = dir / "gone.bin";
    EXPECT_EQ(put(), TransferOutcome::Failed);
    EXPECT_EQ(ui.errors,
              (std::vector<JobMessage>{{text::kFileWord, "gone.bin", text::kCannotOpen}}));
}

TEST_F(TransferJobTest, PutWithoutTransferFileLeavesDataUnchanged)
{
    writeLog({{10, 20}, {100, 0}});
    writeFile(dir / "data.bin", good);
    EXPECT_EQ(put(), TransferOutcome::Failed);
    EXPECT_EQ(ui.errors,
              (std::vector<JobMessage>{{text::kFileWord, "data.bin.mrd", text::kCannotOpen}}));
    EXPECT_EQ(ui.dataTo, "data.bin");
    EXPECT_EQ(readFile(dir / "data.bin"), good);
    expectAllClosed();
}

TEST_F(TransferJobTest, GetRefusesToEmptyTheLogOrTheDataFile)
{
    // Transfer file names that are links to the files the job reads.
    writeFile(dir / "data.bin", good);
    writeLog({{0, 10}, {100, 0}});
    const Bytes log = readFile(dir / "data.bin.log");
    std::filesystem::create_symlink(dir / "data.bin.log", dir / "data.bin.mrd");
    EXPECT_EQ(get(), TransferOutcome::Failed);
    EXPECT_EQ(ui.errors, (std::vector<JobMessage>{
                             {text::kFileWord, "data.bin.mrd", text::kLinkInWay}}));
    EXPECT_EQ(readFile(dir / "data.bin.log"), log);

    std::filesystem::remove(dir / "data.bin.mrd");
    std::filesystem::create_hard_link(dir / "data.bin", dir / "data.bin.mrd");
    EXPECT_EQ(get(), TransferOutcome::Failed);
    EXPECT_EQ(readFile(dir / "data.bin"), good);
}

// A link at the transfer file's place, to any file, is never written through.
TEST_F(TransferJobTest, GetRefusesALinkAtTheTransferFile)
{
    writeFile(dir / "data.bin", good);
    writeLog({{0, 10}, {100, 0}});
    const Bytes other = pattern(5000, 9);
    writeFile(dir / "other.bin", other);
    std::filesystem::create_symlink(dir / "other.bin", dir / "data.bin.mrd");
    EXPECT_EQ(get(), TransferOutcome::Failed);
    EXPECT_EQ(ui.errors, (std::vector<JobMessage>{
                             {text::kFileWord, "data.bin.mrd", text::kLinkInWay}}));
    EXPECT_EQ(readFile(dir / "other.bin"), other);
    // A link that leads nowhere makes no file at its target either.
    std::filesystem::remove(dir / "data.bin.mrd");
    std::filesystem::create_symlink(dir / "made.bin", dir / "data.bin.mrd");
    EXPECT_EQ(get(), TransferOutcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir / "made.bin"));
}

// Put writes into the copy the log lies beside; a link at its name would carry the
// regions' bytes into whatever it leads to.
TEST_F(TransferJobTest, PutDoesNotWriteThroughALinkAtTheDataFile)
{
    writeLog({{0, 10}, {100, 0}});
    const Bytes other = pattern(5000, 9);
    writeFile(dir / "other.bin", other);
    std::filesystem::create_symlink(dir / "other.bin", dir / "data.bin");
    writeFile(dir / "data.bin.mrd", Bytes(10, 0x55));
    EXPECT_NE(put(), TransferOutcome::Done);
    EXPECT_EQ(readFile(dir / "other.bin"), other);
    expectAllClosed();
}

// Put writes into the data file only: never into the log it reads, nor into the
// transfer file it reads from, whatever names or links make them one file.
TEST_F(TransferJobTest, PutNeverWritesIntoTheLogOrItsOwnTransferFile)
{
    // A log that names itself: the data file would be the log.
    writeFile(dir / "self.log", logBytes("self.log", {{0, 10}, {100, 0}}));
    const Bytes self = readFile(dir / "self.log");
    writeFile(dir / "self.log.mrd", Bytes(10, 0x55));
    EXPECT_EQ(put("self.log"), TransferOutcome::Cancelled);
    EXPECT_EQ(ui.notices, (std::vector<JobMessage>{
                              {text::kFileWord, "self.log", text::kMissingForPut}}));
    // Located by the user, the log is refused as well.
    ui.locateAnswer = dir / "self.log";
    EXPECT_EQ(put("self.log"), TransferOutcome::Failed);
    EXPECT_EQ(ui.errors.back(), (JobMessage{text::kFileWord, "self.log", text::kCannotOpen}));
    EXPECT_EQ(readFile(dir / "self.log"), self);
    expectAllClosed();

    // A transfer file that is the data file itself.
    ui = {};
    writeLog({{0, 10}, {5000, 10}, {10000, 0}});
    writeFile(dir / "data.bin", good);
    std::filesystem::create_symlink(dir / "data.bin", dir / "data.bin.mrd");
    EXPECT_EQ(put(), TransferOutcome::Failed);
    EXPECT_EQ(ui.errors, (std::vector<JobMessage>{
                             {text::kFileWord, "data.bin.mrd", text::kCannotOpen}}));
    EXPECT_EQ(readFile(dir / "data.bin"), good);
    expectAllClosed();
}

// A copy that a copy run holds locked while it writes it is in use: Put leaves it
// alone and says so, without asking for another file.
TEST_F(TransferJobTest, PutLeavesACopyThatACopyRunHoldsAlone)
{
    writeLog({{0, 100}, {10000, 0}});
    writeFile(dir / "data.bin", good);
    writeFile(dir / "data.bin.mrd", pattern(100, 5));
    PlainFile copyRun;
    ASSERT_TRUE(copyRun.openExisting(dir / "data.bin", Access::Write));
    ASSERT_TRUE(copyRun.file()->tryLock());

    EXPECT_EQ(put(), TransferOutcome::Failed);
    EXPECT_TRUE(ui.notices.empty());
    EXPECT_TRUE(ui.locateTitles.empty());
    EXPECT_EQ(ui.errors, (std::vector<JobMessage>{
                             {text::kFileWord, "data.bin", text::kCopyHeldByRun}}));
    EXPECT_EQ(readFile(dir / "data.bin"), good);
    expectAllClosed();
}

TEST_F(TransferJobTest, PutWithShortTransferFileWritesOnlyWhatItHolds)
{
    writeLog({{0, 100}, {1000, 100}, {2000, 100}, {10000, 0}});
    const Bytes transfer = pattern(150, 5);  // the first region and half the second
    writeFile(dir / "data.bin.mrd", transfer);
    writeFile(dir / "data.bin", good);

    EXPECT_EQ(put(), TransferOutcome::ReadFailed);
    const Bytes data = readFile(dir / "data.bin");
    Bytes expected = good;
    std::copy(transfer.begin(), transfer.begin() + 100, expected.begin());
    std::copy(transfer.begin() + 100, transfer.end(), expected.begin() + 1000);
    EXPECT_EQ(data, expected);
    EXPECT_EQ(ui.states.back(), text::kReadFailed);
    EXPECT_EQ(ui.progress, (std::vector<int>{33, 50}));
    expectAllClosed();
}

TEST_F(TransferJobTest, GetPadsOnlyWhereTheDataFileWasCutShortMeanwhile)
{
    // This instance is shorter than the copy was: another file, refused whole.
    writeLog({{9900, 300}, {0, 10}, {30000, 0}});
    writeFile(dir / "data.bin", good);
    EXPECT_EQ(get(), TransferOutcome::Failed);
    EXPECT_EQ(ui.errors, (std::vector<JobMessage>{
                             {text::kFileWord, "data.bin", text::kDataShorterThanRegions}}));
    EXPECT_FALSE(std::filesystem::exists(dir / "data.bin.mrd"));

    // The file is cut short while the job reads it: the region it ends in keeps
    // its length, padded with zeros, so the next region stays at its place.
    LimitedWriteFileSystem fs;
    TransferFiles cut(fs);
    fs.beforeWrite = [&] {
        std::filesystem::resize_file(dir / "data.bin", 9500);
        fs.beforeWrite = nullptr;
    };
    writeLog({{0, 3000}, {9000, 1000}, {5, 10}, {10000, 0}});
    ASSERT_EQ(runGet({"data.bin.log", dir.path(), TransferKind::Get}, cut, ui),
              TransferOutcome::Done);
    EXPECT_EQ(readFile(dir / "data.bin.mrd"),
              concat({slice(good, 0, 3000), slice(good, 9000, 500), Bytes(500, 0),
                      slice(good, 5, 10)}));
}

TEST_F(TransferJobTest, FailedAndShortWritesAreNotReportedAsDone)
{
    LimitedWriteFileSystem fs;
    TransferFiles limited(fs);
    writeLog({{0, 3000}, {5000, 3000}, {10000, 0}});
    writeFile(dir / "data.bin", good);

    // A write that stops short (the system retries short writes itself, so the
    // disk is full) is cut off again: no piece of a region stays half written.
    fs.maxBytesPerWrite = 7;
    EXPECT_EQ(runGet({"data.bin.log", dir.path(), TransferKind::Get}, limited, ui),
              TransferOutcome::WriteFailed);
    EXPECT_TRUE(readFile(dir / "data.bin.mrd").empty());

    // A disk that fills up in the second region keeps the first one whole.
    fs.maxBytesPerWrite = SIZE_MAX;
    fs.writeBudget = 4000;
    EXPECT_EQ(runGet({"data.bin.log", dir.path(), TransferKind::Get}, limited, ui),
              TransferOutcome::WriteFailed);
    EXPECT_EQ(ui.states.back(), text::kWriteFailed);
    EXPECT_EQ(readFile(dir / "data.bin.mrd"), slice(good, 0, 3000));

    fs.writeBudget = 0;
    writeFile(dir / "data.bin.mrd", pattern(6000, 2));
    EXPECT_EQ(runPut({"data.bin.log", dir.path(), TransferKind::Put}, limited, ui),
              TransferOutcome::WriteFailed);
    EXPECT_EQ(readFile(dir / "data.bin"), good);
    EXPECT_FALSE(limited.outputFile.isOpen());
}

// Regions past 2^31 and longer than the buffer move whole, at their own offsets.
TEST_F(TransferJobTest, LargeRegionsAtHighOffsetsMoveInPieces)
{
    const std::uint32_t offset = 0xC0000000u;  // 3 GiB, in a sparse file
    const std::uint32_t length = 2'500'000;
    const Bytes region = pattern(length, 11);
    {
        PlainFile data;
        ASSERT_TRUE(data.create(dir / "data.bin", Disposition::CreateAlways, Access::Write));
        ASSERT_EQ(data.seek(offset, Whence::Begin), offset);
        ASSERT_EQ(data.write(region.data(), region.size()), region.size());
    }
    writeLog({{offset, length}, {offset + length, 0}});
    ASSERT_EQ(get(), TransferOutcome::Done);
    EXPECT_EQ(readFile(dir / "data.bin.mrd"), region);

    ASSERT_TRUE(std::filesystem::remove(dir / "data.bin"));
    {
        PlainFile data;
        ASSERT_TRUE(data.create(dir / "data.bin", Disposition::CreateAlways, Access::Write));
        ASSERT_TRUE(data.truncateAt(std::uint64_t{offset} + length + 10));
    }
    ASSERT_EQ(put(), TransferOutcome::Done);
    PlainFile data;
    ASSERT_TRUE(data.openExisting(dir / "data.bin", Access::Read));
    EXPECT_EQ(data.size(), std::int64_t{offset} + length + 10);  // not truncated
    Bytes back(length);
    ASSERT_EQ(data.seek(offset, Whence::Begin), offset);
    ASSERT_EQ(data.read(back.data(), length), length);
    EXPECT_EQ(back, region);
}

TEST(ComposeMessage, NameBetweenTwoTextsOrATextAlone)
{
    const TextLookup text = [](int id) { return "t" + std::to_string(id); };
    EXPECT_EQ(composeMessage({14, "a.bin", 24}, text), "t14 a.bin\nt24");
    EXPECT_EQ(composeMessage({85, "", -1}, text), "t85");
}

}  // namespace
}  // namespace tessaly
