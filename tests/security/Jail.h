// The jail of the security tests: a scratch directory under /tmp that a forked child takes for its
// "/" (chroot; in a user and mount namespace when not root), with the share \\srv\sh at /unc/srv/sh.
// The child makes the Win32 calls with GRIDAPI_UNC_ROOT=/unc (read once per process, so the gtest
// process never calls the platform), and a call that escapes lands in the scratch directory, never
// at the machine's own "/". Paths of the jail are written "/unc/...": with the prefix "" inside the
// child, with root() outside.
#pragma once

#include <platform/win32.h>

#include <cstdint>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace security {

template <typename... Args>
std::string cat(const Args&... args) {
    std::ostringstream s;
    (s << ... << args);
    return s.str();
}

// The child's channel to the gtest process: failures and notes, one line each.
class Probe {
  public:
    explicit Probe(int fd) : fd_(fd) {}
    bool expect(bool ok, const std::string& what);  // a failure unless `ok`; returns `ok`
    void note(const std::string& line);
    int failures() const { return failures_; }

  private:
    void send(char kind, const std::string& text);
    int fd_;
    int failures_ = 0;
};

// Unless root: a user and mount namespace of its own for the process, in which it may chroot; false,
// with the reason in *why, where they cannot be made. (Tree.cpp, shared with the path fuzzer.)
bool enterNamespaces(std::string* why);

// A tree as lstat() sees it: relative path -> type, mode, size, content of files, target of links.
using Tree = std::map<std::string, std::string>;
// The tree below `root`; the directories in `keep` (relative paths) are listed but not entered.
Tree snapshot(const std::string& root, const std::vector<std::string>& keep = {});
std::string changes(const Tree& before, const Tree& after);  // "+ new", "- gone", "~ changed" lines

// The share of the link attacks and races, at `root`/unc/srv/sh: the directory x (victim.txt,
// sub/deep/f) and the link xl to /outside/target (the same names, and secret.txt), the links dl, dr
// (dangling, leading out), din (dangling inside) and dm (to /nowhere), src.txt and keep.txt.
void buildShare(const std::string& root);

// Helpers for building trees; they throw on failure.
void makeDirs(const std::string& path);
void writeFile(const std::string& path, const std::string& content, unsigned mode = 0644);
void makeLink(const std::string& target, const std::string& at);
void removeTree(const std::string& path);       // never follows a link; nothing there is no error
std::string readFile(const std::string& path);  // "<missing>" when it cannot be read
bool exists(const std::string& path);           // lstat() finds it

// A call's answer: 0 when it succeeded, else its last error.
inline DWORD answer(BOOL ok) { return ok ? 0 : GetLastError(); }
inline DWORD openAnswer(const std::string& name, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? GetLastError() : (CloseHandle(h), 0);
}

// What FindFirstFileA and FindNextFileA list for `pattern`: each name with its last write time;
// empty when the search fails.
inline std::map<std::string, std::uint64_t> findEntries(const std::string& pattern) {
    std::map<std::string, std::uint64_t> found;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &data)) {
        found[data.cFileName] =
            std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return found;
}

struct Outcome {
    bool noNamespaces = false;  // the child could not make its namespaces: the test is skipped
    struct Line {
        bool failure;  // else a note
        std::string text;
    };
    std::vector<Line> lines;  // as the child wrote them, then its crash (an alarm: a timeout)
};

class Jail {
  public:
    // A scratch directory holding unc/srv/sh, unc/srv/other (a second share) and the decoys
    // outside/decoy.txt, unc/decoy.txt, unc/srv/decoy.txt.
    Jail();
    ~Jail();
    Jail(const Jail&) = delete;
    Jail& operator=(const Jail&) = delete;
    const std::string& root() const { return root_; }
    // Runs `body` in a child jailed here, with an alarm of `seconds` that ends it.
    Outcome run(const std::string& label, unsigned seconds, const std::function<void(Probe&)>& body) const;

  private:
    std::string root_;
};

// The child's notes printed, its failures reported as gtest failures at `file`:`line`.
void report(const Outcome& outcome, const char* file, int line);

}  // namespace security

// Runs the body (the last argument) jailed as `outcome` and reports it; skips the test when the
// namespaces cannot be made.
#define JAIL_RUN(outcome, jail, label, seconds, ...)                                                      \
    const ::security::Outcome outcome = (jail).run((label), (seconds), __VA_ARGS__);                      \
    if (outcome.noNamespaces) GTEST_SKIP() << "namespaces cannot be made: " << outcome.lines.back().text; \
    ::security::report(outcome, __FILE__, __LINE__)
