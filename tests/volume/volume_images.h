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
#include "tests/volume/volume_image_files.h"
#include "volume/volume.h"
#include "volume/volume_tree.h"

namespace tessaly::testing {

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

// The filled regions a copy's log lists (end record left out); none without a log.
inline std::vector<BadRegion> logRegions(const std::string& logPath)
{
    const std::optional<std::vector<BadRegion>> regions = readLogRegions(logPath);
    EXPECT_TRUE(regions.has_value()) << logPath;
    return regions.value_or(std::vector<BadRegion>{});
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

// The entries of a tree's folder, or its top, as "NAME SIZE" for a file, "NAME/" for a
// folder, and "!" after what cannot be picked.
inline std::vector<std::string> treeNames(const std::vector<VolumeTreeEntry>& entries)
{
    std::vector<std::string> names;
    for (const VolumeTreeEntry& e : entries) {
        names.push_back(e.name + (e.folder ? "/" : " " + std::to_string(e.size)) +
                        (e.problem == TreeProblem::None ? "" : "!"));
    }
    return names;
}

}  // namespace tessaly::testing
