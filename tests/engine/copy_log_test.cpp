#include "engine/copy_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/log_bytes.h"
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

// The wide form: "AC64", the same reserved bytes, fill type and name, then records of
// two 64-bit little-endian numbers.
std::string wideHeader(const std::string& name, char fill = 0)
{
    return std::string("AC64\0\0\0\0", 8) + std::string(1, fill) + std::string(3, '\0') +
           std::string(1, static_cast<char>(name.size())) + std::string(1, '\0') + name;
}

std::string wideRecord(std::uint64_t offset, std::uint64_t length)
{
    std::string out;
    for (const std::uint64_t value : {offset, length}) {
        for (int i = 0; i < 8; ++i) out += static_cast<char>(value >> (8 * i));
    }
    return out;
}

constexpr std::uint64_t kPast4GiB = 0x1'2345'6000ull;

TEST_F(CopyLogTest, WideLogIsWrittenReadAndContinuedByteForByte)
{
    ASSERT_TRUE(m_file.create(m_path, Disposition::CreateAlways, Access::ReadWrite));
    m_log.bind(&m_file);
    ASSERT_TRUE(m_log.writeHeader("disk.img", 2, LogForm::Wide));
    EXPECT_EQ(m_log.form(), LogForm::Wide);
    EXPECT_EQ(m_log.appendRecord(512, 0x1'0000'0000ull), 16u);  // a region longer than 4 GiB
    EXPECT_EQ(m_log.appendRecord(kPast4GiB, 4096), 16u);
    EXPECT_EQ(m_log.appendRecord(0x1'4000'0000ull, 0), 16u);
    const std::string written = wideHeader("disk.img", 2) + wideRecord(512, 0x1'0000'0000ull) +
                                wideRecord(kPast4GiB, 4096) + wideRecord(0x1'4000'0000ull, 0);
    EXPECT_EQ(bytes(), written);

    // Read by a log that knows nothing of its form yet.
    CopyLog reader;
    reader.bind(&m_file);
    EXPECT_EQ(reader.readHeader(), 2);
    EXPECT_EQ(reader.form(), LogForm::Wide);
    EXPECT_EQ(reader.recordSize(), 16u);
    EXPECT_EQ(reader.readName(), "disk.img");
    EXPECT_EQ(reader.readEndPosition(), 0x1'4000'0000);
    std::vector<BadRegion> regions;
    EXPECT_EQ(reader.readRegions(regions), 0x1'0000'1000);
    EXPECT_EQ(regions, (std::vector<BadRegion>{{512, 0x1'0000'0000ull},
                                               {kPast4GiB, 4096},
                                               {0x1'4000'0000ull, 0}}));

    // Continued: the whole end record goes, new records follow in the same form.
    reader.dropEndRecord();
    EXPECT_EQ(m_file.size(), static_cast<std::int64_t>(written.size()) - 16);
    EXPECT_EQ(reader.readEndPosition(), -1);  // the last record is a region now
    ASSERT_EQ(m_file.seek(0, Whence::End), m_file.size());
    EXPECT_EQ(reader.appendRecord(0x1'4000'0000ull, 512), 16u);
    EXPECT_EQ(reader.appendRecord(0x1'4000'1000ull, 0), 16u);
    EXPECT_EQ(reader.readEndPosition(), 0x1'4000'1000);
    regions.clear();
    EXPECT_GE(reader.readRegions(regions), 0);
    EXPECT_EQ(regions.size(), 4u);
    EXPECT_EQ(regions[2], (BadRegion{0x1'4000'0000ull, 512}));
}

TEST_F(CopyLogTest, NarrowLogTakesNoRecordPast32Bits)
{
    ASSERT_TRUE(m_file.create(m_path, Disposition::CreateAlways, Access::ReadWrite));
    m_log.bind(&m_file);
    ASSERT_TRUE(m_log.writeHeader("a", 0));
    const std::string header = bytes();
    EXPECT_EQ(m_log.appendRecord(kPast4GiB, 512), 0u);
    EXPECT_EQ(m_log.appendRecord(0, 0x1'0000'0000ull), 0u);
    EXPECT_EQ(m_log.appendRecord(kPast4GiB, 0), 0u);
    EXPECT_EQ(bytes(), header);
    // The last offset and length a narrow record holds still go in.
    EXPECT_EQ(m_log.appendRecord(0xFFFF'FFFFull, 0xFFFF'FFFFull), 8u);
    EXPECT_EQ(bytes(), header + std::string(8, '\xff'));
}

TEST_F(CopyLogTest, EachFormReadsItsOwnRecordsOnly)
{
    // A wide log whose last record is cut: no end record, and the cut record is not taken.
    writeBytes(wideHeader("a") + wideRecord(kPast4GiB, 512) + wideRecord(0x1'4000'0000ull, 0) +
               std::string(8, '\0'));
    openLog();
    EXPECT_EQ(m_log.readHeader(), 0);
    EXPECT_EQ(m_log.readEndPosition(), -1);
    std::vector<BadRegion> regions;
    EXPECT_EQ(m_log.readRegions(regions), 512);
    EXPECT_EQ(regions, (std::vector<BadRegion>{{kPast4GiB, 512}, {0x1'4000'0000ull, 0}}));

    // A wide log holding 8-byte records (narrow ones under the wide magic): one and a
    // half records are no end record, and the whole one is read as 64-bit numbers.
    writeBytes(wideHeader("a") + std::string("\0\2\0\0\0\2\0\0", 8) +
               std::string("\0\4\0\0\0\0\0\0", 8) + std::string(8, '\0'));
    openLog();
    EXPECT_EQ(m_log.readEndPosition(), -1);
    regions.clear();
    EXPECT_EQ(m_log.readRegions(regions), 0x400);
    EXPECT_EQ(regions, (std::vector<BadRegion>{{0x0000'0200'0000'0200ull, 0x400}}));

    // Neither magic: no header, whatever follows.
    writeBytes(std::string("AC32\0\0\0\0\0\0\0\0\1\0a", 15) + wideRecord(4096, 0));
    openLog();
    EXPECT_EQ(m_log.readHeader(), -1);
    writeBytes(std::string("ac64\0\0\0\0\0\0\0\0\1\0a", 15) + wideRecord(4096, 0));
    openLog();
    EXPECT_EQ(m_log.readHeader(), -1);

    // An end record past what a file offset holds is no end record.
    writeBytes(wideHeader("a") + wideRecord(0x8000'0000'0000'0000ull, 0));
    openLog();
    EXPECT_EQ(m_log.readEndPosition(), -1);
}

// The annotation block after the name goes out in the header's write, comes back whole,
// and is passed over by the readers of the records in both forms: no annotation is a
// region, and none is an end record, not even in a log killed before its first record.
// The mark alone is an end record; a block that does not parse makes the log unreadable.
TEST_F(CopyLogTest, AnnotationsAreNeitherRegionsNorAnEndRecord)
{
    const std::vector<LogAnnotation> notes = {
        sourceAnnotation({5000, 7, 9}), appendBaseAnnotation(3000),
        passAnnotation({2, 3, 5000000000}), {77, {1, 2}}};
    for (const LogForm form : {LogForm::Narrow, LogForm::Wide}) {
        SCOPED_TRACE(form == LogForm::Wide ? "wide" : "narrow");
        ASSERT_TRUE(m_file.create(m_path, Disposition::CreateAlways, Access::ReadWrite));
        m_log.bind(&m_file);
        ASSERT_TRUE(m_log.writeHeader("a", 0, form, notes));
        std::vector<BadRegion> records;
        EXPECT_EQ(m_log.readEndPosition(), -1);
        EXPECT_EQ(m_log.readRegions(records), 0);
        EXPECT_TRUE(records.empty());
        m_file.seek(0, Whence::End);
        m_log.appendRecord(1024, 512);
        m_log.appendRecord(8000, 0);
        EXPECT_EQ(m_log.readAnnotations(), notes);
        EXPECT_EQ(sourceStampOf(notes), (SourceStamp{5000, 7, 9}));
        EXPECT_EQ(appendBaseOf(notes), 3000u);
        EXPECT_EQ(passPointOf(notes), (PassPoint{2, 3, 5000000000}));
        EXPECT_EQ(m_log.readRegions(records), 512);
        EXPECT_EQ(records, (std::vector<BadRegion>{{1024, 512}, {8000, 0}}));
        EXPECT_EQ(m_log.readEndPosition(), 8000);
        m_file.close();
    }
    const std::uint64_t mark = CopyLog::kAnnotationMark;
    const auto asString = [](const std::vector<std::uint8_t>& b) {
        return std::string(b.begin(), b.end());
    };
    struct Case
    {
        const char* name;
        std::vector<BadRegion> records;
        std::int64_t end;  // -1: the log is unreadable
    };
    const Case cases[] = {
        {"the mark alone: an end record", {{mark, 0}}, static_cast<std::int64_t>(mark)},
        {"a count past the end", {{mark, 0}, {3, 0}, {1, 0}, {4000, 0}}, -1},
        {"a word with a length", {{mark, 0}, {1, 0}, {1, 7}, {4000, 0}}, -1},
        {"an annotation longer than the block",
         {{mark, 0}, {1, 0}, {1 | 2 << 16, 0}, {4000, 0}},
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(asString(testing::copyLogBytes("a", 0, c.records)));
        openLog();
        std::vector<BadRegion> records;
        EXPECT_EQ(m_log.readEndPosition(), c.end);
        EXPECT_EQ(m_log.readRegions(records), c.end < 0 ? -1 : 0);
        EXPECT_EQ(m_log.readAnnotations().has_value(), c.end >= 0);
        m_file.close();
    }
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
