// The fault matrix: every retrying command under every Win32 error that has a rule in its handler,
// and under two errors that have none. The cases come from one table of commands, crossed with the
// codes of the handler the library builds; one checker judges every case against the rule: how
// many attempts, which waits, which log lines in which order, the final report, the thread's last
// error and the command's own result. One more case per command fails its first attempt only and
// then succeeds.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/CopyMoveCommands.h>
#include <GridApi/CreateFileA.h>
#include <GridApi/FaultInjector.h>
#include <GridApi/GridFileServices.h>
#include <GridApi/HandleCommands.h>
#include <GridApi/PathCommands.h>
#include <GridApi/PathQueries.h>
#include <GridApi/RemoveDirectoryA.h>
#include <GridApi/UncFileOperationRetryHandler.h>

#include "HostFixture.h"
#include "RuleContract.h"

namespace {

using GridApi::ErrorStatus;
using GridApi::RetryWaiter;
using gridtest::exists;
using gridtest::readFile;
using gridtest::writeFile;
using StravoStorageApi::FileOperationRetryHandler;
typedef std::unique_ptr<FileOperationRetryHandler> Handler;

const char content[] = "fault matrix";  // the test file's bytes
const DWORD contentSize = sizeof content - 1;
const char eventSource[] = "Stravo File Services";
const DWORD unruledCodes[] = {ERROR_INVALID_PARAMETER, ERROR_DISK_FULL};
const DWORD recoveryCode = ERROR_NETNAME_DELETED;

// Small counts and waits for every rule, different per code so that a mix-up of rules shows.
std::uint32_t retriesFor(DWORD code) { return 1 + code % 3; }
std::uint32_t waitFor(DWORD code) { return 1 + code % 4; }

class FaultMatrixTest;

// What a command gives back: judged by its status, by the handle it opened, or by its value.
enum class Result { status, handle, value };

struct Command {
    const char* name;       // the command, and the platform call that fails (MoveFileA: the host's verified move)
    const char* operation;  // its handler's name in the log
    // The final failure's id and text ($1: the first logged argument, $2: the second); nullptr: no
    // report but the last error.
    const char* failure;
    Result result;
    std::vector<DWORD> answers;  // codes that end the run at once as an answer, not a failure
    // Runs the command once; its logged arguments are named with arg().
    ErrorStatus (*run)(FaultMatrixTest&);
    // Whether the result shows success and the effect is there.
    bool (*succeeded)(FaultMatrixTest&, const ErrorStatus&);
    // The command's handler, built as the library builds it (nullptr: the full handler).
    Handler (*handler)() = nullptr;
};

template <class... Codes>
std::vector<DWORD> codes(Codes... c) {
    return {static_cast<DWORD>(c)...};
}

template <class H>
Handler query() {
    return Handler(new H());
}

const std::vector<Command>& commands();

class FaultMatrixTest : public gridtest::ServicesTest {
  public:
    using gridtest::TestShare::dir;
    using gridtest::TestShare::path;
    // The test directory holds the file f.txt and the empty directory d.
    std::string file, sub;
    FileServicesHandle handle;
    WIN32_FIND_DATAA found = {};
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    DWORD numbers[4] = {};
    ULARGE_INTEGER sizes[3] = {};
    char buffer[64] = {};
    DWORD transferred = 0;
    std::vector<std::string> args;

    // Names a logged argument, in the order the log shows them (the reference stays valid: SetUp
    // reserves room for more arguments than any command logs).
    const std::string& arg(const std::string& text) {
        args.push_back(text);
        return args.back();
    }
    // The test file opened through the object, for the transfers.
    // The file, opened as set-up: the last error is left as the test set it, for the command to show.
    FileServicesHandle& opened() {
        const DWORD lastError = GetLastError();
        handle = services_->CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
        SetLastError(lastError);
        arg(file);
        return handle;
    }
    // The position the handle keeps for a re-creation.
    DWORD position() const { return handle.getHandleRecreationInfo().currFilePointerLow; }
    std::string fileContent() const { return readFile(file); }

  protected:
    void SetUp() override {
        ServicesTest::SetUp();
        // Every rule gets a small count and wait through the settings, before any handler is built:
        // node-local ones, whose store is written without the database's synchronous commits.
        auto set = [](const std::string& key, std::uint32_t value) {
            StravoHostControl::setNodeLocalKey(key, true);
            StravoHostControl::setNodeLocalSetting(key, value);
        };
        for (const gridtest::RuleContract& rule : gridtest::ruleContract) {
            set(rule.retriesKey, retriesFor(rule.code));
            set(rule.waitKey, waitFor(rule.code));
        }
        set("FileRetryWaitError", 3);
        args.reserve(4);
        file = path("f.txt");
        sub = path("d");
        ASSERT_TRUE(writeFile(file, content));
        ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    }
    void TearDown() override {
        GridApi::FaultInjector::clear();
        if (handle.hasRecreationInfo()) services_->CloseHandle(handle);
        ServicesTest::TearDown();
    }
};

const std::vector<Command>& commands() {
    typedef FaultMatrixTest& W;
    typedef const ErrorStatus& R;
    static const std::vector<Command> table = {
        {"CreateDirectoryA", "CreateDirectory", "E-0003 Could not Create Directory on UNC", Result::status,
         codes(ERROR_ALREADY_EXISTS),
         [](W w) { return GridApi::CreateDirectoryA(w.arg(w.path("new")), nullptr)(RetryWaiter()); },
         [](W w, R r) { return r.status == 1 && exists(w.path("new")); }},
        {"CreateDirectoryW", "CreateDirectoryW", "E-0003 Could not Create Directory(W) on UNC", Result::status,
         codes(ERROR_ALREADY_EXISTS),
         [](W w) {
             const std::string& narrow = w.arg(w.path("wide"));
             return GridApi::CreateDirectoryW(std::wstring(narrow.begin(), narrow.end()), nullptr)(RetryWaiter());
         },
         [](W w, R r) { return r.status == 1 && exists(w.path("wide")); }},
        {"DeleteFileA", "DeleteFile", "E-0003 Could not Delete File on UNC", Result::status, codes(),
         [](W w) { return GridApi::DeleteFileA(w.arg(w.file))(RetryWaiter()); },
         [](W w, R r) { return r.status == 1 && !exists(w.file); }},
        {"FindFirstFileA", "FindFirstFile", "E-0003 Could not begin file search on UNC", Result::handle,
         codes(ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND),
         [](W w) { return GridApi::FindFirstFileA(w.arg(w.file), &w.found)(RetryWaiter()); },
         [](W w, R r) {
             return r.handle != INVALID_HANDLE_VALUE && std::string(w.found.cFileName) == "f.txt" && FindClose(r);
         }},
        {"GetDiskFreeSpaceA", "GetDiskFreeSpace", "E-0003 Could not Get Disk Free Space on UNC", Result::status,
         codes(),
         [](W w) {
             DWORD* n = w.numbers;
             return GridApi::GetDiskFreeSpaceA(w.arg(gridtest::shareRoot() + "\\"), n, n + 1, n + 2,
                                               n + 3)(RetryWaiter());
         },
         [](W w, R r) { return r.status == 1 && w.numbers[1] != 0; }},
        {"GetDiskFreeSpaceExA", "GetDiskFreeSpaceEx", "E-0003 Could not Get Disk Free Space(Ex) on UNC", Result::status,
         codes(),
         [](W w) {
             ULARGE_INTEGER* n = w.sizes;
             return GridApi::GetDiskFreeSpaceExA(w.arg(w.dir()).c_str(), n, n + 1, n + 2)(RetryWaiter());
         },
         [](W w, R r) { return r.status == 1 && w.sizes[1].QuadPart != 0; }},
        {"GetFileAttributesA", "GetFileAttributes", "E-0003 Could not Get File Attributes on UNC", Result::value,
         codes(), [](W w) { return GridApi::GetFileAttributesA(w.arg(w.sub))(RetryWaiter()); },
         [](W, R r) { return r.value != INVALID_FILE_ATTRIBUTES && (r.value & FILE_ATTRIBUTE_DIRECTORY) != 0; }},
        {"GetFileAttributesExA", "GetFileAttributesEx", "E-0003 Could not Get File Attributes(Ex) on UNC",
         Result::status, codes(),
         [](W w) {
             return GridApi::GetFileAttributesExA(w.arg(w.file).c_str(), GetFileExInfoStandard,
                                                  &w.attributes)(RetryWaiter());
         },
         [](W w, R r) { return r.status == 1 && w.attributes.nFileSizeLow == contentSize; }},
        {"SetFileAttributesA", "SetFileAttributes", "E-0003 Could not Set File Attributes on UNC", Result::status,
         codes(),
         [](W w) { return GridApi::SetFileAttributesA(w.arg(w.file), FILE_ATTRIBUTE_READONLY)(RetryWaiter()); },
         [](W w, R r) { return r.status == 1 && (GetFileAttributesA(w.file.c_str()) & FILE_ATTRIBUTE_READONLY) != 0; }},
        {"CreateFileA", "CreateFile", "E-0003 Could not Create File on UNC", Result::handle, codes(),
         [](W w) {
             return GridApi::CreateFileA(w.arg(w.file), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                         FileServicesHandle())(RetryWaiter());
         },
         [](W, R r) { return r.handle != INVALID_HANDLE_VALUE && CloseHandle(r); }},
        {"ReadFile", "ReadFile", "E-0003 Could not Read from file on UNC", Result::status, codes(),
         [](W w) {
             return GridApi::ReadFile(w.opened(), w.buffer, contentSize, &w.transferred, nullptr)(RetryWaiter());
         },
         [](W w, R r) {
             return r.status == 1 && w.transferred == contentSize && std::string(w.buffer) == content &&
                    w.position() == contentSize;
         }},
        {"WriteFile", "WriteFile", "E-0003 Could not Write to file on UNC", Result::status, codes(),
         [](W w) { return GridApi::WriteFile(w.opened(), "FAULT", 5, &w.transferred, nullptr)(RetryWaiter()); },
         [](W w, R r) {
             return r.status == 1 && w.transferred == 5 && w.position() == 5 &&
                    w.fileContent() == std::string("FAULT") + (content + 5);
         }},
        {"CopyFileA", "CopyFile", "E-0003 Could not Copy File to $2 on UNC", Result::status, codes(),
         [](W w) {
             const std::string& from = w.arg(w.file);  // the arguments in the order the log shows them
             return GridApi::CopyFileA(from, w.arg(w.path("copy.txt")), true)(RetryWaiter());
         },
         [](W w, R r) { return r.status == 1 && exists(w.path("copy.txt")) && exists(w.file); }},
        {"MoveFileA", "MoveFileEx", "E-0003 Could not Move File(Ex) to $2 on UNC", Result::status, codes(),
         [](W w) {
             const std::string& from = w.arg(w.file);
             return GridApi::MoveFileA(from, w.arg(w.path("moved.txt")), 0)(RetryWaiter());
         },
         [](W w, R r) { return r.status == 1 && exists(w.path("moved.txt")) && !exists(w.file); }},
        {"RemoveDirectoryA", "RemoveDirectory", "E-0003 Could not Remove Directory on UNC", Result::status, codes(),
         [](W w) { return GridApi::RemoveDirectoryA(w.arg(w.sub), 0)(RetryWaiter()); },
         [](W w, R r) { return r.status == 1 && !exists(w.sub); }},
        {"PathFileExistsA", "PathFileExists", nullptr, Result::status, codes(),
         [](W w) { return GridApi::PathFileExistsA(w.arg(w.file))(RetryWaiter()); },
         [](W, R r) { return r.status == 1; }, &query<GridApi::PathFileExistsRetryHandler>},
        {"PathIsDirectoryA", "PathIsDirectory", "I-0001 Path $1 is not a directory on UNC", Result::status, codes(),
         [](W w) { return GridApi::PathIsDirectoryA(w.arg(w.sub))(RetryWaiter()); },
         [](W, R r) { return r.status != 0; }, &query<GridApi::PathIsDirectoryRetryHandler>},
        {"PathIsDirectoryEmptyA", "PathIsDirectoryEmpty", "I-0001 Path $1 is not an empty directory on UNC",
         Result::status, codes(), [](W w) { return GridApi::PathIsDirectoryEmptyA(w.arg(w.sub))(RetryWaiter()); },
         [](W, R r) { return r.status == 1; }, &query<GridApi::PathIsDirectoryEmptyRetryHandler>},
    };
    return table;
}

// One case: a command, the code its platform call fails with, and whether only the first call fails.
struct Case {
    std::size_t command;
    DWORD code;
    bool recovers;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(commands()[info.param.command].name) + (info.param.recovers ? "_recovers_" : "_") +
           std::to_string(info.param.code);
}

// Every command under every code with a rule (the query handlers lack some of them), under the two
// codes without a rule, and once recovering.
std::vector<Case> allCases() {
    std::vector<DWORD> codes;
    for (const gridtest::RuleContract& rule : gridtest::ruleContract) codes.push_back(rule.code);
    codes.insert(codes.end(), std::begin(unruledCodes), std::end(unruledCodes));
    std::vector<Case> cases;
    for (std::size_t command = 0; command < commands().size(); ++command) {
        for (DWORD code : codes) cases.push_back({command, code, false});
        cases.push_back({command, recoveryCode, true});
    }
    return cases;
}

std::string replaced(std::string text, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string mark = "$" + std::to_string(i + 1);
        const std::string::size_type at = text.find(mark);
        if (at != std::string::npos) text.replace(at, mark.size(), args[i]);
    }
    return text;
}

class Matrix : public FaultMatrixTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Matrix, RunsAsTheRuleSays) {
    const Case& c = GetParam();
    const Command& command = commands()[c.command];
    const Handler handler =
        command.handler ? command.handler() : Handler(new GridApi::UncFileOperationRetryHandler(command.operation));
    // MoveFileA reaches the file system through the host's verified move, which has its own seam.
    const char* call = std::string(command.name) == "MoveFileA" ? nullptr : command.name;
    const auto rule = handler->rules.find(c.code);
    const bool answer = std::count(command.answers.begin(), command.answers.end(), c.code) != 0;
    const bool retried = !answer && rule != handler->rules.end();
    ASSERT_TRUE(!c.recovers || retried);
    std::uint32_t retries = 0, wait = 0, jitter = 1;
    std::string description;
    if (retried) {
        retries = rule->second->numRetries;
        wait = rule->second->waitSeconds;
        jitter = rule->second->waitJitterSeconds;
        ASSERT_EQ(retriesFor(c.code), retries) << "the rule did not take its count from the settings";
        const gridtest::RuleContract* contract = gridtest::contractFor(c.code);
        ASSERT_NE(nullptr, contract) << "a rule for an error the contract does not know";
        description = contract->description;
    }
    StravoHostControl::clearCapturedLogLines();

    if (call) {
        gridtest::failCalls(call, c.code, c.recovers ? 1 : 0);
    } else {
        StravoHostControl::failVerifiedMoves(c.code, c.recovers ? 1 : 0);
    }
    constexpr DWORD lastErrorBefore = 0x2A2A;  // what a call that succeeds may leave as it found it
    SetLastError(lastErrorBefore);
    const ErrorStatus result = command.run(*this);
    const DWORD lastError = GetLastError();
    const std::uint64_t attempts =
        call ? GridApi::FaultInjector::calls(call) : StravoHostControl::verifiedMoveAttempts().size();
    GridApi::FaultInjector::clear();
    StravoHostControl::failVerifiedMoves(0, 0);

    // Attempts and waits.
    EXPECT_EQ(c.recovers ? 2u : retried ? retries + 1 : 1u, attempts);
    const std::vector<int> sleeps = StravoHostControl::recordedSleeps();
    EXPECT_EQ(c.recovers ? 1u : retries, sleeps.size());
    for (int s : sleeps) {
        EXPECT_LE(wait, static_cast<std::uint32_t>(s));
        EXPECT_GE(wait + jitter - 1, static_cast<std::uint32_t>(s));
    }

    // The log, line by line, and the system event.
    const std::string op = command.operation, info = "GRIDAPI-I-0001 ";
    std::vector<std::string> expected;
    auto arguments = [&](const std::string& id) {
        for (std::size_t i = 0; i < args.size(); ++i)
            expected.push_back(id + "\tArg " + std::to_string(i + 1) + ":  " + args[i]);
    };
    if (retried) {
        expected.push_back(info + "Could not perform a file '" + op + "' operation:");
        arguments(info);
        expected.push_back(info + "Error: '" + description + "'. Retrying " + std::to_string(retries) +
                           " times, waiting " + std::to_string(wait) + " seconds between retries.");
    }
    const bool fails = !c.recovers && !answer;
    if (c.recovers) expected.push_back("GRIDAPI-T-1111 File '" + op + "' operation successfully completed.");
    if (fails && retried) {
        for (std::uint32_t i = 0; i < retries; ++i)
            expected.push_back("GRIDAPI-T-1111 The file operation '" + op +
                               "' is still pending (file is still inaccessible)...");
        expected.push_back("GRIDAPI-W-0002 Could not '" + op + "' file (All '" + description + "' retries exhausted.)");
        arguments("GRIDAPI-W-0002 ");
    }
    std::vector<std::string> events;
    if (fails && command.failure) {
        const std::string report =
            replaced(command.failure, args) + " (path '" + args.front() + "', error " + std::to_string(c.code) + ")";
        expected.push_back("GRIDAPI-" + report);
        events.push_back(report.substr(std::strlen("E-0003 ")));
    }
    EXPECT_EQ(expected, lines());
    std::vector<std::string> reported;
    for (const auto& event : StravoHostControl::capturedSystemEvents()) {
        EXPECT_EQ(eventSource, event.source);
        reported.push_back(event.text);
    }
    EXPECT_EQ(events, reported);

    // The thread's last error and the command's own result.
    if (c.recovers) {
        EXPECT_TRUE(command.succeeded(*this, result));
        // A transfer recovered on a re-created handle leaves the last error as the bare call does,
        // not what the re-creation's open (OPEN_ALWAYS on an existing file: 183) left.
        const std::string name = command.name;
        if (name == "ReadFile" || name == "WriteFile") {
            EXPECT_EQ(lastErrorBefore, lastError);
        }
        return;
    }
    EXPECT_EQ(c.code, lastError);
    EXPECT_EQ(answer ? 1 : 0, result.status);
    if (command.result == Result::handle) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, static_cast<void*>(result.handle));
    }
    if (!answer) {
        EXPECT_FALSE(command.succeeded(*this, result));
        EXPECT_EQ(c.code, result.lastError);
        EXPECT_EQ(command.result == Result::value ? INVALID_FILE_ATTRIBUTES : 0u, result.value);
    }
}

INSTANTIATE_TEST_SUITE_P(Reliability, Matrix, ::testing::ValuesIn(allCases()), caseName);

}  // namespace
