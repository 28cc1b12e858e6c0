#include "volume/volume_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sstream>
#include <utility>
#include <vector>

#include "engine/copy_log.h"
#include "engine/destination.h"
#include "engine/plain_file.h"
#include "volume/volume.h"

namespace tessaly {

namespace {

// A mapfile of a disk is a few kilobytes; anything far larger is not one.
constexpr std::int64_t kLongestMapfile = 64 << 20;

// A number as a mapfile writes it: 0x hex, or decimal; no sign, nothing after it.
bool parseMapNumber(const std::string& text, std::uint64_t* value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    *value = parsed;
    return true;
}

VolumeLog fromCopyLog(PlainFile& file, std::uint64_t imageSize)
{
    VolumeLog result;
    CopyLog log;
    log.bind(&file);
    std::vector<BadRegion> records;
    if (log.readHeader() < 0 || log.readRegions(records) < 0) {
        result.error = "the copy log cannot be read";
        return result;
    }
    std::uint64_t reached = 0;
    for (const BadRegion& r : records) {
        if (r.length == 0) {
            reached = r.offset;
            continue;
        }
        if (r.offset > imageSize || r.length > imageSize - r.offset) {
            result.error = "the copy log lists regions beyond the end of the image";
            return result;
        }
        result.unreadable.add(r.offset, r.length);
        reached = std::max(reached, r.offset + r.length);
    }
    if (reached > imageSize) {
        result.error = "the copy log reaches beyond the end of the image";
        return result;
    }
    result.unreadable.add(reached, imageSize - reached);
    return result;
}

}  // namespace

VolumeLog parseRescueMapText(const std::string& text, std::uint64_t imageSize)
{
    VolumeLog result;
    std::istringstream lines(text);
    std::string line;
    bool statusLineSeen = false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> finished;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string w; words >> w;) fields.push_back(w);
        if (fields.empty()) continue;
        const std::string where = "mapfile line " + std::to_string(number) + ": ";
        if (!statusLineSeen) {  // current position, status, and since 1.21 the pass
            std::uint64_t position = 0;
            if (fields.size() < 2 || fields.size() > 3 || !parseMapNumber(fields[0], &position)) {
                result.error = where + "not a status line";
                return result;
            }
            statusLineSeen = true;
            continue;
        }
        std::uint64_t position = 0;
        std::uint64_t size = 0;
        if (fields.size() != 3 || !parseMapNumber(fields[0], &position) ||
            !parseMapNumber(fields[1], &size) || fields[2].size() != 1 ||
            std::string_view("?*/-+").find(fields[2][0]) == std::string_view::npos) {
            result.error = where + "not a block line (position, size, one of ?*/-+)";
            return result;
        }
        if (position > imageSize || size > imageSize - position) {
            result.error = where + "the block lies beyond the end of the image";
            return result;
        }
        if (fields[2][0] == '+') finished.emplace_back(position, size);
    }
    if (!statusLineSeen) {
        result.error = "the mapfile holds no status line";
        return result;
    }
    std::sort(finished.begin(), finished.end());
    std::uint64_t covered = 0;  // everything before it is finished or already in the set
    for (const auto& [position, size] : finished) {
        if (position > covered) result.unreadable.add(covered, position - covered);
        covered = std::max(covered, position + size);
    }
    if (covered < imageSize) result.unreadable.add(covered, imageSize - covered);
    return result;
}

VolumeLog loadVolumeLog(FileSystem& fs, const std::string& path, std::uint64_t imageSize)
{
    PlainFile file(fs);
    if (!file.openExisting(path, Access::Read)) {
        return {{}, "cannot open the log: " + std::string(std::strerror(file.lastError()))};
    }
    char magic[4] = {};
    if (file.read(magic, sizeof magic) == sizeof magic &&
        (std::string_view(magic, 4) == std::string_view("ACL\0", 4) ||
         std::string_view(magic, 4) == "AC64")) {
        file.seek(0, Whence::Begin);
        return fromCopyLog(file, imageSize);
    }
    const std::int64_t size = file.size();
    if (size < 0 || size > kLongestMapfile) return {{}, "the log is neither a copy log nor a mapfile"};
    std::string text(static_cast<std::size_t>(size), '\0');
    file.seek(0, Whence::Begin);
    if (file.read(text.data(), text.size()) != text.size()) return {{}, "cannot read the log"};
    return parseRescueMapText(text, imageSize);
}

std::unique_ptr<Volume> openVolumeWithLog(FileSystem& fs, const std::string& path,
                                          const std::string& logPath, std::string* error,
                                          std::string* usedLog)
{
    usedLog->clear();
    std::string log = logPath;
    if (log.empty() && fs.exists(logPathOf(path))) log = logPathOf(path);
    RegionSet unreadable;
    if (!log.empty()) {
        const std::optional<std::uint64_t> size = fs.fileSize(path);
        if (!size) {
            *error = "cannot open " + path;
            return nullptr;
        }
        VolumeLog loaded = loadVolumeLog(fs, log, *size);
        if (!loaded.ok()) {
            *error = log + ": " + loaded.error;
            return nullptr;
        }
        unreadable = std::move(loaded.unreadable);
        *usedLog = log;
    }
    return Volume::open(fs, path, std::move(unreadable), error);
}

}  // namespace tessaly
