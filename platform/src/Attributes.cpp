// File information from statx(): attributes and FILETIMEs as Windows reports them.
#include "Internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

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

}  // namespace

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

DWORD attributesOf(const FileInfo& info) {
    DWORD attrs = S_ISDIR(info.mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (isReadOnlyMode(info.mode)) attrs |= FILE_ATTRIBUTE_READONLY;
    return attrs;
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
