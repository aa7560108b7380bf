// RemoveDirectoryTreeA: the recursive removal, with the rules of the platform's own DeleteFileA and
// RemoveDirectoryA for every entry (read-only files are kept, entries open without delete sharing
// are kept). It starts from the entry's parent, opened beneath the share, walks by descriptors only
// (never through a symbolic link, which is removed as a link), and keeps its own stack of open
// directories instead of recursing, so that the depth of a tree costs descriptors, not the
// caller's stack. A share itself is never removed or emptied.

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

// Removes a file or a link (as a link: its target stays) of the directory `dirfd`.
bool removeFile(int dirfd, const char* name, const FileInfo& info, Removal& removal) {
    if (!S_ISLNK(info.mode) && isReadOnlyMode(info.mode)) {
        removal.note(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!shareAllowsDelete({info.dev, info.ino})) {
        removal.note(ERROR_SHARING_VIOLATION);
        return false;
    }
    if (::unlinkat(dirfd, name, 0) != 0 && errno != ENOENT) {
        removal.note(errno == EISDIR ? DWORD(ERROR_DIR_NOT_EMPTY) : pathError(errno));
        return false;
    }
    return true;
}

// A directory being emptied: its descriptor, its entries (read once, before any is removed), and
// whether everything in it went.
struct Level {
    DIR* dir = nullptr;
    std::string name;  // in the parent
    FileKey key{};
    std::vector<std::string> entries;
    std::size_t next = 0;
    bool emptied = true;
};

// Opens the directory `name` of `dirfd` (not through a link) into `level`; false with the error noted.
bool openLevel(int dirfd, const std::string& name, const FileInfo& info, Level* level, Removal& removal) {
    const int fd = ::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        // EMFILE: deeper than the descriptors the process may hold; what could be removed was.
        removal.note(errno == EMFILE || errno == ENFILE ? DWORD(ERROR_TOO_MANY_OPEN_FILES) : pathError(errno));
        return false;
    }
    level->dir = ::fdopendir(fd);
    if (!level->dir) {
        removal.note(pathError(errno));
        ::close(fd);
        return false;
    }
    level->name = name;
    level->key = {info.dev, info.ino};
    while (const struct dirent* entry = ::readdir(level->dir)) {
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        level->entries.emplace_back(n);
    }
    return true;
}

// Removes the directory `name` of `parentFd` and everything in it.
void removeTree(int parentFd, const char* name, const FileInfo& info, Removal& removal) {
    std::vector<Level> stack(1);
    if (!openLevel(parentFd, name, info, &stack.back(), removal)) return;
    while (!stack.empty()) {
        Level& level = stack.back();
        const int fd = ::dirfd(level.dir);
        if (level.next < level.entries.size()) {
            const std::string& entry = level.entries[level.next++];
            FileInfo child;
            if (const int e = statInfo(fd, entry.c_str(), AT_SYMLINK_NOFOLLOW, &child)) {
                if (e != ENOENT) {
                    removal.note(pathError(e));
                    level.emptied = false;
                }
                continue;
            }
            if (!S_ISDIR(child.mode)) {
                if (!removeFile(fd, entry.c_str(), child, removal)) level.emptied = false;
                continue;
            }
            Level deeper;
            if (!openLevel(fd, entry, child, &deeper, removal)) {
                level.emptied = false;
                continue;
            }
            stack.push_back(std::move(deeper));
            continue;
        }
        // Everything below was tried: the directory itself goes if it is empty.
        const Level done = std::move(level);
        stack.pop_back();
        const int parent = stack.empty() ? parentFd : ::dirfd(stack.back().dir);
        bool removed = false;
        if (!done.emptied) {
            removal.note(ERROR_DIR_NOT_EMPTY);
        } else if (!shareAllowsDelete(done.key)) {
            removal.note(ERROR_SHARING_VIOLATION);
        } else if (::unlinkat(parent, done.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            removal.note(errno == EEXIST || errno == ENOTEMPTY ? DWORD(ERROR_DIR_NOT_EMPTY) : pathError(errno));
        } else {
            removed = true;
        }
        ::closedir(done.dir);
        if (!removed && !stack.empty()) stack.back().emptied = false;
    }
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
    // A share is never removed, nor emptied: refused before anything is touched.
    if (t.isShareRoot()) return fail(FALSE, ERROR_ACCESS_DENIED);
    Entry entry;
    if (const DWORD err = resolveEntry(t, &entry)) return nothingThere(err) ? TRUE : fail(FALSE, err);
    if (!entry.exists) return TRUE;
    Removal removal;
    if (S_ISDIR(entry.info.mode)) {
        removeTree(entry.parent, entry.name(), entry.info, removal);
    } else {
        removeFile(entry.parent, entry.name(), entry.info, removal);
    }
    return removal.error ? fail(FALSE, removal.error) : TRUE;
}
