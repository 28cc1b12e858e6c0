#include "tests/medium/medium_mount.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/medium/sector_map.h"

extern char** environ;

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr int kPollMs = 10;
constexpr int kMountTimeoutMs = 10000;

void sleepPoll()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

// Runs a program with its output discarded; true when it ran and exited with 0.
bool runQuietly(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int r = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool parseCount(const std::string& word, std::uint64_t* value)
{
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, *value);
    return ec == std::errc() && ptr == end && !word.empty();
}

// A path as /proc/self/mountinfo writes it.
std::string mountinfoEscaped(const std::string& path)
{
    std::string escaped;
    for (const char c : path) {
        if (c == ' ')
            escaped += "\\040";
        else if (c == '\t')
            escaped += "\\011";
        else if (c == '\n')
            escaped += "\\012";
        else if (c == '\\')
            escaped += "\\134";
        else
            escaped += c;
    }
    return escaped;
}

bool writeFile(const fs::path& path, const std::string& bytes)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

}  // namespace

MediumMount::MediumMount()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessaly-medium-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    m_top = pattern;
    m_source = m_top + "/source";
    m_mountPoint = m_top + "/mnt";
    std::error_code ec;
    fs::create_directories(m_source, ec);
    fs::create_directories(m_mountPoint, ec);
}

MediumMount::~MediumMount()
{
    unmount();
    if (m_top.empty()) return;
    std::error_code ec;
    if (isMountedNow()) {
        // Never walk into a mount that would not go away.
        fs::remove_all(m_source, ec);
        return;
    }
    fs::remove_all(m_top, ec);
}

bool MediumMount::addImage(const std::string& relativePath, const std::string& bytes,
                           const std::string& map)
{
    const fs::path image = fs::path(m_source) / relativePath;
    if (m_source.empty() || !writeFile(image, bytes)) return false;
    // A file keeps its modification time on its medium: an image put back is the same
    // file again, one of other bytes another file. The time comes from the bytes.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    const timespec times[2] = {{1000000000 + static_cast<time_t>(hash % 100000000), 0},
                               {1000000000 + static_cast<time_t>(hash % 100000000), 0}};
    if (::utimensat(AT_FDCWD, image.c_str(), times, 0) != 0) return false;
    return map.empty() || addMap(relativePath, map);
}

bool MediumMount::addMap(const std::string& relativeImagePath, const std::string& map)
{
    return !m_source.empty() && writeFile(fs::path(m_source) / (relativeImagePath + ".map"), map);
}

std::string MediumMount::programPath()
{
    if (const char* dir = std::getenv("TESSALY_BIN_DIR"); dir && *dir) {
        const std::string program = std::string(dir) + "/tessaly-medium";
        if (::access(program.c_str(), X_OK) == 0) return program;
    }
#ifdef TESSALY_MEDIUM_PROGRAM
    return TESSALY_MEDIUM_PROGRAM;
#else
    return "tessaly-medium";
#endif
}

MediumMount::MountResult MediumMount::mount(bool singleThreaded)
{
    if (m_top.empty()) return {Outcome::Failed, "no temporary folder could be made"};
    if (mounted()) return {Outcome::Mounted, {}};
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        return {Outcome::Unavailable,
                std::string("/dev/fuse cannot be opened (") + std::strerror(errno) + ")"};
    }
    const std::string program = programPath();
    if (::access(program.c_str(), X_OK) != 0) {
        return {Outcome::Failed, program + " is missing; build the tessaly-medium target"};
    }
    std::vector<std::string> words{program, m_source, m_mountPoint};
    if (singleThreaded) words.push_back("-s");
    std::vector<char*> argv;
    for (const auto& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const std::string logPath = m_top + "/medium.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int r = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) return {Outcome::Failed, program + ": " + std::strerror(r)};
    m_child = pid;

    for (int waited = 0; waited < kMountTimeoutMs; waited += kPollMs) {
        if (isMountedNow()) return {Outcome::Mounted, {}};
        int status = 0;
        if (::waitpid(m_child, &status, WNOHANG) == m_child) {
            m_child = -1;
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            if (code == 3) return {Outcome::Unavailable, "the mount was refused: " + log()};
            return {Outcome::Failed,
                    "tessaly-medium ended with status " + std::to_string(code) + ": " + log()};
        }
        sleepPoll();
    }
    unmount();
    return {Outcome::Failed, "the mount did not come up within 10 s: " + log()};
}

void MediumMount::unmount()
{
    if (!mounted()) return;
    bool detached = !isMountedNow() || runQuietly({"fusermount3", "-u", m_mountPoint});
    if (!detached) {
        // Busy (a file still open) or no fusermount3: detach it anyway. The medium
        // would go on serving the open files, so it is told to end at once.
        runQuietly({"umount", "-l", m_mountPoint});
        ::kill(m_child, SIGTERM);
    }
    if (!waitForExit(5000)) {
        ::kill(m_child, SIGTERM);
        if (!waitForExit(2000)) {
            ::kill(m_child, SIGKILL);
            waitForExit(-1);
        }
    }
    // A medium that was killed leaves its mount behind, disconnected.
    if (isMountedNow()) runQuietly({"umount", "-l", m_mountPoint});
    m_child = -1;
}

bool MediumMount::waitForExit(int timeoutMs)
{
    for (int waited = 0; timeoutMs < 0 || waited < timeoutMs; waited += kPollMs) {
        const pid_t r = ::waitpid(m_child, nullptr, WNOHANG);
        if (r == m_child || (r < 0 && errno == ECHILD)) return true;
        sleepPoll();
    }
    return false;
}

bool MediumMount::isMountedNow() const
{
    if (m_mountPoint.empty()) return false;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, majMin, root, mountPoint;
        fields >> id >> parent >> majMin >> root >> mountPoint;
        if (mountPoint == mountinfoEscaped(m_mountPoint)) return true;
    }
    return false;
}

std::string MediumMount::path(const std::string& relativePath) const
{
    return m_mountPoint + "/" + relativePath;
}

std::map<std::string, ReadCounts> MediumMount::counts() const
{
    std::map<std::string, ReadCounts> result;
    std::ifstream in(m_mountPoint + "/.counts");
    std::string line;
    while (std::getline(in, line)) {
        // PATH may hold blanks: the numbers are the last two fields.
        const auto second = line.rfind(' ');
        const auto first = second == std::string::npos ? second : line.rfind(' ', second - 1);
        if (first == std::string::npos || first == 0) continue;
        ReadCounts counts;
        if (parseCount(line.substr(first + 1, second - first - 1), &counts.reads) &&
            parseCount(line.substr(second + 1), &counts.failed)) {
            result[line.substr(0, first)] = counts;
        }
    }
    return result;
}

std::string MediumMount::log() const
{
    std::ifstream in(m_top + "/medium.log");
    std::ostringstream text;
    text << in.rdbuf();
    std::string log = text.str();
    while (!log.empty() && (log.back() == '\n' || log.back() == ' ')) log.pop_back();
    return log;
}

std::string MediumMount::patternBytes(std::size_t size, std::uint32_t seed)
{
    std::string bytes(size, '\0');
    fillPattern(bytes.data(), size, 0, seed);
    return bytes;
}

}  // namespace tessaly
