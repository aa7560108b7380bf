// A FIFO, a unix socket and a character device in the share: opening or copying one is refused
// with 5 at once (an open of a FIFO without a writer would block for ever, a device may never
// end); the attribute and search calls still see them. Each row runs in a child of its own with
// a short alarm: a call that blocks fails its row.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "Jail.h"

namespace {

using namespace security;

const struct Kind {
    const char* name;  // in the share
    mode_t type;
} kKinds[] = {{"fifo", S_IFIFO}, {"socket", S_IFSOCK}, {"zero", S_IFCHR}};

// Makes the special file afresh; false, with the reason in *why, when it cannot be made here.
bool prepare(const Kind& kind, std::string* why) {
    const std::string path = cat("/unc/srv/sh/", kind.name);
    removeTree(path);
    if (kind.type == S_IFIFO) return mkfifo(path.c_str(), 0666) == 0;
    if (kind.type == S_IFCHR) {
        if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0) return true;
        *why = cat("mknod c 1 5: ", std::strerror(errno), " (a device needs CAP_MKNOD)");
        return false;
    }
    // Bound and listening for the child's lifetime.
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    return fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && listen(fd, 1) == 0;
}

const struct {
    const char* what;
    DWORD (*run)(const std::string& special);
    DWORD want;  // 0: succeeds
} kCalls[] = {
    {"CreateFileA GENERIC_READ OPEN_EXISTING",
     [](const std::string& s) { return openAnswer(s, GENERIC_READ, OPEN_EXISTING); }, 5},
    {"CreateFileA GENERIC_WRITE OPEN_ALWAYS",
     [](const std::string& s) { return openAnswer(s, GENERIC_WRITE, OPEN_ALWAYS); }, 5},
    {"CreateFileA GENERIC_WRITE CREATE_ALWAYS",
     [](const std::string& s) { return openAnswer(s, GENERIC_WRITE, CREATE_ALWAYS); }, 5},
    {"CopyFileA from",
     [](const std::string& s) { return answer(CopyFileA(s.c_str(), "\\\\srv\\sh\\copy.txt", FALSE)); }, 5},
    {"CopyFileA onto",
     [](const std::string& s) { return answer(CopyFileA("\\\\srv\\sh\\plain.txt", s.c_str(), FALSE)); }, 5},
    {"GetFileAttributesA",
     [](const std::string& s) { return answer(GetFileAttributesA(s.c_str()) != INVALID_FILE_ATTRIBUTES); }, 0},
};

TEST(SpecialFileTest, SpecialFilesAreRefusedAtOnceAndStillListed) {
    Jail jail;
    writeFile(jail.root() + "/unc/srv/sh/plain.txt", "plain");
    const Tree before = snapshot(jail.root(), {"unc/srv/sh"});
    for (const Kind& kind : kKinds) {
        for (const auto& call : kCalls) {
            const std::string row = cat(call.what, " on the ", kind.name);
            JAIL_RUN(outcome, jail, row, 3, [&](Probe& probe) {
                std::string why;
                if (!prepare(kind, &why)) return probe.note(cat(row, ": skipped, ", why));
                const DWORD got = call.run(cat("\\\\srv\\sh\\", kind.name));
                probe.expect(got == call.want, cat(row, ": answered ", got, ", not ", call.want));
                struct stat st;
                probe.expect(
                    lstat(cat("/unc/srv/sh/", kind.name).c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind.type,
                    cat(row, ": the ", kind.name, " was replaced or removed"));
                probe.expect(!exists("/unc/srv/sh/copy.txt"), cat(row, ": left copy.txt behind"));
                probe.expect(readFile("/unc/srv/sh/plain.txt") == "plain", cat(row, ": changed plain.txt"));
            });
        }
    }
    JAIL_RUN(outcome, jail, "FindFirstFileA \\\\srv\\sh\\*", 3, [](Probe& probe) {
        std::vector<std::string> made;
        for (const Kind& kind : kKinds) {
            std::string why;
            if (prepare(kind, &why))
                made.push_back(kind.name);
            else
                probe.note(cat("FindFirstFileA: the ", kind.name, " is left out, ", why));
        }
        DWORD error = 0;
        const auto entries = findEntries("\\\\srv\\sh\\*", &error);
        probe.expect(!entries.empty(), cat("FindFirstFileA: error ", error));
        for (const std::string& name : made)
            probe.expect(entries.count(name), cat("FindFirstFileA leaves out the ", name));
    });
    EXPECT_EQ(changes(before, snapshot(jail.root(), {"unc/srv/sh"})), "");
}

}  // namespace
