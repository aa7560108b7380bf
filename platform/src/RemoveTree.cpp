// RemoveDirectoryTreeA: the recursive removal, with the rules of the platform's own DeleteFileA and
// RemoveDirectoryA for every entry (read-only files are kept, entries open without delete sharing
// are kept), walking by descriptor and never through a symbolic link.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Internal.h"

namespace gridplatform {
namespace {

// The first failure of the walk, which the removal reports; the walk goes on after it.
struct Removal {
    DWORD error = 0;
    void note(DWORD code) {
        if (error == 0) error = code;
    }
};

bool removeEntry(int dirfd, const char* name, const struct stat& info, Removal& removal);

// Removes everything inside the open directory `fd` (closed here); true when it is empty.
bool removeChildren(int fd, Removal& removal) {
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        removal.note(win32FromErrno(errno, ErrnoContext::Path));
        ::close(fd);
        return false;
    }
    std::vector<std::string> names;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    bool empty = true;
    for (const std::string& name : names) {
        struct stat info;
        if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            removal.note(win32FromErrno(errno, ErrnoContext::Path));
            empty = false;
            continue;
        }
        if (!removeEntry(::dirfd(dir), name.c_str(), info, removal)) empty = false;
    }
    ::closedir(dir);
    return empty;
}

bool removeEntry(int dirfd, const char* name, const struct stat& info, Removal& removal) {
    const FileKey key{info.st_dev, info.st_ino};
    if (S_ISDIR(info.st_mode)) {
        const int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            removal.note(win32FromErrno(errno, ErrnoContext::Path));
            return false;
        }
        if (!removeChildren(fd, removal)) {
            removal.note(ERROR_DIR_NOT_EMPTY);
            return false;
        }
        if (!shareAllowsDelete(key)) {
            removal.note(ERROR_SHARING_VIOLATION);
            return false;
        }
        if (::unlinkat(dirfd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) {
            removal.note(errno == EEXIST || errno == ENOTEMPTY ? DWORD(ERROR_DIR_NOT_EMPTY)
                                                               : win32FromErrno(errno, ErrnoContext::Path));
            return false;
        }
        return true;
    }
    // A file, or a link of any kind (removed as a link; its target stays).
    if (!S_ISLNK(info.st_mode) && isReadOnlyMode(info.st_mode)) {
        removal.note(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!shareAllowsDelete(key)) {
        removal.note(ERROR_SHARING_VIOLATION);
        return false;
    }
    if (::unlinkat(dirfd, name, 0) != 0 && errno != ENOENT) {
        removal.note(win32FromErrno(errno, ErrnoContext::Path));
        return false;
    }
    return true;
}

// Whether a failed lookup means that there is nothing to remove.
bool nothingThere(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_NETPATH;
}

}  // namespace
}  // namespace gridplatform

using namespace gridplatform;

GRIDPLATFORM_API BOOL RemoveDirectoryTreeA(LPCSTR pathName) {
    const Target t = mapPath(pathName);
    if (t.error) return nothingThere(t.error) ? TRUE : fail(FALSE, t.error);
    std::string path = t.posixString();
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        std::string found;
        const DWORD err = missingOrError(t, errno, &found);
        if (err) return nothingThere(err) ? TRUE : fail(FALSE, err);
        path = found;
        if (::lstat(path.c_str(), &info) != 0) return fail(FALSE, win32FromErrno(errno, ErrnoContext::Path));
    }
    // A share's own directory is not removed: its contents are, and the removal then fails as
    // removing a share root does on Windows.
    if (t.parsed.kind == ParsedPath::Kind::Unc && t.parsed.parts.empty() && S_ISDIR(info.st_mode)) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return fail(FALSE, win32FromErrno(errno, ErrnoContext::Path));
        Removal removal;
        removeChildren(fd, removal);
        return fail(FALSE, removal.error ? removal.error : DWORD(ERROR_ACCESS_DENIED));
    }
    const std::string::size_type slash = path.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    const int parentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) return fail(FALSE, win32FromErrno(errno, ErrnoContext::Path));
    Removal removal;
    removeEntry(parentFd, path.c_str() + slash + 1, info, removal);
    ::close(parentFd);
    return removal.error ? fail(FALSE, removal.error) : TRUE;
}
