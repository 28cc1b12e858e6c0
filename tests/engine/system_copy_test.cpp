#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/copy_engine.h"
#include "platform/posix_file_system.h"
#include "tests/support/test_folder.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path)
{
    std::string bytes(fs::file_size(path), '\0');
    std::ifstream(path, std::ios::binary)
        .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// True when one of this process's open files is the folder at path.
bool holdsOpen(const fs::path& path)
{
    const fs::path folder = fs::canonical(path);
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(fd.path(), error) == folder) return true;
    }
    return false;
}

// The engine over the real file system, with and without O_DIRECT.
class SystemCopyTest : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        m_dir = tessaly::testing::freshTestFolder("tessaly-engine");
        fs::create_directories(m_dir / "src" / "sub");
        fs::create_directories(m_dir / "out");
        m_bytes.resize(300001);
        for (std::size_t i = 0; i < m_bytes.size(); ++i) m_bytes[i] = static_cast<char>(i * 31 / 7);
        std::ofstream(m_dir / "src" / "sub" / "f.bin", std::ios::binary) << m_bytes;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    bool run(CopyEngine& engine)
    {
        if (!engine.startFile((m_dir / "src" / "sub" / "f.bin").string(), (m_dir / "out").string(),
                              (m_dir / "src").string())) {
            return false;
        }
        while (engine.busy()) sleepMs(1);
        return true;
    }

    fs::path m_dir;
    std::string m_bytes;
};

TEST_P(SystemCopyTest, CopiesAndResumesBehindAnOddSizedDestination)
{
    PosixFileSystem system(PosixFileSystem::Options{GetParam()});
    CopyEngine engine(system);
    engine.beginRun();
    ASSERT_TRUE(run(engine));
    EXPECT_EQ(engine.status(), EngineStatus::Ok);
    const fs::path destination = m_dir / "out" / "sub" / "f.bin";
    EXPECT_EQ(readAll(destination), m_bytes);
    EXPECT_FALSE(fs::exists(destination.string() + ".log"));
    engine.endRun();  // the copy's folder is let go: its volume can be unmounted
    EXPECT_FALSE(holdsOpen(destination.parent_path()));

    fs::resize_file(destination, 1000);
    ASSERT_TRUE(run(engine));  // Resume without a log: nobody is asked
    EXPECT_EQ(engine.status(), EngineStatus::Ok);
    EXPECT_TRUE(engine.badRegions().empty());
    EXPECT_EQ(readAll(destination), m_bytes);
}

INSTANTIATE_TEST_SUITE_P(DirectAndCached, SystemCopyTest, ::testing::Values(false, true));

}  // namespace
}  // namespace tessaly
