// What only the Linux build can show: handles of the wrong kind, moves across file systems, the
// per-thread last error and the temporary names of a full folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

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

    // Both still close after being handed to the wrong calls.
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
