// Calls on names: directories, attributes, delete, copy, move, temporary names, free space, the
// current directory and the shlwapi path tests.
#include "Internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <cwchar>
#include <string_view>

namespace gridplatform {
namespace {

DWORD pathError(int err) { return win32FromErrno(err, ErrnoContext::Path); }

// statx() of an existing target, looked up as written and then without regard to case, following a
// final link beneath the share; with `stored`, the DOS attribute bits stored for it too.
DWORD statName(const Target& t, FileInfo* info, DWORD* stored = nullptr) {
    int e = statTarget(t, true, info, stored);
    if (e == 0) return 0;
    if (e == EXDEV) return ERROR_ACCESS_DENIED;
    if (e != ENOENT && e != ENOTDIR) return pathError(e);
    Entry entry;
    if (const DWORD err = resolveEntry(t, &entry)) return err;
    if (!entry.exists) return ERROR_FILE_NOT_FOUND;
    const Fd fd(openEntry(entry, O_PATH | O_CLOEXEC));
    if (!fd) return errno == EXDEV ? DWORD(ERROR_ACCESS_DENIED) : errno == ENOENT ? DWORD(ERROR_FILE_NOT_FOUND) : pathError(errno);
    if ((e = statFd(fd.get(), info))) return pathError(e);
    if (stored) *stored = storedAttributes(fd.get(), nullptr, *info);
    return 0;
}

// An existing entry, resolved beneath its share and not followed if it is a link.
DWORD existingEntry(const Target& t, Entry* entry) {
    if (t.error) return t.error;
    if (const DWORD err = resolveEntry(t, entry)) return err;
    return entry->exists ? 0 : DWORD(ERROR_FILE_NOT_FOUND);
}

// Makes what changed in the directory `dirfd` (an O_PATH descriptor) durable.
void syncDirectory(int dirfd) {
    const Fd fd(::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

BOOL createDirectory(const Target& t) {
    if (t.error) return fail(FALSE, t.error);
    if (t.isShareRoot()) return fail(FALSE, ERROR_ALREADY_EXISTS);
    Entry entry;
    if (const DWORD err = resolveEntry(t, &entry)) {
        return fail(FALSE, err == ERROR_INVALID_NAME ? DWORD(ERROR_ALREADY_EXISTS) : err);
    }
    // A name that exists in any form, a link included (dangling or not), is not created through.
    if (entry.exists) return fail(FALSE, ERROR_ALREADY_EXISTS);
    if (::mkdirat(entry.parent, entry.name(), 0777) != 0) {
        return fail(FALSE, errno == EEXIST ? DWORD(ERROR_ALREADY_EXISTS) : pathError(errno));
    }
    return TRUE;
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

// The Win32 form of a parsed path, as GetCurrentDirectoryA reports it.
std::string win32FromParsed(const ParsedPath& p) {
    std::string out;
    if (p.kind == ParsedPath::Kind::Unc) {
        out.append("\\\\").append(p.server).append(1, '\\').append(p.share);
        for (std::string_view part : p.parts) out.append(1, '\\').append(part);
        if (p.parts.empty()) out += '\\';
    } else {
        for (std::string_view part : p.parts) out.append(1, '/').append(part);
        if (out.empty()) out = "/";
    }
    return out;
}

}  // namespace
}  // namespace gridplatform

using namespace gridplatform;

GRIDPLATFORM_API BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
    return createDirectory(mapPath(pathName, false, NameLimit::Folder));
}

GRIDPLATFORM_API BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
    if (!pathName) return fail(FALSE, ERROR_PATH_NOT_FOUND);
    std::string utf8;
    for (const wchar_t* p = pathName; *p; ++p) {
        const auto c = static_cast<std::uint32_t>(*p);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x110000) {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            return fail(FALSE, ERROR_INVALID_NAME);
        }
    }
    return createDirectory(mapPath(utf8.c_str(), false, NameLimit::Folder));  // counts characters
}

GRIDPLATFORM_API BOOL RemoveDirectoryA(LPCSTR pathName) {
    const Target t = mapPath(pathName);
    if (t.error) return fail(FALSE, t.error);
    if (t.isShareRoot()) return fail(FALSE, ERROR_ACCESS_DENIED);  // a share is never removed
    Entry entry;
    if (const DWORD err = existingEntry(t, &entry)) return fail(FALSE, err);
    const FileInfo& info = entry.info;
    if (!S_ISDIR(info.mode)) return fail(FALSE, ERROR_DIRECTORY);
    // A read-only folder (the bit SetFileAttributesA stored) is not removed, as on Windows.
    if (storedAttributes(entry.parent, entry.name(), info) & FILE_ATTRIBUTE_READONLY) {
        return fail(FALSE, ERROR_ACCESS_DENIED);
    }
    if (!shareAllowsDelete({info.dev, info.ino})) return fail(FALSE, ERROR_SHARING_VIOLATION);
    // The process's current directory is in use, as Windows' open handle to it is.
    struct stat cwd;
    if (::stat(".", &cwd) == 0 && cwd.st_dev == info.dev && cwd.st_ino == info.ino) {
        return fail(FALSE, ERROR_SHARING_VIOLATION);
    }
    if (::unlinkat(entry.parent, entry.name(), AT_REMOVEDIR) != 0) {
        const int e = errno;
        return fail(FALSE, e == EEXIST || e == ENOTEMPTY ? DWORD(ERROR_DIR_NOT_EMPTY)
                           : e == ENOTDIR                ? DWORD(ERROR_DIRECTORY)
                                                         : pathError(e));
    }
    return TRUE;
}

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

GRIDPLATFORM_API DWORD GetFileAttributesA(LPCSTR fileName) {
    const Target t = mapPath(fileName);
    if (t.error) return fail(INVALID_FILE_ATTRIBUTES, t.error);
    FileInfo info;
    DWORD stored = 0;
    if (const DWORD err = statName(t, &info, &stored)) return fail(INVALID_FILE_ATTRIBUTES, err);
    return attributesOf(info, stored);
}

GRIDPLATFORM_API BOOL GetFileAttributesExA(LPCSTR fileName, GET_FILEEX_INFO_LEVELS infoLevelId,
                                           LPVOID fileInformation) {
    if (infoLevelId != GetFileExInfoStandard) return fail(FALSE, ERROR_INVALID_PARAMETER);
    const Target t = mapPath(fileName);
    if (t.error) return fail(FALSE, t.error);
    FileInfo info;
    DWORD stored = 0;
    if (const DWORD err = statName(t, &info, &stored)) return fail(FALSE, err);
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(fileInformation);
    data->dwFileAttributes = attributesOf(info, stored);
    data->ftCreationTime = creationTimeOf(info);
    data->ftLastAccessTime = filetimeFromTimespec(info.atime);
    data->ftLastWriteTime = filetimeFromTimespec(info.mtime);
    const std::uint64_t size = S_ISDIR(info.mode) ? 0 : info.size;
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    return TRUE;
}

GRIDPLATFORM_API BOOL SetFileAttributesA(LPCSTR fileName, DWORD fileAttributes) {
    const Target t = mapPath(fileName);
    if (t.error) return fail(FALSE, t.error);
    // The file itself, open (a link followed beneath the share, without blocking on a pipe): its mode
    // and extended attribute are changed through the descriptor. Without read permission, or for
    // what cannot be opened so (a socket), an O_PATH descriptor serves, through /proc/self/fd.
    DWORD error = 0;
    Fd fd(openExisting(t, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, &error));
    const bool byPath = !fd && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                                error == ERROR_NOT_READY || error == ERROR_GEN_FAILURE);
    if (byPath) fd = Fd(openExisting(t, O_PATH | O_CLOEXEC, &error));
    if (!fd) return fail(FALSE, error);
    FileInfo info;
    if (const int e = statFd(fd.get(), &info)) return fail(FALSE, pathError(e));
    const ProcPath self = procPath(fd.get());
    const auto changeMode = [&](mode_t mode) {
        return (byPath ? ::chmod(self.c_str(), mode) : ::fchmod(fd.get(), mode)) == 0 ? 0 : errno;
    };
    // The bits are kept in an extended attribute. A file's read-only bit is also its write
    // permission; a directory's is only stored, as Wine does (it would stop files being created in it).
    if (S_ISDIR(info.mode)) {
        if (const int e = storeAttributes(fd.get(), fileAttributes)) return fail(FALSE, pathError(e));
        return TRUE;
    }
    const mode_t before = info.mode & 07777;
    mode_t mode = before;
    if (fileAttributes & FILE_ATTRIBUTE_READONLY) {
        mode &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if (isReadOnlyMode(mode)) {
        mode |= S_IWUSR;
    }
    // Writing the extended attribute needs write permission: the file is writable while it is stored.
    mode_t now = before;
    if (isReadOnlyMode(before)) {
        now = mode == before ? before | S_IWUSR : mode;
        if (const int e = changeMode(now)) return fail(FALSE, pathError(e));
    }
    const int stored = storeAttributes(fd.get(), fileAttributes);
    if (mode != now) {
        if (const int e = changeMode(mode)) return fail(FALSE, pathError(e));
    }
    if (stored) return fail(FALSE, pathError(stored));
    return TRUE;
}

namespace {

// An existing directory, open (O_PATH) beneath its share; -1 with *error (267 for a file).
int openDirectory(const Target& t, DWORD* error) {
    if (t.error) {
        *error = t.error;
        return -1;
    }
    Fd fd(openExisting(t, O_PATH | O_CLOEXEC, error));
    if (!fd) return -1;
    FileInfo info;
    if (const int e = statFd(fd.get(), &info)) {
        *error = pathError(e);
        return -1;
    }
    if (!S_ISDIR(info.mode)) {
        *error = ERROR_DIRECTORY;
        return -1;
    }
    return fd.release();
}

DWORD statDirectory(const char* path, struct statvfs* vfs) {
    const std::string cwd = currentDirectory();
    DWORD error = 0;
    const Fd fd(openDirectory(mapPath(path ? path : cwd.c_str()), &error));
    if (!fd) return error;
    if (::fstatvfs(fd.get(), vfs) != 0) return pathError(errno);
    return 0;
}

DWORD clampDword(std::uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(v); }

}  // namespace

GRIDPLATFORM_API BOOL GetDiskFreeSpaceA(LPCSTR rootPathName, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                                        LPDWORD numberOfFreeClusters, LPDWORD totalNumberOfClusters) {
    struct statvfs vfs;
    if (const DWORD err = statDirectory(rootPathName, &vfs)) return fail(FALSE, err);
    const std::uint64_t cluster = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    const std::uint64_t sector = cluster % 512 == 0 ? 512 : cluster;
    if (sectorsPerCluster) *sectorsPerCluster = static_cast<DWORD>(cluster / sector);
    if (bytesPerSector) *bytesPerSector = static_cast<DWORD>(sector);
    if (numberOfFreeClusters) *numberOfFreeClusters = clampDword(vfs.f_bavail);
    if (totalNumberOfClusters) *totalNumberOfClusters = clampDword(vfs.f_blocks);
    return TRUE;
}

GRIDPLATFORM_API BOOL GetDiskFreeSpaceExA(LPCSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                                          PULARGE_INTEGER totalNumberOfBytes, PULARGE_INTEGER totalNumberOfFreeBytes) {
    struct statvfs vfs;
    if (const DWORD err = statDirectory(directoryName, &vfs)) return fail(FALSE, err);
    const std::uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    if (freeBytesAvailableToCaller) freeBytesAvailableToCaller->QuadPart = unit * vfs.f_bavail;
    if (totalNumberOfBytes) totalNumberOfBytes->QuadPart = unit * vfs.f_blocks;
    if (totalNumberOfFreeBytes) totalNumberOfFreeBytes->QuadPart = unit * vfs.f_bfree;
    return TRUE;
}

GRIDPLATFORM_API UINT GetTempFileNameA(LPCSTR pathName, LPCSTR prefixString, UINT unique, LPSTR tempFileName) {
    if (!pathName || !tempFileName) return fail(0u, ERROR_INVALID_PARAMETER);
    std::string base = pathName;
    if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
    if (prefixString) base.append(prefixString, strnlen(prefixString, 3));
    if (base.size() + 8 >= MAX_PATH) return fail(0u, ERROR_BUFFER_OVERFLOW);
    auto nameFor = [&](unsigned n) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", n);
        return base + hex + ".tmp";
    };
    unique &= 0xFFFF;
    // The folder must be a directory that exists, also when only the name is formed: else 267.
    DWORD error = 0;
    const Fd folder(openDirectory(mapPath(pathName), &error));
    if (!folder) {
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
        return fail(0u, missing ? DWORD(ERROR_DIRECTORY) : error);
    }
    if (unique) {
        std::strcpy(tempFileName, nameFor(unique).c_str());
        return unique;
    }
    const std::string prefix = prefixString ? std::string(prefixString, strnlen(prefixString, 3)) : std::string();
    if (prefix.find_first_of("\\/<>:\"|*?") != std::string::npos ||
        std::any_of(prefix.begin(), prefix.end(), [](char c) { return static_cast<unsigned char>(c) < 32; })) {
        return fail(0u, ERROR_INVALID_NAME);  // no name made of it could be created in the folder
    }
    // The folder is read once: the numbers whose names it holds already, in any case, are passed
    // over without a try, so a folder full of them costs one read, not one scan per number.
    std::unordered_set<std::string> taken;
    readDirectory(folder.get(), [&](const char* name) {
        std::string folded(name);
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        taken.insert(std::move(folded));
        return true;
    });
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch();
    unsigned n = static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(ticks).count()) & 0xFFFF;
    for (unsigned tries = 0; tries < 0xFFFF; ++tries, n = (n + 1) & 0xFFFF) {
        if (n == 0) continue;
        char name[16];
        std::snprintf(name, sizeof name, "%s%X.tmp", prefix.c_str(), n);
        std::string folded(name);
        for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (taken.count(folded)) continue;
        // Made in the folder's own descriptor: never through a link, never elsewhere.
        const int fd = ::openat(folder.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;  // made meanwhile
            return fail(0u, pathError(errno));
        }
        ::close(fd);
        std::strcpy(tempFileName, nameFor(n).c_str());
        return n;
    }
    return fail(0u, ERROR_FILE_EXISTS);
}

GRIDPLATFORM_API DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer) {
    const std::string cwd = currentDirectory();
    if (!buffer || bufferLength < cwd.size() + 1) return static_cast<DWORD>(cwd.size() + 1);
    std::memcpy(buffer, cwd.c_str(), cwd.size() + 1);
    return static_cast<DWORD>(cwd.size());
}

GRIDPLATFORM_API BOOL SetCurrentDirectoryA(LPCSTR pathName) {
    const Target t = mapPath(pathName);
    DWORD error = 0;
    const Fd fd(openDirectory(t, &error));
    if (!fd) return fail(FALSE, error == ERROR_INVALID_NAME ? DWORD(ERROR_DIRECTORY) : error);
    if (::fchdir(fd.get()) != 0) return fail(FALSE, pathError(errno));
    setCurrentDirectory(win32FromParsed(t.parsed));
    return TRUE;
}

GRIDPLATFORM_API BOOL PathFileExistsA(LPCSTR path) {
    if (!path) return FALSE;
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

GRIDPLATFORM_API BOOL PathIsDirectoryA(LPCSTR path) {
    if (!path) return FALSE;
    const DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) return FALSE;
    return attrs & FILE_ATTRIBUTE_DIRECTORY;
}

GRIDPLATFORM_API BOOL PathIsDirectoryEmptyA(LPCSTR path) {
    if (!path || std::strlen(path) >= MAX_PATH - 2 || !PathIsDirectoryA(path)) return FALSE;
    std::string pattern = path;
    if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    BOOL empty = TRUE;
    do {
        if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
            empty = FALSE;
            break;
        }
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return empty;
}
