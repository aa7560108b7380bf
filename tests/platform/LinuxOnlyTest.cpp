// What only the Linux build can show: handles of the wrong kind, moves across file systems, the
// per-thread last error, and share-mode bookkeeping under concurrent opens.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "TestShare.h"

namespace {

using gridtest::TestShare;

class LinuxOnlyTest : public TestShare {};

bool write(const std::string& path, const std::string& data) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    const bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, data.data(), DWORD(data.size()), &n, nullptr);
    return CloseHandle(h) && ok;
}

TEST_F(LinuxOnlyTest, SearchAndFileHandlesAreToldApart) {
    ASSERT_TRUE(write(path("f"), "x"));
    HANDLE file = CreateFileA(path("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAA fd;
    HANDLE search = FindFirstFileA(path("*").c_str(), &fd);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);

    SetLastError(0);
    EXPECT_FALSE(FindNextFileA(file, &fd));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(FindClose(file));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(search));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    // Both still work after being handed to the wrong calls.
    EXPECT_TRUE(FindNextFileA(search, &fd));
    EXPECT_TRUE(FindClose(search));
    EXPECT_TRUE(CloseHandle(file));
    SetLastError(0);
    EXPECT_FALSE(FindClose(search));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(FindNextFileA(search, &fd));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    // Handle values are not reused: the closed one stays invalid after new opens.
    HANDLE again = CreateFileA(path("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, file);
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_TRUE(CloseHandle(again));
}

TEST_F(LinuxOnlyTest, MovesAcrossFileSystemsCopyOnlyWhenAllowed) {
    struct stat shareSt, shmSt;
    const char* unc = std::getenv("GRIDAPI_UNC_ROOT");
    ASSERT_NE(unc, nullptr);
    if (stat(unc, &shareSt) != 0 || stat("/dev/shm", &shmSt) != 0 || shareSt.st_dev == shmSt.st_dev) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    const std::string elsewhere = "/dev/shm/grid-platform-move-" + std::to_string(getpid());
    ASSERT_TRUE(write(path("src"), "moved data"));
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA(path("src").c_str(), elsewhere.c_str(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SAME_DEVICE));
    ASSERT_TRUE(MoveFileExA(path("src").c_str(), elsewhere.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetFileAttributesA(path("src").c_str()), INVALID_FILE_ATTRIBUTES);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(elsewhere.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 10u);

    // Back again onto an existing file: only with REPLACE_EXISTING.
    ASSERT_TRUE(write(path("src"), "old"));
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA(elsewhere.c_str(), path("src").c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExA(elsewhere.c_str(), path("src").c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetFileAttributesA(elsewhere.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(GetFileAttributesExA(path("src").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 10u);

    // Directories do not move across file systems.
    ASSERT_TRUE(CreateDirectoryA(path("d").c_str(), nullptr));
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA(path("d").c_str(), elsewhere.c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SAME_DEVICE));
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
    for (int i = 0; i < kThreads; ++i) ASSERT_TRUE(write(path("own" + std::to_string(i)), "x"));
    ASSERT_TRUE(write(path("shared"), "x"));
    std::atomic<int> falseConflicts{0}, holders{0}, overlaps{0}, exclusiveOpens{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const std::string own = path("own" + std::to_string(i)), shared = path("shared");
            for (int r = 0; r < kRounds; ++r) {
                HANDLE h =
                    CreateFileA(own.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                if (h == INVALID_HANDLE_VALUE) {
                    ++falseConflicts;
                } else {
                    CloseHandle(h);
                }
                HANDLE x =
                    CreateFileA(shared.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                if (x != INVALID_HANDLE_VALUE) {
                    ++exclusiveOpens;
                    if (++holders > 1) ++overlaps;
                    --holders;
                    CloseHandle(x);
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
