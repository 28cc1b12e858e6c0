#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/copy_log.h"
#include "tests/support/test_folder.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class CopyLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = tessaly::testing::freshTestFolder("tessaly-log");
        m_path = (m_folder / "copy.log").string();
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string bytes() const
    {
        std::ifstream in(m_path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void writeBytes(const std::string& content) const
    {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << content;
    }
    void openLog()
    {
        ASSERT_TRUE(m_file.openExisting(m_path, Access::ReadWrite));
        m_log.bind(&m_file);
    }

    fs::path m_folder;
    std::string m_path;
    PlainFile m_file;
    CopyLog m_log;
};

TEST_F(CopyLogTest, WritesHeaderRecordsAndEndRecordByteForByte)
{
    ASSERT_TRUE(m_file.create(m_path, Disposition::CreateAlways, Access::ReadWrite));
    m_log.bind(&m_file);
    ASSERT_TRUE(m_log.writeHeader("report.doc", 3));
    EXPECT_EQ(m_log.appendRecord(0x01020304, 512), 8u);
    EXPECT_EQ(m_log.appendRecord(81920, 0), 8u);
    m_file.close();

    const std::string expected = std::string("ACL\0\0\0\0\0\3\0\0\0\x0a\0report.doc", 24) +
                                 std::string("\x04\x03\x02\x01\x00\x02\x00\x00", 8) +
                                 std::string("\x00\x40\x01\x00\x00\x00\x00\x00", 8);
    EXPECT_EQ(bytes(), expected);
}

TEST_F(CopyLogTest, ContinuedLogLosesItsEndRecordAndKeepsItsRegions)
{
    ASSERT_TRUE(m_file.create(m_path, Disposition::CreateAlways, Access::ReadWrite));
    m_log.bind(&m_file);
    m_log.writeHeader("a.bin", 0);
    m_log.appendRecord(1024, 512);
    m_log.appendRecord(4096, 2048);
    m_log.appendRecord(81920, 0);

    EXPECT_EQ(m_log.readHeader(), 0);
    EXPECT_EQ(m_log.readEndPosition(), 81920);
    m_log.dropEndRecord();
    std::vector<BadRegion> regions;
    EXPECT_EQ(m_log.readRegions(regions), 2560);
    EXPECT_EQ(regions, (std::vector<BadRegion>{{1024, 512}, {4096, 2048}}));
    // New records follow the old ones.
    m_log.appendRecord(90000, 0);
    EXPECT_EQ(m_log.readEndPosition(), 90000);
    EXPECT_EQ(m_file.size(), 14 + 5 + 3 * 8);
}

TEST_F(CopyLogTest, UnusableLogsAreRecognised)
{
    // Wrong magic.
    writeBytes(std::string("ACX\0\0\0\0\0\0\0\0\0\1\0a", 15) + std::string(8, '\0'));
    openLog();
    EXPECT_EQ(m_log.readHeader(), -1);

    // A last record that is a region: the run never ended.
    writeBytes(std::string("ACL\0\0\0\0\0\0\0\0\0\1\0a", 15) +
               std::string("\0\4\0\0\0\2\0\0", 8));
    openLog();
    EXPECT_EQ(m_log.readHeader(), 0);
    EXPECT_EQ(m_log.readEndPosition(), -1);

    // Header only, no record at all.
    writeBytes(std::string("ACL\0\0\0\0\0\0\0\0\0", 12));
    openLog();
    EXPECT_EQ(m_log.readEndPosition(), -1);

    // Name length 0, and a name that is cut short.
    std::vector<BadRegion> regions;
    writeBytes(std::string("ACL\0\0\0\0\0\0\0\0\0\0\0", 14) + std::string(8, '\0'));
    openLog();
    EXPECT_EQ(m_log.readRegions(regions), -1);
    writeBytes(std::string("ACL\0\0\0\0\0\0\0\0\0\x20\0abc", 17));
    openLog();
    EXPECT_EQ(m_log.readRegions(regions), -1);
    EXPECT_TRUE(regions.empty());
}

TEST_F(CopyLogTest, IncompleteLastRecordIsNotTaken)
{
    writeBytes(std::string("ACL\0\0\0\0\0\0\0\0\0\1\0a", 15) +
               std::string("\0\2\0\0\0\2\0\0", 8) + std::string("\0\4\0", 3));
    openLog();
    std::vector<BadRegion> regions;
    EXPECT_EQ(m_log.readRegions(regions), 512);
    EXPECT_EQ(regions, (std::vector<BadRegion>{{512, 512}}));
}

TEST(PlainFile, CloseOnAClosedFileChangesNothing)
{
    PlainFile file;
    EXPECT_FALSE(file.close());
    EXPECT_EQ(file.read(nullptr, 0), 0u);
    EXPECT_FALSE(file.openExisting("/nonexistent/tessaly/file", Access::Read));
    EXPECT_EQ(file.path(), "/nonexistent/tessaly/file");
    EXPECT_FALSE(file.close());
}

}  // namespace
}  // namespace tessaly
