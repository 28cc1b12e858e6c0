#include "run/copy_watch.h"

#include <system_error>

namespace tessaly {
namespace {

// Intervals without a file before the thread sleeps until the next one.
constexpr std::uint32_t kIdleIntervals = 50;

}  // namespace

CopyWatch::~CopyWatch()
{
    {
        std::lock_guard lock(m_mutex);
        m_leave = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool CopyWatch::ready()
{
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) return true;
    try {
        m_thread = std::thread([this] { watch(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CopyWatch::begin(const Refresh& refresh, const std::atomic<bool>* stop)
{
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        m_refresh = &refresh;
        m_stop = stop;
        m_watching = true;
        ++m_files;
        wake = m_asleep;
    }
    if (wake) m_wake.notify_one();
}

void CopyWatch::end()
{
    std::lock_guard lock(m_mutex);
    m_watching = false;
    m_refresh = nullptr;
    m_stop = nullptr;
}

void CopyWatch::watch()
{
    std::unique_lock lock(m_mutex);
    std::uint64_t seen = m_files;
    std::uint64_t stopped = 0;  // the file a stop was passed on for
    std::uint32_t idle = 0;
    while (!m_leave) {
        if (!m_watching && idle >= kIdleIntervals) {
            m_asleep = true;
            m_wake.wait(lock, [this] { return m_leave || m_watching; });
            m_asleep = false;
            idle = 0;
            seen = m_files;
            continue;
        }
        if (m_wake.wait_for(lock, m_interval, [this] { return m_leave; })) return;
        if (!m_watching) {
            ++idle;
            continue;
        }
        idle = 0;
        // A file begun since the last look gets a whole interval before it is shown.
        if (seen != m_files) {
            seen = m_files;
            continue;
        }
        if (stopped != m_files && m_stop != nullptr && m_stop->load()) {
            m_engine.requestStop(false);
            stopped = m_files;
        }
        if (m_refresh != nullptr && *m_refresh) (*m_refresh)(m_engine.snapshot());
    }
}

}  // namespace tessaly
