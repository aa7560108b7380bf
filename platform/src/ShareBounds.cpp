// The second line of defence behind the lexical rules of Path.cpp: a name under the UNC root must
// also resolve inside its share on the file system, where a symbolic link may lead anywhere. Like
// Samba with "wide links = no", links that stay inside the share are followed and links that leave
// it are refused, unless GRIDAPI_WIDE_LINKS=1 allows them. docs/platform.md describes the switch.
#include "Internal.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace gridplatform {
namespace {

// Where the share's directory ends in `posix` (root/server/share/rest): the index of the '/' before
// `rest`, or 0 when `posix` is not below a share.
std::size_t shareEnd(const std::string& posix, const std::string& root) {
    if (posix.size() <= root.size() + 1 || posix.compare(0, root.size(), root) != 0 || posix[root.size()] != '/') {
        return 0;
    }
    const std::size_t server = posix.find('/', root.size() + 1);
    if (server == std::string::npos) return 0;
    const std::size_t share = posix.find('/', server + 1);
    return share == std::string::npos || share + 1 >= posix.size() ? 0 : share;
}

bool startsWithDir(const char* path, const char* dir) {
    const std::size_t n = std::strlen(dir);
    return std::strncmp(path, dir, n) == 0 && (path[n] == 0 || path[n] == '/' || (n == 1 && dir[0] == '/'));
}

// Without openat2 (before Linux 5.6, or refused by a seccomp filter): the real path of the longest
// existing head of `posix` must lie in the share's real path.
DWORD insideByRealPath(const char* shareDir, const std::string& posix, std::size_t end) {
    char shareReal[PATH_MAX];
    if (!realpath(shareDir, shareReal)) return 0;
    std::string head = posix;
    while (head.size() > end) {
        char real[PATH_MAX];
        if (realpath(head.c_str(), real)) return startsWithDir(real, shareReal) ? 0 : DWORD(ERROR_ACCESS_DENIED);
        if (errno != ENOENT && errno != ENOTDIR) return 0;  // the call itself meets the same error
        head.resize(head.find_last_of('/'));
    }
    return 0;
}

}  // namespace

bool wideLinks() {
    static const bool on = [] {
        const char* v = std::getenv("GRIDAPI_WIDE_LINKS");
        return v && std::strcmp(v, "1") == 0;
    }();
    return on;
}

DWORD checkInsideShare(const std::string& posix) {
    if (wideLinks()) return 0;
    const std::size_t end = shareEnd(posix, uncRoot());
    if (end == 0) return 0;
    char shareDir[PATH_MAX];
    if (end >= sizeof shareDir) return ERROR_FILENAME_EXCED_RANGE;
    std::memcpy(shareDir, posix.data(), end);
    shareDir[end] = 0;
    const int dfd = open(shareDir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return 0;  // no such share: the call itself answers 53 or 67

    // RESOLVE_BENEATH refuses ".." above the share, absolute links and links that lead out of it.
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const char* rest = posix.c_str() + end;
    while (*rest == '/') ++rest;
    const long fd = syscall(SYS_openat2, dfd, *rest ? rest : ".", &how, sizeof how);
    const int e = fd < 0 ? errno : 0;
    if (fd >= 0) close(static_cast<int>(fd));
    close(dfd);
    if (e == EXDEV) return ERROR_ACCESS_DENIED;
    if (e == ENOSYS || e == EPERM) return insideByRealPath(shareDir, posix, end);
    // ENOENT: what exists of the name lies inside, and so does anything created there. Other
    // errors (a loop, a file on the way, no permission) are met again by the call itself.
    return 0;
}

}  // namespace gridplatform
