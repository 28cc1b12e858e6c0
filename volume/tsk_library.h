#pragma once

#include <tsk/libtsk.h>

#include <string>

namespace tessaly {

// The soname The Sleuth Kit is loaded by (as the build found it).
extern const char* const kTskSoname;

// The functions of The Sleuth Kit that the volumes call. The library and the many
// libraries it depends on are loaded when the first volume is opened, not at every
// program's start. Its allocations still come from the volume layer (volume.cpp): the
// programs export tsk_malloc and tsk_realloc, which the library's calls find first.
struct TskLibrary
{
    decltype(&::tsk_error_reset) error_reset;
    decltype(&::tsk_error_set_errno) error_set_errno;
    decltype(&::tsk_error_set_errstr) error_set_errstr;
    decltype(&::tsk_error_get) error_get;
    decltype(&::tsk_error_get_errno) error_get_errno;
    decltype(&::tsk_img_open_external) img_open_external;
    decltype(&::tsk_img_close) img_close;
    decltype(&::tsk_vs_open) vs_open;
    decltype(&::tsk_vs_part_get) vs_part_get;
    decltype(&::tsk_vs_close) vs_close;
    decltype(&::tsk_fs_open_img) fs_open_img;
    decltype(&::tsk_fs_type_toname) fs_type_toname;
    decltype(&::tsk_fs_path2inum) fs_path2inum;
    decltype(&::tsk_fs_close) fs_close;
    decltype(&::tsk_fs_file_open_meta) fs_file_open_meta;
    decltype(&::tsk_fs_file_attr_get) fs_file_attr_get;
    decltype(&::tsk_fs_file_read) fs_file_read;
    decltype(&::tsk_fs_file_close) fs_file_close;
    decltype(&::tsk_fs_dir_open_meta) fs_dir_open_meta;
    decltype(&::tsk_fs_dir_getsize) fs_dir_getsize;
    decltype(&::tsk_fs_dir_get) fs_dir_get;
    decltype(&::tsk_fs_dir_close) fs_dir_close;
};

// Loads the library at the first call; nullptr, with the reason in *error, when it or one
// of its functions cannot be found.
const TskLibrary* loadTsk(std::string* error);
// The library that loadTsk has loaded: for the code that runs only while a volume is open.
const TskLibrary& tsk();

}  // namespace tessaly
