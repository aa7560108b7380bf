// Whatever follows \\srv\sh\, the name maps below that share, never holds a '.' or '..' part on the
// POSIX side, what CreateFileA opens or creates (following links) lies inside the share, and a
// search lists nothing from outside. The share holds links that lead out (refused), one that
// stays inside (followed) and dangling ones that lead out (absolute, relative, and one used on
// the way, dm\x), and a thread keeps exchanging the directory x with the link xl, which leads
// out to /outside/target. The creating calls (CreateFileA CREATE_ALWAYS and CREATE_NEW,
// CreateDirectoryA) make nothing outside the share: nothing under the fuzz root outside the share,
// where the links point included, is added, taken or changed; what they make inside is removed again.
//
// The calls run on a thread whose root directory is the fuzz root (unshare(CLONE_FS), chroot;
// in a user namespace when not root), so that a call that escapes lands under the fuzz root and
// never at the machine's own "/". The fuzzer's own thread never calls the platform. The tree
// helpers and the namespaces are the security tests' (tests/security/Tree.cpp).
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "Internal.h"
#include "Jail.h"

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

namespace {

using namespace security;

std::string g_root;                        // the fuzz root, a fresh temporary directory
const std::string kShare = "/unc/srv/sh";  // \\srv\sh, as the calling thread sees it
int g_share = -1;                          // the share's directory
int g_x = -1;                              // the directory x, whose name keeps changing (x, xl)
int g_procFds = -1;                        // /proc/self/fd, opened before the chroot
std::atomic<bool> g_stop{false};
std::thread g_swapper, g_caller;

// One input handed to the calling thread.
std::mutex g_mutex;
std::condition_variable g_handoff;
const std::string* g_input = nullptr;

// The tree outside the share, as the calling thread first sees it.
Tree g_outside;

void check(bool ok) {
    if (!ok) std::abort();
}

bool below(std::string_view path, const std::string& dir) {
    return path.compare(0, dir.size(), dir) == 0 && (path.size() == dir.size() || path[dir.size()] == '/');
}

std::vector<std::string> names(int dirfd) {
    std::vector<std::string> out;
    const int fd = dup(dirfd);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) return out;
    rewinddir(dir);
    while (const struct dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) out.push_back(e->d_name);
    }
    closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

// Removes the entries of `dirfd` that are not in `keep` (what the creating calls made).
void removeNew(int dirfd, const std::set<std::string>& keep) {
    for (const std::string& name : names(dirfd)) {
        if (!keep.count(name) && unlinkat(dirfd, name.c_str(), 0) != 0) unlinkat(dirfd, name.c_str(), AT_REMOVEDIR);
    }
}

// Aborts, saying what, when the tree outside the share changed.
void checkOutside(const std::string& name) {
    const Tree now = snapshot("/", {"unc/srv/sh"});
    if (now != g_outside)
        std::fprintf(stderr, "the calls on \"%s\" changed outside the share:\n%s", name.c_str(),
                     changes(g_outside, now).c_str());
    check(now == g_outside);
}

// Removes what the creating calls made inside, through descriptors: by name it could miss, since
// "xl" may be the inside directory when a call makes something and the link when it is removed.
void removeMade() {
    removeNew(g_share, {"dir", "out", "dl", "dr", "dm", "din", "x", "xl", "src.txt", "keep.txt"});
    removeNew(g_x, {"sub", "victim.txt"});
    for (const auto& [fd, sub, keep] : {std::tuple{g_share, "dir", std::set<std::string>{"file.txt", "up", "in"}},
                                        std::tuple{g_x, "sub", std::set<std::string>{"deep"}},
                                        std::tuple{g_x, "sub/deep", std::set<std::string>{"f"}}}) {
        const int dir = openat(fd, sub, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        check(dir >= 0);
        removeNew(dir, keep);
        close(dir);
    }
}

// All the calls on one name, on the calling thread (inside the fuzz root).
void attack(const std::string& name) {
    const gridplatform::Target t = gridplatform::mapPath(name.c_str());
    if (!t.error) {
        const std::string_view posix = t.posixView();
        check(below(posix, kShare));
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
        const std::string fd = std::to_string(gridplatform::fileDescriptor(h));
        const ssize_t n = readlinkat(g_procFds, fd.c_str(), real, sizeof real - 1);
        check(n > 0);
        const std::string opened(real, static_cast<std::size_t>(n));
        if (!below(opened, kShare)) std::fprintf(stderr, "\"%s\" opened %s\n", name.c_str(), opened.c_str());
        check(below(opened, kShare));
        CloseHandle(h);
        if (created) removeMade();
    }
    // A search lists nothing from outside: "outside.txt", "srv" and "secret.txt" exist only outside
    // (what the opens above made inside is gone again).
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(name.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            check(std::strcmp(found.cFileName, "outside.txt") != 0 && std::strcmp(found.cFileName, "srv") != 0 &&
                  std::strcmp(found.cFileName, "secret.txt") != 0);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }

    // The creating calls, then what they made inside is removed again.
    for (const DWORD disposition : {DWORD(CREATE_ALWAYS), DWORD(CREATE_NEW)}) {
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    CreateDirectoryA(name.c_str(), nullptr);
    checkOutside(name);
    removeMade();
}

// The calling thread: its own root directory, the fuzz root, then one input after another.
void caller() {
    g_procFds = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(g_procFds >= 0 && unshare(CLONE_FS) == 0 && chroot(g_root.c_str()) == 0 && chdir("/") == 0);
    std::unique_lock<std::mutex> lock(g_mutex);
    g_outside = snapshot("/", {"unc/srv/sh"});
    g_handoff.notify_all();
    for (;;) {
        g_handoff.wait(lock, [] { return g_input || g_stop; });
        if (!g_input) return;
        attack(*g_input);
        g_input = nullptr;
        g_handoff.notify_all();
    }
}

void removeRoot() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_stop = true;
    }
    g_handoff.notify_all();
    for (std::thread* t : {&g_caller, &g_swapper}) {
        if (t->joinable()) t->join();
    }
    removeTree(g_root);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string why;
    if (!enterNamespaces(&why)) {
        std::fprintf(stderr, "path-fuzz: no user namespace to jail the calls in (%s); not run\n", why.c_str());
        std::exit(1);
    }
    char tmpl[] = "/tmp/grid-path-fuzz-XXXXXX";
    check(mkdtemp(tmpl) != nullptr && chmod(tmpl, 0755) == 0);
    g_root = tmpl;
    const std::string share = g_root + kShare;
    buildShare(g_root);
    makeDirs(share + "/dir");
    writeFile(share + "/dir/file.txt", "");
    writeFile(g_root + "/unc/outside.txt", "");
    // The links' targets are paths of the fuzz root, as the calling thread sees it.
    makeLink("/unc", share + "/out");         // leads out
    makeLink("../..", share + "/dir/up");     // leads out
    makeLink("file.txt", share + "/dir/in");  // stays inside
    g_share = open(share.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    g_x = open((share + "/x").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(g_share >= 0 && g_x >= 0);
    setenv("GRIDAPI_UNC_ROOT", "/unc", 1);
    std::atexit(removeRoot);
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_caller = std::thread(caller);
        g_handoff.wait(lock, [] { return !g_outside.empty(); });
    }
    g_swapper = std::thread([] {
        while (!g_stop.load(std::memory_order_relaxed)) {
            syscall(SYS_renameat2, g_share, "x", g_share, "xl", RENAME_EXCHANGE);
        }
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 300 || std::memchr(data, 0, size)) return 0;
    const std::string name = "\\\\srv\\sh\\" + std::string(reinterpret_cast<const char*>(data), size);
    std::unique_lock<std::mutex> lock(g_mutex);
    g_input = &name;
    g_handoff.notify_all();
    g_handoff.wait(lock, [] { return !g_input; });
    return 0;
}
