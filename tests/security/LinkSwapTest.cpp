// Names below \\srv\sh\x while a thread keeps exchanging the directory x and the link xl, which
// leads out to /outside/target (the same names, and a secret). A call succeeds inside x or is
// refused; it never reads, changes or lists anything of /outside/target. What a call changed in x
// is put back after it through a descriptor of x, whose name keeps changing. The calls that open,
// create or list under the same swap are path-fuzz's (tests/fuzz/path_fuzz.cpp, its seeds below x).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "Jail.h"

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

namespace {

using namespace security;

// Escaped: the call took or read something of the outside. Astray: it succeeded without acting
// inside x (what it changed instead shows in the tree outside the share).
enum class Verdict { Refused, Inside, Escaped, Astray };

Verdict inside(bool yes) { return yes ? Verdict::Inside : Verdict::Astray; }
bool at(int dir, const char* name) {
    struct stat st;
    return fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}
std::string textAt(int dir, const char* name) {
    const int fd = openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    char buffer[64];
    const ssize_t n = fd >= 0 ? read(fd, buffer, sizeof buffer) : -1;
    if (fd >= 0) close(fd);
    return n >= 0 ? std::string(buffer, std::size_t(n)) : "<missing>";
}
void fileAt(int dir, const char* name, const char* text) {
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 && write(fd, text, std::strlen(text)) >= 0) close(fd);
}

// Puts back what a call changed: x as it was (through its descriptor), keep.txt in the share.
void restore(int share, int x) {
    renameat(share, "moved.txt", x, "victim.txt");
    renameat(x, "keep.txt", share, "keep.txt");
    fileAt(x, "victim.txt", "inside");
    fchmodat(x, "victim.txt", 0644, 0);
    mkdirat(x, "sub", 0755), mkdirat(x, "sub/deep", 0755), fileAt(x, "sub/deep/f", "inside f");
    unlinkat(x, "copy.txt", 0);
}

struct Race {
    const char* name;  // the test's
    const char* call;
    Verdict (*attempt)(int share, int x);  // one call, and where it acted
    bool succeedsInside;                   // false: the call never succeeds
};
void PrintTo(const Race& race, std::ostream* out) { *out << race.call; }

#define X "\\\\srv\\sh\\x\\"
const Race kRaces[] = {
    {"RemoveDirectoryTreeA", "RemoveDirectoryTreeA(x\\sub)",
     [](int, int x) { return RemoveDirectoryTreeA(X "sub") ? inside(!at(x, "sub")) : Verdict::Refused; }, true},
    {"DeleteFileA", "DeleteFileA(x\\victim.txt)",
     [](int, int x) { return DeleteFileA(X "victim.txt") ? inside(!at(x, "victim.txt")) : Verdict::Refused; }, true},
    {"CopyFileA", "CopyFileA(src.txt -> x\\copy.txt)",
     [](int, int x) {
         const BOOL ok = CopyFileA("\\\\srv\\sh\\src.txt", X "copy.txt", FALSE);
         return ok ? inside(textAt(x, "copy.txt") == "source") : Verdict::Refused;
     },
     true},
    {"SetFileAttributesA", "SetFileAttributesA(x\\victim.txt, READONLY)",
     [](int, int x) {
         if (!SetFileAttributesA(X "victim.txt", FILE_ATTRIBUTE_READONLY)) return Verdict::Refused;
         struct stat st;
         return inside(fstatat(x, "victim.txt", &st, AT_SYMLINK_NOFOLLOW) == 0 && (st.st_mode & 0222) == 0);
     },
     true},
    {"MoveFileExA_out", "MoveFileExA(x\\victim.txt -> moved.txt)",
     [](int share, int) {
         if (!MoveFileExA(X "victim.txt", "\\\\srv\\sh\\moved.txt", 0)) return Verdict::Refused;
         const std::string moved = textAt(share, "moved.txt");
         if (moved != "outside") return inside(moved == "inside");
         // Put back, so that the race goes on as before.
         return renameat(share, "moved.txt", AT_FDCWD, "/outside/target/victim.txt"), Verdict::Escaped;
     },
     true},
    {"MoveFileExA_in", "MoveFileExA(keep.txt -> x\\keep.txt)",
     [](int share, int x) {
         if (!MoveFileExA("\\\\srv\\sh\\keep.txt", X "keep.txt", 0)) return Verdict::Refused;
         if (at(x, "keep.txt")) return Verdict::Inside;
         const bool out = renameat(AT_FDCWD, "/outside/target/keep.txt", share, "keep.txt") == 0;
         return out ? Verdict::Escaped : Verdict::Astray;
     },
     true},
    {"GetFileAttributesA", "GetFileAttributesA(x\\secret.txt)",
     [](int, int) {
         const bool found = GetFileAttributesA(X "secret.txt") != INVALID_FILE_ATTRIBUTES;
         return found ? Verdict::Escaped : Verdict::Refused;
     },
     false},
};
#undef X

class LinkSwapTest : public testing::TestWithParam<Race> {};

TEST_P(LinkSwapTest, NothingOutsideIsReadChangedOrListed) {
    const Race& race = GetParam();
    const char* env = std::getenv("GRIDTEST_RACE_SECONDS");
    const unsigned seconds = env && std::atoi(env) > 0 ? unsigned(std::atoi(env)) : 3;
    Jail jail;
    buildShare(jail.root());
    const Tree before = snapshot(jail.root(), {"unc/srv/sh"});
    JAIL_RUN(outcome, jail, race.call, seconds + 20, [&](Probe& probe) {
        const int share = open("/unc/srv/sh", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int x = openat(share, "x", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (share < 0 || x < 0) throw std::runtime_error("open the share or x");
        std::atomic<bool> stop{false};
        std::atomic<long> swaps{0}, swapErrors{0};
        std::thread swapper([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                (syscall(SYS_renameat2, share, "x", share, "xl", RENAME_EXCHANGE) == 0 ? swaps : swapErrors)++;
            }
        });
        Tree outside = snapshot("/", {"unc/srv/sh"});
        long iterations = 0, successes = 0, escaped = 0, astray = 0;
        std::string first;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (; std::chrono::steady_clock::now() < end; ++iterations) {
            const Verdict v = race.attempt(share, x);
            restore(share, x);
            const Tree now = snapshot("/", {"unc/srv/sh"});
            const bool keepLeft = !at(share, "keep.txt");
            if (v == Verdict::Escaped || now != outside || keepLeft) {
                if (!escaped++) {
                    first = cat("at iteration ", iterations, v == Verdict::Escaped ? ": took or read from outside" : "",
                                keepLeft ? ": keep.txt left the share" : "", "\n", changes(outside, now));
                }
                outside = now;
            }
            successes += v == Verdict::Inside;
            astray += v == Verdict::Astray;
        }
        stop = true;
        swapper.join();
        const std::string summary = cat("race ", race.call, ": ", iterations, " iterations, ", successes,
                                        " succeeded inside, ", escaped, " escaped");
        probe.note(summary);
        probe.expect(swaps > 0 && swapErrors == 0, cat("renameat2 RENAME_EXCHANGE: ", swapErrors.load(), " failed"));
        probe.expect(escaped == 0, cat(summary, "; the first ", first));
        probe.expect(astray == 0, cat(race.call, ": succeeded ", astray, " times without acting inside x"));
        probe.expect(race.succeedsInside == (successes > 0),
                     cat(race.call, race.succeedsInside ? ": never succeeded inside x" : ": succeeded"));
    });
    EXPECT_EQ(changes(before, snapshot(jail.root(), {"unc/srv/sh"})), "");
    EXPECT_EQ(readFile(jail.root() + "/unc/srv/sh/keep.txt"), "keep");
    if (const char* file = std::getenv("GRIDTEST_RACE_SUMMARY")) {
        std::ofstream out(file, std::ios::app);
        for (const Outcome::Line& l : outcome.lines) {
            if (!l.failure && l.text.rfind("race ", 0) == 0) out << l.text << "\n";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, LinkSwapTest, testing::ValuesIn(kRaces),
                         [](const testing::TestParamInfo<Race>& info) { return std::string(info.param.name); });

}  // namespace
