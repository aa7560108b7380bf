#include <StravoHost/MoveFileWithCheckCRC.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestShare.h"

#ifndef ERROR_CRC
#define ERROR_CRC 23L
#endif

namespace {

bool writeFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

// The file's content, or "<missing>".
std::string readFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return content;
}

std::vector<std::string> listDirectory(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Content large enough to take several reads, with every byte value.
std::string payload(size_t size, int seed) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + seed) & 0xFF);
    return content;
}

// Stages a move between volumes: the rename reports ERROR_NOT_SAME_DEVICE, as MoveFileEx does
// when source and target lie on different volumes, so the verified copy runs.
class CrossVolumeMove : public MoveFileWithCheckCRC {
  public:
    using MoveFileWithCheckCRC::MoveFileWithCheckCRC;
    int renames = 0;

  protected:
    BOOL renameFile(const std::string&, const std::string&, DWORD) override {
        ++renames;
        SetLastError(ERROR_NOT_SAME_DEVICE);
        return FALSE;
    }
};

// A copy that arrives damaged: one byte flipped after the copy is written.
class DamagingCopyMove : public CrossVolumeMove {
  public:
    using CrossVolumeMove::CrossVolumeMove;

  protected:
    BOOL copyFile(const std::string& from, const std::string& to) override {
        if (!MoveFileWithCheckCRC::copyFile(from, to)) return FALSE;
        std::string content = readFile(to);
        content[content.size() / 2] ^= 0x01;
        return writeFile(to, content) ? TRUE : FALSE;
    }
};

using HostMoveFile = gridtest::TestShare;

TEST_F(HostMoveFile, RenamesWithinAVolume) {
    const std::string content = payload(200000, 1);
    ASSERT_TRUE(writeFile(path("src.dat"), content));
    MoveFileWithCheckCRC move(path("src.dat"), path("dst.dat"), 0, 1);
    ASSERT_TRUE(move.doOnce()) << GetLastError();
    EXPECT_EQ(readFile(path("src.dat")), "<missing>");
    EXPECT_EQ(readFile(path("dst.dat")), content);
}

TEST_F(HostMoveFile, ExistingTargetIsRefusedWithoutReplaceAndReplacedWithIt) {
    for (bool crossVolume : {false, true}) {
        SCOPED_TRACE(crossVolume ? "copy" : "rename");
        ASSERT_TRUE(writeFile(path("src.dat"), "new content"));
        ASSERT_TRUE(writeFile(path("dst.dat"), "old content"));

        CrossVolumeMove refusedCopy(path("src.dat"), path("dst.dat"), 0, 1);
        MoveFileWithCheckCRC refusedRename(path("src.dat"), path("dst.dat"), 0, 1);
        SetLastError(0);
        EXPECT_FALSE(crossVolume ? refusedCopy.doOnce() : refusedRename.doOnce());
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) << error;
        EXPECT_EQ(readFile(path("src.dat")), "new content");
        EXPECT_EQ(readFile(path("dst.dat")), "old content");

        CrossVolumeMove replacingCopy(path("src.dat"), path("dst.dat"), MOVEFILE_REPLACE_EXISTING, 1);
        MoveFileWithCheckCRC replacingRename(path("src.dat"), path("dst.dat"), MOVEFILE_REPLACE_EXISTING, 1);
        ASSERT_TRUE(crossVolume ? replacingCopy.doOnce() : replacingRename.doOnce()) << GetLastError();
        EXPECT_EQ(readFile(path("src.dat")), "<missing>");
        EXPECT_EQ(readFile(path("dst.dat")), "new content");
        EXPECT_EQ(listDirectory(dir()), std::vector<std::string>{"dst.dat"});
        ASSERT_TRUE(DeleteFileA(path("dst.dat").c_str()));
    }
}

TEST_F(HostMoveFile, FailedRenameLeavesTheSourceIntact) {
    ASSERT_TRUE(writeFile(path("src.dat"), "keep me"));
    MoveFileWithCheckCRC move(path("src.dat"), path("no-such-dir\\dst.dat"), MOVEFILE_REPLACE_EXISTING, 1);
    EXPECT_FALSE(move.doOnce());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(readFile(path("src.dat")), "keep me");
}

TEST_F(HostMoveFile, MissingSourceIsReported) {
    MoveFileWithCheckCRC move(path("absent.dat"), path("dst.dat"), 0, 1);
    EXPECT_FALSE(move.doOnce());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(listDirectory(dir()).empty());
}

TEST_F(HostMoveFile, CopiesAcrossVolumesAndRemovesTheSourceAfterVerifying) {
    const std::string content = payload(300001, 7);
    ASSERT_TRUE(CreateDirectoryA(path("other").c_str(), nullptr));
    ASSERT_TRUE(writeFile(path("src.dat"), content));
    CrossVolumeMove move(path("src.dat"), path("other\\dst.dat"), 0, 1);
    ASSERT_TRUE(move.doOnce()) << GetLastError();
    EXPECT_EQ(move.renames, 1);
    EXPECT_EQ(readFile(path("src.dat")), "<missing>");
    EXPECT_EQ(readFile(path("other\\dst.dat")), content);
    EXPECT_EQ(listDirectory(path("other")), std::vector<std::string>{"dst.dat"});
}

// A real second volume where the machine has one: /dev/shm is a tmpfs of its own on Linux.
TEST_F(HostMoveFile, MovesToAnotherVolumeForReal) {
#if defined(_WIN32)
    const std::string otherVolume = "Z:\\dev\\shm";
#else
    const std::string otherVolume = "/dev/shm";
#endif
    if (GetFileAttributesA(otherVolume.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no " << otherVolume;
    const std::string target = otherVolume + "/host-move-" + std::to_string(gridtest::processId()) + ".dat";
    DeleteFileA(target.c_str());
    const std::string content = payload(150000, 9);
    ASSERT_TRUE(writeFile(path("src.dat"), content));

    MoveFileWithCheckCRC move(path("src.dat"), target, 0, 1);
    const BOOL moved = move.doOnce();
    const DWORD error = GetLastError();
    const std::string arrived = readFile(target);
    DeleteFileA(target.c_str());
    ASSERT_TRUE(moved) << error;
    EXPECT_EQ(arrived, content);
    EXPECT_TRUE(listDirectory(dir()).empty());
}

TEST_F(HostMoveFile, DamagedCopyIsRemovedAndTheSourceKept) {
    const std::string content = payload(100000, 3);
    ASSERT_TRUE(writeFile(path("src.dat"), content));
    for (DWORD flags : {DWORD(0), DWORD(MOVEFILE_REPLACE_EXISTING)}) {
        DamagingCopyMove move(path("src.dat"), path("dst.dat"), flags, 1);
        EXPECT_FALSE(move.doOnce());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CRC));
        EXPECT_EQ(readFile(path("src.dat")), content);
        EXPECT_EQ(listDirectory(dir()), std::vector<std::string>{"src.dat"});
    }
}

TEST_F(HostMoveFile, DamagedCopyLeavesAnExistingTargetAlone) {
    ASSERT_TRUE(writeFile(path("src.dat"), payload(5000, 1)));
    ASSERT_TRUE(writeFile(path("dst.dat"), "previous"));
    DamagingCopyMove move(path("src.dat"), path("dst.dat"), MOVEFILE_REPLACE_EXISTING, 1);
    EXPECT_FALSE(move.doOnce());
    EXPECT_EQ(readFile(path("dst.dat")), "previous");
    EXPECT_EQ(readFile(path("src.dat")), payload(5000, 1));
    EXPECT_EQ(listDirectory(dir()), (std::vector<std::string>{"dst.dat", "src.dat"}));
}

TEST_F(HostMoveFile, EmptyFileCopiesToo) {
    ASSERT_TRUE(writeFile(path("empty.dat"), ""));
    CrossVolumeMove move(path("empty.dat"), path("moved.dat"), 0, 1);
    ASSERT_TRUE(move.doOnce()) << GetLastError();
    EXPECT_EQ(readFile(path("moved.dat")), "");
    EXPECT_EQ(listDirectory(dir()), std::vector<std::string>{"moved.dat"});
}

TEST_F(HostMoveFile, UnverifiedOptionIsAPlainMove) {
    ASSERT_TRUE(writeFile(path("src.dat"), "plain"));
    MoveFileWithCheckCRC move(path("src.dat"), path("dst.dat"), 0, 0);
    ASSERT_TRUE(move.doOnce()) << GetLastError();
    EXPECT_EQ(readFile(path("dst.dat")), "plain");
    EXPECT_EQ(move.existing(), path("src.dat"));
    EXPECT_EQ(move.target(), path("dst.dat"));
}

}  // namespace
