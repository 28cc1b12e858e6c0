// tessaly-cli copy over the simulated damaged medium: real EIO and ENOMEDIUM
// through the kernel, with O_DIRECT, and the real program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tests/medium/medium_mount.h"
#include "tests/support/log_bytes.h"
#include "tests/support/test_folder.h"

extern char** environ;

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSector = 512;

using testing::readAll;
using testing::sizeOf;

// "" when the two are equal, else where they first differ (so a failure stays readable).
std::string difference(const std::string& actual, const std::string& expected)
{
    if (actual == expected) return {};
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
           ", first difference at byte " + std::to_string(at) + " (sector " +
           std::to_string(at / kSector) + ")";
}

struct LogRecord
{
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    bool operator==(const LogRecord&) const = default;
};

std::uint32_t le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

// The records of a copy log after its header; fails the test on a malformed header.
// The records after the name, the annotation block passed over.
std::vector<LogRecord> logRecords(const std::string& path, const std::string& name)
{
    const std::string raw = readAll(path);
    const std::vector<std::uint8_t> stripped =
        tessaly::testing::withoutAnnotations({raw.begin(), raw.end()});
    const std::string log(stripped.begin(), stripped.end());
    EXPECT_GE(log.size(), 14 + name.size());
    if (log.size() < 14 + name.size()) return {};
    EXPECT_EQ(log.substr(0, 4), std::string("ACL\0", 4));
    EXPECT_EQ(static_cast<unsigned char>(log[12]) | static_cast<unsigned char>(log[13]) << 8,
              static_cast<int>(name.size()));
    EXPECT_EQ(log.substr(14, name.size()), name);
    std::vector<LogRecord> records;
    const std::size_t start = 14 + name.size();
    EXPECT_EQ((log.size() - start) % 8, 0u);
    for (std::size_t at = start; at + 8 <= log.size(); at += 8) {
        records.push_back({le32(log, at), le32(log, at + 4)});
    }
    return records;
}

// Runs tessaly-cli with standard input from /dev/null and its output kept.
class CliRun
{
public:
    explicit CliRun(const std::vector<std::string>& args, const std::string& workDir)
        : m_out(workDir + "/stdout." + std::to_string(++s_counter)),
          m_err(workDir + "/stderr." + std::to_string(s_counter))
    {
        const char* binDir = std::getenv("TESSALY_BIN_DIR");
        std::vector<std::string> words = {std::string(binDir ? binDir : "bin") + "/tessaly-cli"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CliRun()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
    }

    bool started() const { return m_pid > 0; }
    void signal(int sig) const { ::kill(m_pid, sig); }
    // The exit status, or 128 + the signal that ended it.
    int wait()
    {
        if (m_pid <= 0) return m_status;
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status;
    }
    std::string out() const { return readAll(m_out); }
    std::string err() const { return readAll(m_err); }
    // The status field of the report line of source.
    std::string statusOf(const std::string& source) const
    {
        std::istringstream lines(out());
        for (std::string line; std::getline(lines, line);) {
            if (line.size() > source.size() &&
                line.compare(line.size() - source.size() - 1, std::string::npos, "\t" + source) ==
                    0) {
                return line.substr(0, line.find('\t'));
            }
        }
        return "(no line)";
    }

private:
    static inline int s_counter = 0;
    std::string m_out;
    std::string m_err;
    pid_t m_pid = -1;
    int m_status = -1;
};

class CopySystemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tessaly-cli-sys-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_work = pattern;
        fs::create_directories(m_work + "/out");
    }
    void TearDown() override
    {
        for (const std::string& mount : m_tmpfsMounts) ::umount2(mount.c_str(), MNT_DETACH);
        medium.unmount();
        fs::remove_all(m_work);
    }

    // The status and report of one run of the program to its end.
    int run(const std::vector<std::string>& args, std::string* out = nullptr)
    {
        CliRun cli(args, m_work);
        EXPECT_TRUE(cli.started());
        const int status = cli.wait();
        if (out) *out = cli.out();
        m_lastErr = cli.err();
        return status;
    }

    // Waits (5 ms polls, at most 30 s) until ready() holds; false on time-out.
    static bool waitFor(const std::function<bool()>& ready)
    {
        for (int i = 0; i < 6000; ++i) {
            if (ready()) return true;
            sleepMs(5);
        }
        return false;
    }

    // A tmpfs of size bytes; empty when this system does not allow the mount.
    std::string mountTmpfs(std::uint64_t size)
    {
        const std::string dir = m_work + "/small" + std::to_string(m_tmpfsMounts.size());
        fs::create_directories(dir);
        const std::string options = "size=" + std::to_string(size);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) return {};
        m_tmpfsMounts.push_back(dir);
        return dir;
    }

    MediumMount medium;
    std::string m_work;
    std::string m_lastErr;
    std::vector<std::string> m_tmpfsMounts;
};

// The image with each sector of bad replaced by what fill gives it.
std::string expectedCopy(const std::string& image, const std::set<std::size_t>& bad,
                         const std::function<std::string(std::size_t sector)>& fill)
{
    std::string out;
    for (std::size_t s = 0; s * kSector < image.size(); ++s) {
        out += bad.count(s) ? fill(s) : image.substr(s * kSector, kSector);
    }
    return out;
}

// The log of a copy whose bad sectors are bad: a region for each run of them (the
// trim pass at the end of the copy joins the sectors filled one by one), or for each
// sector when no trim pass ran; then the end record.
std::vector<LogRecord> regionsOf(const std::set<std::size_t>& bad, std::uint32_t end,
                                 bool trimmed = true)
{
    std::vector<LogRecord> records;
    for (std::size_t s : bad) {
        const auto offset = static_cast<std::uint32_t>(s * kSector);
        if (trimmed && !records.empty() &&
            records.back().offset + records.back().length == offset) {
            records.back().length += kSector;
        } else {
            records.push_back({offset, kSector});
        }
    }
    records.push_back({end, 0});
    return records;
}

TEST_F(CopySystemTest, EveryReadableByteArrivesAndEachFillCoversTheBadSectors)
{
    const std::string image = MediumMount::patternBytes(600 * kSector, 7);
    const std::set<std::size_t> bad = {10, 11, 300, 450, 599};
    medium.addImage("disk/a.bin", image, "bad 10-11\nbad 300\nbad 450\nbad 599\nweak 200 1\n");
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string source = medium.path("disk/a.bin");
    const std::string pattern = "<bad:";

    struct Case
    {
        std::string option;
        std::function<std::string(std::size_t)> fill;
    };
    const std::vector<Case> cases = {
        {"zeros", [](std::size_t) { return std::string(kSector, '\0'); }},
        {"value:171", [](std::size_t) { return std::string(kSector, '\xAB'); }},
        {"string:" + pattern,
         [&](std::size_t) {
             std::string s;
             while (s.size() < kSector) s += pattern;
             return s.substr(0, kSector);
         }},
        {"last-good",
         [&](std::size_t sector) {
             while (bad.count(sector)) --sector;  // the nearest readable sector before
             return image.substr(sector * kSector, kSector);
         }},
        {"nothing", [](std::size_t) { return std::string(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        const std::string out = m_work + "/out-" + c.option.substr(0, c.option.find(':'));
        fs::create_directories(out);
        std::string report;
        // Two reads of each sector: the weak one gives its bytes on the second.
        EXPECT_EQ(run({"copy", "--attempts=2", "--fill=" + c.option, source, out}, &report), 1)
            << m_lastErr;
        EXPECT_EQ(difference(readAll(out + "/a.bin"), expectedCopy(image, bad, c.fill)), "");
        // The unreadable sectors at their source offsets (no trim pass with nothing),
        // then one end record.
        EXPECT_EQ(logRecords(out + "/a.bin.log", "a.bin"),
                  regionsOf(bad, static_cast<std::uint32_t>(image.size()), c.option != "nothing"));
        EXPECT_NE(report.find("Ok\t" + std::to_string(image.size() - bad.size() * kSector) + "\t" +
                              std::to_string(bad.size() * kSector) + "\t" + source),
                  std::string::npos)
            << report;
    }
}

TEST_F(CopySystemTest, AFolderKeepsItsTreeBelowTheMediumsMountPoint)
{
    const std::string a = MediumMount::patternBytes(3000, 1);
    const std::string b = MediumMount::patternBytes(70000, 2);
    medium.addImage("docs/a.txt", a);
    medium.addImage("docs/sub/b.bin", b);
    TESSALY_MOUNT_OR_SKIP(medium);
    std::string report;
    EXPECT_EQ(run({"copy", medium.path("docs"), m_work + "/out"}, &report), 0) << m_lastErr;
    EXPECT_EQ(readAll(m_work + "/out/docs/a.txt"), a);
    EXPECT_EQ(difference(readAll(m_work + "/out/docs/sub/b.bin"), b), "");
    // A clean copy keeps no log.
    EXPECT_FALSE(fs::exists(m_work + "/out/docs/a.txt.log"));
    EXPECT_NE(report.find("Ok\t70000\t0\t" + medium.path("docs/sub/b.bin")), std::string::npos)
        << report;
    // The same command again: the clean copies (without logs) are complete, unasked.
    EXPECT_EQ(run({"copy", medium.path("docs"), m_work + "/out"}, &report), 0) << m_lastErr;
    EXPECT_NE(report.find("Ok\t70000\t0\t" + medium.path("docs/sub/b.bin")), std::string::npos)
        << report;
    EXPECT_EQ(difference(readAll(m_work + "/out/docs/sub/b.bin"), b), "");
}

// A copy cut off by a removed medium is not finished from another disc that has a file
// of the same name: the run refuses it, and the copy and its log stay as they were.
TEST_F(CopySystemTest, AnotherMediumNeverFinishesACopyOfTheFirst)
{
    const std::string first = MediumMount::patternBytes(256 * kSector, 5);
    medium.addImage("x.bin", first, "remove-after 65536\n");
    TESSALY_MOUNT_OR_SKIP(medium);
    EXPECT_EQ(run({"copy", medium.path("x.bin"), m_work + "/out"}), 3) << m_lastErr;
    const std::string copyBefore = readAll(m_work + "/out/x.bin");
    const std::string logBefore = readAll(m_work + "/out/x.bin.log");
    ASSERT_FALSE(logBefore.empty());
    medium.unmount();

    MediumMount other;
    other.addImage("x.bin", MediumMount::patternBytes(256 * kSector, 6));
    TESSALY_MOUNT_OR_SKIP(other);
    std::string report;
    EXPECT_EQ(run({"copy", other.path("x.bin"), m_work + "/out"}, &report), 2) << m_lastErr;
    // Its time differs from the one the log recorded.
    EXPECT_NE(report.find("SourceChanged\t0\t0\t"), std::string::npos) << report;
    EXPECT_NE(m_lastErr.find("x.bin"), std::string::npos) << m_lastErr;
    EXPECT_EQ(readAll(m_work + "/out/x.bin"), copyBefore);
    EXPECT_EQ(readAll(m_work + "/out/x.bin.log"), logBefore);
    other.unmount();
}

// The report names as damaged exactly the files whose logs list regions, with their
// regions, and the clean file as complete; a name with a comma and a quote stays one
// field.
TEST_F(CopySystemTest, TheReportListsTheFilesWhoseLogsListRegionsAsDamaged)
{
    medium.addImage("tree/clean.txt", MediumMount::patternBytes(3000, 1));
    medium.addImage("tree/sub/hurt.bin", MediumMount::patternBytes(64 * kSector, 2),
                    "bad 5\nbad 40-41\n");
    medium.addImage("tree/odd, \"name\".bin", MediumMount::patternBytes(16 * kSector, 3),
                    "bad 0\n");
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string csv = m_work + "/r.csv";
    EXPECT_EQ(run({"copy", "--report=" + csv, medium.path("tree"), m_work + "/out"}), 1)
        << m_lastErr;
    const std::string text = readAll(csv);
    ASSERT_EQ(text.rfind("source,size,state,bytes read,bytes not read,filled regions,copy,log\r\n",
                         0),
              0u)
        << text;
    const auto lineOf = [&](const std::string& name) {
        const std::string quoted = name.find(',') == std::string::npos
                                       ? medium.path("tree/" + name)
                                       : "\"" + medium.path("tree/odd, \"\"name\"\".bin") + "\"";
        const std::size_t at = text.find("\r\n" + quoted + ",");
        if (at == std::string::npos) return std::string("(no line)");
        return text.substr(at + 2 + quoted.size() + 1,
                           text.find("\r\n", at + 2) - at - 2 - quoted.size() - 1);
    };
    const std::string out = m_work + "/out/tree/";
    EXPECT_EQ(lineOf("clean.txt"), "3000,complete,3000,0,0," + out + "clean.txt,");
    EXPECT_EQ(lineOf("sub/hurt.bin"), "32768,damaged,31232,1536,2," + out + "sub/hurt.bin," +
                                          out + "sub/hurt.bin.log");
    EXPECT_EQ(lineOf("odd, \"name\".bin"),
              "8192,damaged,7680,512,1,\"" + out + "odd, \"\"name\"\".bin\",\"" + out +
                  "odd, \"\"name\"\".bin.log\"");
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    EXPECT_EQ(lines, 4u) << text;  // the header and the three files
}

class InterruptedCopyTest : public CopySystemTest
{
protected:
    // 1 MiB with runs of permanently bad sectors spread over it; every read takes
    // a millisecond, so that the copy is long enough to be interrupted.
    void SetUp() override
    {
        CopySystemTest::SetUp();
        image = MediumMount::patternBytes(2048 * kSector, 3);
        medium.addImage("disk/big.bin", image,
                        "bad 60-61\nbad 700\nbad 1200-1203\nbad 1900\nslow 0-2047 1\n");
    }

    std::vector<std::string> command(const std::string& out, bool yes = false) const
    {
        // In order: the copy's size tells how far it got.
        std::vector<std::string> args = {"copy", "--optimize=0", "--no-easy-first"};
        if (yes) args.push_back("--yes");
        args.push_back(medium.path("disk/big.bin"));
        args.push_back(out);
        return args;
    }

    // Starts a copy into out and ends it by sig once part of the file has arrived.
    int interruptedRun(const std::string& out, int sig)
    {
        CliRun cli(command(out), m_work);
        EXPECT_TRUE(cli.started());
        const std::string dest = out + "/big.bin";
        EXPECT_TRUE(waitFor([&] { return sizeOf(dest) >= 300000; }));
        cli.signal(sig);
        const int status = cli.wait();
        m_lastReport = cli.out();
        return status;
    }

    std::string image;
    std::string m_lastReport;
};

TEST_F(InterruptedCopyTest, AStoppedAndResumedCopyEqualsAnUninterruptedOne)
{
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string whole = m_work + "/whole";
    const std::string parts = m_work + "/parts";
    fs::create_directories(whole);
    fs::create_directories(parts);
    EXPECT_EQ(run(command(whole)), 1) << m_lastErr;

    EXPECT_EQ(interruptedRun(parts, SIGINT), 2);
    EXPECT_NE(m_lastReport.find("Stopped\t"), std::string::npos) << m_lastReport;
    const std::uint64_t reached = sizeOf(parts + "/big.bin");
    ASSERT_LT(reached, image.size()) << "the copy ended before the stop";
    const std::vector<LogRecord> stopped = logRecords(parts + "/big.bin.log", "big.bin");
    ASSERT_FALSE(stopped.empty());
    EXPECT_EQ(stopped.back(), (LogRecord{static_cast<std::uint32_t>(reached), 0}));

    // The same command continues it from the log.
    EXPECT_EQ(run(command(parts)), 1) << m_lastErr;
    EXPECT_EQ(difference(readAll(parts + "/big.bin"), readAll(whole + "/big.bin")), "");
    EXPECT_EQ(readAll(parts + "/big.bin.log"), readAll(whole + "/big.bin.log"));
    EXPECT_EQ(difference(readAll(whole + "/big.bin"),
                         expectedCopy(image, {60, 61, 700, 1200, 1201, 1202, 1203, 1900},
                                      [](std::size_t) { return std::string(kSector, '\0'); })),
              "");
}

// A kill request and a hang-up (the terminal or the session went away) stop the copy
// as an interrupt does: the copy keeps its log's end record, and the run says so.
TEST_F(InterruptedCopyTest, TerminateAndHangUpStopTheCopyInOrder)
{
    TESSALY_MOUNT_OR_SKIP(medium);
    for (const int sig : {SIGTERM, SIGHUP}) {
        const std::string out = m_work + "/out" + std::to_string(sig);
        fs::create_directories(out);
        EXPECT_EQ(interruptedRun(out, sig), 2) << "signal " << sig;
        EXPECT_NE(m_lastReport.find("Stopped\t"), std::string::npos) << m_lastReport;
        const std::uint64_t reached = sizeOf(out + "/big.bin");
        ASSERT_LT(reached, image.size()) << "the copy ended before the signal";
        const std::vector<LogRecord> records = logRecords(out + "/big.bin.log", "big.bin");
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.back(), (LogRecord{static_cast<std::uint32_t>(reached), 0}));
    }
}

// A read-only loop device over a served image: a whole medium with real EIO.
class LoopDevice
{
public:
    explicit LoopDevice(const std::string& image, const std::string& workDir)
    {
        const std::string named = workDir + "/loop-name";
        if (std::system(("losetup -r -f --show '" + image + "' >'" + named + "' 2>/dev/null").c_str()) ==
            0) {
            std::ifstream(named) >> m_name;
        }
    }
    ~LoopDevice()
    {
        if (!m_name.empty()) {
            [[maybe_unused]] const int r = std::system(("losetup -d " + m_name).c_str());
        }
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    // /dev/loopN; empty when none could be set up.
    const std::string& name() const { return m_name; }

private:
    std::string m_name;
};

// tessaly-cli copy /dev/loopN OUT images the medium into OUT/loopN.img beside its log,
// exact outside the filled regions; stopped, the same command continues it.
TEST_F(InterruptedCopyTest, ALoopDeviceIsImagedAndTheSameCommandContinuesIt)
{
    if (::geteuid() != 0) GTEST_SKIP() << "SKIPPED: a loop device needs root";
    TESSALY_MOUNT_OR_SKIP(medium);
    const LoopDevice loop(medium.path("disk/big.bin"), m_work);
    if (loop.name().empty()) GTEST_SKIP() << "SKIPPED: no loop device here (losetup failed)";
    const std::string name = loop.name().substr(loop.name().rfind('/') + 1) + ".img";
    const std::string out = m_work + "/out";
    const std::string copyPath = out + "/" + name;
    const std::vector<std::string> command = {"copy", "--optimize=0", "--no-easy-first", loop.name(), out};
    {
        CliRun cli(command, m_work);
        ASSERT_TRUE(cli.started());
        EXPECT_TRUE(waitFor([&] { return sizeOf(copyPath) >= 300000; }));
        cli.signal(SIGINT);
        EXPECT_EQ(cli.wait(), 2);
        EXPECT_NE(cli.out().find("Stopped\t"), std::string::npos) << cli.out();
    }
    const std::uint64_t reached = sizeOf(copyPath);
    ASSERT_LT(reached, image.size()) << "the copy ended before the stop";
    const std::vector<LogRecord> stopped = logRecords(copyPath + ".log", name);
    ASSERT_FALSE(stopped.empty());
    EXPECT_EQ(stopped.back(), (LogRecord{static_cast<std::uint32_t>(reached), 0}));

    std::string report;
    EXPECT_EQ(run(command, &report), 1) << m_lastErr;
    EXPECT_NE(report.find("Ok\t"), std::string::npos) << report;
    const std::vector<LogRecord> records = logRecords(copyPath + ".log", name);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), (LogRecord{static_cast<std::uint32_t>(image.size()), 0}));
    // Zeros in the listed regions, the medium's bytes everywhere else; every bad
    // sector lies in a region.
    std::string expected = image;
    std::set<std::size_t> filled;
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
        ASSERT_LE(records[i].offset + std::uint64_t{records[i].length}, image.size());
        std::fill_n(expected.begin() + records[i].offset, records[i].length, '\0');
        for (std::size_t s = records[i].offset / kSector;
             s * kSector < records[i].offset + std::uint64_t{records[i].length}; ++s) {
            filled.insert(s);
        }
    }
    EXPECT_EQ(difference(readAll(copyPath), expected), "");
    for (std::size_t bad : {60, 61, 700, 1200, 1201, 1202, 1203, 1900}) {
        EXPECT_TRUE(filled.count(bad)) << "sector " << bad;
    }
}

TEST_F(InterruptedCopyTest, AKilledCopyIsContinuedOnlyWithConsentAndKeepsItsBytes)
{
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string out = m_work + "/out";
    EXPECT_EQ(interruptedRun(out, SIGKILL), 128 + SIGKILL);
    const std::string before = readAll(out + "/big.bin");
    ASSERT_LT(before.size(), image.size());

    // Without an end record the log cannot be trusted: no terminal, no --yes, no copy.
    std::string report;
    EXPECT_EQ(run(command(out), &report), 2);
    EXPECT_NE(report.find("NoLogRefused\t"), std::string::npos) << report;
    EXPECT_EQ(difference(readAll(out + "/big.bin"), before), "");

    EXPECT_EQ(run(command(out, true), &report), 1) << m_lastErr;
    const std::string after = readAll(out + "/big.bin");
    EXPECT_EQ(difference(after.substr(0, before.size()), before), "");
    EXPECT_EQ(
        difference(after, expectedCopy(image, {60, 61, 700, 1200, 1201, 1202, 1203, 1900},
                                       [](std::size_t) { return std::string(kSector, '\0'); })),
        "");
    // The fills of the killed run stay listed beside those of the second run, so the
    // companion tool can still complete every one of them.
    const std::vector<LogRecord> expected = regionsOf({60, 61, 700, 1200, 1201, 1202, 1203, 1900},
                                                      static_cast<std::uint32_t>(image.size()));
    EXPECT_EQ(logRecords(out + "/big.bin.log", "big.bin"), expected);
}

// Two runs onto one copy at once (a script started twice): the second finds the copy
// in use, says so and goes on with its next file; the first copies undisturbed. The
// lock goes with the process: once the first run is killed, a third run continues.
TEST_F(InterruptedCopyTest, ASecondRunLeavesACopyInUseAloneAndGoesOn)
{
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string out = m_work + "/out";
    const std::string small = m_work + "/small.bin";
    std::ofstream(small, std::ios::binary) << std::string(5000, 's');
    CliRun first(command(out), m_work);
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(waitFor([&] { return sizeOf(out + "/big.bin") >= 100000; }));

    std::vector<std::string> args = command(out);
    args.insert(args.end() - 1, small);
    std::string report;
    EXPECT_EQ(run(args, &report), 2);
    EXPECT_NE(report.find("DestinationInUse\t0\t0\t" + medium.path("disk/big.bin")),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("Ok\t5000\t0\t" + small), std::string::npos) << report;
    EXPECT_NE(m_lastErr.find("in use by another copy run"), std::string::npos) << m_lastErr;
    EXPECT_EQ(readAll(out + "/small.bin"), std::string(5000, 's'));

    EXPECT_EQ(first.wait(), 1) << first.err();
    EXPECT_EQ(difference(readAll(out + "/big.bin"),
                         expectedCopy(image, {60, 61, 700, 1200, 1201, 1202, 1203, 1900},
                                      [](std::size_t) { return std::string(kSector, '\0'); })),
              "");

    fs::create_directories(m_work + "/again");
    EXPECT_EQ(interruptedRun(m_work + "/again", SIGKILL), 128 + SIGKILL);
    args = command(m_work + "/again", true);
    EXPECT_EQ(run(args, &report), 1) << m_lastErr;
    EXPECT_EQ(readAll(m_work + "/again/big.bin"), readAll(out + "/big.bin"));
}

TEST_F(CopySystemTest, ARemovedMediumStopsTheRunAndTheCopyContinuesLater)
{
    const std::string image = MediumMount::patternBytes(1200 * kSector, 5);
    const std::string other = MediumMount::patternBytes(4000, 6);
    medium.addImage("disk/a.bin", image, "remove-after 307200\n");
    medium.addImage("disk/b.bin", other);
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string out = m_work + "/out";
    std::string report;
    EXPECT_EQ(run({"copy", "--no-easy-first", medium.path("disk/a.bin"), medium.path("disk/b.bin"), out},
                  &report),
              3);
    EXPECT_NE(report.find("NotReady\t307200\t0\t"), std::string::npos) << report;
    EXPECT_NE(report.find("NotStarted\t0\t0\t" + medium.path("disk/b.bin")), std::string::npos)
        << report;
    EXPECT_FALSE(fs::exists(out + "/b.bin"));
    EXPECT_EQ(difference(readAll(out + "/a.bin"), image.substr(0, 307200)), "");
    EXPECT_EQ(logRecords(out + "/a.bin.log", "a.bin"), (std::vector<LogRecord>{{307200, 0}}));

    // The medium comes back (and stays): the same command finishes both files.
    medium.unmount();
    ASSERT_TRUE(medium.addMap("disk/a.bin", ""));
    TESSALY_MOUNT_OR_SKIP(medium);
    EXPECT_EQ(run({"copy", medium.path("disk/a.bin"), medium.path("disk/b.bin"), out}, &report), 0)
        << m_lastErr;
    EXPECT_EQ(difference(readAll(out + "/a.bin"), image), "");
    EXPECT_EQ(difference(readAll(out + "/b.bin"), other), "");
    EXPECT_FALSE(fs::exists(out + "/a.bin.log"));
}

// With --wait-for-medium the same run goes on when the medium is mounted again at the
// same place, and finishes both files exactly.
TEST_F(CopySystemTest, AWaitingRunGoesOnWhenTheSameMediumIsMountedAgain)
{
    const std::string image = MediumMount::patternBytes(1200 * kSector, 5);
    const std::string other = MediumMount::patternBytes(4000, 6);
    medium.addImage("disk/a.bin", image, "remove-after 307200\n");
    medium.addImage("disk/b.bin", other);
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string out = m_work + "/out";
    CliRun cli({"copy", "--no-easy-first", "--wait-for-medium", medium.path("disk/a.bin"), medium.path("disk/b.bin"),
                out},
               m_work);
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(waitFor([&] { return cli.err().find("Waiting for it") != std::string::npos; }))
        << cli.err();
    EXPECT_NE(cli.err().find(medium.path("disk/a.bin") + " went away"), std::string::npos)
        << cli.err();
    EXPECT_EQ(difference(readAll(out + "/a.bin"), image.substr(0, 307200)), "");

    medium.unmount();
    ASSERT_TRUE(medium.addMap("disk/a.bin", ""));
    TESSALY_MOUNT_OR_SKIP(medium);
    EXPECT_EQ(cli.wait(), 0) << cli.err();
    EXPECT_EQ(cli.statusOf(medium.path("disk/a.bin")), "Ok") << cli.out();
    EXPECT_EQ(cli.statusOf(medium.path("disk/b.bin")), "Ok") << cli.out();
    EXPECT_EQ(difference(readAll(out + "/a.bin"), image), "");
    EXPECT_EQ(difference(readAll(out + "/b.bin"), other), "");
    EXPECT_FALSE(fs::exists(out + "/a.bin.log"));
}

TEST_F(CopySystemTest, AReservedCopySuppliesTheSectorsTheFileLacks)
{
    const std::string image = MediumMount::patternBytes(400 * kSector, 9);
    medium.addImage("disk/a.bin", image, "bad 10\nbad 250-251\n");
    medium.addImage("disk/a.bin.cp1", image, "bad 11\nbad 300\n");
    TESSALY_MOUNT_OR_SKIP(medium);
    std::string report;
    EXPECT_EQ(run({"copy", medium.path("disk/a.bin"), m_work + "/out"}, &report), 0)
        << m_lastErr << report;
    EXPECT_EQ(difference(readAll(m_work + "/out/a.bin"), image), "");
    EXPECT_FALSE(fs::exists(m_work + "/out/a.bin.log"));
}

TEST_F(CopySystemTest, AFullOutputVolumeGivesDiskFullBeforeTheCopy)
{
    medium.addImage("disk/a.bin", MediumMount::patternBytes(1024 * 1024, 4));
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string small = mountTmpfs(256 * 1024);
    if (small.empty())
        GTEST_SKIP() << "SKIPPED: cannot mount a tmpfs here: " << std::strerror(errno);
    std::string report;
    EXPECT_EQ(run({"copy", medium.path("disk/a.bin"), small}, &report), 2);
    EXPECT_NE(report.find("DiskFull\t0\t0\t"), std::string::npos) << report;
    EXPECT_EQ(sizeOf(small + "/a.bin"), 0u);
}

TEST_F(CopySystemTest, AWriteFailureMidCopyIsWriteFailedWithAnEndRecord)
{
    const std::string image = MediumMount::patternBytes(1024 * 1024, 8);
    // Each chunk read waits, so the volume can be filled while the copy runs.
    medium.addImage("disk/a.bin", image, "slow 0-2047 150\n");
    TESSALY_MOUNT_OR_SKIP(medium);
    const std::string small = mountTmpfs(2 * 1024 * 1024);
    if (small.empty())
        GTEST_SKIP() << "SKIPPED: cannot mount a tmpfs here: " << std::strerror(errno);

    CliRun cli({"copy", "--no-easy-first", medium.path("disk/a.bin"), small}, m_work);
    ASSERT_TRUE(cli.started());
    // The log exists once the free space check has passed; then the volume fills up.
    ASSERT_TRUE(waitFor([&] { return sizeOf(small + "/a.bin") >= 102400; }));
    {
        std::ofstream filler(small + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
    EXPECT_EQ(cli.wait(), 2) << cli.err();
    EXPECT_EQ(cli.statusOf(medium.path("disk/a.bin")), "WriteFailed") << cli.out();
    const std::string copied = readAll(small + "/a.bin");
    ASSERT_LT(copied.size(), image.size());
    EXPECT_EQ(difference(copied, image.substr(0, copied.size())), "");
    const std::vector<LogRecord> records = logRecords(small + "/a.bin.log", "a.bin");
    EXPECT_EQ(records, (std::vector<LogRecord>{{static_cast<std::uint32_t>(copied.size()), 0}}));
}

TEST_F(CopySystemTest, UsageErrors)
{
    EXPECT_EQ(run({"copy"}), 64);
    EXPECT_EQ(run({"copy", "--fill=purple", "a", m_work}), 64);
    EXPECT_EQ(run({"copy", "a", m_work + "/no-such-folder"}), 64);
    std::string help;
    EXPECT_EQ(run({"copy", "--help"}, &help), 0);
    EXPECT_NE(help.find("--existing"), std::string::npos);
}

TEST_F(CopySystemTest, AFileIsNeverCopiedOntoItself)
{
    const std::string folder = m_work + "/data";
    fs::create_directories(folder);
    const std::string content(5000, 'k');
    std::ofstream(folder + "/a.bin", std::ios::binary) << content;
    std::string report;
    EXPECT_EQ(run({"copy", "--existing=replace", "--yes", folder + "/a.bin", folder}, &report), 2);
    EXPECT_NE(report.find("SameFile\t"), std::string::npos) << report;
    EXPECT_EQ(readAll(folder + "/a.bin"), content);
}

// A name of 252 to 255 bytes leaves no room for ".log": the file is copied all the
// same, and the run says that it has no log.
TEST_F(CopySystemTest, ANameTooLongForALogIsCopiedWithoutOne)
{
    const std::string folder = m_work + "/data";
    fs::create_directories(folder);
    const std::string name(253, 'n');
    const std::string content(70000, 'q');
    std::ofstream(folder + "/" + name, std::ios::binary) << content;
    std::string report;
    EXPECT_EQ(run({"copy", folder + "/" + name, m_work + "/out"}, &report), 0) << m_lastErr;
    EXPECT_EQ(readAll(m_work + "/out/" + name), content);
    EXPECT_NE(m_lastErr.find("has no copy log"), std::string::npos) << m_lastErr;
    EXPECT_NE(report.find("Ok\t70000\t0\t"), std::string::npos) << report;
}

}  // namespace
}  // namespace tessaly
