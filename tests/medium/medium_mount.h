#pragma once

// A simulated damaged medium for system tests: a temporary source folder of images
// and their maps, served by tessaly-medium at a temporary mount point. The mount
// ends with the object, also when a test fails or throws; should the test process
// die instead, tessaly-medium unmounts itself when its parent ends (so mount from
// the thread that lives for the whole test, as a plain test body does).
//
//   MediumMount medium;
//   medium.addImage("disk/a.bin", bytes, "bad 3\nweak 5 2\n");
//   TESSALY_MOUNT_OR_SKIP(medium);
//   ... read medium.path("disk/a.bin") ...
//   EXPECT_EQ(medium.counts().at("/disk/a.bin").reads, 4u);

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessaly {

struct ReadCounts
{
    std::uint64_t reads = 0;
    std::uint64_t failed = 0;
    bool operator==(const ReadCounts&) const = default;
};

class MediumMount
{
public:
    enum class Outcome
    {
        Mounted,
        Unavailable,  // no FUSE here, or the system refused the mount: skip
        Failed        // the medium itself failed (a bad map, a missing program)
    };
    struct MountResult
    {
        Outcome outcome = Outcome::Failed;
        std::string reason;  // empty when mounted
    };

    // Creates the temporary folders; nothing is mounted yet.
    MediumMount();
    ~MediumMount();
    MediumMount(const MediumMount&) = delete;
    MediumMount& operator=(const MediumMount&) = delete;

    // Writes an image (and its map, when map is not empty) below the source folder,
    // creating the folders of relativePath. Images may be added after the mount.
    void addImage(const std::string& relativePath, const std::string& bytes,
                  const std::string& map = {});
    // Writes a map alone, e.g. to check that a wrong one stops the mount.
    void addMap(const std::string& relativeImagePath, const std::string& map);

    // Starts tessaly-medium and waits until the mount is live (at most about 10 s).
    // singleThreaded runs the medium with -s.
    MountResult mount(bool singleThreaded = false);
    // Unmounts and ends the medium; harmless when nothing is mounted.
    void unmount();
    bool mounted() const { return m_child > 0; }

    // The served path of a relative path, below the mount point.
    std::string path(const std::string& relativePath) const;
    const std::string& sourceDir() const { return m_source; }
    const std::string& mountPoint() const { return m_mountPoint; }
    // The counters of /.counts by served path ("/disk/a.bin"); empty when unreadable.
    std::map<std::string, ReadCounts> counts() const;
    // What tessaly-medium wrote to its standard error so far.
    std::string log() const;

    // Bytes that differ from sector to sector and from seed to seed.
    static std::string patternBytes(std::size_t size, std::uint32_t seed = 1);
    // The tessaly-medium program to run.
    static std::string programPath();

private:
    bool isMountedNow() const;
    bool waitForExit(int timeoutMs);

    std::string m_top;         // the temporary folder, removed at the end
    std::string m_source;      // m_top/source
    std::string m_mountPoint;  // m_top/mnt
    pid_t m_child = -1;
};

}  // namespace tessaly

// Mounts medium in a GoogleTest body: skips the test with a message that starts
// with "SKIPPED:" when FUSE is not available here, and fails it when the medium
// itself could not be served.
#define TESSALY_MOUNT_OR_SKIP(medium, ...)                                                \
    do {                                                                                  \
        const auto tessalyMountResult = (medium).mount(__VA_ARGS__);                      \
        if (tessalyMountResult.outcome == ::tessaly::MediumMount::Outcome::Unavailable) { \
            GTEST_SKIP() << "SKIPPED: " << tessalyMountResult.reason;                     \
        }                                                                                 \
        ASSERT_EQ(tessalyMountResult.outcome, ::tessaly::MediumMount::Outcome::Mounted)   \
            << tessalyMountResult.reason;                                                 \
    } while (false)
