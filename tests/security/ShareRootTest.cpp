// A share's own directory, however it is spelled: it is not removed, deleted, moved or replaced,
// and nothing in it is touched. A search at the share root shows nothing of the directory above.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdint>

#include <platform/win32.h>

#include "Jail.h"

namespace {

using namespace security;

// The shares afresh: sh (not empty), empty, other.
void buildShares(const std::string& root) {
    const std::string srv = root + "/unc/srv";
    for (const char* share : {"/sh", "/empty", "/other"}) removeTree(srv + share);
    makeDirs(srv + "/sh/keep");
    writeFile(srv + "/sh/keep/inner.txt", "inner");
    writeFile(srv + "/sh/f.txt", "f");
    writeFile(srv + "/sh/a.txt", "a", 0444);
    makeDirs(srv + "/empty");
    makeDirs(srv + "/other");
    writeFile(srv + "/other/other.txt", "other");
}

// The ways to name the root of \\srv\<share>.
std::vector<std::string> spellings(const std::string& share) {
    std::string upper = share;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string r = "\\\\srv\\" + share;
    return {r,
            r + "\\",
            r + "\\.",
            r + "\\keep\\..",
            r + "\\...",
            r + "\\ ",
            r + "\\..",
            "\\\\?\\UNC\\srv\\" + share + "\\..",
            "//srv/" + share + "/./",
            "\\\\SRV\\" + upper + "\\."};
}

const struct {
    const char* what;
    BOOL (*run)(const char* root);
} kCalls[] = {
    {"RemoveDirectoryA", [](const char* r) { return RemoveDirectoryA(r); }},
    {"RemoveDirectoryTreeA", [](const char* r) { return RemoveDirectoryTreeA(r); }},
    {"DeleteFileA", [](const char* r) { return DeleteFileA(r); }},
    {"MoveFileExA to \\\\srv\\other\\taken", [](const char* r) { return MoveFileExA(r, "\\\\srv\\other\\taken", 0); }},
    {"MoveFileExA of \\\\srv\\sh\\f.txt onto", [](const char* r) { return MoveFileExA("\\\\srv\\sh\\f.txt", r, 0); }},
    {"MoveFileExA REPLACE_EXISTING of \\\\srv\\sh\\f.txt onto",
     [](const char* r) { return MoveFileExA("\\\\srv\\sh\\f.txt", r, MOVEFILE_REPLACE_EXISTING); }},
};

TEST(ShareRootTest, AShareRootIsNeverRemovedMovedOrReplaced) {
    Jail jail;
    buildShares(jail.root());
    const Tree before = snapshot(jail.root());
    JAIL_RUN(outcome, jail, "share roots", 60, [](Probe& probe) {
        for (const char* share : {"sh", "empty"}) {
            for (const std::string& root : spellings(share)) {
                for (const auto& call : kCalls) {
                    const std::string row = cat(call.what, " ", root);
                    const Tree was = snapshot("/");
                    SetLastError(0);
                    const BOOL ok = call.run(root.c_str());
                    const DWORD error = GetLastError();
                    probe.expect(!ok && error == ERROR_ACCESS_DENIED, cat(row, ": answered ", ok ? "TRUE" : "FALSE",
                                                                          " with error ", error, ", not FALSE with 5"));
                    const Tree now = snapshot("/");
                    if (!probe.expect(now == was, cat(row, " changed the tree:\n", changes(was, now)))) {
                        removeAdded("/", was, now);
                        buildShares("");
                    }
                }
            }
        }
    });
    EXPECT_EQ(changes(before, snapshot(jail.root())), "");
}

std::uint64_t filetime(time_t unix) { return (std::uint64_t(unix) + 11644473600ull) * 10000000ull; }

TEST(ShareRootTest, DotDotAtAShareRootIsTheShareItself) {
    Jail jail;
    buildShares(jail.root());
    JAIL_RUN(outcome, jail, "'..' at a share root", 20, [](Probe& probe) {
        const time_t shareTime = 1592222400;  // 2020-06-15
        const time_t aboveTime = 978307200;   // 2001-01-01, the directory above the share
        for (const auto& [dir, when] : {std::pair{"/unc/srv/sh", shareTime}, std::pair{"/unc/srv", aboveTime}}) {
            const struct timespec times[2] = {{when, 0}, {when, 0}};
            probe.expect(utimensat(AT_FDCWD, dir, times, AT_SYMLINK_NOFOLLOW) == 0, cat("utimensat ", dir));
        }
        for (const char* pattern :
             {"\\\\srv\\sh\\*", "\\\\srv\\sh\\*.*", "//srv/sh/*", "\\\\SRV\\SH\\*", "\\\\srv\\sh\\keep\\..\\*"}) {
            DWORD error = 0;
            auto written = findEntries(pattern, &error);
            if (!probe.expect(!written.empty(), cat(pattern, ": error ", error))) continue;
            probe.expect(written.count(".") && written["."] == filetime(shareTime),
                         cat(pattern, ": '.' is missing or not the share's time"));
            probe.expect(written.count("..") && written[".."] == written["."],
                         cat(pattern, ": '..' ",
                             !written.count("..") ? std::string("is missing")
                             : written[".."] == filetime(aboveTime)
                                 ? std::string("has the time of the directory above the share")
                                 : cat("has the time ", written[".."]),
                             ", not the share's"));
        }
    });
}

}  // namespace
