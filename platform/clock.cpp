#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace tessaly {

std::uint32_t tickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void sleepMs(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {
class SystemTicks : public TickSource
{
public:
    std::uint32_t now() const override { return tickCount(); }
};
}  // namespace

const TickSource& systemTicks()
{
    static const SystemTicks instance;
    return instance;
}

}  // namespace tessaly
