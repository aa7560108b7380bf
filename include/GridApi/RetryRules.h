#pragma once

// The retry rules: one class per Win32 error code that network shares produce and that is worth
// waiting out. Each reads its count and wait from the global settings when it is constructed.

#include <GridApi/FileOperationRetry.h>

#define GRIDAPI_UNBOUNDED 0xFFFFFFFFu

// X(namespace, class, error code, default count, default wait (s), max count, max wait (s), count
// key, wait key, description): every rule, in the order the full handler registers them (the order
// in which their settings are read and their bounding is logged).
#define GRIDAPI_RETRY_RULES(X)                                                                                        \
    X(StravoStorageApi, FileSharingViolationRetry, ERROR_SHARING_VIOLATION, 16, 5, GRIDAPI_UNBOUNDED,                 \
      GRIDAPI_UNBOUNDED, "NumRetriesOnSharingViolation", "SharingViolationWaitSeconds", "Sharing Violation")          \
    X(StravoStorageApi, FileAccessDeniedRetry, ERROR_ACCESS_DENIED, 5, 10, 5, 20, "NumRetriesOnAccessDenied",         \
      "AccessDeniedWaitSeconds", "Access Denied")                                                                     \
    X(StravoStorageApi, FileAlreadyExistsRetry, ERROR_ALREADY_EXISTS, 3, 3, 100, 60, "NumRetriesOnFileAlreadyExists", \
      "FileAlreadyExistsWaitSeconds", "File Already Exists")                                                          \
    X(StravoStorageApi, DirectoryNotEmptyRetry, ERROR_DIR_NOT_EMPTY, 3, 3, 100, 60, "NumRetriesOnDirectoryNotEmpty",  \
      "DirectoryNotEmptyWaitSeconds", "Directory Not Empty")                                                          \
    X(GridApi, FileSemTimeoutRetry, ERROR_SEM_TIMEOUT, 2, 1, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,                    \
      "NumRetriesOnSemTimeout", "SemTimeoutWaitSeconds", "Semaphore Timeout")                                         \
    X(StravoStorageApi, FileBadNetPathRetry, ERROR_BAD_NETPATH, 16, 5, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,          \
      "NumRetriesOnBadNetPath", "BadNetPathWaitSeconds", "The network path was not found")                            \
    X(GridApi, FileNetNameDelRetry, ERROR_NETNAME_DELETED, 16, 5, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,               \
      "NumRetriesNetNameDel", "NetNameDelWaitSeconds", "The specified network name is no longer available")           \
    X(GridApi, FilePathNotFoundRetry, ERROR_PATH_NOT_FOUND, 16, 5, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,              \
      "NumRetriesOnPathNotFound", "PathNotFoundWaitSeconds", "The system cannot find the path specified")             \
    X(GridApi, FileFileNotFoundRetry, ERROR_FILE_NOT_FOUND, 16, 5, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,              \
      "NumRetriesOnFileNotFound", "FileNotFoundWaitSeconds", "The system cannot find the file specified")             \
    X(GridApi, FileUnexpectedNetErrorRetry, ERROR_UNEXP_NET_ERR, 10, 10, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,        \
      "NumRetriesOnUnexpectedNetError", "UnexpectedNetErrorWaitSeconds", "An unexpected network error occurred")      \
    X(GridApi, FileInvalidNameRetry, ERROR_INVALID_NAME, 16, 5, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,                 \
      "NumRetriesOnInvalidName", "InvalidNameWaitSeconds",                                                            \
      "The filename, directory name, or volume label syntax is incorrect")                                            \
    X(GridApi, FileRemNotListRetry, ERROR_REM_NOT_LIST, 16, 5, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,                  \
      "NumRetriesOnRemNotList", "RemNotListWaitSeconds",                                                              \
      "Windows cannot find the network path. Verify that the network path is correct and the destination "            \
      "computer is not busy or turned off. If Windows still cannot find the network path, contact your network "      \
      "administrator.")                                                                                               \
    X(GridApi, FileInvalidHandleRetry, ERROR_INVALID_HANDLE, 16, 5, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,             \
      "NumRetriesOnInvalidHandle", "InvalidHandleWaitSeconds", "The handle is invalid")                               \
    X(StravoStorageApi, FileBadNetNameRetry, ERROR_BAD_NET_NAME, 16, 5, GRIDAPI_UNBOUNDED, GRIDAPI_UNBOUNDED,         \
      "NumRetriesOnBadNetName", "BadNetNameWaitSeconds", "The network name cannot be found")

#define GRIDAPI_DECLARE_RETRY_RULE(Namespace, Name, ...)                   \
    namespace Namespace {                                                  \
    class GRIDAPI_API Name : public StravoStorageApi::FileOperationRetry { \
      public:                                                              \
        explicit Name(const std::string& operationName);                   \
    };                                                                     \
    }
GRIDAPI_RETRY_RULES(GRIDAPI_DECLARE_RETRY_RULE)
#undef GRIDAPI_DECLARE_RETRY_RULE
