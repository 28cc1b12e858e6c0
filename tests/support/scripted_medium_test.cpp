#include "tests/support/scripted_medium.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tessaly::testing {
namespace {

TEST(ScriptedMedium, QuotaShortensAndThenRefusesWrites)
{
    ScriptedMedium medium;
    medium.addFile("/disk/old", std::string(600, 'o'));
    medium.setQuota(1000);
    EXPECT_EQ(medium.freeSpace("/disk"), 400u);
    SysError error = 0;
    auto file = medium.open("/disk/new", Disposition::CreateNew, Access::Write, &error);
    ASSERT_NE(file, nullptr);
    const std::string data(300, 'n');
    EXPECT_EQ(file->write(data.data(), 300).bytes, 300u);
    EXPECT_EQ(file->write(data.data(), 300).bytes, 100u);
    const IoResult full = file->write(data.data(), 1);
    EXPECT_EQ(full.bytes, 0u);
    EXPECT_EQ(full.error, ENOSPC);
    EXPECT_EQ(medium.freeSpace("/disk"), 0u);
    // Overwriting inside the file needs no room.
    file->seek(0, Whence::Begin);
    EXPECT_EQ(file->write(data.data(), 300).bytes, 300u);
}

TEST(ScriptedMedium, WeakSectorsRecoverAndRemovalKeepsToItsMedium)
{
    ScriptedMedium medium;
    medium.addFile("/cd/a", std::string(2048, 'a'));
    medium.addFile("/out/b", std::string(512, 'b'));
    medium.markWeak("/cd/a", 512, 512, 2);
    medium.setRemovableMedium("/cd/");
    auto file = medium.openUnbuffered("/cd/a", nullptr);
    ASSERT_NE(file, nullptr);
    char buffer[1024];
    file->seek(512, Whence::Begin);
    EXPECT_EQ(file->read(buffer, 512).error, EIO);
    EXPECT_EQ(file->read(buffer, 1024).error, EIO);
    EXPECT_EQ(file->read(buffer, 512).bytes, 512u);
    EXPECT_EQ(file->read(buffer, 100).error, EINVAL);  // not whole sectors
    EXPECT_EQ(medium.readCount("/cd/a"), 4);

    medium.setRemovalAfter(512);
    EXPECT_EQ(file->read(buffer, 512).bytes, 512u);
    EXPECT_EQ(file->read(buffer, 512).error, ENOMEDIUM);
    EXPECT_EQ(medium.openUnbuffered("/cd/a", nullptr), nullptr);
    auto other = medium.open("/out/b", Disposition::OpenExisting, Access::Read, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->read(buffer, 512).bytes, 512u);
}

// As the system's: one holder at a time, until it closes its file.
TEST(ScriptedMedium, ALockIsHeldByOneOpenFileUntilItCloses)
{
    ScriptedMedium medium;
    medium.addFile("/out/a", std::string(10, 'a'));
    auto first = medium.open("/out/a", Disposition::OpenExisting, Access::Write, nullptr);
    auto second = medium.open("/out/a", Disposition::OpenExisting, Access::Write, nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->tryLock());
    EXPECT_TRUE(first->tryLock());
    EXPECT_FALSE(second->tryLock());
    first.reset();
    EXPECT_TRUE(second->tryLock());
}

// The links behave as the system's do (see PosixFileSystemTest), so that engine
// tests over the medium mean the same as over real files.
TEST(ScriptedMedium, LinksAreFollowedByReadsAndRefusedByWrites)
{
    ScriptedMedium medium;
    medium.addFile("/real/f", "target");
    medium.addSymlink("/out/file", "/real/f");
    medium.addSymlink("/out/folder", "/real");
    medium.addSymlink("/out/dangling", "/real/none");
    SysError error = 0;
    EXPECT_EQ(medium.open("/out/file", Disposition::OpenAlways, Access::Write, &error), nullptr);
    EXPECT_EQ(error, ELOOP);
    EXPECT_EQ(medium.open("/out/dangling", Disposition::CreateNew, Access::Write, &error), nullptr);
    EXPECT_EQ(error, EEXIST);
    EXPECT_FALSE(medium.exists("/real/none"));
    EXPECT_NE(medium.open("/out/file", Disposition::OpenExisting, Access::Read, &error), nullptr);
    EXPECT_EQ(medium.identity("/out/file"), medium.identity("/real/f"));
    // Folders along the way are followed, by writes too.
    auto made = medium.open("/out/folder/g", Disposition::CreateNew, Access::Write, &error);
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(medium.hasFile("/real/g"));
    EXPECT_TRUE(medium.isSymlink("/out/folder"));
    EXPECT_TRUE(medium.isSymlink("/out/dangling"));
    EXPECT_FALSE(medium.isSymlink("/out/folder/g"));
    EXPECT_FALSE(medium.createDirectory("/out/folder"));
    EXPECT_TRUE(medium.removeFile("/out/file"));
    EXPECT_EQ(medium.text("/real/f"), "target");
}

TEST(ScriptedMedium, FoldedCaseReachesOneFileAndListsItsFirstSpelling)
{
    ScriptedMedium medium;
    medium.setFoldCase(true);
    medium.addFile("/Out/Data.img", "a");
    SysError error = 0;
    EXPECT_EQ(medium.open("/out/DATA.IMG", Disposition::CreateNew, Access::Write, &error), nullptr);
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(medium.identity("/OUT/data.img"), medium.identity("/Out/Data.img"));
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(medium.listFolder("/out", &entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "Data.img");
}

}  // namespace
}  // namespace tessaly::testing
