#include "Jail.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace security {
namespace {

namespace fs = std::filesystem;

void must(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

constexpr int kNoNamespaces = 77;

// In the child: the namespaces (when not root), the chroot and the platform's environment.
void enter(const std::string& root, Probe& probe) {
    if (geteuid() != 0) {
        const auto put = [](const char* file, const std::string& text) {
            const int fd = open(file, O_WRONLY | O_CLOEXEC);
            const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
            if (fd >= 0) close(fd);
            return ok;
        };
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || (!put("/proc/self/setgroups", "deny") && errno != ENOENT) ||
            !put("/proc/self/uid_map", cat("0 ", uid, " 1")) || !put("/proc/self/gid_map", cat("0 ", gid, " 1"))) {
            probe.note(cat("unshare(CLONE_NEWUSER | CLONE_NEWNS) or its id maps: ", std::strerror(errno)));
            _exit(kNoNamespaces);
        }
    }
    must(chroot(root.c_str()) == 0 && chdir("/") == 0, "chroot " + root);
    setenv("GRIDAPI_UNC_ROOT", "/unc", 1);
    unsetenv("GRIDAPI_WIDE_LINKS");
    // A copy from an endless source stops at 16 MiB instead of filling the disk.
    const struct rlimit fsize = {16 << 20, 16 << 20};
    setrlimit(RLIMIT_FSIZE, &fsize);
    signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

void Probe::send(char kind, const std::string& text) {
    std::string line = kind + text.substr(0, 3900) + "\n";
    std::replace(line.begin(), line.end() - 1, '\n', '|');
    if (write(fd_, line.data(), line.size()) < 0) _exit(3);
}

bool Probe::expect(bool ok, const std::string& what) {
    if (!ok) ++failures_, send('F', what);
    return ok;
}

void Probe::note(const std::string& line) { send('N', line); }

Tree snapshot(const std::string& root, const std::vector<std::string>& keep) {
    Tree out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string path = it->path().lexically_relative(root);
        const fs::file_status st = it->symlink_status();
        const std::string mode = cat(std::oct, int(st.permissions()));
        switch (st.type()) {
            case fs::file_type::directory:
                out[path] = "dir " + mode;
                if (std::find(keep.begin(), keep.end(), path) != keep.end()) it.disable_recursion_pending();
                break;
            case fs::file_type::symlink:
                out[path] = "link -> " + fs::read_symlink(it->path()).string();
                break;
            case fs::file_type::regular:
                out[path] = cat("file ", mode, " ", it->file_size(), " \"", readFile(it->path()), "\"");
                break;
            default:
                out[path] = cat("special ", int(st.type()), " ", mode);
        }
    }
    return out;
}

std::string changes(const Tree& before, const Tree& after) {
    std::string out;
    for (const auto& [path, what] : before) {
        const auto it = after.find(path);
        if (it == after.end())
            out += "- " + path + " (" + what + ")\n";
        else if (it->second != what)
            out += "~ " + path + ": " + what + " -> " + it->second + "\n";
    }
    for (const auto& [path, what] : after) {
        if (!before.count(path)) out += "+ " + path + " (" + what + ")\n";
    }
    return out;
}

void removeAdded(const std::string& root, const Tree& before, const Tree& after) {
    for (const auto& entry : after) {
        const std::string parent = fs::path(entry.first).parent_path();
        // Only the topmost of what is new: its contents go with it.
        if (!before.count(entry.first) && (parent.empty() || before.count(parent)))
            removeTree(root + "/" + entry.first);
    }
}

void makeDirs(const std::string& path) { fs::create_directories(path); }

void writeFile(const std::string& path, const std::string& content, unsigned mode) {
    must(bool(std::ofstream(path, std::ios::trunc) << content), "write " + path);
    fs::permissions(path, fs::perms(mode));
}

void makeLink(const std::string& target, const std::string& at) { fs::create_symlink(target, at); }
void removeTree(const std::string& path) { fs::remove_all(path); }
void emptyDirectory(const std::string& path) {
    fs::create_directories(path);
    for (const auto& entry : fs::directory_iterator(path)) fs::remove_all(entry.path());
}
bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "<missing>";
}

Jail::Jail() {
    char tmpl[] = "/tmp/grid-security-XXXXXX";
    must(mkdtemp(tmpl) != nullptr, "mkdtemp");
    root_ = tmpl;
    try {
        must(chmod(root_.c_str(), 0755) == 0, "chmod " + root_);
        for (const char* dir : {"/unc/srv/sh", "/unc/srv/other", "/outside"}) makeDirs(root_ + dir);
        writeFile(root_ + "/outside/decoy.txt", "outside", 0600);
        writeFile(root_ + "/unc/decoy.txt", "above the server");
        writeFile(root_ + "/unc/srv/decoy.txt", "above the share");
    } catch (...) {
        removeTree(root_);
        throw;
    }
}

Jail::~Jail() {
    std::error_code error;
    fs::remove_all(root_, error);
    if (error) ADD_FAILURE() << "the scratch directory " << root_ << " stays: " << error.message();
}

Outcome Jail::run(const std::string& label, unsigned seconds, const std::function<void(Probe&)>& body) const {
    int fds[2];
    must(pipe2(fds, O_CLOEXEC) == 0, "pipe");
    std::fflush(nullptr);
    const pid_t pid = fork();
    must(pid >= 0, "fork");
    if (pid == 0) {
        close(fds[0]);
        Probe probe(fds[1]);
        try {
            enter(root_, probe);
            alarm(seconds);
            body(probe);
        } catch (const std::exception& e) {
            probe.expect(false, cat(label, ": ", e.what()));
        }
        _exit(probe.failures() ? 1 : 0);
    }
    close(fds[1]);
    // What the child writes until it ends, or until the deadline.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds + 5);
    std::string text;
    bool timedOut = false;
    for (char buffer[4096];;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        struct pollfd p = {fds[0], POLLIN, 0};
        const int ready = left > 0 ? poll(&p, 1, int(left)) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if ((timedOut = ready <= 0)) {
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, std::size_t(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    Outcome out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) out.lines.push_back({line[0] == 'F', line.substr(1)});
    }
    const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespaces) {
        out.noNamespaces = true;
        if (out.lines.empty()) out.lines.push_back({false, "no reason given"});
    } else if (timedOut) {
        out.lines.push_back({true, cat(label, ": the child ran past ", seconds + 5, " s and was killed")});
    } else if (sig) {
        out.lines.push_back({true, cat(label, ": the child died of signal ", sig, " (", strsignal(sig), ")",
                                       sig == SIGALRM ? cat(": a call blocked or ran past ", seconds, " s") : "")});
    } else if (WEXITSTATUS(status) > 1) {
        out.lines.push_back({true, cat(label, ": the child exited with status ", WEXITSTATUS(status))});
    }
    return out;
}

void report(const Outcome& outcome, const char* file, int line) {
    for (const Outcome::Line& l : outcome.lines) {
        if (l.failure)
            ADD_FAILURE_AT(file, line) << l.text;
        else
            std::printf("%s\n", l.text.c_str()), std::fflush(stdout);
    }
}

}  // namespace security
