// Whatever follows \\srv\sh\, the name maps below that share, never holds a '.' or '..' part on the
// POSIX side, what CreateFileA opens or creates (following links) lies inside the share, and a
// search lists nothing from outside. The share holds links that lead out (refused) and one that
// stays inside (followed).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "Internal.h"

namespace {

std::string g_root;       // the UNC root, a fresh temporary directory
std::string g_shareReal;  // the real path of \\srv\sh

void removeRoot() {
    const std::string cmd = "rm -rf '" + g_root + "'";
    if (std::system(cmd.c_str()) != 0) std::abort();
}

void check(bool ok) {
    if (!ok) std::abort();
}

bool below(std::string_view path, const std::string& dir) {
    return path.compare(0, dir.size(), dir) == 0 && (path.size() == dir.size() || path[dir.size()] == '/');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char tmpl[] = "/tmp/grid-path-fuzz-XXXXXX";
    check(mkdtemp(tmpl) != nullptr);
    g_root = tmpl;
    const std::string share = g_root + "/srv/sh";
    check(mkdir((g_root + "/srv").c_str(), 0777) == 0 && mkdir(share.c_str(), 0777) == 0);
    check(mkdir((share + "/dir").c_str(), 0777) == 0);
    check(close(creat((share + "/dir/file.txt").c_str(), 0666)) == 0);
    check(close(creat((g_root + "/outside.txt").c_str(), 0666)) == 0);
    check(symlink(g_root.c_str(), (share + "/out").c_str()) == 0);
    check(symlink("../..", (share + "/dir/up").c_str()) == 0);
    check(symlink("file.txt", (share + "/dir/in").c_str()) == 0);
    char real[PATH_MAX];
    check(realpath(share.c_str(), real) != nullptr);
    g_shareReal = real;
    setenv("GRIDAPI_UNC_ROOT", g_root.c_str(), 1);
    std::atexit(removeRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 300 || std::memchr(data, 0, size)) return 0;
    const std::string name = "\\\\srv\\sh\\" + std::string(reinterpret_cast<const char*>(data), size);

    const gridplatform::Target t = gridplatform::mapPath(name.c_str());
    if (!t.error) {
        const std::string_view posix = t.posixView();
        check(below(posix, g_root + "/srv/sh"));
        for (std::size_t i = 0; i < posix.size();) {
            const std::size_t end = std::min(posix.find('/', i + 1), posix.size());
            const std::string_view part = posix.substr(i + 1, end - i - 1);
            check(part != "." && part != "..");
            i = end;
        }
    }

    for (const DWORD disposition : {DWORD(OPEN_EXISTING), DWORD(OPEN_ALWAYS)}) {
        HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, disposition, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        const bool created = disposition == OPEN_ALWAYS && GetLastError() == 0;
        char real[PATH_MAX];
        const std::string link = "/proc/self/fd/" + std::to_string(gridplatform::fileDescriptor(h));
        const ssize_t n = readlink(link.c_str(), real, sizeof real - 1);
        check(n > 0);
        check(below(std::string(real, static_cast<std::size_t>(n)), g_shareReal));
        CloseHandle(h);
        if (created) DeleteFileA(name.c_str());
    }
    // A search lists nothing from outside: "outside.txt" and "srv" exist only above the share.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(name.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            check(std::strcmp(found.cFileName, "outside.txt") != 0 && std::strcmp(found.cFileName, "srv") != 0);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    check(access((g_root + "/outside.txt").c_str(), F_OK) == 0);
    return 0;
}
