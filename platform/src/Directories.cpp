// Calls on folders: creating and removing one, and the current directory.
#include "Internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace gridplatform {
namespace {

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

DWORD existingEntry(const Target& t, Entry* entry) {
    if (t.error) return t.error;
    if (const DWORD err = resolveEntry(t, entry)) return err;
    return entry->exists ? 0 : DWORD(ERROR_FILE_NOT_FOUND);
}

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
    // "." is the process's own directory, not a client's name: only compared, nothing acted on.
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
