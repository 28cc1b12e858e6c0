// tessaly-medium: a read-only FUSE file system that serves a folder of image files
// as a damaged medium, for the system tests and benchmarks.
//
//   tessaly-medium [-s] [-d] [-o OPTIONS] SOURCE_DIR MOUNT_POINT
//
// It always runs in the foreground; SIGTERM, SIGINT or SIGHUP unmount and end it,
// and so does the death of the process that started it. Every open sets direct_io,
// so each read reaches this program and no page cache hides a failure. The damage
// of each image comes from IMAGE.map beside it (sector_map.h); the read counters are
// in /.counts (simulated_medium.h).
//
// The kernel passes a read of up to 1 MiB as one request, and a larger one as several
// in file order (asynchronous direct reads are switched off). Each request is judged
// whole, so a large read that meets a bad sector in a later request returns the
// bytes of the earlier ones, and the caller's next read meets the failure.
//
// Exit status: 0 after a clean unmount, 2 for a usage or map error, 3 when the
// mount itself failed (no /dev/fuse, no permission), 4 when the loop failed.

#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tests/medium/simulated_medium.h"

namespace tessaly {
namespace {

// One open file: the backing descriptor and the image's state, or the text of
// /.counts taken at open.
struct Handle
{
    int fd = -1;
    ImageState* image = nullptr;
    std::string counts;
    bool isCounts = false;
};

SimulatedMedium& medium()
{
    return *static_cast<SimulatedMedium*>(fuse_get_context()->private_data);
}

Handle* handleOf(const fuse_file_info* fi)
{
    return reinterpret_cast<Handle*>(static_cast<std::uintptr_t>(fi->fh));
}

void* mediumInit(fuse_conn_info* conn, fuse_config* config)
{
    // One request after another for each read, so that the order in which a read
    // meets its sectors is the order of the file.
    conn->want &= ~static_cast<unsigned>(FUSE_CAP_ASYNC_DIO);
    config->direct_io = 1;
    config->kernel_cache = 0;
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->use_ino = 0;
    return fuse_get_context()->private_data;
}

int mediumGetattr(const char* path, struct stat* st, fuse_file_info*)
{
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, kCountsPath) == 0) {
        st->st_mode = S_IFREG | 0444;
        st->st_nlink = 1;
        st->st_size = static_cast<off_t>(medium().countsText().size());
        return 0;
    }
    const std::string backing = medium().backingPath(path);
    if (backing.empty()) return -ENOENT;
    if (::lstat(backing.c_str(), st) != 0) return -errno;
    if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)) return -ENOENT;
    st->st_mode &= ~static_cast<mode_t>(0222);
    return 0;
}

int mediumReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                  fuse_readdir_flags)
{
    const std::string backing = medium().backingPath(path);
    DIR* dir = backing.empty() ? nullptr : ::opendir(backing.c_str());
    if (dir == nullptr) return backing.empty() ? -ENOENT : -errno;
    const bool top = std::strcmp(path, "/") == 0;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    if (top) fill(buffer, kCountsPath + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || SimulatedMedium::isHidden(name)) continue;
        if (top && name == kCountsPath + 1) continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) {
            continue;
        }
        fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
    ::closedir(dir);
    return 0;
}

int mediumOpen(const char* path, fuse_file_info* fi)
{
    if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC)) return -EROFS;
    auto handle = std::make_unique<Handle>();
    if (std::strcmp(path, kCountsPath) == 0) {
        handle->isCounts = true;
        handle->counts = medium().countsText();
    } else {
        const std::string backing = medium().backingPath(path);
        if (backing.empty()) return -ENOENT;
        struct stat st
        {
        };
        if (::lstat(backing.c_str(), &st) != 0) return -errno;
        if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? -EISDIR : -ENOENT;
        int error = 0;
        handle->image = medium().stateFor(path, &error);
        if (handle->image == nullptr) return -error;
        handle->fd = ::open(backing.c_str(), O_RDONLY | O_CLOEXEC);
        if (handle->fd < 0) return -errno;
    }
    fi->direct_io = 1;
    fi->keep_cache = 0;
    fi->fh = reinterpret_cast<std::uintptr_t>(handle.release());
    return 0;
}

int mediumRead(const char*, char* buffer, std::size_t count, off_t offset, fuse_file_info* fi)
{
    Handle* handle = handleOf(fi);
    if (handle->isCounts) {
        const std::string& text = handle->counts;
        if (offset < 0 || static_cast<std::size_t>(offset) >= text.size()) return 0;
        const std::size_t n = std::min(count, text.size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, text.data() + offset, n);
        return static_cast<int>(n);
    }
    return SimulatedMedium::read(*handle->image, handle->fd, buffer, count, offset);
}

int mediumRelease(const char*, fuse_file_info* fi)
{
    std::unique_ptr<Handle> handle(handleOf(fi));
    if (handle->fd >= 0) ::close(handle->fd);
    return 0;
}

fuse_operations operations()
{
    fuse_operations ops{};
    ops.init = mediumInit;
    ops.getattr = mediumGetattr;
    ops.readdir = mediumReaddir;
    ops.open = mediumOpen;
    ops.read = mediumRead;
    ops.release = mediumRelease;
    return ops;
}

struct Arguments
{
    std::string source;
    int positional = 0;
};

// Takes the first positional argument as the source folder and leaves the mount
// point and every option to libfuse.
int takeArgument(void* data, const char* arg, int key, fuse_args*)
{
    auto* arguments = static_cast<Arguments*>(data);
    if (key == FUSE_OPT_KEY_NONOPT && arguments->positional++ == 0) {
        arguments->source = arg;
        return 0;
    }
    return 1;
}

int usage(const char* program)
{
    std::fprintf(stderr, "usage: %s [-s] [-d] [-o OPTIONS] SOURCE_DIR MOUNT_POINT\n", program);
    return 2;
}

int run(int argc, char** argv)
{
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    Arguments arguments;
    if (fuse_opt_parse(&args, &arguments, nullptr, takeArgument) != 0) return usage(argv[0]);
    fuse_opt_add_arg(&args, "-osubtype=tessaly-medium,ro");
    if (!arguments.source.empty()) {
        const std::string fsname = "-ofsname=" + arguments.source;
        if (arguments.source.find(',') == std::string::npos)
            fuse_opt_add_arg(&args, fsname.c_str());
    }
    fuse_cmdline_opts options{};
    if (fuse_parse_cmdline(&args, &options) != 0 || options.mountpoint == nullptr ||
        arguments.source.empty()) {
        fuse_opt_free_args(&args);
        return usage(argv[0]);
    }
    SimulatedMedium simulated;
    std::string error;
    int status = 0;
    if (!simulated.load(arguments.source, &error)) {
        std::fprintf(stderr, "tessaly-medium: %s\n", error.c_str());
        status = 2;
    }
    const fuse_operations ops = operations();
    fuse* fs = status == 0 ? fuse_new(&args, &ops, sizeof ops, &simulated) : nullptr;
    if (status == 0 && fs == nullptr) status = 2;
    if (status == 0 && fuse_mount(fs, options.mountpoint) != 0) status = 3;
    if (status == 0) {
        fuse_session* session = fuse_get_session(fs);
        if (fuse_set_signal_handlers(session) != 0) {
            status = 4;
        } else {
            std::fprintf(stderr, "tessaly-medium: serving %s at %s\n", arguments.source.c_str(),
                         options.mountpoint);
            const int r = options.singlethread ? fuse_loop(fs) : fuse_loop_mt(fs, 0);
            if (r != 0) status = 4;
            fuse_remove_signal_handlers(session);
        }
        fuse_unmount(fs);
    }
    if (fs != nullptr) fuse_destroy(fs);
    std::free(options.mountpoint);
    fuse_opt_free_args(&args);
    return status;
}

}  // namespace
}  // namespace tessaly

int main(int argc, char** argv)
{
    // Whoever started the medium may die without unmounting it (a crashing test);
    // then the mount must not outlive it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    return tessaly::run(argc, argv);
}
