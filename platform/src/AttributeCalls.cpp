// GetFileAttributesA(Ex) and SetFileAttributesA; the attribute bits and times themselves are
// Attributes.cpp's.
#include "Internal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

namespace gridplatform {
namespace {

// statx() of an existing target, looked up as written and then without regard to case, following a
// final link beneath the share; with `stored`, the DOS attribute bits stored for it too.
DWORD statName(const Target& t, FileInfo* info, DWORD* stored = nullptr) {
    int e = statTarget(t, true, info, stored);
    if (e == 0) return 0;
    if (e != ENOENT && e != ENOTDIR) return pathError(e);
    Entry entry;
    if (const DWORD err = resolveEntry(t, &entry)) return err;
    if (!entry.exists) return ERROR_FILE_NOT_FOUND;
    const Fd fd(openEntry(entry, O_PATH | O_CLOEXEC));
    if (!fd) return errno == ENOENT ? DWORD(ERROR_FILE_NOT_FOUND) : pathError(errno);
    if ((e = statFd(fd.get(), info))) return pathError(e);
    if (stored) *stored = storedAttributes(fd.get(), nullptr, *info);
    return 0;
}

}  // namespace
}  // namespace gridplatform

using namespace gridplatform;

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
    // An O_PATH descriptor cannot fchmod: its /proc entry names the opened file itself, no name again.
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
