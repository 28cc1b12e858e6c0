#pragma once

// The state behind tessaly-medium: a folder tree of image files served read-only,
// each with the damage of its optional IMAGE.map (see sector_map.h). The .map files
// themselves are hidden from the served tree. The control file /.counts (it hides a
// file of that name in the tree's top folder) holds one line per image that has a
// state, sorted by path:
//
//   PATH READS FAILED
//
// PATH begins with '/' and may hold blanks, so readers take the last two fields as
// the numbers. READS counts every read request that reached the medium, FAILED those
// answered with an error. The text is taken when /.counts is opened.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tests/medium/sector_map.h"

namespace tessaly {

inline constexpr const char* kCountsPath = "/.counts";

// The damage and the counters of one image; shared by every open handle of it.
struct ImageState
{
    explicit ImageState(SectorMap map) : sectors(std::move(map)) {}

    std::mutex lock;  // guards everything below
    SectorState sectors;
    std::uint64_t reads = 0;
    std::uint64_t failed = 0;
};

class SimulatedMedium
{
public:
    // Takes sourceDir as the served tree and checks every map in it, so that a
    // mistake in a map stops the mount instead of showing up as odd reads.
    // False with the reason in *error when the folder or a map cannot be used.
    bool load(const std::string& sourceDir, std::string* error);

    // The path in the source tree for a served path; empty when the served path
    // names a hidden .map file.
    std::string backingPath(const std::string& path) const;
    static bool isHidden(const std::string& name);

    // The state of the image at a served path, made on first use from its map.
    // nullptr with *error (an errno) when its map has become unreadable or wrong.
    ImageState* stateFor(const std::string& path, int* error);

    // Serves one read request from the image's backing file fd, after any wait of
    // a slow sector. The bytes read, or a negative errno.
    static int read(ImageState& image, int fd, char* buffer, std::size_t count, off_t offset);

    std::string countsText();

private:
    std::string m_source;
    std::mutex m_lock;  // guards m_images; the states themselves never move
    std::map<std::string, std::unique_ptr<ImageState>> m_images;
};

}  // namespace tessaly
