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

}  // namespace
}  // namespace tessaly::testing
