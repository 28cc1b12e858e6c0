// The volume layer over a crafted image: its partition table, file systems, folders and
// runs, with one sector of it unreadable. Whatever the image holds, the walk ends, every
// file's runs cover it exactly and lie inside the volume, and reads through the volume's
// FileSystem stay inside the file.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tests/support/scripted_medium.h"
#include "volume/volume.h"
#include "volume/volume_file_system.h"
#include "volume/volume_listing.h"

namespace {

using namespace tessaly;

void checkRuns(const Volume& volume, const VolumeFileInfo& info)
{
    std::uint64_t at = 0;
    for (const DataRun& run : info.runs) {
        FUZZ_CHECK(run.fileOffset == at && run.length > 0);
        if (run.kind == RunKind::Data) {
            FUZZ_CHECK(run.volumeOffset <= volume.size() &&
                       run.length <= volume.size() - run.volumeOffset);
        }
        at += run.length;
    }
    FUZZ_CHECK(at == info.size);
    FUZZ_CHECK(volume.unreadableBytes(info) <= info.size);
}

// Reads the first and the last 64 KiB of a file through the FileSystem over the volume.
// (A damaged folder may name two files alike; the path then leads to one of them.)
void readThrough(VolumeFileSystem& fs, const std::string& path)
{
    SysError error = 0;
    const std::unique_ptr<File> file = fs.openUnbuffered(path, &error);
    if (!file) return;
    const auto size = static_cast<std::uint64_t>(file->size());
    std::vector<char> buffer(65536);
    for (const std::uint64_t from : {std::uint64_t{0}, size > 65536 ? size - 65536 : 0}) {
        file->seek(static_cast<std::int64_t>(from), Whence::Begin);
        const IoResult got = file->read(buffer.data(), buffer.size());
        FUZZ_CHECK(got.bytes <= size - from);
        FUZZ_CHECK(got.bytes > 0 || got.error != 0 || from == size);
    }
}

}  // namespace

// Leaks inside the library on damaged input, which nothing of ours holds: its path lookup
// leaves a folder it opened when the folder fails to read part way (tsk_fs_path2inum);
// its detection of a GUID partition table leaves the partitions of the protective MBR it
// also opened (tsk_vs_dos_open); loading a crafted ext file's extents leaves a block
// buffer (under tsk_fs_file_attr_get; a file we failed to close would still show, as the
// file itself leaks from tsk_fs_file_open_meta). Each costs a few KiB per image at most;
// every other leak still fails the run. The checker walks whole stacks (see
// __asan_default_options) so that these names are seen through the library's frames.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:tsk_fs_path2inum\nleak:tsk_vs_dos_open\nleak:tsk_fs_file_attr_get\n";
}

// Whole stacks for the leak checker, through the library's frames (see above).
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    // The first two bytes name the sector that cannot be read (0xFFFF: none).
    const unsigned badSector = data[0] | (data[1] << 8);
    std::vector<std::uint8_t> image(data + 2, data + size);
    image.resize((image.size() + 511) / 512 * 512);
    testing::ScriptedMedium medium;
    medium.addFile("/v.img", std::move(image));
    if (badSector != 0xFFFF) medium.markBad("/v.img", std::uint64_t{badSector} * 512, 512);

    std::string error;
    const std::unique_ptr<Volume> volume = Volume::open(medium, "/v.img", {}, &error);
    if (!volume) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    VolumeFileSystem fs(medium, *volume, "/v.img");
    const std::atomic<bool> stop{false};
    std::vector<std::string> files;
    for (std::size_t part = 0; part < volume->parts().size(); ++part) {
        volume->walk(part, partRoot(volume->parts()[part]),
                     {[&](const std::string& path, const VolumeFileInfo& info) {
                          if (info.kind == EntryKind::Other) return;
                          checkRuns(*volume, info);
                          if (info.kind == EntryKind::File) files.push_back(path);
                      },
                      [](const std::string&, const std::string& reason) { FUZZ_CHECK(!reason.empty()); }},
                     stop);
        std::vector<FolderEntry> entries;
        fs.listFolder("/v.img" + partRoot(volume->parts()[part]), &entries);
    }
    for (std::size_t i = 0; i < files.size() && i < 16; ++i) {
        readThrough(fs, "/v.img" + files[i]);
    }
    for (const ListedFile& line : listVolumeFiles(*volume, stop)) {
        FUZZ_CHECK(line.unreadable <= line.size);
    }
    return 0;
}
