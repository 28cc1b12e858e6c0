#include "engine/source_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "tests/support/scripted_medium.h"

namespace tessaly {
namespace {

using testing::ScriptedMedium;

TEST(SourceReaderChunk, FitsPagesSectorsAndFileSize)
{
    EXPECT_EQ(SourceReader::fitChunk(4096, 512, 2000000), 102400u);
    EXPECT_EQ(SourceReader::fitChunk(4096, 512, 500000), 49664u);
    EXPECT_EQ(SourceReader::fitChunk(4096, 2048, 1000000), 98304u);
    EXPECT_EQ(SourceReader::fitChunk(4096, 512, 10239), 512u);
    EXPECT_EQ(SourceReader::fitChunk(4096, 512, 10240), 1024u);
    EXPECT_EQ(SourceReader::fitChunk(4096, 512, 0), 512u);
    // Larger pages still give at most 102400 bytes in whole pages.
    EXPECT_EQ(SourceReader::fitChunk(16384, 512, 100000000), 98304u);
    EXPECT_EQ(SourceReader::fitChunk(65536, 4096, 100000000), 65536u);
}

TEST(SourceReader, OpensWithTheVolumeGeometryAndReadsAtMostAChunk)
{
    ScriptedMedium medium;
    std::vector<std::uint8_t> bytes(500000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    medium.addFile("/cd/a.bin", bytes);
    medium.setVolume("/cd/", VolumeInfo{2048, DriveType::CdRom});

    SourceReader reader(medium, 4096);
    ASSERT_TRUE(reader.open("/cd/a.bin"));
    EXPECT_EQ(reader.fileSize(), 500000u);
    EXPECT_EQ(reader.bytesPerSector(), 2048u);
    EXPECT_EQ(reader.driveType(), DriveType::CdRom);
    EXPECT_EQ(reader.chunkSize(), 49152u);
    EXPECT_EQ(reader.sectorsPerChunk(), 24u);
    EXPECT_EQ(reader.path(), "/cd/a.bin");

    std::vector<std::uint8_t> target(200000, 0xEE);
    ASSERT_EQ(reader.read(target.data(), 200000), 49152u);
    EXPECT_TRUE(std::equal(target.begin(), target.begin() + 49152, bytes.begin()));
    EXPECT_EQ(target[49152], 0xEE);
    EXPECT_EQ(reader.currentOffset(), 49152);

    // The last read returns only the bytes that exist, then the end gives 0.
    reader.seek(499712, Whence::Begin);
    EXPECT_EQ(reader.read(target.data(), 2048), 288u);
    EXPECT_EQ(reader.read(target.data(), 2048), 0u);
    EXPECT_EQ(reader.lastError(), 0);
}

TEST(SourceReader, FailedReadsKeepThePointerAndTheReason)
{
    ScriptedMedium medium;
    medium.addFile("/a.bin", std::string(20480, 'x'));
    medium.markBad("/a.bin", 1024, 512);
    SourceReader reader(medium, 4096);
    ASSERT_TRUE(reader.open("/a.bin"));
    std::vector<std::uint8_t> target(4096);
    reader.seek(512, Whence::Begin);
    EXPECT_EQ(reader.read(target.data(), 1024), 0u);
    EXPECT_EQ(reader.lastError(), EIO);
    EXPECT_EQ(reader.currentOffset(), 512);
    medium.removeMedium();
    EXPECT_EQ(reader.read(target.data(), 512), 0u);
    EXPECT_TRUE(isNotReady(reader.lastError()));
}

TEST(SourceReader, ReadsFromInsideASectorAndIsAlignedAfterwards)
{
    ScriptedMedium medium;  // refuses unaligned unbuffered reads, as O_DIRECT does
    std::vector<std::uint8_t> bytes(20480);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
    medium.addFile("/a.bin", bytes);
    medium.markBad("/a.bin", 4096, 512);
    SourceReader reader(medium, 4096);
    ASSERT_TRUE(reader.open("/a.bin"));  // chunk 2048
    std::vector<std::uint8_t> target(4096);
    reader.seek(1000, Whence::Begin);
    ASSERT_EQ(reader.read(target.data(), 2048), 1560u);  // up to the chunk's last sector
    EXPECT_TRUE(std::equal(target.begin(), target.begin() + 1560, bytes.begin() + 1000));
    EXPECT_EQ(reader.currentOffset(), 2560);
    reader.seek(20000, Whence::Begin);
    ASSERT_EQ(reader.read(target.data(), 512), 480u);
    EXPECT_EQ(target[0], bytes[20000]);
    reader.seek(4100, Whence::Begin);
    EXPECT_EQ(reader.read(target.data(), 512), 0u);
    EXPECT_EQ(reader.currentOffset(), 4100);
}

TEST(SourceReader, OpenFailsWithoutFileOrVolumeAndKeepsTheLastPath)
{
    ScriptedMedium medium;
    medium.addFile("/ok.bin", std::string(4096, 'a'));
    medium.addFile("/lost/b.bin", std::string(4096, 'b'));
    medium.addFile("/odd/c.bin", std::string(4096, 'c'));
    medium.setVolume("/lost/", std::nullopt);
    medium.setVolume("/odd/", VolumeInfo{0, DriveType::Fixed});

    SourceReader reader(medium, 4096);
    ASSERT_TRUE(reader.open("/ok.bin"));
    EXPECT_FALSE(reader.open("/missing.bin"));
    EXPECT_EQ(reader.lastError(), ENOENT);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_FALSE(reader.open("/lost/b.bin"));
    EXPECT_FALSE(reader.open("/odd/c.bin"));
    EXPECT_EQ(reader.path(), "/ok.bin");
    std::uint8_t byte = 0;
    EXPECT_EQ(reader.read(&byte, 1), 0u);
}

TEST(SourceReader, KeepsSizesOfFourGibibytesAndMore)
{
    ScriptedMedium medium;
    medium.addSparseFile("/big.img", (std::uint64_t{1} << 32) + 4096);
    SourceReader reader(medium, 4096);
    ASSERT_TRUE(reader.open("/big.img"));
    EXPECT_EQ(reader.fileSize(), (std::uint64_t{1} << 32) + 4096);
    EXPECT_EQ(reader.chunkSize(), 102400u);
}

}  // namespace
}  // namespace tessaly
