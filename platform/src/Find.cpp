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

bool sameChar(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// The DOS wildcard rules Windows applies to FindFirstFile patterns (FsRtlIsNameInExpression with
// '?' as DOS_QM, '*' before '.' as DOS_STAR, '.' before a wildcard or at the end as DOS_DOT).
bool match(const char* n, const char* m, const char* lastDot) {
    for (;;) {
        const char c = *m;
        if (c == 0) return *n == 0;
        if (c == '*') {
            while (*m == '*') ++m;
            if (*m == 0) return *m == 0;
            // Followed by a dot, the star may not run past the name's last dot.
            const bool dosStar = *m == '.';
            for (const char* k = n;; ++k) {
                if (dosStar && lastDot && k > lastDot) return false;
                if (match(k, m, lastDot)) return true;
                if (*k == 0) return false;
            }
        }
        if (c == '?') {
            if (*n == 0 || *n == '.') {  // matches nothing at the end of the name or before a dot
                ++m;
                continue;
            }
            ++n;
            ++m;
            continue;
        }
        if (c == '.') {
            const bool dosDot = m[1] == 0 || m[1] == '*' || m[1] == '?';
            if (*n == '.') {
                ++n;
                ++m;
                continue;
            }
            if (*n == 0 && dosDot) {
                ++m;
                continue;
            }
            return false;
        }
        if (*n == 0 || !sameChar(*n, c)) return false;
        ++n;
        ++m;
    }
}

struct FindObject : HandleObject {
    FindObject() : HandleObject(Type::Find) {}
    ~FindObject() override {
        if (dir) closedir(dir);
    }
    DIR* dir = nullptr;  // null: a search for one name, already answered
    std::string pattern;
    int stage = 0;  // 0: ".", 1: "..", 2: the directory's entries
    bool dotDot = true;
};

void fillFindData(const char* name, const FileInfo& info, WIN32_FIND_DATAA* data) {
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = attributesOf(info);
    data->ftCreationTime = creationTimeOf(info);
    data->ftLastAccessTime = filetimeFromTimespec(info.atime);
    data->ftLastWriteTime = filetimeFromTimespec(info.mtime);
    if (!S_ISDIR(info.mode)) {
        data->nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(info.size);
    }
    std::strncpy(data->cFileName, name, MAX_PATH - 1);
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
            fillFindData(name, info, data);
            return true;
        }
    }
    while (struct dirent* e = readdir(f.dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        if (!matchesPattern(name, f.pattern.c_str())) continue;
        if (statInfo(dfd, name, 0, &info) != 0) continue;  // gone since readdir, or a dangling link
        fillFindData(name, info, data);
        return true;
    }
    return false;
}

}  // namespace

bool matchesPattern(const char* name, const char* pattern) {
    if (std::strcmp(pattern, "*.*") == 0 || std::strcmp(pattern, "*") == 0) return true;
    return match(name, pattern, std::strrchr(name, '.'));
}

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
    dirTarget.posix = posixFromParsed(dirTarget.parsed, uncRoot());
    f->dotDot = dirTarget.posix != "/";

    std::string dirPath = dirTarget.posix;
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

    if (f->pattern.find_first_of("*?") == std::string::npos) {
        // A plain name: the entry of that name, found as every lookup finds names.
        FileInfo info;
        std::string name = f->pattern;
        int e = statInfo(dirfd(dir), name.c_str(), 0, &info);
        if (e == ENOENT && caselessLookups()) {
            while (struct dirent* d = readdir(dir)) {
                if (strcasecmp(d->d_name, name.c_str()) == 0) {
                    name = d->d_name;
                    e = statInfo(dirfd(dir), name.c_str(), 0, &info);
                    break;
                }
            }
        }
        if (e) return fail(INVALID_HANDLE_VALUE, win32FromErrno(e, ErrnoContext::Path));
        fillFindData(name.c_str(), info, findFileData);
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
