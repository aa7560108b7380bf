// FindFirstFileA / FindNextFileA / FindClose over opendir()/readdir().
#include "Internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace gridplatform {
namespace {

struct FindObject : HandleObject {
    FindObject() : HandleObject(Type::Find) {}
    ~FindObject() override {
        if (dir) closedir(dir);
    }
    DIR* dir = nullptr;  // null: a search for one name, already answered
    std::shared_ptr<const ShareDir> share;
    std::string dirRel;  // the directory below the share, as found ("." for the share itself)
    std::string pattern;
    int stage = 0;  // 0: ".", 1: "..", 2: the directory's entries
    bool dotDot = true;
};

// The find data of the entry `name` of the search's directory: a link is followed only beneath the
// share. 0, or the errno that leaves the entry out of a listing: EXDEV for a link leading out of the
// share, ENOENT for one leading nowhere or an entry gone since readdir.
int describe(const FindObject& f, const char* name, WIN32_FIND_DATAA* data) {
    const int dfd = dirfd(f.dir);
    FileInfo info;
    DWORD stored = 0;
    if (const int e = statInfo(dfd, name, AT_SYMLINK_NOFOLLOW, &info)) return e;
    if (S_ISLNK(info.mode)) {
        const std::string rel = f.dirRel == "." ? std::string(name) : f.dirRel + '/' + name;
        const Fd fd(openBeneath(*f.share, rel.c_str(), O_PATH | O_CLOEXEC));
        if (!fd) return errno;
        if (const int e = statFd(fd.get(), &info)) return e;
        stored = storedAttributes(fd.get(), nullptr, info);
    } else {
        stored = storedAttributes(dfd, name, info);
    }
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = attributesOf(info, stored);
    data->ftCreationTime = creationTimeOf(info);
    data->ftLastAccessTime = filetimeFromTimespec(info.atime);
    data->ftLastWriteTime = filetimeFromTimespec(info.mtime);
    if (!S_ISDIR(info.mode)) {
        data->nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(info.size);
    }
    std::strncpy(data->cFileName, name, MAX_PATH - 1);
    return 0;
}

// The next matching entry; false at the end.
bool nextEntry(FindObject& f, WIN32_FIND_DATAA* data) {
    if (!f.dir) return false;
    while (f.stage < 2) {
        const char* name = f.stage == 0 ? "." : "..";
        const bool wanted = f.stage == 0 || f.dotDot;
        ++f.stage;
        // At a share's root, ".." shows the share's own data: what lies above it is not the client's.
        const bool ownData = f.stage == 2 && f.dirRel == "." && f.share->isShare;
        if (wanted && matchesPattern(name, f.pattern.c_str()) && describe(f, ownData ? "." : name, data) == 0) {
            if (ownData) std::strcpy(data->cFileName, "..");
            return true;
        }
    }
    while (struct dirent* e = readdir(f.dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        if (matchesPattern(name, f.pattern.c_str()) && describe(f, name, data) == 0) return true;
    }
    return false;
}

}  // namespace

}  // namespace gridplatform

using namespace gridplatform;

GRIDPLATFORM_API HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData) {
    const Target t = mapPath(fileName, true);
    if (t.error) return fail(INVALID_HANDLE_VALUE, t.error);
    if (t.parsed.parts.empty() || t.parsed.trailingSeparator) return fail(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);

    auto f = std::make_shared<FindObject>();
    f->pattern = t.parsed.parts.back();
    Target dirTarget = t;
    dirTarget.parsed.parts.pop_back();
    dirTarget.parsed.trailingSeparator = true;
    writePosix(dirTarget.parsed, uncRoot(), &dirTarget.posix);  // shorter than the name: it fits
    f->share = t.share;
    f->dotDot = dirTarget.posix != "/";

    // The directory, opened beneath the share as written or found under another case.
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
    f->dirRel = dirTarget.below();
    int fd = openTarget(dirTarget, flags);
    if (fd < 0) {
        int e = errno;
        DWORD err = 0;
        if (e == ENOENT || e == ENOTDIR) {
            Entry entry;
            err = resolveEntry(dirTarget, &entry);
            if (!err && !entry.exists) err = ERROR_PATH_NOT_FOUND;
            if (!err) {
                fd = openEntry(entry, flags);
                e = errno;
                f->dirRel = entry.rel.c_str();
            }
        }
        if (fd < 0 && !err) {
            err = e == ENOTDIR ? DWORD(ERROR_DIRECTORY) : e == ENOENT ? DWORD(ERROR_PATH_NOT_FOUND) : pathError(e);
        }
        if (err == ERROR_INVALID_NAME) err = ERROR_DIRECTORY;  // the "directory" is a file
        if (err == ERROR_FILE_NOT_FOUND) err = ERROR_PATH_NOT_FOUND;
        if (fd < 0) return fail(INVALID_HANDLE_VALUE, err);
    }
    while (f->dirRel.size() > 1 && f->dirRel.back() == '/') f->dirRel.pop_back();
    f->dir = fdopendir(fd);
    if (!f->dir) {
        const int e = errno;
        ::close(fd);
        return fail(INVALID_HANDLE_VALUE, pathError(e));
    }

    if (f->pattern.find_first_of(kWildcards) == std::string::npos) {
        // A plain name: the entry of that name, found as every lookup finds names.
        FileInfo info;
        std::string name = f->pattern;
        int e = statInfo(fd, name.c_str(), AT_SYMLINK_NOFOLLOW, &info);
        if (e == ENOENT && needsCaseScan(*f->share)) {
            while (struct dirent* d = readdir(f->dir)) {
                if (strcasecmp(d->d_name, name.c_str()) == 0) {
                    name = d->d_name;
                    e = statInfo(fd, name.c_str(), AT_SYMLINK_NOFOLLOW, &info);
                    break;
                }
            }
        }
        // A link that leads out of the share is refused, as every call refuses it.
        if (!e) e = describe(*f, name.c_str(), findFileData);
        if (e) return fail(INVALID_HANDLE_VALUE, pathError(e));
        closedir(f->dir);
        f->dir = nullptr;
        return insertHandle(std::move(f));
    }

    if (!nextEntry(*f, findFileData)) return fail(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    return insertHandle(std::move(f));
}

GRIDPLATFORM_API BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findFileData) {
    auto f = std::static_pointer_cast<FindObject>(lookupHandle(findFile, HandleObject::Type::Find));
    if (!f) return fail(FALSE, ERROR_INVALID_HANDLE);
    if (!nextEntry(*f, findFileData)) return fail(FALSE, ERROR_NO_MORE_FILES);
    return TRUE;
}

GRIDPLATFORM_API BOOL FindClose(HANDLE findFile) {
    if (!removeHandle(findFile, HandleObject::Type::Find)) return fail(FALSE, ERROR_INVALID_HANDLE);
    return TRUE;
}
