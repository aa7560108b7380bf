// What the object's caller sees when the share loses the answer of a call that did its work: the
// library repeats (or the caller repeats) an operation that has already happened, and the repeat
// meets the result of the first. One row per operation.

#include <functional>
#include <ostream>
#include <string>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <GridApi/GridFileServices.h>
#include <GridApi/SystemCalls.h>

#include "HostFixture.h"

namespace {

typedef boost::shared_ptr<StravoStorageApi::FileServicesIf> Services;

// A success whose last error Win32 leaves unspecified (the two builds differ there): not checked.
const DWORD unspecified = 0xFFFFFFFF;

// The fault's call ("" for none: the operation is made twice in a row, as a retry after a lost
// answer makes it, where the platform call is not reached through the table), the operation, and
// what the caller sees: result, last error, granted retries, and whether the target exists after.
struct Row {
    const char* name;
    const char* faultedCall;
    bool fileBefore;
    std::function<BOOL(Services&, const std::string&)> operation;
    BOOL result;
    DWORD lastError;
    int retries;
    bool fileAfter;
};

BOOL openWith(Services& s, const std::string& file, DWORD disposition) {
    FileServicesHandle h = s->CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                                          FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
    if (static_cast<void*>(h) == INVALID_HANDLE_VALUE) return FALSE;
    const DWORD error = GetLastError();
    s->CloseHandle(h);
    SetLastError(error);
    return TRUE;
}

const Row rows[] = {
    {"DeleteFileA: the repeat meets 2, retried until the rule runs out", "DeleteFileA", true,
     [](Services& s, const std::string& f) { return s->DeleteFileA(f.c_str()); }, FALSE, ERROR_FILE_NOT_FOUND, 16,
     false},
    {"CreateFileA CREATE_NEW: the repeat meets 80, which has no rule", "CreateFileA", false,
     [](Services& s, const std::string& f) { return openWith(s, f, CREATE_NEW); }, FALSE, ERROR_FILE_EXISTS, 1, true},
    {"CreateFileA CREATE_ALWAYS: a handle, with 183 as if the file had been there", "CreateFileA", false,
     [](Services& s, const std::string& f) { return openWith(s, f, CREATE_ALWAYS); }, TRUE, ERROR_ALREADY_EXISTS, 1,
     true},
    {"CreateFileA OPEN_ALWAYS: a handle, with 183 as if the file had been there", "CreateFileA", false,
     [](Services& s, const std::string& f) { return openWith(s, f, OPEN_ALWAYS); }, TRUE, ERROR_ALREADY_EXISTS, 1,
     true},
    {"CreateDirectoryA: the repeat meets 183, which is success", "CreateDirectoryA", false,
     [](Services& s, const std::string& f) { return s->CreateDirectoryA(f.c_str(), nullptr); }, TRUE,
     ERROR_ALREADY_EXISTS, 1, true},
    {"CopyFileA failing if the target exists: the repeat meets 80", "CopyFileA", false,
     [](Services& s, const std::string& f) { return s->CopyFileA((f + ".src").c_str(), f.c_str(), TRUE); }, FALSE,
     ERROR_FILE_EXISTS, 1, true},
    {"CopyFileA overwriting: the repeat copies again", "CopyFileA", false,
     [](Services& s, const std::string& f) { return s->CopyFileA((f + ".src").c_str(), f.c_str(), FALSE); }, TRUE,
     unspecified, 1, true},
    {"RemoveDirectoryA (empty directory): the repeat meets 2, retried until the rule runs out", "RemoveDirectoryA",
     false,
     [](Services& s, const std::string& f) {
         s->CreateDirectoryA(f.c_str(), nullptr);
         return s->RemoveDirectoryA(f.c_str(), 0);
     },
     FALSE, ERROR_FILE_NOT_FOUND, 16, false},
    {"RemoveDirectoryA (tree): the repeat finds nothing, which counts as removed", "RemoveDirectoryTreeA", false,
     [](Services& s, const std::string& f) {
         s->CreateDirectoryA(f.c_str(), nullptr);
         return s->RemoveDirectoryA(f.c_str(), 1);
     },
     TRUE, unspecified, 1, false},
    {"CloseHandle (one attempt): FALSE with 64, and the caller's repeat meets 6", "CloseHandle", true,
     [](Services& s, const std::string& f) {
         FileServicesHandle h =
             s->CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, FileServicesHandle());
         if (s->CloseHandle(h) || GetLastError() != ERROR_NETNAME_DELETED) return TRUE;
         return s->CloseHandle(h);
     },
     FALSE, ERROR_INVALID_HANDLE, 0, true},
    {"SetFilePointerEx (one attempt): FALSE with 64, yet the pointer has moved", "SetFilePointerEx", true,
     [](Services& s, const std::string& f) {
         FileServicesHandle h =
             s->CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, FileServicesHandle());
         LARGE_INTEGER move;
         move.QuadPart = 10;
         LARGE_INTEGER now;
         const BOOL moved = s->SetFilePointerEx(h, move, &now, FILE_CURRENT);
         move.QuadPart = 0;
         const BOOL at10 = !moved && s->SetFilePointerEx(h, move, &now, FILE_CURRENT) && now.QuadPart == 10;
         s->CloseHandle(h);
         return at10;
     },
     TRUE, ERROR_NETNAME_DELETED, 0, true},
    {"LockFileEx (one attempt): FALSE with 64 on a lock now held; the caller's repeat meets 33", "LockFileEx", true,
     [](Services& s, const std::string& f) {
         FileServicesHandle h = s->CreateFileA(f.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                               FileServicesHandle());
         OVERLAPPED at = {};
         const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
         BOOL locked = s->LockFileEx(h, flags, 0, 1, 0, &at);
         if (!locked) locked = s->LockFileEx(h, flags, 0, 1, 0, &at);
         const DWORD error = GetLastError();
         s->UnlockFileEx(h, 0, 1, 0, &at);
         s->CloseHandle(h);
         SetLastError(error);
         return locked;
     },
     FALSE, ERROR_LOCK_VIOLATION, 0, true},
    {"MoveFileA: the repeat meets 2 (the source is gone), retried until the rule runs out", "", false,
     [](Services& s, const std::string& f) {
         s->MoveFileA((f + ".src").c_str(), f.c_str(), 0);
         return s->MoveFileA((f + ".src").c_str(), f.c_str(), 0);
     },
     FALSE, ERROR_FILE_NOT_FOUND, 16, true},
};

// The row's operation (its name up to the colon), for the test's name.
void PrintTo(const Row& row, std::ostream* out) {
    const std::string name = row.name;
    *out << name.substr(0, name.find(':'));
}

class LostAnswerTest : public gridtest::HostShareTest, public ::testing::WithParamInterface<Row> {};

TEST_P(LostAnswerTest, TheCallerSeesWhatTheRepeatMeets) {
    const Row& row = GetParam();
    Services services(createFileServices());
    int retries = 0;
    services->setRetryWaiter([&retries](const StravoStorageApi::RetryStep& step) {
        const bool again = step();
        retries += again ? 1 : 0;
        return again;
    });
    const std::string file = path("target");
    // A source for the copy and the move.
    ASSERT_TRUE(openWith(services, file + ".src", CREATE_NEW));
    if (row.fileBefore) {
        ASSERT_TRUE(openWith(services, file, CREATE_NEW));
    }
    if (*row.faultedCall) {
        GridApi::Fault fault;
        fault.call = row.faultedCall;
        fault.error = ERROR_NETNAME_DELETED;
        fault.count = 1;
        fault.mode = GridApi::FaultMode::lostAnswer;
        ASSERT_TRUE(GridApi::FaultInjector::add(fault));
    }

    SetLastError(ERROR_SUCCESS);
    const BOOL result = row.operation(services, file);
    const DWORD error = GetLastError();
    GridApi::FaultInjector::clear();
    EXPECT_EQ(row.result, result);
    if (row.lastError != unspecified) {
        EXPECT_EQ(row.lastError, error);
    }
    EXPECT_EQ(row.retries, retries);
    EXPECT_EQ(row.fileAfter, GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES);
    if (*row.faultedCall) {
        EXPECT_EQ(1u, GridApi::FaultInjector::injected(row.faultedCall));
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, LostAnswerTest, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::to_string(info.index); });

class LostAnswerModeTest : public gridtest::HostShareTest {};

// The platform call through the table: the write is on the file, the caller sees the failure, no
// count, and the error drawn from the list.
TEST_F(LostAnswerModeTest, AWriteIsMadeAndReportedAsFailedWithoutACount) {
    const std::string file = path("lost.bin");
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    GridApi::Fault fault;
    fault.call = "WriteFile";
    fault.errors = {ERROR_SEM_TIMEOUT};
    fault.mode = GridApi::FaultMode::lostAnswer;
    ASSERT_TRUE(GridApi::FaultInjector::add(fault));
    DWORD done = 99;
    EXPECT_EQ(FALSE, GridApi::systemCalls().WriteFile(h, "abc", 3, &done, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SEM_TIMEOUT), GetLastError());
    EXPECT_EQ(0u, done);
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(3, size.QuadPart);
    CloseHandle(h);
}

}  // namespace
