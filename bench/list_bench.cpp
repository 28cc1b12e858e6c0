// Times the building of a copy list, the step before a copy run starts.
//
//   tessaly-list-bench FOLDER        the list of FOLDER as `tessaly-cli copy` builds it
//   tessaly-list-bench --entries N   N files named to one builder, then each a second time
//
// Prints "ENTRIES SECONDS" on standard output.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/copy_list.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every name comes twice, so the duplicate check meets a listed name as often as a new one.
std::size_t addNamedEntries(std::size_t count)
{
    std::atomic<bool> stop{false};
    tessaly::CopyListBuilder builder(tessaly::systemFileSystem(), "/nonexistent-output", stop);
    const auto base = std::make_shared<const std::string>("/");
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < count; ++i) {
            builder.addFile("/medium/folder" + std::to_string(i % 100) + "/file" +
                                std::to_string(i) + ".bin",
                            base, 4096);
        }
    }
    return builder.take().entries.size();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--entries") {
        const auto start = std::chrono::steady_clock::now();
        const std::size_t listed = addNamedEntries(std::strtoull(argv[2], nullptr, 10));
        std::printf("%zu %.3f\n", listed, secondsSince(start));
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessaly-list-bench FOLDER | --entries N\n");
        return 64;
    }
    std::atomic<bool> stop{false};
    const auto start = std::chrono::steady_clock::now();
    const tessaly::CopyList list =
        tessaly::buildCopyList(tessaly::systemFileSystem(), {argv[1]}, {}, stop);
    std::printf("%zu %.3f\n", list.entries.size(), secondsSince(start));
    return list.unreadableFolders.empty() ? 0 : 1;
}
