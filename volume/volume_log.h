#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "volume/region_set.h"

namespace tessaly {

// The regions of an image that hold no data read from its medium, as its log says.
struct VolumeLog
{
    RegionSet unreadable;
    std::string error;  // empty when the log was understood
    bool ok() const { return error.empty(); }
};

// Reads the log of an image of imageSize bytes: a copy log as the copier writes it beside
// each copy (its filled regions, and everything from its end record on, are unreadable),
// or a GNU ddrescue mapfile (every byte outside its finished '+' blocks is unreadable).
// A log that does not fit the image, or cannot be read whole, gives an error: an image
// whose fills would pass for data must not be trusted.
VolumeLog loadVolumeLog(FileSystem& fs, const std::string& path, std::uint64_t imageSize);

// The regions a mapfile's text leaves unread in an image of imageSize bytes; error set
// when a line is malformed or a block lies beyond the image.
VolumeLog parseRescueMapText(const std::string& text, std::uint64_t imageSize);

class Volume;

// Opens the image or device at path with the regions its log lists as unread: those of
// logPath when given, else of the copy log beside the image (path + ".log") when there
// is one. nullptr with the reason in *error; *usedLog names the log taken (empty: none).
std::unique_ptr<Volume> openVolumeWithLog(FileSystem& fs, const std::string& path,
                                          const std::string& logPath, std::string* error,
                                          std::string* usedLog);

}  // namespace tessaly
