#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engine/bad_region.h"
#include "tests/support/log_bytes.h"
#include "tool/job_ui.h"

namespace tessaly::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder below the system's temporary folder, removed with the object.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-tool-XXXXXX");
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path)
{
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

inline std::string cliPath()
{
    const char* bin = std::getenv("TESSALY_BIN_DIR");
    return std::string(bin ? bin : ".") + "/tessaly-cli";
}

// Runs a command line in a shell without a terminal on standard input; its exit status.
inline int run(const std::string& command)
{
    const int status = std::system((command + " </dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Bytes that differ from one offset to the next, and from one seed to another.
inline Bytes pattern(std::size_t size, std::uint32_t seed = 1)
{
    Bytes bytes(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// A copy log as the copier writes it, with fill type 0.
inline Bytes logBytes(const std::string& name, const std::vector<BadRegion>& records,
                      std::optional<std::uint16_t> nameLength = std::nullopt)
{
    return copyLogBytes(name, 0, records, nameLength);
}

// Plays the window for a job: records what the job shows, answers the locate
// dialog from a script.
class ScriptedUi : public JobUi
{
public:
    void setDataFrom(const std::string& name) override { dataFrom = name; }
    void setDataTo(const std::string& name) override { dataTo = name; }
    void setState(int textId) override { states.push_back(textId); }
    void setProgress(int percent) override { progress.push_back(percent); }
    void showError(const JobMessage& message) override { errors.push_back(message); }
    void showNotice(const JobMessage& message) override { notices.push_back(message); }
    std::optional<std::string> locateFile(int titleText, const std::string& folder) override
    {
        locateTitles.push_back(titleText);
        locateFolders.push_back(folder);
        return locateAnswer;
    }

    std::optional<std::string> locateAnswer;  // nullopt: the user cancels
    std::string dataFrom, dataTo;
    std::vector<int> states, progress, locateTitles;
    std::vector<std::string> locateFolders;
    std::vector<JobMessage> errors, notices;
};

}  // namespace tessaly::testing
