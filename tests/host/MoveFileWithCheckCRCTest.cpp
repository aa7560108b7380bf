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

// A move across volumes: the rename reports ERROR_NOT_SAME_DEVICE, as MoveFileEx does between
// volumes, so the verified copy runs. damage: the copy arrives with one byte flipped.
class StagedMove : public MoveFileWithCheckCRC {
  public:
    StagedMove(const std::string& from, const std::string& to, DWORD flags, bool damage)
        : MoveFileWithCheckCRC(from, to, flags, 1), damage_(damage) {}
    int renames = 0;

  protected:
    BOOL renameFile(const std::string&, const std::string&, DWORD) override {
        ++renames;
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
    bool damage_;
};

using HostMoveFile = gridtest::TestShare;

// One row per way the verified move can end across volumes: moved by a copy that proved identical,
// or refused with the source and any earlier target as they were and no staged copy left behind.
// (A rename within a volume is every library move's, as the library's move tests show.)
TEST_F(HostMoveFile, MovesOrLeavesSourceAndTargetAsTheyWere) {
    struct Row {
        const char* name;
        bool damage;
        const char* previous;  // the target's content before the move; nullptr: no target
        DWORD flags;
        DWORD error;  // 0: moved
    };
    const Row rows[] = {
        {"verified copy", false, nullptr, 0, 0},
        {"copy onto an existing target", false, "previous", 0, ERROR_ALREADY_EXISTS},
        {"copy replacing a target", false, "previous", MOVEFILE_REPLACE_EXISTING, 0},
        {"damaged copy over a target", true, "previous", MOVEFILE_REPLACE_EXISTING, ERROR_CRC},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string content = payload(200001, static_cast<int>(&row - rows));
        ASSERT_TRUE(writeFile(path("src.dat"), content));
        ASSERT_TRUE(!row.previous || writeFile(path("dst.dat"), row.previous));
        StagedMove move(path("src.dat"), path("dst.dat"), row.flags, row.damage);
        const BOOL moved = move.doOnce();
        EXPECT_EQ(moved ? 0 : GetLastError(), row.error);
        EXPECT_EQ(move.renames, 1);
        if (!row.error) {
            EXPECT_EQ(readFile(path("dst.dat")), content);
            EXPECT_EQ(entries(dir()), Names{"dst.dat"});
        } else {
            EXPECT_EQ(readFile(path("src.dat")), content);
            EXPECT_EQ(readFile(path("dst.dat")), row.previous ? row.previous : "<error 2>");
            EXPECT_EQ(entries(dir()), row.previous ? (Names{"dst.dat", "src.dat"}) : Names{"src.dat"});
        }
        for (const char* name : {"src.dat", "dst.dat"}) DeleteFileA(path(name).c_str());
    }
}

}  // namespace
