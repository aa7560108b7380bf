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
    std::string dirPath;
    std::string pattern;
    int stage = 0;  // 0: ".", 1: "..", 2: the directory's entries
    bool dotDot = true;
};

// `dirPath`: the POSIX directory the entry is in, for the attribute bits stored with the entry.
void fillFindData(const std::string& dirPath, const char* name, const FileInfo& info, WIN32_FIND_DATAA* data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = attributesOf(info, storedAttributes((dirPath + '/' + name).c_str(), info));
    data->ftCreationTime = creationTimeOf(info);
    data->ftLastAccessTime = filetimeFromTimespec(info.atime);
    data->ftLastWriteTime = filetimeFromTimespec(info.mtime);
    if (!S_ISDIR(info.mode)) {
        data->nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(info.size);
    }
    std::strncpy(data->cFileName, name, MAX_PATH - 1);
}

// Whether the entry `name` of the search's directory is a symbolic link that leads out of the
// share: such entries are left out of the listing, as every call refuses them.
bool leavesShare(const FindObject& f, const char* name, unsigned char type) {
    if (wideLinks() || (type != DT_LNK && type != DT_UNKNOWN)) return false;
    return checkInsideShare(f.dirPath + '/' + name) != 0;
}

// The next matching entry; false at the end.
bool nextEntry(FindObject& f, WIN32_FIND_DATAA* data) {
    if (!f.dir) return false;
    const int dfd = dirfd(f.dir);
    FileInfo info;
    while (f.stage < 2) {
        const char* name = f.stage == 0 ? "." : "..";
        const bool wanted = f.stage == 0 || f.dotDot;
        ++f.stage;
        if (wanted && matchesPattern(name, f.pattern.c_str()) && statInfo(dfd, name, 0, &info) == 0) {
            fillFindData(f.dirPath, name, info, data);
            return true;
        }
    }
    while (struct dirent* e = readdir(f.dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        if (!matchesPattern(name, f.pattern.c_str()) || leavesShare(f, name, e->d_type)) continue;
        if (statInfo(dfd, name, 0, &info) != 0) continue;  // gone since readdir, or a dangling link
        fillFindData(f.dirPath, name, info, data);
        return true;
    }
    return false;
}

}  // namespace

}  // namespace gridplatform

using namespace gridplatform;

GRIDPLATFORM_API HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData) {
    Target t = mapPath(fileName, true);
    if (t.error) return fail(INVALID_HANDLE_VALUE, t.error);
    if (t.parsed.parts.empty() || t.parsed.trailingSeparator) return fail(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);

    auto f = std::make_shared<FindObject>();
    f->pattern = t.parsed.parts.back();
    Target dirTarget = t;
    dirTarget.parsed.parts.pop_back();
    dirTarget.parsed.trailingSeparator = true;
    writePosix(dirTarget.parsed, uncRoot(), &dirTarget.posix);  // shorter than the name: it fits
    f->dotDot = dirTarget.posix != "/";

    std::string dirPath = dirTarget.posixString();
    DIR* dir = opendir(dirPath.c_str());
    if (!dir) {
        const int e = errno;
        std::string found;
        DWORD err = missingOrError(dirTarget, e, &found);
        if (err == ERROR_INVALID_NAME) err = ERROR_DIRECTORY;  // the "directory" is a file
        if (err == ERROR_FILE_NOT_FOUND) err = ERROR_PATH_NOT_FOUND;
        if (err) return fail(INVALID_HANDLE_VALUE, err);
        dirPath = found;
        dir = opendir(dirPath.c_str());
        if (!dir)
            return fail(INVALID_HANDLE_VALUE,
                        errno == ENOTDIR ? DWORD(ERROR_DIRECTORY) : win32FromErrno(errno, ErrnoContext::Path));
    }
    f->dir = dir;
    f->dirPath = std::move(dirPath);
    while (f->dirPath.size() > 1 && f->dirPath.back() == '/') f->dirPath.pop_back();

    if (f->pattern.find_first_of("*?") == std::string::npos) {
        // A plain name: the entry of that name, found as every lookup finds names.
        FileInfo info;
        std::string name = f->pattern;
        int e = statInfo(dirfd(dir), name.c_str(), 0, &info);
        if (e == ENOENT && needsCaseScan(f->dirPath)) {
            while (struct dirent* d = readdir(dir)) {
                if (strcasecmp(d->d_name, name.c_str()) == 0) {
                    name = d->d_name;
                    e = statInfo(dirfd(dir), name.c_str(), 0, &info);
                    break;
                }
            }
        }
        if (e) return fail(INVALID_HANDLE_VALUE, win32FromErrno(e, ErrnoContext::Path));
        if (leavesShare(*f, name.c_str(), DT_UNKNOWN)) return fail(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        fillFindData(f->dirPath, name.c_str(), info, findFileData);
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
