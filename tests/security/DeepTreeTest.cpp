// RemoveDirectoryTreeA of a tree 1,000 directories deep, each holding a file: on a thread with a
// small stack it removes the whole tree; with few descriptors it may fail, but with an error and
// without a crash, and the share stays.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "Jail.h"

namespace {

using namespace security;

constexpr int kDepth = 1000;

struct Removal {
    BOOL ok = FALSE;
    DWORD error = 0;  // the thread's own last error
};

const struct {
    const char* what;
    rlim_t descriptors;  // 0: as the process has it
    bool removes;        // else FALSE with an error
} kRows[] = {
    {"RemoveDirectoryTreeA on a 256 KiB stack", 0, true},
    {"RemoveDirectoryTreeA with 64 descriptors", 64, false},
};

TEST(DeepTreeTest, ADeepTreeIsRemovedOrRefusedWithoutACrash) {
    Jail jail;
    for (const auto& row : kRows) {
        JAIL_RUN(outcome, jail, row.what, 60, [&](Probe& probe) {
            if (chdir("/unc/srv/sh") != 0) throw std::runtime_error("chdir");
            for (int i = 0; i < kDepth; ++i) {
                if ((mkdir("d", 0755) != 0 && errno != EEXIST) || chdir("d") != 0)
                    throw std::runtime_error(cat("chdir at depth ", i));
                writeFile("f", "level");
            }
            if (chdir("/") != 0) throw std::runtime_error("chdir /");
            if (row.descriptors) {
                struct rlimit files;
                getrlimit(RLIMIT_NOFILE, &files);
                files.rlim_cur = row.descriptors;
                probe.expect(setrlimit(RLIMIT_NOFILE, &files) == 0, "setrlimit RLIMIT_NOFILE");
            }
            pthread_attr_t attr;
            pthread_attr_init(&attr);
            pthread_attr_setstacksize(&attr, 256 * 1024);
            Removal removal;
            pthread_t thread;
            const auto remove = [](void* out) -> void* {
                const BOOL ok = RemoveDirectoryTreeA("\\\\srv\\sh\\d");
                *static_cast<Removal*>(out) = {ok, GetLastError()};
                return nullptr;
            };
            if (!probe.expect(pthread_create(&thread, &attr, remove, &removal) == 0, "pthread_create")) return;
            pthread_join(thread, nullptr);
            probe.note(cat(row.what, ": ", removal.ok ? "TRUE" : "FALSE", ", error ", removal.error));
            if (row.removes) {
                probe.expect(removal.ok, cat(row.what, ": FALSE with error ", removal.error));
                probe.expect(!exists("/unc/srv/sh/d"), cat(row.what, ": the tree is still there"));
            } else {
                probe.expect(!removal.ok && removal.error != 0, cat(row.what, ": not FALSE with an error"));
            }
            struct stat st;
            probe.expect(lstat("/unc/srv/sh", &st) == 0 && S_ISDIR(st.st_mode), cat(row.what, ": the share is gone"));
        });
    }
}

}  // namespace
