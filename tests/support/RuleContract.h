#pragma once

// The retry rules as the system promises them to operators and to the log's readers: every key,
// default, bound and description written out by hand, independent of the library's own list, in
// the order the full handler reads them. The rule tests and the fault matrix judge the library by it.

#include <cstdint>

#include <platform/win32.h>

namespace gridtest {

struct RuleContract {
    DWORD code;
    std::uint32_t retries, waitSeconds, maxRetries, maxWaitSeconds;
    const char* retriesKey;
    const char* waitKey;
    const char* description;
};

constexpr std::uint32_t none = 0xFFFFFFFFu;  // no bound

constexpr RuleContract ruleContract[] = {
    {32, 16, 5, none, none, "NumRetriesOnSharingViolation", "SharingViolationWaitSeconds", "Sharing Violation"},
    {5, 5, 10, 5, 20, "NumRetriesOnAccessDenied", "AccessDeniedWaitSeconds", "Access Denied"},
    {183, 3, 3, 100, 60, "NumRetriesOnFileAlreadyExists", "FileAlreadyExistsWaitSeconds", "File Already Exists"},
    {145, 3, 3, 100, 60, "NumRetriesOnDirectoryNotEmpty", "DirectoryNotEmptyWaitSeconds", "Directory Not Empty"},
    {121, 2, 1, none, none, "NumRetriesOnSemTimeout", "SemTimeoutWaitSeconds", "Semaphore Timeout"},
    {53, 16, 5, none, none, "NumRetriesOnBadNetPath", "BadNetPathWaitSeconds", "The network path was not found"},
    {64, 16, 5, none, none, "NumRetriesNetNameDel", "NetNameDelWaitSeconds",
     "The specified network name is no longer available"},
    {3, 16, 5, none, none, "NumRetriesOnPathNotFound", "PathNotFoundWaitSeconds",
     "The system cannot find the path specified"},
    {2, 16, 5, none, none, "NumRetriesOnFileNotFound", "FileNotFoundWaitSeconds",
     "The system cannot find the file specified"},
    {59, 10, 10, none, none, "NumRetriesOnUnexpectedNetError", "UnexpectedNetErrorWaitSeconds",
     "An unexpected network error occurred"},
    {123, 16, 5, none, none, "NumRetriesOnInvalidName", "InvalidNameWaitSeconds",
     "The filename, directory name, or volume label syntax is incorrect"},
    {51, 16, 5, none, none, "NumRetriesOnRemNotList", "RemNotListWaitSeconds",
     "Windows cannot find the network path. Verify that the network path is correct and the destination computer "
     "is not busy or turned off. If Windows still cannot find the network path, contact your network "
     "administrator."},
    {6, 16, 5, none, none, "NumRetriesOnInvalidHandle", "InvalidHandleWaitSeconds", "The handle is invalid"},
    {67, 16, 5, none, none, "NumRetriesOnBadNetName", "BadNetNameWaitSeconds", "The network name cannot be found"},
};

// The contract's row for `code`, or nullptr.
inline const RuleContract* contractFor(DWORD code) {
    for (const RuleContract& rule : ruleContract) {
        if (rule.code == code) return &rule;
    }
    return nullptr;
}

}  // namespace gridtest
