#include "volume/tsk_library.h"

#include "platform/shared_library.h"

namespace tessaly {

const char* const kTskSoname = TESSALY_TSK_SONAME;

namespace {

template <typename Function>
bool bind(SharedLibrary& library, Function& function, const char* name)
{
    function = reinterpret_cast<Function>(library.symbol(name));
    return function != nullptr;
}

struct Loaded
{
    SharedLibrary library{kTskSoname};
    TskLibrary functions{};
    bool complete = false;

    Loaded()
    {
        TskLibrary& f = functions;
        SharedLibrary& l = library;
        complete =
            l.loaded() && bind(l, f.error_reset, "tsk_error_reset") &&
            bind(l, f.error_set_errno, "tsk_error_set_errno") &&
            bind(l, f.error_set_errstr, "tsk_error_set_errstr") &&
            bind(l, f.error_get, "tsk_error_get") &&
            bind(l, f.error_get_errno, "tsk_error_get_errno") &&
            bind(l, f.img_open_external, "tsk_img_open_external") &&
            bind(l, f.img_close, "tsk_img_close") && bind(l, f.vs_open, "tsk_vs_open") &&
            bind(l, f.vs_part_get, "tsk_vs_part_get") && bind(l, f.vs_close, "tsk_vs_close") &&
            bind(l, f.fs_open_img, "tsk_fs_open_img") &&
            bind(l, f.fs_type_toname, "tsk_fs_type_toname") &&
            bind(l, f.fs_path2inum, "tsk_fs_path2inum") && bind(l, f.fs_close, "tsk_fs_close") &&
            bind(l, f.fs_file_open_meta, "tsk_fs_file_open_meta") &&
            bind(l, f.fs_file_attr_get, "tsk_fs_file_attr_get") &&
            bind(l, f.fs_file_read, "tsk_fs_file_read") &&
            bind(l, f.fs_file_close, "tsk_fs_file_close") &&
            bind(l, f.fs_dir_open_meta, "tsk_fs_dir_open_meta") &&
            bind(l, f.fs_dir_getsize, "tsk_fs_dir_getsize") &&
            bind(l, f.fs_dir_get, "tsk_fs_dir_get") && bind(l, f.fs_dir_close, "tsk_fs_dir_close");
    }
};

const Loaded& loaded()
{
    static const Loaded once;
    return once;
}

}  // namespace

const TskLibrary* loadTsk(std::string* error)
{
    const Loaded& l = loaded();
    if (l.complete) return &l.functions;
    if (error)
        *error = "The Sleuth Kit (" + std::string(kTskSoname) +
                 ") cannot be loaded: " + l.library.error();
    return nullptr;
}

const TskLibrary& tsk()
{
    return loaded().functions;
}

}  // namespace tessaly
