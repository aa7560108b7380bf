// File information from statx(): attributes and FILETIMEs as Windows reports them.
#include "Internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace gridplatform {
namespace {

constexpr std::uint64_t kEpochDifference = 11644473600ull;  // seconds from 1601-01-01 to 1970-01-01

struct timespec fromStatx(const struct statx_timestamp& t) {
    struct timespec ts;
    ts.tv_sec = t.tv_sec;
    ts.tv_nsec = t.tv_nsec;
    return ts;
}

void fill(const struct statx& sx, FileInfo* info) {
    info->mode = sx.stx_mode;
    info->size = sx.stx_size;
    info->dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    info->ino = sx.stx_ino;
    info->atime = fromStatx(sx.stx_atime);
    info->mtime = fromStatx(sx.stx_mtime);
    info->ctime = fromStatx(sx.stx_ctime);
    info->hasBtime = (sx.stx_mask & STATX_BTIME) != 0;
    if (info->hasBtime) info->btime = fromStatx(sx.stx_btime);
}

bool earlier(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The extended attribute that keeps the DOS attribute bits, as hexadecimal text ("0x80").
constexpr char kAttributeName[] = "user.GridApi.DOSATTRIB";
// What SetFileAttributesA keeps; the others (directory, device, reparse point, ...) are the file's own.
constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                            FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Stored bits by file, valid while the file's change time (which setting an extended attribute
// moves) is the one recorded. Bounded: emptied when full.
struct CachedAttributes {
    struct timespec ctime;
    DWORD stored;
};
std::mutex g_attributeMutex;
std::unordered_map<FileKey, CachedAttributes, FileKeyHash> g_attributes;
constexpr std::size_t kAttributeCacheSize = 4096;

bool unsupported(int err) { return err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS; }

}  // namespace

DWORD storedAttributes(int dirfd, const char* name, const FileInfo& info) {
    const FileKey key{info.dev, info.ino};
    {
        std::lock_guard<std::mutex> lock(g_attributeMutex);
        auto it = g_attributes.find(key);
        if (it != g_attributes.end() && it->second.ctime.tv_sec == info.ctime.tv_sec &&
            it->second.ctime.tv_nsec == info.ctime.tv_nsec) {
            return it->second.stored;
        }
    }
    char text[16];
    // Through the descriptor's entry in /proc: the file it names, not a path resolved again (and not
    // a link's target: the entry itself). Without /proc, nothing is read: the defaults apply.
    const ProcPath path = procPath(dirfd, name);
    errno = ENOENT;
    const ssize_t n = path.empty() ? -1
                      : name       ? ::lgetxattr(path.c_str(), kAttributeName, text, sizeof text - 1)
                                   : ::getxattr(path.c_str(), kAttributeName, text, sizeof text - 1);
    DWORD stored = 0;
    if (n > 0) {
        text[n] = '\0';
        stored = static_cast<DWORD>(std::strtoul(text, nullptr, 16)) & kSettable;
    } else if (errno != ENODATA && !unsupported(errno)) {
        return 0;  // not cached: the next lookup tries again
    }
    std::lock_guard<std::mutex> lock(g_attributeMutex);
    if (g_attributes.size() >= kAttributeCacheSize) g_attributes.clear();
    g_attributes[key] = {info.ctime, stored};
    return stored;
}

int storeAttributes(int fd, DWORD attributes) {
    attributes &= kSettable;
    // NORMAL stands alone; with any other bit it means nothing.
    if (attributes & ~DWORD(FILE_ATTRIBUTE_NORMAL)) attributes &= ~DWORD(FILE_ATTRIBUTE_NORMAL);
    if (!attributes) attributes = FILE_ATTRIBUTE_NORMAL;
    char text[16];
    const int length = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(attributes));
    int rc = ::fsetxattr(fd, kAttributeName, text, static_cast<std::size_t>(length), 0);
    if (rc != 0 && errno == EBADF) {  // an O_PATH descriptor: the file it names, through /proc
        rc = ::setxattr(procPath(fd).c_str(), kAttributeName, text, static_cast<std::size_t>(length), 0);
    }
    if (rc != 0) {
        return unsupported(errno) ? 0 : errno;
    }
    return 0;
}

int statInfo(int dirfd, const char* path, int flags, FileInfo* info) {
    struct statx sx;
    if (statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return errno;
    fill(sx, info);
    return 0;
}

int statFd(int fd, FileInfo* info) { return statInfo(fd, "", AT_EMPTY_PATH, info); }

int fstatInfo(int fd, FileInfo* info) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    info->mode = st.st_mode;
    info->size = static_cast<std::uint64_t>(st.st_size);
    info->dev = st.st_dev;
    info->ino = st.st_ino;
    info->atime = st.st_atim;
    info->mtime = st.st_mtim;
    info->ctime = st.st_ctim;
    info->hasBtime = false;
    return 0;
}

DWORD attributesOf(const FileInfo& info, DWORD stored) {
    if (S_ISDIR(info.mode)) return FILE_ATTRIBUTE_DIRECTORY | (stored & ~DWORD(FILE_ATTRIBUTE_NORMAL));
    DWORD attrs = stored ? stored & ~DWORD(FILE_ATTRIBUTE_READONLY) : DWORD(FILE_ATTRIBUTE_ARCHIVE);
    if (isReadOnlyMode(info.mode)) attrs |= FILE_ATTRIBUTE_READONLY;
    if (attrs & ~DWORD(FILE_ATTRIBUTE_NORMAL)) attrs &= ~DWORD(FILE_ATTRIBUTE_NORMAL);
    return attrs ? attrs : DWORD(FILE_ATTRIBUTE_NORMAL);
}

FILETIME filetimeFromTimespec(const struct timespec& ts) {
    const std::uint64_t ticks = (static_cast<std::uint64_t>(ts.tv_sec) + kEpochDifference) * 10000000ull +
                                static_cast<std::uint64_t>(ts.tv_nsec) / 100;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

FILETIME creationTimeOf(const FileInfo& info) {
    if (info.hasBtime) return filetimeFromTimespec(info.btime);
    return filetimeFromTimespec(earlier(info.ctime, info.mtime) ? info.ctime : info.mtime);
}

}  // namespace gridplatform
