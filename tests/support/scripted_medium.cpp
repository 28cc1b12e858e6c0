#include "tests/support/scripted_medium.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace tessaly::testing {

namespace {

// The bytes of a file in pages: a page never written with anything but zeros reads as
// zeros and takes no memory, so that a test can copy files of many GiB.
class PagedBytes
{
public:
    static constexpr std::uint64_t kPage = 65536;

    std::uint64_t size() const { return m_size; }
    // One past the last byte added or written (what the volume's quota counts): a
    // sparse file's size is not.
    std::uint64_t dataEnd() const { return m_dataEnd; }

    void assign(const std::vector<std::uint8_t>& bytes)
    {
        clear();
        write(0, bytes.data(), bytes.size());
    }
    void clear()
    {
        m_pages.clear();
        m_size = 0;
        m_dataEnd = 0;
    }
    void setSparseSize(std::uint64_t size)
    {
        clear();
        m_size = size;
    }
    // Cuts or extends to length; bytes beyond the old end read as zeros.
    void resize(std::uint64_t length)
    {
        m_pages.erase(m_pages.lower_bound((length + kPage - 1) / kPage), m_pages.end());
        if (const auto last = m_pages.find(length / kPage); last != m_pages.end()) {
            std::fill(last->second.begin() + static_cast<std::ptrdiff_t>(length % kPage),
                      last->second.end(), std::uint8_t{0});
        }
        m_size = length;
        m_dataEnd = length;
    }
    void read(std::uint64_t at, std::uint8_t* out, std::size_t n) const
    {
        while (n > 0) {
            const std::uint64_t inPage = at % kPage;
            const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n, kPage - inPage));
            const auto page = m_pages.find(at / kPage);
            if (page == m_pages.end()) {
                std::memset(out, 0, part);
            } else {
                std::memcpy(out, page->second.data() + inPage, part);
            }
            at += part;
            out += part;
            n -= part;
        }
    }
    void write(std::uint64_t at, const std::uint8_t* in, std::size_t n)
    {
        m_size = std::max(m_size, at + n);
        m_dataEnd = std::max(m_dataEnd, at + n);
        while (n > 0) {
            const std::uint64_t inPage = at % kPage;
            const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n, kPage - inPage));
            auto page = m_pages.find(at / kPage);
            if (page == m_pages.end() && !allZero(in, part))
                page = m_pages.emplace(at / kPage, std::vector<std::uint8_t>(kPage, 0)).first;
            if (page != m_pages.end()) std::memcpy(page->second.data() + inPage, in, part);
            at += part;
            in += part;
            n -= part;
        }
    }
    std::vector<std::uint8_t> slice(std::uint64_t at, std::uint64_t length) const
    {
        if (at >= m_size) return {};
        std::vector<std::uint8_t> out(static_cast<std::size_t>(std::min(length, m_size - at)));
        read(at, out.data(), out.size());
        return out;
    }

private:
    static bool allZero(const std::uint8_t* bytes, std::size_t n)
    {
        static const std::vector<std::uint8_t> zeros(kPage, 0);
        return std::memcmp(bytes, zeros.data(), n) == 0;
    }

    std::map<std::uint64_t, std::vector<std::uint8_t>> m_pages;  // by page number
    std::uint64_t m_size = 0;
    std::uint64_t m_dataEnd = 0;
};

}  // namespace

struct ScriptedMedium::Node
{
    std::uint64_t inode = 0;
    PagedBytes bytes;
    struct Range
    {
        std::uint64_t offset;
        std::uint64_t length;
        int failuresLeft;  // < 0: always fails
    };
    std::vector<Range> damage;
    std::uint64_t written = 0;
    std::vector<std::uint64_t> readOffsets;
    int failedReads = 0;  // reads that failed with damage
    const void* lockedBy = nullptr;  // the open file that holds the lock, if one does
    int syncs = 0;                   // sync calls through any handle of the file
    PagedBytes durable;              // with durability tracked: the bytes on the medium
    std::uint64_t modifiedNs = 0;

    std::uint64_t size() const { return bytes.size(); }
};

struct ScriptedMedium::State
{
    mutable std::mutex mutex;
    std::map<std::string, std::shared_ptr<Node>> files;
    std::set<std::string> folders{"/"};
    std::set<std::string> failingOpens;
    std::map<std::string, std::optional<VolumeInfo>> volumes;
    std::map<std::string, std::optional<std::uint64_t>> fileSizeLimits;  // by path prefix
    std::map<std::string, std::optional<std::string>> serials;           // by path prefix
    std::set<std::string> blockDevices;
    std::uint64_t nextInode = 100;
    bool removed = false;
    std::string removable = "/";  // paths on the removable medium
    std::optional<std::uint64_t> removalBudget;
    std::uint64_t served = 0;
    std::optional<std::uint64_t> quota;
    // Write faults by path, so that they hold for files the code under test creates.
    std::map<std::string, std::uint64_t> writeLimits;  // in bytes written to the node
    std::map<std::string, std::size_t> shortWrites;
    bool freeSpaceUnknown = false;
    std::map<std::string, std::vector<std::string>> listingOrders;
    std::set<std::string> failingListings;
    std::map<std::string, FolderEntry> listedOnly;  // by full path
    std::function<void(const std::string&, const std::string&)> renameHook;
    std::map<std::string, std::function<void(std::uint64_t)>> writeHooks;
    std::map<std::string, std::function<void(std::uint64_t)>> readHooks;
    std::map<std::string, std::string> links;  // symbolic link -> its target as given
    // Power loss. With tracking on, durableFiles holds the names on the medium and each
    // node's durable bytes what of it is there; lossImage is taken at sync point lossAt.
    using Image = std::map<std::string, std::pair<std::shared_ptr<Node>, PagedBytes>>;
    bool tracking = false;
    std::map<std::string, std::shared_ptr<Node>> durableFiles;
    int syncPoints = 0;
    std::optional<int> lossAt;
    std::optional<Image> lossImage;
    std::vector<std::string> failingSyncs;  // path prefixes
    bool foldCase = false;
    std::map<std::string, std::string> spellings;  // with foldCase: key -> the name as made

    // The value set for the longest prefix of path (resolved) among byPrefix's keys.
    template <class T>
    std::optional<T> byLongestPrefix(const std::map<std::string, std::optional<T>>& byPrefix,
                                     const std::string& path) const
    {
        const std::string at = resolve(path, true);
        std::size_t best = 0;
        std::optional<T> found;
        for (const auto& [prefix, value] : byPrefix) {
            if (at.starts_with(prefix) && prefix.size() >= best) {
                best = prefix.size();
                found = value;
            }
        }
        return found;
    }

    // The key a path is kept under: with foldCase the ASCII letters in lower case.
    std::string key(const std::string& path) const
    {
        if (!foldCase) return path;
        std::string folded = path;
        for (char& c : folded) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return folded;
    }

    // The key of path with each link among its folders, and with followLast the
    // link at its last level too, replaced by the link's target. A loop of links
    // ends after 40 steps where it is (nothing is found there).
    std::string resolve(const std::string& path, bool followLast) const
    {
        std::string current = key(path);
        for (int step = 0; step < 40; ++step) {
            bool replaced = false;
            for (std::size_t i = 1; i <= current.size() && !replaced; ++i) {
                if (i < current.size() && current[i] != '/') continue;
                if (i == current.size() && !followLast) break;
                const auto it = links.find(current.substr(0, i));
                if (it == links.end()) continue;
                current = key(it->second) + current.substr(i);
                replaced = true;
            }
            if (!replaced) break;
        }
        return current;
    }

    // Keeps the spelling of each level of path, for listings under foldCase.
    void remember(const std::string& path)
    {
        if (!foldCase) return;
        for (std::size_t i = 1; i <= path.size(); ++i) {
            if (i < path.size() && path[i] != '/') continue;
            spellings.emplace(key(path.substr(0, i)), path.substr(0, i));
        }
    }

    std::string spelled(const std::string& key) const
    {
        const auto it = spellings.find(key);
        return it == spellings.end() ? key : it->second;
    }

    // A file the test made or changed is on the medium at once.
    void settle(const std::string& path)
    {
        const auto node = find(path);
        if (!tracking || !node) return;
        node->durable = node->bytes;
        durableFiles[path] = node;
    }

    Image durableImage() const
    {
        Image image;
        for (const auto& [path, node] : durableFiles) image[path] = {node, node->durable};
        return image;
    }

    // Counts a sync point; the image a power loss right after it would leave is kept
    // when it is the chosen one.
    void countSyncPoint()
    {
        ++syncPoints;
        if (lossAt == syncPoints) lossImage = durableImage();
    }

    // The names in the folder at path (resolved) reach the medium.
    bool syncFolder(const std::string& path)
    {
        if (!folders.count(path) || syncFails(path)) return false;
        if (!tracking) return true;
        const auto inFolder = [&](const std::string& file) { return parentOf(file) == path; };
        std::erase_if(durableFiles, [&](const auto& entry) { return inFolder(entry.first); });
        for (const auto& [file, node] : files) {
            if (inFolder(file)) durableFiles[file] = node;
        }
        countSyncPoint();
        return true;
    }

    bool syncFails(const std::string& path) const
    {
        return std::any_of(failingSyncs.begin(), failingSyncs.end(),
                           [&](const std::string& prefix) { return path.starts_with(prefix); });
    }

    std::uint64_t used() const
    {
        std::uint64_t sum = 0;
        std::set<const Node*> seen;
        for (const auto& [path, node] : files) {
            if (seen.insert(node.get()).second) sum += node->bytes.dataEnd();
        }
        return sum;
    }

    std::optional<VolumeInfo> volumeOf(const std::string& path) const
    {
        std::size_t best = 0;
        std::optional<VolumeInfo> found = VolumeInfo{512, DriveType::Fixed};
        for (const auto& [prefix, volume] : volumes) {
            if (path.starts_with(prefix) && prefix.size() >= best) {
                best = prefix.size();
                found = volume;
            }
        }
        return found;
    }

    std::shared_ptr<Node> find(const std::string& path) const
    {
        const auto it = files.find(path);
        return it == files.end() ? nullptr : it->second;
    }

    static std::string parentOf(const std::string& path)
    {
        const auto slash = path.find_last_of('/');
        if (slash == std::string::npos) return {};
        return slash == 0 ? "/" : path.substr(0, slash);
    }

    void addFolders(const std::string& path)
    {
        for (std::size_t i = 1; i < path.size(); ++i) {
            if (path[i] == '/') folders.insert(path.substr(0, i));
        }
        if (!path.empty() && path.back() != '/') folders.insert(path);
    }

    std::shared_ptr<Node> add(const std::string& named)
    {
        remember(named);
        const std::string path = resolve(named, false);
        addFolders(parentOf(path) + "/");
        auto node = std::make_shared<Node>();
        node->inode = nextInode++;
        files[path] = node;
        return node;
    }
};

namespace {

using Node = ScriptedMedium::Node;
using State = ScriptedMedium::State;

// A folder is known by where its path leads.
FileIdentity folderIdentity(const std::string& resolved)
{
    return {2, std::hash<std::string>{}(resolved)};
}

bool overlaps(std::uint64_t a, std::uint64_t aLength, std::uint64_t b, std::uint64_t bLength)
{
    return a < b + bLength && b < a + aLength;
}

class ScriptedFile : public File
{
public:
    ScriptedFile(std::shared_ptr<State> state, std::shared_ptr<Node> node, std::string path,
                 bool unbuffered, Access access, std::uint32_t sector = 0)
        : m_state(std::move(state)),
          m_node(std::move(node)),
          m_path(std::move(path)),
          m_unbuffered(unbuffered),
          m_access(access),
          m_sector(sector)
    {
    }
    ~ScriptedFile() override
    {
        std::lock_guard lock(m_state->mutex);
        if (m_node->lockedBy == this) m_node->lockedBy = nullptr;
    }
    ScriptedFile(const ScriptedFile&) = delete;
    ScriptedFile& operator=(const ScriptedFile&) = delete;

    bool tryLock() override
    {
        std::lock_guard lock(m_state->mutex);
        if (m_node->lockedBy != nullptr && m_node->lockedBy != this) return false;
        m_node->lockedBy = this;
        return true;
    }

    IoResult read(void* buffer, std::size_t n) override
    {
        runHook(m_state->readHooks);
        std::lock_guard lock(m_state->mutex);
        if (m_access == Access::Write) return {0, EBADF};
        m_node->readOffsets.push_back(m_offset);
        // As with O_DIRECT: whole sectors from a sector boundary, or EINVAL.
        if (m_unbuffered && m_sector != 0 && (m_offset % m_sector != 0 || n % m_sector != 0)) {
            return {0, EINVAL};
        }
        if (const SysError error = damageAt(n)) {
            ++m_node->failedReads;
            return {0, error};
        }
        const std::uint64_t size = m_node->size();
        if (m_offset >= size || n == 0) return {0, 0};
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(n, size - m_offset));
        m_node->bytes.read(m_offset, static_cast<std::uint8_t*>(buffer), count);
        m_offset += count;
        if (onRemovable()) m_state->served += count;
        return {count, 0};
    }

    IoResult write(const void* buffer, std::size_t n) override
    {
        runWriteHook();
        std::lock_guard lock(m_state->mutex);
        if (m_access == Access::Read || m_unbuffered) return {0, EBADF};
        std::size_t count = n;
        if (const auto it = m_state->shortWrites.find(m_path); it != m_state->shortWrites.end()) {
            count = std::min(count, it->second);
        }
        if (const auto it = m_state->writeLimits.find(m_path); it != m_state->writeLimits.end()) {
            const std::uint64_t left = it->second - std::min(it->second, m_node->written);
            count = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
            if (count == 0) return {0, EIO};
        }
        if (m_state->quota) {
            const std::uint64_t end = m_offset + count;
            const std::uint64_t growth =
                end > m_node->bytes.dataEnd() ? end - m_node->bytes.dataEnd() : 0;
            const std::uint64_t used = m_state->used();
            const std::uint64_t free = *m_state->quota > used ? *m_state->quota - used : 0;
            if (growth > free)
                count -= static_cast<std::size_t>(std::min<std::uint64_t>(count, growth - free));
            if (count == 0) return {0, ENOSPC};
        }
        m_node->bytes.write(m_offset, static_cast<const std::uint8_t*>(buffer), count);
        m_offset += count;
        m_node->written += count;
        return {count, 0};
    }

    std::int64_t seek(std::int64_t distance, Whence whence) override
    {
        std::lock_guard lock(m_state->mutex);
        std::int64_t base = 0;
        if (whence == Whence::Current) base = static_cast<std::int64_t>(m_offset);
        if (whence == Whence::End) base = static_cast<std::int64_t>(m_node->size());
        const std::int64_t target = base + distance;
        if (target < 0) return -1;
        m_offset = static_cast<std::uint64_t>(target);
        return target;
    }

    std::int64_t offset() const override
    {
        std::lock_guard lock(m_state->mutex);
        return static_cast<std::int64_t>(m_offset);
    }

    std::int64_t size() override
    {
        std::lock_guard lock(m_state->mutex);
        return static_cast<std::int64_t>(m_node->size());
    }

    bool truncate(std::uint64_t length) override
    {
        std::lock_guard lock(m_state->mutex);
        if (m_access == Access::Read) return false;
        m_node->bytes.resize(length);
        return true;
    }

    bool sync() override
    {
        std::lock_guard lock(m_state->mutex);
        ++m_node->syncs;
        if (m_state->syncFails(m_path)) return false;
        if (m_state->tracking) {
            m_node->durable = m_node->bytes;
            m_state->countSyncPoint();
        }
        return true;
    }

    bool tryLockSeen() override { return tryLock(); }

    std::optional<FileIdentity> identity() override
    {
        std::lock_guard lock(m_state->mutex);
        return FileIdentity{1, m_node->inode};
    }

    std::uint64_t modifiedNs() override
    {
        std::lock_guard lock(m_state->mutex);
        return m_node->modifiedNs;
    }

private:
    void runWriteHook() { runHook(m_state->writeHooks); }

    void runHook(const std::map<std::string, std::function<void(std::uint64_t)>>& hooks)
    {
        std::function<void(std::uint64_t)> hook;
        std::uint64_t at = 0;
        {
            std::lock_guard lock(m_state->mutex);
            const auto it = hooks.find(m_path);
            if (it == hooks.end()) return;
            hook = it->second;
            at = m_offset;
        }
        hook(at);
    }

    // The error of an unbuffered read of n bytes at the file pointer, 0 when it works.
    bool onRemovable() const { return m_path.starts_with(m_state->removable); }

    SysError damageAt(std::size_t n)
    {
        if (m_state->removed && onRemovable()) return ENOMEDIUM;
        const std::uint64_t size = m_node->size();
        const std::uint64_t available =
            m_offset < size ? std::min<std::uint64_t>(n, size - m_offset) : 0;
        if (onRemovable() && m_state->removalBudget &&
            m_state->served + available > *m_state->removalBudget) {
            m_state->removed = true;
            return ENOMEDIUM;
        }
        SysError error = 0;
        for (auto& range : m_node->damage) {
            if (!overlaps(m_offset, n, range.offset, range.length)) continue;
            if (range.failuresLeft < 0) {
                error = EIO;
            } else if (range.failuresLeft > 0) {
                --range.failuresLeft;
                error = EIO;
            }
        }
        return error;
    }

    std::shared_ptr<State> m_state;
    std::shared_ptr<Node> m_node;
    std::string m_path;
    bool m_unbuffered;
    Access m_access;
    std::uint32_t m_sector;  // alignment of unbuffered reads; 0 when the volume has none
    std::uint64_t m_offset = 0;
};

}  // namespace

ScriptedMedium::ScriptedMedium() : m_state(std::make_shared<State>()) {}

ScriptedMedium::~ScriptedMedium() = default;

void ScriptedMedium::addFile(const std::string& path, std::vector<std::uint8_t> bytes)
{
    std::lock_guard lock(m_state->mutex);
    m_state->add(path)->bytes.assign(bytes);
    m_state->settle(m_state->resolve(path, false));
}

void ScriptedMedium::addFile(const std::string& path, const std::string& bytes)
{
    addFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void ScriptedMedium::addSparseFile(const std::string& path, std::uint64_t size)
{
    std::lock_guard lock(m_state->mutex);
    m_state->add(path)->bytes.setSparseSize(size);
    m_state->settle(m_state->resolve(path, false));
}

void ScriptedMedium::writeAt(const std::string& path, std::uint64_t offset,
                             const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard lock(m_state->mutex);
    const std::string at = m_state->resolve(path, true);
    if (const auto node = m_state->find(at)) {
        node->bytes.write(offset, bytes.data(), bytes.size());
        m_state->settle(at);
    }
}

void ScriptedMedium::addFolder(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    m_state->remember(path);
    m_state->addFolders(m_state->resolve(path, false));
}

bool ScriptedMedium::hasFile(const std::string& path) const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->find(m_state->resolve(path, false)) != nullptr;
}

std::vector<std::uint8_t> ScriptedMedium::contents(const std::string& path) const
{
    std::lock_guard lock(m_state->mutex);
    const auto node = m_state->find(m_state->resolve(path, true));
    return node ? node->bytes.slice(0, node->bytes.size()) : std::vector<std::uint8_t>{};
}

std::vector<std::uint8_t> ScriptedMedium::contents(const std::string& path, std::uint64_t offset,
                                                   std::uint64_t length) const
{
    std::lock_guard lock(m_state->mutex);
    const auto node = m_state->find(m_state->resolve(path, true));
    return node ? node->bytes.slice(offset, length) : std::vector<std::uint8_t>{};
}

std::string ScriptedMedium::text(const std::string& path) const
{
    const auto bytes = contents(path);
    return std::string(bytes.begin(), bytes.end());
}

void ScriptedMedium::addLink(const std::string& linkPath, const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    if (const auto node = m_state->find(m_state->resolve(path, true))) {
        m_state->remember(linkPath);
        m_state->files[m_state->resolve(linkPath, false)] = node;
    }
}

void ScriptedMedium::addSymlink(const std::string& linkPath, const std::string& target)
{
    std::lock_guard lock(m_state->mutex);
    m_state->remember(linkPath);
    const std::string at = m_state->resolve(linkPath, false);
    m_state->addFolders(State::parentOf(at) + "/");
    m_state->links[at] = target;
}

void ScriptedMedium::setFoldCase(bool fold)
{
    std::lock_guard lock(m_state->mutex);
    m_state->foldCase = fold;
}

void ScriptedMedium::markBad(const std::string& path, std::uint64_t offset, std::uint64_t length)
{
    std::lock_guard lock(m_state->mutex);
    if (const auto node = m_state->find(m_state->resolve(path, true))) {
        node->damage.push_back({offset, length, -1});
    }
}

void ScriptedMedium::markWeak(const std::string& path, std::uint64_t offset, std::uint64_t length,
                              int failures)
{
    std::lock_guard lock(m_state->mutex);
    if (const auto node = m_state->find(m_state->resolve(path, true))) {
        node->damage.push_back({offset, length, std::max(failures, 0)});
    }
}

void ScriptedMedium::setRemovableMedium(const std::string& prefix)
{
    std::lock_guard lock(m_state->mutex);
    m_state->removable = m_state->key(prefix);
}

void ScriptedMedium::removeMedium()
{
    std::lock_guard lock(m_state->mutex);
    m_state->removed = true;
}

void ScriptedMedium::insertMedium()
{
    std::lock_guard lock(m_state->mutex);
    m_state->removed = false;
    m_state->removalBudget.reset();
}

void ScriptedMedium::setRemovalAfter(std::uint64_t bytes)
{
    std::lock_guard lock(m_state->mutex);
    m_state->removalBudget = m_state->served + bytes;
}

void ScriptedMedium::failOpen(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    m_state->failingOpens.insert(m_state->resolve(path, true));
}

int ScriptedMedium::syncCount(const std::string& path) const
{
    std::lock_guard lock(m_state->mutex);
    const auto node = m_state->find(path);
    return node ? node->syncs : 0;
}

int ScriptedMedium::readCount(const std::string& path) const
{
    return static_cast<int>(readOffsets(path).size());
}

int ScriptedMedium::failedReadCount(const std::string& path) const
{
    std::lock_guard lock(m_state->mutex);
    const auto node = m_state->find(m_state->resolve(path, true));
    return node ? node->failedReads : 0;
}

std::vector<std::uint64_t> ScriptedMedium::readOffsets(const std::string& path) const
{
    std::lock_guard lock(m_state->mutex);
    const auto node = m_state->find(m_state->resolve(path, true));
    return node ? node->readOffsets : std::vector<std::uint64_t>{};
}

void ScriptedMedium::setWriteLimit(const std::string& path, std::uint64_t bytes)
{
    std::lock_guard lock(m_state->mutex);
    const std::string at = m_state->resolve(path, true);
    const auto node = m_state->find(at);
    m_state->writeLimits[at] = (node ? node->written : 0) + bytes;
}

void ScriptedMedium::setShortWrites(const std::string& path, std::size_t maxPerCall)
{
    std::lock_guard lock(m_state->mutex);
    m_state->shortWrites[m_state->resolve(path, true)] = maxPerCall;
}

void ScriptedMedium::setQuota(std::uint64_t bytes)
{
    std::lock_guard lock(m_state->mutex);
    m_state->quota = bytes;
}

void ScriptedMedium::setFreeSpaceUnknown(bool unknown)
{
    std::lock_guard lock(m_state->mutex);
    m_state->freeSpaceUnknown = unknown;
}

void ScriptedMedium::setVolume(const std::string& prefix, std::optional<VolumeInfo> volume)
{
    std::lock_guard lock(m_state->mutex);
    m_state->volumes[m_state->key(prefix)] = volume;
}

void ScriptedMedium::setMaxFileSize(const std::string& prefix, std::optional<std::uint64_t> bytes)
{
    std::lock_guard lock(m_state->mutex);
    m_state->fileSizeLimits[m_state->key(prefix)] = bytes;
}

void ScriptedMedium::setModified(const std::string& path, std::uint64_t ns)
{
    std::lock_guard lock(m_state->mutex);
    const auto found = m_state->files.find(m_state->resolve(path, true));
    if (found != m_state->files.end()) found->second->modifiedNs = ns;
}

void ScriptedMedium::setVolumeSerial(const std::string& prefix, std::optional<std::string> serial)
{
    std::lock_guard lock(m_state->mutex);
    m_state->serials[m_state->key(prefix)] = std::move(serial);
}

std::optional<std::string> ScriptedMedium::volumeSerial(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    return m_state->byLongestPrefix(m_state->serials, path);
}

void ScriptedMedium::markBlockDevice(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    m_state->blockDevices.insert(m_state->resolve(path, true));
}

std::unique_ptr<File> ScriptedMedium::openUnbuffered(const std::string& named, SysError* error)
{
    std::lock_guard lock(m_state->mutex);
    const std::string path = m_state->resolve(named, true);
    SysError why = 0;
    std::shared_ptr<Node> node;
    if (m_state->removed && path.starts_with(m_state->removable)) {
        why = ENOMEDIUM;
    } else if (m_state->failingOpens.count(path)) {
        why = EACCES;
    } else if (m_state->folders.count(path)) {
        why = EISDIR;
    } else if (!(node = m_state->find(path))) {
        why = ENOENT;
    }
    if (error) *error = why;
    if (why != 0) return nullptr;
    const std::optional<VolumeInfo> volume = m_state->volumeOf(path);
    return std::make_unique<ScriptedFile>(m_state, node, path, true, Access::Read,
                                          volume ? volume->bytesPerSector : 0);
}

std::unique_ptr<File> ScriptedMedium::open(const std::string& named, Disposition disposition,
                                           Access access, SysError* error)
{
    std::lock_guard lock(m_state->mutex);
    auto fail = [error](SysError why) {
        if (error) *error = why;
        return nullptr;
    };
    // As the system's open: only a file opened to be read is reached through a link.
    const bool follow = access == Access::Read && disposition == Disposition::OpenExisting;
    const std::string path = m_state->resolve(named, follow);
    if (!follow && m_state->links.count(path)) {
        return fail(disposition == Disposition::CreateNew ? EEXIST : ELOOP);
    }
    if (m_state->removed && path.starts_with(m_state->removable)) return fail(ENOMEDIUM);
    if (m_state->failingOpens.count(path)) return fail(EACCES);
    if (m_state->folders.count(path)) return fail(EISDIR);
    if (m_state->blockDevices.count(path)) return fail(EINVAL);
    std::shared_ptr<Node> node = m_state->find(path);
    if (node && disposition == Disposition::CreateNew) return fail(EEXIST);
    if (!node && disposition == Disposition::OpenExisting) return fail(ENOENT);
    if (!node) {
        if (!m_state->folders.count(State::parentOf(path))) return fail(ENOENT);
        node = std::make_shared<Node>();
        node->inode = m_state->nextInode++;
        m_state->files[path] = node;
        m_state->remember(named);
    } else if (disposition == Disposition::CreateAlways) {
        node->bytes.clear();
    }
    if (error) *error = 0;
    return std::make_unique<ScriptedFile>(m_state, node, path, false, access);
}

bool ScriptedMedium::exists(const std::string& named)
{
    std::lock_guard lock(m_state->mutex);
    const std::string path = m_state->resolve(named, true);
    return m_state->find(path) != nullptr || m_state->folders.count(path) > 0;
}

bool ScriptedMedium::isDirectory(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    return m_state->folders.count(m_state->resolve(path, true)) > 0;
}

bool ScriptedMedium::isSymlink(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    return m_state->links.count(m_state->resolve(path, false)) > 0;
}

bool ScriptedMedium::createDirectory(const std::string& named)
{
    std::lock_guard lock(m_state->mutex);
    const std::string path = m_state->resolve(named, false);
    if (m_state->folders.count(path) || m_state->find(path) || m_state->links.count(path)) {
        return false;
    }
    if (!m_state->folders.count(State::parentOf(path))) return false;
    m_state->remember(named);
    m_state->folders.insert(path);
    return true;
}

bool ScriptedMedium::removeFile(const std::string& named)
{
    std::lock_guard lock(m_state->mutex);
    const std::string path = m_state->resolve(named, false);
    return m_state->files.erase(path) + m_state->links.erase(path) > 0;
}

bool ScriptedMedium::rename(const std::string& namedFrom, const std::string& namedTo)
{
    std::function<void(const std::string&, const std::string&)> hook;
    {
        std::lock_guard lock(m_state->mutex);
        hook = m_state->renameHook;
    }
    if (hook) hook(namedFrom, namedTo);
    std::lock_guard lock(m_state->mutex);
    const std::string from = m_state->resolve(namedFrom, false);
    const std::string to = m_state->resolve(namedTo, false);
    if (m_state->removed &&
        (from.starts_with(m_state->removable) || to.starts_with(m_state->removable)))
        return false;
    const auto node = m_state->find(from);
    if (!node || m_state->folders.count(to) || !m_state->folders.count(State::parentOf(to)))
        return false;
    m_state->files.erase(from);
    m_state->links.erase(to);  // a link at to is replaced, its target is not touched
    m_state->files[to] = node;
    m_state->remember(namedTo);
    m_state->syncFolder(State::parentOf(to));  // as the system's rename does
    return true;
}

bool ScriptedMedium::syncFolder(const std::string& named)
{
    std::lock_guard lock(m_state->mutex);
    return m_state->syncFolder(m_state->resolve(named, true));
}

std::unique_ptr<HeldFolder> ScriptedMedium::openFolder(const std::string& named)
{
    class Folder : public HeldFolder
    {
    public:
        Folder(std::shared_ptr<State> state, std::string path)
            : m_state(std::move(state)), m_path(std::move(path))
        {
        }
        FileIdentity identity() const override { return folderIdentity(m_path); }
        bool sync() override
        {
            std::lock_guard lock(m_state->mutex);
            return m_state->syncFolder(m_path);
        }

    private:
        std::shared_ptr<State> m_state;
        std::string m_path;
    };
    std::lock_guard lock(m_state->mutex);
    std::string at = m_state->resolve(named, true);
    if (!m_state->folders.count(at)) return nullptr;
    return std::make_unique<Folder>(m_state, std::move(at));
}

void ScriptedMedium::trackDurability()
{
    std::lock_guard lock(m_state->mutex);
    m_state->tracking = true;
    m_state->durableFiles = m_state->files;
    for (const auto& [path, node] : m_state->files) node->durable = node->bytes;
    m_state->syncPoints = 0;
    m_state->lossAt.reset();
    m_state->lossImage.reset();
}

int ScriptedMedium::syncPoints() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->syncPoints;
}

void ScriptedMedium::setPowerLossAfter(int n)
{
    std::lock_guard lock(m_state->mutex);
    m_state->lossAt = n;
    m_state->lossImage.reset();
    if (n == m_state->syncPoints) m_state->lossImage = m_state->durableImage();
}

void ScriptedMedium::losePower()
{
    std::lock_guard lock(m_state->mutex);
    const State::Image image = m_state->lossImage ? *m_state->lossImage : m_state->durableImage();
    m_state->files.clear();
    for (const auto& [path, kept] : image) {
        const auto& [node, bytes] = kept;
        node->bytes = bytes;
        node->durable = bytes;
        node->lockedBy = nullptr;
        m_state->files[path] = node;
    }
    m_state->durableFiles = m_state->files;
    m_state->lossAt.reset();
    m_state->lossImage.reset();
}

void ScriptedMedium::failSyncs(const std::string& prefix)
{
    std::lock_guard lock(m_state->mutex);
    m_state->failingSyncs.push_back(m_state->key(prefix));
}

void ScriptedMedium::setRenameHook(
    std::function<void(const std::string& from, const std::string& to)> hook)
{
    std::lock_guard lock(m_state->mutex);
    m_state->renameHook = std::move(hook);
}

void ScriptedMedium::setReadHook(const std::string& path,
                                 std::function<void(std::uint64_t offset)> hook)
{
    std::lock_guard lock(m_state->mutex);
    const std::string at = m_state->resolve(path, true);
    if (hook) {
        m_state->readHooks[at] = std::move(hook);
    } else {
        m_state->readHooks.erase(at);
    }
}

void ScriptedMedium::setWriteHook(const std::string& path,
                                  std::function<void(std::uint64_t offset)> hook)
{
    std::lock_guard lock(m_state->mutex);
    const std::string at = m_state->resolve(path, true);
    if (hook) {
        m_state->writeHooks[at] = std::move(hook);
    } else {
        m_state->writeHooks.erase(at);
    }
}

std::optional<std::uint64_t> ScriptedMedium::freeSpace(const std::string& /*path*/)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->freeSpaceUnknown) return std::nullopt;
    if (!m_state->quota) return std::uint64_t{1} << 40;
    const std::uint64_t used = m_state->used();
    return *m_state->quota > used ? *m_state->quota - used : 0;
}

std::optional<VolumeInfo> ScriptedMedium::volumeInfo(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    return m_state->volumeOf(m_state->resolve(path, true));
}

std::optional<FileIdentity> ScriptedMedium::identity(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    const std::string at = m_state->resolve(path, true);
    if (const auto node = m_state->find(at)) return FileIdentity{1, node->inode};
    if (m_state->folders.count(at)) return folderIdentity(at);
    return std::nullopt;
}

void ScriptedMedium::setListingOrder(const std::string& folder, std::vector<std::string> names)
{
    std::lock_guard lock(m_state->mutex);
    m_state->listingOrders[m_state->resolve(folder, true)] = std::move(names);
}

void ScriptedMedium::failListing(const std::string& folder)
{
    std::lock_guard lock(m_state->mutex);
    m_state->failingListings.insert(m_state->resolve(folder, true));
}

void ScriptedMedium::addListedEntry(const std::string& path, EntryKind kind, bool link)
{
    std::lock_guard lock(m_state->mutex);
    const std::string name = path.substr(path.find_last_of('/') + 1);
    m_state->listedOnly[m_state->resolve(path, false)] = FolderEntry{name, kind, link, 0};
}

bool ScriptedMedium::listFolder(const std::string& named, std::vector<FolderEntry>* entries)
{
    std::lock_guard lock(m_state->mutex);
    const std::string path = m_state->resolve(named, true);
    const auto nameOf = [this](const std::string& full) {
        const std::string spelled = m_state->spelled(full);
        return spelled.substr(spelled.find_last_of('/') + 1);
    };
    entries->clear();
    if (!m_state->folders.count(path) || m_state->failingListings.count(path)) return false;
    if (m_state->removed && path.starts_with(m_state->removable)) return false;
    std::map<std::string, FolderEntry> found;
    for (const auto& [file, node] : m_state->files) {
        if (State::parentOf(file) != path || file == path) continue;
        const std::string name = nameOf(file);
        found[name] = m_state->blockDevices.count(file)
                          ? FolderEntry{name, EntryKind::Other, false, 0}
                          : FolderEntry{name, EntryKind::File, false, node->size()};
    }
    for (const std::string& folder : m_state->folders) {
        if (State::parentOf(folder) != path || folder == path) continue;
        const std::string name = nameOf(folder);
        found[name] = FolderEntry{name, EntryKind::Folder, false, 0};
    }
    for (const auto& [link, target] : m_state->links) {
        if (State::parentOf(link) != path) continue;
        const std::string name = nameOf(link);
        const std::string reached = m_state->resolve(link, true);
        FolderEntry entry{name, EntryKind::Other, true, 0};
        if (m_state->blockDevices.count(reached)) {
            // A link to a device lists as the device does.
        } else if (const auto node = m_state->find(reached)) {
            entry.kind = EntryKind::File;
            entry.size = node->size();
        } else if (m_state->folders.count(reached)) {
            entry.kind = EntryKind::Folder;
        }
        found[name] = entry;
    }
    for (const auto& [full, entry] : m_state->listedOnly) {
        if (State::parentOf(full) == path) found[entry.name] = entry;
    }
    for (const std::string& name : m_state->listingOrders[path]) {
        const auto it = found.find(name);
        if (it == found.end()) continue;
        entries->push_back(it->second);
        found.erase(it);
    }
    for (auto& [name, entry] : found) entries->push_back(std::move(entry));
    return true;
}

std::optional<std::uint64_t> ScriptedMedium::fileSize(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    if (const auto node = m_state->find(m_state->resolve(path, true))) return node->size();
    return std::nullopt;
}

bool ScriptedMedium::isBlockDevice(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    const std::string at = m_state->resolve(path, true);
    return m_state->blockDevices.count(at) > 0 && m_state->find(at) != nullptr;
}

std::optional<std::uint64_t> ScriptedMedium::maxFileSize(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    return m_state->byLongestPrefix(m_state->fileSizeLimits, path);
}

std::optional<std::string> ScriptedMedium::canonicalPath(const std::string& path)
{
    std::lock_guard lock(m_state->mutex);
    std::string resolved = m_state->resolve(path, true);
    while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
    if (!m_state->find(resolved) && !m_state->folders.count(resolved)) return std::nullopt;
    return m_state->spelled(resolved);
}

}  // namespace tessaly::testing
