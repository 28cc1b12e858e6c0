#include "tests/medium/simulated_medium.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Reads the map beside a backing image; an empty map when there is none.
std::optional<SectorMap> loadMap(const std::string& image, std::string* error)
{
    const std::string mapPath = image + ".map";
    std::ifstream in(mapPath, std::ios::binary);
    if (!in) {
        if (fs::exists(mapPath)) {
            *error = mapPath + ": cannot be read";
            return std::nullopt;
        }
        return SectorMap{};
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string why;
    auto map = parseSectorMap(text.str(), &why);
    if (!map) *error = mapPath + ": " + why;
    return map;
}

}  // namespace

bool SimulatedMedium::isHidden(const std::string& name)
{
    return name.size() > 4 && name.ends_with(".map");
}

bool SimulatedMedium::load(const std::string& sourceDir, std::string* error)
{
    std::error_code ec;
    if (!fs::is_directory(sourceDir, ec)) {
        *error = sourceDir + ": not a folder";
        return false;
    }
    m_source = fs::absolute(sourceDir, ec).lexically_normal().string();
    while (m_source.size() > 1 && m_source.back() == '/') m_source.pop_back();
    for (auto it = fs::recursive_directory_iterator(m_source, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec) || isHidden(it->path().filename().string())) continue;
        auto map = loadMap(it->path().string(), error);
        if (!map) return false;
        const std::string served = "/" + fs::relative(it->path(), m_source, ec).string();
        m_images[served] = std::make_unique<ImageState>(std::move(*map));
    }
    if (ec) {
        *error = sourceDir + ": " + ec.message();
        return false;
    }
    return true;
}

std::string SimulatedMedium::backingPath(const std::string& path) const
{
    if (isHidden(fs::path(path).filename().string())) return {};
    return path == "/" ? m_source : m_source + path;
}

ImageState* SimulatedMedium::stateFor(const std::string& path, int* error)
{
    std::lock_guard guard(m_lock);
    auto found = m_images.find(path);
    if (found != m_images.end()) return found->second.get();
    // An image added to the tree after the mount.
    std::string why;
    auto map = loadMap(backingPath(path), &why);
    if (!map) {
        *error = EIO;
        return nullptr;
    }
    auto& slot = m_images[path];
    slot = std::make_unique<ImageState>(std::move(*map));
    return slot.get();
}

int SimulatedMedium::read(ImageState& image, int fd, char* buffer, std::size_t count, off_t offset)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0) return -errno;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const auto start = static_cast<std::uint64_t>(offset);
    if (start < size && count > 0) {
        // The map does not change after loading, so the wait needs no lock and
        // does not hold up the reads of other files.
        const SectorMap& map = image.sectors.map();
        const std::uint64_t end = std::min<std::uint64_t>(start + count, size);
        const std::uint32_t delay =
            map.delayFor(start / map.sectorSize, (end - 1) / map.sectorSize);
        if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    ReadDecision decision;
    {
        std::lock_guard guard(image.lock);
        ++image.reads;
        decision = image.sectors.read(start, count, size);
        if (decision.error != 0) {
            ++image.failed;
            return -decision.error;
        }
    }
    std::size_t done = 0;
    while (done < decision.bytes) {
        const ssize_t r =
            ::pread(fd, buffer + done, decision.bytes - done, offset + static_cast<off_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<std::size_t>(r);
    }
    if (done == 0 && decision.bytes > 0) {
        std::lock_guard guard(image.lock);
        ++image.failed;
        return -EIO;
    }
    return static_cast<int>(done);
}

std::string SimulatedMedium::countsText()
{
    std::lock_guard guard(m_lock);
    std::string text;
    for (const auto& [path, image] : m_images) {
        std::lock_guard imageGuard(image->lock);
        text +=
            path + " " + std::to_string(image->reads) + " " + std::to_string(image->failed) + "\n";
    }
    return text;
}

}  // namespace tessaly
