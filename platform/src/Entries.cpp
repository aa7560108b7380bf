// Calls that delete, copy and move what a name holds.
#include "Internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace gridplatform {
namespace {

// Makes what changed in the directory `dirfd` (an O_PATH descriptor) durable.
void syncDirectory(int dirfd) {
    const Fd fd(::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

// Copies the data of one open descriptor to another: copy_file_range(), read()/write() where the
// file systems cannot.
int copyData(int in, int out) {
    bool ranges = true;
    char buffer[1 << 16];
    for (;;) {
        if (ranges) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0) continue;
            if (n == 0) return 0;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
            ranges = false;
        }
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            done += w;
        }
    }
}

// CopyFileA on mapped names; `flush` makes the copy durable before returning.
BOOL copyFile(const Target& from, const Target& to, bool failIfExists, bool flush) {
    const DWORD lastError = GetLastError();  // a copy that succeeds leaves it as it was
    FileInfo info;
    HANDLE in = openFile(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, 0, &info);
    if (in == INVALID_HANDLE_VALUE) return FALSE;
    const int inFd = fileDescriptor(in);
    FileInfo outInfo;
    HANDLE out = openFile(to, GENERIC_WRITE, 0, failIfExists ? CREATE_NEW : CREATE_ALWAYS, 0, &outInfo);
    if (out == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        CloseHandle(in);
        return fail(FALSE, code);
    }
    const int outFd = fileDescriptor(out);
    int e = copyData(inFd, outFd);
    if (!e) {
        // The copy keeps the source's times and attributes (read-only included).
        const struct timespec times[2] = {info.atime, info.mtime};
        if (::futimens(outFd, times) != 0 ||
            ((outInfo.mode & 07777) != (info.mode & 07777) && ::fchmod(outFd, info.mode & 07777) != 0)) {
            e = errno;
        }
    }
    if (!e && flush && ::fsync(outFd) != 0) e = errno;
    CloseHandle(in);
    CloseHandle(out);
    if (e) {
        // Windows leaves no partial copy behind: the entry is removed if it is still the copy.
        Entry entry;
        if (resolveEntry(to, &entry) == 0 && entry.exists && !entry.root && entry.info.dev == outInfo.dev &&
            entry.info.ino == outInfo.ino) {
            ::unlinkat(entry.parent, entry.name(), 0);
        }
        return fail(FALSE, win32FromErrno(e, ErrnoContext::Io));
    }
    SetLastError(lastError);
    return TRUE;
}

}  // namespace
}  // namespace gridplatform

using namespace gridplatform;

GRIDPLATFORM_API BOOL DeleteFileA(LPCSTR fileName) {
    const Target t = mapPath(fileName);
    if (t.error) return fail(FALSE, t.error);
    if (t.isShareRoot()) return fail(FALSE, ERROR_ACCESS_DENIED);
    Entry entry;
    if (const DWORD err = existingEntry(t, &entry)) return fail(FALSE, err);
    const FileInfo& info = entry.info;
    if (S_ISDIR(info.mode)) return fail(FALSE, ERROR_ACCESS_DENIED);
    // Read-only files are not deleted, even for root.
    if (!S_ISLNK(info.mode) && isReadOnlyMode(info.mode)) return fail(FALSE, ERROR_ACCESS_DENIED);
    if (!shareAllowsDelete({info.dev, info.ino})) return fail(FALSE, ERROR_SHARING_VIOLATION);
    if (::unlinkat(entry.parent, entry.name(), 0) != 0) {
        return fail(FALSE, errno == EISDIR ? DWORD(ERROR_ACCESS_DENIED) : pathError(errno));
    }
    return TRUE;
}

GRIDPLATFORM_API BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    const Target from = mapPath(existingFileName);
    if (from.error) return fail(FALSE, from.error);
    const Target to = mapPath(newFileName);
    if (to.error) return fail(FALSE, to.error);
    return copyFile(from, to, failIfExists, false);
}

GRIDPLATFORM_API BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (!newFileName) return fail(FALSE, ERROR_INVALID_PARAMETER);
    const Target from = mapPath(existingFileName);
    if (from.error) return fail(FALSE, from.error);
    const Target to = mapPath(newFileName);
    if (to.error) return fail(FALSE, to.error);
    // A share is never moved, nor anything moved onto one.
    if (from.isShareRoot() || to.isShareRoot()) return fail(FALSE, ERROR_ACCESS_DENIED);

    Entry source;
    if (const DWORD err = existingEntry(from, &source)) return fail(FALSE, err);
    const FileInfo& info = source.info;
    // Renaming needs delete access: every open of the source must share it.
    if (!shareAllowsDelete({info.dev, info.ino})) return fail(FALSE, ERROR_SHARING_VIOLATION);
    // A folder with something open below it that does not share deleting stays where it is.
    if (S_ISDIR(info.mode) && openBelow(source.parent, source.name(), info.dev)) {
        return fail(FALSE, ERROR_ACCESS_DENIED);
    }

    Entry target;
    if (const DWORD err = resolveEntry(to, &target)) return fail(FALSE, err);
    const bool replace = flags & MOVEFILE_REPLACE_EXISTING;
    const char* targetName = target.name();
    int rc;
    if (target.exists) {
        if (target.info.dev == info.dev && target.info.ino == info.ino) {
            // The same file under another case: a rename to the name as the caller spelled it.
            const std::string spelled(to.parsed.parts.back());
            if (source.parent == target.parent && spelled == source.name()) return TRUE;
            rc = ::renameat(source.parent, source.name(), target.parent, spelled.c_str());
        } else {
            if (!replace) return fail(FALSE, ERROR_ALREADY_EXISTS);
            const FileInfo& existing = target.info;
            if (S_ISDIR(existing.mode) || (!S_ISLNK(existing.mode) && isReadOnlyMode(existing.mode)) ||
                shareIsOpen({existing.dev, existing.ino})) {
                return fail(FALSE, ERROR_ACCESS_DENIED);
            }
            rc = ::renameat(source.parent, source.name(), target.parent, targetName);
        }
    } else {
        rc = ::renameat2(source.parent, source.name(), target.parent, targetName, RENAME_NOREPLACE);
    }
    if (rc != 0) {
        const int e = errno;
        if (e == EEXIST) return fail(FALSE, ERROR_ALREADY_EXISTS);
        if (e != EXDEV) return fail(FALSE, e == ENOTEMPTY || e == EISDIR ? DWORD(ERROR_ACCESS_DENIED) : pathError(e));
        // Another file system: a copy and a delete when the caller allows it, for files only.
        if (!(flags & MOVEFILE_COPY_ALLOWED) || S_ISDIR(info.mode)) return fail(FALSE, ERROR_NOT_SAME_DEVICE);
        if (!copyFile(from, to, !replace, (flags & MOVEFILE_WRITE_THROUGH) != 0)) return FALSE;
        // As on Windows, a source that cannot be deleted stays and the move succeeds; one that was
        // replaced meanwhile is not the one copied, and stays too.
        FileInfo now;
        if (statInfo(source.parent, source.name(), AT_SYMLINK_NOFOLLOW, &now) == 0 && now.dev == info.dev &&
            now.ino == info.ino) {
            ::unlinkat(source.parent, source.name(), 0);
        }
        return TRUE;
    }
    if (flags & MOVEFILE_WRITE_THROUGH) {
        syncDirectory(target.parent);
        if (source.parent != target.parent) syncDirectory(source.parent);
    }
    return TRUE;
}
