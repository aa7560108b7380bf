// The commands through the file-services object: a run that succeeds at once or that the server's
// waiting function stops, the commands that answer at once, what a null path gets, the position a
// handle's record keeps, and the answers that only the directory removal gives. (How each retrying
// command retries and reports is the fault matrix's, a move's retries through the host's verified move
// among them. Re-creations after lost connections, at the kept position and with no byte lost, failed
// re-opens among them, are the integrity workload's: tests/integrity. A copy that may not replace its
// target, and a removal of a tree that is gone, are the lost-answer rows'; a move onto an existing or a
// protected target, and a flush on a write-through handle, the scenario suite's run through the object;
// a tree removal that stays inside its share, the attack table's.)

#include <functional>
#include <string>
#include <vector>

#include <boost/smart_ptr/bad_weak_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <GridApi/HandleCommands.h>
#include <GridApi/PathCommands.h>
#include <GridApi/SystemCalls.h>

#include "FreshProcess.h"
#include "HostFixture.h"

namespace {

using GridApi::FaultInjector;
using gridtest::exists;
using gridtest::writeFile;

class RunTest : public gridtest::ServicesTest {
  protected:
    std::string makeFile(const std::string& name) {
        EXPECT_TRUE(writeFile(path(name)));
        return path(name);
    }
};

BOOL WINAPI deleteQuietly(LPCSTR) { return TRUE; }

TEST_F(RunTest, AFirstTimeSuccessLeavesNoTrace) {
    const std::string file = makeFile("plain.txt");
    EXPECT_EQ(TRUE, services_->DeleteFileA(file.c_str()));
    EXPECT_FALSE(exists(file));

    // The run itself leaves the last error as the successful call left it.
    GridApi::setSystemCall("DeleteFileA", reinterpret_cast<void*>(&deleteQuietly));
    SetLastError(1234);
    EXPECT_EQ(TRUE, services_->DeleteFileA(file.c_str()));
    GridApi::restoreSystemCalls();
    EXPECT_EQ(1234u, GetLastError());

    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(StravoHostControl::capturedSystemEvents().empty());
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
}

TEST_F(RunTest, TheServersWaitingFunctionCanStopTheRetries) {
    const std::string file = makeFile("declined.txt");
    gridtest::failCalls("DeleteFileA", ERROR_NETNAME_DELETED, 0);
    int offered = 0;
    services_->setRetryWaiter([&offered](const StravoStorageApi::RetryStep&) {
        ++offered;
        return offered < 3;  // two immediate retries without the step, then stop
    });
    EXPECT_EQ(FALSE, services_->DeleteFileA(file.c_str()));
    EXPECT_EQ(3, offered);
    EXPECT_EQ(3u, FaultInjector::calls("DeleteFileA"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NETNAME_DELETED), GetLastError());
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
    // The steps never ran, so no retry lines: only the final failure.
    ASSERT_EQ(1u, lines().size());
    EXPECT_EQ(0u, lines()[0].find("GRIDAPI-E-0003 ")) << lines()[0];
}

// (That first callers racing build each handler once is ConcurrencyStressTest's.)
TEST_F(RunTest, AFailedHandlerConstructionIsRetriedByTheNextCall) {
    if (!gridtest::inFreshProcess()) return;
    StravoHostControl::setNodeLocalKey("NumRetriesOnSharingViolation", true);
    StravoHostControl::failNodeLocalSettings("registry unreadable");
    const std::string file = makeFile("later.txt");
    GridApi::DeleteFileA first(file);
    EXPECT_THROW(first(GridApi::RetryWaiter()), std::exception);
    EXPECT_TRUE(exists(file));

    StravoHostControl::clearSettingsFailures();
    EXPECT_EQ(TRUE, services_->DeleteFileA(file.c_str()));
    EXPECT_FALSE(exists(file));
}

class PathCommandsTest : public gridtest::ServicesTest {
  protected:
    void SetUp() override {
        ServicesTest::SetUp();
        file_ = path("f.txt");
        ASSERT_TRUE(writeFile(file_));
    }
    std::string file_;
};

// Single-attempt commands: one call, no wait, no line, the call's own error left behind.
TEST_F(PathCommandsTest, SingleAttemptCommandsFailOnceAndSilently) {
    char buffer[MAX_PATH];
    const std::string dirName = dir();
    FileServicesHandle file = services_->CreateFileA(file_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     OPEN_EXISTING, 0, FileServicesHandle());
    // Without the write-through bit a flush reaches the system.
    FileServicesHandle plain(services_, HandleRecreationInfo(), static_cast<void*>(file));
    WIN32_FIND_DATAA data;
    FileServicesHandle search = services_->FindFirstFileA(path("*").c_str(), &data);
    StravoHostControl::clearCapturedLogLines();
    struct Case {
        const char* call;
        std::function<bool()> failed;
    };
    DWORD high = 0;
    LARGE_INTEGER size;
    const Case cases[] = {
        {"GetCurrentDirectoryA", [&] { return services_->GetCurrentDirectoryA(MAX_PATH, buffer) == 0; }},
        {"SetCurrentDirectoryA", [&] { return services_->SetCurrentDirectoryA(dirName.c_str()) == FALSE; }},
        {"GetTempFileNameA", [&] { return services_->GetTempFileNameA(dirName.c_str(), "t", 0, buffer) == 0; }},
        {"FindNextFileA", [&] { return services_->FindNextFileA(search, &data) == FALSE; }},
        {"FindClose", [&] { return services_->FindClose(search) == FALSE; }},
        {"GetFileSize", [&] { return services_->GetFileSize(file, &high) == INVALID_FILE_SIZE; }},
        {"GetFileSizeEx", [&] { return services_->GetFileSizeEx(file, &size) == FALSE; }},
        {"SetEndOfFile", [&] { return services_->SetEndOfFile(file) == FALSE; }},
        {"LockFileEx", [&] { return services_->LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, nullptr) == FALSE; }},
        {"UnlockFileEx", [&] { return services_->UnlockFileEx(file, 0, 1, 0, nullptr) == FALSE; }},
        {"SetFilePointer",
         [&] { return services_->SetFilePointer(file, 1, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER; }},
        {"FlushFileBuffers", [&] { return services_->FlushFileBuffers(plain) == FALSE; }},
        {"CloseHandle", [&] { return services_->CloseHandle(file) == FALSE; }},
    };
    for (const Case& c : cases) {
        gridtest::failCalls(c.call, ERROR_NETNAME_DELETED, 0);
        SetLastError(0);
        EXPECT_TRUE(c.failed()) << c.call;
        EXPECT_EQ(static_cast<DWORD>(ERROR_NETNAME_DELETED), GetLastError()) << c.call;
        EXPECT_EQ(1u, FaultInjector::calls(c.call)) << c.call;
        FaultInjector::clear();
    }
    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
    EXPECT_TRUE(StravoHostControl::capturedSystemEvents().empty());
    EXPECT_EQ(file_, file.fileName()) << "a failed close keeps the record";
    EXPECT_EQ(TRUE, services_->CloseHandle(file));
    EXPECT_FALSE(file.hasRecreationInfo());
    EXPECT_FALSE(GridApi::recreateHandle(file)) << "a closed handle is re-created";
    EXPECT_EQ(TRUE, services_->FindClose(search));
}

// (A search that finds nothing answers at once and silently: the fault matrix's answer rows. The
// other answers that are no failures are shown by the scenario suite run through the object.)
TEST_F(PathCommandsTest, ATemporaryFileIsMadeWithoutABufferForItsName) {
    const UINT unique = services_->GetTempFileNameA(dir().c_str(), "tmp", 0, nullptr);
    ASSERT_NE(0u, unique);
    char name[MAX_PATH];
    ASSERT_EQ(unique, GetTempFileNameA(dir().c_str(), "tmp", unique, name));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(name)) << name;

    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(StravoHostControl::capturedSystemEvents().empty());
}

TEST_F(PathCommandsTest, ANullPathIsAnsweredAsTheBareCallAnswersIt) {
    struct Case {
        const char* name;
        std::function<bool()> object;
        std::function<bool()> bare;
    };
    WIN32_FILE_ATTRIBUTE_DATA data;
    const Case cases[] = {
        {"DeleteFileA", [&] { return services_->DeleteFileA(nullptr) == FALSE; }, [] { return !DeleteFileA(nullptr); }},
        {"CreateDirectoryA", [&] { return services_->CreateDirectoryA(nullptr, nullptr) == FALSE; },
         [] { return !CreateDirectoryA(nullptr, nullptr); }},
        {"GetFileAttributesA", [&] { return services_->GetFileAttributesA(nullptr) == INVALID_FILE_ATTRIBUTES; },
         [] { return GetFileAttributesA(nullptr) == INVALID_FILE_ATTRIBUTES; }},
        {"GetFileAttributesExA",
         [&] { return services_->GetFileAttributesExA(nullptr, GetFileExInfoStandard, &data) == FALSE; },
         [&] { return !GetFileAttributesExA(nullptr, GetFileExInfoStandard, &data); }},
        {"CreateFileA",
         [&] {
             return static_cast<void*>(services_->CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                                              FileServicesHandle())) == INVALID_HANDLE_VALUE;
         },
         [] {
             return CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE;
         }},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        ASSERT_TRUE(c.bare()) << c.name;
        const DWORD expected = GetLastError();
        SetLastError(0);
        EXPECT_NO_THROW(EXPECT_TRUE(c.object()) << c.name);
        EXPECT_EQ(expected, GetLastError()) << c.name;
        EXPECT_NE(0u, expected) << c.name;
    }
    EXPECT_TRUE(StravoHostControl::recordedSleeps().empty());
}

class TransferTest : public gridtest::ServicesTest {};

TEST_F(TransferTest, TheKeptPositionFollowsSeeksAsRecorded) {
    FileServicesHandle h = services_->CreateFileA(path("seek.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, 0, FileServicesHandle());
    LARGE_INTEGER distance;
    distance.QuadPart = 0x100000010LL;
    LARGE_INTEGER now;
    ASSERT_EQ(TRUE, services_->SetFilePointerEx(h, distance, &now, FILE_BEGIN));
    EXPECT_EQ(0x10, h.getHandleRecreationInfo().currFilePointerLow);
    EXPECT_EQ(1, h.getHandleRecreationInfo().currFilePointerHigh);

    // Without a pointer for the new position the file moves but the kept position stays.
    distance.QuadPart = 8;
    ASSERT_EQ(TRUE, services_->SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
    EXPECT_EQ(0x10, h.getHandleRecreationInfo().currFilePointerLow);
    LONG high = 0;
    EXPECT_EQ(8u, services_->SetFilePointer(h, 0, &high, FILE_CURRENT));

    // A null high part records 0; a failed seek records nothing.
    EXPECT_EQ(12u, services_->SetFilePointer(h, 12, nullptr, FILE_BEGIN));
    EXPECT_EQ(12, h.getHandleRecreationInfo().currFilePointerLow);
    EXPECT_EQ(0, h.getHandleRecreationInfo().currFilePointerHigh);
    EXPECT_EQ(INVALID_SET_FILE_POINTER, services_->SetFilePointer(h, -100, nullptr, FILE_BEGIN));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), GetLastError());
    EXPECT_EQ(12, h.getHandleRecreationInfo().currFilePointerLow);
    services_->CloseHandle(h);
}

// An object the factory made but nobody holds in a shared pointer cannot hand out handles that keep
// it alive: the open throws boost::bad_weak_ptr, as the interface says, and leaks nothing.
TEST_F(TransferTest, OpeningThroughAnUnsharedObjectThrowsBadWeakPtrAndLeaksNothing) {
    StravoStorageApi::FileServicesIf* unshared = createFileServices();
    const std::string file = path("unshared.bin");
    EXPECT_THROW(unshared->CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, FileServicesHandle()),
                 boost::bad_weak_ptr);
    delete unshared;
    // The opened handle was closed before the exception left: the file opens exclusively again.
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
}

class TreeCommandsTest : public gridtest::ServicesTest {};

TEST_F(TreeCommandsTest, RecursiveAndPlainRemovalOfWhatIsNotThere) {
    const std::string file = path("file.txt");
    ASSERT_TRUE(writeFile(file, "f"));
    struct Case {
        const char* name;
        std::string path;
        int recursive;
        BOOL result;
        std::size_t sleeps;
    };
    const Case cases[] = {
        {"an unreachable server counts as removed, with -1", "\\\\no-such-server\\share\\dir", -1, TRUE, 0},
        {"a file is deleted, with 2", file, 2, TRUE, 0},
        {"the plain mode retries an unreachable server", "\\\\no-such-server\\share\\dir", 0, FALSE, 2},
    };
    for (const Case& c : cases) {
        gridtest::resetHost();
        // An unknown server is 53 here and 3 under Wine: both rules get two retries.
        StravoHostControl::setDatabaseSetting("NumRetriesOnBadNetPath", 2);
        StravoHostControl::setDatabaseSetting("NumRetriesOnPathNotFound", 2);
        EXPECT_EQ(c.result, services_->RemoveDirectoryA(c.path.c_str(), c.recursive)) << c.name;
        EXPECT_EQ(c.sleeps, StravoHostControl::recordedSleeps().size()) << c.name;
        EXPECT_EQ(c.result == TRUE, lines().empty()) << c.name;
    }
    EXPECT_FALSE(exists(file));
}

}  // namespace
