// ReadFile / WriteFile, the file pointer, sizes, SetEndOfFile and byte-range locks.
#include <gtest/gtest.h>

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
        {"before the beginning", -1, FILE_BEGIN, failsWith(ERROR_NEGATIVE_SEEK), 50},
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
        EXPECT_EQ(outcomeOf([&] { return SetFilePointer(h_, 1, nullptr, FILE_CURRENT) != INVALID_SET_FILE_POINTER; }),
                  failsWith(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(position(), 0xFFFFFFFFLL);
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

// An OVERLAPPED whose two halves are 0xFFFFFFFF writes at the end of the file, and the file pointer
// follows what was written.
TEST_F(IoTest, WriteAtOffsetAllOnesAppends) {
    OVERLAPPED ov{};
    ov.Offset = ov.OffsetHigh = 0xFFFFFFFFu;
    DWORD n = 0;
    EXPECT_EQ(outcomeOf([&] { return WriteFile(h_, "end", 3, &n, &ov); }), kOk);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(readFile(file_), std::string(100, 'a') + "end");
    EXPECT_EQ(position(), 103);
}

// What a handle may do follows the access it was opened with. Through the object every handle is
// write-through, and its flush does not reach the system.
TEST_F(IoTest, AccessMaskLimitsWhatTheHandleMayDo) {
    using Op = BOOL (*)(HANDLE);
    const Op reading = [](HANDLE h) {
        char buf[4];
        DWORD n = 0;
        return ReadFile(h, buf, sizeof buf, &n, nullptr);
    };
    const Op writing = [](HANDLE h) {
        DWORD n = 0;
        return WriteFile(h, "b", 1, &n, nullptr);
    };
    const Op truncating = [](HANDLE h) { return SetEndOfFile(h); };
    const Op flushing = [](HANDLE h) { return FlushFileBuffers(h); };
    const Op locking = [](HANDLE h) {
        OVERLAPPED ov{};
        ov.Offset = 4096;
        return LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov);
    };
    constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, normal = FILE_ATTRIBUTE_NORMAL;
    const Outcome denied = failsWith(ERROR_ACCESS_DENIED), untouched = failsWith(kPoison);
    struct Row {
        const char* name;
        DWORD access, flags;
        Op op;
        Outcome expected;
    };
    const Row rows[] = {
        {"read, reading", R, normal, reading, kOk},
        {"read, writing", R, normal, writing, denied},
        // Wine lets ftruncate() fail on the read-only descriptor (87); Windows checks the access (5).
        {"read, truncating", R, normal, truncating, underWine() ? failsWith(ERROR_INVALID_PARAMETER) : denied},
        {"write, reading", W, normal, reading, denied},
        {"write, writing", W, normal, writing, kOk},
        {"read and write, flushing", R | W, normal, flushing, differs(Difference::FlushOnWriteThrough, kOk, untouched)},
        {"read, flushing", R, normal, flushing, differs(Difference::FlushOnWriteThrough, denied, untouched)},
        // Locking needs read or write access (Wine: WineDifference::LockWithoutAccess).
        {"no access, locking", 0, normal, locking, wineOr(WineDifference::LockWithoutAccess, denied, kOk)},
        {"write, locking", W, normal, locking, kOk},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandleCloser h;
        ASSERT_EQ(openInto(h, file_, row.access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, row.flags), kOk);
        EXPECT_EQ(outcomeOf([&] { return row.op(h.h); }), row.expected);
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
         {{1, Lock, 0, 10, X, kOk}, {2, Lock, 9, 10, S, violation}, {2, Lock, 10, 5, X, kOk}}},
        {"shared locks coexist, stack, and keep exclusive ones out, even of the same handle",
         {{1, Lock, 0, 10, S, kOk},
          {2, Lock, 0, 10, S, kOk},
          {2, Lock, 0, 1, X, violation},
          {1, Lock, 0, 10, S, kOk},
          {2, Unlock, 0, 10, 0, kOk},
          {1, Unlock, 0, 10, 0, kOk},
          {2, Lock, 0, 10, X, violation},
          {1, Lock, 5, 10, X, violation}}},
        {"unlocking needs the exact range of the same handle",
         {{1, Lock, 0, 10, X, kOk}, {1, Unlock, 0, 5, 0, notLocked}, {2, Unlock, 0, 10, 0, notLocked}}},
        {"locks go with their handle", {{1, Lock, 0, 10, X, kOk}, {1, Close, 0, 0, 0, kOk}, {2, Lock, 0, 10, X, kOk}}},
        {"a range at 2^63 locks and keeps other handles out",
         {{1, Lock, 0, 1, X, kOk, 0x80000000u}, {2, Lock, 0, 1, S, violation, 0x80000000u}, {2, Lock, 0, 1, X, kOk}}},
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
