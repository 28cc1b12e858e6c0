#pragma once

// Small file system images for the volume tests, built without mounting (mtools for a
// FAT12 floppy, mkfs.ext4 -d), and the checks that a salvage out of one is exact.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/copy_log.h"
#include "engine/plain_file.h"
#include "tests/medium/medium_mount.h"
#include "tests/support/test_folder.h"
#include "volume/volume.h"

namespace tessaly::testing {

using ImageFiles = std::map<std::string, std::string>;  // path inside -> bytes

// Files in folders two deep, one file large enough to reach past the first FAT sector's
// clusters (ZBIG.BIN, written last so that its clusters come last).
inline ImageFiles sampleFiles()
{
    return {{"/B.TXT", MediumMount::patternBytes(5000, 1)},
            {"/DOCS/A.BIN", MediumMount::patternBytes(30000, 2)},
            {"/DOCS/SUB/C.TXT", MediumMount::patternBytes(700, 3)},
            {"/KEEP/D.BIN", MediumMount::patternBytes(20000, 4)},
            {"/KEEP/TINY.TXT", MediumMount::patternBytes(40, 6)},
            {"/ZBIG.BIN", MediumMount::patternBytes(300000, 5)}};
}

// Builds kind ("fat12", "ext4", or "ext4-inline" with small files' data in their inodes)
// holding files at image; an empty string when built,
// else why not (a missing tool: the caller skips).
inline std::string buildImage(const std::string& kind, const ImageFiles& files,
                              const std::filesystem::path& image)
{
    namespace fs = std::filesystem;
    const fs::path tree = image.parent_path() / (image.filename().string() + ".tree");
    for (const auto& [path, bytes] : files) {
        fs::create_directories((tree / path.substr(1)).parent_path());
        std::ofstream(tree / path.substr(1), std::ios::binary) << bytes;
    }
    std::string command;
    if (kind == "fat12") {
        command = "mformat -C -f 1440 -i " + image.string() + " :: && cd " + tree.string() +
                  " && mcopy -s -i " + image.string() + " B.TXT DOCS KEEP ZBIG.BIN ::";
    } else {
        command = "mkfs.ext4 -q -F -b 1024 " +
                  std::string(kind == "ext4-inline" ? "-O inline_data " : "") + "-d " +
                  tree.string() + " " + image.string() + " 4M";
    }
    const std::string tool = kind == "fat12" ? "mformat" : "mkfs.ext4";
    if (runCommand("command -v " + tool + " >/dev/null 2>&1").status != 0) {
        return tool + " is not installed (scripts/setup.sh installs it)";
    }
    if (runCommand("(" + command + ") >/dev/null 2>&1").status != 0) return "cannot build " + kind;
    return {};
}

// Every file and folder of a volume's first file system, by path.
inline std::map<std::string, VolumeFileInfo> walkVolume(Volume& volume)
{
    std::map<std::string, VolumeFileInfo> out;
    const std::atomic<bool> stop{false};
    volume.walk(0, "", {[&](const std::string& p, const VolumeFileInfo& i) { out[p] = i; },
                        [](const std::string&, const std::string&) {}},
                stop);
    return out;
}

// The volume offset of a sector of info's first data run: its first, or the one in its
// middle.
inline std::uint64_t sectorOf(const VolumeFileInfo& info, bool middle)
{
    for (const DataRun& run : info.runs) {
        if (run.kind != RunKind::Data || run.length < 512) continue;
        const std::uint64_t at = run.volumeOffset + (middle ? run.length / 2 : 0);
        return at - at % 512;
    }
    ADD_FAILURE() << "no data run of a sector or more";
    return 0;
}

// A GNU ddrescue mapfile of a volume of size bytes whose sectors at bad are bad.
inline std::string mapfileFor(std::uint64_t size, std::vector<std::uint64_t> bad)
{
    std::sort(bad.begin(), bad.end());
    std::string text = "# test\n0x0 +\n";
    std::uint64_t at = 0;
    const auto block = [&](std::uint64_t pos, std::uint64_t len, char status) {
        if (len > 0) text += std::to_string(pos) + " " + std::to_string(len) + " " + status + "\n";
    };
    for (const std::uint64_t sector : bad) {
        block(at, sector - at, '+');
        block(sector, 512, '-');
        at = sector + 512;
    }
    block(at, size - at, '+');
    return text;
}

// The lines of `tessaly-cli files --csv` by path: bytes unreadable and state.
inline std::map<std::string, std::pair<std::uint64_t, std::string>> parseFilesCsv(
    const std::string& csv)
{
    std::map<std::string, std::pair<std::uint64_t, std::string>> out;
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string each; std::getline(fields, each, ',');) f.push_back(each);
        if (f.size() >= 4) out[f[0]] = {std::stoull(f[2]), f[3]};
    }
    return out;
}

// The bytes of a file's clean runs that lie in the bad sectors.
inline std::uint64_t bytesIn(const VolumeFileInfo& info, const std::vector<std::uint64_t>& bad)
{
    std::uint64_t bytes = 0;
    for (const DataRun& run : info.runs) {
        if (run.kind != RunKind::Data) continue;
        for (const std::uint64_t sector : bad) {
            const std::uint64_t from = std::max(sector, run.volumeOffset);
            const std::uint64_t to = std::min(sector + 512, run.volumeOffset + run.length);
            if (to > from) bytes += to - from;
        }
    }
    return bytes;
}

// The filled regions a copy's log lists (end record left out).
inline std::vector<BadRegion> logRegions(const std::string& logPath)
{
    PlainFile file;
    std::vector<BadRegion> records;
    if (!file.openExisting(logPath, Access::Read)) return records;
    CopyLog log;
    log.bind(&file);
    EXPECT_GE(log.readHeader(), 0) << logPath;
    EXPECT_GE(log.readRegions(records), 0) << logPath;
    std::erase_if(records, [](const BadRegion& r) { return r.length == 0; });
    return records;
}

// Checks each file's copy below out: exact outside the regions its log lists, and its
// log's regions holding filled bytes only where expected says (bytes per path; a path
// missing from expected has none). A file under a folder in unlisted has no copy.
inline void expectExactCopies(const ImageFiles& files, const std::filesystem::path& out,
                              const std::map<std::string, std::uint64_t>& expected,
                              const std::vector<std::string>& unlisted)
{
    for (const auto& [path, bytes] : files) {
        const std::string copy = (out / path.substr(1)).string();
        const bool hidden = std::any_of(unlisted.begin(), unlisted.end(), [&](const auto& f) {
            return path.starts_with(f + "/");
        });
        if (hidden) {
            EXPECT_FALSE(std::filesystem::exists(copy)) << path;
            continue;
        }
        std::string got = readAll(copy);
        ASSERT_EQ(got.size(), bytes.size()) << path;
        std::uint64_t filled = 0;
        std::string want = bytes;
        for (const BadRegion& r : logRegions(copy + ".log")) {
            filled += r.length;
            want.replace(r.offset, r.length, got.substr(r.offset, r.length));
        }
        EXPECT_EQ(got == want, true) << path << " differs outside its log's regions";
        const auto it = expected.find(path);
        EXPECT_EQ(filled, it == expected.end() ? 0 : it->second) << path;
    }
}

}  // namespace tessaly::testing
