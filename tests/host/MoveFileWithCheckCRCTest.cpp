#include <StravoHost/MoveFileWithCheckCRC.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "Conformance.h"
#include "TestShare.h"

#ifndef ERROR_CRC
#define ERROR_CRC 23L
#endif

namespace {

using conformance::exists;
using conformance::readFile;
using conformance::writeFile;
using Names = std::set<std::string>;

// The entries of a directory, without "." and "..".
Names entries(const std::string& dir) {
    Names names = conformance::findNames(dir + "\\*").first;
    names.erase(".");
    names.erase("..");
    return names;
}

// Content large enough to take several reads, with every byte value.
std::string payload(size_t size, int seed) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + seed) & 0xFF);
    return content;
}

// A move with staged failures. crossVolume: the rename reports ERROR_NOT_SAME_DEVICE, as MoveFileEx
// does between volumes, so the verified copy runs. damage: the copy arrives with one byte flipped.
class StagedMove : public MoveFileWithCheckCRC {
  public:
    StagedMove(const std::string& from, const std::string& to, DWORD flags, int option, bool crossVolume,
               bool damage = false)
        : MoveFileWithCheckCRC(from, to, flags, option), crossVolume_(crossVolume), damage_(damage) {}
    int renames = 0;

  protected:
    BOOL renameFile(const std::string& from, const std::string& to, DWORD flags) override {
        ++renames;
        if (!crossVolume_) return MoveFileWithCheckCRC::renameFile(from, to, flags);
        SetLastError(ERROR_NOT_SAME_DEVICE);
        return FALSE;
    }
    BOOL copyFile(const std::string& from, const std::string& to) override {
        if (!MoveFileWithCheckCRC::copyFile(from, to)) return FALSE;
        if (!damage_) return TRUE;
        std::string content = readFile(to);
        content[content.size() / 2] ^= 0x01;
        return writeFile(to, content) ? TRUE : FALSE;
    }

  private:
    bool crossVolume_, damage_;
};

using HostMoveFile = gridtest::TestShare;

TEST_F(HostMoveFile, MovesByRenameOrByVerifiedCopy) {
    ASSERT_TRUE(CreateDirectoryA(path("other").c_str(), nullptr));
    struct Row {
        const char* name;
        int option;
        bool crossVolume;
        std::string content;
        const char* target;
        int renames;  // tries of the staged rename
    };
    const Row rows[] = {
        {"rename within a volume", 1, false, payload(200000, 1), "dst1.dat", 1},
        {"copy across volumes", 1, true, payload(300001, 7), "other\\dst2.dat", 1},
        {"copy of an empty file", 1, true, "", "dst3.dat", 1},
        // Any other option is a plain MoveFileEx, which the staged rename never sees.
        {"unverified move", 0, true, "plain", "dst4.dat", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(writeFile(path("src.dat"), row.content));
        StagedMove move(path("src.dat"), path(row.target), 0, row.option, row.crossVolume);
        ASSERT_TRUE(move.doOnce()) << GetLastError();
        EXPECT_EQ(move.renames, row.renames);
        EXPECT_FALSE(exists(path("src.dat")));
        EXPECT_EQ(readFile(path(row.target)), row.content);
    }
    EXPECT_EQ(entries(path("other")), Names{"dst2.dat"});
}

TEST_F(HostMoveFile, ExistingTargetIsRefusedWithoutReplaceAndReplacedWithIt) {
    for (bool crossVolume : {false, true}) {
        SCOPED_TRACE(crossVolume ? "copy" : "rename");
        ASSERT_TRUE(writeFile(path("src.dat"), "new content"));
        ASSERT_TRUE(writeFile(path("dst.dat"), "old content"));
        SetLastError(0);
        EXPECT_FALSE(StagedMove(path("src.dat"), path("dst.dat"), 0, 1, crossVolume).doOnce());
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) << error;
        EXPECT_EQ(readFile(path("src.dat")), "new content");
        EXPECT_EQ(readFile(path("dst.dat")), "old content");

        StagedMove replacing(path("src.dat"), path("dst.dat"), MOVEFILE_REPLACE_EXISTING, 1, crossVolume);
        ASSERT_TRUE(replacing.doOnce()) << GetLastError();
        EXPECT_EQ(readFile(path("dst.dat")), "new content");
        EXPECT_EQ(entries(dir()), Names{"dst.dat"});
        ASSERT_TRUE(DeleteFileA(path("dst.dat").c_str()));
    }
}

TEST_F(HostMoveFile, FailuresAreReportedAndLeaveTheSource) {
    ASSERT_TRUE(writeFile(path("src.dat"), "keep me"));
    MoveFileWithCheckCRC missingDir(path("src.dat"), path("no-such-dir\\dst.dat"), MOVEFILE_REPLACE_EXISTING, 1);
    EXPECT_FALSE(missingDir.doOnce());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    MoveFileWithCheckCRC missingSource(path("absent.dat"), path("dst.dat"), 0, 1);
    EXPECT_FALSE(missingSource.doOnce());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(readFile(path("src.dat")), "keep me");
    EXPECT_EQ(entries(dir()), Names{"src.dat"});
}

// A damaged copy is removed again; the source and any earlier target stay as they were.
TEST_F(HostMoveFile, DamagedCopyIsRemovedAndTheRestKept) {
    const std::string content = payload(100000, 3);
    ASSERT_TRUE(writeFile(path("src.dat"), content));
    for (bool targetExists : {false, true}) {
        for (DWORD flags : {DWORD(0), DWORD(MOVEFILE_REPLACE_EXISTING)}) {
            if (targetExists && !flags) continue;  // refused before any copy
            SCOPED_TRACE(std::string(targetExists ? "over a target" : "no target") + ", flags " +
                         std::to_string(flags));
            ASSERT_TRUE(!targetExists || writeFile(path("dst.dat"), "previous"));
            EXPECT_FALSE(StagedMove(path("src.dat"), path("dst.dat"), flags, 1, true, true).doOnce());
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CRC));
            EXPECT_EQ(readFile(path("src.dat")), content);
            if (targetExists) {
                EXPECT_EQ(readFile(path("dst.dat")), "previous");
            }
            EXPECT_EQ(entries(dir()), targetExists ? (Names{"dst.dat", "src.dat"}) : Names{"src.dat"});
        }
    }
}

}  // namespace
