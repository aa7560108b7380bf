// What only the Linux build can show: handles of the wrong kind, moves across file systems, the
// per-thread last error, share-mode bookkeeping under concurrent opens, and how locks beyond what
// off_t holds look in the kernel.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "Conformance.h"

namespace {

using namespace conformance;
using gridtest::TestShare;

class LinuxOnlyTest : public TestShare {};

TEST_F(LinuxOnlyTest, SearchAndFileHandlesAreToldApart) {
    ASSERT_TRUE(writeFile(path("f"), "x"));
    HANDLE file = openFile(path("f"), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAA fd;
    HANDLE search = FindFirstFileA(path("*").c_str(), &fd);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    const Outcome invalid = failsWith(ERROR_INVALID_HANDLE);
    EXPECT_EQ(outcomeOf([&] { return FindNextFileA(file, &fd); }), invalid);
    EXPECT_EQ(outcomeOf([&] { return FindClose(file); }), invalid);
    EXPECT_EQ(outcomeOf([&] { return CloseHandle(search); }), invalid);

    // Both still work after being handed to the wrong calls.
    EXPECT_TRUE(FindNextFileA(search, &fd));
    EXPECT_TRUE(FindClose(search));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(outcomeOf([&] { return FindClose(search); }), invalid);
    EXPECT_EQ(outcomeOf([&] { return FindNextFileA(search, &fd); }), invalid);
    // Handle values are not reused: the closed one stays invalid after new opens.
    HandleCloser again{openFile(path("f"), GENERIC_READ, FILE_SHARE_READ)};
    EXPECT_NE(again.h, file);
    EXPECT_EQ(outcomeOf([&] { return CloseHandle(file); }), invalid);
}

TEST_F(LinuxOnlyTest, MovesAcrossFileSystemsCopyOnlyWhenAllowed) {
    struct stat shareSt, shmSt;
    const char* unc = std::getenv("GRIDAPI_UNC_ROOT");
    ASSERT_NE(unc, nullptr);
    if (stat(unc, &shareSt) != 0 || stat("/dev/shm", &shmSt) != 0 || shareSt.st_dev == shmSt.st_dev) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    const std::string elsewhere = "/dev/shm/grid-platform-move-" + std::to_string(getpid());
    ASSERT_TRUE(writeFile(path("src"), "moved data"));
    ASSERT_TRUE(writeFile(path("old"), "old"));
    ASSERT_TRUE(CreateDirectoryA(path("d").c_str(), nullptr));
    struct Row {
        const char* name;
        std::string from, to;
        DWORD flags;
        Outcome expected;
    };
    const Row rows[] = {
        {"without copy allowed", path("src"), elsewhere, 0, failsWith(ERROR_NOT_SAME_DEVICE)},
        {"with copy allowed", path("src"), elsewhere, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH, kOk},
        // Back again onto an existing file: only with REPLACE_EXISTING.
        {"onto an existing file", elsewhere, path("old"), MOVEFILE_COPY_ALLOWED, failsWith(ERROR_ALREADY_EXISTS)},
        {"replacing an existing file", elsewhere, path("old"), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING, kOk},
        {"a directory", path("d"), elsewhere, MOVEFILE_COPY_ALLOWED, failsWith(ERROR_NOT_SAME_DEVICE)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(outcomeOf([&] { return MoveFileExA(row.from.c_str(), row.to.c_str(), row.flags); }), row.expected);
    }
    EXPECT_FALSE(exists(path("src")));
    EXPECT_FALSE(exists(elsewhere));
    EXPECT_EQ(readFile(path("old")), "moved data");
}

TEST(LastErrorTest, EachThreadHasItsOwn) {
    SetLastError(111);
    DWORD seen = 0;
    std::thread t([&] {
        seen = GetLastError();
        SetLastError(222);
    });
    t.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 111u);
}

// Opens of different files from several threads never see a sharing violation, and exclusive
// opens of one file admit exactly one holder at a time.
TEST_F(LinuxOnlyTest, ShareModesHoldUnderConcurrentOpens) {
    constexpr int kThreads = 4, kRounds = 300;
    for (int i = 0; i < kThreads; ++i) ASSERT_TRUE(writeFile(path("own" + std::to_string(i)), "x"));
    ASSERT_TRUE(writeFile(path("shared"), "x"));
    std::atomic<int> falseConflicts{0}, holders{0}, overlaps{0}, exclusiveOpens{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const std::string own = path("own" + std::to_string(i)), shared = path("shared");
            for (int r = 0; r < kRounds; ++r) {
                if (!HandleCloser{openFile(own)}.close()) ++falseConflicts;
                HandleCloser x{openFile(shared)};
                if (x.h != INVALID_HANDLE_VALUE) {
                    ++exclusiveOpens;
                    if (++holders > 1) ++overlaps;
                    --holders;
                } else if (GetLastError() != ERROR_SHARING_VIOLATION) {
                    ++falseConflicts;
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(falseConflicts.load(), 0);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(exclusiveOpens.load(), 0);
}

}  // namespace

namespace {

// A folder holding every temporary name of a prefix under another case: the next free number is
// found in one read of the folder (a case variant counts as taken), and a full folder answers 80.
TEST_F(LinuxOnlyTest, TemporaryNamesPassOverEveryCaseVariant) {
    const std::string folder =
        std::string(std::getenv("GRIDAPI_UNC_ROOT")) + "/gridtest/share/" + dir().substr(dir().rfind('\\') + 1);
    for (unsigned n = 1; n <= 0xFFFF; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/TMP%X.TMP", n);
        if (n == 0x1234) continue;  // the one number left free
        const int fd = ::creat((folder + name).c_str(), 0644);
        ASSERT_GE(fd, 0) << name;
        ::close(fd);
    }
    char made[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(dir().c_str(), "tmp", 0, made), 0x1234u);
    EXPECT_EQ(std::string(made), dir() + "\\tmp1234.tmp");
    EXPECT_EQ(outcomeOf([&] { return GetTempFileNameA(dir().c_str(), "tmp", 0, made) != 0; }),
              failsWith(ERROR_FILE_EXISTS));
    // The folder holds 65,535 files: they go with the test's directory.
}

}  // namespace

namespace {

// What another open file description sees in the kernel at [start, start + length) (length 0: to
// the end): F_WRLCK, F_RDLCK or F_UNLCK.
short kernelLockAt(const std::string& posixPath, off_t start, off_t length) {
    const int fd = ::open(posixPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    const short type = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 ? fl.l_type : -1;
    ::close(fd);
    return type;
}

// Win32 offsets run to 2^64, the kernel's to 2^63 - 1: a lock from 2^63 - 1 on is one piece in the
// kernel, from 2^63 - 1 to the end, of the strongest kind the handle holds there.
TEST_F(LinuxOnlyTest, LocksBeyondOffTAreOnePieceInTheKernel) {
    ASSERT_TRUE(writeFile(path("f"), "x"));
    std::string posixPath = std::string(std::getenv("GRIDAPI_UNC_ROOT")) + "/" + dir().substr(2) + "/f";
    for (char& c : posixPath) c = c == '\\' ? '/' : c;
    constexpr off_t kLast = std::numeric_limits<off_t>::max();
    constexpr DWORD X = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, S = LOCKFILE_FAIL_IMMEDIATELY;
    struct Row {
        const char* name;
        DWORD offsetHigh, offset, length, flags;
        off_t probeStart, probeLength;
        short seen;  // what the kernel shows another description there while the lock is held
    };
    const Row rows[] = {
        {"exclusive at 2^63", 0x80000000u, 0, 1, X, kLast, 0, F_WRLCK},
        {"shared at 2^63", 0x80000000u, 0, 1, S, kLast, 0, F_RDLCK},
        {"exclusive at the top", 0xFFFFFFFFu, 0xFFFFFFF0u, 15, X, kLast, 0, F_WRLCK},
        {"exclusive just below 2^63 - 1: exact", 0x7FFFFFFFu, 0xFFFFFFFDu, 1, X, kLast - 2, 1, F_WRLCK},
        {"exclusive just below 2^63 - 1: not beyond", 0x7FFFFFFFu, 0xFFFFFFFDu, 1, X, kLast, 0, F_UNLCK},
        {"across 2^63 - 1: below it", 0x7FFFFFFFu, 0xFFFFFFF0u, 0x100, X, kLast - 15, 1, F_WRLCK},
        {"across 2^63 - 1: beyond it", 0x7FFFFFFFu, 0xFFFFFFF0u, 0x100, X, kLast, 0, F_WRLCK},
        {"across 2^63 - 1: not before it", 0x7FFFFFFFu, 0xFFFFFFF0u, 0x100, X, kLast - 16, 1, F_UNLCK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandleCloser h{openFile(path("f"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE)};
        ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
        OVERLAPPED ov{};
        ov.Offset = row.offset;
        ov.OffsetHigh = row.offsetHigh;
        ASSERT_TRUE(LockFileEx(h.h, row.flags, 0, row.length, 0, &ov));
        EXPECT_EQ(kernelLockAt(posixPath, row.probeStart, row.probeLength), row.seen);
        ASSERT_TRUE(UnlockFileEx(h.h, 0, row.length, 0, &ov));
        EXPECT_EQ(kernelLockAt(posixPath, row.probeStart, row.probeLength), F_UNLCK);
    }

    // The price of the one piece: two handles' exclusive locks up there meet, however far apart.
    HandleCloser a{openFile(path("f"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    HandleCloser b{openFile(path("f"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    OVERLAPPED low{}, high{};
    low.OffsetHigh = 0x80000000u;
    high.OffsetHigh = 0xF0000000u;
    ASSERT_TRUE(LockFileEx(a.h, X, 0, 1, 0, &low));
    EXPECT_EQ(outcomeOf([&] { return LockFileEx(b.h, X, 0, 1, 0, &high); }), failsWith(ERROR_LOCK_VIOLATION));
}

}  // namespace
