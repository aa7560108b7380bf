// Where names live on the file system: every name is resolved beneath the directory of its share,
// kept open, by the kernel in the call that uses it (openat2 with RESOLVE_BENEATH), and a name is
// changed only through its parent's descriptor. Like Samba with "wide links = no", links that stay
// inside the share are followed and links that leave it are refused, unless GRIDAPI_WIDE_LINKS=1
// allows them. docs/platform.md describes the rules.
#include "Internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace gridplatform {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

ShareDir::~ShareDir() { ::close(fd); }

ProcPath procPath(int fd, const char* name) {
    ProcPath out("/proc/self/fd/");
    char digits[16];
    int n = 0;
    for (unsigned v = static_cast<unsigned>(fd); n == 0 || v; v /= 10) digits[n++] = static_cast<char>('0' + v % 10);
    while (n) out.push_back(digits[--n]);
    if (name) {
        const std::size_t length = std::strlen(name);
        if (length + 1 > out.capacity() - out.size()) return ProcPath();
        out.push_back('/');
        out.append(name, length);
    }
    return out;
}

namespace {

constexpr long kCifsMagic = 0xFF534D42;
constexpr long kSmb2Magic = 0xFE534D42;
constexpr long kSmbMagic = 0x517B;

// File systems whose files ignore O_NONBLOCK (the kernel's own page-cache paths, which take no
// notice of it for regular files): an open of a file there may keep the flag and save a call.
bool ignoresNonBlocking(int dirfd) {
    constexpr long kLocal[] = {0xEF53 /* ext2/3/4 */, 0x58465342 /* xfs */, 0x9123683E /* btrfs */,
                               0x01021994 /* tmpfs */, 0xF2F52010 /* f2fs */};
    struct statfs fs;
    if (fstatfs(dirfd, &fs) != 0) return false;
    for (const long magic : kLocal) {
        if (fs.f_type == magic) return true;
    }
    return false;
}

// A CIFS/SMB mount, or a directory with the case-folding flag (ext4, f2fs), finds names without
// regard to case by itself.
bool caselessFileSystem(int dirfd) {
    struct statfs fs;
    if (fstatfs(dirfd, &fs) == 0 && (fs.f_type == kCifsMagic || fs.f_type == kSmb2Magic || fs.f_type == kSmbMagic)) {
        return true;
    }
    const Fd fd(openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    long flags = 0;
    return fd && ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
}

// The entry of the directory `dirfd` whose name equals `name` without regard to ASCII case, or empty.
std::string findCaseVariant(int dirfd, std::string_view name) {
    std::string match;
    readDirectory(dirfd, [&](const char* entry) {
        if (std::strlen(entry) != name.size() || strncasecmp(entry, name.data(), name.size()) != 0) return true;
        match = entry;
        return false;
    });
    return match;
}

// Opens the directory `name` of `dirfd` (the UNC root, a server): as written, else under another case.
int openServerPart(int dirfd, std::string_view name) {
    const std::string spelled(name);
    int fd = openat(dirfd, spelled.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && caselessLookups()) {
        const std::string variant = findCaseVariant(dirfd, name);
        if (!variant.empty()) fd = openat(dirfd, variant.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    return fd;
}

// The shares met so far, by their name as spelled. An entry is looked at again (the directory's
// path against the open one) once a second at most, so that a share mounted anew is seen within
// that time.
class ShareDirs {
  public:
    // The share `server`\`share`, whose directory is `path`; null with *error (53, 67) when missing.
    std::shared_ptr<const ShareDir> get(std::string_view path, std::string_view server, std::string_view share,
                                        DWORD* error) {
        const auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Entry& e : entries_) {
                if (e.path != path) continue;
                if (now - e.checked < std::chrono::seconds(1)) return e.dir;
                e.checked = now;
                if (!sameDirectory(e.dir->fd, e.path.c_str())) {
                    std::shared_ptr<const ShareDir> dir = open_(server, share, error);
                    if (!dir) return dir;
                    e.dir = std::move(dir);
                }
                return e.dir;
            }
        }
        std::shared_ptr<const ShareDir> dir = open_(server, share, error);
        if (!dir) return dir;
        std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.size() < kMaxShares) entries_.push_back({std::string(path), dir, now});
        return dir;
    }

  private:
    static constexpr std::size_t kMaxShares = 256;
    struct Entry {
        std::string path;
        std::shared_ptr<const ShareDir> dir;
        std::chrono::steady_clock::time_point checked;
    };

    static std::shared_ptr<const ShareDir> open_(std::string_view server, std::string_view share, DWORD* error) {
        // The operator's configured root, not a client's name; everything below it is opened beneath.
        const Fd root(open(uncRoot().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        const Fd serverDir(root ? openServerPart(root.get(), server) : -1);
        if (!serverDir) {
            *error = ERROR_BAD_NETPATH;
            return nullptr;
        }
        const int fd = openServerPart(serverDir.get(), share);
        if (fd < 0) {
            *error = ERROR_BAD_NET_NAME;
            return nullptr;
        }
        auto dir = std::make_shared<ShareDir>(fd);
        dir->caseless = caselessFileSystem(fd);
        dir->beneath = !wideLinks();
        dir->ignoresNonBlocking = ignoresNonBlocking(fd);
        return dir;
    }
    // path: the operator's configured root (only compared, to notice a replaced share directory).
    static bool sameDirectory(int fd, const char* path) {
        struct stat a, b;
        return fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }

    std::mutex mutex_;
    std::vector<Entry> entries_;
};

ShareDirs g_shareDirs;

// The host's own names (an absolute POSIX name) resolve from "/", which they may not leave anyway.
std::shared_ptr<const ShareDir> hostRoot() {
    static const std::shared_ptr<const ShareDir> root = [] {
        auto dir = std::make_shared<ShareDir>(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        dir->beneath = false;
        dir->isShare = false;
        dir->ignoresNonBlocking = ignoresNonBlocking(dir->fd);
        return dir;
    }();
    return root;
}

// Set once openat2 turns out to be missing or refused (Linux before 5.6, a seccomp filter): the walk
// of openBeneathByParts stands in for it.
std::atomic<bool> g_noOpenat2{false};

// Without openat2: `rel` walked one component at a time with O_NOFOLLOW, so that no link at all is
// followed (one that stays inside is refused too: EXDEV, as for one that leads out).
int openBeneathByParts(int dirfd, const char* rel, int flags, mode_t mode) {
    Fd current;
    int at = dirfd;
    std::string_view rest(rel);
    for (;;) {
        const std::size_t slash = rest.find('/');
        const std::string part(rest.substr(0, slash));
        if (slash == std::string_view::npos || rest.find_first_not_of('/', slash) == std::string_view::npos) {
            const bool directory = slash != std::string_view::npos;
            const int fd = openat(at, part.c_str(), flags | O_NOFOLLOW | (directory ? O_DIRECTORY : 0), mode);
            if (fd < 0 && errno == ELOOP && !(flags & O_NOFOLLOW)) errno = EXDEV;
            return fd;
        }
        const int fd = openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            struct stat st;
            if (errno == ENOTDIR && fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
                errno = EXDEV;
            }
            return -1;
        }
        current = Fd(fd);
        at = fd;
        rest.remove_prefix(slash + 1);
        while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    }
}

}  // namespace

int readDirectory(int dirfd, const std::function<bool(const char* name)>& visit) {
    const Fd fd(openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return errno;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const long n = syscall(SYS_getdents64, fd.get(), buffer.data(), buffer.size());
        if (n <= 0) return n == 0 ? 0 : errno;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.data() + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            if (!visit(name)) return 0;
        }
    }
}

bool wideLinks() {
    static const bool on = [] {
        const char* v = std::getenv("GRIDAPI_WIDE_LINKS");
        return v && std::strcmp(v, "1") == 0;
    }();
    return on;
}

bool needsCaseScan(const ShareDir& share) { return caselessLookups() && !share.caseless; }

const char* Target::below() const {
    const char* rest = posix.c_str() + belowShare;
    while (*rest == '/') ++rest;
    return *rest ? rest : ".";
}

void attachShare(Target* target) {
    const ParsedPath& p = target->parsed;
    if (p.kind != ParsedPath::Kind::Unc) {
        target->share = hostRoot();
        target->belowShare = 0;
        return;
    }
    const std::size_t end = uncRoot().size() + p.server.size() + p.share.size() + 2;
    DWORD error = 0;
    target->share = g_shareDirs.get(target->posixView().substr(0, end), p.server, p.share, &error);
    target->belowShare = end;
    if (!target->share) target->error = error;
}

int openBeneath(const ShareDir& share, const char* rel, int flags, mode_t mode) {
    if (!share.beneath) return openat(share.fd, rel, flags, mode);
    if (!g_noOpenat2.load(std::memory_order_relaxed)) {
        // RESOLVE_BENEATH refuses ".." above the share, absolute links and links that lead out of
        // it (EXDEV), in the same walk that opens the file: nothing can change in between.
        struct open_how how;
        std::memset(&how, 0, sizeof how);
        how.flags = static_cast<std::uint64_t>(flags);
        how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0;; ++attempt) {
            const long fd = syscall(SYS_openat2, share.fd, rel, &how, sizeof how);
            if (fd >= 0) return static_cast<int>(fd);
            // EAGAIN: a rename elsewhere raced with the walk; it is simply made again.
            if (errno == EAGAIN && attempt < 8) continue;
            if (errno != ENOSYS && errno != EPERM) return -1;
            break;
        }
        // EPERM: a seccomp filter's refusal (or a rare real one): this call walks without it.
        if (errno == EPERM) return openBeneathByParts(share.fd, rel, flags, mode);
        g_noOpenat2.store(true, std::memory_order_relaxed);
    }
    return openBeneathByParts(share.fd, rel, flags, mode);
}

int openTarget(const Target& target, int flags, mode_t mode) {
    return openBeneath(*target.share, target.below(), flags, mode);
}

int statTarget(const Target& target, bool followLinks, FileInfo* info, DWORD* stored) {
    const ShareDir& share = *target.share;
    const char* rest = target.below();
    if (!std::strchr(rest, '/') || !share.beneath) {
        // A name directly in the share: no directory on the way can be a link, so one statx()
        // beneath the share's directory is the whole lookup unless the name itself is a link.
        const int follow = share.beneath || !followLinks ? AT_SYMLINK_NOFOLLOW : 0;
        const int e = statInfo(share.fd, rest, follow, info);
        if (e || !followLinks || !S_ISLNK(info->mode)) {
            if (!e && stored) *stored = S_ISLNK(info->mode) ? 0 : storedAttributes(share.fd, rest, *info);
            return e;
        }
    }
    const Fd fd(openBeneath(share, rest, O_PATH | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW)));
    if (!fd) return errno;
    const int e = statFd(fd.get(), info);
    if (!e && stored) *stored = S_ISLNK(info->mode) ? 0 : storedAttributes(fd.get(), nullptr, *info);
    return e;
}

namespace {

// Appends `part` to `rel` after a separator; false when it does not fit.
bool appendPart(PosixPath* rel, std::string_view part) {
    if (rel->size() + part.size() + 1 > rel->capacity()) return false;
    if (!rel->empty()) rel->push_back('/');
    rel->append(part.data(), part.size());
    return true;
}

// Opens the directories `parts` beneath the share, each as written and, where that is missing,
// under another case; `rel` becomes their path as found. The descriptor, or -1 with *error set.
int openParentWithoutCase(const ShareDir& share, const std::string_view* parts, std::size_t count, PosixPath* rel,
                          DWORD* error) {
    Fd current;
    rel->clear();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t mark = rel->size();
        if (!appendPart(rel, parts[i])) {
            *error = ERROR_FILENAME_EXCED_RANGE;
            return -1;
        }
        int fd = openBeneath(share, rel->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            const std::string variant = findCaseVariant(current ? current.get() : share.fd, parts[i]);
            if (variant.empty()) {
                *error = ERROR_PATH_NOT_FOUND;
                return -1;
            }
            rel->resize(mark);
            appendPart(rel, variant);
            fd = openBeneath(share, rel->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        if (fd < 0) {
            const int e = errno;
            *error = e == ENOENT || e == ENOTDIR ? DWORD(ERROR_PATH_NOT_FOUND) : pathError(e);
            return -1;
        }
        current = Fd(fd);
    }
    return current.release();
}

}  // namespace

DWORD resolveEntry(const Target& target, Entry* entry, bool lastMissing) {
    const ShareDir& share = *target.share;
    const ParsedPath& parsed = target.parsed;
    entry->share = target.share;
    entry->rel.clear();
    entry->exists = false;
    if (parsed.parts.empty()) {
        // The share itself: it has no parent here.
        entry->root = true;
        entry->parent = -1;
        entry->rel = ".";
        entry->nameAt = 0;
        if (const int e = statFd(share.fd, &entry->info)) return pathError(e);
        entry->exists = true;
        return 0;
    }
    entry->root = false;
    const bool scan = needsCaseScan(share);
    const std::size_t depth = parsed.parts.size() - 1;
    if (depth == 0) {
        entry->parent = share.fd;
    } else {
        for (std::size_t i = 0; i < depth; ++i) {
            if (!appendPart(&entry->rel, parsed.parts[i])) return ERROR_FILENAME_EXCED_RANGE;
        }
        int fd = openBeneath(share, entry->rel.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            const int e = errno;
            if (e != ENOENT && e != ENOTDIR) return pathError(e);
            if (!scan) return ERROR_PATH_NOT_FOUND;
            DWORD error = 0;
            fd = openParentWithoutCase(share, parsed.parts.data(), depth, &entry->rel, &error);
            if (fd < 0) return error;
        }
        entry->ownParent = Fd(fd);
        entry->parent = fd;
    }
    const std::size_t mark = entry->rel.size();
    const std::string_view last = parsed.parts.back();
    if (!appendPart(&entry->rel, last)) return ERROR_FILENAME_EXCED_RANGE;
    entry->nameAt = entry->rel.size() - last.size();
    int e = lastMissing ? ENOENT : statInfo(entry->parent, entry->name(), AT_SYMLINK_NOFOLLOW, &entry->info);
    if (e == ENOENT && scan) {
        const std::string variant = findCaseVariant(entry->parent, last);
        if (!variant.empty()) {
            entry->rel.resize(mark);
            appendPart(&entry->rel, variant);
            entry->nameAt = entry->rel.size() - variant.size();
            // Gone since the scan: missing, under the name as written.
            e = statInfo(entry->parent, entry->name(), AT_SYMLINK_NOFOLLOW, &entry->info);
            if (e == ENOENT) {
                entry->rel.resize(mark);
                appendPart(&entry->rel, last);
                entry->nameAt = entry->rel.size() - last.size();
            }
        }
    }
    if (e == ENOENT) return 0;
    if (e) return pathError(e);
    entry->exists = true;
    if (parsed.trailingSeparator && !S_ISDIR(entry->info.mode)) {
        // Only a directory, or a link to one inside the share, may be named with a trailing separator.
        FileInfo followed;
        const Fd fd(S_ISLNK(entry->info.mode) ? openEntry(*entry, O_PATH | O_CLOEXEC) : -1);
        if (!fd && errno == EXDEV && S_ISLNK(entry->info.mode)) return ERROR_ACCESS_DENIED;
        if (!fd || statFd(fd.get(), &followed) != 0 || !S_ISDIR(followed.mode)) return ERROR_INVALID_NAME;
    }
    return 0;
}

int openEntry(const Entry& entry, int flags, mode_t mode) {
    return openBeneath(*entry.share, entry.rel.c_str(), flags, mode);
}

int openExisting(const Target& target, int flags, DWORD* error) {
    int fd = openTarget(target, flags);
    if (fd >= 0) return fd;
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) {
        Entry entry;
        if (const DWORD err = resolveEntry(target, &entry)) {
            *error = err;
            return -1;
        }
        if (!entry.exists) {
            *error = ERROR_FILE_NOT_FOUND;
            return -1;
        }
        fd = openEntry(entry, flags);
        if (fd >= 0) return fd;
        e = errno;
    }
    *error = e == ENOENT ? DWORD(ERROR_FILE_NOT_FOUND) : pathError(e);
    return -1;
}

}  // namespace gridplatform
