// The salvage of a file of 5 GiB from the simulated damaged medium: the real
// tessaly-cli copies a sparse image with bad sectors on both sides of 4 GiB, its
// wide log maps the filled regions at their 64-bit offsets, and Get from the intact
// image plus Put make the copy equal to the image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/copy_log.h"
#include "engine/region_map.h"
#include "tests/medium/medium_mount.h"
#include "tests/tool/tool_test_support.h"

namespace tessaly {
namespace {

using testing::cliPath;
using testing::readText;
using testing::run;
using testing::TempDir;

constexpr std::uint64_t kGiB = 1ull << 30;
constexpr std::uint64_t kImageSize = 5 * kGiB;
constexpr std::uint64_t kSector = 512;
// Bad sectors: the last 8 below 4 GiB, one 4 KiB past it, 8 at 4.5 GiB.
constexpr std::uint64_t kBelow = 4 * kGiB / kSector - 8;
constexpr std::uint64_t kPast = 4 * kGiB / kSector + 8;
constexpr std::uint64_t kFar = 4 * kGiB / kSector + kGiB / 2 / kSector;

std::uint64_t freeBytes(const std::string& path)
{
    struct statvfs info{};
    if (::statvfs(path.c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string mediumImageProgram()
{
    return std::filesystem::path(MediumMount::programPath()).parent_path() / "tessaly-medium-image";
}

// Where two files first differ, outside the regions given (where the copy must hold
// zeros instead); "" when they agree so. Read in chunks: the files are GiBs long.
std::string compareOutside(const std::string& copyPath, const std::string& imagePath,
                           const std::vector<BadRegion>& zeroed)
{
    const int copy = ::open(copyPath.c_str(), O_RDONLY);
    const int image = ::open(imagePath.c_str(), O_RDONLY);
    std::string result;
    if (copy < 0 || image < 0) result = "cannot open";
    constexpr std::size_t kChunk = 8 << 20;
    std::vector<char> a(kChunk), b(kChunk);
    for (std::uint64_t at = 0; result.empty(); at += kChunk) {
        const ssize_t na = ::pread(copy, a.data(), kChunk, static_cast<off_t>(at));
        const ssize_t nb = ::pread(image, b.data(), kChunk, static_cast<off_t>(at));
        if (na != nb) result = "sizes differ near " + std::to_string(at);
        if (na <= 0) break;
        for (const BadRegion& r : zeroed) {
            for (std::uint64_t i = std::max(r.offset, at); i < r.offset + r.length && i < at + na; ++i) {
                b[i - at] = 0;
            }
        }
        if (std::memcmp(a.data(), b.data(), static_cast<std::size_t>(na)) == 0) continue;
        for (ssize_t i = 0; i < na && result.empty(); ++i) {
            if (a[static_cast<std::size_t>(i)] != b[static_cast<std::size_t>(i)]) {
                result = "differ at " + std::to_string(at + static_cast<std::uint64_t>(i));
            }
        }
    }
    if (copy >= 0) ::close(copy);
    if (image >= 0) ::close(image);
    return result;
}

std::vector<BadRegion> logRegions(const std::string& path, LogForm* form)
{
    PlainFile file;
    CopyLog log;
    std::vector<BadRegion> regions;
    if (!file.openExisting(path, Access::Read)) return regions;
    log.bind(&file);
    EXPECT_GE(log.readHeader(), 0);
    *form = log.form();
    EXPECT_GE(log.readRegions(regions), 0);
    return regions;
}

TEST(WideRoundTrip, AFileOf5GiBIsCopiedMappedAndCompletedByGetAndPut)
{
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "SKIPPED: no /dev/fuse";
    TempDir dir;
    const std::uint64_t available = freeBytes(dir.path());
    if (available < 12 * kGiB) {
        GTEST_SKIP() << "SKIPPED: the copy of 5 GiB needs 12 GiB free in " << dir.path()
                     << ", there are " << available / kGiB << " GiB";
    }
    const auto started = std::chrono::steady_clock::now();
    const std::string errors = " 2>>" + (dir / "stderr.txt");
    const std::string out = dir / "out";
    std::filesystem::create_directory(out);

    MediumMount medium;
    const std::string image = medium.sourceDir() + "/disk/disk.img";
    const std::string map = "sector 512;bad " + std::to_string(kBelow) + "-" +
                            std::to_string(kBelow + 7) + ";bad " + std::to_string(kPast) +
                            ";bad " + std::to_string(kFar) + "-" + std::to_string(kFar + 7);
    ASSERT_EQ(run(mediumImageProgram() + " --sparse --seed 19 --map '" + map + "' " + image +
                  " 5G" + errors),
              0)
        << readText(dir / "stderr.txt");
    TESSALY_MOUNT_OR_SKIP(medium);

    // Damaged: status 1, a copy of the whole size, and a wide log.
    ASSERT_EQ(run(cliPath() + " copy -q --attempts=1 --no-trim " + medium.path("disk/disk.img") +
                  " " + out + " >/dev/null" + errors),
              1)
        << readText(dir / "stderr.txt");
    const std::string copy = out + "/disk.img";
    ASSERT_EQ(std::filesystem::file_size(copy), kImageSize);
    LogForm form = LogForm::Narrow;
    const std::vector<BadRegion> records = logRegions(copy + ".log", &form);
    EXPECT_EQ(form, LogForm::Wide);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), (BadRegion{kImageSize, 0}));
    const std::vector<BadRegion> regions(records.begin(), records.end() - 1);
    // Every bad sector lies in a filled region; the regions stay near them.
    std::uint64_t filled = 0;
    for (const BadRegion& r : regions) filled += r.length;
    EXPECT_GE(filled, 17 * kSector);
    EXPECT_LE(filled, 1024 * 1024);
    for (const std::uint64_t sector : {kBelow, kBelow + 7, kPast, kFar, kFar + 7}) {
        const std::uint64_t at = sector * kSector;
        bool covered = false;
        for (const BadRegion& r : regions) covered = covered || (at >= r.offset && at < r.offset + r.length);
        EXPECT_TRUE(covered) << "sector " << sector;
    }
    EXPECT_EQ(compareOutside(copy, image, regions), "");

    // The map shows the regions at their 64-bit offsets.
    ASSERT_EQ(run(cliPath() + " map " + copy + ".log >" + (dir / "disk.map") + errors), 0)
        << readText(dir / "stderr.txt");
    const std::string mapText = readText(dir / "disk.map");
    // Adjacent records show as one block of bad sectors.
    for (const Region& r : RegionMap(regions)) {
        char line[64];
        std::snprintf(line, sizeof line, "0x%08llX  0x%08llX  -\n",
                      static_cast<unsigned long long>(r.offset),
                      static_cast<unsigned long long>(r.length));
        EXPECT_NE(mapText.find(line), std::string::npos) << line << mapText;
    }
    EXPECT_NE(mapText.find("0x1"), std::string::npos) << mapText;  // offsets past 4 GiB

    // Get from the intact image (the medium's own file), Put into the copy.
    const std::string good = dir / "good";
    std::filesystem::create_directory(good);
    std::filesystem::copy_file(copy + ".log", good + "/disk.img.log");
    ASSERT_EQ(run(cliPath() + " get " + good + "/disk.img.log --data=" + image + errors), 0)
        << readText(dir / "stderr.txt");
    const std::string transfer = image + ".mrd";
    EXPECT_EQ(std::filesystem::file_size(transfer), filled);
    std::filesystem::rename(transfer, copy + ".mrd");
    ASSERT_EQ(run(cliPath() + " put " + copy + ".log" + errors), 0) << readText(dir / "stderr.txt");
    EXPECT_EQ(std::filesystem::file_size(copy), kImageSize);
    EXPECT_EQ(compareOutside(copy, image, {}), "");

    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - started);
    std::printf("[ info ] 5 GiB copy, map, Get and Put in %lld s\n",
                static_cast<long long>(seconds.count()));
}

}  // namespace
}  // namespace tessaly
