// The platform layer over the simulated damaged medium: real EIO and ENOMEDIUM
// through the kernel, with O_DIRECT and with the fallback that drops cached pages.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/locked_buffer.h"
#include "platform/posix_file_system.h"
#include "tests/medium/medium_mount.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSector = 512;

class MediumSystemTest : public ::testing::TestWithParam<bool>
{
protected:
    bool refuseDirectIo() const { return GetParam(); }

    std::unique_ptr<File> openOnMedium(const std::string& relativePath)
    {
        SysError error = -1;
        auto file = m_system.openUnbuffered(m_medium.path(relativePath), &error);
        EXPECT_NE(file, nullptr) << std::strerror(error);
        if (file) {
            EXPECT_EQ(usesDirectIo(*file), !refuseDirectIo());
        }
        return file;
    }

    // Reads count bytes at offset; checks them against the image when it succeeds.
    IoResult readAt(File& file, std::uint64_t offset, std::size_t count, const std::string& image)
    {
        EXPECT_EQ(file.seek(static_cast<std::int64_t>(offset), Whence::Begin),
                  static_cast<std::int64_t>(offset));
        LockedBuffer buffer(count);
        const IoResult result = file.read(buffer.data(), count);
        if (result.bytes > 0) {
            EXPECT_EQ(std::memcmp(buffer.data(), image.data() + offset, result.bytes), 0)
                << "bytes differ from the image at " << offset;
        }
        return result;
    }

    MediumMount m_medium;
    PosixFileSystem m_system{PosixFileSystem::Options{GetParam()}};
};

TEST_P(MediumSystemTest, GoodSectorsReadBackAsTheImageAndEveryReadIsCounted)
{
    const std::string image = MediumMount::patternBytes(64 * 1024 + 3 * kSector, 7);
    m_medium.addImage("disk/good.bin", image, "# nothing wrong\n");
    TESSALY_MOUNT_OR_SKIP(m_medium);

    auto file = openOnMedium("disk/good.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size(), static_cast<std::int64_t>(image.size()));
    constexpr std::size_t kChunk = 16 * 1024;
    std::uint64_t offset = 0;
    int reads = 0;
    while (offset < image.size()) {
        const std::size_t want = std::min<std::size_t>(kChunk, image.size() - offset);
        const IoResult r = readAt(*file, offset, want, image);
        ASSERT_EQ(r.bytes, want) << std::strerror(r.error);
        offset += r.bytes;
        ++reads;
    }
    // Reading the same place again reaches the medium again: nothing is cached.
    ASSERT_EQ(readAt(*file, 0, kSector, image).bytes, kSector);
    ++reads;
    EXPECT_EQ(m_medium.counts().at("/disk/good.bin"),
              (ReadCounts{static_cast<std::uint64_t>(reads), 0}));
}

TEST_P(MediumSystemTest, ABadSectorFailsTheReadWithEioAndLeavesThePointer)
{
    const std::string image = MediumMount::patternBytes(16 * kSector, 3);
    m_medium.addImage("bad.bin", image, "bad 5\n");
    TESSALY_MOUNT_OR_SKIP(m_medium);

    auto file = openOnMedium("bad.bin");
    ASSERT_NE(file, nullptr);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const IoResult r = readAt(*file, 4 * kSector, 2 * kSector, image);
        EXPECT_EQ(r.bytes, 0u);
        EXPECT_EQ(r.error, EIO) << std::strerror(r.error);
        EXPECT_FALSE(isNotReady(r.error));
        EXPECT_EQ(file->offset(), static_cast<std::int64_t>(4 * kSector));
    }
    // The sector on each side still reads.
    EXPECT_EQ(readAt(*file, 4 * kSector, kSector, image).bytes, kSector);
    EXPECT_EQ(readAt(*file, 6 * kSector, kSector, image).bytes, kSector);
    EXPECT_EQ(m_medium.counts().at("/bad.bin"), (ReadCounts{5, 3}));
}

TEST_P(MediumSystemTest, AWeakSectorReadsOnTheTryAfterItsFailures)
{
    const std::string image = MediumMount::patternBytes(8 * kSector, 5);
    m_medium.addImage("weak.bin", image, "weak 2 3\n");
    TESSALY_MOUNT_OR_SKIP(m_medium);

    auto file = openOnMedium("weak.bin");
    ASSERT_NE(file, nullptr);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        const IoResult r = readAt(*file, 2 * kSector, kSector, image);
        EXPECT_EQ(r.bytes, 0u);
        EXPECT_EQ(r.error, EIO);
    }
    // Each try reached the medium; had a cache answered, the failures would not count.
    EXPECT_EQ(m_medium.counts().at("/weak.bin"), (ReadCounts{3, 3}));
    EXPECT_EQ(readAt(*file, 2 * kSector, kSector, image).bytes, kSector);
    EXPECT_EQ(m_medium.counts().at("/weak.bin"), (ReadCounts{4, 3}));
}

TEST_P(MediumSystemTest, ARemovedMediumAnswersEveryReadWithNotReady)
{
    const std::string image = MediumMount::patternBytes(16 * kSector, 9);
    m_medium.addImage("gone.bin", image, "remove-after 2560\n");
    TESSALY_MOUNT_OR_SKIP(m_medium);

    auto file = openOnMedium("gone.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(readAt(*file, 0, 2 * kSector, image).bytes, 2 * kSector);
    // The medium fails after some bytes have arrived: the read gives those bytes.
    EXPECT_EQ(readAt(*file, 2 * kSector, 4 * kSector, image).bytes, 3 * kSector);
    for (std::uint64_t offset : {5 * kSector, 0 * kSector}) {
        const IoResult r = readAt(*file, offset, kSector, image);
        EXPECT_EQ(r.bytes, 0u);
        EXPECT_EQ(r.error, ENOMEDIUM) << std::strerror(r.error);
        EXPECT_TRUE(isNotReady(r.error));
    }
    // The short read asked twice; the second ask met the removal.
    EXPECT_EQ(m_medium.counts().at("/gone.bin"), (ReadCounts{5, 3}));
}

TEST_P(MediumSystemTest, SlowSectorsStillGiveTheirBytes)
{
    const std::string image = MediumMount::patternBytes(8 * kSector, 11);
    m_medium.addImage("slow.bin", image, "slow 1-2 20\n");
    TESSALY_MOUNT_OR_SKIP(m_medium, true);

    auto file = openOnMedium("slow.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(readAt(*file, 0, image.size(), image).bytes, image.size());
}

INSTANTIATE_TEST_SUITE_P(DirectAndFallback, MediumSystemTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "DirectIoRefused" : "DirectIo";
                         });

TEST(MediumTreeTest, ServesTheTreeReadOnlyWithItsMapsHidden)
{
    MediumMount medium;
    medium.addImage("a.bin", MediumMount::patternBytes(kSector), "bad 0\n");
    medium.addImage("sub/b.bin", MediumMount::patternBytes(kSector));
    TESSALY_MOUNT_OR_SKIP(medium);

    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(medium.mountPoint())) {
        names.insert(fs::relative(entry.path(), medium.mountPoint()).string());
    }
    EXPECT_EQ(names, (std::set<std::string>{".counts", "a.bin", "sub", "sub/b.bin"}));
    EXPECT_FALSE(fs::exists(medium.path("a.bin.map")));

    const int fd = ::open(medium.path("a.bin").c_str(), O_RDWR);
    EXPECT_LT(fd, 0);
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(errno, EROFS);

    // An image added after the mount is served with its map.
    medium.addImage("late.bin", MediumMount::patternBytes(2 * kSector), "bad 1\n");
    PosixFileSystem system;
    SysError error = 0;
    auto late = system.openUnbuffered(medium.path("late.bin"), &error);
    ASSERT_NE(late, nullptr) << std::strerror(error);
    LockedBuffer buffer(2 * kSector);
    EXPECT_EQ(late->read(buffer.data(), 2 * kSector).error, EIO);
    EXPECT_EQ(medium.counts().at("/late.bin"), (ReadCounts{1, 1}));
}

TEST(MediumTreeTest, AWrongMapStopsTheMountAndSaysWhere)
{
    MediumMount medium;
    medium.addImage("a.bin", MediumMount::patternBytes(kSector), "bad 1\nweak 3\n");
    const auto result = medium.mount();
    if (result.outcome == MediumMount::Outcome::Unavailable) {
        GTEST_SKIP() << "SKIPPED: " << result.reason;
    }
    EXPECT_EQ(result.outcome, MediumMount::Outcome::Failed);
    EXPECT_NE(result.reason.find("a.bin.map: line 2"), std::string::npos) << result.reason;
    EXPECT_FALSE(medium.mounted());
}

TEST(MediumTreeTest, UnmountingEndsTheMedium)
{
    std::string mountPoint;
    {
        MediumMount medium;
        medium.addImage("a.bin", MediumMount::patternBytes(kSector));
        TESSALY_MOUNT_OR_SKIP(medium);
        mountPoint = medium.mountPoint();
        // A file left open does not keep the mount alive past the fixture.
        const int fd = ::open(medium.path("a.bin").c_str(), O_RDONLY);
        EXPECT_GE(fd, 0);
        medium.unmount();
        EXPECT_FALSE(medium.mounted());
        if (fd >= 0) ::close(fd);
    }
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(line.find(mountPoint), std::string::npos) << line;
    }
    EXPECT_FALSE(fs::exists(mountPoint));
}

}  // namespace
}  // namespace tessaly
