// One table of attacks on names in the share, each row a call on a name in a fresh jail: links that
// point at nothing (a creating call never makes what a link leading out points at, neither outside
// the share nor at the jail's "/"; a link that stays inside is followed), a share's own directory
// however it is spelled (never removed, deleted, moved or replaced), a FIFO (opening or copying it is
// refused with 5 at once, since an open of a FIFO without a writer would block for ever; the attribute
// call still sees it; a socket or a device takes the same two branches: ENXIO, or not a regular
// file), the '..' a search at a share root lists (the share itself, never the directory above it),
// and a tree 1,000 directories deep (removed on a thread with a small stack; with few descriptors
// refused, with an error and without a crash). A refused call changes nothing at all; one that may
// make or remove something changes nothing outside the share, the share itself included. Each row
// runs in a child of its own with an alarm: a call that blocks fails its row.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <stdexcept>

#include "Jail.h"

namespace {

using namespace security;

const std::string kShare = "/unc/srv/sh";
#define SH "\\\\srv\\sh\\"

struct Call {
    const char* what;
    DWORD (*run)(const std::string& name);
};
const Call kMkDir = {"CreateDirectoryA",
                     [](const std::string& n) { return answer(CreateDirectoryA(n.c_str(), nullptr)); }};
const Call kOpenRead = {"CreateFileA GENERIC_READ OPEN_EXISTING",
                        [](const std::string& n) { return openAnswer(n, GENERIC_READ, OPEN_EXISTING); }};
const Call kCreateAlways = {"CreateFileA CREATE_ALWAYS",
                            [](const std::string& n) { return openAnswer(n, GENERIC_WRITE, CREATE_ALWAYS); }};
const Call kCreateNew = {"CreateFileA CREATE_NEW",
                         [](const std::string& n) { return openAnswer(n, GENERIC_WRITE, CREATE_NEW); }};
const Call kOpenAlways = {"CreateFileA OPEN_ALWAYS",
                          [](const std::string& n) { return openAnswer(n, GENERIC_WRITE, OPEN_ALWAYS); }};
const Call kCopyFrom = {"CopyFileA to copy.txt from",
                        [](const std::string& n) { return answer(CopyFileA(n.c_str(), SH "copy.txt", FALSE)); }};
const Call kCopyOnto = {"CopyFileA of src.txt onto",
                        [](const std::string& n) { return answer(CopyFileA(SH "src.txt", n.c_str(), FALSE)); }};
const Call kMoveOnto = {"MoveFileExA of src.txt onto",
                        [](const std::string& n) { return answer(MoveFileExA(SH "src.txt", n.c_str(), 0)); }};
const Call kMoveReplacing = {"MoveFileExA REPLACE_EXISTING of src.txt onto", [](const std::string& n) {
                                 return answer(MoveFileExA(SH "src.txt", n.c_str(), MOVEFILE_REPLACE_EXISTING));
                             }};
const Call kMoveAway = {"MoveFileExA to \\\\srv\\other\\taken of", [](const std::string& n) {
                            return answer(MoveFileExA(n.c_str(), "\\\\srv\\other\\taken", 0));
                        }};
const Call kDelete = {"DeleteFileA", [](const std::string& n) { return answer(DeleteFileA(n.c_str())); }};
const Call kRmDir = {"RemoveDirectoryA", [](const std::string& n) { return answer(RemoveDirectoryA(n.c_str())); }};
const Call kRmTree = {"RemoveDirectoryTreeA",
                      [](const std::string& n) { return answer(RemoveDirectoryTreeA(n.c_str())); }};
const Call kAttributes = {"GetFileAttributesA", [](const std::string& n) {
                              return answer(GetFileAttributesA(n.c_str()) != INVALID_FILE_ATTRIBUTES);
                          }};

constexpr DWORD kCreatesInside = 0x10000;    // succeeds, making the link's target in the share
constexpr DWORD kMayReplaceLink = 0x10001;   // fails, or succeeds by putting the file in the link's place
constexpr DWORD kRefusedOnTheWay = 0x10002;  // below a link leading out: 5 or 3
constexpr DWORD kRemovesIt = 0x10003;        // succeeds, and the name is gone
constexpr DWORD kFailsSomehow = 0x10004;     // fails with an error, what it removed before gone

// RemoveDirectoryTreeA on a thread with a 256 KiB stack, the process holding at most `files`
// descriptors (0: as many as it has).
template <rlim_t files>
DWORD removeOnASmallStack(const std::string& name) {
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = files ? files : limit.rlim_cur;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) throw std::runtime_error("setrlimit RLIMIT_NOFILE");
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    std::pair<std::string, DWORD> removal{name, 0};
    const auto remove = [](void* r) -> void* {
        auto* removal = static_cast<std::pair<std::string, DWORD>*>(r);
        removal->second = answer(RemoveDirectoryTreeA(removal->first.c_str()));
        return nullptr;
    };
    pthread_t thread;
    if (pthread_create(&thread, &attr, remove, &removal) != 0) throw std::runtime_error("pthread_create");
    pthread_join(thread, nullptr);
    return removal.second;
}
const Call kRmTreeSmallStack = {"RemoveDirectoryTreeA on a 256 KiB stack", removeOnASmallStack<0>};
const Call kRmTree64Files = {"RemoveDirectoryTreeA with 64 descriptors", removeOnASmallStack<64>};

// A search that lists the share ("keep" in it) with its '..' the same as its '.' (in the shares
// below, the directory above the share has another time): 0, else 1.
const Call kDotDot = {"FindFirstFileA", [](const std::string& n) {
                          auto found = findEntries(n);
                          return DWORD(found.count("keep") && found.count("..") && found[".."] == found["."] ? 0 : 1);
                      }};

// The builders of a jail's share; they throw on failure.
// The shares sh (not empty), empty and other, below a directory whose time is 2001-01-01.
void shares(const std::string& root) {
    const std::string srv = root + "/unc/srv";
    makeDirs(srv + "/sh/keep");
    writeFile(srv + "/sh/keep/inner.txt", "inner");
    writeFile(srv + "/sh/src.txt", "source");
    writeFile(srv + "/sh/a.txt", "a", 0444);
    makeDirs(srv + "/empty");
    writeFile(srv + "/other/other.txt", "other");
    const struct timespec times[2] = {{978307200, 0}, {978307200, 0}};
    if (utimensat(AT_FDCWD, srv.c_str(), times, 0) != 0) throw std::runtime_error("utimensat " + srv);
}
// \\srv\sh\d, a tree 1,000 directories deep, each holding a file.
void deepTree(const std::string& root) {
    std::string dir = root + kShare;
    for (int depth = 0; depth < 1000; ++depth) {
        makeDirs(dir += "/d");
        writeFile(dir + "/f", "level");
    }
}
void fifo(const std::string& root) {
    writeFile(root + kShare + "/src.txt", "source");
    if (mkfifo((root + kShare + "/fifo").c_str(), 0666) != 0) throw std::runtime_error("mkfifo");
}

using Wants = std::vector<std::pair<const Call*, DWORD>>;
struct Attack {
    const char* what;
    void (*build)(const std::string& root);
    std::vector<std::string> names;
    Wants wants;
};
const Wants kCreating = {{&kMkDir, 183},  {&kCreateAlways, 5}, {&kCreateNew, 80},
                         {&kCopyOnto, 5}, {&kMoveOnto, 183},   {&kMoveReplacing, kMayReplaceLink}};
// kCreating with the answer `from` (every answer, when 0) made `to`.
Wants creating(DWORD from, DWORD to) {
    Wants wants = kCreating;
    for (auto& w : wants) w.second = !from || w.second == from ? to : w.second;
    return wants;
}
const Wants kOnSpecial = {{&kOpenRead, 5}, {&kOpenAlways, 5}, {&kCreateAlways, 5},
                          {&kCopyFrom, 5}, {&kCopyOnto, 5},   {&kAttributes, 0}};
const Attack kAttacks[] = {
    {"a dangling link leading out", buildShare, {SH "dl", SH "DL", SH "dr"}, kCreating},
    {"a dangling link staying inside", buildShare, {SH "din"}, creating(5, kCreatesInside)},
    {"below a dangling link", buildShare, {SH "dl\\x", SH "DM\\x"}, creating(0, kRefusedOnTheWay)},
    // The ways a share root's name ends with no part left, and the empty share that only the share
    // root's protection keeps (removing a share that is not empty fails anyway).
    {"a share root",
     shares,
     {"\\\\srv\\sh", SH ".", SH "...", SH "..", SH "keep\\..", "\\\\?\\UNC\\srv\\sh\\..", "\\\\srv\\empty"},
     {{&kRmDir, 5}, {&kRmTree, 5}, {&kDelete, 5}, {&kMoveAway, 5}, {&kMoveOnto, 5}, {&kMoveReplacing, 5}}},
    {"a FIFO", fifo, {SH "fifo"}, kOnSpecial},
    {"'..' at a share root", shares, {SH "*", SH "keep\\..\\*"}, {{&kDotDot, 0}}},
    {"a deep tree", deepTree, {SH "d"}, {{&kRmTreeSmallStack, kRemovesIt}, {&kRmTree64Files, kFailsSomehow}}},
};

// Whether the link `name` was replaced by the moved source: one entry of that name (without regard
// to case) in the share, a file holding the source's content.
bool replacedByTheSource(const std::string& name) {
    const std::string leaf = name.substr(name.rfind('\\') + 1);
    std::vector<std::string> found;
    for (const auto& [path, what] : snapshot(kShare)) {
        if (strcasecmp(path.c_str(), leaf.c_str()) == 0) found.push_back(what);
    }
    return found.size() == 1 && found[0].rfind("file ", 0) == 0 && found[0].find("\"source\"") != std::string::npos;
}

void attack(const Attack& a, const std::string& name, const Call& call, DWORD want) {
    const std::string row = cat(call.what, " ", name, " (", a.what, ")");
    Jail jail;
    a.build(jail.root());
    // A call that may make or remove something in the share is judged by what it leaves outside it.
    const bool inside =
        want == kCreatesInside || want == kMayReplaceLink || want == kRemovesIt || want == kFailsSomehow;
    const std::vector<std::string> keep = inside ? std::vector<std::string>{"unc/srv/sh"} : std::vector<std::string>{};
    const Tree before = snapshot(jail.root(), keep);
    JAIL_RUN(outcome, jail, row, 10, [&](Probe& probe) {
        const DWORD got = call.run(name);
        const bool ok = want == kRefusedOnTheWay  ? got == 5 || got == 3
                        : want == kCreatesInside  ? got == 0 && exists(kShare + "/missing-inside")
                        : want == kMayReplaceLink ? got != 0 || replacedByTheSource(name)
                        : want == kRemovesIt    ? got == 0 && !exists(kShare + "/" + name.substr(name.rfind('\\') + 1))
                        : want == kFailsSomehow ? got != 0
                                                : got == want;
        probe.expect(ok, cat(row, ": answered ", got, ", not as the row wants (", want, ")"));
    });
    EXPECT_EQ(changes(before, snapshot(jail.root(), keep)), "") << row;
}

TEST(AttackTest, EachCallOnEachNameAnswersAsItsRowSaysAndChangesNothingOutside) {
    for (const Attack& a : kAttacks) {
        for (const std::string& name : a.names) {
            for (const auto& [call, want] : a.wants) attack(a, name, *call, want);
        }
    }
}

}  // namespace
