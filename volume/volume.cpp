#include "volume/volume.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>

#include "volume/tsk_library.h"
#include "volume/volume_reader.h"

// The library sizes some of its buffers by fields of the image and clears them: a damaged
// or crafted image can make it ask for gigabytes (a folder or an inode's data of 4 GiB)
// and really use them. Every allocation of the library passes through these two
// functions, which it calls through its symbol table, so the program's own definitions
// (exported for it: see volume/CMakeLists.txt) take their place: a request past
// kLargestLibraryBlock fails as an allocation failure does, which the library reports as
// an error of the folder or file it was reading. No real file system's metadata needs a
// single block that large.
namespace {
constexpr std::size_t kLargestLibraryBlock = std::size_t{256} << 20;

// Begins the library's error as a failed allocation of its own does; the caller sets its
// text (formatted by the library: nothing here allocates).
const tessaly::TskLibrary& allocationFailed()
{
    const tessaly::TskLibrary& library = tessaly::tsk();
    library.error_reset();
    library.error_set_errno(TSK_ERR_AUX_MALLOC);
    return library;
}

void refuseBlock(std::size_t len)
{
    allocationFailed().error_set_errstr(
        "the image asks for a block of %zu bytes, more than any real one", len);
}
}  // namespace

extern "C" void* tsk_malloc(std::size_t len)
{
    if (len > kLargestLibraryBlock) {
        refuseBlock(len);
        return nullptr;
    }
    void* block = std::calloc(len, 1);
    if (block == nullptr)
        allocationFailed().error_set_errstr("tsk_malloc: %s (%zu requested)", std::strerror(errno), len);
    return block;
}

extern "C" void* tsk_realloc(void* block, std::size_t len)
{
    if (len > kLargestLibraryBlock) {
        refuseBlock(len);
        return nullptr;
    }
    void* grown = std::realloc(block, len);
    if (grown == nullptr && len != 0)
        allocationFailed().error_set_errstr("tsk_realloc: %s (%zu requested)", std::strerror(errno), len);
    return grown;
}

namespace tessaly {

namespace {

// Folders deeper than this are not entered: no real tree is so deep, a crafted one may be.
constexpr int kDeepestFolder = 256;
// Runs of one file beyond this are taken as unknown bytes rather than kept in memory.
constexpr std::size_t kMostRuns = 1 << 20;

// The library's image: its own structure first, as tsk_img_open_external expects, then
// the reader it reads through.
struct ExternalImage
{
    TSK_IMG_INFO info;
    VolumeReader* reader = nullptr;
};

ssize_t readImage(TSK_IMG_INFO* img, TSK_OFF_T offset, char* buffer, size_t len)
{
    VolumeReader& reader = *reinterpret_cast<ExternalImage*>(img)->reader;
    if (offset < 0 || static_cast<std::uint64_t>(offset) >= reader.size()) return -1;
    return static_cast<ssize_t>(reader.readMetadata(static_cast<std::uint64_t>(offset), buffer, len));
}

void closeImage(TSK_IMG_INFO* img)
{
    delete reinterpret_cast<ExternalImage*>(img);
}

void statImage(TSK_IMG_INFO*, FILE*) {}

std::string libraryError(const char* fallback)
{
    const char* text = tsk().error_get();
    std::string out = text && *text ? text : fallback;
    tsk().error_reset();
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

struct FileCloser
{
    void operator()(TSK_FS_FILE* f) const { tsk().fs_file_close(f); }
};
using FilePtr = std::unique_ptr<TSK_FS_FILE, FileCloser>;
struct DirCloser
{
    void operator()(TSK_FS_DIR* d) const { tsk().fs_dir_close(d); }
};
using DirPtr = std::unique_ptr<TSK_FS_DIR, DirCloser>;

EntryKind kindOf(TSK_FS_META_TYPE_ENUM type)
{
    if (type == TSK_FS_META_TYPE_REG) return EntryKind::File;
    if (type == TSK_FS_META_TYPE_DIR) return EntryKind::Folder;
    return EntryKind::Other;
}

// Appends [from, to) of a file as kind, cut to what the runs so far leave open.
void appendRun(std::vector<DataRun>& runs, std::uint64_t from, std::uint64_t to, RunKind kind,
               std::uint64_t volumeOffset)
{
    const std::uint64_t covered = runs.empty() ? 0 : runs.back().fileOffset + runs.back().length;
    if (to <= covered) return;
    if (from < covered) {
        if (kind == RunKind::Data) volumeOffset += covered - from;
        from = covered;
    }
    if (from > covered) runs.push_back({covered, from - covered, RunKind::Unknown, 0});
    if (!runs.empty() && runs.back().kind == kind && kind != RunKind::Data) {
        runs.back().length += to - from;
        return;
    }
    runs.push_back({from, to - from, kind, volumeOffset});
}

}  // namespace

struct Volume::Impl
{
    explicit Impl(FileSystem& fs) : reader(fs) {}
    ~Impl()
    {
        for (TSK_FS_INFO* f : fileSystems) tsk().fs_close(f);
        if (vs) tsk().vs_close(vs);
        if (img) tsk().img_close(img);
    }

    mutable std::mutex lock;
    VolumeReader reader;
    TSK_IMG_INFO* img = nullptr;
    TSK_VS_INFO* vs = nullptr;
    std::vector<TSK_FS_INFO*> fileSystems;  // by part
    std::vector<VolumePart> parts;
    std::vector<std::pair<std::string, std::string>> unopened;  // name, reason

    // The library keeps what it read in its own cache; once a sector has been read as
    // zeros, every operation must meet it again, so that each one that depends on it
    // learns so.
    void forgetCachedReads()
    {
        if (reader.zeroedMetadata().empty()) return;
        for (std::size_t i = 0; i < TSK_IMG_INFO_CACHE_NUM; ++i) img->cache_len[i] = 0;
    }

    // Starts an operation of the library: what it meets from here on counts for it.
    std::uint64_t begin()
    {
        forgetCachedReads();
        tsk().error_reset();
        return reader.zeroedReads();
    }
    // True when the operation begun at mark met a sector read as zeros, or failed a read
    // (the library may go on with what it has, a folder without entries).
    bool damagedSince(std::uint64_t mark)
    {
        const bool failed = tsk().error_get_errno() != 0;
        tsk().error_reset();
        return failed || reader.zeroedReads() != mark;
    }

    bool openFileSystem(std::uint64_t offset, std::uint64_t length, std::string name);
    void openParts();
    VolumeFileInfo infoOf(TSK_FS_INFO* fs, TSK_FS_FILE* file);
    std::vector<DataRun> runsOf(TSK_FS_INFO* fs, const TSK_FS_ATTR* attr, std::uint64_t size);
    std::optional<FolderListing> list(std::size_t part, std::uint64_t address);
    void walkFolder(std::size_t part, std::uint64_t address, const std::string& path, int depth,
                    std::set<std::uint64_t>& entered, const VolumeWalkSink& sink,
                    const std::atomic<bool>& stop);
};

bool Volume::Impl::openFileSystem(std::uint64_t offset, std::uint64_t length, std::string name)
{
    TSK_FS_INFO* fs = tsk().fs_open_img(img, static_cast<TSK_OFF_T>(offset), TSK_FS_TYPE_DETECT);
    if (!fs) return false;
    fileSystems.push_back(fs);
    parts.push_back({std::move(name), offset, length, tsk().fs_type_toname(fs->ftype)});
    return true;
}

void Volume::Impl::openParts()
{
    vs = tsk().vs_open(img, 0, TSK_VS_TYPE_DETECT);
    tsk().error_reset();
    if (vs) {
        int number = 0;
        for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
            const TSK_VS_PART_INFO* p = tsk().vs_part_get(vs, i);
            if (!p || !(p->flags & TSK_VS_PART_FLAG_ALLOC)) continue;
            const std::string name = "p" + std::to_string(++number);
            const std::uint64_t bs = vs->block_size;
            if (bs == 0 || p->start > reader.size() / bs || p->len > reader.size() / bs ||
                p->start * bs > reader.size() - p->len * bs) {
                unopened.emplace_back(name, "the partition table puts it beyond the volume");
                continue;
            }
            if (!openFileSystem(p->start * bs, p->len * bs, name)) {
                unopened.emplace_back(name, libraryError("no file system the library knows"));
            }
        }
    }
    if (!fileSystems.empty()) {
        if (fileSystems.size() == 1 && unopened.empty()) parts.front().name.clear();
        return;
    }
    // No partition table, or none of its partitions holds a known file system: the
    // volume may be one file system itself.
    auto partNotes = std::move(unopened);
    unopened.clear();
    if (!openFileSystem(0, reader.size(), "")) {
        unopened = std::move(partNotes);
        unopened.emplace_back("", libraryError("no file system the library knows"));
    }
}

std::vector<DataRun> Volume::Impl::runsOf(TSK_FS_INFO* fs, const TSK_FS_ATTR* attr,
                                          std::uint64_t size)
{
    std::vector<DataRun> runs;
    if (!attr || (attr->flags & TSK_FS_ATTR_ENC)) {
        if (size > 0) runs.push_back({0, size, RunKind::Unknown, 0});
        return runs;
    }
    if (!(attr->flags & TSK_FS_ATTR_NONRES) || (attr->flags & TSK_FS_ATTR_COMP)) {
        if (size > 0) runs.push_back({0, size, RunKind::Library, 0});
        return runs;
    }
    const std::uint64_t bs = fs->block_size;
    const std::uint64_t skip = attr->nrd.skiplen;
    const std::uint64_t initialised =
        std::min<std::uint64_t>(size, static_cast<std::uint64_t>(std::max<TSK_OFF_T>(0, attr->nrd.initsize)));
    const std::uint64_t volumeEnd = reader.size();
    const std::uint64_t fsOffset = static_cast<std::uint64_t>(fs->offset);
    const std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::size_t count = 0;
    for (const TSK_FS_ATTR_RUN* r = attr->nrd.run; r && count < kMostRuns; r = r->next, ++count) {
        if (bs == 0 || r->len == 0 || r->offset > kMax / bs || r->len > kMax / bs ||
            r->offset * bs > kMax - r->len * bs) {
            continue;
        }
        const std::uint64_t runStart = r->offset * bs;  // in the attribute, skip included
        const std::uint64_t runEnd = runStart + r->len * bs;
        if (runEnd <= skip) continue;
        const std::uint64_t from = runStart > skip ? runStart - skip : 0;
        const std::uint64_t to = std::min(size, runEnd - skip);
        if (from >= to) continue;
        const std::uint64_t into = from + skip - runStart;  // bytes of the run before from
        RunKind kind = RunKind::Data;
        std::uint64_t volumeOffset = 0;
        if (r->flags & TSK_FS_ATTR_RUN_FLAG_FILLER) {
            kind = RunKind::Unknown;
        } else if (r->flags & TSK_FS_ATTR_RUN_FLAG_SPARSE) {
            kind = RunKind::Zeros;
        } else if (r->addr > volumeEnd / bs || fsOffset > volumeEnd ||
                   r->addr * bs > volumeEnd - fsOffset ||
                   fsOffset + r->addr * bs + into > volumeEnd ||
                   to - from > volumeEnd - (fsOffset + r->addr * bs + into)) {
            kind = RunKind::Unknown;  // a run beyond the volume: a damaged or crafted table
        } else {
            volumeOffset = fsOffset + r->addr * bs + into;
        }
        if (kind == RunKind::Data && from < initialised && to > initialised) {
            appendRun(runs, from, initialised, kind, volumeOffset);
            appendRun(runs, initialised, to, RunKind::Zeros, 0);
        } else {
            appendRun(runs, from, to, from >= initialised && kind == RunKind::Data ? RunKind::Zeros : kind,
                      volumeOffset);
        }
    }
    const std::uint64_t covered = runs.empty() ? 0 : runs.back().fileOffset + runs.back().length;
    if (covered < size) runs.push_back({covered, size - covered, RunKind::Unknown, 0});
    return runs;
}

VolumeFileInfo Volume::Impl::infoOf(TSK_FS_INFO* fs, TSK_FS_FILE* file)
{
    VolumeFileInfo info;
    const TSK_FS_META* meta = file->meta;
    info.address = meta->addr;
    info.kind = kindOf(meta->type);
    info.size = meta->size > 0 ? static_cast<std::uint64_t>(meta->size) : 0;
    info.times = {meta->mtime, meta->atime, meta->ctime, meta->crtime};
    // A damaged or crafted record may claim any size; the library would follow it block
    // by block for hours. No file or folder of a volume is larger than the volume (a
    // sparse file that is would hold mostly nothing, and is left out all the same).
    if (info.kind != EntryKind::Other && info.size > reader.size()) {
        info.problem = "its size (" + std::to_string(info.size) + " bytes) passes the volume's";
        info.kind = EntryKind::Other;
    }
    if (info.kind == EntryKind::Other) {
        info.size = 0;
        return info;
    }
    const std::uint64_t mark = begin();
    const TSK_FS_ATTR* attr = tsk().fs_file_attr_get(file);
    info.metadataDamaged = damagedSince(mark);
    info.runs = runsOf(fs, attr, info.size);
    return info;
}

std::optional<FolderListing> Volume::Impl::list(std::size_t part, std::uint64_t address)
{
    TSK_FS_INFO* fs = fileSystems[part];
    // Opening the library's folder of orphan files searches the whole file system, and on
    // a crafted one the search meets that folder again and waits for itself for ever.
    if (address >= TSK_FS_ORPHANDIR_INUM(fs)) return std::nullopt;
    {
        FilePtr folder(tsk().fs_file_open_meta(fs, nullptr, address));
        tsk().error_reset();
        if (!folder || !folder->meta || folder->meta->size < 0 ||
            static_cast<std::uint64_t>(folder->meta->size) > reader.size()) {
            return std::nullopt;
        }
    }
    const std::uint64_t mark = begin();
    DirPtr dir(tsk().fs_dir_open_meta(fs, address));
    const bool damaged = damagedSince(mark);
    if (!dir) return std::nullopt;
    FolderListing listing;
    listing.complete = !damaged;
    const std::size_t count = tsk().fs_dir_getsize(dir.get());
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t entryMark = begin();
        FilePtr file(tsk().fs_dir_get(dir.get(), i));
        const bool entryDamaged = damagedSince(entryMark);
        if (!file || !file->name) {
            listing.unlisted.push_back("entry " + std::to_string(i + 1));
            listing.complete = false;
            continue;
        }
        const TSK_FS_NAME* name = file->name;
        if (!(name->flags & TSK_FS_NAME_FLAG_ALLOC) || !name->name) continue;
        const std::string text = name->name;
        if (text == "." || text == "..") continue;
        if (file->meta && (file->meta->type == TSK_FS_META_TYPE_VIRT ||
                           file->meta->type == TSK_FS_META_TYPE_VIRT_DIR)) {
            continue;
        }
        // The library shows an exFAT volume's own structures (its allocation bitmap, its
        // up-case table, ...) as files of the root named with a "$" and without a time;
        // a file of the user has a time (exFAT's earliest is 1980).
        if (fs->ftype == TSK_FS_TYPE_EXFAT && address == fs->root_inum && file->meta &&
            file->meta->mtime == 0 && text.starts_with('$')) {
            continue;
        }
        // The library shows a FAT volume's label as an empty file of this name.
        if (TSK_FS_TYPE_ISFAT(fs->ftype) && file->meta && file->meta->size == 0 &&
            text.ends_with(" (Volume Label Entry)")) {
            continue;
        }
        if (!file->meta || text.empty() || text.find('/') != std::string::npos) {
            listing.unlisted.push_back(text);
            listing.complete = false;
            continue;
        }
        VolumeFileInfo info = infoOf(fs, file.get());
        info.metadataDamaged = info.metadataDamaged || entryDamaged;
        listing.entries.emplace_back(text, std::move(info));
    }
    return listing;
}

void Volume::Impl::walkFolder(std::size_t part, std::uint64_t address, const std::string& path,
                              int depth, std::set<std::uint64_t>& entered,
                              const VolumeWalkSink& sink, const std::atomic<bool>& stop)
{
    if (!entered.insert(address).second) {
        if (depth > 0) sink.notListed(path, "the folder is listed already under another name");
        return;
    }
    if (depth > kDeepestFolder) {
        sink.notListed(path, "the folder lies deeper than any real tree");
        return;
    }
    const std::optional<FolderListing> listing = list(part, address);
    if (!listing) {
        sink.notListed(path, "the folder cannot be read");
        return;
    }
    if (!listing->complete) {
        sink.notListed(path, "the folder's metadata is unreadable in part: entries may be missing");
    }
    for (const std::string& name : listing->unlisted) {
        sink.notListed(path + "/" + name, "its metadata cannot be read");
    }
    for (const auto& [name, info] : listing->entries) {
        if (stop.load()) return;
        const std::string child = path + "/" + name;
        sink.entry(child, info);
        if (info.kind == EntryKind::Folder) {
            walkFolder(part, info.address, child, depth + 1, entered, sink, stop);
        }
    }
}

Volume::Volume(std::unique_ptr<Impl> impl) : m(std::move(impl)) {}
Volume::~Volume() = default;

std::unique_ptr<Volume> Volume::open(FileSystem& fs, const std::string& path, RegionSet unreadable,
                                     std::string* error)
{
    if (!loadTsk(error)) return nullptr;
    auto impl = std::make_unique<Impl>(fs);
    SysError openError = 0;
    if (!impl->reader.open(path, &openError)) {
        *error = "cannot open " + path + ": " + std::strerror(openError);
        return nullptr;
    }
    if (impl->reader.size() == 0) {
        *error = path + " is empty";
        return nullptr;
    }
    impl->reader.setUnreadable(std::move(unreadable));
    auto* external = new ExternalImage{};
    external->reader = &impl->reader;
    impl->img = tsk().img_open_external(external, static_cast<TSK_OFF_T>(impl->reader.size()),
                                      impl->reader.sectorSize(), readImage, closeImage, statImage);
    if (!impl->img) {
        delete external;
        *error = libraryError("the library cannot take the volume");
        return nullptr;
    }
    impl->openParts();
    if (impl->fileSystems.empty()) {
        *error = "no file system found in " + path;
        for (const auto& [name, reason] : impl->unopened) {
            *error += "\n  " + (name.empty() ? std::string() : name + ": ") + reason;
        }
        if (impl->reader.metUnreadable()) {
            *error += "\n  sectors the file systems start with are unreadable";
        }
        return nullptr;
    }
    return std::unique_ptr<Volume>(new Volume(std::move(impl)));
}

const std::vector<VolumePart>& Volume::parts() const
{
    return m->parts;
}

const std::vector<std::pair<std::string, std::string>>& Volume::unopenedParts() const
{
    return m->unopened;
}

std::uint64_t Volume::size() const
{
    return m->reader.size();
}

std::uint32_t Volume::sectorSize() const
{
    return m->reader.sectorSize();
}

const RegionSet& Volume::unreadable() const
{
    return m->reader.unreadable();
}

RegionSet Volume::zeroedMetadata() const
{
    std::lock_guard guard(m->lock);
    return m->reader.zeroedMetadata();
}

std::optional<VolumeFileInfo> Volume::lookup(std::size_t part, const std::string& path)
{
    std::lock_guard guard(m->lock);
    if (part >= m->fileSystems.size()) return std::nullopt;
    TSK_FS_INFO* fs = m->fileSystems[part];
    const std::uint64_t mark = m->begin();
    TSK_INUM_T address = fs->root_inum;
    if (path != "/" && !path.empty() && tsk().fs_path2inum(fs, path.c_str(), &address, nullptr) != 0) {
        tsk().error_reset();
        return std::nullopt;
    }
    FilePtr file(tsk().fs_file_open_meta(fs, nullptr, address));
    const bool damaged = m->damagedSince(mark);
    if (!file || !file->meta) return std::nullopt;
    VolumeFileInfo info = m->infoOf(fs, file.get());
    info.metadataDamaged = info.metadataDamaged || damaged;
    return info;
}

std::optional<FolderListing> Volume::listFolder(std::size_t part, std::uint64_t address)
{
    std::lock_guard guard(m->lock);
    if (part >= m->fileSystems.size()) return std::nullopt;
    return m->list(part, address);
}

void Volume::walk(std::size_t part, const std::string& prefix, const VolumeWalkSink& sink,
                  const std::atomic<bool>& stop)
{
    std::lock_guard guard(m->lock);
    if (part >= m->fileSystems.size()) return;
    std::set<std::uint64_t> entered;
    m->walkFolder(part, m->fileSystems[part]->root_inum, prefix, 0, entered, sink, stop);
}

IoResult Volume::readData(std::uint64_t offset, void* buffer, std::size_t len)
{
    std::lock_guard guard(m->lock);
    return m->reader.readData(offset, buffer, len);
}

IoResult Volume::readThroughLibrary(std::size_t part, std::uint64_t address, std::uint64_t offset,
                                    void* buffer, std::size_t len)
{
    std::lock_guard guard(m->lock);
    if (part >= m->fileSystems.size()) return {0, EIO};
    const std::uint64_t mark = m->begin();
    FilePtr file(tsk().fs_file_open_meta(m->fileSystems[part], nullptr, address));
    const ssize_t got = file ? tsk().fs_file_read(file.get(), static_cast<TSK_OFF_T>(offset),
                                                static_cast<char*>(buffer), len,
                                                TSK_FS_FILE_READ_FLAG_NONE)
                             : -1;
    if (m->damagedSince(mark) || got <= 0) return {0, EIO};
    return {static_cast<std::size_t>(got), 0};
}

std::uint64_t Volume::unreadableBytes(const VolumeFileInfo& info) const
{
    if (info.metadataDamaged) return info.size;
    std::uint64_t bytes = 0;
    for (const DataRun& run : info.runs) {
        if (run.kind == RunKind::Unknown) bytes += run.length;
        if (run.kind == RunKind::Data) bytes += unreadable().overlap(run.volumeOffset, run.length);
    }
    return bytes;
}

}  // namespace tessaly
