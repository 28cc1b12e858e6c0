// Files out of a damaged disk that is not mounted: served by the simulated medium with
// bad sectors in a file's data, in a folder and in the allocation table, copied straight
// from it, and imaged first and then listed and copied out of the image with its log.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tool/tool_test_support.h"
#include "tests/volume/volume_images.h"

namespace tessaly::testing {
namespace {

namespace fs = std::filesystem;

struct Damage
{
    const char* kind;
    bool inTable;  // a sector of the allocation table instead of a file's and a folder's
};

void PrintTo(const Damage& damage, std::ostream* out)
{
    *out << damage.kind << (damage.inTable ? ", table" : ", data and folder");
}

class VolumeSystemTest : public ::testing::TestWithParam<Damage>
{
};

TEST_P(VolumeSystemTest, FilesComeOutExactOutsideTheirLogs)
{
    const fs::path dir = freshTestFolder("volume-system");
    const ImageFiles files = imageFiles(GetParam().kind);
    const std::string at = std::string(GetParam().kind) == "gpt" ? "/p1" : "";  // sampleFiles()'
    const fs::path image = dir / "disk.img";
    const std::string missing = buildImage(GetParam().kind, files, image);
    if (!missing.empty()) GTEST_SKIP() << "SKIPPED: " << missing;
    std::string error;
    const std::unique_ptr<Volume> clean = Volume::open(systemFileSystem(), image, {}, &error);
    ASSERT_TRUE(clean) << error;
    std::map<std::string, VolumeFileInfo> tree = walkVolume(*clean);
    // The second sector of the first FAT holds the entries of ZBIG.BIN's later clusters.
    const std::vector<std::uint64_t> bad =
        GetParam().inTable ? std::vector<std::uint64_t>{1024}
                           : std::vector<std::uint64_t>{sectorOf(tree[at + "/DOCS/A.BIN"], true),
                                                        sectorOf(tree[at + "/DOCS/SUB"], false)};
    std::string map;
    for (const std::uint64_t sector : bad) map += "bad " + std::to_string(sector / 512) + "\n";
    MediumMount medium;
    ASSERT_TRUE(medium.addImage("disk.img", readAll(image.string()), map));
    TESSALY_MOUNT_OR_SKIP(medium);

    // Imaged first: the image's log lists the bad sectors, and the list follows it.
    fs::create_directories(dir / "imaged");
    ASSERT_EQ(run(cliPath() + " copy -q " + medium.path("disk.img") + " " + dir.string() +
                  "/imaged"),
              1);
    const CommandResult listed =
        runCommand(cliPath() + " files --csv " + dir.string() + "/imaged/disk.img");
    EXPECT_EQ(listed.status, 1);
    const auto lines = parseFilesCsv(listed.out);
    std::map<std::string, std::uint64_t> fills;
    std::vector<std::string> unlisted;
    for (const auto& [path, line] : lines) {
        if (line.second == "not listed") unlisted.push_back(path);
        if (line.second == "damaged") fills[path] = line.first;
    }
    for (const auto& [path, bytes] : files) {  // each file is listed, or its folder is said
        const bool hidden = std::any_of(unlisted.begin(), unlisted.end(),
                                        [&](const auto& f) { return path.starts_with(f + "/"); });
        EXPECT_TRUE(hidden || lines.count(path) == 1) << path << " went missing unsaid";
        if (!GetParam().inTable && !hidden) {
            EXPECT_EQ(lines.at(path).first, bytesIn(tree[path], bad)) << path;
        }
    }
    if (GetParam().inTable) {
        EXPECT_EQ(fills["/ZBIG.BIN"], files.at("/ZBIG.BIN").size());
    } else {
        EXPECT_EQ(unlisted, std::vector<std::string>{at + "/DOCS/SUB"});
        EXPECT_EQ(fills.size(), 1u);
    }

    // Out of the image with its log, and straight from the damaged medium: the same files,
    // each exact outside its log's regions, and those regions the bytes the list names.
    for (const std::string& from : {dir.string() + "/imaged/disk.img", medium.path("disk.img")}) {
        const fs::path out = dir / (from == medium.path("disk.img") ? "direct" : "fromimage");
        fs::create_directories(out);
        EXPECT_EQ(run(cliPath() + " copy -q --volume=" + from + " " + out.string()),
                  unlisted.empty() ? 1 : 2)
            << from;
        expectExactCopies(files, out, fills, unlisted);
    }
    medium.unmount();
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Disks, VolumeSystemTest,
                         ::testing::Values(Damage{"fat12", false}, Damage{"fat32", false},
                                           Damage{"ext4", false}, Damage{"gpt", false},
                                           Damage{"fat12", true}),
                         [](const auto& row) {
                             return std::string(row.param.kind) +
                                    (row.param.inTable ? "_table" : "_data_and_folder");
                         });

}  // namespace
}  // namespace tessaly::testing
