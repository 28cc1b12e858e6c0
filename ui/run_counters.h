#pragma once

#include <atomic>
#include <cstdint>

namespace tessaly {

// What the copier's window and its copy driver share about the list: written on the
// window's thread (copying also by the driver, which clears it at the end of a run),
// polled by the driver.
struct RunCounters
{
    std::atomic<std::uint32_t> entryCount{0};
    std::atomic<std::uint32_t> currentIndex{0};  // the line the run handles next
    std::atomic<std::uint64_t> totalSize{0};     // sizes of all lines
    std::atomic<std::uint64_t> doneSize{0};      // copied bytes of the Done lines
    std::atomic<bool> copying{false};            // a copy run is wanted
};

}  // namespace tessaly
