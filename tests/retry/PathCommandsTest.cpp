// The path commands and the file creation through the file-services object: which are retried and
// how they report, which answer at once, and what reaches the caller.

#include <functional>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <GridApi/GridFileServices.h>
#include <GridApi/SystemCalls.h>

#include "HostFixture.h"

namespace {

using GridApi::FaultInjector;

class PathCommandsTest : public gridtest::HostShareTest {
  protected:
    void SetUp() override {
        HostShareTest::SetUp();
        services_.reset(createFileServices());
        file_ = path("f.txt");
        HANDLE h = CreateFileA(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        CloseHandle(h);
    }
    boost::shared_ptr<StravoStorageApi::FileServicesIf> services_;
    std::string file_;

  public:
    // Out-parameters of the table's calls.
    WIN32_FIND_DATAA found_ = {};
    WIN32_FILE_ATTRIBUTE_DATA attributes_ = {};
    DWORD numbers_[4] = {};
    ULARGE_INTEGER sizes_[3] = {};
};

struct Retried {
    const char* call;       // the platform call that fails
    const char* operation;  // the retry handler's name in the log
    std::function<bool(PathCommandsTest&, StravoStorageApi::FileServicesIf&, const std::string& dir,
                       const std::string& file)>
        succeeded;
};

void PrintTo(const Retried& c, std::ostream* os) { *os << c.call; }

// Each retrying path command, its platform call failing twice with a network error and then working.
class RetriedPathCommandTest : public PathCommandsTest, public ::testing::WithParamInterface<Retried> {};

TEST_P(RetriedPathCommandTest, NetworkErrorsAreWaitedOutAndTheSuccessNamesTheOperation) {
    const Retried& c = GetParam();
    gridtest::failCalls(c.call, ERROR_NETNAME_DELETED, 2);
    EXPECT_TRUE(c.succeeded(*this, *services_, dir(), file_));
    EXPECT_EQ(3u, FaultInjector::calls(c.call));
    EXPECT_EQ(2u, StravoHostControl::recordedSleeps().size());
    const std::vector<std::string> logged = lines();
    ASSERT_EQ(5u, logged.size());
    EXPECT_EQ(std::string("GRIDAPI-I-0001 Could not perform a file '") + c.operation + "' operation:", logged[0]);
    EXPECT_EQ(std::string("GRIDAPI-T-1111 File '") + c.operation + "' operation successfully completed.", logged[4]);
    EXPECT_TRUE(StravoHostControl::capturedSystemEvents().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RetriedPathCommandTest,
    ::testing::Values(
        Retried{"CreateDirectoryA", "CreateDirectory",
                [](PathCommandsTest&, StravoStorageApi::FileServicesIf& s, const std::string& d, const std::string&) {
                    return s.CreateDirectoryA((d + "\\new").c_str(), nullptr) == TRUE;
                }},
        Retried{"CreateDirectoryW", "CreateDirectoryW",
                [](PathCommandsTest&, StravoStorageApi::FileServicesIf& s, const std::string& d, const std::string&) {
                    const std::string narrow = d + "\\wide";
                    return s.CreateDirectoryW(std::wstring(narrow.begin(), narrow.end()).c_str(), nullptr) == TRUE;
                }},
        Retried{"DeleteFileA", "DeleteFile",
                [](PathCommandsTest&, StravoStorageApi::FileServicesIf& s, const std::string&, const std::string& f) {
                    return s.DeleteFileA(f.c_str()) == TRUE;
                }},
        Retried{"FindFirstFileA", "FindFirstFile",
                [](PathCommandsTest& t, StravoStorageApi::FileServicesIf& s, const std::string&, const std::string& f) {
                    FileServicesHandle h = s.FindFirstFileA(f.c_str(), &t.found_);
                    return static_cast<void*>(h) != INVALID_HANDLE_VALUE && s.FindClose(h) == TRUE;
                }},
        Retried{"GetDiskFreeSpaceA", "GetDiskFreeSpace",
                [](PathCommandsTest& t, StravoStorageApi::FileServicesIf& s, const std::string&, const std::string&) {
                    return s.GetDiskFreeSpaceA((gridtest::shareRoot() + "\\").c_str(), &t.numbers_[0], &t.numbers_[1],
                                               &t.numbers_[2], &t.numbers_[3]) == TRUE &&
                           t.numbers_[1] != 0;
                }},
        Retried{"GetDiskFreeSpaceExA", "GetDiskFreeSpaceEx",
                [](PathCommandsTest& t, StravoStorageApi::FileServicesIf& s, const std::string& d, const std::string&) {
                    return s.GetDiskFreeSpaceExA(d.c_str(), &t.sizes_[0], &t.sizes_[1], &t.sizes_[2]) == TRUE &&
                           t.sizes_[1].QuadPart != 0;
                }},
        Retried{"GetFileAttributesA", "GetFileAttributes",
                [](PathCommandsTest&, StravoStorageApi::FileServicesIf& s, const std::string& d, const std::string&) {
                    return s.GetFileAttributesA(d.c_str()) == FILE_ATTRIBUTE_DIRECTORY;
                }},
        Retried{"GetFileAttributesExA", "GetFileAttributesEx",
                [](PathCommandsTest& t, StravoStorageApi::FileServicesIf& s, const std::string&, const std::string& f) {
                    return s.GetFileAttributesExA(f.c_str(), GetFileExInfoStandard, &t.attributes_) == TRUE &&
                           !(t.attributes_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
                }},
        Retried{"SetFileAttributesA", "SetFileAttributes",
                [](PathCommandsTest&, StravoStorageApi::FileServicesIf& s, const std::string&, const std::string& f) {
                    return s.SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY) == TRUE &&
                           (GetFileAttributesA(f.c_str()) & FILE_ATTRIBUTE_READONLY);
                }},
        Retried{"CreateFileA", "CreateFile",
                [](PathCommandsTest&, StravoStorageApi::FileServicesIf& s, const std::string&, const std::string& f) {
                    FileServicesHandle h = s.CreateFileA(f.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                         OPEN_EXISTING, 0, FileServicesHandle());
                    return static_cast<void*>(h) != INVALID_HANDLE_VALUE && h.fileName() == f &&
                           s.CloseHandle(h) == TRUE;
                }}),
    [](const ::testing::TestParamInfo<Retried>& info) { return std::string(info.param.call); });

// Single-attempt commands: one call, no wait, no line, the call's own error left behind.
TEST_F(PathCommandsTest, SingleAttemptCommandsFailOnceAndSilently) {
    char buffer[MAX_PATH];
    const std::string dirName = dir();
    FileServicesHandle file = services_->CreateFileA(file_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     OPEN_EXISTING, 0, FileServicesHandle());
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
    EXPECT_TRUE(file.hasRecreationInfo()) << "a failed close keeps the record";
    services_->CloseHandle(file);
    services_->FindClose(search);
}

// (The other answers that are no failures are shown by the scenario suite run through the object.)
TEST_F(PathCommandsTest, AnswersThatOnlyTheObjectGives) {
    // No match: the invalid handle with 2, carrying the pattern, at once and silently.
    WIN32_FIND_DATAA data;
    const std::string none = path("none*.x");
    FileServicesHandle search = services_->FindFirstFileA(none.c_str(), &data);
    EXPECT_EQ(INVALID_HANDLE_VALUE, static_cast<void*>(search));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(none, search.fileName());

    // A temporary file is made even without a buffer for its name.
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
