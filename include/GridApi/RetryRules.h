#pragma once

// The retry rules: one class per Win32 error code that network shares produce and that is worth
// waiting out. Each reads its count and wait from the global settings when it is constructed.

#include <GridApi/FileOperationRetry.h>

#define GRIDAPI_DECLARE_RETRY_RULE(Name)                                   \
    class GRIDAPI_API Name : public StravoStorageApi::FileOperationRetry { \
      public:                                                              \
        explicit Name(const std::string& operationName);                   \
    }

namespace StravoStorageApi {
GRIDAPI_DECLARE_RETRY_RULE(FileSharingViolationRetry);  // 32
GRIDAPI_DECLARE_RETRY_RULE(FileAccessDeniedRetry);      // 5
GRIDAPI_DECLARE_RETRY_RULE(FileAlreadyExistsRetry);     // 183
GRIDAPI_DECLARE_RETRY_RULE(DirectoryNotEmptyRetry);     // 145
GRIDAPI_DECLARE_RETRY_RULE(FileBadNetPathRetry);        // 53
GRIDAPI_DECLARE_RETRY_RULE(FileBadNetNameRetry);        // 67
}  // namespace StravoStorageApi

namespace GridApi {
GRIDAPI_DECLARE_RETRY_RULE(FileSemTimeoutRetry);          // 121
GRIDAPI_DECLARE_RETRY_RULE(FileNetNameDelRetry);          // 64
GRIDAPI_DECLARE_RETRY_RULE(FilePathNotFoundRetry);        // 3
GRIDAPI_DECLARE_RETRY_RULE(FileFileNotFoundRetry);        // 2
GRIDAPI_DECLARE_RETRY_RULE(FileUnexpectedNetErrorRetry);  // 59
GRIDAPI_DECLARE_RETRY_RULE(FileInvalidNameRetry);         // 123
GRIDAPI_DECLARE_RETRY_RULE(FileRemNotListRetry);          // 51
GRIDAPI_DECLARE_RETRY_RULE(FileInvalidHandleRetry);       // 6
}  // namespace GridApi

#undef GRIDAPI_DECLARE_RETRY_RULE
