#pragma once

// Small file system images built without mounting (mtools for a FAT12 floppy,
// mkfs.ext4 -d), and what the checks of a salvage out of one read, for tests of any
// framework.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/copy_log.h"
#include "engine/plain_file.h"
#include "tests/medium/medium_mount.h"
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
    if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) {
        return tool + " is not installed (scripts/setup.sh installs it)";
    }
    if (std::system(("(" + command + ") >/dev/null 2>&1").c_str()) != 0) return "cannot build " + kind;
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

// The filled regions a copy's log lists (end record left out); none without a log,
// nullopt when the log cannot be read.
inline std::optional<std::vector<BadRegion>> readLogRegions(const std::string& logPath)
{
    PlainFile file;
    std::vector<BadRegion> records;
    if (!file.openExisting(logPath, Access::Read)) return records;
    CopyLog log;
    log.bind(&file);
    if (log.readHeader() < 0 || log.readRegions(records) < 0) return std::nullopt;
    std::erase_if(records, [](const BadRegion& r) { return r.length == 0; });
    return records;
}

}  // namespace tessaly::testing
