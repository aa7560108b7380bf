// The second line of defence behind the lexical rules of Path.cpp: a name under the UNC root must
// also resolve inside its share on the file system, where a symbolic link may lead anywhere. Like
// Samba with "wide links = no", links that stay inside the share are followed and links that leave
// it are refused, unless GRIDAPI_WIDE_LINKS=1 allows them. docs/platform.md describes the switch.
#include "Internal.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace gridplatform {

// What is known of a share: its directory, open (O_PATH) so that names resolve beneath it, and
// whether its file system compares names without regard to case already.
struct ShareDir {
    explicit ShareDir(int f) : fd(f) {}
    ~ShareDir() { close(fd); }
    ShareDir(const ShareDir&) = delete;
    ShareDir& operator=(const ShareDir&) = delete;
    const int fd;
    bool caseless = false;
};

namespace {

// Where the share's directory ends in `posix` (root/server/share[/rest]): the index just past the
// share's name, or 0 when `posix` is not a share or below one.
std::size_t shareEnd(std::string_view posix, const std::string& root) {
    if (posix.size() <= root.size() + 1 || posix.compare(0, root.size(), root) != 0 || posix[root.size()] != '/') {
        return 0;
    }
    const std::size_t server = posix.find('/', root.size() + 1);
    if (server == std::string_view::npos || server + 1 >= posix.size()) return 0;
    return std::min(posix.find('/', server + 1), posix.size());
}

bool startsWithDir(const char* path, const char* dir) {
    const std::size_t n = std::strlen(dir);
    return std::strncmp(path, dir, n) == 0 && (path[n] == 0 || path[n] == '/' || (n == 1 && dir[0] == '/'));
}

// Without openat2 (before Linux 5.6, or refused by a seccomp filter): the real path of the longest
// existing head of `posix` must lie in the share's real path.
DWORD insideByRealPath(const char* shareDir, const std::string& posix, std::size_t end) {
    char shareReal[PATH_MAX];
    if (!realpath(shareDir, shareReal)) return 0;
    std::string head = posix;
    while (head.size() > end) {
        char real[PATH_MAX];
        if (realpath(head.c_str(), real)) return startsWithDir(real, shareReal) ? 0 : DWORD(ERROR_ACCESS_DENIED);
        if (errno != ENOENT && errno != ENOTDIR) return 0;  // the call itself meets the same error
        // A dangling link could make a file anywhere: refused, wherever it points.
        struct stat st;
        if (lstat(head.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return ERROR_ACCESS_DENIED;
        head.resize(head.find_last_of('/'));
    }
    return 0;
}

constexpr long kCifsMagic = 0xFF534D42;
constexpr long kSmb2Magic = 0xFE534D42;
constexpr long kSmbMagic = 0x517B;

// A CIFS/SMB mount, or a directory with the case-folding flag (ext4, f2fs), finds names without
// regard to case by itself.
bool caselessFileSystem(const char* path) {
    struct statfs fs;
    if (statfs(path, &fs) == 0 && (fs.f_type == kCifsMagic || fs.f_type == kSmb2Magic || fs.f_type == kSmbMagic)) {
        return true;
    }
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    long flags = 0;
    const bool folded = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
    close(fd);
    return folded;
}

// The shares met so far. An entry is looked at again (the directory's path against the open one)
// once a second at most, so that a share mounted anew is seen within that time.
class ShareDirs {
  public:
    // What is known of the share at `path` (null-terminated, `len` bytes); null when it cannot be opened.
    std::shared_ptr<const ShareDir> get(const char* path, std::size_t len) {
        const auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Entry& e : entries_) {
                if (e.path.size() != len || e.path.compare(0, len, path) != 0) continue;
                if (now - e.checked < std::chrono::seconds(1)) return e.dir;
                e.checked = now;
                if (!sameDirectory(e.dir->fd, path)) e.dir = open_(path);
                return e.dir;
            }
        }
        std::shared_ptr<const ShareDir> dir = open_(path);
        if (!dir) return dir;
        std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.size() < kMaxShares) entries_.push_back({std::string(path, len), dir, now});
        return dir;
    }

  private:
    static constexpr std::size_t kMaxShares = 256;
    struct Entry {
        std::string path;
        std::shared_ptr<const ShareDir> dir;
        std::chrono::steady_clock::time_point checked;
    };

    static std::shared_ptr<const ShareDir> open_(const char* path) {
        const int fd = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        auto dir = std::make_shared<ShareDir>(fd);
        dir->caseless = caselessFileSystem(path);
        return dir;
    }
    static bool sameDirectory(int fd, const char* path) {
        struct stat a, b;
        return fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }

    std::mutex mutex_;
    std::vector<Entry> entries_;
};

ShareDirs g_shareDirs;

// The share `posix` lies in (its directory's path copied to `shareDir`), or null.
std::shared_ptr<const ShareDir> shareOf(std::string_view posix, std::size_t end, char (&shareDir)[PATH_MAX]) {
    if (end == 0 || end >= sizeof shareDir) return nullptr;
    std::memcpy(shareDir, posix.data(), end);
    shareDir[end] = 0;
    return g_shareDirs.get(shareDir, end);
}

}  // namespace

bool wideLinks() {
    static const bool on = [] {
        const char* v = std::getenv("GRIDAPI_WIDE_LINKS");
        return v && std::strcmp(v, "1") == 0;
    }();
    return on;
}

bool needsCaseScan(const std::string& posix) {
    if (!caselessLookups()) return false;
    char shareDir[PATH_MAX];
    const std::shared_ptr<const ShareDir> dir = shareOf(posix, shareEnd(posix, uncRoot()), shareDir);
    return !dir || !dir->caseless;
}

bool needsCaseScan(const Target& target) { return caselessLookups() && (!target.share || !target.share->caseless); }

void attachShare(Target* target) {
    const std::size_t end = shareEnd(target->posixView(), uncRoot());
    char shareDir[PATH_MAX];
    target->share = shareOf(target->posixView(), end, shareDir);
    target->belowShare = target->share ? end : 0;
}

namespace {

// The name below the share, relative to its directory ("." for the share itself).
const char* belowShare(const Target& target) {
    const char* rest = target.posix.c_str() + target.belowShare;
    while (*rest == '/') ++rest;
    return *rest ? rest : ".";
}

// Set once openat2 turns out to be missing or refused: the realpath comparison stands in for it.
std::atomic<bool> g_noOpenat2{false};

}  // namespace

int openTarget(const Target& target, int flags, mode_t mode) {
    if (!target.share || target.checked) return ::open(target.posix.c_str(), flags, mode);
    const char* rest = belowShare(target);
    if (wideLinks()) return ::openat(target.share->fd, rest, flags, mode);
    if (!g_noOpenat2.load(std::memory_order_relaxed)) {
        // RESOLVE_BENEATH refuses ".." above the share, absolute links and links that lead out of
        // it (EXDEV), in the same walk that opens the file: nothing can change in between.
        struct open_how how;
        std::memset(&how, 0, sizeof how);
        how.flags = static_cast<std::uint64_t>(flags);
        how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0;; ++attempt) {
            const long fd = syscall(SYS_openat2, target.share->fd, rest, &how, sizeof how);
            if (fd >= 0) return static_cast<int>(fd);
            // EAGAIN: a rename elsewhere raced with a ".." on the way; the walk is simply made again.
            if (errno == EAGAIN && attempt < 8) continue;
            if (errno != ENOSYS && errno != EPERM) return -1;
            break;
        }
        if (errno == ENOSYS) g_noOpenat2.store(true, std::memory_order_relaxed);
    }
    if (checkInsideShare(target.posixString()) != 0) {
        errno = EXDEV;
        return -1;
    }
    return ::open(target.posix.c_str(), flags, mode);
}

int statTarget(const Target& target, bool followLinks, FileInfo* info) {
    const int follow = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (!target.share || target.checked) return statInfo(AT_FDCWD, target.posix.c_str(), follow, info);
    const char* rest = belowShare(target);
    if (wideLinks()) return statInfo(target.share->fd, rest, follow, info);
    if (!std::strchr(rest, '/')) {
        // A name directly in the share: no directory on the way can be a link, so one statx()
        // beneath the share's directory is the whole lookup unless the name itself is a link.
        const int e = statInfo(target.share->fd, rest, AT_SYMLINK_NOFOLLOW, info);
        if (e || !followLinks || !S_ISLNK(info->mode)) return e;
    }
    const int fd = openTarget(target, O_PATH | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) return errno;
    const int e = statFd(fd, info);
    ::close(fd);
    return e;
}

DWORD checkInsideShare(const std::string& posix) {
    if (wideLinks()) return 0;
    const std::size_t end = shareEnd(posix, uncRoot());
    if (end == 0 || end + 1 >= posix.size()) return 0;  // not below a share: nothing to check
    char shareDir[PATH_MAX];
    const std::shared_ptr<const ShareDir> dir = shareOf(posix, end, shareDir);
    if (!dir) return end >= sizeof shareDir ? DWORD(ERROR_FILENAME_EXCED_RANGE) : 0;  // no such share: 53 or 67

    // RESOLVE_BENEATH refuses ".." above the share, absolute links and links that lead out of it.
    // O_DIRECTORY: a file (the usual case) is resolved all the way, links included, and then
    // refused with ENOTDIR, so that no descriptor is made that would need closing.
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const char* rest = posix.c_str() + end;
    while (*rest == '/') ++rest;
    const long fd = syscall(SYS_openat2, dir->fd, *rest ? rest : ".", &how, sizeof how);
    const int e = fd < 0 ? errno : 0;
    if (fd >= 0) close(static_cast<int>(fd));
    if (e == EXDEV) return ERROR_ACCESS_DENIED;
    if (e == ENOSYS || e == EPERM) return insideByRealPath(shareDir, posix, end);
    // ENOENT: what exists of the name lies inside, and so does anything created there. ENOTDIR:
    // a file, inside (or a file on the way, which the call meets again, as it does a loop or a
    // missing permission).
    return 0;
}

}  // namespace gridplatform
