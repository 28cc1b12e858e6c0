#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

#include "platform/locked_buffer.h"
#include "platform/posix_file_system.h"
#include "platform/mount_info.h"
#include "tests/support/test_folder.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class PosixFileSystemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = testing::freshTestFolder("tessaly-platform");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string writeImage(const std::string& name, std::size_t size)
    {
        std::string bytes(size, '\0');
        std::mt19937 random(42);
        for (auto& b : bytes) b = static_cast<char>(random());
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
        m_bytes = bytes;
        return path;
    }

    fs::path m_dir;
    std::string m_bytes;
};

TEST_F(PosixFileSystemTest, UnbufferedReadsReturnTheFileAndStopAtItsEnd)
{
    for (bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "O_DIRECT refused" : "O_DIRECT");
        PosixFileSystem system(PosixFileSystem::Options{refuse});
        const std::string path = writeImage("image.bin", 10000);
        SysError error = -1;
        auto file = system.openUnbuffered(path, &error);
        ASSERT_NE(file, nullptr) << std::strerror(error);
        EXPECT_EQ(error, 0);
        EXPECT_EQ(usesDirectIo(*file), !refuse);

        LockedBuffer buffer(16384);
        ASSERT_TRUE(buffer);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % pageSize(), 0u);
        // The last read asks for whole sectors beyond the end and gets the rest.
        EXPECT_EQ(file->seek(8192, Whence::Begin), 8192);
        const IoResult r = file->read(buffer.data(), 4096);
        EXPECT_EQ(r.bytes, 10000u - 8192u);
        EXPECT_EQ(std::memcmp(buffer.data(), m_bytes.data() + 8192, r.bytes), 0);
        EXPECT_EQ(file->offset(), 10000);
        EXPECT_EQ(file->read(buffer.data(), 4096).bytes, 0u);
        EXPECT_EQ(file->size(), 10000);
    }
}

TEST_F(PosixFileSystemTest, UnbufferedOpenRefusesFoldersAndMissingFiles)
{
    PosixFileSystem system;
    SysError error = 0;
    EXPECT_EQ(system.openUnbuffered(m_dir.string(), &error), nullptr);
    EXPECT_EQ(error, EISDIR);
    EXPECT_EQ(system.openUnbuffered((m_dir / "missing").string(), &error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

// Every way the programs open a file, against a named pipe without a writer or a
// reader and against character devices: each must fail at once. Should an open
// block, the test opens the pipe's other end to free it and fails instead of hanging.
TEST_F(PosixFileSystemTest, PipesAndDevicesAreRefusedWithoutWaiting)
{
    PosixFileSystem system;
    const std::string pipe = (m_dir / "pipe").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0) << std::strerror(errno);
    using Opener = std::function<bool(const std::string&, SysError*)>;
    const std::vector<std::pair<const char*, Opener>> openers = {
        {"unbuffered", [&](const std::string& p, SysError* e) {
             return system.openUnbuffered(p, e) != nullptr;
         }},
        {"read", [&](const std::string& p, SysError* e) {
             return system.open(p, Disposition::OpenExisting, Access::Read, e) != nullptr;
         }},
        {"write", [&](const std::string& p, SysError* e) {
             return system.open(p, Disposition::OpenExisting, Access::Write, e) != nullptr;
         }},
        {"read-write", [&](const std::string& p, SysError* e) {
             return system.open(p, Disposition::OpenExisting, Access::ReadWrite, e) != nullptr;
         }},
        {"create-always", [&](const std::string& p, SysError* e) {
             return system.open(p, Disposition::CreateAlways, Access::Write, e) != nullptr;
         }},
    };
    for (const std::string& path : {pipe, std::string("/dev/null"), std::string("/dev/zero")}) {
        for (const auto& [name, opener] : openers) {
            SCOPED_TRACE(path + ", " + name);
            SysError error = 0;
            auto opened = std::async(std::launch::async, opener, path, &error);
            if (opened.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
                const int other = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
                opened.wait();
                if (other >= 0) ::close(other);
                ADD_FAILURE() << "the open waited for another process";
                continue;
            }
            EXPECT_FALSE(opened.get());
            EXPECT_NE(error, 0);
        }
    }
    EXPECT_TRUE(fs::is_fifo(pipe));
}

// A lock is held by one open file until it closes, also against the same process.
TEST_F(PosixFileSystemTest, ALockIsHeldByOneOpenFileUntilItCloses)
{
    PosixFileSystem system;
    const std::string path = writeImage("copy.bin", 100);
    auto first = system.open(path, Disposition::OpenExisting, Access::Write, nullptr);
    auto second = system.open(path, Disposition::OpenExisting, Access::ReadWrite, nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->tryLock());
    EXPECT_FALSE(second->tryLock());
    EXPECT_FALSE(second->tryLockSeen());
    first.reset();
    EXPECT_TRUE(second->tryLockSeen());
}

TEST_F(PosixFileSystemTest, DispositionsCreateOpenAndTruncateAsNamed)
{
    PosixFileSystem system;
    const std::string path = (m_dir / "out.bin").string();
    SysError error = 0;
    EXPECT_EQ(system.open(path, Disposition::OpenExisting, Access::Write, &error), nullptr);
    EXPECT_EQ(error, ENOENT);

    auto file = system.open(path, Disposition::CreateNew, Access::Write, &error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->write("abcdef", 6).bytes, 6u);
    file.reset();
    EXPECT_EQ(system.open(path, Disposition::CreateNew, Access::Write, &error), nullptr);
    EXPECT_EQ(error, EEXIST);

    file = system.open(path, Disposition::OpenExisting, Access::ReadWrite, &error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->seek(0, Whence::End), 6);
    EXPECT_EQ(file->seek(-2, Whence::Current), 4);
    EXPECT_EQ(file->seek(-5, Whence::Current), -1);
    EXPECT_TRUE(file->truncate(3));
    EXPECT_EQ(file->size(), 3);
    file = system.open(path, Disposition::CreateAlways, Access::Write, &error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size(), 0);
}

// A link where a copy, a log or a transfer file belongs must not carry a write to
// its target; a file that is only read may be reached through one.
TEST_F(PosixFileSystemTest, WritesNeverGoThroughALinkAtThePathReadsDo)
{
    PosixFileSystem system;
    const std::string target = writeImage("target.bin", 100);
    const std::string link = (m_dir / "link.bin").string();
    fs::create_symlink(target, link);
    SysError error = 0;
    const std::pair<Disposition, Access> writing[] = {
        {Disposition::OpenExisting, Access::Write},
        {Disposition::OpenExisting, Access::ReadWrite},
        {Disposition::CreateAlways, Access::Write},
        {Disposition::OpenAlways, Access::Write},
        {Disposition::CreateAlways, Access::Read}};
    for (const auto& [disposition, access] : writing) {
        EXPECT_EQ(system.open(link, disposition, access, &error), nullptr);
        EXPECT_EQ(error, ELOOP);
    }
    EXPECT_EQ(system.open(link, Disposition::CreateNew, Access::Write, &error), nullptr);
    EXPECT_EQ(error, EEXIST);
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), m_bytes);

    auto read = system.open(link, Disposition::OpenExisting, Access::Read, &error);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->size(), 100);
    EXPECT_NE(system.openUnbuffered(link, &error), nullptr);
}

TEST_F(PosixFileSystemTest, OnlyTheLastLevelCountsAsALink)
{
    PosixFileSystem system;
    const std::string target = writeImage("target.bin", 10);
    fs::create_directory(m_dir / "real");
    fs::create_directory_symlink(m_dir / "real", m_dir / "linked");
    fs::create_symlink(m_dir / "nowhere", m_dir / "dangling");
    fs::create_symlink(target, m_dir / "real/file-link");
    EXPECT_TRUE(system.isSymlink((m_dir / "linked").string()));
    EXPECT_TRUE(system.isSymlink((m_dir / "dangling").string()));
    EXPECT_TRUE(system.isSymlink((m_dir / "linked/file-link").string()));
    EXPECT_FALSE(system.isSymlink((m_dir / "real").string()));
    EXPECT_FALSE(system.isSymlink(target));
    EXPECT_FALSE(system.isSymlink((m_dir / "missing").string()));
    // The folders above are followed: a file below a linked folder is a file.
    std::ofstream(m_dir / "real/plain.bin") << "x";
    EXPECT_FALSE(system.isSymlink((m_dir / "linked/plain.bin").string()));
}

// A log is replaced by renaming its successor over it: the old file goes in the same
// step, and a failed rename changes nothing.
TEST_F(PosixFileSystemTest, RenameReplacesTheTargetWhole)
{
    PosixFileSystem system;
    const std::string log = (m_dir / "a.log").string();
    const std::string next = (m_dir / "a.log.new").string();
    std::ofstream(log, std::ios::binary) << "old";
    std::ofstream(next, std::ios::binary) << "new log";
    EXPECT_TRUE(system.rename(next, log));
    EXPECT_FALSE(fs::exists(next));
    std::ifstream in(log, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new log");
    EXPECT_FALSE(system.rename(next, log));
    EXPECT_TRUE(fs::exists(log));
    EXPECT_TRUE(system.syncFolder(m_dir.string()));
    EXPECT_FALSE(system.syncFolder(log));  // a file is no folder
}

// sourcePlace answers in one look what the three queries answer one by one.
void expectPlaceAsQueried(PosixFileSystem& system, const std::string& path)
{
    SCOPED_TRACE(path);
    const std::optional<SourcePlace> place = system.sourcePlace(path);
    const std::optional<VolumeInfo> volume = system.volumeInfo(path);
    ASSERT_EQ(place.has_value(), volume.has_value());
    if (!place) return;
    EXPECT_EQ(place->volume.bytesPerSector, volume->bytesPerSector);
    EXPECT_EQ(place->volume.driveType, volume->driveType);
    EXPECT_EQ(place->wholeDevice, system.isBlockDevice(path));
    EXPECT_EQ(place->serial, system.volumeSerial(path));
}

TEST_F(PosixFileSystemTest, VolumeQueriesAnswerOnDiskAndTmpfs)
{
    PosixFileSystem system;
    for (const std::string& path : {m_dir.string(), std::string("/dev/shm")}) {
        SCOPED_TRACE(path);
        if (!fs::exists(path)) continue;
        expectPlaceAsQueried(system, path);
        const auto info = system.volumeInfo(path);
        ASSERT_TRUE(info.has_value());
        EXPECT_GE(info->bytesPerSector, 512u);
        EXPECT_EQ(info->bytesPerSector & (info->bytesPerSector - 1), 0u) << "a power of two";
        const auto free = system.freeSpace(path);
        ASSERT_TRUE(free.has_value());
        EXPECT_GT(*free, 0u);
    }
    if (fs::exists("/dev/shm")) {
        EXPECT_EQ(system.volumeInfo("/dev/shm")->driveType, DriveType::RamDisk);
    }
    EXPECT_FALSE(system.volumeInfo((m_dir / "missing").string()).has_value());
    expectPlaceAsQueried(system, (m_dir / "missing").string());

    // The mount table is kept between looks: a medium mounted, and taken away again,
    // after the first look shows at the next one.
    if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    const fs::path point = m_dir / "medium";
    fs::create_directory(point);
    const DriveType before = system.volumeInfo(point.string())->driveType;
    ASSERT_NE(before, DriveType::RamDisk);
    if (std::system(("mount -t tmpfs -o size=1m none " + point.string()).c_str()) != 0) {
        GTEST_SKIP() << "this machine does not let tmpfs be mounted";
    }
    EXPECT_EQ(system.volumeInfo(point.string())->driveType, DriveType::RamDisk);
    ASSERT_EQ(std::system(("umount " + point.string()).c_str()), 0);
    EXPECT_EQ(system.volumeInfo(point.string())->driveType, before);
}

TEST_F(PosixFileSystemTest, VolumeRootIsTheMountPointWithASeparator)
{
    EXPECT_EQ(volumeRoot("/"), "/");
    const std::string root = volumeRoot(m_dir.string());
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root.back(), '/');
    EXPECT_TRUE((m_dir.string() + "/").starts_with(root));
    struct stat inside {}, top {};
    ASSERT_EQ(::stat(m_dir.c_str(), &inside), 0);
    ASSERT_EQ(::stat(root.c_str(), &top), 0);
    EXPECT_EQ(inside.st_dev, top.st_dev);
}

// A loop device stands for a whole medium: it is a block device with its own size and
// sector size, opened unbuffered like a file; only a buffered open refuses it.
TEST_F(PosixFileSystemTest, ABlockDeviceOpensAsASourceWithItsSizeAndSectors)
{
    PosixFileSystem system;
    const std::string image = writeImage("medium.img", 3 << 20);
    EXPECT_FALSE(system.isBlockDevice(image));
    EXPECT_FALSE(system.isBlockDevice("/dev/null"));
    EXPECT_FALSE(system.fileSize("/dev/null").has_value());
    EXPECT_FALSE(system.isBlockDevice((m_dir / "missing").string()));
    if (::geteuid() != 0) GTEST_SKIP() << "a loop device needs root";
    const std::string loopName = (m_dir / "loop").string();
    if (std::system(("losetup -f --show --sector-size 4096 " + image + " >" + loopName +
                     " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "no loop device here (losetup failed)";
    }
    std::string loop;
    std::ifstream(loopName) >> loop;
    struct Detach
    {
        std::string device;
        ~Detach() { [[maybe_unused]] const int r = std::system(("losetup -d " + device).c_str()); }
    } detach{loop};

    EXPECT_TRUE(system.isBlockDevice(loop));
    expectPlaceAsQueried(system, loop);
    expectPlaceAsQueried(system, image);
    EXPECT_EQ(system.fileSize(loop), std::uint64_t{3} << 20);
    ASSERT_TRUE(system.volumeInfo(loop).has_value());
    EXPECT_EQ(system.volumeInfo(loop)->bytesPerSector, 4096u);
    // Not mounted, and not removable: a fixed disk rather than an unknown drive.
    EXPECT_EQ(system.volumeInfo(loop)->driveType, DriveType::Fixed);
    SysError error = 0;
    const std::unique_ptr<File> file = system.openUnbuffered(loop, &error);
    ASSERT_NE(file, nullptr) << std::strerror(error);
    EXPECT_EQ(file->size(), std::int64_t{3} << 20);
    LockedBuffer buffer(8192);
    ASSERT_TRUE(file->seek(1 << 20, Whence::Begin) == 1 << 20);
    ASSERT_EQ(file->read(buffer.data(), 8192).bytes, 8192u);
    EXPECT_EQ(std::memcmp(buffer.data(), m_bytes.data() + (1 << 20), 8192), 0);
    EXPECT_EQ(system.open(loop, Disposition::OpenExisting, Access::Read, &error), nullptr);
    EXPECT_EQ(error, EINVAL);
}

// Only a file system known to keep sizes in 32 bits limits the copy; the test folder's
// and tmpfs do not.
TEST_F(PosixFileSystemTest, OnlyALimitedFileSystemReportsAMaximumFileSize)
{
    PosixFileSystem system;
    EXPECT_FALSE(system.maxFileSize(m_dir.string()).has_value());
    if (fs::exists("/dev/shm")) {
        EXPECT_FALSE(system.maxFileSize("/dev/shm").has_value());
    }
    if (::geteuid() != 0) GTEST_SKIP() << "a FAT mount needs root";
    const std::string image = (m_dir / "fat.img").string();
    const fs::path mountPoint = m_dir / "fat";
    fs::create_directories(mountPoint);
    if (std::system(("command -v mkfs.fat >/dev/null && truncate -s 8M " + image +
                     " && mkfs.fat " + image + " >/dev/null 2>&1 && mount -o loop " + image + " " +
                     mountPoint.string() + " 2>/dev/null")
                        .c_str()) != 0) {
        GTEST_SKIP() << "no FAT here (mkfs.fat from dosfstools, or vfat in the kernel, missing)";
    }
    EXPECT_EQ(system.maxFileSize(mountPoint.string()), std::uint64_t{0xFFFFFFFF});
    [[maybe_unused]] const int r = std::system(("umount " + mountPoint.string()).c_str());
}

// FAT mounted through FUSE has FUSE's magic: only its mountinfo line says it is FAT.
TEST(MountInfo, FatIsKnownByTheMountsTypeOrItsFuseDriver)
{
    const struct
    {
        const char* line;
        const char* type;  // nullptr: the line is not read
        bool fat;
    } cases[] = {
        {"36 25 8:17 / /media/card rw,relatime shared:1 - vfat /dev/sdb1 rw,fmask=0022", "vfat", true},
        {"37 25 8:18 / /mnt/d rw - msdos /dev/sdb2 rw", "msdos", true},
        {"40 25 0:52 / /mnt/f rw,nosuid,nodev - fuse.fusefat /tmp/fat.img rw,user_id=0", "fuse.fusefat", true},
        {"41 25 8:33 / /mnt/g rw - fuseblk.fatfs /dev/sdc1 rw", "fuseblk.fatfs", true},
        {"42 25 0:53 / /mnt/with\\040blank rw master:3 - fuse fusefat rw", "fuse", true},
        {"43 25 8:34 / /mnt/h rw - fuseblk /dev/sdc2 rw,user_id=0", "fuseblk", false},
        {"44 25 0:54 / /mnt/e rw - fuse.exfat-fuse /dev/sdd1 rw", "fuse.exfat-fuse", false},
        {"45 25 0:55 / /mnt/i rw - fuse.sshfs fat@host:/ rw", "fuse.sshfs", false},
        {"46 25 0:56 / /mnt/j rw - fuse.fusefatx /x rw", "fuse.fusefatx", false},
        {"47 25 8:35 / /mnt/k rw - exfat /dev/sde1 rw", "exfat", false},
        {"48 25 8:36 / /mnt/l rw shared:2", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<MountEntry> mount = parseMountInfoLine(c.line);
        ASSERT_EQ(mount.has_value(), c.type != nullptr);
        if (!mount) continue;
        EXPECT_EQ(mount->fsType, c.type);
        EXPECT_EQ(isFatMount(*mount), c.fat);
    }
    EXPECT_EQ(parseMountInfoLine(cases[4].line)->mountPoint, "/mnt/with\\040blank");
    EXPECT_EQ(parseMountInfoLine(cases[2].line)->device, "0:52");
}

TEST(NotReady, OnlyMediumLossErrorsCount)
{
    for (int e : {ENOMEDIUM, ENODEV, ENXIO, ENOTCONN}) EXPECT_TRUE(isNotReady(e)) << e;
    for (int e : {0, EIO, EINVAL, ENOSPC}) EXPECT_FALSE(isNotReady(e)) << e;
}

}  // namespace
}  // namespace tessaly
