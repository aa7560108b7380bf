// The path commands and the file creation through the file-services object: which answer at once,
// and what reaches the caller. (How each retrying command retries and reports is the fault matrix's.)

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <GridApi/HandleCommands.h>

#include "HostFixture.h"

namespace {

using GridApi::FaultInjector;

class PathCommandsTest : public gridtest::ServicesTest {
  protected:
    void SetUp() override {
        ServicesTest::SetUp();
        file_ = path("f.txt");
        writeFile(file_);
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
    // A search's record holds its pattern, no access, and FindClose never clears it.
    EXPECT_EQ(path("*"), search.fileName());
    EXPECT_EQ(0u, search.getHandleRecreationInfo().desiredAccess);
    EXPECT_EQ(TRUE, services_->FindClose(search));
    EXPECT_EQ(path("*"), search.fileName());
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

}  // namespace
