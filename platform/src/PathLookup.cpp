// Win32 names on this machine: the UNC root, the current directory, and a name mapped with both to
// the POSIX side and its share. The pure parsing is PathNames.cpp's; where a name lives on the file
// system is ShareBounds.cpp's. docs/platform.md describes the rules.
#include "Internal.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

namespace gridplatform {
namespace {

std::string envOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::string(fallback);
}

std::string stripTrailingSlashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::mutex g_cwdMutex;
std::string g_cwd;  // empty until first use

}  // namespace

const std::string& uncRoot() {
    static const std::string root = stripTrailingSlashes(envOr("GRIDAPI_UNC_ROOT", "/mnt/unc"));
    return root;
}

bool caselessLookups() {
    static const bool on = envOr("GRIDAPI_CASELESS", "1") != "0";
    return on;
}

namespace {

// The current directory, read once from the process when first needed. Call with g_cwdMutex held.
const std::string& currentDirectoryLocked() {
    if (g_cwd.empty()) {
        char buf[4096];
        g_cwd = getcwd(buf, sizeof buf) ? win32FromPosix(buf, uncRoot()) : std::string("/");
    }
    return g_cwd;
}

}  // namespace

std::string currentDirectory() {
    std::lock_guard<std::mutex> lock(g_cwdMutex);
    return currentDirectoryLocked();
}

void setCurrentDirectory(const std::string& win32) {
    std::lock_guard<std::mutex> lock(g_cwdMutex);
    g_cwd = win32;
}

namespace {

// The error for a name over `limit`'s length.
DWORD tooLong(NameLimit limit) {
    return limit == NameLimit::Folder ? ERROR_FILENAME_EXCED_RANGE : ERROR_PATH_NOT_FOUND;
}

}  // namespace

Target mapPath(const char* path, bool allowWildcards, NameLimit limit) {
    Target t;
    if (!path) {
        t.error = ERROR_PATH_NOT_FOUND;
        return t;
    }
    const std::size_t len = std::strlen(path);
    if (len == 0) {
        t.error = ERROR_PATH_NOT_FOUND;
        return t;
    }
    // The long form "\\?\UNC\..." is not held to MAX_PATH, only to what the buffers hold.
    const bool longForm = len >= 4 && isLongForm(path);
    if (len >= kPathCapacity) {
        t.error = longForm ? DWORD(ERROR_FILENAME_EXCED_RANGE) : tooLong(limit);
        return t;
    }
    if (isRelativeName(path)) {
        // A copy of the current directory on the stack: nothing allocated, nothing held while parsing.
        char cwd[kPathCapacity];
        std::size_t cwdSize;
        {
            std::lock_guard<std::mutex> lock(g_cwdMutex);
            const std::string& current = currentDirectoryLocked();
            if (current.size() > sizeof cwd) {
                t.error = tooLong(limit);
                return t;
            }
            cwdSize = current.size();
            std::memcpy(cwd, current.data(), cwdSize);
        }
        t.parsed = parsePath(path, std::string_view(cwd, cwdSize), allowWildcards);
    } else {
        t.parsed = parsePath(path, std::string_view(), allowWildcards);
    }
    t.error = t.parsed.error;
    // Windows measures the full name before anything looks at its parts: 260 characters and more
    // (248 for a new folder, room for an 8.3 name) are refused. A part over 255 makes it that long.
    if (!longForm &&
        (t.error == ERROR_FILENAME_EXCED_RANGE ||
         (!t.error && fullNameLength(t.parsed) >= (limit == NameLimit::Folder ? kMaxFolderName : MAX_PATH)))) {
        t.error = tooLong(limit);
    }
    if (t.error) return t;
    if (!writePosix(t.parsed, uncRoot(), &t.posix)) {
        t.error = longForm ? DWORD(ERROR_FILENAME_EXCED_RANGE) : tooLong(limit);
        return t;
    }
    attachShare(&t);
    return t;
}

}  // namespace gridplatform
