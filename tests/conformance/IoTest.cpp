// ReadFile / WriteFile, the file pointer, sizes, SetEndOfFile and byte-range locks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Conformance.h"

namespace {

using namespace conformance;
using gridtest::TestShare;

class IoTest : public TestShare {
  protected:
    void SetUp() override {
        TestShare::SetUp();
        file_ = path("io");
        ASSERT_TRUE(writeFile(file_, std::string(100, 'a')));
        h_ = openFile(file_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_NE(h_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        TestShare::TearDown();
    }
    LONGLONG position() {
        LARGE_INTEGER zero{}, pos{};
        EXPECT_TRUE(SetFilePointerEx(h_, zero, &pos, FILE_CURRENT));
        return pos.QuadPart;
    }
    std::string file_;
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

TEST_F(IoTest, SetFilePointerExMovesByMethod) {
    struct Row {
        const char* name;
        LONGLONG distance;
        DWORD method;
        Outcome expected;
        LONGLONG position;  // afterwards; every row starts at 50
    };
    const Row rows[] = {
        {"from the beginning", 10, FILE_BEGIN, kOk, 10},
        {"back from the current position", -20, FILE_CURRENT, kOk, 30},
        {"back from the end", -1, FILE_END, kOk, 99},
        {"past the end", 10, FILE_END, kOk, 110},
        {"before the beginning", -1, FILE_BEGIN, failsWith(ERROR_NEGATIVE_SEEK), 50},
        {"before the beginning from the current position", -51, FILE_CURRENT, failsWith(ERROR_NEGATIVE_SEEK), 50},
        {"unknown method", 0, 3, failsWith(ERROR_INVALID_PARAMETER), 50},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(SetFilePointer(h_, 50, nullptr, FILE_BEGIN), 50u);
        LARGE_INTEGER distance, pos{};
        distance.QuadPart = row.distance;
        EXPECT_EQ(outcomeOf([&] { return SetFilePointerEx(h_, distance, &pos, row.method); }), row.expected);
        if (row.expected.ok) {
            EXPECT_EQ(pos.QuadPart, row.position);
        }
        EXPECT_EQ(position(), row.position);
    }
}

TEST_F(IoTest, PositionsAndSizesSplitIntoTwoHalves) {
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(h_, 16, &high, FILE_BEGIN), 16u);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(position(), (1LL << 32) + 16);
    ASSERT_TRUE(SetEndOfFile(h_));  // sparse
    DWORD sizeHigh = 0;
    EXPECT_EQ(GetFileSize(h_, &sizeHigh), 16u);
    EXPECT_EQ(sizeHigh, 1u);

    // A low half that equals the failure value comes with a cleared last error, from both calls.
    high = 0;
    EXPECT_EQ(outcomeOf([&] { return SetFilePointer(h_, -1, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER; }),
              succeedsWith(NO_ERROR));
    EXPECT_EQ(high, 0);
    EXPECT_EQ(position(), 0xFFFFFFFFLL);
    ASSERT_TRUE(SetEndOfFile(h_));
    EXPECT_EQ(outcomeOf([&] { return GetFileSize(h_, &sizeHigh) == INVALID_FILE_SIZE; }), succeedsWith(NO_ERROR));
    EXPECT_EQ(sizeHigh, 0u);

    // Without a high half a result of 4 GiB or more fails and the pointer stays; Wine moves it.
    if (!underWine()) {
        for (DWORD method : {DWORD(FILE_CURRENT), DWORD(FILE_END)}) {
            SCOPED_TRACE(method);
            const LONG distance = method == FILE_END ? 0x7FFFFFFF : 1;
            if (method == FILE_END) {
                LARGE_INTEGER size;
                size.QuadPart = 0xC0000000LL;  // 3 GiB (sparse): plus 2 GiB is past 4 GiB
                ASSERT_TRUE(SetFilePointerEx(h_, size, nullptr, FILE_BEGIN));
                ASSERT_TRUE(SetEndOfFile(h_));
                ASSERT_EQ(SetFilePointer(h_, -1, &high, FILE_BEGIN), 0xFFFFFFFFu);
            }
            EXPECT_EQ(
                outcomeOf([&] { return SetFilePointer(h_, distance, nullptr, method) != INVALID_SET_FILE_POINTER; }),
                failsWith(ERROR_INVALID_PARAMETER));
            EXPECT_EQ(position(), 0xFFFFFFFFLL);
        }
    }

    EXPECT_EQ(outcomeOf([&] { return SetFilePointer(h_, -1, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER; }),
              failsWith(ERROR_NEGATIVE_SEEK));
}

TEST_F(IoTest, OffsetReadsAndWritesOnASynchronousHandle) {
    OVERLAPPED ov{};
    ov.Offset = 200;
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h_, "tail", 4, &n, &ov));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(position(), 204);  // the file pointer follows the offset I/O
    EXPECT_EQ(GetFileSize(h_, nullptr), 204u);

    char buf[8] = {};
    ov = OVERLAPPED{};
    ov.Offset = 98;
    EXPECT_TRUE(ReadFile(h_, buf, 4, &n, &ov));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buf, 4), std::string("aa\0\0", 4));  // the gap reads as zeros
    EXPECT_EQ(position(), 102);

    ov = OVERLAPPED{};
    ov.Offset = 500;  // past the end: an offset read reports the end of the file
    EXPECT_EQ(outcomeOf([&] { return ReadFile(h_, buf, 4, &n, &ov); }), failsWith(ERROR_HANDLE_EOF));
    EXPECT_EQ(n, 0u);
    // Without an offset the same read succeeds with nothing read; a write of nothing succeeds too.
    ASSERT_EQ(SetFilePointer(h_, 500, nullptr, FILE_BEGIN), 500u);
    EXPECT_EQ(outcomeOf([&] { return ReadFile(h_, buf, 4, &n, nullptr); }), kOk);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(WriteFile(h_, "", 0, &n, nullptr));
    EXPECT_EQ(n, 0u);
}

// An OVERLAPPED whose two halves are 0xFFFFFFFF writes at the end of the file, wherever that is.
TEST_F(IoTest, WriteAtOffsetAllOnesAppends) {
    struct Row {
        const char* name;
        DWORD offset, offsetHigh;
        const char* data;
        Outcome expected;
        std::string content;  // the file afterwards
        LONGLONG pointer;     // the file pointer afterwards: after what was written
    };
    const Row rows[] = {
        {"both halves all ones: at the end", 0xFFFFFFFFu, 0xFFFFFFFFu, "end", kOk, std::string(100, 'a') + "end", 103},
        {"again: at the new end", 0xFFFFFFFFu, 0xFFFFFFFFu, "!", kOk, std::string(100, 'a') + "end!", 104},
        {"an ordinary offset", 2, 0, "bb", kOk, "aabb" + std::string(96, 'a') + "end!", 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OVERLAPPED ov{};
        ov.Offset = row.offset;
        ov.OffsetHigh = row.offsetHigh;
        DWORD n = 0;
        const DWORD size = static_cast<DWORD>(std::strlen(row.data));
        EXPECT_EQ(outcomeOf([&] { return WriteFile(h_, row.data, size, &n, &ov); }), row.expected);
        EXPECT_EQ(n, size);
        EXPECT_EQ(readFile(file_), row.content);
        EXPECT_EQ(position(), row.pointer);
    }
}

// Through the object every handle is write-through, and its flush does not reach the system.
TEST_F(IoTest, FlushNeedsWriteAccess) {
    struct Row {
        const char* name;
        DWORD access, flags;
        Outcome bare;
    };
    const Row rows[] = {
        {"read and write", GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, kOk},
        {"write-through", GENERIC_WRITE, FILE_FLAG_WRITE_THROUGH, kOk},
        {"read only", GENERIC_READ, FILE_ATTRIBUTE_NORMAL, failsWith(ERROR_ACCESS_DENIED)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandleCloser h;
        ASSERT_EQ(openInto(h, file_, row.access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, row.flags), kOk);
        DWORD n = 0;
        EXPECT_EQ(WriteFile(h.h, "b", 1, &n, nullptr) != 0, (row.access & GENERIC_WRITE) != 0);
        EXPECT_EQ(outcomeOf([&] { return FlushFileBuffers(h.h); }),
                  differs(Difference::FlushOnWriteThrough, row.bare, failsWith(kPoison)));
    }
    EXPECT_EQ(readFile(file_), "b" + std::string(99, 'a'));
}

// Byte-range locks: each scenario is a sequence of steps on two handles of the same file.
TEST_F(IoTest, LockFileExFollowsWin32Rules) {
    enum Op { Lock, Unlock, Close };
    constexpr DWORD X = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, S = LOCKFILE_FAIL_IMMEDIATELY;
    struct Step {
        int handle;  // 1 or 2
        Op op;
        DWORD offset, length, flags;
        Outcome expected;
        DWORD offsetHigh = 0;
    };
    // Wine answers an unlock of a range not locked with 33; Windows with 158.
    const Outcome violation = failsWith(ERROR_LOCK_VIOLATION),
                  notLocked = failsWith(underWine() ? ERROR_LOCK_VIOLATION : ERROR_NOT_LOCKED);
    struct Scenario {
        const char* name;
        std::vector<Step> steps;
    };
    const Scenario scenarios[] = {
        {"an exclusive lock keeps other handles out of its range only",
         {{1, Lock, 0, 10, X, kOk},
          {2, Lock, 5, 1, S, violation},
          {2, Lock, 9, 10, X, violation},
          {2, Lock, 10, 5, X, kOk},
          {1, Unlock, 0, 10, 0, kOk},
          {2, Lock, 5, 1, S, kOk}}},
        {"shared locks coexist and keep exclusive ones out",
         {{1, Lock, 0, 10, S, kOk},
          {2, Lock, 0, 10, S, kOk},
          {2, Lock, 0, 1, X, violation},
          {1, Lock, 5, 10, X, violation},
          {1, Lock, 20, 5, X, kOk}}},
        {"an exclusive lock may not overlap the same handle's lock",
         {{1, Lock, 0, 10, X, kOk}, {1, Lock, 5, 10, X, violation}, {1, Lock, 10, 10, X, kOk}}},
        {"unlocking needs the exact range",
         {{1, Lock, 0, 10, X, kOk},
          {1, Unlock, 0, 5, 0, notLocked},
          {1, Unlock, 0, 20, 0, notLocked},
          {2, Unlock, 0, 10, 0, notLocked},
          {1, Unlock, 0, 10, 0, kOk},
          {1, Unlock, 0, 10, 0, notLocked}}},
        {"stacked shared locks need as many unlocks",
         {{1, Lock, 0, 10, S, kOk},
          {1, Lock, 0, 10, S, kOk},
          {1, Unlock, 0, 10, 0, kOk},
          {2, Lock, 0, 10, X, violation},
          {1, Unlock, 0, 10, 0, kOk},
          {2, Lock, 0, 10, X, kOk}}},
        {"locks go with their handle", {{1, Lock, 0, 10, X, kOk}, {1, Close, 0, 0, 0, kOk}, {2, Lock, 0, 10, X, kOk}}},
        {"ranges past the end of the file lock too",
         {{1, Lock, 1000000, 10, X, kOk}, {2, Lock, 1000005, 1, S, violation}}},
        {"a range at 2^63 locks and keeps other handles out",
         {{1, Lock, 0, 1, X, kOk, 0x80000000u},
          {2, Lock, 0, 1, S, violation, 0x80000000u},
          {2, Lock, 0, 1, X, kOk},
          {1, Unlock, 0, 1, 0, kOk, 0x80000000u},
          {2, Lock, 0, 1, S, kOk, 0x80000000u}}},
        {"shared locks at the top of the range coexist",
         {{1, Lock, 0xFFFFFFF0u, 4, S, kOk, 0xFFFFFFFFu}, {2, Lock, 0xFFFFFFF0u, 4, S, kOk, 0xFFFFFFFFu}}},
    };
    for (const Scenario& sc : scenarios) {
        SCOPED_TRACE(sc.name);
        HandleCloser handles[3];
        ASSERT_EQ(openInto(handles[1], file_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), kOk);
        ASSERT_EQ(openInto(handles[2], file_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), kOk);
        int index = 0;
        for (const Step& step : sc.steps) {
            SCOPED_TRACE("step " + std::to_string(index++));
            OVERLAPPED ov{};
            ov.Offset = step.offset;
            ov.OffsetHigh = step.offsetHigh;
            HANDLE h = handles[step.handle].h;
            Outcome got{};
            switch (step.op) {
                case Lock:
                    got = outcomeOf([&] { return LockFileEx(h, step.flags, 0, step.length, 0, &ov); });
                    break;
                case Unlock:
                    got = outcomeOf([&] { return UnlockFileEx(h, 0, step.length, 0, &ov); });
                    break;
                case Close:
                    got = outcomeOf([&] { return handles[step.handle].close(); });
                    break;
            }
            EXPECT_EQ(got, step.expected);
        }
    }
}

// Locking needs a handle that may read or write the file (Wine: WineDifference::LockWithoutAccess).
TEST_F(IoTest, LockFileExNeedsReadOrWriteAccess) {
    struct Row {
        const char* name;
        DWORD access;
        Outcome expected;
        Outcome wine;
    };
    const Row rows[] = {
        {"no access", 0, failsWith(ERROR_ACCESS_DENIED), kOk},
        {"attributes only", FILE_READ_ATTRIBUTES, failsWith(ERROR_ACCESS_DENIED), kOk},
        {"read", GENERIC_READ, kOk, kOk},
        {"write", GENERIC_WRITE, kOk, kOk},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandleCloser h;
        ASSERT_EQ(openInto(h, file_, row.access, FILE_SHARE_READ | FILE_SHARE_WRITE), kOk);
        OVERLAPPED ov{};
        ov.Offset = 4096;
        EXPECT_EQ(outcomeOf([&] { return LockFileEx(h.h, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov); }),
                  wineOr(WineDifference::LockWithoutAccess, row.expected, row.wine));
    }
}

// Windows refuses I/O inside a range another handle locked, and writes inside a shared lock even
// to the holder.
TEST_F(IoTest, LockedRangesRefuseReadsAndWrites) {
    if (underWine()) {
        GTEST_SKIP() << "Wine does not check byte-range locks on ReadFile/WriteFile; Windows does";
    }
    HandleCloser closer{openFile(file_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    const HANDLE other = closer.h;
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    struct Row {
        const char* name;
        DWORD lockFlags;
        HANDLE io;
        bool write;
        DWORD offset;
        Outcome expected;
    };
    const Outcome violation = failsWith(ERROR_LOCK_VIOLATION);
    const DWORD X = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, S = LOCKFILE_FAIL_IMMEDIATELY;
    const Row rows[] = {
        {"read by another handle inside an exclusive lock", X, other, false, 5, violation},
        {"write by another handle inside an exclusive lock", X, other, true, 5, violation},
        {"read by another handle after an exclusive lock", X, other, false, 10, kOk},
        {"read by the holder of an exclusive lock", X, h_, false, 0, kOk},
        {"write by the holder of an exclusive lock", X, h_, true, 0, kOk},
        {"read by another handle inside a shared lock", S, other, false, 0, kOk},
        {"write by another handle inside a shared lock", S, other, true, 9, violation},
        {"write by the holder of a shared lock", S, h_, true, 0, violation},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OVERLAPPED range{};
        ASSERT_TRUE(LockFileEx(h_, row.lockFlags, 0, 10, 0, &range));
        char buf[4] = {'w', 'w', 'w', 'w'};
        DWORD n = 0;
        OVERLAPPED at{};
        at.Offset = row.offset;
        auto io = [&](OVERLAPPED* ov) {
            return outcomeOf([&] {
                return row.write ? WriteFile(row.io, buf, sizeof buf, &n, ov)
                                 : ReadFile(row.io, buf, sizeof buf, &n, ov);
            });
        };
        EXPECT_EQ(io(&at), row.expected);
        // The same through the file pointer.
        ASSERT_EQ(SetFilePointer(row.io, static_cast<LONG>(row.offset), nullptr, FILE_BEGIN), row.offset);
        EXPECT_EQ(io(nullptr), row.expected);
        ASSERT_TRUE(UnlockFileEx(h_, 0, 10, 0, &range));
    }
}

}  // namespace
