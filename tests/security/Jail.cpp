#include "Jail.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
    std::string why;
    if (!enterNamespaces(&why)) {
        probe.note(why);
        _exit(kNoNamespaces);
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
    // What the child writes until it ends: its alarm ends it at the latest (SIGALRM is not handled).
    std::string text;
    for (char buffer[4096];;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
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
