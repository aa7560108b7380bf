// The handle table, the share-mode bookkeeping and the per-thread last error.
//
// A HANDLE is a number that is never reused while the process runs, so a closed handle stays
// invalid (6) instead of quietly naming a later object. The tables are locked only for the map
// operation itself; no system call runs under either lock.
#include "Internal.h"

#include <unistd.h>

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace gridplatform {
namespace {

thread_local DWORD t_lastError = 0;

std::shared_mutex g_handleMutex;
std::unordered_map<std::uintptr_t, std::shared_ptr<HandleObject>> g_handles;
std::atomic<std::uintptr_t> g_nextHandle{0x1000};

struct ShareState {
    unsigned open = 0;
    unsigned readers = 0;
    unsigned writers = 0;
    unsigned deleters = 0;
    unsigned sharedRead = 0;
    unsigned sharedWrite = 0;
    unsigned sharedDelete = 0;
};

std::mutex g_shareMutex;
std::unordered_map<FileKey, ShareState, FileKeyHash> g_shares;

struct HeldLock {
    const void* owner;
    std::uint64_t offset;
    std::uint64_t length;
    bool exclusive;
};

std::mutex g_lockMutex;
std::unordered_map<FileKey, std::vector<HeldLock>, FileKeyHash> g_locks;
std::atomic<int> g_lockCount{0};

}  // namespace

void lockRegister(const FileKey& key, const void* owner, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    if (!length) return;
    std::lock_guard<std::mutex> lock(g_lockMutex);
    g_locks[key].push_back({owner, offset, length, exclusive});
    g_lockCount.fetch_add(1, std::memory_order_relaxed);
}

void lockUnregister(const FileKey& key, const void* owner, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    if (!length) return;
    std::lock_guard<std::mutex> lock(g_lockMutex);
    auto it = g_locks.find(key);
    if (it == g_locks.end()) return;
    auto& held = it->second;
    for (auto h = held.begin(); h != held.end(); ++h) {
        if (h->owner == owner && h->offset == offset && h->length == length && h->exclusive == exclusive) {
            held.erase(h);
            g_lockCount.fetch_sub(1, std::memory_order_relaxed);
            break;
        }
    }
    if (held.empty()) g_locks.erase(it);
}

void lockUnregisterAll(const FileKey& key, const void* owner) {
    std::lock_guard<std::mutex> lock(g_lockMutex);
    auto it = g_locks.find(key);
    if (it == g_locks.end()) return;
    auto& held = it->second;
    for (auto h = held.begin(); h != held.end();) {
        if (h->owner == owner) {
            h = held.erase(h);
            g_lockCount.fetch_sub(1, std::memory_order_relaxed);
        } else {
            ++h;
        }
    }
    if (held.empty()) g_locks.erase(it);
}

bool anyLocks() { return g_lockCount.load(std::memory_order_relaxed) > 0; }

bool ioConflicts(const FileKey& key, const void* owner, std::uint64_t offset, std::uint64_t length, bool write) {
    if (!length) return false;
    std::lock_guard<std::mutex> lock(g_lockMutex);
    auto it = g_locks.find(key);
    if (it == g_locks.end()) return false;
    for (const HeldLock& h : it->second) {
        if (h.offset >= offset + length || offset >= h.offset + h.length) continue;
        if (h.exclusive ? h.owner != owner : write) return true;
    }
    return false;
}

HANDLE insertHandle(std::shared_ptr<HandleObject> object) {
    const std::uintptr_t value = g_nextHandle.fetch_add(4, std::memory_order_relaxed);
    std::unique_lock<std::shared_mutex> lock(g_handleMutex);
    g_handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> lookupHandle(HANDLE handle, HandleObject::Type type) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    std::shared_lock<std::shared_mutex> lock(g_handleMutex);
    auto it = g_handles.find(value);
    if (it == g_handles.end() || it->second->type != type) return nullptr;
    return it->second;
}

std::shared_ptr<HandleObject> removeHandle(HANDLE handle, HandleObject::Type type) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    std::shared_ptr<HandleObject> object;
    {
        std::unique_lock<std::shared_mutex> lock(g_handleMutex);
        auto it = g_handles.find(value);
        if (it == g_handles.end() || it->second->type != type) return nullptr;
        object = std::move(it->second);
        g_handles.erase(it);
    }
    return object;  // released (and its descriptor closed) outside the lock
}

namespace {

// The name the kernel has for an open descriptor now (renames included), or empty.
std::string currentName(const ProcPath& link) {
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    return n > 0 && static_cast<std::size_t>(n) < sizeof buf ? std::string(buf, static_cast<std::size_t>(n))
                                                             : std::string();
}

}  // namespace

bool openBelow(int parent, const char* name, dev_t dev) {
    // The candidates, kept alive (and their descriptors open) while they are looked at outside the lock.
    std::vector<std::shared_ptr<HandleObject>> pinning;
    {
        std::shared_lock<std::shared_mutex> lock(g_handleMutex);
        for (const auto& entry : g_handles) {
            if (entry.second->pinningFd(dev) >= 0) pinning.push_back(entry.second);
        }
    }
    if (pinning.empty()) return false;
    const std::string parentName = currentName(procPath(parent));
    if (parentName.empty()) return false;
    const std::string folder = (parentName == "/" ? std::string() : parentName) + '/' + name + '/';
    for (const auto& object : pinning) {
        const int fd = object->pinningFd(dev);
        if (fd >= 0 && currentName(procPath(fd)).compare(0, folder.size(), folder) == 0) return true;
    }
    return false;
}

// Windows' rule (IoCheckShareAccess): a new open conflicts when it asks for an access some earlier
// open does not share, or denies an access some earlier open holds.
bool shareAcquire(const FileKey& key, const ShareAccess& a) {
    if (!a.participates()) return true;
    const bool shareRead = a.share & FILE_SHARE_READ;
    const bool shareWrite = a.share & FILE_SHARE_WRITE;
    const bool shareDelete = a.share & FILE_SHARE_DELETE;
    std::lock_guard<std::mutex> lock(g_shareMutex);
    ShareState& s = g_shares[key];
    if (s.open > 0) {
        if ((a.read && s.sharedRead < s.open) || (a.write && s.sharedWrite < s.open) ||
            (a.del && s.sharedDelete < s.open) || (s.readers && !shareRead) || (s.writers && !shareWrite) ||
            (s.deleters && !shareDelete)) {
            return false;
        }
    }
    ++s.open;
    s.readers += a.read;
    s.writers += a.write;
    s.deleters += a.del;
    s.sharedRead += shareRead;
    s.sharedWrite += shareWrite;
    s.sharedDelete += shareDelete;
    return true;
}

void shareRelease(const FileKey& key, const ShareAccess& a) {
    if (!a.participates()) return;
    std::lock_guard<std::mutex> lock(g_shareMutex);
    auto it = g_shares.find(key);
    if (it == g_shares.end()) return;
    ShareState& s = it->second;
    --s.open;
    s.readers -= a.read;
    s.writers -= a.write;
    s.deleters -= a.del;
    s.sharedRead -= (a.share & FILE_SHARE_READ) != 0;
    s.sharedWrite -= (a.share & FILE_SHARE_WRITE) != 0;
    s.sharedDelete -= (a.share & FILE_SHARE_DELETE) != 0;
    if (s.open == 0) g_shares.erase(it);
}

bool shareAllowsDelete(const FileKey& key) {
    std::lock_guard<std::mutex> lock(g_shareMutex);
    auto it = g_shares.find(key);
    return it == g_shares.end() || it->second.sharedDelete == it->second.open;
}

bool shareIsOpen(const FileKey& key) {
    std::lock_guard<std::mutex> lock(g_shareMutex);
    return g_shares.count(key) != 0;
}

}  // namespace gridplatform

GRIDPLATFORM_API DWORD GetLastError(void) { return gridplatform::t_lastError; }

GRIDPLATFORM_API void SetLastError(DWORD errorCode) { gridplatform::t_lastError = errorCode; }
