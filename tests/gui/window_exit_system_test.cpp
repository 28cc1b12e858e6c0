// The real tessaly on a private X server with a window manager, copying from the
// simulated medium: however the window is ended from outside (the window manager
// destroys it, a signal arrives), the program stops the copy, keeps its log whole
// and leaves within seconds. The companion tool leaves too when its window goes.
#include <fcntl.h>
#include <poll.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tests/medium/medium_mount.h"
#include "tests/support/test_folder.h"

extern char** environ;

namespace tessaly {
namespace {

namespace fs = std::filesystem;

using testing::readAll;
using testing::sizeOf;

// The program's path on PATH; empty when it is not installed.
std::string onPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

bool waitFor(const std::function<bool()>& ready, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (ready()) return true;
        sleepMs(10);
    }
    return ready();
}

// A child process with extra environment; killed when it is still running at the end.
class Child
{
public:
    // passFd, when given, is the child's descriptor 3.
    Child(const std::vector<std::string>& words, const std::vector<std::string>& extraEnv,
          const std::string& output, int passFd = -1)
    {
        std::vector<std::string> env(extraEnv);
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        std::vector<char*> argv;
        std::vector<std::string> args(words);
        for (auto& w : args) argv.push_back(w.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (passFd >= 0) posix_spawn_file_actions_adddup2(&actions, passFd, 3);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child()
    {
        if (m_pid > 0 && !ended()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t pid() const { return m_pid; }
    // True once the process has ended; its status is then kept.
    bool ended()
    {
        if (m_pid <= 0 || m_status >= 0) return true;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    int status() const { return m_status; }

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

// A private X server with a window manager, for the life of the object.
class Display
{
public:
    explicit Display(const std::string& work)
    {
        // The server picks a free display itself and names it on descriptor 3, so
        // that tests running side by side never meet on one.
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        m_server = std::make_unique<Child>(
            std::vector<std::string>{onPath("Xvfb"), "-displayfd", "3", "-screen", "0",
                                     "1280x800x24", "-nolisten", "tcp"},
            std::vector<std::string>{}, work + "/xvfb.txt", ends[1]);
        ::close(ends[1]);
        std::string number;
        pollfd pfd{ends[0], POLLIN, 0};
        while (::poll(&pfd, 1, 10000) == 1) {
            char c = 0;
            if (::read(ends[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(ends[0]);
        if (number.empty()) return;
        m_name = ":" + number;
        m_manager = std::make_unique<Child>(std::vector<std::string>{onPath("openbox")},
                                            std::vector<std::string>{"DISPLAY=" + m_name},
                                            work + "/openbox.txt");
        sleepMs(500);
        m_ready = !m_manager->ended();
    }
    bool ready() const { return m_ready; }
    const std::string& name() const { return m_name; }
    // The display goes away, as at the end of a session.
    void endServer() const { ::kill(m_server->pid(), SIGTERM); }

private:
    std::string m_name;
    std::unique_ptr<Child> m_server;
    std::unique_ptr<Child> m_manager;
    bool m_ready = false;
};

std::uint32_t le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

enum class Ending
{
    WindowDestroyed,
    Terminate,
    Interrupt,
    HangUp,
    DisplayGone
};

class WindowExitTest : public ::testing::TestWithParam<Ending>
{
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "openbox", "xdotool"}) {
            if (onPath(tool).empty()) {
                GTEST_SKIP() << "SKIPPED: " << tool << " is not installed (apt-get install xvfb "
                             << "openbox xdotool)";
            }
        }
        char pattern[] = "/tmp/tessaly-exit-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_work = pattern;
        fs::create_directories(m_work + "/out");
        fs::create_directories(m_work + "/config");
    }
    void TearDown() override
    {
        medium.unmount();
        if (!m_work.empty()) fs::remove_all(m_work);
    }

    MediumMount medium;
    std::string m_work;
};

std::string windowOf(const std::string& display, pid_t pid)
{
    const std::string command = "DISPLAY=" + display +
                                " timeout 20 xdotool search --sync --onlyvisible --pid " +
                                std::to_string(pid) + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    char line[64] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    std::string id = got ? line : "";
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
    return id;
}

TEST_P(WindowExitTest, TheCopyStopsWithItsLogWholeAndTheProgramLeaves)
{
    // 8 MiB whose every read waits 100 ms: minutes of copying.
    const std::string image = MediumMount::patternBytes(8 << 20, 5);
    ASSERT_TRUE(medium.addImage("disk/big.bin", image, "slow 0-16383 100\n"));
    TESSALY_MOUNT_OR_SKIP(medium);
    Display display(m_work);
    ASSERT_TRUE(display.ready()) << readAll(m_work + "/xvfb.txt") << readAll(m_work + "/openbox.txt");

    // The copy in order, so that its size tells how far it got.
    fs::create_directories(m_work + "/config/Brindlework");
    std::ofstream(m_work + "/config/Brindlework/Tessaly.conf") << "[General]\nEasyFirst=0\n";
    const char* binDir = std::getenv("TESSALY_BIN_DIR");
    const std::string out = m_work + "/out";
    Child copier({std::string(binDir ? binDir : "bin") + "/tessaly", "--output=" + out, "--start",
                  medium.path("disk/big.bin")},
                 {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb",
                  "XDG_CONFIG_HOME=" + m_work + "/config", "HOME=" + m_work},
                 m_work + "/tessaly.txt");
    ASSERT_GT(copier.pid(), 0);
    const std::string window = windowOf(display.name(), copier.pid());
    ASSERT_FALSE(window.empty()) << readAll(m_work + "/tessaly.txt");
    const std::string copy = out + "/big.bin";
    ASSERT_TRUE(waitFor([&] { return sizeOf(copy) > 0 || copier.ended(); }, 30000))
        << "the copy did not start";
    ASSERT_FALSE(copier.ended()) << readAll(m_work + "/tessaly.txt");

    switch (GetParam()) {
        case Ending::WindowDestroyed:
            ASSERT_EQ(std::system(("DISPLAY=" + display.name() + " xdotool windowclose " + window)
                                      .c_str()),
                      0);
            break;
        case Ending::Terminate: ::kill(copier.pid(), SIGTERM); break;
        case Ending::Interrupt: ::kill(copier.pid(), SIGINT); break;
        case Ending::HangUp: ::kill(copier.pid(), SIGHUP); break;
        case Ending::DisplayGone: display.endServer(); break;
    }
    const std::uint32_t asked = tickCount();
    ASSERT_TRUE(waitFor([&] { return copier.ended(); }, 10000))
        << "still running 10 s later\n" << readAll(m_work + "/tessaly.txt");
    EXPECT_LT(tickCount() - asked, 5000u);
    // Without a display the toolkit ends the program with a status of its own.
    if (GetParam() != Ending::DisplayGone) {
        EXPECT_EQ(copier.status(), 0) << readAll(m_work + "/tessaly.txt");
    }

    // The copy stopped part way, and its log ends in the end record at its end.
    const std::uint64_t reached = sizeOf(copy);
    EXPECT_LT(reached, image.size());
    const std::string log = readAll(copy + ".log");
    const std::size_t header = 14 + std::string("big.bin").size();
    ASSERT_GE(log.size(), header + 8);
    EXPECT_EQ((log.size() - header) % 8, 0u);
    EXPECT_EQ(le32(log, log.size() - 8), reached);
    EXPECT_EQ(le32(log, log.size() - 4), 0u) << "the log does not end in an end record";
}

// The companion tool's window destroyed by the window manager: the tool ends as its
// Exit ends it, instead of running on with no window.
TEST_F(WindowExitTest, TheToolLeavesWhenItsWindowIsDestroyed)
{
    Display display(m_work);
    ASSERT_TRUE(display.ready()) << readAll(m_work + "/xvfb.txt") << readAll(m_work + "/openbox.txt");
    const char* binDir = std::getenv("TESSALY_BIN_DIR");
    Child tool({std::string(binDir ? binDir : "bin") + "/velmora"},
               {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb",
                "XDG_CONFIG_HOME=" + m_work + "/config", "HOME=" + m_work},
               m_work + "/velmora.txt");
    ASSERT_GT(tool.pid(), 0);
    const std::string window = windowOf(display.name(), tool.pid());
    ASSERT_FALSE(window.empty()) << readAll(m_work + "/velmora.txt");
    ASSERT_EQ(std::system(("DISPLAY=" + display.name() + " xdotool windowclose " + window).c_str()), 0);
    ASSERT_TRUE(waitFor([&] { return tool.ended(); }, 10000))
        << "still running 10 s later\n" << readAll(m_work + "/velmora.txt");
    EXPECT_EQ(tool.status(), 0) << readAll(m_work + "/velmora.txt");
}

INSTANTIATE_TEST_SUITE_P(Endings, WindowExitTest,
                         ::testing::Values(Ending::WindowDestroyed, Ending::Terminate,
                                           Ending::Interrupt, Ending::HangUp,
                                           Ending::DisplayGone),
                         [](const ::testing::TestParamInfo<Ending>& ending) {
                             switch (ending.param) {
                                 case Ending::WindowDestroyed: return "WindowDestroyed";
                                 case Ending::Terminate: return "Terminate";
                                 case Ending::Interrupt: return "Interrupt";
                                 case Ending::HangUp: return "HangUp";
                                 default: return "DisplayGone";
                             }
                         });

}  // namespace
}  // namespace tessaly
