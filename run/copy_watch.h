#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/copy_engine.h"

namespace tessaly {

// Looks after a file that the engine copies on the run's own thread. Once the file has
// run for an interval, a thread of the watch's own shows the engine's figures every
// interval and passes a raised stop flag on to the engine: a read that hangs on a
// damaged medium still shows as such, and a stop is taken up as soon as the read
// returns. A file that ends within an interval costs no switch between threads. The
// thread sleeps after a second without a file, and is woken by the next one.
class CopyWatch
{
public:
    using Refresh = std::function<void(const EngineSnapshot& engine)>;

    CopyWatch(CopyEngine& engine, std::uint32_t intervalMs)
        : m_engine(engine), m_interval(intervalMs)
    {
    }
    ~CopyWatch();
    CopyWatch(const CopyWatch&) = delete;
    CopyWatch& operator=(const CopyWatch&) = delete;

    // Starts the watch's thread unless it runs; false when the system gives none.
    bool ready();
    // Looks after the file that is being copied until end(), which must follow on the
    // same thread; refresh and stop (either may be empty) live until then.
    void begin(const Refresh& refresh, const std::atomic<bool>* stop);
    // Returns once a refresh under way has ended; none follows.
    void end();

private:
    void watch();

    CopyEngine& m_engine;
    const std::chrono::milliseconds m_interval;
    std::mutex m_mutex;  // held by the thread while it refreshes
    std::condition_variable m_wake;
    const Refresh* m_refresh = nullptr;
    const std::atomic<bool>* m_stop = nullptr;
    std::uint64_t m_files = 0;  // files begun
    bool m_watching = false;
    bool m_asleep = false;
    bool m_leave = false;
    std::thread m_thread;
};

}  // namespace tessaly
