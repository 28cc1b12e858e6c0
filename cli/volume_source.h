#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "run/copy_list.h"
#include "volume/volume_file_system.h"

namespace tessaly::cli {

// The list of a copy out of a volume: each path inside it (a file, or a folder with
// everything below it; none: its root) as a file of fs, all under the volume's root as
// base folder, so that each copy keeps its folders below the output folder.
CopyList buildVolumeCopyList(VolumeFileSystem& fs, const std::vector<std::string>& paths,
                             const std::atomic<bool>& stop);

}  // namespace tessaly::cli
