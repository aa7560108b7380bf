#pragma once

// Runs the current test again, alone, in a new process of the test program: for what a process does
// once (the retry handlers built at the first call of each kind, the write-through setting read at
// the first open, GRIDAPI_WIDE_LINKS read at the first name), so that every case sees a first time
// however the program is run. At the top of such a test:
//
//     if (!gridtest::inFreshProcess()) return;
//
// In the test's own process this starts the new one (with the extra environment given), waits for
// it, fails the test if it failed, and answers false; in the new process it answers true and the
// test goes on. The new process writes its output to the test's own.

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace gridtest {

#if defined(_WIN32)
// Starts a program with the given command line (standard handles as the startup information says)
// and answers its exit code once it ends, or -1 (with a test failure) when it cannot be started.
inline int runToEnd(const std::string& program, std::string command, const STARTUPINFOA& startup) {
    STARTUPINFOA info = startup;
    info.cb = sizeof info;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &info, &process)) {
        ADD_FAILURE() << "CreateProcess " << program << ": error " << GetLastError();
        return -1;
    }
    DWORD code = 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
#endif

inline bool inFreshProcess(const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test = std::string(info->test_suite_name()) + "." + info->name();
    const char* const marker = "GRIDTEST_FRESH_PROCESS";
    const char* mine = std::getenv(marker);
    if (mine && test == mine) return true;
    const std::string filter = "--gtest_filter=" + test;
    int status = -1;
#if defined(_WIN32)
    char program[MAX_PATH];
    EXPECT_NE(0u, GetModuleFileNameA(nullptr, program, sizeof program));
    std::string command = "\"" + std::string(program) + "\" " + filter;
    SetEnvironmentVariableA(marker, test.c_str());
    for (const auto& variable : environment) SetEnvironmentVariableA(variable.first.c_str(), variable.second.c_str());
    status = runToEnd(program, command, STARTUPINFOA{});
    SetEnvironmentVariableA(marker, nullptr);
    for (const auto& variable : environment) SetEnvironmentVariableA(variable.first.c_str(), nullptr);
#else
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        setenv(marker, test.c_str(), 1);
        for (const auto& variable : environment) setenv(variable.first.c_str(), variable.second.c_str(), 1);
        execl("/proc/self/exe", "fresh-process", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_GT(child, 0) << "fork failed";
    if (child > 0 && waitpid(child, &status, 0) == child) status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
#endif
    EXPECT_EQ(0, status) << test << " failed in a process of its own (its output is above)";
    return false;
}

}  // namespace gridtest
