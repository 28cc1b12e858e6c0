#pragma once

// Small file system images built without mounting (mtools for FAT12 and FAT32,
// mkfs.ext4 -d, genisoimage, a GUID partition table written here), and what the checks
// of a salvage out of one read, for tests of any framework.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/copy_log.h"
#include "engine/plain_file.h"
#include "tests/medium/medium_mount.h"
#include "volume/volume.h"
#include "volume/volume_listing.h"

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

// The CRC-32 of bytes, as a GUID partition table keeps its checksums.
inline std::uint32_t crc32Of(const std::string& bytes)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
}

// A disk of 512-byte sectors with a GUID partition table (its protective MBR, the table
// at its start and its copy at its end) holding parts, each as a basic data partition
// that starts on a MiB.
inline std::string gptDisk(const std::vector<std::string>& parts)
{
    constexpr std::uint64_t kMiB = 2048;  // sectors
    const auto put = [](std::string& to, std::size_t at, std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) to[at + i] = static_cast<char>(value >> (8 * i));
    };
    std::string entries(128 * 128, '\0');
    std::vector<std::uint64_t> starts;
    std::uint64_t next = kMiB;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::uint64_t sectors = (parts[i].size() + 511) / 512;
        const std::size_t at = i * 128;
        entries.replace(at, 16, "\xA2\xA0\xD0\xEB\xE5\xB9\x33\x44\x87\xC0\x68\xB9\xB4\xD1\xC7\xC7",
                        16);
        put(entries, at + 16, 0x1000 + i, 8);  // the partition's own GUID
        put(entries, at + 32, next, 8);
        put(entries, at + 40, next + sectors - 1, 8);
        starts.push_back(next);
        next += (sectors + kMiB - 1) / kMiB * kMiB;
    }
    const std::uint64_t last = next + kMiB - 1;
    std::string disk((last + 1) * 512, '\0');
    disk.replace(446, 16,
                 std::string("\0\0\x02\0\xEE\xFF\xFF\xFF\x01\0\0\0", 12) + std::string(4, '\0'));
    put(disk, 458, std::min<std::uint64_t>(last, 0xFFFFFFFF), 4);
    disk.replace(510, 2, "\x55\xAA");
    const auto header = [&](std::uint64_t self, std::uint64_t other, std::uint64_t table) {
        std::string h(92, '\0');
        h.replace(0, 8, "EFI PART");
        put(h, 8, 0x00010000, 4);
        put(h, 12, 92, 4);
        put(h, 24, self, 8);
        put(h, 32, other, 8);
        put(h, 40, 34, 8);
        put(h, 48, last - 33, 8);
        put(h, 56, 0x7E55A1, 8);  // the disk's GUID
        put(h, 72, table, 8);
        put(h, 80, 128, 4);
        put(h, 84, 128, 4);
        put(h, 88, crc32Of(entries), 4);
        put(h, 16, crc32Of(h), 4);
        disk.replace(self * 512, 92, h);
        disk.replace(table * 512, entries.size(), entries);
    };
    header(1, last, 2);
    header(last, 1, last - 32);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        disk.replace(starts[i] * 512, parts[i].size(), parts[i]);
    }
    return disk;
}

// The files of the sample image of kind: sampleFiles(), in the first partition ("/p1")
// of a "gpt" disk, whose second holds files of its own.
inline ImageFiles imageFiles(const std::string& kind)
{
    if (kind != "gpt") return sampleFiles();
    ImageFiles files = {{"/p2/E.TXT", MediumMount::patternBytes(3000, 7)},
                        {"/p2/F/G.BIN", MediumMount::patternBytes(9000, 8)}};
    for (const auto& [path, bytes] : sampleFiles()) files["/p1" + path] = bytes;
    return files;
}

// Builds kind holding files at image: "fat12" (a floppy), "fat32" (a card), "ext4",
// "ext4-inline" (small files' data in their inodes), "iso9660", or "gpt" (a disk whose
// partitions p1 and p2 hold a FAT12 and an ext4 file system); "exfat" and "ntfs" need a
// tool that writes files into them without mounting. An empty string when built, else
// why not (a missing tool: the caller skips).
inline std::string buildImage(const std::string& kind, const ImageFiles& files,
                              const std::filesystem::path& image)
{
    namespace fs = std::filesystem;
    if (kind == "gpt") {
        std::vector<std::string> parts;
        for (const auto& [name, type] : {std::pair<std::string, std::string>{"/p1", "fat12"},
                                         std::pair<std::string, std::string>{"/p2", "ext4"}}) {
            ImageFiles inside;
            for (const auto& [path, bytes] : files) {
                if (path.starts_with(name + "/")) inside[path.substr(3)] = bytes;
            }
            const fs::path part = image.string() + name.substr(1);
            if (std::string why = buildImage(type, inside, part); !why.empty()) return why;
            std::ifstream bytes(part, std::ios::binary);
            parts.emplace_back(std::istreambuf_iterator<char>(bytes),
                               std::istreambuf_iterator<char>());
        }
        std::ofstream(image, std::ios::binary | std::ios::trunc) << gptDisk(parts);
        return {};
    }
    const fs::path tree = image.parent_path() / (image.filename().string() + ".tree");
    std::string top;  // the entries of the tree's root, in the order of their names
    for (const auto& [path, bytes] : files) {
        fs::create_directories((tree / path.substr(1)).parent_path());
        std::ofstream(tree / path.substr(1), std::ios::binary) << bytes;
        const std::string name = path.substr(1, path.find('/', 1) - 1);
        if (!top.ends_with(" " + name)) top += " " + name;
    }
    const std::string in = " -i " + image.string();
    std::string tool;
    std::string command;
    if (kind == "fat12" || kind == "fat32") {
        tool = "mformat";
        command = "mformat -C " + std::string(kind == "fat12" ? "-f 1440" : "-F -T 70000 -c 1") +
                  in + " :: && cd " + tree.string() + " && mcopy -s" + in + top + " ::";
    } else if (kind == "iso9660") {
        tool = "genisoimage";
        command = "genisoimage -quiet -o " + image.string() + " " + tree.string();
    } else if (kind == "exfat" || kind == "ntfs") {
        tool = kind == "exfat" ? "mkfs.exfat" : "mkntfs";
        if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) {
            return tool + " is not installed";
        }
        return "no tool writes files into an " + kind + " image without mounting it (" + tool +
               " makes it empty)";
    } else {
        tool = "mkfs.ext4";
        command = "mkfs.ext4 -q -F -b 1024 " +
                  std::string(kind == "ext4-inline" ? "-O inline_data " : "") + "-d " +
                  tree.string() + " " + image.string() + " 4M";
    }
    if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) {
        return tool + " is not installed (scripts/setup.sh installs it)";
    }
    if (std::system(("(" + command + ") >/dev/null 2>&1").c_str()) != 0) return "cannot build " + kind;
    return {};
}

// Every file and folder of a volume, by path as the file list gives it.
inline std::map<std::string, VolumeFileInfo> walkVolume(Volume& volume)
{
    std::map<std::string, VolumeFileInfo> out;
    const std::atomic<bool> stop{false};
    for (std::size_t part = 0; part < volume.parts().size(); ++part) {
        volume.walk(part, partRoot(volume.parts()[part]),
                    {[&](const std::string& p, const VolumeFileInfo& i) { out[p] = i; },
                     [](const std::string&, const std::string&) {}},
                    stop);
    }
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
